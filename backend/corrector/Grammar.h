#pragma once

#include "Lexicon.h"
#include "Tokens.h"

#include <string>
#include <string_view>
#include <vector>

namespace Backend {

class Speller;

// A change that the grammar rules ask for: the word token `token` becomes `text` (lower case, or
// as it is to appear after a capital is put back), or goes away with the space before it when
// `text` is empty.
struct GrammarEdit {
    std::size_t token;
    std::string text;
};

// The grammar pass: confusable words decided from their neighbours (their/there/they're, its/it's,
// to/too, then/than, ...), verb forms (agreement with simple subjects, irregular past forms,
// participles after "have", "should of"), and small fixed errors ("alot", "more smarter",
// "discussed about"). What it knows about words comes from the lexicon: the parts of speech a word
// can take and how often each occurs in WordNet's tagged corpus (so that "hot" reads as an
// adjective and "help" as a verb), and WordNet's irregular forms. Each rule fires only in a context
// where the change is almost always right; names, quotations and capitalised words inside a
// sentence are left alone.
class Grammar {
public:
    explicit Grammar(const Lexicon &lexicon)
        : m_lexicon(lexicon)
    {
    }

    // The edits for `tokens` (after spelling). `speller` (may be null) tells known words.
    std::vector<GrammarEdit> check(const std::vector<Token> &tokens, Speller *speller) const;

    // Words that spelling must leave to the grammar rules: "buyed", "childrens".
    bool heldForGrammar(std::string_view lower) const;

private:
    const Lexicon &m_lexicon;
};

} // namespace Backend
