#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace Backend {

// Word lists that the corrector consults, loaded from files once at start-up.
class Lexicon {
public:
    // Common misspellings with their one correction ("recieve" -> "receive"), in lower case.
    // Reads codespell's dictionary format: "wrong->right" per line; entries with several
    // candidates ("wrong->a, b,") or a reason are ambiguous and skipped. Returns the number of
    // entries read; 0 when the file cannot be read.
    std::size_t loadMisspellings(const std::string &path);

    // How often words occur, from WordNet's sense-tagged corpus counts ("cntlist.rev": lines of
    // "lemma%sense-key sense-number count"), added up per lemma. Returns the number of lemmas
    // read. Function words, which WordNet leaves out, are always known (see frequency()).
    std::size_t loadFrequencies(const std::string &path);

    // Words never to correct, one per line; blank lines and lines starting with '#' are ignored;
    // matching ignores case. Returns the number of words read.
    std::size_t loadAllowList(const std::string &path);

    void addMisspelling(std::string wrong, std::string right)
    {
        m_misspellings[std::move(wrong)] = std::move(right);
    }
    void addFrequency(std::string word, unsigned count) { m_frequency[std::move(word)] += count; }
    void addAllowedWord(std::string_view word);

    // The table's correction of `lower` (a lower-case word), or an empty view.
    std::string_view misspelling(std::string_view lower) const;
    // How common a lower-case word is: its lemma's corpus count ("copies" counts as "copy"), a
    // high fixed count for function words ("that", "which"), 0 for words not seen.
    unsigned frequency(std::string_view lower) const;
    bool isCommon(std::string_view lower) const { return frequency(lower) > 0; }
    bool isAllowed(std::string_view lower) const;

    std::size_t misspellingCount() const { return m_misspellings.size(); }
    std::size_t frequencyCount() const { return m_frequency.size(); }
    std::size_t allowedCount() const { return m_allowed.size(); }

    // Where Debian's codespell package installed its dictionary, found through dpkg's list of the
    // package's files; empty when the package is not installed.
    static std::string findCodespellDictionary();
    // Where Debian's wordnet-base package keeps its corpus counts.
    static constexpr const char *kWordNetCounts = "/usr/share/wordnet/cntlist.rev";

private:
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const { return std::hash<std::string_view> {}(s); }
    };
    std::unordered_map<std::string, std::string, Hash, std::equal_to<>> m_misspellings;
    std::unordered_map<std::string, unsigned, Hash, std::equal_to<>> m_frequency;
    std::unordered_set<std::string, Hash, std::equal_to<>> m_allowed;
};

// ASCII lower case.
std::string toLower(std::string_view s);

} // namespace Backend
