#pragma once

#include <QByteArray>
#include <QMap>
#include <QProcess>
#include <QString>
#include <QUrl>

namespace TestWayland {

// A running tarnwick (the program at `program`), started with its settings in a fresh home and
// the given backend, ready once it said so on stderr. Stopped when it goes.
class TarnwickProcess {
public:
    explicit TarnwickProcess(QString program)
        : m_program(std::move(program))
    {
    }
    ~TarnwickProcess();

    // With an X display (sway's XWayland), as user nobody: its X clients must be sway's user.
    bool start(const QUrl &backend, const QString &home, const QString &xDisplay = {});
    void stop();
    QByteArray errors();
    QByteArray output();

private:
    QString m_program;
    QProcess m_process;
    QByteArray m_errors;
    QByteArray m_output;
};

// How the tests' correction backends correct a text.
inline QString corrected(const QString &text)
{
    return QStringLiteral("Fixed: ") + text;
}

// The clipboard (or primary selection) as a client apart from both sides sees it, through
// wl-paste: MIME type → bytes.
QMap<QString, QByteArray> pasted(bool primary = false);

} // namespace TestWayland
