#include "app/LocalBackend.h"

#include "platform/Clock.h"
#include "platform/qt/Notices.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHostAddress>
#include <QTcpSocket>

#include <csignal>
#include <cstdio>

#include <sys/prctl.h>

namespace {

// Drops a socket from inside one of its own signals: it is deleted once that signal is over.
void discard(std::unique_ptr<QTcpSocket> &socket, QObject *receiver)
{
    if (!socket)
        return;
    QTcpSocket *old = socket.release();
    old->disconnect(receiver);
    old->abort();
    old->deleteLater();
}

} // namespace

QString LocalBackend::noticeId()
{
    return QStringLiteral("local-backend");
}

QString LocalBackend::bundledProgram()
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("tarnwick-backend"));
}

bool LocalBackend::isLocal(const QUrl &url)
{
    if (url.scheme() != QLatin1String("http"))
        return false;
    const QString host = url.host();
    return host == QLatin1String("localhost") || QHostAddress(host).isLoopback();
}

LocalBackend::LocalBackend(
    QUrl backendURL, QString program, Platform::Clock &clock, Platform::Notices &notices, QObject *parent)
    : QObject(parent)
    , m_url(std::move(backendURL))
    , m_program(std::move(program))
    , m_clock(clock)
    , m_notices(notices)
{
}

LocalBackend::~LocalBackend()
{
    m_timer.reset();
    discard(m_probe, this);
    if (!m_process || m_process->state() == QProcess::NotRunning)
        return;
    m_process->disconnect(this);
    m_process->terminate();
    if (!m_process->waitForFinished(int(stopTimeout.count()))) {
        m_process->kill();
        m_process->waitForFinished(1000);
    }
}

qint64 LocalBackend::processId() const
{
    return m_process && m_process->state() == QProcess::Running ? m_process->processId() : 0;
}

void LocalBackend::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    Q_EMIT stateChanged(state);
}

QString LocalBackend::listenAddress() const
{
    const QString host = m_url.host();
    const QString port = QString::number(m_url.port(80));
    return host.contains(u':') ? QStringLiteral("[%1]:%2").arg(host, port) : host + u':' + port;
}

void LocalBackend::start()
{
    if (isLocal(m_url))
        probe();
}

// A connection that is refused means that nothing listens. Anything that accepts it must answer
// a request with an HTTP status line to count as a backend.
void LocalBackend::probe()
{
    setState(State::Probing);
    m_probeAnswer.clear();
    m_probe = std::make_unique<QTcpSocket>();
    connect(m_probe.get(), &QTcpSocket::connected, this, &LocalBackend::onProbeConnected);
    connect(m_probe.get(), &QTcpSocket::readyRead, this, &LocalBackend::onProbeAnswer);
    connect(m_probe.get(), &QTcpSocket::errorOccurred, this, &LocalBackend::onProbeFailed);
    m_timer = m_clock.singleShot(probeTimeout, [this] { finishProbe(); });
    m_probe->connectToHost(m_url.host(), quint16(m_url.port(80)));
}

void LocalBackend::onProbeConnected()
{
    m_probe->write(
        "GET /api/fix-text HTTP/1.1\r\nHost: " + listenAddress().toUtf8() + "\r\nConnection: close\r\n\r\n");
}

void LocalBackend::onProbeAnswer()
{
    m_probeAnswer += m_probe->readAll();
    if (m_probeAnswer.size() >= 5)
        finishProbe();
}

void LocalBackend::onProbeFailed()
{
    const QAbstractSocket::SocketError error = m_probe->error();
    const QString reason = m_probe->errorString();
    if (m_probe->state() == QAbstractSocket::ConnectedState
        || error == QAbstractSocket::RemoteHostClosedError) {
        finishProbe();
        return;
    }
    m_timer.reset();
    discard(m_probe, this);
    if (error == QAbstractSocket::ConnectionRefusedError)
        spawn();
    else
        fail(QStringLiteral("The bundled backend cannot use %1: %2.").arg(listenAddress(), reason),
            QStringLiteral("Set QUARVEL_BACKEND_URL to an address where a backend can run."));
}

void LocalBackend::finishProbe()
{
    m_timer.reset();
    if (m_probe)
        m_probeAnswer += m_probe->readAll();
    discard(m_probe, this);
    if (m_probeAnswer.startsWith("HTTP/")) {
        m_notices.clear(noticeId());
        setState(State::External);
        return;
    }
    fail(QStringLiteral("A program that is not a correction backend listens on %1.").arg(listenAddress()),
        QStringLiteral("Stop that program, or set QUARVEL_BACKEND_URL to another address."));
}

void LocalBackend::spawn()
{
    const QFileInfo program(m_program);
    if (!program.exists()) {
        fail(QStringLiteral("The bundled backend cannot start: %1 is missing.").arg(m_program),
            QStringLiteral(
                "Reinstall Tarnwick, or set QUARVEL_BACKEND_URL to a backend that runs elsewhere."));
        return;
    }
    if (!program.isFile() || !program.isExecutable()) {
        fail(QStringLiteral("The bundled backend cannot start: %1 is not executable.").arg(m_program),
            QStringLiteral("Make it executable (chmod +x) or reinstall Tarnwick."));
        return;
    }
    m_process = std::make_unique<QProcess>();
    m_process->setProgram(m_program);
    m_process->setArguments({QStringLiteral("--listen"), listenAddress()});
    // Its output goes where ours goes; its errors are read as well, for the notice.
    m_process->setProcessChannelMode(QProcess::ForwardedOutputChannel);
    // Killed along with us, so that no backend outlives a Tarnwick that crashed.
    m_process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    connect(m_process.get(), &QProcess::started, this, &LocalBackend::onStarted);
    connect(m_process.get(), &QProcess::finished, this, &LocalBackend::onFinished);
    connect(m_process.get(), &QProcess::errorOccurred, this, &LocalBackend::onErrorOccurred);
    connect(m_process.get(), &QProcess::readyReadStandardError, this, [this] {
        const QByteArray errors = m_process->readAllStandardError();
        std::fwrite(errors.constData(), 1, size_t(errors.size()), stderr);
        std::fflush(stderr);
        m_pendingErrors += errors;
        for (qsizetype end = m_pendingErrors.indexOf('\n'); end >= 0; end = m_pendingErrors.indexOf('\n')) {
            const QByteArray line = m_pendingErrors.left(end).trimmed();
            m_pendingErrors.remove(0, end + 1);
            if (!line.isEmpty())
                m_lastErrorLine = line;
        }
    });
    m_lastErrorLine.clear();
    m_pendingErrors.clear();
    m_process->start();
}

void LocalBackend::onStarted()
{
    m_startedAt = m_clock.now();
    setState(State::Running);
    m_timer = m_clock.singleShot(stableUptime, [this] {
        m_backoff = firstBackoff;
        m_notices.clear(noticeId());
    });
}

void LocalBackend::onErrorOccurred(QProcess::ProcessError error)
{
    // Every other error ends in finished().
    if (error == QProcess::FailedToStart)
        fail(QStringLiteral("The bundled backend cannot start: %1.").arg(m_process->errorString()),
            QStringLiteral(
                "Reinstall Tarnwick, or set QUARVEL_BACKEND_URL to a backend that runs elsewhere."));
}

void LocalBackend::onFinished(int exitCode, QProcess::ExitStatus status)
{
    // A backend that gives up says why in its last line; before that it logs ordinary news.
    QString reason;
    if (status == QProcess::NormalExit && exitCode != 0 && !m_lastErrorLine.isEmpty()) {
        reason = QString::fromUtf8(m_lastErrorLine);
        const QString prefix = QStringLiteral("tarnwick-backend: ");
        if (reason.startsWith(prefix))
            reason.remove(0, prefix.size());
    } else if (status == QProcess::CrashExit)
        reason = QStringLiteral("it ended by a signal");
    else
        reason = QStringLiteral("it exited with status %1").arg(exitCode);
    retryLater(reason);
}

void LocalBackend::retryLater(const QString &reason)
{
    if (m_clock.now() - m_startedAt >= stableUptime)
        m_backoff = firstBackoff;
    const QString message = QStringLiteral("The bundled backend stopped: %1").arg(reason);
    m_notices.set({noticeId(), message,
        QStringLiteral("Tarnwick starts it again by itself; its messages go to standard error.")});
    std::fprintf(stderr, "tarnwick: %s; starting it again in %.1f s\n", qPrintable(message),
        double(m_backoff.count()) / 1000.0);
    std::fflush(stderr);
    setState(State::Waiting);
    // The process object is dropped later: this runs inside its own signal.
    QProcess *ended = m_process.release();
    ended->disconnect(this);
    ended->deleteLater();
    m_timer = m_clock.singleShot(m_backoff, [this] { probe(); });
    m_backoff = std::min(m_backoff * 2, maxBackoff);
}

void LocalBackend::fail(const QString &message, const QString &remedy)
{
    m_timer.reset();
    std::fprintf(stderr, "tarnwick: %s\n", qPrintable(message));
    std::fflush(stderr);
    m_notices.set({noticeId(), message, remedy});
    setState(State::Failed);
}
