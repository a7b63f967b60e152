#include "hotkeys/Key.h"
#include "testlib/UseService.h"
#include "hotkeys/ModifierFlags.h"
#include "hotkeys/Shortcut.h"
#include "hotkeys/SystemHotkeys.h"
#include "platform/KeyEvent.h"
#include "platform/fake/FakeSystemShortcuts.h"

#include <QSet>
#include <QTest>

#include <unordered_set>

using namespace Hotkeys;

Q_DECLARE_METATYPE(Hotkeys::ModifierFlags)

// JSON written with single quotes, for readability.
static QByteArray json(const char *text)
{
    return QByteArray(text).replace('\'', '"');
}

class TestShortcut : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void carbonConversion_data()
    {
        QTest::addColumn<ModifierFlags>("flags");
        QTest::addColumn<qint64>("carbon");
        QTest::addColumn<ModifierFlags>("back");
        const auto cmdShift = ModifierFlags::command | ModifierFlags::shift;
        QTest::newRow("none") << ModifierFlags() << qint64(0) << ModifierFlags();
        QTest::newRow("command") << ModifierFlags::command << qint64(0x100) << ModifierFlags::command;
        QTest::newRow("shift") << ModifierFlags::shift << qint64(0x200) << ModifierFlags::shift;
        QTest::newRow("option") << ModifierFlags::option << qint64(0x800) << ModifierFlags::option;
        QTest::newRow("control") << ModifierFlags::control << qint64(0x1000) << ModifierFlags::control;
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

    void symbolicRepresentation_data()
    {
        QTest::addColumn<ModifierFlags>("flags");
        QTest::addColumn<QString>("glyphs");
        QTest::newRow("none") << ModifierFlags() << QString();
        QTest::newRow("command shift")
            << (ModifierFlags::shift | ModifierFlags::command) << QStringLiteral("⇧⌘");
        QTest::newRow("all five, given in reverse") << (ModifierFlags::function | ModifierFlags::command
            | ModifierFlags::shift | ModifierFlags::option | ModifierFlags::control)
                                                    << QStringLiteral("⌃⌥⇧⌘\U0001F310\uFE0E");
        QTest::newRow("caps lock has no glyph")
            << (ModifierFlags::capsLock | ModifierFlags::option) << QStringLiteral("⌥");
    }
    void symbolicRepresentation()
    {
        QFETCH(ModifierFlags, flags);
        QFETCH(QString, glyphs);
        QCOMPARE(hk_symbolicRepresentation(flags), glyphs);
    }

    void qtModifiersFollowTheMacMapping()
    {
        QCOMPARE(toEventModifiers(ModifierFlags::command), Qt::KeyboardModifiers(Qt::ControlModifier));
        QCOMPARE(toEventModifiers(ModifierFlags::control), Qt::KeyboardModifiers(Qt::MetaModifier));
        QCOMPARE(toEventModifiers(ModifierFlags::option | ModifierFlags::shift | ModifierFlags::numericPad),
            Qt::AltModifier | Qt::ShiftModifier | Qt::KeypadModifier);
        QCOMPARE(
            toEventModifiers(ModifierFlags::capsLock | ModifierFlags::function), Qt::KeyboardModifiers());
        const Qt::KeyboardModifiers all = Qt::ControlModifier | Qt::MetaModifier | Qt::AltModifier
            | Qt::ShiftModifier | Qt::KeypadModifier;
        QCOMPARE(toEventModifiers(modifierFlagsFromQt(all)), all);
    }

    void unicodeScalars_data()
    {
        QTest::addColumn<qint64>("value");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("text");
        QTest::newRow("A") << qint64(0x41) << true << QStringLiteral("A");
        QTest::newRow("F-key private use") << qint64(0xF704) << true << QStringLiteral("\uF704");
        QTest::newRow("astral") << qint64(0x1F310) << true << QStringLiteral("\U0001F310");
        QTest::newRow("last scalar") << qint64(0x10FFFF) << true << QStringLiteral("\U0010FFFF");
        QTest::newRow("first surrogate") << qint64(0xD800) << false << QString();
        QTest::newRow("last surrogate") << qint64(0xDFFF) << false << QString();
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

    void keyWithoutConstant()
    {
        const Shortcut shortcut(10, 0x100);
        QCOMPARE(shortcut.key().rawValue(), 10);
        QCOMPARE(shortcut.modifiers(), ModifierFlags::command);
    }

    void encoding()
    {
        QCOMPARE(Shortcut(Key::k, ModifierFlags::command | ModifierFlags::shift).toJson(),
            json("{'carbonKeyCode':40,'carbonModifiers':768}"));
        QCOMPARE(Shortcut(Key::e, ModifierFlags::command | ModifierFlags::shift).toJson(),
            json("{'carbonKeyCode':14,'carbonModifiers':768}"));
        const Shortcut big(Q_INT64_C(9007199254740993), 0);
        QCOMPARE(Shortcut::fromJson(big.toJson()), std::optional<Shortcut>(big));
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
        bad("empty object", "{}");
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
        bad("false", "false");
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

    void decodedForeignBitsDifferFromNormalised()
    {
        const auto decoded = Shortcut::fromJson(json("{'carbonKeyCode':40,'carbonModifiers':1280}"));
        QVERIFY(decoded);
        QVERIFY(*decoded != Shortcut(40, 1280));
        QCOMPARE(Shortcut(40, 1280).carbonModifiers(), 256);
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
};

QTEST_GUILESS_MAIN(TestShortcut)
#include "tst_shortcut.moc"
