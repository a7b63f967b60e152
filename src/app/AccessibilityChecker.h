#pragma once

#include <QObject>

namespace Platform {
class AccessibilityTrust;
}

// Whether this process may post keystrokes into other applications, as the system last answered.
// The menu and the settings window show it; the settings window refreshes it. The text processor
// never reads it: it asks the system itself at the start of every run.
class AccessibilityChecker : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isTrusted READ isTrusted WRITE setIsTrusted NOTIFY isTrustedChanged)

public:
    // Asks the system once, without a prompt.
    explicit AccessibilityChecker(Platform::AccessibilityTrust &trust, QObject *parent = nullptr);

    bool isTrusted() const { return m_isTrusted; }
    void setIsTrusted(bool trusted);

    // Opens the place where the user grants the permission; leaves isTrusted alone.
    Q_INVOKABLE void openSystemSettings();

Q_SIGNALS:
    void isTrustedChanged(bool isTrusted);

private:
    Platform::AccessibilityTrust &m_trust;
    bool m_isTrusted = false;
};
