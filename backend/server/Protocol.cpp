#include "Protocol.h"

#include "corrector/Corrector.h"
#include "corrector/Utf8.h"

#include <nlohmann/json.hpp>

namespace Backend {

namespace {

using json = nlohmann::json;

// Streams the body through the parser and keeps only what the protocol allows, so a body is
// rejected at its first wrong element and no document tree is built.
class RequestReader : public nlohmann::json_sax<json> {
public:
    std::string detail;
    std::string text, mode;
    bool haveText = false, haveMode = false;

    bool null() override { return value("null"); }
    bool boolean(bool) override { return value("a boolean"); }
    bool number_integer(number_integer_t) override { return value("a number"); }
    bool number_unsigned(number_unsigned_t) override { return value("a number"); }
    bool number_float(number_float_t, const string_t &) override { return value("a number"); }
    bool binary(binary_t &) override { return value("binary"); }

    bool string(string_t &s) override
    {
        if (m_depth != 1)
            return fail("body is not a JSON object");
        if (m_key == "text")
            text = std::move(s);
        else
            mode = std::move(s);
        return true;
    }

    bool start_object(std::size_t) override
    {
        if (m_depth != 0)
            return value("an object");
        ++m_depth;
        return true;
    }

    bool key(string_t &k) override
    {
        if (k == "text" || k == "mode") {
            bool &seen = k == "text" ? haveText : haveMode;
            if (seen)
                return fail("duplicate member \"" + k + "\"");
            seen = true;
            m_key = k;
            return true;
        }
        return fail("unexpected member \"" + shortName(k) + "\" (only \"text\" and \"mode\" are allowed)");
    }

    bool end_object() override
    {
        --m_depth;
        return true;
    }

    bool start_array(std::size_t) override { return value("an array"); }
    bool end_array() override { return true; }

    bool parse_error(
        std::size_t position, const std::string &, const nlohmann::detail::exception &error) override
    {
        if (!detail.empty())
            return false;
        const std::string what = error.what();
        if (what.find("UTF-8") != std::string::npos || what.find("surrogate") != std::string::npos
            || what.find("code point") != std::string::npos) {
            if (m_depth == 1 && !m_key.empty())
                detail = "member \"" + m_key + "\" is not valid UTF-8";
            else
                detail = "body is not valid UTF-8";
        } else {
            detail = "body is not valid JSON (error at byte " + std::to_string(position) + ")";
        }
        return false;
    }

private:
    bool value(const char *what)
    {
        if (m_depth == 0)
            return fail("body is not a JSON object");
        return fail("member \"" + m_key + "\" is " + what + ", not a string");
    }

    bool fail(std::string message)
    {
        if (detail.empty())
            detail = std::move(message);
        return false;
    }

    // A member name fit to quote in a reply: short, valid UTF-8 already (the parser checked).
    static std::string shortName(const std::string &name)
    {
        if (name.size() <= 40)
            return name;
        std::size_t cut = 40;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
            --cut;
        return name.substr(0, cut) + "...";
    }

    int m_depth = 0;
    std::string m_key;
};

} // namespace

bool parseFixTextRequest(std::string_view body, FixTextRequest &request, std::string &detail)
{
    if (body.find_first_not_of(" \t\r\n") == std::string_view::npos) {
        detail = "body is empty (expected a JSON object)";
        return false;
    }
    RequestReader reader;
    bool ok = false;
    try {
        ok = json::sax_parse(body.begin(), body.end(), &reader, json::input_format_t::json, true);
    } catch (const std::exception &) {
        ok = false;
    }
    if (!ok) {
        detail = reader.detail.empty() ? std::string("body is not valid JSON") : reader.detail;
        return false;
    }
    if (!reader.haveText) {
        detail = "missing member \"text\"";
        return false;
    }
    if (!reader.haveMode) {
        detail = "missing member \"mode\"";
        return false;
    }
    // The parser checks UTF-8 already; this guards the invariant the corrector relies on.
    if (!Utf8::isValid(reader.text)) {
        detail = "member \"text\" is not valid UTF-8";
        return false;
    }
    if (reader.mode == "fix") {
        request.mode = Mode::Fix;
    } else if (reader.mode == "formal") {
        request.mode = Mode::Formal;
    } else {
        std::string shown = reader.mode.size() <= 20 ? reader.mode : reader.mode.substr(0, 20) + "...";
        if (!Utf8::isValid(shown))
            shown = "?";
        detail = "unknown mode \"" + shown + "\" (expected \"fix\" or \"formal\")";
        return false;
    }
    request.text = std::move(reader.text);
    return true;
}

std::string printable(std::string_view s, std::size_t limit)
{
    std::string out;
    for (char c : s.substr(0, limit))
        out += (c >= 0x20 && c < 0x7F) ? c : '?';
    if (s.size() > limit)
        out += "...";
    return out;
}

std::string successBody(std::string_view text)
{
    nlohmann::ordered_json body;
    body["ok"] = true;
    body["text"] = std::string(text);
    return body.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string errorBody(std::string_view error, std::string_view detail)
{
    nlohmann::ordered_json body;
    body["ok"] = false;
    body["error"] = std::string(error);
    body["detail"] = std::string(detail);
    return body.dump(-1, ' ', false, json::error_handler_t::replace);
}

} // namespace Backend
