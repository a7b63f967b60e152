#include "TargetClient.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QImage>
#include <QTimer>

namespace TestX11 {

using namespace std::chrono_literals;

void spin(std::chrono::milliseconds duration)
{
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
}

ToolResult runTool(const QString &program, const QStringList &arguments, const QByteArray &input,
    std::chrono::milliseconds timeout)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
    process.start(program, arguments);
    if (!process.waitForStarted(5000))
        return {};
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();
    if (process.state() != QProcess::NotRunning)
        loop.exec();
    ToolResult result;
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(2000);
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    return result;
}

QString toolOutput(const QString &program, const QStringList &arguments)
{
    const ToolResult result = runTool(program, arguments);
    if (result.exitCode != 0) {
        qWarning("%s %s failed (exit code %d)", qPrintable(program),
            qPrintable(arguments.join(QLatin1Char(' '))), result.exitCode);
        return {};
    }
    return QString::fromUtf8(result.out);
}

bool setKeymap(const QString &layout, const QString &variant, const QString &option)
{
    // An empty -option first clears the options of the keymap before.
    QStringList arguments {QStringLiteral("-layout"), layout, QStringLiteral("-variant"), variant,
        QStringLiteral("-option"), QString()};
    if (!option.isEmpty())
        arguments << QStringLiteral("-option") << option;
    return runTool(QStringLiteral("setxkbmap"), arguments).exitCode == 0;
}

QByteArray samplePng()
{
    QImage image(7, 5, QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgba(x * 30, y * 50, 200, 255 - x * 10));
    }
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return buffer.data();
}

ClipboardView readClipboardWithXclip()
{
    static const QStringList protocol {QStringLiteral("TARGETS"), QStringLiteral("MULTIPLE"),
        QStringLiteral("TIMESTAMP"), QStringLiteral("SAVE_TARGETS")};
    ClipboardView view;
    const ToolResult targets = runTool(QStringLiteral("xclip"),
        {QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-o"),
            QStringLiteral("-t"), QStringLiteral("TARGETS")});
    if (targets.exitCode != 0)
        return view;
    for (const QByteArray &line : targets.out.split('\n')) {
        const QString target = QString::fromUtf8(line.trimmed());
        if (!target.isEmpty() && !protocol.contains(target) && !view.targets.contains(target))
            view.targets.append(target);
    }
    view.targets.sort();
    for (const QString &target : std::as_const(view.targets)) {
        const ToolResult data = runTool(QStringLiteral("xclip"),
            {QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-o"),
                QStringLiteral("-t"), target});
        if (data.exitCode == 0)
            view.bytes.insert(target, data.out);
    }
    return view;
}

QString selectionText(const QString &name)
{
    return toolOutput(QStringLiteral("xclip"), {QStringLiteral("-o"), QStringLiteral("-selection"), name});
}

Xterm::~Xterm()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished();
    }
}

bool Xterm::start(const QString &script)
{
    const QString title = QStringLiteral("tarnwick-xterm-%1").arg(QCoreApplication::applicationPid());
    m_process.start(QStringLiteral("xterm"),
        {QStringLiteral("-title"), title, QStringLiteral("-geometry"), QStringLiteral("60x8+20+20"),
            QStringLiteral("-fa"), QStringLiteral("Monospace"), QStringLiteral("-fs"), QStringLiteral("10"),
            QStringLiteral("-e"), QStringLiteral("sh"), QStringLiteral("-c"), script});
    if (!m_process.waitForStarted())
        return false;
    m_window = toolOutput(QStringLiteral("xdotool"),
        {QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--limit"), QStringLiteral("1"),
            QStringLiteral("--name"), title})
                   .trimmed()
                   .toULongLong();
    return m_window != 0;
}

bool Xterm::selectLine(const QString &line)
{
    const QString window = QString::number(m_window);
    // On a loaded machine the clicks can arrive too far apart to count as one: click again then.
    for (int attempt = 0; attempt < 4; ++attempt) {
        toolOutput(
            QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"), window});
        toolOutput(QStringLiteral("xdotool"),
            {QStringLiteral("mousemove"), QStringLiteral("--window"), window, QStringLiteral("30"),
                QStringLiteral("8"), QStringLiteral("click"), QStringLiteral("--repeat"), QStringLiteral("3"),
                QStringLiteral("--delay"), QStringLiteral("80"), QStringLiteral("1")});
        for (const QDeadlineTimer deadline(2s); !deadline.hasExpired(); spin(50ms)) {
            if (selectionText(QStringLiteral("primary")).trimmed() == line)
                return true;
        }
    }
    return false;
}

TargetClient::TargetClient()
{
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

TargetClient::~TargetClient()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.write("quit\n");
        if (!m_process.waitForFinished(2000)) {
            m_process.kill();
            m_process.waitForFinished(2000);
        }
    }
}

bool TargetClient::start(const QString &program, const QStringList &arguments)
{
    m_process.start(program.isEmpty() ? QStringLiteral(TARNWICK_X11TARGET) : program, arguments);
    if (!m_process.waitForStarted(5000))
        return false;
    if (command({}) != QByteArray("ready"))
        return false;
    const QDeadlineTimer deadline(10s);
    while (!deadline.hasExpired()) {
        if (hasFocus())
            return true;
        activate();
        spin(50ms);
    }
    qWarning("test target: its window did not get the keyboard focus");
    return false;
}

std::optional<QByteArray> TargetClient::command(const QByteArray &line, std::chrono::milliseconds timeout)
{
    // An empty line only waits for the next answer (the start-up "ready").
    if (!line.isEmpty())
        m_process.write(line + '\n');
    const QDeadlineTimer deadline(timeout);
    while (true) {
        const qsizetype end = m_buffer.indexOf('\n');
        if (end >= 0) {
            const QByteArray answer = m_buffer.left(end);
            m_buffer.remove(0, end + 1);
            return answer;
        }
        if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning) {
            qWarning("test target: no answer to \"%s\" (%s)", line.constData(),
                m_process.state() == QProcess::NotRunning ? "it has exited" : "timed out");
            return std::nullopt;
        }
        // Keep our own events flowing while we wait: the target may be reading our clipboard.
        QEventLoop loop;
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &loop, &QEventLoop::quit);
        QObject::connect(&m_process, &QProcess::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(100ms, &loop, &QEventLoop::quit);
        loop.exec();
        m_buffer.append(m_process.readAllStandardOutput());
    }
}

std::optional<qint64> TargetClient::waitForText(const QString &text, std::chrono::milliseconds timeout)
{
    const std::optional<QByteArray> answer = command("watch " + text.toUtf8().toBase64(), timeout);
    if (!answer || !answer->startsWith("changed "))
        return std::nullopt;
    return answer->mid(8).toLongLong();
}

QString TargetClient::text()
{
    const std::optional<QByteArray> answer = command("text");
    if (!answer || !answer->startsWith("text"))
        return {};
    return QString::fromUtf8(QByteArray::fromBase64(answer->mid(5)));
}

QStringList TargetClient::keys()
{
    const std::optional<QByteArray> answer = command("keys");
    if (!answer || !answer->startsWith("keys"))
        return {QStringLiteral("<no answer>")};
    const QString list = QString::fromUtf8(answer->mid(5));
    return list.isEmpty() ? QStringList() : list.split(QLatin1Char(','));
}

bool TargetClient::setClipboard(const QList<QPair<QString, QByteArray>> &formats)
{
    QByteArray line = "clip";
    for (const auto &[type, bytes] : formats)
        line += ' ' + type.toUtf8() + '=' + bytes.toBase64();
    return ok(line);
}

} // namespace TestX11
