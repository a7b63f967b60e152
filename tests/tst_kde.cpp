// The KDE services against a real KWin on a private session bus: kglobalaccel shortcuts fired by
// keys typed through fake input, keystrokes into a native Wayland Qt window, the grant that fake
// input needs, the window in front as a KWin script reports it, and the whole run of tarnwick.
#include "testlib/TestHttpServer.h"

#include "HeadlessKWin.h"
#include "TargetClient.h"
#include "TarnwickProcess.h"
#include "platform/KeyEncodings.h"
#include "platform/kde/FakeInputDevice.h"
#include "platform/kde/FakeInputKeystrokePoster.h"
#include "platform/kde/KGlobalAccelHotKeyService.h"
#include "platform/kde/KWinFrontWindow.h"
#include "platform/wayland/DataControl.h"
#include "platform/wayland/SeatKeymap.h"
#include "platform/wayland/WaylandConnection.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QKeyCombination>
#include <QTemporaryDir>
#include <QTest>

#include <QCoroTask>

#include <memory>

using Platform::HotKeyService;
using Platform::Kde::KGlobalAccelHotKeyService;
using Platform::Wayland::DataControl;

namespace {

// evdev codes of the keys the tests type.
constexpr int keyCtrl = 29, keyShift = 42, keyAlt = 56, keyE = 18, keyK = 37, keyX = 45;
// Carbon: K and Tab; Command (the Control key) with Option (Alt), and Option alone.
constexpr quint32 carbonK = 0x28, carbonTab = 0x30, carbonCommandOption = 0x900, carbonOption = 0x800;

int combined(Qt::KeyboardModifiers modifiers, Qt::Key key)
{
    return QKeyCombination(modifiers, key).toCombined();
}

// KDE's keys for the two combinations used here.
std::optional<int> qtKeys(quint32 carbonKeyCode, quint32 carbonModifiers)
{
    if (carbonKeyCode == carbonK && carbonModifiers == carbonCommandOption)
        return combined(Qt::ControlModifier | Qt::AltModifier, Qt::Key_K);
    if (carbonKeyCode == carbonTab && carbonModifiers == carbonOption)
        return combined(Qt::AltModifier, Qt::Key_Tab);
    return std::nullopt;
}

QDBusMessage kglobalaccel(const QString &path, const QString &interface, const QString &method)
{
    return QDBusMessage::createMethodCall(KGlobalAccelHotKeyService::serviceName(), path, interface, method);
}

// The actions KDE lists for our component now.
QStringList kdeActions()
{
    const QDBusMessage path = QDBusConnection::sessionBus().call(
        kglobalaccel(QStringLiteral("/kglobalaccel"), QStringLiteral("org.kde.KGlobalAccel"),
            QStringLiteral("getComponent"))
        << KGlobalAccelHotKeyService::componentName());
    if (path.type() != QDBusMessage::ReplyMessage)
        return {};
    const QDBusMessage names = QDBusConnection::sessionBus().call(
        kglobalaccel(qvariant_cast<QDBusObjectPath>(path.arguments().value(0)).path(),
            QStringLiteral("org.kde.kglobalaccel.Component"), QStringLiteral("shortcutNames")));
    QStringList actions = names.arguments().value(0).toStringList();
    actions.sort();
    return actions;
}

} // namespace

class TestKde : public QObject {
    Q_OBJECT

private:
    // Types on the test's own fake keyboard, as the user would: positive codes press, negative
    // ones release.
    void type(std::initializer_list<int> keys)
    {
        for (int key : keys)
            m_keyboard->key(quint32(std::abs(key)), key > 0);
        m_keyboard->flush();
    }

    HeadlessKWin m_kwin;
    std::unique_ptr<Platform::Wayland::WaylandConnection> m_connection;
    std::unique_ptr<Platform::Wayland::SeatKeymap> m_keymap;
    std::unique_ptr<Platform::Kde::FakeInputDevice> m_keyboard;
    TestX11::TargetClient m_target;

private Q_SLOTS:
    void initTestCase()
    {
        if (const QString problem = m_kwin.start(); !problem.isEmpty())
            QSKIP(qPrintable(problem));
        m_kwin.useFromThisProcess();
        m_connection = std::make_unique<Platform::Wayland::WaylandConnection>();
        QVERIFY(m_connection->isConnected());
        m_keymap = std::make_unique<Platform::Wayland::SeatKeymap>(*m_connection);
        // Without a desktop entry KWin does not offer fake input at all. (It keeps a grant for a
        // program once given, so this comes first.)
        QVERIFY(!Platform::Kde::FakeInputKeystrokePoster(*m_connection, *m_keymap).isProcessTrusted());
        m_kwin.grantFakeInput(QCoreApplication::applicationFilePath());
        m_keymap.reset();
        m_connection = std::make_unique<Platform::Wayland::WaylandConnection>();
        m_keymap = std::make_unique<Platform::Wayland::SeatKeymap>(*m_connection);
        m_keyboard = std::make_unique<Platform::Kde::FakeInputDevice>(
            *m_connection, QStringLiteral("tst_kde"), QStringLiteral("the user's keyboard"));
        QVERIFY(m_keyboard->isGranted());
        QVERIFY(m_target.start());
    }

    // Press and release come through kglobalaccel and the focused window never sees the keys; keys
    // KWin holds are refused; keys taken in Plasma's settings withdraw the hot key; nothing stays
    // registered.
    void shortcuts()
    {
        QList<HotKeyService::HotKeyEvent> events;
        QList<int> statuses;
        std::optional<std::pair<quint32, quint32>> stored;
        auto hotKeys
            = std::make_unique<KGlobalAccelHotKeyService>(QDBusConnection::sessionBus(), qtKeys, [&] {
                  return QList<Platform::Kde::NamedShortcut> {
                      {QStringLiteral("fixSelectedText"), QStringLiteral("Fix text"), stored}};
              });
        hotKeys->installEventHandler([&](const HotKeyService::HotKeyEvent &event) {
            events.append(event);
            return HotKeyService::noErr;
        });
        hotKeys->setHandlerListening(true);
        hotKeys->setStatusHandler([&](HotKeyService::HotKeyId id, int status) {
            QCOMPARE(id.id, 7u);
            statuses.append(status);
        });

        // Registered before it is stored, as a recorded shortcut is: it moves to its name later.
        QCOMPARE(hotKeys->registerHotKey(carbonK, carbonCommandOption, {1, 7}), HotKeyService::noErr);
        QCOMPARE(kdeActions(), QStringList {QStringLiteral("shortcut7")});
        stored = std::pair(carbonK, carbonCommandOption);
        hotKeys->refreshActionNames();
        QCOMPARE(kdeActions(), QStringList {QStringLiteral("fixSelectedText")});
        QCOMPARE(hotKeys->registerHotKey(carbonK, carbonCommandOption, {1, 7}), HotKeyService::paramErr);
        // KWin's own Alt+Tab.
        QVERIFY(hotKeys->isReserved(carbonTab, carbonOption));
        QVERIFY(!hotKeys->isReserved(carbonK, carbonCommandOption));
        QCOMPARE(
            hotKeys->registerHotKey(carbonTab, carbonOption, {1, 8}), HotKeyService::eventHotKeyExistsErr);
        QCOMPARE(kdeActions(), QStringList {QStringLiteral("fixSelectedText")});

        QVERIFY(m_target.clearKeys());
        type({keyCtrl, keyAlt, keyK});
        QTRY_COMPARE_WITH_TIMEOUT(events.size(), 1, 10000);
        type({-keyK, -keyAlt, -keyCtrl});
        QTRY_COMPARE_WITH_TIMEOUT(events.size(), 2, 10000);
        QCOMPARE(events[0].kind, HotKeyService::EventKind::hotKeyPressed);
        QCOMPARE(events[1].kind, HotKeyService::EventKind::hotKeyReleased);
        QCOMPARE(events[1].hotKeyId, (HotKeyService::HotKeyId {1, 7}));
        // A key typed afterwards marks where the shortcut's keys would be.
        type({keyX, -keyX});
        QTRY_COMPARE_WITH_TIMEOUT(m_target.keys(), QStringList {QStringLiteral("X")}, 10000);

        // Other keys given to the action in Plasma's settings withdraw the hot key; ours give it back.
        for (const int keys : {combined(Qt::ControlModifier | Qt::AltModifier, Qt::Key_J),
                 *qtKeys(carbonK, carbonCommandOption)}) {
            QDBusMessage change = kglobalaccel(QStringLiteral("/kglobalaccel"),
                QStringLiteral("org.kde.KGlobalAccel"), QStringLiteral("setForeignShortcut"));
            change << QStringList {KGlobalAccelHotKeyService::componentName(),
                QStringLiteral("fixSelectedText"), QString(), QString()}
                   << QVariant::fromValue(QList<int> {keys});
            QCOMPARE(QDBusConnection::sessionBus().call(change).type(), QDBusMessage::ReplyMessage);
        }
        QTRY_COMPARE_WITH_TIMEOUT(
            statuses, (QList<int> {HotKeyService::eventHotKeyExistsErr, HotKeyService::noErr}), 10000);

        // What is left when the service goes is seen at the end of the whole run.
        hotKeys->unregisterHotKey(7);
        QCOMPARE(kdeActions(), QStringList());
        // Free again: the focused window gets the keys.
        type({keyCtrl, keyAlt, keyK, -keyK, -keyAlt, -keyCtrl});
        QTRY_COMPARE_WITH_TIMEOUT(m_target.keys().value(1), QStringLiteral("Ctrl+Alt+K"), 10000);
        QCOMPARE(events.size(), 2);
    }

    // Command+C arrives as Ctrl+C although the user still holds Ctrl+Alt of the shortcut, and no
    // key stays down.
    void keystrokes()
    {
        Platform::Kde::FakeInputKeystrokePoster poster(*m_connection, *m_keymap);
        QVERIFY(poster.isProcessTrusted());
        QVERIFY(m_target.clearKeys());
        type({keyCtrl, keyAlt});
        QCoro::waitFor(poster.postKeystroke(Platform::MacKeyCode::c, Platform::AppKitModifier::command));
        type({keyX, -keyX});
        QTRY_COMPARE_WITH_TIMEOUT(
            m_target.keys(), (QStringList {QStringLiteral("Ctrl+C"), QStringLiteral("X")}), 10000);
        type({-keyAlt, -keyCtrl});
    }

    // The class of the window in front, as the script reports it (Konsole's is in the terminal
    // table).
    void frontWindow()
    {
        Platform::Kde::KWinFrontWindow front(QDBusConnection::sessionBus());
        QVERIFY(front.isWatching());
        QTRY_COMPARE_WITH_TIMEOUT(front.current().windowClass, QStringLiteral("tarnwick_x11target"), 10000);

        TestX11::TargetClient konsole;
        qputenv("TARNWICK_TARGET_APP_ID", "org.kde.konsole");
        const bool started = konsole.start();
        qunsetenv("TARNWICK_TARGET_APP_ID");
        QVERIFY(started);
        QTRY_COMPARE_WITH_TIMEOUT(front.current().windowClass, QStringLiteral("org.kde.konsole"), 10000);
        QVERIFY(front.current().id != 0);
    }

    // Run from where KWin grants nothing, tarnwick says what to do; installed, it corrects the
    // selection of a native window and gives the clipboard back.
    void wholeRun()
    {
        const auto diagnose = [] {
            QProcess process;
            process.start(QStringLiteral(TARNWICK_BINARY), {QStringLiteral("--diagnose")});
            return process.waitForFinished(30000) ? QString::fromUtf8(process.readAllStandardOutput())
                                                  : QString();
        };
        const QString ungranted = diagnose();
        for (const char *line :
            {"hot keys: kglobalaccel", "keystrokes: none", "KWin lets only an installed Tarnwick type",
                "clipboard: wlr data-control", "front window: KWin script"})
            QVERIFY2(ungranted.contains(QLatin1String(line)), qPrintable(ungranted));
        m_kwin.grantFakeInput(QStringLiteral(TARNWICK_BINARY));
        // KWin reads the new desktop entry a moment later.
        QTRY_VERIFY_WITH_TIMEOUT(diagnose().contains(QLatin1String("keystrokes: KWin fake input")), 20000);

        TestHttpServer backend;
        QVERIFY(backend.listen());
        backend.correctWith(TestWayland::corrected);
        QTemporaryDir home;
        TestWayland::TarnwickProcess tarnwick(QStringLiteral(TARNWICK_BINARY));
        QVERIFY2(tarnwick.start(backend.url(), home.path()), tarnwick.errors().constData());
        QTRY_COMPARE(kdeActions(),
            (QStringList {QStringLiteral("fixSelectedText"), QStringLiteral("formalizeSelectedText")}));

        DataControl selections(*m_connection);
        const Platform::PasteboardItem original {{QStringLiteral("text/plain;charset=utf-8"), "user's text"},
            {QStringLiteral("application/x-tarnwick-test"), QByteArray("\0\1\2\xff", 4)}};
        QVERIFY(selections.publish(DataControl::Selection::Clipboard, original));
        const QMap<QString, QByteArray> expectedClipboard {original[0], original[1]};
        QTRY_COMPARE(TestWayland::pasted(), expectedClipboard);

        QVERIFY(m_target.activate());
        const QString selection = QStringLiteral("teh quick brwon fox");
        QVERIFY(m_target.setText(QStringLiteral("before ") + selection + QStringLiteral(" after")));
        QVERIFY(m_target.select(7, 7 + int(selection.size())));
        QVERIFY(m_target.clearKeys());
        type({keyCtrl, keyShift, keyE, -keyE, -keyShift, -keyCtrl});

        QTRY_COMPARE_WITH_TIMEOUT(m_target.text(),
            QStringLiteral("before ") + TestWayland::corrected(selection) + QStringLiteral(" after"), 20000);
        QCOMPARE(backend.corrections().size(), 1);
        // The shortcut itself never reached the window.
        QCOMPARE(m_target.keys(), (QStringList {QStringLiteral("Ctrl+C"), QStringLiteral("Ctrl+V")}));
        QTRY_COMPARE_WITH_TIMEOUT(TestWayland::pasted(), expectedClipboard, 10000);
        tarnwick.stop();
        QCOMPARE(kdeActions(), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestKde)
#include "tst_kde.moc"
