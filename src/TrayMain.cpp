// The composition root of the tray application: the only place that names the X11 services.
#include "TrayMain.h"

#include "app/TarnwickApp.h"
#include "hotkeys/Hotkeys.h"
#include "hotkeys/MenuTracking.h"
#include "hotkeys/Shortcut.h"
#include "hotkeys/SystemHotkeys.h"
#include "platform/Clock.h"
#include "platform/Notices.h"
#include "platform/SettingsUserDefaults.h"
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
#include <QDir>
#include <QLockFile>
#include <QNetworkAccessManager>
#include <QSocketNotifier>
#include <QStandardPaths>

#include <csignal>
#include <cstdio>

#include <sys/socket.h>
#include <unistd.h>

namespace {

// One instance per user and display: a second one could not grab the shortcuts anyway.
QString lockFilePath()
{
    QString display = QString::fromLocal8Bit(qgetenv("DISPLAY"));
    display.replace(QLatin1Char('/'), QLatin1Char('_'));
    QString directory = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (directory.isEmpty())
        directory = QDir::tempPath();
    return QDir(directory).filePath(QStringLiteral("tarnwick-%1.lock").arg(display));
}

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

} // namespace

int runTrayApplication(int &argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tarnwick"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tarnwick"));
    // Closing the settings window must not end the program: only the menu's Quit does.
    QApplication::setQuitOnLastWindowClosed(false);
    quitOnSignals(app);

    QLockFile lock(lockFilePath());
    if (!lock.tryLock(0)) {
        qint64 pid = 0;
        QString host, application;
        lock.getLockInfo(&pid, &host, &application);
        std::fprintf(stderr,
            "tarnwick: Tarnwick is already running (process %lld); not starting a second one\n",
            static_cast<long long>(pid));
        return 1;
    }

    Platform::QtClock clock;
    Platform::Notices notices;
    Platform::SettingsUserDefaults userDefaults;
    Hotkeys::setUserDefaults(&userDefaults);
    Platform::X11::X11HotKeyService hotKeys;
    Hotkeys::SystemHotkeys::setHotKeyService(&hotKeys);
    Platform::X11::X11SystemShortcuts systemShortcuts(hotKeys);
    Hotkeys::SystemHotkeys::setSystemShortcuts(&systemShortcuts);
    // An open menu grabs the keyboard: the shortcuts are then read from our own key events.
    const Platform::X11::X11KeyEventTranslator keyEventTranslator;
    Hotkeys::SystemHotkeys::setKeyEventTranslator(&keyEventTranslator);
    Hotkeys::trackAllMenus();
    // Shortcuts are shown with the characters of the user's layout where it has them.
    const std::unique_ptr<Platform::X11::XkbKeyboardLayout> keyboardLayout
        = Platform::X11::XkbKeyboardLayout::create();
    Hotkeys::Shortcut::setKeyboardLayout(keyboardLayout.get());

    Platform::X11::X11Pasteboard pasteboard;
    Platform::X11::X11KeystrokePoster keystrokes(clock);
    Platform::X11::X11AccessibilityTrust trust;
    Platform::X11::X11Screens screens;
    QNetworkAccessManager session;
    Platform::X11::X11FrontWindow frontWindow;
    Platform::X11::X11PrimarySelection primarySelection;
    Platform::X11::FreedesktopNotifier notifier(QStringLiteral("Tarnwick"));

    int status = 0;
    {
        TarnwickApp tarnwick({clock, pasteboard, keystrokes, trust, userDefaults, screens, session, notices,
            &frontWindow, &primarySelection, &notifier});
        tarnwick.show();
        status = QApplication::exec();
        // The shortcut tables are process-wide: let go of the hot keys while the services exist.
        Hotkeys::removeAllHandlers();
    }
    Hotkeys::Shortcut::setKeyboardLayout(nullptr);
    Hotkeys::SystemHotkeys::setKeyEventTranslator(nullptr);
    Hotkeys::SystemHotkeys::setSystemShortcuts(nullptr);
    Hotkeys::SystemHotkeys::setHotKeyService(nullptr);
    Hotkeys::setUserDefaults(nullptr);
    return status;
}
