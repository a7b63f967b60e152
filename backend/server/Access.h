#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace httplib {
struct Request;
}

namespace Backend {

// Who may use the server. A web page can make the browser send a request to the backend without
// asking first (a "simple" POST) or, through a host name of its own that resolves to 127.0.0.1,
// read the answers too; the checks below close both ways while the user's own client, which sends
// JSON to a loopback address and no Origin, goes through.
struct AccessPolicy {
    bool anyHost = false; // --allow-remote: any Host header is accepted
    std::vector<std::string> origins; // --allow-origin, each as normaliseOrigin() made it
};

// True for 127.0.0.0/8, ::1 and "localhost".
bool isLoopbackHost(const std::string &host);

// True when a Host header value names a loopback address or localhost, with or without a port.
bool isLoopbackHostHeader(std::string_view value);

// True for the media type "application/json" in any case, with or without parameters.
bool isJsonMediaType(std::string_view value);

// An origin ("scheme://host[:port]") in lower case, without a default port or a trailing slash.
// False for anything else, "null" included.
bool normaliseOrigin(std::string_view origin, std::string &normalised);

// Why the request is refused, or an empty string when it may go on. Its Content-Type is looked at
// only when `needsJson` (a request that carries a correction).
std::string refusalReason(const AccessPolicy &policy, const httplib::Request &request, bool needsJson);

// True when the request has an Origin header that the policy allows.
bool hasAllowedOrigin(const AccessPolicy &policy, const httplib::Request &request);

} // namespace Backend
