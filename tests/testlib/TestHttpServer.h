#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QUrl>

#include <functional>

class QTcpServer;
class QTcpSocket;

// A real HTTP/1.1 server on 127.0.0.1 for tests: records every request and answers each with a
// scripted reply, or misbehaves on purpose (cuts a reply short, never answers, sends raw bytes).
// Lives on the thread that creates it; request bodies must carry a Content-Length.
class TestHttpServer : public QObject {
    Q_OBJECT

public:
    using Header = QPair<QByteArray, QByteArray>;

    struct Request {
        QByteArray method;
        QByteArray target; // the request target as sent: path and query
        QList<Header> headers; // in order, names as sent
        QByteArray body;

        // The value of the first header called `name` (any case); empty when there is none.
        QByteArray header(QByteArrayView name) const;
        bool hasHeader(QByteArrayView name) const;
    };

    struct Reply {
        enum class Behaviour {
            Complete, // status line, headers, the whole body, then the connection is closed
            CloseMidBody, // announces the whole body's length, sends half of it, then closes
            NeverAnswer, // reads the request and keeps the connection open without a word
            Raw, // writes `body` verbatim (no status line or headers), then closes
        };

        int status = 200;
        QByteArray body;
        // Extra headers. Content-Type is application/json unless given here.
        QList<Header> headers;
        Behaviour behaviour = Behaviour::Complete;

        static Reply json(int status, const QByteArray &body)
        {
            return Reply {status, body, {}, Behaviour::Complete};
        }
        static Reply closeMidBody(int status, const QByteArray &body)
        {
            return Reply {status, body, {}, Behaviour::CloseMidBody};
        }
        // The correction backend's success: {"ok":true,"text":text}.
        static Reply corrected(const QString &text);
        static Reply neverAnswer() { return Reply {0, {}, {}, Behaviour::NeverAnswer}; }
        static Reply raw(const QByteArray &bytes) { return Reply {0, bytes, {}, Behaviour::Raw}; }
    };

    // Chooses the reply for a request; called on the server's thread.
    using Handler = std::function<Reply(const Request &)>;

    explicit TestHttpServer(QObject *parent = nullptr);
    ~TestHttpServer() override;

    // Listens on 127.0.0.1 on a free port. False when that fails.
    bool listen();
    quint16 port() const;
    // "http://127.0.0.1:<port>"
    QUrl url() const;

    // Every following request gets `reply` (the default is 200 with an empty body).
    void setReply(const Reply &reply);
    // Every following request gets what `handler` returns.
    void setHandler(Handler handler);

    // The requests received so far, complete ones only, in order of arrival.
    const QList<Request> &requests() const { return m_requests; }
    void clearRequests() { m_requests.clear(); }
    // The POST requests among them: the corrections asked for. Tarnwick also sends a GET when it
    // starts, to see whether what listens at the backend's address is an HTTP server.
    QList<Request> corrections() const;

    // Number of connections accepted so far.
    int connectionCount() const { return m_connectionCount; }

    // Number of requests left waiting by NeverAnswer whose connection is still open.
    int waitingCount() const { return int(m_waiting.size()); }
    // Answers every request left waiting by NeverAnswer with `reply` (which must not be NeverAnswer).
    void answerWaiting(const Reply &reply);

    // Closes every open connection (those left waiting by NeverAnswer included).
    void closeConnections();

Q_SIGNALS:
    // A complete request arrived; `index` is its position in requests().
    void requestReceived(int index);

private:
    void onNewConnection();
    void onReadyRead(QTcpSocket *socket);
    void answer(QTcpSocket *socket, const Request &request);
    void send(QTcpSocket *socket, const Reply &reply);

    QTcpServer *m_server;
    Handler m_handler;
    QList<Request> m_requests;
    QHash<QTcpSocket *, QByteArray> m_buffers; // connections still reading a request
    QList<QTcpSocket *> m_waiting; // connections left without an answer
    int m_connectionCount = 0;
};
