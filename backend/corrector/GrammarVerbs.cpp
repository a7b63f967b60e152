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

// Words after which "that" opens a clause in the subjunctive: "we insist that he leave".
constexpr std::string_view kSubjunctiveBefore[] = {"important", "essential", "vital", "necessary", "crucial",
    "imperative", "insist", "insists", "insisted", "suggest", "suggests", "suggested", "recommend",
    "recommends", "recommended", "demand", "demands", "demanded", "request", "requested", "propose",
    "proposed", "require", "required", "ask", "asked", "urge", "urged"};

} // namespace

bool Rules::verbs(std::size_t i)
{
    return afterDo(i) || participles(i) || agreement(i);
}

// The form of a verb after "did", "does", "didn't" (and its subject, in a question): the base.
// "He didn't went" -> "go", "Did you saw" -> "see", "Does she knows" -> "know".
bool Rules::afterDo(std::size_t i)
{
    const std::string_view w = m_words[i].lower, prev = at(i, -1);
    static constexpr std::string_view auxiliaries[] = {"did", "didn't", "does", "doesn't", "do", "don't"};
    const bool afterAuxiliary = in(prev, auxiliaries)
        || (in(prev, kSubjectPronouns) && in(at(i, -2), auxiliaries) && m_words[i].question);
    if (!afterAuxiliary || prev == "do" || prev == "don't")
        return false;
    if (const std::string_view base = g.baseOfPast(w); !base.empty() && g.irregular(base))
        return set(i, std::string(base));
    std::string base = baseOfThirdPerson(w);
    return !base.empty() && set(i, std::move(base));
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
        const auto between = [&](std::string_view b) {
            return in(b, kIntensifiers) || in(b, kSubjectPronouns)
                || in(b, {"ever", "finally", "recently", "anyone", "anybody", "someone", "everyone"});
        };
        const bool afterHave = in(prev, kHave) || in(prev, {"haven't", "hasn't", "hadn't", "'ve"})
            || (in(at(i, -2), kHave) && between(prev))
            || (in(at(i, -3), kHave) && between(prev) && between(at(i, -2)));
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
    // A simple subject right before the verb, at a clause's start; not in the subjunctive ("it is
    // important that she arrive").
    const bool subjunctive = at(i, -2) == "that" && in(at(i, -3), kSubjunctiveBefore);
    if (i > 0 && !prev.empty() && clauseStart(i - 1) && !in(at(i, -2), kCausatives) && !subjunctive) {
        const unsigned subject = subjectOf(prev);
        for (const Agreement &a : kAgreement)
            if ((a.subjects & subject) && w == a.wrong)
                return set(i, std::string(a.right));
        // "it need not" is right: "need" and "dare" are also modal verbs.
        if (subject == Singular
            && (verbBase(w) || in(w, {"have", "do", "go", "need", "want", "like", "love", "know"}))
            && !in(w, kNoEndingS) && !(in(w, {"need", "dare"}) && next == "not")
            && !(w == "like" && endsWith(prev, "thing"))) // "something like that"
            return set(i, withEndingS(w));
        if (subject == WeThey)
            if (std::string base = baseOfThirdPerson(w); !base.empty())
                return set(i, std::move(base));
    }
    if (w == "are" && subjectOf(prev) == Singular && !in(prev, kSubjectPronouns)) // "everybody are"
        return set(i, "is");
    if (w == "are" && prev == "this" && i > 0 && clauseStart(i - 1))
        return set(i - 1, "these");
    // "these is", "those was"
    if ((w == "is" || w == "was") && in(prev, {"these", "those"}) && i > 0 && clauseStart(i - 1))
        return set(i, w == "is" ? "are" : "were");
    // "I were at the dentist", but "if I were", "I wish I were"
    if (w == "were" && prev == "i" && i > 0 && clauseStart(i - 1) && !m_words[i].question
        && !in(at(i, -2), {"if", "wish", "though", "whether", "unless", "suppose", "and", "or"}))
        return set(i, "was");
    // "she always forget": an adverb between a singular subject and its verb.
    if (i >= 2
        && in(prev, {"always", "never", "often", "usually", "sometimes", "also", "still", "really", "rarely"})
        && in(at(i, -2), {"he", "she", "it"}) && clauseStart(i - 2) && verbBase(w) && !in(w, kNoEndingS))
        return set(i, withEndingS(w));
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
