// The terminal mode against a real xterm under X: a program that an interrupt would stop runs in
// it, the user's selection is made with the mouse, and the real front-window, selection,
// clipboard and XTest services do the run.
#include "TargetClient.h"
#include "app/TextProcessor.h"
#include "platform/fake/FakeAccessibilityTrust.h"
#include "platform/fake/FakeDesktopNotifier.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/MemoryUserDefaults.h"
#include "platform/x11/X11FrontWindow.h"
#include "platform/x11/X11KeystrokePoster.h"
#include "platform/x11/X11Pasteboard.h"
#include "platform/x11/X11PrimarySelection.h"
#include "testlib/TaskResult.h"
#include "testlib/TestHttpServer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using Reply = TestHttpServer::Reply;

namespace {

const QString selectedLine = QStringLiteral("Ths is a tset");
const QString correctedLine = QStringLiteral("This is a test");

QString fileText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QStringLiteral("<missing>");
}

} // namespace

class TestTerminalX11 : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    TestX11::Xterm m_xterm;
    qint64 m_programPid = 0;

    QString outputPath() const { return m_dir.filePath(QStringLiteral("typed")); }

    // Whether the program started in the terminal is still the one running there.
    bool programRunning() const
    {
        if (m_programPid <= 0 || ::kill(pid_t(m_programPid), 0) != 0)
            return false;
        QFile comm(QStringLiteral("/proc/%1/comm").arg(m_programPid));
        return comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "cat";
    }

    struct Rig {
        Platform::ManualClock clock;
        Platform::FakeAccessibilityTrust trust {true};
        Platform::MemoryUserDefaults defaults;
        Platform::FakeDesktopNotifier notifier;
        Platform::X11::X11Pasteboard pasteboard;
        Platform::X11::X11KeystrokePoster keys {clock};
        Platform::X11::X11FrontWindow frontWindow;
        Platform::X11::X11PrimarySelection primary;
        QNetworkAccessManager session;
        TestHttpServer server;
        std::unique_ptr<TextProcessor> processor;

        Rig()
        {
            if (!server.listen())
                qFatal("cannot listen on 127.0.0.1");
            server.setReply(Reply::corrected(correctedLine));
            processor = std::make_unique<TextProcessor>(
                APIClient(server.url(), &session), pasteboard, keys, trust, defaults, clock);
            processor->setTerminalServices(frontWindow, primary, notifier);
        }

        // Runs the event loop, the network and virtual time until the run is over.
        bool run()
        {
            const std::shared_ptr<bool> done = TestLib::track(processor->run(FixMode::Fix));
            QElapsedTimer real;
            real.start();
            while (!*done && real.elapsed() < 20000) {
                // Real time for the X server, the terminal and the backend to answer.
                QTest::qWait(2);
                if (processor->state() == TextProcessorState::requesting())
                    continue;
                if (const auto next = clock.nextDue())
                    clock.advance(std::min(*next - clock.now(), Platform::Clock::Duration(10)));
            }
            return *done;
        }
    };

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        const QString pidPath = m_dir.filePath(QStringLiteral("pid"));
        // cat reads the terminal without line buffering, so anything typed reaches the file at
        // once; an interrupt (Ctrl+C) ends it, and with it the terminal.
        const QString script = QStringLiteral("echo $$ > '%1'; printf '%2\\n'; stty -icanon -echo min 1; "
                                              "exec cat > '%3'")
                                   .arg(pidPath, selectedLine, outputPath());
        QVERIFY2(m_xterm.start(script), "xterm's window did not appear");
        QTRY_VERIFY(QFile::exists(outputPath()));
        m_programPid = fileText(pidPath).trimmed().toLongLong();
        QTRY_VERIFY(programRunning());
    }

    void init()
    {
        QVERIFY2(programRunning(), "the program in the terminal has stopped");
        QFile::resize(outputPath(), 0);
    }

    // The default: nothing reaches the terminal; the corrected text waits on both selections.
    // "Paste in terminals": Shift+Insert types it at the cursor, and the user's clipboard comes back.
    void correctsTheTerminalSelection_data()
    {
        QTest::addColumn<bool>("paste");
        QTest::newRow("without typing into it") << false;
        QTest::newRow("pasting with Shift+Insert") << true;
    }
    void correctsTheTerminalSelection()
    {
        QFETCH(bool, paste);
        Rig rig;
        if (paste)
            rig.defaults.setValue(TextProcessor::pasteInTerminalsKey(), true);
        const QString usersClipboard = QStringLiteral("the user's clipboard");
        rig.pasteboard.writeItems({{{Platform::plainTextType(), usersClipboard.toUtf8()}}});
        QVERIFY(m_xterm.selectLine(selectedLine));
        QCOMPARE(rig.frontWindow.current().windowClass, QStringLiteral("XTerm"));

        QVERIFY(rig.run());
        QCOMPARE(rig.processor->lastError(), std::nullopt);
        QCOMPARE(rig.processor->state(), TextProcessorState::idle());
        if (paste) {
            QTRY_COMPARE(fileText(outputPath()), correctedLine);
        } else {
            QTest::qWait(200); // time for anything wrongly typed to arrive
            QCOMPARE(fileText(outputPath()), QString());
        }
        QVERIFY2(programRunning(), "the program in the terminal was interrupted");
        QCOMPARE(m_xterm.process().state(), QProcess::Running);
        QCOMPARE(rig.server.requests().size(), 1);
        const QJsonObject sent = QJsonDocument::fromJson(rig.server.requests().first().body).object();
        QCOMPARE(sent.value(QLatin1String("text")).toString().trimmed(), selectedLine);
        QCOMPARE(TestX11::selectionText(QStringLiteral("primary")), correctedLine);
        QCOMPARE(TestX11::selectionText(QStringLiteral("clipboard")), paste ? usersClipboard : correctedLine);
        QCOMPARE(rig.notifier.shown().size(), paste ? 0 : 1);
    }
};

QTEST_MAIN(TestTerminalX11)
#include "tst_terminal_x11.moc"
