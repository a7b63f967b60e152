#pragma once

#include <QObject>
#include <QProcess>
#include <QString>
#include <QUrl>

#include <chrono>
#include <memory>

class QTcpSocket;

namespace Platform {
class Clock;
class Notices;
class Timer;
} // namespace Platform

// The bundled backend, started on demand: when the backend URL names a loopback address where
// nothing listens, Tarnwick runs `tarnwick-backend` there, starts it again when it ends (waiting
// longer after each quick failure), and stops it when Tarnwick ends. A backend that someone else
// runs there is used as it is. What keeps the local backend from serving is a notice. Main thread.
class LocalBackend : public QObject {
    Q_OBJECT

public:
    enum class State {
        Off, // the URL does not name a loopback http:// address: not ours to start
        Probing, // looking at what listens there
        External, // an HTTP server that we did not start listens there: it is used
        Running, // our backend runs
        Waiting, // our backend ended; it is started again after the back-off
        Failed, // it cannot run there (see the notice); nothing more is tried
    };
    Q_ENUM(State)

    static constexpr std::chrono::milliseconds probeTimeout {2000};
    static constexpr std::chrono::milliseconds firstBackoff {500};
    static constexpr std::chrono::milliseconds maxBackoff {30000};
    // A backend that ran this long was fine: the notice goes and the back-off starts anew.
    static constexpr std::chrono::milliseconds stableUptime {10000};
    static constexpr std::chrono::milliseconds stopTimeout {3000};

    // The id of the notice about the local backend.
    static QString noticeId();
    // tarnwick-backend beside the running program, where the package and the build put it.
    static QString bundledProgram();
    // Whether `url` is an http:// URL of this machine (127.0.0.0/8, ::1 or "localhost").
    static bool isLocal(const QUrl &url);

    // `program` is the backend's executable; `clock` times the probe and the back-off; both it
    // and `notices` must outlive this object.
    LocalBackend(QUrl backendURL, QString program, Platform::Clock &clock, Platform::Notices &notices,
        QObject *parent = nullptr);
    // Stops our backend: SIGTERM, then SIGKILL after stopTimeout.
    ~LocalBackend() override;

    // Looks at the address and starts the backend there if nothing listens; called once.
    void start();

    State state() const { return m_state; }
    // The process id of our backend while it runs, or 0.
    qint64 processId() const;

Q_SIGNALS:
    void stateChanged(LocalBackend::State state);

private:
    void setState(State state);
    void probe();
    void onProbeConnected();
    void onProbeAnswer();
    void onProbeFailed();
    void finishProbe();
    void spawn();
    void onStarted();
    void onFinished(int exitCode, QProcess::ExitStatus status);
    void onErrorOccurred(QProcess::ProcessError error);
    void retryLater(const QString &reason);
    void fail(const QString &message, const QString &remedy);
    QString listenAddress() const;

    QUrl m_url;
    QString m_program;
    Platform::Clock &m_clock;
    Platform::Notices &m_notices;
    State m_state = State::Off;
    std::unique_ptr<QTcpSocket> m_probe;
    QByteArray m_probeAnswer;
    std::unique_ptr<QProcess> m_process;
    QByteArray m_lastErrorLine;
    QByteArray m_pendingErrors;
    std::unique_ptr<Platform::Timer> m_timer;
    std::chrono::milliseconds m_backoff = firstBackoff;
    std::chrono::milliseconds m_startedAt {0};
};
