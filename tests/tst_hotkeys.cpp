#include "hotkeys/Hotkeys.h"
#include "hotkeys/MenuTracking.h"
#include "hotkeys/SystemHotkeys.h"
#include "platform/x11/X11AccessibilityTrust.h"
#include "platform/x11/X11HotKeyService.h"
#include "platform/x11/X11Pasteboard.h"
#include "testlib/HotkeysFixture.h"
#include "testlib/OutputCapture.h"
#include "testlib/UseService.h"
// moc cannot parse the C++20 library headers behind the clock.
#ifndef Q_MOC_RUN
#include "platform/fake/ManualClock.h"
#include "platform/x11/X11KeystrokePoster.h"
#endif

#include <QCoroTask>
#include <QKeyEvent>
#include <QMenu>
#include <QTest>

using Hotkeys::EventType;
using Hotkeys::Name;
using Hotkeys::Shortcut;
using Hotkeys::SystemHotkeys;
using Platform::FakeHotKeyService;
using Platform::HotKeyService;
using Kind = HotKeyService::EventKind;

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

void openMenu()
{
    Platform::NotificationCenter::defaultCenter().post(Hotkeys::menuDidBeginTrackingNotification());
}

void closeMenu()
{
    Platform::NotificationCenter::defaultCenter().post(Hotkeys::menuDidEndTrackingNotification());
}

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
    QStringList m_log;

    quint32 idOf(const Shortcut &shortcut) const { return m_fixture->idOf(shortcut); }
    bool isRegistered(const Shortcut &shortcut) const { return m_fixture->isGrabbed(shortcut); }
    void press(const Shortcut &shortcut)
    {
        const quint32 id = idOf(shortcut);
        QVERIFY(id != 0);
        m_service->press(id);
        m_service->release(id);
    }
    // A callback that writes "<tag> <what> <key code>" into m_log.
    SystemHotkeys::Callback log(const QString &tag, const char *what)
    {
        return [=, this](const Shortcut &s) {
            m_log.append(QStringLiteral("%1 %2 %3").arg(tag, QLatin1String(what)).arg(s.carbonKeyCode()));
        };
    }
    void add(const Shortcut &shortcut, const QString &tag)
    {
        SystemHotkeys::register_(shortcut, log(tag, "down"), log(tag, "up"));
    }

private Q_SLOTS:
    void init()
    {
        m_fixture = std::make_unique<Tests::HotkeysFixture>();
        m_service = &m_fixture->hotKeyService;
        m_defaults = &m_fixture->defaults;
        m_notified.clear();
        m_log.clear();
        // The switches are read from the Hotkeys namespace; initialise its menu observers.
        Hotkeys::initialize();
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

    void clearingOrChangingAShortcutWithoutDefault()
    {
        const Name plain(QStringLiteral("plain"));
        plain.setShortcut(std::nullopt);
        QVERIFY(m_notified.isEmpty());
        Hotkeys::onKeyUp(plain, [] {});
        plain.setShortcut(commandShiftE);
        // Taken away by the system, then changed: the old state goes with the old registration.
        TestLib::OutputCapture printed;
        m_service->withdraw(idOf(commandShiftE), Platform::HotKeyService::eventHotKeyExistsErr);
        QVERIFY(!Hotkeys::isActive(plain));
        plain.setShortcut(controlK);
        printed.take();
        QVERIFY(!isRegistered(commandShiftE));
        QVERIFY(isRegistered(controlK));
        QVERIFY(Hotkeys::isActive(plain));
        QCOMPARE(m_service->unregisterCalls(), QList<quint32> {1});

        plain.setShortcut(std::nullopt);
        QVERIFY(!m_defaults->values().contains(QStringLiteral("Hotkeys_plain")));
        QVERIFY(!isRegistered(controlK));
        QCOMPARE(m_notified, QStringList(3, QStringLiteral("plain")));
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
        QTest::newRow("number") << QVariant(14);
        QTest::newRow("object, not text") << QVariant(
            QVariantMap {{QStringLiteral("carbonKeyCode"), 14}, {QStringLiteral("carbonModifiers"), 768}});
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
        const QStringList once {QStringLiteral("first down"), QStringLiteral("first down again"),
            QStringLiteral("second down"), QStringLiteral("second up")};
        QCOMPARE(ran, once);

        // An action removes every handler: this press still reaches all attached when it began.
        Hotkeys::onKeyDown(first, [] { Hotkeys::removeAllHandlers(); });
        m_service->press(idOf(commandShiftE));
        QCOMPARE(ran.mid(4), once.first(3));
        QVERIFY(!isRegistered(commandShiftE));
    }

    void dispatchReadsTheStoreOnEveryPressAndPauseDropsIt()
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

        // Paused, the key stays registered and its presses are dropped.
        const auto attempts = m_service->attempts().size();
        Hotkeys::setPaused(true);
        press(commandShiftE);
        QCOMPARE(ran, 1);
        QVERIFY(m_service->unregisterCalls().isEmpty());
        Hotkeys::setPaused(false);
        press(commandShiftE);
        QCOMPARE(ran, 2);
        QCOMPARE(m_service->attempts().size(), attempts);
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
            if (byMenu) {
                openMenu();
                closeMenu();
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

        // The service may also take the key away and give it back by itself: no line for that.
        TestLib::OutputCapture printedLast;
        m_service->withdraw(1, taken);
        m_service->grant(1);
        QVERIFY(Hotkeys::isActive(name));
        QCOMPARE(changes, 4);
        press(commandShiftE);
        QCOMPARE(ran, 2);
        QCOMPARE(printedLast.take(), refusalLine);
    }

    void streamsDeliverPressesAfterTheirDeferredStart()
    {
        const Name name(QStringLiteral("n"), commandShiftE);
        auto received = std::make_shared<QList<EventType>>();
        auto releases = std::make_shared<QList<EventType>>();
        collect(Hotkeys::events(name), received, 2);
        collect(Hotkeys::events(EventType::keyUp, name), releases, 2);
        // Before the deferred start the streams do not listen yet.
        press(commandShiftE);
        runLater();
        QVERIFY(received->isEmpty() && releases->isEmpty());
        press(commandShiftE);
        QVERIFY(received->isEmpty()); // delivered on a later turn, not inside the dispatch
        runLater();
        QCOMPARE(*received, (QList<EventType> {EventType::keyDown, EventType::keyUp}));
        press(commandShiftE);
        runLater();
        QCOMPARE(*releases, (QList<EventType> {EventType::keyUp, EventType::keyUp}));
    }

    // The shortcut stays registered while a stream or an action needs it, and goes with the last.
    void streamsAndActionsKeepTheShortcutWhileEitherNeedsIt()
    {
        const Name name(QStringLiteral("n"));
        name.setShortcut(commandShiftE);
        auto received = std::make_shared<QList<EventType>>();
        collect(Hotkeys::events(name), received, 1);
        {
            auto dropped = Hotkeys::events(name);
            runLater();
        }
        runLater();
        Hotkeys::onKeyDown(name, [] {});
        Hotkeys::removeHandler(name);
        Hotkeys::onKeyUp(name, [] {});
        Hotkeys::removeAllHandlers();
        QVERIFY(isRegistered(commandShiftE)); // the first stream still needs it
        press(commandShiftE);
        runLater();
        QCOMPARE(*received, QList<EventType> {EventType::keyDown});
        // That stream ended after its one event.
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

    void enableDisableAllNamesAndResetAll()
    {
        const Name withDefault(QStringLiteral("withDefault"), commandShiftE);
        const Name plain(QStringLiteral("plain"));
        plain.setShortcut(controlK);
        Hotkeys::disable(withDefault, plain);
        QVERIFY(m_service->registrations().isEmpty());
        QVERIFY(!Hotkeys::isEnabled(withDefault));
        Hotkeys::enable(QList<Name> {plain});
        QVERIFY(Hotkeys::isEnabled(plain));
        QVERIFY(!Hotkeys::isEnabled(withDefault));
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
        // A held key repeats its press; repeats go to the menu, not to the actions. With detectable
        // auto-repeat, X11 repeats come as plain presses: a second press of a held key is one too.
        QKeyEvent repeat(QEvent::KeyPress, Qt::Key_E, ctrlShift, QStringLiteral("E"), true);
        QApplication::sendEvent(&menu, &repeat);
        QTest::keyPress(&menu, Qt::Key_E, ctrlShift);
        QTest::keyRelease(&menu, Qt::Key_E, ctrlShift);
        QTest::keyClick(&menu, Qt::Key_K, ctrlShift); // no shortcut of ours
        QTest::keyClick(&menu, Qt::Key_Down);
        QCOMPARE(ran, (QStringList {QStringLiteral("down"), QStringLiteral("up")}));
        QCOMPARE(reachedMenu.events,
            (QStringList {QStringLiteral("press E"), QStringLiteral("press E"), QStringLiteral("press K"),
                QStringLiteral("release K"), QStringLiteral("press Down"), QStringLiteral("release Down")}));

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

    // SystemHotkeys, the table of registered hot keys under the names.
    void idsStartAtOneAreNeverReusedAndEventsReachEachEntryByItsId()
    {
        // Two entries with one shortcut (the fake, unlike X11, accepts the same combination twice).
        add(commandShiftE, QStringLiteral("first"));
        add(commandShiftE, QStringLiteral("second"));
        add(controlK, QStringLiteral("b"));
        QCOMPARE(SystemHotkeys::hotKeyIds(), (QList<qint64> {1, 2, 3}));
        QCOMPARE(m_service->press(2), HotKeyService::noErr);
        QCOMPARE(m_service->release(1), HotKeyService::noErr);
        QCOMPARE(m_log, (QStringList {QStringLiteral("second down 14"), QStringLiteral("first up 14")}));

        SystemHotkeys::unregister(commandShiftE);
        QCOMPARE(SystemHotkeys::hotKeyIds(), QList<qint64> {3});
        QCOMPARE(m_service->unregisterCalls(), (QList<quint32> {1, 2}));
        add(commandShiftE, QStringLiteral("a"));
        QCOMPARE(SystemHotkeys::hotKeyIds(), (QList<qint64> {3, 4}));
        QCOMPARE(m_service->registrations().keys(), (QList<quint32> {3, 4}));
        // The handler stays installed with an empty table; a callback may unregister its own entry.
        SystemHotkeys::unregister(commandShiftE);
        SystemHotkeys::unregister(controlK);
        SystemHotkeys::register_(
            controlK, [](const Shortcut &s) { SystemHotkeys::unregister(s); },
            log(QStringLiteral("c"), "up"));
        QCOMPARE(m_service->press(5), HotKeyService::noErr);
        QCOMPARE(m_service->press(5), HotKeyService::eventNotHandledErr);
        QVERIFY(m_service->registrations().isEmpty());
        QVERIFY(SystemHotkeys::isEventHandlerInstalled());
        QVERIFY(m_service->isListening());
    }

    void refusedRegistrationPrintsTheLineAndStaysRefused_data()
    {
        QTest::addColumn<qint64>("keyCode");
        QTest::addColumn<qint64>("modifiers");
        QTest::addColumn<int>("refusal");
        QTest::addColumn<QString>("line");
        QTest::newRow("no counterpart")
            << qint64(40) << qint64(0x1000) << HotKeyService::eventHotKeyInvalidErr
            << QStringLiteral("Error registering hotkey ⌃K: -9879\n");
        QTest::newRow("negative key code")
            << qint64(-1) << qint64(0x100) << 0 << QStringLiteral("Error registering hotkey ⌘�: -50\n");
        QTest::newRow("key code above 32 bits") << (qint64(1) << 32) << qint64(0x100) << 0
                                                << QStringLiteral("Error registering hotkey ⌘�: -50\n");
    }

    void refusedRegistrationPrintsTheLineAndStaysRefused()
    {
        QFETCH(qint64, keyCode);
        QFETCH(qint64, modifiers);
        QFETCH(int, refusal);
        QFETCH(QString, line);
        const Shortcut shortcut(keyCode, modifiers);
        if (refusal != 0)
            m_service->refuse(quint32(keyCode), quint32(modifiers), refusal);

        TestLib::OutputCapture capture;
        add(shortcut, QStringLiteral("a"));
        QCOMPARE(capture.take(), line);
        QCOMPARE(SystemHotkeys::hotKeyIds(), QList<qint64> {1});
        QCOMPARE(SystemHotkeys::isLive(1), std::optional<bool>(false));
        QCOMPARE(SystemHotkeys::status(shortcut), std::optional<int>(refusal != 0 ? refusal : -50));
        // Out-of-range values never reach the system.
        QCOMPARE(m_service->attempts().size(), refusal != 0 ? 1 : 0);

        add(commandOptionE, QStringLiteral("b"));
        QCOMPARE(SystemHotkeys::hotKeyIds(), (QList<qint64> {1, 2}));
        QCOMPARE(SystemHotkeys::status(commandOptionE), std::optional<int>(HotKeyService::noErr));
        QVERIFY(SystemHotkeys::isEventHandlerInstalled());
        SystemHotkeys::unregister(shortcut);
        QCOMPARE(SystemHotkeys::status(shortcut), std::nullopt);
    }

    void withoutAnXServerOrAServiceEveryRegistrationIsRefused()
    {
        // This test runs on the offscreen platform: no X connection.
        Platform::X11::X11HotKeyService x11;
        QVERIFY(!x11.isAvailable());
        Tests::useService(&Hotkeys::Services::hotKeyService, &x11);
        TestLib::OutputCapture err(TestLib::OutputCapture::Stream::standardError);
        TestLib::OutputCapture out;
        add(commandShiftE, QStringLiteral("a"));
        add(controlK, QStringLiteral("b"));
        QCOMPARE(out.take(),
            QStringLiteral("Error registering hotkey ⇧⌘E: -9868\nError registering hotkey ⌃K: -9868\n"));
        const QString message = err.take();
        QCOMPARE(message.count(QLatin1String("global shortcuts are unavailable")), 1);
        QVERIFY2(message.contains(QLatin1String("no X11 display connection")), qPrintable(message));
        QCOMPARE(SystemHotkeys::isLive(1), std::optional<bool>(false));

        // No service at all refuses the same way.
        Tests::useService(&Hotkeys::Services::hotKeyService, nullptr);
        TestLib::OutputCapture printed;
        add(commandOptionE, QStringLiteral("c"));
        QCOMPARE(printed.take(), QStringLiteral("Error registering hotkey ⌥⌘E: -9868\n"));
        QCOMPARE(SystemHotkeys::status(commandOptionE), std::optional<int>(HotKeyService::eventInternalErr));
        Tests::useService(&Hotkeys::Services::hotKeyService, m_service);
    }

    // The other X11 services without an X server, as on a pure Wayland session: nothing is trusted,
    // no keystroke goes anywhere, the clipboard still works within the process.
    void otherX11ServicesWithoutAnXServer()
    {
        QVERIFY(QGuiApplication::platformName() != QLatin1String("xcb"));
        Platform::X11::X11AccessibilityTrust trust;
        QVERIFY(!trust.isProcessTrusted());
        QVERIFY(!trust.requestTrust());
        Platform::ManualClock clock;
        Platform::X11::X11KeystrokePoster poster(clock);
        QVERIFY(!poster.isAvailable());
        QVERIFY(poster.postKeystroke(8, Platform::AppKitModifier::command).isReady());
        QCOMPARE(clock.pendingTimers(), 0);

        Platform::X11::X11Pasteboard pasteboard;
        const qint64 before = pasteboard.changeCount();
        pasteboard.setString(QStringLiteral("inside"));
        QVERIFY(pasteboard.changeCount() != before);
        QCOMPARE(pasteboard.string(), QStringLiteral("inside"));
        // Nobody can be seen fetching, so nobody is waited for.
        QVERIFY(pasteboard.contentsFetchedSinceLastWrite());
        QVERIFY(pasteboard.writeItems({{{QStringLiteral("text/html"), "<b>x</b>"}}}));
        QCOMPARE(pasteboard.itemTypes(), QList<QStringList> {{QStringLiteral("text/html")}});
        QCOMPARE(pasteboard.string(), std::nullopt);
        QVERIFY(pasteboard.writeItems({}));
        QVERIFY(pasteboard.itemTypes().isEmpty());
    }

    void failedHandlerInstallationIsRetriedAtTheNextRegistration()
    {
        m_service->failHandlerInstalls(1, -1);
        add(commandShiftE, QStringLiteral("a"));
        QVERIFY(!SystemHotkeys::isEventHandlerInstalled());
        QVERIFY(!m_service->hasHandler());
        // The key is registered all the same, only nobody hears it yet.
        QVERIFY(m_service->isRegistered(1));
        QCOMPARE(m_service->press(1), HotKeyService::eventNotHandledErr);

        add(controlK, QStringLiteral("b"));
        QVERIFY(SystemHotkeys::isEventHandlerInstalled());
        QVERIFY(m_service->isListening());
        add(commandOptionE, QStringLiteral("c"));
        QCOMPARE(m_service->handlerInstalls(), 1);
        QCOMPARE(m_service->press(1), HotKeyService::noErr);
        QCOMPARE(m_log, QStringList {QStringLiteral("a down 14")});
    }

    void eventsThatAreNotOursAreNotHandled()
    {
        add(commandShiftE, QStringLiteral("a"));
        // A foreign signature, an unknown id, a raw key event.
        const HotKeyService::HotKeyEvent foreign[] = {{Kind(5), {0x41424344, 1}},
            {Kind(6), {SystemHotkeys::signature, 99}}, {Kind(1), {SystemHotkeys::signature, 1}}};
        for (const auto &event : foreign)
            QCOMPARE(m_service->deliver(event), HotKeyService::eventNotHandledErr);
        QVERIFY(m_log.isEmpty());
        QCOMPARE(m_service->deliver({Kind(5), {SystemHotkeys::signature, 1}}), HotKeyService::noErr);
        QCOMPARE(m_log.size(), 1);
    }

    void switchesSuspendAndRestoreUnderTheSameIds_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("menuOpen");
        QTest::addColumn<bool>("live");
        QTest::addColumn<bool>("listening");
        QTest::addColumn<bool>("monitor");
        QTest::newRow("enabled, no menu") << true << false << true << true << false;
        QTest::newRow("enabled, menu open") << true << true << false << false << true;
        QTest::newRow("disabled, no menu") << false << false << false << false << false;
        QTest::newRow("disabled, menu open") << false << true << false << false << false;
    }

    void switchesSuspendAndRestoreUnderTheSameIds()
    {
        QFETCH(bool, enabled);
        QFETCH(bool, menuOpen);
        QFETCH(bool, live);
        QFETCH(bool, listening);
        QFETCH(bool, monitor);
        add(commandShiftE, QStringLiteral("a"));
        add(controlK, QStringLiteral("b"));

        Hotkeys::setEnabled(enabled);
        if (menuOpen)
            openMenu();
        QCOMPARE(SystemHotkeys::hotKeyIds(), (QList<qint64> {1, 2}));
        QCOMPARE(SystemHotkeys::isLive(1), std::optional<bool>(live));
        QCOMPARE(SystemHotkeys::isLive(2), std::optional<bool>(live));
        QCOMPARE(m_service->registrations().size(), live ? 2 : 0);
        QCOMPARE(m_service->isListening(), listening);
        QCOMPARE(SystemHotkeys::isKeyEventMonitorRunning(), monitor);
        // A key registered while suspended stays free for other programs until the hot keys come back.
        add(commandOptionE, QStringLiteral("c"));
        QCOMPARE(SystemHotkeys::isLive(3), std::optional<bool>(live));
        QCOMPARE(m_service->registrations().size(), live ? 3 : 0);

        // Back to normal: the same ids come back, nothing new is handed out.
        closeMenu();
        Hotkeys::setEnabled(true);
        QCOMPARE(m_service->registrations().keys(), (QList<quint32> {1, 2, 3}));
        QCOMPARE(SystemHotkeys::lastHotKeyId(), 3);
        QVERIFY(m_service->isListening());
        QVERIFY(!SystemHotkeys::isKeyEventMonitorRunning());
        QCOMPARE(m_service->press(2), HotKeyService::noErr);
        QCOMPARE(m_log, QStringList {QStringLiteral("b down 40")});
        // Setting the current value changes nothing.
        m_service->clearLog();
        Hotkeys::setEnabled(true);
        QVERIFY(m_service->attempts().isEmpty() && m_service->unregisterCalls().isEmpty());
    }
};

QTEST_MAIN(TestHotkeys)
#include "tst_hotkeys.moc"
