#pragma once

#include "platform/FrontWindow.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QTemporaryFile>

namespace Platform::Kde {

// The window in front as KWin knows it, for Wayland windows and X11 windows alike: a small KWin
// script, loaded through org.kde.kwin.Scripting, reports the active window's resource class (the
// Wayland app id, or the class part of WM_CLASS) to us over D-Bus whenever the active window
// changes, so current() costs nothing. Reports from anyone but KWin are ignored. The script is
// unloaded again when this object goes.
class KWinFrontWindow final : public QObject, public FrontWindow, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.tarnwick.Tarnwick.KWinFrontWindow")

public:
    // Loads the script into the KWin on `bus`; without one, current() never knows a window.
    explicit KWinFrontWindow(QDBusConnection bus);
    ~KWinFrontWindow() override;

    // Whether the script runs in KWin (its first report may still be on its way).
    bool isWatching() const { return m_watching; }

    FrontWindowInfo current() const override;

public Q_SLOTS:
    // What the script calls: the active window's resource class and KWin's id of it (both empty
    // when no window is active).
    Q_SCRIPTABLE void activeWindowChanged(const QString &resourceClass, const QString &internalId);

Q_SIGNALS:
    // A report of the script arrived.
    void reported();

private:
    bool loadScript();

    QDBusConnection m_bus;
    QString m_kwinOwner;
    QTemporaryFile m_script;
    bool m_watching = false;
    FrontWindowInfo m_current;
};

} // namespace Platform::Kde
