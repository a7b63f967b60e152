// The feedback panel on a real X server: it must not take the focus from the front window and
// must let clicks through to it, with or without a compositor, which the X11 screens notice as it
// comes and goes; and they report the display and the pointer.
#include "StateSource.h"
#include "app/RequestFeedbackHUD.h"
#include "platform/fake/ManualClock.h"
#include "platform/x11/X11Screens.h"

#include <QApplication>
#include <QCursor>
#include <QMouseEvent>
#include <QProcess>
#include <QScopeGuard>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>

namespace {

class FrontWindow : public QWidget {
public:
    QList<QPoint> presses;

protected:
    void mousePressEvent(QMouseEvent *event) override { presses.append(event->position().toPoint()); }
};

bool xdotool(const QStringList &arguments)
{
    return QProcess::execute(QStringLiteral("xdotool"), arguments) == 0;
}

} // namespace

class TestFeedbackPanelX11 : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X server");
        if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            QSKIP("needs xdotool");
    }

    void panelLeavesFocusAndClicksToTheWindowBeneath_data()
    {
        QTest::addColumn<bool>("composited");
        QTest::newRow("shaped, no compositor") << false;
        QTest::newRow("translucent, with a compositor") << true;
    }
    void panelLeavesFocusAndClicksToTheWindowBeneath()
    {
        QFETCH(bool, composited);
        Platform::X11::X11Screens screens;
        QVERIFY(screens.primaryScreen());
        QCOMPARE(screens.primaryScreen()->geometry, QGuiApplication::primaryScreen()->geometry());
        QVERIFY(screens.primaryScreen()->geometry.contains(screens.primaryScreen()->availableGeometry));
        QCOMPARE(screens.screens().size(), QGuiApplication::screens().size());
        QProcess compositor;
        if (composited) {
            if (QStandardPaths::findExecutable(QStringLiteral("xcompmgr")).isEmpty())
                QSKIP("needs xcompmgr");
            QVERIFY(!screens.supportsTranslucency());
            compositor.start(QStringLiteral("xcompmgr"), {});
            QVERIFY(compositor.waitForStarted());
            QTRY_VERIFY(screens.supportsTranslucency());
        }
        auto stopCompositor = qScopeGuard([&] {
            compositor.terminate();
            compositor.waitForFinished();
        });

        FrontWindow front;
        front.setWindowTitle(QStringLiteral("front"));
        front.setGeometry(100, 100, 400, 300);
        front.show();
        // The window manager may refuse an application's own request when it thinks the user is
        // busy elsewhere; a pager's request it always grants.
        front.activateWindow();
        if (!QTest::qWaitForWindowActive(&front, 1000))
            xdotool({QStringLiteral("windowactivate"), QString::number(front.winId())});
        QVERIFY(QTest::qWaitForWindowActive(&front));
        const QPoint frontOrigin = front.mapToGlobal(QPoint(0, 0));

        Platform::ManualClock clock;
        StateSource processor;
        RequestFeedbackHUD hud(clock, screens);
        hud.bind(&processor);

        const QPoint pointer = frontOrigin + QPoint(100, 100);
        QVERIFY(xdotool(
            {QStringLiteral("mousemove"), QString::number(pointer.x()), QString::number(pointer.y())}));
        QTRY_COMPARE(QCursor::pos(), pointer);
        QTRY_COMPARE(screens.pointerPosition(), pointer);
        processor.setState(TextProcessorState::copying());
        RequestFeedbackView *panel = hud.panel();
        QVERIFY(QTest::qWaitForWindowExposed(panel));
        QCOMPARE(panel->pos(), pointer + QPoint(14, 6));
        QCOMPARE(panel->isShaped(), !composited);

        // Click on the spinner's arc at six o'clock: the front window gets the click and keeps
        // the focus.
        const QPoint onArc(10, 18);
        QVERIFY(!panel->isShaped() || panel->mask().contains(onArc));
        const QPoint target = panel->mapToGlobal(onArc);
        QVERIFY(
            xdotool({QStringLiteral("mousemove"), QString::number(target.x()), QString::number(target.y())}));
        QTRY_COMPARE(QCursor::pos(), target);
        QVERIFY(xdotool({QStringLiteral("click"), QStringLiteral("1")}));
        QTRY_COMPARE(front.presses.size(), 1);
        QCOMPARE(front.presses.first(), target - frontOrigin);
        QVERIFY(panel->isVisible());
        QCOMPARE(QApplication::activeWindow(), &front);
        if (composited) {
            compositor.terminate();
            QVERIFY(compositor.waitForFinished());
            QTRY_VERIFY(!screens.supportsTranslucency());
        }
    }
};

QTEST_MAIN(TestFeedbackPanelX11)
#include "tst_feedbackpanel_x11.moc"
