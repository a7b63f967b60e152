// The X11 services in a session without an X server (here Qt's offscreen platform, as on a pure
// Wayland session): nothing is trusted, no keystroke goes anywhere, the clipboard still works
// within the process.
// moc cannot parse the C++20 library headers behind the clock and the coroutine types.
#ifndef Q_MOC_RUN
#include "platform/fake/ManualClock.h"
#include "platform/x11/X11KeystrokePoster.h"
#endif
#include "platform/x11/X11AccessibilityTrust.h"
#include "platform/x11/X11Pasteboard.h"

#include <QTest>

class TestX11Offscreen : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void notTrustedAndNothingPosted()
    {
        QVERIFY(QGuiApplication::platformName() != QLatin1String("xcb"));
        Platform::X11::X11AccessibilityTrust trust;
        QVERIFY(!trust.isProcessTrusted());
        QVERIFY(!trust.requestTrust());

        Platform::ManualClock clock;
        Platform::X11::X11KeystrokePoster poster(clock);
        QVERIFY(!poster.isAvailable());
        auto post = poster.postKeystroke(8, Platform::AppKitModifier::command);
        QVERIFY(post.isReady());
        QCOMPARE(clock.pendingTimers(), 0);
    }

    void clipboardWorksWithoutAnXConnection()
    {
        Platform::X11::X11Pasteboard pasteboard;
        const qint64 before = pasteboard.changeCount();
        pasteboard.setString(QStringLiteral("inside"));
        QVERIFY(pasteboard.changeCount() != before);
        QCOMPARE(pasteboard.string(), QStringLiteral("inside"));
        // Nobody can be seen fetching, so nobody is waited for.
        QVERIFY(pasteboard.contentsFetchedSinceLastWrite());
        QVERIFY(pasteboard.writeItems({{{QStringLiteral("text/html"), "<b>x</b>"}}}));
        QCOMPARE(pasteboard.itemTypes(), QList<QStringList> {{QStringLiteral("text/html")}});
        QCOMPARE(pasteboard.string(), std::nullopt);
        QVERIFY(pasteboard.writeItems({}));
        QVERIFY(pasteboard.itemTypes().isEmpty());
    }
};

QTEST_MAIN(TestX11Offscreen)
#include "tst_x11offscreen.moc"
