#pragma once

#include "app/MenuBarIcon.h"
#include "app/MenuContent.h"

#include <QObject>

#include <memory>

class QSystemTrayIcon;

// The application's one permanent presence: the tray icon (MenuBarIcon) with its menu
// (MenuContent). A click on the icon opens the menu, as the context-menu button does.
class MenuBarExtra : public QObject {
    Q_OBJECT

public:
    // `processor` and `notices` as for MenuContent.
    template <typename Processor>
    MenuBarExtra(AccessibilityChecker &ax, Processor &processor, Platform::Clock &clock,
        const Platform::Notices *notices = nullptr, QObject *parent = nullptr)
        : QObject(parent)
        , m_content(std::make_unique<MenuContent>(ax, processor, clock, notices))
        , m_icon(std::make_unique<MenuBarIcon>())
    {
        m_icon->bind(&processor);
        setUp();
    }
    ~MenuBarExtra() override;

    // Puts the icon into the system tray.
    void show();

    MenuContent &content() const { return *m_content; }
    MenuBarIcon &icon() const { return *m_icon; }
    QSystemTrayIcon &trayIcon() const { return *m_tray; }

private:
    void setUp();

    std::unique_ptr<MenuContent> m_content;
    std::unique_ptr<MenuBarIcon> m_icon;
    std::unique_ptr<QSystemTrayIcon> m_tray;
};
