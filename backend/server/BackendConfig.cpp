#include "BackendConfig.h"

#include <charconv>
#include <fstream>

extern char **environ;

namespace Backend {

namespace {

std::string trim(const std::string &s)
{
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    const auto last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

bool parseNumber(const std::string &s, long &value)
{
    const char *begin = s.data(), *end = s.data() + s.size();
    const auto [ptr, ec] = std::from_chars(begin, end, value);
    return ec == std::errc() && ptr == end;
}

// A number of seconds above 0 and at most `most`.
bool parseSeconds(const std::string &s, double most, std::chrono::milliseconds &timeout)
{
    try {
        std::size_t used = 0;
        const double secondsValue = std::stod(s, &used);
        if (used != s.size() || !(secondsValue > 0) || secondsValue > most)
            return false;
        timeout = std::chrono::milliseconds(static_cast<long long>(secondsValue * 1000.0 + 0.5));
        return timeout.count() > 0;
    } catch (const std::exception &) {
        return false;
    }
}

std::string lookup(const std::map<std::string, std::string> &env, const char *name)
{
    const auto it = env.find(name);
    return it == env.end() ? std::string() : it->second;
}

// key = value lines; '#' starts a comment line.
bool readConfigFile(const std::string &path, std::map<std::string, std::string> &values, std::string &error)
{
    std::ifstream in(path);
    if (!in)
        return true; // no file: nothing configured
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        const std::string entry = trim(line);
        if (entry.empty() || entry.front() == '#')
            continue;
        const auto equals = entry.find('=');
        if (equals == std::string::npos) {
            error = path + ":" + std::to_string(number) + ": expected \"key = value\"";
            return false;
        }
        const std::string key = trim(entry.substr(0, equals));
        if (key != "openai_url" && key != "openai_model" && key != "openai_api_key"
            && key != "openai_timeout") {
            error = path + ":" + std::to_string(number) + ": unknown key \"" + key + "\"";
            return false;
        }
        values[key] = trim(entry.substr(equals + 1));
    }
    return true;
}

} // namespace

std::map<std::string, std::string> processEnvironment()
{
    std::map<std::string, std::string> env;
    for (char **e = environ; e && *e; ++e) {
        const std::string entry = *e;
        const auto equals = entry.find('=');
        if (equals != std::string::npos)
            env.emplace(entry.substr(0, equals), entry.substr(equals + 1));
    }
    return env;
}

bool parseListenAddress(const std::string &value, std::string &host, int &port, std::string &error)
{
    std::string hostPart, portPart;
    if (!value.empty() && value.front() == '[') {
        const auto close = value.find(']');
        if (close == std::string::npos || close + 1 >= value.size() || value[close + 1] != ':') {
            error = "--listen expects HOST:PORT or [IPv6]:PORT, got \"" + value + "\"";
            return false;
        }
        hostPart = value.substr(1, close - 1);
        portPart = value.substr(close + 2);
    } else {
        const auto colon = value.rfind(':');
        if (colon == std::string::npos || value.find(':') != colon) {
            error = "--listen expects HOST:PORT or [IPv6]:PORT, got \"" + value + "\"";
            return false;
        }
        hostPart = value.substr(0, colon);
        portPart = value.substr(colon + 1);
    }
    long number = -1;
    if (hostPart.empty() || !parseNumber(portPart, number) || number < 0 || number > 65535) {
        error = "--listen expects HOST:PORT with a port from 0 to 65535, got \"" + value + "\"";
        return false;
    }
    host = hostPart;
    port = static_cast<int>(number);
    return true;
}

bool loadBackendConfig(const std::vector<std::string> &args, const std::map<std::string, std::string> &env,
    BackendConfig &config, std::string &error)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        auto value = [&](std::string &out) {
            const auto equals = arg.find('=');
            if (equals != std::string::npos) {
                out = arg.substr(equals + 1);
                return true;
            }
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        const std::string name = arg.substr(0, arg.find('='));
        if (name == "--help" || name == "-h") {
            config.help = true;
        } else if (name == "--allow-remote") {
            config.allowRemote = true;
        } else if (name == "--listen") {
            std::string v;
            if (!value(v) || !parseListenAddress(v, config.host, config.port, error))
                return false;
        } else if (name == "--threads") {
            std::string v;
            long n = 0;
            if (!value(v))
                return false;
            if (!parseNumber(v, n) || n < 1 || n > 256) {
                error = "--threads expects a number from 1 to 256, got \"" + v + "\"";
                return false;
            }
            config.threads = static_cast<std::size_t>(n);
        } else if (name == "--allow-origin") {
            std::string v, origin;
            if (!value(v))
                return false;
            if (!normaliseOrigin(v, origin)) {
                error = "--allow-origin expects an origin such as https://example.com "
                        "(scheme://host[:port]), got \""
                    + v + "\"";
                return false;
            }
            config.allowedOrigins.push_back(origin);
        } else if (name == "--budget") {
            std::string v;
            if (!value(v))
                return false;
            if (!parseSeconds(v, 600, config.budget)) {
                error = "--budget expects a number of CPU seconds above 0 and at most 600, got \"" + v + "\"";
                return false;
            }
        } else if (name == "--correct") {
            if (!value(config.correctMode))
                return false;
            if (config.correctMode != "fix" && config.correctMode != "formal") {
                error = "--correct expects \"fix\" or \"formal\"";
                return false;
            }
        } else {
            error = "unknown argument \"" + arg + "\" (see --help)";
            return false;
        }
    }

    const std::string xdg = lookup(env, "XDG_CONFIG_HOME");
    const std::string home = lookup(env, "HOME");
    if (!xdg.empty() && xdg.front() == '/')
        config.configDir = xdg + "/tarnwick";
    else if (!home.empty())
        config.configDir = home + "/.config/tarnwick";
    if (!config.configDir.empty()) {
        config.allowListFile = config.configDir + "/allowed-words.txt";
        config.configFile = config.configDir + "/backend.conf";
    }

    std::map<std::string, std::string> values;
    if (!config.configFile.empty() && !readConfigFile(config.configFile, values, error))
        return false;
    // The environment wins over the file.
    const std::pair<const char *, const char *> variables[] = {
        {"TARNWICK_OPENAI_URL", "openai_url"},
        {"TARNWICK_OPENAI_MODEL", "openai_model"},
        {"TARNWICK_OPENAI_API_KEY", "openai_api_key"},
        {"TARNWICK_OPENAI_TIMEOUT", "openai_timeout"},
    };
    for (const auto &[variable, key] : variables)
        if (env.count(variable))
            values[key] = lookup(env, variable);

    config.upstream.url = values["openai_url"];
    if (!values["openai_model"].empty())
        config.upstream.model = values["openai_model"];
    config.upstream.apiKey = values["openai_api_key"];
    if (!values["openai_timeout"].empty()
        && !parseSeconds(values["openai_timeout"], 600, config.upstream.timeout)) {
        error = "the upstream timeout must be a number of seconds above 0 and at most 600, got \""
            + values["openai_timeout"] + "\"";
        return false;
    }
    return true;
}

std::string usageText()
{
    return R"(Usage: tarnwick-backend [--listen HOST:PORT] [--allow-remote] [--allow-origin ORIGIN]...
                        [--budget SECONDS] [--threads N]
       tarnwick-backend --correct fix|formal [--budget SECONDS] < text

The reference correction backend for Tarnwick. Serves POST /api/fix-text with a JSON
object {"text": ..., "mode": "fix" | "formal"}, sent with Content-Type: application/json,
and answers {"ok": true, "text": ...}.

Options:
  --listen HOST:PORT  address to listen on (default 127.0.0.1:8787; port 0 picks a free one)
  --allow-remote      listen on a HOST that is not a loopback address and answer requests
                      for any host name (by default the Host header must name a loopback
                      address or localhost)
  --allow-origin ORIGIN
                      answer requests that web pages of ORIGIN (scheme://host[:port]) send;
                      requests with any other Origin header are refused (repeatable)
  --budget SECONDS    CPU time the offline corrector spends on one request (default 2); the
                      text past that point comes back as it was sent
  --threads N         connections served at once (default 64)
  --correct MODE      correct standard input offline, print the result and exit
  -h, --help          show this text

Offline correction (the default) uses GNU Aspell (en_US), codespell's table of common
misspellings and a few safe rules. Words listed one per line in
  $XDG_CONFIG_HOME/tarnwick/allowed-words.txt  (default ~/.config/tarnwick/)
are never corrected.

Upstream correction through an OpenAI-compatible /v1/chat/completions endpoint is used
instead when a URL is configured, in the environment or in
$XDG_CONFIG_HOME/tarnwick/backend.conf (key = value lines; the environment wins):
  TARNWICK_OPENAI_URL      openai_url      base URL, e.g. https://api.openai.com
  TARNWICK_OPENAI_MODEL    openai_model    model name (default gpt-4o-mini)
  TARNWICK_OPENAI_API_KEY  openai_api_key  bearer token (never logged)
  TARNWICK_OPENAI_TIMEOUT  openai_timeout  seconds (default 15)
)";
}

} // namespace Backend
