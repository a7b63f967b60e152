#pragma once

#include "app/APIClient.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>

#include <cstdio>
#include <functional>

// The running instance's service on the session bus, so that desktop shortcuts, window-manager
// bindings and scripts can drive it: the name org.tarnwick.Tarnwick, the object
// /org/tarnwick/Tarnwick with the interface org.tarnwick.Tarnwick. Owning the name is also what
// makes an instance the only one in its session. Main thread only.
class CommandChannel : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.tarnwick.Tarnwick")

public:
    // What the methods do in this instance; an empty handler makes its method do nothing.
    struct Handlers {
        std::function<void(FixMode)> trigger; // as a released shortcut of that mode
        std::function<void()> openSettings;
        std::function<void()> quit;
    };

    enum class Claim {
        Owned, // the name is ours and the methods are served
        Taken, // another instance owns the name
        NoBus, // there is no session bus to claim it on
    };

    static QString objectPath();

    // On the session bus.
    explicit CommandChannel(QObject *parent = nullptr);
    // Gives the name back, so that a new instance can start at once.
    ~CommandChannel() override;

    // Serves the object and takes the name, unless another instance holds it already (never
    // queues for it); called once.
    Claim claim();
    void setHandlers(Handlers handlers) { m_handlers = std::move(handlers); }

    // Calls `method` with `arguments` on the running instance over a connection of its own to the
    // session bus, closed again before it returns, and returns the exit status of the command line
    // that asked for it: 0, or 1 with the reason written to `errors`. Needs a QCoreApplication.
    static int send(const QString &method, const QVariantList &arguments = {}, std::FILE *errors = stderr);

public Q_SLOTS:
    // Starts a run in `mode` ("fix" or "formal") and returns at once; another mode is refused.
    Q_SCRIPTABLE void Trigger(const QString &mode);
    Q_SCRIPTABLE void OpenSettings();
    Q_SCRIPTABLE void Quit();

private:
    static int call(
        QDBusConnection &bus, const QString &method, const QVariantList &arguments, std::FILE *errors);

    QDBusConnection m_bus;
    Handlers m_handlers;
    bool m_owned = false;
};
