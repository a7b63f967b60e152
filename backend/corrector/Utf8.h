#pragma once

#include <cstddef>
#include <string_view>

namespace Backend::Utf8 {

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
bool isValid(std::string_view text);

// Decodes the code point that starts at `text[pos]` and stores its length in bytes in `length`.
// An ill-formed sequence decodes as U+FFFD with length 1, so callers always make progress.
char32_t decode(std::string_view text, std::size_t pos, std::size_t &length);

// Horizontal white space: ASCII space and tab plus the Unicode spaces (no-break space included).
bool isHorizontalSpace(char32_t c);

// A non-ASCII code point that belongs inside a word (a letter of any script, a combining mark),
// as opposed to punctuation, symbols, spaces, emoji and private-use characters.
bool isNonAsciiLetter(char32_t c);

} // namespace Backend::Utf8
