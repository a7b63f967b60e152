#include "platform/qt/NotificationCenter.h"
#include "platform/qt/QtClock.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/MemoryUserDefaults.h"

#include <QCoroTask>
#include <QTest>

using namespace std::chrono_literals;

namespace {

QCoro::Task<> sleepThenRecord(Platform::Clock &clock, std::chrono::milliseconds d, QList<int> &log, int tag)
{
    co_await clock.sleep(d);
    log.append(tag);
}

} // namespace

class TestPlatform : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The clock every other test runs on: timers fire in due order (creation order for equal
    // times) with now() at their due time; a dropped timer never fires, also when it drops itself
    // while firing; a coroutine sleeps in virtual time.
    void manualClockFiresInDueOrder()
    {
        Platform::ManualClock clock;
        QList<std::pair<int, qint64>> fired;
        const auto record = [&](int tag) { return [&, tag] { fired.append({tag, clock.now().count()}); }; };
        auto late = clock.singleShot(30ms, record(3));
        auto early = clock.singleShot(10ms, record(1));
        auto sameTime = clock.singleShot(10ms, record(2));
        auto dropped = clock.singleShot(5ms, record(0));
        dropped.reset();
        Platform::TimerPtr self;
        self = clock.repeating(16ms, [&] {
            fired.append({4, clock.now().count()});
            if (clock.now() >= 32ms)
                self.reset();
        });
        QList<int> slept;
        sleepThenRecord(clock, 250ms, slept, 1);
        sleepThenRecord(clock, 10ms, slept, 2);
        clock.advance(9ms);
        QVERIFY(fired.isEmpty());
        clock.advance(100ms);
        QCOMPARE(fired, (QList<std::pair<int, qint64>> {{1, 10}, {2, 10}, {4, 16}, {3, 30}, {4, 32}}));
        QCOMPARE(clock.now().count(), 109);
        QCOMPARE(slept, QList<int> {2});
        clock.advance(140ms);
        QCOMPARE(slept, QList<int> {2});
        clock.advance(1ms);
        QCOMPARE(slept, (QList<int> {2, 1}));
        QCOMPARE(clock.pendingTimers(), 0);
    }

    void realClockSleepResumesOnEventLoop()
    {
        Platform::QtClock clock;
        QList<int> log;
        const auto start = clock.now();
        sleepThenRecord(clock, 20ms, log, 7);
        QTRY_COMPARE(log, QList<int> {7});
        QVERIFY(clock.now() - start >= 20ms);
    }

    void notificationObserversMayEndObservationsDuringPost()
    {
        Platform::NotificationCenter centre;
        QStringList calls;
        Platform::NotificationCenter::TokenPtr second;
        auto first = centre.addObserver(QStringLiteral("n"), [&](const QVariantMap &info) {
            calls.append(QStringLiteral("first:") + info.value(QStringLiteral("name")).toString());
            second.reset();
        });
        second = centre.addObserver(
            QStringLiteral("n"), [&](const QVariantMap &) { calls.append(QStringLiteral("second")); });
        auto other = centre.addObserver(
            QStringLiteral("other"), [&](const QVariantMap &) { calls.append(QStringLiteral("other")); });
        centre.post(QStringLiteral("n"), {{QStringLiteral("name"), QStringLiteral("x")}});
        QCOMPARE(calls, QStringList {QStringLiteral("first:x")});
        QCOMPARE(centre.observerCount(QStringLiteral("n")), 1);
        first.reset();
        centre.post(QStringLiteral("n"));
        QCOMPARE(calls.size(), 1);
    }

    void boolValueOfHostileSettings_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("expected");
        QTest::newRow("absent") << QVariant() << false;
        QTest::newRow("true") << QVariant(true) << true;
        QTest::newRow("false") << QVariant(false) << false;
        QTest::newRow("one") << QVariant(1) << true;
        QTest::newRow("zero") << QVariant(0.0) << false;
        QTest::newRow("text true") << QVariant(QStringLiteral(" TRUE ")) << true;
        QTest::newRow("text garbage") << QVariant(QStringLiteral("on fire")) << false;
        QTest::newRow("list") << QVariant(QVariantList {true}) << false;
        QTest::newRow("map") << QVariant(QVariantMap {{QStringLiteral("a"), true}}) << false;
    }
    void boolValueOfHostileSettings()
    {
        QFETCH(QVariant, stored);
        Platform::MemoryUserDefaults defaults;
        defaults.setValue(QStringLiteral("k"), stored);
        QTEST(defaults.boolValue(QStringLiteral("k")), "expected");
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
