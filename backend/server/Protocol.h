#pragma once

#include <string>
#include <string_view>

namespace Backend {

enum class Mode;

// A decoded POST /api/fix-text body.
struct FixTextRequest {
    std::string text;
    Mode mode;
};

// Decodes a request body: a JSON object with exactly the string members "text" and "mode" (in
// either order), "mode" being "fix" or "formal", both valid UTF-8. On failure returns false and
// sets `detail` to a short English description of what is wrong (it never quotes the text).
bool parseFixTextRequest(std::string_view body, FixTextRequest &request, std::string &detail);

// `s` fit to quote in a reply or a log line: printable ASCII (anything else becomes '?'), cut to
// `limit` bytes with "..." after.
std::string printable(std::string_view s, std::size_t limit);

// {"ok":true,"text":...}
std::string successBody(std::string_view text);
// {"ok":false,"error":...,"detail":...}
std::string errorBody(std::string_view error, std::string_view detail);

} // namespace Backend
