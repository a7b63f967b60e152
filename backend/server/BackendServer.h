#pragma once

#include "Access.h"
#include "CorrectionQueue.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace Backend {

class Corrector;
class OpenAiUpstream;

struct ServerOptions {
    // Connections served at once: each holds a thread while it is open, also while its text waits
    // for a turn in the correction queue.
    std::size_t threads = 64;
    std::size_t maxBodyBytes = 1 << 20;
    std::chrono::seconds readTimeout {5};
    std::chrono::seconds writeTimeout {5};
    std::chrono::seconds keepAliveTimeout {5};
    std::size_t keepAliveRequests = 10000;
    AccessPolicy access;
    std::chrono::milliseconds budget{2000}; // CPU time the offline corrector spends on one request
    std::size_t correctionSlots = 0; // large texts corrected at once; 0: one per processor
    std::size_t smallTextBytes = 4096; // texts up to this size (about a page) never wait for a slot
};

// Receives one finished log line (no line break) at a time, from any request thread.
using LogSink = std::function<void(const std::string &line)>;

// The HTTP server: POST /api/fix-text answered by the upstream service when one is given,
// otherwise by the offline corrector. Requests that the access policy refuses get 403. JSON
// bodies on every reply, errors included. One log line per request (method, path, status,
// duration, byte counts; never the text).
class BackendServer {
public:
    // `corrector` and `upstream` (may be null) must outlive the server.
    BackendServer(
        const Corrector &corrector, const OpenAiUpstream *upstream, ServerOptions options, LogSink log);
    ~BackendServer();
    BackendServer(const BackendServer &) = delete;
    BackendServer &operator=(const BackendServer &) = delete;

    // Binds and listens on `host`:`port` (0: any free port). False with `error` set when the
    // address is taken or unusable.
    bool bind(const std::string &host, int port, std::string &error);
    // The bound port.
    int port() const { return m_port; }

    // Serves until stop(); returns false if serving could not start.
    bool run();
    // Makes run() return after the requests in progress are answered. Callable from any thread.
    void stop();

    // Large texts being corrected, waiting for their turn, and corrected so far.
    CorrectionQueue::Load load() const;

private:
    class Impl;
    std::unique_ptr<Impl> d;
    int m_port = 0;
};

// Writes a log line to standard error in one write.
void logToStderr(const std::string &line);

} // namespace Backend
