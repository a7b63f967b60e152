// Measures what the terminal mode adds at the start of every run: recognising the window in front,
// checking who owns the primary selection and reading it from a real xterm.
#include "Measure.h"
#include "platform/qt/TerminalTable.h"
#include "platform/fake/MemoryUserDefaults.h"
#include "platform/x11/X11FrontWindow.h"
#include "platform/x11/X11PrimarySelection.h"

#include <QApplication>
#include <QProcess>
#include <QTextStream>
#include <QThread>

namespace {

bool runTool(const QString &program, const QStringList &arguments, QString *output = nullptr)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(15000) || process.exitCode() != 0)
        return false;
    if (output)
        *output = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QTextStream out(stdout);

    Platform::MemoryUserDefaults defaults;
    QStringList extra;
    for (int i = 0; i < 20; ++i)
        extra.append(QStringLiteral("UserTerminal%1").arg(i));
    defaults.setValue(Platform::TerminalTable::terminalClassesKey(), extra);
    defaults.setValue(
        Platform::TerminalTable::nonTerminalClassesKey(), QStringList {QStringLiteral("URxvt")});
    int hits = 0;
    const QStringList classes {
        QStringLiteral("XTerm"), QStringLiteral("Firefox"), QStringLiteral("usertermINAL7")};
    measure("TerminalTable::isTerminal, 20 user classes", 200000, [&](int i) {
        hits += Platform::TerminalTable::builtIn().isTerminal(classes.at(i % 3), defaults) ? 1 : 0;
    });

    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        out << "no X display: run under scripts/with-xvfb.sh for the X11 figures\n";
        return hits > 0 ? 0 : 1;
    }

    const QString title = QStringLiteral("tarnwick-bench-%1").arg(QCoreApplication::applicationPid());
    QProcess xterm;
    xterm.start(QStringLiteral("xterm"),
        {QStringLiteral("-title"), title, QStringLiteral("-geometry"), QStringLiteral("60x8+20+20"),
            QStringLiteral("-e"), QStringLiteral("sh"), QStringLiteral("-c"),
            QStringLiteral("printf 'Ths is a tset\\n'; exec cat")});
    QString window;
    if (!xterm.waitForStarted()
        || !runTool(QStringLiteral("xdotool"),
            {QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--limit"),
                QStringLiteral("1"), QStringLiteral("--name"), title},
            &window)
        || !runTool(
            QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"), window})
        || !runTool(QStringLiteral("xdotool"),
            {QStringLiteral("mousemove"), QStringLiteral("--window"), window, QStringLiteral("30"),
                QStringLiteral("8"), QStringLiteral("click"), QStringLiteral("--repeat"), QStringLiteral("3"),
                QStringLiteral("--delay"), QStringLiteral("80"), QStringLiteral("1")})) {
        out << "could not start and select in xterm\n";
        return 1;
    }
    QThread::msleep(200);
    app.processEvents();

    const Platform::X11::X11FrontWindow front;
    const Platform::X11::X11PrimarySelection primary;
    Platform::FrontWindowInfo info;
    measure("X11FrontWindow::current (xterm focused)", 2000, [&](int) { info = front.current(); });
    out << "  front window class: " << info.windowClass << "\n";
    measure("X11PrimarySelection::isOwnedBy (xterm's selection)", 2000,
        [&](int) { hits += primary.isOwnedBy(info) ? 1 : 0; });
    qsizetype read = 0;
    measure("X11PrimarySelection::stringOwnedBy (reads the text from xterm)", 200,
        [&](int) { read += primary.stringOwnedBy(info).value_or(QString()).size(); });
    out << "  characters read per call: " << read / 200 << "\n";

    xterm.kill();
    xterm.waitForFinished();
    return read > 0 ? 0 : 1;
}
