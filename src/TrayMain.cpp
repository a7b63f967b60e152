// The composition root of the tray application: the only place that names the platform's
// implementations. It probes the session, chooses one implementation per seam and builds them.
#include "TrayMain.h"

#include "SessionProbe.h"

#include "app/AppConfig.h"
#include "app/CommandChannel.h"
#include "app/LocalBackend.h"
#include "app/SingleInstance.h"
#include "app/TarnwickApp.h"
#include "app/GlobalShortcut.h"
#include "hotkeys/Hotkeys.h"
#include "hotkeys/MenuTracking.h"
#include "hotkeys/Shortcut.h"
#include "platform/kde/FakeInputKeystrokePoster.h"
#include "platform/kde/KGlobalAccelHotKeyService.h"
#include "platform/kde/KWinFrontWindow.h"
#include "platform/qt/NotificationCenter.h"
#include "platform/qt/QtClock.h"
#include "platform/qt/Notices.h"
#include "platform/qt/SettingsUserDefaults.h"
#include "platform/qt/Installation.h"
#include "platform/Unavailable.h"
#include "platform/gnome/GnomeCustomKeybindings.h"
#include "platform/portal/PortalGlobalShortcuts.h"
#include "platform/portal/PortalKeystrokePoster.h"
#include "platform/wayland/DataControl.h"
#include "platform/wayland/ForeignToplevels.h"
#include "platform/wayland/SeatKeymap.h"
#include "platform/wayland/SwayHotKeyService.h"
#include "platform/wayland/VirtualKeyboard.h"
#include "platform/wayland/WaylandConnection.h"
#include "platform/wayland/WaylandSelections.h"
#include "platform/x11/FreedesktopNotifier.h"
#include "platform/x11/X11AccessibilityTrust.h"
#include "platform/x11/X11FrontWindow.h"
#include "platform/x11/X11HotKeyService.h"
#include "platform/x11/X11KeyEventTranslator.h"
#include "platform/x11/X11KeystrokePoster.h"
#include "platform/x11/X11Pasteboard.h"
#include "platform/x11/X11PrimarySelection.h"
#include "platform/x11/X11Screens.h"
#include "platform/x11/X11SystemShortcuts.h"
#include "platform/x11/XkbKeyboardLayout.h"

#include <QApplication>
#include <QDBusConnection>
#include <QKeySequence>
#include <QLibraryInfo>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QSocketNotifier>
#include <QTranslator>

#include <csignal>
#include <cstdio>

#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalSocket[2] = {-1, -1};

void onQuitSignal(int)
{
    const char byte = 1;
    // Only async-signal-safe work here: the event loop reads the byte and quits.
    if (::write(signalSocket[1], &byte, 1) < 0) { }
}

// A logout (SIGHUP, SIGTERM) or Ctrl+C in the starting terminal ends the event loop the normal
// way, so that a run in progress gives the user's clipboard back and the hot keys are let go.
void quitOnSignals(QApplication &app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalSocket) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalSocket[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [] {
        char byte = 0;
        if (::read(signalSocket[0], &byte, 1) < 0) { }
        QApplication::quit();
    });
    struct sigaction action { };
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

// What cannot work on this session and what to do about it: said once on stderr, and kept among
// the notices that the tray and the settings window show.
void reportProblems(const Platform::PlatformChoice &choice, Platform::Notices &notices)
{
    QList<Platform::ServiceProblem> said;
    for (const auto &[name, seam] : choice.seams()) {
        if (!seam->problem || said.contains(*seam->problem))
            continue;
        said.append(*seam->problem);
        std::fprintf(stderr, "tarnwick: %s %s\n", qPrintable(seam->problem->message),
            qPrintable(seam->problem->remedy));
        notices.set({QStringLiteral("platform/") + name, seam->problem->message, seam->problem->remedy});
    }
}

using Platform::Implementation;

// How the shortcuts reach us, for the settings window.
QString shortcutsWay(Implementation implementation)
{
    switch (implementation) {
    case Implementation::GlobalShortcutsPortal:
        return QStringLiteral("The desktop's global shortcuts portal delivers the shortcuts.");
    case Implementation::KGlobalAccel:
        return QStringLiteral(
            "KDE's global shortcuts deliver the shortcuts; Plasma's shortcut settings list them.");
    case Implementation::GnomeCustomKeybindings:
        return QStringLiteral("GNOME runs the shortcuts as its own custom shortcuts, once added below.");
    case Implementation::SwayIpc:
        return QStringLiteral("sway binds the shortcuts for Tarnwick.");
    case Implementation::CompositorConfig:
        return QStringLiteral("The compositor's configuration must bind the shortcuts.");
    default:
        return {};
    }
}

// KDE stores a shortcut as a Qt key combination of the key the layout types there.
std::optional<int> kdeKeyCombination(quint32 carbonKeyCode, quint32 carbonModifiers)
{
    const std::optional<QKeySequence> sequence
        = Hotkeys::Shortcut(carbonKeyCode, carbonModifiers).toKeySequence();
    return sequence ? std::optional<int>((*sequence)[0].toCombined()) : std::nullopt;
}

// The two shortcuts as Plasma's shortcut settings name them, with their stored keys.
QList<Platform::Kde::NamedShortcut> kdeNamedShortcuts()
{
    QList<Platform::Kde::NamedShortcut> named;
    for (const auto &[name, title] : {std::pair(&Hotkeys::fixSelectedText(), Hotkeys::fixSelectedTextTitle()),
             std::pair(&Hotkeys::formalizeSelectedText(), Hotkeys::formalizeSelectedTextTitle())}) {
        std::optional<std::pair<quint32, quint32>> keys;
        if (const std::optional<Hotkeys::Shortcut> shortcut = Hotkeys::getShortcut(*name))
            keys = std::pair(quint32(shortcut->carbonKeyCode()), quint32(shortcut->carbonModifiers()));
        named.append({name->rawValue(), title, keys});
    }
    return named;
}

// The services of the seams, built from the choice; pointers into what it owns.
struct PlatformServices {
    std::vector<std::shared_ptr<void>> owned; // destroyed in reverse order of building
    Platform::HotKeyService *hotKeys = nullptr;
    Platform::SystemShortcuts *systemShortcuts = nullptr;
    Platform::KeystrokePoster *keystrokes = nullptr;
    Platform::AccessibilityTrust *trust = nullptr;
    Platform::Pasteboard *pasteboard = nullptr;
    Platform::PrimarySelection *primarySelection = nullptr;
    Platform::FrontWindow *frontWindow = nullptr;
    Platform::CommandShortcuts *commandShortcuts = nullptr;
    Platform::Wayland::WaylandConnection *wayland = nullptr;
    Platform::Wayland::SeatKeymap *seatKeymap = nullptr;
    Platform::Kde::KGlobalAccelHotKeyService *kglobalaccel = nullptr;
    // The shortcut names register their hot keys while they are being made: until they exist,
    // kglobalaccel's actions go by the hot keys' ids.
    bool shortcutNamesMade = false;

    template <typename T, typename... Args> T *make(Args &&...args)
    {
        auto object = std::make_shared<T>(std::forward<Args>(args)...);
        owned.push_back(object);
        return object.get();
    }
    ~PlatformServices()
    {
        while (!owned.empty())
            owned.pop_back();
    }
};

void buildServices(PlatformServices &services, const Platform::PlatformChoice &choice,
    const Platform::SessionCapabilities &capabilities, Platform::Clock &clock,
    Platform::UserDefaults &defaults, Platform::Notices &notices)
{
    Platform::Wayland::WaylandConnection *wayland = nullptr;
    if (choice.sessionType == QLatin1String("wayland")) {
        wayland = services.wayland = services.make<Platform::Wayland::WaylandConnection>();
        // KDE's shortcuts and fake input go by the keys of the seat's keymap.
        // So do the configuration lines for the compositor, where no X11 layout is read.
        if (choice.hotKeys.implementation == Implementation::KGlobalAccel
            || choice.keystrokes.implementation == Implementation::KWinFakeInput
            || choice.hotKeys.implementation == Implementation::CompositorConfig)
            services.seatKeymap = services.make<Platform::Wayland::SeatKeymap>(*wayland);
    }

    auto *x11HotKeys = services.make<Platform::X11::X11HotKeyService>();
    services.hotKeys = x11HotKeys;
    services.systemShortcuts = services.make<Platform::X11::X11SystemShortcuts>(*x11HotKeys);
    if (choice.hotKeys.implementation == Implementation::SwayIpc) {
        auto *sway = services.make<Platform::Wayland::SwayHotKeyService>(*capabilities.swaySocket);
        services.hotKeys = sway;
        services.systemShortcuts = sway;
    } else if (choice.hotKeys.implementation == Implementation::GlobalShortcutsPortal) {
        services.hotKeys
            = services.make<Platform::Portal::PortalGlobalShortcuts>(QDBusConnection::sessionBus());
    } else if (choice.hotKeys.implementation == Implementation::KGlobalAccel) {
        auto *kde = services.kglobalaccel = services.make<Platform::Kde::KGlobalAccelHotKeyService>(
            QDBusConnection::sessionBus(), kdeKeyCombination, [&services] {
                return services.shortcutNamesMade ? kdeNamedShortcuts()
                                                  : QList<Platform::Kde::NamedShortcut>();
            });
        services.hotKeys = kde;
        services.systemShortcuts = kde;
        // Plasma's shortcut settings list a recorded shortcut under its name once it is stored.
        services.owned.push_back(std::shared_ptr<Platform::NotificationCenter::Token>(
            Platform::NotificationCenter::defaultCenter().addObserver(
                Hotkeys::shortcutByNameDidChange(), [kde](const Platform::NotificationCenter::UserInfo &) {
                    QMetaObject::invokeMethod(
                        kde, [kde] { kde->refreshActionNames(); }, Qt::QueuedConnection);
                })));
    } else if (choice.hotKeys.implementation != Implementation::X11) {
        services.hotKeys = services.make<Platform::UnavailableHotKeys>();
    }
    if (choice.hotKeys.implementation == Implementation::GnomeCustomKeybindings)
        services.commandShortcuts = services.make<Platform::Gnome::GnomeCustomKeybindings>();

    if (choice.keystrokes.implementation == Implementation::VirtualKeyboard) {
        auto *keyboard = services.make<Platform::Wayland::VirtualKeyboard>(
            *wayland, Platform::X11::X11AccessibilityTrust::helpPagePath());
        services.keystrokes = keyboard;
        services.trust = keyboard;
    } else if (choice.keystrokes.implementation == Implementation::RemoteDesktopPortal) {
        auto *portal = services.make<Platform::Portal::PortalKeystrokePoster>(clock, defaults, notices,
            capabilities.portalInterfaces.value(QStringLiteral("org.freedesktop.portal.RemoteDesktop")),
            QDBusConnection::sessionBus());
        // Allowed before: asked again at once (version 1 shows its dialog now, version 2 none).
        if (portal->wasAllowedBefore())
            portal->start();
        services.keystrokes = portal;
        services.trust = portal;
    } else if (choice.keystrokes.implementation == Implementation::KWinFakeInput) {
        auto *fakeInput = services.make<Platform::Kde::FakeInputKeystrokePoster>(
            *wayland, *services.seatKeymap, Platform::X11::X11AccessibilityTrust::helpPagePath());
        services.keystrokes = fakeInput;
        services.trust = fakeInput;
    } else if (choice.keystrokes.implementation == Implementation::X11) {
        services.keystrokes = services.make<Platform::X11::X11KeystrokePoster>(clock);
        services.trust = services.make<Platform::X11::X11AccessibilityTrust>();
    } else {
        auto *none = services.make<Platform::UnavailableKeystrokes>(
            Platform::X11::X11AccessibilityTrust::helpPagePath());
        services.keystrokes = none;
        services.trust = none;
    }

    Platform::Wayland::ForeignToplevels *toplevels = nullptr;
    if (choice.frontWindow.implementation == Implementation::ForeignToplevel) {
        toplevels = services.make<Platform::Wayland::ForeignToplevels>(*wayland);
        services.frontWindow = toplevels;
    } else if (choice.frontWindow.implementation == Implementation::KWinScript) {
        services.frontWindow = services.make<Platform::Kde::KWinFrontWindow>(QDBusConnection::sessionBus());
    } else if (choice.frontWindow.implementation == Implementation::X11) {
        services.frontWindow = services.make<Platform::X11::X11FrontWindow>();
    }

    Platform::Wayland::DataControl *dataControl = nullptr;
    if (choice.clipboard.implementation == Implementation::WlrDataControl
        || choice.primarySelection.implementation == Implementation::WlrDataControl)
        dataControl = services.make<Platform::Wayland::DataControl>(*wayland);
    if (choice.clipboard.implementation == Implementation::WlrDataControl)
        services.pasteboard = services.make<Platform::Wayland::DataControlPasteboard>(*dataControl);
    else
        services.pasteboard = services.make<Platform::X11::X11Pasteboard>();
    if (choice.primarySelection.implementation == Implementation::WlrDataControl)
        services.primarySelection
            = services.make<Platform::Wayland::DataControlPrimarySelection>(*dataControl, toplevels);
    else if (choice.primarySelection.implementation == Implementation::X11)
        services.primarySelection = services.make<Platform::X11::X11PrimarySelection>();
}

} // namespace

int runTrayApplication(int &argc, char **argv)
{
    Platform::SessionCapabilities capabilities;
    probeDisplays(capabilities);
    // The platform plugin is chosen before Qt starts; a user's own choice stands.
    const QString guiPlatform = Platform::choosePlatform(capabilities).guiPlatform;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !guiPlatform.isEmpty())
        qputenv("QT_QPA_PLATFORM", guiPlatform.toUtf8());

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tarnwick"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tarnwick"));
    QApplication::setDesktopFileName(Platform::Installation::appId());
    // Qt's own texts, the names of keys and modifiers among them, in the desktop's language.
    QTranslator qtTranslations;
    if (qtTranslations.load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
            QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtTranslations);
    // Closing the settings window must not end the program: only the menu's Quit does.
    QApplication::setQuitOnLastWindowClosed(false);
    quitOnSignals(app);

    CommandChannel commands;
    SingleInstance instance;
    if (!instance.acquire(commands))
        return 1;

    probeSessionBus(capabilities);
    const Platform::PlatformChoice choice = Platform::choosePlatform(capabilities);

    Platform::QtClock clock;
    Platform::Notices notices;
    reportProblems(choice, notices);
    // First: the backend takes longest to come up, and comes up while the rest starts.
    LocalBackend backend(AppConfig::backendURL(), LocalBackend::bundledProgram(), clock, notices);
    backend.start();
    Platform::SettingsUserDefaults userDefaults;
    PlatformServices services;
    buildServices(services, choice, capabilities, clock, userDefaults, notices);
    if (services.wayland) {
        // A protocol error (a protocol refused to us) or a compositor restart ends our connection,
        // and with it the protocols; it may have happened while the services were being built.
        const auto lost = [&notices] {
            notices.set({QStringLiteral("platform/wayland"),
                QStringLiteral("The connection to the Wayland compositor was lost: the clipboard, keystrokes "
                               "and the window in front no longer work."),
                QStringLiteral("Quit Tarnwick and start it again.")});
        };
        QObject::connect(services.wayland, &Platform::Wayland::WaylandConnection::failed, &app, lost);
        if (!services.wayland->isConnected())
            lost();
    }
    // An open menu grabs the keyboard: the shortcuts are then read from our own key events.
    const Platform::X11::X11KeyEventTranslator keyEventTranslator;
    // Shortcuts are shown with the characters of the user's layout where it has them.
    const std::unique_ptr<Platform::X11::XkbKeyboardLayout> keyboardLayout
        = Platform::X11::XkbKeyboardLayout::create();
    // Without X11 (Plasma's Wayland session alone), the seat's keymap names the keys.
    const Platform::KeyboardLayout *layout = keyboardLayout
        ? static_cast<const Platform::KeyboardLayout *>(keyboardLayout.get())
        : services.seatKeymap;
    Hotkeys::useServices(
        {&userDefaults, services.hotKeys, services.systemShortcuts, &keyEventTranslator, layout});
    Hotkeys::trackAllMenus();

    Platform::X11::X11Screens screens;
    QNetworkAccessManager session;
    Platform::X11::FreedesktopNotifier notifier(QStringLiteral("Tarnwick"));

    int status = 0;
    {
        AppContext::Services appServices {clock, *services.pasteboard, *services.keystrokes, *services.trust,
            userDefaults, screens, session, notices, services.frontWindow, services.primarySelection,
            &notifier};
        appServices.feedbackPanel = choice.panel.implementation != Implementation::None;
        appServices.shortcutsWay = shortcutsWay(choice.hotKeys.implementation);
        appServices.commandShortcuts = services.commandShortcuts;
        if (choice.hotKeys.implementation == Implementation::CompositorConfig)
            appServices.compositorConfig = capabilities.compositor;
        appServices.keyboardLayout = layout;
        // XWayland names only its own windows in front.
        appServices.frontWindowKnown = choice.sessionType != QLatin1String("wayland")
            || choice.frontWindow.implementation != Implementation::X11;
        TarnwickApp tarnwick(appServices);
        services.shortcutNamesMade = true;
        if (services.kglobalaccel)
            services.kglobalaccel->refreshActionNames();
        tarnwick.show();
        commands.setHandlers(tarnwick.commandHandlers());
        status = QApplication::exec();
        // The shortcut tables are process-wide: let go of the hot keys while the services exist.
        Hotkeys::removeAllHandlers();
    }
    Hotkeys::useServices({});
    return status;
}
