#include "TarnwickProcess.h"

#include "TargetClient.h"

#include <QDeadlineTimer>
#include <QProcessEnvironment>
#include <QTest>

using namespace std::chrono_literals;

namespace TestWayland {

bool TarnwickProcess::start(const QUrl &backend, const QString &home, const QString &xDisplay)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
    environment.insert(QStringLiteral("QUARVEL_BACKEND_URL"), backend.toString());
    m_process.setProcessEnvironment(environment);
    if (xDisplay.isEmpty()) {
        m_process.start(m_program, {});
    } else {
        environment.insert(QStringLiteral("DISPLAY"), xDisplay);
        m_process.setProcessEnvironment(environment);
        m_process.start(QStringLiteral("setpriv"),
            {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                QStringLiteral("--clear-groups"), m_program});
    }
    // Said after the shortcuts are registered (no tray runs under the tests' compositors).
    const QDeadlineTimer deadline(30s);
    while (!deadline.hasExpired() && m_process.state() != QProcess::NotRunning) {
        m_process.waitForReadyRead(100);
        m_errors += m_process.readAllStandardError();
        m_output += m_process.readAllStandardOutput();
        if (m_errors.contains("no system tray is available"))
            return true;
    }
    return false;
}

void TarnwickProcess::stop()
{
    m_process.terminate();
    // Our own events keep flowing meanwhile: tarnwick may call the test's services as it quits.
    if (!QTest::qWaitFor([this] { return m_process.state() == QProcess::NotRunning; }, 10000))
        m_process.kill();
    m_process.waitForFinished(2000);
}

TarnwickProcess::~TarnwickProcess()
{
    if (m_process.state() != QProcess::NotRunning)
        stop();
}

QByteArray TarnwickProcess::errors()
{
    m_errors += m_process.readAllStandardError();
    return m_errors;
}

QByteArray TarnwickProcess::output()
{
    m_output += m_process.readAllStandardOutput();
    return m_output;
}

QMap<QString, QByteArray> pasted(bool primary)
{
    QMap<QString, QByteArray> view;
    const QStringList selection = primary ? QStringList {QStringLiteral("--primary")} : QStringList();
    const TestX11::ToolResult types = TestX11::runTool(
        QStringLiteral("wl-paste"), selection + QStringList {QStringLiteral("--list-types")});
    if (types.exitCode != 0)
        return view;
    for (const QByteArray &type : types.out.split('\n')) {
        if (type.isEmpty())
            continue;
        const TestX11::ToolResult data = TestX11::runTool(QStringLiteral("wl-paste"),
            selection
                + QStringList {
                    QStringLiteral("--no-newline"), QStringLiteral("--type"), QString::fromUtf8(type)});
        if (data.exitCode == 0)
            view.insert(QString::fromUtf8(type), data.out);
    }
    return view;
}

} // namespace TestWayland
