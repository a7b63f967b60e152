// Correction quality of the offline "fix" mode. Injects one-edit typos (deletion, insertion,
// substitution of a neighbouring key, swap of two letters) into clean English text, corrects it
// paragraph by paragraph, and counts typos fixed, wrong fixes and missed typos; also counts the
// changes made to the same text without typos.
//
// Usage: bench_quality [--rate PERCENT] [--seed N] [--rounds N] [--examples N] [FILE...]
// Default: everyday English (mail, chat, notes), reported apart for the development set
// (data/dev/everyday.txt, which the corrector was tuned on) and the held-out set
// (data/heldout/everyday.txt, written by someone else and never tuned on), with typos injected 20
// times over with seeds N, N+1, ...

#include "corrector/Corrector.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace Backend;

namespace {

const std::map<char, std::string> kNeighbours = {
    {'q', "wa"},
    {'w', "qase"},
    {'e', "wsdr"},
    {'r', "edft"},
    {'t', "rfgy"},
    {'y', "tghu"},
    {'u', "yhji"},
    {'i', "ujko"},
    {'o', "iklp"},
    {'p', "ol"},
    {'a', "qwsz"},
    {'s', "awedxz"},
    {'d', "serfcx"},
    {'f', "drtgvc"},
    {'g', "ftyhbv"},
    {'h', "gyujnb"},
    {'j', "huikmn"},
    {'k', "jiolm"},
    {'l', "kop"},
    {'z', "asx"},
    {'x', "zsdc"},
    {'c', "xdfv"},
    {'v', "cfgb"},
    {'b', "vghn"},
    {'n', "bhjm"},
    {'m', "njk"},
};

std::vector<std::string> splitParagraphs(const std::string &text)
{
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find("\n\n", start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start)
            out.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return out;
}

std::vector<std::string> splitTokens(const std::string &s)
{
    std::vector<std::string> out;
    std::istringstream in(s);
    for (std::string t; in >> t;)
        out.push_back(t);
    return out;
}

bool isLowerWord(const std::string &w)
{
    return !w.empty() && std::all_of(w.begin(), w.end(), [](char c) { return c >= 'a' && c <= 'z'; });
}

std::string typo(const std::string &word, std::mt19937 &random)
{
    std::uniform_int_distribution<int> kindOf(0, 3);
    std::string w = word;
    const auto pick
        = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };
    switch (kindOf(random)) {
    case 0: // deletion
        w.erase(pick(w.size()), 1);
        break;
    case 1: { // insertion of a neighbour of the next letter
        const std::size_t at = pick(w.size());
        const std::string &near = kNeighbours.at(w[at]);
        w.insert(at, 1, near[pick(near.size())]);
        break;
    }
    case 2: { // substitution by a neighbouring key
        const std::size_t at = pick(w.size());
        const std::string &near = kNeighbours.at(w[at]);
        w[at] = near[pick(near.size())];
        break;
    }
    default: { // transposition
        const std::size_t at = pick(w.size() - 1);
        std::swap(w[at], w[at + 1]);
        break;
    }
    }
    return w;
}

// Splits a chunk like "(software," into its leading punctuation, word and trailing punctuation.
bool wordOf(const std::string &chunk, std::size_t &begin, std::size_t &end)
{
    begin = 0;
    while (begin < chunk.size() && std::strchr("(\"'[", chunk[begin]))
        ++begin;
    end = chunk.size();
    while (end > begin && std::strchr(").,;:!?\"']", chunk[end - 1]))
        --end;
    return end > begin;
}

// Injects typos into `files` `rounds` times over and prints the figures under `label`.
void measure(const Corrector &corrector, Speller &checker, const std::vector<std::string> &files, int rounds,
    unsigned seed, double rate, std::size_t examples, const std::string &label)
{
    std::printf("=== %s\n", label.c_str());
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> chance(0.0, 100.0);
    std::size_t words = 0, cleanChanged = 0, typos = 0, realWordTypos = 0, fixed = 0, wrong = 0, missed = 0,
                collateral = 0;
    std::vector<std::string> cleanExamples, wrongExamples, missedExamples;
    double correctSeconds = 0;
    std::size_t correctedWords = 0;

    for (int round = 0; round < rounds; ++round) {
        random.seed(seed + static_cast<unsigned>(round));
        for (const std::string &file : files) {
            std::ifstream in(file);
            const std::string text {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
            for (const std::string &paragraph : splitParagraphs(text)) {
                const std::vector<std::string> original = splitTokens(paragraph);
                if (round == 0)
                    words += original.size();

                // The clean paragraph.
                const auto t0 = std::chrono::steady_clock::now();
                const std::string cleanOut = corrector.correct(paragraph, Mode::Fix);
                correctSeconds
                    += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
                correctedWords += original.size();
                const std::vector<std::string> cleanTokens = splitTokens(cleanOut);
                if (round > 0) {
                    // Counted in the first round.
                } else if (cleanTokens.size() != original.size()) {
                    ++cleanChanged;
                    if (cleanExamples.size() < examples)
                        cleanExamples.push_back("(token count) " + paragraph.substr(0, 80));
                } else {
                    for (std::size_t i = 0; i < original.size(); ++i)
                        if (cleanTokens[i] != original[i]) {
                            ++cleanChanged;
                            if (cleanExamples.size() < examples)
                                cleanExamples.push_back(original[i] + " -> " + cleanTokens[i] + "   ("
                                    + (i > 1 ? original[i - 2] + " " : "")
                                    + (i > 0 ? original[i - 1] + " " : "") + original[i]
                                    + (i + 1 < original.size() ? " " + original[i + 1] : "")
                                    + (i + 2 < original.size() ? " " + original[i + 2] : "") + ")");
                        }
                }

                // The same paragraph with typos, keeping its white space.
                std::string damaged;
                std::vector<int> typoAt(
                    original.size(), 0); // 1: detectable typo, 2: typo forming a real word
                std::vector<std::string> damagedTokens = original;
                std::size_t pos = 0, index = 0;
                while (pos < paragraph.size()) {
                    if (std::isspace(static_cast<unsigned char>(paragraph[pos]))) {
                        damaged += paragraph[pos++];
                        continue;
                    }
                    std::size_t end = pos;
                    while (
                        end < paragraph.size() && !std::isspace(static_cast<unsigned char>(paragraph[end])))
                        ++end;
                    std::string chunk = paragraph.substr(pos, end - pos);
                    std::size_t b, e;
                    if (wordOf(chunk, b, e)) {
                        const std::string word = chunk.substr(b, e - b);
                        if (isLowerWord(word) && word.size() >= 4 && chance(random) < rate) {
                            const std::string bad = typo(word, random);
                            chunk = chunk.substr(0, b) + bad + chunk.substr(e);
                            typoAt[index] = checker.check(bad) ? 2 : 1;
                            damagedTokens[index] = chunk;
                        }
                    }
                    damaged += chunk;
                    pos = end;
                    ++index;
                }
                const std::vector<std::string> out = splitTokens(corrector.correct(damaged, Mode::Fix));
                if (out.size() != original.size())
                    continue; // a doubled word was removed; the clean run counted it already
                for (std::size_t i = 0; i < original.size(); ++i) {
                    if (typoAt[i] == 2) {
                        ++realWordTypos;
                        continue;
                    }
                    if (typoAt[i] == 0) {
                        if (out[i] != original[i] && out[i] != cleanTokens[i])
                            ++collateral;
                        continue;
                    }
                    ++typos;
                    if (out[i] == original[i] || out[i] == cleanTokens[i]) {
                        ++fixed;
                    } else if (out[i] == damagedTokens[i]) {
                        ++missed;
                        if (missedExamples.size() < examples)
                            missedExamples.push_back(original[i] + " -> " + damagedTokens[i]);
                    } else {
                        ++wrong;
                        if (wrongExamples.size() < examples)
                            wrongExamples.push_back(original[i] + " -> " + damagedTokens[i] + " -> " + out[i]
                                + "   (" + (i > 0 ? original[i - 1] + " " : "") + original[i]
                                + (i + 1 < original.size() ? " " + original[i + 1] : "") + ")");
                    }
                }
            }
        }
    }

    const auto percent = [](std::size_t a, std::size_t b) { return b ? 100.0 * double(a) / double(b) : 0.0; };
    std::printf(
        "files: %zu, words: %zu, typo rate: %.1f%% of lower-case words of 4+ letters, seeds %u to %u\n",
        files.size(), words, rate, seed, seed + static_cast<unsigned>(rounds) - 1);
    std::printf(
        "clean text: %zu words changed (%.3f%% of words)\n", cleanChanged, percent(cleanChanged, words));
    std::printf(
        "typos: %zu detectable (+%zu that formed another real word, not counted)\n", typos, realWordTypos);
    std::printf("  fixed:       %5zu  %.1f%%\n", fixed, percent(fixed, typos));
    std::printf("  wrong fixes: %5zu  %.1f%%\n", wrong, percent(wrong, typos));
    std::printf("  missed:      %5zu  %.1f%%\n", missed, percent(missed, typos));
    std::printf("  other words changed because of nearby typos: %zu\n", collateral);
    std::printf("speed on the clean text: %.1f ms per 1,000 words (wall clock)\n",
        correctedWords ? 1000.0 * correctSeconds / double(correctedWords) * 1000.0 : 0.0);
    const auto list = [](const char *title, const std::vector<std::string> &items) {
        if (items.empty())
            return;
        std::printf("%s\n", title);
        for (const auto &item : items)
            std::printf("  %s\n", item.c_str());
    };
    list("changes to clean text (first ones):", cleanExamples);
    list("wrong fixes (original -> typo -> result):", wrongExamples);
    list("missed (original -> typo):", missedExamples);
}

} // namespace

int main(int argc, char **argv)
{
    double rate = 5.0;
    unsigned seed = 20240607;
    std::size_t examples = 15;
    int rounds = 0;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--rate" && i + 1 < argc)
            rate = std::stod(argv[++i]);
        else if (arg == "--seed" && i + 1 < argc)
            seed = static_cast<unsigned>(std::stoul(argv[++i]));
        else if (arg == "--rounds" && i + 1 < argc)
            rounds = std::stoi(argv[++i]);
        else if (arg == "--examples" && i + 1 < argc)
            examples = std::stoul(argv[++i]);
        else
            files.push_back(arg);
    }
    const bool standard = files.empty();
    if (standard && rounds == 0)
        rounds = 20;
    rounds = std::max(rounds, 1);

    const Corrector corrector;
    if (!corrector.hasSpeller()) {
        std::cerr << "Aspell en_US is needed\n";
        return 1;
    }
    std::string error;
    auto checker = Speller::open("en_US", error);

    if (!standard) {
        measure(corrector, *checker, files, rounds, seed, rate, examples, "given texts");
        return 0;
    }
    for (const auto &[set, label] :
        {std::pair {"dev", "development set"}, std::pair {"heldout", "held-out set"}}) {
        const std::string file = std::string(TARNWICK_BENCH_DATA) + "/" + set + "/everyday.txt";
        if (std::ifstream(file))
            measure(corrector, *checker, {file}, rounds, seed, rate, examples,
                std::string(label) + " (" + file + ")");
        else
            std::fprintf(stderr, "%s: not found\n", file.c_str());
    }
    return 0;
}
