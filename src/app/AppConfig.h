#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <optional>

// Where the correction backend is. No instances: the base URL is process-wide configuration.
namespace AppConfig {

// The environment variable that names the backend's base URL.
inline constexpr char backendURLVariable[] = "QUARVEL_BACKEND_URL";

// The base URL used when the variable is not set: plain HTTP on the loopback host.
QString defaultBackendURL();

// Parses a base URL as given by the user; nothing when the URL parser rejects it (the empty string
// included). A URL without scheme or host is accepted: its requests fail later at the transport.
std::optional<QUrl> parseBackendURL(const QString &value);

// The backend's base URL. Read from the environment on first access and cached for the life of the
// process; safe to call from several threads. When the variable holds an invalid URL, the process
// stops with "Invalid QUARVEL_BACKEND_URL: " and the raw value on stderr and a failure status.
QUrl backendURL();

} // namespace AppConfig
