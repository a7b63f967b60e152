#pragma once

// The parts that the grammar rules share: the words as the rules see them, their neighbourhood,
// the word lists and what kind of word each word is. Each family of rules has one home:
// GrammarConfusables.cpp (words that sound alike), GrammarVerbs.cpp (verb forms) and
// GrammarFixed.cpp (fixed mistakes). Internal to the grammar pass.

#include "Lexicon.h"

#include <algorithm>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace Backend {

class Speller;

namespace GrammarRules {

// A word of the text as the rules see them.
struct Word {
    std::size_t token;
    std::string lower;
    bool capital = false; // first letter upper case (the sentence's first word, or a name)
    bool locked = false; // a name, an acronym, a word in quotation marks: never changed
    bool spaced = false; // one plain space separates it from the word before, in the same sentence
    // A single line break separates it from the word before, with no full stop: perhaps a sentence
    // wrapped at the margin, perhaps a new line of a list. Rules see neither a neighbour nor an end.
    bool lineBreakBefore = false;
    bool sentenceStart = false;
    bool question = false; // the sentence ends with a question mark
    bool changed = false, removed = false;
};

// What a rule sees for a neighbour that it cannot read: a number, a code span, a word of another
// script, the first word of a wrapped line.
inline constexpr std::string_view kUnknown = "#";

inline bool endsWith(std::string_view s, std::string_view suffix)
{
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

inline bool in(std::string_view word, std::initializer_list<std::string_view> list)
{
    return std::find(list.begin(), list.end(), word) != list.end();
}

template <std::size_t N> bool in(std::string_view word, const std::string_view (&list)[N])
{
    return std::find(std::begin(list), std::end(list), word) != std::end(list);
}

inline bool isVowel(char c)
{
    return c == 'a' || c == 'e' || c == 'i' || c == 'o' || c == 'u';
}

// The word with the ending of a plural noun or of a verb after "he": "books", "boxes", "flies",
// "goes".
std::string withEndingS(std::string_view word);

// Irregular plurals with a plural ending added, which Aspell may know as possessives without their
// apostrophe.
inline constexpr std::string_view kDoublePlurals[] = {"childrens", "womens", "mices", "feets", "teeths"};
inline constexpr std::string_view kDeterminers[]
    = {"a", "an", "the", "this", "that", "these", "those", "my", "your", "his", "her", "its", "our", "their",
        "some", "any", "no", "every", "each", "another", "all", "both", "much", "many", "more", "most"};
inline constexpr std::string_view kPossessives[] = {"my", "your", "his", "her", "its", "our", "their"};
inline constexpr std::string_view kSubjectPronouns[] = {"i", "we", "they", "he", "she", "you", "it"};
inline constexpr std::string_view kObjectPronouns[] = {"me", "you", "him", "her", "us", "them", "it"};
inline constexpr std::string_view kPrepositions[]
    = {"about", "above", "across", "after", "against", "along", "among", "around", "at", "before", "behind",
        "below", "beside", "between", "by", "during", "for", "from", "in", "inside", "into", "like", "near",
        "of", "off", "on", "onto", "out", "outside", "over", "past", "since", "through", "to", "toward",
        "towards", "under", "until", "up", "upon", "with", "within", "without", "down", "except", "besides",
        "beyond", "despite", "throughout", "unlike", "via", "amid", "including", "regarding"};
inline constexpr std::string_view kConjunctions[]
    = {"and", "but", "or", "so", "because", "if", "when", "while", "although", "though", "since", "until",
        "unless", "that", "as", "before", "after", "once", "whether", "cause"};
// Words after which a clause follows: "I think they're", "sure it's".
inline constexpr std::string_view kClauseVerbs[] = {"think", "thought", "know", "knew", "hope", "guess",
    "believe", "say", "said", "says", "feel", "felt", "mean", "suppose", "bet", "heard", "hear", "realise",
    "realize", "sure", "seems", "means", "knows", "thinks", "hoped", "figured", "agree", "notice", "noticed",
    "wish", "understand", "told", "tell", "see", "saw", "afraid", "glad", "sorry", "doubt", "reckon",
    "assume", "imagine", "expect", "swear", "promise"};
// Words before a bare verb.
inline constexpr std::string_view kModals[] = {"will", "would", "can", "could", "may", "might", "must",
    "should", "shall", "to", "not", "don't", "didn't", "doesn't", "won't", "can't", "cannot", "wouldn't",
    "couldn't", "shouldn't", "never", "always"};
inline constexpr std::string_view kTimeWords[]
    = {"yesterday", "today", "tomorrow", "tonight", "now", "again", "once", "twice", "ago", "before", "later",
        "last", "next", "first", "then", "already", "early", "late", "soon", "often", "every", "all", "too",
        "alone", "anyway", "instead", "together", "yet", "either", "though", "right", "much", "more"};
inline constexpr std::string_view kNumbers[] = {"two", "three", "four", "five", "six", "seven", "eight",
    "nine", "ten", "twelve", "twenty", "several", "many", "few", "both"};
inline constexpr std::string_view kIntensifiers[]
    = {"already", "just", "really", "very", "so", "too", "always", "never", "still", "not", "all", "quite",
        "pretty", "almost", "nearly", "probably", "definitely", "totally", "completely"};

class Rules {
public:
    Rules(const Lexicon &lexicon, Speller *speller, std::vector<Word> &words)
        : g(lexicon)
        , m_speller(speller)
        , m_words(words)
    {
    }

    // Applies the rules to every word that is not locked, twice: a fix can make the case for its
    // neighbour's ("its to late" -> "it's too late").
    void run();

private:
    // --- The neighbourhood of word i
    // The word `d` places after (or before, d < 0) word i, when only single spaces lie between;
    // empty at punctuation and the text's ends, kUnknown where a line break or an unreadable
    // token stands.
    std::string_view at(std::size_t i, int d) const;
    bool lockedAt(std::size_t i, int d) const;
    // Word i begins a clause: the sentence's start, after a conjunction or a verb such as "think".
    bool clauseStart(std::size_t i) const;
    // Nothing, punctuation, a function word or an adverb `d` places from i: the phrase before it
    // is complete.
    bool phraseEnds(std::size_t i, int d) const;
    // A predicate `d` places from i, as after "you're", "they're", "it's": "not", an adjective,
    // "-ing" where a subject stands.
    bool predicate(std::size_t i, int d) const;
    // Word i becomes `text` (empty: goes away). Returns true, so that a rule can end with it.
    bool set(std::size_t i, std::string text);

    // --- What kind of word a word is
    bool known(std::string_view w) const;
    bool isIng(std::string_view w) const;
    bool isParticiple(std::string_view w) const;
    // A word that opens a noun phrase without being one: what follows a verb or preposition.
    bool opensPhrase(std::string_view w) const;
    bool adjectiveLike(std::string_view w) const;
    // Mostly an adjective, hardly ever a verb: "hot", "late", "tired", not "clean" or "open".
    bool mostlyAdjective(std::string_view w) const;
    // "smarter": a comparative or superlative made with an ending, not an adjective of its own.
    bool gradedAdjective(std::string_view w) const;
    // "taller", "older": a comparative, made with an ending or listed as an adjective.
    bool comparativeAdjective(std::string_view w) const;
    // A common noun, more often a noun than anything else.
    bool nounLike(std::string_view w) const;
    bool verbBase(std::string_view w) const;
    // "needs" -> "need", when the result is a verb.
    std::string baseOfThirdPerson(std::string_view verb) const;
    std::string ingForm(std::string_view base) const;

    // --- The rule families; each returns true when it changed word i
    bool confusables(std::size_t i); // GrammarConfusables.cpp
    bool possessiveOrContraction(std::size_t i);
    bool thereOrTheir(std::size_t i);
    bool toOrToo(std::size_t i);
    bool thenOrThan(std::size_t i);
    bool verbOrNoun(std::size_t i);
    bool apostrophes(std::size_t i);
    bool verbs(std::size_t i); // GrammarVerbs.cpp
    bool participles(std::size_t i);
    bool afterDo(std::size_t i);
    bool agreement(std::size_t i);
    bool fixedErrors(std::size_t i); // GrammarFixed.cpp

    const Lexicon &g;
    Speller *m_speller;
    std::vector<Word> &m_words;
};

} // namespace GrammarRules

} // namespace Backend
