// Words that sound alike, told apart by their neighbours.

#include "GrammarRules.h"

namespace Backend::GrammarRules {

namespace {

// Words after which "there" names a place: "over there", "in there".
constexpr std::string_view kPlaces[] = {"over", "in", "out", "up", "down", "it", "them", "here", "from"};

// Possessives and the contractions that sound like them.
constexpr std::pair<std::string_view, std::string_view> kPossessiveSounds[]
    = {{"their", "they're"}, {"your", "you're"}, {"its", "it's"}, {"whose", "who's"}};

// A verb and a noun (or an adjective) that sounds like it. The verb stands after a modal, a
// subject or "to", with its object after it ("can effect your sleep" -> "affect"); the other word
// stands after an article, an adjective or one of `otherAfter`, and ends its phrase ("a strong
// affect on us" -> "effect", "came lose" -> "loose").
struct VerbSound {
    std::string_view verb, other;
    std::initializer_list<std::string_view>
        objects; // words that open the verb's object besides "the", "him"...
    std::initializer_list<std::string_view> otherAfter;
    std::initializer_list<std::string_view> idioms; // the word is right before these ("effect a change")
};
const VerbSound kVerbSounds[] = {
    {"affect", "effect", {"anyone", "everyone"}, {"side"}, {"a", "an", "change", "changes"}},
    {"advise", "advice", {"against", "users", "everyone", "customers"},
        {"of", "for", "good", "great", "bad", "legal", "expert", "some", "much", "more", "every"}, {}},
    {"breathe", "breath", {"in", "out", "deeply"}, {"deep", "fresh", "bad", "short", "of"}, {}},
    {"lose", "loose", {"weight", "track", "touch", "sleep", "interest", "money", "time"},
        {"is", "are", "was", "were", "be", "been", "too", "so", "very", "bit", "came", "come", "got"}, {}},
};

} // namespace

bool Rules::confusables(std::size_t i)
{
    return !lockedAt(i, 1)
        && (possessiveOrContraction(i) || thereOrTheir(i) || toOrToo(i) || thenOrThan(i) || verbOrNoun(i)
            || apostrophes(i));
}

// their/they're/there, your/you're, its/it's, whose/who's.
bool Rules::possessiveOrContraction(std::size_t i)
{
    const std::string_view w = m_words[i].lower, prev = at(i, -1), next = at(i, 1);
    const auto *pair = std::find_if(std::begin(kPossessiveSounds), std::end(kPossessiveSounds),
        [&](const auto &p) { return p.first == w || p.second == w; });
    if (pair == std::end(kPossessiveSounds))
        return false;
    const std::string possessive(pair->first), contraction(pair->second);
    if (w == contraction) {
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
        const bool didBest = w != "who's" && next == "best" && in(prev, {"did", "do", "does", "tried"});
        if (objectPlace && (noun || didBest))
            return set(i, possessive);
        // "Is they're a pharmacy", "over they're."
        if (w == "they're"
            && ((in(prev, {"is", "was"}) && in(next, {"a", "an", "any", "no", "some"}))
                || (in(prev, kPlaces) && phraseEnds(i, 1))))
            return set(i, "there");
        // A singular noun after it never makes a sentence: "you're jacket", "who's car", "it's menu is".
        const bool singularNoun = noun && !endsWith(next, "s") && !in(next, {"family", "boss", "own"});
        if (w == "it's")
            return singularNoun && in(at(i, 2), {"is", "was", "has"}) && set(i, possessive);
        return (singularNoun || (adjectiveLike(next) && nounLike(at(i, 2)) && !endsWith(at(i, 2), "s")))
            && !m_words[i].sentenceStart && set(i, possessive);
    }
    // "over their." -> "over there."
    if (w == "their" && in(prev, kPlaces) && phraseEnds(i, 1) && !nounLike(next))
        return set(i, "there");
    // "your a star"
    if (w == "your" && in(next, {"a", "an"}))
        return set(i, contraction);
    if (w == "their"
        && (in(next, {"is", "are", "was", "were"})
            || (in(prev, {"is", "are", "was", "were"})
                && in(next,
                    {"any", "some", "no", "a", "an", "enough", "anything", "anyone", "anybody", "something",
                        "nothing"}))))
        return set(i, "there");
    if (w == "its"
        && (in(next, {"been", "a", "an", "not"})
            || (clauseStart(i) && in(next, {"time", "ok", "okay", "fine"}))))
        return set(i, contraction);
    if (w == "whose")
        return (isIng(next) || next == "not" || next == "there" || in(next, kPrepositions)
                   || (mostlyAdjective(next) && phraseEnds(i, 2)))
            && set(i, contraction);
    if (predicate(i, 1))
        return set(i, contraction);
    // "your so kind", "their already gone": only where a subject stands, since "for your really
    // kind help" is a possessive.
    const std::string_view after = at(i, 2);
    const bool intensified = in(next, {"so", "really", "not"})
        || (in(next, kIntensifiers)
            && (isParticiple(after) || isIng(after) || (adjectiveLike(after) && phraseEnds(i, 3))));
    return clauseStart(i) && !after.empty() && after != "own" && intensified && set(i, contraction);
}

// "there" for "they're" ("I guess there leaving") and for "their" ("visited there new flat").
bool Rules::thereOrTheir(std::size_t i)
{
    const std::string_view w = m_words[i].lower, prev = at(i, -1), next = at(i, 1), after = at(i, 2);
    if (w != "there")
        return false;
    if ((in(prev, kClauseVerbs) || in(prev, {"if", "because", "when", "unless"}))
        && (isIng(next) || mostlyAdjective(next) || next == "not") && phraseEnds(i, 2) && next != "more")
        return set(i, "they're");
    const bool afterVerb = !prev.empty()
        && (in(prev, kPrepositions) || g.mainly(prev, Verb) || endsWith(prev, "ed"))
        && !in(prev,
            {"is", "are", "was", "were", "over", "in", "out", "up", "down", "from", "here", "and", "or",
                "but", "be", "been", "get", "got", "go", "went", "gone", "going", "come", "came", "stay",
                "stayed", "live", "lived", "sit", "stand"});
    const bool noun = nounLike(next) && !g.can(next, Adverb) && !in(after, {"ago", "before", "later"});
    const bool adjectiveNoun
        = adjectiveLike(next) && !in(next, kTimeWords) && g.can(after, Noun) && !in(after, kTimeWords);
    return afterVerb && (noun || adjectiveNoun) && set(i, "their");
}

bool Rules::toOrToo(std::size_t i)
{
    const std::string_view w = m_words[i].lower, prev = at(i, -1), next = at(i, 1), after = at(i, 2);
    if (w == "too")
        return (in(next, {"the", "a", "an", "my", "your", "his", "our", "their", "this", "these", "those"})
                   || in(next, {"me", "him", "them", "us"}) || (verbBase(next) && !mostlyAdjective(next)))
            && set(i, "to");
    if (w != "to")
        return false;
    // "me to." -> "me too."; "you to!"; "come to." and "the guitar to." in a statement. Not "where did
    // you come to?" or "the man I spoke to."
    if (next.empty() && (i + 1 >= m_words.size() || !m_words[i + 1].lineBreakBefore)
        && (in(prev, {"me", "you"}) || (!m_words[i].question && (prev == "come" || nounLike(prev)))))
        return set(i, "too");
    // "it is to late", "way to expensive for us"
    const bool adjective = mostlyAdjective(next) || (endsWith(next, "ed") && g.can(next, Adjective));
    if (adjective && (after.empty() || in(after, {"to", "for", "and", "but", "so"}))
        && in(prev,
            {"its", "is", "are", "was", "were", "be", "been", "am", "way", "far", "much", "bit", "seems",
                "looks", "feel", "feels", "felt", "got", "getting", "not", "it's", "that's", "i'm", "you're",
                "we're", "they're", "he's", "she's"}))
        return set(i, "too");
    if (next == "much" && after != "of" && !in(prev, kPrepositions))
        return set(i, "too");
    return next == "many"
        && in(prev, {"have", "has", "had", "are", "were", "is", "was", "be", "way", "far", "got"})
        && set(i, "too");
}

// "taller then me", "rather walk then drive", "longer then we expected"; not "it was better then."
// (at that time) or "more careful then we'll win" (a new clause). And "than" with no comparative
// before it: "and than went", ", than add the milk".
bool Rules::thenOrThan(std::size_t i)
{
    const std::string_view w = m_words[i].lower, prev = at(i, -1), next = at(i, 1);
    static constexpr std::string_view more[] = {"more", "less", "fewer", "rather"};
    const auto comparative = [&](std::string_view c) {
        return in(c, more) || in(c, {"other", "better", "worse"}) || comparativeAdjective(c);
    };
    if (w == "than") {
        for (int d = 1; d <= 6; ++d)
            if (comparative(at(i, -d)) || in(at(i, -d), {"different", "else", "prefer", "rather"}))
                return false;
        return (prev.empty() || in(prev, {"and", "but", "so"})) && !m_words[i].sentenceStart
            && (verbBase(next) || in(next, kSubjectPronouns) || in(next, kDeterminers)) && set(i, "then");
    }
    if (w != "then" || next.empty() || next == kUnknown || next == "there")
        return false;
    // A subject after "then" opens a new clause, unless it only says what was expected.
    if (in(next, kSubjectPronouns)
        && !in(at(i, 2),
            {"expected", "thought", "planned", "imagined", "hoped", "feared", "usual", "did", "do", "does"}))
        return false;
    const bool moreBefore = !in(prev, kConjunctions) && (in(at(i, -2), more) || in(at(i, -3), more));
    return (comparative(prev) || moreBefore) && set(i, "than");
}

bool Rules::verbOrNoun(std::size_t i)
{
    const std::string_view w = m_words[i].lower, prev = at(i, -1), next = at(i, 1);
    for (const VerbSound &s : kVerbSounds) {
        // "side affects", "the storm effected the flights"
        if (w == std::string(s.verb) + "s" && in(prev, s.otherAfter) && s.other.back() != 'h')
            return set(i, std::string(s.other) + "s");
        if (w == std::string(s.other) + "ed" && nounLike(prev) && opensPhrase(next) && !in(next, s.idioms))
            return set(i, std::string(s.verb) + "ed");
        if (w == s.other) {
            const bool verbPlace = in(prev, kModals) || in(prev, kSubjectPronouns)
                || in(prev, {"does", "did", "this", "that", "badly", "really", "strongly"});
            const bool object = opensPhrase(next) || in(next, s.objects);
            return verbPlace && object && !in(next, s.idioms) && !in(at(i, 2), s.idioms)
                && set(i, std::string(s.verb));
        }
        if (w == s.verb) {
            const bool otherPlace = in(prev, {"a", "an", "the", "no", "any", "this"})
                || in(prev, kPossessives) || adjectiveLike(prev) || in(prev, s.otherAfter);
            const bool ends = phraseEnds(i, 1) || in(next, {"on", "of", "at", "is", "was", "from"});
            return otherPlace && ends && set(i, std::string(s.other));
        }
    }
    return false;
}

// Contractions that lost their apostrophe ("lets go", "were late", "wont", "cant"), and "were" for
// "where".
bool Rules::apostrophes(std::size_t i)
{
    const Word &word = m_words[i];
    const std::string_view w = word.lower, prev = at(i, -1), next = at(i, 1);
    if (w == "lets")
        return clauseStart(i) && !in(prev, kConjunctions) && (verbBase(next) || next == "not") && next != "it"
            && set(i, "let's");
    // "my boss let's me work": "let us" cannot take another object.
    if (w == "let's")
        return in(next, {"me", "you", "him", "her", "them"}) && !word.sentenceStart && set(i, "lets");
    if (w == "we're")
        return ((word.sentenceStart && word.question && in(next, kSubjectPronouns))
                   || (nounLike(prev) && endsWith(prev, "s") && !word.sentenceStart))
            && set(i, "were");
    if (w == "where" && in(prev, {"we", "they", "you"}) && !word.sentenceStart)
        return set(i, "were");
    if (w == "were") {
        const bool subjectPlace = word.sentenceStart || in(prev, kClauseVerbs)
            || in(prev, {"when", "if", "because", "as", "so", "until", "now", "that"});
        if (word.sentenceStart && word.question
            && in(next, {"did", "do", "does", "is", "are", "was", "can", "should"}))
            return set(i, "where");
        // "I think were out of coffee": no subject between a verb such as "think" and "were".
        if (!word.question
            && in(prev,
                {"think", "thought", "guess", "hope", "believe", "know", "knew", "suppose", "bet", "reckon",
                    "feel", "felt", "figured", "realise", "realize", "afraid", "glad"})
            && !next.empty() && next != kUnknown && !in(next, kSubjectPronouns)
            && !in(next, {"there", "the", "a", "an", "to", "in", "it", "you"}))
            return set(i, "we're");
        if (!word.question && subjectPlace
            && (isIng(next)
                || in(next,
                    {"not", "almost", "nearly", "done", "back", "ready", "here", "finally", "going", "late",
                        "sorry", "still", "all"})))
            return set(i, "we're");
        return in(prev,
                   {"know", "knows", "knew", "wonder", "wondering", "ask", "asked", "remember", "idea",
                       "sure", "forgot", "forget", "tell", "show"})
            && (in(next, kSubjectPronouns)
                || in(next, {"the", "my", "your", "his", "her", "our", "their", "this", "that"}))
            && set(i, "where");
    }
    if (w != "wont" && w != "cant")
        return false;
    const bool subject = !in(prev, kDeterminers)
        && (in(prev, kSubjectPronouns) || in(prev, {"that", "this"}) || word.sentenceStart
            || g.mainly(prev, Noun));
    const bool verb = verbBase(next)
        || in(next,
            {"be", "have", "do", "go", "get", "let", "find", "stop", "wait", "believe", "answer", "see",
                "tell", "help"});
    return subject && verb && set(i, w == "wont" ? "won't" : "can't");
}

} // namespace Backend::GrammarRules
