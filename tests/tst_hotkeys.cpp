#include "hotkeys/Hotkeys.h"
#include "hotkeys/MenuTracking.h"
#include "hotkeys/SystemHotkeys.h"
#include "testlib/HotkeysFixture.h"
#include "testlib/OutputCapture.h"
#include "testlib/UseService.h"

#include <QCoroTask>
#include <QKeyEvent>
#include <QMenu>
#include <QTest>

using Hotkeys::EventType;
using Hotkeys::Name;
using Hotkeys::Shortcut;
using Platform::FakeHotKeyService;

namespace {

const Shortcut commandShiftE(14, 0x300);
const Shortcut commandOptionE(14, 0x900);
const Shortcut controlK(40, 0x1000);
const QString commandShiftEText = QStringLiteral("{\"carbonKeyCode\":14,\"carbonModifiers\":768}");

// Consumes a stream into `out` until it holds `limit` events, then stops (ending the stream).
QCoro::Task<> collect(
    QCoro::AsyncGenerator<EventType> stream, std::shared_ptr<QList<EventType>> out, int limit)
{
    QCORO_FOREACH(EventType event, stream)
    {
        out->append(event);
        if (out->size() >= limit)
            break;
    }
}

// Records the presses and releases of ordinary keys (not modifiers) that reach an object.
class KeyLog final : public QObject {
public:
    explicit KeyLog(QObject *target) { target->installEventFilter(this); }
    QStringList events;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
            const auto *key = static_cast<QKeyEvent *>(event);
            if (key->key() == Qt::Key_Shift || key->key() == Qt::Key_Control)
                return false;
            events.append(QLatin1String(event->type() == QEvent::KeyPress ? "press " : "release ")
                + QKeySequence(key->key()).toString());
        }
        return false;
    }
};

// Runs the bookkeeping that the namespace leaves for a later turn of the event loop.
void runLater()
{
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

} // namespace

class TestHotkeys : public QObject {
    Q_OBJECT

    std::unique_ptr<Tests::HotkeysFixture> m_fixture;
    FakeHotKeyService *m_service = nullptr;
    Platform::MemoryUserDefaults *m_defaults = nullptr;
    QStringList m_notified;
    Platform::NotificationCenter::TokenPtr m_observer;

    // The id under which the fake holds `shortcut`, or 0.
    quint32 idOf(const Shortcut &shortcut) const
    {
        for (const auto &registration : m_service->registrations()) {
            if (registration.carbonKeyCode == quint32(shortcut.carbonKeyCode())
                && registration.carbonModifiers == quint32(shortcut.carbonModifiers()))
                return registration.hotKeyId.id;
        }
        return 0;
    }
    bool isRegistered(const Shortcut &shortcut) const { return m_fixture->isGrabbed(shortcut); }
    void press(const Shortcut &shortcut)
    {
        const quint32 id = idOf(shortcut);
        QVERIFY(id != 0);
        m_service->press(id);
        m_service->release(id);
    }

private Q_SLOTS:
    void init()
    {
        m_fixture = std::make_unique<Tests::HotkeysFixture>();
        m_service = &m_fixture->hotKeyService;
        m_defaults = &m_fixture->defaults;
        m_notified.clear();
        m_observer = Platform::NotificationCenter::defaultCenter().addObserver(
            Hotkeys::shortcutByNameDidChange(), [this](const QVariantMap &info) {
                m_notified.append(info.value(QStringLiteral("name")).toString());
            });
    }
    void cleanup()
    {
        m_observer.reset();
        m_fixture.reset();
    }

    void defaultIsStoredOnFirstLaunchOnly()
    {
        const Name fix(QStringLiteral("fixSelectedText"), commandShiftE);
        QCOMPARE(m_defaults->value(QStringLiteral("Hotkeys_fixSelectedText")), QVariant(commandShiftEText));
        QVERIFY(isRegistered(commandShiftE));
        QCOMPARE(m_notified, QStringList {QStringLiteral("fixSelectedText")});
        QCOMPARE(fix.shortcut(), std::optional<Shortcut>(commandShiftE));

        // Next launch: the name is created again with a stored value in place.
        Hotkeys::resetForTesting();
        FakeHotKeyService nextLaunch;
        Tests::useService(&Hotkeys::Services::hotKeyService, &nextLaunch);
        const Name again(QStringLiteral("fixSelectedText"), commandOptionE);
        QCOMPARE(again.shortcut(), std::optional<Shortcut>(commandShiftE));
        QCOMPARE(m_notified.size(), 1);
        QVERIFY(nextLaunch.attempts().isEmpty());
        Hotkeys::resetForTesting();
        Tests::useService(&Hotkeys::Services::hotKeyService, m_service);
    }

    void clearingADefaultLeavesTheFalseMarkerUntilReset()
    {
        const Name fix(QStringLiteral("fix"), commandShiftE);
        m_notified.clear();
        fix.setShortcut(std::nullopt);
        const QVariant stored = m_defaults->value(QStringLiteral("Hotkeys_fix"));
        QCOMPARE(stored.typeId(), QMetaType::Bool);
        QCOMPARE(stored.toBool(), false);
        QCOMPARE(Hotkeys::getShortcut(fix), std::nullopt);
        QVERIFY(!isRegistered(commandShiftE));
        QCOMPARE(m_notified, QStringList {QStringLiteral("fix")});

        // The marker keeps the default out on the next creation.
        const Name again(QStringLiteral("fix"), commandShiftE);
        QCOMPARE(again.shortcut(), std::nullopt);
        QVERIFY(!isRegistered(commandShiftE));

        Hotkeys::reset(again);
        QCOMPARE(m_defaults->value(QStringLiteral("Hotkeys_fix")), QVariant(commandShiftEText));
        QVERIFY(isRegistered(commandShiftE));
    }

    void clearingANameWithoutDefault()
    {
        const Name plain(QStringLiteral("plain"));
        plain.setShortcut(std::nullopt);
        QVERIFY(m_notified.isEmpty());

        plain.setShortcut(controlK);
        QVERIFY(isRegistered(controlK));
        plain.setShortcut(std::nullopt);
        QVERIFY(!m_defaults->values().contains(QStringLiteral("Hotkeys_plain")));
        QVERIFY(!isRegistered(controlK));
        QCOMPARE(m_notified, (QStringList {QStringLiteral("plain"), QStringLiteral("plain")}));
    }

    void changingAShortcutMovesTheRegistration()
    {
        const Name name(QStringLiteral("n"));
        Hotkeys::onKeyUp(name, [] {});
        name.setShortcut(commandShiftE);
        name.setShortcut(controlK);
        QVERIFY(!isRegistered(commandShiftE));
        QVERIFY(isRegistered(controlK));
        QVERIFY(Hotkeys::isEnabled(name));
    }

    void hostileStoredValuesReadAsNothingAndStay_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::newRow("not JSON") << QVariant(QStringLiteral("{carbonKeyCode: 14"));
        QTest::newRow("no modifiers") << QVariant(QStringLiteral("{\"carbonKeyCode\":14}"));
        QTest::newRow("fraction") << QVariant(
            QStringLiteral("{\"carbonKeyCode\":14.5,\"carbonModifiers\":768}"));
        QTest::newRow("text member") << QVariant(
            QStringLiteral("{\"carbonKeyCode\":\"14\",\"carbonModifiers\":768}"));
        QTest::newRow("array") << QVariant(QStringLiteral("[14,768]"));
        QTest::newRow("empty text") << QVariant(QString());
        QTest::newRow("number") << QVariant(14);
        QTest::newRow("true") << QVariant(true);
        QTest::newRow("object, not text") << QVariant(
            QVariantMap {{QStringLiteral("carbonKeyCode"), 14}, {QStringLiteral("carbonModifiers"), 768}});
        QTest::newRow("list") << QVariant(QVariantList {14, 768});
        QTest::newRow("null") << QVariant::fromValue(nullptr);
    }

    void hostileStoredValuesReadAsNothingAndStay()
    {
        QFETCH(QVariant, stored);
        m_defaults->setValue(QStringLiteral("Hotkeys_bad"), stored);
        const Name bad(QStringLiteral("bad"), commandShiftE); // a default does not replace it
        QCOMPARE(bad.shortcut(), std::nullopt);
        Hotkeys::onKeyDown(bad, [] { QFAIL("no shortcut to press"); });
        Hotkeys::enable(bad);
        QVERIFY(!Hotkeys::isEnabled(bad));
        Hotkeys::resetAll();
        Hotkeys::removeHandler(bad);
        QVERIFY(m_service->attempts().isEmpty());
        QVERIFY(m_notified.isEmpty());
        QCOMPARE(m_defaults->value(QStringLiteral("Hotkeys_bad")), stored);
    }

    void twoNamesOnOneShortcutBothFire()
    {
        const Name first(QStringLiteral("first"));
        const Name second(QStringLiteral("second"));
        first.setShortcut(commandShiftE);
        second.setShortcut(commandShiftE);
        QStringList ran;
        Hotkeys::onKeyDown(first, [&] { ran.append(QStringLiteral("first down")); });
        Hotkeys::onKeyDown(second, [&] { ran.append(QStringLiteral("second down")); });
        Hotkeys::onKeyDown(first, [&] { ran.append(QStringLiteral("first down again")); });
        Hotkeys::onKeyUp(second, [&] { ran.append(QStringLiteral("second up")); });
        QCOMPARE(m_service->attempts().size(), 1); // handed to the system once
        press(commandShiftE);
        QCOMPARE(ran,
            (QStringList {QStringLiteral("first down"), QStringLiteral("first down again"),
                QStringLiteral("second down"), QStringLiteral("second up")}));
    }

    void dispatchReadsTheStoreOnEveryPress()
    {
        const Name name(QStringLiteral("n"), commandShiftE);
        int ran = 0;
        Hotkeys::onKeyDown(name, [&] { ++ran; });
        const quint32 id = idOf(commandShiftE);
        // Another program (or a hand edit) changes the stored value behind our back.
        m_defaults->setValue(
            QStringLiteral("Hotkeys_n"), QStringLiteral("{\"carbonKeyCode\":40,\"carbonModifiers\":4096}"));
        m_service->press(id);
        QCOMPARE(ran, 0);
        m_defaults->setValue(QStringLiteral("Hotkeys_n"), commandShiftEText);
        m_service->press(id);
        QCOMPARE(ran, 1);
    }

    void pauseDropsDispatchWithoutUnregistering()
    {
        const Name name(QStringLiteral("n"), commandShiftE);
        int ran = 0;
        Hotkeys::onKeyUp(name, [&] { ++ran; });
        const auto attempts = m_service->attempts().size();
        Hotkeys::setPaused(true);
        press(commandShiftE);
        QCOMPARE(ran, 0);
        QVERIFY(m_service->unregisterCalls().isEmpty());
        Hotkeys::setPaused(false);
        press(commandShiftE);
        QCOMPARE(ran, 1);
        QCOMPARE(m_service->attempts().size(), attempts);
    }

    void disablingAndEnablingKeepsTheIds()
    {
        const Name name(QStringLiteral("n"), commandShiftE);
        int ran = 0;
        Hotkeys::onKeyDown(name, [&] { ++ran; });
        const quint32 id = idOf(commandShiftE);
        Hotkeys::setEnabled(false);
        QVERIFY(!Hotkeys::isEnabled(name));
        QVERIFY(m_service->registrations().isEmpty());
        Hotkeys::setEnabled(true);
        QVERIFY(Hotkeys::isEnabled(name));
        QCOMPARE(idOf(commandShiftE), id);
        m_service->press(id);
        QCOMPARE(ran, 1);
        // Setting the current value changes nothing.
        m_service->clearLog();
        Hotkeys::setEnabled(true);
        QVERIFY(m_service->attempts().isEmpty());
        QVERIFY(m_service->unregisterCalls().isEmpty());
    }

    void aRefusedShortcutIsAStateAndIsTriedAgainWhenTheHotKeysComeBack_data()
    {
        QTest::addColumn<QString>("refused");
        QTest::addColumn<bool>("byMenu");
        QTest::newRow("at once, menu closes") << QStringLiteral("at once") << true;
        QTest::newRow("at once, recorder done") << QStringLiteral("at once") << false;
        QTest::newRow("taken while suspended, menu closes") << QStringLiteral("renewal") << true;
        QTest::newRow("taken away later") << QStringLiteral("later") << false;
    }
    void aRefusedShortcutIsAStateAndIsTriedAgainWhenTheHotKeysComeBack()
    {
        QFETCH(QString, refused);
        QFETCH(bool, byMenu);
        const QString refusalLine = QStringLiteral("Error registering hotkey ⇧⌘E: -9878\n");
        TestLib::OutputCapture printed;
        const auto taken = Platform::HotKeyService::eventHotKeyExistsErr;
        const auto leaveAndComeBack = [byMenu] {
            auto &centre = Platform::NotificationCenter::defaultCenter();
            if (byMenu) {
                centre.post(Hotkeys::menuDidBeginTrackingNotification());
                centre.post(Hotkeys::menuDidEndTrackingNotification());
            } else {
                Hotkeys::setEnabled(false);
                Hotkeys::setEnabled(true);
            }
        };
        int changes = 0;
        const auto statusObserver = Platform::NotificationCenter::defaultCenter().addObserver(
            Hotkeys::SystemHotkeys::statusDidChange(), [&](const auto &) { ++changes; });
        if (refused == QLatin1String("at once"))
            m_service->refuse(14, 0x300, taken);
        const Name name(QStringLiteral("fix"), commandShiftE);
        int ran = 0;
        Hotkeys::onKeyDown(name, [&] { ++ran; });
        if (refused == QLatin1String("renewal")) {
            Hotkeys::setEnabled(false);
            m_service->refuse(14, 0x300, taken);
            Hotkeys::setEnabled(true);
        } else if (refused == QLatin1String("later")) {
            m_service->withdraw(1, taken);
        }

        QCOMPARE(printed.take(), refusalLine);
        QCOMPARE(Hotkeys::refusal(name), std::optional<int>(taken));
        QVERIFY(Hotkeys::isEnabled(name)); // still counted as registered
        QVERIFY(!Hotkeys::isActive(name));
        QCOMPARE(changes, 1);
        QCOMPARE(m_service->press(1), Platform::HotKeyService::eventNotHandledErr);

        // Still taken: tried again, still refused, nothing changes.
        m_service->refuse(14, 0x300, taken);
        TestLib::OutputCapture printedAgain;
        leaveAndComeBack();
        QCOMPARE(printedAgain.take(), refusalLine);
        QCOMPARE(Hotkeys::refusal(name), std::optional<int>(taken));
        QCOMPARE(changes, 1);

        // The other program lets go.
        m_service->stopRefusing(14, 0x300);
        leaveAndComeBack();
        QCOMPARE(Hotkeys::refusal(name), std::nullopt);
        QVERIFY(Hotkeys::isActive(name));
        QCOMPARE(changes, 2);
        QCOMPARE(m_service->registrations().keys(), QList<quint32> {1}); // under its first id
        press(commandShiftE);
        QCOMPARE(ran, 1);
    }

    void aShortcutTakenAwayLaterMayBeGivenBackByTheSystem()
    {
        const Name name(QStringLiteral("fix"), commandShiftE);
        Hotkeys::onKeyDown(name, [] {});
        TestLib::OutputCapture printed;
        m_service->withdraw(1, Platform::HotKeyService::eventHotKeyExistsErr);
        QCOMPARE(printed.take(), QStringLiteral("Error registering hotkey ⇧⌘E: -9878\n"));
        QVERIFY(!Hotkeys::isActive(name));
        m_service->grant(1);
        QVERIFY(Hotkeys::isActive(name));
        // Changing the shortcut drops the old state with the old registration.
        TestLib::OutputCapture printedAgain;
        m_service->withdraw(1, Platform::HotKeyService::eventHotKeyExistsErr);
        name.setShortcut(controlK);
        printedAgain.take();
        QVERIFY(Hotkeys::isActive(name));
        QCOMPARE(m_service->unregisterCalls(), QList<quint32> {1});
    }

    void enableAndDisableNames()
    {
        const Name a(QStringLiteral("a"), commandShiftE);
        const Name b(QStringLiteral("b"), controlK);
        Hotkeys::disable(a, b);
        QVERIFY(m_service->registrations().isEmpty());
        QVERIFY(!Hotkeys::isEnabled(a));
        Hotkeys::enable(QList<Name> {b});
        QVERIFY(Hotkeys::isEnabled(b));
        QVERIFY(!Hotkeys::isEnabled(a));
    }

    void streamDeliversPressesAfterItsDeferredStart()
    {
        const Name name(QStringLiteral("n"), commandShiftE);
        auto received = std::make_shared<QList<EventType>>();
        collect(Hotkeys::events(name), received, 2);
        // Before the deferred start the stream does not listen yet.
        press(commandShiftE);
        runLater();
        QVERIFY(received->isEmpty());
        press(commandShiftE);
        QVERIFY(received->isEmpty()); // delivered on a later turn, not inside the dispatch
        runLater();
        QCOMPARE(*received, (QList<EventType> {EventType::keyDown, EventType::keyUp}));
    }

    void filteredStreamKeepsOneType()
    {
        const Name name(QStringLiteral("n"), commandShiftE);
        auto received = std::make_shared<QList<EventType>>();
        collect(Hotkeys::events(EventType::keyUp, name), received, 2);
        runLater();
        press(commandShiftE);
        press(commandShiftE);
        runLater();
        QCOMPARE(*received, (QList<EventType> {EventType::keyUp, EventType::keyUp}));
    }

    void removingHandlersKeepsAShortcutThatAStreamNeeds()
    {
        const Name name(QStringLiteral("n"));
        name.setShortcut(commandShiftE);
        auto received = std::make_shared<QList<EventType>>();
        collect(Hotkeys::events(name), received, 1);
        runLater();
        Hotkeys::onKeyDown(name, [] {});
        Hotkeys::removeHandler(name);
        QVERIFY(isRegistered(commandShiftE));
        Hotkeys::onKeyUp(name, [] {});
        Hotkeys::removeAllHandlers();
        QVERIFY(isRegistered(commandShiftE));
        press(commandShiftE);
        runLater();
        QCOMPARE(*received, QList<EventType> {EventType::keyDown});
    }

    void theLastStreamEndingReleasesTheShortcut()
    {
        const Name name(QStringLiteral("n"));
        name.setShortcut(commandShiftE);
        {
            auto first = Hotkeys::events(name);
            auto second = Hotkeys::events(name);
            runLater();
            {
                auto dropped = std::move(second);
            }
            runLater();
            QVERIFY(isRegistered(commandShiftE)); // the first stream still needs it
        }
        runLater();
        QVERIFY(!isRegistered(commandShiftE));
        QVERIFY(!Hotkeys::isEnabled(name));

        // A stream ending keeps a shortcut that actions still need.
        Hotkeys::onKeyDown(name, [] {});
        {
            auto stream = Hotkeys::events(name);
            runLater();
        }
        runLater();
        QVERIFY(isRegistered(commandShiftE));
    }

    void aStreamStoppedByItsConsumerReleasesTheShortcut()
    {
        const Name name(QStringLiteral("n"));
        name.setShortcut(commandShiftE);
        auto received = std::make_shared<QList<EventType>>();
        collect(Hotkeys::events(name), received, 1);
        runLater();
        press(commandShiftE);
        runLater();
        QCOMPARE(received->size(), 1);
        runLater();
        QVERIFY(!isRegistered(commandShiftE));
    }

    void allNamesAndResetAll()
    {
        const Name withDefault(QStringLiteral("withDefault"), commandShiftE);
        const Name plain(QStringLiteral("plain"));
        plain.setShortcut(controlK);
        const Name cleared(QStringLiteral("cleared"), commandOptionE);
        cleared.setShortcut(std::nullopt);
        m_defaults->setValue(QStringLiteral("Hotkeys_foreign"), 12);
        m_defaults->setValue(QStringLiteral("replaceEmDash"), true);

        const QSet<Name> names = Hotkeys::allNames();
        QSet<QString> raw;
        for (const Name &name : names) {
            raw.insert(name.rawValue());
            QVERIFY(!name.defaultShortcut());
        }
        QCOMPARE(raw,
            (QSet<QString> {QStringLiteral("withDefault"), QStringLiteral("plain"), QStringLiteral("cleared"),
                QStringLiteral("foreign")}));

        m_notified.clear();
        Hotkeys::resetAll();
        // Readable shortcuts go (names from allNames carry no default); markers and foreign values stay.
        QCOMPARE(QSet<QString>(m_notified.cbegin(), m_notified.cend()),
            (QSet<QString> {QStringLiteral("withDefault"), QStringLiteral("plain")}));
        const QStringList keys = m_defaults->keys();
        QCOMPARE(QSet<QString>(keys.cbegin(), keys.cend()),
            (QSet<QString> {QStringLiteral("Hotkeys_cleared"), QStringLiteral("Hotkeys_foreign"),
                QStringLiteral("replaceEmDash")}));
        QVERIFY(m_service->registrations().isEmpty());
    }

    void openMenuTakesKeyPressesThroughTheApplicationAndSwallowsMatchesOnly_data()
    {
        QTest::addColumn<bool>("applicationWide");
        QTest::newRow("menu marked by the application") << false;
        QTest::newRow("every menu of the application") << true;
    }

    void openMenuTakesKeyPressesThroughTheApplicationAndSwallowsMatchesOnly()
    {
        QFETCH(bool, applicationWide);
        const Name name(QStringLiteral("fix"), commandShiftE);
        QStringList ran;
        Hotkeys::onKeyDown(name, [&] { ran.append(QStringLiteral("down")); });
        Hotkeys::onKeyUp(name, [&] { ran.append(QStringLiteral("up")); });
        const quint32 id = idOf(commandShiftE);

        QMenu menu;
        menu.addAction(QStringLiteral("First"));
        menu.addAction(QStringLiteral("Second"));
        if (applicationWide)
            Hotkeys::trackAllMenus();
        else
            Hotkeys::trackMenu(&menu);
        KeyLog reachedMenu(&menu);
        menu.popup(QPoint(10, 10));
        QTRY_VERIFY(menu.isVisible());
        QVERIFY(Hotkeys::isMenuOpen());
        QVERIFY(m_service->registrations().isEmpty()); // suspended, the menu has the keyboard
        QVERIFY(Hotkeys::SystemHotkeys::isKeyEventMonitorRunning());

        const auto ctrlShift = Qt::ControlModifier | Qt::ShiftModifier;
        QTest::keyPress(&menu, Qt::Key_E, ctrlShift);
        // A held key repeats its press; repeats go to the menu, not to the actions.
        QKeyEvent repeat(QEvent::KeyPress, Qt::Key_E, ctrlShift, QStringLiteral("E"), true);
        QApplication::sendEvent(&menu, &repeat);
        QTest::keyRelease(&menu, Qt::Key_E, ctrlShift);
        QTest::keyClick(&menu, Qt::Key_K, ctrlShift); // no shortcut of ours
        QTest::keyClick(&menu, Qt::Key_Down);
        QCOMPARE(ran, (QStringList {QStringLiteral("down"), QStringLiteral("up")}));
        QCOMPARE(reachedMenu.events,
            (QStringList {QStringLiteral("press E"), QStringLiteral("press K"), QStringLiteral("release K"),
                QStringLiteral("press Down"), QStringLiteral("release Down")}));

        menu.hide();
        QTRY_VERIFY(!Hotkeys::isMenuOpen());
        QVERIFY(!Hotkeys::SystemHotkeys::isKeyEventMonitorRunning());
        QCOMPARE(idOf(commandShiftE), id); // back under its old id
        press(commandShiftE);
        QCOMPARE(ran.size(), 4);
        // With the menu closed the application's own key events are left alone.
        QTest::keyClick(&menu, Qt::Key_E, ctrlShift);
        QCOMPARE(ran.size(), 4);
    }

    void anActionMayRemoveHandlersDuringDispatch()
    {
        const Name a(QStringLiteral("a"), commandShiftE);
        const Name b(QStringLiteral("b"));
        b.setShortcut(commandShiftE);
        QStringList ran;
        Hotkeys::onKeyDown(a, [&] {
            ran.append(QStringLiteral("a"));
            Hotkeys::removeAllHandlers();
        });
        Hotkeys::onKeyDown(b, [&] { ran.append(QStringLiteral("b")); });
        m_service->press(idOf(commandShiftE));
        // This press still reaches everything attached when it began.
        QCOMPARE(ran, (QStringList {QStringLiteral("a"), QStringLiteral("b")}));
        QVERIFY(!isRegistered(commandShiftE));
    }
};

QTEST_MAIN(TestHotkeys)
#include "tst_hotkeys.moc"
