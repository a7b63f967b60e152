// The backend server over real HTTP on 127.0.0.1: the protocol's replies, bad input, size limits,
// unknown paths and methods, keep-alive and concurrent clients, and the request log.

#include "BackendTestSupport.h"

#include <nlohmann/json.hpp>

#include <QRegularExpression>
#include <QTest>

using BackendTest::RunningServer;
using json = nlohmann::json;

namespace {

QString q(const std::string &s)
{
    return QString::fromStdString(s);
}

Backend::Corrector &corrector()
{
    static Backend::Corrector instance;
    return instance;
}

std::string post(httplib::Client &client, const std::string &body, int &status, std::string *contentType = nullptr)
{
    auto result = client.Post("/api/fix-text", body, "application/json");
    if (!result) {
        status = -1;
        return {};
    }
    status = result->status;
    if (contentType)
        *contentType = result->get_header_value("Content-Type");
    return result->body;
}

// Sends a body of `size` bytes, a fix-text request padded with spaces, chunked or with a length,
// gzip-compressed or not. The server sees the decoded size only after undoing both.
httplib::Result sendBody(httplib::Client &client, const std::string &method, const std::string &path,
                         std::size_t size, bool chunked, bool gzip)
{
    const std::string prefix = "{\"mode\":\"fix\",\"text\":\"", suffix = "\"}";
    client.set_compress(gzip);
    if (!chunked) {
        std::string body = prefix + std::string(size - prefix.size() - suffix.size(), ' ') + suffix;
        return method == "PUT" ? client.Put(path, body, "application/json")
                               : client.Post(path, body, "application/json");
    }
    // Written in pieces, so a large body never has to exist in the test at once.
    auto written = std::make_shared<std::size_t>(0);
    auto provider = [=](std::size_t, httplib::DataSink &sink) {
        static const std::string spaces(64 * 1024, ' ');
        if (*written == 0) {
            sink.write(prefix.data(), prefix.size());
            *written = prefix.size();
        }
        const std::size_t left = size - suffix.size() - *written;
        if (left == 0) {
            sink.write(suffix.data(), suffix.size());
            sink.done();
            return true;
        }
        const std::size_t n = std::min(left, spaces.size());
        *written += n;
        return sink.write(spaces.data(), n);
    };
    return method == "PUT" ? client.Put(path, provider, "application/json")
                           : client.Post(path, provider, "application/json");
}

// The reply parsed as a JSON object, or a null value.
json parse(const std::string &body)
{
    json reply = json::parse(body, nullptr, false);
    return reply.is_object() ? reply : json();
}

} // namespace

class TestBackendServer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(corrector().hasSpeller()); }

    void corrects_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("text");
        QTest::newRow("text then mode") << QByteArray("{\"text\":\"teh cat\",\"mode\":\"fix\"}") << "the cat";
        QTest::newRow("mode then text") << QByteArray("{\"mode\":\"fix\",\"text\":\"teh cat\"}") << "the cat";
        QTest::newRow("white space around") << QByteArray(" \n{ \"mode\" : \"fix\" ,\n \"text\" : \"teh\" }\n ") << "the";
        QTest::newRow("formal") << QByteArray("{\"mode\":\"formal\",\"text\":\"I don't know\"}") << "I do not know";
        QTest::newRow("empty text") << QByteArray("{\"text\":\"\",\"mode\":\"fix\"}") << "";
        QTest::newRow("empty text formal") << QByteArray("{\"text\":\"\",\"mode\":\"formal\"}") << "";
        QTest::newRow("utf-8 kept") << QByteArray("{\"text\":\"caf\xC3\xA9 \xF0\x9F\x98\x80 \xE6\x97\xA5\xE6\x9C\xAC teh\",\"mode\":\"fix\"}")
                                    << QStringLiteral("café 😀 日本 the");
        QTest::newRow("escapes decoded") << QByteArray("{\"text\":\"caf\\u00e9 \\ud83d\\ude00 a\\tb\\n\\\"q\\\"\",\"mode\":\"fix\"}")
                                         << QStringLiteral("café 😀 a\tb\n\"q\"");
        QTest::newRow("control characters") << QByteArray("{\"text\":\"a\\u0000b\\u001f\",\"mode\":\"fix\"}")
                                            << QString::fromUtf8("a\0b\x1f", 4);
    }

    void corrects()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, text);
        RunningServer server(corrector());
        QVERIFY(server.isBound());
        auto client = server.client();
        int status = 0;
        std::string contentType;
        const json reply = parse(post(client, body.toStdString(), status, &contentType));
        QCOMPARE(status, 200);
        QVERIFY(q(contentType).startsWith(QStringLiteral("application/json")));
        QCOMPARE(reply.value("ok", false), true);
        QVERIFY(reply.contains("text") && reply["text"].is_string());
        QCOMPARE(q(reply["text"].get<std::string>()), text);
    }

    void badRequests_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("detail");
        QTest::newRow("empty body") << QByteArray() << "body is empty";
        QTest::newRow("not json") << QByteArray("text=hello") << "not valid JSON";
        QTest::newRow("truncated") << QByteArray("{\"text\":\"a\",\"mode\":\"fi") << "not valid JSON";
        QTest::newRow("trailing garbage") << QByteArray("{\"text\":\"a\",\"mode\":\"fix\"} x") << "not valid JSON";
        QTest::newRow("two objects") << QByteArray("{\"text\":\"a\",\"mode\":\"fix\"}{}") << "not valid JSON";
        QTest::newRow("array") << QByteArray("[{\"text\":\"a\",\"mode\":\"fix\"}]") << "not a JSON object";
        QTest::newRow("string") << QByteArray("\"text\"") << "not a JSON object";
        QTest::newRow("number") << QByteArray("42") << "not a JSON object";
        QTest::newRow("null") << QByteArray("null") << "not a JSON object";
        QTest::newRow("deep nesting") << QByteArray(100000, '[') << "not a JSON object";
        QTest::newRow("no members") << QByteArray("{}") << "missing member \"text\"";
        QTest::newRow("no mode") << QByteArray("{\"text\":\"a\"}") << "missing member \"mode\"";
        QTest::newRow("no text") << QByteArray("{\"mode\":\"fix\"}") << "missing member \"text\"";
        QTest::newRow("text number") << QByteArray("{\"text\":1,\"mode\":\"fix\"}") << "\"text\" is a number";
        QTest::newRow("text null") << QByteArray("{\"text\":null,\"mode\":\"fix\"}") << "\"text\" is null";
        QTest::newRow("text array") << QByteArray("{\"text\":[\"a\"],\"mode\":\"fix\"}") << "\"text\" is an array";
        QTest::newRow("text object") << QByteArray("{\"text\":{\"a\":\"b\"},\"mode\":\"fix\"}") << "\"text\" is an object";
        QTest::newRow("mode boolean") << QByteArray("{\"text\":\"a\",\"mode\":true}") << "\"mode\" is a boolean";
        QTest::newRow("unknown mode") << QByteArray("{\"text\":\"a\",\"mode\":\"casual\"}") << "unknown mode \"casual\"";
        QTest::newRow("mode case") << QByteArray("{\"text\":\"a\",\"mode\":\"FIX\"}") << "unknown mode";
        QTest::newRow("empty mode") << QByteArray("{\"text\":\"a\",\"mode\":\"\"}") << "unknown mode";
        QTest::newRow("extra member") << QByteArray("{\"text\":\"a\",\"mode\":\"fix\",\"lang\":\"en\"}")
                                      << "unexpected member \"lang\"";
        QTest::newRow("duplicate text") << QByteArray("{\"text\":\"a\",\"text\":\"b\",\"mode\":\"fix\"}")
                                        << "duplicate member \"text\"";
        QTest::newRow("invalid utf-8 in text") << QByteArray("{\"mode\":\"fix\",\"text\":\"caf\xC3(\"}")
                                               << "\"text\" is not valid UTF-8";
        QTest::newRow("overlong utf-8") << QByteArray("{\"mode\":\"fix\",\"text\":\"\xC0\xAF\"}") << "not valid UTF-8";
        QTest::newRow("lone surrogate escape") << QByteArray("{\"mode\":\"fix\",\"text\":\"a\\ud800b\"}")
                                               << "\"text\" is not valid UTF-8";
        QTest::newRow("latin-1 body") << QByteArray("{\"text\":\"caf\xE9\",\"mode\":\"fix\"}") << "not valid UTF-8";
    }

    void badRequests()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, detail);
        RunningServer server(corrector());
        auto client = server.client();
        int status = 0;
        std::string contentType;
        const std::string raw = post(client, body.toStdString(), status, &contentType);
        QCOMPARE(status, 400);
        QVERIFY(q(contentType).startsWith(QStringLiteral("application/json")));
        const json reply = parse(raw);
        QCOMPARE(q(reply.dump()), q(json({{"ok", false}, {"error", "bad_request"}, {"detail", reply.value("detail", "")}}).dump()));
        QVERIFY2(q(reply["detail"].get<std::string>()).contains(detail), raw.c_str());
    }

    void bodySizeLimit()
    {
        RunningServer server(corrector());
        auto client = server.client();
        // Exactly 1 MiB is accepted ...
        const std::string prefix = "{\"mode\":\"fix\",\"text\":\"", suffix = "\"}";
        std::string body = prefix + std::string((1 << 20) - prefix.size() - suffix.size(), ' ') + suffix;
        QCOMPARE(body.size(), std::size_t(1 << 20));
        int status = 0;
        json reply = parse(post(client, body, status));
        QCOMPARE(status, 200);
        QCOMPARE(reply["text"].get<std::string>().size(), std::size_t((1 << 20) - prefix.size() - suffix.size()));
        // ... one byte more is not, with a JSON reply.
        body.insert(prefix.size(), " ");
        reply = parse(post(client, body, status));
        QCOMPARE(status, 413);
        QCOMPARE(reply.value("ok", true), false);
        QCOMPARE(q(reply.value("error", "")), QStringLiteral("payload_too_large"));
        QVERIFY(q(reply.value("detail", "")).contains(QStringLiteral("1048576")));
        // The server still serves afterwards.
        auto again = server.client();
        reply = parse(post(again, "{\"text\":\"teh\",\"mode\":\"fix\"}", status));
        QCOMPARE(status, 200);
    }

    void decodedBodySizeLimit_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("chunked");
        QTest::addColumn<bool>("gzip");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("status");
        const QString fix = QStringLiteral("/api/fix-text");
        QTest::newRow("chunked, 1 MiB") << "POST" << fix << true << false << (1 << 20) << 200;
        QTest::newRow("chunked, 1.2 MB") << "POST" << fix << true << false << 1200000 << 413;
        QTest::newRow("gzip, 1 MiB") << "POST" << fix << false << true << (1 << 20) << 200;
        QTest::newRow("gzip, 1.2 MB") << "POST" << fix << false << true << 1200000 << 413;
        QTest::newRow("gzip and chunked, 1.2 MB") << "POST" << fix << true << true << 1200000 << 413;
        QTest::newRow("gzip bomb") << "POST" << fix << true << true << (48 << 20) << 413;
        QTest::newRow("gzip bomb, other method") << "PUT" << fix << true << true << (48 << 20) << 405;
        QTest::newRow("gzip bomb, other path") << "POST" << "/api/other" << true << true << (48 << 20) << 404;
    }

    void decodedBodySizeLimit()
    {
        QFETCH(QString, method);
        QFETCH(QString, path);
        QFETCH(bool, chunked);
        QFETCH(bool, gzip);
        QFETCH(int, size);
        QFETCH(int, status);
        RunningServer server(corrector());
        auto client = server.client();
        client.set_keep_alive(true);
        auto result = sendBody(client, method.toStdString(), path.toStdString(), std::size_t(size), chunked, gzip);
        QVERIFY2(result, httplib::to_string(result.error()).c_str());
        QCOMPARE(result->status, status);
        const json reply = parse(result->body);
        if (status == 200) {
            QCOMPARE(reply.value("ok", false), true);
            QCOMPARE(reply.value("text", "").size(), std::size_t(size - 24));
        } else {
            QCOMPARE(reply.value("ok", true), false);
        }
        if (status == 413) {
            QCOMPARE(q(reply.value("error", "")), QStringLiteral("payload_too_large"));
            QCOMPARE(q(reply.value("detail", "")), QStringLiteral("the body is larger than 1048576 bytes"));
        }
        // The same client goes on working.
        client.set_compress(false);
        int again = 0;
        post(client, "{\"text\":\"teh\",\"mode\":\"fix\"}", again);
        QCOMPARE(again, 200);
        client.stop();
        server.finish();
        // Past the limit the body is read on only so far, and never kept.
        const QRegularExpression line(QStringLiteral(" %1 %2 %3 .* in=(\\d+) ").arg(method, path).arg(status));
        const auto match = line.match(q(server.log().all()));
        QVERIFY2(match.hasMatch(), server.log().all().c_str());
        QVERIFY2(match.captured(1).toLongLong() <= 5 << 20, server.log().all().c_str());
    }

    void otherPathsAndMethods_data()
    {
        QTest::addColumn<QString>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("status");
        QTest::newRow("GET /") << "GET" << "/" << 404;
        QTest::newRow("POST elsewhere") << "POST" << "/api/fix" << 404;
        QTest::newRow("POST with a trailing slash") << "POST" << "/api/fix-text/" << 404;
        QTest::newRow("GET") << "GET" << "/api/fix-text" << 405;
        QTest::newRow("PUT") << "PUT" << "/api/fix-text" << 405;
        QTest::newRow("DELETE") << "DELETE" << "/api/fix-text" << 405;
        QTest::newRow("PATCH") << "PATCH" << "/api/fix-text" << 405;
        QTest::newRow("OPTIONS") << "OPTIONS" << "/api/fix-text" << 405;
        QTest::newRow("HEAD") << "HEAD" << "/api/fix-text" << 405;
        QTest::newRow("TRACE") << "TRACE" << "/api/fix-text" << 405;
        QTest::newRow("CONNECT") << "CONNECT" << "/api/fix-text" << 405;
        QTest::newRow("PRI") << "PRI" << "/api/fix-text" << 405;
        QTest::newRow("TRACE elsewhere") << "TRACE" << "/api/other" << 404;
    }

    void otherPathsAndMethods()
    {
        QFETCH(QString, method);
        QFETCH(QString, path);
        QFETCH(int, status);
        RunningServer server(corrector());
        auto client = server.client();
        httplib::Request request;
        request.method = method.toStdString();
        request.path = path.toStdString();
        if (method != QStringLiteral("GET") && method != QStringLiteral("DELETE") && method != QStringLiteral("OPTIONS")) {
            request.body = "{\"text\":\"a\",\"mode\":\"fix\"}";
            request.set_header("Content-Type", "application/json");
        }
        httplib::Response response;
        httplib::Error error;
        QVERIFY2(client.send(request, response, error), httplib::to_string(error).c_str());
        QCOMPARE(response.status, status);
        if (status == 405)
            QCOMPARE(q(response.get_header_value("Allow")), QStringLiteral("POST"));
        // A reply to HEAD has no body.
        if (method == QStringLiteral("HEAD"))
            return;
        QVERIFY(q(response.get_header_value("Content-Type")).startsWith(QStringLiteral("application/json")));
        std::string body = response.body;
        // httplib's client does not read the body of a reply to CONNECT.
        if (method == QStringLiteral("CONNECT")) {
            const std::string raw = BackendTest::rawExchange(
                server.port(), "CONNECT " + path.toStdString() + " HTTP/1.1\r\nHost: x\r\n\r\n");
            const auto bodyStart = raw.find("\r\n\r\n");
            QVERIFY2(bodyStart != std::string::npos, raw.c_str());
            body = raw.substr(bodyStart + 4);
        }
        const json reply = parse(body);
        QVERIFY2(reply.is_object(), body.c_str());
        QCOMPARE(reply.value("ok", true), false);
        QVERIFY(!reply.value("error", "").empty());
        QVERIFY(!reply.value("detail", "").empty());
    }

    void malformedHttpGetsJson_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::newRow("no request line") << QByteArray("NONSENSE\r\n\r\n");
        // Method names that httplib does not know are refused while the request is parsed.
        QTest::newRow("unknown method") << QByteArray("PROPFIND /api/fix-text HTTP/1.1\r\nHost: x\r\n\r\n");
        QTest::newRow("lower-case method") << QByteArray("post /api/fix-text HTTP/1.1\r\nHost: x\r\n\r\n");
        QTest::newRow("unknown version") << QByteArray("POST /api/fix-text HTTP/2.0\r\nHost: x\r\n\r\n");
    }

    void malformedHttpGetsJson()
    {
        QFETCH(QByteArray, request);
        RunningServer server(corrector());
        const std::string reply = BackendTest::rawExchange(server.port(), request.toStdString());
        QVERIFY2(q(reply).startsWith(QStringLiteral("HTTP/1.1 400")), reply.c_str());
        const auto bodyStart = reply.find("\r\n\r\n");
        QVERIFY(bodyStart != std::string::npos);
        QCOMPARE(q(parse(reply.substr(bodyStart + 4)).value("error", "")), QStringLiteral("bad_request"));
    }

    void keepAliveServesManyRequests()
    {
        RunningServer server(corrector());
        auto client = server.client();
        client.set_keep_alive(true);
        for (int i = 0; i < 50; ++i) {
            int status = 0;
            const json reply = parse(post(client, "{\"text\":\"i recieve\",\"mode\":\"fix\"}", status));
            QCOMPARE(status, 200);
            QCOMPARE(q(reply.value("text", "")), QStringLiteral("I receive"));
        }
    }

    void concurrentClients()
    {
        Backend::ServerOptions options;
        options.threads = 4;
        RunningServer server(corrector(), nullptr, options);
        constexpr int clients = 8, requests = 40;
        std::atomic<int> good{0};
        std::vector<std::thread> threads;
        for (int c = 0; c < clients; ++c) {
            threads.emplace_back([&, c] {
                auto client = server.client();
                client.set_keep_alive(c % 2 == 0);
                for (int i = 0; i < requests; ++i) {
                    const std::string word = "teh" + std::string(static_cast<std::size_t>(1 + i % 3), ' ') + "wierd";
                    int status = 0;
                    const json reply = parse(post(client, json({{"text", word}, {"mode", "fix"}}).dump(), status));
                    if (status == 200 && reply.value("text", "") == "the" + std::string(static_cast<std::size_t>(1 + i % 3), ' ') + "weird")
                        ++good;
                    else
                        qWarning("client %d request %d: status %d %s", c, i, status, reply.dump().c_str());
                }
            });
        }
        for (auto &t : threads)
            t.join();
        server.finish();
        QCOMPARE(good.load(), clients * requests);
        QCOMPARE(int(server.log().lines().size()), clients * requests);
    }

    void logsOneLinePerRequestWithoutText()
    {
        RunningServer server(corrector());
        auto client = server.client();
        int status = 0;
        const std::string body = "{\"text\":\"confidential zebra\",\"mode\":\"fix\"}";
        post(client, body, status);
        post(client, "{\"text\":\"confidential zebra\",\"mode\":\"nope\"}", status);
        client.Get("/missing");
        server.finish();
        const auto lines = server.log().lines();
        QCOMPARE(int(lines.size()), 3);
        // Requests on separate connections may be logged in any order.
        const auto find = [&](const char *part) {
            for (const auto &line : lines)
                if (q(line).contains(QLatin1String(part)))
                    return q(line);
            return QString();
        };
        const QString ok = find(" POST /api/fix-text 200 ");
        QVERIFY2(!ok.isEmpty(), server.log().all().c_str());
        QVERIFY(ok.contains(QStringLiteral("in=%1 ").arg(body.size())));
        QVERIFY(ok.contains(QRegularExpression(QStringLiteral(" \\d+\\.\\d\\dms in=\\d+ out=\\d+$"))));
        const QString bad = find(" POST /api/fix-text 400 ");
        QVERIFY(bad.endsWith(QStringLiteral("error=bad_request")));
        QVERIFY(!find(" GET /missing 404 ").isEmpty());
        for (const auto &line : lines)
            QVERIFY2(!q(line).contains(QStringLiteral("zebra")), line.c_str());
    }

    void stopsWhileClientsAreConnected()
    {
        auto server = std::make_unique<RunningServer>(corrector());
        auto client = server->client();
        client.set_keep_alive(true);
        int status = 0;
        post(client, "{\"text\":\"a\",\"mode\":\"fix\"}", status);
        QCOMPARE(status, 200);
        const auto started = std::chrono::steady_clock::now();
        server.reset(); // stop with an idle keep-alive connection open
        QVERIFY(std::chrono::steady_clock::now() - started < std::chrono::seconds(8));
    }
};

QTEST_GUILESS_MAIN(TestBackendServer)
#include "tst_backendserver.moc"
