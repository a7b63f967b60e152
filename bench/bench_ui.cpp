// Costs of the feedback panel's periodic work: one pointer-following tick and one spinner frame.
#include "app/RequestFeedbackHUD.h"
#include "app/RequestFeedbackView.h"
#include "platform/fake/ManualClock.h"
#include "platform/x11/X11Screens.h"

#include <QApplication>
#include <QTest>

class BenchUi : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void followTick()
    {
        // What each of the 60 ticks a second does: read the pointer and the screens, place.
        Platform::X11::X11Screens screens;
        const QSize size = RequestFeedbackView::fittingSize(RequestFeedbackContent::Loading);
        QPoint origin;
        QBENCHMARK {
            origin = RequestFeedbackHUD::panelOrigin(
                size, screens.pointerPosition(), screens.screens(), screens.primaryScreen());
        }
        QVERIFY(!origin.isNull());
    }

    void spinnerFrame_data()
    {
        QTest::addColumn<qreal>("ratio");
        QTest::newRow("1x") << 1.0;
        QTest::newRow("2x") << 2.0;
    }
    void spinnerFrame()
    {
        QFETCH(qreal, ratio);
        qreal angle = 0;
        QBENCHMARK {
            const QImage frame = RequestFeedbackView::render(RequestFeedbackContent::Loading, angle, ratio);
            angle += 7;
            QVERIFY(!frame.isNull());
        }
    }

    void shapedSpinnerFrame()
    {
        // Without a compositor each frame also recomputes and sets the window shape.
        Platform::ManualClock clock;
        RequestFeedbackView view(clock);
        view.setShaped(true);
        view.show();
        QBENCHMARK {
            clock.advance(RequestFeedbackView::FrameInterval);
        }
    }
};

QTEST_MAIN(BenchUi)
#include "bench_ui.moc"
