// How long the backend takes from being started to its first answer: the desktop program starts
// it on demand, so this is part of the wait for the first correction. Starts the backend on a free
// loopback port, sends a small "fix" request in a tight loop until one is answered with 200, and
// stops it; repeated, with the median, quickest and slowest runs, and the processor time and
// memory the backend had used by then.
//
// Usage: bench_startup [--runs N] [BACKEND]   (default: the tarnwick-backend of this build)

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

int freePort()
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    if (bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0
        || getsockname(s, reinterpret_cast<sockaddr *>(&a), &length) != 0) {
        close(s);
        return 0;
    }
    close(s);
    return ntohs(a.sin_port);
}

// One request; true when the answer's status is 200.
bool answered(int port)
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = false;
    if (connect(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0) {
        const std::string body = R"({"text":"I recieve teh letter.","mode":"fix"})";
        const std::string request = "POST /api/fix-text HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port)
            + "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size())
            + "\r\nConnection: close\r\n\r\n" + body;
        if (send(s, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
            char reply[64] = {};
            std::size_t got = 0;
            for (ssize_t n; got < 12 && (n = recv(s, reply + got, sizeof reply - 1 - got, 0)) > 0;)
                got += static_cast<std::size_t>(n);
            ok = std::strncmp(reply, "HTTP/1.1 200", 12) == 0;
        }
    }
    close(s);
    return ok;
}

double processorMs(pid_t pid)
{
    // utime and stime in clock ticks, fields 14 and 15 of /proc/PID/stat.
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    FILE *f = std::fopen(path, "r");
    if (!f)
        return -1;
    char buffer[1024] = {};
    const std::size_t n = std::fread(buffer, 1, sizeof buffer - 1, f);
    std::fclose(f);
    buffer[n] = '\0';
    const char *p = std::strrchr(buffer, ')');
    unsigned long utime = 0, stime = 0;
    if (!p || std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime) != 2)
        return -1;
    return 1000.0 * double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

// Resident memory in KiB (VmRSS of /proc/PID/status).
long residentKiB(pid_t pid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/status", static_cast<int>(pid));
    FILE *f = std::fopen(path, "r");
    long kib = -1;
    for (char line[256]; f && std::fgets(line, sizeof line, f);)
        if (std::sscanf(line, "VmRSS: %ld", &kib) == 1)
            break;
    if (f)
        std::fclose(f);
    return kib;
}

} // namespace

int main(int argc, char **argv)
{
    int runs = 20;
    std::string backend = TARNWICK_BACKEND_EXECUTABLE;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else
            backend = arg;
    }
    std::vector<double> ready, processor, resident;
    for (int run = 0; run < runs; ++run) {
        const int port = freePort();
        const std::string listen = "127.0.0.1:" + std::to_string(port);
        const auto start = Clock::now();
        const pid_t pid = fork();
        if (pid == 0) {
            std::freopen("/dev/null", "w", stderr);
            execl(backend.c_str(), backend.c_str(), "--listen", listen.c_str(), static_cast<char *>(nullptr));
            _exit(127);
        }
        bool ok = false;
        while (Clock::now() - start < std::chrono::seconds(10)) {
            if (answered(port)) {
                ok = true;
                break;
            }
            if (waitpid(pid, nullptr, WNOHANG) == pid)
                break;
            usleep(200);
        }
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        const double cpu = processorMs(pid);
        resident.push_back(double(residentKiB(pid)));
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
        if (!ok) {
            std::fprintf(stderr, "%s gave no answer within 10 s\n", backend.c_str());
            return 1;
        }
        ready.push_back(ms);
        processor.push_back(cpu);
    }
    std::sort(ready.begin(), ready.end());
    std::sort(processor.begin(), processor.end());
    std::sort(resident.begin(), resident.end());
    std::printf("start to first 200 reply, %d runs: median %.1f ms, quickest %.1f ms, slowest %.1f ms\n",
        runs, ready[ready.size() / 2], ready.front(), ready.back());
    std::printf("processor time used by then (10 ms ticks): median %.0f ms; resident memory %.0f KiB\n",
        processor[processor.size() / 2], resident[resident.size() / 2]);
    return 0;
}
