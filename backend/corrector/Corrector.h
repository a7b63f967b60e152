#pragma once

#include "Grammar.h"
#include "Lexicon.h"
#include "Speller.h"

#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace Backend {

// The corrections that a request asks for.
enum class Mode {
    Fix, // spelling and safe mechanical fixes
    Formal, // everything Fix does, plus contractions expanded and informal words replaced
};

struct CorrectorOptions {
    std::string language = "en"; // the Aspell dictionary: every English spelling (color and colour)
    bool spelling = true; // false: no Aspell (the rules and the misspellings table still apply)
    std::string allowListFile; // empty: no allow-list
};

// The result of a correction under a processor-time budget.
struct Correction {
    std::string text;
    // False when the budget ran out: the text from `correctedBytes` on (a line or sentence
    // boundary of the input) came back exactly as it was given.
    bool complete = true;
    std::size_t correctedBytes = 0;
};

// The offline corrector. Immutable after construction except for its pool of spellers, so one
// instance serves every request thread at once.
class Corrector {
public:
    explicit Corrector(const CorrectorOptions &options = {});
    ~Corrector();

    // The corrected text. `text` must be valid UTF-8; the result is too. Never throws for any
    // input; protected spans, line breaks, indentation and trailing white space come back unchanged.
    std::string correct(std::string_view text, Mode mode) const;

    // The same, using at most about `cpuBudget` of the calling thread's processor time (zero: no
    // limit). Past the budget the rest of the text, from the start of the sentence being worked
    // on, is returned unchanged: the answer is still the user's text, less corrected.
    Correction correct(std::string_view text, Mode mode, std::chrono::nanoseconds cpuBudget) const;

    // Problems found while loading (a missing dictionary or word list), for the start-up log.
    const std::vector<std::string> &warnings() const { return m_warnings; }
    // What was loaded, for the start-up log.
    std::string summary() const;

    const Lexicon &lexicon() const { return m_lexicon; }
    const Grammar &grammar() const { return m_grammar; }
    SpellerPool &spellers() const { return *m_spellers; }
    WordCache &wordCache() const { return *m_wordCache; }
    bool hasSpeller() const { return m_hasSpeller; }

private:
    Lexicon m_lexicon;
    Grammar m_grammar;
    std::unique_ptr<SpellerPool> m_spellers;
    std::unique_ptr<WordCache> m_wordCache;
    bool m_hasSpeller = false;
    std::vector<std::string> m_warnings;
};

} // namespace Backend
