#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

struct xcb_connection_t;

// The X connection of the X11 services and small queries on it. Every query consumes its own
// errors (a window can vanish at any moment), so none reaches Qt's event queue.
namespace Platform::X11::Xcb {

// Qt's own connection to the X server, or nothing when the application does not run on xcb. The
// one connection every X11 service uses.
xcb_connection_t *qtConnection();

// Whether `connection` is usable and the server offers the XTEST extension, which synthetic
// keystrokes need.
bool hasXTest(xcb_connection_t *connection);

// The atom named `name`, interned (created if need be); 0 on failure.
quint32 atom(xcb_connection_t *connection, const char *name);

// The class part of the window's WM_CLASS, or nothing when it has none or is gone.
std::optional<QString> windowClass(xcb_connection_t *connection, quint32 window);

// The parent of `window`; 0 for a root window, or when the window is gone.
quint32 parent(xcb_connection_t *connection, quint32 window);

// `window` or its nearest ancestor that carries WM_CLASS, with that class; nothing when neither
// it nor any ancestor up to the root has one.
std::optional<std::pair<quint32, QString>> classedWindow(xcb_connection_t *connection, quint32 window);

// The window that owns the selection `selection`, 0 when nobody does.
quint32 selectionOwner(xcb_connection_t *connection, quint32 selection);

// Whether `a` and `b` were created by the same X client, the one that owns a window's id range.
bool sameClient(xcb_connection_t *connection, quint32 a, quint32 b);

// Parses a WM_CLASS value (instance NUL class NUL) and answers the class part; empty when the
// value holds no class part.
QString classFromWmClass(const QByteArray &value);

} // namespace Platform::X11::Xcb
