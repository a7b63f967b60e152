#include "hotkeys/Utilities.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTest>
#include <QVBoxLayout>
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

    void eventTypes_data()
    {
        QTest::addColumn<int>("qtType");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("button");
        QTest::addColumn<int>("expected");
        QTest::newRow("key press") << int(QEvent::KeyPress) << int(Qt::Key_K) << 0
                                   << int(NSEventType::keyDown);
        QTest::newRow("key release") << int(QEvent::KeyRelease) << int(Qt::Key_F5) << 0
                                     << int(NSEventType::keyUp);
        QTest::newRow("shift alone") << int(QEvent::KeyPress) << int(Qt::Key_Shift) << 0
                                     << int(NSEventType::flagsChanged);
        QTest::newRow("control released")
            << int(QEvent::KeyRelease) << int(Qt::Key_Control) << 0 << int(NSEventType::flagsChanged);
        QTest::newRow("left up") << int(QEvent::MouseButtonRelease) << 0 << int(Qt::LeftButton)
                                 << int(NSEventType::leftMouseUp);
        QTest::newRow("right up") << int(QEvent::MouseButtonRelease) << 0 << int(Qt::RightButton)
                                  << int(NSEventType::rightMouseUp);
        QTest::newRow("middle down") << int(QEvent::MouseButtonPress) << 0 << int(Qt::MiddleButton)
                                     << int(NSEventType::otherMouseDown);
    }
    void eventTypes()
    {
        QFETCH(int, qtType);
        QFETCH(int, key);
        QFETCH(int, button);
        QFETCH(int, expected);
        std::unique_ptr<QEvent> event;
        if (key)
            event = std::make_unique<QKeyEvent>(QEvent::Type(qtType), key, Qt::NoModifier);
        else
            event = std::make_unique<QMouseEvent>(QEvent::Type(qtType), QPointF(1, 1), QPointF(1, 1),
                Qt::MouseButton(button), Qt::NoButton, Qt::NoModifier);
        QCOMPARE(eventTypeOf(event.get()), std::optional(NSEventType(expected)));
        QEvent other(QEvent::Paint);
        QCOMPARE(eventTypeOf(&other), std::nullopt);
    }

    void swallowOrPass_data()
    {
        QTest::addColumn<bool>("swallow");
        QTest::newRow("swallow") << true;
        QTest::newRow("pass") << false;
    }
    void swallowOrPass()
    {
        QFETCH(bool, swallow);
        QWidget parent;
        auto *child = new Recorder(&parent);
        int calls = 0;
        QList<QObject *> receivers;
        LocalEventMonitor monitor(recorderMask, [&](QObject *receiver, QEvent *) {
            ++calls;
            receivers.append(receiver);
            return swallow ? MonitorResult::swallowEvent : MonitorResult::passEvent;
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
        QCOMPARE(child->seen.size(), swallow ? 0 : 1);

        // Key up is not in the mask: never offered, always delivered.
        QTest::keyRelease(child, Qt::Key_B);
        QCOMPARE(calls, 1);
        QCOMPARE(child->seen.last(), QEvent::KeyRelease);

        child->seen.clear();
        QTest::mouseClick(child, Qt::LeftButton, {}, QPoint(2, 2));
        QTest::mouseClick(child, Qt::RightButton, {}, QPoint(2, 2));
        QCOMPARE(calls, 3); // the two releases; presses are not in the mask
        const QList<QEvent::Type> mouse = swallow
            ? QList<QEvent::Type> {QEvent::MouseButtonPress, QEvent::MouseButtonPress}
            : QList<QEvent::Type> {QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                QEvent::MouseButtonPress, QEvent::MouseButtonRelease};
        QCOMPARE(child->seen, mouse);
    }

    void swallowedKeysNeverReachTheEditor()
    {
        QLineEdit edit;
        LocalEventMonitor monitor(eventMask(NSEventType::keyDown), [](QObject *, QEvent *event) {
            const auto *key = static_cast<QKeyEvent *>(event);
            return key->key() == Qt::Key_X ? MonitorResult::swallowEvent : MonitorResult::passEvent;
        });
        monitor.start();
        QTest::keyClicks(&edit, QStringLiteral("axbxc"));
        QCOMPARE(edit.text(), QStringLiteral("abc"));
    }

    void droppingTheMonitorEndsIt()
    {
        QLineEdit edit;
        int calls = 0;
        auto monitor
            = std::make_unique<LocalEventMonitor>(eventMask(NSEventType::keyDown), [&](QObject *, QEvent *) {
                  ++calls;
                  return MonitorResult::swallowEvent;
              });
        monitor->start();
        QTest::keyClick(&edit, Qt::Key_A);
        QCOMPARE(edit.text(), QString());
        monitor.reset();
        QTest::keyClick(&edit, Qt::Key_B);
        QCOMPARE(edit.text(), QStringLiteral("b"));
        QCOMPARE(calls, 1);
    }

    void monitorMayBeDroppedFromItsCallback()
    {
        QLineEdit edit;
        std::unique_ptr<LocalEventMonitor> monitor;
        int calls = 0;
        monitor
            = std::make_unique<LocalEventMonitor>(eventMask(NSEventType::keyDown), [&](QObject *, QEvent *) {
                  ++calls;
                  monitor.reset();
                  return MonitorResult::passEvent;
              });
        monitor->start();
        QTest::keyClick(&edit, Qt::Key_A);
        QTest::keyClick(&edit, Qt::Key_B);
        QCOMPARE(calls, 1);
        QVERIFY(!monitor);
        QCOMPARE(edit.text(), QStringLiteral("ab"));
    }

    void windowDeliveryIsJudgedOnce()
    {
        QWidget window;
        auto *layout = new QVBoxLayout(&window);
        auto *edit = new QLineEdit(&window);
        layout->addWidget(edit);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.activateWindow();
        edit->setFocus();
        QVERIFY(QTest::qWaitForWindowActive(&window));

        QList<QObject *> receivers;
        LocalEventMonitor monitor(
            eventMask(NSEventType::keyDown, NSEventType::keyUp), [&](QObject *receiver, QEvent *) {
                receivers.append(receiver);
                return MonitorResult::passEvent;
            });
        monitor.start();
        QTest::keyClick(window.windowHandle(), Qt::Key_Q);
        QTest::keyClick(window.windowHandle(), Qt::Key_Q);
        QCOMPARE(edit->text(), QStringLiteral("qq"));
        // Press and release of two keystrokes, each judged at the window only.
        QCOMPARE(receivers.size(), 4);
        for (QObject *receiver : receivers)
            QCOMPARE(receiver, window.windowHandle());
    }

    void runLoopMonitorStartsAndStops()
    {
        Recorder target;
        QList<int> offered;
        RunLoopLocalEventMonitor monitor(
            eventMask(NSEventType::keyDown, NSEventType::keyUp), [&](QObject *, QEvent *event) {
                offered.append(int(event->type()));
                return static_cast<QKeyEvent *>(event)->key() == Qt::Key_E ? MonitorResult::swallowEvent
                                                                           : MonitorResult::passEvent;
            });
        QTest::keyClick(&target, Qt::Key_E);
        QCOMPARE(offered.size(), 0);
        QCOMPARE(target.seen.size(), 2);

        for (int round = 0; round < 2; ++round) {
            target.seen.clear();
            offered.clear();
            monitor.start();
            QVERIFY(monitor.isInstalled());
            // The shortcut's key is consumed; mouse events and other keys reach the target, in order.
            QTest::mousePress(&target, Qt::LeftButton, {}, QPoint(1, 1));
            QTest::keyClick(&target, Qt::Key_E);
            QTest::mouseRelease(&target, Qt::LeftButton, {}, QPoint(1, 1));
            QTest::keyPress(&target, Qt::Key_Down);
            QCOMPARE(offered.size(), 3);
            QCOMPARE(target.seen,
                (QList<QEvent::Type> {
                    QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::KeyPress}));

            monitor.stop();
            QVERIFY(!monitor.isInstalled());
            target.seen.clear();
            QTest::keyClick(&target, Qt::Key_E);
            QCOMPARE(offered.size(), 3);
            QCOMPARE(target.seen.size(), 2);
        }
    }

    void association()
    {
        ObjectAssociation<QString> first;
        ObjectAssociation<QString> second;
        QObject a;
        QObject b;
        QCOMPARE(first.value(&a), std::nullopt);
        first.setValue(&a, QStringLiteral("one"));
        second.setValue(&a, QStringLiteral("two"));
        QCOMPARE(first.value(&a), std::optional(QStringLiteral("one")));
        QCOMPARE(second.value(&a), std::optional(QStringLiteral("two")));
        QCOMPARE(first.value(&b), std::nullopt);
        first.setValue(&a, QStringLiteral("three"));
        QCOMPARE(first.value(&a), std::optional(QStringLiteral("three")));
        first.setValue(&a, std::nullopt);
        QCOMPARE(first.value(&a), std::nullopt);
        QCOMPARE(second.value(&a), std::optional(QStringLiteral("two")));
        first.setValue(&b, std::nullopt);
        QCOMPARE(first.value(&b), std::nullopt);
        QCOMPARE(first.size(), size_t(0));
    }

    void associationEndsWithTheObject()
    {
        int destroyed = 0;
        ObjectAssociation<std::shared_ptr<Counted>> slot;
        auto *object = new QObject;
        slot.setValue(object, std::make_shared<Counted>(&destroyed));
        QCOMPARE(slot.size(), size_t(1));
        delete object;
        QCOMPARE(destroyed, 1);
        QCOMPARE(slot.size(), size_t(0));

        // Overwriting and clearing release the old value at once.
        QObject kept;
        slot.setValue(&kept, std::make_shared<Counted>(&destroyed));
        slot.setValue(&kept, std::make_shared<Counted>(&destroyed));
        QCOMPARE(destroyed, 2);
        slot.setValue(&kept, std::nullopt);
        QCOMPARE(destroyed, 3);
    }

    void associationMayEndBeforeTheObject()
    {
        int destroyed = 0;
        QObject object;
        {
            ObjectAssociation<std::shared_ptr<Counted>> slot;
            slot.setValue(&object, std::make_shared<Counted>(&destroyed));
        }
        QCOMPARE(destroyed, 1);
        // Destroying the object later must not reach the ended association (ASan watches this).
    }
};

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    TestEventMonitors test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_eventmonitors.moc"
