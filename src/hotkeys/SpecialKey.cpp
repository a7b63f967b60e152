#include "hotkeys/SpecialKey.h"

#include "hotkeys/Localization.h"
#include "hotkeys/ModifierFlags.h"

#include <QHash>

#include <array>

namespace Hotkeys {

namespace {

struct Row {
    SpecialKey specialKey;
    Key key;
    // The glyph shown and used as menu key equivalent (as a Unicode scalar list), or the text
    // shown for keypad keys, which have no key equivalent.
    char32_t glyph[2];
    bool hasMenuKeyEquivalent;
    int qtKey; // 0: none
};

constexpr char32_t keycap = 0x20E3;

constexpr Row row(SpecialKey s, Key k, char32_t glyph, int qtKey)
{
    return Row {s, k, {glyph, 0}, true, qtKey};
}
constexpr Row fkey(SpecialKey s, Key k, int n)
{
    // AppKit's private-use function-key characters: F1 is U+F704.
    return Row {s, k, {char32_t(0xF703 + n), 0}, true, Qt::Key_F1 + n - 1};
}
constexpr Row keypad(SpecialKey s, Key k, char32_t face)
{
    return Row {s, k, {face, keycap}, false, 0};
}

using S = SpecialKey;

// Row order is the order of the enumeration.
constexpr std::array<Row, specialKeyCount> table {{
    row(S::returnKey, Key::returnKey, 0x21A9, Qt::Key_Return),
    row(S::deleteKey, Key::deleteKey, 0x232B, Qt::Key_Backspace),
    row(S::deleteForward, Key::deleteForward, 0x2326, Qt::Key_Delete),
    row(S::end, Key::end, 0x2198, Qt::Key_End),
    row(S::escape, Key::escape, 0x238B, Qt::Key_Escape),
    Row {S::help, Key::help, {U'?', 0x20DD}, true, Qt::Key_Help},
    row(S::home, Key::home, 0x2196, Qt::Key_Home),
    row(S::space, Key::space, U' ', Qt::Key_Space),
    row(S::tab, Key::tab, 0x21E5, Qt::Key_Tab),
    row(S::pageUp, Key::pageUp, 0x21DE, Qt::Key_PageUp),
    row(S::pageDown, Key::pageDown, 0x21DF, Qt::Key_PageDown),
    row(S::upArrow, Key::upArrow, 0x2191, Qt::Key_Up),
    row(S::rightArrow, Key::rightArrow, 0x2192, Qt::Key_Right),
    row(S::downArrow, Key::downArrow, 0x2193, Qt::Key_Down),
    row(S::leftArrow, Key::leftArrow, 0x2190, Qt::Key_Left),
    fkey(S::f1, Key::f1, 1),
    fkey(S::f2, Key::f2, 2),
    fkey(S::f3, Key::f3, 3),
    fkey(S::f4, Key::f4, 4),
    fkey(S::f5, Key::f5, 5),
    fkey(S::f6, Key::f6, 6),
    fkey(S::f7, Key::f7, 7),
    fkey(S::f8, Key::f8, 8),
    fkey(S::f9, Key::f9, 9),
    fkey(S::f10, Key::f10, 10),
    fkey(S::f11, Key::f11, 11),
    fkey(S::f12, Key::f12, 12),
    fkey(S::f13, Key::f13, 13),
    fkey(S::f14, Key::f14, 14),
    fkey(S::f15, Key::f15, 15),
    fkey(S::f16, Key::f16, 16),
    fkey(S::f17, Key::f17, 17),
    fkey(S::f18, Key::f18, 18),
    fkey(S::f19, Key::f19, 19),
    fkey(S::f20, Key::f20, 20),
    keypad(S::keypad0, Key::keypad0, U'0'),
    keypad(S::keypad1, Key::keypad1, U'1'),
    keypad(S::keypad2, Key::keypad2, U'2'),
    keypad(S::keypad3, Key::keypad3, U'3'),
    keypad(S::keypad4, Key::keypad4, U'4'),
    keypad(S::keypad5, Key::keypad5, U'5'),
    keypad(S::keypad6, Key::keypad6, U'6'),
    keypad(S::keypad7, Key::keypad7, U'7'),
    keypad(S::keypad8, Key::keypad8, U'8'),
    keypad(S::keypad9, Key::keypad9, U'9'),
    keypad(S::keypadClear, Key::keypadClear, 0x2612),
    keypad(S::keypadDecimal, Key::keypadDecimal, U'.'),
    keypad(S::keypadDivide, Key::keypadDivide, U'/'),
    keypad(S::keypadEnter, Key::keypadEnter, 0x21A9),
    keypad(S::keypadEquals, Key::keypadEquals, U'='),
    keypad(S::keypadMinus, Key::keypadMinus, U'-'),
    keypad(S::keypadMultiply, Key::keypadMultiply, U'*'),
    keypad(S::keypadPlus, Key::keypadPlus, U'+'),
}};

const Row &rowOf(SpecialKey specialKey)
{
    return table[size_t(specialKey)];
}

QString glyphText(const Row &r)
{
    QString text;
    for (char32_t scalar : r.glyph) {
        if (scalar == 0)
            break;
        if (const auto character = characterFromUnicodeScalarValue(scalar))
            text += *character;
    }
    return text;
}

} // namespace

std::optional<SpecialKey> specialKeyFor(Key key)
{
    // Built once, at first use.
    static const QHash<qint64, SpecialKey> keyToSpecialKeyMapping = [] {
        QHash<qint64, SpecialKey> mapping;
        for (const Row &r : table)
            mapping.insert(r.key.rawValue(), r.specialKey);
        return mapping;
    }();
    const auto it = keyToSpecialKeyMapping.constFind(key.rawValue());
    if (it == keyToSpecialKeyMapping.constEnd())
        return std::nullopt;
    return *it;
}

Key keyOf(SpecialKey specialKey)
{
    return rowOf(specialKey).key;
}

QString presentableDescription(SpecialKey specialKey)
{
    if (specialKey == SpecialKey::space)
        return localizedString(QStringLiteral("space_key"));
    const Row &r = rowOf(specialKey);
    if (r.specialKey >= SpecialKey::f1 && r.specialKey <= SpecialKey::f20)
        return QStringLiteral("F%1").arg(int(r.specialKey) - int(SpecialKey::f1) + 1);
    return glyphText(r);
}

std::optional<QString> appKitMenuItemKeyEquivalent(SpecialKey specialKey)
{
    const Row &r = rowOf(specialKey);
    if (!r.hasMenuKeyEquivalent)
        return std::nullopt;
    return glyphText(r);
}

std::optional<Qt::Key> keySequenceKey(SpecialKey specialKey)
{
    const Row &r = rowOf(specialKey);
    if (r.qtKey == 0)
        return std::nullopt;
    return Qt::Key(r.qtKey);
}

} // namespace Hotkeys
