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

Q_DECLARE_METATYPE(OptionalContent)
Q_DECLARE_METATYPE(Screens)

namespace {

// A 1280×800 display with a 30-pixel panel along its top.
const ScreenGeometry Laptop {{0, 0, 1280, 800}, {0, 30, 1280, 770}};
// A 1920×1080 display to the right of it with a 40-pixel panel along its bottom.
const ScreenGeometry Monitor {{1280, 0, 1920, 1080}, {1280, 0, 1920, 1040}};
// A display to the left of and above the primary one, with a dock on its left.
const ScreenGeometry LeftAbove {{-1024, -768, 1024, 768}, {-960, -768, 960, 768}};

const QSize Spinner = RequestFeedbackView::fittingSize(Content::Loading);

// The offscreen platform says, at every raise and shape, that it cannot do them.
QtMessageHandler previousHandler = nullptr;
void quietOffscreen(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (!message.startsWith(QLatin1String("This plugin does not support")))
        previousHandler(type, context, message);
}

// One step of a run: a state published (or none), then time let pass, then what is shown.
struct Step {
    std::optional<TextProcessorState> state;
    int advanceMs = 0;
    std::optional<RequestFeedbackContent> shown;
};

struct Rig {
    Platform::ManualClock clock;
    Platform::FakeScreens screens;
    StateSource processor;
    RequestFeedbackHUD hud {clock, screens};

    Rig()
    {
        screens.setScreens({Laptop, Monitor});
        screens.setPointer({600, 400});
        hud.bind(&processor);
    }
    bool shown() const { return hud.panel() && hud.panel()->isVisible(); }
    std::optional<Content> content() const
    {
        return shown() ? std::optional<Content>(hud.panel()->content()) : std::nullopt;
    }
};

} // namespace

Q_DECLARE_METATYPE(Step)

class TestRequestFeedbackHUD : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { previousHandler = qInstallMessageHandler(quietOffscreen); }

    void reactionTable_data()
    {
        QTest::addColumn<State>("previous");
        QTest::addColumn<State>("state");
        QTest::addColumn<OptionalContent>("shown");
        QTest::addColumn<State>("previousAfter");

        const State error = State::error(QStringLiteral("Boom"));
        const QList<std::pair<const char *, State>> busy {{"copying", State::copying()},
            {"requesting", State::requesting()}, {"pasting", State::pasting()}};
        const QList<std::pair<const char *, State>> all
            = busy + QList<std::pair<const char *, State>> {{"idle", State::idle()}, {"error", error}};
        for (const auto &[previousName, previous] : all) {
            for (const auto &[name, state] : busy)
                QTest::addRow("%s -> %s", previousName, name)
                    << previous << state << OptionalContent(Content::Loading) << state;
            QTest::addRow("%s -> error", previousName)
                << previous << error << OptionalContent(Content::Failure) << error;
        }
        for (const auto &[name, state] : busy)
            QTest::addRow("%s -> idle: success", name)
                << state << State::idle() << OptionalContent(Content::Success) << State::idle();
        QTest::newRow("idle -> idle: hidden")
            << State::idle() << State::idle() << OptionalContent() << State::idle();
        QTest::newRow("error -> idle: hidden")
            << error << State::idle() << OptionalContent() << State::idle();
    }
    void reactionTable()
    {
        QFETCH(State, previous);
        QFETCH(State, state);
        QFETCH(OptionalContent, shown);
        QFETCH(State, previousAfter);
        const RequestFeedbackHUD::Reaction r = RequestFeedbackHUD::reaction(previous, state);
        QCOMPARE(r.show, shown);
        QCOMPARE(r.previousState, previousAfter);
    }

    void placement_data()
    {
        QTest::addColumn<Screens>("screens");
        QTest::addColumn<int>("primary");
        QTest::addColumn<QPoint>("pointer");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QPoint>("origin");

        const Screens two {Laptop, Monitor};
        QTest::newRow("free: 14 right, top 6 below")
            << two << 0 << QPoint(600, 400) << Spinner << QPoint(614, 406);
        QTest::newRow("near the right edge: stops at the margin")
            << two << 0 << QPoint(1270, 400) << Spinner << QPoint(1280 - 22 - 12, 406);
        QTest::newRow("right of the margin but left of the edge")
            << Screens {Laptop} << 0 << QPoint(1240, 400) << Spinner << QPoint(1246, 406);
        QTest::newRow("near the bottom: stays above it, may cover the pointer")
            << two << 0 << QPoint(600, 795) << Spinner << QPoint(614, 800 - 22 - 12);
        QTest::newRow("under the top panel: kept below it")
            << two << 0 << QPoint(600, 5) << Spinner << QPoint(614, 30 + 12);
        QTest::newRow("at the left edge") << two << 0 << QPoint(0, 400) << Spinner << QPoint(14, 406);
        QTest::newRow("bottom-right corner")
            << two << 0 << QPoint(1279, 799) << Spinner << QPoint(1280 - 22 - 12, 800 - 22 - 12);
        QTest::newRow("second screen: clamped to its own area")
            << two << 0 << QPoint(3190, 1075) << Spinner << QPoint(3200 - 22 - 12, 1040 - 22 - 12);
        QTest::newRow("second screen, left edge")
            << two << 0 << QPoint(1280, 500) << Spinner << QPoint(1294, 506);
        QTest::newRow("screen at negative coordinates, beside its dock") << Screens {
            Laptop, LeftAbove} << 0 << QPoint(-1020, -766) << Spinner << QPoint(-960 + 12, -768 + 12);
        // Pixel coordinates: a screen holds x < left + width; the point beyond is on no screen.
        QTest::newRow("just off the bottom edge: the primary screen")
            << Screens {Monitor, Laptop} << 1 << QPoint(1000, 800) << Spinner << QPoint(1014, 800 - 22 - 12);
        QTest::newRow("off every screen: the primary, not the first")
            << Screens {Monitor, Laptop} << 1 << QPoint(-50, -50) << Spinner << QPoint(12, 42);
        QTest::newRow("no screen at all") << Screens {} << 0 << QPoint(700, 300) << Spinner << QPoint(12, 12);
        QTest::newRow("no primary and off screen")
            << Screens {Laptop} << 5 << QPoint(-5, 300) << Spinner << QPoint(12, 12);
        QTest::newRow("panel wider and taller than the area: top-left margin")
            << Screens {{{0, 0, 30, 30}, {0, 0, 30, 30}}} << 0 << QPoint(20, 20) << Spinner << QPoint(12, 12);
    }
    void placement()
    {
        QFETCH(Screens, screens);
        QFETCH(int, primary);
        QFETCH(QPoint, pointer);
        QFETCH(QSize, size);
        QFETCH(QPoint, origin);
        const std::optional<ScreenGeometry> primaryScreen
            = primary >= 0 && primary < screens.size() ? std::optional(screens.at(primary)) : std::nullopt;
        QCOMPARE(RequestFeedbackHUD::panelOrigin(size, pointer, screens, primaryScreen), origin);
    }

    void bindingHandlesTheCurrentStateAtOnce()
    {
        Platform::ManualClock clock;
        Platform::FakeScreens screens;
        screens.setScreens({Laptop});
        StateSource processor;
        processor.setState(State::requesting());
        RequestFeedbackHUD hud(clock, screens);
        hud.bind(&processor);
        QVERIFY(hud.panel() && hud.panel()->isVisible());
        QCOMPARE(hud.panel()->content(), Content::Loading);

        // Bound to an idle source, nothing is created.
        StateSource idle;
        RequestFeedbackHUD quiet(clock, screens);
        quiet.bind(&idle);
        QVERIFY(!quiet.panel());
        QVERIFY(!quiet.isFollowingCursor());
    }

    // Runs as the panel sees them: each step publishes a state (or lets time pass) and says what
    // is shown afterwards. The spinner stays through a slow backend; the check mark is shown for
    // 900 ms, the cross for 2 s, each from its own state; a new run replaces a result at once.
    void runs_data()
    {
        QTest::addColumn<QList<Step>>("steps");
        const State error = State::error(QStringLiteral("Request timed out"));
        const OptionalContent none, loading(Content::Loading), success(Content::Success),
            failure(Content::Failure);
        QTest::newRow("success") << QList<Step> {{State::copying(), 0, loading}, {{}, 300, loading},
            {State::requesting(), 5000, loading}, {State::pasting(), 250, loading},
            {State::idle(), 899, success}, {{}, 1, none}};
        QTest::newRow("failure, and the later idle changes nothing")
            << QList<Step> {{State::copying(), 0, loading}, {State::requesting(), 0, loading},
                   {error, 1999, failure}, {{}, 1, none}, {{}, 1000, none}, {State::idle(), 0, none}};
        QTest::newRow("idle to error: the cross alone")
            << QList<Step> {{error, 1999, failure}, {{}, 1, none}};
        QTest::newRow("a second error restarts the dismiss") << QList<Step> {
            {error, 1500, failure}, {State::error(QStringLiteral("two")), 1999, failure}, {{}, 1, none}};
        for (const bool afterFailure : {false, true})
            QTest::addRow("a new run during the %s", afterFailure ? "cross" : "check mark")
                << QList<Step> {{State::copying(), 0, loading},
                       {afterFailure ? error : State::idle(), 500, afterFailure ? failure : success},
                       {State::copying(), 3000, loading}, {State::idle(), 899, success}, {{}, 1, none}};
        QTest::newRow("idle after idle") << QList<Step> {{State::idle(), 0, none}, {State::idle(), 0, none}};
    }
    void runs()
    {
        QFETCH(QList<Step>, steps);
        Rig rig;
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
            if (i == 0 && step.shown == Content::Failure)
                QVERIFY(!rig.hud.panel()->isAnimating());
            rig.clock.advance(std::chrono::milliseconds(step.advanceMs));
            QVERIFY2(rig.content() == step.shown, qPrintable(QStringLiteral("step %1").arg(i)));
        }
        // Hidden, nothing keeps running: no follow timer, no spinner frames, no dismiss.
        QVERIFY(!rig.shown());
        QCOMPARE(rig.clock.pendingTimers(), 0);
    }

    void panelFollowsThePointerOnlyWhileShown()
    {
        Rig rig;
        rig.processor.setState(State::copying());
        QVERIFY(rig.hud.isFollowingCursor());
        rig.screens.setPointer({100, 200});
        rig.clock.advance(RequestFeedbackHUD::FollowInterval);
        QCOMPARE(rig.hud.panel()->pos(), QPoint(114, 206));
        rig.screens.setPointer({2000, 600}); // onto the second screen
        rig.clock.advance(RequestFeedbackHUD::FollowInterval);
        QCOMPARE(rig.hud.panel()->pos(), QPoint(2014, 606));

        // About 60 moves a second.
        const int readsBefore = rig.screens.pointerReads();
        rig.clock.advance(1000ms);
        QVERIFY2(qAbs(rig.screens.pointerReads() - readsBefore - 60) <= 3,
            qPrintable(QString::number(rig.screens.pointerReads() - readsBefore)));

        rig.processor.setState(State::error(QStringLiteral("x")));
        rig.clock.advance(2000ms);
        QVERIFY(!rig.shown());
        QVERIFY(!rig.hud.isFollowingCursor());
        const int readsHidden = rig.screens.pointerReads();
        rig.screens.setPointer({300, 300});
        rig.clock.advance(5000ms);
        QCOMPARE(rig.screens.pointerReads(), readsHidden);
        QCOMPARE(rig.clock.pendingTimers(), 0);

        // Shown again, it comes up at the pointer's new place and follows again.
        rig.processor.setState(State::copying());
        QCOMPARE(rig.hud.panel()->pos(), QPoint(314, 306));
        QVERIFY(rig.hud.isFollowingCursor());
    }

    void panelIsReusedAndNeverTakesFocusOrInput()
    {
        Rig rig;
        QWidget front;
        front.setWindowTitle(QStringLiteral("front application"));
        front.show();
        front.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&front));

        rig.processor.setState(State::copying());
        RequestFeedbackView *panel = rig.hud.panel();
        const Qt::WindowFlags flags = panel->windowFlags();
        QVERIFY(flags.testFlag(Qt::WindowTransparentForInput));
        QVERIFY(flags.testFlag(Qt::WindowDoesNotAcceptFocus));
        QVERIFY(flags.testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(flags.testFlag(Qt::FramelessWindowHint));
        QCOMPARE(panel->windowType(), Qt::ToolTip);
        QVERIFY(panel->testAttribute(Qt::WA_ShowWithoutActivating));
        QVERIFY(panel->testAttribute(Qt::WA_TranslucentBackground));
        QCOMPARE(QApplication::activeWindow(), &front);

        rig.processor.setState(State::idle());
        rig.clock.advance(900ms);
        rig.processor.setState(State::copying());
        QCOMPARE(rig.hud.panel(), panel);
        QCOMPARE(QApplication::activeWindow(), &front);
    }

    void shapedOnlyWithoutACompositor()
    {
        Rig rig;
        rig.screens.setSupportsTranslucency(false);
        rig.processor.setState(State::copying());
        RequestFeedbackView *panel = rig.hud.panel();
        QVERIFY(panel->isShaped());
        QVERIFY(!panel->mask().isEmpty());
        // The shape keeps the arc and drops the transparent centre and corners.
        QVERIFY(!panel->mask().contains(QPoint(0, 0)));
        QVERIFY(!panel->mask().contains(QPoint(11, 11)));
        QVERIFY(panel->mask().contains(QPoint(11, 19))); // the arc at six o'clock
        // The spinner's shape turns with it.
        const QRegion before = panel->mask();
        rig.clock.advance(200ms);
        QVERIFY(panel->mask() != before);

        rig.processor.setState(State::idle());
        rig.clock.advance(900ms);
        rig.screens.setSupportsTranslucency(true);
        rig.processor.setState(State::copying());
        QVERIFY(!panel->isShaped());
        QVERIFY(panel->mask().isEmpty());
    }

    void spinnerTurnsOnceEvery850msWhileShownAndRestartsWithEachState()
    {
        Rig rig;
        rig.processor.setState(State::copying());
        RequestFeedbackView *panel = rig.hud.panel();
        QVERIFY(panel->isAnimating());
        QCOMPARE(panel->rotation(), 0.0);
        rig.clock.advance(425ms);
        QCOMPARE(panel->rotation(), 180.0);
        rig.clock.advance(425ms);
        QCOMPARE(panel->rotation(), 0.0);
        rig.clock.advance(212ms);
        QVERIFY(panel->rotation() > 89 && panel->rotation() < 91);
        rig.processor.setState(State::requesting());
        QCOMPARE(panel->rotation(), 0.0);
        rig.processor.setState(State::idle());
        QVERIFY(!panel->isAnimating());
    }

    void renderedIcons()
    {
        auto alphaAt = [](const QImage &image, int x, int y) { return qAlpha(image.pixel(x, y)); };
        auto isWhite = [](const QImage &image, int x, int y) {
            const QRgb p = image.pixel(x, y);
            return qAlpha(p) > 200 && qRed(p) > 200 && qGreen(p) > 200 && qBlue(p) > 200;
        };
        // The arc runs clockwise from three o'clock over 72 % of the circle: at rotation 0 the gap
        // is the upper-right eighth; turned by 90° clockwise, the gap is the lower-right one.
        const QImage still = RequestFeedbackView::render(Content::Loading, 0);
        QCOMPARE(still.size(), QSize(22, 22));
        // The pixel whose centre lies on the circle (radius 8 about the centre, 11, 11) at an angle
        // measured clockwise from three o'clock.
        auto onArc = [](qreal degrees) {
            const qreal a = qDegreesToRadians(degrees);
            return QPoint(qRound(11 + 8 * std::cos(a) - 0.5), qRound(11 + 8 * std::sin(a) - 0.5));
        };
        const QPoint upperRight = onArc(315), lowerRight = onArc(45), lowerLeft = onArc(135);
        QVERIFY(isWhite(still, lowerRight.x(), lowerRight.y()));
        QVERIFY(isWhite(still, lowerLeft.x(), lowerLeft.y()));
        QVERIFY(isWhite(still, onArc(250).x(), onArc(250).y()));
        QVERIFY(!isWhite(still, upperRight.x(), upperRight.y()));
        QVERIFY(!isWhite(still, onArc(350).x(), onArc(350).y()));
        const int c = 11;
        QCOMPARE(alphaAt(still, 0, 0), 0);
        QVERIFY(alphaAt(still, c, c) < 40); // the hollow centre, only a trace of shadow
        const QImage turned = RequestFeedbackView::render(Content::Loading, 90);
        QVERIFY(isWhite(turned, upperRight.x(), upperRight.y()));
        QVERIFY(!isWhite(turned, lowerRight.x(), lowerRight.y()));

        for (Content content : {Content::Success, Content::Failure}) {
            const QImage image = RequestFeedbackView::render(content, 0);
            QCOMPARE(image.size(), RequestFeedbackView::fittingSize(content));
            int white = 0, shadow = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x) {
                    const QRgb p = image.pixel(x, y);
                    if (isWhite(image, x, y))
                        ++white;
                    else if (qAlpha(p) > 40 && qRed(p) < 40)
                        ++shadow;
                }
            QVERIFY2(white >= 12, qPrintable(QString::number(white)));
            QVERIFY2(shadow >= 12, qPrintable(QString::number(shadow))); // a dark rim for light backgrounds
            QCOMPARE(alphaAt(image, 0, 0), 0);
        }
        // The check mark's short stroke is at the lower left, the long one rises to the upper right;
        // the cross has its centre set.
        const QImage check = RequestFeedbackView::render(Content::Success, 0);
        QVERIFY(isWhite(check, 3 + 5, 3 + 10) || isWhite(check, 3 + 5, 3 + 9));
        QVERIFY(isWhite(check, 3 + 11, 3 + 2) || isWhite(check, 3 + 11, 3 + 1));
        QVERIFY(!isWhite(check, 3 + 2, 3 + 1));
        const QImage cross = RequestFeedbackView::render(Content::Failure, 0);
        QVERIFY(isWhite(cross, 3 + 5, 3 + 5));
        QVERIFY(!isWhite(cross, 3 + 5, 3 + 1));
        // Sharp on high-density displays.
        QCOMPARE(RequestFeedbackView::render(Content::Failure, 0, 2.0).size(), QSize(34, 34));
        // The shadows fall downward: the cross is symmetric, so its lower half carries more alpha.
        for (qreal ratio : {1.0, 2.0}) {
            const QImage image = RequestFeedbackView::render(Content::Failure, 0, ratio);
            qint64 upper = 0, lower = 0, left = 0, right = 0;
            const int h = image.height(), w = image.width();
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    // Halves without the middle row or column.
                    const int a = alphaAt(image, x, y);
                    if (y < h / 2)
                        upper += a;
                    else if (y >= (h + 1) / 2)
                        lower += a;
                    if (x < w / 2)
                        left += a;
                    else if (x >= (w + 1) / 2)
                        right += a;
                }
            QVERIFY2(lower > upper * 1.03, qPrintable(QStringLiteral("%1 %2").arg(lower).arg(upper)));
            QVERIFY2(
                qAbs(left - right) <= left / 100, qPrintable(QStringLiteral("%1 %2").arg(left).arg(right)));
        }
    }

    void destroyedControllerLeavesNoTimers()
    {
        Platform::ManualClock clock;
        Platform::FakeScreens screens;
        screens.setScreens({Laptop});
        StateSource processor;
        {
            RequestFeedbackHUD hud(clock, screens);
            hud.bind(&processor);
            processor.setState(State::copying());
            processor.setState(State::error(QStringLiteral("x")));
            QVERIFY(clock.pendingTimers() > 0);
        }
        QCOMPARE(clock.pendingTimers(), 0);
        processor.setState(State::copying()); // no longer bound: nothing happens, nothing crashes
        clock.advance(5000ms);
    }
};

QTEST_MAIN(TestRequestFeedbackHUD)
#include "tst_requestfeedbackhud.moc"
