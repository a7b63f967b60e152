#pragma once

namespace Platform {
struct SessionCapabilities;
}

namespace Platform::X11 {

// Fills the X11 fields of `capabilities`: whether DISPLAY accepts a connection (of our own, made
// and dropped here, so that it works before Qt starts) and whether that server offers XTEST.
void probeX11(SessionCapabilities &capabilities);

} // namespace Platform::X11
