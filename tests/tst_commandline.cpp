#include "testlib/TestHttpServer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTest>

#include <optional>

using Reply = TestHttpServer::Reply;

Q_DECLARE_METATYPE(TestHttpServer::Reply)

namespace {

struct Run {
    bool finished = false;
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs the built program with `input` on stdin while this process's event loop keeps serving.
Run runTarnwick(
    const QStringList &arguments, const QByteArray &input, const std::optional<QString> &backendURL)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QUARVEL_BACKEND_URL"));
    // The command-line mode is for scripts and terminals without a display: every run proves it.
    for (const char *display : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(display));
    if (backendURL)
        environment.insert(QStringLiteral("QUARVEL_BACKEND_URL"), *backendURL);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(TARNWICK_BINARY), arguments);
    Run run;
    if (!process.waitForStarted(10000))
        return run;
    process.write(input);
    process.closeWriteChannel();
    run.finished = QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 60000);
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

QByteArray okReply(const QByteArray &utf8Text)
{
    return QJsonDocument(
        QJsonObject {{QStringLiteral("ok"), true}, {QStringLiteral("text"), QString::fromUtf8(utf8Text)}})
        .toJson(QJsonDocument::Compact);
}

} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT

    TestHttpServer *m_server = nullptr;
    QString url() const { return m_server->url().toString(); }

private Q_SLOTS:
    void init()
    {
        m_server = new TestHttpServer(this);
        QVERIFY(m_server->listen());
    }
    void cleanup() { delete m_server; }

    void printsTheCorrectionExactly_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("corrected");
        QTest::newRow("no newline added")
            << QStringLiteral("fix") << QByteArray("teh cat") << QByteArray("The cat.");
        QTest::newRow("trailing newline kept")
            << QStringLiteral("formal") << QByteArray("hey\nsee u\n") << QByteArray("Hello.\nSee you.\n");
        QTest::newRow("input sent unchanged: BOM, CRLF, spaces")
            << QStringLiteral("fix") << QByteArray("\xef\xbb\xbf  a\r\nb \t\n\n") << QByteArray("a\r\nb");
        QTest::newRow("non-ASCII") << QStringLiteral("formal")
                                   << QByteArray("caf\xc3\xa9 \xe2\x80\x94 \xf0\x9f\x98\x80")
                                   << QByteArray("Caf\xc3\xa9 \xe2\x80\x94 \xf0\x9f\x98\x80.");
        QTest::newRow("empty input, empty result") << QStringLiteral("fix") << QByteArray() << QByteArray();
    }
    void printsTheCorrectionExactly()
    {
        QFETCH(QString, mode);
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, corrected);
        m_server->setReply(Reply::json(200, okReply(corrected)));

        const Run run = runTarnwick({mode}, input, url());
        QVERIFY(run.finished);
        QCOMPARE(run.err, QByteArray());
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, corrected);

        QCOMPARE(m_server->requests().size(), 1);
        const QJsonObject body = QJsonDocument::fromJson(m_server->requests().first().body).object();
        QCOMPARE(body.value(QLatin1String("text")).toString().toUtf8(), input);
        QCOMPARE(body.value(QLatin1String("mode")).toString(), mode);
    }

    void failuresGoToStandardError_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<QByteArray>("message");
        QTest::newRow("400 bad_request")
            << Reply::json(400, "{\"error\":\"bad_request\"}") << QByteArray("Bad request\n");
        QTest::newRow("500 not JSON") << Reply::json(500, "oops") << QByteArray("HTTP 500\n");
        QTest::newRow("200 not ok") << Reply::json(200, "{\"ok\":false,\"error\":\"openai_failed\"}")
                                    << QByteArray("OpenAI request failed\n");
        QTest::newRow("200 not JSON")
            << Reply::json(200, "Fixed.") << QByteArray("Invalid server response\n");
    }
    void failuresGoToStandardError()
    {
        QFETCH(Reply, reply);
        QFETCH(QByteArray, message);
        m_server->setReply(reply);
        const Run run = runTarnwick({QStringLiteral("fix")}, "text", url());
        QVERIFY(run.finished);
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.out, QByteArray());
        QCOMPARE(run.err, message);
    }

    void refusedConnection()
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        QUrl backend = m_server->url();
        backend.setPort(probe.serverPort());
        probe.close();
        const Run run = runTarnwick({QStringLiteral("formal")}, "text", backend.toString());
        QVERIFY(run.finished);
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.out, QByteArray());
        QCOMPARE(run.err, QByteArray("Connection refused\n"));
    }

    void invalidBackendURLStops_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("empty") << QString();
        QTest::newRow("space in host") << QStringLiteral("http://exa mple.com");
    }
    void invalidBackendURLStops()
    {
        QFETCH(QString, value);
        const Run run = runTarnwick({QStringLiteral("fix")}, "text", value);
        QVERIFY(run.finished);
        QVERIFY(run.exitCode != 0);
        QCOMPARE(run.out, QByteArray());
        QCOMPARE(run.err, "Invalid QUARVEL_BACKEND_URL: " + value.toUtf8() + '\n');
    }

    void invalidUtf8IsRefusedUnsent_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::newRow("stray byte") << QByteArray("ok \xff then");
        QTest::newRow("truncated sequence") << QByteArray("caf\xc3");
        QTest::newRow("encoded surrogate") << QByteArray("\xed\xa0\x80");
        QTest::newRow("overlong slash") << QByteArray("\xc0\xaf");
    }
    void invalidUtf8IsRefusedUnsent()
    {
        QFETCH(QByteArray, input);
        m_server->setReply(Reply::json(200, okReply("x")));
        const Run run = runTarnwick({QStringLiteral("fix")}, input, url());
        QVERIFY(run.finished);
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.out, QByteArray());
        QCOMPARE(run.err, QByteArray("tarnwick: standard input is not valid UTF-8\n"));
        QCOMPARE(m_server->connectionCount(), 0);
    }

    void help_data()
    {
        QTest::addColumn<QString>("argument");
        QTest::newRow("--help") << QStringLiteral("--help");
        QTest::newRow("-h") << QStringLiteral("-h");
    }
    void help()
    {
        QFETCH(QString, argument);
        const Run run = runTarnwick({argument}, {}, QStringLiteral("http://127.0.0.1:1"));
        QVERIFY(run.finished);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.err, QByteArray());
        QVERIFY(run.out.contains("tarnwick fix"));
        QVERIFY(run.out.contains("\n  fix "));
        QVERIFY(run.out.contains("\n  formal "));
        QVERIFY(run.out.contains("tray application"));
        QVERIFY(run.out.contains("QUARVEL_BACKEND_URL"));
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("named");
        QTest::newRow("unknown word") << QStringList {QStringLiteral("fixx")} << QByteArray("'fixx'");
        QTest::newRow("unknown option")
            << QStringList {QStringLiteral("--verbose")} << QByteArray("'--verbose'");
        QTest::newRow("extra argument")
            << QStringList {QStringLiteral("fix"), QStringLiteral("now")} << QByteArray("'now'");
        QTest::newRow("trigger without a mode")
            << QStringList {QStringLiteral("--trigger")} << QByteArray("'--trigger'");
        QTest::newRow("trigger, unknown mode")
            << QStringList {QStringLiteral("--trigger"), QStringLiteral("loud")} << QByteArray("'loud'");
        QTest::newRow("trigger, extra argument")
            << QStringList {QStringLiteral("--trigger"), QStringLiteral("fix"), QStringLiteral("x")}
            << QByteArray("'x'");
        QTest::newRow("quit, extra argument")
            << QStringList {QStringLiteral("--quit"), QStringLiteral("now")} << QByteArray("'now'");
    }
    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, named);
        const Run run = runTarnwick(arguments, "text", url());
        QVERIFY(run.finished);
        QCOMPARE(run.exitCode, 2);
        QCOMPARE(run.out, QByteArray());
        QVERIFY(run.err.contains(named));
        QVERIFY(run.err.contains("Usage: tarnwick"));
        QCOMPARE(m_server->connectionCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
