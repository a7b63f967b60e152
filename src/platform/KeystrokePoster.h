#pragma once

#include <QtGlobal>

#include <QCoroTask>

namespace Platform {

// AppKit modifier flag of the Command key, the flag of the copy and paste keystrokes.
inline constexpr quint64 commandKeyMask = 0x100000;
// AppKit modifier flag of the Shift key (Shift+Insert pastes in terminals).
inline constexpr quint64 shiftKeyMask = 0x20000;

// Synthetic keystrokes into whatever application is in front.
class KeystrokePoster {
public:
    virtual ~KeystrokePoster() = default;

    // Posts a key-down then a key-up of the macOS virtual key code `keyCode` (a physical ANSI
    // position) with exactly the AppKit modifier `flags`. Completes once both are posted; when
    // the events cannot be made, nothing is posted and nothing is reported. Main thread only.
    virtual QCoro::Task<> postKeystroke(quint16 keyCode, quint64 flags) = 0;
};

} // namespace Platform
