#pragma once

#include <QByteArray>
#include <QHash>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

namespace TestX11 {

// The result of a helper program run to its end.
struct ToolResult {
    int exitCode = -1;
    QByteArray out;
};

// Runs `program` with `arguments`, feeding it `input`, and waits for it while this process keeps
// serving its events (a test that owns the clipboard must answer the tool's requests).
// exitCode is -1 when it did not finish within `timeout` (it is then killed).
ToolResult runTool(const QString &program, const QStringList &arguments, const QByteArray &input = {},
    std::chrono::milliseconds timeout = std::chrono::seconds(10));

// The standard output of a tool that ran to its end with exit status 0; nothing otherwise (with a
// warning that names the tool).
QString toolOutput(const QString &program, const QStringList &arguments);

// Switches the server's keymap as the user would: `layout` with its variant and options.
bool setKeymap(const QString &layout, const QString &variant = {}, const QString &option = {});

// Runs this process's event loop for `duration`.
void spin(std::chrono::milliseconds duration);

// A clipboard seen from a third client (xclip): its data targets and the bytes of each.
struct ClipboardView {
    QStringList targets; // sorted, protocol targets left out
    QHash<QString, QByteArray> bytes;
};
ClipboardView readClipboardWithXclip();

// A small PNG with varying colour and alpha, for clipboards that hold an image.
QByteArray samplePng();

// The text of the X selection `name` ("primary", "clipboard"), read with xclip.
QString selectionText(const QString &name);

// An xterm of its own running `script` with sh, which shows a line for the user to select.
class Xterm {
public:
    ~Xterm();
    // Starts it and waits until its window is there.
    bool start(const QString &script);
    quint64 window() const { return m_window; }
    // Selects `line` with a triple click, as a user does; xterm makes it the primary selection.
    bool selectLine(const QString &line);
    QProcess &process() { return m_process; }

private:
    QProcess m_process;
    quint64 m_window = 0;
};

// The test front application (tests/x11target) in its own process, driven by line commands.
class TargetClient {
public:
    TargetClient();
    ~TargetClient();

    // Starts it (or `program`, which speaks the same commands) and waits until its window is
    // active and its editor has the focus.
    bool start(const QString &program = {}, const QStringList &arguments = {});

    // Sends one command line and returns the answer line, or nothing after `timeout`.
    std::optional<QByteArray> command(
        const QByteArray &line, std::chrono::milliseconds timeout = std::chrono::seconds(10));

    // Replaces the text and selects all of it.
    bool setText(const QString &text) { return ok("set " + text.toUtf8().toBase64()); }
    bool select(int start, int end)
    {
        return ok("select " + QByteArray::number(start) + ' ' + QByteArray::number(end));
    }
    QString text();
    bool hasFocus() { return command("focus") == QByteArray("focus 1"); }
    bool activate() { return ok("activate"); }
    QStringList keys();
    bool clearKeys() { return ok("clearkeys"); }
    bool setPasteDelay(int ms) { return ok("pastedelay " + QByteArray::number(ms)); }
    // Waits until the text is `text`; answers when that happened on the steady clock (in µs since
    // its epoch, comparable across processes), or nothing after `timeout`.
    std::optional<qint64> waitForText(const QString &text, std::chrono::milliseconds timeout);
    // Takes the clipboard with these formats (MIME type → bytes), in the target's process.
    bool setClipboard(const QList<QPair<QString, QByteArray>> &formats);

    qint64 pid() const { return m_process.processId(); }

private:
    // Sends a command whose answer is "ok" when it was done.
    bool ok(const QByteArray &line) { return command(line) == QByteArray("ok"); }

    QProcess m_process;
    QByteArray m_buffer;
};

} // namespace TestX11
