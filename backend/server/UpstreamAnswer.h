#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace Backend {

// What a chat model says around a correction, taken off before the answer reaches the user's
// document, and the answers that must not reach it at all.
struct UpstreamAnswer {
    bool ok = false;
    std::string text; // the correction, with the input's leading and trailing white space, when ok
    std::string problem; // why the answer is unusable otherwise
};

// The text sent to the model between two marker lines: "<text>" and "</text>", or a numbered
// form of the tag that the text does not contain, so that the text cannot end the block itself.
struct MarkedText {
    std::string open, close; // the marker lines
    std::string message; // open, the text without its surrounding white space, close, on lines of their own
};
MarkedText markText(std::string_view text);

// A short excerpt of something a service said, fit to show: control characters become spaces, at
// most `limit` bytes (cut between characters) followed by "...".
std::string excerpt(std::string s, std::size_t limit);

// Checks and cleans `content`, the model's answer to `input` (which is not blank): the first
// choice's message content, if it is a string. `finishReason` and `refusal` are the choice's
// "finish_reason" and its message's "refusal", empty when absent.
UpstreamAnswer readAnswer(std::string_view input, const MarkedText &marked,
    std::optional<std::string> content, std::string_view finishReason, std::string_view refusal);

} // namespace Backend
