#include "platform/x11/Xcb.h"

#include <QGuiApplication>

#include <cstdlib>
#include <cstring>

#include <xcb/xcb.h>
#include <xcb/xproto.h>
#include <xcb/xtest.h>

namespace Platform::X11::Xcb {

namespace {

// Deep enough for any real window tree; guards against a hostile or broken server answering a
// cycle.
constexpr int maxTreeDepth = 64;

} // namespace

xcb_connection_t *qtConnection()
{
    auto *app = qGuiApp;
    if (!app)
        return nullptr;
    auto *x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

bool hasXTest(xcb_connection_t *connection)
{
    if (!connection || xcb_connection_has_error(connection))
        return false;
    const xcb_query_extension_reply_t *xtest = xcb_get_extension_data(connection, &xcb_test_id);
    return xtest && xtest->present;
}

quint32 atom(xcb_connection_t *connection, const char *name)
{
    const auto cookie = xcb_intern_atom(connection, 0, quint16(std::strlen(name)), name);
    xcb_generic_error_t *error = nullptr;
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(connection, cookie, &error);
    std::free(error);
    const quint32 result = reply ? reply->atom : 0;
    std::free(reply);
    return result;
}

QString classFromWmClass(const QByteArray &value)
{
    const qsizetype end = value.indexOf('\0');
    if (end < 0)
        return {};
    QByteArray rest = value.mid(end + 1);
    const qsizetype classEnd = rest.indexOf('\0');
    if (classEnd >= 0)
        rest.truncate(classEnd);
    // ICCCM: WM_CLASS is of type STRING, which is Latin-1.
    return QString::fromLatin1(rest);
}

std::optional<QString> windowClass(xcb_connection_t *connection, quint32 window)
{
    if (window == XCB_WINDOW_NONE)
        return std::nullopt;
    const auto cookie = xcb_get_property(connection, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256);
    xcb_generic_error_t *error = nullptr;
    xcb_get_property_reply_t *reply = xcb_get_property_reply(connection, cookie, &error);
    std::free(error);
    std::optional<QString> result;
    if (reply && reply->type == XCB_ATOM_STRING && reply->format == 8) {
        const int length = xcb_get_property_value_length(reply);
        result
            = classFromWmClass(QByteArray(static_cast<const char *>(xcb_get_property_value(reply)), length));
    }
    std::free(reply);
    return result;
}

quint32 parent(xcb_connection_t *connection, quint32 window)
{
    if (window == XCB_WINDOW_NONE)
        return 0;
    xcb_generic_error_t *error = nullptr;
    xcb_query_tree_reply_t *reply
        = xcb_query_tree_reply(connection, xcb_query_tree(connection, window), &error);
    std::free(error);
    quint32 result = 0;
    if (reply && reply->parent != reply->root && reply->parent != window)
        result = reply->parent;
    std::free(reply);
    return result;
}

std::optional<std::pair<quint32, QString>> classedWindow(xcb_connection_t *connection, quint32 window)
{
    for (int depth = 0; window != XCB_WINDOW_NONE && depth < maxTreeDepth; ++depth) {
        if (auto found = windowClass(connection, window))
            return std::make_pair(window, *found);
        window = parent(connection, window);
    }
    return std::nullopt;
}

quint32 selectionOwner(xcb_connection_t *connection, quint32 selection)
{
    xcb_generic_error_t *error = nullptr;
    xcb_get_selection_owner_reply_t *reply
        = xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, selection), &error);
    std::free(error);
    const quint32 owner = reply ? reply->owner : quint32(XCB_WINDOW_NONE);
    std::free(reply);
    return owner;
}

bool sameClient(xcb_connection_t *connection, quint32 a, quint32 b)
{
    if (a == XCB_WINDOW_NONE || b == XCB_WINDOW_NONE)
        return false;
    // The server hands each client a distinct id base; the bits outside the mask name the client.
    const quint32 mask = xcb_get_setup(connection)->resource_id_mask;
    return (a & ~mask) == (b & ~mask);
}

} // namespace Platform::X11::Xcb
