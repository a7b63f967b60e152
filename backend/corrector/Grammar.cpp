#include "Grammar.h"

#include "Speller.h"

#include <algorithm>
#include <array>
#include <initializer_list>

namespace Backend {

namespace {

bool endsWith(std::string_view s, std::string_view suffix)
{
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

bool in(std::string_view word, std::initializer_list<std::string_view> list)
{
    return std::find(list.begin(), list.end(), word) != list.end();
}

template <std::size_t N> bool in(std::string_view word, const std::string_view (&list)[N])
{
    return std::find(std::begin(list), std::end(list), word) != std::end(list);
}

bool isVowel(char c)
{
    return c == 'a' || c == 'e' || c == 'i' || c == 'o' || c == 'u';
}

// What a rule sees for a neighbour that it cannot read (see Word).
constexpr std::string_view kUnknown = "#";
// Irregular plurals with a plural ending added, which Aspell may know as possessives without their
// apostrophe.
constexpr std::string_view kDoublePlurals[] = {"childrens", "womens", "mices", "feets", "teeths"};
constexpr std::string_view kDeterminers[]
    = {"a", "an", "the", "this", "that", "these", "those", "my", "your", "his", "her", "its", "our", "their",
        "some", "any", "no", "every", "each", "another", "all", "both", "much", "many", "more", "most"};
constexpr std::string_view kPossessives[] = {"my", "your", "his", "her", "its", "our", "their"};
constexpr std::string_view kObjectPronouns[] = {"me", "you", "him", "her", "us", "them", "it"};
constexpr std::string_view kPrepositions[]
    = {"about", "above", "across", "after", "against", "along", "among", "around", "at", "before", "behind",
        "below", "beside", "between", "by", "during", "for", "from", "in", "inside", "into", "like", "near",
        "of", "off", "on", "onto", "out", "outside", "over", "past", "since", "through", "to", "toward",
        "towards", "under", "until", "up", "upon", "with", "within", "without", "down"};
constexpr std::string_view kConjunctions[]
    = {"and", "but", "or", "so", "because", "if", "when", "while", "although", "though", "since", "until",
        "unless", "that", "as", "before", "after", "once", "whether", "cause"};
constexpr std::string_view kClauseVerbs[] = {"think", "thought", "know", "knew", "hope", "guess", "believe",
    "say", "said", "says", "feel", "felt", "mean", "suppose", "bet", "heard", "hear", "realise", "realize",
    "sure", "seems", "means", "knows", "thinks", "hoped", "figured", "agree", "notice", "noticed", "wish",
    "understand", "told", "tell", "see", "saw", "afraid", "glad", "sorry", "doubt", "reckon", "assume",
    "imagine", "expect", "swear", "promise"};
constexpr std::string_view kModals[] = {"will", "would", "can", "could", "may", "might", "must", "should",
    "shall", "to", "not", "don't", "didn't", "doesn't", "won't", "can't", "cannot", "wouldn't", "couldn't",
    "shouldn't", "never", "always"};
constexpr std::string_view kTimeWords[]
    = {"yesterday", "today", "tomorrow", "tonight", "now", "again", "once", "twice", "ago", "before", "later",
        "last", "next", "first", "then", "already", "early", "late", "soon", "often", "every", "all", "too",
        "alone", "anyway", "instead", "together", "yet", "either", "though", "right", "much", "more"};
// Subjects that take the third person singular.
constexpr std::string_view kSingularSubjects[] = {"he", "she", "it", "everybody", "everyone", "somebody",
    "someone", "nobody", "anybody", "anyone", "everything", "something", "nothing", "anything"};
// People and pets that a possessive subject is about: "my sister live" -> "lives".
constexpr std::string_view kPeople[] = {"mother", "father", "mum", "mom", "dad", "sister", "brother", "son",
    "daughter", "wife", "husband", "friend", "boss", "neighbour", "neighbor", "teacher", "doctor", "partner",
    "colleague", "manager", "uncle", "aunt", "cousin", "grandma", "grandmother", "grandfather", "grandpa",
    "girlfriend", "boyfriend", "baby", "dog", "cat", "landlord", "roommate", "flatmate", "kid", "child"};
// Verbs after which a bare infinitive follows an object: "let everybody know", "make it work".
constexpr std::string_view kCausatives[]
    = {"let", "lets", "make", "makes", "made", "help", "helps", "helped", "have", "has", "had", "see", "saw",
        "watch", "watched", "hear", "heard", "bid", "would", "rather", "did", "does", "do", "didn't",
        "doesn't", "don't", "will", "can", "could", "should", "must", "might", "may", "shall"};
constexpr std::string_view kIntensifiers[]
    = {"already", "just", "really", "very", "so", "too", "always", "never", "still", "not", "all", "quite",
        "pretty", "almost", "nearly", "probably", "definitely", "totally", "completely"};

} // namespace

bool Grammar::heldForGrammar(std::string_view lower) const
{
    if (!m_lexicon.irregularFor(lower, false).empty())
        return true;
    return in(lower, kDoublePlurals) || lower == "alot";
}

namespace {

// The words of the text as the rules see them.
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

class Rules {
public:
    Rules(const Lexicon &g, Speller *speller, std::vector<Word> &words)
        : g(g)
        , m_speller(speller)
        , m_words(words)
    {
    }

    void run()
    {
        // Twice: a fix can make the case for its neighbour's ("its to late" -> "it's too late").
        for (int round = 0; round < 2; ++round)
            for (std::size_t i = 0; i < m_words.size(); ++i)
                if (!m_words[i].locked && !m_words[i].changed)
                    word(i);
    }

private:
    // The word `d` places after (or before, d < 0) word i, when only single spaces lie between.
    std::string_view at(std::size_t i, int d) const
    {
        std::size_t j = i;
        for (int step = 0; step < std::abs(d); ++step) {
            if (d > 0) {
                do
                    ++j;
                while (j < m_words.size() && m_words[j].removed);
                if (j >= m_words.size())
                    return {};
                if (!m_words[j].spaced)
                    return m_words[j].lineBreakBefore ? kUnknown : std::string_view();
            } else {
                if (!m_words[j].spaced)
                    return {};
                do
                    --j;
                while (j > 0 && m_words[j].removed);
            }
        }
        return m_words[j].lower;
    }
    std::size_t index(std::size_t i, int d) const
    {
        std::size_t j = i;
        for (int step = 0; step < d; ++step)
            do
                ++j;
            while (m_words[j].removed);
        return j;
    }
    bool lockedAt(std::size_t i, int d) const { return !at(i, d).empty() && m_words[index(i, d)].locked; }

    // Word i begins a clause: the sentence's start, after a comma, or after a conjunction.
    bool clauseStart(std::size_t i) const
    {
        if (m_words[i].sentenceStart)
            return true;
        const std::string_view before = at(i, -1);
        return before.empty() ? i > 0 : in(before, kConjunctions) || in(before, kClauseVerbs);
    }

    void set(std::size_t i, std::string text)
    {
        Word &w = m_words[i];
        if (text.empty())
            w.removed = true;
        w.lower = std::move(text);
        w.changed = true;
    }

    bool known(std::string_view w) const
    {
        return m_speller ? m_speller->check(w) : g.can(w, Noun) || g.can(w, Verb);
    }
    bool isIng(std::string_view w) const { return w.size() > 4 && endsWith(w, "ing") && g.can(w, Verb); }
    bool isParticiple(std::string_view w) const
    {
        return w == "been" || g.isParticiple(w) || (endsWith(w, "ed") && g.can(w, Verb));
    }
    // A word that opens a noun phrase without being one: what follows a verb or preposition.
    bool opensPhrase(std::string_view w) const { return in(w, kDeterminers) || in(w, kObjectPronouns); }
    // Nothing, punctuation, a function word or an adverb: the phrase before it is complete.
    bool phraseEnds(std::size_t i, int d) const
    {
        const std::string_view w = at(i, d);
        if (w.empty())
            return true;
        return in(w, kPrepositions) || in(w, kConjunctions) || in(w, kDeterminers)
            || in(w,
                {"i", "we", "they", "he", "she", "you", "it", "now", "today", "tonight", "tomorrow", "yet",
                    "again", "here", "there", "too", "anyway", "either"})
            || (g.mainly(w, Adverb) && !g.can(w, Noun));
    }
    bool adjectiveLike(std::string_view w) const
    {
        return (g.mainly(w, Adjective) || (g.can(w, Adjective) && !g.can(w, Noun) && !g.can(w, Verb)))
            && !in(w, kDeterminers);
    }
    // A common noun, more often a noun than anything else.
    bool nounLike(std::string_view w) const
    {
        return !w.empty() && g.mainly(w, Noun) && !in(w, kTimeWords) && !in(w, kDeterminers)
            && !in(w, kPrepositions) && !isIng(w);
    }
    bool verbBase(std::string_view w) const
    {
        if (w.empty() || in(w, kDeterminers) || in(w, kPrepositions) || in(w, kObjectPronouns))
            return false;
        const auto it = g.weight(w, Verb);
        const bool inflected = (endsWith(w, "ed") || endsWith(w, "ing")) && !g.listed(w, Verb);
        return it > 0 && g.mainly(w, Verb) && !inflected && g.baseOfPast(w).empty()
            && (!endsWith(w, "s") || endsWith(w, "ss"));
    }
    // A predicate after "you're", "they're", "it's": "-ing", "not", an adjective, a participle.
    bool predicate(std::size_t i, int d) const
    {
        const std::string_view w = at(i, d);
        if (w.empty() || lockedAt(i, d) || w == "own") // "your own"
            return false;
        if (in(w, {"not", "going", "gonna", "been"}))
            return true;
        if (in(w,
                {"welcome", "right", "wrong", "sure", "late", "done", "back", "here", "home", "ready",
                    "almost", "nearly", "always", "never", "still", "already", "so", "very", "really", "too",
                    "just"})
            || adjectiveLike(w))
            return phraseEnds(i, d + 1) || at(i, d + 1) == "to";
        // "-ing" only at the sentence's start or after "think", "hope": elsewhere "your accepting
        // it" is a possessive before a gerund.
        if (isIng(w) && (m_words[i].sentenceStart || in(at(i, -1), kClauseVerbs)))
            return phraseEnds(i, d + 1) || at(i, d + 1) == "to";
        return false;
    }

    std::string thirdPerson(std::string_view verb) const
    {
        if (verb == "have")
            return "has";
        if (verb == "do")
            return "does";
        if (verb == "go")
            return "goes";
        std::string v(verb);
        if (endsWith(v, "s") || endsWith(v, "x") || endsWith(v, "z") || endsWith(v, "ch") || endsWith(v, "sh")
            || endsWith(v, "o"))
            return v + "es";
        if (endsWith(v, "y") && v.size() > 1 && !isVowel(v[v.size() - 2]))
            return v.substr(0, v.size() - 1) + "ies";
        return v + "s";
    }
    // "needs" -> "need", when the result is a verb.
    std::string baseOfThirdPerson(std::string_view verb) const
    {
        if (verb == "has")
            return "have";
        if (verb == "does")
            return "do";
        if (verb == "goes")
            return "go";
        if (!endsWith(verb, "s") || endsWith(verb, "ss") || verb.size() < 4)
            return {};
        std::string base(verb.substr(0, verb.size() - 1));
        if (endsWith(verb, "ies"))
            base = std::string(verb.substr(0, verb.size() - 3)) + "y";
        else if (endsWith(verb, "es")
            && (endsWith(base, "she") || endsWith(base, "che") || endsWith(base, "xe")))
            base.pop_back();
        return verbBase(base) && thirdPerson(base) == verb ? base : std::string();
    }
    std::string ingForm(std::string_view base) const
    {
        std::string b(base);
        std::vector<std::string> candidates;
        if (endsWith(b, "e") && !endsWith(b, "ee") && !endsWith(b, "ye") && !endsWith(b, "oe"))
            candidates.push_back(b.substr(0, b.size() - 1) + "ing");
        const std::size_t n = b.size();
        if (n >= 3 && !isVowel(b[n - 1]) && isVowel(b[n - 2]) && !isVowel(b[n - 3])
            && !in(b.substr(n - 1), {"w", "x", "y"}))
            candidates.push_back(b + b[n - 1] + "ing");
        candidates.push_back(b + "ing");
        for (const std::string &c : candidates)
            if (known(c))
                return c;
        return {};
    }
    // "smarter" -> true: a comparative or superlative made with an ending, not an adjective of its
    // own ("clever", "modest").
    bool gradedAdjective(std::string_view w) const
    {
        if (in(w, {"better", "best", "worse", "worst"}))
            return true;
        if (in(w,
                {"later", "latter", "latest", "further", "farther", "lower", "upper", "inner", "outer",
                    "former", "other", "never", "ever", "over", "under", "after", "rather", "whether",
                    "either", "neither"}))
            return false;
        if (!(endsWith(w, "er") || endsWith(w, "est")) || g.listed(w, Adjective))
            return false;
        return g.can(w, Adjective);
    }
    // Mostly an adjective, hardly ever a verb: "hot", "late", "expensive", "tired", not "clean" or
    // "open".
    bool mostlyAdjective(std::string_view w) const
    {
        const unsigned adjective = g.weight(w, Adjective);
        if (endsWith(w, "ed") && adjective > 0)
            return true;
        return adjective > 0 && adjective > 3 * g.weight(w, Verb) && adjective >= g.weight(w, Noun);
    }

    void word(std::size_t i);
    void confusables(std::size_t i);
    void verbs(std::size_t i);
    void fixedErrors(std::size_t i);

    const Lexicon &g;
    Speller *m_speller;
    std::vector<Word> &m_words;

public:
    const std::vector<Word> &words() const { return m_words; }
};

void Rules::word(std::size_t i)
{
    const std::string before = m_words[i].lower;
    confusables(i);
    if (m_words[i].lower == before)
        verbs(i);
    if (m_words[i].lower == before)
        fixedErrors(i);
}

void Rules::confusables(std::size_t i)
{
    const std::string_view w = m_words[i].lower, prev = at(i, -1), next = at(i, 1);
    if (lockedAt(i, 1))
        return;
    // "me to." -> "me too."; "come to." -> "come too."
    if (next.empty() && w == "to" && (prev == "me" || (prev == "come" && !m_words[i].question))) {
        set(i, "too");
        return;
    }
    // their, your, its, whose before a predicate; the contractions before a bare noun.
    if (w == "their" || w == "your" || w == "its" || w == "whose") {
        const bool verbAfter = in(next, {"is", "are", "was", "were"});
        if (w == "their"
            && (verbAfter
                || (in(prev, {"is", "are", "was", "were"})
                    && in(next,
                        {"any", "some", "no", "a", "an", "enough", "anything", "anyone", "anybody",
                            "something", "nothing"})))) {
            set(i, "there");
            return;
        }
        if (w == "its"
            && (in(next, {"been", "a", "an", "not"})
                || (clauseStart(i) && in(next, {"time", "ok", "okay", "fine"})))) {
            set(i, "it's");
            return;
        }
        if (w == "whose"
            && (isIng(next) || next == "not" || next == "there"
                || (mostlyAdjective(next) && phraseEnds(i, 2)))) {
            set(i, "who's");
            return;
        }
        if (w != "whose" && predicate(i, 1)) {
            set(i, w == "their" ? "they're" : w == "your" ? "you're" : "it's");
            return;
        }
        const std::string_view after = at(i, 2);
        // Only where a subject stands: "for your understanding" is a possessive before a gerund.
        const bool subjectPlace = clauseStart(i);
        if (w != "whose" && subjectPlace && in(next, {"so", "really", "not"}) && after != "own"
            && !after.empty()) {
            set(i, w == "their" ? "they're" : w == "your" ? "you're" : "it's");
            return;
        }
        if (w != "whose" && subjectPlace && in(next, kIntensifiers) && after != "own"
            && (isParticiple(after) || isIng(after) || (adjectiveLike(after) && phraseEnds(i, 3)))) {
            set(i, w == "their" ? "they're" : w == "your" ? "you're" : "it's");
            return;
        }
        return;
    }
    if (w == "they're" || w == "you're" || w == "it's" || w == "who's") {
        // After a verb or a preposition, before a noun that is not also a predicate: a possessive.
        const bool objectPlace = w == "who's"
            ? clauseStart(i) || in(prev, kClauseVerbs)
            : !prev.empty() && !in(prev, kClauseVerbs) && !in(prev, kConjunctions)
                && (in(prev, kPrepositions) || in(prev, {"all", "did", "do", "does"}) || g.can(prev, Verb));
        const bool noun = g.can(next, Noun) && !in(next, kTimeWords) && !in(next, kDeterminers)
            && !in(next, kPrepositions) && !isIng(next) && !adjectiveLike(next) && !isParticiple(next)
            && !g.mainly(next, Adverb)
            && !in(next,
                {"time", "fun", "okay", "ok", "fine", "true", "nothing", "something", "everything", "home",
                    "over", "best", "worth", "like", "kind", "up", "down", "off", "on", "out"});
        if (objectPlace
            && (noun || (w != "who's" && next == "best" && in(prev, {"did", "do", "does", "tried"})))) {
            set(i, w == "they're" ? "their" : w == "you're" ? "your" : w == "it's" ? "its" : "whose");
            return;
        }
        return;
    }
    if (w == "there" && (in(prev, kClauseVerbs) || in(prev, {"if", "because", "when", "unless"}))
        && (isIng(next) || mostlyAdjective(next) || next == "not") && phraseEnds(i, 2) && next != "more") {
        set(i, "they're");
        return;
    }
    if (w == "there"
        && !in(prev,
            {"is", "are", "was", "were", "over", "in", "out", "up", "down", "from", "here", "and", "or",
                "but", "be", "been", "get", "got", "go", "went", "gone", "going", "come", "came", "stay",
                "stayed", "live", "lived", "sit", "stand"})
        && !prev.empty() && (in(prev, kPrepositions) || g.mainly(prev, Verb) || endsWith(prev, "ed"))) {
        // "visited there new flat", "forgot there keys"
        const bool noun = nounLike(next) && !g.can(next, Adverb);
        const bool adjectiveNoun = adjectiveLike(next) && !in(next, kTimeWords) && g.can(at(i, 2), Noun)
            && !in(at(i, 2), kTimeWords);
        if ((noun && !in(at(i, 2), {"ago", "before", "later"})) || adjectiveNoun) {
            set(i, "their");
            return;
        }
    }
    if (w == "to") {
        const std::string_view after = at(i, 2);
        const bool adjective = mostlyAdjective(next) || (endsWith(next, "ed") && g.can(next, Adjective));
        if (adjective && (after.empty() || in(after, {"to", "for", "and", "but", "so"}))
            && in(prev,
                {"its", "is", "are", "was", "were", "be", "been", "am", "way", "far", "much", "bit", "seems",
                    "looks", "feel", "feels", "felt", "got", "getting", "not", "it's", "that's", "i'm",
                    "you're", "we're", "they're", "he's", "she's"})) {
            set(i, "too");
            return;
        }
        if (next == "much" && after != "of" && !in(prev, kPrepositions)) {
            set(i, "too");
            return;
        }
        if (next == "many"
            && in(prev, {"have", "has", "had", "are", "were", "is", "was", "be", "way", "far", "got"})) {
            set(i, "too");
            return;
        }
        return;
    }
    if (w == "too"
        && (in(next, {"the", "a", "an", "my", "your", "his", "our", "their", "this", "these", "those"})
            || in(next, {"me", "him", "them", "us"}))) {
        set(i, "to");
        return;
    }
    if (w == "then") {
        // "taller then me", "rather walk then drive"; not "it was better then." (at that time) or
        // "more careful then we'll win" (a new clause).
        const bool comparative = in(prev, {"more", "less", "fewer", "rather", "other"})
            || (gradedAdjective(prev) && endsWith(prev, "er")) || in(prev, {"better", "worse"});
        const bool moreBefore = !in(prev, kConjunctions)
            && (in(at(i, -2), {"more", "less", "fewer", "rather"})
                || in(at(i, -3), {"more", "less", "fewer", "rather"}));
        if ((comparative || moreBefore) && !next.empty()
            && !in(next, {"i", "we", "you", "they", "he", "she", "it", "there"})) {
            set(i, "than");
            return;
        }
        return;
    }
    if (w == "effect"
        && in(prev,
            {"will", "would", "could", "can", "may", "might", "does", "did", "not", "to", "this", "that",
                "it", "they", "badly", "really"})
        && (in(next, kPossessives) || in(next, kObjectPronouns) || in(next, {"the", "anyone", "everyone"}))
        && !in(at(i, 2), {"change", "changes"})) {
        set(i, "affect");
        return;
    }
    if (w == "affect"
        && (in(prev, {"a", "an", "no", "any", "the", "side", "this", "that"}) || adjectiveLike(prev))
        && (phraseEnds(i, 1) || in(next, {"on", "of", "at"}))) {
        set(i, "effect");
        return;
    }
    if (w == "loose" && (in(prev, kModals) || in(prev, {"i", "we", "they", "you"}))
        && (opensPhrase(next)
            || in(next, {"weight", "track", "touch", "sleep", "interest", "money", "time"}))) {
        set(i, "lose");
        return;
    }
    if (w == "lose"
        && in(prev,
            {"is", "are", "was", "were", "be", "been", "too", "so", "very", "bit", "came", "come", "got"})
        && phraseEnds(i, 1)) {
        set(i, "loose");
        return;
    }
    if (w == "advise"
        && ((in(prev, kDeterminers) && prev != "that")
            || (in(prev, {"of", "for", "good", "great", "bad", "legal", "expert"}) && phraseEnds(i, 1)))) {
        set(i, "advice");
        return;
    }
    if (w == "advice"
        && in(prev, {"i", "we", "they", "you", "would", "will", "to", "should", "strongly", "can"})
        && (opensPhrase(next) || in(next, {"against", "users", "everyone", "customers"}))) {
        set(i, "advise");
        return;
    }
    if (w == "lets" && clauseStart(i) && !in(prev, kConjunctions) && verbBase(next) && !in(next, {"it"})) {
        set(i, "let's");
        return;
    }
    if (w == "were" && !m_words[i].question
        && (m_words[i].sentenceStart || in(prev, kClauseVerbs)
            || in(prev, {"when", "if", "because", "as", "so", "until", "now", "that"}))
        && (isIng(next)
            || in(next,
                {"not", "almost", "nearly", "done", "back", "ready", "here", "finally", "going", "late",
                    "sorry", "still", "all"}))) {
        set(i, "we're");
        return;
    }
    if (w == "were"
        && in(prev,
            {"know", "knows", "knew", "wonder", "wondering", "ask", "asked", "remember", "idea", "sure",
                "forgot", "forget", "tell", "show"})
        && in(next,
            {"the", "my", "your", "his", "her", "our", "their", "this", "that", "i", "you", "he", "she", "we",
                "they", "it"})) {
        set(i, "where");
        return;
    }
    if ((w == "wont" || w == "cant") && !in(prev, kPossessives) && !in(prev, kDeterminers)
        && (in(prev, {"i", "you", "he", "she", "it", "we", "they", "that", "this"})
            || m_words[i].sentenceStart || g.mainly(prev, Noun))
        && (verbBase(next)
            || in(next,
                {"be", "have", "do", "go", "get", "let", "find", "stop", "wait", "believe", "answer", "see",
                    "tell", "help"}))) {
        set(i, w == "wont" ? "won't" : "can't");
        return;
    }
}

void Rules::verbs(std::size_t i)
{
    const std::string_view w = m_words[i].lower, prev = at(i, -1), next = at(i, 1);
    // "should of" -> "should have"
    if (w == "of"
        && in(prev,
            {"should", "could", "would", "must", "might", "may", "shouldn't", "couldn't", "wouldn't",
                "mustn't"})
        && !next.empty() && (isParticiple(next) || !g.baseOfPast(next).empty() || next == "been")) {
        set(i, "have");
        return;
    }
    // Participles after "have": "has went" -> "has gone", "has anyone spoke" -> "has anyone spoken".
    if (!g.baseOfPast(w).empty()) {
        const auto forms = g.irregular(g.baseOfPast(w));
        const bool afterHave = in(prev, {"have", "has", "had", "haven't", "hasn't", "hadn't", "'ve"})
            || (in(at(i, -2), {"have", "has", "had"})
                && (in(prev, kIntensifiers)
                    || in(prev,
                        {"ever", "anyone", "anybody", "he", "she", "it", "you", "they", "we", "i", "someone",
                            "everyone"})));
        if (afterHave && forms->participle != w && !(g.mainly(w, Noun) && nounLike(next))) {
            set(i, std::string(forms->participle));
            return;
        }
    }
    // A past form made regular: "buyed" -> "bought", "has goed" -> "has gone".
    if (!known(w)) {
        const bool afterHave = in(prev, {"have", "has", "had"});
        if (std::string form = g.irregularFor(w, afterHave); !form.empty()) {
            set(i, std::move(form));
            return;
        }
    }
    // Agreement with a simple subject at the start of a clause.
    const bool subjectStart = i > 0 && !prev.empty() && clauseStart(i - 1) && !in(at(i, -2), kCausatives);
    if (subjectStart && in(prev, kSingularSubjects)) {
        static constexpr std::array<std::pair<std::string_view, std::string_view>, 3> forms
            = {{{"don't", "doesn't"}, {"haven't", "hasn't"}, {"are", "is"}}};
        for (const auto &[plural, singular] : forms)
            if (w == plural) {
                set(i, std::string(singular));
                return;
            }
        // Verbs whose past is their base ("he put it there") are left alone.
        // "it need not" is right: "need" and "dare" are also modal verbs.
        if ((verbBase(w) || in(w, {"have", "do", "go", "need", "want", "like", "love", "know"}))
            && !(in(w, {"need", "dare"}) && next == "not")
            && !in(w,
                {"can", "will", "would", "could", "should", "must", "might", "may", "shall", "be", "were",
                    "let", "used", "dare", "ought", "put", "cut", "hit", "set", "shut", "cost", "hurt",
                    "quit", "read", "spread", "bet", "burst", "cast", "split", "beat", "upset", "fit", "rid",
                    "shed", "thrust", "broadcast", "forecast"})) {
            set(i, thirdPerson(w));
            return;
        }
    }
    if (subjectStart && prev == "i") {
        if (w == "has") {
            set(i, "have");
            return;
        }
        if (w == "is") {
            set(i, "am");
            return;
        }
        if (w == "does") {
            set(i, "do");
            return;
        }
    }
    if (subjectStart && in(prev, {"we", "they", "you"})) {
        if (w == "was") {
            set(i, "were");
            return;
        }
        if (w == "is" && prev != "you") {
            set(i, "are");
            return;
        }
        if (w == "doesn't") {
            set(i, "don't");
            return;
        }
        if (w == "wasn't") {
            set(i, "weren't");
            return;
        }
        if (prev != "you") {
            if (const std::string base = baseOfThirdPerson(w); !base.empty()) {
                set(i, base);
                return;
            }
        }
    }
    if (w == "are" && prev == "this" && i > 0 && clauseStart(i - 1)) {
        set(i - 1, "these");
        return;
    }
    // "there is three apples" -> "there are"
    if ((w == "is" || w == "was") && prev == "there"
        && in(next,
            {"two", "three", "four", "five", "six", "seven", "eight", "nine", "ten", "many", "several",
                "lots", "dozens", "hundreds", "thousands"})) {
        set(i, w == "is" ? "are" : "were");
        return;
    }
    // "the kids is", "my parents was": a plural noun after a determiner at the clause's start.
    if ((w == "is" || w == "was") && i >= 2 && m_words[i - 1].spaced && endsWith(prev, "s")
        && !endsWith(prev, "ss") && !endsWith(prev, "us") && !endsWith(prev, "is") && !endsWith(prev, "ics")
        && prev != "news"
        && in(at(i, -2), {"the", "my", "your", "his", "her", "our", "their", "these", "those"})
        && clauseStart(i - 2)) {
        const std::string singular(prev.substr(0, prev.size() - 1));
        if (g.mainly(prev, Noun) && g.can(singular, Noun) && !g.can(prev, Adjective)) {
            set(i, w == "is" ? "are" : "were");
            return;
        }
    }
    // "my sister live in Leeds"
    if (i >= 2 && in(prev, kPeople) && in(at(i, -2), kPossessives) && clauseStart(i - 2)) {
        if (w == "have" || w == "don't"
            || ((verbBase(w) || in(w, {"need", "want", "live", "like", "love", "work"}))
                && phraseEnds(i, 1))) {
            set(i, w == "don't" ? "doesn't" : thirdPerson(w));
            return;
        }
    }
    if (in(prev, {"everybody", "everyone", "nobody", "somebody", "someone", "anyone", "anybody"})
        && w == "are") {
        set(i, "is");
        return;
    }
}

void Rules::fixedErrors(std::size_t i)
{
    const std::string_view w = m_words[i].lower, prev = at(i, -1), next = at(i, 1);
    // "three book" -> "three books"
    if (in(prev,
            {"two", "three", "four", "five", "six", "seven", "eight", "nine", "ten", "twelve", "twenty",
                "several", "many", "few", "both"})
        && !endsWith(w, "s") && !in(w, kObjectPronouns) && g.listed(w, Noun) && g.mainly(w, Noun)
        && !g.can(next, Noun) && !in(w, kTimeWords)
        && !in(w,
            {"hundred", "thousand", "million", "dozen", "o'clock", "times", "of", "percent", "more",
                "less"})) {
        std::string plural = std::string(w) + "s";
        if (endsWith(w, "y") && !isVowel(w[w.size() - 2]))
            plural = std::string(w.substr(0, w.size() - 1)) + "ies";
        else if (endsWith(w, "s") || endsWith(w, "x") || endsWith(w, "ch") || endsWith(w, "sh"))
            plural = std::string(w) + "es";
        static constexpr std::pair<std::string_view, std::string_view> irregular[]
            = {{"man", "men"}, {"woman", "women"}, {"child", "children"}, {"person", "people"},
                {"foot", "feet"}, {"tooth", "teeth"}, {"mouse", "mice"}, {"goose", "geese"}};
        for (const auto &[singular, plural2] : irregular)
            if (w == singular)
                plural = plural2;
        if (known(plural)) {
            set(i, plural);
            return;
        }
    }
    if (w == "alot") {
        set(i, "a lot");
        return;
    }
    if (w == "about" && in(prev, {"discuss", "discussed", "discusses", "discussing"}) && !next.empty()) {
        set(i, "");
        return;
    }
    // "looking forward to meet you" -> "meeting"
    if (prev == "to" && at(i, -2) == "forward" && verbBase(w)) {
        if (const std::string ing = ingForm(w); !ing.empty()) {
            set(i, ing);
            return;
        }
    }
    // "more smarter" -> "smarter"
    if ((w == "more" || w == "most") && gradedAdjective(next) && (w == "more") == !endsWith(next, "est")) {
        set(i, "");
        return;
    }
    // "childrens" -> "children" or "children's"
    if (endsWith(w, "s") && w.size() > 3) {
        const std::string plural(w.substr(0, w.size() - 1));
        const bool irregularPlural
            = in(plural, {"children", "men", "women", "people", "mice", "feet", "teeth", "geese"})
            || (endsWith(plural, "men") && g.can(plural, Noun));
        if (irregularPlural && plural != "people" && (in(w, kDoublePlurals) || !known(w))) {
            set(i, nounLike(next) ? plural + "'s" : plural);
            return;
        }
    }
}

} // namespace

std::vector<GrammarEdit> Grammar::check(const std::vector<Token> &tokens, Speller *speller) const
{
    std::vector<GrammarEdit> edits;
    if (!m_lexicon.loaded())
        return edits;
    std::vector<Word> words;
    bool inQuote = false, sentenceStart = true, spaced = false, ended = true;
    int lineBreaks = 0;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const Token &t = tokens[i];
        if (t.removed)
            continue;
        switch (t.kind) {
        case TokenKind::Word: {
            Word w;
            w.token = i;
            const std::string_view text = t.current();
            for (char c : text)
                w.lower += c == '\'' ? '\'' : static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
            w.capital = text[0] >= 'A' && text[0] <= 'Z';
            const bool laterCapital
                = std::any_of(text.begin() + 1, text.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
            w.locked = inQuote || laterCapital || (w.capital && !sentenceStart && w.lower != "i")
                || text.find("\xE2\x80\x99") != std::string_view::npos;
            w.sentenceStart = sentenceStart;
            w.spaced = spaced && !sentenceStart;
            w.lineBreakBefore = lineBreaks == 1 && !ended;
            words.push_back(std::move(w));
            sentenceStart = ended = false;
            spaced = false;
            lineBreaks = 0;
            break;
        }
        case TokenKind::Space:
            spaced = t.text == " " && !words.empty() && words.back().token + 1 == i;
            break;
        case TokenKind::Newline:
            sentenceStart = true;
            spaced = false;
            ++lineBreaks;
            break;
        case TokenKind::Opaque: {
            // A number, a code span, a word of another script: a neighbour that no rule knows.
            Word w;
            w.token = i;
            w.lower = kUnknown;
            w.locked = true;
            w.spaced = spaced && !sentenceStart;
            words.push_back(std::move(w));
            sentenceStart = ended = false;
            spaced = false;
            lineBreaks = 0;
            break;
        }
        case TokenKind::Punct:
            if (t.text == "\"" || t.text == "\xE2\x80\x9C" || t.text == "\xE2\x80\x9D")
                inQuote = t.text == "\xE2\x80\x9C" ? true : t.text == "\xE2\x80\x9D" ? false : !inQuote;
            if (t.text == "." || t.text == "!" || t.text == "?")
                sentenceStart = true;
            ended = sentenceStart || t.text == ":";
            spaced = false;
            break;
        }
    }
    // Questions: every word back to the sentence's start.
    for (std::size_t i = 0, first = 0; i < tokens.size(); ++i) {
        const Token &t = tokens[i];
        if (t.removed
            || !(t.kind == TokenKind::Newline || t.isPunct(".") || t.isPunct("!") || t.isPunct("?")))
            continue;
        if (t.isPunct("?"))
            for (Word &w : words)
                if (w.token >= first && w.token < i)
                    w.question = true;
        first = i;
    }
    Rules rules(m_lexicon, speller, words);
    rules.run();
    for (const Word &w : rules.words())
        if (w.changed)
            edits.push_back({w.token, w.lower});
    return edits;
}

} // namespace Backend
