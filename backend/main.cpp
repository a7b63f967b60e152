// tarnwick-backend: the reference correction backend that Tarnwick sends selected text to.

#include "corrector/Corrector.h"
#include "server/BackendConfig.h"
#include "server/BackendServer.h"
#include "server/Upstream.h"

#include <csignal>
#include <iostream>
#include <iterator>
#include <pthread.h>
#include <thread>

using namespace Backend;

namespace {

int correctStandardInput(const Corrector &corrector, const BackendConfig &config)
{
    const std::string text {std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()};
    const Mode mode = config.correctMode == "formal" ? Mode::Formal : Mode::Fix;
    std::cout << corrector.correct(text, mode, config.budget).text;
    return std::cout.good() ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    BackendConfig config;
    std::string error;
    if (!loadBackendConfig(
            std::vector<std::string>(argv + 1, argv + argc), processEnvironment(), config, error)) {
        std::cerr << "tarnwick-backend: " << error << "\n";
        return 2;
    }
    if (config.help) {
        std::cout << usageText();
        return 0;
    }

    CorrectorOptions correctorOptions;
    correctorOptions.allowListFile = config.allowListFile;
    const Corrector corrector(correctorOptions);
    if (!config.correctMode.empty())
        return correctStandardInput(corrector, config);

    if (!config.allowRemote && !isLoopbackHost(config.host)) {
        std::cerr << "tarnwick-backend: refusing to listen on " << config.host
                  << ", which is not a loopback address: anyone who can reach it could use the backend"
                  << (config.upstream.enabled() ? " and the upstream account" : "")
                  << ". Pass --allow-remote to do it anyway.\n";
        return 2;
    }

    OpenAiUpstream upstream;
    if (config.upstream.enabled() && !upstream.configure(config.upstream, error)) {
        std::cerr << "tarnwick-backend: " << error << "\n";
        return 2;
    }

    // Signals are taken by one thread with sigwait, so they are blocked before any other
    // thread starts and every thread inherits the mask.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    ServerOptions options;
    options.threads = config.threads;
    options.access.anyHost = config.allowRemote;
    options.access.origins = config.allowedOrigins;
    options.budget = config.budget;
    BackendServer server(corrector, config.upstream.enabled() ? &upstream : nullptr, options, logToStderr);
    if (!server.bind(config.host, config.port, error)) {
        std::cerr << "tarnwick-backend: " << error << "\n";
        return 1;
    }

    for (const std::string &warning : corrector.warnings())
        logToStderr("tarnwick-backend: warning: " + warning);
    // Tarnwick waits 20 s for an answer: past that it gives up before our 502 could tell why.
    if (config.upstream.enabled() && config.upstream.timeout >= std::chrono::seconds(20))
        logToStderr("tarnwick-backend: warning: the upstream timeout is not below the 20 s that Tarnwick waits for "
                    "an answer; set openai_timeout to 15 or less");
    const std::string shownHost
        = config.host.find(':') != std::string::npos ? "[" + config.host + "]" : config.host;
    std::string engine = "offline corrector (" + corrector.summary() + ")";
    if (config.upstream.enabled())
        engine = "upstream " + upstream.endpoint() + " model " + config.upstream.model
            + (config.upstream.apiKey.empty() ? " without an API key" : " with an API key");
    logToStderr("tarnwick-backend: listening on http://" + shownHost + ":" + std::to_string(server.port())
        + " with " + engine);

    std::thread signalThread([&server, signals] {
        int received = 0;
        sigwait(&signals, &received);
        if (received == SIGINT || received == SIGTERM)
            logToStderr(std::string("tarnwick-backend: ") + (received == SIGINT ? "SIGINT" : "SIGTERM")
                + ", shutting down");
        server.stop();
    });
    const bool served = server.run();
    // Wake the signal thread if serving ended on its own.
    pthread_kill(signalThread.native_handle(), SIGTERM);
    signalThread.join();
    if (!served) {
        std::cerr << "tarnwick-backend: serving stopped with an error\n";
        return 1;
    }
    logToStderr("tarnwick-backend: stopped");
    return 0;
}
