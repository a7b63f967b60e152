#include "hotkeys/ViewModifiers.h"

#include "hotkeys/RecorderField.h"
#include "platform/qt/NotificationCenter.h"

#include <QAbstractButton>
#include <QAction>
#include <QEvent>
#include <QPointer>
#include <QWidget>

#include <QCoroAsyncGenerator>

#include <coroutine>
#include <utility>

namespace Hotkeys {

namespace {

// A coroutine that starts at once and keeps its frame until its owner destroys it, so that a
// subscription waiting for its next event can be ended from outside. An orphaned frame (its owner
// went away while the frame was running) frees itself when it returns.
struct DetachedCoroutine {
    struct promise_type {
        bool orphaned = false;

        DetachedCoroutine get_return_object()
        {
            return {std::coroutine_handle<promise_type>::from_promise(*this)};
        }
        std::suspend_never initial_suspend() noexcept { return {}; }
        auto final_suspend() noexcept
        {
            struct Awaiter {
                bool ready;
                bool await_ready() noexcept { return ready; }
                void await_suspend(std::coroutine_handle<>) noexcept { }
                void await_resume() noexcept { }
            };
            return Awaiter {orphaned};
        }
        void return_void() { }
        void unhandled_exception() { }
    };
    std::coroutine_handle<promise_type> handle;
};

// Follows one name's event stream while its view is shown.
class KeyboardShortcutAttachment final : public QObject {
public:
    KeyboardShortcutAttachment(QWidget *view, const Name &name, std::function<void(EventType)> action)
        : QObject(view)
        , m_view(view)
        , m_name(name)
        , m_action(std::move(action))
    {
        view->installEventFilter(this);
        if (view->isVisible())
            subscribe();
    }
    ~KeyboardShortcutAttachment() override
    {
        if (!m_consumer)
            return;
        if (m_delivering)
            m_consumer.promise().orphaned = true; // the running frame ends itself
        else
            m_consumer.destroy();
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_view) {
            if (event->type() == QEvent::Show)
                subscribe();
            else if (event->type() == QEvent::Hide)
                unsubscribe();
        }
        return false;
    }

private:
    static DetachedCoroutine consume(
        QCoro::AsyncGenerator<EventType> stream, KeyboardShortcutAttachment *owner)
    {
        auto it = co_await stream.begin();
        while (it != stream.end()) {
            if (!owner->deliver(*it))
                co_return;
            co_await ++it;
        }
    }

    // Answers false when the subscription ended during the action (the view was hidden or went
    // away); the caller then returns without touching the owner again.
    bool deliver(EventType type)
    {
        QPointer<KeyboardShortcutAttachment> guard(this);
        m_delivering = true;
        if (m_action)
            m_action(type);
        if (!guard)
            return false;
        m_delivering = false;
        if (m_stopRequested) {
            m_stopRequested = false;
            std::exchange(m_consumer, {}).promise().orphaned = true;
            return false;
        }
        return true;
    }

    void subscribe()
    {
        if (m_consumer) {
            m_stopRequested = false;
            return;
        }
        m_consumer = consume(events(m_name), this).handle;
    }

    void unsubscribe()
    {
        if (!m_consumer)
            return;
        if (m_delivering) {
            m_stopRequested = true;
            return;
        }
        std::exchange(m_consumer, {}).destroy();
    }

    QWidget *m_view;
    Name m_name;
    std::function<void(EventType)> m_action;
    std::coroutine_handle<DetachedCoroutine::promise_type> m_consumer;
    bool m_delivering = false;
    bool m_stopRequested = false;
};

// Keeps a control's key sequence equal to a name's stored shortcut, except while recording.
class GlobalKeyboardShortcutModifier final : public QObject {
public:
    using Apply = std::function<void(const QKeySequence &)>;

    GlobalKeyboardShortcutModifier(QObject *target, const Name &name, Apply apply)
        : QObject(target)
        , m_name(name)
        , m_apply(std::move(apply))
    {
        setObjectName(QStringLiteral("globalKeyboardShortcutModifier"));
        QPointer<GlobalKeyboardShortcutModifier> self(this);
        auto &centre = Platform::NotificationCenter::defaultCenter();
        m_nameChange = centre.addObserver(
            shortcutByNameDidChange(), [self](const Platform::NotificationCenter::UserInfo &info) {
                const QVariant value = info.value(QStringLiteral("name"));
                if (self && value.typeId() == QMetaType::QString
                    && value.toString() == self->m_name.rawValue())
                    self->refresh();
            });
        m_recorderStatus = centre.addObserver(
            recorderActiveStatusDidChange(), [self](const Platform::NotificationCenter::UserInfo &info) {
                if (!self)
                    return;
                const QVariant value = info.value(QStringLiteral("isActive"));
                self->m_isRecorderActive = value.typeId() == QMetaType::Bool && value.toBool();
                self->refresh();
            });
        refresh();
    }

private:
    void refresh()
    {
        std::optional<QKeySequence> sequence;
        if (!m_isRecorderActive) {
            if (const std::optional<Shortcut> shortcut = getShortcut(m_name))
                sequence = shortcut->toKeySequence();
        }
        m_apply(sequence.value_or(QKeySequence()));
    }

    Name m_name;
    Apply m_apply;
    bool m_isRecorderActive = false;
    Platform::NotificationCenter::TokenPtr m_nameChange;
    Platform::NotificationCenter::TokenPtr m_recorderStatus;
};

void replaceModifier(QObject *target)
{
    const auto existing = target->findChildren<GlobalKeyboardShortcutModifier *>(
        QStringLiteral("globalKeyboardShortcutModifier"), Qt::FindDirectChildrenOnly);
    for (GlobalKeyboardShortcutModifier *modifier : existing)
        delete modifier;
}

} // namespace

void onKeyboardShortcut(QWidget *view, const Name &name, std::function<void(EventType)> action)
{
    if (view)
        new KeyboardShortcutAttachment(view, name, std::move(action));
}

void onKeyboardShortcut(QWidget *view, const Name &name, EventType type, std::function<void()> action)
{
    onKeyboardShortcut(view, name, [type, action = std::move(action)](EventType received) {
        if (received == type && action)
            action();
    });
}

void globalKeyboardShortcut(QAbstractButton *button, const Name &name)
{
    if (!button)
        return;
    replaceModifier(button);
    QPointer<QAbstractButton> weak(button);
    new GlobalKeyboardShortcutModifier(button, name, [weak](const QKeySequence &sequence) {
        if (weak)
            weak->setShortcut(sequence);
    });
}

void globalKeyboardShortcut(QAction *action, const Name &name)
{
    if (!action)
        return;
    replaceModifier(action);
    QPointer<QAction> weak(action);
    new GlobalKeyboardShortcutModifier(action, name, [weak](const QKeySequence &sequence) {
        if (weak)
            weak->setShortcut(sequence);
    });
}

} // namespace Hotkeys
