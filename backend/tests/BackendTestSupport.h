#pragma once

// Helpers shared by the backend's tests: a server in-process on loopback, raw HTTP, JSON replies.

#include "corrector/Corrector.h"
#include "server/BackendServer.h"
#include "server/Upstream.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <QString>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

namespace BackendTest {

using json = nlohmann::json;

inline QString q(const std::string &s)
{
    return QString::fromStdString(s);
}

// One corrector for all tests of a process: loading the dictionaries takes a while.
inline Backend::Corrector &corrector()
{
    static Backend::Corrector instance;
    return instance;
}

// A reply body parsed as a JSON object; an empty one when it is none.
inline json parse(const std::string &body)
{
    json reply = json::parse(body, nullptr, false);
    return reply.is_object() ? reply : json::object();
}

// About `bytes` bytes of sentences of eight random seven-letter words: none is in a dictionary, and
// each costs the corrector a search for suggestions the first time. `seed` picks the words: the
// corrector remembers those it has seen.
inline std::string unknownWords(std::size_t bytes, std::uint32_t seed)
{
    std::string text;
    std::uint32_t state = seed;
    for (int word = 1; text.size() + 8 <= bytes; ++word) {
        for (int i = 0; i < 7; ++i) {
            state = state * 1664525u + 1013904223u;
            text += static_cast<char>('a' + (state >> 24) % 26);
        }
        text += word % 8 ? " " : ". ";
    }
    return text;
}

// A BackendServer serving on 127.0.0.1 from its own thread until destroyed, with its log lines.
class RunningServer {
public:
    RunningServer(const Backend::OpenAiUpstream *upstream = nullptr, Backend::ServerOptions options = {})
        : m_server(corrector(), upstream, options, [this](const std::string &line) {
            std::lock_guard lock(m_mutex);
            m_log += line + "\n";
        })
    {
        std::string error;
        if (m_server.bind("127.0.0.1", 0, error))
            m_thread = std::thread([this] { m_server.run(); });
    }
    ~RunningServer() { finish(); }
    // Stops serving and waits for the serving thread, so every request has been logged.
    void finish()
    {
        m_server.stop();
        if (m_thread.joinable())
            m_thread.join();
    }
    int port() const { return m_server.port(); }
    Backend::BackendServer &server() { return m_server; }
    httplib::Client client() const
    {
        httplib::Client c("127.0.0.1", port());
        c.set_connection_timeout(5);
        c.set_read_timeout(120); // wall time: a loaded machine stretches the CPU budget
        return c;
    }
    // POSTs `body` as JSON to /api/fix-text; status -1 when no reply came.
    std::pair<int, json> post(const std::string &body) const
    {
        auto c = client();
        auto result = c.Post("/api/fix-text", body, "application/json");
        return result ? std::pair(result->status, parse(result->body)) : std::pair(-1, json());
    }
    // The log lines so far, each ended by a line break.
    std::string log() const
    {
        std::lock_guard lock(m_mutex);
        return m_log;
    }

private:
    mutable std::mutex m_mutex;
    std::string m_log;
    Backend::BackendServer m_server;
    std::thread m_thread;
};

// A TCP connection to 127.0.0.1:`port` that sends and receives raw bytes.
class RawConnection {
public:
    explicit RawConnection(int port)
        : m_fd(::socket(AF_INET, SOCK_STREAM, 0))
    {
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(port));
        m_connected = ::connect(m_fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
        timeval timeout {10, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    }
    ~RawConnection() { ::close(m_fd); }
    RawConnection(const RawConnection &) = delete;
    RawConnection &operator=(const RawConnection &) = delete;

    void send(const std::string &bytes)
    {
        if (m_connected)
            ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
    enum class Until { Headers, Reply, Closed };
    // What the server sends until the end of the headers or of the first reply, or until it closes
    // the connection, or ten seconds pass.
    std::string receive(Until until = Until::Reply)
    {
        std::string reply;
        char buffer[4096];
        for (ssize_t n; m_connected && (n = ::recv(m_fd, buffer, sizeof buffer, 0)) > 0;) {
            reply.append(buffer, static_cast<std::size_t>(n));
            const auto headerEnd = reply.find("\r\n\r\n"), lengthAt = reply.find("Content-Length: ");
            if (until == Until::Headers && headerEnd != std::string::npos)
                break;
            if (until == Until::Reply && headerEnd != std::string::npos && lengthAt < headerEnd
                && reply.size() >= headerEnd + 4 + std::stoul(reply.substr(lengthAt + 16)))
                break;
        }
        return reply;
    }

private:
    int m_fd;
    bool m_connected = false;
};

// Sends `request` on a new connection and returns the reply (to HEAD: its headers).
inline std::string rawExchange(int port, const std::string &request)
{
    RawConnection connection(port);
    connection.send(request);
    return connection.receive(
        request.rfind("HEAD ", 0) == 0 ? RawConnection::Until::Headers : RawConnection::Until::Reply);
}

// The body of the first reply in `raw`.
inline std::string rawBody(const std::string &raw)
{
    const auto start = raw.find("\r\n\r\n");
    return start == std::string::npos ? std::string() : raw.substr(start + 4);
}

} // namespace BackendTest
