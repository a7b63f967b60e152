#pragma once

#include <QByteArray>
#include <QMap>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <QCoroTask>

#include <chrono>
#include <optional>
#include <utility>
#include <variant>

#include <QNetworkAccessManager>

// The correction asked of the backend.
enum class FixMode { Fix, Formal };

// The mode as sent on the wire: "fix" or "formal".
QString wireString(FixMode mode);

// The mode for a wire string; nothing for any other text.
std::optional<FixMode> fixModeFromWireString(const QString &text);

// The decoded body of a 2xx reply. Members other than these four are ignored.
struct FixTextResponse {
    bool ok = false;
    std::optional<QString> text;
    std::optional<QString> error;
    std::optional<QString> detail;

    // Decodes a reply body: a JSON object whose "ok" is a JSON Boolean and whose "text", "error"
    // and "detail" are each absent, null or a string. Nothing for any other body.
    static std::optional<FixTextResponse> decode(const QByteArray &body);

    bool operator==(const FixTextResponse &) const = default;
};

// How a backend call failed; errorDescription() is the message the user sees.
class APIError {
public:
    enum class Kind {
        Server, // the backend answered without corrected text; payload: a code or a message
        Network, // the request failed at the transport; payload: the transport's description
        BadResponse // the reply did not decode, or any other failure
    };

    static APIError server(QString message) { return APIError(Kind::Server, std::move(message)); }
    static APIError network(QString description) { return APIError(Kind::Network, std::move(description)); }
    static APIError badResponse() { return APIError(Kind::BadResponse, {}); }

    Kind kind() const { return m_kind; }
    // The code or message of `server`, the description of `network`; empty for `badResponse`.
    const QString &payload() const { return m_payload; }

    // The user-facing message; every case yields a text.
    QString errorDescription() const;

    bool operator==(const APIError &) const = default;

private:
    APIError(Kind kind, QString payload)
        : m_kind(kind)
        , m_payload(std::move(payload))
    {
    }

    // Turns the few known codes into sentences; any other payload is returned unchanged.
    static QString humanize(const QString &code);

    Kind m_kind;
    QString m_payload;
};

// Either a value or the APIError that prevented it. Failures are values: nothing is thrown.
template <typename T> class APIResult {
public:
    APIResult(T value)
        : m_value(std::move(value))
    {
    }
    APIResult(APIError error)
        : m_value(std::move(error))
    {
    }

    bool hasValue() const { return std::holds_alternative<T>(m_value); }
    explicit operator bool() const { return hasValue(); }

    // Only when hasValue().
    const T &value() const { return std::get<T>(m_value); }
    // Only when !hasValue().
    const APIError &error() const { return std::get<APIError>(m_value); }

private:
    std::variant<T, APIError> m_value;
};

// The corrected text, or why there is none.
using FixTextResult = APIResult<QString>;

// The client of the correction backend: one POST per call, no retry. An immutable value; copies
// share the network access manager, which must be used on the thread that created it.
class APIClient {
public:
    static constexpr std::chrono::milliseconds defaultTimeout {20000};
    // Reply bodies beyond this size are refused as a bad response rather than buffered.
    static constexpr qint64 maximumReplySize = 4 * 1024 * 1024;

    // `session` is the process-wide manager, owned by whoever composes the application.
    APIClient(
        QUrl baseURL, QNetworkAccessManager *session, std::chrono::milliseconds timeout = defaultTimeout);

    const QUrl &baseURL() const { return m_baseURL; }
    QNetworkAccessManager *session() const { return m_session; }
    // How long the transfer may stall before the request fails as a network error.
    std::chrono::milliseconds timeout() const { return m_timeout; }

    // Asks the backend to correct `text` (sent unchanged). The call keeps its own copies, so the
    // client may be destroyed while it is pending.
    QCoro::Task<FixTextResult> fixText(QString text, FixMode mode) const;

private:
    // The coroutines take the client by value so that nothing refers back to the caller's copy.
    static QCoro::Task<FixTextResult> fixTextWith(APIClient client, QString text, FixMode mode);

    // Posts `body` as a JSON object to `path` resolved against the base URL and decodes a 2xx
    // reply as `Reply` (which provides `static std::optional<Reply> decode(const QByteArray &)`).
    template <typename Reply>
    static QCoro::Task<APIResult<Reply>> postJSON(
        APIClient client, QString path, QMap<QString, QString> body);

    // The message for a 2xx reply without text: the code (or "unknown") and a non-empty detail.
    static QString combine(const std::optional<QString> &code, const std::optional<QString> &detail);

    QUrl m_baseURL;
    QPointer<QNetworkAccessManager> m_session;
    std::chrono::milliseconds m_timeout;
};
