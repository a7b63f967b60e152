#include "app/AppConfig.h"

#include <cstdio>
#include <cstdlib>

namespace AppConfig {

namespace {

[[noreturn]] void stopForInvalidURL(const QByteArray &rawValue)
{
    // The raw bytes, not a decoded copy: the user must see exactly what the variable holds.
    const QByteArray message = QByteArray("Invalid QUARVEL_BACKEND_URL: ") + rawValue + '\n';
    std::fwrite(message.constData(), 1, size_t(message.size()), stderr);
    std::fflush(stderr);
    std::exit(EXIT_FAILURE);
}

QUrl readBackendURL()
{
    if (!qEnvironmentVariableIsSet(backendURLVariable))
        return QUrl(defaultBackendURL(), QUrl::StrictMode);
    const QByteArray raw = qgetenv(backendURLVariable);
    const std::optional<QUrl> url = parseBackendURL(QString::fromLocal8Bit(raw));
    if (!url)
        stopForInvalidURL(raw);
    return *url;
}

} // namespace

QString defaultBackendURL()
{
    return QStringLiteral("http://127.0.0.1:8787");
}

std::optional<QUrl> parseBackendURL(const QString &value)
{
    if (value.isEmpty())
        return std::nullopt;
    QUrl url(value, QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    return url;
}

QUrl backendURL()
{
    // A function-local static is initialised exactly once, even under concurrent first access.
    static const QUrl url = readBackendURL();
    return url;
}

} // namespace AppConfig
