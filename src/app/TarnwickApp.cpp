#include "app/TarnwickApp.h"

#include "app/MenuBarExtra.h"
#include "app/GlobalShortcut.h"
#include "app/MenuContent.h"
#include "app/DesktopSettings.h"
#include "app/SettingsView.h"
#include "app/TextProcessor.h"
#include "hotkeys/Constants.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSystemTrayIcon>

TarnwickApp::TarnwickApp(const AppContext::Services &services, QObject *parent)
    : QObject(parent)
    , m_services(services)
    , m_autostart(Autostart::defaultDirectory(), QCoreApplication::applicationFilePath())
    , m_context(std::make_unique<AppContext>(services))
{
    m_menuBarExtra = std::make_unique<MenuBarExtra>(
        m_context->ax(), m_context->textProcessor(), services.clock, &services.notices);
    // The tray menu is the only menu we have: recorded shortcuts are checked against its keys.
    Hotkeys::setMainMenu(m_menuBarExtra->content().menu());
    m_menuBarExtra->content().setOpenSettings([this] { openSettings(); });
}

// The window and the menu watch the processor: they go before the context.
TarnwickApp::~TarnwickApp()
{
    m_settingsView.reset();
    m_menuBarExtra.reset();
}

void TarnwickApp::openSettings()
{
    if (!m_settingsView) {
        m_settingsView = std::make_unique<SettingsView>(m_context->ax(), m_context->textProcessor(),
            m_services.userDefaults, m_services.trust, m_services.clock, Hotkeys::fixSelectedText(),
            Hotkeys::formalizeSelectedText(), &m_services.notices, &m_autostart);
        if (DesktopSettings::isWanted(m_services))
            m_settingsView->addSection(QStringLiteral("This desktop"), new DesktopSettings(m_services));
    }
    m_settingsView->showInFront();
}

CommandChannel::Handlers TarnwickApp::commandHandlers()
{
    const QPointer<TarnwickApp> self(this);
    return {
        [self](FixMode mode) {
            if (self)
                self->m_context->startRun(mode);
        },
        [self] {
            if (self)
                self->openSettings();
        },
        [] { QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection); },
    };
}

bool TarnwickApp::show(std::FILE *diagnostics)
{
    // Qt docks the icon as soon as a tray appears, also after this call.
    m_menuBarExtra->show();
    if (QSystemTrayIcon::isSystemTrayAvailable())
        return true;
    std::fputs(
        "tarnwick: no system tray is available; the shortcuts and the feedback panel work without it\n",
        diagnostics);
    std::fflush(diagnostics);
    return false;
}
