#pragma once

#include <QEvent>
#include <QMetaObject>
#include <QObject>
#include <QPointF>

#include <functional>
#include <optional>
#include <unordered_map>

namespace Hotkeys {

// AppKit's event type numbers, for choosing which of the application's events a monitor sees.
enum class NSEventType : int {
    leftMouseDown = 1,
    leftMouseUp = 2,
    rightMouseDown = 3,
    rightMouseUp = 4,
    mouseMoved = 5,
    leftMouseDragged = 6,
    rightMouseDragged = 7,
    keyDown = 10,
    keyUp = 11,
    flagsChanged = 12,
    scrollWheel = 22,
    otherMouseDown = 25,
    otherMouseUp = 26,
    otherMouseDragged = 27,
};

// A set of event types: bit n stands for the type with number n (keyDown | keyUp is 0xC00).
using EventTypeMask = quint64;

constexpr EventTypeMask eventMask(NSEventType type)
{
    return EventTypeMask(1) << int(type);
}
template <typename... Types> constexpr EventTypeMask eventMask(NSEventType first, Types... rest)
{
    return eventMask(first) | eventMask(rest...);
}

// The AppKit type of a Qt input event, or nothing for events no monitor can ask for. A press or
// release of a modifier key alone is flagsChanged.
std::optional<NSEventType> eventTypeOf(const QEvent *event);

// What a monitor's callback decides for an event.
enum class MonitorResult {
    passEvent, // the event goes on to its target unchanged
    swallowEvent, // the event is dropped
};

// Sees the application's events of chosen types before their targets do, as an application event
// filter. Each input event is judged once, where it first enters the application (its window, or
// the widget it was sent to directly), not again as it propagates to parent widgets.
class ApplicationEventFilter : public QObject {
public:
    using Callback = std::function<MonitorResult(QObject *receiver, QEvent *event)>;

    ApplicationEventFilter(EventTypeMask events, Callback callback);
    ~ApplicationEventFilter() override;

    EventTypeMask events() const { return m_events; }
    bool isInstalled() const { return m_installed; }

protected:
    void install();
    void uninstall();
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Fingerprint {
        int type = 0;
        quint64 timestamp = 0;
        int keyOrButton = 0;
        int modifiers = 0;
        quint32 scanCode = 0;
        QPointF globalPosition;
        bool autoRepeat = false;
        bool operator==(const Fingerprint &) const = default;
    };
    static Fingerprint fingerprintOf(const QEvent *event);

    EventTypeMask m_events;
    Callback m_callback;
    bool m_installed = false;
    // The last event passed on: it is seen again at each stage of its delivery (window, widget,
    // parent widgets) and must not be judged twice.
    std::optional<Fingerprint> m_lastPassed;
};

// Watches the application's own events of the chosen types while it lives; the callback lets each
// event through or swallows it. Inert until start(); the owner stops it by destroying it (it may
// do so from inside the callback).
class LocalEventMonitor final : public ApplicationEventFilter {
public:
    LocalEventMonitor(EventTypeMask events, Callback callback);

    // Installs the monitor; answers the monitor itself so that creation and start chain.
    LocalEventMonitor *start();
};

// Offers the application's events of the chosen types to the callback while started, as the
// hot-key layer needs while a menu of the application is open (an open menu grabs the keyboard,
// so the system-wide key grabs stop firing). start() and stop() may alternate any number of times.
class RunLoopLocalEventMonitor final : public ApplicationEventFilter {
public:
    RunLoopLocalEventMonitor(EventTypeMask events, Callback callback);

    void start();
    void stop();
};

// A per-object slot: attaches a value of type T to any QObject under this association's identity,
// so every instance is a separate slot on every object. The value is destroyed when the object is
// destroyed, when it is overwritten, or when the association itself ends. Whether the slot keeps
// something alive is up to T (a std::shared_ptr retains, a QPointer does not). Main thread.
template <typename T> class ObjectAssociation {
public:
    ObjectAssociation() = default;
    ObjectAssociation(const ObjectAssociation &) = delete;
    ObjectAssociation &operator=(const ObjectAssociation &) = delete;
    ~ObjectAssociation()
    {
        for (auto &[object, slot] : m_slots)
            QObject::disconnect(slot.connection);
    }

    // The value attached to `object`, or nothing.
    std::optional<T> value(const QObject *object) const
    {
        const auto it = m_slots.find(object);
        if (it == m_slots.end())
            return std::nullopt;
        return it->second.value;
    }

    // Attaches `value` to `object`; nothing removes what was attached.
    void setValue(QObject *object, std::optional<T> value)
    {
        if (!object)
            return;
        const auto it = m_slots.find(object);
        if (!value) {
            if (it != m_slots.end()) {
                QObject::disconnect(it->second.connection);
                m_slots.erase(it);
            }
            return;
        }
        if (it != m_slots.end()) {
            it->second.value = std::move(*value);
            return;
        }
        const QMetaObject::Connection connection
            = QObject::connect(object, &QObject::destroyed, [this, object] { m_slots.erase(object); });
        m_slots.emplace(object, Slot {std::move(*value), connection});
    }

    // Number of objects that hold a value in this slot.
    size_t size() const { return m_slots.size(); }

private:
    struct Slot {
        T value;
        QMetaObject::Connection connection;
    };
    std::unordered_map<const QObject *, Slot> m_slots;
};

} // namespace Hotkeys
