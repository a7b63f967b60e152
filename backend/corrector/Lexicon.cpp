#include "Lexicon.h"

#include <fstream>
#include <iterator>

namespace Backend {

namespace {

std::string_view trim(std::string_view s)
{
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    const auto last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

bool isLowerWord(std::string_view s, bool allowSpacesAndApostrophes)
{
    if (s.empty())
        return false;
    for (char c : s) {
        if (c >= 'a' && c <= 'z')
            continue;
        if (allowSpacesAndApostrophes && (c == ' ' || c == '\''))
            continue;
        return false;
    }
    return true;
}

// The whole file, or nothing when it cannot be read.
bool readFile(const std::string &path, std::string &contents)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    contents.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

// Calls `handle` with each line of `contents`.
template <typename Handle> void forEachLine(std::string_view contents, Handle handle)
{
    while (!contents.empty()) {
        const auto end = contents.find('\n');
        handle(contents.substr(0, end));
        if (end == std::string_view::npos)
            break;
        contents.remove_prefix(end + 1);
    }
}

} // namespace

std::string toLower(std::string_view s)
{
    std::string out(s);
    for (char &c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::size_t Lexicon::loadMisspellings(const std::string &path)
{
    std::string contents;
    if (!readFile(path, contents))
        return 0;
    std::size_t count = 0;
    m_misspellings.reserve(m_misspellings.size() + contents.size() / 24);
    forEachLine(contents, [&](std::string_view line) {
        const std::string_view entry = trim(line);
        const auto arrow = entry.find("->");
        if (arrow == std::string_view::npos)
            return;
        const std::string_view wrong = trim(entry.substr(0, arrow));
        const std::string_view right = trim(entry.substr(arrow + 2));
        // A comma means several candidates or a reason not to fix automatically.
        if (right.find(',') != std::string_view::npos)
            return;
        if (!isLowerWord(wrong, false) || !isLowerWord(right, true))
            return;
        m_misspellings[std::string(wrong)] = std::string(right);
        ++count;
    });
    return count;
}

std::size_t Lexicon::loadFrequencies(const std::string &path)
{
    std::string contents;
    if (!readFile(path, contents))
        return 0;
    const std::size_t before = m_frequency.size();
    m_frequency.reserve(m_frequency.size() + contents.size() / 40);
    forEachLine(contents, [&](std::string_view line) {
        const auto percent = line.find('%');
        const auto lastSpace = line.rfind(' ');
        if (percent == std::string_view::npos || lastSpace == std::string_view::npos || lastSpace < percent)
            return;
        const std::string_view lemma = line.substr(0, percent);
        if (!isLowerWord(lemma, false))
            return; // names, multi-word lemmas
        unsigned count = 0;
        for (char c : trim(line.substr(lastSpace + 1))) {
            if (c < '0' || c > '9')
                return;
            count = count * 10 + static_cast<unsigned>(c - '0');
        }
        m_frequency[std::string(lemma)] += count + 1;
    });
    return m_frequency.size() - before;
}

unsigned Lexicon::frequency(std::string_view lower) const
{
    // The most frequent English words, which a sense-tagged corpus does not count.
    static const std::unordered_set<std::string_view> functionWords = {"a", "about", "above", "after",
        "again", "against", "all", "also", "although", "always", "am", "among", "an", "and", "another", "any",
        "are", "as", "at", "be", "because", "been", "before", "being", "below", "between", "both", "but",
        "by", "can", "could", "did", "do", "does", "doing", "done", "down", "during", "each", "either",
        "enough", "even", "ever", "every", "few", "for", "from", "further", "had", "has", "have", "having",
        "he", "her", "here", "hers", "herself", "him", "himself", "his", "how", "however", "i", "if", "in",
        "into", "is", "it", "its", "itself", "just", "least", "less", "may", "me", "might", "more", "most",
        "much", "must", "my", "myself", "neither", "never", "no", "nor", "not", "now", "of", "off", "often",
        "on", "once", "one", "only", "onto", "or", "other", "others", "ought", "our", "ours", "ourselves",
        "out", "over", "own", "per", "rather", "same", "shall", "she", "should", "since", "so", "some",
        "such", "than", "that", "the", "their", "theirs", "them", "themselves", "then", "there", "therefore",
        "these", "they", "this", "those", "though", "through", "thus", "to", "too", "toward", "towards",
        "under", "unless", "until", "up", "upon", "us", "very", "was", "we", "were", "what", "whatever",
        "when", "where", "whereas", "whether", "which", "while", "who", "whom", "whose", "why", "will",
        "with", "within", "without", "would", "yet", "you", "your", "yours", "yourself", "yourselves"};
    if (functionWords.count(lower))
        return 100000;
    const auto find = [this](std::string_view w) -> unsigned {
        const auto it = m_frequency.find(w);
        return it == m_frequency.end() ? 0 : it->second;
    };
    unsigned best = find(lower);
    // Inflected forms count as their lemma: "copies", "copied", "copying", "tiles", "making".
    const auto tryStem = [&](std::string_view suffix, std::string_view replacement) {
        if (lower.size() > suffix.size() + 2 && lower.substr(lower.size() - suffix.size()) == suffix) {
            std::string stem(lower.substr(0, lower.size() - suffix.size()));
            stem += replacement;
            best = std::max(best, find(stem));
        }
    };
    tryStem("s", "");
    tryStem("es", "");
    tryStem("ies", "y");
    tryStem("ed", "");
    tryStem("ed", "e");
    tryStem("ied", "y");
    tryStem("ing", "");
    tryStem("ing", "e");
    tryStem("er", "");
    tryStem("ly", "");
    return best;
}

std::size_t Lexicon::loadAllowList(const std::string &path)
{
    std::ifstream in(path);
    if (!in)
        return 0;
    std::size_t count = 0;
    std::string line;
    while (std::getline(in, line)) {
        const std::string_view word = trim(line);
        if (word.empty() || word.front() == '#')
            continue;
        addAllowedWord(word);
        ++count;
    }
    return count;
}

void Lexicon::addAllowedWord(std::string_view word)
{
    // Typographic apostrophes match typed ones.
    std::string lower;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (word.substr(i, 3) == "\xE2\x80\x99") {
            lower += '\'';
            i += 2;
        } else {
            lower += word[i];
        }
    }
    m_allowed.insert(toLower(lower));
}

std::string_view Lexicon::misspelling(std::string_view lower) const
{
    const auto it = m_misspellings.find(lower);
    return it == m_misspellings.end() ? std::string_view() : std::string_view(it->second);
}

bool Lexicon::isAllowed(std::string_view lower) const
{
    return m_allowed.find(lower) != m_allowed.end();
}

std::string Lexicon::findCodespellDictionary()
{
    // dpkg keeps each package's file list here; it is what `dpkg -L codespell` prints.
    std::ifstream list("/var/lib/dpkg/info/codespell.list");
    std::string line;
    while (std::getline(list, line)) {
        static const std::string suffix = "/codespell_lib/data/dictionary.txt";
        if (line.size() > suffix.size()
            && line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0
            && line.find("/build/") == std::string::npos && std::ifstream(line))
            return line;
    }
    return {};
}

} // namespace Backend
