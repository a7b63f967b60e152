#include "hotkeys/Constants.h"
#include "testlib/UseService.h"
#include "hotkeys/Key.h"
#include "hotkeys/Localization.h"
#include "hotkeys/ModifierFlags.h"
#include "hotkeys/Shortcut.h"
#include "hotkeys/SystemHotkeys.h"
#include "platform/KeyEvent.h"
#include "platform/fake/FakeKeyboardLayout.h"
#include "platform/fake/FakeSystemShortcuts.h"
#include "platform/x11/KeyCodeMap.h"
#include "platform/x11/X11KeyEventTranslator.h"

#include <QAction>
#include <QKeyEvent>
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
using Platform::KeyEventType;
constexpr quint32 lockMask = 0x2;
constexpr quint64 shiftBit = ModifierFlags::shiftBit;
constexpr quint64 controlBit = ModifierFlags::controlBit;
constexpr quint64 optionBit = ModifierFlags::optionBit;
constexpr quint64 commandBit = ModifierFlags::commandBit;
constexpr quint64 capsBit = ModifierFlags::capsLockBit;
constexpr quint64 padBit = ModifierFlags::numericPadBit;

// A key event as Qt delivers it on X11, and what it translates to (no type: nothing).
struct Translation {
    const char *name;
    QEvent::Type qtType;
    int qtKey;
    Qt::KeyboardModifiers modifiers;
    quint32 scanCode, nativeModifiers;
    bool autoRepeat;
    std::optional<KeyEventType> type;
    int keyCode = 0;
    quint64 flags = 0;
    char32_t specialKey = 0;
};
const auto press = QEvent::KeyPress, release = QEvent::KeyRelease;
const auto keyDown = KeyEventType::keyDown, flagsChanged = KeyEventType::flagsChanged;
const Translation translations[] = {
    {"ctrl K is command K", press, Qt::Key_K, Qt::ControlModifier, 45, 0x4, false, keyDown, 40, commandBit},
    {"super alt shift E released, caps lock on", release, Qt::Key_E,
        Qt::MetaModifier | Qt::AltModifier | Qt::ShiftModifier, 26, lockMask | 0x1 | 0x8 | 0x40, false,
        KeyEventType::keyUp, 14, controlBit | optionBit | shiftBit | capsBit},
    {"shift pressed alone", press, Qt::Key_Shift, {}, 50, 0, false, flagsChanged, 56, shiftBit},
    {"shift released alone", release, Qt::Key_Shift, Qt::ShiftModifier, 50, 0x1, false, flagsChanged, 56, 0},
    {"right control is right command", press, Qt::Key_Control, Qt::ShiftModifier, 105, 0x1, false,
        flagsChanged, 54, shiftBit | commandBit},
    {"F5 is a function key", press, Qt::Key_F5, {}, 71, 0, false, keyDown, 96, 0, 0xF708},
    {"keypad 5", press, Qt::Key_5, Qt::KeypadModifier, 84, 0x10, false, keyDown, 87, padBit},
    {"backspace is delete", press, Qt::Key_Backspace, {}, 22, 0, false, keyDown, 51, 0, 0x7F},
    {"delete is forward delete", press, Qt::Key_Delete, {}, 119, 0, false, keyDown, 117, 0, 0xF728},
    {"repeat", press, Qt::Key_A, {}, 38, 0, true, keyDown, 0},
    {"unknown scan code", press, Qt::Key_A, {}, 0, 0, false, std::nullopt},
    {"scan code beyond the map", press, Qt::Key_A, {}, 300, 0, false, std::nullopt},
    {"shortcut override", QEvent::ShortcutOverride, Qt::Key_K, Qt::ControlModifier, 45, 0x4, false,
        std::nullopt},
};

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

    // A shortcut as a person reads it (the glyphs of the menus, the desktop's native text in Qt's
    // words and order) and as the key sequence of a Qt action (none: empty).
    void texts_data()
    {
        QTest::addColumn<qint64>("keyCode");
        QTest::addColumn<qint64>("modifiers");
        QTest::addColumn<QString>("glyphs");
        QTest::addColumn<QString>("native");
        QTest::addColumn<QKeySequence>("sequence");
        const auto row = [](const char *name, Key key, ModifierFlags flags, const char *glyphs,
                             const char *native, QKeySequence sequence = {}) {
            QTest::newRow(name) << key.rawValue() << flags.carbon() << QString::fromUtf8(glyphs)
                                << QString::fromUtf8(native) << sequence;
        };
        row("formal default", Key::e, cmd | opt, "⌥⌘E", "Ctrl+Alt+E",
            QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_E));
        row("Control is Super", Key::k, ctrl, "⌃K", "Super+K", QKeySequence(Qt::META | Qt::Key_K));
        // The function modifier has no key sequence.
        row("all five with F1", Key::f1, cmd | shift | opt | ctrl | fn, "⌃⌥⇧⌘\U0001F310\uFE0EF1",
            "Super+Ctrl+Alt+Shift+Fn+F1");
        row("digits stay unshifted", Key::one, shift | cmd, "⇧⌘1", "Ctrl+Shift+1",
            QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_1));
        row("punctuation", Key::slash, ctrl, "⌃/", "Super+/", QKeySequence(Qt::META | Qt::Key_Slash));
        row("F5 alone", Key::f5, {}, "F5", "F5", QKeySequence(Qt::Key_F5));
        row("help", Key::help, {}, "?\u20DD", "Help", QKeySequence(Qt::Key_Help));
        row("keypad 5", Key::keypad5, cmd, "⌘5\u20E3", "Ctrl+Num+5");
        row("arrow", Key::leftArrow, ctrl | opt, "⌃⌥←", "Super+Alt+Left",
            QKeySequence(Qt::META | Qt::ALT | Qt::Key_Left));
        row("space", Key::space, ctrl | opt, "⌃⌥Space", "Super+Alt+Space",
            QKeySequence(Qt::META | Qt::ALT | Qt::Key_Space));
        row("return", Key::returnKey, cmd, "⌘↩", "Ctrl+Return", QKeySequence(Qt::CTRL | Qt::Key_Return));
        row("delete is backspace", Key::deleteKey, cmd, "⌘⌫", "Ctrl+Backspace",
            QKeySequence(Qt::CTRL | Qt::Key_Backspace));
        row("code without constant", Key(10), cmd, "⌘§", "Ctrl+§", QKeySequence(Qt::CTRL | Qt::Key_section));
        row("code beyond the layout", Key(200), cmd, "⌘\uFFFD", "Ctrl+\uFFFD");
        row("negative code", Key(-1), cmd, "⌘\uFFFD", "Ctrl+\uFFFD");
        row("code beyond 16 bits", Key(65536 + 40), cmd, "⌘\uFFFD", "Ctrl+\uFFFD");
    }
    void texts()
    {
        QFETCH(qint64, keyCode);
        QFETCH(qint64, modifiers);
        QFETCH(QKeySequence, sequence);
        const Shortcut shortcut(keyCode, modifiers);
        QTEST(shortcut.presentableDescription(), "glyphs");
        QTEST(shortcut.description(), "glyphs");
        QTEST(shortcut.nativeText(), "native");
        QCOMPARE(shortcut.toKeySequence(), sequence.isEmpty() ? std::nullopt : std::optional(sequence));
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

    // What the layout's key types names it; a layout that answers no single character leaves it
    // unnamed. A key that types one character matches a menu item's shortcut of that character.
    void layoutCharacters_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("glyphs");
        QTest::addColumn<QString>("native");
        QTest::addColumn<QKeySequence>("sequence");
        const auto row = [](const char *name, const char *typed, const char *glyphs, const char *native,
                             QKeySequence sequence = {}) {
            QTest::newRow(name) << QString::fromUtf8(typed) << QString::fromUtf8(glyphs)
                                << QString::fromUtf8(native) << sequence;
        };
        row("nothing", "", "⌘\uFFFD", "Ctrl+\uFFFD");
        row("two characters", "ab", "⌘\uFFFD", "Ctrl+\uFFFD");
        row("one cluster of two scalars", "e\u0301", "⌘E\u0301", "Ctrl+E\u0301");
        row("non-Latin letter", "л", "⌘Л", "Ctrl+Л", QKeySequence(QKeyCombination(Qt::CTRL, Qt::Key(0x41B))));
        row("sharp s keeps one letter", "ß", "⌘ß", "Ctrl+ß", QKeySequence(Qt::CTRL | Qt::Key_ssharp));
    }
    void layoutCharacters()
    {
        QFETCH(QString, typed);
        QFETCH(QKeySequence, sequence);
        m_layout.setCharacters(quint16(Key::k.rawValue()), typed);
        const Shortcut shortcut(Key::k, cmd);
        QTEST(shortcut.presentableDescription(), "glyphs");
        QTEST(shortcut.nativeText(), "native");
        QCOMPARE(shortcut.toKeySequence(), sequence.isEmpty() ? std::nullopt : std::optional(sequence));
        QMenu menu;
        QAction *item = menu.addAction(QStringLiteral("Item"));
        item->setShortcut(sequence);
        QCOMPARE(shortcut.menuItemWithMatchingShortcut(&menu), sequence.isEmpty() ? nullptr : item);
    }

    void noLayoutMeansNoCharacter()
    {
        Tests::useService(&Hotkeys::Services::keyboardLayout, nullptr);
        QCOMPARE(Shortcut(Key::k, cmd).presentableDescription(), QStringLiteral("⌘\uFFFD"));
        QCOMPARE(Shortcut(Key::k, cmd).nsMenuItemKeyEquivalent(), std::nullopt);
        QCOMPARE(Shortcut(Key::f3, cmd).presentableDescription(), QStringLiteral("⌘F3"));
    }

    void spaceIsLocalised()
    {
        const std::pair<QLocale, const char *> locales[]
            = {{QLocale(QLocale::German), "⌃⌥Leertaste"}, {QLocale(QLocale::French), "⌃⌥Espace"},
                {QLocale(QLocale::Japanese), "⌃⌥Space"}}; // no table: English
        for (const auto &[locale, text] : locales) {
            QLocale::setDefault(locale);
            QCOMPARE(Shortcut(Key::space, ctrl | opt).presentableDescription(), QString::fromUtf8(text));
        }
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
        // Standard keys often give an action two shortcuts; the second one takes the key as well.
        QAction *f5 = sub->addAction(QStringLiteral("Refresh"));
        f5->setShortcuts({QKeySequence(Qt::Key_F3), QKeySequence(Qt::Key_F5)});
        QAction *keypad = sub->addAction(QStringLiteral("Keypad 5"));
        keypad->setShortcut(
            QKeySequence(QKeyCombination(Qt::ControlModifier | Qt::KeypadModifier, Qt::Key_5)));
        QAction *chord = sub->addAction(QStringLiteral("Chord"));
        chord->setShortcut(
            QKeySequence(QKeyCombination(Qt::CTRL, Qt::Key_M), QKeyCombination(Qt::CTRL, Qt::Key_M)));
        menu.addAction(QStringLiteral("Later"))->setShortcut(QKeySequence(Qt::Key_F5));

        // Qt spells letter keys upper-case but means the unshifted key: Ctrl+K is Command+K only.
        QCOMPARE(Shortcut(Key::k, cmd).menuItemWithMatchingShortcut(&menu), plainK);
        QCOMPARE(Shortcut(Key::k, cmd | shift).menuItemWithMatchingShortcut(&menu), nullptr);
        QCOMPARE(Shortcut(Key::j, cmd | shift).menuItemWithMatchingShortcut(&menu), shiftedJ);
        QCOMPARE(Shortcut(Key::j, cmd).menuItemWithMatchingShortcut(&menu), nullptr);
        // Exact modifiers: neither a missing nor an extra flag matches.
        QCOMPARE(Shortcut(Key::l, cmd).menuItemWithMatchingShortcut(&menu), nullptr);
        QCOMPARE(Shortcut(Key::l, cmd | opt).menuItemWithMatchingShortcut(&menu), extraFlag);
        QCOMPARE(Shortcut(Key::l, cmd | opt | shift).menuItemWithMatchingShortcut(&menu), nullptr);
        // The first match wins, depth-first.
        QCOMPARE(Shortcut(Key::f5).menuItemWithMatchingShortcut(&menu), f5);
        QCOMPARE(Shortcut(Key::f3).menuItemWithMatchingShortcut(&menu), f5);
        // Keypad keys have no key equivalent and never match.
        QCOMPARE(Shortcut(Key::keypad5, cmd).menuItemWithMatchingShortcut(&menu), nullptr);
        QCOMPARE(Shortcut(Key::five, cmd).menuItemWithMatchingShortcut(&menu), nullptr);
        QCOMPARE(Shortcut(Key::m, cmd).menuItemWithMatchingShortcut(&menu), nullptr);
        QCOMPARE(Shortcut(Key::k, cmd).menuItemWithMatchingShortcut(nullptr), nullptr);
        // An empty menu matches nothing; the main menu is forgotten with the menu.
        auto *empty = new QMenu;
        QCOMPARE(Shortcut(Key::k, cmd).menuItemWithMatchingShortcut(empty), nullptr);
        setMainMenu(empty);
        QCOMPARE(mainMenu(), empty);
        delete empty;
        QCOMPARE(mainMenu(), nullptr);
    }

    // Modifier flags to Carbon's bits and back: only the five modifiers count, whatever else is set.
    void carbonModifiers()
    {
        const std::tuple<ModifierFlags, qint64, ModifierFlags> flagsAndBits[]
            = {{ModifierFlags(), 0, ModifierFlags()}, {fn, 0x20000, fn},
                {ModifierFlags::capsLock | cmd | shift, 0x300, cmd | shift},
                {ModifierFlags::numericPad | ModifierFlags::help | opt, 0x800, opt},
                {ModifierFlags(0x1F) | ctrl, 0x1000, ctrl}}; // 0x1F: device-dependent bits
        for (const auto &[flags, carbon, back] : flagsAndBits) {
            QCOMPARE(flags.carbon(), carbon);
            QCOMPARE(ModifierFlags::fromCarbon(carbon), back);
        }
        // A shortcut keeps its key code as given, and of the modifiers only the five: 0x400 is
        // alphaLock, 0x2000 rightShift, 0x80 btnState.
        const std::pair<qint64, qint64> givenAndKept[]
            = {{0x500, 0x100}, {CarbonModifier::all, CarbonModifier::all}, {-1, CarbonModifier::all},
                {0x400 | 0x2000 | 0x80 | (qint64(1) << 40), 0}};
        for (const auto &[given, kept] : givenAndKept) {
            const Shortcut shortcut(-5, given);
            QCOMPARE(shortcut.carbonKeyCode(), qint64(-5));
            QCOMPARE(shortcut.carbonModifiers(), kept);
            QCOMPARE(shortcut.key(), Key(-5));
        }
    }

    void unicodeScalars()
    {
        const std::pair<qint64, const char *> scalars[]
            = {{0x41, "A"}, {0x1F310, "\U0001F310"}, {0x10FFFF, "\U0010FFFF"}, {0xD800, nullptr},
                {0x110000, nullptr}, {(qint64(1) << 32) | 0x41, nullptr}, {-1, nullptr}};
        for (const auto &[value, text] : scalars)
            QCOMPARE(characterFromUnicodeScalarValue(value),
                text ? std::optional(QString::fromUtf8(text)) : std::nullopt);
    }

    void equalityHashAndEncoding()
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

        QCOMPARE(Shortcut(Key::k, cmd | shift).toJson(), json("{'carbonKeyCode':40,'carbonModifiers':768}"));
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
        QTest::addColumn<int>("row");
        for (int i = 0; i < int(std::size(translations)); ++i)
            QTest::newRow(translations[i].name) << i;
    }
    void translation()
    {
        QFETCH(int, row);
        const Translation &t = translations[row];
        const QKeyEvent qtEvent(
            t.qtType, t.qtKey, t.modifiers, t.scanCode, 0, t.nativeModifiers, QString(), t.autoRepeat);
        const auto event = Platform::X11::X11KeyEventTranslator().keyEvent(qtEvent);
        QCOMPARE(event.has_value(), t.type.has_value());
        if (!event)
            return;
        QCOMPARE(event->type, *t.type);
        QCOMPARE(event->keyCode, t.keyCode);
        QCOMPARE(event->modifierFlags, t.flags);
        QCOMPARE(event->isARepeat, t.autoRepeat);
        QCOMPARE(event->specialKey, t.specialKey ? std::optional(t.specialKey) : std::nullopt);
        // What the recorder makes of it: Caps Lock and the numeric pad never reach the shortcut.
        const auto shortcut = Shortcut::fromEvent(*event);
        QCOMPARE(shortcut.has_value(), t.type != KeyEventType::flagsChanged);
        if (shortcut)
            QCOMPARE(shortcut->modifiers(),
                ModifierFlags(t.flags) & ~(ModifierFlags::capsLock | ModifierFlags::numericPad));
    }
};

QTEST_MAIN(TestShortcut)
#include "tst_shortcut.moc"
