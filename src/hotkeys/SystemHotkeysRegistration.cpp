// Hot-key registration of SystemHotkeys: the table of registrations, the event handler, and the
// suspension while disabled or while a menu is open.

#include "hotkeys/SystemHotkeys.h"

#include "hotkeys/Hotkeys.h"
#include "hotkeys/Utilities.h"
#include "platform/KeyEvent.h"
#include "platform/qt/NotificationCenter.h"
#include "platform/Trace.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QSet>
#include <QTextStream>

#include <map>
#include <memory>

namespace Hotkeys {

namespace {

using Platform::HotKeyService;
using Kind = HotKeyService::EventKind;

struct HotKey {
    Shortcut shortcut;
    qint64 carbonHotKeyId = 0;
    // Whether the service holds a registration under the id (the hot-key reference is present);
    // false while suspended and after a refusal.
    bool carbonHotKey = false;
    // The system's last word on it: noErr, or the refusal (given at once or reported later). A
    // refused entry stays in the table, deaf, and is tried again when the hot keys come back.
    int status = HotKeyService::noErr;
    SystemHotkeys::Callback onKeyDown;
    SystemHotkeys::Callback onKeyUp;
};

struct State {
    // Ordered by id: "the first entry" of the raw-key path is the oldest registration.
    std::map<qint64, HotKey> hotKeys;
    qint64 hotKeyId = 0;
    bool eventHandler = false;
    // Created on first use, kept for the life of the application (its child).
    QPointer<RunLoopLocalEventMonitor> keyEventMonitor;
    // Keys pressed and not yet released while the monitor runs: a second press is a repeat even
    // when the toolkit does not say so (with XKB detectable auto-repeat, Qt cannot tell).
    QSet<quint16> keysDown;
};

State &state()
{
    static State s;
    return s;
}

// The system takes key code, modifiers and id as unsigned 32-bit values; a stored shortcut
// outside that range (only a hand-edited settings file can hold one) is refused like a refusal
// of the system.
int registerWithService(const Shortcut &shortcut, qint64 id)
{
    auto *service = Hotkeys::services().hotKeyService;
    if (!service)
        return HotKeyService::eventInternalErr;
    const auto fits = [](qint64 value) { return value >= 0 && value <= 0xffffffffLL; };
    if (!fits(shortcut.carbonKeyCode()) || !fits(shortcut.carbonModifiers()) || !fits(id))
        return HotKeyService::paramErr;
    return service->registerHotKey(quint32(shortcut.carbonKeyCode()), quint32(shortcut.carbonModifiers()),
        {SystemHotkeys::signature, quint32(id)});
}

void unregisterWithService(qint64 id)
{
    if (auto *service = Hotkeys::services().hotKeyService)
        service->unregisterHotKey(quint32(id));
}

void stopKeyEventMonitor()
{
    if (state().keyEventMonitor)
        state().keyEventMonitor->stop();
}

void setListening(bool listening)
{
    if (auto *service = Hotkeys::services().hotKeyService)
        service->setHandlerListening(listening);
}

void postStatusDidChange()
{
    Platform::NotificationCenter::defaultCenter().post(SystemHotkeys::statusDidChange());
}

// Records the system's answer for `hotKey`; says so when it differs from the last one.
void setStatus(HotKey &hotKey, int status)
{
    if (std::exchange(hotKey.status, status) != status)
        postStatusDidChange();
}

} // namespace

void SystemHotkeys::startKeyEventMonitor()
{
    State &s = state();
    if (!s.keyEventMonitor) {
        if (!QCoreApplication::instance())
            return;
        s.keyEventMonitor = new RunLoopLocalEventMonitor(
            eventMask(NSEventType::keyDown, NSEventType::keyUp), [](QObject *, QEvent *event) {
                const auto *translator = Hotkeys::services().keyEventTranslator;
                if (!translator || (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease))
                    return MonitorResult::passEvent;
                const auto keyEvent = translator->keyEvent(*static_cast<QKeyEvent *>(event));
                if (!keyEvent)
                    return MonitorResult::passEvent;
                return keyEventMonitorCallback(*keyEvent) ? MonitorResult::passEvent
                                                          : MonitorResult::swallowEvent;
            });
        s.keyEventMonitor->setParent(QCoreApplication::instance());
    }
    if (!s.keyEventMonitor->isInstalled())
        s.keysDown.clear();
    s.keyEventMonitor->start();
}

void SystemHotkeys::hotKeyServiceReplaced(Platform::HotKeyService *, Platform::HotKeyService *service)
{
    // Another service has not heard of our handler yet.
    state().eventHandler = false;
    // The service before may be gone already: a report of it, should one come, is ignored.
    if (service)
        service->setStatusHandler([service](Platform::HotKeyService::HotKeyId hotKeyId, int status) {
            if (Hotkeys::services().hotKeyService == service)
                handleStatusReport(hotKeyId, status);
        });
}

QString SystemHotkeys::statusDidChange()
{
    return QStringLiteral("Hotkeys_hotKeyStatusDidChange");
}

void SystemHotkeys::printRegistrationError(const Shortcut &shortcut, int status)
{
    QTextStream(stdout) << "Error registering hotkey " << shortcut.presentableDescription() << ": " << status
                        << Qt::endl;
}

void SystemHotkeys::register_(const Shortcut &shortcut, Callback onKeyDown, Callback onKeyUp)
{
    State &s = state();
    const qint64 id = ++s.hotKeyId;
    const int status = registerWithService(shortcut, id);
    s.hotKeys.insert_or_assign(id,
        HotKey {
            shortcut, id, status == HotKeyService::noErr, status, std::move(onKeyDown), std::move(onKeyUp)});
    if (status != HotKeyService::noErr) {
        printRegistrationError(shortcut, status);
        postStatusDidChange();
    }
    if (s.eventHandler) {
        // While the hot keys are suspended a new one is suspended too, so the key stays free for
        // other programs (and is not swallowed unheard) until they come back.
        if (!Hotkeys::isEnabled() || Hotkeys::isMenuOpen()) {
            if (std::exchange(s.hotKeys.at(id).carbonHotKey, false))
                unregisterWithService(id);
        }
        return;
    }
    // Installed with the first entry, refused or not, so that refused entries are tried again
    // when the switches bring the hot keys back. A failed installation is retried at the next
    // registration.
    Platform::HotKeyService *service = Hotkeys::services().hotKeyService;
    if (!service
        || service->installEventHandler(&SystemHotkeys::systemHotkeysEventHandler) != HotKeyService::noErr)
        return;
    s.eventHandler = true;
    // The new entry was just asked for: no second attempt now.
    bringInLine(false);
}

void SystemHotkeys::unregister(const Shortcut &shortcut)
{
    auto &hotKeys = state().hotKeys;
    bool refusedGone = false;
    for (auto it = hotKeys.begin(); it != hotKeys.end();) {
        if (it->second.shortcut == shortcut) {
            if (it->second.carbonHotKey)
                unregisterWithService(it->first);
            refusedGone = refusedGone || it->second.status != HotKeyService::noErr;
            it = hotKeys.erase(it);
        } else {
            ++it;
        }
    }
    if (refusedGone)
        postStatusDidChange();
}

void SystemHotkeys::softUnregisterAll()
{
    for (auto &[id, hotKey] : state().hotKeys) {
        if (hotKey.carbonHotKey)
            unregisterWithService(id);
        hotKey.carbonHotKey = false;
    }
}

void SystemHotkeys::softRegisterAll(bool retryRefused)
{
    // Over a snapshot of the ids: the status notifications may change the table.
    QList<qint64> ids;
    for (const auto &[id, hotKey] : state().hotKeys)
        ids.append(id);
    for (qint64 id : std::as_const(ids)) {
        auto &hotKeys = state().hotKeys;
        const auto it = hotKeys.find(id);
        if (it == hotKeys.end())
            continue;
        HotKey &hotKey = it->second;
        const bool refused = hotKey.status != HotKeyService::noErr;
        if ((hotKey.carbonHotKey && !refused) || (refused && !retryRefused))
            continue;
        // One the system took away after accepting it is still held under its id.
        if (std::exchange(hotKey.carbonHotKey, false))
            unregisterWithService(id);
        const int status = registerWithService(hotKey.shortcut, id);
        hotKey.carbonHotKey = status == HotKeyService::noErr;
        if (status != HotKeyService::noErr)
            printRegistrationError(hotKey.shortcut, status);
        setStatus(hotKey, status);
    }
}

void SystemHotkeys::updateEventHandler()
{
    bringInLine(true);
}

void SystemHotkeys::bringInLine(bool retryRefused)
{
    State &s = state();
    if (!s.eventHandler)
        return;
    if (Hotkeys::isEnabled() && !Hotkeys::isMenuOpen()) {
        softRegisterAll(retryRefused);
        stopKeyEventMonitor();
        setListening(true);
    } else if (Hotkeys::isEnabled()) {
        softUnregisterAll();
        setListening(false);
        SystemHotkeys::startKeyEventMonitor();
    } else {
        softUnregisterAll();
        setListening(false);
        stopKeyEventMonitor();
    }
}

void SystemHotkeys::handleStatusReport(Platform::HotKeyService::HotKeyId hotKeyId, int status)
{
    if (hotKeyId.signature != signature)
        return;
    const auto it = state().hotKeys.find(qint64(hotKeyId.id));
    // A report about a registration we have since let go of is old news.
    if (it == state().hotKeys.end() || !it->second.carbonHotKey || it->second.status == status)
        return;
    if (status != HotKeyService::noErr)
        printRegistrationError(it->second.shortcut, status);
    setStatus(it->second, status);
}

int SystemHotkeys::systemHotkeysEventHandler(const Platform::HotKeyService::HotKeyEvent &event)
{
    switch (event.kind) {
    case Kind::hotKeyPressed:
    case Kind::hotKeyReleased:
        return handleHotKeyEvent(event);
    default:
        // Raw key events come through the key-event monitor, never through the service.
        return HotKeyService::eventNotHandledErr;
    }
}

int SystemHotkeys::handleHotKeyEvent(const Platform::HotKeyService::HotKeyEvent &event)
{
    if (event.hotKeyId.signature != signature)
        return HotKeyService::eventNotHandledErr;
    const auto it = state().hotKeys.find(qint64(event.hotKeyId.id));
    if (it == state().hotKeys.end())
        return HotKeyService::eventNotHandledErr;
    // Copies: the callback may unregister this very entry.
    const Shortcut shortcut = it->second.shortcut;
    Callback callback;
    if (event.kind == Kind::hotKeyPressed) {
        callback = it->second.onKeyDown;
    } else if (event.kind == Kind::hotKeyReleased) {
        Platform::Trace::phase("release seen");
        callback = it->second.onKeyUp;
    } else {
        return HotKeyService::eventNotHandledErr;
    }
    if (callback)
        callback(shortcut);
    return HotKeyService::noErr;
}

int SystemHotkeys::handleRawKeyEvent(
    Platform::HotKeyService::EventKind kind, quint32 carbonKeyCode, quint32 carbonModifiers)
{
    const Shortcut pressed(carbonKeyCode, carbonModifiers);
    const auto &hotKeys = state().hotKeys;
    // A refused entry belongs to another program, also while our menu has the keyboard.
    const auto it = std::find_if(hotKeys.begin(), hotKeys.end(), [&](const auto &entry) {
        return entry.second.shortcut == pressed && entry.second.status == HotKeyService::noErr;
    });
    if (it == hotKeys.end())
        return HotKeyService::eventNotHandledErr;
    const Shortcut shortcut = it->second.shortcut;
    Callback callback;
    if (kind == Kind::rawKeyDown) {
        callback = it->second.onKeyDown;
    } else if (kind == Kind::rawKeyUp) {
        Platform::Trace::phase("release seen");
        callback = it->second.onKeyUp;
    } else {
        return HotKeyService::eventNotHandledErr; // auto-repeat goes on to the menu
    }
    if (callback)
        callback(shortcut);
    return HotKeyService::noErr;
}

std::optional<Platform::KeyEvent> SystemHotkeys::keyEventMonitorCallback(const Platform::KeyEvent &event)
{
    Kind kind;
    switch (event.type) {
    case Platform::KeyEventType::keyDown: {
        const bool held = state().keysDown.contains(event.keyCode);
        state().keysDown.insert(event.keyCode);
        kind = event.isARepeat || held ? Kind::rawKeyRepeat : Kind::rawKeyDown;
        break;
    }
    case Platform::KeyEventType::keyUp:
        state().keysDown.remove(event.keyCode);
        kind = Kind::rawKeyUp;
        break;
    default:
        return event;
    }
    const qint64 carbonModifiers = ModifierFlags(event.modifierFlags).carbon();
    if (handleRawKeyEvent(kind, event.keyCode, quint32(carbonModifiers)) == HotKeyService::noErr)
        return std::nullopt;
    return event;
}

QList<qint64> SystemHotkeys::hotKeyIds()
{
    QList<qint64> ids;
    for (const auto &[id, hotKey] : state().hotKeys)
        ids.append(id);
    return ids;
}

qint64 SystemHotkeys::lastHotKeyId()
{
    return state().hotKeyId;
}

std::optional<bool> SystemHotkeys::isLive(qint64 id)
{
    const auto it = state().hotKeys.find(id);
    if (it == state().hotKeys.end())
        return std::nullopt;
    return it->second.carbonHotKey && it->second.status == HotKeyService::noErr;
}

std::optional<int> SystemHotkeys::status(const Shortcut &shortcut)
{
    std::optional<int> result;
    for (const auto &[id, hotKey] : state().hotKeys) {
        if (hotKey.shortcut != shortcut)
            continue;
        if (hotKey.status == HotKeyService::noErr)
            return HotKeyService::noErr;
        if (!result)
            result = hotKey.status;
    }
    return result;
}

bool SystemHotkeys::isKeyEventMonitorRunning()
{
    return state().keyEventMonitor && state().keyEventMonitor->isInstalled();
}

bool SystemHotkeys::isEventHandlerInstalled()
{
    return state().eventHandler;
}

void SystemHotkeys::resetForTesting()
{
    State &s = state();
    stopKeyEventMonitor();
    s.hotKeys.clear();
    s.hotKeyId = 0;
    s.eventHandler = false;
}

} // namespace Hotkeys
