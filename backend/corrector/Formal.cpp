#include "Formal.h"

#include <algorithm>
#include <array>
#include <utility>

namespace Backend::Formal {

namespace {

template <std::size_t N> bool contains(const std::array<std::string_view, N> &list, std::string_view word)
{
    return std::find(list.begin(), list.end(), word) != list.end();
}

bool endsWith(std::string_view s, std::string_view suffix)
{
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

// Words after "'d" that show it stands for "had": "I'd been", "she'd gone", "we'd finished".
bool meansHad(std::string_view next)
{
    static constexpr std::array<std::string_view, 36> participles = {"been", "better", "had", "gone", "done",
        "seen", "known", "taken", "given", "written", "eaten", "got", "gotten", "made", "left", "said",
        "told", "thought", "found", "heard", "felt", "kept", "lost", "met", "paid", "sent", "spent", "won",
        "begun", "become", "brought", "bought", "caught", "taught", "forgotten", "already"};
    if (contains(participles, next))
        return true;
    return next.size() > 3 && endsWith(next, "ed") && next != "need" && next != "feed" && next != "bleed"
        && next != "breed" && next != "speed" && next != "proceed" && next != "succeed" && next != "exceed";
}

// Words after "'s" that show it stands for "has": "it's been", "he's got".
bool meansHas(std::string_view next)
{
    return next == "been" || next == "got" || next == "gotten" || next == "had";
}

std::string pronoun(std::string_view stem)
{
    return stem == "i" ? std::string("I") : std::string(stem);
}

} // namespace

std::optional<std::string> expandContraction(std::string_view lower, std::string_view nextLower)
{
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 7> whole = {{
        {"can't", "cannot"},
        {"won't", "will not"},
        {"shan't", "shall not"},
        {"i'm", "I am"},
        {"let's", "let us"},
        {"y'all", "you all"},
        {"c'mon", "come on"},
    }};
    for (const auto &[word, expansion] : whole)
        if (lower == word)
            return std::string(expansion);

    const auto apostrophe = lower.rfind('\'');
    if (apostrophe == std::string_view::npos || apostrophe == 0)
        return std::nullopt;
    std::string_view stem = lower.substr(0, apostrophe);
    const std::string_view suffix = lower.substr(apostrophe + 1);

    if (suffix == "t" && endsWith(stem, "n")) {
        static constexpr std::array<std::string_view, 18> verbs
            = {"do", "does", "did", "is", "are", "was", "were", "has", "have", "had", "would", "could",
                "should", "might", "must", "need", "dare", "ought"};
        stem.remove_suffix(1);
        if (contains(verbs, stem))
            return std::string(stem) + " not";
        return std::nullopt;
    }
    if (suffix == "re") {
        static constexpr std::array<std::string_view, 10> subjects
            = {"you", "we", "they", "who", "what", "there", "where", "how", "why", "when"};
        if (contains(subjects, stem))
            return std::string(stem) + " are";
        return std::nullopt;
    }
    if (suffix == "ve") {
        static constexpr std::array<std::string_view, 15> subjects = {"i", "you", "we", "they", "who", "what",
            "would", "could", "should", "might", "must", "there", "where", "how", "why"};
        if (contains(subjects, stem))
            return pronoun(stem) + " have";
        return std::nullopt;
    }
    if (suffix == "ll") {
        static constexpr std::array<std::string_view, 15> subjects = {"i", "you", "he", "she", "it", "we",
            "they", "who", "what", "that", "there", "this", "where", "when", "how"};
        if (contains(subjects, stem))
            return pronoun(stem) + " will";
        return std::nullopt;
    }
    if (suffix == "d") {
        static constexpr std::array<std::string_view, 10> subjects
            = {"i", "you", "he", "she", "it", "we", "they", "who", "that", "there"};
        if (contains(subjects, stem))
            return pronoun(stem) + (meansHad(nextLower) ? " had" : " would");
        return std::nullopt;
    }
    if (suffix == "s") {
        // Only after pronouns and question words: every other "'s" is a possessive.
        static constexpr std::array<std::string_view, 12> subjects
            = {"it", "he", "she", "that", "there", "here", "what", "who", "where", "when", "why", "how"};
        if (contains(subjects, stem))
            return std::string(stem) + (meansHas(nextLower) ? " has" : " is");
        return std::nullopt;
    }
    return std::nullopt;
}

std::optional<std::string> negatedVerb(std::string_view lower)
{
    if (lower == "can't")
        return std::string("can");
    std::optional<std::string> expansion = expandContraction(lower, {});
    if (!expansion || !endsWith(*expansion, " not"))
        return std::nullopt;
    expansion->resize(expansion->size() - 4);
    return expansion;
}

bool isSubjectPronoun(std::string_view lower)
{
    static constexpr std::array<std::string_view, 8> pronouns
        = {"i", "you", "we", "they", "he", "she", "it", "there"};
    return contains(pronouns, lower);
}

std::string_view informalReplacement(std::string_view lower)
{
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 50> table = {{
        {"gonna", "going to"},
        {"wanna", "want to"},
        {"gotta", "have to"},
        {"kinda", "kind of"},
        {"sorta", "sort of"},
        {"outta", "out of"},
        {"lotta", "lot of"},
        {"lotsa", "lots of"},
        {"hafta", "have to"},
        {"oughta", "ought to"},
        {"gimme", "give me"},
        {"lemme", "let me"},
        {"dunno", "do not know"},
        {"yeah", "yes"},
        {"yea", "yes"},
        {"yep", "yes"},
        {"yup", "yes"},
        {"nope", "no"},
        {"nah", "no"},
        {"thx", "thank you"},
        {"thanx", "thank you"},
        {"tnx", "thank you"},
        {"pls", "please"},
        {"plz", "please"},
        {"cuz", "because"},
        {"coz", "because"},
        {"tho", "though"},
        {"altho", "although"},
        {"thru", "through"},
        {"nite", "night"},
        {"tonite", "tonight"},
        {"tmrw", "tomorrow"},
        {"btw", "by the way"},
        {"fyi", "for your information"},
        {"imo", "in my opinion"},
        {"imho", "in my humble opinion"},
        {"idk", "I do not know"},
        {"tbh", "to be honest"},
        {"asap", "as soon as possible"},
        {"u", "you"},
        {"info", "information"},
        {"convo", "conversation"},
        {"alright", "all right"},
        {"cya", "see you"},
        {"np", "no problem"},
        {"ok", "OK"},
        {"ty", "thank you"},
        {"rn", "right now"},
        {"nvm", "never mind"},
        {"omw", "on my way"},
    }};
    for (const auto &[word, replacement] : table)
        if (lower == word)
            return replacement;
    return {};
}

bool isChatter(std::string_view lower)
{
    static constexpr std::array<std::string_view, 10> words
        = {"lol", "lmao", "lmfao", "rofl", "haha", "hahaha", "hehe", "xd", "xoxo", "lolol"};
    return contains(words, lower);
}

bool isGreeting(std::string_view lower)
{
    static constexpr std::array<std::string_view, 7> words
        = {"hey", "hi", "hiya", "heya", "yo", "howdy", "sup"};
    return contains(words, lower);
}

bool opensSentence(std::string_view replacement)
{
    static constexpr std::array<std::string_view, 8> phrases = {"by the way", "for your information",
        "in my opinion", "in my humble opinion", "to be honest", "yes", "no", "no problem"};
    return contains(phrases, replacement);
}

bool isDayOrMonth(std::string_view lower)
{
    // Not "may", "march" or "sun": words of their own.
    static constexpr std::array<std::string_view, 17> names
        = {"monday", "tuesday", "wednesday", "thursday", "friday", "saturday", "sunday", "january",
            "february", "april", "june", "july", "august", "september", "october", "november", "december"};
    return contains(names, lower);
}

} // namespace Backend::Formal
