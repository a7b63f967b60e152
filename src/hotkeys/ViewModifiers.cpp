#include "hotkeys/ViewModifiers.h"

#include "platform/NotificationCenter.h"

#include <QAbstractButton>
#include <QAction>
#include <QEvent>
#include <QPointer>
#include <QWidget>

namespace Hotkeys {

namespace {

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

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_view) {
            if (event->type() == QEvent::Show)
                subscribe();
            else if (event->type() == QEvent::Hide)
                m_subscription.reset();
        }
        return false;
    }

private:
    void subscribe()
    {
        if (m_subscription)
            return;
        QPointer<KeyboardShortcutAttachment> self(this);
        m_subscription = subscribeToEvents(m_name, [self](EventType type) {
            if (self && self->m_action)
                self->m_action(type);
        });
    }

    QWidget *m_view;
    Name m_name;
    std::function<void(EventType)> m_action;
    std::unique_ptr<EventSubscription> m_subscription;
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
        m_nameChange = centre.addObserver(shortcutByNameDidChangeNotification,
                                          [self](const Platform::NotificationCenter::UserInfo &info) {
                                              const QVariant value = info.value(QStringLiteral("name"));
                                              if (self && value.canConvert<Name>()
                                                  && value.value<Name>().rawValue() == self->m_name.rawValue())
                                                  self->refresh();
                                          });
        m_recorderStatus = centre.addObserver(recorderActiveStatusDidChangeNotification,
                                              [self](const Platform::NotificationCenter::UserInfo &info) {
                                                  if (!self)
                                                      return;
                                                  const QVariant value = info.value(QStringLiteral("isActive"));
                                                  self->m_isRecorderActive =
                                                      value.typeId() == QMetaType::Bool && value.toBool();
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
