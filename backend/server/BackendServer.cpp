#include "BackendServer.h"

#include "Protocol.h"
#include "Upstream.h"
#include "corrector/Corrector.h"

#include <httplib.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace Backend {

namespace {

using Clock = std::chrono::steady_clock;

// httplib's listen backlog is fixed at 5 when the library is built; many clients connecting at
// once would then wait for SYN retries. Listening again on the bound socket raises it.
class HttpServer : public httplib::Server {
public:
    void raiseBacklog() { ::listen(svr_sock_, SOMAXCONN); }
};

// When the request on this thread started, set before routing.
thread_local Clock::time_point t_requestStart;
thread_local bool t_requestStarted = false;
// The error code of the reply on this thread, for the log line.
thread_local std::string t_errorCode;
// Why the request on this thread is refused, when that is said after its body is read.
thread_local std::string t_refusal;
// The body bytes read for the request on this thread, after decoding, for the log line.
thread_local std::size_t t_bodyBytes = 0;

constexpr const char *kFixTextPath = "/api/fix-text";
// How far past the size limit a body is still read (and dropped), as a multiple of the limit.
constexpr std::size_t kBodyReadFactor = 4;

std::string timestamp()
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis
        = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm utc {};
    gmtime_r(&seconds, &utc);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
        utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(millis));
    return buffer;
}

// A request method or path fit for the log: no spaces, never empty.
std::string printablePath(const std::string &path)
{
    std::string out = printable(path, 200);
    std::replace(out.begin(), out.end(), ' ', '?');
    return out.empty() ? std::string("-") : out;
}

// httplib accepts TRACE, CONNECT and PRI but routes none of them (it would answer 400).
bool isRouted(const std::string &method)
{
    static constexpr std::array<std::string_view, 7> routed
        = {"GET", "HEAD", "POST", "PUT", "PATCH", "DELETE", "OPTIONS"};
    return std::find(routed.begin(), routed.end(), method) != routed.end();
}

// The methods whose requests httplib reads a body for (through the handlers below).
bool hasBody(const std::string &method)
{
    return method == "POST" || method == "PUT" || method == "PATCH" || method == "DELETE";
}

void reply(httplib::Response &res, int status, const std::string &body)
{
    res.status = status;
    res.set_content(body, "application/json; charset=utf-8");
}

void replyError(httplib::Response &res, int status, const char *code, const std::string &detail)
{
    t_errorCode = code;
    reply(res, status, errorBody(code, detail));
}

void replyTooLarge(httplib::Response &res, std::size_t maxBody)
{
    replyError(
        res, 413, "payload_too_large", "the body is larger than " + std::to_string(maxBody) + " bytes");
}

void replyNotFound(httplib::Response &res)
{
    replyError(res, 404, "not_found", "no such path: the backend serves POST /api/fix-text");
}

void replyNotAllowed(httplib::Response &res)
{
    res.set_header("Allow", "POST");
    replyError(res, 405, "method_not_allowed", "use POST for /api/fix-text");
}

} // namespace

class BackendServer::Impl {
public:
    Impl(const Corrector &corrector, const OpenAiUpstream *upstream, ServerOptions options, LogSink log)
        : m_corrector(corrector)
        , m_upstream(upstream)
        , m_options(options)
        , m_log(std::move(log))
        , m_queue(options.correctionSlots ? options.correctionSlots : std::thread::hardware_concurrency(),
                  options.smallTextBytes)
    {
        const std::size_t threads = options.threads;
        m_http.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
        m_http.set_tcp_nodelay(true);
        m_http.set_payload_max_length(options.maxBodyBytes);
        m_http.set_read_timeout(options.readTimeout);
        m_http.set_write_timeout(options.writeTimeout);
        m_http.set_keep_alive_timeout(options.keepAliveTimeout.count());
        m_http.set_keep_alive_max_count(options.keepAliveRequests);

        m_http.set_pre_routing_handler([this](const httplib::Request &req, httplib::Response &res) {
            t_requestStart = Clock::now();
            t_requestStarted = true;
            t_errorCode.clear();
            t_bodyBytes = 0;
            t_refusal.clear();
            const bool fixText = req.path == kFixTextPath;
            // Checked before anything else is read: a refused request costs nothing.
            const std::string refusal = refusalReason(m_options.access, req, fixText && req.method == "POST");
            const bool origin = req.has_header("Origin");
            if (refusal.empty() && origin) {
                // An origin that the user allowed may read the replies, and is told so before it sends.
                res.set_header("Access-Control-Allow-Origin", req.get_header_value("Origin"));
                res.set_header("Vary", "Origin");
            }
            if (!refusal.empty() && hasBody(req.method)) {
                // Refused once its body is read: what a web page sent as the body of a refused POST
                // would otherwise be taken for the next request on the connection.
                t_refusal = refusal;
                return httplib::Server::HandlerResponse::Unhandled;
            }
            if (!refusal.empty()) {
                replyError(res, 403, "forbidden", refusal);
            } else if (origin && fixText && req.method == "OPTIONS") {
                res.status = 204;
                res.set_header("Access-Control-Allow-Methods", "POST");
                res.set_header("Access-Control-Allow-Headers", "Content-Type");
                res.set_header("Access-Control-Max-Age", "600");
            } else if (isRouted(req.method)) {
                return httplib::Server::HandlerResponse::Unhandled;
            } else if (fixText) {
                replyNotAllowed(res);
            } else {
                replyNotFound(res);
            }
            // A body such a request may carry is not read: the client is asked to close.
            const std::string length = req.get_header_value("Content-Length");
            if (req.has_header("Transfer-Encoding") || (!length.empty() && length != "0"))
                res.set_header("Connection", "close");
            return httplib::Server::HandlerResponse::Handled;
        });

        // Every method that has a body is read through readBody(), on every path: httplib's own
        // reading would keep a chunked or compressed body of any size.
        const auto withBody = [this](const httplib::Request &req, httplib::Response &res,
                                  const httplib::ContentReader &reader) {
            std::string body;
            const Body read = readBody(req, reader, body, res);
            if (!t_refusal.empty())
                replyError(res, 403, "forbidden", t_refusal);
            else if (req.path != kFixTextPath)
                replyNotFound(res);
            else if (req.method != "POST")
                replyNotAllowed(res);
            else if (read == Body::TooLarge)
                replyTooLarge(res, m_options.maxBodyBytes);
            else if (read == Body::Complete)
                fixText(body, res);
            // Otherwise httplib has set the status of a malformed body; the error handler explains it.
        };
        m_http.Post(".*", withBody);
        m_http.Put(".*", withBody);
        m_http.Patch(".*", withBody);
        m_http.Delete(".*", withBody);
        const auto notAllowed
            = [](const httplib::Request &, httplib::Response &res) { replyNotAllowed(res); };
        m_http.Get(kFixTextPath, notAllowed);
        m_http.Options(kFixTextPath, notAllowed);

        // Every reply that a handler did not fill (unknown path, body too large, a malformed
        // request) still gets a JSON body.
        const std::size_t maxBody = options.maxBodyBytes;
        m_http.set_error_handler(
            httplib::Server::HandlerWithResponse([maxBody](const httplib::Request &, httplib::Response &res) {
                if (!res.body.empty())
                    return httplib::Server::HandlerResponse::Unhandled;
                switch (res.status) {
                case 404:
                    replyNotFound(res);
                    break;
                case 413:
                    replyTooLarge(res, maxBody);
                    break;
                case 400:
                    replyError(res, 400, "bad_request", "malformed HTTP request");
                    break;
                default:
                    replyError(res, res.status, "http_error", "HTTP " + std::to_string(res.status));
                    break;
                }
                return httplib::Server::HandlerResponse::Handled;
            }));
        m_http.set_exception_handler(
            [](const httplib::Request &, httplib::Response &res, std::exception_ptr) {
                replyError(res, 500, "internal_error", "the backend failed while handling the request");
            });
        m_http.set_logger(
            [this](const httplib::Request &req, const httplib::Response &res) { logRequest(req, res); });
    }

    enum class Body { Complete, TooLarge, Unreadable };

    // Reads the body as it is decoded (chunks joined, gzip, deflate or brotli undone), keeping it while
    // it is within the size limit: the limit on Content-Length alone would let a chunked or
    // compressed body grow without bound.
    Body readBody(const httplib::Request &req, const httplib::ContentReader &reader, std::string &body,
        httplib::Response &res) const
    {
        const std::size_t limit = m_options.maxBodyBytes;
        std::size_t received = 0;
        // Past the limit the rest is read and dropped, so that the connection is ready for the
        // next request; reading stops for good a few times past it (a compression bomb).
        const auto receive = [&](const char *data, std::size_t size) {
            received += size;
            if (received <= limit) {
                body.append(data, size);
                return true;
            }
            std::string().swap(body);
            return received <= limit * kBodyReadFactor;
        };
        const bool form = req.is_multipart_form_data();
        const bool complete = form ? reader([](const httplib::MultipartFormData &) { return true; }, receive)
                                   : reader(receive);
        t_bodyBytes = received;
        // Form parts are no JSON body.
        if (form)
            body.clear();
        // Whatever is left of the body would be read as the next request: the client is asked to
        // close the connection instead.
        if (!complete)
            res.set_header("Connection", "close");
        // httplib sets 413 itself when Content-Length is over the limit.
        if (received > limit || res.status == 413)
            return Body::TooLarge;
        if (!complete) {
            if (res.status < 400)
                res.status = 400;
            return Body::Unreadable;
        }
        return Body::Complete;
    }

    void fixText(const std::string &body, httplib::Response &res)
    {
        FixTextRequest request;
        std::string detail;
        if (!parseFixTextRequest(body, request, detail)) {
            replyError(res, 400, "bad_request", detail);
            return;
        }
        // Nothing to correct: white space comes back as it is, without asking anyone.
        if (request.text.find_first_not_of(" \t\r\n\f\v") == std::string::npos) {
            reply(res, 200, successBody(request.text));
            return;
        }
        if (m_upstream) {
            UpstreamResult result = m_upstream->correct(request.text, request.mode);
            if (!result.ok) {
                replyError(res, 502, "openai_failed", result.detail);
                return;
            }
            reply(res, 200, successBody(result.text));
            return;
        }
        const Correction correction = m_queue.run(request.text.size(), [&] {
            return m_corrector.correct(request.text, request.mode, m_options.budget);
        });
        reply(res, 200, successBody(correction.text));
    }

    void logRequest(const httplib::Request &req, const httplib::Response &res)
    {
        if (!m_log)
            return;
        char duration[32] = "-";
        if (t_requestStarted) {
            const double ms
                = std::chrono::duration<double, std::milli>(Clock::now() - t_requestStart).count();
            std::snprintf(duration, sizeof duration, "%.2fms", ms);
        }
        // A body over the limit by its Content-Length is not read: its announced length is what came in.
        std::size_t in = t_bodyBytes;
        if (in == 0 && req.has_header("Content-Length"))
            in = static_cast<std::size_t>(
                std::strtoull(req.get_header_value("Content-Length").c_str(), nullptr, 10));
        std::string line = timestamp() + " " + printablePath(req.method) + " " + printablePath(req.path) + " "
            + std::to_string(res.status) + " " + duration + " in=" + std::to_string(in)
            + " out=" + std::to_string(res.body.size());
        if (!t_errorCode.empty())
            line += " error=" + t_errorCode;
        t_requestStarted = false;
        t_errorCode.clear();
        m_log(line);
    }

    const Corrector &m_corrector;
    const OpenAiUpstream *m_upstream;
    ServerOptions m_options;
    LogSink m_log;
    CorrectionQueue m_queue;
    HttpServer m_http;
    bool m_bound = false;
    enum class State { Idle, Running, Finished };
    std::atomic<State> m_state {State::Idle};
    std::atomic<bool> m_stopRequested {false};
};

BackendServer::BackendServer(
    const Corrector &corrector, const OpenAiUpstream *upstream, ServerOptions options, LogSink log)
    : d(std::make_unique<Impl>(corrector, upstream, options, std::move(log)))
{
}

BackendServer::~BackendServer()
{
    stop();
}

bool BackendServer::bind(const std::string &host, int port, std::string &error)
{
    errno = 0;
    bool ok;
    if (port == 0) {
        const int bound = d->m_http.bind_to_any_port(host);
        ok = bound > 0;
        if (ok)
            m_port = bound;
    } else {
        ok = d->m_http.bind_to_port(host, port);
        if (ok)
            m_port = port;
    }
    if (!ok) {
        const int code = errno;
        error = "cannot listen on " + host + ":" + std::to_string(port) + ": ";
        if (code == EADDRINUSE)
            error += "the port is already in use (is another backend running?)";
        else if (code != 0)
            error += std::strerror(code);
        else
            error += "the address is not available";
        return false;
    }
    d->m_http.raiseBacklog();
    d->m_bound = true;
    return true;
}

bool BackendServer::run()
{
    if (!d->m_bound)
        return false;
    // Announce the run before looking at the stop request; stop() does the reverse, so a stop
    // that comes while the loop is starting is never lost.
    d->m_state = Impl::State::Running;
    bool ok = true;
    if (!d->m_stopRequested)
        ok = d->m_http.listen_after_bind();
    d->m_state = Impl::State::Finished;
    return ok;
}

void BackendServer::stop()
{
    d->m_stopRequested = true;
    if (d->m_state != Impl::State::Running)
        return;
    while (!d->m_http.is_running() && d->m_state == Impl::State::Running)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    d->m_http.stop();
}

CorrectionQueue::Load BackendServer::load() const
{
    return d->m_queue.load();
}

void logToStderr(const std::string &line)
{
    std::string out = line;
    out += '\n';
    const char *p = out.data();
    std::size_t left = out.size();
    while (left > 0) {
        const ssize_t written = ::write(STDERR_FILENO, p, left);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        p += written;
        left -= static_cast<std::size_t>(written);
    }
}

} // namespace Backend
