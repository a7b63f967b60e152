#pragma once

#include <QString>
#include <QStringList>

#include <cstdio>

// The command-line modes: `tarnwick fix` and `tarnwick formal` correct standard input without any
// display; `tarnwick --trigger fix|formal`, `--settings` and `--quit` send a command to the running
// instance over the session bus; `tarnwick --help` explains them. With no argument the tray
// application starts.
namespace CommandLine {

enum class Action {
    TrayApplication, // no argument
    Fix,
    Formal,
    TriggerFix,
    TriggerFormal,
    OpenSettings,
    Quit,
    Help,
    UsageError, // anything else
};

struct Command {
    Action action = Action::TrayApplication;
    QString badArgument; // the first argument not understood, for UsageError
};

// Exit statuses of the command-line modes.
inline constexpr int exitSuccess = 0;
inline constexpr int exitFailure = 1;
inline constexpr int exitUsage = 2;

// Reads the arguments that follow the program name.
Command parse(const QStringList &arguments);

QString helpText();

// Runs any action other than TrayApplication and returns the process's exit status. Creates its
// own QCoreApplication (no display needed); reads `input` and writes to `output` and `errors`.
int run(const Command &command, int &argc, char **argv, std::FILE *input = stdin, std::FILE *output = stdout,
    std::FILE *errors = stderr);

} // namespace CommandLine
