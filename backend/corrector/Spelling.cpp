#include "Spelling.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace Backend {

namespace {

// How far ahead of the next candidate a spelling fix must be; further for a word of three letters,
// which is a slip away from dozens of words, and between two forms of one word.
constexpr double kMargin = 4.0;
constexpr double kShortMargin = 30.0;
constexpr double kSameStemFactor = 5.0;
// Added to observed and expected pair counts, so that one sighting in a small corpus does not
// decide alone.
constexpr double kPairSmoothing = 1.0;
// How much a word's commonness counts: its count to this power. The full count would let "the"
// win every contest for a short slip.
constexpr double kPriorPower = 0.5;
// The table of common misspellings knows what people mean more often than a slip model does.
constexpr double kListedFactor = 10.0;
// A final "s" typed is seldom a stray key: a candidate without it is less likely.
constexpr double kDroppedFinalS = 0.3;

bool isLower(char c)
{
    return c >= 'a' && c <= 'z';
}

// Keys next to each other on a QWERTY keyboard.
bool adjacentKeys(char a, char b)
{
    static constexpr std::array<std::string_view, 26> near = {"qwsz", "vghn", "xdfv", "serfcx", "wsdr",
        "drtgvc", "ftyhbv", "gyujnb", "ujko", "huikmn", "jiolm", "kop", "njk", "bhjm", "iklp", "ol", "wa",
        "edft", "awedxz", "rfgy", "yhji", "cfgb", "qase", "zsdc", "tghu", "asx"};
    return isLower(a) && near[static_cast<std::size_t>(a - 'a')].find(b) != std::string_view::npos;
}

bool isTransposition(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    std::size_t first = 0;
    while (first < a.size() && a[first] == b[first])
        ++first;
    return first + 1 < a.size() && a[first] == b[first + 1] && a[first + 1] == b[first]
        && a.substr(first + 2) == b.substr(first + 2);
}

// Words after which only a noun or an adjective can follow.
bool isDeterminer(std::string_view w)
{
    static constexpr std::array<std::string_view, 9> list
        = {"the", "a", "an", "my", "your", "our", "their", "his", "this"};
    return std::find(list.begin(), list.end(), w) != list.end();
}

// Two forms of one word ("notice", "notices"; "need", "needed"): which one is meant is a
// question of grammar, not of spelling.
bool sameStem(std::string_view a, std::string_view b)
{
    if (a.size() > b.size())
        std::swap(a, b);
    if (a.size() >= 4 && a.back() == 'e')
        a.remove_suffix(1);
    return a.size() >= 3 && b.substr(0, a.size()) == a && b.size() - a.size() <= 3;
}

// The chance that a slip of the given cost was made, against the commonest slips.
double slipChance(double cost)
{
    return cost <= 0.6 ? 1.0 : cost <= 0.7 ? 0.7 : cost <= 0.8 ? 0.5 : cost <= 1.0 ? 0.2 : 0.002;
}

} // namespace

double typingCost(std::string_view typed, std::string_view intended)
{
    const std::size_t n = typed.size(), m = intended.size();
    std::size_t p = 0;
    while (p < n && p < m && typed[p] == intended[p])
        ++p;
    if (n == m) {
        if (p < n && typed.substr(p + 1) == intended.substr(p + 1))
            return adjacentKeys(typed[p], intended[p]) ? 0.6 : 1.0;
        if (p + 1 < n && typed[p] == intended[p + 1] && typed[p + 1] == intended[p]
            && typed.substr(p + 2) == intended.substr(p + 2))
            return 0.6;
        return 2.0;
    }
    if (n == m + 1 && typed.substr(p + 1) == intended.substr(p)) {
        const char extra = typed[p];
        const bool near = (p > 0 && (typed[p - 1] == extra || adjacentKeys(typed[p - 1], extra)))
            || (p + 1 < n && (typed[p + 1] == extra || adjacentKeys(typed[p + 1], extra)));
        return near ? 0.7 : 1.0;
    }
    if (m == n + 1 && intended.substr(p + 1) == typed.substr(p))
        return 0.8;
    return 2.0;
}

int editDistance(std::string_view a, std::string_view b)
{
    const std::size_t n = a.size(), m = b.size();
    std::vector<int> prev2(m + 1), prev1(m + 1), cur(m + 1);
    for (std::size_t j = 0; j <= m; ++j)
        prev1[j] = static_cast<int>(j);
    for (std::size_t i = 1; i <= n; ++i) {
        cur[0] = static_cast<int>(i);
        for (std::size_t j = 1; j <= m; ++j) {
            const int cost = a[i - 1] == b[j - 1] ? 0 : 1;
            cur[j] = std::min({prev1[j] + 1, cur[j - 1] + 1, prev1[j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                cur[j] = std::min(cur[j], prev2[j - 2] + 1);
        }
        std::swap(prev2, prev1);
        std::swap(prev1, cur);
    }
    return prev1[m];
}

std::string chooseSpelling(const Lexicon &lexicon, const std::string &typed,
    const std::vector<std::string> &candidates, const SpellingContext &context)
{
    struct Candidate {
        const std::string *word;
        double chance;
    };
    const int maxDistance = typed.size() >= 5 ? 2 : 1;
    const double corpus = std::max(lexicon.corpusWords(), 1.0);
    const double beforeCount = context.before.empty() ? 0 : lexicon.corpusCount(context.before);
    const double afterPrior = context.after.empty() ? 0 : lexicon.prior(context.after) / corpus;
    std::vector<Candidate> scored;
    std::vector<std::string> withListed;
    const std::vector<std::string> *all = &candidates;
    if (!context.listed.empty()
        && std::find(candidates.begin(), candidates.end(), context.listed) == candidates.end()) {
        withListed = candidates;
        withListed.emplace_back(context.listed);
        all = &withListed;
    }
    for (const std::string &s : *all) {
        const bool listed = s == context.listed;
        bool plain = !s.empty();
        bool apostrophe = false;
        for (char c : s) {
            if (c == '\'')
                apostrophe = true;
            else if (!isLower(c))
                plain = false;
        }
        if (!plain)
            continue;
        double cost;
        if (apostrophe) {
            // Only a missing apostrophe of a negation ("dont" -> "don't") is safe to add;
            // "redistributions" is not "redistribution's".
            if (s.size() < 4 || s.compare(s.size() - 3, 3, "n't") != 0
                || s.substr(0, s.size() - 3) + "nt" != typed)
                continue;
            cost = 0.6; // the commonest slip of all
        } else {
            cost = editDistance(typed, s);
            if (cost == 1)
                cost = typingCost(typed, s);
        }
        if (listed)
            cost = 0.6;
        else if (cost > maxDistance || (context.capitalised && !isTransposition(typed, s)))
            continue;
        // "the for" is not English: after an article only nouns and adjectives are candidates.
        if (isDeterminer(context.before) && !lexicon.can(s, Noun) && !lexicon.can(s, Adjective))
            continue;
        const double prior = lexicon.prior(s);
        const double inText = context.countInText ? context.countInText(s) : 0;
        double chance = std::pow(prior + 0.05, kPriorPower) * (1.0 + 2.0 * inText) * slipChance(cost);
        if (typed.back() == 's' && s.back() != 's')
            chance *= kDroppedFinalS;
        if (listed)
            chance *= kListedFactor;
        // How much likelier the neighbours make it than chance would: observed pairs against
        // expected ones. A pair the small corpus never saw does not count against the listed fix:
        // "teh quick" is "the quick" although the corpus lacks that pair.
        double neighbours = 1.0;
        if (!context.before.empty()) {
            const double expected = beforeCount * prior / corpus;
            neighbours *= (lexicon.pairCount(context.before, s) + kPairSmoothing) / (expected + kPairSmoothing);
        }
        if (!context.after.empty()) {
            const double expected = lexicon.corpusCount(s) * afterPrior;
            neighbours *= (lexicon.pairCount(s, context.after) + kPairSmoothing) / (expected + kPairSmoothing);
        }
        chance *= listed ? std::max(neighbours, 1.0) : neighbours;
        scored.push_back({&s, chance});
    }
    if (scored.empty())
        return {};
    std::sort(scored.begin(), scored.end(),
        [](const Candidate &a, const Candidate &b) { return a.chance > b.chance; });
    double margin = typed.size() <= 3 ? kShortMargin : kMargin;
    if (scored.size() > 1 && sameStem(*scored[0].word, *scored[1].word))
        margin *= kSameStemFactor;
    if (scored.size() > 1 && scored[1].chance * margin > scored[0].chance)
        return {};
    // A rare word is a poor guess for a short misspelling.
    if (typed.size() <= 4 && lexicon.prior(*scored[0].word) < 1.0)
        return {};
    return *scored[0].word;
}

} // namespace Backend
