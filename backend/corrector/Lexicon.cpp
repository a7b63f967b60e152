#include "Lexicon.h"

#include <algorithm>
#include <fstream>
#include <vector>

namespace Backend {

namespace {

bool endsWith(std::string_view s, std::string_view suffix)
{
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

bool isVowel(char c)
{
    return c == 'a' || c == 'e' || c == 'i' || c == 'o' || c == 'u';
}

int posIndex(PartOfSpeech pos)
{
    switch (pos) {
    case Noun:
        return 0;
    case Verb:
        return 1;
    case Adjective:
        return 2;
    default:
        return 3;
    }
}

std::string_view trim(std::string_view s)
{
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

// The inflection endings that WordNet's morphology strips, per part of speech: an ending and
// what replaces it.
struct Ending {
    std::string_view suffix, replacement;
};
constexpr Ending kNounEndings[] = {{"s", ""}, {"es", ""}, {"ies", "y"}};
constexpr Ending kVerbEndings[]
    = {{"s", ""}, {"es", ""}, {"ies", "y"}, {"ed", ""}, {"ed", "e"}, {"ied", "y"}, {"ing", ""}, {"ing", "e"}};
constexpr Ending kAdjectiveEndings[]
    = {{"er", ""}, {"er", "e"}, {"ier", "y"}, {"est", ""}, {"est", "e"}, {"iest", "y"}};

// The lemmas that `w` may be an inflection of as `pos`, itself included.
void lemmasOf(const Tables &tables, std::string_view w, PartOfSpeech pos, std::vector<std::string> &out)
{
    out.clear();
    out.emplace_back(w);
    for (std::string_view rest = tables.stringAt(tables.exceptions(posIndex(pos)), w); !rest.empty();) {
        const auto end = rest.find(' ');
        out.emplace_back(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    const auto strip = [&](const Ending &e) {
        if (w.size() <= e.suffix.size() + 1 || !endsWith(w, e.suffix))
            return;
        std::string stem(w.substr(0, w.size() - e.suffix.size()));
        out.push_back(stem + std::string(e.replacement));
        // "running" -> "run", "bigger" -> "big"
        const std::size_t n = stem.size();
        if (e.replacement.empty() && n >= 3 && stem[n - 1] == stem[n - 2] && !isVowel(stem[n - 1]))
            out.push_back(stem.substr(0, n - 1));
    };
    switch (pos) {
    case Noun:
        std::for_each(std::begin(kNounEndings), std::end(kNounEndings), strip);
        break;
    case Verb:
        std::for_each(std::begin(kVerbEndings), std::end(kVerbEndings), strip);
        break;
    case Adjective:
        std::for_each(std::begin(kAdjectiveEndings), std::end(kAdjectiveEndings), strip);
        break;
    case Adverb:
        break;
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

Lexicon::Lexicon(const Tables &tables)
    : m_tables(tables)
{
}

std::string_view Lexicon::misspelling(std::string_view lower) const
{
    return m_tables.stringAt(m_tables.misspellings(), lower);
}

double Lexicon::prior(std::string_view lower) const
{
    const WordInfo *w = info(lower);
    if (!w)
        return 0;
    // About what a word of each level would be expected to occur in two million words.
    double listed = 0.02;
    switch (w->level) {
    case 10:
        listed = 30;
        break;
    case 20:
        listed = 10;
        break;
    case 35:
        listed = 3;
        break;
    case 40:
        listed = 1.5;
        break;
    case 50:
        listed = 1;
        break;
    case 55:
    case 60:
        listed = 0.4;
        break;
    case 70:
        listed = 0.2;
        break;
    default:
        break;
    }
    return w->count + listed;
}

std::uint32_t Lexicon::corpusCount(std::string_view lower) const
{
    const WordInfo *w = info(lower);
    return w ? w->count : 0;
}

std::uint32_t Lexicon::pairCount(std::string_view first, std::string_view second) const
{
    const FrozenMap &words = m_tables.words();
    const std::int64_t a = words.indexOf(first);
    if (a < 0)
        return 0;
    const std::int64_t b = words.indexOf(second);
    if (b < 0)
        return 0;
    const auto *n = static_cast<const std::uint32_t *>(m_tables.pairs().value(
        m_tables.pairs().indexOf(static_cast<std::uint32_t>(a), static_cast<std::uint32_t>(b))));
    return n ? *n : 0;
}

bool Lexicon::isCommon(std::string_view lower) const
{
    const WordInfo *w = info(lower);
    return w && (w->count > 0 || w->level != 0);
}

bool Lexicon::isListed(std::string_view lower) const
{
    const WordInfo *w = info(lower);
    return w && w->level != 0 && w->level <= 60;
}

unsigned Lexicon::weight(std::string_view lower, PartOfSpeech pos) const
{
    thread_local std::vector<std::string> candidates;
    lemmasOf(m_tables, lower, pos, candidates);
    unsigned best = 0;
    for (const std::string &lemma : candidates) {
        const WordInfo *e = info(lemma);
        if (e && (e->pos & pos))
            best = std::max(best, e->senses[posIndex(pos)] + 1u);
    }
    return best;
}

bool Lexicon::mainly(std::string_view lower, PartOfSpeech pos) const
{
    const unsigned own = weight(lower, pos);
    if (own == 0)
        return false;
    for (PartOfSpeech other : {Noun, Verb, Adjective, Adverb})
        if (other != pos && weight(lower, other) >= own)
            return false;
    return true;
}

bool Lexicon::listed(std::string_view lower, PartOfSpeech pos) const
{
    const WordInfo *e = info(lower);
    return e && (e->pos & pos);
}

std::optional<Lexicon::VerbForms> Lexicon::irregular(std::string_view base) const
{
    const std::string_view forms = m_tables.stringAt(m_tables.irregularVerbs(), base);
    const auto space = forms.find(' ');
    if (space == std::string_view::npos)
        return std::nullopt;
    return VerbForms {forms.substr(0, space), forms.substr(space + 1)};
}

std::string_view Lexicon::baseOfPast(std::string_view past) const
{
    return m_tables.stringAt(m_tables.pastToBase(), past);
}

bool Lexicon::isParticiple(std::string_view w) const
{
    return !m_tables.stringAt(m_tables.participleToBase(), w).empty();
}

std::string Lexicon::irregularFor(std::string_view lower, bool participle) const
{
    if (lower.size() < 4 || !endsWith(lower, "ed"))
        return {};
    const std::string_view stem = lower.substr(0, lower.size() - 2);
    std::vector<std::string> bases = {std::string(stem), std::string(stem) + "e"};
    if (stem.size() >= 3 && stem[stem.size() - 1] == stem[stem.size() - 2])
        bases.emplace_back(stem.substr(0, stem.size() - 1)); // "runned"
    if (endsWith(stem, "i"))
        bases.push_back(std::string(stem.substr(0, stem.size() - 1)) + "y"); // "flied"
    for (const std::string &base : bases)
        if (const auto forms = irregular(base); forms && forms->past != lower)
            return std::string(participle ? forms->participle : forms->past);
    return {};
}

std::size_t Lexicon::loadAllowList(const std::string &path)
{
    std::ifstream in(path);
    if (!in)
        return 0;
    std::size_t count = 0;
    for (std::string line; std::getline(in, line);) {
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

bool Lexicon::isAllowed(std::string_view lower) const
{
    return m_allowed.find(lower) != m_allowed.end();
}

} // namespace Backend
