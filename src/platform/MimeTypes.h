#pragma once

#include <QByteArray>
#include <QString>

// The MIME types and hints that the clipboard and selection services write or look for, spelled
// once for every platform.
namespace Platform {

// Plain text.
inline QString plainTextType()
{
    return QStringLiteral("text/plain");
}

// Plain text in UTF-8, as some owners name it instead of plain text.
inline QString utf8PlainTextType()
{
    return QStringLiteral("text/plain;charset=utf-8");
}

// Marks contents that clipboard managers are not to record (KDE's convention, which other
// clipboard managers follow), with the value passwordManagerHintValue().
inline QString passwordManagerHintType()
{
    return QStringLiteral("x-kde-passwordManagerHint");
}

inline QByteArray passwordManagerHintValue()
{
    return QByteArrayLiteral("secret");
}

} // namespace Platform
