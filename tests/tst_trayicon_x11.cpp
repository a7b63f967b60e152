// The tray icon on a real X server with a real tray host: it appears, opens its menu on a click,
// and Command-Q (Ctrl+Q) typed into the open menu quits.
#include "StateSource.h"
#include "app/AccessibilityChecker.h"
#include "app/MenuBarExtra.h"
#include "platform/fake/FakeAccessibilityTrust.h"
#include "platform/fake/ManualClock.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

namespace {

bool xdotool(const QStringList &arguments)
{
    return QProcess::execute(QStringLiteral("xdotool"), arguments) == 0;
}

} // namespace

class TestTrayIconX11 : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X server");
        for (const char *tool : {"xdotool", "trayer"})
            if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
                QSKIP("needs xdotool and trayer");
        QApplication::setQuitOnLastWindowClosed(false);
    }

    void iconInTheTrayOpensTheMenuAndCtrlQQuits()
    {
        QProcess tray;
        tray.start(QStringLiteral("trayer"),
            {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("request"),
                QStringLiteral("--height"), QStringLiteral("24")});
        QVERIFY(tray.waitForStarted());
        auto stopTray = qScopeGuard([&] {
            tray.terminate();
            tray.waitForFinished();
        });
        QTRY_VERIFY_WITH_TIMEOUT(QSystemTrayIcon::isSystemTrayAvailable(), 10000);

        Platform::ManualClock clock;
        Platform::FakeAccessibilityTrust trust(true);
        AccessibilityChecker ax(trust);
        StateSource processor;
        MenuBarExtra extra(ax, processor, clock);
        extra.show();
        QTRY_VERIFY_WITH_TIMEOUT(extra.trayIcon().geometry().isValid(), 10000);
        QTRY_VERIFY(!extra.trayIcon().geometry().isEmpty());

        // The tray host may still move the icon into place after embedding it: click again
        // until the menu opens.
        QMenu *menu = extra.content().menu();
        for (int attempt = 0; attempt < 10 && !menu->isVisible(); ++attempt) {
            const QPoint icon = extra.trayIcon().geometry().center();
            QVERIFY(
                xdotool({QStringLiteral("mousemove"), QString::number(icon.x()), QString::number(icon.y())}));
            QTRY_COMPARE(QCursor::pos(), icon);
            QVERIFY(xdotool({QStringLiteral("click"), QStringLiteral("1")}));
            if (QTest::qWaitFor([menu] { return menu->isVisible(); }, 1000))
                break;
        }
        QVERIFY(menu->isVisible());

        bool timedOut = false;
        QTimer::singleShot(0, this, [] { xdotool({QStringLiteral("key"), QStringLiteral("ctrl+q")}); });
        QTimer::singleShot(10000, this, [&] {
            timedOut = true;
            QCoreApplication::exit(1);
        });
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(!timedOut);
    }
};

QTEST_MAIN(TestTrayIconX11)
#include "tst_trayicon_x11.moc"
