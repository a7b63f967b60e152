#include "app/APIClient.h"
#include "app/AppConfig.h"
#include "testlib/TaskResult.h"
#include "testlib/TestHttpServer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QTcpServer>
#include <QTest>

using namespace std::chrono_literals;
using Reply = TestHttpServer::Reply;

Q_DECLARE_METATYPE(FixMode)
Q_DECLARE_METATYPE(TestHttpServer::Reply)

namespace {

// JSON written with single quotes, for readability; they become double quotes.
QByteArray json(const char *text)
{
    return QByteArray(text).replace('\'', '"');
}

// What a call ended with: the text on success, otherwise the error's kind and message.
struct Outcome {
    bool ok = false;
    QString text;
    APIError::Kind kind = APIError::Kind::BadResponse;
    QString message;
};

Outcome outcomeOf(const std::optional<FixTextResult> &result)
{
    if (!result)
        return {false, {}, APIError::Kind::BadResponse, QStringLiteral("<the call never completed>")};
    if (result->hasValue())
        return {true, result->value(), {}, {}};
    return {false, {}, result->error().kind(), result->error().errorDescription()};
}

Outcome call(const APIClient &api, const QString &text = QStringLiteral("text"), FixMode mode = FixMode::Fix)
{
    return outcomeOf(TestLib::waitFor(api.fixText(text, mode), 15000));
}

} // namespace

class TestAPIClient : public QObject {
    Q_OBJECT

    QNetworkAccessManager *m_session = nullptr;
    TestHttpServer *m_server = nullptr;

    APIClient client(std::chrono::milliseconds timeout = APIClient::defaultTimeout) const
    {
        return APIClient(m_server->url(), m_session, timeout);
    }

private Q_SLOTS:
    void init()
    {
        m_session = new QNetworkAccessManager(this);
        m_server = new TestHttpServer(this);
        QVERIFY(m_server->listen());
    }
    void cleanup()
    {
        delete m_server;
        delete m_session;
    }

    void repliesBecomeTextOrMessage_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("expected"); // the text on success, else the message
        struct Row {
            const char *name;
            int status;
            const char *body;
            bool ok;
            const char *expected;
        };
        const char *const invalid = "Invalid server response";
        const char *const unknown = "Backend error (see server logs)";
        const Row rows[] = {
            // 2xx with a decodable body.
            {"text", 200, "{'ok':true,'text':'Fixed.'}", true, "Fixed."},
            {"empty text", 200, "{'ok':true,'text':''}", true, ""},
            {"unicode text kept exactly", 200,
                "{'ok':true,'text':'na\xc3\xafve \xe2\x80\x94 \xf0\x9f\x98\x80\\n'}", true,
                "na\xc3\xafve \xe2\x80\x94 \xf0\x9f\x98\x80\n"},
            {"error ignored when text present", 200, "{'ok':true,'text':'T','error':'openai_failed'}", true,
                "T"},
            {"unknown members ignored", 200, "{'ok':true,'text':'T','extra':[1,{'a':null}],'n':3}", true,
                "T"},
            {"201 counts as success", 201, "{'ok':true,'text':'T'}", true, "T"},
            {"ok without text", 200, "{'ok':true}", false, unknown},
            {"not ok but text present", 200, "{'ok':false,'text':'T'}", false, unknown},
            {"not ok, openai_failed", 200, "{'ok':false,'error':'openai_failed'}", false,
                "OpenAI request failed"},
            {"code with detail is not humanized", 200,
                "{'ok':false,'error':'openai_failed','detail':'rate limited'}", false,
                "openai_failed: rate limited"},
            {"detail without code", 200, "{'ok':false,'detail':'D'}", false, "unknown: D"},
            {"other code, empty detail", 200, "{'ok':false,'error':'quota','detail':''}", false, "quota"},
            {"bad_request humanized", 200, "{'ok':false,'error':'bad_request'}", false, "Bad request"},
            {"humanize is case-sensitive", 200, "{'ok':false,'error':'Bad_Request'}", false, "Bad_Request"},
            // 2xx that does not decode.
            {"ok missing", 200, "{'text':'T'}", false, invalid},
            {"not JSON", 200, "Fixed.", false, invalid},
            {"empty body", 200, "", false, invalid},
            {"array", 200, "[{'ok':true,'text':'T'}]", false, invalid},
            {"string ok", 200, "{'ok':'true','text':'T'}", false, invalid},
            {"null ok", 200, "{'ok':null,'text':'T'}", false, invalid},
            {"numeric text", 200, "{'ok':true,'text':5}", false, invalid},
            {"object error", 200, "{'ok':false,'error':{'code':1}}", false, invalid},
            {"array detail", 200, "{'ok':true,'text':'T','detail':[]}", false, invalid},
            {"trailing garbage", 200, "{'ok':true,'text':'T'} x", false, invalid},
            {"truncated JSON", 200, "{'ok':true,'text':'T", false, invalid},
            {"invalid UTF-8", 200, "{'ok':true,'text':'\xff\xfe'}", false, invalid},
            // Other statuses: the error envelope.
            {"400 bad_request", 400, "{'error':'bad_request'}", false, "Bad request"},
            {"500 not JSON", 500, "<html>oops</html>", false, "HTTP 500"},
            {"404 detail only", 404, "{'detail':'no such route'}", false, "HTTP 404: no such route"},
            {"503 numeric error", 503, "{'error':5,'detail':'D'}", false, "HTTP 503"},
            {"500 openai_failed", 500, "{'error':'openai_failed'}", false, "OpenAI request failed"},
            {"502 unknown", 502, "{'error':'unknown'}", false, unknown},
            {"500 code and detail", 500, "{'error':'x','detail':'y'}", false, "x: y"},
            {"500 nulls", 500, "{'error':null,'detail':null}", false, "HTTP 500"},
            {"500 empty detail", 500, "{'detail':''}", false, "HTTP 500"},
            {"500 array", 500, "[]", false, "HTTP 500"},
            {"418 with a success body", 418, "{'ok':true,'text':'T'}", false, "HTTP 418"},
            {"401 without challenge", 401, "{'error':'unauthorized'}", false, "unauthorized"},
            // Qt files 407 among its proxy errors, but it is the server's answer all the same.
            {"407 envelope", 407, "{'error':'proxy'}", false, "proxy"},
            {"407 no envelope", 407, "", false, "HTTP 407"},
        };
        for (const Row &row : rows)
            QTest::newRow(row.name) << row.status << json(row.body) << row.ok
                                    << QString::fromUtf8(row.expected);
        // A body over the cap is not read; a failure status still says what happened.
        const QByteArray prefix = json("{'ok':true,'text':'");
        const QByteArray huge = prefix + QByteArray(APIClient::maximumReplySize + 1024, 'a') + "\"}";
        QTest::newRow("oversized 200") << 200 << huge << false << QString::fromLatin1(invalid);
        QTest::newRow("oversized 500") << 500 << huge << false << QStringLiteral("HTTP 500");
        const QByteArray justUnder(APIClient::maximumReplySize - prefix.size() - 2, 'a');
        QTest::newRow("just under the cap")
            << 200 << prefix + justUnder + "\"}" << true << QString::fromLatin1(justUnder);
    }
    void repliesBecomeTextOrMessage()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(bool, ok);
        QFETCH(QString, expected);
        m_server->setReply(Reply::json(status, body));
        const Outcome outcome = call(client());
        QCOMPARE(outcome.ok, ok);
        QCOMPARE(ok ? outcome.text : outcome.message, expected);
        if (!ok) {
            const bool invalid = expected == QLatin1String("Invalid server response");
            QCOMPARE(outcome.kind, invalid ? APIError::Kind::BadResponse : APIError::Kind::Server);
        }
        QCOMPARE(m_server->requests().size(), 1);
    }

    // A backend URL value is refused exactly when the URL parser refuses it.
    void backendURLValues_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("valid");
        QTest::newRow("host and path") << QStringLiteral("https://fix.example.com/base/") << true;
        QTest::newRow("IPv6 literal") << QStringLiteral("http://[::1]:8787") << true;
        QTest::newRow("no scheme parses") << QStringLiteral("localhost:8787") << true;
        QTest::newRow("relative path parses") << QStringLiteral("backend") << true;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("space in host") << QStringLiteral("http://exa mple.com") << false;
        QTest::newRow("space") << QStringLiteral(" ") << false;
    }
    void backendURLValues()
    {
        QFETCH(QString, value);
        QFETCH(bool, valid);
        const std::optional<QUrl> url = AppConfig::parseBackendURL(value);
        QCOMPARE(url.has_value(), valid);
        if (valid)
            QCOMPARE(url->toString(), value);
    }

    // Without the variable the program talks to the bundled backend's address.
    void backendURLWithoutTheVariable()
    {
        qunsetenv(AppConfig::backendURLVariable);
        QCOMPARE(AppConfig::backendURL(), QUrl(QStringLiteral("http://127.0.0.1:8787")));
    }

    // One POST of compact JSON to /api/fix-text at the root of the base URL's host, whatever path
    // the base URL carries; the text goes as it is.
    void requestOnTheWire_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<FixMode>("mode");
        QTest::addColumn<QString>("wire");
        QTest::addColumn<QString>("basePath");
        QTest::newRow("fix, untrimmed")
            << QStringLiteral("  teh  text\n\t") << FixMode::Fix << QStringLiteral("fix") << QString();
        QTest::newRow("formal, quotes and controls; base with a path")
            << QStringLiteral("\"hi\"\\ \u0001 \u2014 \U0001F600") << FixMode::Formal
            << QStringLiteral("formal") << QStringLiteral("/some/base/");
        QTest::newRow("empty; base path without a slash")
            << QString() << FixMode::Fix << QStringLiteral("fix") << QStringLiteral("/v1");
        QTest::newRow("base with a query and a fragment")
            << QStringLiteral("x") << FixMode::Formal << QStringLiteral("formal")
            << QStringLiteral("/v1/x?key=1#top");
    }
    void requestOnTheWire()
    {
        QFETCH(QString, text);
        QFETCH(FixMode, mode);
        QFETCH(QString, basePath);
        m_server->setReply(Reply::json(200, json("{'ok':true,'text':'x'}")));
        const QUrl base(m_server->url().toString() + basePath, QUrl::StrictMode);
        QVERIFY(base.isValid());
        QVERIFY(call(APIClient(base, m_session), text, mode).ok);

        QCOMPARE(m_server->requests().size(), 1);
        const TestHttpServer::Request &request = m_server->requests().first();
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.target, QByteArray("/api/fix-text"));
        QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(request.body, &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
        const QJsonObject object = document.object();
        QCOMPARE(object.keys(), (QStringList {QStringLiteral("mode"), QStringLiteral("text")}));
        QVERIFY(object.value(QLatin1String("text")).isString());
        QCOMPARE(object.value(QLatin1String("text")).toString(), text);
        QTEST(object.value(QLatin1String("mode")).toString(), "wire");
        QCOMPARE(document.toJson(QJsonDocument::Compact), request.body);
        QCOMPARE(fixModeFromWireString(wireString(mode)), mode);
        QCOMPARE(fixModeFromWireString(QStringLiteral("Fix")), std::nullopt);
    }

    // Failures without an HTTP answer carry the transport's own description.
    void transportFailuresAreNetworkErrors_data()
    {
        QTest::addColumn<QString>("base"); // empty: the test server; "refused": a closed port
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<QString>("message"); // empty: any
        const Reply none;
        QTest::newRow("closed mid-body")
            << QString()
            << Reply::closeMidBody(200, json("{'ok':true,'text':'") + QByteArray(4000, 'a') + "\"}")
            << QString();
        QTest::newRow("closed mid-body of an error")
            << QString() << Reply::closeMidBody(500, json("{'error':'x'}")) << QString();
        QTest::newRow("not HTTP") << QString() << Reply::raw("SSH-2.0-OpenSSH_9.2\r\n\r\n") << QString();
        QTest::newRow("closed without a word") << QString() << Reply::raw(QByteArray()) << QString();
        // Without a timeout of its own a client waits 20 s; this one is given a short one.
        QTest::newRow("silent server times out")
            << QString() << Reply::neverAnswer() << QStringLiteral("The request timed out.");
        QTest::newRow("refused") << QStringLiteral("refused") << none << QStringLiteral("Connection refused");
        // URLs that parse but name no HTTP endpoint fail at the transport.
        QTest::newRow("host taken for a scheme") << QStringLiteral("localhost:8787") << none << QString();
        QTest::newRow("relative") << QStringLiteral("backend") << none << QString();
        QTest::newRow("no host") << QStringLiteral("http:///path") << none << QString();
    }
    void transportFailuresAreNetworkErrors()
    {
        QFETCH(QString, base);
        QFETCH(Reply, reply);
        QFETCH(QString, message);
        m_server->setReply(reply);
        QUrl url = base.isEmpty() ? m_server->url() : QUrl(base, QUrl::StrictMode);
        if (base == QLatin1String("refused")) {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
            url = m_server->url();
            url.setPort(probe.serverPort());
            probe.close();
        }
        QElapsedTimer elapsed;
        elapsed.start();
        const Outcome outcome = call(APIClient(url, m_session, 300ms));
        QVERIFY(elapsed.elapsed() < 10000);
        QVERIFY(!outcome.ok);
        QCOMPARE(outcome.kind, APIError::Kind::Network);
        QVERIFY(!outcome.message.isEmpty());
        if (!message.isEmpty())
            QCOMPARE(outcome.message, message);
    }

    void clientOrSessionGoneWhileACallIsPending()
    {
        m_server->setReply(Reply::neverAnswer());
        auto api = std::make_unique<APIClient>(client());
        const auto kept = TestLib::track(api->fixText(QStringLiteral("x"), FixMode::Fix));
        QTRY_COMPARE(m_server->waitingCount(), 1);
        api.reset(); // the call goes on
        m_server->answerWaiting(Reply::json(200, json("{'ok':true,'text':'late'}")));
        QTRY_VERIFY(kept->has_value());
        QCOMPARE(outcomeOf(*kept).text, QStringLiteral("late"));

        const auto orphan = TestLib::track(client().fixText(QStringLiteral("x"), FixMode::Fix));
        QTRY_COMPARE(m_server->waitingCount(), 1);
        delete m_session;
        m_session = nullptr;
        QTRY_VERIFY(orphan->has_value());
        QCOMPARE(outcomeOf(*orphan).kind, APIError::Kind::Network);
        // And a client left without a session fails the same way, without sending anything.
        QCOMPARE(call(client()).kind, APIError::Kind::Network);
        QCOMPARE(m_server->requests().size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestAPIClient)
#include "tst_apiclient.moc"
