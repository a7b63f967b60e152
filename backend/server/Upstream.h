#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace Backend {

enum class Mode;

// Where an OpenAI-compatible chat-completions service is, and how to call it.
struct UpstreamConfig {
    std::string url; // base URL such as "https://api.openai.com" or "http://127.0.0.1:8080/v1"; empty: none
    std::string model = "gpt-4o-mini";
    std::string apiKey; // sent as a bearer token; may be empty for local services
    std::chrono::milliseconds timeout {15000}; // below the client's 20 s, so it sees our 502 first

    bool enabled() const { return !url.empty(); }
};

struct UpstreamResult {
    bool ok = false;
    std::string text; // the corrected text when ok
    std::string detail; // what went wrong otherwise; never contains the API key
};

// Sends one text to the chat-completions endpoint per call, marked as text to edit, and checks the
// answer (see UpstreamAnswer.h). Immutable; usable from many threads.
class OpenAiUpstream {
public:
    // Fails (returns false, sets `error`) when the URL is not http(s)://host[:port][/path].
    bool configure(const UpstreamConfig &config, std::string &error);

    UpstreamResult correct(std::string_view text, Mode mode) const;

    // "scheme://host:port/path/v1/chat/completions", for the start-up log (no key in it).
    std::string endpoint() const { return m_origin + m_path; }
    const UpstreamConfig &config() const { return m_config; }

    // The instructions for `mode`, naming the marker lines around the user's text.
    static std::string systemPrompt(Mode mode, const std::string &open, const std::string &close);

private:
    std::string redact(std::string text) const;

    UpstreamConfig m_config;
    std::string m_origin; // scheme://host:port
    std::string m_path; // the request path
};

} // namespace Backend
