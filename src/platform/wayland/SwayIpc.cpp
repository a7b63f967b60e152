#include "platform/wayland/SwayIpc.h"

#include <QDeadlineTimer>
#include <QDir>

#include <cerrno>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace Platform::Wayland {

namespace {

constexpr char magic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr qsizetype headerSize = sizeof magic + 8;

} // namespace

SwayIpc::SwayIpc(const QString &socketPath)
{
    const QByteArray path = socketPath.toLocal8Bit();
    sockaddr_un address {};
    if (path.isEmpty() || size_t(path.size()) >= sizeof address.sun_path)
        return;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_fd >= 0 && ::connect(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
        close();
}

SwayIpc::~SwayIpc()
{
    close();
}

void SwayIpc::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

QString SwayIpc::findSocket()
{
    const QString fromEnvironment = qEnvironmentVariable("SWAYSOCK");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.isEmpty())
        return {};
    // sway names it sway-ipc.<uid>.<pid>.sock; a stale one of an ended sway does not answer.
    const QStringList candidates = QDir(runtime).entryList(
        {QStringLiteral("sway-ipc.%1.*.sock").arg(::getuid())}, QDir::System | QDir::Files, QDir::Time);
    for (const QString &name : candidates) {
        const QString path = QDir(runtime).filePath(name);
        SwayIpc probe(path);
        if (probe.isConnected() && probe.request(GetVersion, {}, std::chrono::milliseconds(500)))
            return path;
    }
    return {};
}

bool SwayIpc::send(quint32 type, const QByteArray &payload)
{
    QByteArray message(magic, sizeof magic);
    const quint32 length = quint32(payload.size());
    message.append(reinterpret_cast<const char *>(&length), 4);
    message.append(reinterpret_cast<const char *>(&type), 4);
    message.append(payload);
    qsizetype written = 0;
    while (m_fd >= 0 && written < message.size()) {
        const ssize_t n
            = ::send(m_fd, message.constData() + written, size_t(message.size() - written), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            close();
            return false;
        }
        written += n;
    }
    return m_fd >= 0;
}

bool SwayIpc::fill(std::chrono::milliseconds timeout)
{
    pollfd pfd {m_fd, POLLIN, 0};
    const int ready = ::poll(&pfd, 1, int(timeout.count()));
    if (ready <= 0)
        return false;
    char chunk[65536];
    const ssize_t n = ::recv(m_fd, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return true;
    if (n <= 0) {
        close();
        return false;
    }
    m_buffer.append(chunk, n);
    return true;
}

std::optional<SwayIpc::Message> SwayIpc::nextMessage()
{
    if (m_buffer.size() < headerSize)
        return std::nullopt;
    if (std::memcmp(m_buffer.constData(), magic, sizeof magic) != 0) {
        close();
        return std::nullopt;
    }
    quint32 length = 0, type = 0;
    std::memcpy(&length, m_buffer.constData() + sizeof magic, 4);
    std::memcpy(&type, m_buffer.constData() + sizeof magic + 4, 4);
    if (m_buffer.size() < headerSize + qsizetype(length))
        return std::nullopt;
    Message message {type, m_buffer.mid(headerSize, length)};
    m_buffer.remove(0, headerSize + length);
    return message;
}

std::optional<QByteArray> SwayIpc::request(
    quint32 type, const QByteArray &payload, std::chrono::milliseconds timeout)
{
    if (!send(type, payload))
        return std::nullopt;
    const QDeadlineTimer deadline(timeout);
    while (m_fd >= 0) {
        while (std::optional<Message> message = nextMessage()) {
            if (message->type & 0x80000000u)
                m_events.append(*message);
            else if (message->type == type)
                return message->payload;
        }
        if (deadline.hasExpired() || !fill(std::chrono::milliseconds(deadline.remainingTime())))
            break;
    }
    // A reply that never came would pair the next request with this one's answer.
    close();
    return std::nullopt;
}

QList<SwayIpc::Message> SwayIpc::takeEvents()
{
    while (m_fd >= 0 && fill(std::chrono::milliseconds(0))) {
        pollfd pfd {m_fd, POLLIN, 0};
        if (::poll(&pfd, 1, 0) <= 0)
            break;
    }
    while (std::optional<Message> message = nextMessage()) {
        if (message->type & 0x80000000u)
            m_events.append(*message);
    }
    QList<Message> events;
    events.swap(m_events);
    return events;
}

} // namespace Platform::Wayland
