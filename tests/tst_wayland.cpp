// The whole product on a wlroots compositor: the real tarnwick program under a headless sway, a
// loopback correction backend, native Wayland windows (Qt and GTK) with selected text, the
// shortcut typed on a virtual keyboard as a keyboard would, and the clipboard read by wl-paste.
#include "testlib/TestHttpServer.h"

#include "HeadlessSway.h"
#include "TarnwickProcess.h"
#include "TargetClient.h"
#include "platform/wayland/DataControl.h"
#include "platform/wayland/WaylandConnection.h"
#include "platform/wayland/WaylandSelections.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace std::chrono_literals;
using namespace TestWayland;
using Platform::Wayland::DataControl;

namespace {

const QByteArray swayConfig = "xwayland disable\noutput HEADLESS-1 resolution 1280x720\n";
// The user's own binding of Ctrl+Alt+E, the default shortcut for "Make formal".
const QByteArray userBinding = "bindsym Ctrl+Mod1+e exec touch \"$XDG_RUNTIME_DIR/user-binding-ran\"\n";

} // namespace

class TestWaylandSession : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        const QString unavailable = HeadlessSway::unavailableReason();
        if (!unavailable.isEmpty())
            QSKIP(qPrintable(unavailable));
        QString error;
        QVERIFY2(m_sway.start(swayConfig + userBinding, &error), qPrintable(error));
        m_sway.useFromThisProcess();
        m_keyboard = std::make_unique<Keyboard>();
        QVERIFY(m_keyboard->isReady());
        m_connection = std::make_unique<Platform::Wayland::WaylandConnection>();
        m_selections = std::make_unique<DataControl>(*m_connection);
        QVERIFY(m_selections->isAvailable(DataControl::Selection::Primary));
        QVERIFY(m_backend.listen());
        m_backend.correctWith(corrected);
        QVERIFY(m_home.isValid());
        QVERIFY2(m_tarnwick.start(m_backend.url(), m_home.path()), m_tarnwick.errors().constData());
    }

    void init() { m_backend.clearRequests(); }

    void changesReadInOneBatchCallOnlyTheCurrentObserver()
    {
        Platform::Wayland::WaylandConnection connection;
        DataControl selections(connection);
        Platform::Wayland::DataControlPasteboard pasteboard(selections);
        int calls = 0;
        // As a run waiting for the copy does: the first change ends the wait and its observer.
        pasteboard.setChangeObserver([&] {
            ++calls;
            pasteboard.setChangeObserver({});
        });
        for (const QByteArray &text : {QByteArray("first"), QByteArray("second")})
            QVERIFY(m_selections->publish(
                DataControl::Selection::Clipboard, {{QStringLiteral("text/plain"), text}}));
        QVERIFY(connection.roundtrip()); // both selections read at once
        bool queueRan = false; // queued after the calls for both changes
        QMetaObject::invokeMethod(
            this, [&] { queueRan = true; }, Qt::QueuedConnection);
        QTRY_VERIFY(queueRan);
        QCOMPARE(calls, 1);
    }

    void shortcutCorrectsTheSelectionAndGivesTheClipboardBack_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("reload"); // sway reloads its configuration first
        QTest::newRow("native Qt window") << QString() << QStringList() << false;
        // Debian's own Python, which has the GTK bindings; not one that PATH may put first.
        QTest::newRow("native GTK window") << QStringLiteral("/usr/bin/python3")
                                           << QStringList {QStringLiteral(TARNWICK_GTK_TARGET)} << false;
        QTest::newRow("after sway reloaded") << QString() << QStringList() << true;
    }
    void shortcutCorrectsTheSelectionAndGivesTheClipboardBack()
    {
        QFETCH(QString, program);
        QFETCH(QStringList, arguments);
        QFETCH(bool, reload);
        if (!program.isEmpty()
            && QProcess::execute(program,
                   {QStringLiteral("-c"), QStringLiteral("import gi; gi.require_version('Gtk', '3.0')")})
                != 0)
            QSKIP("GTK 3 for Python is not installed (scripts/setup.sh installs it)");
        TestX11::TargetClient target;
        QVERIFY(startTarget(target, program, arguments));

        // A third client's clipboard in several formats, some binary.
        const Platform::PasteboardItem original {{QStringLiteral("text/plain;charset=utf-8"), "user's text"},
            {QStringLiteral("text/html"), "<b>user's</b> text"},
            {QStringLiteral("image/png"), TestX11::samplePng()},
            {QStringLiteral("application/x-tarnwick-test"), QByteArray("\0\1\2\xff", 4)}};
        QVERIFY(m_selections->publish(DataControl::Selection::Clipboard, original));
        QMap<QString, QByteArray> expectedClipboard;
        for (const auto &[type, bytes] : original)
            expectedClipboard.insert(type, bytes);
        QCOMPARE(pasted(), expectedClipboard);

        const QString selection = QStringLiteral("teh quick brwon fox \u2014 d\u00e9j\u00e0 vu");
        QVERIFY(target.setText(QStringLiteral("before ") + selection + QStringLiteral(" after")));
        QVERIFY(target.select(7, 7 + int(selection.size())));
        QVERIFY(target.clearKeys());

        if (reload) {
            QVERIFY(m_sway.command(QStringLiteral("reload")).contains("true"));
            // The reload drops run-time bindings; until tarnwick has bound them again the keys
            // reach the window.
            QTRY_VERIFY_WITH_TIMEOUT(
                [&] {
                    if (m_backend.corrections().isEmpty())
                        m_keyboard->chord({keyLeftCtrl, keyLeftShift, keyE});
                    return !m_backend.corrections().isEmpty();
                }(),
                15000);
        } else {
            m_keyboard->chord({keyLeftCtrl, keyLeftShift, keyE});
        }

        const QString expected = QStringLiteral("before ") + corrected(selection) + QStringLiteral(" after");
        QTRY_COMPARE_WITH_TIMEOUT(target.text(), expected, 15000);
        QCOMPARE(m_backend.corrections().size(), 1);
        QCOMPARE(QJsonDocument::fromJson(m_backend.corrections().first().body)
                     .object()
                     .value(QStringLiteral("text")),
            selection);
        // The shortcut itself never reached the window once bound: sway took the press.
        QStringList keys = target.keys();
        if (reload)
            keys.removeAll(QStringLiteral("Ctrl+Shift+E"));
        QCOMPARE(keys, (QStringList {QStringLiteral("Ctrl+C"), QStringLiteral("Ctrl+V")}));
        QTRY_COMPARE_WITH_TIMEOUT(pasted(), expectedClipboard, 10000);
    }

    void aTerminalIsRecognisedByItsAppId()
    {
        TestX11::TargetClient terminal;
        qputenv("TARNWICK_TARGET_APP_ID", "foot");
        const bool started = startTarget(terminal, {}, {});
        qunsetenv("TARNWICK_TARGET_APP_ID");
        QVERIFY(started);
        QVERIFY(terminal.setText(QStringLiteral("$ echo teh")));
        // Wayland lets a client take a selection only in answer to an input event of the user's: the
        // key must have reached the terminal before it asks.
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                m_keyboard->chord({keyLeftShift});
                terminal.command("primary " + QByteArray("teh").toBase64());
                return pasted(true).value(QStringLiteral("text/plain;charset=utf-8")) == "teh";
            }(),
            10000);
        QVERIFY(terminal.clearKeys());

        m_keyboard->chord({keyLeftCtrl, keyLeftShift, keyE});

        QTRY_COMPARE_WITH_TIMEOUT(pasted(true).value(QStringLiteral("text/plain;charset=utf-8")),
            corrected(QStringLiteral("teh")).toUtf8(), 15000);
        QCOMPARE(pasted().value(QStringLiteral("text/plain;charset=utf-8")),
            corrected(QStringLiteral("teh")).toUtf8());
        QCOMPARE(m_backend.corrections().size(), 1);
        // No copy keystroke: in a terminal Ctrl+C interrupts the program.
        QCOMPARE(terminal.keys(), QStringList());
        QCOMPARE(terminal.text(), QStringLiteral("$ echo teh"));
    }

    void aBindingOfTheUsersConfigurationIsLeftAlone()
    {
        m_keyboard->chord({keyLeftCtrl, keyLeftAlt, keyE});
        QTRY_VERIFY_WITH_TIMEOUT(
            QFile::exists(m_sway.runtimeDirectory() + QStringLiteral("/user-binding-ran")), 10000);
        QVERIFY2(m_tarnwick.output().contains("Error registering hotkey"), m_tarnwick.output().constData());
        QVERIFY(m_tarnwick.errors().contains("bound in the sway configuration"));
        QVERIFY(m_backend.corrections().isEmpty());
    }

    void withXWaylandThePanelShowsWithoutTakingTheFocus()
    {
        HeadlessSway sway;
        QString error;
        QVERIFY2(sway.start("xwayland force\n", &error), qPrintable(error));
        sway.useFromThisProcess();
        const auto back = qScopeGuard([this] {
            m_backend.correctWith(corrected);
            m_sway.useFromThisProcess();
        });
        const QString xDisplay = sway.xwaylandDisplay();
        QVERIFY2(!xDisplay.isEmpty(), "sway started no XWayland");
        QTemporaryDir home;
        QVERIFY(::chown(home.path().toLocal8Bit().constData(), 65534, 65534) == 0);
        TarnwickProcess tarnwick(QStringLiteral(TARNWICK_BINARY));
        QVERIFY2(tarnwick.start(m_backend.url(), home.path(), xDisplay), tarnwick.errors().constData());
        Keyboard keyboard;
        TestX11::TargetClient target;
        QVERIFY(startTarget(target, {}, {}));
        QVERIFY(target.setText(QStringLiteral("panel shown")));
        m_backend.setReply(TestHttpServer::Reply::neverAnswer());
        keyboard.chord({keyLeftCtrl, keyLeftShift, keyE});
        QTRY_VERIFY2_WITH_TIMEOUT(m_backend.waitingCount() == 1,
            (tarnwick.errors() + tarnwick.output() + " connections "
                + QByteArray::number(m_backend.connectionCount()) + " requests "
                + QByteArray::number(m_backend.requests().size()))
                .constData(),
            15000);
        // The panel is the one viewable window of ours (Qt's leader and selection windows never map).
        const TestX11::ToolResult panels = TestX11::runTool(QStringLiteral("setpriv"),
            {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                QStringLiteral("--clear-groups"), QStringLiteral("env"),
                QStringLiteral("DISPLAY=") + xDisplay, QStringLiteral("xdotool"), QStringLiteral("search"),
                QStringLiteral("--onlyvisible"), QStringLiteral("--classname"),
                QStringLiteral("^tarnwick$")});
        QCOMPARE(panels.out.trimmed().split('\n').size(), 1);
        QVERIFY(!panels.out.trimmed().isEmpty());
        QVERIFY(target.hasFocus());
        m_backend.answerWaiting(TestHttpServer::Reply::corrected(QStringLiteral("answered")));
        QTRY_COMPARE_WITH_TIMEOUT(target.text(), QStringLiteral("answered"), 15000);
    }

    void theBindingsGoAtQuit()
    {
        TestX11::TargetClient target;
        QVERIFY(startTarget(target, {}, {}));
        QVERIFY(target.clearKeys());
        m_tarnwick.stop();
        m_keyboard->chord({keyLeftCtrl, keyLeftShift, keyE});
        QTRY_COMPARE(target.keys(), QStringList {QStringLiteral("Ctrl+Shift+E")});
    }

private:
    bool startTarget(TestX11::TargetClient &target, const QString &program, const QStringList &arguments)
    {
        qputenv("QT_QPA_PLATFORM", "wayland");
        qputenv("GDK_BACKEND", "wayland");
        const bool started = target.start(program, arguments);
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return started;
    }

    HeadlessSway m_sway;
    std::unique_ptr<Keyboard> m_keyboard;
    std::unique_ptr<Platform::Wayland::WaylandConnection> m_connection;
    std::unique_ptr<DataControl> m_selections;
    TestHttpServer m_backend;
    QTemporaryDir m_home;
    TarnwickProcess m_tarnwick {QStringLiteral(TARNWICK_BINARY)};
};

QTEST_MAIN(TestWaylandSession)
#include "tst_wayland.moc"
