// The tarnwick-backend executable as a child process: its command line, start-up failures,
// serving with the user's configuration, shutdown on signals, and the API key kept out of its
// output.

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <thread>

using json = nlohmann::json;
using namespace std::chrono_literals;

namespace {

const QString kBackend = QStringLiteral(TARNWICK_BACKEND_EXECUTABLE);

// An environment without upstream settings and with a private configuration directory.
QProcessEnvironment cleanEnvironment(const QString &configHome)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"TARNWICK_OPENAI_URL", "TARNWICK_OPENAI_MODEL", "TARNWICK_OPENAI_API_KEY",
                             "TARNWICK_OPENAI_TIMEOUT"})
        env.remove(QLatin1String(name));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    return env;
}

void writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(contents);
}

// A started backend: waits for its "listening on" line and reports the port.
class BackendProcess {
public:
    BackendProcess(const QStringList &arguments, const QProcessEnvironment &env)
    {
        m_process.setProcessEnvironment(env);
        m_process.start(kBackend, arguments);
    }
    ~BackendProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    // The port from the start-up line, or 0 if the process did not get that far in 15 s.
    int waitUntilListening()
    {
        static const QRegularExpression line(QStringLiteral("listening on http://127\\.0\\.0\\.1:(\\d+) "));
        QDeadlineTimer deadline(15000);
        while (!deadline.hasExpired()) {
            m_stderr += m_process.readAllStandardError();
            const auto match = line.match(QString::fromUtf8(m_stderr));
            if (match.hasMatch())
                return match.captured(1).toInt();
            if (m_process.state() == QProcess::NotRunning)
                return 0;
            m_process.waitForReadyRead(100);
        }
        return 0;
    }

    void signal(int number) { ::kill(static_cast<pid_t>(m_process.processId()), number); }

    bool waitForExit(int ms = 10000) { return m_process.waitForFinished(ms); }
    int exitCode() const { return m_process.exitCode(); }
    QProcess::ExitStatus exitStatus() const { return m_process.exitStatus(); }
    QString standardError()
    {
        m_stderr += m_process.readAllStandardError();
        return QString::fromUtf8(m_stderr);
    }

private:
    QProcess m_process;
    QByteArray m_stderr;
};

struct Reply {
    int status = 0;
    json body;
};

Reply fixText(int port, const std::string &text, const std::string &mode)
{
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(10);
    Reply reply;
    if (auto result = client.Post("/api/fix-text", json({{"text", text}, {"mode", mode}}).dump(), "application/json")) {
        reply.status = result->status;
        reply.body = json::parse(result->body, nullptr, false);
    }
    return reply;
}

} // namespace

class TestBackendProcess : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void help()
    {
        QProcess process;
        process.start(kBackend, {QStringLiteral("--help")});
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 0);
        const QString out = QString::fromUtf8(process.readAllStandardOutput());
        for (const char *expected : {"--listen HOST:PORT", "--allow-remote", "127.0.0.1:8787", "allowed-words.txt",
                                     "TARNWICK_OPENAI_URL", "TARNWICK_OPENAI_API_KEY", "backend.conf"})
            QVERIFY2(out.contains(QLatin1String(expected)), expected);
    }

    void refusesToStart_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<QByteArray>("configFile");
        QTest::addColumn<QString>("message");
        const QStringList none;
        QTest::newRow("listen without port") << QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1")}
                                             << none << QByteArray() << "--listen expects HOST:PORT";
        QTest::newRow("port out of range") << QStringList{QStringLiteral("--listen=127.0.0.1:70000")} << none
                                           << QByteArray() << "port from 0 to 65535";
        QTest::newRow("listen without value") << QStringList{QStringLiteral("--listen")} << none << QByteArray()
                                              << "--listen needs a value";
        QTest::newRow("threads") << QStringList{QStringLiteral("--threads"), QStringLiteral("0")} << none
                                 << QByteArray() << "--threads expects a number";
        QTest::newRow("unknown option") << QStringList{QStringLiteral("--verbose")} << none << QByteArray()
                                        << "unknown argument \"--verbose\"";
        QTest::newRow("all interfaces") << QStringList{QStringLiteral("--listen"), QStringLiteral("0.0.0.0:0")} << none
                                        << QByteArray() << "not a loopback address";
        QTest::newRow("upstream url") << none << QStringList{QStringLiteral("TARNWICK_OPENAI_URL=ftp://127.0.0.1")}
                                      << QByteArray() << "upstream URL must start with http:// or https://";
        QTest::newRow("upstream timeout") << none
                                          << QStringList{QStringLiteral("TARNWICK_OPENAI_URL=http://127.0.0.1:1"),
                                                         QStringLiteral("TARNWICK_OPENAI_TIMEOUT=soon")}
                                          << QByteArray() << "upstream timeout must be a number of seconds";
        QTest::newRow("config file key") << none << none << QByteArray("# settings\nopenai_uri = http://x\n")
                                         << "backend.conf:2: unknown key \"openai_uri\"";
        QTest::newRow("config file line") << none << none << QByteArray("openai_url http://x\n")
                                          << "backend.conf:1: expected \"key = value\"";
    }

    void refusesToStart()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, environment);
        QFETCH(QByteArray, configFile);
        QFETCH(QString, message);
        QTemporaryDir home;
        QProcessEnvironment env = cleanEnvironment(home.path());
        for (const QString &entry : environment)
            env.insert(entry.section(QLatin1Char('='), 0, 0), entry.section(QLatin1Char('='), 1));
        if (!configFile.isEmpty()) {
            QVERIFY(QDir(home.path()).mkpath(QStringLiteral("tarnwick")));
            writeFile(home.filePath(QStringLiteral("tarnwick/backend.conf")), configFile);
        }
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(kBackend, arguments);
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 2);
        const QString err = QString::fromUtf8(process.readAllStandardError());
        QVERIFY2(err.contains(message), qPrintable(err));
    }

    void portAlreadyTaken()
    {
        QTcpServer occupant;
        QVERIFY(occupant.listen(QHostAddress::LocalHost, 0));
        QTemporaryDir home;
        QProcess process;
        process.setProcessEnvironment(cleanEnvironment(home.path()));
        process.start(kBackend, {QStringLiteral("--listen"), QStringLiteral("127.0.0.1:%1").arg(occupant.serverPort())});
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        const QString err = QString::fromUtf8(process.readAllStandardError());
        QVERIFY2(err.contains(QStringLiteral("cannot listen on 127.0.0.1:%1: the port is already in use")
                                  .arg(occupant.serverPort())),
                 qPrintable(err));
    }

    void servesWithAllowListAndStopsOnSignal_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<QString>("signalName");
        QTest::newRow("SIGTERM") << int(SIGTERM) << "SIGTERM";
        QTest::newRow("SIGINT") << int(SIGINT) << "SIGINT";
    }

    void servesWithAllowListAndStopsOnSignal()
    {
        QFETCH(int, signalNumber);
        QFETCH(QString, signalName);
        QTemporaryDir home;
        QVERIFY(QDir(home.path()).mkpath(QStringLiteral("tarnwick")));
        writeFile(home.filePath(QStringLiteral("tarnwick/allowed-words.txt")), "kubectl\nteh\n");

        BackendProcess backend({QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")},
                               cleanEnvironment(home.path()));
        const int port = backend.waitUntilListening();
        QVERIFY2(port > 0, qPrintable(backend.standardError()));

        const Reply reply = fixText(port, "teh kubectl recieve", "fix");
        QCOMPARE(reply.status, 200);
        QCOMPARE(QString::fromStdString(reply.body.value("text", "")), QStringLiteral("teh kubectl receive"));

        backend.signal(signalNumber);
        QVERIFY(backend.waitForExit());
        QCOMPARE(backend.exitStatus(), QProcess::NormalExit);
        QCOMPARE(backend.exitCode(), 0);
        const QString err = backend.standardError();
        QVERIFY2(err.contains(QStringLiteral(" POST /api/fix-text 200 ")), qPrintable(err));
        QVERIFY2(err.contains(signalName + QStringLiteral(", shutting down")), qPrintable(err));
        QVERIFY(err.contains(QStringLiteral("tarnwick-backend: stopped")));
        QVERIFY(!err.contains(QStringLiteral("recieve")));
    }

    void apiKeyNeverInOutput()
    {
        // A service that answers 401 and quotes the key back, as real ones do.
        const std::string key = "sk-proc-7f3e9a1cKEYMATERIAL";
        httplib::Server fake;
        fake.Post(".*", [&](const httplib::Request &req, httplib::Response &res) {
            res.status = 401;
            res.set_content(json({{"error", {{"message", "Incorrect API key provided: " + req.get_header_value("Authorization").substr(7)}}}}).dump(),
                            "application/json");
        });
        const int fakePort = fake.bind_to_any_port("127.0.0.1");
        std::thread serving([&] { fake.listen_after_bind(); });

        QTemporaryDir home;
        QVERIFY(QDir(home.path()).mkpath(QStringLiteral("tarnwick")));
        // The URL from the file, the key from the environment.
        writeFile(home.filePath(QStringLiteral("tarnwick/backend.conf")),
                  QByteArray("openai_url = http://127.0.0.1:") + QByteArray::number(fakePort) + "\nopenai_model = m1\n");
        QProcessEnvironment env = cleanEnvironment(home.path());
        env.insert(QStringLiteral("TARNWICK_OPENAI_API_KEY"), QString::fromStdString(key));
        BackendProcess backend({QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")}, env);
        const int port = backend.waitUntilListening();
        QVERIFY2(port > 0, qPrintable(backend.standardError()));

        const Reply reply = fixText(port, "some text", "fix");
        backend.signal(SIGTERM);
        QVERIFY(backend.waitForExit());
        fake.stop();
        serving.join();

        QCOMPARE(reply.status, 502);
        QCOMPARE(QString::fromStdString(reply.body.value("error", "")), QStringLiteral("openai_failed"));
        const QString detail = QString::fromStdString(reply.body.value("detail", ""));
        QVERIFY2(detail.contains(QStringLiteral("HTTP 401")), qPrintable(detail));
        QVERIFY2(!detail.contains(QStringLiteral("KEYMATERIAL")), qPrintable(detail));
        const QString err = backend.standardError();
        QVERIFY2(err.contains(QStringLiteral("model m1 with an API key")), qPrintable(err));
        QVERIFY2(!err.contains(QStringLiteral("KEYMATERIAL")) && !err.contains(QStringLiteral("7f3e9a1c")),
                 qPrintable(err));
    }

    void correctsStandardInput()
    {
        QTemporaryDir home;
        QProcess process;
        process.setProcessEnvironment(cleanEnvironment(home.path()));
        process.start(kBackend, {QStringLiteral("--correct"), QStringLiteral("formal")});
        process.write("i dont wanna go\n");
        process.closeWriteChannel();
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(process.readAllStandardOutput()), QStringLiteral("I do not want to go\n"));
    }
};

QTEST_GUILESS_MAIN(TestBackendProcess)
#include "tst_backendprocess.moc"
