#pragma once

#include "platform/CommandShortcuts.h"
#include "platform/SessionCapabilities.h"

namespace Platform::Gnome {

// GNOME's custom keyboard shortcuts, which its settings daemon runs on a key press: the list
// "custom-keybindings" of org.gnome.settings-daemon.plugins.media-keys names one path per shortcut,
// and the relocatable schema …media-keys.custom-keybinding at that path holds its name, command
// and binding. Ours live at …/custom-keybindings/tarnwick-<id>/, so the user's own shortcuts and
// those of other programs are never touched. Written through GSettings (dconf on a desktop).
class GnomeCustomKeybindings final : public CommandShortcuts {
public:
    // False when the settings daemon's schema is not installed (not a GNOME system).
    static bool isAvailable();

    QString place() const override;
    QString add(const QList<Binding> &bindings) override;
    QString remove() override;
    QStringList addedIds() const override;

    // The settings path of our binding `id`.
    static QString pathFor(const QString &id);
};

// The probe: whether GNOME's custom keybinding settings are installed, and ours among them.
void probeGnomeKeybindings(SessionCapabilities &capabilities);

} // namespace Platform::Gnome
