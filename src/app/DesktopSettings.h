#pragma once

#include "app/AppContext.h"
#include "platform/CommandShortcuts.h"
#include "platform/qt/NotificationCenter.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

// The settings window's section about this desktop: which way the shortcuts take; where the
// desktop keeps them as commands of its own (GNOME's custom shortcuts), buttons that add them
// from the shortcuts recorded above and remove them; where the compositor's configuration must
// bind them, the lines to paste there for the shortcuts recorded above, in the syntax of the
// compositor picked; and where the desktop does not say which window is in front, the choice to
// treat unrecognised windows as terminals.
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
    void showConfigurationLines();

    Platform::CommandShortcuts *m_commandShortcuts;
    Platform::Notices &m_notices;
    Platform::UserDefaults &m_defaults;
    const Platform::KeyboardLayout *m_layout;
    QLabel *m_state = nullptr;
    QPushButton *m_add = nullptr;
    QPushButton *m_remove = nullptr;
    QCheckBox *m_terminals = nullptr;
    QLabel *m_place = nullptr;
    QComboBox *m_compositor = nullptr;
    QPlainTextEdit *m_lines = nullptr;
    Platform::NotificationCenter::TokenPtr m_shortcutsChanged;
};
