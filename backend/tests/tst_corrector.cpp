// The offline corrector, called directly: fixes, grammar, protected spans, formal rewrites, white
// space, the allow-list, clean text, missing resources, the time budget and concurrent use.

#include "corrector/Corrector.h"
#include "corrector/CpuBudget.h"
#include "corrector/Spelling.h"
#include "corrector/Utf8.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
#include <memory>
#include <random>
#include <thread>

using namespace std::chrono_literals;
using Backend::Corrector;
using Backend::CorrectorOptions;
using Backend::Mode;

namespace {

QString q(const std::string &s)
{
    return QString::fromStdString(s);
}

// One corrector for the whole run: opening Aspell and reading the tables takes a moment.
Corrector &shared()
{
    static Corrector corrector;
    return corrector;
}

} // namespace

class TestCorrector : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // These tests describe the corrector with its real resources; say clearly when they are absent.
        QVERIFY2(shared().hasSpeller(), "Aspell with the en_US dictionary (aspell-en) is needed");
        // The word tables are made when the program is built; a build without them fails.
        QVERIFY(shared().lexicon().misspellingCount() > 1000);
        QVERIFY(shared().lexicon().wordCount() > 100000 && shared().lexicon().pairTableSize() > 10000);
    }

    // clang-format off
    void fixes_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        // Spelling: the misspellings table, then Aspell's safe suggestions.
        QTest::newRow("table") << "I will recieve it." << "I will receive it.";
        QTest::newRow("table fix where the corpus lacks the pair") << "teh quick fox" << "the quick fox";
        QTest::newRow("table, apostrophe added") << "I dont know." << "I don't know.";
        QTest::newRow("aspell transposition") << "A wierd thign happened." << "A weird thing happened.";
        QTest::newRow("aspell missing letter") << "We met on tuesday mornng." << "We met on tuesday morning.";
        QTest::newRow("capitalised at sentence start") << "Teh end." << "The end.";
        QTest::newRow("typographic apostrophe kept") << "It’s teh end, isnt it?" << "It’s the end, isn’t it?";
        QTest::newRow("misspelled possessive") << "The goverment's plan." << "The government's plan.";
        QTest::newRow("hopeless word left alone") << "The xqzvwp moved." << "The xqzvwp moved.";
        QTest::newRow("ambiguous typo left alone (should, would)") << "We sould go." << "We sould go.";
        QTest::newRow("neighbours decide (share, she)") << "We need to shre the cost." << "We need to share the cost.";
        QTest::newRow("word used elsewhere in the text preferred")
            << "The tile of the book. Each tile has a title." << "The tile of the book. Each tile has a title.";
        QTest::newRow("indented prose") << "Terms:\n\n    a) The work must carry prominent notices stating taht you\n"
                                           "    modified it.\n"
                                        << "Terms:\n\n    a) The work must carry prominent notices stating that you\n"
                                           "    modified it.\n";
        QTest::newRow("text indented as a whole") << "    teh first line of a letter\n    and teh second"
                                                  << "    the first line of a letter\n    and the second";
        // Standalone "i".
        QTest::newRow("i") << "yes, i know" << "yes, I know";
        QTest::newRow("i'm") << "so i'm late and i've left" << "so I'm late and I've left";
        QTest::newRow("roman numeral item") << "i) first\nii) second" << "i) first\nii) second";
        QTest::newRow("i in a compound") << "the i-th element" << "the i-th element";
        // Repeated words.
        QTest::newRow("repeated") << "the the cat sat on the the mat" << "the cat sat on the mat";
        QTest::newRow("repeated at sentence start") << "The the end." << "The end.";
        QTest::newRow("had had") << "he had had enough" << "he had had enough";
        QTest::newRow("that that") << "I said that that was fine." << "I said that that was fine.";
        QTest::newRow("repeated across lines kept") << "to the\nthe end" << "to the\nthe end";
        QTest::newRow("run of three") << "the the the cat" << "the cat";
        QTest::newRow("run of four") << "I saw a a a a dog." << "I saw a dog.";
        QTest::newRow("names inside a sentence kept") << "We flew to Bora Bora and heard Duran Duran in Walla Walla."
                                                      << "We flew to Bora Bora and heard Duran Duran in Walla Walla.";
        QTest::newRow("name at sentence start kept") << "Bora Bora is far. Walla Walla is not."
                                                     << "Bora Bora is far. Walla Walla is not.";
        QTest::newRow("capitalised word then lower case inside a sentence kept") << "we heard Talk talk live"
                                                                                 << "we heard Talk talk live";
        QTest::newRow("capitalised run of three at sentence start") << "The the the end." << "The end.";
        // Space before punctuation.
        QTest::newRow("space before comma") << "well , maybe ." << "Well, maybe.";
        QTest::newRow("space before question") << "Really ?" << "Really?";
        QTest::newRow("emoticon keeps its space") << "great :)" << "great :)";
        QTest::newRow("ellipsis at line start kept") << "wait\n... what" << "wait\n... what";
        // Sentence capitals.
        QTest::newRow("after full stop") << "It works. it really does." << "It works. It really does.";
        QTest::newRow("after question mark and quote") << "He asked \"why?\" and left. then" << "He asked \"why?\" and left. Then";
        QTest::newRow("after abbreviation") << "See Dr. smith and e.g. that one." << "See Dr. smith and e.g. that one.";
        QTest::newRow("after etc.") << "Apples, pears etc. are fruit." << "Apples, pears etc. are fruit.";
        QTest::newRow("after initial") << "Written by J. smith." << "Written by J. smith.";
        QTest::newRow("numbered item") << "1. first\n2. second" << "1. first\n2. second";
        QTest::newRow("lettered and roman items") << "Rules.\na) first\nb. second\nii. third\n(i) fourth."
                                                  << "Rules.\na) first\nb. second\nii. third\n(i) fourth.";
        QTest::newRow("text start of a whole sentence") << "this is done." << "This is done.";
        QTest::newRow("fragment start left") << "and then we left" << "and then we left";
        QTest::newRow("after ellipsis") << "well... maybe." << "Well... maybe.";
        // Articles.
        QTest::newRow("a before vowel") << "It is a apple." << "It is an apple.";
        QTest::newRow("an before consonant") << "It is an banana." << "It is a banana.";
        QTest::newRow("a university, an hour") << "an university and a hour" << "a university and an hour";
        QTest::newRow("a user, an umbrella") << "an user with a umbrella" << "a user with an umbrella";
        QTest::newRow("a one-time") << "an one-time fee" << "a one-time fee";
        QTest::newRow("capital article") << "An car stopped." << "A car stopped.";
        QTest::newRow("letter a kept") << "Plan a or plan b." << "Plan a or plan b.";
        QTest::newRow("acronym after an kept") << "an FBI agent" << "an FBI agent";
        QTest::newRow("article after spelling") << "a exampel of it" << "an example of it";
        QTest::newRow("unknown word after a kept") << "a xqzvwp" << "a xqzvwp";
    }
    // clang-format on

    // clang-format off
    void grammar_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        // Confusable words decided by their neighbours.
        QTest::newRow("their before a verb") << "Their were two cars." << "There were two cars.";
        QTest::newRow("their before -ing") << "I guess their leaving soon." << "I guess they're leaving soon.";
        QTest::newRow("there before a noun") << "We borrowed there ladder." << "We borrowed their ladder.";
        QTest::newRow("there before an adjective") << "I bet there tired." << "I bet they're tired.";
        QTest::newRow("your before a predicate") << "Your so kind." << "You're so kind.";
        QTest::newRow("you're before a noun") << "I found you're wallet." << "I found your wallet.";
        QTest::newRow("its before -ing") << "Its snowing now." << "It's snowing now.";
        QTest::newRow("it's before a noun") << "The bird fixed it's nest." << "The bird fixed its nest.";
        QTest::newRow("whose / who's") << "Whose ready? Who's phone rang?" << "Who's ready? Whose phone rang?";
        QTest::newRow("to / too") << "It was to loud. Send it too me." << "It was too loud. Send it to me.";
        QTest::newRow("then after a comparative") << "Cats are quieter then dogs." << "Cats are quieter than dogs.";
        QTest::newRow("affect / effect") << "Noise can effect your sleep. A strong affect on us."
                                          << "Noise can affect your sleep. A strong effect on us.";
        QTest::newRow("lose / loose") << "You might loose the game. The knot came lose."
                                       << "You might lose the game. The knot came loose.";
        QTest::newRow("advice / advise") << "We advice you to rest. Any advise is welcome."
                                          << "We advise you to rest. Any advice is welcome.";
        QTest::newRow("lets, were, wont, cant, were for where")
            << "Lets eat. Were leaving. She wont listen. I cant wait. Do you know were the keys are?"
            << "Let's eat. We're leaving. She won't listen. I can't wait. Do you know where the keys are?";
        QTest::newRow("their, they're, your, whose by position")
            << "Leave it over their. Is they're a bank near? Your a star. The man who's car was towed left. Do you know whose in charge?"
            << "Leave it over there. Is there a bank near? You're a star. The man whose car was towed left. Do you know who's in charge?";
        QTest::newRow("too, then, than") << "I need too call. Thanks, you to! Mix it, than add milk. She is older then me. It took longer then we expected."
                                        << "I need to call. Thanks, you too! Mix it, then add milk. She is older than me. It took longer than we expected.";
        QTest::newRow("inflected sound-alikes") << "Side affects are rare. The storm effected the flights. Take a deep breathe."
                                                << "Side effects are rare. The storm affected the flights. Take a deep breath.";
        QTest::newRow("lets, we're, where") << "My boss let's me go. We're you there? The tickets we're cheap. Were did you go? We where late. I think were out of milk."
                                            << "My boss lets me go. Were you there? The tickets were cheap. Where did you go? We were late. I think we're out of milk.";
        // Verb forms.
        QTest::newRow("after did, I were, these is, adverb between")
            << "He didn't went. Did you saw it? Does she knows? I were ill. These is mine. She always forget it. Have you ever flew?"
            << "He didn't go. Did you see it? Does she know? I was ill. These are mine. She always forgets it. Have you ever flown?";
        QTest::newRow("agreement") << "She like tea. It don't fit. They was out. Everyone are fine. This are old."
                                   << "She likes tea. It doesn't fit. They were out. Everyone is fine. These are old.";
        QTest::newRow("agreement after I, we, they") << "I has one. They wants more." << "I have one. They want more.";
        QTest::newRow("plural subject with is") << "The dogs is hungry." << "The dogs are hungry.";
        QTest::newRow("possessive subject") << "My brother work here." << "My brother works here.";
        QTest::newRow("there is with a number") << "There was four of us." << "There were four of us.";
        QTest::newRow("irregular past") << "We drinked and speaked." << "We drank and spoke.";
        QTest::newRow("participle after have") << "They have began. He has ran. We had knew."
                                               << "They have begun. He has run. We had known.";
        QTest::newRow("over-regular after have") << "She has throwed it." << "She has thrown it.";
        QTest::newRow("should of") << "We might of missed it." << "We might have missed it.";
        // Small fixed errors.
        QTest::newRow("fixed errors") << "We discussed about alot of things. I look forward to see it."
                                      << "We discussed a lot of things. I look forward to seeing it.";
        QTest::newRow("double comparison") << "It is more cheaper and the most happiest."
                                           << "It is cheaper and the happiest.";
        QTest::newRow("irregular plural + s") << "The childrens toys are here." << "The children's toys are here.";
        QTest::newRow("number and noun") << "I have two brother." << "I have two brothers.";
        // Left alone.
        QTest::newRow("had had, that that") << "She had had it. I know that that works."
                                            << "She had had it. I know that that works.";
        QTest::newRow("name") << "We met Your Majesty and Its Founder." << "We met Your Majesty and Its Founder.";
        QTest::newRow("quotation") << "He wrote \"their going\" and \"ne sais pas\"."
                                   << "He wrote \"their going\" and \"ne sais pas\".";
        QTest::newRow("code") << "Set `its = to` in the file." << "Set `its = to` in the file.";
        QTest::newRow("then as time") << "It was quieter then." << "It was quieter then.";
        QTest::newRow("new clause after then") << "If it is faster then we go." << "If it is faster then we go.";
        QTest::newRow("it's with a clause verb") << "I think it's time." << "I think it's time.";
        QTest::newRow("object then bare verb") << "Let it go. Make him stay." << "Let it go. Make him stay.";
        QTest::newRow("past equal to base") << "He cut it and she put it away." << "He cut it and she put it away.";
        QTest::newRow("have got") << "I have got it." << "I have got it.";
        QTest::newRow("wont as a noun") << "As is her wont." << "As is her wont.";
        QTest::newRow("to before a verb") << "I want to clean it." << "I want to clean it.";
        QTest::newRow("stranded to in a question") << "Where did you come to?" << "Where did you come to?";
        QTest::newRow("lower-case day name") << "see you on friday." << "See you on friday.";
        QTest::newRow("compound noun after the") << "The bus stop is near." << "The bus stop is near.";
        QTest::newRow("british spelling, subjunctive, except, if I were")
            << "The programme starts at eight. It is important that she arrive early. Everyone except Tom came. If I were you, I would go. My friends and I were there."
            << "The programme starts at eight. It is important that she arrive early. Everyone except Tom came. If I were you, I would go. My friends and I were there.";
        // Legal prose: possessives before adjectives, modal "need", lines wrapped mid-sentence.
        QTest::newRow("licence wording") << "It is a product of your own. It affirms your unlimited\npermission. As an "
                                            "exception, it need not include them. You could satisfy both it and this "
                                            "License. Contributions are its original creation(s)."
                                         << "It is a product of your own. It affirms your unlimited\npermission. As an "
                                            "exception, it need not include them. You could satisfy both it and this "
                                            "License. Contributions are its original creation(s).";
    }
    // clang-format on

    void grammar()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(q(shared().correct(input.toStdString(), Mode::Fix)), expected);
    }

    // clang-format off
    void reduplicationsKept_data()
    {
        QTest::addColumn<QString>("input");
        for (const char *text : {"had had", "that that", "bye bye", "there there", "tsk tsk", "ha ha ha"})
            QTest::newRow(text) << QStringLiteral("and %1 and").arg(QLatin1String(text));
    }
    // clang-format on

    void reduplicationsKept()
    {
        QFETCH(QString, input);
        QCOMPARE(q(shared().correct(input.toStdString(), Mode::Fix)), input);
    }

    void fixes()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(q(shared().correct(input.toStdString(), Mode::Fix)), expected);
    }

    // clang-format off
    void protectedSpans_data()
    {
        QTest::addColumn<QString>("input");
        QTest::newRow("url") << "see https://exmaple.com/teh/recieve?x=1 now";
        QTest::newRow("www") << "see www.exmaple.com now";
        QTest::newRow("email") << "mail teh@exmaple.com now";
        QTest::newRow("inline code") << "run `recieve --teh` now";
        QTest::newRow("double backticks") << "run ``teh ` recieve`` now";
        QTest::newRow("unclosed backtick") << "run `teh recieve\nnow";
        QTest::newRow("fenced block") << "code:\n```\nteh recieve\n\nthe the\n```\ndone";
        QTest::newRow("tilde fence") << "~~~python\nteh = recieve()\n~~~\n";
        QTest::newRow("unclosed fence") << "```\nteh recieve\n";
        QTest::newRow("indented code") << "code:\n\n    teh recieve the the\n\tteh\n";
        QTest::newRow("numbers and digit words") << "got 3rd in 2024 with mp3z, teh2, 2teh and 1080p";
        QTest::newRow("all caps") << "the TEH and RECIEVE team";
        QTest::newRow("camel case") << "use recieveData and iPhone";
        QTest::newRow("capitalised inside sentence") << "we met Tarnwick and Recieve";
        QTest::newRow("non-ascii words") << "the café naïve Ærøskøbing straße tehé and ünrecieve";
        QTest::newRow("path and identifiers") << "open /usr/teh/recieve and snake_teh and a.b";
        QTest::newRow("options") << "pass --recieve or -teh";
        QTest::newRow("indented command") << "Install it:\n\n    sudo apt-get install libteh-dev recieve\n";
        QTest::newRow("indented code") << "Like this:\n\n    teh = recieve(1) and then we call it again\n";
        QTest::newRow("allowed informal words in fix") << "gonna wanna dunno";
    }
    // clang-format on

    void protectedSpans()
    {
        // The protected parts come back byte for byte (the rest has nothing to fix).
        QFETCH(QString, input);
        const std::string in = input.toStdString();
        const std::string out = shared().correct(in, Mode::Fix);
        for (const char *needle : {"teh", "recieve", "RECIEVE", "TEH", "plce", "wth", "the the"}) {
            const auto count = [&](const std::string &s) {
                std::size_t n = 0;
                for (std::size_t pos = 0; (pos = s.find(needle, pos)) != std::string::npos; ++pos)
                    ++n;
                return n;
            };
            QCOMPARE(count(out), count(in));
        }
        QCOMPARE(q(out), input);
    }

    // clang-format off
    void formal_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("n't") << "I don't know, it isn't and we can't." << "I do not know, it is not and we cannot.";
        QTest::newRow("won't, shan't") << "We won't and shan't." << "We will not and shall not.";
        QTest::newRow("pronoun forms") << "I'm sure you're right, we've seen it and they'll go."
                                       << "I am sure you are right, we have seen it and they will go.";
        QTest::newRow("typographic apostrophes") << "I’m sure it’s fine." << "I am sure it is fine.";
        QTest::newRow("it's been") << "It's been long and it's late." << "It has been long and it is late.";
        QTest::newRow("'d: had or would") << "I'd go, but I'd been ill and she'd finished."
                                          << "I would go, but I had been ill and she had finished.";
        QTest::newRow("possessives untouched") << "John's car and the dog's bowl." << "John's car and the dog's bowl.";
        QTest::newRow("o'clock untouched") << "At five o'clock." << "At five o'clock.";
        QTest::newRow("capital kept") << "Don't go. Let's stay." << "Do not go. Let us stay.";
        QTest::newRow("informal words") << "yeah, i'm gonna ask, wanna come? nope, dunno."
                                        << "Yes, I am going to ask, want to come? No, do not know.";
        QTest::newRow("more informal") << "thx, pls send it asap btw" << "Thank you, please send it as soon as possible by the way";
        QTest::newRow("capitalised informal") << "Gotta go. Kinda late." << "Have to go. Kind of late.";
        QTest::newRow("spelling first") << "I dont no." << "I do not no.";
        QTest::newRow("caps untouched") << "DON'T and GONNA" << "DON'T and GONNA";
        QTest::newRow("code untouched") << "run `don't` and\n\n    it's code\n" << "Run `don't` and\n\n    it's code\n";
        QTest::newRow("quotes around") << "he said 'don't'" << "He said 'do not'";
        // A subject after a negative contraction: "not" follows the subject.
        QTest::newRow("don't you") << "It is late, don’t you think?" << "It is late, do you not think?";
        QTest::newRow("isn't it") << "Isn't it?" << "Is it not?";
        QTest::newRow("won't they") << "Won't they?" << "Will they not?";
        QTest::newRow("can't we") << "Can't we stay?" << "Can we not stay?";
        QTest::newRow("didn't I") << "Why didn't I go?" << "Why did I not go?";
        QTest::newRow("hasn't he, aren't there") << "Hasn't he left? Aren't there more?"
                                                 << "Has he not left? Are there not more?";
        QTest::newRow("wasn't she, doesn't it") << "so wasn't she there, or doesn't it show?"
                                                << "So was she not there, or does it not show?";
        QTest::newRow("shouldn't we, weren't you") << "Shouldn't we ask? Weren't you told?"
                                                   << "Should we not ask? Were you not told?";
        QTest::newRow("subject before the contraction") << "I don't know and they won't go."
                                                        << "I do not know and they will not go.";
        QTest::newRow("no subject after") << "Don't go. We didn't see it." << "Do not go. We did not see it.";
        QTest::newRow("after a wh-word and a conjunction") << "Where didn't we look, and won't you help?"
                                                           << "Where did we not look, and will you not help?";
        QTest::newRow("statement: \"it\" and \"there\" are not subjects") << "That isn't it. It isn't there."
                                                                      << "That is not it. It is not there.";
        QTest::newRow("statement inside a question") << "Do you know that it isn't there?"
                                                     << "Do you know that it is not there?";
        QTest::newRow("unclear question left contracted") << "Well isn't it?" << "Well isn't it?";
        QTest::newRow("statement after a noun") << "The answer isn't it." << "The answer is not it.";
        QTest::newRow("lower-case i") << "why didn't i go?" << "Why did I not go?";
        QTest::newRow("quoted question") << "\"Isn't it?\" she asked." << "\"Is it not?\" she asked.";
        QTest::newRow("imperative left contracted") << "Don't you dare! Now, don't you worry."
                                                    << "Don't you dare! Now, don't you worry.";
        // Chat: greetings, noises, discourse words, capitals.
        QTest::newRow("greeting, chatter") << "hey all, lol, the build passed haha" << "Hello everyone, the build passed";
        QTest::newRow("greeting only at line start") << "I said hi there." << "I said hi there.";
        QTest::newRow("discourse word opens with a comma") << "tbh we could wait" << "To be honest, we could wait";
        QTest::newRow("days and months") << "see you on monday in june, ok?" << "See you on Monday in June, OK?";
        QTest::newRow("caps chatter kept") << "LOL is a game" << "LOL is a game";
        QTest::newRow("other n't words") << "Couldn't she? Mustn't it? Needn't we?"
                                         << "Could she not? Must it not? Need we not?";
    }
    // clang-format on

    void formal()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(q(shared().correct(input.toStdString(), Mode::Formal)), expected);
    }

    // clang-format off
    void whitespaceKept_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("trailing spaces") << "teh end   \n" << "the end   \n";
        QTest::newRow("crlf") << "teh\r\nend\r\n" << "the\r\nend\r\n";
        QTest::newRow("indentation and tabs") << "  teh\tcat\n   - teh item" << "  the\tcat\n   - the item";
        QTest::newRow("blank lines") << "\n\nteh\n\n\n" << "\n\nthe\n\n\n";
        QTest::newRow("only white space") << " \t\n \r\n" << " \t\n \r\n";
        QTest::newRow("no-break space before punctuation") << "is it\u00A0?" << "Is it\u00A0?";
        QTest::newRow("double space after full stop") << "One.  two." << "One.  Two.";
        QTest::newRow("lone carriage return") << "teh\rend" << "the\rend";
    }
    // clang-format on

    void whitespaceKept()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(q(shared().correct(input.toStdString(), Mode::Fix)), expected);
    }

    // clang-format off
    void cleanTextUnchanged_data()
    {
        QTest::addColumn<QString>("input");
        QTest::newRow("prose") << "The quick brown fox jumps over the lazy dog. It was a bright, cold day in April, "
                                  "and the clocks were striking thirteen.";
        QTest::newRow("licence") << "Permission is hereby granted, free of charge, to any person obtaining a copy of "
                                    "this software and associated documentation files (the \"Software\"), to deal in "
                                    "the Software without restriction, including without limitation the rights to "
                                    "use, copy, modify, merge, publish, distribute, sublicense, and/or sell copies.";
        QTest::newRow("list and quote") << "Things to do:\n- buy milk\n- call Anna\n\n> She said: \"Fine.\"\n";
        QTest::newRow("contractions in fix") << "I don't think it's John's, and we'll see.";
        QTest::newRow("british and american spellings") << "The colour and color of the organisation's behaviour, analysed.";
        QTest::newRow("derived words") << "The licensor allows relicensing by formatters, noncommercially.";
        QTest::newRow("empty") << "";
        QTest::newRow("markdown") << "# Title\n\n*Bold* and _italic_ text, see [the docs](https://x.org/a).";
    }
    // clang-format on

    void cleanTextUnchanged()
    {
        QFETCH(QString, input);
        QCOMPARE(q(shared().correct(input.toStdString(), Mode::Fix)), input);
    }

    void emptyTextStaysEmpty()
    {
        QCOMPARE(shared().correct("", Mode::Fix), std::string());
        QCOMPARE(shared().correct("", Mode::Formal), std::string());
    }

    void allowList()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("allowed-words.txt"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("# project words\n\nteh\n  Recieve  \nqux’s\ngonna\n");
        file.close();

        CorrectorOptions options;
        options.allowListFile = path.toStdString();
        const Corrector corrector(options);
        QCOMPARE(corrector.lexicon().allowedCount(), std::size_t(4));
        QCOMPARE(q(corrector.correct("teh recieve. Teh wierd", Mode::Fix)),
            QStringLiteral("teh recieve. Teh weird"));
        QCOMPARE(q(corrector.correct("I'm gonna go", Mode::Formal)), QStringLiteral("I am gonna go"));
        // Without the list the same words are corrected.
        QCOMPARE(q(shared().correct("I recieve teh", Mode::Fix)), QStringLiteral("I receive the"));
    }

    void missingResources()
    {
        // No Aspell: the misspellings table and the rules still work, nothing fails.
        CorrectorOptions options;
        options.allowListFile = "/nonexistent/allowed-words.txt";
        options.spelling = false;
        const Corrector corrector(options);
        QCOMPARE(corrector.warnings().size(), std::size_t(0));
        QVERIFY(!corrector.hasSpeller());
        QCOMPARE(q(corrector.correct("i think teh the the end ,ok . yes", Mode::Fix)),
            QStringLiteral("I think the end ,ok. yes"));

        options.language = "xx_NOPE";
        options.spelling = true;
        const Corrector noDictionary(options);
        QVERIFY(!noDictionary.hasSpeller());
        QCOMPARE(noDictionary.warnings().size(), std::size_t(1));
        QCOMPARE(q(noDictionary.correct("i dont", Mode::Formal)), QStringLiteral("I dont"));
    }

    void concurrentUseGivesSameResults()
    {
        const std::string input = "i recieve teh wierd thign , and a apple. this is is fine";
        const std::string expected = shared().correct(input, Mode::Fix);
        constexpr int threads = 4;
        std::vector<std::string> failures(threads);
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back([&, t] {
                for (int i = 0; i < 200; ++i) {
                    const std::string out = shared().correct(input, Mode::Fix);
                    if (out != expected) {
                        failures[t] = out;
                        return;
                    }
                }
            });
        }
        for (auto &w : workers)
            w.join();
        for (const auto &f : failures)
            QCOMPARE(q(f), QString());
        QVERIFY(shared().spellers().created() <= std::size_t(threads + 1));
    }

    void budgetReturnsTheRestAsItCame()
    {
        // Sentences of made-up words: each costs Aspell's suggestions, some 5,000 of them take seconds.
        std::mt19937 random(99);
        std::string text = "I recieve teh letter.\n";
        for (int sentence = 0; sentence < 500; ++sentence) {
            text += "Qxz";
            for (int word = 0; word < 10; ++word)
                for (const char *letters :
                    {" ", "bdfgklmprtvz", "aeiou", "bdfgklmprtvz", "aeiou", "bdfgklmprtvz"})
                    text += letters[0] == ' ' ? ' ' : letters[random() % std::strlen(letters)];
            text += ". ";
        }
        const auto before = Backend::threadCpuTime();
        const Backend::Correction result = shared().correct(text, Mode::Fix, 100ms);
        QVERIFY(Backend::threadCpuTime() - before < 2s);
        QVERIFY(!result.complete);
        QVERIFY(result.text.rfind("I receive the letter.\n", 0) == 0);
        // The rest, from a sentence's start, comes back byte for byte.
        const std::string_view rest = std::string_view(text).substr(result.correctedBytes);
        QVERIFY(rest.rfind("Qxz ", 0) == 0);
        QVERIFY(std::string_view(result.text).substr(result.text.size() - rest.size()) == rest);
        // The words already looked at are remembered for the next request.
        QVERIFY(shared().wordCache().find("qxz").has_value());

        const Backend::Correction small = shared().correct("teh end", Mode::Fix, 100ms);
        QVERIFY(small.complete);
        QCOMPARE(q(small.text), QStringLiteral("the end"));
    }

    void cpuClockCountsOnlyTheCallingThread()
    {
        const auto before = Backend::threadCpuTime();
        std::thread busy([] {
            const auto start = Backend::threadCpuTime();
            while (Backend::threadCpuTime() - start < 300ms) { }
        });
        busy.join();
        QVERIFY(Backend::threadCpuTime() - before < 100ms);
    }

    void outputIsValidUtf8ForAnyInput()
    {
        // Random mixtures of letters, punctuation, spaces, code markers and multi-byte characters.
        const char *pieces[] = {"teh", " ", "\n", "`", "```", "'", "’", "i", "a", "an", ".", ",", " ,", "?",
            "é", "—", "😀", "http://x.y", "\t", "    ", "the", "recieve", "\r\n", "\"", "(", "1.", "-"};
        QRandomGenerator random(1234);
        for (int round = 0; round < 300; ++round) {
            std::string input;
            const int count = random.bounded(1, 40);
            for (int i = 0; i < count; ++i)
                input += pieces[random.bounded(int(std::size(pieces)))];
            for (Mode mode : {Mode::Fix, Mode::Formal}) {
                const std::string out = shared().correct(input, mode);
                QVERIFY2(Backend::Utf8::isValid(out), input.c_str());
                // Line structure never changes.
                QCOMPARE(
                    std::count(out.begin(), out.end(), '\n'), std::count(input.begin(), input.end(), '\n'));
            }
        }
    }

    void wordTables()
    {
        // A block written and read back; a damaged one reads as empty tables, not as garbage.
        Backend::TablesWriter writer;
        Backend::WordInfo info;
        info.count = 7;
        writer.setWords({{"to", info}, {"share", info}, {"she", info}});
        writer.setMisspellings({{"shre", "share"}});
        writer.setPairs({{{"to", "share"}, 3}});
        writer.setCorpusWords(21);
        const std::string block = writer.build();
        const Backend::Tables tables(block);
        const Backend::Lexicon lexicon(tables);
        QCOMPARE(lexicon.corpusCount("she"), 7u);
        QCOMPARE(lexicon.corpusCount("he"), 0u);
        QCOMPARE(lexicon.pairCount("to", "share"), 3u);
        QCOMPARE(lexicon.pairCount("share", "to"), 0u);
        QCOMPARE(lexicon.misspelling("shre"), std::string_view("share"));
        QCOMPARE(lexicon.corpusWords(), 21.0);
        for (std::size_t cut : {block.size() / 2, std::size_t(30), std::size_t(3)}) {
            const Backend::Tables damaged(std::string_view(block).substr(0, cut));
            QVERIFY(damaged.empty());
            QCOMPARE(Backend::Lexicon(damaged).misspelling("shre"), std::string_view());
        }
    }

    // clang-format off
    void editDistance_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<int>("distance");
        QTest::newRow("same") << "word" << "word" << 0;
        QTest::newRow("transposition") << "teh" << "the" << 1;
        QTest::newRow("insertion") << "mornng" << "morning" << 1;
        QTest::newRow("two edits") << "licensor" << "license" << 2;
        QTest::newRow("empty") << "" << "abc" << 3;
    }
    // clang-format on

    void editDistance()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(int, distance);
        QCOMPARE(Backend::editDistance(a.toStdString(), b.toStdString()), distance);
        QCOMPARE(Backend::editDistance(b.toStdString(), a.toStdString()), distance);
    }

    // clang-format off
    void utf8Validation_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("valid");
        QTest::newRow("ascii") << QByteArray("abc") << true;
        QTest::newRow("multi-byte") << QByteArray("caf\xC3\xA9 \xF0\x9F\x98\x80") << true;
        QTest::newRow("lone continuation") << QByteArray("a\x80z") << false;
        QTest::newRow("truncated") << QByteArray("caf\xC3") << false;
        QTest::newRow("overlong") << QByteArray("\xC0\xAF") << false;
        QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80") << false;
        QTest::newRow("above U+10FFFF") << QByteArray("\xF4\x90\x80\x80") << false;
        QTest::newRow("real replacement character") << QByteArray("\xEF\xBF\xBD") << true;
    }
    // clang-format on

    void utf8Validation()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, valid);
        QCOMPARE(Backend::Utf8::isValid(std::string_view(bytes.constData(), bytes.size())), valid);
    }
};

QTEST_GUILESS_MAIN(TestCorrector)
#include "tst_corrector.moc"
