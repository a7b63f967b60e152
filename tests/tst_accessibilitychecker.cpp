#include "app/AccessibilityChecker.h"
#include "platform/fake/FakeAccessibilityTrust.h"

#include <QSignalSpy>
#include <QTest>

class TestAccessibilityChecker : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void startsFromTheSystemsAnswer_data()
    {
        QTest::addColumn<bool>("trusted");
        QTest::newRow("trusted") << true;
        QTest::newRow("not trusted") << false;
    }
    void startsFromTheSystemsAnswer()
    {
        QFETCH(bool, trusted);
        Platform::FakeAccessibilityTrust trust(trusted);
        AccessibilityChecker checker(trust);
        QCOMPARE(checker.isTrusted(), trusted);
        QCOMPARE(checker.property("isTrusted").toBool(), trusted);
        // Creation only asks; it never prompts.
        QCOMPARE(trust.requests(), 0);
    }

    void keepsItsValueUntilSetAndAnnouncesEachChange()
    {
        Platform::FakeAccessibilityTrust trust(false);
        AccessibilityChecker checker(trust);
        QSignalSpy changes(&checker, &AccessibilityChecker::isTrustedChanged);

        // Granting in the system alone changes nothing here: the settings window refreshes it.
        trust.setTrusted(true);
        QCOMPARE(checker.isTrusted(), false);

        checker.setIsTrusted(trust.isProcessTrusted());
        QCOMPARE(checker.isTrusted(), true);
        QCOMPARE(changes.size(), 1);
        QCOMPARE(changes.at(0).at(0).toBool(), true);

        checker.setIsTrusted(true);
        QCOMPARE(changes.size(), 1);

        QVERIFY(checker.setProperty("isTrusted", false));
        QCOMPARE(checker.isTrusted(), false);
        QCOMPARE(changes.size(), 2);
    }

    void openSystemSettingsGoesThroughTheSystemAndLeavesTrustAlone()
    {
        Platform::FakeAccessibilityTrust trust(false);
        AccessibilityChecker checker(trust);
        QSignalSpy changes(&checker, &AccessibilityChecker::isTrustedChanged);
        trust.setTrusted(true);
        checker.openSystemSettings();
        QCOMPARE(trust.settingsOpened(), 1);
        QCOMPARE(trust.requests(), 0);
        QCOMPARE(checker.isTrusted(), false);
        QCOMPARE(changes.size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestAccessibilityChecker)
#include "tst_accessibilitychecker.moc"
