#include "app/CommandLine.h"

#include <QStringList>

#include <cstdio>

namespace {

// The tray application is not part of this build yet.
int runTrayApplication(int &argc, char **argv)
{
    Q_UNUSED(argc);
    Q_UNUSED(argv);
    std::fputs("tarnwick: the tray application is not available yet; see tarnwick --help\n", stderr);
    return CommandLine::exitFailure;
}

} // namespace

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const CommandLine::Command command = CommandLine::parse(arguments);
    if (command.action == CommandLine::Action::TrayApplication)
        return runTrayApplication(argc, argv);
    return CommandLine::run(command, argc, argv);
}
