#include "Utf8.h"

namespace Backend::Utf8 {

char32_t decode(std::string_view text, std::size_t pos, std::size_t &length)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char b0 = byte(pos);
    length = 1;
    if (b0 < 0x80)
        return b0;
    std::size_t need;
    char32_t cp;
    char32_t minimum;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1, cp = b0 & 0x1F, minimum = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2, cp = b0 & 0x0F, minimum = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3, cp = b0 & 0x07, minimum = 0x10000;
    } else {
        return 0xFFFD;
    }
    if (pos + need >= text.size())
        return 0xFFFD;
    for (std::size_t i = 1; i <= need; ++i) {
        const unsigned char b = byte(pos + i);
        if ((b & 0xC0) != 0x80)
            return 0xFFFD;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0xFFFD;
    length = need + 1;
    return cp;
}

bool isValid(std::string_view text)
{
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (static_cast<unsigned char>(text[pos]) < 0x80) {
            ++pos;
            continue;
        }
        std::size_t length;
        const char32_t cp = decode(text, pos, length);
        // A real U+FFFD in the input is three bytes long; the error marker is one.
        if (cp == 0xFFFD && length == 1)
            return false;
        pos += length;
    }
    return true;
}

bool isHorizontalSpace(char32_t c)
{
    return c == ' ' || c == '\t' || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F
        || c == 0x205F || c == 0x3000;
}

bool isNonAsciiLetter(char32_t c)
{
    if (c < 0x80)
        return false;
    if (c <= 0xBF)
        return c == 0xAA || c == 0xB5 || c == 0xBA;
    if (c == 0xD7 || c == 0xF7)
        return false;
    if (c >= 0x2000 && c <= 0x2BFF) // punctuation, symbols, arrows, maths, box drawing
        return false;
    if (c >= 0x2E00 && c <= 0x2E7F) // supplemental punctuation
        return false;
    if (c >= 0x3000 && c <= 0x303F) // CJK punctuation
        return false;
    if (c >= 0xE000 && c <= 0xF8FF) // private use
        return false;
    if (c >= 0xFE00 && c <= 0xFE0F) // variation selectors
        return false;
    if (c >= 0xFE30 && c <= 0xFE6F) // compatibility forms, small forms
        return false;
    if (c >= 0xFF00 && c <= 0xFF0F) // full-width punctuation
        return false;
    if (c == 0xFEFF || c == 0xFFFD)
        return false;
    if (c >= 0x1F000 && c <= 0x1FAFF) // emoji and pictographs
        return false;
    if (c >= 0xE0000) // tags, variation selectors supplement, private use planes
        return false;
    return true;
}

} // namespace Backend::Utf8
