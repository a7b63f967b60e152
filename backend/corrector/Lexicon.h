#pragma once

#include "Tables.h"

#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

namespace Backend {

// Parts of speech as WordNet records them (a word may be several).
enum PartOfSpeech : unsigned char { Noun = 1, Verb = 2, Adjective = 4, Adverb = 8 };

// What the corrector knows about words: the tables made at build time (see Tables.h) and the
// user's allow-list. Read-only after construction apart from the allow-list, which is read once.
class Lexicon {
public:
    explicit Lexicon(const Tables &tables = Tables::builtIn());

    // --- Spelling
    // The common misspelling table's correction of `lower` ("recieve" -> "receive"), or empty.
    std::string_view misspelling(std::string_view lower) const;
    // How likely the word is in everyday text, as a count: its occurrences in the corpus plus a
    // small count for its SCOWL level, so that common words the corpus missed still count.
    double prior(std::string_view lower) const;
    // How often `second` follows `first` (with only a space between) in the corpus.
    std::uint32_t pairCount(std::string_view first, std::string_view second) const;
    std::uint32_t corpusCount(std::string_view lower) const;
    double corpusWords() const { return static_cast<double>(m_tables.corpusWords()); }
    // A word of the common word lists or of the corpus (used when Aspell is missing).
    bool isCommon(std::string_view lower) const;
    // A word of SCOWL's lists up to the size of a large dictionary, in any English spelling.
    bool isListed(std::string_view lower) const;

    // --- Parts of speech
    // How often `lower` is used as `pos` (any of its inflections), plus one when WordNet lists it
    // as that part of speech at all; 0 when it never is.
    unsigned weight(std::string_view lower, PartOfSpeech pos) const;
    // `lower` is used more as `pos` than as any other part of speech.
    bool mainly(std::string_view lower, PartOfSpeech pos) const;
    bool can(std::string_view lower, PartOfSpeech pos) const { return weight(lower, pos) > 0; }
    // WordNet lists `lower` itself (not an inflection of it) as `pos`.
    bool listed(std::string_view lower, PartOfSpeech pos) const;

    // --- Irregular verbs (WordNet's exception lists)
    struct VerbForms {
        std::string_view past, participle;
    };
    std::optional<VerbForms> irregular(std::string_view base) const;
    // The base of an irregular past form ("went" -> "go"), or empty.
    std::string_view baseOfPast(std::string_view past) const;
    bool isParticiple(std::string_view w) const;
    // The past form (or, with `participle`, the past participle) meant by an over-regular form
    // such as "buyed", "goed" or "runned", or empty.
    std::string irregularFor(std::string_view lower, bool participle) const;

    // --- The user's words, never corrected
    // One per line; blank lines and lines starting with '#' are ignored; matching ignores case.
    // Returns the number of words read.
    std::size_t loadAllowList(const std::string &path);
    void addAllowedWord(std::string_view word);
    bool isAllowed(std::string_view lower) const;

    bool loaded() const { return !m_tables.empty(); }
    std::size_t wordCount() const { return m_tables.words().size(); }
    std::size_t misspellingCount() const { return m_tables.misspellings().size(); }
    std::size_t pairTableSize() const { return m_tables.pairs().size(); }
    std::size_t allowedCount() const { return m_allowed.size(); }

private:
    const WordInfo *info(std::string_view lower) const { return m_tables.words().find<WordInfo>(lower); }

    const Tables &m_tables;
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const { return std::hash<std::string_view> {}(s); }
    };
    std::unordered_set<std::string, Hash, std::equal_to<>> m_allowed;
};

// ASCII lower case.
std::string toLower(std::string_view s);

} // namespace Backend
