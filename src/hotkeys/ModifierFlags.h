#pragma once

#include "platform/KeyEncodings.h"

#include <QSet>
#include <QString>
#include <QtGlobal>
#include <qnamespace.h>

#include <functional>
#include <optional>

namespace Hotkeys {

// A set of keyboard modifier flags with AppKit's bit values (NSEvent.ModifierFlags), the encoding
// that key events carry everywhere above the X11 layer.
class ModifierFlags {
public:
    static constexpr quint64 capsLockBit = Platform::AppKitModifier::capsLock;
    static constexpr quint64 shiftBit = Platform::AppKitModifier::shift;
    static constexpr quint64 controlBit = Platform::AppKitModifier::control;
    static constexpr quint64 optionBit = Platform::AppKitModifier::option;
    static constexpr quint64 commandBit = Platform::AppKitModifier::command;
    static constexpr quint64 numericPadBit = Platform::AppKitModifier::numericPad;
    static constexpr quint64 helpBit = Platform::AppKitModifier::help;
    static constexpr quint64 functionBit = Platform::AppKitModifier::function;
    static constexpr quint64 deviceIndependentFlagsMaskBits
        = Platform::AppKitModifier::deviceIndependentFlagsMask;

    static const ModifierFlags capsLock;
    static const ModifierFlags shift;
    static const ModifierFlags control;
    static const ModifierFlags option;
    static const ModifierFlags command;
    static const ModifierFlags numericPad;
    static const ModifierFlags help;
    static const ModifierFlags function;
    static const ModifierFlags deviceIndependentFlagsMask;

    constexpr ModifierFlags() = default;
    constexpr explicit ModifierFlags(quint64 rawValue)
        : m_rawValue(rawValue)
    {
    }

    // The flags that the Carbon modifier bits stand for; only Command, Shift, Option, Control and
    // Function pass, every other bit is dropped.
    static constexpr ModifierFlags fromCarbon(qint64 carbon);

    constexpr quint64 rawValue() const { return m_rawValue; }
    constexpr bool isEmpty() const { return m_rawValue == 0; }
    constexpr bool contains(ModifierFlags other) const
    {
        return (m_rawValue & other.m_rawValue) == other.m_rawValue;
    }

    // The Carbon modifier bits of the Command, Shift, Option, Control and Function flags; every
    // other flag is dropped.
    constexpr qint64 carbon() const;

    constexpr ModifierFlags operator|(ModifierFlags other) const
    {
        return ModifierFlags(m_rawValue | other.m_rawValue);
    }
    constexpr ModifierFlags operator&(ModifierFlags other) const
    {
        return ModifierFlags(m_rawValue & other.m_rawValue);
    }
    constexpr ModifierFlags operator~() const { return ModifierFlags(~m_rawValue); }
    constexpr ModifierFlags &operator|=(ModifierFlags other)
    {
        m_rawValue |= other.m_rawValue;
        return *this;
    }
    constexpr ModifierFlags &operator&=(ModifierFlags other)
    {
        m_rawValue &= other.m_rawValue;
        return *this;
    }
    friend constexpr bool operator==(ModifierFlags, ModifierFlags) = default;

private:
    quint64 m_rawValue = 0;
};

inline constexpr ModifierFlags ModifierFlags::capsLock {capsLockBit};
inline constexpr ModifierFlags ModifierFlags::shift {shiftBit};
inline constexpr ModifierFlags ModifierFlags::control {controlBit};
inline constexpr ModifierFlags ModifierFlags::option {optionBit};
inline constexpr ModifierFlags ModifierFlags::command {commandBit};
inline constexpr ModifierFlags ModifierFlags::numericPad {numericPadBit};
inline constexpr ModifierFlags ModifierFlags::help {helpBit};
inline constexpr ModifierFlags ModifierFlags::function {functionBit};
inline constexpr ModifierFlags ModifierFlags::deviceIndependentFlagsMask {deviceIndependentFlagsMaskBits};

// Carbon modifier bits (the Event Manager's cmdKey, shiftKey, optionKey, controlKey and Fn).
namespace CarbonModifier = Platform::CarbonModifier;

constexpr ModifierFlags ModifierFlags::fromCarbon(qint64 carbon)
{
    quint64 raw = 0;
    for (const auto &pair : Platform::modifierEncodings) {
        if (carbon & pair.carbon)
            raw |= pair.appKit;
    }
    return ModifierFlags(raw);
}

constexpr qint64 ModifierFlags::carbon() const
{
    qint64 carbon = 0;
    for (const auto &pair : Platform::modifierEncodings) {
        if (m_rawValue & pair.appKit)
            carbon |= pair.carbon;
    }
    return carbon;
}

// The glyphs of the present modifiers, always in the order Control "⌃", Option "⌥", Shift "⇧",
// Command "⌘", Function "🌐︎"; the empty string for none.
QString hk_symbolicRepresentation(ModifierFlags flags);

// Qt's keyboard modifiers for the flags, mapped as Qt does on macOS: Command is Control, Control
// is Meta, Option is Alt; numeric pad is the keypad modifier. Qt has no Caps Lock or Function
// modifier, so those two are dropped.
Qt::KeyboardModifiers toEventModifiers(ModifierFlags flags);

// The flags for Qt's keyboard modifiers (the inverse mapping of toEventModifiers).
ModifierFlags modifierFlagsFromQt(Qt::KeyboardModifiers modifiers);

// AppKit's special-key characters of the function keys F1 to F35 (U+F704 to U+F726).
const QSet<char32_t> &functionKeys();

// The character of the Unicode scalar `value`; nothing for surrogates (0xD800 to 0xDFFF) and for
// values above 0x10FFFF (or negative).
std::optional<QString> characterFromUnicodeScalarValue(qint64 value);

} // namespace Hotkeys

template <> struct std::hash<Hotkeys::ModifierFlags> {
    size_t operator()(Hotkeys::ModifierFlags flags) const noexcept
    {
        return std::hash<quint64>()(flags.rawValue());
    }
};
