#include "hotkeys/RecorderField.h"

#include "hotkeys/Alert.h"
#include "hotkeys/Hotkeys.h"
#include "hotkeys/Constants.h"
#include "hotkeys/Localization.h"
#include "hotkeys/SystemHotkeys.h"
#include "platform/KeyEvent.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QMenu>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QOperatingSystemVersion>
#include <QPointer>
#include <QProxyStyle>
#include <QTimer>
#include <QToolButton>

namespace Hotkeys {

namespace {

// The modifiers the recorder judges: the device-independent flags without Caps Lock and without
// the numeric-pad flag.
constexpr quint64 judgedModifiersMask = 0xFFDE0000;
// What is left when Shift and Function are taken away; a shortcut needs one of these.
constexpr quint64 realModifiersMask = 0xFF5C0000;
constexpr quint16 escapeKeyCode = 53;
constexpr qint64 f12KeyCode = 111;

// Draws the text caret with no width while the field records: the field shows a shortcut, not
// a place to type.
class CaretStyle final : public QProxyStyle {
public:
    int pixelMetric(PixelMetric metric, const QStyleOption *option, const QWidget *widget) const override
    {
        if (metric == PM_TextCursorWidth && hidesCaret)
            return 0;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
    bool hidesCaret = false;
};

bool isFunctionKey(const Platform::KeyEvent &event)
{
    return event.specialKey && functionKeys().contains(*event.specialKey);
}

bool isDeleteKey(const Platform::KeyEvent &event)
{
    namespace S = Platform::SpecialKeyCharacter;
    return event.specialKey
        && (*event.specialKey == S::delete_ || *event.specialKey == S::deleteForward
            || *event.specialKey == S::backspace);
}

// A menu title as the user reads it: without its mnemonic markers ("&&" is a literal ampersand).
QString plainMenuTitle(QString title)
{
    const QChar placeholder(0xE000);
    title.replace(QStringLiteral("&&"), QString(placeholder));
    title.remove(QLatin1Char('&'));
    title.replace(placeholder, QLatin1Char('&'));
    return title;
}

} // namespace

// The application's own input events while a field records: every key press and every left or
// right mouse release, offered to the callback before they reach their receiver. The callback
// answers true to swallow the event. Installed on construction, removed on destruction.
class RecordingEventMonitor final : public QObject {
public:
    using Callback = std::function<bool(QEvent *)>;

    explicit RecordingEventMonitor(Callback callback)
        : m_callback(std::move(callback))
    {
        QCoreApplication::instance()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *receiver, QEvent *event) override
    {
        // Each event is judged once, where it reaches a widget (the window hands it on first).
        if (!receiver->isWidgetType())
            return false;
        switch (event->type()) {
        case QEvent::ShortcutOverride:
            // Claim every key press, so that no action's shortcut fires while recording.
            event->accept();
            return true;
        case QEvent::KeyPress:
            return m_callback(event);
        case QEvent::MouseButtonRelease: {
            const auto button = static_cast<QMouseEvent *>(event)->button();
            return (button == Qt::LeftButton || button == Qt::RightButton) && m_callback(event);
        }
        default:
            return false;
        }
    }

private:
    Callback m_callback;
};

QString recorderActiveStatusDidChange()
{
    return QStringLiteral("Hotkeys_recorderActiveStatusDidChange");
}

bool isDisallowedOnMacOS15(const Shortcut &shortcut, QOperatingSystemVersion os, bool sandboxed)
{
    if (!sandboxed || os.type() != QOperatingSystemVersion::MacOS || os.majorVersion() != 15
        || os.minorVersion() >= 2)
        return false;
    // Caps Lock, Control, Option, Command and Function: exactly Option means Option alone or
    // Option with Shift.
    constexpr quint64 mask = 0x9D0000;
    return (shortcut.modifiers().rawValue() & mask) == ModifierFlags::optionBit;
}

RecorderField::RecorderField(const Name &name, OnChange onChange, QWidget *parent)
    : QLineEdit(parent)
    , m_onChange(std::move(onChange))
    , m_shortcutName(name)
{
    setObjectName(QStringLiteral("recorderField"));
    setPlaceholderText(localizedString(QStringLiteral("record_shortcut")));
    setAlignment(Qt::AlignCenter);
    setMinimumWidth(minimumFieldWidth);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    // The text only ever shows a shortcut: nothing may type, paste or drop into it.
    setContextMenuPolicy(Qt::NoContextMenu);
    setAcceptDrops(false);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    setFocusPolicy(Qt::NoFocus);
    m_caretStyle = new CaretStyle;
    m_caretStyle->setParent(this);
    setStyle(m_caretStyle);
    connect(this, &QLineEdit::textEdited, this, &RecorderField::onTextEdited);

    setStringValue(m_shortcutName);

    QPointer<RecorderField> self(this);
    m_shortcutsNameChangeObserver = Platform::NotificationCenter::defaultCenter().addObserver(
        shortcutByNameDidChange(), [self](const Platform::NotificationCenter::UserInfo &info) {
            const QVariant value = info.value(QStringLiteral("name"));
            if (self && value.typeId() == QMetaType::QString
                && value.toString() == self->m_shortcutName.rawValue())
                self->setStringValue(self->m_shortcutName);
        });

    if (hostWindow()) {
        m_observedWindow = window();
        preventBecomingKey();
    }
}

RecorderField::~RecorderField()
{
    // A field that goes away while it records must not leave the shortcuts paused.
    if (isRecording())
        endRecording();
}

void RecorderField::setShortcutName(const Name &name)
{
    if (name.rawValue() == m_shortcutName.rawValue())
        return;
    m_shortcutName = name;
    setStringValue(m_shortcutName);
}

bool RecorderField::isRecording() const
{
    return m_eventMonitor != nullptr;
}

QSize RecorderField::sizeHint() const
{
    return QSize(minimumFieldWidth, QLineEdit::sizeHint().height());
}

QSize RecorderField::minimumSizeHint() const
{
    return QSize(minimumFieldWidth, QLineEdit::minimumSizeHint().height());
}

void RecorderField::setStringValue(const Name &name)
{
    const std::optional<Shortcut> shortcut = Hotkeys::getShortcut(name);
    setText(shortcut ? shortcut->nativeText() : QString());
    setShowsCancelButton(!text().isEmpty());
}

void RecorderField::setShowsCancelButton(bool shows)
{
    setClearButtonEnabled(shows);
}

void RecorderField::setCaretHidden(bool hidden)
{
    static_cast<CaretStyle *>(m_caretStyle)->hidesCaret = hidden;
    update();
}

bool RecorderField::isCaretHidden() const
{
    return static_cast<CaretStyle *>(m_caretStyle)->hidesCaret;
}

void RecorderField::setCanBecomeKey(bool can)
{
    m_canBecomeKey = can;
    setFocusPolicy(can ? Qt::StrongFocus : Qt::NoFocus);
}

void RecorderField::preventBecomingKey()
{
    // For the rest of this event-loop turn, a window that gives its first focusable widget the
    // focus (as it does when it is activated) passes over this field: opening the window must not
    // start a recording by itself.
    setCanBecomeKey(false);
    QTimer::singleShot(0, this, [this] { setCanBecomeKey(true); });
}

QWidget *RecorderField::hostWindow() const
{
    return isWindow() ? nullptr : window();
}

bool RecorderField::event(QEvent *event)
{
    switch (event->type()) {
    case QEvent::ParentChange: {
        QWidget *host = hostWindow();
        if (host != m_observedWindow) {
            m_observedWindow = host;
            if (!host)
                endRecording();
            else
                preventBecomingKey();
        }
        break;
    }
    case QEvent::WindowActivate:
        preventBecomingKey();
        break;
    case QEvent::WindowDeactivate:
        if (QWidget *host = hostWindow()) {
            endRecording();
            if (QWidget *focused = host->focusWidget())
                focused->clearFocus();
        }
        break;
    default:
        break;
    }
    return QLineEdit::event(event);
}

void RecorderField::focusInEvent(QFocusEvent *event)
{
    QLineEdit::focusInEvent(event);
    // Keyboard focus selects the whole text; the shortcut stays visible, unselected.
    deselect();
    if (hostWindow() && !isRecording())
        startRecording();
}

void RecorderField::focusOutEvent(QFocusEvent *event)
{
    QLineEdit::focusOutEvent(event);
    endRecording();
}

void RecorderField::mousePressEvent(QMouseEvent *event)
{
    // X11 pastes the primary selection with the middle button; this text is not for typing.
    if (event->button() == Qt::MiddleButton) {
        event->accept();
        return;
    }
    QLineEdit::mousePressEvent(event);
}

void RecorderField::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::MiddleButton) {
        event->accept();
        return;
    }
    QLineEdit::mouseReleaseEvent(event);
}

void RecorderField::startRecording()
{
    setPlaceholderText(localizedString(QStringLiteral("press_shortcut")));
    setShowsCancelButton(!text().isEmpty());
    setCaretHidden(true);
    Hotkeys::setPaused(true);
    // X11 hands a key that we grab for a hot key to the grab, never to our window: the hot keys
    // are suspended (not unregistered from the tables) while recording, so the field sees them.
    m_suspendedHotKeys = Hotkeys::isEnabled();
    if (m_suspendedHotKeys)
        Hotkeys::setEnabled(false);
    Platform::NotificationCenter::defaultCenter().post(
        recorderActiveStatusDidChange(), {{QStringLiteral("isActive"), true}});
    QPointer<RecorderField> self(this);
    m_eventMonitor = std::make_unique<RecordingEventMonitor>(
        [self](QEvent *event) { return !self || self->handleRecordingEvent(event); });
}

void RecorderField::endRecording()
{
    const bool wasRecording = isRecording();
    // Ending may happen inside the monitor's own callback: it stops now and goes on the next turn.
    if (m_eventMonitor) {
        QCoreApplication::instance()->removeEventFilter(m_eventMonitor.get());
        m_eventMonitor.release()->deleteLater();
    }
    setPlaceholderText(localizedString(QStringLiteral("record_shortcut")));
    setShowsCancelButton(!text().isEmpty());
    setCaretHidden(false);
    // Only the field that paused the shortcuts lifts the pause: an idle field leaving its window
    // must not resume dispatch while another one records.
    if (!wasRecording)
        return;
    if (m_suspendedHotKeys)
        Hotkeys::setEnabled(true);
    m_suspendedHotKeys = false;
    Hotkeys::setPaused(false);
    Platform::NotificationCenter::defaultCenter().post(
        recorderActiveStatusDidChange(), {{QStringLiteral("isActive"), false}});
}

void RecorderField::onTextEdited(const QString &text)
{
    if (text.isEmpty()) {
        Hotkeys::setShortcut(std::nullopt, m_shortcutName);
        if (m_onChange)
            m_onChange(std::nullopt);
    }
    setShowsCancelButton(!text.isEmpty());
    if (text.isEmpty())
        focus();
}

void RecorderField::blur()
{
    if (QWidget *host = hostWindow()) {
        if (QWidget *focused = host->focusWidget())
            focused->clearFocus();
    }
}

void RecorderField::focus()
{
    if (hostWindow())
        setFocus(Qt::OtherFocusReason);
}

void RecorderField::clearShortcut()
{
    // What the clear button does when clicked; without a shortcut there is no clear button.
    if (text().isEmpty())
        return;
    QLineEdit::clear();
    onTextEdited(QString());
}

bool RecorderField::clearButtonContains(const QPoint &globalPosition) const
{
    const auto buttons = findChildren<QToolButton *>(QString(), Qt::FindDirectChildrenOnly);
    for (const QToolButton *button : buttons) {
        if (button->isVisible() && button->rect().contains(button->mapFromGlobal(globalPosition)))
            return true;
    }
    return false;
}

bool RecorderField::handleRecordingEvent(QEvent *event)
{
    const auto type = event->type();
    if (type == QEvent::MouseButtonRelease) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        const QPoint global = mouse->globalPosition().toPoint();
        const QRect area = rect().adjusted(-clickMargin, -clickMargin, clickMargin, clickMargin);
        if (!area.contains(mapFromGlobal(global))) {
            blur();
            return false;
        }
        // The clear button tracks its own click, as the platform's search fields do.
        return !clearButtonContains(global);
    }
    if (type != QEvent::KeyPress)
        return true;

    const Platform::KeyEventTranslator *translator = services().keyEventTranslator;
    const std::optional<Platform::KeyEvent> keyEvent
        = translator ? translator->keyEvent(*static_cast<QKeyEvent *>(event)) : std::nullopt;
    if (!keyEvent) {
        beep();
        return true;
    }
    return handleKeyDown(*keyEvent);
}

bool RecorderField::handleKeyDown(const Platform::KeyEvent &event)
{
    namespace S = Platform::SpecialKeyCharacter;
    if (event.type != Platform::KeyEventType::keyDown && event.type != Platform::KeyEventType::keyUp)
        return true;
    const quint64 modifiers = event.modifierFlags & judgedModifiersMask;

    if (modifiers == 0 && event.specialKey == S::tab) {
        // Tab leaves the field for the next control. Passing it on after dropping the focus, as
        // the platform's key-view loop allows, would restart from the window's first control,
        // which is this field again when it comes first.
        focusNextChild();
        if (hasFocus())
            blur();
        return true;
    }
    if (modifiers == 0 && event.keyCode == escapeKeyCode) {
        blur();
        return true;
    }
    if (modifiers == 0 && isDeleteKey(event)) {
        clearShortcut();
        return true;
    }
    if ((modifiers & realModifiersMask) == 0 && !isFunctionKey(event)) {
        beep();
        return true;
    }
    const std::optional<Shortcut> shortcut = Shortcut::fromEvent(event);
    if (!shortcut) {
        beep();
        return true;
    }

    QPointer<RecorderField> self(this);
    if (QMenu *menu = mainMenu()) {
        if (QAction *item = shortcut->menuItemWithMatchingShortcut(menu)) {
            const QString title = localizedStringWithFormat(
                QStringLiteral("keyboard_shortcut_used_by_menu_item"), plainMenuTitle(item->text()));
            blur();
            runModal(Alert {title, {}, {}}, hostWindow());
            if (self)
                self->focus();
            return true;
        }
    }

    if (isDisallowedOnMacOS15(*shortcut, QOperatingSystemVersion::current(), Constants::isSandboxed())) {
        blur();
        runModal(
            Alert {localizedString(QStringLiteral("keyboard_shortcut_disallowed")), {}, {}}, hostWindow());
        if (self)
            self->focus();
        return true;
    }

    const bool plainF12 = shortcut->carbonKeyCode() == f12KeyCode && shortcut->carbonModifiers() == 0;
    if (!plainF12 && SystemHotkeys::isSystemShortcut(*shortcut)) {
        blur();
        const int response
            = runModal(Alert {localizedString(QStringLiteral("keyboard_shortcut_used_by_system")),
                           localizedString(QStringLiteral("keyboard_shortcuts_can_be_changed")),
                           {localizedString(QStringLiteral("ok")),
                               localizedString(QStringLiteral("force_use_shortcut"))}},
                hostWindow());
        if (!self)
            return true;
        self->focus();
        if (response != alertFirstButtonReturn + 1)
            return true;
    }

    setText(shortcut->nativeText());
    setShowsCancelButton(true);
    Hotkeys::userDefaultsSet(m_shortcutName, *shortcut);
    if (m_onChange)
        m_onChange(*shortcut);
    if (self)
        self->blur();
    return true;
}

} // namespace Hotkeys
