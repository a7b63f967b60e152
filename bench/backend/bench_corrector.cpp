// Latency of the offline corrector for 100 and 1,000 words of English (clean and with typos),
// throughput with one Aspell speller per thread against one shared speller behind a lock, and
// the memory that spellers take, and a body of 100,000 unknown words under the processor-time
// budget that the server applies.
//
// Usage: bench_corrector [TEXT_FILE]   (default /usr/share/common-licenses/GPL-3)

#include "corrector/Corrector.h"
#include "corrector/CpuBudget.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace Backend;
using Clock = std::chrono::steady_clock;

namespace {

double threadCpuMs()
{
    return std::chrono::duration<double, std::milli>(threadCpuTime()).count();
}

// `count` made-up words of five letters (about 600 KB for 100,000): none is in any dictionary,
// so each one costs Aspell's suggestions.
std::string unknownWords(std::size_t count, unsigned seed)
{
    std::mt19937 random(seed);
    const auto pick = [&](std::string_view letters) {
        return letters[std::uniform_int_distribution<std::size_t>(0, letters.size() - 1)(random)];
    };
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        out += i ? " " : "";
        for (int k = 0; k < 2; ++k) {
            out += pick("bcdfghjklmnpqrstvwxz");
            out += pick("aeiouy");
        }
        out += pick("bcdfgklmnprst");
    }
    return out;
}

void budgetRow(
    const Corrector &corrector, const char *what, const std::string &text, std::chrono::milliseconds budget)
{
    const double c0 = threadCpuMs();
    const auto t0 = Clock::now();
    const Correction result = corrector.correct(text, Mode::Fix, budget);
    const double wall = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    std::printf("  %-44s cpu %7.0f ms  wall %7.0f ms  %s, %.1f%% of %zu bytes corrected\n", what,
        threadCpuMs() - c0, wall, result.complete ? "complete" : "budget ran out",
        100.0 * double(result.correctedBytes) / double(text.size()), text.size());
}

long rssKb(const char *field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0)
            return std::stol(line.substr(std::strlen(field)));
    return -1;
}

// The first `count` words of `text`, with its line breaks.
std::string firstWords(const std::string &text, std::size_t count)
{
    std::size_t words = 0, pos = 0;
    bool inWord = false;
    for (; pos < text.size(); ++pos) {
        const bool space = std::isspace(static_cast<unsigned char>(text[pos]));
        if (!space && !inWord && ++words > count)
            break;
        inWord = !space;
    }
    return text.substr(0, pos);
}

// Swaps two letters in about `percent` of the lower-case words of 4+ letters.
std::string withTypos(const std::string &text, double percent, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> chance(0, 100);
    std::string out = text;
    std::size_t pos = 0;
    while (pos < out.size()) {
        std::size_t end = pos;
        while (end < out.size() && out[end] >= 'a' && out[end] <= 'z')
            ++end;
        if (end - pos >= 4 && chance(random) < percent) {
            const std::size_t at = pos + std::uniform_int_distribution<std::size_t>(0, end - pos - 2)(random);
            std::swap(out[at], out[at + 1]);
        }
        pos = end + 1;
    }
    return out;
}

struct Stats {
    double medianWall, p95Wall, medianCpu;
};

template <typename Make> Stats measure(const Corrector &corrector, Mode mode, int iterations, Make makeText)
{
    std::vector<double> wall, cpu;
    for (int i = 0; i < iterations; ++i) {
        const std::string text = makeText(i);
        const double c0 = threadCpuMs();
        const auto t0 = Clock::now();
        const std::string out = corrector.correct(text, mode);
        wall.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
        cpu.push_back(threadCpuMs() - c0);
        if (out.empty())
            std::abort();
    }
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    return {wall[wall.size() / 2], wall[wall.size() * 95 / 100], cpu[cpu.size() / 2]};
}

void row(const char *what, const Stats &s)
{
    std::printf(
        "  %-44s median %7.3f ms  p95 %7.3f ms  cpu %7.3f ms\n", what, s.medianWall, s.p95Wall, s.medianCpu);
}

double throughput(
    const Corrector &corrector, int threads, bool sharedSpeller, const std::string &text, int perThread)
{
    std::mutex lock;
    std::vector<std::thread> workers;
    const auto t0 = Clock::now();
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&] {
            for (int i = 0; i < perThread; ++i) {
                if (sharedSpeller) {
                    std::lock_guard guard(lock);
                    corrector.correct(text, Mode::Fix);
                } else {
                    corrector.correct(text, Mode::Fix);
                }
            }
        });
    for (auto &w : workers)
        w.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    return threads * perThread / seconds;
}

} // namespace

int main(int argc, char **argv)
{
    const std::string path = argc > 1 ? argv[1] : "/usr/share/common-licenses/GPL-3";
    std::ifstream in(path);
    const std::string source {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (source.empty()) {
        std::cerr << "cannot read " << path << "\n";
        return 1;
    }
    const long rssStart = rssKb("VmRSS:");
    const auto t0 = Clock::now();
    const Corrector corrector;
    const double loadMs = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    const long rssLoaded = rssKb("VmRSS:");
    std::printf("corrector: %s; loaded in %.0f ms, +%ld KiB\n", corrector.summary().c_str(), loadMs,
        rssLoaded - rssStart);
    std::printf("hardware threads: %u\n\n", std::thread::hardware_concurrency());

    const std::string w100 = firstWords(source, 100), w1000 = firstWords(source, 1000);
    const std::string w100typos = withTypos(w100, 3, 1), w1000typos = withTypos(w1000, 3, 1);
    for (int i = 0; i < 3; ++i) {
        corrector.correct(w1000, Mode::Fix);
        corrector.correct(w1000typos, Mode::Fix);
    }
    std::printf("latency, mode \"fix\" (text from %s):\n", path.c_str());
    row("100 words, clean", measure(corrector, Mode::Fix, 400, [&](int) { return w100; }));
    row("100 words, 3% typos (repeated)", measure(corrector, Mode::Fix, 400, [&](int) { return w100typos; }));
    row("100 words, 3% typos never seen before",
        measure(corrector, Mode::Fix, 200, [&](int i) { return withTypos(w100, 3, 1000 + i); }));
    row("1,000 words, clean", measure(corrector, Mode::Fix, 100, [&](int) { return w1000; }));
    row("1,000 words, 3% typos (repeated)",
        measure(corrector, Mode::Fix, 100, [&](int) { return w1000typos; }));
    row("1,000 words, 3% typos never seen before",
        measure(corrector, Mode::Fix, 40, [&](int i) { return withTypos(w1000, 3, 5000 + i); }));
    std::printf("latency, mode \"formal\":\n");
    row("1,000 words, clean", measure(corrector, Mode::Formal, 100, [&](int) { return w1000; }));

    std::printf("\nbudget of 2 s of processor time, 100,000 unknown words:\n");
    const std::string unknown = unknownWords(100000, 7);
    budgetRow(corrector, "first time", unknown, std::chrono::milliseconds(2000));
    budgetRow(corrector, "again (suggestions cached)", unknown, std::chrono::milliseconds(2000));
    std::printf("  (no budget: about %.0f s, from the first 2,000 words)\n",
        measure(corrector, Mode::Fix, 1, [&](int) { return unknownWords(2000, 8); }).medianCpu * 50 / 1000);

    std::printf("\nthroughput, 100 words with typos, corrections per second:\n");
    for (int threads : {1, 2, 4}) {
        const double own = throughput(corrector, threads, false, w100typos, 400);
        const double shared = throughput(corrector, threads, true, w100typos, 400);
        std::printf("  %d thread(s): speller per thread %8.0f/s, one speller behind a lock %8.0f/s\n",
            threads, own, shared);
    }

    const long beforeSpellers = rssKb("VmRSS:");
    const std::size_t before = corrector.spellers().created();
    {
        std::vector<SpellerPool::Lease> leases;
        for (int i = 0; i < 16; ++i)
            leases.push_back(corrector.spellers().acquire());
    }
    const std::size_t added = corrector.spellers().created() - before;
    const long afterSpellers = rssKb("VmRSS:");
    std::printf(
        "\nmemory: %zu more spellers took %ld KiB (%.0f KiB each); peak RSS of this process %ld KiB\n", added,
        afterSpellers - beforeSpellers, added ? double(afterSpellers - beforeSpellers) / double(added) : 0.0,
        rssKb("VmHWM:"));
    return 0;
}
