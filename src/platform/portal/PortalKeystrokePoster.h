#pragma once

#include "platform/AccessibilityTrust.h"
#include "platform/KeystrokePoster.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <chrono>
#include <memory>

namespace Platform {
class Clock;
class Notices;
class UserDefaults;
} // namespace Platform

namespace Platform::Portal {

// Keystrokes through the RemoteDesktop portal (GNOME, and any desktop whose portal has it),
// keyboard only. Posting needs the user's consent, given in the portal's dialog: so this is also
// the process's trust, and requestTrust() is what shows the dialog.
//
// One session serves the whole life of the program and is closed when we are destroyed. With
// version 2 of the portal the session asks to be remembered and the portal's restore token is
// kept in the user's settings, so that the dialog appears once; version 1 has no such token and
// asks once per start. Keys go by symbol (the portal finds the key for it in the user's layout),
// one at a time, every key pressed is released before postKeystroke() returns, and since the
// portal cannot tell which keys the user still holds, a keystroke first waits a moment for the
// fingers that pressed the shortcut to come up. Main thread only.
class PortalKeystrokePoster final : public QObject, public KeystrokePoster, public AccessibilityTrust {
    Q_OBJECT

public:
    enum class State {
        NotAsked, // no session yet: the user has not been asked in this run
        Asking, // the session is being made; the dialog may be up
        Allowed, // keystrokes may be posted
        Refused, // the user declined the dialog
        Failed, // the portal is missing, failed, or did not grant the keyboard
        Closed, // the session was ended from outside (the user revoked it)
    };
    Q_ENUM(State)

    // `version` is the portal's RemoteDesktop version as probed. While keystrokes are not allowed
    // a notice in `notices` says why and what to do. `clock`, `defaults` and `notices` must
    // outlive us; `bus` must stay connected.
    PortalKeystrokePoster(Clock &clock, UserDefaults &defaults, Notices &notices, quint32 version,
        QDBusConnection bus, QObject *parent = nullptr);
    ~PortalKeystrokePoster() override;

    State state() const { return m_state; }
    // The id of our notice.
    static QString noticeId() { return QStringLiteral("keystrokes-not-allowed"); }

    // Whether the user has allowed keystrokes before (a restore token, or a grant with version 1):
    // then the session is started with the program, without making the user press anything.
    bool wasAllowedBefore() const;

    // Makes the session unless one is being made or is up; the portal's dialog may appear.
    void start();

    QCoro::Task<> postKeystroke(quint16 keyCode, quint64 flags) override;

    // Allowed means a session that granted the keyboard.
    bool isProcessTrusted() const override { return m_state == State::Allowed; }
    // Starts the session (the dialog), and answers the trust as it is now: the answer of the
    // dialog comes later, through stateChanged().
    bool requestTrust() override;
    // Opens the help page on keystroke permission.
    void openSystemSettings() override;

    // The settings keys: the version 2 restore token, and whether version 1 was ever granted.
    static QString restoreTokenKey() { return QStringLiteral("remoteDesktopRestoreToken"); }
    static QString grantedKey() { return QStringLiteral("remoteDesktopGranted"); }

    // How long a keystroke waits for the shortcut's keys to come up.
    static constexpr std::chrono::milliseconds modifierWait {150};

Q_SIGNALS:
    void stateChanged(Platform::Portal::PortalKeystrokePoster::State state);

private Q_SLOTS:
    void onSessionClosed();

private:
    QCoro::Task<> makeSession();
    // Enters `state` and sets or clears our notice; `failure` says what failed.
    void setState(State state, const QString &failure = {});
    static QCoro::Task<bool> notifyKeysym(QDBusConnection bus, QString session, quint32 keysym, bool pressed);

    Clock &m_clock;
    UserDefaults &m_defaults;
    Notices &m_notices;
    quint32 m_version;
    QDBusConnection m_bus;
    QString m_session;
    State m_state = State::NotAsked;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace Platform::Portal
