#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace Backend {

// What a piece of the text is to the correction rules.
enum class TokenKind {
    Space, // horizontal white space inside a line
    Newline, // "\n" or "\r\n"
    Word, // ASCII letters with inner apostrophes: the only tokens that rules may rewrite
    Opaque, // never changed: code, URLs, e-mail addresses, paths, numbers, non-ASCII words
    Punct, // one punctuation character (possibly multi-byte, such as an em dash)
};

struct Token {
    TokenKind kind;
    std::string_view text; // a view into the original text
    std::string replacement; // used when `replaced` is set
    bool replaced = false;
    bool removed = false;

    std::string_view current() const { return replaced ? std::string_view(replacement) : text; }
    bool live() const { return !removed; }
    bool isPunct(std::string_view p) const { return kind == TokenKind::Punct && text == p; }
};

// Splits `text` (valid UTF-8) into tokens whose texts, concatenated, give back `text` exactly.
// Fenced and indented code, inline code spans, URLs, e-mail addresses, paths, numbers and words
// with digits or non-ASCII letters become Opaque tokens.
std::vector<Token> tokenize(std::string_view text);

// Concatenates the tokens' current texts, leaving out removed ones.
std::string joinTokens(const std::vector<Token> &tokens);

} // namespace Backend
