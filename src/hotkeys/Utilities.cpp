#include "hotkeys/Utilities.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QWheelEvent>
#include <QWindow>

namespace Hotkeys {

namespace {

bool isModifierKey(int key)
{
    switch (key) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Meta:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_CapsLock:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
        return true;
    default:
        return false;
    }
}

std::optional<NSEventType> mouseEventType(const QMouseEvent *mouse)
{
    const Qt::MouseButton button = mouse->button();
    switch (mouse->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        if (button == Qt::LeftButton)
            return NSEventType::leftMouseDown;
        return button == Qt::RightButton ? NSEventType::rightMouseDown : NSEventType::otherMouseDown;
    case QEvent::MouseButtonRelease:
        if (button == Qt::LeftButton)
            return NSEventType::leftMouseUp;
        return button == Qt::RightButton ? NSEventType::rightMouseUp : NSEventType::otherMouseUp;
    case QEvent::MouseMove:
        if (mouse->buttons() & Qt::LeftButton)
            return NSEventType::leftMouseDragged;
        if (mouse->buttons() & Qt::RightButton)
            return NSEventType::rightMouseDragged;
        return mouse->buttons() ? NSEventType::otherMouseDragged : NSEventType::mouseMoved;
    default:
        return std::nullopt;
    }
}

} // namespace

std::optional<NSEventType> eventTypeOf(const QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
        const auto *key = static_cast<const QKeyEvent *>(event);
        if (isModifierKey(key->key()))
            return NSEventType::flagsChanged;
        return event->type() == QEvent::KeyPress ? NSEventType::keyDown : NSEventType::keyUp;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseMove:
        return mouseEventType(static_cast<const QMouseEvent *>(event));
    case QEvent::Wheel:
        return NSEventType::scrollWheel;
    default:
        return std::nullopt;
    }
}

ApplicationEventFilter::ApplicationEventFilter(EventTypeMask events, Callback callback)
    : m_events(events)
    , m_callback(std::move(callback))
{
}

ApplicationEventFilter::~ApplicationEventFilter()
{
    uninstall();
}

void ApplicationEventFilter::install()
{
    if (m_installed || !QCoreApplication::instance())
        return;
    QCoreApplication::instance()->installEventFilter(this);
    m_installed = true;
    m_lastPassed.reset();
}

void ApplicationEventFilter::uninstall()
{
    if (!m_installed)
        return;
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
    m_installed = false;
}

ApplicationEventFilter::Fingerprint ApplicationEventFilter::fingerprintOf(const QEvent *event)
{
    Fingerprint fingerprint;
    fingerprint.type = int(event->type());
    if (event->isInputEvent())
        fingerprint.timestamp = static_cast<const QInputEvent *>(event)->timestamp();
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        const auto *key = static_cast<const QKeyEvent *>(event);
        fingerprint.keyOrButton = key->key();
        fingerprint.modifiers = int(key->modifiers());
        fingerprint.scanCode = key->nativeScanCode();
        fingerprint.autoRepeat = key->isAutoRepeat();
    } else if (const auto *pointer = dynamic_cast<const QSinglePointEvent *>(event)) {
        fingerprint.keyOrButton = int(pointer->button());
        fingerprint.modifiers = int(pointer->modifiers());
        fingerprint.globalPosition = pointer->globalPosition();
    }
    return fingerprint;
}

bool ApplicationEventFilter::eventFilter(QObject *watched, QEvent *event)
{
    if (!m_installed || !event->isInputEvent())
        return false;
    const auto type = eventTypeOf(event);
    if (!type || !(m_events & eventMask(*type)))
        return false;
    const Fingerprint fingerprint = fingerprintOf(event);
    if (m_lastPassed && *m_lastPassed == fingerprint)
        return false;
    // The callback may destroy this filter (the recorder drops its monitor when recording ends).
    const QPointer<ApplicationEventFilter> alive(this);
    const Callback callback = m_callback;
    const MonitorResult result = callback(watched, event);
    if (alive) {
        if (result == MonitorResult::passEvent)
            m_lastPassed = fingerprint;
        else
            m_lastPassed.reset();
    }
    return result == MonitorResult::swallowEvent;
}

LocalEventMonitor::LocalEventMonitor(EventTypeMask events, Callback callback)
    : ApplicationEventFilter(events, std::move(callback))
{
}

LocalEventMonitor *LocalEventMonitor::start()
{
    install();
    return this;
}

RunLoopLocalEventMonitor::RunLoopLocalEventMonitor(EventTypeMask events, Callback callback)
    : ApplicationEventFilter(events, std::move(callback))
{
}

void RunLoopLocalEventMonitor::start()
{
    install();
}

void RunLoopLocalEventMonitor::stop()
{
    uninstall();
}

} // namespace Hotkeys
