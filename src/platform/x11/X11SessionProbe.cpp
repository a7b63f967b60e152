#include "platform/x11/X11SessionProbe.h"

#include "platform/SessionCapabilities.h"
#include "platform/x11/Xcb.h"

#include <xcb/xcb.h>

namespace Platform::X11 {

void probeX11(SessionCapabilities &capabilities)
{
    const QString display = qEnvironmentVariable("DISPLAY");
    if (display.isEmpty())
        return;
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    if (!xcb_connection_has_error(connection)) {
        capabilities.x11Display = display;
        capabilities.xtest = Xcb::hasXTest(connection);
    }
    xcb_disconnect(connection);
}

} // namespace Platform::X11
