#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <chrono>
#include <optional>

namespace Platform::Wayland {

// One connection to sway's IPC socket (man 7 sway-ipc): messages framed as "i3-ipc", the payload
// length and the message type, in native byte order. Replies come in request order; a subscribed
// connection also receives events (types with the high bit set). Main thread only.
class SwayIpc {
public:
    enum MessageType : quint32 {
        RunCommand = 0,
        Subscribe = 2,
        GetVersion = 7,
        GetConfig = 9,
        WorkspaceEvent = 0x80000000,
        BindingEvent = 0x80000005,
        ShutdownEvent = 0x80000006,
    };
    struct Message {
        quint32 type = 0;
        QByteArray payload;
    };

    // Connects to `socketPath`; check isConnected().
    explicit SwayIpc(const QString &socketPath);
    ~SwayIpc();
    SwayIpc(const SwayIpc &) = delete;
    SwayIpc &operator=(const SwayIpc &) = delete;

    // SWAYSOCK, or else sway's socket for this user in XDG_RUNTIME_DIR; empty when there is none.
    static QString findSocket();

    bool isConnected() const { return m_fd >= 0; }
    int socket() const { return m_fd; }

    // Sends a message and waits up to `timeout` for its reply; events read meanwhile are kept
    // for takeEvents(). Nothing when sway did not answer (the connection is then closed).
    std::optional<QByteArray> request(
        quint32 type, const QByteArray &payload, std::chrono::milliseconds timeout = std::chrono::seconds(2));

    // Reads what the socket holds now without waiting, and returns the events received so far.
    // A closed socket ends the connection.
    QList<Message> takeEvents();

private:
    bool send(quint32 type, const QByteArray &payload);
    bool fill(std::chrono::milliseconds timeout);
    std::optional<Message> nextMessage();
    void close();

    int m_fd = -1;
    QByteArray m_buffer;
    QList<Message> m_events;
};

} // namespace Platform::Wayland
