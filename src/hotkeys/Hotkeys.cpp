#include "hotkeys/Hotkeys.h"

#include "hotkeys/MenuTracking.h"
#include "hotkeys/SystemHotkeys.h"
#include "platform/qt/NotificationCenter.h"
#include "platform/UserDefaults.h"

#include <QCoreApplication>
#include <QPointer>
#include <QUuid>

#include <coroutine>
#include <memory>

namespace Hotkeys {

namespace {

struct StreamAction {
    QUuid id;
    Action action;
};

// Ordered lists rather than hash maps: dispatch visits names in the order they were first used,
// and copying a list for a dispatch snapshot is free until someone changes it.
using LegacyHandlers = QList<std::pair<Name, QList<Action>>>;
using StreamHandlers = QList<std::pair<Name, QList<StreamAction>>>;

struct State {
    QPointer<Platform::UserDefaults> userDefaults;
    QSet<Shortcut> registeredShortcuts;
    LegacyHandlers legacyKeyDownHandlers;
    LegacyHandlers legacyKeyUpHandlers;
    StreamHandlers streamKeyDownHandlers;
    StreamHandlers streamKeyUpHandlers;
    bool isEnabled = true;
    bool isPaused = false;
    bool isMenuOpen = false;
    bool isInitialized = false;
    Platform::NotificationCenter::TokenPtr openMenuObserver;
    Platform::NotificationCenter::TokenPtr closeMenuObserver;
    QHash<QString, std::optional<Shortcut>> decodedTexts;
    // Bumped by resetForTesting, so bookkeeping queued before a reset does not touch the new state.
    quint64 generation = 0;
};

State &state()
{
    static State s;
    return s;
}

const QString &prefix()
{
    static const QString p = QStringLiteral("Hotkeys_");
    return p;
}

// Runs `work` on a later turn of the main event loop (the main dispatch queue, asynchronously).
void later(std::function<void()> work)
{
    auto *app = QCoreApplication::instance();
    if (!app)
        return;
    const quint64 generation = state().generation;
    QMetaObject::invokeMethod(
        app,
        [generation, work = std::move(work)] {
            if (generation == state().generation)
                work();
        },
        Qt::QueuedConnection);
}

template <typename List> qsizetype indexOf(const List &list, const Name &name)
{
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (list[i].first == name)
            return i;
    }
    return -1;
}

QSet<Shortcut> shortcutsOf(const QList<Name> &names)
{
    QSet<Shortcut> shortcuts;
    for (const Name &name : names) {
        if (const auto shortcut = getShortcut(name))
            shortcuts.insert(*shortcut);
    }
    return shortcuts;
}

QSet<Shortcut> shortcutsForLegacyHandlers()
{
    QList<Name> names;
    for (const auto &[name, actions] : std::as_const(state().legacyKeyDownHandlers))
        names.append(name);
    for (const auto &[name, actions] : std::as_const(state().legacyKeyUpHandlers))
        names.append(name);
    return shortcutsOf(names);
}

QSet<Shortcut> shortcutsForStreamHandlers()
{
    QList<Name> names;
    for (const auto &[name, actions] : std::as_const(state().streamKeyDownHandlers)) {
        if (!actions.isEmpty())
            names.append(name);
    }
    for (const auto &[name, actions] : std::as_const(state().streamKeyUpHandlers)) {
        if (!actions.isEmpty())
            names.append(name);
    }
    return shortcutsOf(names);
}

void handleOnKeyDown(const Shortcut &shortcut);
void handleOnKeyUp(const Shortcut &shortcut);

void register_(const Shortcut &shortcut)
{
    if (state().registeredShortcuts.contains(shortcut))
        return;
    // Counted even when the system refused it: the refusal was printed, shows in refusal(), and
    // the registration is tried again when the hot keys come back.
    state().registeredShortcuts.insert(shortcut);
    SystemHotkeys::register_(shortcut, handleOnKeyDown, handleOnKeyUp);
}

void release(const Shortcut &shortcut)
{
    SystemHotkeys::unregister(shortcut);
    state().registeredShortcuts.remove(shortcut);
}

void userDefaultsDidChange(const Name &name)
{
    Platform::NotificationCenter::defaultCenter().post(
        shortcutByNameDidChange(), {{QStringLiteral("name"), name.rawValue()}});
}

void dispatch(const Shortcut &shortcut, const LegacyHandlers &legacy, const StreamHandlers &streams)
{
    if (state().isPaused)
        return;
    // Snapshots: an action may add or remove handlers while we go through them.
    for (const auto &[name, actions] : legacy) {
        if (getShortcut(name) != shortcut)
            continue;
        for (const Action &action : actions)
            action();
    }
    for (const auto &[name, actions] : streams) {
        if (actions.isEmpty() || getShortcut(name) != shortcut)
            continue;
        for (const StreamAction &entry : actions)
            entry.action();
    }
}

void handleOnKeyDown(const Shortcut &shortcut)
{
    const LegacyHandlers legacy = state().legacyKeyDownHandlers;
    const StreamHandlers streams = state().streamKeyDownHandlers;
    dispatch(shortcut, legacy, streams);
}

void handleOnKeyUp(const Shortcut &shortcut)
{
    const LegacyHandlers legacy = state().legacyKeyUpHandlers;
    const StreamHandlers streams = state().streamKeyUpHandlers;
    dispatch(shortcut, legacy, streams);
}

void addHandler(LegacyHandlers &handlers, const Name &name, Action action)
{
    const qsizetype index = indexOf(handlers, name);
    if (index < 0)
        handlers.append({name, {std::move(action)}});
    else
        handlers[index].second.append(std::move(action));
    if (const auto shortcut = getShortcut(name))
        register_(*shortcut);
}

void removeLegacyEntry(LegacyHandlers &handlers, const Name &name)
{
    const qsizetype index = indexOf(handlers, name);
    if (index >= 0)
        handlers.removeAt(index);
}

// One live stream of events(for:): its buffer and the generator waiting on it.
class EventStream {
public:
    explicit EventStream(const Name &name)
        : m_name(name)
        , m_id(QUuid::createUuid())
    {
    }
    EventStream(const EventStream &) = delete;
    EventStream &operator=(const EventStream &) = delete;

    ~EventStream()
    {
        // The consumer is gone: stop listening on a later turn, then release the shortcut if
        // neither an action nor another stream needs it.
        later([name = m_name, id = m_id] {
            for (StreamHandlers *handlers : {&state().streamKeyDownHandlers, &state().streamKeyUpHandlers}) {
                const qsizetype index = indexOf(*handlers, name);
                if (index < 0)
                    continue;
                auto &actions = (*handlers)[index].second;
                actions.removeIf([&](const StreamAction &entry) { return entry.id == id; });
                if (actions.isEmpty())
                    handlers->removeAt(index);
            }
            const auto shortcut = getShortcut(name);
            if (shortcut && !shortcutsForLegacyHandlers().contains(*shortcut)
                && !shortcutsForStreamHandlers().contains(*shortcut))
                release(*shortcut);
        });
    }

    const Name &name() const { return m_name; }
    const QUuid &id() const { return m_id; }

    void push(EventType event, const std::weak_ptr<EventStream> &self)
    {
        m_buffer.append(event);
        if (!m_waiter || m_resumeQueued)
            return;
        // The consumer runs on its own turn of the event loop, not inside the dispatch.
        m_resumeQueued = true;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self] {
                const auto stream = self.lock();
                if (!stream)
                    return;
                stream->m_resumeQueued = false;
                if (auto waiter = std::exchange(stream->m_waiter, {}))
                    waiter.resume();
            },
            Qt::QueuedConnection);
    }

    bool hasBuffered() const { return !m_buffer.isEmpty(); }
    EventType take() { return m_buffer.takeFirst(); }
    void setWaiter(std::coroutine_handle<> waiter) { m_waiter = waiter; }

private:
    Name m_name;
    QUuid m_id;
    QList<EventType> m_buffer;
    std::coroutine_handle<> m_waiter;
    bool m_resumeQueued = false;
};

// Suspends the generator until its stream has an event.
class NextEvent {
public:
    explicit NextEvent(EventStream &stream)
        : m_stream(stream)
    {
    }
    ~NextEvent() { m_stream.setWaiter({}); } // also when the generator is destroyed while waiting
    bool await_ready() const noexcept { return m_stream.hasBuffered(); }
    void await_suspend(std::coroutine_handle<> waiter) noexcept { m_stream.setWaiter(waiter); }
    void await_resume() const noexcept { }

private:
    EventStream &m_stream;
};

QCoro::AsyncGenerator<EventType> streamEvents(std::shared_ptr<EventStream> stream)
{
    while (true) {
        if (!stream->hasBuffered())
            co_await NextEvent(*stream);
        EventType event = stream->take();
        co_yield event;
    }
}

QCoro::AsyncGenerator<EventType> filterEvents(QCoro::AsyncGenerator<EventType> source, EventType type)
{
    QCORO_FOREACH(EventType event, source)
    {
        if (event == type)
            co_yield event;
    }
}

} // namespace

namespace {

Services &handedOver()
{
    static Services s;
    return s;
}

Platform::UserDefaults *userDefaults()
{
    return state().userDefaults;
}

} // namespace

void useServices(const Services &services)
{
    Platform::HotKeyService *old = handedOver().hotKeyService;
    handedOver() = services;
    // Guarded: a store destroyed before it is replaced reads as none.
    state().userDefaults = services.userDefaults;
    if (old != services.hotKeyService)
        SystemHotkeys::hotKeyServiceReplaced(old, services.hotKeyService);
}

const Services &services()
{
    return handedOver();
}

QString shortcutByNameDidChange()
{
    return QStringLiteral("Hotkeys_shortcutByNameDidChange");
}

QString storageKey(const Name &name)
{
    return name.storageKey();
}

std::optional<Shortcut> getShortcut(const Name &name)
{
    const auto *defaults = userDefaults();
    if (!defaults)
        return std::nullopt;
    const QVariant value = defaults->value(name.storageKey());
    // Only text can hold the JSON object; a number or Boolean read as text never is one.
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    // The value is read afresh every time; only the decoding of a text seen before is remembered
    // (it is a pure function of the text), since dispatch reads every name on every press.
    const QString text = value.toString();
    auto &decoded = state().decodedTexts;
    const auto known = decoded.constFind(text);
    if (known != decoded.cend())
        return *known;
    const std::optional<Shortcut> shortcut = Shortcut::fromJson(text.toUtf8());
    if (decoded.size() >= 256)
        decoded.clear();
    decoded.insert(text, shortcut);
    return shortcut;
}

void userDefaultsSet(const Name &name, const Shortcut &shortcut)
{
    const QString text = QString::fromUtf8(shortcut.toJson());
    if (text.isEmpty())
        return;
    if (const auto old = getShortcut(name))
        release(*old);
    register_(shortcut);
    if (auto *defaults = userDefaults())
        defaults->setValue(storageKey(name), text);
    userDefaultsDidChange(name);
}

void setShortcut(const std::optional<Shortcut> &shortcut, const Name &name)
{
    if (shortcut) {
        userDefaultsSet(name, *shortcut);
        return;
    }
    const auto old = getShortcut(name);
    if (!old)
        return;
    if (auto *defaults = userDefaults()) {
        if (name.defaultShortcut())
            defaults->setValue(storageKey(name), false);
        else
            defaults->remove(storageKey(name));
    }
    release(*old);
    userDefaultsDidChange(name);
}

void reset(const QList<Name> &names)
{
    for (const Name &name : names) {
        if (name.defaultShortcut()) {
            userDefaultsSet(name, *name.defaultShortcut());
            continue;
        }
        const auto stored = getShortcut(name);
        if (!stored)
            continue;
        if (auto *defaults = userDefaults())
            defaults->remove(storageKey(name));
        release(*stored);
        userDefaultsDidChange(name);
    }
}

void resetAll()
{
    const QSet<Name> names = allNames();
    reset(QList<Name>(names.cbegin(), names.cend()));
}

QSet<Name> allNames()
{
    QSet<Name> names;
    const auto *defaults = userDefaults();
    if (!defaults)
        return names;
    const QStringList keys = defaults->keys();
    for (const QString &key : keys) {
        if (key.startsWith(prefix()))
            names.insert(Name(key.mid(prefix().size())));
    }
    return names;
}

void onKeyDown(const Name &name, Action action)
{
    addHandler(state().legacyKeyDownHandlers, name, std::move(action));
}

void onKeyUp(const Name &name, Action action)
{
    addHandler(state().legacyKeyUpHandlers, name, std::move(action));
}

void removeHandler(const Name &name)
{
    removeLegacyEntry(state().legacyKeyDownHandlers, name);
    removeLegacyEntry(state().legacyKeyUpHandlers, name);
    const auto shortcut = getShortcut(name);
    if (shortcut && !shortcutsForStreamHandlers().contains(*shortcut))
        release(*shortcut);
}

void removeAllHandlers()
{
    const QSet<Shortcut> needed = shortcutsForStreamHandlers();
    for (const Shortcut &shortcut : shortcutsForLegacyHandlers()) {
        if (!needed.contains(shortcut))
            release(shortcut);
    }
    state().legacyKeyDownHandlers.clear();
    state().legacyKeyUpHandlers.clear();
}

QCoro::AsyncGenerator<EventType> events(const Name &name)
{
    auto stream = std::make_shared<EventStream>(name);
    const std::weak_ptr<EventStream> weak = stream;
    later([name, id = stream->id(), weak] {
        const std::pair<StreamHandlers *, EventType> sides[]
            = {{&state().streamKeyDownHandlers, EventType::keyDown},
                {&state().streamKeyUpHandlers, EventType::keyUp}};
        for (const auto &[handlers, type] : sides) {
            StreamAction entry {id, [weak, type = type] {
                                    if (const auto stream = weak.lock())
                                        stream->push(type, weak);
                                }};
            const qsizetype index = indexOf(*handlers, name);
            if (index < 0)
                handlers->append({name, {std::move(entry)}});
            else
                (*handlers)[index].second.append(std::move(entry));
        }
        if (const auto shortcut = getShortcut(name))
            register_(*shortcut);
    });
    return streamEvents(std::move(stream));
}

QCoro::AsyncGenerator<EventType> events(EventType type, const Name &name)
{
    return filterEvents(events(name), type);
}

void enable(const QList<Name> &names)
{
    for (const Name &name : names) {
        if (const auto shortcut = getShortcut(name))
            register_(*shortcut);
    }
}

void disable(const QList<Name> &names)
{
    for (const Name &name : names) {
        if (const auto shortcut = getShortcut(name))
            release(*shortcut);
    }
}

bool isEnabled(const Name &name)
{
    if (!state().isEnabled)
        return false;
    const auto shortcut = getShortcut(name);
    return shortcut && state().registeredShortcuts.contains(*shortcut);
}

std::optional<int> refusal(const Name &name)
{
    const auto shortcut = getShortcut(name);
    if (!shortcut || !state().registeredShortcuts.contains(*shortcut))
        return std::nullopt;
    const std::optional<int> status = SystemHotkeys::status(*shortcut);
    if (!status || *status == Platform::HotKeyService::noErr)
        return std::nullopt;
    return status;
}

bool isActive(const Name &name)
{
    return isEnabled(name) && !refusal(name);
}

void initialize()
{
    State &s = state();
    if (s.isInitialized)
        return;
    auto &centre = Platform::NotificationCenter::defaultCenter();
    s.openMenuObserver = centre.addObserver(menuDidBeginTrackingNotification(), [](const auto &) {
        const bool wasOpen = std::exchange(state().isMenuOpen, true);
        if (!wasOpen)
            SystemHotkeys::updateEventHandler();
    });
    s.closeMenuObserver = centre.addObserver(menuDidEndTrackingNotification(), [](const auto &) {
        const bool wasOpen = std::exchange(state().isMenuOpen, false);
        if (wasOpen)
            SystemHotkeys::updateEventHandler();
    });
    s.isInitialized = true;
}

bool isEnabled()
{
    return state().isEnabled;
}

void setEnabled(bool enabled)
{
    const bool old = std::exchange(state().isEnabled, enabled);
    if (old != enabled)
        SystemHotkeys::updateEventHandler();
}

bool isPaused()
{
    return state().isPaused;
}

void setPaused(bool paused)
{
    state().isPaused = paused;
}

bool isMenuOpen()
{
    return state().isMenuOpen;
}

void resetForTesting()
{
    State &s = state();
    const QPointer<Platform::UserDefaults> defaults = s.userDefaults;
    const quint64 generation = s.generation;
    s = State {};
    s.userDefaults = defaults;
    s.generation = generation + 1;
    SystemHotkeys::resetForTesting();
}

Name::Name(const QString &rawValue, std::optional<Shortcut> defaultShortcut)
    : m_rawValue(rawValue)
    , m_storageKey(prefix() + rawValue)
    , m_defaultShortcut(std::move(defaultShortcut))
{
    if (m_defaultShortcut) {
        auto *defaults = userDefaults();
        if (defaults && !defaults->value(m_storageKey).isValid())
            userDefaultsSet(*this, *m_defaultShortcut);
    }
    initialize();
}

std::optional<Shortcut> Name::shortcut() const
{
    return getShortcut(*this);
}

void Name::setShortcut(const std::optional<Shortcut> &shortcut) const
{
    Hotkeys::setShortcut(shortcut, *this);
}

} // namespace Hotkeys
