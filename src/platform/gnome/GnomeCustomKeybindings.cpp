#include "platform/gnome/GnomeCustomKeybindings.h"

#include "platform/portal/KeySymbols.h"

#include <memory>

#include <gio/gio.h>

namespace Platform::Gnome {

namespace {

const char *const listSchema = "org.gnome.settings-daemon.plugins.media-keys";
const char *const bindingSchema = "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding";
const char *const listKey = "custom-keybindings";
const QString bindingsPath
    = QStringLiteral("/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/");
const QString ourPrefix = bindingsPath + QStringLiteral("tarnwick-");

struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
using Settings = std::unique_ptr<GSettings, ObjectUnref>;

// g_settings_new() aborts the process for a schema that is not installed: look it up first.
bool hasSchema(const char *id)
{
    GSettingsSchemaSource *source = g_settings_schema_source_get_default();
    GSettingsSchema *schema = source ? g_settings_schema_source_lookup(source, id, TRUE) : nullptr;
    if (schema)
        g_settings_schema_unref(schema);
    return schema != nullptr;
}

QStringList paths(GSettings *list)
{
    gchar **values = g_settings_get_strv(list, listKey);
    QStringList result;
    for (gchar **value = values; *value; ++value)
        result << QString::fromUtf8(*value);
    g_strfreev(values);
    return result;
}

bool setPaths(GSettings *list, const QStringList &values)
{
    QList<QByteArray> bytes;
    std::vector<const gchar *> pointers;
    for (const QString &value : values)
        bytes << value.toUtf8();
    for (const QByteArray &value : std::as_const(bytes))
        pointers.push_back(value.constData());
    pointers.push_back(nullptr);
    return g_settings_set_strv(list, listKey, pointers.data());
}

Settings bindingSettings(const QString &path)
{
    return Settings(g_settings_new_with_path(bindingSchema, path.toUtf8().constData()));
}

// Not a GNOME system, or one without the settings daemon's schemas.
QString unavailable()
{
    return QStringLiteral("GNOME's keyboard shortcut settings are not installed here.");
}

} // namespace

bool GnomeCustomKeybindings::isAvailable()
{
    return hasSchema(listSchema) && hasSchema(bindingSchema);
}

QString GnomeCustomKeybindings::pathFor(const QString &id)
{
    return ourPrefix + id + QLatin1Char('/');
}

QString GnomeCustomKeybindings::place() const
{
    return QStringLiteral("GNOME Settings, Keyboard, Keyboard Shortcuts, Custom Shortcuts");
}

QString GnomeCustomKeybindings::add(const QList<Binding> &bindings)
{
    if (!isAvailable())
        return unavailable();
    QList<QPair<QString, QString>> accelerators;
    for (const Binding &binding : bindings) {
        const std::optional<QString> accelerator
            = Portal::gtkAccelerator(binding.carbonKeyCode, binding.carbonModifiers);
        if (!accelerator)
            return QStringLiteral("GNOME cannot bind the shortcut of \"%1\": choose one without the Fn key.")
                .arg(binding.name);
        accelerators.append({pathFor(binding.id), *accelerator});
    }
    const Settings list(g_settings_new(listSchema));
    QStringList listed = paths(list.get());
    for (qsizetype i = 0; i < bindings.size(); ++i) {
        const Binding &binding = bindings[i];
        const Settings settings = bindingSettings(accelerators[i].first);
        g_settings_set_string(settings.get(), "name", binding.name.toUtf8().constData());
        g_settings_set_string(settings.get(), "command", binding.command.toUtf8().constData());
        g_settings_set_string(settings.get(), "binding", accelerators[i].second.toUtf8().constData());
        if (!listed.contains(accelerators[i].first))
            listed << accelerators[i].first;
    }
    // The list last: the settings daemon picks a path up only once its keys are there.
    const bool written = setPaths(list.get(), listed);
    g_settings_sync();
    return written ? QString() : QStringLiteral("GNOME's keyboard shortcut settings could not be written.");
}

QString GnomeCustomKeybindings::remove()
{
    if (!isAvailable())
        return unavailable();
    const Settings list(g_settings_new(listSchema));
    QStringList listed = paths(list.get());
    const QStringList ours = listed.filter(ourPrefix);
    for (const QString &path : ours)
        listed.removeAll(path);
    // The list first, so that the settings daemon lets go of them before their keys go.
    const bool written = setPaths(list.get(), listed);
    for (const QString &path : ours) {
        const Settings settings = bindingSettings(path);
        for (const char *key : {"name", "command", "binding"})
            g_settings_reset(settings.get(), key);
    }
    g_settings_sync();
    return written ? QString() : QStringLiteral("GNOME's keyboard shortcut settings could not be written.");
}

QStringList GnomeCustomKeybindings::addedIds() const
{
    if (!isAvailable())
        return {};
    const Settings list(g_settings_new(listSchema));
    QStringList ids;
    for (const QString &path : paths(list.get())) {
        if (path.startsWith(ourPrefix) && path.endsWith(QLatin1Char('/')))
            ids << path.mid(ourPrefix.size()).chopped(1);
    }
    return ids;
}

void probeGnomeKeybindings(SessionCapabilities &capabilities)
{
    capabilities.gnomeKeybindings = GnomeCustomKeybindings::isAvailable();
    capabilities.gnomeKeybindingsAdded
        = capabilities.gnomeKeybindings && !GnomeCustomKeybindings().addedIds().isEmpty();
}

} // namespace Platform::Gnome
