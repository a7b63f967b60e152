// Verb forms: participles after "have", past forms made regular, "should of", and agreement with
// simple subjects.

#include "GrammarRules.h"

namespace Backend::GrammarRules {

namespace {

// The subjects that agreement knows, as bits.
enum Subject : unsigned { Singular = 1, I = 2, You = 4, WeThey = 8, Plural = You | WeThey };

unsigned subjectOf(std::string_view w)
{
    // Subjects that take the third person singular.
    static constexpr std::string_view singular[] = {"he", "she", "it", "everybody", "everyone", "somebody",
        "someone", "nobody", "anybody", "anyone", "everything", "something", "nothing", "anything"};
    if (in(w, singular))
        return Singular;
    if (w == "i")
        return I;
    if (w == "you")
        return You;
    return in(w, {"we", "they"}) ? WeThey : 0u;
}

// Verb forms that a subject does not take, and the form it takes instead.
struct Agreement {
    unsigned subjects;
    std::string_view wrong, right;
};
constexpr Agreement kAgreement[] = {
    {Singular, "don't", "doesn't"},
    {Singular, "haven't", "hasn't"},
    {Singular, "are", "is"},
    {I, "has", "have"},
    {I, "is", "am"},
    {I, "does", "do"},
    {Plural, "was", "were"},
    {Plural, "wasn't", "weren't"},
    {Plural, "doesn't", "don't"},
    {WeThey, "is", "are"},
};

// Verbs that "he" does not turn into "-s" forms: modals, and verbs whose past is their base ("he
// put it there").
constexpr std::string_view kNoEndingS[] = {"can", "will", "would", "could", "should", "must", "might", "may",
    "shall", "be", "were", "let", "used", "dare", "ought", "put", "cut", "hit", "set", "shut", "cost", "hurt",
    "quit", "read", "spread", "bet", "burst", "cast", "split", "beat", "upset", "fit", "rid", "shed",
    "thrust", "broadcast", "forecast"};

// Verbs after which a bare infinitive follows an object: "let everybody know", "make it work".
constexpr std::string_view kCausatives[]
    = {"let", "lets", "make", "makes", "made", "help", "helps", "helped", "have", "has", "had", "see", "saw",
        "watch", "watched", "hear", "heard", "bid", "would", "rather", "did", "does", "do", "didn't",
        "doesn't", "don't", "will", "can", "could", "should", "must", "might", "may", "shall"};

// People and pets that a possessive subject is about: "my sister live" -> "lives".
constexpr std::string_view kPeople[] = {"mother", "father", "mum", "mom", "dad", "sister", "brother", "son",
    "daughter", "wife", "husband", "friend", "boss", "neighbour", "neighbor", "teacher", "doctor", "partner",
    "colleague", "manager", "uncle", "aunt", "cousin", "grandma", "grandmother", "grandfather", "grandpa",
    "girlfriend", "boyfriend", "baby", "dog", "cat", "landlord", "roommate", "flatmate", "kid", "child"};

constexpr std::string_view kHave[] = {"have", "has", "had"};

} // namespace

bool Rules::verbs(std::size_t i)
{
    return participles(i) || agreement(i);
}

bool Rules::participles(std::size_t i)
{
    const std::string_view w = m_words[i].lower, prev = at(i, -1), next = at(i, 1);
    // "should of" -> "should have"
    if (w == "of")
        return in(prev,
                   {"should", "could", "would", "must", "might", "may", "shouldn't", "couldn't", "wouldn't",
                       "mustn't"})
            && (isParticiple(next) || !g.baseOfPast(next).empty() || next == "been") && set(i, "have");
    // "has went" -> "has gone", "has anyone spoke" -> "has anyone spoken"
    if (const auto forms = g.irregular(g.baseOfPast(w))) {
        const bool afterHave = in(prev, kHave) || in(prev, {"haven't", "hasn't", "hadn't", "'ve"})
            || (in(at(i, -2), kHave)
                && (in(prev, kIntensifiers) || in(prev, kSubjectPronouns)
                    || in(prev, {"ever", "anyone", "anybody", "someone", "everyone"})));
        if (afterHave && forms->participle != w && !(g.mainly(w, Noun) && nounLike(next)))
            return set(i, std::string(forms->participle));
    }
    // A past form made regular: "buyed" -> "bought", "has goed" -> "has gone".
    if (known(w))
        return false;
    std::string form = g.irregularFor(w, in(prev, kHave));
    return !form.empty() && set(i, std::move(form));
}

bool Rules::agreement(std::size_t i)
{
    const std::string_view w = m_words[i].lower, prev = at(i, -1), next = at(i, 1);
    // A simple subject right before the verb, at a clause's start.
    if (i > 0 && !prev.empty() && clauseStart(i - 1) && !in(at(i, -2), kCausatives)) {
        const unsigned subject = subjectOf(prev);
        for (const Agreement &a : kAgreement)
            if ((a.subjects & subject) && w == a.wrong)
                return set(i, std::string(a.right));
        // "it need not" is right: "need" and "dare" are also modal verbs.
        if (subject == Singular
            && (verbBase(w) || in(w, {"have", "do", "go", "need", "want", "like", "love", "know"}))
            && !in(w, kNoEndingS) && !(in(w, {"need", "dare"}) && next == "not"))
            return set(i, withEndingS(w));
        if (subject == WeThey)
            if (std::string base = baseOfThirdPerson(w); !base.empty())
                return set(i, std::move(base));
    }
    if (w == "are" && subjectOf(prev) == Singular && !in(prev, kSubjectPronouns)) // "everybody are"
        return set(i, "is");
    if (w == "are" && prev == "this" && i > 0 && clauseStart(i - 1))
        return set(i - 1, "these");
    // "there is three apples" -> "there are"
    if ((w == "is" || w == "was") && prev == "there"
        && (in(next, kNumbers) || in(next, {"lots", "dozens", "hundreds", "thousands"})) && next != "both")
        return set(i, w == "is" ? "are" : "were");
    // "the kids is", "my parents was": a plural noun after a determiner at the clause's start.
    if ((w == "is" || w == "was") && i >= 2 && m_words[i - 1].spaced && endsWith(prev, "s")
        && !endsWith(prev, "ss") && !endsWith(prev, "us") && !endsWith(prev, "is") && !endsWith(prev, "ics")
        && prev != "news"
        && in(at(i, -2), {"the", "my", "your", "his", "her", "our", "their", "these", "those"})
        && clauseStart(i - 2)) {
        const std::string singular(prev.substr(0, prev.size() - 1));
        if (g.mainly(prev, Noun) && g.can(singular, Noun) && !g.can(prev, Adjective))
            return set(i, w == "is" ? "are" : "were");
    }
    // "my sister live in Leeds"
    if (i >= 2 && in(prev, kPeople) && in(at(i, -2), kPossessives) && clauseStart(i - 2)
        && (w == "have" || w == "don't"
            || ((verbBase(w) || in(w, {"need", "want", "live", "like", "love", "work"}))
                && phraseEnds(i, 1))))
        return set(i, w == "don't" ? "doesn't" : withEndingS(w));
    return false;
}

} // namespace Backend::GrammarRules
