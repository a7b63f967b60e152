// Keystroke trust on a real X server, and the help page that "Open Settings" shows.
#include "platform/x11/X11AccessibilityTrust.h"

#include <QDesktopServices>
#include <QFile>
#include <QTest>
#include <QUrl>

using Platform::X11::X11AccessibilityTrust;

class UrlCatcher : public QObject {
    Q_OBJECT

public:
    QList<QUrl> urls;

public Q_SLOTS:
    void open(const QUrl &url) { urls.append(url); }
};

class TestX11Trust : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void trustedOnAnXServerWithXTest()
    {
        X11AccessibilityTrust trust;
        QVERIFY(trust.isProcessTrusted());
        QVERIFY(trust.requestTrust());
    }

    void openSettingsOpensTheHelpPage()
    {
        const QString path = X11AccessibilityTrust::helpPagePath();
        QVERIFY(path.endsWith(QStringLiteral("/accessibility.md")));
        QFile page(path);
        QVERIFY(page.open(QIODevice::ReadOnly));
        const QByteArray text = page.readAll();
        QVERIFY(text.contains("XTEST"));
        QVERIFY(text.contains("Wayland"));

        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
        X11AccessibilityTrust trust;
        const bool before = trust.isProcessTrusted();
        trust.openSystemSettings();
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QCOMPARE(catcher.urls, QList<QUrl> {QUrl::fromLocalFile(path)});
        QCOMPARE(trust.isProcessTrusted(), before);
    }
};

QTEST_MAIN(TestX11Trust)
#include "tst_x11trust.moc"
