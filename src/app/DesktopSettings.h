#pragma once

#include "app/AppContext.h"
#include "platform/CommandShortcuts.h"
#include "platform/qt/NotificationCenter.h"

#include <QWidget>

class QCheckBox;
class QLabel;
class QPushButton;

// The settings window's section about this desktop: which way the shortcuts take; where the
// desktop keeps them as commands of its own (GNOME's custom shortcuts), buttons that add them
// from the shortcuts recorded above and remove them; and where the desktop does not say which
// window is in front, the choice to treat unrecognised windows as terminals.
class DesktopSettings : public QWidget {
    Q_OBJECT

public:
    explicit DesktopSettings(const AppContext::Services &services, QWidget *parent = nullptr);

    // Whether this desktop needs the section at all.
    static bool isWanted(const AppContext::Services &services);

    // Adds our shortcuts to the desktop's (replacing ours there); removes them.
    void addShortcuts();
    void removeShortcuts();

private:
    QList<Platform::CommandShortcuts::Binding> bindings() const;
    void showState(const QString &error = {});

    Platform::CommandShortcuts *m_commandShortcuts;
    Platform::Notices &m_notices;
    Platform::UserDefaults &m_defaults;
    QLabel *m_state = nullptr;
    QPushButton *m_add = nullptr;
    QPushButton *m_remove = nullptr;
    QCheckBox *m_terminals = nullptr;
    Platform::NotificationCenter::TokenPtr m_shortcutsChanged;
};
