// Draws the settings window and the tray menu with the real widgets on fake platform services and
// saves them as PNG files, for the README. Run it on a real X server (scripts/screenshots.sh).
#include "app/AccessibilityChecker.h"
#include "app/Autostart.h"
#include "app/MenuContent.h"
#include "app/SettingsView.h"
#include "app/TextProcessor.h"
#include "hotkeys/Hotkeys.h"
#include "platform/fake/FakeAccessibilityTrust.h"
#include "platform/fake/FakeKeystrokePoster.h"
#include "platform/fake/FakePasteboard.h"
#include "platform/fake/ManualClock.h"
#include "testlib/HotkeysFixture.h"

#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QNetworkAccessManager>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

namespace {

bool save(QWidget &widget, const QString &path)
{
    const bool ok = widget.grab().save(path);
    QTextStream(ok ? stdout : stderr) << (ok ? "wrote " : "could not write ") << path << '\n';
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QString outputDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs");
    QDir().mkpath(outputDir);

    Tests::HotkeysFixture hotkeys;
    Platform::FakeAccessibilityTrust trust(true);
    Platform::FakePasteboard pasteboard;
    Platform::FakeKeystrokePoster keys;
    Platform::ManualClock clock;
    QNetworkAccessManager network;
    TextProcessor processor(APIClient(QUrl(QStringLiteral("http://127.0.0.1:8080")), &network), pasteboard,
        keys, trust, hotkeys.defaults, clock);
    AccessibilityChecker ax(trust);
    const Hotkeys::Name fixName(QStringLiteral("fixSelectedText"), Hotkeys::Shortcut(14, 0x100 | 0x200));
    const Hotkeys::Name formalName(
        QStringLiteral("formalizeSelectedText"), Hotkeys::Shortcut(14, 0x100 | 0x800));

    processor.setLastError(TextProcessorError {
        QStringLiteral("Could not connect to the server. Check that the correction backend is running.")});
    const QTemporaryDir config;
    const Autostart autostart(
        config.filePath(QStringLiteral("autostart")), QStringLiteral("/usr/bin/tarnwick"));
    SettingsView view(
        ax, processor, hotkeys.defaults, trust, clock, fixName, formalName, nullptr, &autostart);
    view.show();
    if (!QTest::qWaitForWindowExposed(&view))
        return 1;
    QTest::qWait(200);
    bool ok = save(view, outputDir + QStringLiteral("/settings-window.png"));
    view.hide();

    // The tray menu, as it opens between runs.
    MenuContent content(ax, processor, clock);
    QMenu *menu = content.menu();
    menu->popup(QPoint(40, 40));
    if (!QTest::qWaitForWindowExposed(menu))
        return 1;
    QTest::qWait(200);
    ok = save(*menu, outputDir + QStringLiteral("/tray-menu.png")) && ok;

    return ok ? 0 : 1;
}
