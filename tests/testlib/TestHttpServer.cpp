#include "testlib/TestHttpServer.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTcpSocket>

#include <utility>

namespace {

// Requests larger than this are answered with 413 and the connection closed.
constexpr qsizetype maximumRequestSize = 64 * 1024 * 1024;

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 204:
        return "No Content";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 413:
        return "Content Too Large";
    case 418:
        return "I'm a teapot";
    case 500:
        return "Internal Server Error";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

struct ParsedHead {
    TestHttpServer::Request request;
    qsizetype contentLength = 0;
};

// Parses the request line and headers (without the blank line). False when they are malformed.
bool parseHead(const QByteArray &head, ParsedHead &parsed)
{
    const QList<QByteArray> lines = head.split('\n');
    if (lines.isEmpty())
        return false;
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    if (requestLine.size() != 3 || !requestLine.at(2).startsWith("HTTP/1."))
        return false;
    parsed.request.method = requestLine.at(0);
    parsed.request.target = requestLine.at(1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).endsWith('\r') ? lines.at(i).chopped(1) : lines.at(i);
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            return false;
        parsed.request.headers.append({line.left(colon), line.mid(colon + 1).trimmed()});
    }
    if (parsed.request.hasHeader("Transfer-Encoding"))
        return false;
    if (parsed.request.hasHeader("Content-Length")) {
        bool ok = false;
        parsed.contentLength = parsed.request.header("Content-Length").toLongLong(&ok);
        if (!ok || parsed.contentLength < 0)
            return false;
    }
    return true;
}

} // namespace

QByteArray TestHttpServer::Request::header(QByteArrayView name) const
{
    for (const Header &h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    }
    return {};
}

bool TestHttpServer::Request::hasHeader(QByteArrayView name) const
{
    for (const Header &h : headers) {
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

TestHttpServer::TestHttpServer(QObject *parent)
    : QObject(parent)
    , m_server(new QTcpServer(this))
{
    m_handler = [](const Request &) { return Reply {}; };
    connect(m_server, &QTcpServer::newConnection, this, &TestHttpServer::onNewConnection);
}

TestHttpServer::~TestHttpServer()
{
    closeConnections();
}

bool TestHttpServer::listen()
{
    return m_server->listen(QHostAddress::LocalHost, 0);
}

quint16 TestHttpServer::port() const
{
    return m_server->serverPort();
}

QUrl TestHttpServer::url() const
{
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(QStringLiteral("127.0.0.1"));
    url.setPort(port());
    return url;
}

void TestHttpServer::setReply(const Reply &reply)
{
    m_handler = [reply](const Request &) { return reply; };
}

void TestHttpServer::setHandler(Handler handler)
{
    m_handler = std::move(handler);
}

void TestHttpServer::answerWaiting(const Reply &reply)
{
    const QList<QTcpSocket *> sockets = std::exchange(m_waiting, {});
    for (QTcpSocket *socket : sockets)
        send(socket, reply);
}

void TestHttpServer::closeConnections()
{
    const QList<QTcpSocket *> sockets = m_buffers.keys() + std::exchange(m_waiting, {});
    m_buffers.clear();
    for (QTcpSocket *socket : sockets) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
}

void TestHttpServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        ++m_connectionCount;
        m_buffers.insert(socket, {});
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadyRead(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_buffers.remove(socket);
            m_waiting.removeOne(socket);
            socket->deleteLater();
        });
    }
}

void TestHttpServer::onReadyRead(QTcpSocket *socket)
{
    auto it = m_buffers.find(socket);
    if (it == m_buffers.end())
        return;
    QByteArray &buffer = it.value();
    buffer += socket->readAll();
    if (buffer.size() > maximumRequestSize) {
        m_buffers.erase(it);
        socket->write("HTTP/1.1 413 Content Too Large\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        socket->disconnectFromHost();
        return;
    }
    const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return;
    ParsedHead parsed;
    if (!parseHead(buffer.left(headEnd), parsed)) {
        m_buffers.erase(it);
        socket->write("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        socket->disconnectFromHost();
        return;
    }
    const qsizetype bodyStart = headEnd + 4;
    if (buffer.size() - bodyStart < parsed.contentLength)
        return;
    parsed.request.body = buffer.mid(bodyStart, parsed.contentLength);
    // One request per connection: every reply closes it, so whatever follows is dropped.
    buffer.clear();
    m_requests.append(parsed.request);
    Q_EMIT requestReceived(int(m_requests.size() - 1));
    if (m_buffers.contains(socket))
        answer(socket, parsed.request);
}

void TestHttpServer::answer(QTcpSocket *socket, const Request &request)
{
    const Reply reply = m_handler(request);
    m_buffers.remove(socket);
    if (reply.behaviour == Reply::Behaviour::NeverAnswer) {
        m_waiting.append(socket);
        return;
    }
    send(socket, reply);
}

void TestHttpServer::send(QTcpSocket *socket, const Reply &reply)
{
    if (reply.behaviour == Reply::Behaviour::NeverAnswer) {
        m_waiting.append(socket);
        return;
    }
    if (reply.behaviour == Reply::Behaviour::Raw) {
        socket->write(reply.body);
        socket->disconnectFromHost();
        return;
    }

    QByteArray head
        = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reasonPhrase(reply.status) + "\r\n";
    bool hasContentType = false;
    for (const Header &h : reply.headers) {
        hasContentType = hasContentType || h.first.compare("Content-Type", Qt::CaseInsensitive) == 0;
        head += h.first + ": " + h.second + "\r\n";
    }
    if (!hasContentType)
        head += "Content-Type: application/json\r\n";
    head += "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\nConnection: close\r\n\r\n";
    socket->write(head);
    if (reply.behaviour == Reply::Behaviour::CloseMidBody) {
        socket->write(reply.body.left(reply.body.size() / 2));
        socket->flush();
        // abort() would drop what is still buffered; a graceful close sends it, then ends.
        socket->disconnectFromHost();
        return;
    }
    socket->write(reply.body);
    socket->disconnectFromHost();
}

TestHttpServer::Reply TestHttpServer::Reply::corrected(const QString &text)
{
    return json(200,
        QJsonDocument(QJsonObject {{QStringLiteral("ok"), true}, {QStringLiteral("text"), text}})
            .toJson(QJsonDocument::Compact));
}

QList<TestHttpServer::Request> TestHttpServer::corrections() const
{
    QList<Request> posts;
    for (const Request &request : m_requests) {
        if (request.method == "POST")
            posts.append(request);
    }
    return posts;
}
