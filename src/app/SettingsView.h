#pragma once

#include "hotkeys/Name.h"
#include "platform/qt/NotificationCenter.h"

#include <QList>
#include <QPointer>
#include <QWidget>

#include <chrono>
#include <memory>
#include <vector>

class QAbstractButton;
class QCheckBox;
class QLabel;
class QPushButton;
class QVBoxLayout;

class AccessibilityChecker;
class Autostart;
class TextProcessor;

namespace Platform {
class AccessibilityTrust;
class Clock;
class Notices;
class Timer;
class UserDefaults;
} // namespace Platform

// The settings window: the current problems, the two shortcut recorders, the dash switch, the
// Accessibility permission with its re-check, starting at login, and the last error with a way to
// dismiss it. It shows and edits state that belongs to others; its only own state is the re-check
// timer, alive exactly while it is shown.
class SettingsView : public QWidget {
    Q_OBJECT

public:
    static constexpr int windowWidth = 460;
    static constexpr int windowHeight = 480;
    static constexpr std::chrono::milliseconds recheckInterval {1500};

    // `trust` answers the re-checks and the Request button; `defaults` holds "replaceEmDash";
    // `fixName` and `formalName` are the two shortcut slots recorded here ("Fix text" and "Make
    // formal"), as the application context declares them; `notices`, when given, are listed in a
    // section of their own while there are any; `autostart`, when given, is the "Start at login"
    // switch's file. Both must outlive the window.
    SettingsView(AccessibilityChecker &ax, TextProcessor &textProcessor, Platform::UserDefaults &defaults,
        Platform::AccessibilityTrust &trust, Platform::Clock &clock, const Hotkeys::Name &fixName,
        const Hotkeys::Name &formalName, const Platform::Notices *notices = nullptr,
        const Autostart *autostart = nullptr, QWidget *parent = nullptr);
    ~SettingsView() override;

    // Shows the window, raised and activated in front of other applications' windows.
    void showInFront();

    // Adds a section with `title` after the others; the window takes `content`.
    void addSection(const QString &title, QWidget *content);

    // Whether the permission re-check is running (for tests and diagnostics).
    bool isPolling() const { return m_poll != nullptr; }

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QWidget *makeSection(const QString &title, QWidget *content);
    QWidget *makeLastErrorRow();
    void updateNotices();
    QWidget *makeShortcutRows(const Hotkeys::Name &fixName, const Hotkeys::Name &formalName);
    QWidget *makeDashToggle();
    QWidget *makePermissionRow();
    QWidget *makeAutostartToggle();

    void updateLastError();
    void updateTrust();
    void updateTakenMarks();
    void updateDashToggle();
    void updateAutostart();
    void recheckTrust();
    void requestTrust();

    AccessibilityChecker &m_ax;
    TextProcessor &m_textProcessor;
    Platform::UserDefaults &m_defaults;
    Platform::AccessibilityTrust &m_trust;
    Platform::Clock &m_clock;
    const Platform::Notices *m_notices;
    const Autostart *m_autostart;
    std::unique_ptr<Platform::Timer> m_poll;
    QVBoxLayout *m_formLayout = nullptr;

    QWidget *m_lastErrorSection = nullptr;
    QLabel *m_lastErrorMessage = nullptr;
    QWidget *m_noticesSection = nullptr;
    QWidget *m_noticeRows = nullptr;
    QPushButton *m_dismissButton = nullptr;
    QCheckBox *m_dashToggle = nullptr;
    QLabel *m_permissionIcon = nullptr;
    QLabel *m_permissionText = nullptr;
    QPushButton *m_requestButton = nullptr;
    QPushButton *m_openSettingsButton = nullptr;
    // Each shortcut field's "Taken by another program" mark, shown while the system refuses it.
    QList<std::pair<Hotkeys::Name, QLabel *>> m_takenMarks;
    std::vector<Platform::NotificationCenter::TokenPtr> m_hotKeyObservers;
    QCheckBox *m_autostartToggle = nullptr;
    QLabel *m_autostartFailure = nullptr;
};
