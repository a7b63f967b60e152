#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace Backend::Formal {

// The expansion of a contraction, or nothing when `lower` (lower case, typed apostrophe) is not
// one we expand (possessives such as "john's" and words such as "o'clock" are not). `nextLower`
// is the following word in lower case, used to tell "it's been" (has) from "it's late" (is) and
// "I'd gone" (had) from "I'd go" (would). The pronoun "I" comes back in upper case.
std::optional<std::string> expandContraction(std::string_view lower, std::string_view nextLower);

// The verb of a negative contraction that expandContraction() expands ("don't" -> "do", "can't" ->
// "can", "won't" -> "will"), or nothing.
std::optional<std::string> negatedVerb(std::string_view lower);

// The pronouns that follow the verb in a negative question: "isn't it", "don't you", "aren't there".
bool isSubjectPronoun(std::string_view lower);

// The formal replacement of an informal word ("gonna" -> "going to"), or an empty view.
std::string_view informalReplacement(std::string_view lower);

// True for informal words that "fix" leaves alone (they are deliberate, not misspelled).
inline bool isInformal(std::string_view lower)
{
    return !informalReplacement(lower).empty();
}

// Chat noises that a formal text loses: "lol", "haha".
bool isChatter(std::string_view lower);
// Casual greetings that become "Hello": "hey", "hi", "hiya".
bool isGreeting(std::string_view lower);
// Replacements that open a sentence and are followed by a comma there: "by the way", "yes".
bool opensSentence(std::string_view replacement);
// Names of days and months (without "may" and "march"), which take a capital.
bool isDayOrMonth(std::string_view lower);

} // namespace Backend::Formal
