#include "app/CommandLine.h"

#include "app/APIClient.h"
#include "app/AppConfig.h"
#include "app/CommandChannel.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QStringDecoder>

#include <QCoroTask>

namespace CommandLine {

namespace {

void writeAll(std::FILE *stream, const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

bool readAll(std::FILE *stream, QByteArray &bytes)
{
    char chunk[65536];
    for (;;) {
        const size_t count = std::fread(chunk, 1, sizeof chunk, stream);
        bytes.append(chunk, qsizetype(count));
        if (count < sizeof chunk)
            return !std::ferror(stream);
    }
}

QCoro::Task<> fetchCorrection(
    APIClient api, QString text, FixMode mode, std::optional<FixTextResult> &result, QEventLoop &loop)
{
    result = co_await api.fixText(std::move(text), mode);
    loop.quit();
}

int correct(FixMode mode, std::FILE *input, std::FILE *output, std::FILE *errors)
{
    // First, so that a bad configuration is reported before anything is read.
    const QUrl baseURL = AppConfig::backendURL();

    QByteArray bytes;
    if (!readAll(input, bytes)) {
        writeAll(errors, "tarnwick: cannot read standard input\n");
        return exitFailure;
    }
    // The text goes out unchanged: a leading byte-order mark is kept, and anything that is not
    // UTF-8 is refused rather than sent with replacement characters.
    QStringDecoder decoder(QStringConverter::Utf8,
        QStringConverter::Flag::ConvertInitialBom | QStringConverter::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        writeAll(errors, "tarnwick: standard input is not valid UTF-8\n");
        return exitFailure;
    }

    QNetworkAccessManager session;
    const APIClient api(baseURL, &session);
    std::optional<FixTextResult> result;
    QEventLoop loop;
    fetchCorrection(api, text, mode, result, loop);
    if (!result)
        loop.exec();
    if (!result->hasValue()) {
        writeAll(errors, result->error().errorDescription().toUtf8() + '\n');
        return exitFailure;
    }
    writeAll(output, result->value().toUtf8());
    return exitSuccess;
}

} // namespace

Command parse(const QStringList &arguments)
{
    if (arguments.isEmpty())
        return {Action::TrayApplication, {}};
    if (arguments.size() == 1) {
        const QString &argument = arguments.first();
        if (argument == QLatin1String("fix"))
            return {Action::Fix, {}};
        if (argument == QLatin1String("formal"))
            return {Action::Formal, {}};
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h"))
            return {Action::Help, {}};
        if (argument == QLatin1String("--settings"))
            return {Action::OpenSettings, {}};
        if (argument == QLatin1String("--quit"))
            return {Action::Quit, {}};
    }
    if (arguments.first() == QLatin1String("--trigger")) {
        const bool knownMode = arguments.size() > 1
            && (arguments.at(1) == QLatin1String("fix") || arguments.at(1) == QLatin1String("formal"));
        if (knownMode && arguments.size() == 2)
            return {arguments.at(1) == QLatin1String("fix") ? Action::TriggerFix : Action::TriggerFormal, {}};
        if (arguments.size() == 1)
            return {Action::UsageError, arguments.first()};
        return {Action::UsageError, arguments.at(knownMode ? 2 : 1)};
    }
    const bool knownFirst = arguments.first() == QLatin1String("fix")
        || arguments.first() == QLatin1String("formal") || arguments.first() == QLatin1String("--help")
        || arguments.first() == QLatin1String("-h") || arguments.first() == QLatin1String("--settings")
        || arguments.first() == QLatin1String("--quit");
    return {Action::UsageError, knownFirst ? arguments.at(1) : arguments.first()};
}

QString helpText()
{
    return QStringLiteral(
        "Usage: tarnwick [fix | formal | --trigger fix|formal | --settings | --quit |\n"
        "                 --diagnose | --help]\n"
        "\n"
        "Corrects selected text in place through a correction backend.\n"
        "\n"
        "  (no argument)     Start the tray application: select text anywhere and press\n"
        "                    Ctrl+Shift+E to fix it or Ctrl+Alt+E to make it formal.\n"
        "  fix               Read text from standard input, print it with spelling and\n"
        "                    grammar fixed to standard output.\n"
        "  formal            Read text from standard input, print a formal version of it.\n"
        "  --trigger MODE    Have the running Tarnwick correct the selected text now, in\n"
        "                    MODE fix or formal, as its shortcut would.\n"
        "  --settings        Open the running Tarnwick's settings window.\n"
        "  --quit            Quit the running Tarnwick.\n"
        "  --diagnose        Print the session type, what the desktop offers, and which\n"
        "                    implementation serves each part of Tarnwick and why.\n"
        "  --help, -h        Show this help.\n"
        "\n"
        "The input must be UTF-8; the corrected text is printed exactly as the backend\n"
        "returns it, without an added newline. On failure the reason is printed to\n"
        "standard error and the exit status is 1 (2 for a usage error). Commands for the\n"
        "running Tarnwick go over the session bus; without one running they fail with\n"
        "status 1.\n"
        "\n"
        "Examples:\n"
        "  echo 'teh cat sat' | tarnwick fix\n"
        "  tarnwick formal < draft.txt > letter.txt\n"
        "  tarnwick --trigger fix\n"
        "\n"
        "Environment:\n"
        "  QUARVEL_BACKEND_URL  Base URL of the backend (default http://127.0.0.1:8787).\n");
}

int run(
    const Command &command, int &argc, char **argv, std::FILE *input, std::FILE *output, std::FILE *errors)
{
    switch (command.action) {
    case Action::Help:
        writeAll(output, helpText().toUtf8());
        return exitSuccess;
    case Action::UsageError:
        writeAll(errors,
            "tarnwick: unexpected argument '" + command.badArgument.toUtf8() + "'\n"
                + "Usage: tarnwick [fix | formal | --trigger fix|formal | --settings | --quit | --diagnose | "
                  "--help]\n");
        return exitUsage;
    case Action::TriggerFix:
    case Action::TriggerFormal:
    case Action::OpenSettings:
    case Action::Quit: {
        QCoreApplication app(argc, argv);
        if (command.action == Action::OpenSettings)
            return CommandChannel::send(QStringLiteral("OpenSettings"), {}, errors);
        if (command.action == Action::Quit)
            return CommandChannel::send(QStringLiteral("Quit"), {}, errors);
        return CommandChannel::send(QStringLiteral("Trigger"),
            {wireString(command.action == Action::TriggerFix ? FixMode::Fix : FixMode::Formal)}, errors);
    }
    case Action::Fix:
    case Action::Formal: {
        QCoreApplication app(argc, argv);
        return correct(command.action == Action::Fix ? FixMode::Fix : FixMode::Formal, input, output, errors);
    }
    case Action::TrayApplication:
        break;
    }
    writeAll(errors, "tarnwick: the tray application is not started from here\n");
    return exitFailure;
}

} // namespace CommandLine
