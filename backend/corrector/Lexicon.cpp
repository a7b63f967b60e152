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
template<typename Handle>
void forEachLine(std::string_view contents, Handle handle)
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

std::size_t Lexicon::loadCommonWords(const std::string &path)
{
    std::string contents;
    if (!readFile(path, contents))
        return 0;
    std::size_t count = 0;
    m_common.reserve(m_common.size() + contents.size() / 8);
    forEachLine(contents, [&](std::string_view line) {
        const std::string_view word = trim(line);
        if (!isLowerWord(word, false))
            return;
        m_common.emplace(word);
        ++count;
    });
    return count;
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

bool Lexicon::isCommon(std::string_view lower) const
{
    return m_common.find(lower) != m_common.end();
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
        if (line.size() > suffix.size() && line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0
            && line.find("/build/") == std::string::npos && std::ifstream(line))
            return line;
    }
    return {};
}

} // namespace Backend
