#include "Access.h"

#include "Protocol.h"

#include <httplib.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <optional>

namespace Backend {

namespace {

std::string lower(std::string_view s)
{
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
    return out;
}

bool isDigits(std::string_view s)
{
    return !s.empty() && s.size() <= 5
        && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c); });
}

// Splits "host", "host:port" or "[v6]:port" (brackets dropped); false when malformed.
bool splitHostPort(std::string_view value, std::string &host, std::string &port)
{
    if (!value.empty() && value.front() == '[') {
        const auto close = value.find(']');
        if (close == std::string_view::npos)
            return false;
        host = value.substr(1, close - 1);
        const std::string_view rest = value.substr(close + 1);
        if (!rest.empty() && (rest.front() != ':' || !isDigits(rest.substr(1))))
            return false;
        port = rest.empty() ? std::string() : std::string(rest.substr(1));
        return !host.empty();
    }
    const auto colon = value.find(':');
    host = value.substr(0, colon);
    port = colon == std::string_view::npos ? std::string() : std::string(value.substr(colon + 1));
    return !host.empty() && (colon == std::string_view::npos || isDigits(port));
}

// The value of the header `name` when the request has it once.
std::optional<std::string> onlyValue(const httplib::Request &request, const char *name)
{
    const auto [first, last] = request.headers.equal_range(name);
    if (first == last || std::next(first) != last)
        return std::nullopt;
    return first->second;
}

} // namespace

bool isLoopbackHost(const std::string &host)
{
    if (host == "localhost")
        return true;
    in_addr v4 {};
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6 {};
    if (inet_pton(AF_INET6, host.c_str(), &v6) == 1)
        return IN6_IS_ADDR_LOOPBACK(&v6);
    return false;
}

bool isLoopbackHostHeader(std::string_view value)
{
    std::string host, port;
    if (!splitHostPort(value, host, port))
        return false;
    host = lower(host);
    // "localhost." is the same name written as fully qualified.
    if (host == "localhost.")
        host.pop_back();
    return isLoopbackHost(host);
}

bool isJsonMediaType(std::string_view value)
{
    std::string type = lower(value.substr(0, value.find(';')));
    const auto first = type.find_first_not_of(" \t");
    const auto last = type.find_last_not_of(" \t");
    return first != std::string::npos && type.substr(first, last - first + 1) == "application/json";
}

bool normaliseOrigin(std::string_view origin, std::string &normalised)
{
    const auto schemeEnd = origin.find("://");
    if (schemeEnd == std::string_view::npos || schemeEnd == 0)
        return false;
    const std::string scheme = lower(origin.substr(0, schemeEnd));
    const auto schemeChar
        = [](unsigned char c) { return std::isalnum(c) || c == '+' || c == '-' || c == '.'; };
    if (!std::isalpha(static_cast<unsigned char>(scheme.front()))
        || !std::all_of(scheme.begin(), scheme.end(), schemeChar))
        return false;
    std::string_view authority = origin.substr(schemeEnd + 3);
    if (!authority.empty() && authority.back() == '/')
        authority.remove_suffix(1);
    const auto visible = [](unsigned char c) { return c > 0x20 && c < 0x7F; };
    if (authority.find_first_of("/?#@\\") != std::string_view::npos
        || !std::all_of(authority.begin(), authority.end(), visible))
        return false;
    std::string host, port;
    if (!splitHostPort(authority, host, port))
        return false;
    if ((scheme == "http" && port == "80") || (scheme == "https" && port == "443"))
        port.clear();
    const bool v6 = authority.front() == '[';
    normalised
        = scheme + "://" + (v6 ? "[" + lower(host) + "]" : lower(host)) + (port.empty() ? "" : ":" + port);
    return true;
}

bool hasAllowedOrigin(const AccessPolicy &policy, const httplib::Request &request)
{
    const std::optional<std::string> given = onlyValue(request, "Origin");
    std::string origin;
    return given && normaliseOrigin(*given, origin)
        && std::find(policy.origins.begin(), policy.origins.end(), origin) != policy.origins.end();
}

std::string refusalReason(const AccessPolicy &policy, const httplib::Request &request, bool needsJson)
{
    if (!policy.anyHost) {
        const std::optional<std::string> host = onlyValue(request, "Host");
        if (!host)
            return "the request must name the backend's host in one Host header";
        if (!isLoopbackHostHeader(*host))
            return "the Host header \"" + printable(*host, 100)
                + "\" is not a loopback address or localhost (start the backend with --allow-remote to serve "
                  "other names)";
    }
    if (request.has_header("Origin") && !hasAllowedOrigin(policy, request))
        return "requests from web pages are refused: the origin \""
            + printable(request.get_header_value("Origin"), 100) + "\" is not allowed (see --allow-origin)";
    if (needsJson) {
        const std::optional<std::string> type = onlyValue(request, "Content-Type");
        if (!type || !isJsonMediaType(*type))
            return "the body must be sent with Content-Type: application/json"
                + (type ? ", not \"" + printable(*type, 100) + "\"" : std::string());
    }
    return {};
}

} // namespace Backend
