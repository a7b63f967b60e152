// The choice of one implementation per seam from what the session offers.
#include "platform/SessionCapabilities.h"
#include "platform/wayland/SwayHotKeyService.h"
#include "platform/wayland/WaylandSessionProbe.h"

#include <QTest>

using Platform::Implementation;

namespace {

// A session described in words: "x11" (a display), "xtest", "wayland", "sway", "hyprctl",
// "<interface>=<version>" (a Wayland global), "bus:<name>" (an owned session-bus name),
// "portal:<Interface>=<version>" (a portal interface), "gnome-keys" (GNOME's custom keybinding
// settings), "gnome-keys-added" (ours among them), "var:<NAME>" (a compositor's variable).
Platform::SessionCapabilities session(const QString &description)
{
    Platform::SessionCapabilities caps;
    for (const QString &word : description.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (word == QLatin1String("x11"))
            caps.x11Display = QStringLiteral(":1");
        else if (word == QLatin1String("xtest"))
            caps.xtest = true;
        else if (word == QLatin1String("wayland"))
            caps.waylandDisplay = QStringLiteral("wayland-1");
        else if (word == QLatin1String("sway"))
            caps.swaySocket = QStringLiteral("/run/sway-ipc.sock");
        else if (word == QLatin1String("hyprctl"))
            caps.hyprctl = true;
        else if (word.startsWith(QLatin1String("var:")))
            caps.compositorVariables.append(word.mid(4));
        else if (word.startsWith(QLatin1String("bus:")))
            caps.busNames.append(word.mid(4));
        else if (word.startsWith(QLatin1String("portal:")))
            caps.portalInterfaces.insert(
                QStringLiteral("org.freedesktop.portal.") + word.mid(7).section(QLatin1Char('='), 0, 0),
                word.section(QLatin1Char('='), 1).toUInt());
        else if (word.startsWith(QLatin1String("gnome-keys")))
            (word.endsWith(QLatin1String("added")) ? caps.gnomeKeybindingsAdded : caps.gnomeKeybindings)
                = true;
        else if (word.contains(QLatin1Char('=')))
            caps.waylandGlobals.insert(
                word.section(QLatin1Char('='), 0, 0), word.section(QLatin1Char('='), 1).toUInt());
    }
    caps.compositor = Platform::probedCompositor(caps);
    return caps;
}

// The choice in words: session, Qt platform, then each seam's implementation (with "!" when it
// reports a problem).
QString summary(const Platform::PlatformChoice &choice)
{
    QStringList words {
        choice.sessionType, choice.guiPlatform.isEmpty() ? QStringLiteral("-") : choice.guiPlatform};
    for (const auto &[name, seam] : choice.seams())
        words << Platform::implementationName(seam->implementation)
                + (seam->problem ? QStringLiteral("!") : QString());
    return words.join(QLatin1String(" | "));
}

} // namespace

class TestPlatformChoice : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void choice_data()
    {
        QTest::addColumn<QString>("offered");
        // session | Qt | hot keys | keystrokes | clipboard | primary | front window | panel | tray
        QTest::addColumn<QString>("chosen");
        QTest::newRow("nothing") << QString()
                                 << "none | - | none! | none! | none! | none! | none! | none! | none!";
        QTest::newRow("X11 keeps today's code")
            << "x11 xtest"
            << "x11 | xcb | X11 | X11 | X11 | X11 | X11 | X11 | XEmbed tray";
        QTest::newRow("X11 without XTEST, tray by D-Bus")
            << "x11 bus:org.kde.StatusNotifierWatcher"
            << "x11 | xcb | X11 | none! | X11 | X11 | X11 | X11 | StatusNotifierItem";
        QTest::newRow("wlroots without sway, with XWayland")
            << "wayland x11 xtest zwp_virtual_keyboard_manager_v1=1"
            << "wayland | xcb | compositor configuration! | virtual keyboard | X11 | X11 | X11 | XWayland "
               "window | none!";
        QTest::newRow("sway with everything")
            << "wayland x11 sway zwp_virtual_keyboard_manager_v1=1 zwlr_data_control_manager_v1=2 "
               "zwlr_foreign_toplevel_manager_v1=3 bus:org.kde.StatusNotifierWatcher"
            << "wayland | xcb | sway IPC | virtual keyboard | wlr data-control | wlr data-control | foreign "
               "toplevel "
               "| XWayland window | StatusNotifierItem";
        QTest::newRow("old data-control: primary selection through XWayland")
            << "wayland x11 zwlr_data_control_manager_v1=1"
            << "wayland | xcb | compositor configuration! | none! | wlr data-control | X11 | X11 | "
               "XWayland window | none!";
        QTest::newRow("GNOME 43: keybindings to add, keystrokes by the portal")
            << "wayland x11 xtest portal:RemoteDesktop=1 bus:org.gnome.SettingsDaemon.MediaKeys gnome-keys"
            << "wayland | xcb | GNOME custom keybindings! | RemoteDesktop portal | X11 | X11 | X11 | "
               "XWayland "
               "window | none!";
        QTest::newRow("GNOME 43, keybindings added")
            << "wayland x11 portal:RemoteDesktop=1 bus:org.gnome.SettingsDaemon.MediaKeys gnome-keys "
               "gnome-keys-added"
            << "wayland | xcb | GNOME custom keybindings | RemoteDesktop portal | X11 | X11 | X11 | XWayland "
               "window | none!";
        QTest::newRow("GNOME 48: shortcuts by the portal, before keybindings")
            << "wayland x11 portal:GlobalShortcuts=1 portal:RemoteDesktop=2 "
               "bus:org.gnome.SettingsDaemon.MediaKeys "
               "gnome-keys"
            << "wayland | xcb | GlobalShortcuts portal | RemoteDesktop portal | X11 | X11 | X11 | XWayland "
               "window | none!";
        QTest::newRow("Plasma on Wayland, installed")
            << "wayland bus:org.kde.KWin bus:org.kde.kglobalaccel org_kde_kwin_fake_input=4 "
               "zwlr_data_control_manager_v1=2 bus:org.kde.StatusNotifierWatcher portal:GlobalShortcuts=1"
            << "wayland | wayland | kglobalaccel | KWin fake input | wlr data-control | wlr data-control | "
               "KWin script | none! | StatusNotifierItem";
        QTest::newRow("Plasma on Wayland, run from a build folder: no fake input")
            << "wayland bus:org.kde.KWin bus:org.kde.kglobalaccel zwlr_data_control_manager_v1=2"
            << "wayland | wayland | kglobalaccel | none! | wlr data-control | wlr data-control | KWin script "
               "| "
               "none! | none!";
        QTest::newRow("KWin without kglobalaccel: shortcuts by the portal")
            << "wayland bus:org.kde.KWin portal:GlobalShortcuts=1 zwlr_data_control_manager_v1=2"
            << "wayland | wayland | GlobalShortcuts portal | none! | wlr data-control | wlr data-control | "
               "KWin script | none! | none!";
        QTest::newRow("Plasma on X11 keeps the grabs")
            << "x11 xtest bus:org.kde.KWin bus:org.kde.kglobalaccel"
            << "x11 | xcb | X11 | X11 | X11 | X11 | X11 | X11 | XEmbed tray";
        QTest::newRow("Wayland alone")
            << "wayland sway zwlr_data_control_manager_v1=2"
            << "wayland | wayland | sway IPC | none! | wlr data-control | wlr data-control | none! "
               "| none! | none!";
    }
    void choice()
    {
        QFETCH(QString, offered);
        QFETCH(QString, chosen);
        const Platform::PlatformChoice choice = Platform::choosePlatform(session(offered));
        QCOMPARE(summary(choice), chosen);
        for (const auto &[name, seam] : choice.seams())
            QVERIFY2(!seam->reason.isEmpty(), qPrintable(name));
        // The report names every seam's implementation with its reason.
        const QString report = Platform::diagnosisText(session(offered), choice);
        for (const auto &[name, seam] : choice.seams())
            QVERIFY(report.contains(name + QLatin1String(": ")
                + Platform::implementationName(seam->implementation) + QLatin1String(" (") + seam->reason
                + QLatin1Char(')')));
    }

    // Which compositor, for the syntax of the lines that bind the keys in its configuration: the
    // hot keys' remedy names its file and gives an example in its syntax, --diagnose names it.
    void compositor_data()
    {
        QTest::addColumn<QString>("offered");
        QTest::addColumn<QString>("compositor");
        QTest::addColumn<QString>("remedy"); // a part of the hot keys' remedy; empty: none
        const auto row
            = [](const char *name, const char *offered, const char *compositor, const char *remedy) {
                  QTest::newRow(name) << QString::fromUtf8(offered) << QString::fromUtf8(compositor)
                                      << QString::fromUtf8(remedy);
              };
        row("nothing tells: sway's syntax", "wayland", "unknown",
            "to the compositor's configuration; Settings shows the lines for your shortcuts. For example: "
            "bindcode --release Ctrl+Shift+26 exec tarnwick --trigger fix");
        row("sway without its IPC", "wayland var:SWAYSOCK", "sway", "to ~/.config/sway/config;");
        row("sway binds the keys itself", "wayland sway", "sway", "");
        row("Hyprland", "wayland var:HYPRLAND_INSTANCE_SIGNATURE", "Hyprland",
            "example: bindr = CTRL SHIFT, E");
        row("river's globals before a variable from a sway outside",
            "wayland zriver_status_manager_v1=4 var:SWAYSOCK", "river", "example: riverctl map -release");
        row("Wayfire", "wayland zwf_shell_manager_v2=1", "Wayfire", "KEY_E and command_tarnwick_fix = ");
        row("labwc started from Hyprland", "wayland var:HYPRLAND_INSTANCE_SIGNATURE var:LABWC_PID", "labwc",
            "to ~/.config/labwc/rc.xml, inside <keyboard>; Settings shows the lines for your shortcuts. For "
            "example: <keybind key=\"C-S-e\" onRelease=\"yes\">");
    }
    void compositor()
    {
        QFETCH(QString, offered);
        QFETCH(QString, compositor);
        QFETCH(QString, remedy);
        const Platform::SessionCapabilities caps = session(offered);
        QCOMPARE(Platform::compositorName(caps.compositor), compositor);
        const Platform::PlatformChoice choice = Platform::choosePlatform(caps);
        const QString said = choice.hotKeys.problem ? choice.hotKeys.problem->remedy : QString();
        QVERIFY2(remedy.isEmpty() ? said.isEmpty() : said.contains(remedy), qPrintable(said));
        QVERIFY(Platform::diagnosisText(caps, choice).contains(QLatin1String("Compositor: ") + compositor));
    }

    // The variables count as set; LABWC_PID only while it names a running labwc.
    void compositorVariables()
    {
        Platform::SessionCapabilities caps;
        caps.waylandDisplay = QStringLiteral("wayland-1");
        qunsetenv("SWAYSOCK");
        qputenv("HYPRLAND_INSTANCE_SIGNATURE", "abc");
        qputenv("LABWC_PID", QByteArray::number(QCoreApplication::applicationPid()));
        Platform::Wayland::probeCompositor(caps);
        qunsetenv("HYPRLAND_INSTANCE_SIGNATURE");
        qunsetenv("LABWC_PID");
        QCOMPARE(caps.compositorVariables, QStringList {QStringLiteral("HYPRLAND_INSTANCE_SIGNATURE")});
        QCOMPARE(caps.compositor, Platform::Compositor::Hyprland);
    }

    // The user's own sway bindings, however written, in the spelling our bindings use: a shortcut
    // that one of them binds is left to it.
    void swayConfigurationBindings()
    {
        const QString config = QStringLiteral("set $mod Mod4\nset $modifier Ctrl\n"
                                              "bindsym $modifier+Shift+e exec foo\n"
                                              "  bindsym --release --no-repeat Control+Alt+E exec bar\n"
                                              "bindcode $mod+26 nop\n"
                                              "bindsym $mod+NoSuchKey exec baz\n"
                                              "# bindsym Ctrl+q kill\n");
        using Platform::Wayland::SwayHotKeyService;
        QCOMPARE(SwayHotKeyService::configuredCombinations(config),
            (QSet<QString> {
                QStringLiteral("Shift+Ctrl+26"), QStringLiteral("Ctrl+Mod1+26"), QStringLiteral("Mod4+26")}));
        // E (macOS key code 14) with Command+Shift, Command+Option and Control: Ctrl, Mod1, Mod4.
        QCOMPARE(SwayHotKeyService::combination(14, 0x300), QStringLiteral("Shift+Ctrl+26"));
        QCOMPARE(SwayHotKeyService::combination(14, 0x900), QStringLiteral("Ctrl+Mod1+26"));
        QCOMPARE(SwayHotKeyService::combination(14, 0x1000), QStringLiteral("Mod4+26"));
        QCOMPARE(SwayHotKeyService::combination(14, 0x20000), std::nullopt); // Function: no counterpart
    }
};

QTEST_GUILESS_MAIN(TestPlatformChoice)
#include "tst_platformchoice.moc"
