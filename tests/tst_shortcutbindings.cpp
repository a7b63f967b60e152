#include "hotkeys/Hotkeys.h"
#include "hotkeys/MenuItemShortcut.h"
#include "hotkeys/ViewModifiers.h"
#include "platform/qt/NotificationCenter.h"
#include "testlib/HotkeysFixture.h"

#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QTest>

using Hotkeys::Name;
using Hotkeys::Shortcut;

namespace {

constexpr qint64 command = 0x100;
constexpr qint64 shift = 0x200;
constexpr qint64 option = 0x800;

void postRecorderStatus(const QVariantMap &info)
{
    Platform::NotificationCenter::defaultCenter().post(
        QStringLiteral("Hotkeys_recorderActiveStatusDidChange"), info);
}

} // namespace

// Menu-item key sequences bound to names, and the view-level shortcut helpers.
class TestShortcutBindings : public QObject {
    Q_OBJECT

private:
    Name first {QStringLiteral("bindingFirst")};
    Name second {QStringLiteral("bindingSecond")};

    std::unique_ptr<Tests::HotkeysFixture> m_fixture;

private Q_SLOTS:
    void init() { m_fixture = std::make_unique<Tests::HotkeysFixture>(); }
    void cleanup() { m_fixture.reset(); }

    void boundActionFollowsItsNameOneTurnLater()
    {
        QAction action;
        Hotkeys::setShortcutFor(&action, first); // nothing stored: cleared
        QVERIFY(action.shortcut().isEmpty());
        QVERIFY(Hotkeys::isBoundToName(&action));

        Hotkeys::setShortcut(Shortcut(40, command), first);
        QVERIFY(action.shortcut().isEmpty()); // not before the next event-loop turn
        QApplication::processEvents();
        QCOMPARE(action.shortcut(), QKeySequence(Qt::CTRL | Qt::Key_K));

        // Quick successive changes end with the latest stored shortcut.
        Hotkeys::setShortcut(Shortcut(14, command), first);
        Hotkeys::setShortcut(Shortcut(2, command | shift), first);
        QApplication::processEvents();
        QCOMPARE(action.shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D));

        // Another name's change leaves it alone.
        Hotkeys::setShortcut(Shortcut(3, command), second);
        QApplication::processEvents();
        QCOMPARE(action.shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D));

        // A direct application (or removal) is overwritten at the next change of the bound name.
        Hotkeys::setShortcut(&action, Shortcut(3, command | option));
        QCOMPARE(action.shortcut(), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_F));
        Hotkeys::setShortcut(&action, std::nullopt);
        QVERIFY(action.shortcut().isEmpty());
        Hotkeys::setShortcut(Shortcut(40, command), first);
        QApplication::processEvents();
        QCOMPARE(action.shortcut(), QKeySequence(Qt::CTRL | Qt::Key_K));
    }

    void rebindingUnbindingAndTheActionGoingStopEarlierBindings()
    {
        const int observers = Platform::NotificationCenter::defaultCenter().observerCount(
            QStringLiteral("Hotkeys_shortcutByNameDidChange"));
        Hotkeys::setShortcut(Shortcut(40, command), first);
        Hotkeys::setShortcut(Shortcut(14, command), second);
        QAction action;
        Hotkeys::setShortcutFor(&action, first);
        QCOMPARE(action.shortcut(), QKeySequence(Qt::CTRL | Qt::Key_K));
        Hotkeys::setShortcutFor(&action, second);
        QCOMPARE(action.shortcut(), QKeySequence(Qt::CTRL | Qt::Key_E));

        Hotkeys::setShortcut(Shortcut(2, command), first);
        QApplication::processEvents();
        QCOMPARE(action.shortcut(), QKeySequence(Qt::CTRL | Qt::Key_E));

        // A change already scheduled when the binding is removed is dropped with it.
        Hotkeys::setShortcut(Shortcut(3, command), second);
        Hotkeys::setShortcutFor(&action, std::nullopt);
        QVERIFY(!Hotkeys::isBoundToName(&action));
        QVERIFY(action.shortcut().isEmpty());
        QApplication::processEvents();
        QVERIFY(action.shortcut().isEmpty());
        Hotkeys::setShortcut(Shortcut(4, command), second);
        QApplication::processEvents();
        QVERIFY(action.shortcut().isEmpty());

        // So does the action going, also with an update scheduled.
        auto *doomed = new QAction;
        Hotkeys::setShortcutFor(doomed, first);
        Hotkeys::setShortcut(Shortcut(40, command), first);
        delete doomed;
        QApplication::processEvents();
        QCOMPARE(Platform::NotificationCenter::defaultCenter().observerCount(
                     QStringLiteral("Hotkeys_shortcutByNameDidChange")),
            observers);
    }

    void globalKeyboardShortcutIsWithdrawnWhileRecording()
    {
        QPushButton button;
        QAction action;
        Hotkeys::globalKeyboardShortcut(&button, first);
        Hotkeys::globalKeyboardShortcut(&action, first);
        QVERIFY(button.shortcut().isEmpty());

        Hotkeys::setShortcut(Shortcut(40, command), first);
        QCOMPARE(button.shortcut(), QKeySequence(Qt::CTRL | Qt::Key_K));
        QCOMPARE(action.shortcut(), QKeySequence(Qt::CTRL | Qt::Key_K));

        postRecorderStatus({{QStringLiteral("isActive"), true}});
        QVERIFY(button.shortcut().isEmpty());
        QVERIFY(action.shortcut().isEmpty());
        postRecorderStatus({{QStringLiteral("isActive"), false}});
        QCOMPARE(button.shortcut(), QKeySequence(Qt::CTRL | Qt::Key_K));

        postRecorderStatus({{QStringLiteral("isActive"), true}});
        postRecorderStatus({}); // no user info counts as the end of recording
        QCOMPARE(button.shortcut(), QKeySequence(Qt::CTRL | Qt::Key_K));
        postRecorderStatus({{QStringLiteral("isActive"), true}});
        postRecorderStatus({{QStringLiteral("isActive"), QStringLiteral("yes")}}); // not a Boolean
        QCOMPARE(button.shortcut(), QKeySequence(Qt::CTRL | Qt::Key_K));

        // Another name's change does not touch it.
        button.setShortcut(QKeySequence(Qt::Key_F1));
        Hotkeys::setShortcut(Shortcut(2, command), second);
        QCOMPARE(button.shortcut(), QKeySequence(Qt::Key_F1));

        // A second call replaces the first: only one follower remains.
        Hotkeys::globalKeyboardShortcut(&button, second);
        QCOMPARE(button.shortcut(), QKeySequence(Qt::CTRL | Qt::Key_D));
        Hotkeys::setShortcut(Shortcut(3, command), first);
        QCOMPARE(button.shortcut(), QKeySequence(Qt::CTRL | Qt::Key_D));
    }

    void viewReceivesItsShortcutOnlyWhileShown()
    {
        Hotkeys::setShortcut(Shortcut(40, command | shift), first);
        QWidget view;
        QList<Hotkeys::EventType> events;
        int releases = 0;
        Hotkeys::onKeyboardShortcut(&view, first, [&](Hotkeys::EventType type) { events.append(type); });
        Hotkeys::onGlobalKeyboardShortcut(&view, first, Hotkeys::EventType::keyUp, [&] { ++releases; });

        QApplication::processEvents();
        m_fixture->pressAndRelease(Shortcut(40, command | shift));
        QVERIFY(events.isEmpty()); // not shown yet

        view.show();
        QApplication::processEvents();
        m_fixture->pressAndRelease(Shortcut(40, command | shift));
        QCOMPARE(
            events, (QList<Hotkeys::EventType> {Hotkeys::EventType::keyDown, Hotkeys::EventType::keyUp}));
        QCOMPARE(releases, 1);

        view.hide();
        QApplication::processEvents();
        m_fixture->pressAndRelease(Shortcut(40, command | shift));
        QCOMPARE(events.size(), 2);
        QCOMPARE(releases, 1);

        view.show(); // shown again: a new subscription
        QApplication::processEvents();
        m_fixture->pressAndRelease(Shortcut(40, command | shift));
        QCOMPARE(events.size(), 4);
        QCOMPARE(releases, 2);
    }
};

QTEST_MAIN(TestShortcutBindings)
#include "tst_shortcutbindings.moc"
