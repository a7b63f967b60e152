#include "platform/qt/SettingsUserDefaults.h"
#include "platform/qt/TerminalTable.h"
#include "platform/fake/MemoryUserDefaults.h"

#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

using Platform::MemoryUserDefaults;
using Platform::TerminalTable;

namespace {

QStringList texts(std::initializer_list<const char *> list)
{
    QStringList result;
    for (const char *text : list)
        result.append(QString::fromUtf8(text));
    return result;
}

} // namespace

class TestTerminalTable : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void builtInTableIsTheWholeDataFile()
    {
        QFile file(QStringLiteral(TARNWICK_TERMINALS_TSV));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(TerminalTable::builtIn().classes(),
            TerminalTable::fromTsv(QString::fromUtf8(file.readAll())).classes());
    }

    void parsesTsv()
    {
        const TerminalTable table
            = TerminalTable::fromTsv(QStringLiteral("# comment\twith\ttabs\r\n\r\n   \nFirst\tfirst\tFirst "
                                                    "one\r\nNoTabs\nfirst\tduplicate in another case\n"
                                                    "\tmissing class\n  Spaced  \tx\nLast"));
        QCOMPARE(table.classes(), texts({"First", "NoTabs", "Spaced", "Last"}));
        QVERIFY(table.contains(QStringLiteral("spaced")));
        QVERIFY(!table.contains(QStringLiteral("# comment")));
        QVERIFY(TerminalTable::fromTsv(QString()).classes().isEmpty());
    }

    // The built-in table, and the user's lists over it: classes added and classes excluded.
    void isTerminal_data()
    {
        QTest::addColumn<QVariant>("terminals");
        QTest::addColumn<QVariant>("nonTerminals");
        QTest::addColumn<QString>("windowClass");
        QTest::addColumn<bool>("terminal");
        const QVariant none;
        const auto row = [](const char *name, const char *windowClass, bool terminal,
                             const QVariant &add = {}, const QVariant &exclude = {}) {
            QTest::newRow(name) << add << exclude << QString::fromUtf8(windowClass) << terminal;
        };
        row("as listed", "XTerm", true);
        row("dotted id, upper case", "ORG.WEZFURLONG.WEZTERM", true);
        row("surrounding blanks", " konsole ", true);
        row("instance name, not class", "gnome-terminal-server", false);
        row("prefix only", "XTer", false);
        row("longer name", "XTermX", false);
        row("unknown window", "", false);
        row("header word", "wm_class", false);
        row("added class", "myterm", true, texts({"MyTerm"}));
        row("added class, other case", "Emacs", true, QVariantList {QStringLiteral("  EMACS ")});
        row("additions keep the table", "kitty", true, texts({"MyTerm"}));
        row("excluded table class", "XTerm", false, none, texts({"xterm"}));
        row("exclusion of another class", "XTerm", true, none, texts({"Gedit"}));
        row("in both lists: terminal", "Emacs", true, texts({"Emacs"}), texts({"emacs"}));
        row("empty entries never match the unknown window", "", false, texts({"", "  "}));
        row("from a JSON array", "MyTerm", true, QJsonArray {QStringLiteral("MyTerm"), 3, true});
    }
    void isTerminal()
    {
        QFETCH(QVariant, terminals);
        QFETCH(QVariant, nonTerminals);
        QFETCH(QString, windowClass);
        QFETCH(bool, terminal);
        MemoryUserDefaults defaults;
        defaults.setValue(TerminalTable::terminalClassesKey(), terminals);
        defaults.setValue(TerminalTable::nonTerminalClassesKey(), nonTerminals);
        QCOMPARE(TerminalTable::builtIn().isTerminal(windowClass, defaults), terminal);
        if (!terminals.isValid() && !nonTerminals.isValid())
            QCOMPARE(TerminalTable::builtIn().contains(windowClass), terminal);
    }

    // The lists as a user writes them into the settings file by hand. A damaged file must neither
    // break a run nor turn a terminal into a window that receives Ctrl+C: only texts are taken
    // from a list.
    void listsFromTheSettingsFile_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QStringList>("terminals");
        QTest::addColumn<QStringList>("nonTerminals");
        QTest::newRow("lists of texts")
            << QByteArray(R"({"terminalClasses": ["Emacs", " myterm "], "nonTerminalClasses": ["URxvt"]})")
            << texts({"Emacs", "myterm"}) << texts({"URxvt"});
        QTest::newRow("members of every JSON type")
            << QByteArray(R"({"terminalClasses": [1, null, true, {"a": "b"}, ["Nested"], "Emacs"],)"
                          R"( "nonTerminalClasses": "URxvt"})")
            << texts({"Emacs"}) << QStringList();
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
        QFile file(dir.filePath(QStringLiteral("settings.json")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(json) == json.size());
        file.close();
        const Platform::SettingsUserDefaults settings(file.fileName());
        QCOMPARE(TerminalTable::userClasses(settings, TerminalTable::terminalClassesKey()), terminals);
        QCOMPARE(TerminalTable::userClasses(settings, TerminalTable::nonTerminalClassesKey()), nonTerminals);
        QCOMPARE(TerminalTable::builtIn().isTerminal(QStringLiteral("emacs"), settings),
            terminals.contains(QStringLiteral("Emacs")));
        QCOMPARE(TerminalTable::builtIn().isTerminal(QStringLiteral("urxvt"), settings),
            !nonTerminals.contains(QStringLiteral("URxvt")));
    }
};

QTEST_GUILESS_MAIN(TestTerminalTable)
#include "tst_terminaltable.moc"
