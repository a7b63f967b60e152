#include "hotkeys/Constants.h"
#include "testlib/UseService.h"
#include "hotkeys/Key.h"
#include "hotkeys/Localization.h"
#include "hotkeys/ModifierFlags.h"
#include "hotkeys/Shortcut.h"
#include "hotkeys/SystemHotkeys.h"
#include "platform/KeyEvent.h"
#include "platform/fake/FakeKeyboardLayout.h"
#include "platform/fake/FakeKeyEventTranslator.h"
#include "platform/fake/FakeSystemShortcuts.h"
#include "platform/x11/KeyCodeMap.h"
#include "platform/x11/X11KeyEventTranslator.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLibraryInfo>
#include <QLocale>
#include <QMenu>
#include <QSet>
#include <QTest>
#include <QTranslator>

#include <unordered_set>

using namespace Hotkeys;

Q_DECLARE_METATYPE(Hotkeys::ModifierFlags)
Q_DECLARE_METATYPE(Platform::KeyEventType)

namespace {
const auto cmd = ModifierFlags::command;
const auto shift = ModifierFlags::shift;
const auto opt = ModifierFlags::option;
const auto ctrl = ModifierFlags::control;
const auto fn = ModifierFlags::function;
using Platform::KeyEventType;
constexpr quint32 lockMask = 0x2;
constexpr quint64 shiftBit = ModifierFlags::shiftBit;
constexpr quint64 controlBit = ModifierFlags::controlBit;
constexpr quint64 optionBit = ModifierFlags::optionBit;
constexpr quint64 commandBit = ModifierFlags::commandBit;
constexpr quint64 capsBit = ModifierFlags::capsLockBit;
constexpr quint64 padBit = ModifierFlags::numericPadBit;

// JSON written with single quotes, for readability.
QByteArray json(const char *text)
{
    return QByteArray(text).replace('\'', '"');
}
} // namespace

// Shortcuts: their encodings, the key events they come from, and how they read and match.
class TestShortcut : public QObject {
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
        row("keypad 5", Key::keypad5, cmd, QStringLiteral("⌘5\u20E3"));
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

    void firstMatchWinsDepthFirstAndEveryShortcutOfAnActionCounts()
    {
        // Standard keys often give an action two shortcuts; the second one takes the key as well.
        QMenu menu;
        QAction *inSub = menu.addMenu(QStringLiteral("Sub"))->addAction(QStringLiteral("Find next"));
        inSub->setShortcuts({QKeySequence(Qt::Key_F3), QKeySequence(Qt::CTRL | Qt::Key_K)});
        menu.addAction(QStringLiteral("Later"))->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_K));
        QCOMPARE(Shortcut(Key::k, cmd).menuItemWithMatchingShortcut(&menu), inSub);
        QCOMPARE(Shortcut(Key::f3).menuItemWithMatchingShortcut(&menu), inSub);
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

    void carbonConversion_data()
    {
        QTest::addColumn<ModifierFlags>("flags");
        QTest::addColumn<qint64>("carbon");
        QTest::addColumn<ModifierFlags>("back");
        const auto cmdShift = ModifierFlags::command | ModifierFlags::shift;
        QTest::newRow("none") << ModifierFlags() << qint64(0) << ModifierFlags();
        QTest::newRow("function") << ModifierFlags::function << qint64(0x20000) << ModifierFlags::function;
        QTest::newRow("caps lock, command, shift")
            << (ModifierFlags::capsLock | cmdShift) << qint64(0x300) << cmdShift;
        QTest::newRow("numeric pad and help dropped")
            << (ModifierFlags::numericPad | ModifierFlags::help | ModifierFlags::option) << qint64(0x800)
            << ModifierFlags::option;
        QTest::newRow("device-dependent bits dropped")
            << (ModifierFlags(0x1F) | ModifierFlags::control) << qint64(0x1000) << ModifierFlags::control;
    }
    void carbonConversion()
    {
        QFETCH(ModifierFlags, flags);
        QFETCH(qint64, carbon);
        QFETCH(ModifierFlags, back);
        QCOMPARE(flags.carbon(), carbon);
        QCOMPARE(ModifierFlags::fromCarbon(carbon), back);
    }

    void carbonBitsOutsideTheFiveAreDropped()
    {
        // alphaLock 0x400, rightShift 0x2000, btnState 0x80, and high bits.
        QCOMPARE(ModifierFlags::fromCarbon(0x400 | 0x2000 | 0x80 | (qint64(1) << 40)), ModifierFlags());
        QCOMPARE(ModifierFlags::fromCarbon(-1).carbon(), CarbonModifier::all);
    }

    void unicodeScalars_data()
    {
        QTest::addColumn<qint64>("value");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("text");
        QTest::newRow("A") << qint64(0x41) << true << QStringLiteral("A");
        QTest::newRow("astral") << qint64(0x1F310) << true << QStringLiteral("\U0001F310");
        QTest::newRow("last scalar") << qint64(0x10FFFF) << true << QStringLiteral("\U0010FFFF");
        QTest::newRow("first surrogate") << qint64(0xD800) << false << QString();
        QTest::newRow("above range") << qint64(0x110000) << false << QString();
        QTest::newRow("above 32 bits") << (qint64(1) << 32 | 0x41) << false << QString();
        QTest::newRow("negative") << qint64(-1) << false << QString();
    }
    void unicodeScalars()
    {
        QFETCH(qint64, value);
        QFETCH(bool, valid);
        QFETCH(QString, text);
        const auto character = characterFromUnicodeScalarValue(value);
        QCOMPARE(character.has_value(), valid);
        if (valid)
            QCOMPARE(*character, text);
    }

    void constructionNormalises_data()
    {
        QTest::addColumn<qint64>("keyCode");
        QTest::addColumn<qint64>("modifiers");
        QTest::addColumn<qint64>("stored");
        QTest::newRow("0x500 keeps command") << qint64(0) << qint64(0x500) << qint64(0x100);
        QTest::newRow("all five kept") << qint64(40) << CarbonModifier::all << CarbonModifier::all;
        QTest::newRow("negative modifiers") << qint64(40) << qint64(-1) << CarbonModifier::all;
        QTest::newRow("key code kept as given") << qint64(-5) << qint64(0x200) << qint64(0x200);
    }
    void constructionNormalises()
    {
        QFETCH(qint64, keyCode);
        QFETCH(qint64, modifiers);
        QFETCH(qint64, stored);
        const Shortcut shortcut(keyCode, modifiers);
        QCOMPARE(shortcut.carbonKeyCode(), keyCode);
        QCOMPARE(shortcut.carbonModifiers(), stored);
        QCOMPARE(shortcut.key(), Key(keyCode));
    }

    void equalityAndHashAgree()
    {
        const Shortcut fromKey(
            Key::k, ModifierFlags::command | ModifierFlags::shift | ModifierFlags::capsLock);
        const Shortcut fromCarbon(40, 768);
        QCOMPARE(fromKey, fromCarbon);
        QCOMPARE(qHash(fromKey), qHash(fromCarbon));
        QCOMPARE(qHash(fromKey, 7), qHash(fromCarbon, 7));
        QCOMPARE(std::hash<Shortcut>()(fromKey), std::hash<Shortcut>()(fromCarbon));
        QVERIFY(Shortcut(40, 256) != Shortcut(40, 768));
        QVERIFY(Shortcut(40, 256) != Shortcut(41, 256));

        QSet<Shortcut> set {fromKey, fromCarbon, Shortcut(40, 256)};
        QCOMPARE(set.size(), 2);
        std::unordered_set<Shortcut> stdSet {fromKey, fromCarbon, Shortcut(40, 256)};
        QCOMPARE(stdSet.size(), size_t(2));
        QVERIFY(stdSet.contains(Shortcut(Key::k, ModifierFlags::command)));
    }

    void encoding()
    {
        QCOMPARE(Shortcut(Key::k, ModifierFlags::command | ModifierFlags::shift).toJson(),
            json("{'carbonKeyCode':40,'carbonModifiers':768}"));
        QCOMPARE(Shortcut(Key::e, ModifierFlags::command | ModifierFlags::shift).toJson(),
            json("{'carbonKeyCode':14,'carbonModifiers':768}"));
        const Shortcut big(Q_INT64_C(9007199254740993), 0);
        QCOMPARE(Shortcut::fromJson(big.toJson()), std::optional<Shortcut>(big));
        // Stored bits outside the five are kept as read, so the value differs from a made one.
        QVERIFY(
            *Shortcut::fromJson(json("{'carbonKeyCode':40,'carbonModifiers':1280}")) != Shortcut(40, 1280));
    }

    void decoding_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<qint64>("keyCode");
        QTest::addColumn<qint64>("modifiers");
        QTest::newRow("plain") << json("{'carbonKeyCode':40,'carbonModifiers':768}") << true << qint64(40)
                               << qint64(768);
        QTest::newRow("member order free")
            << json("{'carbonModifiers':256, 'carbonKeyCode':14}") << true << qint64(14) << qint64(256);
        QTest::newRow("foreign bits kept")
            << json("{'carbonKeyCode':40,'carbonModifiers':1280}") << true << qint64(40) << qint64(1280);
        QTest::newRow("extra members ignored")
            << json("{'carbonKeyCode':1,'carbonModifiers':256,'x':[1,2],'carbonKeyCod':'a'}") << true
            << qint64(1) << qint64(256);
        QTest::newRow("integral float")
            << json("{'carbonKeyCode':40.0,'carbonModifiers':256}") << true << qint64(40) << qint64(256);
        QTest::newRow("negative kept")
            << json("{'carbonKeyCode':-3,'carbonModifiers':-1}") << true << qint64(-3) << qint64(-1);
        QTest::newRow("int64 max") << json("{'carbonKeyCode':9223372036854775807,'carbonModifiers':0}")
                                   << true << std::numeric_limits<qint64>::max() << qint64(0);

        const auto bad = [](const char *name, const char *text) {
            QTest::newRow(name) << json(text) << false << qint64(0) << qint64(0);
        };
        bad("missing modifiers", "{'carbonKeyCode':40}");
        bad("missing key code", "{'carbonModifiers':256}");
        bad("key code as string", "{'carbonKeyCode':'40','carbonModifiers':256}");
        bad("modifiers as string", "{'carbonKeyCode':40,'carbonModifiers':'256'}");
        bad("fraction", "{'carbonKeyCode':40.5,'carbonModifiers':256}");
        bad("huge", "{'carbonKeyCode':1e30,'carbonModifiers':256}");
        bad("beyond int64", "{'carbonKeyCode':9223372036854775808,'carbonModifiers':256}");
        bad("boolean", "{'carbonKeyCode':true,'carbonModifiers':256}");
        bad("null", "{'carbonKeyCode':null,'carbonModifiers':256}");
        bad("nested object", "{'carbonKeyCode':{'v':40},'carbonModifiers':256}");
        bad("array", "[40,256]");
        bad("number", "40");
        bad("string", "'{\\'carbonKeyCode\\':40,\\'carbonModifiers\\':256}'");
        bad("not JSON", "carbonKeyCode=40");
        bad("truncated", "{'carbonKeyCode':40,'carbonModif");
        bad("empty", "");
    }
    void decoding()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, ok);
        QFETCH(qint64, keyCode);
        QFETCH(qint64, modifiers);
        QString error;
        const auto shortcut = Shortcut::fromJson(json, &error);
        QCOMPARE(shortcut.has_value(), ok);
        if (ok) {
            QCOMPARE(shortcut->carbonKeyCode(), keyCode);
            QCOMPARE(shortcut->carbonModifiers(), modifiers);
            QVERIFY(error.isEmpty());
        } else {
            QVERIFY(!error.isEmpty());
        }
    }

    void fromEvent_data()
    {
        using Platform::KeyEventType;
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("keyCode");
        QTest::addColumn<quint64>("flags");
        QTest::addColumn<bool>("made");
        QTest::addColumn<qint64>("carbon");
        const quint64 cmdShift = ModifierFlags::commandBit | ModifierFlags::shiftBit;
        QTest::newRow("key down") << int(KeyEventType::keyDown) << 40 << cmdShift << true << qint64(768);
        QTest::newRow("key up") << int(KeyEventType::keyUp) << 40 << cmdShift << true << qint64(768);
        QTest::newRow("flags changed")
            << int(KeyEventType::flagsChanged) << 56 << ModifierFlags::shiftBit << false << qint64(0);
        QTest::newRow("F5 with Fn drops Fn")
            << int(KeyEventType::keyDown) << 96 << (ModifierFlags::functionBit | ModifierFlags::shiftBit)
            << true << qint64(0x200);
        QTest::newRow("caps lock and numeric pad dropped")
            << int(KeyEventType::keyDown) << 87
            << (ModifierFlags::capsLockBit | ModifierFlags::numericPadBit | ModifierFlags::controlBit) << true
            << qint64(0x1000);
    }
    void fromEvent()
    {
        QFETCH(int, type);
        QFETCH(int, keyCode);
        QFETCH(quint64, flags);
        QFETCH(bool, made);
        QFETCH(qint64, carbon);
        Platform::KeyEvent event;
        event.type = Platform::KeyEventType(type);
        event.keyCode = quint16(keyCode);
        event.modifierFlags = flags;
        const auto shortcut = Shortcut::fromEvent(event);
        QCOMPARE(shortcut.has_value(), made);
        if (made) {
            QCOMPARE(shortcut->carbonKeyCode(), keyCode);
            QCOMPARE(shortcut->carbonModifiers(), carbon);
        }
    }

    void systemShortcutsThroughTheSeam()
    {
        QVERIFY(!SystemHotkeys::isSystemShortcut(Shortcut(49, 0x100))); // nothing installed
        Platform::FakeSystemShortcuts system;
        system.add(49, 0x100); // Command+Space
        system.add(49, 0x900, false); // disabled
        system.add(Key::f12.rawValue(), 0); // plain F12
        Tests::useService(&Hotkeys::Services::systemShortcuts, &system);
        QVERIFY(SystemHotkeys::isSystemShortcut(Shortcut(Key::space, ModifierFlags::command)));
        QVERIFY(!SystemHotkeys::isSystemShortcut(Shortcut(49, 0x900)));
        QVERIFY(!SystemHotkeys::isSystemShortcut(Shortcut(49, 0x300)));
        QVERIFY(SystemHotkeys::isSystemShortcut(Shortcut(Key::f12)));
        // A stored value with bits outside the five never equals a system entry.
        QVERIFY(!SystemHotkeys::isSystemShortcut(
            *Shortcut::fromJson(json("{'carbonKeyCode':49,'carbonModifiers':1280}"))));
        const int before = system.queries();
        SystemHotkeys::isSystemShortcut(Shortcut(Key::space, ModifierFlags::command));
        QCOMPARE(system.queries(), before + 1); // asked anew every time
        Tests::useService(&Hotkeys::Services::systemShortcuts, nullptr);
        QVERIFY(!SystemHotkeys::isSystemShortcut(Shortcut(Key::space, ModifierFlags::command)));
    }

    // X11: every key but Fn has its own X key, and the way back leads to it.
    void everyKeyHasAnXKey()
    {
        QSet<quint8> seen;
        for (const NamedKey &named : namedKeys()) {
            const auto x = Platform::X11::xKeycodeForMacKeyCode(named.key.rawValue());
            if (named.key == Key::function) {
                QVERIFY2(!x, "X11 has no Fn key");
                continue;
            }
            QVERIFY2(x && !seen.contains(*x), named.name);
            seen.insert(*x);
            QCOMPARE(Platform::X11::macKeyCodeForXKeycode(*x), std::optional<qint64>(named.key.rawValue()));
        }
        for (const qint64 mac : {qint64(-1), qint64(1000)})
            QVERIFY(!Platform::X11::xKeycodeForMacKeyCode(mac));
        for (const quint32 x : {0u, 255u})
            QVERIFY(!Platform::X11::macKeyCodeForXKeycode(x));
    }

    void translation_data()
    {
        QTest::addColumn<int>("qtType");
        QTest::addColumn<int>("qtKey");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<quint32>("scanCode");
        QTest::addColumn<quint32>("nativeModifiers");
        QTest::addColumn<bool>("autoRepeat");
        QTest::addColumn<bool>("made");
        QTest::addColumn<KeyEventType>("type");
        QTest::addColumn<int>("keyCode");
        QTest::addColumn<quint64>("flags");
        QTest::addColumn<int>("specialKey");

        const int press = QEvent::KeyPress;
        const int release = QEvent::KeyRelease;
        QTest::newRow("ctrl K is command K")
            << press << int(Qt::Key_K) << int(Qt::ControlModifier) << 45u << 0x4u << false << true
            << KeyEventType::keyDown << 40 << commandBit << 0;
        QTest::newRow("super alt shift E released, caps lock on")
            << release << int(Qt::Key_E) << int(Qt::MetaModifier | Qt::AltModifier | Qt::ShiftModifier) << 26u
            << (lockMask | 0x1u | 0x8u | 0x40u) << false << true << KeyEventType::keyUp << 14
            << (controlBit | optionBit | shiftBit | capsBit) << 0;
        QTest::newRow("shift pressed alone") << press << int(Qt::Key_Shift) << 0 << 50u << 0u << false << true
                                             << KeyEventType::flagsChanged << 56 << shiftBit << 0;
        QTest::newRow("shift released alone")
            << release << int(Qt::Key_Shift) << int(Qt::ShiftModifier) << 50u << 0x1u << false << true
            << KeyEventType::flagsChanged << 56 << quint64(0) << 0;
        QTest::newRow("right control is right command")
            << press << int(Qt::Key_Control) << int(Qt::ShiftModifier) << 105u << 0x1u << false << true
            << KeyEventType::flagsChanged << 54 << (shiftBit | commandBit) << 0;
        QTest::newRow("F5 is a function key") << press << int(Qt::Key_F5) << 0 << 71u << 0u << false << true
                                              << KeyEventType::keyDown << 96 << quint64(0) << 0xF708;
        QTest::newRow("keypad 5") << press << int(Qt::Key_5) << int(Qt::KeypadModifier) << 84u << 0x10u
                                  << false << true << KeyEventType::keyDown << 87 << padBit << 0;
        QTest::newRow("backspace is delete") << press << int(Qt::Key_Backspace) << 0 << 22u << 0u << false
                                             << true << KeyEventType::keyDown << 51 << quint64(0) << 0x7F;
        QTest::newRow("delete is forward delete")
            << press << int(Qt::Key_Delete) << 0 << 119u << 0u << false << true << KeyEventType::keyDown
            << 117 << quint64(0) << 0xF728;
        QTest::newRow("repeat") << press << int(Qt::Key_A) << 0 << 38u << 0u << true << true
                                << KeyEventType::keyDown << 0 << quint64(0) << 0;
        QTest::newRow("unknown scan code") << press << int(Qt::Key_A) << 0 << 0u << 0u << false << false
                                           << KeyEventType::keyDown << 0 << quint64(0) << 0;
        QTest::newRow("scan code beyond the map") << press << int(Qt::Key_A) << 0 << 300u << 0u << false
                                                  << false << KeyEventType::keyDown << 0 << quint64(0) << 0;
    }
    void translation()
    {
        QFETCH(int, qtType);
        QFETCH(int, qtKey);
        QFETCH(int, modifiers);
        QFETCH(quint32, scanCode);
        QFETCH(quint32, nativeModifiers);
        QFETCH(bool, autoRepeat);
        QFETCH(bool, made);
        QFETCH(KeyEventType, type);
        QFETCH(int, keyCode);
        QFETCH(quint64, flags);
        QFETCH(int, specialKey);
        const QKeyEvent qtEvent(QEvent::Type(qtType), qtKey, Qt::KeyboardModifiers(modifiers), scanCode, 0,
            nativeModifiers, QString(), autoRepeat);
        const auto event = Platform::X11::X11KeyEventTranslator().keyEvent(qtEvent);
        QCOMPARE(event.has_value(), made);
        if (!made)
            return;
        QCOMPARE(event->type, type);
        QCOMPARE(event->keyCode, keyCode);
        QCOMPARE(event->modifierFlags, flags);
        QCOMPARE(event->isARepeat, autoRepeat);
        QCOMPARE(event->specialKey, specialKey ? std::optional<char32_t>(specialKey) : std::nullopt);
        // What the recorder makes of it: Caps Lock and the numeric pad never reach the shortcut.
        const auto shortcut = Shortcut::fromEvent(*event);
        QCOMPARE(shortcut.has_value(), type != KeyEventType::flagsChanged);
        if (shortcut)
            QCOMPARE(shortcut->modifiers(),
                ModifierFlags(flags) & ~(ModifierFlags::capsLock | ModifierFlags::numericPad));
    }

    void notAKeyEvent()
    {
        const QKeyEvent shortcutOverride(QEvent::ShortcutOverride, Qt::Key_K, Qt::ControlModifier, 45, 0, 0);
        QVERIFY(!Platform::X11::X11KeyEventTranslator().keyEvent(shortcutOverride));
        QVERIFY(!Platform::FakeKeyEventTranslator().keyEvent(shortcutOverride));
    }
};

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    TestShortcut test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_shortcut.moc"
