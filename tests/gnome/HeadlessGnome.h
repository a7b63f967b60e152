#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// A GNOME session without a screen, for tests that run on a private session bus (the test is
// registered to run inside dbus-run-session): headless mutter with XWayland, the real
// xdg-desktop-portal frontend configured to use only our test portal backend. Everything it starts
// ends with it.
class HeadlessGnome {
public:
    HeadlessGnome() = default;
    ~HeadlessGnome();
    HeadlessGnome(const HeadlessGnome &) = delete;
    HeadlessGnome &operator=(const HeadlessGnome &) = delete;

    // Why this machine or process cannot run it (a missing program, no private bus), or empty.
    static QString missing();

    // Starts mutter, the test portal backend (granting or refusing) and the portal frontend; sets
    // DISPLAY and XAUTHORITY of this process to mutter's XWayland. Empty on success, else why not.
    QString start(bool grant);
    // Replaces the test portal backend with one that grants or refuses.
    bool restartBackend(bool grant);
    // Replaces the frontend and backend with the test backend standing in for a frontend of
    // version 2 (restore tokens), granting.
    bool useVersion2Frontend();

    // The environment for programs of the session: its Wayland and X displays, runtime directory.
    QProcessEnvironment environment() const;
    // Points the programs this process starts (a native GTK window) at the session's Wayland display.
    void useFromThisProcess() const;

    // Calls a method of the test backend's control interface; an invalid value on failure.
    QVariant control(const QString &method, const QVariantList &arguments = {}) const;

private:
    QProcess *started(
        const QString &program, const QStringList &arguments, const QProcessEnvironment &environment);
    bool waitForBusName(const QString &name) const;
    bool startBackend(const QStringList &arguments, const QString &name);
    static void stop(std::unique_ptr<QProcess> &process, const QString &busName);

    QTemporaryDir m_directory;
    QString m_display;
    QString m_xauthority;
    std::unique_ptr<QProcess> m_mutter;
    std::unique_ptr<QProcess> m_backend;
    std::unique_ptr<QProcess> m_frontend;
    QString m_controlService;
};
