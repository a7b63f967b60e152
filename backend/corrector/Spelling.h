#pragma once

#include "Lexicon.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace Backend {

// Where a misspelled word stands.
struct SpellingContext {
    // The lower-case words right before and after it, with only a space between; empty at a
    // punctuation mark, a line break or the text's ends.
    std::string_view before, after;
    bool capitalised = false; // perhaps a name: only letters put back in order are fixed
    // The correction that the table of common misspellings gives, if any: a strong candidate.
    std::string_view listed;
    // How often a word occurs in the whole text: a word the writer uses elsewhere is the likelier
    // fix.
    std::function<unsigned(const std::string &)> countInText;
};

// Picks the correction of the misspelled lower-case word `typed` among `candidates` (dictionary
// words), or returns empty when no candidate is clearly the one meant. Each candidate is weighed
// by how common it is, how likely the slip of the fingers that turns it into `typed` is, and how
// well it fits between its neighbours (how often the corpus has it after the word before and
// before the word after, against what chance would give). The best must be well ahead of the
// next: a wrong fix is worse than a missed one.
std::string chooseSpelling(const Lexicon &lexicon, const std::string &typed,
    const std::vector<std::string> &candidates, const SpellingContext &context);

// How likely a slip of the fingers turns `intended` into `typed`, as a cost: letters swapped or a
// neighbouring key struck are the commonest slips, a letter left out next, a stray letter far from
// its neighbours the least likely. Words further apart than one edit cost 2.
double typingCost(std::string_view typed, std::string_view intended);

// Optimal string alignment distance (Levenshtein with adjacent transpositions).
int editDistance(std::string_view a, std::string_view b);

} // namespace Backend
