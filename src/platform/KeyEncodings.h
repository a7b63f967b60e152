#pragma once

// The one home of the key and modifier encodings. Above the platform implementations, keys and
// modifiers are always in the encodings of the system the shortcut code was first written for:
// macOS virtual key codes (physical ANSI positions), Carbon modifier bits in stored shortcuts and
// hot-key registrations, AppKit modifier flags in key events. So stored shortcuts are the same
// JSON everywhere. The Linux implementations translate at their edge, by physical key, through
// the evdev codes below.

#include <QString>
#include <QtGlobal>

#include <array>
#include <optional>
#include <utility>

namespace Platform {

// macOS virtual key codes: the physical key at a position of the ANSI keyboard, whatever the
// layout types there.
namespace MacKeyCode {
// Letters
inline constexpr quint16 a = 0x00;
inline constexpr quint16 s = 0x01;
inline constexpr quint16 d = 0x02;
inline constexpr quint16 f = 0x03;
inline constexpr quint16 h = 0x04;
inline constexpr quint16 g = 0x05;
inline constexpr quint16 z = 0x06;
inline constexpr quint16 x = 0x07;
inline constexpr quint16 c = 0x08;
inline constexpr quint16 v = 0x09;
inline constexpr quint16 b = 0x0B;
inline constexpr quint16 q = 0x0C;
inline constexpr quint16 w = 0x0D;
inline constexpr quint16 e = 0x0E;
inline constexpr quint16 r = 0x0F;
inline constexpr quint16 y = 0x10;
inline constexpr quint16 t = 0x11;
inline constexpr quint16 o = 0x1F;
inline constexpr quint16 u = 0x20;
inline constexpr quint16 i = 0x22;
inline constexpr quint16 p = 0x23;
inline constexpr quint16 l = 0x25;
inline constexpr quint16 j = 0x26;
inline constexpr quint16 k = 0x28;
inline constexpr quint16 n = 0x2D;
inline constexpr quint16 m = 0x2E;
// Digits of the main row
inline constexpr quint16 one = 0x12;
inline constexpr quint16 two = 0x13;
inline constexpr quint16 three = 0x14;
inline constexpr quint16 four = 0x15;
inline constexpr quint16 six = 0x16;
inline constexpr quint16 five = 0x17;
inline constexpr quint16 nine = 0x19;
inline constexpr quint16 seven = 0x1A;
inline constexpr quint16 eight = 0x1C;
inline constexpr quint16 zero = 0x1D;
// Punctuation
inline constexpr quint16 equal = 0x18;
inline constexpr quint16 minus = 0x1B;
inline constexpr quint16 rightBracket = 0x1E;
inline constexpr quint16 leftBracket = 0x21;
inline constexpr quint16 quote = 0x27;
inline constexpr quint16 semicolon = 0x29;
inline constexpr quint16 backslash = 0x2A;
inline constexpr quint16 comma = 0x2B;
inline constexpr quint16 slash = 0x2C;
inline constexpr quint16 period = 0x2F;
inline constexpr quint16 backtick = 0x32;
// Editing and whitespace
inline constexpr quint16 returnKey = 0x24;
inline constexpr quint16 tab = 0x30;
inline constexpr quint16 space = 0x31;
inline constexpr quint16 deleteKey = 0x33;
inline constexpr quint16 escape = 0x35;
inline constexpr quint16 help = 0x72;
inline constexpr quint16 deleteForward = 0x75;
// Modifier keys
inline constexpr quint16 rightCommand = 0x36;
inline constexpr quint16 command = 0x37;
inline constexpr quint16 shift = 0x38;
inline constexpr quint16 capsLock = 0x39;
inline constexpr quint16 option = 0x3A;
inline constexpr quint16 control = 0x3B;
inline constexpr quint16 rightShift = 0x3C;
inline constexpr quint16 rightOption = 0x3D;
inline constexpr quint16 rightControl = 0x3E;
inline constexpr quint16 function = 0x3F;
// Navigation
inline constexpr quint16 home = 0x73;
inline constexpr quint16 pageUp = 0x74;
inline constexpr quint16 end = 0x77;
inline constexpr quint16 pageDown = 0x79;
inline constexpr quint16 leftArrow = 0x7B;
inline constexpr quint16 rightArrow = 0x7C;
inline constexpr quint16 downArrow = 0x7D;
inline constexpr quint16 upArrow = 0x7E;
// Function keys
inline constexpr quint16 f1 = 0x7A;
inline constexpr quint16 f2 = 0x78;
inline constexpr quint16 f3 = 0x63;
inline constexpr quint16 f4 = 0x76;
inline constexpr quint16 f5 = 0x60;
inline constexpr quint16 f6 = 0x61;
inline constexpr quint16 f7 = 0x62;
inline constexpr quint16 f8 = 0x64;
inline constexpr quint16 f9 = 0x65;
inline constexpr quint16 f10 = 0x6D;
inline constexpr quint16 f11 = 0x67;
inline constexpr quint16 f12 = 0x6F;
inline constexpr quint16 f13 = 0x69;
inline constexpr quint16 f14 = 0x6B;
inline constexpr quint16 f15 = 0x71;
inline constexpr quint16 f16 = 0x6A;
inline constexpr quint16 f17 = 0x40;
inline constexpr quint16 f18 = 0x4F;
inline constexpr quint16 f19 = 0x50;
inline constexpr quint16 f20 = 0x5A;
// Keypad
inline constexpr quint16 keypadDecimal = 0x41;
inline constexpr quint16 keypadMultiply = 0x43;
inline constexpr quint16 keypadPlus = 0x45;
inline constexpr quint16 keypadClear = 0x47;
inline constexpr quint16 keypadDivide = 0x4B;
inline constexpr quint16 keypadEnter = 0x4C;
inline constexpr quint16 keypadMinus = 0x4E;
inline constexpr quint16 keypadEquals = 0x51;
inline constexpr quint16 keypad0 = 0x52;
inline constexpr quint16 keypad1 = 0x53;
inline constexpr quint16 keypad2 = 0x54;
inline constexpr quint16 keypad3 = 0x55;
inline constexpr quint16 keypad4 = 0x56;
inline constexpr quint16 keypad5 = 0x57;
inline constexpr quint16 keypad6 = 0x58;
inline constexpr quint16 keypad7 = 0x59;
inline constexpr quint16 keypad8 = 0x5B;
inline constexpr quint16 keypad9 = 0x5C;
// Media
inline constexpr quint16 volumeUp = 0x48;
inline constexpr quint16 volumeDown = 0x49;
inline constexpr quint16 mute = 0x4A;
} // namespace MacKeyCode

// AppKit modifier flags (NSEvent.ModifierFlags), as key events carry them.
namespace AppKitModifier {
inline constexpr quint64 capsLock = 0x10000;
inline constexpr quint64 shift = 0x20000;
inline constexpr quint64 control = 0x40000;
inline constexpr quint64 option = 0x80000;
inline constexpr quint64 command = 0x100000;
inline constexpr quint64 numericPad = 0x200000;
inline constexpr quint64 help = 0x400000;
inline constexpr quint64 function = 0x800000;
inline constexpr quint64 deviceIndependentFlagsMask = 0xFFFF0000;
} // namespace AppKitModifier

// Carbon modifier bits (the Event Manager's cmdKey, shiftKey, optionKey, controlKey and Fn), as
// stored shortcuts and hot-key registrations carry them.
namespace CarbonModifier {
inline constexpr qint64 command = 0x100;
inline constexpr qint64 shift = 0x200;
inline constexpr qint64 option = 0x800;
inline constexpr qint64 control = 0x1000;
inline constexpr qint64 function = 0x20000;
inline constexpr qint64 all = command | shift | option | control | function;
} // namespace CarbonModifier

// The five modifiers that exist in both encodings.
struct ModifierEncoding {
    quint64 appKit;
    qint64 carbon;
};
inline constexpr ModifierEncoding modifierEncodings[] = {
    {AppKitModifier::command, CarbonModifier::command},
    {AppKitModifier::shift, CarbonModifier::shift},
    {AppKitModifier::option, CarbonModifier::option},
    {AppKitModifier::control, CarbonModifier::control},
    {AppKitModifier::function, CarbonModifier::function},
};

// {macOS virtual key code, Linux evdev code} of every key with a counterpart on PC keyboards (see
// linux/input-event-codes.h). An X keycode is the evdev code plus 8.
// clang-format off
inline constexpr std::array<std::pair<quint16, quint16>, 119> macToEvdev{{
    {0x00, 30},  {0x01, 31},  {0x02, 32},  {0x03, 33},  {0x04, 35},  {0x05, 34},  // a s d f h g
    {0x06, 44},  {0x07, 45},  {0x08, 46},  {0x09, 47},  {0x0A, 86},  {0x0B, 48},  // z x c v § b
    {0x0C, 16},  {0x0D, 17},  {0x0E, 18},  {0x0F, 19},  {0x10, 21},  {0x11, 20},  // q w e r y t
    {0x12, 2},   {0x13, 3},   {0x14, 4},   {0x15, 5},   {0x16, 7},   {0x17, 6},   // 1 2 3 4 6 5
    {0x18, 13},  {0x19, 10},  {0x1A, 8},   {0x1B, 12},  {0x1C, 9},   {0x1D, 11},  // = 9 7 - 8 0
    {0x1E, 27},  {0x1F, 24},  {0x20, 22},  {0x21, 26},  {0x22, 23},  {0x23, 25},  // ] o u [ i p
    {0x24, 28},  {0x25, 38},  {0x26, 36},  {0x27, 40},  {0x28, 37},  {0x29, 39},  // ↩ l j ' k ;
    {0x2A, 43},  {0x2B, 51},  {0x2C, 53},  {0x2D, 49},  {0x2E, 50},  {0x2F, 52},  // \ , / n m .
    {0x30, 15},  {0x31, 57},  {0x32, 41},  {0x33, 14},  {0x35, 1},                // tab space ` ⌫ esc
    {0x36, 97},  {0x37, 29},  {0x38, 42},  {0x39, 58},  {0x3A, 56},  {0x3B, 125}, // ⌘r ⌘ ⇧ caps ⌥ ⌃
    {0x3C, 54},  {0x3D, 100}, {0x3E, 126},                                        // ⇧r ⌥r ⌃r
    {0x40, 187}, {0x41, 83},  {0x43, 55},  {0x45, 78},  {0x47, 69},               // f17 kp. kp* kp+ clear
    {0x48, 115}, {0x49, 114}, {0x4A, 113},                                        // volume up, down, mute
    {0x4B, 98},  {0x4C, 96},  {0x4E, 74},  {0x4F, 188}, {0x50, 189}, {0x51, 117}, // kp/ kp↩ kp- f18 f19 kp=
    {0x52, 82},  {0x53, 79},  {0x54, 80},  {0x55, 81},  {0x56, 75},  {0x57, 76},  // kp0..kp5
    {0x58, 77},  {0x59, 71},  {0x5A, 190}, {0x5B, 72},  {0x5C, 73},               // kp6 kp7 f20 kp8 kp9
    {0x5D, 124}, {0x5E, 89},  {0x5F, 95},                                         // JIS yen, ro, kp comma
    {0x60, 63},  {0x61, 64},  {0x62, 65},  {0x63, 61},  {0x64, 66},  {0x65, 67},  // f5 f6 f7 f3 f8 f9
    {0x66, 123}, {0x67, 87},  {0x68, 122}, {0x69, 183}, {0x6A, 186}, {0x6B, 184}, // eisu f11 kana f13 f16 f14
    {0x6D, 68},  {0x6E, 127}, {0x6F, 88},  {0x71, 185},                           // f10 menu f12 f15
    {0x72, 110}, {0x73, 102}, {0x74, 104}, {0x75, 111}, {0x76, 62},  {0x77, 107}, // help/insert home pgup ⌦ f4 end
    {0x78, 60},  {0x79, 109}, {0x7A, 59},                                         // f2 pgdn f1
    {0x7B, 105}, {0x7C, 106}, {0x7D, 108}, {0x7E, 103},                           // ← → ↓ ↑
}};
// clang-format on

// The evdev code of the key at `macKeyCode`'s position, or nothing (Fn, codes without a key).
constexpr std::optional<quint16> evdevCodeForMacKeyCode(qint64 macKeyCode)
{
    for (const auto &[mac, evdev] : macToEvdev) {
        if (mac == macKeyCode)
            return evdev;
    }
    return std::nullopt;
}

// The macOS virtual key code of the key with evdev code `evdevCode`, or nothing.
constexpr std::optional<quint16> macKeyCodeForEvdevCode(qint64 evdevCode)
{
    for (const auto &[mac, evdev] : macToEvdev) {
        if (evdev == evdevCode)
            return mac;
    }
    return std::nullopt;
}

// The kernel's name of the key with evdev code `evdevCode` ("KEY_E"), as linux/input-event-codes.h
// spells it; empty for a code without a name there.
QString evdevKeyName(quint16 evdevCode);

} // namespace Platform
