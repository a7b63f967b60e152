#pragma once

#include <QtGlobal>

namespace Platform {

// The key combinations that the system (or, on X11, another client) already reserves.
class SystemShortcuts {
public:
    virtual ~SystemShortcuts() = default;

    // True when the key at macOS key code `carbonKeyCode` with exactly the Carbon modifier bits
    // `carbonModifiers` (Platform::CarbonModifier in KeyEncodings.h) is reserved and enabled; false when it
    // is free or cannot be told (values out of range, no connection). May ask the display server
    // synchronously; main thread only.
    virtual bool isReserved(qint64 carbonKeyCode, qint64 carbonModifiers) = 0;
};

} // namespace Platform
