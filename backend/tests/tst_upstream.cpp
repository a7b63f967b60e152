// The upstream path: the backend forwards to a fake OpenAI-compatible service on 127.0.0.1 and
// turns each of its failures into a 502 "openai_failed" reply, never showing the API key.

#include "BackendTestSupport.h"

#include <nlohmann/json.hpp>

#include <QTest>

#include <poll.h>

#include <condition_variable>

using BackendTest::RunningServer;
using json = nlohmann::json;
using namespace std::chrono_literals;

namespace {

const std::string kApiKey = "sk-test-0123456789abcdefSECRET";

QString q(const std::string &s)
{
    return QString::fromStdString(s);
}

Backend::Corrector &corrector()
{
    static Backend::Corrector instance;
    return instance;
}

// A chat-completions service on loopback whose answer each test chooses.
class FakeOpenAi {
public:
    using Behaviour = std::function<void(const httplib::Request &, httplib::Response &)>;

    explicit FakeOpenAi(Behaviour behaviour) : m_behaviour(std::move(behaviour))
    {
        m_server.Post(".*", [this](const httplib::Request &req, httplib::Response &res) {
            {
                std::lock_guard lock(m_mutex);
                m_requests.push_back(req);
            }
            m_behaviour(req, res);
        });
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        while (!m_server.is_running())
            std::this_thread::sleep_for(1ms);
    }
    ~FakeOpenAi()
    {
        release();
        m_server.stop();
        m_thread.join();
    }

    std::string url() const { return "http://127.0.0.1:" + std::to_string(m_port); }
    std::vector<httplib::Request> requests() const
    {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }

    // Holds a reply back until release() or five seconds pass.
    void stall()
    {
        std::unique_lock lock(m_mutex);
        m_released.wait_for(lock, 5s, [this] { return m_release; });
    }
    void release()
    {
        std::lock_guard lock(m_mutex);
        m_release = true;
        m_released.notify_all();
    }

    static json completion(const std::string &content)
    {
        return {{"id", "chatcmpl-1"},
                {"object", "chat.completion"},
                {"choices", json::array({{{"index", 0},
                                          {"message", {{"role", "assistant"}, {"content", content}}},
                                          {"finish_reason", "stop"}}})}};
    }

private:
    Behaviour m_behaviour;
    httplib::Server m_server;
    int m_port = 0;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::vector<httplib::Request> m_requests;
    std::condition_variable m_released;
    bool m_release = false;
};

// A service on loopback that answers one request a little at a time: the status line, then
// each header line (or each byte of the body) after a pause shorter than the backend's timeout.
class DribblingService {
public:
    enum class Part { Headers, Body };

    explicit DribblingService(Part part) : m_part(part)
    {
        m_listener = BackendTest::boundLoopbackSocket(m_port);
        ::listen(m_listener, 4);
        m_thread = std::thread([this] { serve(); });
    }
    ~DribblingService()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_listener);
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(m_port); }

private:
    // Waits up to 50 ms for `fd` to become readable.
    static bool readable(int fd)
    {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, 50) > 0;
    }

    void serve()
    {
        int fd = -1;
        while (!m_stop && fd < 0)
            if (readable(m_listener))
                fd = ::accept(m_listener, nullptr, nullptr);
        if (fd < 0)
            return;
        // The request: headers, then as much body as arrives promptly.
        std::string request;
        char buffer[4096];
        while (!m_stop && readable(fd)) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            request.append(buffer, static_cast<std::size_t>(n));
        }
        const std::string body = FakeOpenAi::completion("late").dump();
        std::vector<std::string> pieces{"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"};
        if (m_part == Part::Headers) {
            for (int i = 0; i < 40; ++i)
                pieces.push_back("X-Slow-" + std::to_string(i) + ": yes\r\n");
            pieces.push_back("Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
        } else {
            pieces.push_back("Content-Length: " + std::to_string(body.size()) + "\r\n\r\n");
            for (char c : body)
                pieces.emplace_back(1, c);
        }
        // 100 ms apart, each gap well within the timeout; stopped once the backend hangs up.
        for (const std::string &piece : pieces) {
            if (m_stop || ::send(fd, piece.data(), piece.size(), MSG_NOSIGNAL) < 0)
                break;
            for (int i = 0; i < 10 && !m_stop; ++i)
                std::this_thread::sleep_for(10ms);
        }
        ::close(fd);
    }

    Part m_part;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

struct Exchange {
    int status = 0;
    json reply;
    std::string raw;
};

Exchange ask(const std::string &upstreamUrl, const std::string &text, const std::string &mode,
             std::chrono::milliseconds timeout = 5s, std::string *log = nullptr, const std::string &apiKey = kApiKey)
{
    Backend::UpstreamConfig config;
    config.url = upstreamUrl;
    config.model = "test-model";
    config.apiKey = apiKey;
    config.timeout = timeout;
    Backend::OpenAiUpstream upstream;
    std::string error;
    if (!upstream.configure(config, error))
        qFatal("configure: %s", error.c_str());
    RunningServer server(corrector(), &upstream);
    auto client = server.client();
    Exchange exchange;
    auto result = client.Post("/api/fix-text", json({{"text", text}, {"mode", mode}}).dump(), "application/json");
    if (result) {
        exchange.status = result->status;
        exchange.raw = result->body;
        exchange.reply = json::parse(result->body, nullptr, false);
    }
    server.finish();
    if (log)
        *log = server.log().all();
    return exchange;
}

} // namespace

class TestUpstream : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void forwardsTextAndReturnsTheAnswer()
    {
        FakeOpenAi fake([](const httplib::Request &, httplib::Response &res) {
            res.set_content(FakeOpenAi::completion("Corrected “text”.\n").dump(), "application/json");
        });
        std::string log;
        const Exchange exchange = ask(fake.url(), "corected text", "fix", 5s, &log);
        QCOMPARE(exchange.status, 200);
        QCOMPARE(exchange.reply.value("ok", false), true);
        QCOMPARE(q(exchange.reply.value("text", "")), QStringLiteral("Corrected “text”.\n"));

        const auto requests = fake.requests();
        QCOMPARE(int(requests.size()), 1);
        const httplib::Request &sent = requests.front();
        QCOMPARE(q(sent.path), QStringLiteral("/v1/chat/completions"));
        QCOMPARE(q(sent.get_header_value("Authorization")), q("Bearer " + kApiKey));
        QVERIFY(q(sent.get_header_value("Content-Type")).startsWith(QStringLiteral("application/json")));
        const json body = json::parse(sent.body);
        QCOMPARE(q(body.value("model", "")), QStringLiteral("test-model"));
        QCOMPARE(body.value("temperature", -1.0), 0.0);
        QCOMPARE(int(body["messages"].size()), 2);
        QCOMPARE(q(body["messages"][0].value("role", "")), QStringLiteral("system"));
        QCOMPARE(q(body["messages"][0].value("content", "")), q(Backend::OpenAiUpstream::systemPrompt(Backend::Mode::Fix)));
        QCOMPARE(q(body["messages"][1].value("role", "")), QStringLiteral("user"));
        QCOMPARE(q(body["messages"][1].value("content", "")), QStringLiteral("corected text"));
        QVERIFY(!q(log).contains(q(kApiKey)));
        QVERIFY(!q(log).contains(QStringLiteral("corected")));
    }

    void formalModeHasItsOwnPrompt()
    {
        FakeOpenAi fake([](const httplib::Request &, httplib::Response &res) {
            res.set_content(FakeOpenAi::completion("I do not know.").dump(), "application/json");
        });
        const Exchange exchange = ask(fake.url() + "/v1/", "dunno", "formal");
        QCOMPARE(exchange.status, 200);
        QCOMPARE(q(exchange.reply.value("text", "")), QStringLiteral("I do not know."));
        const auto requests = fake.requests();
        QCOMPARE(int(requests.size()), 1);
        // A base URL that already ends in /v1 is not doubled.
        QCOMPARE(q(requests.front().path), QStringLiteral("/v1/chat/completions"));
        const json body = json::parse(requests.front().body);
        QCOMPARE(q(body["messages"][0].value("content", "")),
                 q(Backend::OpenAiUpstream::systemPrompt(Backend::Mode::Formal)));
        QVERIFY(Backend::OpenAiUpstream::systemPrompt(Backend::Mode::Formal)
                != Backend::OpenAiUpstream::systemPrompt(Backend::Mode::Fix));
    }

    void emptyTextSkipsTheService()
    {
        FakeOpenAi fake([](const httplib::Request &, httplib::Response &res) {
            res.set_content(FakeOpenAi::completion("should not be asked").dump(), "application/json");
        });
        const Exchange exchange = ask(fake.url(), "", "fix");
        QCOMPARE(exchange.status, 200);
        QCOMPARE(q(exchange.reply.value("text", "x")), QString());
        QCOMPARE(int(fake.requests().size()), 0);
    }

    void failures_data()
    {
        QTest::addColumn<int>("behaviour");
        QTest::addColumn<QString>("detail");
        QTest::newRow("401 with an error object") << 0 << "upstream replied HTTP 401: Incorrect API key provided";
        QTest::newRow("500 without JSON") << 1 << "upstream replied HTTP 500";
        QTest::newRow("429 with a string error") << 2 << "upstream replied HTTP 429: slow down";
        QTest::newRow("200 not JSON") << 3 << "upstream reply is not JSON";
        QTest::newRow("200 without choices") << 4 << "no choices[0].message.content";
        QTest::newRow("200 empty choices") << 5 << "no choices[0].message.content";
        QTest::newRow("200 content not a string") << 6 << "no choices[0].message.content";
        QTest::newRow("200 content null") << 7 << "no choices[0].message.content";
        QTest::newRow("302 redirect") << 8 << "upstream replied HTTP 302";
    }

    void failures()
    {
        QFETCH(int, behaviour);
        QFETCH(QString, detail);
        FakeOpenAi fake([behaviour](const httplib::Request &, httplib::Response &res) {
            switch (behaviour) {
            case 0:
                // Services quote (part of) a wrong key back.
                res.status = 401;
                res.set_content(json({{"error",
                                       {{"message", "Incorrect API key provided: " + kApiKey + " (sk-tes***CRET)."},
                                        {"type", "invalid_request_error"}}}})
                                    .dump(),
                                "application/json");
                break;
            case 1:
                res.status = 500;
                res.set_content("<html>oops</html>", "text/html");
                break;
            case 2:
                res.status = 429;
                res.set_content(R"({"error":"slow down"})", "application/json");
                break;
            case 3:
                res.set_content("Sure! Here is your text", "text/plain");
                break;
            case 4:
                res.set_content(R"({"id":"x"})", "application/json");
                break;
            case 5:
                res.set_content(R"({"choices":[]})", "application/json");
                break;
            case 6:
                res.set_content(R"({"choices":[{"message":{"content":["a"]}}]})", "application/json");
                break;
            case 7:
                res.set_content(R"({"choices":[{"message":{"role":"assistant","content":null}}]})", "application/json");
                break;
            case 8:
                res.status = 302;
                res.set_header("Location", "http://127.0.0.1:1/elsewhere");
                break;
            }
        });
        std::string log;
        const Exchange exchange = ask(fake.url(), "some text", "fix", 5s, &log);
        QCOMPARE(exchange.status, 502);
        QCOMPARE(exchange.reply.value("ok", true), false);
        QCOMPARE(q(exchange.reply.value("error", "")), QStringLiteral("openai_failed"));
        QVERIFY2(q(exchange.reply.value("detail", "")).contains(detail), exchange.raw.c_str());
        QVERIFY2(!q(exchange.raw).contains(QStringLiteral("SECRET")), exchange.raw.c_str());
        QVERIFY2(!q(exchange.raw).contains(QStringLiteral("0123456789")), exchange.raw.c_str());
        QVERIFY(!q(log).contains(QStringLiteral("SECRET")));
        QVERIFY(q(log).contains(QStringLiteral(" 502 ")) && q(log).contains(QStringLiteral("error=openai_failed")));
        QCOMPARE(int(fake.requests().size()), 1);
    }

    void keyCutByTheExcerptIsHidden_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("keyStart");
        // Messages are cut after 300 bytes; the key starts before the cut and ends after it.
        QTest::newRow("cut near its start") << "tw-0123456789abcdefghijSECRET" << 297;
        QTest::newRow("cut in the middle") << "tw-0123456789abcdefghijSECRET" << 286;
        QTest::newRow("cut near its end") << "tw-0123456789abcdefghijSECRET" << 275;
        QTest::newRow("sk- key after '='") << "sk-0123456789abcdefghijSECRET" << 286;
    }

    void keyCutByTheExcerptIsHidden()
    {
        QFETCH(QString, key);
        QFETCH(int, keyStart);
        const std::string apiKey = key.toStdString();
        std::string message = "Incorrect API key provided: key=";
        message += std::string(static_cast<std::size_t>(keyStart) - message.size(), 'x') + apiKey + " is not valid.";
        FakeOpenAi fake([message](const httplib::Request &, httplib::Response &res) {
            res.status = 401;
            res.set_content(json({{"error", {{"message", message}}}}).dump(), "application/json");
        });
        std::string log;
        const Exchange exchange = ask(fake.url(), "some text", "fix", 5s, &log, apiKey);
        QCOMPARE(exchange.status, 502);
        QVERIFY2(q(exchange.reply.value("detail", "")).contains(QStringLiteral("upstream replied HTTP 401: Incorrect")),
                 exchange.raw.c_str());
        // No six characters of the key in a row reach the client or the log.
        for (std::size_t i = 0; i + 6 <= apiKey.size(); ++i) {
            QVERIFY2(exchange.raw.find(apiKey.substr(i, 6)) == std::string::npos, exchange.raw.c_str());
            QVERIFY2(log.find(apiKey.substr(i, 6)) == std::string::npos, log.c_str());
        }
    }

    void slowServicePastTheTimeout()
    {
        FakeOpenAi *self = nullptr;
        FakeOpenAi fake([&self](const httplib::Request &, httplib::Response &res) {
            self->stall();
            res.set_content(FakeOpenAi::completion("late").dump(), "application/json");
        });
        self = &fake;
        const auto started = std::chrono::steady_clock::now();
        const Exchange exchange = ask(fake.url(), "some text", "fix", 300ms);
        const auto took = std::chrono::steady_clock::now() - started;
        fake.release();
        QCOMPARE(exchange.status, 502);
        QCOMPARE(q(exchange.reply.value("error", "")), QStringLiteral("openai_failed"));
        QVERIFY2(q(exchange.reply.value("detail", "")).contains(QStringLiteral("did not answer within 0.3 s")),
                 exchange.raw.c_str());
        QVERIFY(took >= 300ms);
        QVERIFY(took < 4s);
    }

    void dribblingServicePastTheTimeout_data()
    {
        QTest::addColumn<int>("part");
        QTest::newRow("headers") << int(DribblingService::Part::Headers);
        QTest::newRow("body") << int(DribblingService::Part::Body);
    }

    void dribblingServicePastTheTimeout()
    {
        // The timeout bounds the whole exchange, not each wait for data.
        QFETCH(int, part);
        DribblingService service{DribblingService::Part(part)};
        const auto started = std::chrono::steady_clock::now();
        const Exchange exchange = ask(service.url(), "some text", "fix", 500ms);
        const auto took = std::chrono::steady_clock::now() - started;
        QCOMPARE(exchange.status, 502);
        QVERIFY2(q(exchange.reply.value("detail", "")).contains(QStringLiteral("did not answer within 0.5 s")),
                 exchange.raw.c_str());
        QVERIFY(took >= 500ms);
        QVERIFY2(took < 2s, QByteArray::number(qint64(std::chrono::duration_cast<std::chrono::milliseconds>(took).count())));
    }

    void nothingListening()
    {
        const int port = BackendTest::closedPort();
        QVERIFY(port > 0);
        const Exchange exchange = ask("http://127.0.0.1:" + std::to_string(port), "some text", "fix");
        QCOMPARE(exchange.status, 502);
        QCOMPARE(q(exchange.reply.value("error", "")), QStringLiteral("openai_failed"));
        QVERIFY2(q(exchange.reply.value("detail", "")).contains(QStringLiteral("upstream request failed: Connection")),
                 exchange.raw.c_str());
    }

    void httpsIsSupported()
    {
        // TLS to a plain-HTTP service fails in the handshake, which shows that https:// URLs
        // are served by the TLS-enabled client rather than refused.
        FakeOpenAi fake([](const httplib::Request &, httplib::Response &res) {
            res.set_content(FakeOpenAi::completion("plain").dump(), "application/json");
        });
        std::string url = fake.url();
        url.replace(0, 4, "https");
        const Exchange exchange = ask(url, "some text", "fix");
        QCOMPARE(exchange.status, 502);
        QVERIFY2(q(exchange.reply.value("detail", "")).contains(QStringLiteral("SSL")), exchange.raw.c_str());
    }

    void badUrlsAreRefused_data()
    {
        QTest::addColumn<QString>("url");
        QTest::newRow("no scheme") << "127.0.0.1:8080";
        QTest::newRow("ftp") << "ftp://127.0.0.1";
        QTest::newRow("no host") << "http:///v1";
        QTest::newRow("user info") << "http://user:pw@127.0.0.1";
    }

    void badUrlsAreRefused()
    {
        QFETCH(QString, url);
        Backend::UpstreamConfig config;
        config.url = url.toStdString();
        Backend::OpenAiUpstream upstream;
        std::string error;
        QVERIFY(!upstream.configure(config, error));
        QVERIFY(!error.empty());
    }
};

QTEST_GUILESS_MAIN(TestUpstream)
#include "tst_upstream.moc"
