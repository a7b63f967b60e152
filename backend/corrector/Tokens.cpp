#include "Tokens.h"

#include "Utf8.h"

#include <algorithm>

namespace Backend {

namespace {

bool isAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isAsciiDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isApostrophe(char32_t c)
{
    return c == '\'' || c == 0x2019;
}

// Characters that, inside a chunk of non-space text, mark it as something other than prose:
// a path, an identifier, markup, an expression, a domain name, a time.
bool isTechnicalChar(char32_t c)
{
    switch (c) {
    case '/':
    case '\\':
    case '_':
    case '=':
    case '<':
    case '>':
    case '{':
    case '}':
    case '[':
    case ']':
    case '(':
    case ')':
    case '#':
    case '$':
    case '%':
    case '^':
    case '*':
    case '+':
    case '|':
    case '~':
    case '&':
    case ':':
    case '.':
    case '@':
        return true;
    default:
        return false;
    }
}

// Leading characters of a chunk that are punctuation around a word rather than part of it.
bool isOpening(char32_t c)
{
    switch (c) {
    case '(':
    case '[':
    case '{':
    case '"':
    case '\'':
    case '*':
    case '_':
    case 0x201C: // “
    case 0x2018: // ‘
    case 0x00AB: // «
    case 0x2039: // ‹
    case 0x00BF: // ¿
    case 0x00A1: // ¡
        return true;
    default:
        return false;
    }
}

bool isClosing(char32_t c)
{
    switch (c) {
    case ')':
    case ']':
    case '}':
    case '"':
    case '\'':
    case '*':
    case '_':
    case '.':
    case ',':
    case ';':
    case ':':
    case '!':
    case '?':
    case 0x201D: // ”
    case 0x2019: // ’
    case 0x00BB: // »
    case 0x203A: // ›
    case 0x2026: // …
        return true;
    default:
        return false;
    }
}

struct Cursor {
    std::string_view text;
    std::vector<Token> &out;

    void push(TokenKind kind, std::size_t from, std::size_t to)
    {
        if (to > from)
            out.push_back(Token {kind, text.substr(from, to - from), {}, false, false});
    }
};

char32_t codePointAt(std::string_view text, std::size_t pos, std::size_t &length)
{
    return Utf8::decode(text, pos, length);
}

// The code point that ends just before `end`.
char32_t codePointBefore(std::string_view text, std::size_t begin, std::size_t end, std::size_t &length)
{
    std::size_t start = end - 1;
    while (start > begin && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80)
        --start;
    return Utf8::decode(text, start, length);
}

bool startsWithIgnoringCase(std::string_view s, std::string_view prefix)
{
    if (s.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = s[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i])
            return false;
    }
    return true;
}

// A chunk's core (the chunk without surrounding quotes, brackets and trailing punctuation) that
// is not prose: a URL, an address, a path, an option, an identifier, a domain, a time.
bool isTechnicalCore(std::string_view core)
{
    if (core.find("://") != std::string_view::npos || startsWithIgnoringCase(core, "www."))
        return true;
    const char first = core.front();
    if (first == '-' || first == '+' || first == '#' || first == '$' || first == '@' || first == '%'
        || first == '~' || first == '/' || first == '\\' || first == '=' || first == '<' || first == '.')
        return true;
    std::size_t pos = 0;
    while (pos < core.size()) {
        std::size_t length;
        const char32_t c = codePointAt(core, pos, length);
        if (isTechnicalChar(c))
            return true;
        pos += length;
    }
    return false;
}

// Splits a prose core into words, opaque words (digits or non-ASCII letters) and punctuation.
void tokenizeCore(Cursor &cursor, std::size_t begin, std::size_t end)
{
    const std::string_view text = cursor.text;
    std::size_t pos = begin;
    while (pos < end) {
        std::size_t length;
        char32_t c = codePointAt(text, pos, length);
        const bool wordChar = c < 0x80
            ? (isAsciiLetter(static_cast<char>(c)) || isAsciiDigit(static_cast<char>(c)))
            : Utf8::isNonAsciiLetter(c);
        if (!wordChar) {
            cursor.push(TokenKind::Punct, pos, pos + length);
            pos += length;
            continue;
        }
        const std::size_t start = pos;
        bool opaque = false;
        while (pos < end) {
            c = codePointAt(text, pos, length);
            if (c < 0x80 && isAsciiLetter(static_cast<char>(c))) {
                pos += length;
            } else if (c < 0x80 && isAsciiDigit(static_cast<char>(c))) {
                opaque = true;
                pos += length;
            } else if (Utf8::isNonAsciiLetter(c)) {
                opaque = true;
                pos += length;
            } else if (isApostrophe(c) && pos + length < end) {
                // An apostrophe belongs to the word only between two word characters.
                std::size_t nextLength;
                const char32_t next = codePointAt(text, pos + length, nextLength);
                const bool nextIsWordChar
                    = next < 0x80 ? isAsciiLetter(static_cast<char>(next)) : Utf8::isNonAsciiLetter(next);
                if (!nextIsWordChar)
                    break;
                pos += length;
            } else {
                break;
            }
        }
        cursor.push(opaque ? TokenKind::Opaque : TokenKind::Word, start, pos);
    }
}

// One maximal run of non-space characters with no backtick in it.
void tokenizeChunk(Cursor &cursor, std::size_t begin, std::size_t end)
{
    const std::string_view text = cursor.text;
    std::size_t coreBegin = begin;
    while (coreBegin < end) {
        std::size_t length;
        const char32_t c = codePointAt(text, coreBegin, length);
        if (!isOpening(c))
            break;
        cursor.push(TokenKind::Punct, coreBegin, coreBegin + length);
        coreBegin += length;
    }
    std::size_t coreEnd = end;
    std::vector<std::pair<std::size_t, std::size_t>> trailing;
    while (coreEnd > coreBegin) {
        std::size_t length;
        const char32_t c = codePointBefore(text, coreBegin, coreEnd, length);
        if (!isClosing(c))
            break;
        trailing.emplace_back(coreEnd - length, coreEnd);
        coreEnd -= length;
    }
    if (coreEnd > coreBegin) {
        if (isTechnicalCore(text.substr(coreBegin, coreEnd - coreBegin)))
            cursor.push(TokenKind::Opaque, coreBegin, coreEnd);
        else
            tokenizeCore(cursor, coreBegin, coreEnd);
    }
    std::reverse(trailing.begin(), trailing.end());
    for (const auto &[from, to] : trailing)
        cursor.push(TokenKind::Punct, from, to);
}

// A line of prose (no line break in it).
void tokenizeProse(Cursor &cursor, std::size_t begin, std::size_t end)
{
    const std::string_view text = cursor.text;
    std::size_t pos = begin;
    while (pos < end) {
        std::size_t length;
        const char32_t c = codePointAt(text, pos, length);
        if (Utf8::isHorizontalSpace(c) || c == '\r' || c == '\v' || c == '\f') {
            const std::size_t start = pos;
            while (pos < end) {
                const char32_t s = codePointAt(text, pos, length);
                if (!(Utf8::isHorizontalSpace(s) || s == '\r' || s == '\v' || s == '\f'))
                    break;
                pos += length;
            }
            cursor.push(TokenKind::Space, start, pos);
        } else if (c == '`') {
            // Inline code: up to the next run of exactly as many backticks on this line; an
            // unclosed run protects the rest of the line.
            std::size_t runEnd = pos;
            while (runEnd < end && text[runEnd] == '`')
                ++runEnd;
            const std::size_t runLength = runEnd - pos;
            std::size_t close = end;
            for (std::size_t i = runEnd; i < end;) {
                if (text[i] != '`') {
                    ++i;
                    continue;
                }
                std::size_t j = i;
                while (j < end && text[j] == '`')
                    ++j;
                if (j - i == runLength) {
                    close = j;
                    break;
                }
                i = j;
            }
            cursor.push(TokenKind::Opaque, pos, close);
            pos = close;
        } else {
            const std::size_t start = pos;
            while (pos < end) {
                const char32_t s = codePointAt(text, pos, length);
                if (Utf8::isHorizontalSpace(s) || s == '\r' || s == '\v' || s == '\f' || s == '`')
                    break;
                pos += length;
            }
            tokenizeChunk(cursor, start, pos);
        }
    }
}

// Number of leading spaces (tabs count as four) of a line.
std::size_t indentation(std::string_view line)
{
    std::size_t columns = 0;
    for (char c : line) {
        if (c == ' ')
            ++columns;
        else if (c == '\t')
            columns += 4;
        else
            break;
    }
    return columns;
}

bool isBlank(std::string_view line)
{
    return std::all_of(line.begin(), line.end(), [](char c) { return c == ' ' || c == '\t' || c == '\r'; });
}

// A code fence: up to three spaces, then at least three backticks or tildes.
bool fenceOf(std::string_view line, char &fenceChar, std::size_t &fenceLength)
{
    std::size_t i = 0;
    while (i < line.size() && i < 3 && line[i] == ' ')
        ++i;
    if (i >= line.size() || (line[i] != '`' && line[i] != '~'))
        return false;
    const char c = line[i];
    std::size_t j = i;
    while (j < line.size() && line[j] == c)
        ++j;
    if (j - i < 3)
        return false;
    fenceChar = c;
    fenceLength = j - i;
    return true;
}

// An indented block of plain sentences (a wrapped list item of a licence, a quoted letter) rather
// than code or commands: no character that code needs, mostly plain words, and at least one line
// as long as a sentence.
bool looksLikeProse(const std::vector<std::string_view> &block)
{
    std::size_t chunks = 0, plainChunks = 0;
    bool sentenceLine = false;
    for (std::string_view line : block) {
        if (line.find_first_of("{}=<>\\|$_;`@#~^*") != std::string_view::npos
            || line.find("//") != std::string_view::npos || line.find("()") != std::string_view::npos
            || line.find("::") != std::string_view::npos)
            return false;
        std::size_t words = 0;
        std::size_t pos = 0;
        while (pos < line.size()) {
            while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t' || line[pos] == '\r'))
                ++pos;
            if (pos >= line.size())
                break;
            std::size_t end = pos;
            while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != '\r')
                ++end;
            std::string_view chunk = line.substr(pos, end - pos);
            // Surrounding punctuation does not make a chunk technical.
            while (!chunk.empty() && std::string_view("(\"'").find(chunk.front()) != std::string_view::npos)
                chunk.remove_prefix(1);
            while (
                !chunk.empty() && std::string_view(").,;:!?\"'").find(chunk.back()) != std::string_view::npos)
                chunk.remove_suffix(1);
            ++chunks;
            const bool plain = !chunk.empty() && std::all_of(chunk.begin(), chunk.end(), [](char c) {
                return isAsciiLetter(c) || c == '\'' || c == '-' || static_cast<unsigned char>(c) >= 0x80;
            });
            if (plain) {
                ++plainChunks;
                ++words;
            }
            pos = end;
        }
        if (words >= 6)
            sentenceLine = true;
    }
    return sentenceLine && plainChunks * 5 >= chunks * 4;
}

} // namespace

std::vector<Token> tokenize(std::string_view text)
{
    struct Line {
        std::size_t begin, end, next; // content [begin, end), line break [end, next)
        bool fenced = false; // inside a fenced code block, fences included
        bool code = false;
    };
    std::vector<Line> lines;
    bool inFence = false;
    char openFenceChar = 0;
    std::size_t openFenceLength = 0;
    for (std::size_t lineBegin = 0; lineBegin < text.size();) {
        std::size_t newline = text.find('\n', lineBegin);
        if (newline == std::string_view::npos)
            newline = text.size();
        std::size_t lineEnd = newline;
        if (lineEnd > lineBegin && lineEnd < text.size() && text[lineEnd - 1] == '\r')
            --lineEnd;
        const std::string_view line = text.substr(lineBegin, lineEnd - lineBegin);
        Line info {lineBegin, lineEnd, std::min(newline + 1, text.size())};
        char fenceChar = 0;
        std::size_t fenceLength = 0;
        if (inFence) {
            info.fenced = true;
            if (fenceOf(line, fenceChar, fenceLength) && fenceChar == openFenceChar
                && fenceLength >= openFenceLength
                && line.find_first_not_of(std::string(1, fenceChar) + " \t", line.find(fenceChar))
                    == std::string_view::npos)
                inFence = false;
        } else if (fenceOf(line, fenceChar, fenceLength)) {
            info.fenced = true;
            inFence = true;
            openFenceChar = fenceChar;
            openFenceLength = fenceLength;
        }
        info.code = info.fenced;
        lines.push_back(info);
        lineBegin = newline + 1;
    }

    // Indented code is indented by four columns more than the text's own margin, so a selection
    // that is indented as a whole (a quoted letter, a licence) is still prose.
    std::size_t margin = std::string_view::npos;
    for (const Line &line : lines) {
        const std::string_view content = text.substr(line.begin, line.end - line.begin);
        if (!line.fenced && !isBlank(content))
            margin = std::min(margin, indentation(content));
    }
    if (margin == std::string_view::npos)
        margin = 0;
    for (std::size_t i = 0; i < lines.size();) {
        const std::string_view content = text.substr(lines[i].begin, lines[i].end - lines[i].begin);
        if (lines[i].fenced || isBlank(content) || indentation(content) < margin + 4) {
            ++i;
            continue;
        }
        std::size_t j = i;
        while (j < lines.size() && !lines[j].fenced) {
            const std::string_view c = text.substr(lines[j].begin, lines[j].end - lines[j].begin);
            if (isBlank(c) || indentation(c) < margin + 4)
                break;
            ++j;
        }
        std::vector<std::string_view> block;
        for (std::size_t k = i; k < j; ++k)
            block.push_back(text.substr(lines[k].begin, lines[k].end - lines[k].begin));
        if (!looksLikeProse(block))
            for (std::size_t k = i; k < j; ++k)
                lines[k].code = true;
        i = j;
    }

    std::vector<Token> tokens;
    tokens.reserve(text.size() / 3 + 4);
    Cursor cursor {text, tokens};
    for (const Line &line : lines) {
        if (line.code)
            cursor.push(TokenKind::Opaque, line.begin, line.end);
        else
            tokenizeProse(cursor, line.begin, line.end);
        cursor.push(TokenKind::Newline, line.end, line.next);
    }
    return tokens;
}

std::string joinTokens(const std::vector<Token> &tokens)
{
    std::size_t size = 0;
    for (const Token &token : tokens)
        if (token.live())
            size += token.current().size();
    std::string out;
    out.reserve(size);
    for (const Token &token : tokens)
        if (token.live())
            out.append(token.current());
    return out;
}

} // namespace Backend
