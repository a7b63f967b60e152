#include "hotkeys/Constants.h"
#include "testlib/UseService.h"
#include "hotkeys/Key.h"
#include "hotkeys/Localization.h"
#include "hotkeys/Shortcut.h"
#include "hotkeys/SpecialKey.h"
#include "platform/fake/FakeKeyboardLayout.h"

#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QLibraryInfo>
#include <QLocale>
#include <QMenu>
#include <QTest>
#include <QTranslator>

using namespace Hotkeys;

namespace {
const auto cmd = ModifierFlags::command;
const auto shift = ModifierFlags::shift;
const auto opt = ModifierFlags::option;
const auto ctrl = ModifierFlags::control;
const auto fn = ModifierFlags::function;
} // namespace

class TestShortcutText : public QObject {
    Q_OBJECT

    Platform::FakeKeyboardLayout m_layout;

private Q_SLOTS:
    void init()
    {
        m_layout = Platform::FakeKeyboardLayout();
        Tests::useService(&Hotkeys::Services::keyboardLayout, &m_layout);
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }
    void cleanup() { Tests::useService(&Hotkeys::Services::keyboardLayout, nullptr); }

    void description_data()
    {
        QTest::addColumn<qint64>("keyCode");
        QTest::addColumn<qint64>("modifiers");
        QTest::addColumn<QString>("text");
        const auto row = [](const char *name, Key key, ModifierFlags flags, const QString &text) {
            QTest::newRow(name) << key.rawValue() << flags.carbon() << text;
        };
        row("command K", Key::k, cmd, QStringLiteral("⌘K"));
        row("shift command K", Key::k, cmd | shift, QStringLiteral("⇧⌘K"));
        row("all five with F1", Key::f1, cmd | shift | opt | ctrl | fn,
            QStringLiteral("⌃⌥⇧⌘\U0001F310\uFE0EF1"));
        row("digits stay unshifted", Key::one, shift | cmd, QStringLiteral("⇧⌘1"));
        row("punctuation", Key::slash, ctrl, QStringLiteral("⌃/"));
        row("F5 alone", Key::f5, {}, QStringLiteral("F5"));
        row("F13", Key::f13, opt, QStringLiteral("⌥F13"));
        row("F20", Key::f20, {}, QStringLiteral("F20"));
        row("keypad 5", Key::keypad5, cmd, QStringLiteral("⌘5\u20E3"));
        row("keypad 0", Key::keypad0, {}, QStringLiteral("0\u20E3"));
        row("keypad clear", Key::keypadClear, {}, QStringLiteral("\u2612\u20E3"));
        row("keypad enter", Key::keypadEnter, {}, QStringLiteral("\u21A9\u20E3"));
        row("keypad multiply", Key::keypadMultiply, {}, QStringLiteral("*\u20E3"));
        row("keypad decimal", Key::keypadDecimal, {}, QStringLiteral(".\u20E3"));
        row("keypad divide", Key::keypadDivide, {}, QStringLiteral("/\u20E3"));
        row("keypad equals", Key::keypadEquals, {}, QStringLiteral("=\u20E3"));
        row("keypad minus", Key::keypadMinus, {}, QStringLiteral("-\u20E3"));
        row("keypad plus", Key::keypadPlus, {}, QStringLiteral("+\u20E3"));
        row("keypad 9", Key::keypad9, {}, QStringLiteral("9\u20E3"));
        row("tab", Key::tab, opt, QStringLiteral("⌥⇥"));
        row("home", Key::home, {}, QStringLiteral("↖"));
        row("end", Key::end, {}, QStringLiteral("↘"));
        row("page up", Key::pageUp, {}, QStringLiteral("⇞"));
        row("page down", Key::pageDown, {}, QStringLiteral("⇟"));
        row("up", Key::upArrow, {}, QStringLiteral("↑"));
        row("right", Key::rightArrow, {}, QStringLiteral("→"));
        row("down", Key::downArrow, {}, QStringLiteral("↓"));
        row("return", Key::returnKey, cmd, QStringLiteral("⌘↩"));
        row("delete", Key::deleteKey, {}, QStringLiteral("⌫"));
        row("forward delete", Key::deleteForward, {}, QStringLiteral("⌦"));
        row("help", Key::help, {}, QStringLiteral("?\u20DD"));
        row("escape", Key::escape, {}, QStringLiteral("⎋"));
        row("arrows", Key::leftArrow, ctrl | opt, QStringLiteral("⌃⌥←"));
        row("space", Key::space, ctrl | opt, QStringLiteral("⌃⌥Space"));
        row("code without constant", Key(10), cmd, QStringLiteral("⌘§"));
        row("code beyond the layout", Key(200), cmd, QStringLiteral("⌘\uFFFD"));
        row("negative code", Key(-1), cmd, QStringLiteral("⌘\uFFFD"));
        row("code beyond 16 bits", Key(65536 + 40), cmd, QStringLiteral("⌘\uFFFD"));
    }
    void description()
    {
        QFETCH(qint64, keyCode);
        QFETCH(qint64, modifiers);
        QFETCH(QString, text);
        const Shortcut shortcut(keyCode, modifiers);
        QCOMPARE(shortcut.presentableDescription(), text);
        QCOMPARE(shortcut.description(), text);
    }

    // How Linux desktops write shortcuts, in Qt's words and order.
    void nativeText_data()
    {
        QTest::addColumn<qint64>("keyCode");
        QTest::addColumn<qint64>("modifiers");
        QTest::addColumn<QString>("typed"); // what the layout's key types; empty: the US layout
        QTest::addColumn<QString>("text");
        const auto row = [](const char *name, Key key, ModifierFlags flags, const QString &text,
                             const QString &typed = {}) {
            QTest::newRow(name) << key.rawValue() << flags.carbon() << typed << text;
        };
        row("fix default", Key::e, cmd | shift, QStringLiteral("Ctrl+Shift+E"));
        row("formal default", Key::e, cmd | opt, QStringLiteral("Ctrl+Alt+E"));
        row("Control is Super", Key::k, ctrl, QStringLiteral("Super+K"));
        row("all five with F1", Key::f1, cmd | shift | opt | ctrl | fn,
            QStringLiteral("Super+Ctrl+Alt+Shift+Fn+F1"));
        row("digits stay unshifted", Key::one, shift | cmd, QStringLiteral("Ctrl+Shift+1"));
        row("keypad", Key::keypad5, cmd, QStringLiteral("Ctrl+Num+5"));
        row("space", Key::space, ctrl | opt, QStringLiteral("Super+Alt+Space"));
        row("return", Key::returnKey, cmd, QStringLiteral("Ctrl+Return"));
        row("arrow", Key::leftArrow, opt, QStringLiteral("Alt+Left"));
        row("non-Latin letter", Key::k, cmd, QStringLiteral("Ctrl+Л"), QStringLiteral("л"));
        row("unnamed key", Key(200), cmd, QStringLiteral("Ctrl+\uFFFD"));
    }
    void nativeText()
    {
        QFETCH(qint64, keyCode);
        QFETCH(qint64, modifiers);
        QFETCH(QString, typed);
        if (!typed.isEmpty())
            m_layout.setCharacters(quint16(keyCode), typed);
        QTEST(Shortcut(keyCode, modifiers).nativeText(), "text");
    }

    void nativeTextIsTranslatedByQt()
    {
        QTranslator qtbase;
        if (!qtbase.load(QLocale(QLocale::German, QLocale::Germany), QStringLiteral("qtbase"),
                QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            QSKIP("Qt's German translations are not installed (qt6-translations-l10n)");
        QCoreApplication::installTranslator(&qtbase);
        const QString text = Shortcut(Key::space.rawValue(), (cmd | shift).carbon()).nativeText();
        QCoreApplication::removeTranslator(&qtbase);
        QCOMPARE(text, QStringLiteral("Strg+Umschalt+Leertaste"));
    }

    void layoutAnswersThatNameNoSingleCharacter_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("text");
        QTest::newRow("nothing") << QString() << QStringLiteral("⌘\uFFFD");
        QTest::newRow("two characters") << QStringLiteral("ab") << QStringLiteral("⌘\uFFFD");
        QTest::newRow("one cluster of two scalars")
            << QStringLiteral("e\u0301") << QStringLiteral("⌘E\u0301");
        QTest::newRow("non-Latin letter") << QStringLiteral("л") << QStringLiteral("⌘Л");
        QTest::newRow("sharp s keeps one letter") << QStringLiteral("ß") << QStringLiteral("⌘ß");
    }
    void layoutAnswersThatNameNoSingleCharacter()
    {
        QFETCH(QString, typed);
        QFETCH(QString, text);
        m_layout.setCharacters(quint16(Key::k.rawValue()), typed);
        QCOMPARE(Shortcut(Key::k, cmd).presentableDescription(), text);
    }

    void noLayoutMeansNoCharacter()
    {
        Tests::useService(&Hotkeys::Services::keyboardLayout, nullptr);
        QCOMPARE(Shortcut(Key::k, cmd).presentableDescription(), QStringLiteral("⌘\uFFFD"));
        QCOMPARE(Shortcut(Key::k, cmd).nsMenuItemKeyEquivalent(), std::nullopt);
        QCOMPARE(Shortcut(Key::f3, cmd).presentableDescription(), QStringLiteral("⌘F3"));
    }

    void spaceIsLocalised_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("text");
        QTest::newRow("English") << QLocale(QLocale::English, QLocale::UnitedKingdom)
                                 << QStringLiteral("⌃⌥Space");
        QTest::newRow("German") << QLocale(QLocale::German, QLocale::Germany)
                                << QStringLiteral("⌃⌥Leertaste");
        QTest::newRow("Austrian German")
            << QLocale(QLocale::German, QLocale::Austria) << QStringLiteral("⌃⌥Leertaste");
        QTest::newRow("French") << QLocale(QLocale::French, QLocale::France) << QStringLiteral("⌃⌥Espace");
        QTest::newRow("no table: English")
            << QLocale(QLocale::Japanese, QLocale::Japan) << QStringLiteral("⌃⌥Space");
    }
    void spaceIsLocalised()
    {
        QFETCH(QLocale, locale);
        QFETCH(QString, text);
        QLocale::setDefault(locale);
        QCOMPARE(Shortcut(Key::space, ctrl | opt).presentableDescription(), text);
    }

    void menuKeyEquivalent_data()
    {
        QTest::addColumn<qint64>("keyCode");
        QTest::addColumn<bool>("present");
        QTest::addColumn<QString>("text");
        QTest::newRow("k is lower case") << Key::k.rawValue() << true << QStringLiteral("k");
        QTest::newRow("space") << Key::space.rawValue() << true << QStringLiteral(" ");
        QTest::newRow("F1 private use") << Key::f1.rawValue() << true << QStringLiteral("\uF704");
        QTest::newRow("F20 private use") << Key::f20.rawValue() << true << QStringLiteral("\uF717");
        QTest::newRow("return") << Key::returnKey.rawValue() << true << QStringLiteral("↩");
        QTest::newRow("tab") << Key::tab.rawValue() << true << QStringLiteral("⇥");
        QTest::newRow("page down") << Key::pageDown.rawValue() << true << QStringLiteral("⇟");
        QTest::newRow("end") << Key::end.rawValue() << true << QStringLiteral("↘");
        QTest::newRow("up") << Key::upArrow.rawValue() << true << QStringLiteral("↑");
        QTest::newRow("help") << Key::help.rawValue() << true << QStringLiteral("?\u20DD");
        QTest::newRow("keypad decimal has none") << Key::keypadDecimal.rawValue() << false << QString();
        QTest::newRow("keypad has none") << Key::keypad5.rawValue() << false << QString();
        QTest::newRow("unnamed code") << qint64(200) << false << QString();
    }
    void menuKeyEquivalent()
    {
        QFETCH(qint64, keyCode);
        QFETCH(bool, present);
        QFETCH(QString, text);
        const auto equivalent = Shortcut(keyCode, 0x300).nsMenuItemKeyEquivalent();
        QCOMPARE(equivalent.has_value(), present);
        if (present)
            QCOMPARE(*equivalent, text);
    }

    void keySequence_data()
    {
        QTest::addColumn<qint64>("keyCode");
        QTest::addColumn<qint64>("modifiers");
        QTest::addColumn<QKeySequence>("sequence");
        QTest::addColumn<bool>("present");
        const auto row
            = [](const char *name, Key key, ModifierFlags flags, QKeySequence sequence, bool present) {
                  QTest::newRow(name) << key.rawValue() << flags.carbon() << sequence << present;
              };
        row("command shift K", Key::k, cmd | shift, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_K), true);
        row("control option space", Key::space, ctrl | opt, QKeySequence(Qt::META | Qt::ALT | Qt::Key_Space),
            true);
        row("F5", Key::f5, {}, QKeySequence(Qt::Key_F5), true);
        row("help", Key::help, {}, QKeySequence(Qt::Key_Help), true);
        row("delete is backspace", Key::deleteKey, cmd, QKeySequence(Qt::CTRL | Qt::Key_Backspace), true);
        row("digit", Key::seven, ctrl, QKeySequence(Qt::META | Qt::Key_7), true);
        row("keypad has none", Key::keypad5, cmd, QKeySequence(), false);
        row("function modifier has none", Key::f1, fn, QKeySequence(), false);
        row("unnamed key has none", Key(200), cmd, QKeySequence(), false);
    }
    void keySequence()
    {
        QFETCH(qint64, keyCode);
        QFETCH(qint64, modifiers);
        QFETCH(QKeySequence, sequence);
        QFETCH(bool, present);
        const auto result = Shortcut(keyCode, modifiers).toKeySequence();
        QCOMPARE(result.has_value(), present);
        if (present)
            QCOMPARE(*result, sequence);
    }

    void menuMatching()
    {
        QMenu menu;
        QAction *separator = menu.addSeparator();
        Q_UNUSED(separator);
        QAction *plainK = menu.addAction(QStringLiteral("Plain K"));
        plainK->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_K));
        QAction *extraFlag = menu.addAction(QStringLiteral("Option L"));
        extraFlag->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_L));
        QMenu *sub = menu.addMenu(QStringLiteral("Sub"));
        QMenu *subsub = sub->addMenu(QStringLiteral("Deeper"));
        QAction *shiftedJ = subsub->addAction(QStringLiteral("Shift J"));
        shiftedJ->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_J));
        QAction *f5 = sub->addAction(QStringLiteral("Refresh"));
        f5->setShortcut(QKeySequence(Qt::Key_F5));
        QAction *keypad = sub->addAction(QStringLiteral("Keypad 5"));
        keypad->setShortcut(
            QKeySequence(QKeyCombination(Qt::ControlModifier | Qt::KeypadModifier, Qt::Key_5)));
        QAction *chord = sub->addAction(QStringLiteral("Chord"));
        chord->setShortcut(
            QKeySequence(QKeyCombination(Qt::CTRL, Qt::Key_M), QKeyCombination(Qt::CTRL, Qt::Key_M)));

        // Qt spells letter keys upper-case but means the unshifted key: Ctrl+K is Command+K only.
        QCOMPARE(Shortcut(Key::k, cmd).menuItemWithMatchingShortcut(&menu), plainK);
        QCOMPARE(Shortcut(Key::k, cmd | shift).menuItemWithMatchingShortcut(&menu), nullptr);
        QCOMPARE(Shortcut(Key::j, cmd | shift).menuItemWithMatchingShortcut(&menu), shiftedJ);
        QCOMPARE(Shortcut(Key::j, cmd).menuItemWithMatchingShortcut(&menu), nullptr);
        // Exact modifiers: neither a missing nor an extra flag matches.
        QCOMPARE(Shortcut(Key::l, cmd).menuItemWithMatchingShortcut(&menu), nullptr);
        QCOMPARE(Shortcut(Key::l, cmd | opt).menuItemWithMatchingShortcut(&menu), extraFlag);
        QCOMPARE(Shortcut(Key::l, cmd | opt | shift).menuItemWithMatchingShortcut(&menu), nullptr);
        QCOMPARE(Shortcut(Key::f5).menuItemWithMatchingShortcut(&menu), f5);
        // Keypad keys have no key equivalent and never match.
        QCOMPARE(Shortcut(Key::keypad5, cmd).menuItemWithMatchingShortcut(&menu), nullptr);
        QCOMPARE(Shortcut(Key::five, cmd).menuItemWithMatchingShortcut(&menu), nullptr);
        QCOMPARE(Shortcut(Key::m, cmd).menuItemWithMatchingShortcut(&menu), nullptr);
        QCOMPARE(Shortcut(Key::k, cmd).menuItemWithMatchingShortcut(nullptr), nullptr);
        QMenu empty;
        QCOMPARE(Shortcut(Key::k, cmd).menuItemWithMatchingShortcut(&empty), nullptr);
    }

    void menuMatchingSeesEveryShortcutOfAnAction()
    {
        // Standard keys often give an action two shortcuts; the second one takes the key as well.
        QMenu menu;
        QAction *find = menu.addAction(QStringLiteral("Find next"));
        find->setShortcuts({QKeySequence(Qt::Key_F3), QKeySequence(Qt::CTRL | Qt::Key_G)});
        QCOMPARE(Shortcut(Key::g, cmd).menuItemWithMatchingShortcut(&menu), find);
        QCOMPARE(Shortcut(Key::f3).menuItemWithMatchingShortcut(&menu), find);
        QCOMPARE(Shortcut(Key::g, cmd | shift).menuItemWithMatchingShortcut(&menu), nullptr);
    }

    void menuMatchingFollowsTheLayout()
    {
        // On a layout whose key 40 types "л", a Ctrl+Л action is that key.
        m_layout.setCharacters(quint16(Key::k.rawValue()), QStringLiteral("л"));
        QMenu menu;
        QAction *item = menu.addAction(QStringLiteral("Cyrillic"));
        item->setShortcut(QKeySequence(QKeyCombination(Qt::CTRL, Qt::Key(0x41B))));
        QCOMPARE(Shortcut(Key::k, cmd).menuItemWithMatchingShortcut(&menu), item);
        QCOMPARE(Shortcut(Key::k, cmd).toKeySequence(), std::optional(item->shortcut()));
    }

    void firstMatchWinsDepthFirst()
    {
        QMenu menu;
        QMenu *sub = menu.addMenu(QStringLiteral("Sub"));
        QAction *inSub = sub->addAction(QStringLiteral("In submenu"));
        inSub->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_K));
        QAction *later = menu.addAction(QStringLiteral("Later"));
        later->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_K));
        QCOMPARE(Shortcut(Key::k, cmd).menuItemWithMatchingShortcut(&menu), inSub);
    }

    void mainMenuIsForgottenWithTheMenu()
    {
        QCOMPARE(mainMenu(), nullptr);
        auto *menu = new QMenu;
        setMainMenu(menu);
        QCOMPARE(mainMenu(), menu);
        delete menu;
        QCOMPARE(mainMenu(), nullptr);
    }

    void specialKeyTable()
    {
        int special = 0;
        for (qint64 code = -1; code <= 200; ++code) {
            const auto specialKey = specialKeyFor(Key(code));
            if (!specialKey)
                continue;
            ++special;
            QCOMPARE(keyOf(*specialKey), Key(code));
        }
        QCOMPARE(special, specialKeyCount);
        for (Key ordinary : {Key::a, Key::one, Key::comma, Key::command, Key::function, Key::mute})
            QVERIFY(!specialKeyFor(ordinary));
    }
};

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    TestShortcutText test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_shortcuttext.moc"
