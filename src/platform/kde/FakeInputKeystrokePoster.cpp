#include "platform/kde/FakeInputKeystrokePoster.h"

#include "platform/KeyEncodings.h"
#include "platform/wayland/SeatKeymap.h"
#include "platform/wayland/WaylandConnection.h"
#include "platform/x11/KeyCodeMap.h"

#include <QDesktopServices>
#include <QUrl>

#include <algorithm>
#include <array>

#include <xkbcommon/xkbcommon.h>

namespace Platform::Kde {

namespace {

// In pressing order, as on X11: Command is the Control key, Control the Super key, Option Alt.
constexpr std::array<std::pair<quint64, xkb_keysym_t>, 4> modifierKeysyms {{
    {AppKitModifier::control, XKB_KEY_Super_L},
    {AppKitModifier::option, XKB_KEY_Alt_L},
    {AppKitModifier::shift, XKB_KEY_Shift_L},
    {AppKitModifier::command, XKB_KEY_Control_L},
}};

constexpr std::array<xkb_keysym_t, 14> modifierSymbols {XKB_KEY_Shift_L, XKB_KEY_Shift_R, XKB_KEY_Control_L,
    XKB_KEY_Control_R, XKB_KEY_Alt_L, XKB_KEY_Alt_R, XKB_KEY_Meta_L, XKB_KEY_Meta_R, XKB_KEY_Super_L,
    XKB_KEY_Super_R, XKB_KEY_Hyper_L, XKB_KEY_Hyper_R, XKB_KEY_ISO_Level3_Shift, XKB_KEY_ISO_Level5_Shift};

} // namespace

FakeInputKeystrokePoster::FakeInputKeystrokePoster(
    Wayland::WaylandConnection &connection, const Wayland::SeatKeymap &keymap, QString helpPage)
    : m_connection(connection)
    , m_keymap(keymap)
    , m_helpPage(std::move(helpPage))
    , m_device(connection, QStringLiteral("Tarnwick"),
          QStringLiteral("Copies the selected text and pastes the corrected text."))
{
}

QList<quint32> FakeInputKeystrokePoster::modifierKeys() const
{
    QList<quint32> codes;
    for (const xkb_keysym_t symbol : modifierSymbols) {
        if (const std::optional<quint32> code = m_keymap.keyFor(symbol); code && !codes.contains(*code))
            codes.append(*code);
    }
    return codes;
}

QCoro::Task<> FakeInputKeystrokePoster::postKeystroke(quint16 keyCode, quint64 flags)
{
    const std::optional<quint8> position = X11::xKeycodeForMacKeyCode(keyCode);
    if (!position || !isProcessTrusted())
        co_return;
    // evdev codes are X keycodes less 8.
    const quint32 key = m_keymap.keyFor(m_keymap.usSymbol(keyCode)).value_or(*position - 8u);
    QList<quint32> modifiers;
    for (const auto &[flag, keysym] : modifierKeysyms) {
        if (!(flags & flag))
            continue;
        const std::optional<quint32> code = m_keymap.keyFor(keysym);
        if (!code)
            co_return;
        modifiers.append(*code);
    }

    // From here to the end nothing waits, so every key pressed below is released below.
    m_connection.noteKeystroke();
    for (const quint32 code : modifierKeys())
        m_device.key(code, false);
    for (const quint32 code : std::as_const(modifiers))
        m_device.key(code, true);
    m_device.key(key, true);
    m_device.key(key, false);
    for (auto it = modifiers.crbegin(); it != modifiers.crend(); ++it)
        m_device.key(*it, false);
    m_device.flush();
}

bool FakeInputKeystrokePoster::isProcessTrusted() const
{
    return isGranted() && m_connection.isConnected();
}

void FakeInputKeystrokePoster::openSystemSettings()
{
    if (!m_helpPage.isEmpty())
        QDesktopServices::openUrl(QUrl::fromLocalFile(m_helpPage));
}

} // namespace Platform::Kde
