#include "app/APIClient.h"
#include "testlib/TaskResult.h"
#include "testlib/TestHttpServer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QTcpServer>
#include <QTest>

using namespace std::chrono_literals;
using Reply = TestHttpServer::Reply;

Q_DECLARE_METATYPE(APIError::Kind)
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

Outcome call(const APIClient &api, const QString &text, FixMode mode)
{
    return outcomeOf(TestLib::waitFor(api.fixText(text, mode), 15000));
}

Outcome call(const APIClient &api)
{
    return call(api, QStringLiteral("text"), FixMode::Fix);
}

} // namespace

class TestAPIClient : public QObject {
    Q_OBJECT

    QNetworkAccessManager *m_session = nullptr;
    TestHttpServer *m_server = nullptr;

    APIClient client(std::chrono::milliseconds timeout) const
    {
        return APIClient(m_server->url(), m_session, timeout);
    }
    APIClient client() const { return APIClient(m_server->url(), m_session); }

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

        const QString invalid = QStringLiteral("Invalid server response");
        // 2xx with a decodable body.
        QTest::newRow("text") << 200 << json("{'ok':true,'text':'Fixed.'}") << true
                              << QStringLiteral("Fixed.");
        QTest::newRow("empty text") << 200 << json("{'ok':true,'text':''}") << true << QString();
        QTest::newRow("unicode text kept exactly")
            << 200 << QByteArray("{\"ok\":true,\"text\":\"na\xc3\xafve \xe2\x80\x94 \xf0\x9f\x98\x80\\n\"}")
            << true << QStringLiteral("na\u00efve \u2014 \U0001F600\n");
        QTest::newRow("error ignored when text present")
            << 200 << json("{'ok':true,'text':'T','error':'openai_failed'}") << true << QStringLiteral("T");
        QTest::newRow("unknown members ignored")
            << 200 << json("{'ok':true,'text':'T','extra':[1,{'a':null}],'n':3}") << true
            << QStringLiteral("T");
        QTest::newRow("201 counts as success")
            << 201 << json("{'ok':true,'text':'T'}") << true << QStringLiteral("T");
        QTest::newRow("ok without text")
            << 200 << json("{'ok':true}") << false << QStringLiteral("Backend error (see server logs)");
        QTest::newRow("ok with null text") << 200 << json("{'ok':true,'text':null}") << false
                                           << QStringLiteral("Backend error (see server logs)");
        QTest::newRow("not ok, openai_failed") << 200 << json("{'ok':false,'error':'openai_failed'}") << false
                                               << QStringLiteral("OpenAI request failed");
        QTest::newRow("code with detail is not humanized")
            << 200 << json("{'ok':false,'error':'openai_failed','detail':'rate limited'}") << false
            << QStringLiteral("openai_failed: rate limited");
        QTest::newRow("detail without code")
            << 200 << json("{'ok':false,'detail':'D'}") << false << QStringLiteral("unknown: D");
        QTest::newRow("other code, empty detail")
            << 200 << json("{'ok':false,'error':'quota','detail':''}") << false << QStringLiteral("quota");
        QTest::newRow("bad_request humanized")
            << 200 << json("{'ok':false,'error':'bad_request'}") << false << QStringLiteral("Bad request");
        QTest::newRow("humanize is case-sensitive")
            << 200 << json("{'ok':false,'error':'Bad_Request'}") << false << QStringLiteral("Bad_Request");
        QTest::newRow("not ok but text present") << 200 << json("{'ok':false,'text':'T'}") << false
                                                 << QStringLiteral("Backend error (see server logs)");
        // 2xx that does not decode.
        QTest::newRow("ok missing") << 200 << json("{'text':'T'}") << false << invalid;
        QTest::newRow("not JSON") << 200 << QByteArray("Fixed.") << false << invalid;
        QTest::newRow("empty body") << 200 << QByteArray() << false << invalid;
        QTest::newRow("array") << 200 << json("[{'ok':true,'text':'T'}]") << false << invalid;
        QTest::newRow("string ok") << 200 << json("{'ok':'true','text':'T'}") << false << invalid;
        QTest::newRow("numeric ok") << 200 << json("{'ok':1,'text':'T'}") << false << invalid;
        QTest::newRow("null ok") << 200 << json("{'ok':null,'text':'T'}") << false << invalid;
        QTest::newRow("numeric text") << 200 << json("{'ok':true,'text':5}") << false << invalid;
        QTest::newRow("object error") << 200 << json("{'ok':false,'error':{'code':1}}") << false << invalid;
        QTest::newRow("array detail")
            << 200 << json("{'ok':true,'text':'T','detail':[]}") << false << invalid;
        QTest::newRow("trailing garbage") << 200 << json("{'ok':true,'text':'T'} x") << false << invalid;
        QTest::newRow("truncated JSON") << 200 << json("{'ok':true,'text':'T") << false << invalid;
        QTest::newRow("invalid UTF-8")
            << 200 << QByteArray("{\"ok\":true,\"text\":\"\xff\xfe\"}") << false << invalid;
        // Other statuses: the error envelope.
        QTest::newRow("400 bad_request")
            << 400 << json("{'error':'bad_request'}") << false << QStringLiteral("Bad request");
        QTest::newRow("500 not JSON")
            << 500 << QByteArray("<html>oops</html>") << false << QStringLiteral("HTTP 500");
        QTest::newRow("500 empty body") << 500 << QByteArray() << false << QStringLiteral("HTTP 500");
        QTest::newRow("404 detail only") << 404 << json("{'detail':'no such route'}") << false
                                         << QStringLiteral("HTTP 404: no such route");
        QTest::newRow("503 numeric error")
            << 503 << json("{'error':5,'detail':'D'}") << false << QStringLiteral("HTTP 503");
        QTest::newRow("500 openai_failed")
            << 500 << json("{'error':'openai_failed'}") << false << QStringLiteral("OpenAI request failed");
        QTest::newRow("502 unknown") << 502 << json("{'error':'unknown'}") << false
                                     << QStringLiteral("Backend error (see server logs)");
        QTest::newRow("500 code and detail")
            << 500 << json("{'error':'x','detail':'y'}") << false << QStringLiteral("x: y");
        QTest::newRow("500 nulls") << 500 << json("{'error':null,'detail':null}") << false
                                   << QStringLiteral("HTTP 500");
        QTest::newRow("500 empty detail")
            << 500 << json("{'detail':''}") << false << QStringLiteral("HTTP 500");
        QTest::newRow("500 array") << 500 << QByteArray("[]") << false << QStringLiteral("HTTP 500");
        QTest::newRow("418 with a success body")
            << 418 << json("{'ok':true,'text':'T'}") << false << QStringLiteral("HTTP 418");
        QTest::newRow("401 without challenge")
            << 401 << json("{'error':'unauthorized'}") << false << QStringLiteral("unauthorized");
        // Qt files 407 among its proxy errors, but it is the server's answer all the same.
        QTest::newRow("407 envelope") << 407 << json("{'error':'proxy'}") << false << QStringLiteral("proxy");
        QTest::newRow("407 no envelope") << 407 << QByteArray() << false << QStringLiteral("HTTP 407");
        QTest::newRow("403") << 403 << json("{'detail':'forbidden'}") << false
                             << QStringLiteral("HTTP 403: forbidden");
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
        if (ok) {
            QCOMPARE(outcome.text, expected);
        } else {
            QCOMPARE(outcome.message, expected);
            const bool invalid = expected == QLatin1String("Invalid server response");
            QCOMPARE(outcome.kind, invalid ? APIError::Kind::BadResponse : APIError::Kind::Server);
        }
        QCOMPARE(m_server->requests().size(), 1);
    }

    void requestOnTheWire_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<FixMode>("mode");
        QTest::newRow("fix, untrimmed") << QStringLiteral("  teh  text\n\t") << FixMode::Fix;
        QTest::newRow("formal, quotes and controls")
            << QStringLiteral("\"hi\"\\ \u0001 \u2014 \U0001F600") << FixMode::Formal;
        QTest::newRow("empty") << QString() << FixMode::Fix;
    }
    void requestOnTheWire()
    {
        QFETCH(QString, text);
        QFETCH(FixMode, mode);
        m_server->setReply(Reply::json(200, json("{'ok':true,'text':'x'}")));
        QVERIFY(call(client(), text, mode).ok);

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
        QCOMPARE(object.value(QLatin1String("mode")).toString(), wireString(mode));
        // Compact: re-encoding compactly changes nothing.
        QCOMPARE(document.toJson(QJsonDocument::Compact), request.body);
    }

    void modeWireStrings()
    {
        QCOMPARE(wireString(FixMode::Fix), QStringLiteral("fix"));
        QCOMPARE(wireString(FixMode::Formal), QStringLiteral("formal"));
        QCOMPARE(fixModeFromWireString(QStringLiteral("formal")), FixMode::Formal);
        QCOMPARE(fixModeFromWireString(QStringLiteral("Fix")), std::nullopt);
    }

    void basePathIsReplaced_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::newRow("path") << QStringLiteral("/some/base/");
        QTest::newRow("path without slash") << QStringLiteral("/v1");
        QTest::newRow("path, query and fragment") << QStringLiteral("/v1/x?key=1#top");
    }
    void basePathIsReplaced()
    {
        QFETCH(QString, suffix);
        m_server->setReply(Reply::json(200, json("{'ok':true,'text':'x'}")));
        const QUrl base(m_server->url().toString() + suffix, QUrl::StrictMode);
        QVERIFY(base.isValid());
        QVERIFY(call(APIClient(base, m_session)).ok);
        QCOMPARE(m_server->requests().size(), 1);
        QCOMPARE(m_server->requests().first().target, QByteArray("/api/fix-text"));
    }

    void unusableBaseURLFailsAtTheTransport_data()
    {
        QTest::addColumn<QString>("base");
        QTest::newRow("host taken for a scheme") << QStringLiteral("localhost:8787");
        QTest::newRow("relative") << QStringLiteral("backend");
        QTest::newRow("no host") << QStringLiteral("http:///path");
    }
    void unusableBaseURLFailsAtTheTransport()
    {
        QFETCH(QString, base);
        const Outcome outcome = call(APIClient(QUrl(base, QUrl::StrictMode), m_session));
        QVERIFY(!outcome.ok);
        QCOMPARE(outcome.kind, APIError::Kind::Network);
        QVERIFY(!outcome.message.isEmpty());
    }

    void refusedConnectionIsNetworkError()
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        QUrl url = m_server->url();
        url.setPort(probe.serverPort());
        probe.close();
        const Outcome outcome = call(APIClient(url, m_session));
        QVERIFY(!outcome.ok);
        QCOMPARE(outcome.kind, APIError::Kind::Network);
        QCOMPARE(outcome.message, QStringLiteral("Connection refused"));
    }

    void transportFailuresAreNetworkErrors_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::newRow("closed mid-body")
            << Reply::closeMidBody(200, json("{'ok':true,'text':'") + QByteArray(4000, 'a') + "\"}");
        QTest::newRow("closed mid-body of an error") << Reply::closeMidBody(500, json("{'error':'x'}"));
        QTest::newRow("not HTTP") << Reply::raw("SSH-2.0-OpenSSH_9.2\r\n\r\n");
        QTest::newRow("closed without a word") << Reply::raw(QByteArray());
    }
    void transportFailuresAreNetworkErrors()
    {
        QFETCH(Reply, reply);
        m_server->setReply(reply);
        const Outcome outcome = call(client());
        QVERIFY(!outcome.ok);
        QCOMPARE(outcome.kind, APIError::Kind::Network);
        QVERIFY2(!outcome.message.isEmpty(), "the transport's own description");
    }

    void silentServerTimesOut()
    {
        // Without a timeout of its own a client waits 20 s; this test gives a short one.
        QCOMPARE(client().timeout(), std::chrono::milliseconds(20000));
        m_server->setReply(Reply::neverAnswer());
        QElapsedTimer elapsed;
        elapsed.start();
        const Outcome outcome = call(client(300ms));
        QVERIFY(!outcome.ok);
        QCOMPARE(outcome.kind, APIError::Kind::Network);
        QCOMPARE(outcome.message, QStringLiteral("The request timed out."));
        QVERIFY(elapsed.elapsed() < 10000);
        QCOMPARE(m_server->requests().size(), 1);
    }

    void oversizedBodyIsRefused_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("expected");
        QTest::newRow("200") << 200 << QStringLiteral("Invalid server response");
        // The status is still known: it is reported as for a body without an envelope.
        QTest::newRow("500") << 500 << QStringLiteral("HTTP 500");
        QTest::newRow("404") << 404 << QStringLiteral("HTTP 404");
    }
    void oversizedBodyIsRefused()
    {
        QFETCH(int, status);
        QFETCH(QString, expected);
        const QByteArray huge
            = json("{'ok':true,'text':'") + QByteArray(APIClient::maximumReplySize + 1024, 'a') + "\"}";
        m_server->setReply(Reply::json(status, huge));
        const Outcome outcome = call(client());
        QVERIFY(!outcome.ok);
        QCOMPARE(outcome.kind, status == 200 ? APIError::Kind::BadResponse : APIError::Kind::Server);
        QCOMPARE(outcome.message, expected);
    }

    void bodyJustUnderTheCapIsAccepted()
    {
        const QByteArray prefix = json("{'ok':true,'text':'");
        const QByteArray text(APIClient::maximumReplySize - prefix.size() - 2, 'a');
        m_server->setReply(Reply::json(200, prefix + text + "\"}"));
        const Outcome outcome = call(client());
        QVERIFY(outcome.ok);
        QCOMPARE(outcome.text.size(), text.size());
    }

    void clientMayBeDestroyedWhileCallPending()
    {
        m_server->setReply(Reply::neverAnswer());
        auto api = std::make_unique<APIClient>(client());
        TestLib::TaskSlot<FixTextResult> slot
            = TestLib::track(api->fixText(QStringLiteral("x"), FixMode::Fix));
        QTRY_COMPARE(m_server->waitingCount(), 1);
        api.reset();
        m_server->answerWaiting(Reply::json(200, json("{'ok':true,'text':'late'}")));
        QTRY_VERIFY(slot->has_value());
        QCOMPARE(outcomeOf(*slot).text, QStringLiteral("late"));
    }

    void sessionDestroyedWhileCallPendingIsNetworkError()
    {
        m_server->setReply(Reply::neverAnswer());
        TestLib::TaskSlot<FixTextResult> slot
            = TestLib::track(client().fixText(QStringLiteral("x"), FixMode::Fix));
        QTRY_COMPARE(m_server->waitingCount(), 1);
        delete m_session;
        m_session = nullptr;
        QTRY_VERIFY(slot->has_value());
        QCOMPARE(outcomeOf(*slot).kind, APIError::Kind::Network);
        // And a client left without a session fails the same way, without sending anything.
        const Outcome outcome = call(client());
        QCOMPARE(outcome.kind, APIError::Kind::Network);
        QCOMPARE(m_server->requests().size(), 1);
    }

    void concurrentCallsShareTheSession()
    {
        m_server->setHandler([](const TestHttpServer::Request &request) {
            const QString text
                = QJsonDocument::fromJson(request.body).object().value(QLatin1String("text")).toString();
            return Reply::json(200,
                QJsonDocument(
                    QJsonObject {{QStringLiteral("ok"), true}, {QStringLiteral("text"), text.toUpper()}})
                    .toJson(QJsonDocument::Compact));
        });
        const APIClient api = client();
        QList<TestLib::TaskSlot<FixTextResult>> slots;
        for (int i = 0; i < 8; ++i)
            slots.append(TestLib::track(api.fixText(QStringLiteral("call %1").arg(i), FixMode::Fix)));
        for (int i = 0; i < 8; ++i) {
            QTRY_VERIFY(slots.at(i)->has_value());
            QCOMPARE(outcomeOf(*slots.at(i)).text, QStringLiteral("CALL %1").arg(i));
        }
        QCOMPARE(m_server->requests().size(), 8);
    }
};

QTEST_GUILESS_MAIN(TestAPIClient)
#include "tst_apiclient.moc"
