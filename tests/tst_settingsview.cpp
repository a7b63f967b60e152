#include "app/AccessibilityChecker.h"
#include "app/Autostart.h"
#include "app/SettingsView.h"
#include "app/TextProcessor.h"
#include "hotkeys/Hotkeys.h"
#include "hotkeys/Recorder.h"
#include "platform/qt/Notices.h"
#include "platform/fake/FakeAccessibilityTrust.h"
#include "platform/fake/FakeKeystrokePoster.h"
#include "platform/fake/FakePasteboard.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/MemoryUserDefaults.h"
#include "testlib/HotkeysFixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;

namespace {

// Everything a settings window needs, with fakes where the platform would answer.
struct Harness {
    explicit Harness(bool trusted = true)
        : trust(trusted)
        , processor(APIClient(QUrl(QStringLiteral("http://127.0.0.1:9")), &network), pasteboard, keys, trust,
              defaults, clock)
        , ax(trust)
        , view(ax, processor, defaults, trust, clock, fixName, formalName, &notices, &autostart)
    {
    }

    template <typename T = QWidget> T *find(const char *name) const
    {
        return view.findChild<T *>(QLatin1String(name));
    }
    bool shown(const char *name) const
    {
        const QWidget *widget = find(name);
        return widget && widget->isVisibleTo(&view);
    }
    QString text(const char *label) const { return find<QLabel>(label)->text(); }
    void click(const char *button) { QTest::mouseClick(find<QPushButton>(button), Qt::LeftButton); }

    Tests::HotkeysFixture hotkeys;
    Hotkeys::Name fixName {QStringLiteral("settingsFix")};
    Hotkeys::Name formalName {QStringLiteral("settingsFormal")};
    QNetworkAccessManager network;
    Platform::FakeAccessibilityTrust trust;
    Platform::FakePasteboard pasteboard;
    Platform::FakeKeystrokePoster keys;
    Platform::MemoryUserDefaults &defaults = hotkeys.defaults;
    Platform::ManualClock clock;
    TextProcessor processor;
    AccessibilityChecker ax;
    Platform::Notices notices;
    QTemporaryDir config;
    Autostart autostart {
        config.filePath(QStringLiteral("autostart")), QStringLiteral("/opt/my apps/tarnwick")};
    SettingsView view;
};

} // namespace

class TestSettingsView : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The last failure's message as it is (markup too), wrapped inside the window, selectable;
    // "Dismiss" clears it and the section goes.
    void lastErrorSectionFollowsTheProcessorAndDismissClearsIt()
    {
        Harness h;
        h.view.show();
        QVERIFY(!h.shown("lastErrorSection"));
        QString message = QStringLiteral("Server error 500: <b>upstream</b> & more");
        for (int i = 0; i < 60; ++i)
            message += QStringLiteral(" word%1").arg(i);
        h.processor.setLastError(TextProcessorError {message});
        QApplication::processEvents();
        QVERIFY(h.shown("lastErrorSection"));
        auto *label = h.find<QLabel>("lastErrorMessage");
        QCOMPARE(label->text(), message);
        QCOMPARE(label->textFormat(), Qt::PlainText);
        QVERIFY(label->textInteractionFlags() & Qt::TextSelectableByMouse);
        QVERIFY(label->width() < h.view.width());
        QVERIFY(label->height() > 2 * label->fontMetrics().height());
        QVERIFY(label->heightForWidth(label->width()) <= label->height());
        QVERIFY(!h.find<QLabel>("lastErrorIcon")->pixmap().isNull());

        h.click("dismissButton");
        QVERIFY(!h.processor.lastError().has_value());
        QVERIFY(!h.shown("lastErrorSection"));
    }

    void problemsSectionListsTheCurrentNotices()
    {
        Harness h;
        h.view.show();
        QVERIFY(!h.shown("noticesSection"));
        const auto rows = [&h] {
            QStringList texts;
            for (const QLabel *label : h.view.findChildren<QLabel *>()) {
                if (label->objectName().startsWith(QLatin1String("notice")))
                    texts << label->objectName() + u'=' + label->text();
            }
            return texts;
        };
        h.notices.set(
            {QStringLiteral("a"), QStringLiteral("<b>Taken</b>"), QStringLiteral("Record another")});
        h.notices.set({QStringLiteral("b"), QStringLiteral("No keystrokes"), QString()});
        QVERIFY(h.shown("noticesSection"));
        QCOMPARE(rows(),
            (QStringList {QStringLiteral("noticeMessage=<b>Taken</b>"),
                QStringLiteral("noticeRemedy=Record another"),
                QStringLiteral("noticeMessage=No keystrokes")}));
        QCOMPARE(h.find<QLabel>("noticeMessage")->textFormat(), Qt::PlainText);
        h.notices.clear(QStringLiteral("a"));
        QCOMPARE(rows(), (QStringList {QStringLiteral("noticeMessage=No keystrokes")}));
        h.notices.clear(QStringLiteral("b"));
        QVERIFY(!h.shown("noticesSection"));
    }

    // Not granted: orange, with the two buttons; granted: green, without. The checker starts from
    // the system's answer without a prompt and is re-read only while the window is open: at once
    // when it opens, then every 1.5 s, announcing only changes. Opening the system's settings
    // leaves the checker alone, even if the system says yes; a refused request too.
    void permissionRowFollowsTheSystemWhileShown()
    {
        Harness h(false);
        const QSignalSpy changes(&h.ax, &AccessibilityChecker::isTrustedChanged);
        const auto check = [&h](bool trusted) {
            QCOMPARE(h.ax.isTrusted(), trusted);
            QCOMPARE(h.text("permissionText"),
                trusted ? QStringLiteral("Permission granted") : QStringLiteral("Permission not granted"));
            const QColor colour = h.find("permissionText")->palette().color(QPalette::WindowText);
            QVERIFY(trusted ? colour.green() > colour.red()
                            : colour.red() > colour.blue() && colour.green() > colour.blue());
            QCOMPARE(h.shown("requestButton"), !trusted);
            QCOMPARE(h.shown("openSettingsButton"), !trusted);
        };
        h.trust.setTrusted(true);
        h.clock.advance(10s);
        QVERIFY(!h.ax.isTrusted()); // never shown: nothing re-reads
        QVERIFY(!h.view.isPolling());
        h.view.show();
        check(true);
        QVERIFY(h.view.isPolling());
        h.view.close();
        QVERIFY(!h.view.isPolling());
        QCOMPARE(h.clock.pendingTimers(), 0);
        h.trust.setTrusted(false);
        h.clock.advance(10s);
        QVERIFY(h.ax.isTrusted());
        h.view.show(); // reopening starts a new re-check
        check(false);
        QCOMPARE(h.clock.pendingTimers(), 1);
        for (const bool trusted : {true, false}) {
            h.trust.setTrusted(trusted);
            h.clock.advance(1499ms);
            check(!trusted);
            h.clock.advance(1ms);
            check(trusted);
        }
        h.clock.advance(SettingsView::recheckInterval);
        QCOMPARE(changes.size(), 4);

        h.trust.setTrusted(true);
        h.click("openSettingsButton");
        QCOMPARE(h.trust.settingsOpened(), 1);
        check(false);
        h.trust.setTrusted(false);
        QCOMPARE(h.trust.requests(), 0);
        h.click("requestButton");
        QCOMPARE(h.trust.requests(), 1);
        check(false);
        h.trust.setGrantOnRequest(true);
        h.click("requestButton");
        QCOMPARE(h.trust.requests(), 2);
        check(true);
        QCOMPARE(h.trust.settingsOpened(), 1);
    }

    void dashToggleIsBoundToTheSetting()
    {
        Harness h;
        h.view.show();
        auto *toggle = h.find<QCheckBox>("replaceEmDashToggle");
        QVERIFY(!toggle->isChecked()); // absent key: off
        toggle->click();
        QCOMPARE(h.defaults.value(QStringLiteral("replaceEmDash")), QVariant(true));
        toggle->click();
        QCOMPARE(h.defaults.value(QStringLiteral("replaceEmDash")), QVariant(false));
        h.defaults.setValue(QStringLiteral("replaceEmDash"), true);
        QVERIFY(toggle->isChecked());
        h.defaults.remove(QStringLiteral("replaceEmDash"));
        QVERIFY(!toggle->isChecked());
    }

    void autostartFileState_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("enabled");
        const QByteArray entry = "[Desktop Entry]\nType=Application\nExec=tarnwick\n";
        QTest::newRow("hand-written entry") << entry << true;
        QTest::newRow("hidden") << entry + "Hidden=true\n" << false;
        QTest::newRow("disabled for GNOME") << entry + " X-GNOME-Autostart-enabled = false\n" << false;
        QTest::newRow("hidden in another group") << entry + "[Desktop Action x]\nHidden=true\n" << true;
        QTest::newRow("no desktop entry") << QByteArray("Hidden=false\n\0\xff garbage", 22) << false;
        QTest::newRow("empty") << QByteArray() << false;
    }
    void autostartFileState()
    {
        QFETCH(QByteArray, content);
        Harness h;
        QVERIFY(!h.autostart.isEnabled());
        QVERIFY(QDir().mkpath(h.config.filePath(QStringLiteral("autostart"))));
        QFile file(h.autostart.filePath());
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
        file.close();
        QTEST(h.autostart.isEnabled(), "enabled");
        h.view.show();
        QTEST(h.find<QCheckBox>("startAtLoginToggle")->isChecked(), "enabled");
    }

    void startAtLoginSwitchWritesTheFileAndShowsItsState()
    {
        Harness h;
        h.view.show();
        auto *toggle = h.find<QCheckBox>("startAtLoginToggle");
        QVERIFY(!toggle->isChecked());
        toggle->click();
        QVERIFY(QFile::exists(h.autostart.filePath()));
        QVERIFY(toggle->isChecked());
        const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
        if (!validator.isEmpty())
            QCOMPARE(QProcess::execute(validator, {h.autostart.filePath()}), 0);

        // Removed by hand while the window is open: the next re-check shows it.
        QVERIFY(QFile::remove(h.autostart.filePath()));
        h.clock.advance(SettingsView::recheckInterval);
        QVERIFY(!toggle->isChecked());
        toggle->click();
        toggle->click();
        QVERIFY(!QFile::exists(h.autostart.filePath()) && !toggle->isChecked());

        // The folder cannot be made: the switch stays off and says why.
        QFile blocker(h.config.filePath(QStringLiteral("autostart")));
        QVERIFY(QDir(h.config.filePath(QStringLiteral("autostart"))).removeRecursively());
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        toggle->click();
        QVERIFY(!toggle->isChecked());
        QVERIFY(h.shown("startAtLoginFailure"));
        QVERIFY(h.find<QLabel>("startAtLoginFailure")
                    ->text()
                    .contains(h.config.filePath(QStringLiteral("autostart"))));
    }

    // Opening the window in front starts no recording (which recorder records which name is seen
    // in the start-up test).
    void shortcutRowsRecordTheTwoNames()
    {
        Harness h;
        h.view.showInFront();
        QVERIFY(QTest::qWaitForWindowActive(&h.view));
        QApplication::processEvents();
        const auto recorders = h.view.findChildren<Hotkeys::Recorder *>();
        QCOMPARE(recorders.size(), 2);
        QVERIFY(!recorders[0]->field()->isRecording() && !recorders[1]->field()->isRecording());
        QVERIFY(!Hotkeys::isPaused());
    }

    void aShortcutAnotherProgramHoldsIsMarked()
    {
        Harness h;
        h.hotkeys.hotKeyService.refuse(14, 0x300, Platform::HotKeyService::eventHotKeyExistsErr);
        Hotkeys::onKeyUp(h.fixName, [] {});
        Hotkeys::onKeyUp(h.formalName, [] {});
        h.fixName.setShortcut(Hotkeys::Shortcut(14, 0x300));
        h.formalName.setShortcut(Hotkeys::Shortcut(14, 0x900));
        h.view.show();
        QVERIFY(h.shown("fixTextTaken"));
        QVERIFY(!h.shown("makeFormalTaken"));
        // Another shortcut is not taken: the mark goes.
        h.fixName.setShortcut(Hotkeys::Shortcut(40, 0x300));
        QVERIFY(!h.shown("fixTextTaken"));
    }
};

QTEST_MAIN(TestSettingsView)
#include "tst_settingsview.moc"
