#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QUrl>

#include <functional>

class QTcpServer;
class QTcpSocket;

// A real HTTP/1.1 server on 127.0.0.1 for tests: records every request and answers each with a
// scripted reply, or misbehaves on purpose (cuts a reply short, never answers, sends raw bytes).
// One request per connection; request bodies must carry a Content-Length. Lives on the thread
// that creates it.
class TestHttpServer : public QObject {
    Q_OBJECT

public:
    struct Request {
        QByteArray method;
        QByteArray target; // the request target as sent: path and query
        QList<QPair<QByteArray, QByteArray>> headers; // in order, names as sent
        QByteArray body;

        // The value of the first header called `name` (any case); empty when there is none.
        QByteArray header(const QByteArray &name) const;
    };

    struct Reply {
        enum class Behaviour {
            Complete, // status line, headers (Content-Type application/json), the body, then close
            CloseMidBody, // announces the whole body's length, sends half of it, then closes
            NeverAnswer, // keeps the connection open without a word, until answerWaiting()
            Raw, // writes `body` verbatim (no status line or headers), then closes
        };
        int status = 200;
        QByteArray body;
        Behaviour behaviour = Behaviour::Complete;

        static Reply json(int status, const QByteArray &body) { return {status, body, Behaviour::Complete}; }
        static Reply closeMidBody(int status, const QByteArray &body)
        {
            return {status, body, Behaviour::CloseMidBody};
        }
        // The correction backend's success: {"ok":true,"text":text}.
        static Reply corrected(const QString &text);
        static Reply neverAnswer() { return {0, {}, Behaviour::NeverAnswer}; }
        static Reply raw(const QByteArray &bytes) { return {0, bytes, Behaviour::Raw}; }
    };

    // Chooses the reply for a request; called on the server's thread.
    using Handler = std::function<Reply(const Request &)>;

    explicit TestHttpServer(QObject *parent = nullptr);

    // Listens on 127.0.0.1 on a free port. False when that fails.
    bool listen();
    // "http://127.0.0.1:<port>"
    QUrl url() const;

    // Every following request gets `reply` (the default is 200 with an empty body).
    void setReply(const Reply &reply);
    // Every following request gets what `handler` returns.
    void setHandler(Handler handler) { m_handler = std::move(handler); }
    // Every following request is answered as the correction backend would, with the text it sent
    // made into `correct(text)`.
    void correctWith(const std::function<QString(const QString &)> &correct);

    // The requests received so far, complete ones only, in order of arrival.
    const QList<Request> &requests() const { return m_requests; }
    void clearRequests() { m_requests.clear(); }
    // The POST requests among them: the corrections asked for. Tarnwick also sends a GET when it
    // starts, to see whether what listens at the backend's address is an HTTP server.
    QList<Request> corrections() const
    {
        QList<Request> posts;
        for (const Request &request : m_requests) {
            if (request.method == "POST")
                posts.append(request);
        }
        return posts;
    }
    // Number of connections accepted so far.
    int connectionCount() const { return m_connectionCount; }
    // Number of requests left waiting by NeverAnswer whose connection is still open.
    int waitingCount() const { return int(m_waiting.size()); }
    // Answers every request left waiting by NeverAnswer with `reply`.
    void answerWaiting(const Reply &reply);

private:
    void onReadyRead(QTcpSocket *socket);
    void send(QTcpSocket *socket, const Reply &reply);

    QTcpServer *m_server;
    Handler m_handler;
    QList<Request> m_requests;
    QList<QTcpSocket *> m_waiting; // connections left without an answer
    int m_connectionCount = 0;
};
