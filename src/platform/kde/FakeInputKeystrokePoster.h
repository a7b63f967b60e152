#pragma once

#include "platform/AccessibilityTrust.h"
#include "platform/KeystrokePoster.h"
#include "platform/kde/FakeInputDevice.h"

#include <QList>
#include <QString>

namespace Platform::Wayland {
class SeatKeymap;
}

namespace Platform::Kde {

// Keystrokes through KWin's fake input device, into whatever window has the focus.
//
// Applications match the copy and paste keys by the symbol they type, so each key goes by its
// symbol: the symbol the key at `keyCode`'s position types on a US keyboard (Command is the Control
// key, Option Alt, Control Super), sent as the key that types it on the seat's keymap. On Dvorak,
// Command+C is then Ctrl with the key labelled C there. A symbol the keymap lacks goes by position.
//
// The user's fingers are often still on the modifiers of the shortcut that started us, and a target
// that sees Ctrl+Alt+C ignores it; a Wayland client cannot ask which keys are down, so every
// modifier key of the keymap is released first (KWin ignores the release of a key that is up).
// Every key pressed is released before postKeystroke() returns.
//
// It is also the trust seam: keystrokes are permitted when KWin granted fake input, which it does
// only to an installed program (see FakeInputDevice); "Open Settings" shows our help page.
class FakeInputKeystrokePoster final : public KeystrokePoster, public AccessibilityTrust {
public:
    // Uses `connection` and `keymap`, which must outlive it; `helpPage` is opened by
    // openSystemSettings(). Main thread only.
    FakeInputKeystrokePoster(
        Wayland::WaylandConnection &connection, const Wayland::SeatKeymap &keymap, QString helpPage = {});

    // Whether KWin lets us post keystrokes.
    bool isGranted() const { return m_device.isGranted(); }

    QCoro::Task<> postKeystroke(quint16 keyCode, quint64 flags) override;

    bool isProcessTrusted() const override;
    bool requestTrust() override { return isProcessTrusted(); }
    void openSystemSettings() override;

private:
    QList<quint32> modifierKeys() const;

    Wayland::WaylandConnection &m_connection;
    const Wayland::SeatKeymap &m_keymap;
    QString m_helpPage;
    FakeInputDevice m_device;
};

} // namespace Platform::Kde
