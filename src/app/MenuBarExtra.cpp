#include "app/MenuBarExtra.h"

#include <QCursor>
#include <QMenu>
#include <QSystemTrayIcon>

MenuBarExtra::~MenuBarExtra() = default;

void MenuBarExtra::setUp()
{
    m_tray = std::make_unique<QSystemTrayIcon>(m_icon->icon());
    m_tray->setToolTip(QStringLiteral("Tarnwick"));
    m_tray->setContextMenu(m_content->menu());
    connect(m_icon.get(), &MenuBarIcon::iconChanged, m_tray.get(), &QSystemTrayIcon::setIcon);
    connect(
        m_tray.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::Trigger && !m_content->menu()->isVisible())
                m_content->menu()->popup(QCursor::pos());
        });
}

void MenuBarExtra::show()
{
    m_tray->show();
}
