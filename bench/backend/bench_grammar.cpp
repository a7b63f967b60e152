// Grammar quality of the offline corrector on held-out sentences: the share of sentences with
// everyday mistakes that come back exactly as a careful editor would write them, and the correct
// sentences that are changed (the target is none). Also times 1,000 words of such sentences.
//
// Usage: bench_grammar [--all] [DIR...]
// Default: the development set (data/dev, which the rules were written against) and the held-out
// set (data/heldout, written by someone else without seeing the rules), reported apart.
// --all lists every sentence not fixed exactly, not only the first ones.

#include "corrector/Corrector.h"
#include "corrector/CpuBudget.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

using namespace Backend;

namespace {

struct Case {
    Mode mode;
    std::string input, expected; // `expected` empty: the input is right as it is
    int line = 0;
};

// Lines of "mode<TAB>text[<TAB>correction]"; '#' starts a comment line.
std::vector<Case> readCases(const std::string &path)
{
    std::vector<Case> cases;
    std::ifstream in(path);
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (line.empty() || line[0] == '#')
            continue;
        const std::size_t tab1 = line.find('\t'), tab2 = line.find('\t', tab1 + 1);
        if (tab1 == std::string::npos) {
            std::fprintf(stderr, "%s: line without a tab: %s\n", path.c_str(), line.c_str());
            continue;
        }
        Case c;
        c.mode = line.compare(0, tab1, "formal") == 0 ? Mode::Formal : Mode::Fix;
        c.input = line.substr(tab1 + 1, tab2 == std::string::npos ? std::string::npos : tab2 - tab1 - 1);
        c.expected = tab2 == std::string::npos ? c.input : line.substr(tab2 + 1);
        c.line = number;
        cases.push_back(std::move(c));
    }
    return cases;
}

// The figures of one set of sentences (a directory with grammar-wrong.tsv and grammar-right.tsv);
// false when it has none.
bool evaluate(const Corrector &corrector, const std::string &dir, const char *label, bool all)
{
    const std::vector<Case> wrong = readCases(dir + "/grammar-wrong.tsv");
    const std::vector<Case> right = readCases(dir + "/grammar-right.tsv");
    if (wrong.empty() || right.empty()) {
        std::fprintf(stderr, "no sentences read from %s\n", dir.c_str());
        return false;
    }
    std::printf("=== %s (%s)\n", label, dir.c_str());
    // Optional: "line<TAB>category" for the lines of grammar-wrong.tsv.
    std::map<int, std::string> categoryOf;
    std::ifstream categories(dir + "/grammar-wrong.categories.tsv");
    for (std::string line; std::getline(categories, line);)
        if (!line.empty() && line[0] != '#' && line.find('\t') != std::string::npos)
            categoryOf[std::atoi(line.c_str())] = line.substr(line.find('\t') + 1);
    std::map<std::string, std::pair<int, int>> byCategory; // fixed, all
    std::size_t fixed = 0, changed = 0, shown = 0;
    const std::size_t limit = all ? SIZE_MAX : 25;
    std::printf("not fixed exactly (typed | result | expected):\n");
    for (const Case &c : wrong) {
        const std::string out = corrector.correct(c.input, c.mode);
        if (const auto it = categoryOf.find(c.line); it != categoryOf.end()) {
            byCategory[it->second].first += out == c.expected;
            ++byCategory[it->second].second;
        }
        if (out == c.expected)
            ++fixed;
        else if (shown++ < limit)
            std::printf("  %s\n  %s\n  %s\n\n", c.input.c_str(), out.c_str(), c.expected.c_str());
    }
    std::printf("correct sentences changed (typed | result):\n");
    for (const Case &c : right) {
        const std::string out = corrector.correct(c.input, c.mode);
        if (out != c.expected) {
            ++changed;
            std::printf("  %s\n  %s\n\n", c.input.c_str(), out.c_str());
        }
    }

    // 1,000 words of the same sentences, wrong and right mixed, in one text.
    std::string text;
    std::size_t words = 0;
    for (std::size_t i = 0; words < 1000; ++i) {
        const Case &c = i % 2 ? right[i / 2 % right.size()] : wrong[i / 2 % wrong.size()];
        if (c.mode != Mode::Fix)
            continue;
        text += c.input + (i % 5 == 4 ? "\n" : " ");
        words += static_cast<std::size_t>(std::count(c.input.begin(), c.input.end(), ' ')) + 1;
    }
    std::vector<double> cpu;
    for (int round = 0; round < 50; ++round) {
        const auto t0 = threadCpuTime();
        corrector.correct(text, Mode::Fix);
        cpu.push_back(std::chrono::duration<double, std::milli>(threadCpuTime() - t0).count());
    }
    std::sort(cpu.begin(), cpu.end());

    for (const auto &[category, counts] : byCategory)
        std::printf("  %-40s %3d of %3d\n", category.c_str(), counts.first, counts.second);
    std::printf("%s: wrong sentences fixed exactly: %zu of %zu (%.1f%%)\n", label, fixed, wrong.size(),
        100.0 * double(fixed) / double(wrong.size()));
    std::printf("%s: correct sentences changed:     %zu of %zu\n", label, changed, right.size());
    std::printf(
        "%s: %zu words of these sentences, \"fix\": median %.2f ms of CPU, slowest %.2f ms (50 runs)\n\n",
        label, words, cpu[cpu.size() / 2], cpu.back());
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    bool all = false;
    std::vector<std::string> dirs;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--all")
            all = true;
        else
            dirs.push_back(arg);
    }
    const Corrector corrector;
    for (const std::string &warning : corrector.warnings())
        std::fprintf(stderr, "warning: %s\n", warning.c_str());
    bool ok = true;
    if (dirs.empty()) {
        ok = evaluate(corrector, std::string(TARNWICK_BENCH_DATA) + "/dev", "development set", all);
        ok = evaluate(corrector, std::string(TARNWICK_BENCH_DATA) + "/heldout", "held-out set", all) && ok;
    }
    for (const std::string &dir : dirs)
        ok = evaluate(corrector, dir, "sentences", all) && ok;
    return ok ? 0 : 1;
}
