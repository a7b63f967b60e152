#include "platform/x11/KeyCodeMap.h"

#include "platform/KeyEncodings.h"

#include <X11/keysym.h>

namespace Platform::X11 {

namespace {

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
    if (const std::optional<quint16> evdev = evdevCodeForMacKeyCode(macKeyCode))
        return quint8(*evdev + evdevToX);
    return std::nullopt;
}

std::optional<qint64> macKeyCodeForXKeycode(quint32 xKeycode)
{
    if (xKeycode < quint32(evdevToX))
        return std::nullopt;
    if (const std::optional<quint16> mac = macKeyCodeForEvdevCode(qint64(xKeycode) - evdevToX))
        return *mac;
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
