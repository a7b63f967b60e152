#include "hotkeys/ModifierFlags.h"

#include "platform/qt/QtKeyEvent.h"

namespace Hotkeys {

QString hk_symbolicRepresentation(ModifierFlags flags)
{
    QString text;
    if (flags.contains(ModifierFlags::control))
        text += QChar(0x2303);
    if (flags.contains(ModifierFlags::option))
        text += QChar(0x2325);
    if (flags.contains(ModifierFlags::shift))
        text += QChar(0x21E7);
    if (flags.contains(ModifierFlags::command))
        text += QChar(0x2318);
    if (flags.contains(ModifierFlags::function))
        text += QStringLiteral("\U0001F310\uFE0E");
    return text;
}

Qt::KeyboardModifiers toEventModifiers(ModifierFlags flags)
{
    Qt::KeyboardModifiers modifiers;
    if (flags.contains(ModifierFlags::command))
        modifiers |= Qt::ControlModifier;
    if (flags.contains(ModifierFlags::control))
        modifiers |= Qt::MetaModifier;
    if (flags.contains(ModifierFlags::numericPad))
        modifiers |= Qt::KeypadModifier;
    if (flags.contains(ModifierFlags::option))
        modifiers |= Qt::AltModifier;
    if (flags.contains(ModifierFlags::shift))
        modifiers |= Qt::ShiftModifier;
    return modifiers;
}

ModifierFlags modifierFlagsFromQt(Qt::KeyboardModifiers modifiers)
{
    return ModifierFlags(Platform::appKitModifierFlags(modifiers));
}

const QSet<char32_t> &functionKeys()
{
    static const QSet<char32_t> keys = [] {
        QSet<char32_t> set;
        for (char32_t c = Platform::SpecialKeyCharacter::f1; c <= Platform::SpecialKeyCharacter::f35; ++c)
            set.insert(c);
        return set;
    }();
    return keys;
}

std::optional<QString> characterFromUnicodeScalarValue(qint64 value)
{
    if (value < 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return std::nullopt;
    const char32_t scalar = char32_t(value);
    return QString::fromUcs4(&scalar, 1);
}

} // namespace Hotkeys
