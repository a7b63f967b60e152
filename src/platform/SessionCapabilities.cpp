#include "platform/SessionCapabilities.h"

#include "platform/KeyEncodings.h"
#include "platform/KeyboardLayout.h"

#include <QTextStream>

namespace Platform {

namespace {

const QString dataControl = QStringLiteral("zwlr_data_control_manager_v1");
const QString virtualKeyboard = QStringLiteral("zwp_virtual_keyboard_manager_v1");
const QString foreignToplevel = QStringLiteral("zwlr_foreign_toplevel_manager_v1");
const QString statusNotifierWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString shortcutsPortal = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString remoteDesktopPortal = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
// GNOME's settings daemon runs the custom keyboard shortcuts while this name is owned.
const QString gnomeMediaKeys = QStringLiteral("org.gnome.SettingsDaemon.MediaKeys");
const QString kglobalaccel = QStringLiteral("org.kde.kglobalaccel");
const QString kwin = QStringLiteral("org.kde.KWin");
const QString fakeInput = QStringLiteral("org_kde_kwin_fake_input");

SeamChoice serve(Implementation implementation, const QString &reason)
{
    return {implementation, reason, std::nullopt};
}

SeamChoice cannotServe(const QString &reason, const QString &message, const QString &remedy)
{
    return {Implementation::None, reason, ServiceProblem {message, remedy}};
}

// The example's key, E, as the US layout types it: the notice is made before a layout is read.
class ExampleLayout final : public KeyboardLayout {
public:
    QString unshiftedCharacters(quint16 keyCode) const override
    {
        return keyCode == MacKeyCode::e ? QStringLiteral("e") : QString();
    }
};

// The remedy where the compositor's own configuration must bind the keys, in its syntax.
QString compositorConfigRemedy(Compositor compositor)
{
    const ExampleLayout layout;
    const QString example = compositorBindingLines(compositor,
        {{QStringLiteral("fix"), QStringLiteral("Tarnwick: Fix text"),
            QStringLiteral("tarnwick --trigger fix"), MacKeyCode::e,
            CarbonModifier::command | CarbonModifier::shift}},
        &layout);
    return QStringLiteral(
        "Add key bindings that run `tarnwick --trigger fix` and `tarnwick --trigger formal` "
        "to %1; Settings shows the lines for your shortcuts. For example: %2")
        .arg(compositor == Compositor::Unknown ? QStringLiteral("the compositor's configuration")
                                               : compositorConfigurationPlace(compositor),
            QString(example).replace(QLatin1Char('\n'), QLatin1String(" and ")));
}

void chooseX11(const SessionCapabilities &caps, PlatformChoice &choice)
{
    // Plasma's X11 session has kglobalaccel too; grabs still serve there: they report a refusal at
    // once and deliver the release, which runs the correction, and keys that kglobalaccel holds
    // are refused grabs, so a clash is shown all the same.
    choice.hotKeys = serve(Implementation::X11,
        caps.hasBusName(kglobalaccel) ? QStringLiteral(
            "X11 session: key grabs on the root window (kglobalaccel's keys are refused grabs)")
                                      : QStringLiteral("X11 session: key grabs on the root window"));
    choice.keystrokes = caps.xtest
        ? serve(Implementation::X11, QStringLiteral("the X server offers XTEST"))
        : cannotServe(QStringLiteral("the X server offers no XTEST extension"),
            QStringLiteral("Keystrokes are not permitted: the X server has no XTEST extension."),
            QStringLiteral("Enable the XTEST extension in the X server's configuration."));
    choice.clipboard = serve(Implementation::X11, QStringLiteral("X11 session: the CLIPBOARD selection"));
    choice.primarySelection
        = serve(Implementation::X11, QStringLiteral("X11 session: the PRIMARY selection"));
    choice.frontWindow = serve(Implementation::X11, QStringLiteral("X11 session: _NET_ACTIVE_WINDOW"));
    choice.panel = serve(Implementation::X11, QStringLiteral("X11 session: a tooltip window"));
}

void chooseWayland(const SessionCapabilities &caps, PlatformChoice &choice)
{
    if (caps.swaySocket) {
        choice.hotKeys = serve(Implementation::SwayIpc,
            QStringLiteral(
                "sway answers on its IPC socket: bindings are added at run time and reported back"));
    } else if (caps.hasBusName(kglobalaccel)) {
        // Plasma 5.27 also offers the portal, whose shortcuts the user must confirm first.
        choice.hotKeys = serve(Implementation::KGlobalAccel,
            kglobalaccel + QStringLiteral(" is on the session bus: shortcuts with press and release"));
    } else if (const quint32 version = caps.portalInterfaces.value(shortcutsPortal)) {
        choice.hotKeys = serve(Implementation::GlobalShortcutsPortal,
            QStringLiteral("the desktop portal offers GlobalShortcuts v%1").arg(version));
    } else if (caps.gnomeKeybindings && caps.hasBusName(gnomeMediaKeys)) {
        choice.hotKeys = {Implementation::GnomeCustomKeybindings,
            QStringLiteral(
                "no GlobalShortcuts portal; GNOME's settings daemon runs custom keyboard shortcuts"),
            caps.gnomeKeybindingsAdded ? std::optional<ServiceProblem>() : gnomeKeybindingsProblem()};
    } else {
        choice.hotKeys = {Implementation::CompositorConfig,
            QStringLiteral("the compositor offers programs no global shortcuts"),
            ServiceProblem {QStringLiteral("This compositor does not let programs add global shortcuts."),
                compositorConfigRemedy(caps.compositor)}};
    }

    if (caps.hasWaylandGlobal(virtualKeyboard)) {
        choice.keystrokes = serve(
            Implementation::VirtualKeyboard, QStringLiteral("the compositor offers ") + virtualKeyboard);
    } else if (caps.hasWaylandGlobal(fakeInput, 4)) {
        choice.keystrokes = serve(Implementation::KWinFakeInput,
            QStringLiteral("KWin grants ") + fakeInput + QStringLiteral(" to the installed program"));
    } else if (caps.hasBusName(kwin)) {
        // KWin offers fake input only to a program whose installed desktop entry asks for it.
        choice.keystrokes = cannotServe(QStringLiteral("KWin does not grant ") + fakeInput,
            QStringLiteral("Keystrokes are not permitted: KWin lets only an installed Tarnwick type."),
            QStringLiteral("Install Tarnwick (its desktop entry asks KWin for fake input) and start the "
                           "installed program, /usr/bin/tarnwick, not a copy from a build folder."));
    } else if (const quint32 version = caps.portalInterfaces.value(remoteDesktopPortal)) {
        choice.keystrokes = serve(Implementation::RemoteDesktopPortal,
            QStringLiteral("the desktop portal offers RemoteDesktop v%1: the user allows keystrokes %2")
                .arg(version)
                .arg(version >= 2 ? QStringLiteral("once") : QStringLiteral("once per start")));
    } else {
        // XTest through XWayland reaches only X11 windows, never the native ones.
        choice.keystrokes = cannotServe(QStringLiteral("no virtual keyboard protocol"),
            QStringLiteral("Keystrokes are not permitted: this compositor does not let programs type."),
            QStringLiteral("Use a compositor that offers zwp_virtual_keyboard_v1 (sway, Hyprland, river, "
                           "labwc, Wayfire)."));
    }

    if (caps.hasWaylandGlobal(dataControl)) {
        choice.clipboard
            = serve(Implementation::WlrDataControl, QStringLiteral("the compositor offers ") + dataControl);
    } else if (caps.x11Display) {
        choice.clipboard = serve(Implementation::X11,
            QStringLiteral("no data-control protocol; XWayland's clipboard is reachable without focus"));
    } else {
        choice.clipboard = cannotServe(QStringLiteral("no data-control protocol and no XWayland"),
            QStringLiteral("The clipboard cannot be read or written without focus on this compositor."),
            QStringLiteral("Enable XWayland, or use a compositor that offers zwlr_data_control_manager_v1."));
    }

    if (caps.hasWaylandGlobal(dataControl, 2)) {
        choice.primarySelection = serve(Implementation::WlrDataControl,
            QStringLiteral("the compositor offers ") + dataControl + QStringLiteral(" v2"));
    } else if (caps.x11Display) {
        choice.primarySelection = serve(Implementation::X11, QStringLiteral("XWayland's PRIMARY selection"));
    } else {
        choice.primarySelection = cannotServe(QStringLiteral("no primary selection reachable"),
            QStringLiteral("The primary selection cannot be read, so terminals are not corrected."),
            QStringLiteral("Enable XWayland, or use a compositor that offers data-control version 2."));
    }

    if (caps.hasWaylandGlobal(foreignToplevel)) {
        choice.frontWindow = serve(
            Implementation::ForeignToplevel, QStringLiteral("the compositor offers ") + foreignToplevel);
    } else if (caps.hasBusName(kwin)) {
        choice.frontWindow = serve(Implementation::KWinScript,
            kwin + QStringLiteral(" is on the session bus: a KWin script reports the active window"));
    } else if (caps.x11Display) {
        // _NET_ACTIVE_WINDOW names an XWayland window in front, and none while a native one is;
        // the settings window offers to treat those as terminals.
        choice.frontWindow = serve(Implementation::X11,
            QStringLiteral(
                "no foreign-toplevel protocol: XWayland names its own windows in front, not native "
                "ones (see \"Treat unrecognised windows as terminals\" in Settings)"));
    } else {
        choice.frontWindow
            = cannotServe(QStringLiteral("the compositor does not say which window is in front"),
                QStringLiteral(
                    "Terminals are not recognised: the compositor does not tell which window is in front."),
                QStringLiteral("In a terminal, select the text and copy it yourself before the shortcut."));
    }

    if (caps.x11Display) {
        choice.panel = serve(Implementation::XWaylandWindow,
            QStringLiteral("Qt 6.4 has no layer-shell; an XWayland tooltip window is never focused"));
    } else {
        choice.panel = cannotServe(QStringLiteral("no XWayland"),
            QStringLiteral(
                "The feedback panel cannot be shown without XWayland; the tray icon shows progress."),
            QStringLiteral("Enable XWayland in the compositor's configuration."));
    }
}

} // namespace

ServiceProblem gnomeKeybindingsProblem()
{
    return {QStringLiteral("GNOME does not let programs listen for global shortcuts."),
        QStringLiteral("Press \"Add to GNOME\" in Settings: GNOME then runs `tarnwick --trigger fix` and "
                       "`tarnwick --trigger formal` on your two shortcuts.")};
}

QList<QPair<QString, const SeamChoice *>> PlatformChoice::seams() const
{
    return {{QStringLiteral("hot keys"), &hotKeys}, {QStringLiteral("keystrokes"), &keystrokes},
        {QStringLiteral("clipboard"), &clipboard}, {QStringLiteral("primary selection"), &primarySelection},
        {QStringLiteral("front window"), &frontWindow}, {QStringLiteral("feedback panel"), &panel},
        {QStringLiteral("tray"), &tray}};
}

QString implementationName(Implementation implementation)
{
    switch (implementation) {
    case Implementation::None:
        return QStringLiteral("none");
    case Implementation::X11:
        return QStringLiteral("X11");
    case Implementation::SwayIpc:
        return QStringLiteral("sway IPC");
    case Implementation::CompositorConfig:
        return QStringLiteral("compositor configuration");
    case Implementation::VirtualKeyboard:
        return QStringLiteral("virtual keyboard");
    case Implementation::WlrDataControl:
        return QStringLiteral("wlr data-control");
    case Implementation::ForeignToplevel:
        return QStringLiteral("foreign toplevel");
    case Implementation::XWaylandWindow:
        return QStringLiteral("XWayland window");
    case Implementation::GlobalShortcutsPortal:
        return QStringLiteral("GlobalShortcuts portal");
    case Implementation::RemoteDesktopPortal:
        return QStringLiteral("RemoteDesktop portal");
    case Implementation::GnomeCustomKeybindings:
        return QStringLiteral("GNOME custom keybindings");
    case Implementation::KGlobalAccel:
        return QStringLiteral("kglobalaccel");
    case Implementation::KWinFakeInput:
        return QStringLiteral("KWin fake input");
    case Implementation::KWinScript:
        return QStringLiteral("KWin script");
    case Implementation::StatusNotifierItem:
        return QStringLiteral("StatusNotifierItem");
    case Implementation::XEmbedTray:
        return QStringLiteral("XEmbed tray");
    }
    return QStringLiteral("unknown");
}

Compositor probedCompositor(const SessionCapabilities &caps)
{
    if (caps.hasWaylandGlobal(QStringLiteral("zriver_control_v1"))
        || caps.hasWaylandGlobal(QStringLiteral("zriver_status_manager_v1")))
        return Compositor::River;
    if (caps.hasWaylandGlobal(QStringLiteral("zwf_shell_manager_v2")))
        return Compositor::Wayfire;
    if (caps.compositorVariables.contains(QLatin1String("LABWC_PID")))
        return Compositor::Labwc;
    if (caps.hyprctl || caps.compositorVariables.contains(QLatin1String("HYPRLAND_INSTANCE_SIGNATURE")))
        return Compositor::Hyprland;
    if (caps.swaySocket || caps.compositorVariables.contains(QLatin1String("SWAYSOCK")))
        return Compositor::Sway;
    return Compositor::Unknown;
}

PlatformChoice choosePlatform(const SessionCapabilities &caps)
{
    PlatformChoice choice;
    const QString noDisplay = QStringLiteral("no display");
    if (caps.waylandDisplay) {
        choice.sessionType = QStringLiteral("wayland");
        // Only an X11 window can be kept from taking focus and placed where we say (see panel).
        choice.guiPlatform = caps.x11Display ? QStringLiteral("xcb") : QStringLiteral("wayland");
        chooseWayland(caps, choice);
    } else if (caps.x11Display) {
        choice.sessionType = QStringLiteral("x11");
        choice.guiPlatform = QStringLiteral("xcb");
        chooseX11(caps, choice);
    } else {
        choice.sessionType = QStringLiteral("none");
        const std::optional<ServiceProblem> problem = ServiceProblem {
            QStringLiteral("There is no display: neither WAYLAND_DISPLAY nor DISPLAY accepted a connection."),
            QStringLiteral("Start Tarnwick inside a desktop session.")};
        for (SeamChoice *seam : {&choice.hotKeys, &choice.keystrokes, &choice.clipboard,
                 &choice.primarySelection, &choice.frontWindow, &choice.panel, &choice.tray})
            *seam = {Implementation::None, noDisplay, problem};
        return choice;
    }

    if (caps.hasBusName(statusNotifierWatcher)) {
        choice.tray = serve(Implementation::StatusNotifierItem,
            statusNotifierWatcher + QStringLiteral(" is on the session bus"));
    } else if (caps.x11Display && !caps.waylandDisplay) {
        choice.tray = serve(Implementation::XEmbedTray,
            QStringLiteral("no StatusNotifierWatcher; an X11 tray may embed the icon"));
    } else {
        choice.tray = cannotServe(QStringLiteral("no StatusNotifierWatcher on the session bus"),
            QStringLiteral("There is no system tray: the shortcuts work, the icon is not shown."),
            QStringLiteral("Run a panel with a tray (for example waybar with its tray module)."));
    }
    return choice;
}

QString diagnosisText(const SessionCapabilities &caps, const PlatformChoice &choice)
{
    QString text;
    QTextStream out(&text);
    const auto orNone
        = [](const QString &value) { return value.isEmpty() ? QStringLiteral("(unset)") : value; };
    out << "Session type: " << choice.sessionType << " (XDG_SESSION_TYPE=" << orNone(caps.sessionTypeVariable)
        << ", XDG_CURRENT_DESKTOP=" << orNone(caps.currentDesktop) << ")\n";
    out << "User interface: Qt platform "
        << (choice.guiPlatform.isEmpty() ? QStringLiteral("(Qt's default)") : choice.guiPlatform)
        << "\n\nCapabilities:\n";
    if (caps.x11Display)
        out << "  X11 display " << *caps.x11Display << ", XTEST " << (caps.xtest ? "yes" : "no") << "\n";
    else
        out << "  X11 display: none\n";
    if (caps.waylandDisplay) {
        out << "  Wayland display " << *caps.waylandDisplay << ", " << caps.waylandGlobals.size()
            << " globals:\n";
        for (auto it = caps.waylandGlobals.cbegin(); it != caps.waylandGlobals.cend(); ++it)
            out << "    " << it.key() << " v" << it.value() << "\n";
    } else {
        out << "  Wayland display: none\n";
    }
    if (!caps.sessionBus) {
        out << "  Session bus: none\n";
    } else {
        out << "  Session bus names: "
            << (caps.busNames.isEmpty() ? QStringLiteral("none of interest")
                                        : caps.busNames.join(QStringLiteral(", ")))
            << "\n";
        out << "  Portal interfaces:" << (caps.portalInterfaces.isEmpty() ? " none" : "") << "\n";
        for (auto it = caps.portalInterfaces.cbegin(); it != caps.portalInterfaces.cend(); ++it)
            out << "    " << it.key() << " v" << it.value() << "\n";
    }
    out << "  GNOME custom keybindings: "
        << (!caps.gnomeKeybindings              ? "not installed"
                   : caps.gnomeKeybindingsAdded ? "ours added"
                                                : "ours not added")
        << "\n";
    if (caps.swaySocket)
        out << "  sway IPC: " << *caps.swaySocket << " (sway " << caps.swayVersion << ")\n";
    else
        out << "  sway IPC: none\n";
    out << "  hyprctl: " << (caps.hyprctl ? "yes" : "no") << "\n";
    if (caps.waylandDisplay)
        out << "  Compositor: " << compositorName(caps.compositor) << " (variables: "
            << (caps.compositorVariables.isEmpty() ? QStringLiteral("none")
                                                   : caps.compositorVariables.join(QStringLiteral(", ")))
            << ")\n";
    out << "\nServices:\n";
    std::optional<ServiceProblem> previous;
    for (const auto &[name, seam] : choice.seams()) {
        out << "  " << name << ": " << implementationName(seam->implementation) << " (" << seam->reason
            << ")\n";
        // One cause often stops several seams: it is said once.
        if (seam->problem && seam->problem != previous)
            out << "    problem: " << seam->problem->message << "\n    to do: " << seam->problem->remedy
                << "\n";
        previous = seam->problem;
    }
    return text;
}

} // namespace Platform
