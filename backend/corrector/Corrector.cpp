#include "Corrector.h"

#include "CpuBudget.h"
#include "Formal.h"
#include "Spelling.h"
#include "Tokens.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <optional>
#include <unordered_map>

namespace Backend {

namespace {

constexpr std::string_view kTypographicApostrophe = "\xE2\x80\x99";
constexpr std::size_t kSuggestionsConsidered = 10;

enum class Case { Lower, Capitalized, Upper, Mixed };

bool isUpper(char c)
{
    return c >= 'A' && c <= 'Z';
}

bool isLower(char c)
{
    return c >= 'a' && c <= 'z';
}

// Letter case of an ASCII word, ignoring apostrophes. A single capital ("I", "A") is Capitalized.
Case caseOf(std::string_view word)
{
    std::size_t letters = 0, upper = 0;
    bool firstUpper = false, laterUpper = false;
    for (char c : word) {
        if (!isUpper(c) && !isLower(c))
            continue;
        if (isUpper(c)) {
            ++upper;
            if (letters == 0)
                firstUpper = true;
            else
                laterUpper = true;
        }
        ++letters;
    }
    if (upper == 0)
        return Case::Lower;
    if (upper == letters && letters >= 2)
        return Case::Upper;
    if (firstUpper && !laterUpper)
        return Case::Capitalized;
    return Case::Mixed;
}

// The word with typographic apostrophes turned into typed ones.
std::string normalizeApostrophes(std::string_view word)
{
    std::string out;
    out.reserve(word.size());
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (word.substr(i, kTypographicApostrophe.size()) == kTypographicApostrophe) {
            out += '\'';
            i += kTypographicApostrophe.size() - 1;
        } else {
            out += word[i];
        }
    }
    return out;
}

std::string capitalizeFirst(std::string s)
{
    if (!s.empty() && isLower(s[0]))
        s[0] = static_cast<char>(s[0] - 'a' + 'A');
    return s;
}

bool isOpeningPunct(std::string_view p)
{
    return p == "\"" || p == "'" || p == "(" || p == "[" || p == "{" || p == "*" || p == "_"
        || p == "\xE2\x80\x9C" || p == "\xE2\x80\x98" || p == "\xC2\xAB" || p == "\xC2\xBF"
        || p == "\xC2\xA1";
}

bool isClosingPunct(std::string_view p)
{
    return p == "\"" || p == "'" || p == ")" || p == "]" || p == "}" || p == "*" || p == "_"
        || p == "\xE2\x80\x9D" || p == "\xE2\x80\x99" || p == "\xC2\xBB";
}

// Opaque tokens that start a list item or a quotation: "1", "-", "*", ">", "#".
bool isListMarker(std::string_view opaque)
{
    return !opaque.empty() && std::all_of(opaque.begin(), opaque.end(), [](char c) {
        return (c >= '0' && c <= '9') || c == '-' || c == '*' || c == '+' || c == '>' || c == '#';
    });
}

bool isAsciiAlnum(std::string_view s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
        return isLower(c) || isUpper(c) || (c >= '0' && c <= '9');
    });
}

template <std::size_t N> bool contains(const std::array<std::string_view, N> &list, std::string_view word)
{
    return std::find(list.begin(), list.end(), word) != list.end();
}

// Words before a full stop that do not end a sentence.
bool isAbbreviation(std::string_view lower)
{
    static constexpr std::array<std::string_view, 52> list
        = {"mr", "mrs", "ms", "dr", "prof", "sr", "jr", "st", "vs", "etc", "cf", "approx", "fig", "figs",
            "no", "nos", "vol", "vols", "ch", "sec", "dept", "inc", "ltd", "co", "corp", "jan", "feb", "mar",
            "apr", "jun", "jul", "aug", "sep", "sept", "oct", "nov", "dec", "est", "ca", "al", "ed", "eds",
            "pp", "op", "cit", "viz", "resp", "incl", "excl", "min", "max", "gen"};
    // Single letters are initials; roman numerals number items ("ii. moral rights").
    const bool roman = lower.size() <= 4 && lower.find_first_not_of("ivx") == std::string_view::npos;
    return lower.size() == 1 || roman || contains(list, lower);
}

// Doubled words that are good English ("had had", "that that", "bye bye").
bool mayRepeat(std::string_view lower)
{
    static constexpr std::array<std::string_view, 45> list = {"had", "that", "do", "does", "did", "very",
        "really", "so", "no", "yes", "bye", "ha", "haha", "ho", "he", "hee", "knock", "tut", "tsk", "there",
        "now", "well", "far", "long", "many", "much", "more", "again", "round", "over", "on", "blah", "yada",
        "her", "can", "come", "cha", "night", "chop", "hush", "boo", "pooh", "aye", "bang", "choo"};
    return contains(list, lower);
}

// Words after which "a" is not an article ("plan a or b", "a is b") or that no article precedes.
bool notAfterArticle(std::string_view lower)
{
    static constexpr std::array<std::string_view, 30> list = {"and", "or", "of", "on", "in", "is", "it", "if",
        "as", "at", "are", "am", "an", "a", "our", "ours", "us", "up", "upon", "unless", "until", "its",
        "into", "onto", "off", "either", "each", "every", "other", "all"};
    return contains(list, lower);
}

bool startsWith(std::string_view s, std::string_view prefix)
{
    return s.size() >= prefix.size() && s.substr(0, prefix.size()) == prefix;
}

// The article that a lower-case dictionary word takes: "a", "an", or empty when its first sound
// cannot be told from its spelling with confidence.
std::string_view articleFor(std::string_view w)
{
    if (w.size() < 2 || notAfterArticle(w))
        return {};
    const char first = w[0];
    switch (first) {
    case 'a':
    case 'i':
        return "an";
    case 'o':
        return (w == "one" || w == "once" || w == "oneself" || startsWith(w, "ouija")) ? "a" : "an";
    case 'e':
        return (startsWith(w, "eu") || startsWith(w, "ewe")) ? "a" : "an";
    case 'u': {
        // "a unit", "a user", "an umbrella", "an unusual": the sound follows the next letters.
        if (startsWith(w, "uni")) {
            const char after = w.size() > 3 ? w[3] : '\0';
            if (std::string_view("cfloqstvx").find(after) != std::string_view::npos)
                return "a";
            return {};
        }
        if (startsWith(w, "unan") || startsWith(w, "us") || startsWith(w, "ub") || startsWith(w, "uk")
            || startsWith(w, "ura") || startsWith(w, "ure") || startsWith(w, "uri") || startsWith(w, "uro")
            || startsWith(w, "uto") || startsWith(w, "uti") || startsWith(w, "ute"))
            return "a";
        if (startsWith(w, "un") || startsWith(w, "up") || startsWith(w, "ug") || startsWith(w, "um")
            || startsWith(w, "ul") || startsWith(w, "utt") || startsWith(w, "urg") || startsWith(w, "urb"))
            return "an";
        return {};
    }
    case 'h': {
        static constexpr std::array<std::string_view, 6> silent
            = {"hour", "honest", "honor", "honour", "heir", "herb"};
        for (std::string_view s : silent)
            if (startsWith(w, s))
                return s == "herb" ? std::string_view() : std::string_view("an");
        // Usage differs before an unstressed "h" ("an historic"): leave those alone.
        if (startsWith(w, "hist") || startsWith(w, "hab") || startsWith(w, "hot") || startsWith(w, "hyp")
            || startsWith(w, "her"))
            return {};
        return "a";
    }
    default:
        return "a";
    }
}

// Prefixes that stand before a hyphen ("non-exclusive", "pre-existing") and are not words of
// their own in the dictionary.
bool isCompoundPrefix(std::string_view lower)
{
    static constexpr std::array<std::string_view, 24> list
        = {"non", "pre", "anti", "sub", "multi", "co", "re", "un", "semi", "self", "post", "inter", "intra",
            "ex", "mid", "mis", "over", "pro", "pseudo", "quasi", "auto", "bi", "tri", "de"};
    return contains(list, lower);
}

class Pass {
public:
    Pass(const Lexicon &lexicon, const Grammar &grammar, Speller *speller, WordCache &cache,
        std::string_view text, Mode mode, CpuDeadline deadline)
        : m_lexicon(lexicon)
        , m_grammar(grammar)
        , m_speller(speller)
        , m_cache(cache)
        , m_mode(mode)
        , m_text(text)
        , m_tokens(tokenize(text))
        , m_deadline(deadline)
    {
        m_typographicApostrophes = text.find(kTypographicApostrophe) != std::string_view::npos
            && text.find('\'') == std::string_view::npos;
    }

    Correction run()
    {
        spelling();
        grammar();
        if (m_mode == Mode::Formal)
            formal();
        standaloneI();
        repeatedWords();
        articles();
        sentenceCapitals();
        spaceBeforePunctuation();
        Correction result {joinTokens(m_tokens), !m_cut, m_text.size()};
        if (m_cut) {
            result.correctedBytes = m_text.size() - m_rawTail.size();
            result.text += m_rawTail;
        }
        return result;
    }

private:
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

    // Checks the budget before costly work on the token at `i`. Once it has run out, the tokens
    // from the start of i's sentence on (or from i, in a very long sentence) are dropped and their
    // text is kept as it came; every later step then works on the part that remains.
    bool outOfTime(std::size_t i)
    {
        if (m_cut)
            return true;
        if (!m_deadline.passed())
            return false;
        constexpr std::size_t kLongSentence = 256; // tokens
        const auto opens = [this](std::size_t j) {
            if (j == 0 || m_tokens[j - 1].kind == TokenKind::Newline)
                return true;
            return m_tokens[j - 1].kind == TokenKind::Space && j >= 2
                && (m_tokens[j - 2].isPunct(".") || m_tokens[j - 2].isPunct("!")
                    || m_tokens[j - 2].isPunct("?"));
        };
        std::size_t start = i;
        const std::size_t limit = i > kLongSentence ? i - kLongSentence : 0;
        while (start > limit && !opens(start))
            --start;
        if (!opens(start))
            start = i;
        m_rawTail = start < m_tokens.size()
            ? m_text.substr(static_cast<std::size_t>(m_tokens[start].text.data() - m_text.data()))
            : std::string_view();
        m_tokens.resize(start);
        m_wordCounts.reset();
        m_cut = true;
        return true;
    }

    std::size_t prev(std::size_t i) const
    {
        while (i > 0) {
            --i;
            if (m_tokens[i].live())
                return i;
        }
        return npos;
    }

    std::size_t next(std::size_t i) const
    {
        for (++i; i < m_tokens.size(); ++i)
            if (m_tokens[i].live())
                return i;
        return npos;
    }

    bool isKind(std::size_t i, TokenKind kind) const { return i != npos && m_tokens[i].kind == kind; }
    bool isPunct(std::size_t i, std::string_view p) const { return i != npos && m_tokens[i].isPunct(p); }
    bool isWhitespace(std::size_t i) const
    {
        return isKind(i, TokenKind::Space) || isKind(i, TokenKind::Newline);
    }

    // A hyphen right next to a word makes it part of a compound.
    bool isJoiner(std::size_t i) const { return isPunct(i, "-"); }

    // The word at `i` is the first thing on its line, after indentation and list markers.
    bool atLineStart(std::size_t i) const
    {
        for (std::size_t j = prev(i); j != npos; j = prev(j)) {
            const Token &t = m_tokens[j];
            if (t.kind == TokenKind::Newline)
                return true;
            if (t.kind == TokenKind::Word)
                return false;
            if (t.kind == TokenKind::Opaque && !isListMarker(t.text))
                return false;
            if (t.kind == TokenKind::Punct && !isOpeningPunct(t.text) && t.text != "." && t.text != ")"
                && t.text != "\xE2\x80\xA2")
                return false;
        }
        return true;
    }

    enum class Start { None, Text, Sentence };

    // Whether the word at `i` starts the text or follows a sentence's end and white space.
    Start sentenceStart(std::size_t i) const
    {
        std::size_t j = prev(i);
        while (j != npos && m_tokens[j].kind == TokenKind::Punct && isOpeningPunct(m_tokens[j].text))
            j = prev(j);
        if (j == npos)
            return Start::Text;
        if (!isWhitespace(j))
            return Start::None;
        while (isWhitespace(j))
            j = prev(j);
        if (j == npos)
            return Start::Text;
        // After a closing quote or bracket ('He asked "why?" and left') the sentence may go on.
        if (isPunct(j, "!") || isPunct(j, "?"))
            return Start::Sentence;
        if (!isPunct(j, "."))
            return Start::None;
        const std::size_t before = prev(j);
        if (before == npos || isPunct(before, "."))
            return Start::None; // an ellipsis
        const Token &b = m_tokens[before];
        if (b.kind == TokenKind::Word)
            return isAbbreviation(toLower(b.current())) ? Start::None : Start::Sentence;
        if (b.kind == TokenKind::Opaque) {
            if (b.text.find('.') != std::string_view::npos)
                return Start::None; // "e.g.", "U.S."
            if (isListMarker(b.text) && atLineStart(before))
                return Start::None; // "1. item"
            return Start::Sentence;
        }
        if (b.kind == TokenKind::Punct && isClosingPunct(b.text))
            return Start::Sentence;
        return Start::None;
    }

    // The text ends like a complete sentence, so its first word starts one.
    bool endsWithTerminator() const
    {
        std::size_t j = m_tokens.size();
        j = prev(j);
        while (j != npos
            && (isWhitespace(j) || (isKind(j, TokenKind::Punct) && isClosingPunct(m_tokens[j].text))))
            j = prev(j);
        return isPunct(j, ".") || isPunct(j, "!") || isPunct(j, "?");
    }

    // The word at `i` may be a common word: not a name inside a sentence, an acronym or camelCase.
    bool mayEditWord(std::size_t i, Case c) const
    {
        if (c == Case::Upper || c == Case::Mixed)
            return false;
        if (c == Case::Capitalized)
            return atLineStart(i) || sentenceStart(i) != Start::None;
        return true;
    }

    void replace(std::size_t i, std::string replacement)
    {
        Token &t = m_tokens[i];
        if ((m_typographicApostrophes || t.text.find(kTypographicApostrophe) != std::string_view::npos)
            && replacement.find('\'') != std::string::npos) {
            std::string typographic;
            for (char ch : replacement) {
                if (ch == '\'')
                    typographic += kTypographicApostrophe;
                else
                    typographic += ch;
            }
            replacement = std::move(typographic);
        }
        if (replacement == t.text)
            return;
        t.replacement = std::move(replacement);
        t.replaced = true;
    }

    // The correction for a misspelled lower-case word, or empty: the misspellings table first,
    // then Aspell's suggestions when one is safe.
    // Every dictionary word one slip away from `lower` that Aspell's short list left out: for a
    // short word the right one is often further down Aspell's list ("knos": "know").
    void addNearWords(const std::string &lower, std::vector<std::string> &words)
    {
        const auto add = [&](const std::string &w) {
            if (!w.empty() && std::find(words.begin(), words.end(), w) == words.end() && m_speller->check(w))
                words.push_back(w);
        };
        for (std::size_t p = 0; p <= lower.size(); ++p) {
            if (p < lower.size()) {
                add(lower.substr(0, p) + lower.substr(p + 1));
                if (p + 1 < lower.size())
                    add(lower.substr(0, p) + lower[p + 1] + lower[p] + lower.substr(p + 2));
            }
            for (char c = 'a'; c <= 'z'; ++c) {
                add(lower.substr(0, p) + c + lower.substr(p));
                if (p < lower.size() && c != lower[p])
                    add(lower.substr(0, p) + c + lower.substr(p + 1));
            }
        }
    }

    std::string correctionFor(const std::string &lower, SpellingContext context)
    {
        // The table's fix competes with the dictionary's words ("fom": from or form?), unless
        // it is a phrase or a contraction, which no dictionary word rivals.
        const std::string_view listed = m_lexicon.misspelling(lower);
        if (!listed.empty() && (!m_speller || listed.find_first_of(" '") != std::string_view::npos))
            return std::string(listed);
        if (!m_speller)
            return {};
        std::optional<UnknownWord> known = m_cache.find(lower);
        if (!known) {
            known.emplace();
            known->derived = isDerivedWord(lower);
            if (!known->derived) {
                known->suggestions = m_speller->suggest(lower, kSuggestionsConsidered);
                addNearWords(lower, known->suggestions);
            }
            m_cache.insert(lower, *known);
        }
        if (known->derived)
            return std::string(listed);
        // A capitalised word that the text uses again is a name ("Bora Bora").
        if (context.capitalised && countInText(lower) > 1)
            return {};
        context.listed = listed;
        return chooseSpelling(m_lexicon, lower, known->suggestions, context);
    }

    // An unknown word built from a known one ("relicensing", "formatters", "noncommercially"):
    // a new word rather than a misspelling, so it is left alone.
    bool isDerivedWord(const std::string &lower) const
    {
        static constexpr std::array<std::string_view, 24> prefixes = {"un", "re", "non", "pre", "sub", "co",
            "de", "dis", "mis", "over", "under", "out", "inter", "multi", "anti", "auto", "semi", "super",
            "post", "pro", "counter", "cross", "micro", "hyper"};
        for (std::string_view prefix : prefixes)
            if (lower.size() >= prefix.size() + 4 && startsWith(lower, prefix)
                && m_speller->check(std::string_view(lower).substr(prefix.size())))
                return true;
        static constexpr std::array<std::string_view, 27> suffixes = {"s", "es", "ed", "ing", "er", "ers",
            "or", "ors", "ly", "able", "ably", "ability", "ness", "ment", "ments", "less", "ful", "ist",
            "ists", "ism", "isms", "ize", "izes", "ized", "ization", "ise", "ised"};
        for (std::string_view suffix : suffixes) {
            if (lower.size() < suffix.size() + 5
                || lower.compare(lower.size() - suffix.size(), suffix.size(), suffix) != 0)
                continue;
            const std::string stem = lower.substr(0, lower.size() - suffix.size());
            if (m_speller->check(stem) || m_speller->check(stem + "e"))
                return true;
            // "formatters": the final consonant doubles before the ending.
            const std::size_t n = stem.size();
            if (stem[n - 1] == stem[n - 2]
                && std::string_view("aeiou").find(stem[n - 1]) == std::string_view::npos
                && m_speller->check(std::string_view(stem).substr(0, n - 1)))
                return true;
        }
        return false;
    }

    // How often `lower` occurs in this text: a word the writer uses elsewhere is the likelier fix.
    unsigned countInText(const std::string &lower)
    {
        if (!m_wordCounts) {
            m_wordCounts.emplace();
            for (const Token &t : m_tokens)
                if (t.kind == TokenKind::Word)
                    ++(*m_wordCounts)[toLower(t.text)];
        }
        const auto it = m_wordCounts->find(lower);
        return it == m_wordCounts->end() ? 0 : it->second;
    }

    // The neighbours of the word at `i` for choosing its spelling.
    SpellingContext spellingContext(std::size_t i, Case c)
    {
        SpellingContext context;
        const std::size_t before = prev(i), after = next(i);
        if (isKind(before, TokenKind::Space) && isKind(prev(before), TokenKind::Word)) {
            m_before = lowerWordAt(prev(before));
            context.before = m_before;
        }
        if (isKind(after, TokenKind::Space) && isKind(next(after), TokenKind::Word)) {
            m_after = lowerWordAt(next(after));
            context.after = m_after;
        }
        context.capitalised = c == Case::Capitalized;
        context.countInText = [this](const std::string &w) { return countInText(w); };
        return context;
    }

    void spellWord(std::size_t i)
    {
        Token &t = m_tokens[i];
        const std::string word = normalizeApostrophes(t.current());
        if (word.size() < 3)
            return;
        const Case c = caseOf(word);
        if (!mayEditWord(i, c))
            return;
        const std::string lower = toLower(word);
        // Aspell lacks some interjections ("tsk", "yada").
        if (m_lexicon.isAllowed(lower) || Formal::isInformal(lower) || mayRepeat(lower))
            return;
        // "buyed", "childrens": the grammar rules know the word meant.
        if (m_grammar.heldForGrammar(lower))
            return;
        // The first part of "non-exclusive" is not a word of its own.
        if (isPunct(next(i), "-") && isCompoundPrefix(lower))
            return;
        if (m_speller && m_speller->check(word))
            return;
        // The common word lists of every English spelling know words that Aspell's dictionary
        // may lack ("programme").
        if (m_lexicon.isListed(lower))
            return;
        // A name written in lower case ("friday", "london") is not a misspelling.
        if (m_speller && c == Case::Lower && m_speller->check(capitalizeFirst(word)))
            return;
        if (!m_speller && m_lexicon.misspelling(lower).empty())
            return;
        std::string fix;
        if (word.find('\'') != std::string::npos) {
            fix = std::string(m_lexicon.misspelling(lower));
            const auto apostrophe = lower.rfind('\'');
            if (fix.empty() && lower.substr(apostrophe) == "'s" && apostrophe >= 3) {
                // A misspelled possessive: correct the noun, keep the ending.
                const std::string stem = lower.substr(0, apostrophe);
                if (m_speller && !m_speller->check(stem) && !m_lexicon.isAllowed(stem)) {
                    const std::string stemFix = correctionFor(stem, spellingContext(i, c));
                    if (!stemFix.empty() && stemFix.find(' ') == std::string::npos
                        && stemFix.find('\'') == std::string::npos)
                        fix = stemFix + "'s";
                }
            }
        } else {
            fix = correctionFor(lower, spellingContext(i, c));
        }
        if (fix.empty())
            return;
        replace(i, c == Case::Capitalized ? capitalizeFirst(fix) : fix);
    }

    void grammar()
    {
        for (const GrammarEdit &edit : m_grammar.check(m_tokens, m_speller)) {
            Token &t = m_tokens[edit.token];
            if (edit.text.empty()) {
                // The word goes with the space before it (or after it, at the start).
                t.removed = true;
                const std::size_t before = prev(edit.token), after = next(edit.token);
                if (isKind(before, TokenKind::Space))
                    m_tokens[before].removed = true;
                else if (isKind(after, TokenKind::Space))
                    m_tokens[after].removed = true;
                continue;
            }
            const Case c = caseOf(t.current());
            replace(edit.token, c == Case::Capitalized ? capitalizeFirst(edit.text) : edit.text);
        }
    }

    void spelling()
    {
        bool quoted = false;
        for (std::size_t i = 0; i < m_tokens.size(); ++i) {
            const Token &t = m_tokens[i];
            // Quoted words are someone else's (often in another language): left as they are.
            if (t.isPunct("\"") || t.isPunct("\xE2\x80\x9C") || t.isPunct("\xE2\x80\x9D"))
                quoted = t.isPunct("\xE2\x80\x9C") || (t.isPunct("\"") && !quoted && closesQuote(i));
            if (t.kind == TokenKind::Word && !quoted && (i % 64 != 0 || !outOfTime(i)))
                spellWord(i);
        }
    }

    // A quotation mark at `i` has its closing mark later in the same paragraph.
    bool closesQuote(std::size_t i) const
    {
        for (std::size_t j = next(i); j != npos; j = next(j)) {
            if (isPunct(j, "\""))
                return true;
            if (isKind(j, TokenKind::Newline) && isKind(next(j), TokenKind::Newline))
                return false;
        }
        return false;
    }

    // The lower-case text of the word that follows `i` after one space, or empty.
    std::string nextWordLower(std::size_t i) const
    {
        const std::size_t space = next(i);
        if (!isKind(space, TokenKind::Space))
            return {};
        const std::size_t word = next(space);
        if (!isKind(word, TokenKind::Word))
            return {};
        return lowerWordAt(word);
    }

    // The word at `i`, lower-case, with typographic apostrophes made plain.
    std::string lowerWordAt(std::size_t i) const
    {
        return toLower(normalizeApostrophes(m_tokens[i].current()));
    }

    enum class Inversion { None, Question, Unsure };

    // How a negative contraction at `i`, followed by a space and a subject pronoun, reads. A
    // question that opens with it ("Isn't it?", "Why don't you go?", "..., aren't there?") puts
    // "not" after the pronoun. After a subject ("That isn't it.", "that it isn't there?") the
    // pronoun is an object and the contraction expands as usual. Where neither is clear ("Don't
    // you dare!") it is left as it is.
    Inversion negativeInversion(std::size_t i) const
    {
        const std::size_t subject = next(next(i));
        if (isJoiner(next(subject)) || isPunct(next(subject), "'"))
            return Inversion::Unsure;
        std::size_t before = prev(i);
        while (isKind(before, TokenKind::Space))
            before = prev(before);
        // The contraction opens a clause: at the start, after punctuation or a question word.
        bool opensClause = !isKind(before, TokenKind::Opaque);
        if (isKind(before, TokenKind::Word)) {
            static constexpr std::array<std::string_view, 11> openers
                = {"why", "how", "what", "where", "when", "who", "which", "and", "but", "or", "so"};
            const std::string word = lowerWordAt(before);
            if (Formal::isSubjectPronoun(word) || word == "that" || word == "this")
                return Inversion::None;
            opensClause = contains(openers, word);
        }
        bool question = false;
        for (std::size_t j = next(subject); j != npos && !isKind(j, TokenKind::Newline); j = next(j)) {
            if (isPunct(j, "?"))
                question = true;
            if (isPunct(j, "?") || isPunct(j, ".") || isPunct(j, "!"))
                break;
        }
        if (question)
            return opensClause ? Inversion::Question : Inversion::Unsure;
        return opensClause ? Inversion::Unsure : Inversion::None;
    }

    // Removes the word at `i` with one space next to it, and a comma that followed it at a
    // sentence's start ("lol, that is" -> "that is").
    void removeWord(std::size_t i)
    {
        m_tokens[i].removed = true;
        const std::size_t before = prev(i), after = next(i);
        if (isPunct(after, ",") && (before == npos || isWhitespace(before))) {
            m_tokens[after].removed = true;
            if (isKind(next(after), TokenKind::Space))
                m_tokens[next(after)].removed = true;
        } else if (isKind(before, TokenKind::Space)) {
            m_tokens[before].removed = true;
        } else if (isKind(after, TokenKind::Space)) {
            m_tokens[after].removed = true;
        }
    }

    // Greetings and chat words: "hey guys," -> "Hello everyone,", "lol" goes.
    void chatter()
    {
        for (std::size_t i = 0; i < m_tokens.size(); ++i) {
            if (m_tokens[i].kind != TokenKind::Word || m_tokens[i].removed)
                continue;
            const std::string lower = lowerWordAt(i);
            const Case c = caseOf(m_tokens[i].current());
            if (c == Case::Upper || c == Case::Mixed || m_lexicon.isAllowed(lower))
                continue;
            if (Formal::isChatter(lower)) {
                removeWord(i);
            } else if (Formal::isGreeting(lower) && atLineStart(i)) {
                std::string hello = "Hello";
                const std::size_t space = next(i), after = next(space);
                if (isKind(space, TokenKind::Space) && isKind(after, TokenKind::Word)) {
                    const std::string who = lowerWordAt(after);
                    if (who == "there" || who == "guys" || who == "all" || who == "folks" || who == "y'all"
                        || who == "everyone") {
                        m_tokens[space].removed = m_tokens[after].removed = true;
                        if (who != "there")
                            hello += " everyone";
                    }
                }
                replace(i, std::move(hello));
            } else if (Formal::isDayOrMonth(lower) && c == Case::Lower) {
                replace(i, capitalizeFirst(lower));
            }
        }
    }

    void formal()
    {
        chatter();
        for (std::size_t i = 0; i < m_tokens.size(); ++i) {
            Token &t = m_tokens[i];
            if (t.kind != TokenKind::Word || t.removed)
                continue;
            const std::string word = normalizeApostrophes(t.current());
            const std::string lower = toLower(word);
            const Case c = caseOf(word);
            // "I'm" is capitalised everywhere; other capitalised words are names inside a sentence.
            const bool pronounI = startsWith(word, "I'");
            if (!pronounI && !mayEditWord(i, c))
                continue;
            if (c == Case::Upper && !pronounI)
                continue;
            if (m_lexicon.isAllowed(lower) || isJoiner(prev(i)) || isJoiner(next(i)))
                continue;
            std::string replacement;
            if (word.find('\'') != std::string::npos) {
                const std::string nextLower = nextWordLower(i);
                const std::optional<std::string> verb = Formal::negatedVerb(lower);
                if (verb && Formal::isSubjectPronoun(nextLower)) {
                    // "Isn't it?" becomes "Is it not?"; "do not you" is not English.
                    const Inversion inversion = negativeInversion(i);
                    if (inversion == Inversion::Unsure)
                        continue;
                    if (inversion == Inversion::Question) {
                        const std::size_t subject = next(next(i));
                        const std::string pronoun
                            = nextLower == "i" ? std::string("I") : std::string(m_tokens[subject].current());
                        replace(i, c == Case::Capitalized ? capitalizeFirst(*verb) : *verb);
                        replace(subject, pronoun + " not");
                        continue;
                    }
                }
                if (auto expansion = Formal::expandContraction(lower, nextLower))
                    replacement = std::move(*expansion);
            } else if (const std::string_view informal = Formal::informalReplacement(lower);
                       !informal.empty()) {
                replacement = std::string(informal);
                // "btw the meeting moved" -> "By the way, the meeting moved"
                if (Formal::opensSentence(replacement) && (atLineStart(i) || sentenceStart(i) != Start::None)
                    && isKind(next(i), TokenKind::Space) && isKind(next(next(i)), TokenKind::Word))
                    replacement += ',';
            }
            if (replacement.empty())
                continue;
            if (c == Case::Capitalized && !pronounI)
                replacement = capitalizeFirst(std::move(replacement));
            replace(i, std::move(replacement));
        }
    }

    // "i" on its own (and "i'm", "i've", ...) is always a capital.
    void standaloneI()
    {
        for (std::size_t i = 0; i < m_tokens.size(); ++i) {
            Token &t = m_tokens[i];
            if (t.kind != TokenKind::Word || t.removed)
                continue;
            const std::string word = normalizeApostrophes(t.current());
            if (word != "i" && !(startsWith(word, "i'") && Formal::expandContraction(word, {})))
                continue;
            const std::size_t before = prev(i), after = next(i);
            if (isJoiner(before) || isJoiner(after) || isPunct(before, "'") || isPunct(after, "'"))
                continue;
            // "i)", "i." and "(i)" number items.
            if (isPunct(after, ")") || (isPunct(after, ".") && atLineStart(i)))
                continue;
            if (isPunct(before, "(") && isPunct(after, ")"))
                continue;
            std::string replacement(t.current());
            replacement[0] = 'I';
            replace(i, std::move(replacement));
        }
    }

    // The word after `i` and one space when it repeats `i` by mistake, or npos.
    std::size_t mistakenRepeat(std::size_t i) const
    {
        const std::size_t space = next(i);
        if (!isKind(space, TokenKind::Space))
            return npos;
        const std::size_t second = next(space);
        if (!isKind(second, TokenKind::Word))
            return npos;
        const std::string_view a = m_tokens[i].current(), b = m_tokens[second].current();
        const std::string lower = toLower(a);
        // A capital on the second word makes a name ("Bora Bora", "Walla Walla"); "The the" is a slip.
        if (lower != toLower(b) || caseOf(b) != Case::Lower || !mayEditWord(i, caseOf(a)) || mayRepeat(lower))
            return npos;
        if (isJoiner(prev(i)) || isJoiner(next(second)) || m_lexicon.isAllowed(lower))
            return npos;
        return second;
    }

    void repeatedWords()
    {
        for (std::size_t i = 0; i < m_tokens.size(); ++i) {
            if (m_tokens[i].kind != TokenKind::Word || m_tokens[i].removed)
                continue;
            // "the the the" comes down to one word.
            for (std::size_t second; (second = mistakenRepeat(i)) != npos;) {
                m_tokens[next(i)].removed = true;
                m_tokens[second].removed = true;
            }
        }
    }

    void articles()
    {
        for (std::size_t i = 0; i < m_tokens.size(); ++i) {
            const Token &t = m_tokens[i];
            if (t.kind != TokenKind::Word || t.removed)
                continue;
            const std::string_view article = t.current();
            if (article != "a" && article != "an" && article != "A" && article != "An")
                continue;
            if (isJoiner(prev(i)))
                continue;
            const std::size_t space = next(i);
            if (!isKind(space, TokenKind::Space) || m_tokens[space].text != " ")
                continue;
            const std::size_t wordIndex = next(space);
            if (!isKind(wordIndex, TokenKind::Word))
                continue;
            const std::string_view word = m_tokens[wordIndex].current();
            if (caseOf(word) != Case::Lower || word.find('\'') != std::string_view::npos)
                continue;
            const std::string lower(word);
            if (m_lexicon.isAllowed(lower))
                continue;
            const bool known = m_speller ? m_speller->check(lower) : m_lexicon.isCommon(lower);
            if (!known)
                continue;
            const std::string_view expected = articleFor(lower);
            if (expected.empty() || toLower(article) == expected)
                continue;
            replace(i, article[0] == 'A' ? capitalizeFirst(std::string(expected)) : std::string(expected));
        }
    }

    void sentenceCapitals()
    {
        const bool wholeSentences = endsWithTerminator();
        for (std::size_t i = 0; i < m_tokens.size(); ++i) {
            const Token &t = m_tokens[i];
            if (t.kind != TokenKind::Word || t.removed)
                continue;
            const std::string_view word = t.current();
            if (!isLower(word[0]) || caseOf(word) != Case::Lower)
                continue;
            const Start start = sentenceStart(i);
            // A formal text's first word takes a capital even when it ends without a full stop.
            if (start == Start::None || (start == Start::Text && !wholeSentences && m_mode != Mode::Formal))
                continue;
            // "a)" and "b." label items.
            if (word.size() == 1 && (isPunct(next(i), ")") || isPunct(next(i), ".")))
                continue;
            if (m_lexicon.isAllowed(toLower(normalizeApostrophes(word))) || isJoiner(next(i)))
                continue;
            replace(i, capitalizeFirst(std::string(word)));
        }
    }

    static bool isSpacedPunct(std::string_view p)
    {
        return p == "," || p == "." || p == ";" || p == ":" || p == "!" || p == "?";
    }

    void spaceBeforePunctuation()
    {
        for (std::size_t i = 0; i < m_tokens.size(); ++i) {
            const Token &space = m_tokens[i];
            if (space.kind != TokenKind::Space || space.removed)
                continue;
            if (space.text.find_first_not_of(' ') != std::string_view::npos)
                continue;
            const std::size_t before = prev(i);
            if (before == npos)
                continue;
            const Token &b = m_tokens[before];
            const bool wordBefore = b.kind == TokenKind::Word
                || (b.kind == TokenKind::Opaque && isAsciiAlnum(b.text))
                || (b.kind == TokenKind::Punct
                    && (b.text == ")" || b.text == "\"" || b.text == "\xE2\x80\x9D"));
            if (!wordBefore)
                continue;
            std::size_t p = next(i);
            if (p == npos || m_tokens[p].kind != TokenKind::Punct || !isSpacedPunct(m_tokens[p].text))
                continue;
            const std::string_view first = m_tokens[p].text;
            // "...", "?!": a run of sentence punctuation.
            std::size_t after = next(p);
            while (after != npos && m_tokens[after].kind == TokenKind::Punct
                && (m_tokens[after].text == "." || m_tokens[after].text == "!"
                    || m_tokens[after].text == "?"))
                after = next(after);
            // Emoticons such as " :)" and " ;-)" keep their space.
            if ((first == ":" || first == ";") && after != npos && !isWhitespace(after))
                continue;
            if (after != npos && !isWhitespace(after)
                && !(m_tokens[after].kind == TokenKind::Punct && isClosingPunct(m_tokens[after].text)
                    && m_tokens[after].text != ")" && (next(after) == npos || isWhitespace(next(after)))))
                continue;
            m_tokens[i].removed = true;
        }
    }

    const Lexicon &m_lexicon;
    const Grammar &m_grammar;
    Speller *m_speller;
    WordCache &m_cache;
    const Mode m_mode;
    const std::string_view m_text;
    std::vector<Token> m_tokens;
    CpuDeadline m_deadline;
    bool m_cut = false; // the budget ran out; m_rawTail follows the tokens unchanged
    std::string_view m_rawTail;
    bool m_typographicApostrophes = false;
    std::string m_before, m_after; // the neighbours of the word being spelled
    std::optional<std::unordered_map<std::string, unsigned>> m_wordCounts;
};

} // namespace

Corrector::Corrector(const CorrectorOptions &options)
    : m_grammar(m_lexicon)
    , m_spellers(std::make_unique<SpellerPool>(options.language))
    , m_wordCache(std::make_unique<WordCache>())
{
    if (!options.allowListFile.empty())
        m_lexicon.loadAllowList(options.allowListFile);
    if (options.spelling) {
        m_hasSpeller = m_spellers->isAvailable();
        if (!m_hasSpeller)
            m_warnings.push_back("Aspell dictionary \"" + options.language + "\" unavailable ("
                + m_spellers->error() + "): spelling limited to the misspellings table");
    }
}

Corrector::~Corrector() = default;

std::string Corrector::summary() const
{
    return "spelling " + std::string(m_hasSpeller ? "Aspell" : "off") + ", "
        + std::to_string(m_lexicon.misspellingCount()) + " common misspellings, "
        + std::to_string(m_lexicon.wordCount()) + " words, " + std::to_string(m_lexicon.pairTableSize())
        + " word pairs, " + std::to_string(m_lexicon.allowedCount()) + " allowed words";
}

std::string Corrector::correct(std::string_view text, Mode mode) const
{
    return correct(text, mode, std::chrono::nanoseconds::zero()).text;
}

Correction Corrector::correct(std::string_view text, Mode mode, std::chrono::nanoseconds cpuBudget) const
{
    // The deadline starts before the tokens are made: they are part of the work.
    const CpuDeadline deadline(cpuBudget);
    if (text.empty())
        return {};
    SpellerPool::Lease lease = m_hasSpeller ? m_spellers->acquire() : SpellerPool::Lease(nullptr, nullptr);
    Pass pass(m_lexicon, m_grammar, lease.get(), *m_wordCache, text, mode, deadline);
    return pass.run();
}

} // namespace Backend
