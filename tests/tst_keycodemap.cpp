#include "platform/x11/KeyCodeMap.h"

#include <QSet>
#include <QTest>

using namespace Platform::X11;

class TestKeyCodeMap : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void everyMappedCodeRoundTrips()
    {
        QSet<quint8> seen;
        int mapped = 0;
        for (qint64 mac = 0; mac <= 127; ++mac) {
            const auto x = xKeycodeForMacKeyCode(mac);
            if (!x)
                continue;
            ++mapped;
            QVERIFY2(!seen.contains(*x), qPrintable(QStringLiteral("X keycode %1 used twice").arg(*x)));
            seen.insert(*x);
            QCOMPARE(macKeyCodeForXKeycode(*x), std::optional<qint64>(mac));
        }
        QCOMPARE(mapped, 119);
    }

    void physicalPositions_data()
    {
        QTest::addColumn<qint64>("mac");
        QTest::addColumn<int>("x");
        // X keycodes of a pc105 keyboard under the evdev rules.
        QTest::newRow("a") << qint64(0) << 38;
        QTest::newRow("c") << qint64(8) << 54;
        QTest::newRow("v") << qint64(9) << 55;
        QTest::newRow("e") << qint64(14) << 26;
        QTest::newRow("k") << qint64(40) << 45;
        QTest::newRow("space") << qint64(49) << 65;
        QTest::newRow("return") << qint64(36) << 36;
        QTest::newRow("f1") << qint64(122) << 67;
        QTest::newRow("f12") << qint64(111) << 96;
        QTest::newRow("escape") << qint64(53) << 9;
        QTest::newRow("up") << qint64(126) << 111;
        QTest::newRow("command is Control_L") << qint64(55) << 37;
        QTest::newRow("control is Super_L") << qint64(59) << 133;
    }
    void physicalPositions()
    {
        QFETCH(qint64, mac);
        QFETCH(int, x);
        QCOMPARE(xKeycodeForMacKeyCode(mac), std::optional<quint8>(quint8(x)));
    }

    void unknownCodesHaveNoKey()
    {
        QVERIFY(!xKeycodeForMacKeyCode(63)); // Fn has no X key
        QVERIFY(!xKeycodeForMacKeyCode(-1));
        QVERIFY(!xKeycodeForMacKeyCode(1000));
        QVERIFY(!macKeyCodeForXKeycode(0));
        QVERIFY(!macKeyCodeForXKeycode(255));
    }
};

QTEST_GUILESS_MAIN(TestKeyCodeMap)
#include "tst_keycodemap.moc"
