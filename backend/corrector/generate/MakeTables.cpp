// Makes the corrector's word tables when the program is built, from Debian packages:
//   wordnet-base  parts of speech (index.*), irregular forms (*.exc), tagged-corpus counts
//                 (cntlist.rev), and glosses with example sentences (data.*) as text
//   codespell     its table of common misspellings
//   scowl         how common each word is (the size levels of the spelling word lists)
//   fortunes      quotations, jokes and dialogue: everyday sentences, as text
// The two texts (some two million words) give how often each word and each pair of neighbouring
// words occurs, which ranks spelling candidates by their context.
//
// Usage: tarnwick_make_tables BLOB SOURCE [--wordnet DIR] [--codespell FILE] [--scowl DIR]
//        [--fortunes DIR]
// Writes the block to BLOB and a C++ file that links it into the program to SOURCE. A missing
// source is an error naming its package: the corrector is not built without its knowledge.

#include "../Tables.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

using namespace Backend;
namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const std::string &message)
{
    std::fprintf(stderr, "tarnwick_make_tables: %s\n", message.c_str());
    std::exit(1);
}

std::string readFile(const std::string &path, const char *package)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        fail("cannot read " + path + " (package " + package + ")");
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

template <typename Handle> void forEachLine(std::string_view text, Handle handle)
{
    while (!text.empty()) {
        const auto end = text.find('\n');
        handle(text.substr(0, end));
        if (end == std::string_view::npos)
            break;
        text.remove_prefix(end + 1);
    }
}

std::string_view trim(std::string_view s)
{
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

bool isLowerWord(std::string_view s, std::string_view alsoAllowed = {})
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [&](char c) {
        return (c >= 'a' && c <= 'z') || alsoAllowed.find(c) != std::string_view::npos;
    });
}

bool endsWith(std::string_view s, std::string_view suffix)
{
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

struct Sources {
    std::string wordnet = "/usr/share/wordnet";
    std::string codespell;
    std::string scowl = "/usr/share/dict/scowl";
    std::string fortunes = "/usr/share/games/fortunes";
};

// Where Debian's codespell package keeps its dictionary (the path has Python's version in it).
std::string findCodespellDictionary()
{
    std::ifstream list("/var/lib/dpkg/info/codespell.list");
    for (std::string line; std::getline(list, line);)
        if (endsWith(line, "/codespell_lib/data/dictionary.txt") && line.find("/build/") == std::string::npos)
            return line;
    fail("codespell's dictionary not found (package codespell)");
}

struct Counts {
    std::unordered_map<std::string, std::uint32_t> words;
    std::map<std::pair<std::string, std::string>, std::uint32_t> pairs;
    std::uint64_t total = 0;

    // Counts the words of `text` and the pairs of words with only spaces or a line break between
    // them. Words are ASCII letters with inner apostrophes, in lower case; anything else (a comma,
    // a digit, a hyphen) ends a run of neighbours.
    void add(std::string_view text)
    {
        std::string previous, word;
        const auto isLetter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
        for (std::size_t i = 0; i < text.size();) {
            const char c = text[i];
            if (!isLetter(c)) {
                if (c != ' ' && c != '\n' && c != '\t')
                    previous.clear();
                ++i;
                continue;
            }
            word.clear();
            while (i < text.size()
                && (isLetter(text[i])
                    || (text[i] == '\'' && !word.empty() && i + 1 < text.size() && isLetter(text[i + 1])))) {
                word += static_cast<char>(text[i] >= 'A' && text[i] <= 'Z' ? text[i] - 'A' + 'a' : text[i]);
                ++i;
            }
            if (i < text.size() && (text[i] >= '0' && text[i] <= '9')) {
                previous.clear(); // "mp3", "b2b"
                continue;
            }
            ++words[word];
            ++total;
            if (!previous.empty())
                ++pairs[{previous, word}];
            previous = word;
        }
    }
};

// WordNet's glosses and examples: the text after "| " on each line of the data files.
void addGlosses(const Sources &s, Counts &counts)
{
    for (const char *name : {"noun", "verb", "adj", "adv"}) {
        const std::string data = readFile(s.wordnet + "/data." + name, "wordnet-base");
        forEachLine(data, [&](std::string_view line) {
            if (line.empty() || line[0] == ' ')
                return; // the licence at the top
            const auto bar = line.find(" | ");
            if (bar != std::string_view::npos)
                counts.add(line.substr(bar + 3));
        });
    }
}

// The fortunes, each one between lines of "%"; the pictures made of characters are left out.
void addFortunes(const Sources &s, Counts &counts)
{
    std::error_code error;
    std::vector<fs::path> files;
    for (const auto &entry : fs::directory_iterator(s.fortunes, error))
        if (entry.is_regular_file() && !entry.path().has_extension() && entry.path().filename() != "art"
            && entry.path().filename() != "ascii-art")
            files.push_back(entry.path());
    if (files.empty())
        fail("no fortunes in " + s.fortunes + " (package fortunes)");
    std::sort(files.begin(), files.end());
    for (const fs::path &file : files)
        counts.add(readFile(file.string(), "fortunes"));
}

struct WordNet {
    std::map<std::string, WordInfo> words; // lemmas
    TablesWriter::StringMap exceptions[4];
    TablesWriter::StringMap irregular, pastToBase, participleToBase;
};

WordNet readWordNet(const Sources &s)
{
    WordNet wn;
    static const char *names[4] = {"noun", "verb", "adj", "adv"};
    std::map<std::string, std::string> exceptions[4];
    for (int p = 0; p < 4; ++p) {
        forEachLine(readFile(s.wordnet + "/index." + names[p], "wordnet-base"), [&](std::string_view line) {
            const std::string_view lemma = line.substr(0, line.find(' '));
            if (isLowerWord(lemma))
                wn.words[std::string(lemma)].pos |= static_cast<std::uint8_t>(1 << p);
        });
        forEachLine(
            readFile(s.wordnet + "/" + names[p] + ".exc", "wordnet-base"), [&](std::string_view line) {
                const auto space = line.find(' ');
                const std::string_view form = line.substr(0, space);
                if (space == std::string_view::npos || !isLowerWord(form))
                    return;
                std::string lemmas;
                for (std::string_view rest = line.substr(space + 1); !rest.empty();) {
                    const auto end = rest.find(' ');
                    const std::string_view lemma = trim(rest.substr(0, end));
                    if (isLowerWord(lemma))
                        lemmas += (lemmas.empty() ? "" : " ") + std::string(lemma);
                    if (end == std::string_view::npos)
                        break;
                    rest.remove_prefix(end + 1);
                }
                if (!lemmas.empty())
                    exceptions[p][std::string(form)] = lemmas;
            });
        wn.exceptions[p].assign(exceptions[p].begin(), exceptions[p].end());
    }
    // Sense counts: "lemma%S:..." where S is 1 noun, 2 verb, 3 adjective, 4 adverb, 5 adjective.
    forEachLine(readFile(s.wordnet + "/cntlist.rev", "wordnet-base"), [&](std::string_view line) {
        const auto percent = line.find('%'), last = line.rfind(' ');
        if (percent == std::string_view::npos || last == std::string_view::npos || percent + 1 >= line.size())
            return;
        const auto found = wn.words.find(std::string(line.substr(0, percent)));
        if (found == wn.words.end())
            return;
        const int type = line[percent + 1] - '0';
        const int slot = type == 5 ? 2 : type - 1;
        if (slot < 0 || slot > 3)
            return;
        const unsigned long sum = found->second.senses[slot]
            + std::strtoul(std::string(line.substr(last + 1)).c_str(), nullptr, 10);
        found->second.senses[slot] = static_cast<std::uint16_t>(std::min(sum, 65535ul));
    });

    // Irregular verbs: the past and the past participle among each base's exception forms.
    std::map<std::string, std::vector<std::string>> formsOf;
    for (const auto &[form, lemmas] : exceptions[1]) {
        if (endsWith(form, "ing") || form == "has" || form == "does" || form == "goes")
            continue;
        for (std::string_view rest = lemmas; !rest.empty();) {
            const auto end = rest.find(' ');
            const std::string base(rest.substr(0, end));
            if (base != "be")
                formsOf[base].push_back(form);
            if (end == std::string_view::npos)
                break;
            rest.remove_prefix(end + 1);
        }
    }
    for (auto &[base, forms] : formsOf) {
        std::sort(forms.begin(), forms.end());
        std::string past, participle;
        if (forms.size() == 1) {
            past = forms[0];
            // "come, came, come", "run, ran, run": the participle is the base.
            participle = endsWith(base, "come") || endsWith(base, "run") ? base : forms[0];
        } else if (forms.size() == 2) {
            const auto isParticiple = [](const std::string &a, const std::string &b) {
                if ((endsWith(a, "n") || endsWith(a, "ne")) && !endsWith(b, "n") && !endsWith(b, "ne"))
                    return true;
                // "begun, began", "sung, sang"
                return a.size() == b.size() && a.find('u') != std::string::npos
                    && b.find('a') != std::string::npos;
            };
            if (isParticiple(forms[0], forms[1])) {
                past = forms[1];
                participle = forms[0];
            } else if (isParticiple(forms[1], forms[0])) {
                past = forms[0];
                participle = forms[1];
            } else {
                continue;
            }
        } else {
            continue;
        }
        // "I have got" is as right as "I have gotten".
        if (base == "get")
            participle = past;
        wn.irregular.emplace_back(base, past + " " + participle);
        wn.pastToBase.emplace_back(past, base);
        wn.participleToBase.emplace_back(participle, base);
    }
    const auto unique = [](TablesWriter::StringMap &map) {
        std::stable_sort(
            map.begin(), map.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
        map.erase(std::unique(map.begin(), map.end(),
                      [](const auto &a, const auto &b) { return a.first == b.first; }),
            map.end());
    };
    unique(wn.pastToBase);
    unique(wn.participleToBase);
    return wn;
}

// codespell's "wrong->right" lines with a single correction.
TablesWriter::StringMap readMisspellings(const Sources &s)
{
    TablesWriter::StringMap map;
    std::set<std::string> seen;
    forEachLine(readFile(s.codespell, "codespell"), [&](std::string_view line) {
        const std::string_view entry = trim(line);
        const auto arrow = entry.find("->");
        if (arrow == std::string_view::npos)
            return;
        const std::string_view wrong = trim(entry.substr(0, arrow)), right = trim(entry.substr(arrow + 2));
        // A comma means several candidates or a reason not to fix automatically.
        if (right.find(',') != std::string_view::npos || !isLowerWord(wrong) || !isLowerWord(right, " '"))
            return;
        if (seen.insert(std::string(wrong)).second)
            map.emplace_back(wrong, right);
    });
    if (map.empty())
        fail("no misspellings read from " + s.codespell + " (package codespell)");
    return map;
}

// SCOWL's levels: the word lists of every English spelling, 10 for the commonest words to 95.
std::map<std::string, std::uint8_t> readLevels(const Sources &s)
{
    std::map<std::string, std::uint8_t> levels;
    for (int level : {10, 20, 35, 40, 50, 55, 60, 70}) {
        for (const char *list : {"english-words", "american-words", "british-words", "canadian-words",
                 "english-contractions", "variant_1-words"}) {
            const std::string path = s.scowl + "/" + list + "." + std::to_string(level);
            std::ifstream in(path, std::ios::binary);
            if (!in)
                continue;
            for (std::string line; std::getline(in, line);) {
                const std::string_view word = trim(line);
                if (isLowerWord(word, "'"))
                    levels.emplace(std::string(word), static_cast<std::uint8_t>(level));
            }
        }
    }
    if (levels.size() < 10000)
        fail("SCOWL's word lists not found in " + s.scowl + " (package scowl)");
    return levels;
}

std::uint64_t fnv64(std::string_view data)
{
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : data) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3)
        fail("usage: tarnwick_make_tables BLOB SOURCE [--wordnet DIR] [--codespell FILE] [--scowl DIR] "
             "[--fortunes DIR]");
    Sources sources;
    for (int i = 3; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        std::string *target = option == "--wordnet" ? &sources.wordnet
            : option == "--codespell"               ? &sources.codespell
            : option == "--scowl"                   ? &sources.scowl
            : option == "--fortunes"                ? &sources.fortunes
                                                    : nullptr;
        if (!target)
            fail("unknown option " + option);
        *target = argv[i + 1];
    }
    if (sources.codespell.empty())
        sources.codespell = findCodespellDictionary();

    WordNet wordNet = readWordNet(sources);
    const std::map<std::string, std::uint8_t> levels = readLevels(sources);
    Counts counts;
    addGlosses(sources, counts);
    addFortunes(sources, counts);

    // The words: WordNet's lemmas, SCOWL's lists, and words seen at least twice in the texts.
    std::map<std::string, WordInfo> words = std::move(wordNet.words);
    for (const auto &[word, level] : levels)
        words[word].level = level;
    for (const auto &[word, n] : counts.words)
        if (n >= 2 || words.count(word))
            words[word].count = n;
    std::vector<std::pair<std::pair<std::string, std::string>, std::uint32_t>> pairs;
    for (const auto &[pair, n] : counts.pairs)
        if (n >= 2 && words.count(pair.first) && words.count(pair.second))
            pairs.emplace_back(pair, n);

    TablesWriter writer;
    writer.setWords({words.begin(), words.end()});
    writer.setMisspellings(readMisspellings(sources));
    for (int p = 0; p < 4; ++p)
        writer.setExceptions(p, std::move(wordNet.exceptions[p]));
    writer.setIrregularVerbs(
        std::move(wordNet.irregular), std::move(wordNet.pastToBase), std::move(wordNet.participleToBase));
    const std::size_t pairCount = pairs.size();
    writer.setPairs(std::move(pairs));
    writer.setCorpusWords(counts.total);
    const std::string block = writer.build();

    const std::string blobPath = argv[1], sourcePath = argv[2];
    std::ofstream blob(blobPath, std::ios::binary | std::ios::trunc);
    blob.write(block.data(), static_cast<std::streamsize>(block.size()));
    if (!blob.flush())
        fail("cannot write " + blobPath);
    // The hash of the block makes the source change with the data, so that a compiler cache does
    // not hand back an object file with the old block in it.
    char hash[17];
    std::snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(fnv64(block)));
    std::ofstream source(sourcePath, std::ios::trunc);
    source << "// Generated by tarnwick_make_tables: the corrector's word tables (" << block.size()
           << " bytes, hash " << hash << ").\n#include \"corrector/Tables.h\"\n\n"
           << "__asm__(\".section .rodata\\n.balign 64\\n.globl tarnwick_tables\\n.hidden tarnwick_tables\\n"
              "tarnwick_tables:\\n.incbin \\\""
           << blobPath
           << "\\\"\\n.globl tarnwick_tables_end\\n.hidden tarnwick_tables_end\\ntarnwick_tables_end:\\n"
              ".byte 0\\n.previous\\n\");\n\n"
           << "extern \"C\" const char tarnwick_tables[], tarnwick_tables_end[];\n\n"
           << "const Backend::Tables &Backend::Tables::builtIn()\n{\n"
           << "    static const Tables tables(std::string_view(\n"
           << "        tarnwick_tables, static_cast<std::size_t>(tarnwick_tables_end - tarnwick_tables)));\n"
           << "    return tables;\n}\n";
    if (!source.flush())
        fail("cannot write " + sourcePath);
    std::printf("word tables: %zu words, %zu pairs of %zu, %llu words of text, %zu bytes\n", words.size(),
        pairCount, counts.pairs.size(), static_cast<unsigned long long>(counts.total), block.size());
    return 0;
}
