#include "platform/qt/NotificationCenter.h"
#include "platform/qt/QtClock.h"
#include "platform/fake/FakePasteboard.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/MemoryUserDefaults.h"

#include <QCoroTask>
#include <QTest>

using namespace std::chrono_literals;
using Platform::ManualClock;

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
    void clockFiresInDueOrderWithNowAtDueTime()
    {
        ManualClock clock;
        QList<std::pair<int, qint64>> fired;
        auto late = clock.singleShot(30ms, [&] { fired.append({3, clock.now().count()}); });
        auto early = clock.singleShot(10ms, [&] { fired.append({1, clock.now().count()}); });
        auto sameTime = clock.singleShot(10ms, [&] { fired.append({2, clock.now().count()}); });
        clock.advance(9ms);
        QVERIFY(fired.isEmpty());
        clock.advance(100ms);
        QCOMPARE(fired, (QList<std::pair<int, qint64>> {{1, 10}, {2, 10}, {3, 30}}));
        QCOMPARE(clock.now().count(), 109);
        QCOMPARE(clock.pendingTimers(), 0);
    }

    void droppedTimerNeverFires_andMayDropItselfWhileFiring()
    {
        ManualClock clock;
        int count = 0;
        auto dropped = clock.singleShot(5ms, [&] { ++count; });
        dropped.reset();
        Platform::TimerPtr self;
        self = clock.repeating(10ms, [&] {
            ++count;
            self.reset();
        });
        clock.advance(100ms);
        QCOMPARE(count, 1);
    }

    void repeatingTimerFiresEachInterval()
    {
        ManualClock clock;
        int ticks = 0;
        auto timer = clock.repeating(16ms, [&] { ++ticks; });
        clock.advance(160ms);
        QCOMPARE(ticks, 10);
        timer.reset();
        clock.advance(160ms);
        QCOMPARE(ticks, 10);
    }

    void coroutineSleepsInVirtualTime()
    {
        ManualClock clock;
        QList<int> log;
        sleepThenRecord(clock, 250ms, log, 1);
        sleepThenRecord(clock, 10ms, log, 2);
        QVERIFY(log.isEmpty());
        clock.advance(10ms);
        QCOMPARE(log, QList<int> {2});
        clock.advance(239ms);
        QCOMPARE(log, QList<int> {2});
        clock.advance(1ms);
        QCOMPARE(log, (QList<int> {2, 1}));
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
        QFETCH(bool, expected);
        Platform::MemoryUserDefaults defaults;
        defaults.setValue(QStringLiteral("k"), stored);
        QCOMPARE(defaults.boolValue(QStringLiteral("k")), expected);
    }

    void fakePasteboardKeepsItemsAndCounts()
    {
        Platform::FakePasteboard board;
        const qint64 start = board.changeCount();
        QVERIFY(board.writeItems(
            {{{QStringLiteral("text/html"), "<b>x</b>"}, {QStringLiteral("text/plain"), "x"}},
                {{QStringLiteral("image/png"), QByteArray(3, '\0')}}}));
        QCOMPARE(board.itemTypes(),
            (QList<QStringList> {
                {QStringLiteral("text/html"), QStringLiteral("text/plain")}, {QStringLiteral("image/png")}}));
        QCOMPARE(board.string(), std::optional<QString>(QStringLiteral("x")));
        QCOMPARE(board.data(1, QStringLiteral("image/png")), std::optional<QByteArray>(QByteArray(3, '\0')));
        QVERIFY(!board.data(2, QStringLiteral("image/png")));
        board.clearContents();
        QVERIFY(!board.string());
        QCOMPARE(board.changeCount(), start + 2);
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
