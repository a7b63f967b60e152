#include "testlib/TestHttpServer.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>

QByteArray TestHttpServer::Request::header(const QByteArray &name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

TestHttpServer::Reply TestHttpServer::Reply::corrected(const QString &text)
{
    return json(200,
        QJsonDocument(QJsonObject {{QStringLiteral("ok"), true}, {QStringLiteral("text"), text}})
            .toJson(QJsonDocument::Compact));
}

TestHttpServer::TestHttpServer(QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
    , m_handler([](const Request &) { return Reply {}; })
{
    connect(m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server->nextPendingConnection()) {
            ++m_connectionCount;
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
            connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                m_waiting.removeOne(socket);
                socket->deleteLater();
            });
        }
    });
}

bool TestHttpServer::listen()
{
    return m_server->listen(QHostAddress::LocalHost, 0);
}

QUrl TestHttpServer::url() const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_server->serverPort()));
}

void TestHttpServer::setReply(const Reply &reply)
{
    m_handler = [reply](const Request &) { return reply; };
}

void TestHttpServer::correctWith(const std::function<QString(const QString &)> &correct)
{
    setHandler([correct](const Request &request) {
        return Reply::corrected(
            correct(QJsonDocument::fromJson(request.body)[QLatin1String("text")].toString()));
    });
}

void TestHttpServer::answerWaiting(const Reply &reply)
{
    for (QTcpSocket *socket : std::exchange(m_waiting, {}))
        send(socket, reply);
}

void TestHttpServer::onReadyRead(QTcpSocket *socket)
{
    // The request so far stays in the socket's buffer until all of it is there.
    const QByteArray buffer = socket->peek(socket->bytesAvailable());
    const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return;
    const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    if (requestLine.size() != 3)
        return socket->abort();
    Request request {requestLine.at(0), requestLine.at(1), {}, {}};
    for (const QByteArray &line : lines.mid(1)) {
        const qsizetype colon = line.indexOf(':');
        request.headers.append({line.left(colon), line.mid(colon + 1).trimmed()});
    }
    const qsizetype length = request.header("Content-Length").toLongLong();
    if (buffer.size() < headEnd + 4 + length)
        return;
    request.body = buffer.mid(headEnd + 4, length);
    // One request per connection: whatever follows is dropped.
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
    m_requests.append(request);
    send(socket, m_handler(request));
}

void TestHttpServer::send(QTcpSocket *socket, const Reply &reply)
{
    if (reply.behaviour == Reply::Behaviour::NeverAnswer) {
        m_waiting.append(socket);
        return;
    }
    if (reply.behaviour != Reply::Behaviour::Raw) {
        socket->write("HTTP/1.1 " + QByteArray::number(reply.status)
            + " Reply\r\nContent-Type: application/json\r\n"
            + "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\nConnection: close\r\n\r\n");
    }
    // A graceful close sends what is buffered, then ends; abort() would drop it.
    socket->write(reply.behaviour == Reply::Behaviour::CloseMidBody ? reply.body.left(reply.body.size() / 2)
                                                                    : reply.body);
    socket->disconnectFromHost();
}
