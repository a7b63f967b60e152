// The backend server over real HTTP on 127.0.0.1: the protocol's replies, bad input, size limits,
// unknown paths and methods, who may send requests, concurrent clients and the request log.

#include "BackendTestSupport.h"

#include <QMap>
#include <QRegularExpression>
#include <QTest>

#include <future>

using namespace BackendTest;

namespace {

// Sends a fix-text request of `size` bytes (its text all spaces), with a length or chunked, gzip-
// compressed or not: the server sees the decoded size only after undoing both.
httplib::Result sendBody(httplib::Client &client, const std::string &method, const std::string &path,
    std::size_t size, bool chunked, bool gzip)
{
    const std::string prefix = "{\"mode\":\"fix\",\"text\":\"", suffix = "\"}";
    const std::size_t spaces = size - prefix.size() - suffix.size();
    client.set_compress(gzip);
    const auto send = [&](auto body) {
        return method == "PUT" ? client.Put(path, body, "application/json")
                               : client.Post(path, body, "application/json");
    };
    if (!chunked)
        return send(prefix + std::string(spaces, ' ') + suffix);
    // Made as it is sent, so that a large body never has to exist in the test at once.
    return send([=, sent = std::make_shared<std::size_t>(0)](std::size_t, httplib::DataSink &sink) {
        static const std::string block(64 << 10, ' ');
        const std::size_t n = std::min(spaces - *sent, block.size());
        const bool ok
            = (*sent > 0 || sink.write(prefix.data(), prefix.size())) && sink.write(block.data(), n);
        if ((*sent += n) == spaces && sink.write(suffix.data(), suffix.size()))
            sink.done();
        return ok;
    });
}

const std::string kFixBody = "{\"text\":\"teh\",\"mode\":\"fix\"}";

} // namespace

class TestBackendServer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(corrector().hasSpeller()); }

    void requests_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("expected"); // the text of a 200, a part of the detail of a 400
        // Bodies are written with ' for " (and \u0027 for ').
        const auto row = [](const char *name, QByteArray body, int status, const QByteArray &expected) {
            QTest::newRow(name) << body.replace('\'', '"') << status << expected;
        };
        row("mode then text", "{'mode':'fix','text':'teh cat'}", 200, "the cat");
        row("white space around", " \n{ \"mode\" : \"fix\" ,\n \"text\" : \"teh\" }\n ", 200, "the");
        row("formal", "{'mode':'formal','text':'I don\\u0027t know'}", 200, "I do not know");
        row("empty text", "{'text':'','mode':'fix'}", 200, "");
        row("blank text", "{'text':' \\n','mode':'formal'}", 200, " \n");
        row("utf-8 kept", "{\"text\":\"caf\xC3\xA9 \xF0\x9F\x98\x80 \xE6\x97\xA5 teh\",\"mode\":\"fix\"}",
            200, "café 😀 日 the");
        row("escapes decoded", "{'text':'caf\\u00e9 \\ud83d\\ude00 a\\tb\\n\\'q\\'','mode':'fix'}", 200,
            "café 😀 a\tb\n\"q\"");
        row("control characters", "{'text':'a\\u0000b\\u001f','mode':'fix'}", 200, QByteArray("a\0b\x1f", 4));
        row("empty body", "", 400, "body is empty");
        row("not json", "text=hello", 400, "not valid JSON");
        row("truncated", "{'text':'a','mode':'fi", 400, "not valid JSON");
        row("trailing garbage", "{'text':'a','mode':'fix'} x", 400, "not valid JSON");
        row("array", "[{'text':'a','mode':'fix'}]", 400, "not a JSON object");
        row("number", "42", 400, "not a JSON object");
        row("deep nesting", QByteArray(100000, '['), 400, "not a JSON object");
        row("no members", "{}", 400, "missing member \"text\"");
        row("no mode", "{'text':'a'}", 400, "missing member \"mode\"");
        row("no text", "{'mode':'fix'}", 400, "missing member \"text\"");
        row("text number", "{'text':1,'mode':'fix'}", 400, "\"text\" is a number");
        row("text array", "{'text':['a'],'mode':'fix'}", 400, "\"text\" is an array");
        row("mode boolean", "{'text':'a','mode':true}", 400, "\"mode\" is a boolean");
        row("unknown mode", "{'text':'a','mode':'casual'}", 400, "unknown mode \"casual\"");
        row("extra member", "{'text':'a','mode':'fix','lang':'en'}", 400, "unexpected member \"lang\"");
        row("duplicate text", "{'text':'a','text':'b','mode':'fix'}", 400, "duplicate member \"text\"");
        row("invalid utf-8 in text", "{\"mode\":\"fix\",\"text\":\"caf\xC3(\"}", 400,
            "\"text\" is not valid UTF-8");
        row("lone surrogate escape", "{'mode':'fix','text':'a\\ud800b'}", 400, "\"text\" is not valid UTF-8");
        row("latin-1 body", "{\"text\":\"caf\xE9\",\"mode\":\"fix\"}", 400, "not valid UTF-8");
    }

    void requests()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QFETCH(QByteArray, expected);
        RunningServer server;
        auto result = server.client().Post("/api/fix-text", body.toStdString(), "application/json");
        QVERIFY(result);
        QCOMPARE(result->status, status);
        QVERIFY(q(result->get_header_value("Content-Type")).startsWith(QStringLiteral("application/json")));
        const json reply = parse(result->body);
        if (status == 200)
            QCOMPARE(q(reply.dump()), q(json({{"ok", true}, {"text", expected.toStdString()}}).dump()));
        else
            QCOMPARE(q(reply.dump()),
                q(json({{"ok", false}, {"error", "bad_request"}, {"detail", reply.value("detail", "")}})
                        .dump()));
        QVERIFY2(status == 200 || reply.value("detail", "").find(expected.toStdString()) != std::string::npos,
            result->body.c_str());
    }

    void bodySizeLimit_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("chunked");
        QTest::addColumn<bool>("gzip");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("status");
        const auto row = [](const char *name, bool chunked, bool gzip, int size, int status,
                             const char *method = "POST", const char *path = "/api/fix-text") {
            QTest::newRow(name) << QString::fromUtf8(method) << QString::fromUtf8(path) << chunked << gzip
                                << size << status;
        };
        row("1 MiB", false, false, 1 << 20, 200);
        row("1 MiB and 1 byte", false, false, (1 << 20) + 1, 413);
        row("chunked, 1 MiB", true, false, 1 << 20, 200);
        row("chunked, 1.2 MB", true, false, 1200000, 413);
        row("gzip, 1 MiB", false, true, 1 << 20, 200);
        row("gzip, 1.2 MB", false, true, 1200000, 413);
        row("gzip and chunked, 1.2 MB", true, true, 1200000, 413);
        row("gzip bomb", true, true, 48 << 20, 413);
        row("gzip bomb, other method", true, true, 48 << 20, 405, "PUT");
        row("gzip bomb, other path", true, true, 48 << 20, 404, "POST", "/api/other");
    }

    void bodySizeLimit()
    {
        QFETCH(QString, method);
        QFETCH(QString, path);
        QFETCH(bool, chunked);
        QFETCH(bool, gzip);
        QFETCH(int, size);
        QFETCH(int, status);
        RunningServer server;
        auto client = server.client();
        client.set_keep_alive(true);
        auto result
            = sendBody(client, method.toStdString(), path.toStdString(), std::size_t(size), chunked, gzip);
        QVERIFY2(result, httplib::to_string(result.error()).c_str());
        QCOMPARE(result->status, status);
        const json reply = parse(result->body);
        QCOMPARE(reply.value("ok", false), status == 200);
        if (status == 200)
            QCOMPARE(reply.value("text", "").size(), std::size_t(size - 24));
        if (status == 413)
            QCOMPARE(q(reply.dump()),
                q(json({{"ok", false}, {"error", "payload_too_large"},
                           {"detail", "the body is larger than 1048576 bytes"}})
                        .dump()));
        // The same client goes on working.
        client.set_compress(false);
        QCOMPARE(client.Post("/api/fix-text", kFixBody, "application/json")->status, 200);
        client.stop();
        server.finish();
        // Past the limit the body is read on only so far, and never kept.
        const QRegularExpression line(
            QStringLiteral(" %1 %2 %3 .* in=(\\d+) ").arg(method, path).arg(status));
        const auto match = line.match(q(server.log()));
        QVERIFY2(match.hasMatch(), server.log().c_str());
        QVERIFY2(match.captured(1).toLongLong() <= 5 << 20, server.log().c_str());
    }

    // Every reply is JSON with a code and a reason. Web pages must not reach the backend: a browser
    // sends a plain POST to any address without asking, and through a name of its own that
    // resolves to 127.0.0.1 it can read the answer.
    void rawRequests_data()
    {
        QTest::addColumn<QByteArray>("request"); // Host and a body (but to GET, DELETE, OPTIONS) are added
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<bool>("allowRemote");
        const auto row = [](const char *name, const QByteArray &request, int status, const char *detail = "",
                             bool allowRemote = false) {
            QTest::newRow(name) << request << status << QString::fromUtf8(detail) << allowRemote;
        };
        const QByteArray post = "POST /api/fix-text HTTP/1.1\r\n",
                         json = "Content-Type: application/json\r\n";
        const QByteArray page = "Origin: https://notes.example\r\n",
                         evil = "Origin: https://evil.example\r\n";
        const auto host = [&](const char *name) { return post + "Host: " + name + "\r\n" + json; };
        row("GET /", "GET / HTTP/1.1\r\n", 404, "the backend serves POST /api/fix-text");
        row("POST elsewhere", "POST /api/fix HTTP/1.1\r\n" + json, 404);
        row("POST with a trailing slash", "POST /api/fix-text/ HTTP/1.1\r\n" + json, 404);
        for (const char *method :
            {"GET", "PUT", "DELETE", "PATCH", "OPTIONS", "HEAD", "TRACE", "CONNECT", "PRI"})
            row(method, method + QByteArray(" /api/fix-text HTTP/1.1\r\n"), 405);
        row("TRACE elsewhere", "TRACE /api/other HTTP/1.1\r\n", 404);
        row("no request line", "NONSENSE\r\n", 400, "malformed HTTP request");
        // Method names that httplib does not know are refused while the request is parsed.
        row("unknown method", "PROPFIND /api/fix-text HTTP/1.1\r\n", 400);
        row("lower-case method", "post /api/fix-text HTTP/1.1\r\n", 400);
        row("unknown version", "POST /api/fix-text HTTP/2.0\r\n", 400);
        // As Tarnwick's own client sends it: no Origin, the backend's address as Host, JSON.
        row("json", post + json, 200);
        row("json with a charset", post + "Content-Type: Application/JSON; charset=utf-8\r\n", 200);
        row("text/plain", post + "Content-Type: text/plain\r\n", 403, "application/json, not \"text/plain\"");
        row("no content type", post, 403, "the body must be sent with Content-Type: application/json");
        row("two content types", post + json + json, 403, "Content-Type");
        row("Host localhost", host("localhost:8787"), 200);
        row("Host LOCALHOST.", host("LOCALHOST."), 200);
        row("Host 127.3.2.1", host("127.3.2.1:80"), 200);
        row("Host [::1]", host("[::1]:8787"), 200);
        row("Host evil.example", host("evil.example"), 403,
            "Host header \"evil.example\" is not a loopback address");
        row("Host 127.0.0.1.evil.example", host("127.0.0.1.evil.example"), 403, "Host header");
        row("Host 0.0.0.0", host("0.0.0.0:8787"), 403, "Host header");
        row("Host with a bad port", host("127.0.0.1:x"), 403, "Host header");
        row("Host twice", host("127.0.0.1\r\nHost: evil.example"), 403, "in one Host header");
        row("Host evil.example, --allow-remote", host("evil.example"), 200, "", true);
        row("Origin, --allow-remote", post + evil + json, 403,
            "the origin \"https://evil.example\" is not allowed", true);
        row("Origin null", post + "Origin: null\r\n" + json, 403, "origin \"null\"");
        row("Origin of another port", post + "Origin: https://notes.example:8443\r\n" + json, 403);
        row("Origin allowed", post + page + json, 200);
        row("Origin allowed, text/plain", post + page + "Content-Type: text/plain\r\n", 403);
        row("Origin allowed, other path", "GET / HTTP/1.1\r\n" + page, 404);
        row("GET from a page", "GET /api/fix-text HTTP/1.1\r\n" + evil, 403);
        const QByteArray preflight
            = "OPTIONS /api/fix-text HTTP/1.1\r\nAccess-Control-Request-Method: POST\r\n";
        row("preflight", preflight + evil, 403);
        row("preflight, allowed", preflight + page, 204);
    }

    void rawRequests()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, status);
        QFETCH(QString, detail);
        QFETCH(bool, allowRemote);
        Backend::ServerOptions options;
        options.access.anyHost = allowRemote;
        options.access.origins = {"https://notes.example"};
        RunningServer server(nullptr, options);
        std::string raw = request.toStdString();
        if (!request.contains("Host: "))
            raw += "Host: 127.0.0.1:" + std::to_string(server.port()) + "\r\n";
        const bool withBody
            = !request.startsWith("GET") && !request.startsWith("DELETE") && !request.startsWith("OPTIONS");
        const std::string body = withBody ? kFixBody : std::string();
        raw = rawExchange(
            server.port(), raw + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
        QVERIFY2(q(raw).startsWith(QStringLiteral("HTTP/1.1 %1 ").arg(status)), raw.c_str());
        QCOMPARE(q(raw).contains(QStringLiteral("\r\nAllow: POST\r\n")), status == 405);
        // Every reply but to HEAD has a JSON body with an error code and a reason.
        static const QMap<int, QString> codes
            = {{400, QStringLiteral("bad_request")}, {403, QStringLiteral("forbidden")},
                {404, QStringLiteral("not_found")}, {405, QStringLiteral("method_not_allowed")}};
        const json reply = parse(rawBody(raw));
        QCOMPARE(q(reply.value("text", "")), status == 200 ? QStringLiteral("the") : QString());
        QCOMPARE(q(reply.value("error", "")), request.startsWith("HEAD") ? QString() : codes.value(status));
        QVERIFY2(request.startsWith("HEAD")
                || (q(reply.value("detail", "")).contains(detail)
                    && reply.contains("detail") == codes.contains(status)),
            raw.c_str());
        // Only an allowed origin may read the answer, and it alone is named.
        const bool readable = status != 403 && request.contains("notes.example");
        QCOMPARE(q(raw).contains(QStringLiteral("Access-Control-Allow-Origin: https://notes.example\r\n")),
            readable);
        QCOMPARE(q(raw).contains(QStringLiteral("Access-Control-Allow-Methods: POST\r\n")), status == 204);
        QCOMPARE(q(raw).count(QStringLiteral("Access-Control-")), readable ? (status == 204 ? 4 : 1) : 0);
    }

    void refusedBodyIsNotTakenForRequests()
    {
        // What a page sends as the body of a refused POST must not be read as the next requests
        // on the connection.
        RunningServer server;
        RawConnection connection(server.port());
        connection.send("POST /api/fix-text HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text/plain\r\n"
                        "Content-Length: 65536\r\n\r\n"
            + std::string(65536, 'x'));
        QVERIFY(q(connection.receive()).startsWith(QStringLiteral("HTTP/1.1 403 ")));
        connection.send("GET /last HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
        const std::string rest = connection.receive(RawConnection::Until::Closed);
        QVERIFY2(q(rest).startsWith(QStringLiteral("HTTP/1.1 404 "))
                && q(rest).count(QStringLiteral("HTTP/1.1")) == 1,
            rest.c_str());
    }

    void largeTextsQueueWhileSmallOnesDoNot()
    {
        Backend::ServerOptions options;
        options.correctionSlots = 1;
        options.budget = std::chrono::milliseconds(500);
        RunningServer server(nullptr, options);
        // Three large texts of about two seconds of work each.
        std::vector<std::future<std::pair<int, json>>> larges;
        for (std::uint32_t seed = 2; seed < 5; ++seed)
            larges.push_back(std::async(std::launch::async, [&server, seed] {
                return server.post(
                    json({{"text", unknownWords(64 << 10, seed) + "I recieve it."}, {"mode", "fix"}}).dump());
            }));
        QTRY_VERIFY_WITH_TIMEOUT(server.server().load().waiting == 2, 30000);
        QCOMPARE(server.server().load().running, std::size_t(1));
        const auto [status, reply] = server.post(kFixBody);
        QCOMPARE(status, 200);
        QCOMPARE(q(reply.value("text", "")), QStringLiteral("the"));
        // Answered at once, not after the large text being corrected (which takes half a second).
        QCOMPARE(server.server().load().done, std::size_t(0));
        for (auto &result : larges) {
            const auto [largeStatus, largeReply] = result.get();
            QCOMPARE(largeStatus, 200);
            QVERIFY(q(largeReply.value("text", "")).endsWith(QStringLiteral(" I recieve it.")));
        }
    }

    void concurrentClientsAndTheLog()
    {
        Backend::ServerOptions options;
        options.threads = 4;
        RunningServer server(nullptr, options);
        constexpr int clients = 8, requests = 40;
        std::atomic<int> good {0};
        std::vector<std::thread> threads;
        for (int c = 0; c < clients; ++c) {
            threads.emplace_back([&, c] {
                auto client = server.client();
                client.set_keep_alive(c % 2 == 0);
                for (int i = 0; i < requests; ++i) {
                    const std::string gap(static_cast<std::size_t>(1 + i % 3), ' ');
                    const std::string body = json({{"text", "teh" + gap + "zebra"}, {"mode", "fix"}}).dump();
                    auto result = client.Post("/api/fix-text", body, "application/json");
                    good += result && parse(result->body).value("text", "") == "the" + gap + "zebra";
                }
            });
        }
        for (auto &t : threads)
            t.join();
        server.post("{\"text\":\"zebra\",\"mode\":\"nope\"}");
        auto idle = server.client();
        idle.set_keep_alive(true);
        QCOMPARE(idle.Get("/missing")->status, 404);
        // Stopping does not wait for an idle keep-alive connection to go.
        const auto stopping = std::chrono::steady_clock::now();
        server.finish();
        QVERIFY(std::chrono::steady_clock::now() - stopping < std::chrono::seconds(8));
        QCOMPARE(good.load(), clients * requests);
        // One line per request, in any order: method, path, status, time, sizes, error; never the text.
        const std::string log = server.log();
        QCOMPARE(int(std::count(log.begin(), log.end(), '\n')), clients * requests + 2);
        QVERIFY2(q(log).contains(QRegularExpression(
                     QStringLiteral("Z POST /api/fix-text 200 \\d+\\.\\d\\dms in=3[123] out=\\d+\n"))),
            log.c_str());
        QVERIFY2(q(log).contains(
                     QRegularExpression(QStringLiteral(" POST /api/fix-text 400 .* error=bad_request\n"))),
            log.c_str());
        QVERIFY2(q(log).contains(QStringLiteral(" GET /missing 404 "))
                && !q(log).contains(QStringLiteral("zebra")),
            log.c_str());
    }
};

QTEST_GUILESS_MAIN(TestBackendServer)
#include "tst_backendserver.moc"
