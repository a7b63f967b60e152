#include "SessionProbe.h"
#include "TrayMain.h"
#include "app/CommandLine.h"

#include <QStringList>

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    // Probing names implementations, so it is the composition root's, not the command line's.
    if (arguments == QStringList {QStringLiteral("--diagnose")})
        return runDiagnose(argc, argv);
    const CommandLine::Command command = CommandLine::parse(arguments);
    if (command.action == CommandLine::Action::TrayApplication)
        return runTrayApplication(argc, argv);
    return CommandLine::run(command, argc, argv);
}
