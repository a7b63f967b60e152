// The tarnwick-backend executable as a child process: its command line, start-up failures,
// serving with the user's configuration, shutdown on signals, and the API key kept out of its
// output.

#include "BackendTestSupport.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace BackendTest;

namespace {

// A backend started with a private configuration directory, holding `configFile` and
// `allowedWords` when they are given, and no upstream settings but `env`.
class BackendProcess {
public:
    BackendProcess(const QStringList &arguments, const QStringList &env = {},
        const QByteArray &configFile = {}, const QByteArray &allowedWords = {})
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const QString &name : environment.keys())
            if (name.startsWith(QLatin1String("TARNWICK_OPENAI_")))
                environment.remove(name);
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.path());
        for (const QString &entry : env)
            environment.insert(entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1));
        // Written before the start: the backend reads them once, as it starts.
        write(QStringLiteral("backend.conf"), configFile);
        write(QStringLiteral("allowed-words.txt"), allowedWords);
        m_process.setProcessEnvironment(environment);
        m_process.start(QStringLiteral(TARNWICK_BACKEND_EXECUTABLE), arguments);
    }
    ~BackendProcess()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    // Writes a file of the user's configuration directory (none when `contents` is empty).
    void write(const QString &name, const QByteArray &contents)
    {
        QDir(m_home.path()).mkpath(QStringLiteral("tarnwick"));
        QFile file(m_home.filePath(QStringLiteral("tarnwick/") + name));
        if (!contents.isEmpty() && file.open(QIODevice::WriteOnly))
            file.write(contents);
    }

    // The port from the start-up line, or 0 if the process did not get that far in 15 s.
    int waitUntilListening()
    {
        static const QRegularExpression line(QStringLiteral("listening on http://127\\.0\\.0\\.1:(\\d+) "));
        for (QDeadlineTimer deadline(15000); !deadline.hasExpired(); m_process.waitForReadyRead(100)) {
            const auto match = line.match(standardError());
            if (match.hasMatch())
                return match.captured(1).toInt();
            if (m_process.state() == QProcess::NotRunning)
                return 0;
        }
        return 0;
    }
    // Sends `signal` and waits for a normal exit; returns its code, or -1.
    int stop(int signal = SIGTERM)
    {
        ::kill(static_cast<pid_t>(m_process.processId()), signal);
        const bool exited
            = m_process.waitForFinished(10000) && m_process.exitStatus() == QProcess::NormalExit;
        return exited ? m_process.exitCode() : -1;
    }
    QString standardError()
    {
        m_stderr += m_process.readAllStandardError();
        return QString::fromUtf8(m_stderr);
    }
    QProcess &process() { return m_process; }

private:
    QTemporaryDir m_home;
    QProcess m_process;
    QByteArray m_stderr;
};

std::pair<int, json> fixText(int port, const std::string &text, const httplib::Headers &headers = {})
{
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(30);
    auto result = client.Post(
        "/api/fix-text", headers, json({{"text", text}, {"mode", "fix"}}).dump(), "application/json");
    return result ? std::pair(result->status, parse(result->body)) : std::pair(-1, json::object());
}

} // namespace

class TestBackendProcess : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void exitsAtOnce_data()
    {
        QTest::addColumn<QStringList>("arguments"); // %1 is a port in use
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<QByteArray>("configFile");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        const auto row = [](const char *name, const char *arguments, const char *message,
                             const char *env = "", const QByteArray &file = {}, int exitCode = 2) {
            const auto split = [](const char *s) {
                return QString::fromUtf8(s).split(QLatin1Char(' '), Qt::SkipEmptyParts);
            };
            QTest::newRow(name) << split(arguments) << split(env) << file << exitCode
                                << QString::fromUtf8(message);
        };
        row("help", "--help", "--allow-origin ORIGIN", "", {}, 0);
        row("correct standard input", "--correct formal --budget 1", "\nI do not want to go\n", "", {}, 0);
        row("listen without port", "--listen 127.0.0.1", "--listen expects HOST:PORT");
        row("port out of range", "--listen=127.0.0.1:70000", "port from 0 to 65535");
        row("listen without value", "--listen", "--listen needs a value");
        row("threads", "--threads 0", "--threads expects a number");
        row("budget of nothing", "--budget 0", "--budget expects a number of CPU seconds above 0");
        row("any origin", "--allow-origin *", "--allow-origin expects an origin such as https://example.com");
        row("null origin", "--allow-origin null", "got \"null\"");
        row("origin with a path", "--allow-origin https://notes.example/app",
            "--allow-origin expects an origin");
        row("unknown option", "--verbose", "unknown argument \"--verbose\"");
        row("all interfaces", "--listen 0.0.0.0:0", "not a loopback address");
        row("port in use", "--listen 127.0.0.1:%1",
            "cannot listen on 127.0.0.1:%1: the port is already in use", "", {}, 1);
        row("upstream url", "", "upstream URL must start with http:// or https://",
            "TARNWICK_OPENAI_URL=ftp://x");
        row("upstream timeout", "", "upstream timeout must be a number of seconds",
            "TARNWICK_OPENAI_URL=http://127.0.0.1:1 TARNWICK_OPENAI_TIMEOUT=soon");
        row("config file key", "", "backend.conf:2: unknown key \"openai_uri\"", "",
            "# settings\nopenai_uri = http://x\n");
        row("config file line", "", "backend.conf:1: expected \"key = value\"", "", "openai_url http://x\n");
    }

    void exitsAtOnce()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, environment);
        QFETCH(QByteArray, configFile);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QTcpServer occupant;
        QVERIFY(occupant.listen(QHostAddress::LocalHost, 0));
        arguments.replaceInStrings(QStringLiteral("%1"), QString::number(occupant.serverPort()));
        BackendProcess backend(arguments, environment, configFile);
        backend.process().write("i dont wanna go\n");
        backend.process().closeWriteChannel();
        QVERIFY(backend.process().waitForFinished(10000));
        QCOMPARE(backend.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(backend.process().exitCode(), exitCode);
        message.replace(QStringLiteral("%1"), QString::number(occupant.serverPort()));
        const QString output = backend.standardError() + QLatin1Char('\n')
            + QString::fromUtf8(backend.process().readAllStandardOutput());
        QVERIFY2(output.contains(message), qPrintable(output));
    }

    void servesWithItsOptionsAndStopsOnSignal_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<QString>("signalName");
        QTest::newRow("SIGTERM") << int(SIGTERM) << "SIGTERM";
        QTest::newRow("SIGINT") << int(SIGINT) << "SIGINT";
    }

    void servesWithItsOptionsAndStopsOnSignal()
    {
        QFETCH(int, signalNumber);
        QFETCH(QString, signalName);
        BackendProcess backend(
            {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--budget"),
                QStringLiteral("0.2"), QStringLiteral("--allow-origin=HTTPS://Notes.Example/")},
            {}, {}, "kubectl\nteh\n");
        const int port = backend.waitUntilListening();
        QVERIFY2(port > 0, qPrintable(backend.standardError()));
        QCOMPARE(q(fixText(port, "teh kubectl recieve").second.value("text", "")),
            QStringLiteral("teh kubectl receive"));
        // The allowed origin as browsers send it; any other is refused.
        QCOMPARE(fixText(port, "a", {{"Origin", "https://notes.example"}}).first, 200);
        QCOMPARE(fixText(port, "a", {{"Origin", "https://other.example"}}).first, 403);
        // Past the budget the text comes back as it was sent.
        const auto [status, reply] = fixText(port, unknownWords(256 << 10, 3) + "I recieve it.");
        QCOMPARE(status, 200);
        QVERIFY(q(reply.value("text", "")).endsWith(QStringLiteral(" I recieve it.")));
        QCOMPARE(backend.stop(signalNumber), 0);
        const QString err = backend.standardError();
        QVERIFY2(err.contains(QStringLiteral(" POST /api/fix-text 200 "))
                && err.contains(signalName + QStringLiteral(", shutting down"))
                && err.contains(QStringLiteral("tarnwick-backend: stopped"))
                && !err.contains(QStringLiteral("recieve")),
            qPrintable(err));
    }

    void apiKeyNeverInOutput()
    {
        // A service that answers 401 and quotes the key back, as real ones do.
        const std::string key = "sk-proc-7f3e9a1cKEYMATERIAL";
        httplib::Server fake;
        fake.Post(".*", [&](const httplib::Request &req, httplib::Response &res) {
            res.status = 401;
            const std::string sent = req.get_header_value("Authorization").substr(7);
            res.set_content(json({{"error", {{"message", "Incorrect API key provided: " + sent}}}}).dump(),
                "application/json");
        });
        const int fakePort = fake.bind_to_any_port("127.0.0.1");
        std::thread serving([&] { fake.listen_after_bind(); });
        // The URL from the file, the key and a timeout longer than Tarnwick waits from the environment.
        BackendProcess backend({QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")},
            {QStringLiteral("TARNWICK_OPENAI_API_KEY=") + q(key),
                QStringLiteral("TARNWICK_OPENAI_TIMEOUT=25")},
            "openai_url = http://127.0.0.1:" + QByteArray::number(fakePort) + "\nopenai_model = m1\n");
        const int port = backend.waitUntilListening();
        QVERIFY2(port > 0, qPrintable(backend.standardError()));
        const auto [status, reply] = fixText(port, "some text");
        QCOMPARE(backend.stop(), 0);
        fake.stop();
        serving.join();
        QCOMPARE(status, 502);
        const QString detail = q(reply.value("detail", "")), err = backend.standardError();
        QVERIFY2(reply.value("error", "") == "openai_failed" && detail.contains(QStringLiteral("HTTP 401")),
            qPrintable(detail));
        QVERIFY2(err.contains(QStringLiteral("model m1 with an API key"))
                && err.contains(QStringLiteral("warning: the upstream timeout is not below the 20 s")),
            qPrintable(err));
        for (const char *part : {"KEYMATERIAL", "7f3e9a1c"})
            QVERIFY2(!detail.contains(QLatin1String(part)) && !err.contains(QLatin1String(part)), part);
    }
};

QTEST_GUILESS_MAIN(TestBackendProcess)
#include "tst_backendprocess.moc"
