#include "app/APIClient.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <array>
#include <coroutine>
#include <memory>

namespace {

// Reads a member that may be absent, null or a string. False when it holds anything else.
bool readOptionalString(const QJsonObject &object, QLatin1String key, std::optional<QString> &out)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull()) {
        out.reset();
        return true;
    }
    if (!value.isString())
        return false;
    out = value.toString();
    return true;
}

std::optional<QJsonObject> parseObject(const QByteArray &body)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

// The body of a reply outside 2xx, when it decodes: "error" and "detail", each optional.
struct ErrorEnvelope {
    std::optional<QString> error;
    std::optional<QString> detail;

    static std::optional<ErrorEnvelope> decode(const QByteArray &body)
    {
        const std::optional<QJsonObject> object = parseObject(body);
        if (!object)
            return std::nullopt;
        ErrorEnvelope envelope;
        if (!readOptionalString(*object, QLatin1String("error"), envelope.error)
            || !readOptionalString(*object, QLatin1String("detail"), envelope.detail))
            return std::nullopt;
        return envelope;
    }
};

// Errors of the network and proxy layers. Qt also reports HTTP 4xx/5xx as reply errors (201 and
// up); those are real answers and take the status path instead. So is a 407 that came with a
// status line, though Qt files it among the proxy errors.
bool isTransportError(QNetworkReply::NetworkError error, const QVariant &statusAttribute)
{
    if (error == QNetworkReply::ProxyAuthenticationRequiredError && statusAttribute.isValid())
        return false;
    return error != QNetworkReply::NoError && int(error) < 200;
}

// What a failure reply says when it has no readable error envelope.
QString statusText(int status)
{
    return QLatin1String("HTTP ") + QString::number(status);
}

// Awaits the end of a reply: it finished, or it was destroyed together with its manager.
class ReplyDone {
public:
    explicit ReplyDone(QNetworkReply *reply)
        : m_reply(reply)
    {
    }

    bool await_ready() const noexcept { return !m_reply || m_reply->isFinished(); }
    void await_suspend(std::coroutine_handle<> handle)
    {
        auto connections = std::make_shared<std::array<QMetaObject::Connection, 2>>();
        auto resume = [handle, connections] {
            for (const QMetaObject::Connection &connection : *connections)
                QObject::disconnect(connection);
            handle.resume();
        };
        (*connections)[0] = QObject::connect(m_reply, &QNetworkReply::finished, resume);
        (*connections)[1] = QObject::connect(m_reply, &QObject::destroyed, resume);
    }
    void await_resume() const noexcept { }

private:
    QPointer<QNetworkReply> m_reply;
};

// Hands the reply back to Qt on every way out of a request.
struct ReplyDisposer {
    QPointer<QNetworkReply> reply;
    ~ReplyDisposer()
    {
        if (reply)
            reply->deleteLater();
    }
};

} // namespace

QString wireString(FixMode mode)
{
    switch (mode) {
    case FixMode::Fix:
        return QStringLiteral("fix");
    case FixMode::Formal:
        return QStringLiteral("formal");
    }
    Q_UNREACHABLE();
    return {};
}

std::optional<FixMode> fixModeFromWireString(const QString &text)
{
    if (text == QLatin1String("fix"))
        return FixMode::Fix;
    if (text == QLatin1String("formal"))
        return FixMode::Formal;
    return std::nullopt;
}

std::optional<FixTextResponse> FixTextResponse::decode(const QByteArray &body)
{
    const std::optional<QJsonObject> object = parseObject(body);
    if (!object)
        return std::nullopt;
    const QJsonValue ok = object->value(QLatin1String("ok"));
    if (!ok.isBool())
        return std::nullopt;
    FixTextResponse response;
    response.ok = ok.toBool();
    if (!readOptionalString(*object, QLatin1String("text"), response.text)
        || !readOptionalString(*object, QLatin1String("error"), response.error)
        || !readOptionalString(*object, QLatin1String("detail"), response.detail))
        return std::nullopt;
    return response;
}

QString APIError::errorDescription() const
{
    switch (m_kind) {
    case Kind::Server:
        return humanize(m_payload);
    case Kind::Network:
        return m_payload;
    case Kind::BadResponse:
        return QStringLiteral("Invalid server response");
    }
    Q_UNREACHABLE();
    return {};
}

QString APIError::humanize(const QString &code)
{
    if (code == QLatin1String("openai_failed"))
        return QStringLiteral("OpenAI request failed");
    if (code == QLatin1String("unknown"))
        return QStringLiteral("Backend error (see server logs)");
    if (code == QLatin1String("bad_request"))
        return QStringLiteral("Bad request");
    return code;
}

APIClient::APIClient(QUrl baseURL, QNetworkAccessManager *session, std::chrono::milliseconds timeout)
    : m_baseURL(std::move(baseURL))
    , m_session(session)
    , m_timeout(timeout)
{
}

QCoro::Task<FixTextResult> APIClient::fixText(QString text, FixMode mode) const
{
    return fixTextWith(*this, std::move(text), mode);
}

QCoro::Task<FixTextResult> APIClient::fixTextWith(APIClient client, QString text, FixMode mode)
{
    QMap<QString, QString> body;
    body.insert(QStringLiteral("text"), text);
    body.insert(QStringLiteral("mode"), wireString(mode));
    const APIResult<FixTextResponse> reply = co_await postJSON<FixTextResponse>(
        std::move(client), QStringLiteral("/api/fix-text"), std::move(body));
    if (!reply)
        co_return reply.error();
    const FixTextResponse &response = reply.value();
    if (response.ok && response.text)
        co_return *response.text;
    co_return APIError::server(combine(response.error, response.detail));
}

QString APIClient::combine(const std::optional<QString> &code, const std::optional<QString> &detail)
{
    QString message = code.value_or(QStringLiteral("unknown"));
    if (detail && !detail->isEmpty())
        message += QLatin1String(": ") + *detail;
    return message;
}

template <typename Reply>
QCoro::Task<APIResult<Reply>> APIClient::postJSON(APIClient client, QString path, QMap<QString, QString> body)
{
    QNetworkAccessManager *session = client.m_session;
    if (!session)
        co_return APIError::network(QStringLiteral("No network access"));

    QJsonObject object;
    for (auto it = body.cbegin(); it != body.cend(); ++it)
        object.insert(it.key(), it.value());
    const QByteArray payload = QJsonDocument(object).toJson(QJsonDocument::Compact);

    // An absolute path replaces whatever path the base URL carries (RFC 3986 resolution).
    QNetworkRequest request(client.m_baseURL.resolved(QUrl(path)));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setTransferTimeout(int(client.m_timeout.count()));

    ReplyDisposer disposer {session->post(request, payload)};
    QNetworkReply *reply = disposer.reply;

    // A runaway body is cut off rather than buffered. The abort is queued: aborting inside
    // readyRead would resume this coroutine in the middle of the reply's own signal.
    auto tooLarge = std::make_shared<bool>(false);
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, tooLarge] {
        if (!*tooLarge && reply->bytesAvailable() > maximumReplySize) {
            *tooLarge = true;
            QMetaObject::invokeMethod(reply, &QNetworkReply::abort, Qt::QueuedConnection);
        }
    });

    co_await ReplyDone(reply);
    if (!disposer.reply)
        co_return APIError::network(QStringLiteral("The network session was closed"));

    const QVariant statusAttribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int status = statusAttribute.isValid() ? statusAttribute.toInt() : 0;
    if (*tooLarge || reply->bytesAvailable() > maximumReplySize) {
        // A failure status still says what happened, even when its body is too big to read.
        if (status >= 300)
            co_return APIError::server(statusText(status));
        co_return APIError::badResponse();
    }

    const QNetworkReply::NetworkError error = reply->error();
    // Qt ends a stalled transfer by aborting it, which it then calls "Operation canceled"; nothing
    // else aborts our replies, so say what happened.
    if (error == QNetworkReply::OperationCanceledError)
        co_return APIError::network(QStringLiteral("The request timed out."));
    // A reply cut short after its headers is a transport failure too, though a status was seen.
    if (isTransportError(error, statusAttribute)
        || (!statusAttribute.isValid() && error != QNetworkReply::NoError))
        co_return APIError::network(reply->errorString());

    const QByteArray data = reply->readAll();
    if (status >= 200 && status <= 299) {
        if (std::optional<Reply> decoded = Reply::decode(data))
            co_return std::move(*decoded);
        co_return APIError::badResponse();
    }

    const std::optional<ErrorEnvelope> envelope = ErrorEnvelope::decode(data);
    QString message = envelope && envelope->error ? *envelope->error : statusText(status);
    if (envelope && envelope->detail && !envelope->detail->isEmpty())
        message += QLatin1String(": ") + *envelope->detail;
    co_return APIError::server(message);
}
