#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Backend {

// Everything the corrector knows about words, computed when the program is built (see
// generate/MakeTables.cpp) from Debian's WordNet, codespell, SCOWL and fortunes packages, and
// linked into the program as one read-only block. Nothing is parsed at start-up: a look-up reads
// a few cache lines of a hash table, and only the pages that are read are ever loaded.

// What the tables say about one lower-case word.
struct WordInfo {
    std::uint32_t count = 0; // occurrences in the text corpus (WordNet's glosses and examples, fortunes)
    std::uint16_t senses[4] = {0, 0, 0, 0}; // WordNet's tagged-corpus counts as noun, verb, adjective, adverb
    std::uint8_t pos = 0; // PartOfSpeech bits: WordNet lists the word itself as that part of speech
    std::uint8_t level = 0; // SCOWL's size level (10: the commonest words ... 95), 0: not listed
    std::uint16_t reserved = 0;
};
static_assert(sizeof(WordInfo) == 16);

// A string in the block's string pool.
struct StringRef {
    std::uint32_t offset = 0, length = 0;
};

// One read-only hash table of the block: keys are strings (or pairs of key indices), values
// fixed-size records.
class FrozenMap {
public:
    FrozenMap() = default;
    FrozenMap(const char *block, std::uint32_t offset, std::uint32_t slots, std::uint32_t entries,
        std::uint32_t valueSize);

    // The index of `key`'s entry, or -1.
    std::int64_t indexOf(std::string_view key) const;
    // The index of the entry of a pair of indices (a map of pairs), or -1.
    std::int64_t indexOf(std::uint32_t first, std::uint32_t second) const;
    const void *value(std::int64_t index) const;
    template <typename T> const T *find(std::string_view key) const
    {
        return static_cast<const T *>(value(indexOf(key)));
    }
    std::uint32_t size() const { return m_entries; }

private:
    const char *entry(std::uint32_t index) const { return m_table + std::size_t(index) * m_entrySize; }

    const char *m_block = nullptr;
    const std::uint32_t *m_slots = nullptr;
    const char *m_table = nullptr;
    std::uint32_t m_mask = 0, m_entries = 0, m_entrySize = 0;
};

// The whole block.
class Tables {
public:
    // The tables linked into the program.
    static const Tables &builtIn();
    // Reads a block made by TablesWriter; `block` must outlive the result and be 8-byte aligned.
    // An empty or damaged block gives empty tables.
    explicit Tables(std::string_view block);

    std::string_view string(StringRef ref) const { return {m_block.data() + ref.offset, ref.length}; }
    std::string_view stringAt(const FrozenMap &map, std::string_view key) const
    {
        const StringRef *ref = map.find<StringRef>(key);
        return ref ? string(*ref) : std::string_view();
    }

    const FrozenMap &words() const { return m_words; } // word -> WordInfo
    const FrozenMap &misspellings() const { return m_misspellings; } // codespell: wrong -> right
    // WordNet's exception lists: an inflected form -> its lemmas, separated by spaces; one map per
    // part of speech (noun, verb, adjective, adverb).
    const FrozenMap &exceptions(int posIndex) const { return m_exceptions[posIndex]; }
    const FrozenMap &irregularVerbs() const { return m_irregular; } // base -> "past participle"
    const FrozenMap &pastToBase() const { return m_pastToBase; }
    const FrozenMap &participleToBase() const { return m_participleToBase; }
    const FrozenMap &pairs() const { return m_pairs; } // (word index, word index) -> uint32 count
    std::uint64_t corpusWords() const { return m_corpusWords; }
    bool empty() const { return m_words.size() == 0; }

private:
    std::string_view m_block;
    FrozenMap m_words, m_misspellings, m_exceptions[4], m_irregular, m_pastToBase, m_participleToBase,
        m_pairs;
    std::uint64_t m_corpusWords = 0;
};

// Builds a block (used by the build-time generator and by tests).
class TablesWriter {
public:
    using StringMap = std::vector<std::pair<std::string, std::string>>;

    void setWords(std::vector<std::pair<std::string, WordInfo>> words) { m_words = std::move(words); }
    void setMisspellings(StringMap map) { m_misspellings = std::move(map); }
    void setExceptions(int posIndex, StringMap map) { m_exceptions[posIndex] = std::move(map); }
    void setIrregularVerbs(StringMap irregular, StringMap pastToBase, StringMap participleToBase);
    // Pairs of words from the corpus, given as words (each must be in setWords()).
    void setPairs(std::vector<std::pair<std::pair<std::string, std::string>, std::uint32_t>> pairs)
    {
        m_pairs = std::move(pairs);
    }
    void setCorpusWords(std::uint64_t n) { m_corpusWords = n; }

    std::string build() const;

private:
    std::vector<std::pair<std::string, WordInfo>> m_words;
    StringMap m_misspellings, m_exceptions[4], m_irregular, m_pastToBase, m_participleToBase;
    std::vector<std::pair<std::pair<std::string, std::string>, std::uint32_t>> m_pairs;
    std::uint64_t m_corpusWords = 0;
};

} // namespace Backend
