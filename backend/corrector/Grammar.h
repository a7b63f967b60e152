#pragma once

#include "Tokens.h"

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace Backend {

class Speller;

// Parts of speech as WordNet records them (a word may be several).
enum PartOfSpeech : unsigned char { Noun = 1, Verb = 2, Adjective = 4, Adverb = 8 };

// A change that the grammar rules ask for: the word token `token` becomes `text` (lower case, or
// as it is to appear after a capital is put back), or goes away with the space before it when
// `text` is empty.
struct GrammarEdit {
    std::size_t token;
    std::string text;
};

// The grammar pass: confusable words decided from their neighbours (their/there/they're, its/it's,
// to/too, then/than, ...), verb forms (agreement with simple subjects, irregular past forms,
// participles after "have", "should of"), and small fixed errors ("alot", "more smarter",
// "discussed about"). What it knows about words comes from Debian's WordNet: the parts of speech a
// word can take and how often each sense occurs in WordNet's tagged corpus (so that "hot" reads as
// an adjective and "help" as a verb), and the exception lists of irregular forms. Each rule fires
// only in a context where the change is almost always right; names, quotations and capitalised
// words inside a sentence are left alone.
class Grammar {
public:
    // Reads WordNet's index, exception and count files from `dir`. Returns false when they are
    // missing; the rules that need them then stay off.
    bool load(const std::string &dir);
    bool loaded() const { return !m_words.empty(); }
    std::size_t wordCount() const { return m_words.size(); }

    // The edits for `tokens` (after spelling). `speller` (may be null) tells known words.
    std::vector<GrammarEdit> check(const std::vector<Token> &tokens, Speller *speller) const;

    // The past form (or, with `participle`, the past participle) meant by an over-regular form
    // such as "buyed", "goed" or "runned", or empty.
    std::string irregularFor(std::string_view lower, bool participle) const;

    // Words that spelling must leave to the grammar rules: "buyed", "childrens".
    bool heldForGrammar(std::string_view lower) const;

    // How often `lower` is used as `pos` (any of its inflections), plus one when WordNet lists it
    // as that part of speech at all; 0 when it never is.
    unsigned weight(std::string_view lower, PartOfSpeech pos) const;
    // `lower` is used more as `pos` than as any other part of speech.
    bool mainly(std::string_view lower, PartOfSpeech pos) const;
    bool can(std::string_view lower, PartOfSpeech pos) const { return weight(lower, pos) > 0; }

    struct VerbForms {
        std::string past, participle;
    };
    // The irregular forms of a base verb ("go" -> went, gone), or null.
    const VerbForms *irregular(std::string_view base) const;
    // The base of an irregular past form ("went" -> "go"), or empty.
    std::string_view baseOfPast(std::string_view past) const;
    bool isParticiple(std::string_view w) const { return m_participleToBase.count(std::string(w)) != 0; }
    // WordNet lists `lower` itself (not an inflection of it) as `pos`.
    bool listed(std::string_view lower, PartOfSpeech pos) const
    {
        const Entry *e = entry(lower);
        return e && (e->pos & pos);
    }

    // Default place of the files (package wordnet-base).
    static constexpr const char *kWordNetDir = "/usr/share/wordnet";

private:
    struct Entry {
        unsigned char pos = 0; // PartOfSpeech bits
        unsigned counts[4] = {0, 0, 0, 0}; // noun, verb, adjective, adverb
    };
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const { return std::hash<std::string_view> {}(s); }
    };
    template <typename V> using Map = std::unordered_map<std::string, V, Hash, std::equal_to<>>;

    const Entry *entry(std::string_view lemma) const;
    // The lemmas that `lower` may be an inflection of, as `pos` (itself included).
    void lemmas(std::string_view lower, PartOfSpeech pos, std::vector<std::string> &out) const;

    Map<Entry> m_words;
    Map<std::vector<std::string>> m_exceptions[4]; // inflected form -> lemmas, per part of speech
    Map<VerbForms> m_irregular; // base verb -> forms
    Map<std::string> m_pastToBase, m_participleToBase;
};

} // namespace Backend
