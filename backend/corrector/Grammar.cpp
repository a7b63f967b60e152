#include "Grammar.h"

#include "GrammarRules.h"
#include "Speller.h"

namespace Backend {

using namespace GrammarRules;

namespace GrammarRules {

std::string withEndingS(std::string_view word)
{
    std::string w(word);
    if (w == "have")
        return "has";
    if (endsWith(w, "s") || endsWith(w, "x") || endsWith(w, "z") || endsWith(w, "ch") || endsWith(w, "sh")
        || in(w, {"go", "do", "echo", "veto", "potato", "tomato", "hero"}))
        return w + "es";
    if (endsWith(w, "y") && w.size() > 1 && !isVowel(w[w.size() - 2]))
        return w.substr(0, w.size() - 1) + "ies";
    return w + "s";
}

void Rules::run()
{
    for (int round = 0; round < 2; ++round)
        for (std::size_t i = 0; i < m_words.size(); ++i)
            if (!m_words[i].locked && !m_words[i].changed)
                confusables(i) || verbs(i) || fixedErrors(i);
}

std::string_view Rules::at(std::size_t i, int d) const
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

bool Rules::lockedAt(std::size_t i, int d) const
{
    if (at(i, d).empty())
        return false;
    std::size_t j = i;
    for (int step = 0; step < d; ++step)
        do
            ++j;
        while (m_words[j].removed);
    return m_words[j].locked;
}

bool Rules::clauseStart(std::size_t i) const
{
    if (m_words[i].sentenceStart)
        return true;
    const std::string_view before = at(i, -1);
    return before.empty() ? i > 0 : in(before, kConjunctions) || in(before, kClauseVerbs);
}

bool Rules::phraseEnds(std::size_t i, int d) const
{
    const std::string_view w = at(i, d);
    if (w.empty())
        return true;
    return in(w, kPrepositions) || in(w, kConjunctions) || in(w, kDeterminers) || in(w, kSubjectPronouns)
        || in(w,
            {"now", "today", "tonight", "tomorrow", "yesterday", "yet", "again", "here", "there", "too",
                "anyway", "either"})
        || (g.mainly(w, Adverb) && !g.can(w, Noun));
}

bool Rules::predicate(std::size_t i, int d) const
{
    const std::string_view w = at(i, d);
    if (w.empty() || lockedAt(i, d) || w == "own") // "your own"
        return false;
    if (in(w, {"not", "going", "gonna", "been"}))
        return true;
    const bool complete = phraseEnds(i, d + 1) || at(i, d + 1) == "to";
    if (in(w,
            {"welcome", "right", "wrong", "sure", "late", "done", "back", "here", "home", "ready", "almost",
                "nearly", "always", "never", "still", "already", "so", "very", "really", "too", "just"})
        || adjectiveLike(w))
        return complete;
    // "-ing" only at the sentence's start or after "think", "hope": elsewhere "your accepting it" is
    // a possessive before a gerund.
    return isIng(w) && (m_words[i].sentenceStart || in(at(i, -1), kClauseVerbs)) && complete;
}

bool Rules::set(std::size_t i, std::string text)
{
    Word &w = m_words[i];
    w.removed = text.empty();
    w.lower = std::move(text);
    w.changed = true;
    return true;
}

bool Rules::known(std::string_view w) const
{
    return m_speller ? m_speller->check(w) : g.can(w, Noun) || g.can(w, Verb);
}

bool Rules::isIng(std::string_view w) const
{
    return w.size() > 4 && endsWith(w, "ing") && g.can(w, Verb);
}

bool Rules::isParticiple(std::string_view w) const
{
    return w == "been" || g.isParticiple(w) || (endsWith(w, "ed") && g.can(w, Verb));
}

bool Rules::opensPhrase(std::string_view w) const
{
    return in(w, kDeterminers) || in(w, kObjectPronouns);
}

bool Rules::adjectiveLike(std::string_view w) const
{
    return (g.mainly(w, Adjective) || (g.can(w, Adjective) && !g.can(w, Noun) && !g.can(w, Verb)))
        && !in(w, kDeterminers);
}

bool Rules::mostlyAdjective(std::string_view w) const
{
    const unsigned adjective = g.weight(w, Adjective);
    if (endsWith(w, "ed") && adjective > 0)
        return true;
    return adjective > 0 && adjective > 3 * g.weight(w, Verb) && adjective >= g.weight(w, Noun);
}

bool Rules::gradedAdjective(std::string_view w) const
{
    if (in(w, {"better", "best", "worse", "worst"}))
        return true;
    if (in(w,
            {"later", "latter", "latest", "further", "farther", "lower", "upper", "inner", "outer", "former",
                "other", "never", "ever", "over", "under", "after", "rather", "whether", "either",
                "neither"}))
        return false;
    if (!(endsWith(w, "er") || endsWith(w, "est")) || g.listed(w, Adjective))
        return false;
    return g.can(w, Adjective);
}

bool Rules::comparativeAdjective(std::string_view w) const
{
    return gradedAdjective(w)
        || (endsWith(w, "er") && g.can(w, Adjective)
            && !in(w,
                {"other", "never", "ever", "over", "under", "after", "later", "whether", "either", "neither",
                    "proper", "super", "clever", "bitter", "tender", "slender"}));
}

bool Rules::nounLike(std::string_view w) const
{
    return !w.empty() && g.mainly(w, Noun) && !in(w, kTimeWords) && !in(w, kDeterminers)
        && !in(w, kPrepositions) && !isIng(w);
}

bool Rules::verbBase(std::string_view w) const
{
    if (w.empty() || in(w, kDeterminers) || in(w, kPrepositions) || in(w, kObjectPronouns))
        return false;
    const bool inflected = (endsWith(w, "ed") || endsWith(w, "ing")) && !g.listed(w, Verb);
    return g.can(w, Verb) && g.mainly(w, Verb) && !inflected && g.baseOfPast(w).empty()
        && (!endsWith(w, "s") || endsWith(w, "ss"));
}

std::string Rules::baseOfThirdPerson(std::string_view verb) const
{
    if (verb == "has")
        return "have";
    if (verb == "does" || verb == "goes")
        return std::string(verb.substr(0, 2));
    if (!endsWith(verb, "s") || endsWith(verb, "ss") || verb.size() < 4)
        return {};
    std::string base(verb.substr(0, verb.size() - 1));
    if (endsWith(verb, "ies"))
        base = std::string(verb.substr(0, verb.size() - 3)) + "y";
    else if (endsWith(verb, "es") && (endsWith(base, "she") || endsWith(base, "che") || endsWith(base, "xe")))
        base.pop_back();
    return verbBase(base) && withEndingS(base) == verb ? base : std::string();
}

std::string Rules::ingForm(std::string_view base) const
{
    const std::string b(base);
    const std::size_t n = b.size();
    std::vector<std::string> candidates;
    if (endsWith(b, "e") && !endsWith(b, "ee") && !endsWith(b, "ye") && !endsWith(b, "oe"))
        candidates.push_back(b.substr(0, n - 1) + "ing"); // "making"
    if (n >= 3 && !isVowel(b[n - 1]) && isVowel(b[n - 2]) && !isVowel(b[n - 3])
        && !in(b.substr(n - 1), {"w", "x", "y"}))
        candidates.push_back(b + b[n - 1] + "ing"); // "running"
    candidates.push_back(b + "ing");
    for (const std::string &c : candidates)
        if (known(c))
            return c;
    return {};
}

} // namespace GrammarRules

bool Grammar::heldForGrammar(std::string_view lower) const
{
    return !m_lexicon.irregularFor(lower, false).empty() || in(lower, kDoublePlurals) || lower == "alot";
}

std::vector<GrammarEdit> Grammar::check(const std::vector<Token> &tokens, Speller *speller) const
{
    std::vector<GrammarEdit> edits;
    if (!m_lexicon.loaded())
        return edits;
    std::vector<Word> words;
    bool inQuote = false, sentenceStart = true, spaced = false, ended = true;
    int lineBreaks = 0;
    std::size_t sentenceBegin = 0; // the index in `words` of the current sentence's first word
    const auto add = [&](Word w) {
        w.sentenceStart = sentenceStart;
        w.spaced = spaced && !sentenceStart;
        w.lineBreakBefore = lineBreaks == 1 && !ended;
        words.push_back(std::move(w));
        sentenceStart = ended = spaced = false;
        lineBreaks = 0;
    };
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const Token &t = tokens[i];
        if (t.removed)
            continue;
        switch (t.kind) {
        case TokenKind::Word: {
            Word w;
            w.token = i;
            const std::string_view text = t.current();
            w.lower = toLower(text);
            w.capital = text[0] >= 'A' && text[0] <= 'Z';
            const bool laterCapital
                = std::any_of(text.begin() + 1, text.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
            w.locked = inQuote || laterCapital || (w.capital && !sentenceStart && w.lower != "i")
                || text.find("\xE2\x80\x99") != std::string_view::npos;
            add(std::move(w));
            break;
        }
        case TokenKind::Opaque: {
            // A number, a code span, a word of another script: a neighbour that no rule knows.
            Word w;
            w.token = i;
            w.lower = kUnknown;
            w.locked = true;
            add(std::move(w));
            break;
        }
        case TokenKind::Space:
            spaced = t.text == " " && !words.empty() && words.back().token + 1 == i;
            break;
        case TokenKind::Newline:
            sentenceStart = true;
            spaced = false;
            ++lineBreaks;
            sentenceBegin = words.size();
            break;
        case TokenKind::Punct:
            if (t.text == "\"" || t.text == "\xE2\x80\x9C" || t.text == "\xE2\x80\x9D")
                inQuote = t.text == "\xE2\x80\x9C" ? true : t.text == "\xE2\x80\x9D" ? false : !inQuote;
            if (t.text == "?")
                for (std::size_t j = sentenceBegin; j < words.size(); ++j)
                    words[j].question = true;
            if (t.text == "." || t.text == "!" || t.text == "?") {
                sentenceStart = true;
                sentenceBegin = words.size();
            }
            ended = sentenceStart || t.text == ":";
            spaced = false;
            break;
        }
    }
    Rules(m_lexicon, speller, words).run();
    for (const Word &w : words)
        if (w.changed)
            edits.push_back({w.token, w.lower});
    return edits;
}

} // namespace Backend
