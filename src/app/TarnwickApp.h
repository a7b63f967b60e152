#pragma once

#include "app/AppContext.h"
#include "app/Autostart.h"
#include "app/CommandChannel.h"

#include <QObject>

#include <cstdio>
#include <memory>

class MenuBarExtra;
class SettingsView;

// The application as the user meets it: the root context and the tray icon with its menu. There
// is no main window.
class TarnwickApp : public QObject {
    Q_OBJECT

public:
    // Creates the context (and with it everything it owns), then the tray icon and its menu.
    explicit TarnwickApp(const AppContext::Services &services, QObject *parent = nullptr);
    ~TarnwickApp() override;

    AppContext &context() const { return *m_context; }
    MenuBarExtra &menuBarExtra() const { return *m_menuBarExtra; }

    // Puts the icon into the system tray, or, when the desktop has no tray, says so once on
    // `diagnostics`: the shortcuts and the feedback panel work without it, and the icon appears
    // by itself if a tray turns up later. Returns whether a tray was there.
    bool show(std::FILE *diagnostics = stderr);

    // The tray menu's "Settings…": makes the settings window on first use, then brings it to the
    // front. Closing it only hides it.
    void openSettings();
    SettingsView *settingsView() const { return m_settingsView.get(); }

    // What the command channel's methods do here: a trigger is a released shortcut, and the
    // others are the tray menu's "Settings…" and "Quit".
    CommandChannel::Handlers commandHandlers();

private:
    AppContext::Services m_services;
    Autostart m_autostart;
    std::unique_ptr<AppContext> m_context;
    std::unique_ptr<MenuBarExtra> m_menuBarExtra;
    std::unique_ptr<SettingsView> m_settingsView;
};
