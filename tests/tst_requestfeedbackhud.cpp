#include "StateSource.h"
#include "app/RequestFeedbackHUD.h"
#include "app/RequestFeedbackView.h"
#include "platform/fake/FakeScreens.h"
#include "platform/fake/ManualClock.h"

#include <QApplication>
#include <QTest>

using namespace std::chrono_literals;
using Content = RequestFeedbackContent;
using Platform::ScreenGeometry;
using State = TextProcessorState;
using Screens = QList<ScreenGeometry>;
using OptionalContent = std::optional<Content>;

namespace {

// A 1280×800 display with a 30-pixel panel along its top.
const ScreenGeometry Laptop {{0, 0, 1280, 800}, {0, 30, 1280, 770}};
// A 1920×1080 display to the right of it with a 40-pixel panel along its bottom.
const ScreenGeometry Monitor {{1280, 0, 1920, 1080}, {1280, 0, 1920, 1040}};
// A display to the left of and above the primary one, with a dock on its left.
const ScreenGeometry LeftAbove {{-1024, -768, 1024, 768}, {-960, -768, 960, 768}};

const QSize Spinner = RequestFeedbackView::fittingSize(Content::Loading); // 22×22

// One step of a run: a state published (or none), then time let pass, then what is shown.
struct Step {
    std::optional<TextProcessorState> state;
    int advanceMs = 0;
    OptionalContent shown;
};

struct Rig {
    Platform::ManualClock clock;
    Platform::FakeScreens screens;
    StateSource processor;
    RequestFeedbackHUD hud {clock, screens};

    explicit Rig(const State &initial = State::idle())
    {
        screens.setScreens({Laptop, Monitor});
        screens.setPointer({600, 400});
        processor.setState(initial);
        hud.bind(&processor);
    }
    bool shown() const { return hud.panel() && hud.panel()->isVisible(); }
    OptionalContent content() const
    {
        return shown() ? OptionalContent(hud.panel()->content()) : std::nullopt;
    }
};

bool isWhite(const QImage &image, QPoint p)
{
    const QRgb c = image.pixel(p);
    return qAlpha(c) > 200 && qRed(c) > 200 && qGreen(c) > 200 && qBlue(c) > 200;
}

} // namespace

Q_DECLARE_METATYPE(Step)
Q_DECLARE_METATYPE(Screens)

class TestRequestFeedbackHUD : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void placement_data()
    {
        QTest::addColumn<Screens>("screens");
        QTest::addColumn<int>("primary");
        QTest::addColumn<QPoint>("pointer");
        QTest::addColumn<QPoint>("origin");
        const Screens two {Laptop, Monitor};
        const int right = 1280 - 22 - 12, bottom = 800 - 22 - 12;
        QTest::newRow("free: 14 right, top 6 below") << two << 0 << QPoint(600, 400) << QPoint(614, 406);
        QTest::newRow("near the right edge: stops at the margin")
            << two << 0 << QPoint(1270, 400) << QPoint(right, 406);
        QTest::newRow("near the bottom: may cover the pointer")
            << two << 0 << QPoint(600, 795) << QPoint(614, bottom);
        QTest::newRow("under the top panel: kept below it") << two << 0 << QPoint(600, 5) << QPoint(614, 42);
        QTest::newRow("second screen: its own area")
            << two << 0 << QPoint(3190, 1075) << QPoint(3200 - 34, 1040 - 34);
        QTest::newRow("second screen, left edge") << two << 0 << QPoint(1280, 500) << QPoint(1294, 506);
        QTest::newRow("negative coordinates, beside a dock")
            << Screens {Laptop, LeftAbove} << 0 << QPoint(-1020, -766) << QPoint(-948, -756);
        // Pixel coordinates: a screen holds x < left + width; the point beyond is on no screen.
        QTest::newRow("just off the bottom edge: the primary screen")
            << Screens {Monitor, Laptop} << 1 << QPoint(1000, 800) << QPoint(1014, bottom);
        QTest::newRow("off every screen: the primary, not the first")
            << Screens {Monitor, Laptop} << 1 << QPoint(-50, -50) << QPoint(12, 42);
        QTest::newRow("no screen at all") << Screens {} << 0 << QPoint(700, 300) << QPoint(12, 12);
        QTest::newRow("no primary, off screen") << Screens {Laptop} << 5 << QPoint(-5, 300) << QPoint(12, 12);
        QTest::newRow("area smaller than the panel: top-left margin")
            << Screens {{{0, 0, 30, 30}, {0, 0, 30, 30}}} << 0 << QPoint(20, 20) << QPoint(12, 12);
    }
    void placement()
    {
        QFETCH(Screens, screens);
        QFETCH(int, primary);
        QFETCH(QPoint, pointer);
        const auto primaryScreen
            = primary < screens.size() ? std::optional(screens.at(primary)) : std::nullopt;
        QTEST(RequestFeedbackHUD::panelOrigin(Spinner, pointer, screens, primaryScreen), "origin");
    }

    // Runs as the panel sees them: each step publishes a state (or lets time pass) and says what
    // is shown afterwards. The spinner stays through a slow backend; the check mark is shown for
    // 900 ms, the cross for 2 s, each from its own state; a new run replaces a result at once.
    void runs_data()
    {
        QTest::addColumn<State>("initial"); // the state when the panel is bound
        QTest::addColumn<QList<Step>>("steps");
        const State error = State::error(QStringLiteral("Request timed out"));
        const OptionalContent none, loading(Content::Loading), success(Content::Success),
            failure(Content::Failure);
        QTest::newRow("success") << State::idle()
                                 << QList<Step> {{State::copying(), 0, loading}, {{}, 300, loading},
                                        {State::requesting(), 5000, loading},
                                        {State::pasting(), 250, loading}, {State::idle(), 899, success},
                                        {{}, 1, none}};
        QTest::newRow("failure, and the later idle changes nothing")
            << State::idle()
            << QList<Step> {{State::copying(), 0, loading}, {State::requesting(), 0, loading},
                   {error, 1999, failure}, {{}, 1, none}, {{}, 1000, none}, {State::idle(), 0, none}};
        QTest::newRow("idle to error: the cross alone")
            << State::idle() << QList<Step> {{error, 1999, failure}, {{}, 1, none}};
        QTest::newRow("a second error restarts the dismiss")
            << State::idle()
            << QList<Step> {{error, 1500, failure}, {State::error(QStringLiteral("two")), 1999, failure},
                   {{}, 1, none}};
        for (const bool afterFailure : {false, true})
            QTest::addRow("a new run during the %s", afterFailure ? "cross" : "check mark")
                << State::idle()
                << QList<Step> {{State::copying(), 0, loading},
                       {afterFailure ? error : State::idle(), 500, afterFailure ? failure : success},
                       {State::copying(), 3000, loading}, {State::idle(), 899, success}, {{}, 1, none}};
        QTest::newRow("idle after idle")
            << State::idle() << QList<Step> {{State::idle(), 0, none}, {State::idle(), 0, none}};
        QTest::newRow("bound during a run: shown at once")
            << State::requesting() << QList<Step> {{{}, 0, loading}, {State::idle(), 900, none}};
    }
    void runs()
    {
        QFETCH(State, initial);
        QFETCH(QList<Step>, steps);
        Rig rig(initial);
        QVERIFY(!rig.hud.panel() == (initial == State::idle())); // no window before the first show
        RequestFeedbackView *panel = rig.hud.panel();
        for (int i = 0; i < steps.size(); ++i) {
            const Step &step = steps.at(i);
            if (step.state)
                rig.processor.setState(*step.state);
            if (i == 0 && step.shown == Content::Loading) {
                QCOMPARE(rig.hud.panel()->pos(), QPoint(614, 406));
                QCOMPARE(rig.hud.panel()->size(), Spinner);
            }
            if (step.state && step.shown == Content::Success)
                QCOMPARE(rig.hud.panel()->size(), RequestFeedbackView::fittingSize(Content::Success));
            if (step.shown == Content::Failure)
                QVERIFY(!rig.hud.panel()->isAnimating());
            if (!panel)
                panel = rig.hud.panel();
            QCOMPARE(rig.hud.panel(), panel); // made once, then reused
            rig.clock.advance(std::chrono::milliseconds(step.advanceMs));
            QVERIFY2(rig.content() == step.shown, qPrintable(QStringLiteral("step %1").arg(i)));
        }
        // Hidden, nothing keeps running: no follow timer, no spinner frames, no dismiss.
        QVERIFY(!rig.shown());
        QVERIFY(!rig.hud.isFollowingCursor());
        QCOMPARE(rig.clock.pendingTimers(), 0);
    }

    void panelFollowsThePointerOnlyWhileShown()
    {
        Rig rig;
        rig.processor.setState(State::copying());
        rig.screens.setPointer({100, 200});
        rig.clock.advance(RequestFeedbackHUD::FollowInterval);
        QCOMPARE(rig.hud.panel()->pos(), QPoint(114, 206));
        rig.screens.setPointer({2000, 600}); // onto the second screen
        rig.clock.advance(RequestFeedbackHUD::FollowInterval);
        QCOMPARE(rig.hud.panel()->pos(), QPoint(2014, 606));

        rig.processor.setState(State::error(QStringLiteral("x")));
        rig.clock.advance(2000ms);
        const int readsHidden = rig.screens.pointerReads();
        rig.screens.setPointer({300, 300});
        rig.clock.advance(5000ms);
        QCOMPARE(rig.screens.pointerReads(), readsHidden);
        // Shown again, it comes up at the pointer's new place and follows again.
        rig.processor.setState(State::copying());
        QCOMPARE(rig.hud.panel()->pos(), QPoint(314, 306));
        QVERIFY(rig.hud.isFollowingCursor());
    }

    void spinnerTurnsEvery850msAndIsShapedOnlyWithoutACompositor()
    {
        Rig rig;
        rig.screens.setSupportsTranslucency(false);
        rig.processor.setState(State::copying());
        RequestFeedbackView *panel = rig.hud.panel();
        QVERIFY(panel->isAnimating());
        QCOMPARE(panel->rotation(), 0.0);
        // The shape keeps the arc and drops the transparent centre and corners.
        QVERIFY(panel->isShaped());
        QVERIFY(!panel->mask().contains(QPoint(0, 0)));
        QVERIFY(!panel->mask().contains(QPoint(11, 11)));
        QVERIFY(panel->mask().contains(QPoint(11, 19))); // the arc at six o'clock
        const QRegion before = panel->mask();
        rig.clock.advance(425ms);
        QCOMPARE(panel->rotation(), 180.0);
        QVERIFY(panel->mask() != before); // the shape turns with the spinner
        rig.clock.advance(425ms);
        QCOMPARE(panel->rotation(), 0.0);
        rig.clock.advance(212ms);
        QVERIFY(panel->rotation() > 89 && panel->rotation() < 91);
        rig.processor.setState(State::requesting()); // each busy state starts it anew
        QCOMPARE(panel->rotation(), 0.0);

        rig.processor.setState(State::idle());
        QVERIFY(!panel->isAnimating());
        rig.clock.advance(900ms);
        rig.screens.setSupportsTranslucency(true);
        rig.processor.setState(State::copying());
        QVERIFY(!panel->isShaped());
        QVERIFY(panel->mask().isEmpty());
    }

    void renderedIcons()
    {
        // The arc runs clockwise from three o'clock over 72 % of the circle: at rotation 0 the gap
        // is the upper-right eighth; turned by 90° clockwise, the gap is the lower-right one. The
        // points lie on the circle of radius 8 about the centre, at angles clockwise from three.
        const auto onArc = [](qreal degrees) {
            const qreal a = qDegreesToRadians(degrees);
            return QPoint(qRound(10.5 + 8 * std::cos(a)), qRound(10.5 + 8 * std::sin(a)));
        };
        const QImage still = RequestFeedbackView::render(Content::Loading, 0);
        QCOMPARE(still.size(), QSize(22, 22));
        for (const qreal degrees : {45, 135, 250})
            QVERIFY(isWhite(still, onArc(degrees)));
        QVERIFY(!isWhite(still, onArc(315)) && !isWhite(still, onArc(350)));
        QCOMPARE(qAlpha(still.pixel(0, 0)), 0);
        QVERIFY(qAlpha(still.pixel(11, 11)) < 40); // the hollow centre, only a trace of shadow
        const QImage turned = RequestFeedbackView::render(Content::Loading, 90);
        QVERIFY(isWhite(turned, onArc(315)) && !isWhite(turned, onArc(45)));

        // White marks with a dark rim for light backgrounds: the check mark's short stroke at the
        // lower left and the long one to the upper right; the cross has its centre set.
        const QImage check = RequestFeedbackView::render(Content::Success, 0);
        QVERIFY(isWhite(check, {8, 13}) || isWhite(check, {8, 12}));
        QVERIFY(isWhite(check, {14, 5}) || isWhite(check, {14, 4}));
        QVERIFY(!isWhite(check, {5, 4}));
        const QImage cross = RequestFeedbackView::render(Content::Failure, 0);
        QVERIFY(isWhite(cross, {8, 8}) && !isWhite(cross, {8, 4}));
        for (const QImage &image : {check, cross}) {
            int shadow = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    shadow += qAlpha(image.pixel(x, y)) > 40 && qRed(image.pixel(x, y)) < 40;
            QVERIFY2(shadow >= 12, qPrintable(QString::number(shadow)));
            QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
        }
        // Sharp on high-density displays; the shadows fall downward there too: the cross is
        // symmetric, so its lower half carries more alpha, its left and right halves the same.
        QCOMPARE(RequestFeedbackView::render(Content::Failure, 0, 2.0).size(), QSize(34, 34));
        for (qreal ratio : {1.0, 2.0}) {
            const QImage image = RequestFeedbackView::render(Content::Failure, 0, ratio);
            qint64 upper = 0, lower = 0, left = 0, right = 0;
            const int h = image.height(), w = image.width();
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    // Halves without the middle row or column.
                    const int a = qAlpha(image.pixel(x, y));
                    upper += y < h / 2 ? a : 0;
                    lower += y >= (h + 1) / 2 ? a : 0;
                    left += x < w / 2 ? a : 0;
                    right += x >= (w + 1) / 2 ? a : 0;
                }
            QVERIFY2(lower > upper * 1.03, qPrintable(QStringLiteral("%1 %2").arg(lower).arg(upper)));
            QVERIFY2(
                qAbs(left - right) <= left / 100, qPrintable(QStringLiteral("%1 %2").arg(left).arg(right)));
        }
    }

    void destroyedControllerLeavesNoTimers()
    {
        auto rig = std::make_unique<Rig>();
        StateSource processor;
        {
            RequestFeedbackHUD hud(rig->clock, rig->screens);
            hud.bind(&processor);
            processor.setState(State::copying());
            processor.setState(State::error(QStringLiteral("x")));
            QVERIFY(rig->clock.pendingTimers() > 0);
        }
        QCOMPARE(rig->clock.pendingTimers(), 0);
        processor.setState(State::copying()); // no longer bound: nothing happens, nothing crashes
        rig->clock.advance(5000ms);
    }
};

QTEST_MAIN(TestRequestFeedbackHUD)
#include "tst_requestfeedbackhud.moc"
