#include "platform/x11/KeyCodeMap.h"

#include <array>
#include <utility>

#include <X11/keysym.h>

namespace Platform::X11 {

namespace {

// {macOS virtual key code, Linux evdev code} (see linux/input-event-codes.h).
// clang-format off
constexpr std::array<std::pair<int, int>, 119> macToEvdev{{
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

constexpr int evdevToX = 8;

// {macOS virtual key code, US key symbol} for the keys a keystroke can name by symbol.
// clang-format off
constexpr std::array<std::pair<int, quint32>, 63> macToKeysym{{
    {0x00, XK_a}, {0x01, XK_s}, {0x02, XK_d}, {0x03, XK_f}, {0x04, XK_h}, {0x05, XK_g}, {0x06, XK_z},
    {0x07, XK_x}, {0x08, XK_c}, {0x09, XK_v}, {0x0B, XK_b}, {0x0C, XK_q}, {0x0D, XK_w}, {0x0E, XK_e},
    {0x0F, XK_r}, {0x10, XK_y}, {0x11, XK_t}, {0x1F, XK_o}, {0x20, XK_u}, {0x22, XK_i}, {0x23, XK_p},
    {0x25, XK_l}, {0x26, XK_j}, {0x28, XK_k}, {0x2D, XK_n}, {0x2E, XK_m},
    {0x24, XK_Return}, {0x30, XK_Tab}, {0x31, XK_space}, {0x33, XK_BackSpace}, {0x35, XK_Escape},
    {0x72, XK_Insert}, {0x73, XK_Home}, {0x74, XK_Prior}, {0x75, XK_Delete}, {0x77, XK_End},
    {0x79, XK_Next}, {0x7B, XK_Left}, {0x7C, XK_Right}, {0x7D, XK_Down}, {0x7E, XK_Up},
    {0x7A, XK_F1}, {0x78, XK_F2}, {0x63, XK_F3}, {0x76, XK_F4}, {0x60, XK_F5}, {0x61, XK_F6},
    {0x62, XK_F7}, {0x64, XK_F8}, {0x65, XK_F9}, {0x6D, XK_F10}, {0x67, XK_F11}, {0x6F, XK_F12},
    {0x37, XK_Control_L}, {0x36, XK_Control_R}, {0x38, XK_Shift_L}, {0x3C, XK_Shift_R},
    {0x3A, XK_Alt_L}, {0x3D, XK_Alt_R}, {0x3B, XK_Super_L}, {0x3E, XK_Super_R}, {0x39, XK_Caps_Lock},
    {0x4C, XK_KP_Enter},
}};
// clang-format on

} // namespace

std::optional<quint8> xKeycodeForMacKeyCode(qint64 macKeyCode)
{
    for (const auto &[mac, evdev] : macToEvdev) {
        if (mac == macKeyCode)
            return quint8(evdev + evdevToX);
    }
    return std::nullopt;
}

std::optional<qint64> macKeyCodeForXKeycode(quint32 xKeycode)
{
    for (const auto &[mac, evdev] : macToEvdev) {
        if (quint32(evdev + evdevToX) == xKeycode)
            return mac;
    }
    return std::nullopt;
}

std::optional<quint32> keysymForMacKeyCode(qint64 macKeyCode)
{
    for (const auto &[mac, keysym] : macToKeysym) {
        if (mac == macKeyCode)
            return keysym;
    }
    return std::nullopt;
}

} // namespace Platform::X11
