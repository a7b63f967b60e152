#include "platform/x11/X11Screens.h"

#include "platform/x11/Xcb.h"

#include <QByteArray>
#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

#include <cstdlib>

#include <xcb/xcb.h>

namespace Platform::X11 {

namespace {

ScreenGeometry geometryOf(const QScreen *screen)
{
    return {screen->geometry(), screen->availableGeometry()};
}

} // namespace

QPoint X11Screens::pointerPosition() const
{
    return QCursor::pos();
}

QList<ScreenGeometry> X11Screens::screens() const
{
    QList<ScreenGeometry> result;
    const QList<QScreen *> all = QGuiApplication::screens();
    for (const QScreen *screen : all)
        result.append(geometryOf(screen));
    return result;
}

std::optional<ScreenGeometry> X11Screens::primaryScreen() const
{
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        return geometryOf(screen);
    return std::nullopt;
}

bool X11Screens::supportsTranslucency() const
{
    xcb_connection_t *connection = Xcb::qtConnection();
    if (!connection)
        return false;
    if (m_compositorAtom == 0) {
        // A compositing manager owns _NET_WM_CM_S<n> for the X screen n that it composites.
        int screenNumber = 0;
        char *host = nullptr;
        int display = 0;
        if (xcb_parse_display(nullptr, &host, &display, &screenNumber) == 0)
            screenNumber = 0;
        std::free(host);
        const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(screenNumber);
        xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 0, quint16(name.size()), name.constData()), nullptr);
        if (!reply)
            return false;
        m_compositorAtom = reply->atom;
        std::free(reply);
    }
    xcb_get_selection_owner_reply_t *owner = xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, m_compositorAtom), nullptr);
    if (!owner)
        return false;
    const bool composited = owner->owner != XCB_NONE;
    std::free(owner);
    return composited;
}

} // namespace Platform::X11
