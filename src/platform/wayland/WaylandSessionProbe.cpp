#include "platform/wayland/WaylandSessionProbe.h"

#include "platform/SessionCapabilities.h"
#include "platform/wayland/SwayIpc.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

#include <wayland-client.h>

namespace Platform::Wayland {

namespace {

void onGlobal(void *data, wl_registry *, uint32_t, const char *interface, uint32_t version)
{
    auto *globals = static_cast<QMap<QString, quint32> *>(data);
    const QString key = QString::fromUtf8(interface);
    globals->insert(key, std::max(globals->value(key, 0), quint32(version)));
}

void onGlobalRemove(void *, wl_registry *, uint32_t) { }

const wl_registry_listener listener {onGlobal, onGlobalRemove};

} // namespace

void probeWayland(SessionCapabilities &capabilities)
{
    // As Qt does: without WAYLAND_DISPLAY this is no Wayland session, whatever sockets exist.
    const QString name = qEnvironmentVariable("WAYLAND_DISPLAY");
    if (name.isEmpty())
        return;
    wl_display *display = wl_display_connect(nullptr);
    if (!display)
        return;
    QMap<QString, quint32> globals;
    wl_registry *registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &listener, &globals);
    if (wl_display_roundtrip(display) >= 0) {
        capabilities.waylandDisplay = name;
        capabilities.waylandGlobals = globals;
    }
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
}

void probeSway(SessionCapabilities &capabilities)
{
    const QString path = SwayIpc::findSocket();
    if (path.isEmpty())
        return;
    SwayIpc ipc(path);
    const std::optional<QByteArray> reply = ipc.request(SwayIpc::GetVersion, {});
    if (!reply)
        return;
    capabilities.swaySocket = path;
    capabilities.swayVersion
        = QJsonDocument::fromJson(*reply).object().value(QStringLiteral("human_readable")).toString();
}

void probeHyprland(SessionCapabilities &capabilities)
{
    capabilities.hyprctl = !qEnvironmentVariableIsEmpty("HYPRLAND_INSTANCE_SIGNATURE")
        && !QStandardPaths::findExecutable(QStringLiteral("hyprctl")).isEmpty();
}

void probeCompositor(SessionCapabilities &capabilities)
{
    if (!capabilities.waylandDisplay)
        return;
    for (const char *name : {"SWAYSOCK", "HYPRLAND_INSTANCE_SIGNATURE"}) {
        if (!qEnvironmentVariableIsEmpty(name))
            capabilities.compositorVariables.append(QLatin1String(name));
    }
    // A program started by a labwc that has ended since may still carry the variable.
    bool valid = false;
    const int labwc = qEnvironmentVariableIntValue("LABWC_PID", &valid);
    QFile name(QStringLiteral("/proc/%1/comm").arg(labwc));
    if (valid && labwc > 0 && name.open(QIODevice::ReadOnly) && name.readAll().trimmed() == "labwc")
        capabilities.compositorVariables.append(QStringLiteral("LABWC_PID"));
    capabilities.compositor = probedCompositor(capabilities);
}

} // namespace Platform::Wayland
