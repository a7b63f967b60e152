#include "platform/x11/X11SessionProbe.h"

#include "platform/SessionCapabilities.h"

#include <xcb/xcb.h>
#include <xcb/xtest.h>

namespace Platform::X11 {

void probeX11(SessionCapabilities &capabilities)
{
    const QString display = qEnvironmentVariable("DISPLAY");
    if (display.isEmpty())
        return;
    xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
    if (!xcb_connection_has_error(connection)) {
        capabilities.x11Display = display;
        const xcb_query_extension_reply_t *xtest = xcb_get_extension_data(connection, &xcb_test_id);
        capabilities.xtest = xtest && xtest->present;
    }
    xcb_disconnect(connection);
}

} // namespace Platform::X11
