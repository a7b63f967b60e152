// Fixed mistakes: "three book", "alot", "discussed about", "looking forward to meet", "more
// smarter", "childrens".

#include "GrammarRules.h"

namespace Backend::GrammarRules {

namespace {

constexpr std::pair<std::string_view, std::string_view> kIrregularPlurals[]
    = {{"man", "men"}, {"woman", "women"}, {"child", "children"}, {"person", "people"}, {"foot", "feet"},
        {"tooth", "teeth"}, {"mouse", "mice"}, {"goose", "geese"}};

} // namespace

bool Rules::fixedErrors(std::size_t i)
{
    const std::string_view w = m_words[i].lower, prev = at(i, -1), next = at(i, 1);
    if (w == "alot")
        return set(i, "a lot");
    if (w == "about" && in(prev, {"discuss", "discussed", "discusses", "discussing"}) && !next.empty())
        return set(i, "");
    // "looking forward to meet you" -> "meeting"
    if (prev == "to" && at(i, -2) == "forward" && verbBase(w))
        if (std::string ing = ingForm(w); !ing.empty())
            return set(i, std::move(ing));
    // "more smarter" -> "smarter", "the most happiest" -> "the happiest"
    if ((w == "more" || w == "most") && gradedAdjective(next) && (w == "more") == !endsWith(next, "est"))
        return set(i, "");
    // "three book" -> "three books"
    if (in(prev, kNumbers) && !endsWith(w, "s") && !in(w, kObjectPronouns) && w != "people"
        && std::none_of(std::begin(kIrregularPlurals), std::end(kIrregularPlurals),
            [&](const auto &p) { return p.second == w; })
        && g.listed(w, Noun) && g.mainly(w, Noun) && !g.can(next, Noun) && !in(w, kTimeWords)
        && !in(w,
            {"hundred", "thousand", "million", "dozen", "o'clock", "times", "of", "percent", "more",
                "less"})) {
        const auto *irregular = std::find_if(std::begin(kIrregularPlurals), std::end(kIrregularPlurals),
            [&](const auto &p) { return p.first == w; });
        const std::string plural
            = irregular != std::end(kIrregularPlurals) ? std::string(irregular->second) : withEndingS(w);
        if (known(plural))
            return set(i, plural);
    }
    // "childrens" -> "children" or "children's"
    if (endsWith(w, "s") && w.size() > 3) {
        const std::string_view plural = w.substr(0, w.size() - 1);
        const bool irregularPlural = std::any_of(std::begin(kIrregularPlurals), std::end(kIrregularPlurals),
                                         [&](const auto &p) { return p.second == plural; })
            || (endsWith(plural, "men") && g.can(plural, Noun));
        if (irregularPlural && plural != "people" && (in(w, kDoublePlurals) || !known(w)))
            return set(i, std::string(plural) + (nounLike(next) ? "'s" : ""));
    }
    return false;
}

} // namespace Backend::GrammarRules
