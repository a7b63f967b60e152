// `tarnwick fix` and `tarnwick formal`: the built program corrects standard input through a real
// backend on 127.0.0.1, without any display.
#include "testlib/TestHttpServer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTest>

using Reply = TestHttpServer::Reply;

Q_DECLARE_METATYPE(TestHttpServer::Reply)

namespace {

struct Run {
    int exitCode = -1; // -1: did not end by itself
    QByteArray out;
    QByteArray err;
};

// Runs the built program with `input` on stdin while this process's event loop keeps serving.
Run runTarnwick(const QStringList &arguments, const QByteArray &input, const QString &backendURL)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // The command-line mode is for scripts and terminals without a display: every run proves it.
    for (const char *variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(variable));
    environment.insert(QStringLiteral("QUARVEL_BACKEND_URL"), backendURL);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(TARNWICK_BINARY), arguments);
    Run run;
    if (!process.waitForStarted(10000))
        return run;
    process.write(input);
    process.closeWriteChannel();
    if (QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 60000)
        && process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT

    TestHttpServer *m_server = nullptr;

private Q_SLOTS:
    void init()
    {
        m_server = new TestHttpServer(this);
        QVERIFY(m_server->listen());
    }
    void cleanup() { delete m_server; }

    // The correction goes to standard output exactly as it came; a failure's message to standard
    // error, with status 1 (the backend client's messages are its own test's); what cannot be sent
    // is not sent.
    void correctsStandardInput_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("backend"); // none: the test server; "refused": a closed port
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QByteArray>("err");
        const auto row
            = [](const char *name, const char *mode, const QByteArray &input, const QString &backend,
                  const Reply &reply, const QByteArray &out, const QByteArray &err) {
                  QTest::newRow(name) << QString::fromLatin1(mode) << input << backend << reply
                                      << (err.isEmpty() ? 0 : 1) << out << err;
              };
        const auto ok = [](const char *text) { return Reply::corrected(QString::fromUtf8(text)); };
        const QString server;
        row("no newline added", "fix", "teh cat", server, ok("The cat."), "The cat.", "");
        row("trailing newline kept", "formal", "hey\nsee u\n", server, ok("Hello.\nSee you.\n"),
            "Hello.\nSee you.\n", "");
        row("sent unchanged: BOM, CRLF, spaces", "fix", "\xef\xbb\xbf  a\r\nb \t\n\n", server, ok("a\r\nb"),
            "a\r\nb", "");
        row("non-ASCII", "formal", "caf\xc3\xa9 \xe2\x80\x94 \xf0\x9f\x98\x80", server,
            ok("\xf0\x9f\x98\x80 \xe2\x80\x94."), "\xf0\x9f\x98\x80 \xe2\x80\x94.", "");
        row("empty input, empty result", "fix", "", server, ok(""), "", "");
        row("400 bad_request", "fix", "text", server, Reply::json(400, R"({"error":"bad_request"})"), "",
            "Bad request\n");
        row("refused", "formal", "text", QStringLiteral("refused"), {}, "", "Connection refused\n");
        // A bad backend URL stops the program at once, with the variable's bytes as they are.
        row("empty backend URL", "fix", "text", QStringLiteral(""), {}, "",
            "Invalid QUARVEL_BACKEND_URL: \n");
        row("space in the backend's host", "fix", "text", QStringLiteral("http://exa mple.com"), {}, "",
            "Invalid QUARVEL_BACKEND_URL: http://exa mple.com\n");
        row("non-ASCII backend URL", "fix", "text", QStringLiteral("http://[\u00e9"), {}, "",
            "Invalid QUARVEL_BACKEND_URL: http://[\xc3\xa9\n");
        const QByteArray notUtf8 = "tarnwick: standard input is not valid UTF-8\n";
        row("stray byte", "fix", "ok \xff then", server, ok("x"), "", notUtf8);
        row("truncated sequence", "fix", "caf\xc3", server, ok("x"), "", notUtf8);
        row("encoded surrogate", "fix", "\xed\xa0\x80", server, ok("x"), "", notUtf8);
        row("overlong slash", "fix", "\xc0\xaf", server, ok("x"), "", notUtf8);
    }
    void correctsStandardInput()
    {
        QFETCH(QString, mode);
        QFETCH(QByteArray, input);
        QFETCH(QString, backend);
        QFETCH(Reply, reply);
        QFETCH(QByteArray, err);
        m_server->setReply(reply);
        QUrl url = m_server->url();
        if (backend == QLatin1String("refused")) {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
            url.setPort(probe.serverPort());
        }
        const bool server = backend.isNull() || backend == QLatin1String("refused");
        const Run run = runTarnwick({mode}, input, server ? url.toString() : backend);
        QCOMPARE(run.err, err);
        QTEST(run.exitCode, "status");
        QTEST(run.out, "out");
        QCOMPARE(m_server->connectionCount(), backend.isNull() && !err.contains("UTF-8") ? 1 : 0);
        if (err.isEmpty()) {
            const QJsonObject body = QJsonDocument::fromJson(m_server->requests().first().body).object();
            QCOMPARE(body.value(QLatin1String("text")).toString().toUtf8(), input);
            QCOMPARE(body.value(QLatin1String("mode")).toString(), mode);
        }
    }

    void helpAndUsageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArrayList>("out"); // what it holds, or empty when it must be empty
        QTest::addColumn<QByteArrayList>("err");
        const QByteArrayList help {
            "tarnwick fix", "\n  fix ", "\n  formal ", "tray application", "QUARVEL_BACKEND_URL"};
        QTest::newRow("--help") << QStringList {QStringLiteral("--help")} << 0 << help << QByteArrayList();
        const auto usage = [](const char *named) { return QByteArrayList {named, "Usage: tarnwick"}; };
        QTest::newRow("unknown word")
            << QStringList {QStringLiteral("fixx")} << 2 << QByteArrayList() << usage("'fixx'");
        QTest::newRow("extra argument") << QStringList {QStringLiteral("fix"), QStringLiteral("now")} << 2
                                        << QByteArrayList() << usage("'now'");
        QTest::newRow("trigger without a mode")
            << QStringList {QStringLiteral("--trigger")} << 2 << QByteArrayList() << usage("'--trigger'");
        QTest::newRow("trigger, unknown mode")
            << QStringList {QStringLiteral("--trigger"), QStringLiteral("loud")} << 2 << QByteArrayList()
            << usage("'loud'");
        QTest::newRow("trigger, extra argument")
            << QStringList {QStringLiteral("--trigger"), QStringLiteral("fix"), QStringLiteral("x")} << 2
            << QByteArrayList() << usage("'x'");
    }
    void helpAndUsageErrors()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArrayList, out);
        QFETCH(QByteArrayList, err);
        const Run run = runTarnwick(arguments, "text", m_server->url().toString());
        QTEST(run.exitCode, "status");
        for (const auto &[printed, expected] : {std::pair {run.out, out}, std::pair {run.err, err}}) {
            QCOMPARE(printed.isEmpty(), expected.isEmpty());
            for (const QByteArray &part : expected)
                QVERIFY2(printed.contains(part), part.constData());
        }
        QCOMPARE(m_server->connectionCount(), 0);
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
