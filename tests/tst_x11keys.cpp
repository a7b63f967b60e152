#include "hotkeys/Key.h"
#include "hotkeys/ModifierFlags.h"
#include "hotkeys/Shortcut.h"
#include "platform/fake/FakeKeyEventTranslator.h"
#include "platform/x11/KeyCodeMap.h"
#include "platform/x11/X11KeyEventTranslator.h"

#include <QKeyEvent>
#include <QSet>
#include <QTest>

using namespace Hotkeys;
using Platform::KeyEvent;
using Platform::KeyEventType;

Q_DECLARE_METATYPE(Platform::KeyEventType)

namespace {
constexpr quint32 lockMask = 0x2;
constexpr quint64 shiftBit = ModifierFlags::shiftBit;
constexpr quint64 controlBit = ModifierFlags::controlBit;
constexpr quint64 optionBit = ModifierFlags::optionBit;
constexpr quint64 commandBit = ModifierFlags::commandBit;
constexpr quint64 capsBit = ModifierFlags::capsLockBit;
constexpr quint64 padBit = ModifierFlags::numericPadBit;
} // namespace

class TestX11Keys : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Every key but Fn has its own X key, and the way back leads to it.
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

    // X keycodes of a pc105 keyboard under the evdev rules, by physical position.
    void physicalPositions_data()
    {
        QTest::addColumn<qint64>("mac");
        QTest::addColumn<int>("x");
        const std::pair<Key, int> keys[] = {{Key::a, 38}, {Key::c, 54}, {Key::v, 55}, {Key::e, 26}, {Key::k, 45},
            {Key::space, 65}, {Key::returnKey, 36}, {Key::f1, 67}, {Key::f12, 96}, {Key::escape, 9},
            {Key::upArrow, 111}, {Key::command, 37}, {Key::control, 133}, {Key::help, 118}};
        for (const auto &[key, x] : keys)
            QTest::addRow("%lld", key.rawValue()) << key.rawValue() << x;
    }
    void physicalPositions()
    {
        QFETCH(qint64, mac);
        QFETCH(int, x);
        QCOMPARE(Platform::X11::xKeycodeForMacKeyCode(mac), std::optional<quint8>(quint8(x)));
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
        QTest::newRow("F13") << press << int(Qt::Key_F13) << 0 << 191u << 0u << false << true
                             << KeyEventType::keyDown << 105 << quint64(0) << 0xF710;
        QTest::newRow("keypad 5") << press << int(Qt::Key_5) << int(Qt::KeypadModifier) << 84u << 0x10u
                                  << false << true << KeyEventType::keyDown << 87 << padBit << 0;
        QTest::newRow("tab") << press << int(Qt::Key_Tab) << 0 << 23u << 0u << false << true
                             << KeyEventType::keyDown << 48 << quint64(0) << 0x9;
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

    // The fake reads Qt key codes, for tests that send events without native scan codes.
    void fakeTranslator()
    {
        const Platform::FakeKeyEventTranslator translator;
        const auto commandK = translator.keyEvent(
            QKeyEvent(QEvent::KeyPress, Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier));
        QVERIFY(commandK);
        QCOMPARE(Shortcut::fromEvent(*commandK),
            std::optional(Shortcut(Key::k, ModifierFlags::command | ModifierFlags::shift)));
        const auto keypad = translator.keyEvent(QKeyEvent(QEvent::KeyPress, Qt::Key_5, Qt::KeypadModifier));
        QVERIFY(keypad);
        QCOMPARE(keypad->keyCode, Key::keypad5.rawValue());
        const auto digit = translator.keyEvent(QKeyEvent(QEvent::KeyPress, Qt::Key_5, Qt::NoModifier));
        QCOMPARE(digit->keyCode, Key::five.rawValue());
        const auto f12 = translator.keyEvent(QKeyEvent(QEvent::KeyRelease, Qt::Key_F12, Qt::NoModifier));
        QCOMPARE(f12->type, KeyEventType::keyUp);
        QCOMPARE(f12->keyCode, Key::f12.rawValue());
        QCOMPARE(f12->specialKey, std::optional<char32_t>(0xF70F));
        const auto meta = translator.keyEvent(QKeyEvent(QEvent::KeyPress, Qt::Key_Meta, Qt::NoModifier));
        QCOMPARE(meta->type, KeyEventType::flagsChanged);
        QCOMPARE(meta->modifierFlags, controlBit);
        QVERIFY(!translator.keyEvent(QKeyEvent(QEvent::KeyPress, Qt::Key_F30, Qt::NoModifier)));
    }
};

QTEST_GUILESS_MAIN(TestX11Keys)
#include "tst_x11keys.moc"
