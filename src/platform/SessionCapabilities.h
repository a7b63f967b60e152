#pragma once

#include "platform/CompositorBindings.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <optional>

namespace Platform {

// What the desktop session offers, as found by the probes at start. Each probe fills its own
// fields and leaves the others alone; a field nobody probed keeps its "absent" value. The choice
// of implementations is made from these facts alone, never from the desktop's name.
struct SessionCapabilities {
    // The environment as the session set it; shown by --diagnose, never used to choose.
    QString sessionTypeVariable; // XDG_SESSION_TYPE
    QString currentDesktop; // XDG_CURRENT_DESKTOP

    // X11 (also XWayland): a display that accepted a connection, and whether it offers XTEST.
    std::optional<QString> x11Display;
    bool xtest = false;

    // Wayland: a compositor that accepted a connection, and its globals (interface → version).
    std::optional<QString> waylandDisplay;
    QMap<QString, quint32> waylandGlobals;

    // The session bus: the well-known names of interest that are owned now, and the portal
    // interfaces that org.freedesktop.portal.Desktop offers (interface → version).
    bool sessionBus = false;
    QStringList busNames;
    QMap<QString, quint32> portalInterfaces;

    // GNOME's custom keyboard shortcuts: their settings schema is installed, and whether ours are
    // among them now.
    bool gnomeKeybindings = false;
    bool gnomeKeybindingsAdded = false;

    // sway's IPC socket, when one answered get_version, and the version it gave.
    std::optional<QString> swaySocket;
    QString swayVersion;
    // Hyprland: the instance signature of the running compositor and `hyprctl` on PATH.
    bool hyprctl = false;
    // The variables that wlroots compositors set for the programs they start, of those set here
    // (SWAYSOCK, HYPRLAND_INSTANCE_SIGNATURE, and LABWC_PID while it names a running labwc).
    QStringList compositorVariables;
    // Which one the compositor is, by probedCompositor(), for the syntax of its configuration.
    Compositor compositor = Compositor::Unknown;

    bool hasWaylandGlobal(const QString &interface, quint32 minimumVersion = 1) const
    {
        return waylandGlobals.value(interface, 0) >= minimumVersion;
    }
    bool hasBusName(const QString &name) const { return busNames.contains(name); }
};

// Why a platform service cannot serve, worded for the user: what is wrong and what to do.
struct ServiceProblem {
    QString message;
    QString remedy;
    bool operator==(const ServiceProblem &) const = default;
};

// The implementations that can serve a seam. Only the composition root turns these into objects.
enum class Implementation {
    None, // nothing on this session can serve it
    X11, // today's X11 code (xcb grabs, XTest, Qt's clipboard on xcb, EWMH, X11 windows)
    SwayIpc, // sway binds the keys at run time and reports them back
    CompositorConfig, // the user adds a binding running `tarnwick --trigger` to the configuration
    VirtualKeyboard, // zwp_virtual_keyboard_v1
    WlrDataControl, // zwlr_data_control_manager_v1
    ForeignToplevel, // zwlr_foreign_toplevel_manager_v1
    XWaylandWindow, // an X11 window through XWayland
    GlobalShortcutsPortal, // org.freedesktop.portal.GlobalShortcuts
    RemoteDesktopPortal, // org.freedesktop.portal.RemoteDesktop, keyboard only, after the user's consent
    GnomeCustomKeybindings, // GNOME's custom keyboard shortcuts running `tarnwick --trigger`
    KGlobalAccel, // KDE's global shortcut service, org.kde.kglobalaccel
    KWinFakeInput, // org_kde_kwin_fake_input, granted by the installed desktop entry
    KWinScript, // a KWin script that reports the active window over D-Bus
    StatusNotifierItem, // the tray icon as a D-Bus StatusNotifierItem
    XEmbedTray, // the tray icon in an X11 system tray
};

// One seam's implementation and the reason it was chosen; a problem when it cannot fully serve.
struct SeamChoice {
    Implementation implementation = Implementation::None;
    QString reason;
    std::optional<ServiceProblem> problem;
    bool operator==(const SeamChoice &) const = default;
};

// One implementation per seam, chosen by choosePlatform().
struct PlatformChoice {
    // The session type as the probes found it: "x11", "wayland" or "none".
    QString sessionType;
    // The Qt platform plugin the user interface runs on ("xcb", "wayland"), or empty for Qt's own
    // choice (no display at all).
    QString guiPlatform;
    SeamChoice hotKeys;
    SeamChoice keystrokes;
    SeamChoice clipboard;
    SeamChoice primarySelection;
    SeamChoice frontWindow;
    SeamChoice panel;
    SeamChoice tray;

    // The seams in the order --diagnose lists them, with their names.
    QList<QPair<QString, const SeamChoice *>> seams() const;
};

// The name of an implementation as --diagnose prints it.
QString implementationName(Implementation implementation);

// The notice while GNOME's custom keybindings serve the hot keys and ours are not added yet.
ServiceProblem gnomeKeybindingsProblem();

// The compositor from what it offers itself: its own Wayland globals first, since a variable may
// come from a compositor further out that started this one, then the variables it sets for its
// programs, then sway's IPC. Unknown when nothing tells. Pure.
Compositor probedCompositor(const SessionCapabilities &capabilities);

// Picks one implementation per seam from what the session offers. Pure: the same facts always
// give the same choice. A session without a Wayland display keeps the X11 code everywhere.
PlatformChoice choosePlatform(const SessionCapabilities &capabilities);

// The report of `tarnwick --diagnose`: the session type, every capability found, and which
// implementation serves each seam and why.
QString diagnosisText(const SessionCapabilities &capabilities, const PlatformChoice &choice);

} // namespace Platform
