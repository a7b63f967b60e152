#include "hotkeys/Utilities.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTest>
#include <QWidget>

#include <memory>

using namespace Hotkeys;

namespace {

// Records the input events that reach it; ignores key events so they propagate to its parent.
class Recorder : public QWidget {
public:
    using QWidget::QWidget;
    QList<QEvent::Type> seen;

protected:
    bool event(QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
            seen.append(event->type());
            break;
        default:
            break;
        }
        const bool handled = QWidget::event(event);
        if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease)
            event->ignore();
        return handled;
    }
};

struct Counted {
    explicit Counted(int *destroyed)
        : m_destroyed(destroyed)
    {
    }
    ~Counted() { ++*m_destroyed; }
    int *m_destroyed;
};

constexpr EventTypeMask recorderMask
    = eventMask(NSEventType::keyDown, NSEventType::leftMouseUp, NSEventType::rightMouseUp);

} // namespace

class TestEventMonitors : public QObject {
    Q_OBJECT

private Q_SLOTS:

    // A modifier key alone is a change of flags, not a key press; mouse buttons by their side.
    void eventTypes()
    {
        QKeyEvent shift(QEvent::KeyPress, Qt::Key_Shift, Qt::NoModifier);
        QKeyEvent control(QEvent::KeyRelease, Qt::Key_Control, Qt::ControlModifier);
        QKeyEvent f5(QEvent::KeyRelease, Qt::Key_F5, Qt::NoModifier);
        QMouseEvent right(QEvent::MouseButtonRelease, QPointF(1, 1), QPointF(1, 1), Qt::RightButton,
            Qt::NoButton, Qt::NoModifier);
        QEvent paint(QEvent::Paint);
        QCOMPARE(eventTypeOf(&shift), std::optional(NSEventType::flagsChanged));
        QCOMPARE(eventTypeOf(&control), std::optional(NSEventType::flagsChanged));
        QCOMPARE(eventTypeOf(&f5), std::optional(NSEventType::keyUp));
        QCOMPARE(eventTypeOf(&right), std::optional(NSEventType::rightMouseUp));
        QCOMPARE(eventTypeOf(&paint), std::nullopt);
    }

    // Keys are passed and mouse releases swallowed here; swallowed keys are the next case's.
    void swallowOrPass()
    {
        QWidget parent;
        auto *child = new Recorder(&parent);
        int calls = 0;
        QList<QObject *> receivers;
        LocalEventMonitor monitor(recorderMask, [&](QObject *receiver, QEvent *event) {
            ++calls;
            receivers.append(receiver);
            return event->type() == QEvent::KeyPress ? MonitorResult::passEvent : MonitorResult::swallowEvent;
        });

        QTest::keyPress(child, Qt::Key_A);
        QCOMPARE(calls, 0); // not started
        QCOMPARE(child->seen.size(), 1);
        child->seen.clear();

        QCOMPARE(monitor.start(), &monitor);
        QTest::keyPress(child, Qt::Key_B);
        // Judged once although it also propagates to the parent.
        QCOMPARE(calls, 1);
        QCOMPARE(receivers, QList<QObject *> {child});
        QCOMPARE(child->seen.size(), 1);

        // Key up is not in the mask: never offered, always delivered.
        QTest::keyRelease(child, Qt::Key_B);
        QCOMPARE(calls, 1);
        QCOMPARE(child->seen.last(), QEvent::KeyRelease);

        child->seen.clear();
        QTest::mouseClick(child, Qt::LeftButton, {}, QPoint(2, 2));
        QTest::mouseClick(child, Qt::RightButton, {}, QPoint(2, 2));
        QCOMPARE(calls, 3); // the two releases; presses are not in the mask
        QCOMPARE(child->seen, (QList<QEvent::Type> {QEvent::MouseButtonPress, QEvent::MouseButtonPress}));
    }

    // Keys delivered to a window are judged once, at the window; swallowed ones never reach the
    // editor, until the monitor drops itself from its callback.
    void windowKeysAreJudgedOnceAndSwallowedUntilTheMonitorIsDropped()
    {
        QWidget window;
        auto *edit = new QLineEdit(&window);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.activateWindow();
        edit->setFocus();
        QVERIFY(QTest::qWaitForWindowActive(&window));

        QList<QObject *> receivers;
        std::unique_ptr<LocalEventMonitor> monitor;
        monitor = std::make_unique<LocalEventMonitor>(
            eventMask(NSEventType::keyDown, NSEventType::keyUp), [&](QObject *receiver, QEvent *event) {
                receivers.append(receiver);
                const int key = static_cast<QKeyEvent *>(event)->key();
                if (key == Qt::Key_D)
                    monitor.reset();
                return key == Qt::Key_X ? MonitorResult::swallowEvent : MonitorResult::passEvent;
            });
        monitor->start();
        for (const char key : {'a', 'x', 'b', 'x', 'c', 'd', 'x'})
            QTest::keyClick(window.windowHandle(), key);
        QCOMPARE(edit->text(), QStringLiteral("abcdx"));
        QVERIFY(!monitor);
        // Press and release of five keystrokes and the press of the sixth, each at the window only.
        QCOMPARE(receivers, QList<QObject *>(11, window.windowHandle()));
    }

    void associationHoldsOneValuePerObjectAndEndsWithIt()
    {
        int destroyed = 0;
        ObjectAssociation<std::shared_ptr<Counted>> first;
        ObjectAssociation<std::shared_ptr<Counted>> second;
        QObject kept;
        auto *object = new QObject;
        first.setValue(object, std::make_shared<Counted>(&destroyed));
        second.setValue(object, std::make_shared<Counted>(&destroyed));
        QVERIFY(first.value(object) != second.value(object));
        QCOMPARE(first.value(&kept), std::nullopt);
        delete object;
        QCOMPARE(destroyed, 2);
        QCOMPARE(first.size() + second.size(), size_t(0));

        // Overwriting and clearing release the old value at once.
        first.setValue(&kept, std::make_shared<Counted>(&destroyed));
        auto newer = std::make_shared<Counted>(&destroyed);
        Counted *const newest = newer.get();
        first.setValue(&kept, std::move(newer));
        QCOMPARE(destroyed, 3);
        QCOMPARE(first.value(&kept).value().get(), newest);
        first.setValue(&kept, std::nullopt);
        QCOMPARE(destroyed, 4);
        QCOMPARE(first.value(&kept), std::nullopt);

        // An association may end before its object; destroying the object later must not reach
        // it (ASan watches this).
        {
            ObjectAssociation<std::shared_ptr<Counted>> slot;
            slot.setValue(&kept, std::make_shared<Counted>(&destroyed));
        }
        QCOMPARE(destroyed, 5);
    }
};

QTEST_MAIN(TestEventMonitors)
#include "tst_eventmonitors.moc"
