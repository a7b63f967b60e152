// The offline corrector, called directly: fixes, grammar, protected spans, formal rewrites, white
// space, the allow-list, clean text, missing resources, the time budget and concurrent use.

#include "BackendTestSupport.h"
#include "corrector/CpuBudget.h"
#include "corrector/Spelling.h"
#include "corrector/Utf8.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <thread>

using namespace std::chrono_literals;
using namespace BackendTest;
using Backend::Corrector;
using Backend::CorrectorOptions;
using Backend::Mode;

namespace {

constexpr Mode fix = Mode::Fix, formal = Mode::Formal;

// What the corrector makes of a text; without `out` the text must come back byte for byte.
struct Case {
    Mode mode;
    const char *in;
    const char *out = nullptr;
};

// clang-format off
const Case cases[] = {
    // Spelling: the misspellings table, then Aspell's safe suggestions.
    {fix, "I will recieve it.", "I will receive it."},
    {fix, "teh quick fox", "the quick fox"},
    {fix, "I dont know.", "I don't know."},
    {fix, "A wierd thign happened.", "A weird thing happened."},
    {fix, "We met on tuesday mornng.", "We met on tuesday morning."},
    {fix, "Teh end.", "The end."},
    {fix, "It’s teh end, isnt it?", "It’s the end, isn’t it?"},
    {fix, "The goverment's plan.", "The government's plan."},
    {fix, "The xqzvwp moved."},
    {fix, "We sould go."},
    {fix, "We need to shre the cost.", "We need to share the cost."},
    {fix, "The tile of the book. Each tile has a title."},
    {fix, "Terms:\n\n    a) The work must carry prominent notices stating taht you\n    modified it.\n",
        "Terms:\n\n    a) The work must carry prominent notices stating that you\n    modified it.\n"},
    {fix, "    teh first line of a letter\n    and teh second",
        "    the first line of a letter\n    and the second"},
    // Standalone "i".
    {fix, "yes, i know", "yes, I know"},
    {fix, "so i'm late and i've left", "so I'm late and I've left"},
    {fix, "i) first\nii) second"},
    {fix, "the i-th element"},
    // Repeated words.
    {fix, "the the cat sat on the the mat", "the cat sat on the mat"},
    {fix, "The the end.", "The end."},
    {fix, "to the\nthe end"},
    {fix, "the the the cat", "the cat"},
    {fix, "I saw a a a a dog.", "I saw a dog."},
    {fix, "We flew to Bora Bora and heard Duran Duran and Talk talk live in Walla Walla."},
    {fix, "Bora Bora is far. Walla Walla is not."},
    {fix, "The the the end.", "The end."},
    // Space before punctuation.
    {fix, "well , maybe .", "Well, maybe."},
    {fix, "Really ?", "Really?"},
    {fix, "wait, great :)\n... what"},
    // Sentence capitals.
    {fix, "It works. it really does.", "It works. It really does."},
    {fix, "He asked \"why?\" and left. then", "He asked \"why?\" and left. Then"},
    {fix, "See Dr. smith and e.g. that one. Apples, pears etc. are fruit. Written by J. smith."},
    {fix, "1. first\n2. second"},
    {fix, "Rules.\na) first\nb. second\nii. third\n(i) fourth."},
    {fix, "this is done.", "This is done."},
    {fix, "and then we left"},
    {fix, "well... maybe.", "Well... maybe."},
    // Articles.
    {fix, "It is a apple, not an banana.", "It is an apple, not a banana."},
    {fix, "an university and a hour, an user with a umbrella", "a university and an hour, a user with an umbrella"},
    {fix, "An car stopped for an one-time fee.", "A car stopped for a one-time fee."},
    {fix, "Plan a or plan b with an FBI agent."},
    {fix, "a exampel of it", "an example of it"},
    {fix, "a xqzvwp"},
    // White space comes back as it was.
    {fix, "teh end   \n", "the end   \n"},
    {fix, "teh\r\nend\r\n", "the\r\nend\r\n"},
    {fix, "  teh\tcat\n   - teh item", "  the\tcat\n   - the item"},
    {fix, "\n\nteh\n\n\n", "\n\nthe\n\n\n"},
    {fix, " \t\n \r\n"},
    {fix, "is it\u00A0?", "Is it\u00A0?"},
    {fix, "One.  two.", "One.  Two."},
    {fix, "teh\rend", "the\rend"},
    // Clean text, and spans that are never corrected (URLs, code, names, identifiers).
    {fix, "The quick brown fox jumps over the lazy dog. It was a bright, cold day in April, and the clocks were striking thirteen."},
    {fix, "Permission is hereby granted, free of charge, to any person obtaining a copy of this software and associated documentation files (the \"Software\"), to deal in the Software without restriction, including without limitation the rights to use, copy, modify, merge, publish, distribute, sublicense, and/or sell copies."},
    {fix, "Things to do:\n- buy milk\n- call Anna\n\n> She said: \"Fine.\"\n"},
    {fix, "I don't think it's John's, and we'll see."},
    {fix, "The colour and color of the organisation's behaviour, analysed."},
    {fix, "The licensor allows relicensing by formatters, noncommercially."},
    {fix, ""},
    {formal, ""},
    {fix, "and bye bye and there there and tsk tsk and ha ha ha and"},
    {fix, "# Title\n\n*Bold* and _italic_ text, see [the docs](https://x.org/a)."},
    {fix, "see https://exmaple.com/teh/recieve?x=1 or www.exmaple.com, mail teh@exmaple.com now"},
    {fix, "run `recieve --teh` and ``teh ` recieve`` now"},
    {fix, "run `teh recieve\nnow"},
    {fix, "code:\n```\nteh recieve\n\nthe the\n```\ndone"},
    {fix, "~~~python\nteh = recieve()\n~~~\n"},
    {fix, "```\nteh recieve\n"},
    {fix, "code:\n\n    teh recieve the the\n\tteh\n"},
    {fix, "got 3rd in 2024 with mp3z, teh2, 2teh and 1080p for the TEH and RECIEVE team"},
    {fix, "use recieveData and iPhone"},
    {fix, "we met Tarnwick and Recieve"},
    {fix, "the café naïve Ærøskøbing straße tehé and ünrecieve"},
    {fix, "open /usr/teh/recieve and snake_teh and a.b, pass --recieve or -teh"},
    {fix, "Install it:\n\n    sudo apt-get install libteh-dev recieve\n"},
    {fix, "Like this:\n\n    teh = recieve(1) and then we call it again\n"},
    {fix, "gonna wanna dunno"},
    // Confusable words decided by their neighbours.
    {fix, "Their were two cars. I guess their leaving soon.", "There were two cars. I guess they're leaving soon."},
    {fix, "We borrowed there ladder. I bet there tired.", "We borrowed their ladder. I bet they're tired."},
    {fix, "Your so kind. I found you're wallet.", "You're so kind. I found your wallet."},
    {fix, "Its snowing now. The bird fixed it's nest.", "It's snowing now. The bird fixed its nest."},
    {fix, "Whose ready? Who's phone rang?", "Who's ready? Whose phone rang?"},
    {fix, "It was to loud. Send it too me.", "It was too loud. Send it to me."},
    {fix, "Cats are quieter then dogs.", "Cats are quieter than dogs."},
    {fix, "Noise can effect your sleep. A strong affect on us.",
        "Noise can affect your sleep. A strong effect on us."},
    {fix, "You might loose the game. The knot came lose.", "You might lose the game. The knot came loose."},
    {fix, "We advice you to rest. Any advise is welcome.", "We advise you to rest. Any advice is welcome."},
    {fix, "Lets eat. Were leaving. She wont listen. I cant wait. Do you know were the keys are?",
        "Let's eat. We're leaving. She won't listen. I can't wait. Do you know where the keys are?"},
    {fix, "Leave it over their. Is they're a bank near? Your a star. The man who's car was towed left. Do you know whose in charge?",
        "Leave it over there. Is there a bank near? You're a star. The man whose car was towed left. Do you know who's in charge?"},
    {fix, "I need too call. Thanks, you to! Mix it, than add milk. She is older then me. It took longer then we expected.",
        "I need to call. Thanks, you too! Mix it, then add milk. She is older than me. It took longer than we expected."},
    {fix, "Side affects are rare. The storm effected the flights. Take a deep breathe.",
        "Side effects are rare. The storm affected the flights. Take a deep breath."},
    {fix, "My boss let's me go. We're you there? The tickets we're cheap. Were did you go? We where late. I think were out of milk.",
        "My boss lets me go. Were you there? The tickets were cheap. Where did you go? We were late. I think we're out of milk."},
    // Verb forms.
    {fix, "He didn't went. Did you saw it? Does she knows? I were ill. These is mine. She always forget it. Have you ever flew?",
        "He didn't go. Did you see it? Does she know? I was ill. These are mine. She always forgets it. Have you ever flown?"},
    {fix, "She like tea. It don't fit. They was out. Everyone are fine. This are old.",
        "She likes tea. It doesn't fit. They were out. Everyone is fine. These are old."},
    {fix, "I has one. They wants more. The dogs is hungry.", "I have one. They want more. The dogs are hungry."},
    {fix, "My brother work here. There was four of us.", "My brother works here. There were four of us."},
    {fix, "We drinked and speaked. She has throwed it.", "We drank and spoke. She has thrown it."},
    {fix, "They have began. He has ran. We had knew.", "They have begun. He has run. We had known."},
    {fix, "We might of missed it.", "We might have missed it."},
    // Small fixed errors.
    {fix, "We discussed about alot of things. I look forward to see it.",
        "We discussed a lot of things. I look forward to seeing it."},
    {fix, "It is more cheaper and the most happiest.", "It is cheaper and the happiest."},
    {fix, "The childrens toys are here. I have two brother.", "The children's toys are here. I have two brothers."},
    // Left alone.
    {fix, "She had had it. I know that that works."},
    {fix, "We met Your Majesty and Its Founder. Set `its = to` in the file."},
    {fix, "He wrote \"their going\" and \"ne sais pas\"."},
    {fix, "I think it's time. It was quieter then."},
    {fix, "If it is faster then we go."},
    {fix, "Let it go. Make him stay. He cut it and she put it away. I have got it."},
    {fix, "As is her wont. I want to clean it. Where did you come to?"},
    {fix, "see you on friday. The bus stop is near.", "See you on friday. The bus stop is near."},
    {fix, "The programme starts at eight. It is important that she arrive early. Everyone except Tom came. If I were you, I would go. My friends and I were there."},
    // Legal prose: possessives before adjectives, modal "need", lines wrapped mid-sentence.
    {fix, "It is a product of your own. It affirms your unlimited\npermission. As an exception, it need not include them. You could satisfy both it and this License. Contributions are its original creation(s)."},
    // Formal mode.
    {formal, "I don't know, it isn't and we can't, won't and shan't.",
        "I do not know, it is not and we cannot, will not and shall not."},
    {formal, "I'm sure you're right, we've seen it and they'll go.",
        "I am sure you are right, we have seen it and they will go."},
    {formal, "I’m sure it’s fine. It's been long and it's late.", "I am sure it is fine. It has been long and it is late."},
    {formal, "I'd go, but I'd been ill and she'd finished.",
        "I would go, but I had been ill and she had finished."},
    {formal, "John's car and the dog's bowl at five o'clock."},
    {formal, "Don't go. Let's stay.", "Do not go. Let us stay."},
    {formal, "yeah, i'm gonna ask, wanna come? nope, dunno.",
        "Yes, I am going to ask, want to come? No, do not know."},
    {formal, "thx, pls send it asap btw", "Thank you, please send it as soon as possible by the way"},
    {formal, "Gotta go. Kinda late. I dont no.", "Have to go. Kind of late. I do not no."},
    {formal, "DON'T and GONNA"},
    {formal, "run `don't` and\n\n    it's code\n", "Run `don't` and\n\n    it's code\n"},
    {formal, "he said 'don't'", "He said 'do not'"},
    // A subject after a negative contraction: "not" follows the subject.
    {formal, "It is late, don’t you think?", "It is late, do you not think?"},
    {formal, "Isn't it? Won't they? Can't we stay?", "Is it not? Will they not? Can we not stay?"},
    {formal, "Why didn't I go?", "Why did I not go?"},
    {formal, "Hasn't he left? Aren't there more? Shouldn't we ask? Weren't you told?",
        "Has he not left? Are there not more? Should we not ask? Were you not told?"},
    {formal, "so wasn't she there, or doesn't it show?", "So was she not there, or does it not show?"},
    {formal, "I don't know and they won't go. We didn't see it.", "I do not know and they will not go. We did not see it."},
    {formal, "Where didn't we look, and won't you help?", "Where did we not look, and will you not help?"},
    {formal, "That isn't it. It isn't there. The answer isn't it.", "That is not it. It is not there. The answer is not it."},
    {formal, "Do you know that it isn't there?", "Do you know that it is not there?"},
    {formal, "why didn't i go?", "Why did I not go?"},
    {formal, "\"Isn't it?\" she asked.", "\"Is it not?\" she asked."},
    {formal, "Don't you dare! Now, don't you worry. Well isn't it?"},
    // Chat: greetings, noises, discourse words, capitals.
    {formal, "hey all, lol, the build passed haha", "Hello everyone, the build passed"},
    {formal, "I said hi there."},
    {formal, "tbh we could wait", "To be honest, we could wait"},
    {formal, "see you on monday in june, ok?", "See you on Monday in June, OK?"},
    {formal, "LOL is a game"},
    {formal, "Couldn't she? Mustn't it? Needn't we?", "Could she not? Must it not? Need we not?"},

};
// clang-format on

} // namespace

class TestCorrector : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // These tests describe the corrector with its real resources; say clearly when they are absent.
        QVERIFY2(corrector().hasSpeller(), "Aspell with the en_US dictionary (aspell-en) is needed");
        // The word tables are made when the program is built; a build without them fails.
        QVERIFY(corrector().lexicon().misspellingCount() > 1000);
        QVERIFY(corrector().lexicon().wordCount() > 100000 && corrector().lexicon().pairTableSize() > 10000);
    }

    void corrections_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < int(std::size(cases)); ++i)
            QTest::addRow("%d: %s", i, QByteArray(cases[i].in).left(50).replace('\n', "\\n").constData())
                << i;
    }
    void corrections()
    {
        QFETCH(int, index);
        const Case &c = cases[index];
        QCOMPARE(q(corrector().correct(c.in, c.mode)), QString::fromUtf8(c.out ? c.out : c.in));
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
        const Corrector allowing(options);
        QCOMPARE(allowing.lexicon().allowedCount(), std::size_t(4));
        QCOMPARE(q(allowing.correct("teh recieve. Teh wierd", Mode::Fix)),
            QStringLiteral("teh recieve. Teh weird"));
        QCOMPARE(q(allowing.correct("I'm gonna go", Mode::Formal)), QStringLiteral("I am gonna go"));
        // Without the list the same words are corrected.
        QCOMPARE(q(corrector().correct("I recieve teh", Mode::Fix)), QStringLiteral("I receive the"));
    }

    void missingResources()
    {
        // No Aspell: the misspellings table and the rules still work, nothing fails.
        CorrectorOptions options;
        options.allowListFile = "/nonexistent/allowed-words.txt";
        options.spelling = false;
        const Corrector noSpeller(options);
        QCOMPARE(noSpeller.warnings().size(), std::size_t(0));
        QVERIFY(!noSpeller.hasSpeller());
        QCOMPARE(q(noSpeller.correct("i think teh the the end ,ok . yes", Mode::Fix)),
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
        const std::string expected = corrector().correct(input, Mode::Fix);
        constexpr int threads = 4;
        std::vector<std::string> failures(threads);
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t) {
            workers.emplace_back([&, t] {
                for (int i = 0; i < 200; ++i) {
                    const std::string out = corrector().correct(input, Mode::Fix);
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
        QVERIFY(corrector().spellers().created() <= std::size_t(threads + 1));
    }

    void budgetReturnsTheRestAsItCame()
    {
        // Sentences of made-up words: each costs Aspell's suggestions, thousands of them take seconds.
        const std::string text = "I recieve teh letter.\n" + unknownWords(32 << 10, 99);
        const auto before = Backend::threadCpuTime();
        const Backend::Correction result = corrector().correct(text, Mode::Fix, 100ms);
        QVERIFY(Backend::threadCpuTime() - before < 2s);
        QVERIFY(!result.complete);
        QVERIFY(result.text.rfind("I receive the letter.\n", 0) == 0);
        // The rest, from a sentence's start, comes back byte for byte.
        const std::string_view rest = std::string_view(text).substr(result.correctedBytes);
        QVERIFY(result.correctedBytes > 22 && text.compare(result.correctedBytes - 2, 2, ". ") == 0);
        QVERIFY(std::string_view(result.text).substr(result.text.size() - rest.size()) == rest);
        // The words already looked at are remembered for the next request.
        QVERIFY(corrector().wordCache().find(text.substr(22, 7)).has_value());

        const Backend::Correction small = corrector().correct("teh end", Mode::Fix, 100ms);
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
                const std::string out = corrector().correct(input, mode);
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

    void editDistance()
    {
        const std::tuple<const char *, const char *, int> pairs[] = {{"word", "word", 0}, {"teh", "the", 1},
            {"mornng", "morning", 1}, {"licensor", "license", 2}, {"", "abc", 3}};
        for (const auto &[a, b, distance] : pairs) {
            QCOMPARE(Backend::editDistance(a, b), distance);
            QCOMPARE(Backend::editDistance(b, a), distance);
        }
    }

    void utf8Validation()
    {
        for (const char *valid : {"abc", "caf\xC3\xA9 \xF0\x9F\x98\x80", "\xEF\xBF\xBD"})
            QVERIFY2(Backend::Utf8::isValid(valid), valid);
        // A lone continuation, a truncated sequence, an overlong form, a surrogate, above U+10FFFF.
        for (const char *invalid : {"a\x80z", "caf\xC3", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80"})
            QVERIFY2(!Backend::Utf8::isValid(invalid), invalid);
    }
};

QTEST_GUILESS_MAIN(TestCorrector)
#include "tst_corrector.moc"
