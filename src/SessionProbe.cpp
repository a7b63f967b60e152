#include "SessionProbe.h"

#include "platform/gnome/GnomeCustomKeybindings.h"
#include "platform/wayland/WaylandSessionProbe.h"
#include "platform/x11/X11SessionProbe.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>

#include <cstdio>

namespace {

// The names whose presence decides or explains a choice.
const char *const namesOfInterest[] = {
    "org.freedesktop.Notifications",
    "org.freedesktop.portal.Desktop",
    "org.gnome.Mutter.RemoteDesktop",
    "org.gnome.SettingsDaemon.MediaKeys",
    "org.gnome.Shell",
    "org.kde.KWin",
    "org.kde.StatusNotifierWatcher",
    "org.kde.kglobalaccel",
};

const char *const portalInterfaces[] = {
    "org.freedesktop.portal.GlobalShortcuts",
    "org.freedesktop.portal.RemoteDesktop",
};

} // namespace

void probeDisplays(Platform::SessionCapabilities &capabilities)
{
    capabilities.sessionTypeVariable = qEnvironmentVariable("XDG_SESSION_TYPE");
    capabilities.currentDesktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
    Platform::X11::probeX11(capabilities);
    Platform::Wayland::probeWayland(capabilities);
    Platform::Wayland::probeSway(capabilities);
    Platform::Wayland::probeHyprland(capabilities);
    Platform::Wayland::probeCompositor(capabilities);
}

void probeSessionBus(Platform::SessionCapabilities &capabilities)
{
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    capabilities.sessionBus = true;
    QDBusConnectionInterface *daemon = bus.interface();
    const QStringList owned = daemon->registeredServiceNames().value();
    for (const char *name : namesOfInterest) {
        if (owned.contains(QLatin1String(name)))
            capabilities.busNames.append(QLatin1String(name));
    }
    Platform::Gnome::probeGnomeKeybindings(capabilities);
    // Only a running portal is asked: starting one may take seconds, and its interfaces only
    // matter where it already runs as part of the desktop.
    if (!capabilities.hasBusName(QStringLiteral("org.freedesktop.portal.Desktop")))
        return;
    for (const char *interface : portalInterfaces) {
        QDBusMessage get = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.portal.Desktop"),
            QStringLiteral("/org/freedesktop/portal/desktop"),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        get << QString::fromLatin1(interface) << QStringLiteral("version");
        const QDBusMessage reply = bus.call(get, QDBus::Block, 2000);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            continue;
        const QVariant version = reply.arguments().first().value<QDBusVariant>().variant();
        if (version.isValid())
            capabilities.portalInterfaces.insert(QString::fromLatin1(interface), version.toUInt());
    }
}

int runDiagnose(int &argc, char **argv)
{
    Platform::SessionCapabilities capabilities;
    probeDisplays(capabilities);
    QCoreApplication app(argc, argv);
    probeSessionBus(capabilities);
    const QByteArray text
        = Platform::diagnosisText(capabilities, Platform::choosePlatform(capabilities)).toUtf8();
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    return 0;
}
