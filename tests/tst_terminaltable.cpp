#include "platform/qt/SettingsUserDefaults.h"
#include "platform/qt/TerminalTable.h"
#include "platform/fake/MemoryUserDefaults.h"

#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

using Platform::MemoryUserDefaults;
using Platform::SettingsUserDefaults;
using Platform::TerminalTable;

class TestTerminalTable : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void builtInTableIsTheWholeDataFile()
    {
        QFile file(QStringLiteral(TARNWICK_TERMINALS_TSV));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const TerminalTable fromFile = TerminalTable::fromTsv(QString::fromUtf8(file.readAll()));
        QCOMPARE(TerminalTable::builtIn().classes(), fromFile.classes());
        QCOMPARE(fromFile.classes().size(), 26);
        QCOMPARE(fromFile.classes().first(), QStringLiteral("XTerm"));
        QCOMPARE(fromFile.classes().last(), QStringLiteral("org.kde.yakuake"));
    }

    void builtInMatch_data()
    {
        QTest::addColumn<QString>("windowClass");
        QTest::addColumn<bool>("terminal");
        QTest::newRow("as listed") << QStringLiteral("XTerm") << true;
        QTest::newRow("lower case") << QStringLiteral("xterm") << true;
        QTest::newRow("upper case") << QStringLiteral("GNOME-TERMINAL") << true;
        QTest::newRow("dotted id") << QStringLiteral("Org.WezFurlong.WezTerm") << true;
        QTest::newRow("surrounding blanks") << QStringLiteral(" konsole ") << true;
        QTest::newRow("instance name, not class") << QStringLiteral("gnome-terminal-server") << false;
        QTest::newRow("prefix only") << QStringLiteral("XTer") << false;
        QTest::newRow("longer name") << QStringLiteral("XTermX") << false;
        QTest::newRow("editor") << QStringLiteral("Gedit") << false;
        QTest::newRow("unknown window") << QString() << false;
        QTest::newRow("header word") << QStringLiteral("wm_class") << false;
    }
    void builtInMatch()
    {
        QFETCH(QString, windowClass);
        QFETCH(bool, terminal);
        const MemoryUserDefaults defaults;
        QCOMPARE(TerminalTable::builtIn().isTerminal(windowClass, defaults), terminal);
        QCOMPARE(TerminalTable::builtIn().contains(windowClass), terminal);
    }

    void parsesTsv()
    {
        const QString text = QStringLiteral("# comment\twith\ttabs\r\n"
                                            "\r\n"
                                            "   \n"
                                            "First\tfirst\tFirst one\r\n"
                                            "NoTabs\n"
                                            "first\tduplicate in another case\n"
                                            "\tmissing class\n"
                                            "  Spaced  \tx\n"
                                            "Last");
        const TerminalTable table = TerminalTable::fromTsv(text);
        QCOMPARE(table.classes(),
            (QStringList {QStringLiteral("First"), QStringLiteral("NoTabs"), QStringLiteral("Spaced"),
                QStringLiteral("Last")}));
        QVERIFY(table.contains(QStringLiteral("spaced")));
        QVERIFY(!table.contains(QStringLiteral("# comment")));
        QVERIFY(TerminalTable::fromTsv(QString()).classes().isEmpty());
    }

    // The user's lists over the built-in table.
    void userLists_data()
    {
        QTest::addColumn<QVariant>("terminals");
        QTest::addColumn<QVariant>("nonTerminals");
        QTest::addColumn<QString>("windowClass");
        QTest::addColumn<bool>("terminal");

        const QVariant none;
        QTest::newRow("added class") << QVariant(QStringList {QStringLiteral("MyTerm")}) << none
                                     << QStringLiteral("myterm") << true;
        QTest::newRow("added class, other case")
            << QVariant(QVariantList {QStringLiteral("  EMACS ")}) << none << QStringLiteral("Emacs") << true;
        QTest::newRow("additions keep the table")
            << QVariant(QStringList {QStringLiteral("MyTerm")}) << none << QStringLiteral("kitty") << true;
        QTest::newRow("excluded table class")
            << none << QVariant(QStringList {QStringLiteral("xterm")}) << QStringLiteral("XTerm") << false;
        QTest::newRow("exclusion of another class")
            << none << QVariant(QStringList {QStringLiteral("Gedit")}) << QStringLiteral("XTerm") << true;
        QTest::newRow("in both lists: terminal")
            << QVariant(QStringList {QStringLiteral("Emacs")})
            << QVariant(QStringList {QStringLiteral("emacs")}) << QStringLiteral("Emacs") << true;
        QTest::newRow("empty entries never match the unknown window")
            << QVariant(QStringList {QString(), QStringLiteral("  ")}) << none << QString() << false;
        QTest::newRow("from a JSON array") << QVariant(QJsonArray {QStringLiteral("MyTerm"), 3, true}) << none
                                           << QStringLiteral("MyTerm") << true;
    }
    void userLists()
    {
        QFETCH(QVariant, terminals);
        QFETCH(QVariant, nonTerminals);
        QFETCH(QString, windowClass);
        QFETCH(bool, terminal);
        MemoryUserDefaults defaults;
        defaults.setValue(TerminalTable::terminalClassesKey(), terminals);
        defaults.setValue(TerminalTable::nonTerminalClassesKey(), nonTerminals);
        QCOMPARE(TerminalTable::builtIn().isTerminal(windowClass, defaults), terminal);
    }

    // The lists as a user writes them into the settings file by hand.
    void listsFromTheSettingsFile_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QStringList>("terminals");
        QTest::addColumn<QStringList>("nonTerminals");
        QTest::newRow("lists of texts")
            << QByteArray(R"({"terminalClasses": ["Emacs", " myterm "], "nonTerminalClasses": ["URxvt"]})")
            << QStringList {QStringLiteral("Emacs"), QStringLiteral("myterm")}
            << QStringList {QStringLiteral("URxvt")};
        QTest::newRow("members of every JSON type")
            << QByteArray(R"({"terminalClasses": [1, null, true, {"a": "b"}, ["Nested"], "Emacs"],)"
                          R"( "nonTerminalClasses": "URxvt"})")
            << QStringList {QStringLiteral("Emacs")} << QStringList();
        QTest::newRow("objects instead of lists")
            << QByteArray(R"({"terminalClasses": {"Emacs": true}, "nonTerminalClasses": 0})") << QStringList()
            << QStringList();
    }
    void listsFromTheSettingsFile()
    {
        QFETCH(QByteArray, json);
        QFETCH(QStringList, terminals);
        QFETCH(QStringList, nonTerminals);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("settings.json"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(json);
        file.close();

        const SettingsUserDefaults settings(path);
        QCOMPARE(TerminalTable::userClasses(settings, TerminalTable::terminalClassesKey()), terminals);
        QCOMPARE(TerminalTable::userClasses(settings, TerminalTable::nonTerminalClassesKey()), nonTerminals);
        QCOMPARE(TerminalTable::builtIn().isTerminal(QStringLiteral("emacs"), settings),
            terminals.contains(QStringLiteral("Emacs")));
        QCOMPARE(TerminalTable::builtIn().isTerminal(QStringLiteral("urxvt"), settings),
            !nonTerminals.contains(QStringLiteral("URxvt")));
        QCOMPARE(TerminalTable::builtIn().isTerminal(QStringLiteral("Nested"), settings), false);
    }

    // A damaged settings file must neither break a run nor turn a terminal into a window that
    // receives Ctrl+C.
    void hostileValues_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QStringList>("taken");

        QTest::newRow("single text") << QVariant(QStringLiteral("XTerm")) << QStringList();
        QTest::newRow("number") << QVariant(42) << QStringList();
        QTest::newRow("Boolean") << QVariant(true) << QStringList();
        QTest::newRow("map") << QVariant(QVariantMap {{QStringLiteral("XTerm"), true}}) << QStringList();
        QTest::newRow("bytes") << QVariant(QByteArrayLiteral("XTerm")) << QStringList();
        QTest::newRow("mixed list") << QVariant(
            QVariantList {42, QStringLiteral("XTerm"), QVariant(), QVariantList {QStringLiteral("Nested")},
                QVariantMap {}, false, QByteArrayLiteral("Bytes"), QStringLiteral(" kitty ")})
                                    << QStringList {QStringLiteral("XTerm"), QStringLiteral("kitty")};
        QTest::newRow("JSON array with non-texts") << QVariant(
            QJsonArray {1, QJsonValue(), QJsonArray {QStringLiteral("Nested")}, QStringLiteral("Alacritty")})
                                                   << QStringList {QStringLiteral("Alacritty")};
    }
    void hostileValues()
    {
        QFETCH(QVariant, value);
        QFETCH(QStringList, taken);
        MemoryUserDefaults defaults;
        defaults.setValue(TerminalTable::nonTerminalClassesKey(), value);
        QCOMPARE(TerminalTable::userClasses(defaults, TerminalTable::nonTerminalClassesKey()), taken);
        // Only what was taken can exclude a class of the table.
        QCOMPARE(TerminalTable::builtIn().isTerminal(QStringLiteral("XTerm"), defaults),
            !taken.contains(QStringLiteral("XTerm")));
        QCOMPARE(TerminalTable::builtIn().isTerminal(QStringLiteral("Nested"), defaults), false);

        MemoryUserDefaults additions;
        additions.setValue(TerminalTable::terminalClassesKey(), value);
        QCOMPARE(TerminalTable::builtIn().isTerminal(QStringLiteral("Bytes"), additions), false);
        QCOMPARE(TerminalTable::builtIn().isTerminal(QStringLiteral("Nested"), additions), false);
        QCOMPARE(TerminalTable::builtIn().isTerminal(QStringLiteral("XTerm"), additions), true);
    }
};

QTEST_GUILESS_MAIN(TestTerminalTable)
#include "tst_terminaltable.moc"
