#pragma once

#include "Access.h"
#include "Upstream.h"

#include <map>
#include <string>
#include <vector>

namespace Backend {

// Everything the executable is told by its command line, environment and configuration files.
struct BackendConfig {
    std::string host = "127.0.0.1";
    int port = 8787;
    bool allowRemote = false; // listen on, and answer to, names other than loopback ones
    std::vector<std::string> allowedOrigins; // normalised
    std::chrono::milliseconds budget {2000}; // CPU time the offline corrector may spend on one request
    std::size_t threads = 64;
    bool help = false;
    std::string correctMode; // --correct MODE: correct standard input once and exit

    std::string configDir; // $XDG_CONFIG_HOME/tarnwick, or ~/.config/tarnwick
    std::string allowListFile; // <configDir>/allowed-words.txt
    std::string configFile; // <configDir>/backend.conf
    UpstreamConfig upstream;
};

// Reads the command line (`args` without the program name) and the environment `env`, then the
// configuration file it names. Returns false with `error` set on a bad argument or value.
bool loadBackendConfig(const std::vector<std::string> &args, const std::map<std::string, std::string> &env,
    BackendConfig &config, std::string &error);

// The process environment as a map.
std::map<std::string, std::string> processEnvironment();

// Splits "HOST:PORT" or "[IPv6]:PORT"; PORT 0 asks for any free port.
bool parseListenAddress(const std::string &value, std::string &host, int &port, std::string &error);

// The --help text.
std::string usageText();

} // namespace Backend
