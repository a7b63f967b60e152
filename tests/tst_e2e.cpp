// The whole product: the real tarnwick program in a real X server, a loopback correction backend,
// a front application with selected text in its own process, and the global shortcut pressed and
// released through XTest as a keyboard would.
#include "testlib/TestHttpServer.h"

#include "TargetClient.h"
#include "XTestDriver.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;
using TestX11::ClipboardView;
using TestX11::readClipboardWithXclip;

namespace {

using Formats = QList<QPair<QString, QByteArray>>;

// What the loopback backend makes of a text; the mode is seen in the request.
QString corrected(const QString &text)
{
    return QStringLiteral("Fixed: ") + text;
}

} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(m_driver.isConnected(), "needs an X server in DISPLAY");
        QVERIFY(m_home.isValid());
        QVERIFY(QDir(m_home.path()).mkpath(QStringLiteral("config")));
        QVERIFY(QDir(m_home.path()).mkpath(QStringLiteral("run")));
        QFile::setPermissions(m_home.filePath(QStringLiteral("run")),
            QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QVERIFY(m_backend.listen());

        // The user's clipboard lives in a third application; the target only types and pastes.
        QVERIFY(m_owner.start());
        QVERIFY(m_target.start());

        const bool grabbed = launchTarnwick();
        m_stderr += m_tarnwick.readAllStandardError();
        QVERIFY2(grabbed, m_stderr.constData());
    }

    void init()
    {
        m_driver.releaseAll();
        m_backend.correctWith(corrected);
        m_backend.clearRequests();
        QVERIFY(m_target.setPasteDelay(0));
        QVERIFY(m_owner.setClipboard(m_userClipboard));
        QVERIFY(m_target.activate());
        QTRY_VERIFY(m_target.hasFocus());
        QVERIFY(m_target.clearKeys());
    }

    void cleanup()
    {
        QVERIFY2(m_driver.pressedModifierKeys().isEmpty(), "a modifier was left pressed");
        m_driver.releaseAll();
        // Let the last run's restore and the panel settle before the next case.
        TestX11::spin(400ms);
    }

    void shortcutReplacesTheSelectionAndGivesTheClipboardBack_data()
    {
        QTest::addColumn<QList<quint8>>("modifiers");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("holdShiftAfterwards");
        QTest::addColumn<int>("pasteDelay"); // ms: a slow application pastes late
        const QList<quint8> controlShift {TestX11::keyControlL, TestX11::keyShiftL};
        QTest::newRow("Ctrl+Shift+E fixes") << controlShift << QStringLiteral("fix") << false << 0;
        QTest::newRow("Ctrl+Alt+E makes formal") << QList<quint8> {TestX11::keyControlL, TestX11::keyAltL}
                                                 << QStringLiteral("formal") << false << 0;
        QTest::newRow("user still holding Shift as the run starts")
            << controlShift << QStringLiteral("fix") << true << 0;
        QTest::newRow("a target that pastes late") << controlShift << QStringLiteral("fix") << false << 300;
    }
    void shortcutReplacesTheSelectionAndGivesTheClipboardBack()
    {
        QFETCH(QList<quint8>, modifiers);
        QFETCH(QString, mode);
        QFETCH(bool, holdShiftAfterwards);
        QFETCH(int, pasteDelay);
        QVERIFY(m_target.setPasteDelay(pasteDelay));

        const QString selection = QStringLiteral("teh quick brwon fox \u2014 d\u00e9j\u00e0 vu");
        QVERIFY(m_target.setText(QStringLiteral("before ") + selection + QStringLiteral(" after")));
        QVERIFY(m_target.select(7, 7 + int(selection.size())));
        const ClipboardView original = readClipboardWithXclip();
        QCOMPARE(original.bytes.value(QStringLiteral("image/png")), TestX11::samplePng());

        pressAndReleaseShortcut(modifiers, holdShiftAfterwards);

        const QString expected = QStringLiteral("before ") + corrected(selection) + QStringLiteral(" after");
        QTRY_COMPARE_WITH_TIMEOUT(m_target.text(), expected, 10000);
        if (holdShiftAfterwards)
            m_driver.release(TestX11::keyShiftL);
        QCOMPARE(m_target.keys(), (QStringList {QStringLiteral("Ctrl+C"), QStringLiteral("Ctrl+V")}));

        QCOMPARE(m_backend.corrections().size(), 1);
        const QJsonObject sent = QJsonDocument::fromJson(m_backend.corrections().first().body).object();
        QCOMPARE(sent.value(QStringLiteral("text")).toString(), selection);
        QCOMPARE(sent.value(QStringLiteral("mode")).toString(), mode);

        QVERIFY(waitForClipboard(original));
        QVERIFY(m_target.hasFocus());
        QVERIFY(waitForTrace("idle"));
        QCOMPARE(tracedPhasesOfLastRun(),
            (QStringList {QStringLiteral("release seen"), QStringLiteral("copy posted"),
                QStringLiteral("copy seen"), QStringLiteral("request sent"), QStringLiteral("reply"),
                QStringLiteral("paste posted"), QStringLiteral("paste fetched"),
                QStringLiteral("clipboard restored"), QStringLiteral("idle")}));
    }

    // With nothing selected the copy changes nothing: the clipboard stays with its owner, so it is
    // still there after Tarnwick quits. A logout's SIGTERM ends the program the normal way: it lets
    // go of its keys and its lock, so the next start takes over at once.
    void nothingSelectedLeavesTheClipboardWithItsOwner()
    {
        QVERIFY(m_target.setText(QStringLiteral("nothing selected here")));
        QVERIFY(m_target.select(3, 3));
        const ClipboardView original = readClipboardWithXclip();
        pressAndReleaseShortcut({TestX11::keyControlL, TestX11::keyShiftL}, false);
        QVERIFY(waitForTrace("clipboard left alone"));
        QVERIFY(m_backend.requests().isEmpty());
        // Quitting in the middle of a run is another case: here the run is over.
        QVERIFY(waitForTrace("idle"));

        m_tarnwick.terminate();
        QVERIFY(m_tarnwick.waitForFinished(5000));
        QCOMPARE(m_tarnwick.exitStatus(), QProcess::NormalExit);
        m_stderr += m_tarnwick.readAllStandardError();
        QVERIFY2(m_tarnwick.exitCode() == 0, m_stderr.right(4000).constData());
        QVERIFY(!m_driver.isKeyGrabbedByAnother(TestX11::keyE, TestX11::controlMask | TestX11::shiftMask));
        const ClipboardView after = readClipboardWithXclip();
        QCOMPARE(after.targets, original.targets);
        QCOMPARE(after.bytes, original.bytes);
        QVERIFY(launchTarnwick());
    }

    // Last: it replaces the running program with one that talks to the reference backend.
    void withTheReferenceBackend()
    {
#ifndef TARNWICK_BACKEND_BINARY
        QSKIP("the reference backend is not part of this build");
#else
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const quint16 port = probe.serverPort();
        probe.close();
        QProcess backend;
        backend.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        backend.start(QStringLiteral(TARNWICK_BACKEND_BINARY),
            {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:%1").arg(port)});
        QVERIFY(backend.waitForStarted(5000));
        QTRY_VERIFY_WITH_TIMEOUT(isListening(port), 10000);

        // Killed, it leaves its lock behind; the next start sees that no process holds it.
        m_tarnwick.kill();
        QVERIFY(m_tarnwick.waitForFinished(5000));
        QVERIFY(launchTarnwick(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port))));

        QVERIFY(m_target.setText(QStringLiteral("teh quick brwon fox jumps")));
        const ClipboardView original = readClipboardWithXclip();
        pressAndReleaseShortcut({TestX11::keyControlL, TestX11::keyShiftL}, false);
        QTRY_COMPARE_WITH_TIMEOUT(m_target.text(), QStringLiteral("the quick brown fox jumps"), 10000);
        QVERIFY(waitForClipboard(original));

        backend.terminate();
        backend.waitForFinished(5000);
#endif
    }

    void cleanupTestCase()
    {
        if (m_tarnwick.state() != QProcess::NotRunning) {
            m_tarnwick.terminate();
            if (!m_tarnwick.waitForFinished(5000))
                m_tarnwick.kill();
            m_tarnwick.waitForFinished(2000);
        }
        m_driver.releaseAll();
    }

private:
    static bool isListening(quint16 port)
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        return socket.waitForConnected(200);
    }

    // Starts the program as m_tarnwick and waits until it holds both shortcuts. Our probe grabs
    // each combination for a moment; when that coincides with the program's own grab as it
    // starts, the X server refuses the program's and it reports the shortcut as taken. Such a
    // start is tried again.
    bool launchTarnwick(std::optional<QUrl> backendUrl = std::nullopt)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QUARVEL_BACKEND_URL"), backendUrl.value_or(m_backend.url()).toString());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.filePath(QStringLiteral("run")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("TARNWICK_TRACE"), QStringLiteral("1"));
        m_tarnwick.setProcessEnvironment(env);
        for (int attempt = 0; attempt < 3; ++attempt) {
            m_tarnwick.start(QStringLiteral(TARNWICK_BINARY), {});
            if (!m_tarnwick.waitForStarted(5000))
                return false;
            QByteArray output;
            const QDeadlineTimer deadline(15s);
            while (!deadline.hasExpired() && m_tarnwick.state() == QProcess::Running) {
                if (m_driver.isKeyGrabbedByAnother(TestX11::keyE, TestX11::controlMask | TestX11::shiftMask)
                    && m_driver.isKeyGrabbedByAnother(
                        TestX11::keyE, TestX11::controlMask | TestX11::mod1Mask))
                    return true;
                output += m_tarnwick.readAllStandardOutput();
                if (output.contains("Error registering hotkey"))
                    break;
                TestX11::spin(50ms);
            }
            if (!output.contains("Error registering hotkey"))
                return false;
            qWarning(
                "start %d: a shortcut was refused (%s); starting again", attempt + 1, output.constData());
            m_tarnwick.terminate();
            if (!m_tarnwick.waitForFinished(5000))
                m_tarnwick.kill();
            m_tarnwick.waitForFinished(2000);
        }
        return false;
    }

    void pressAndReleaseShortcut(const QList<quint8> &modifiers, bool holdShiftAfterwards)
    {
        m_stderr += m_tarnwick.readAllStandardError();
        m_runTraceStart = m_stderr.size();
        QVERIFY(m_target.clearKeys());
        for (quint8 key : modifiers)
            m_driver.press(key);
        m_driver.press(TestX11::keyE);
        TestX11::spin(30ms);
        m_driver.release(TestX11::keyE);
        // People lift the modifiers a moment after the letter, sometimes much later.
        for (quint8 key : modifiers) {
            if (!(holdShiftAfterwards && key == TestX11::keyShiftL))
                m_driver.release(key);
        }
    }

    // Waits until the running program has written the trace line of `phase` since the shortcut
    // was last pressed.
    bool waitForTrace(const char *phase)
    {
        const QDeadlineTimer deadline(10s);
        while (!tracedPhasesOfLastRun().contains(QLatin1String(phase))) {
            if (deadline.hasExpired()) {
                qWarning("no trace of \"%s\": %s", phase, m_stderr.constData());
                return false;
            }
            TestX11::spin(20ms);
        }
        return true;
    }

    // The phases traced since the shortcut was last pressed, in order.
    QStringList tracedPhasesOfLastRun()
    {
        m_stderr += m_tarnwick.readAllStandardError();
        QStringList phases;
        for (const QByteArray &line : m_stderr.mid(m_runTraceStart).split('\n')) {
            if (line.startsWith("tarnwick-trace "))
                phases.append(QString::fromUtf8(line.mid(line.indexOf(' ', 15) + 1)));
        }
        return phases;
    }

    bool waitForClipboard(const ClipboardView &expected)
    {
        const QDeadlineTimer deadline(10s);
        ClipboardView now;
        while (!deadline.hasExpired()) {
            now = readClipboardWithXclip();
            if (now.targets == expected.targets && now.bytes == expected.bytes)
                return true;
            TestX11::spin(100ms);
        }
        qWarning("clipboard not given back: %s", qPrintable(now.targets.join(QLatin1Char(' '))));
        return false;
    }

    const Formats m_userClipboard {{QStringLiteral("text/plain"), QByteArrayLiteral("the user's own text")},
        {QStringLiteral("text/html"), QByteArrayLiteral("<p>the user's <b>own</b> text</p>")},
        {QStringLiteral("image/png"), TestX11::samplePng()}};
    QTemporaryDir m_home;
    TestHttpServer m_backend;
    TestX11::XTestDriver m_driver;
    TestX11::TargetClient m_owner;
    TestX11::TargetClient m_target;
    QProcess m_tarnwick;
    QByteArray m_stderr;
    qsizetype m_runTraceStart = 0;
};

QTEST_MAIN(TestEndToEnd)
#include "tst_e2e.moc"
