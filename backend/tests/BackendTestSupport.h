#pragma once

// Helpers shared by the backend's tests: a backend server running in-process on a free loopback
// port, with its log lines captured.

#include "corrector/Corrector.h"
#include "server/BackendServer.h"
#include "server/Upstream.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace BackendTest {

// Log lines written by a server, safe to read while it runs.
class CapturedLog {
public:
    Backend::LogSink sink()
    {
        return [this](const std::string &line) {
            std::lock_guard lock(m_mutex);
            m_lines.push_back(line);
        };
    }
    std::vector<std::string> lines() const
    {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }
    std::string all() const
    {
        std::string out;
        for (const auto &line : lines())
            out += line + "\n";
        return out;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

// A BackendServer serving on 127.0.0.1 from its own thread until destroyed.
class RunningServer {
public:
    RunningServer(const Backend::Corrector &corrector, const Backend::OpenAiUpstream *upstream = nullptr,
                  Backend::ServerOptions options = {})
        : m_server(corrector, upstream, options, m_log.sink())
    {
        std::string error;
        m_bound = m_server.bind("127.0.0.1", 0, error);
        if (m_bound)
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
    bool isBound() const { return m_bound; }
    int port() const { return m_server.port(); }
    httplib::Client client() const
    {
        httplib::Client c("127.0.0.1", port());
        c.set_connection_timeout(5);
        c.set_read_timeout(10);
        c.set_tcp_nodelay(true);
        return c;
    }
    const CapturedLog &log() const { return m_log; }

private:
    CapturedLog m_log;
    Backend::BackendServer m_server;
    bool m_bound = false;
    std::thread m_thread;
};

inline sockaddr_in loopbackAddress(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    return address;
}

// A TCP socket bound to a free port on 127.0.0.1, whose number goes to `port` (0 on failure).
inline int boundLoopbackSocket(int &port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopbackAddress(0);
    socklen_t length = sizeof address;
    port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    return fd;
}

// A port on 127.0.0.1 where nothing listens (bound, then released).
inline int closedPort()
{
    int port = 0;
    ::close(boundLoopbackSocket(port));
    return port;
}

// Sends raw bytes to 127.0.0.1:`port` and returns everything the server sends back before it
// closes the connection or two seconds pass.
inline std::string rawExchange(int port, const std::string &request)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = loopbackAddress(port);
    std::string reply;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0) {
        timeval timeout{2, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            reply.append(buffer, static_cast<std::size_t>(n));
            // Stop at the end of the first complete reply.
            const auto headerEnd = reply.find("\r\n\r\n");
            const auto lengthAt = reply.find("Content-Length: ");
            if (headerEnd != std::string::npos && lengthAt != std::string::npos && lengthAt < headerEnd
                && reply.size() >= headerEnd + 4 + std::stoul(reply.substr(lengthAt + 16)))
                break;
        }
    }
    ::close(fd);
    return reply;
}

} // namespace BackendTest
