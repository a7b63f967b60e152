#include "StateSource.h"
#include "app/AccessibilityChecker.h"
#include "app/MenuBarExtra.h"
#include "app/MenuBarIcon.h"
#include "app/MenuContent.h"
#include "platform/qt/Notices.h"
#include "platform/fake/FakeAccessibilityTrust.h"
#include "platform/fake/ManualClock.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>

using namespace std::chrono_literals;
using State = TextProcessorState;

namespace {

QImage iconImage(const QIcon &icon)
{
    return icon.pixmap(QSize(22, 22)).toImage().convertToFormat(QImage::Format_ARGB32);
}

struct Rig {
    explicit Rig(bool trusted = true)
        : trust(trusted)
    {
    }
    Platform::ManualClock clock;
    Platform::FakeAccessibilityTrust trust;
    AccessibilityChecker ax {trust};
    StateSource processor;
    Platform::Notices notices;
    std::optional<MenuContent> content {std::in_place, ax, processor, clock, &notices};
    QMenu *menu() const { return content->menu(); }
};

} // namespace

class TestMenuContent : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // How "&" and line breaks show is seen in the status line below.
    void menuItemText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        const int limit = MenuContent::MaxItemLength;
        QTest::newRow("exactly the limit") << QString(limit, u'x') << QString(limit, u'x');
        QTest::newRow("beyond the limit")
            << QString(limit + 1, u'x') << QString(limit - 1, u'x') + QChar(0x2026);
        QTest::newRow("huge") << QString(100000, u'y') << QString(limit - 1, u'y') + QChar(0x2026);
        QTest::newRow("ampersands count once") << QString(limit, u'&') << QString(2 * limit, u'&');
    }
    void menuItemText()
    {
        QFETCH(QString, text);
        QTEST(MenuContent::menuItemText(text), "shown");
    }

    // The items top to bottom, and the status line and commands following the processor and the
    // permission while the menu is open.
    void itemsFollowStateAndPermissionWhileOpen()
    {
        Rig rig(false);
        QStringList titles;
        for (const QAction *action : rig.menu()->actions())
            titles.append(action->isSeparator() ? QStringLiteral("---") : action->text());
        QCOMPARE(titles,
            (QStringList {QStringLiteral("Tarnwick — Accessibility required"), QStringLiteral("---"),
                QStringLiteral("Fix selected text"), QStringLiteral("Make selected text formal"),
                QStringLiteral("---"), QStringLiteral("Settings…"), QStringLiteral("---"),
                QStringLiteral("Quit")}));
        QCOMPARE(rig.content->settingsAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Comma));
        QCOMPARE(rig.content->quitAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
        rig.menu()->popup(QPoint(100, 100));
        QVERIFY(QTest::qWaitForWindowExposed(rig.menu()));

        const auto check = [&](const QString &status, bool commands) {
            QVERIFY(rig.menu()->isVisible());
            QCOMPARE(rig.content->statusAction()->text(), status);
            QVERIFY(!rig.content->statusAction()->isEnabled());
            QCOMPARE(rig.content->fixAction()->isEnabled(), commands);
            QCOMPARE(rig.content->formalAction()->isEnabled(), commands);
            QVERIFY(rig.content->settingsAction()->isEnabled() && rig.content->quitAction()->isEnabled());
        };
        // Granted while the menu is open: the settings window refreshes the checker.
        rig.ax.setIsTrusted(true);
        check(QStringLiteral("Tarnwick — ready"), true);
        rig.processor.setState(State::copying());
        check(QStringLiteral("Copying…"), false);
        rig.processor.setState(State::requesting());
        check(QStringLiteral("Fixing…"), false);
        rig.processor.setState(State::pasting());
        check(QStringLiteral("Pasting…"), false);
        // The message as it is (one line, no mnemonic); a retry is possible at once.
        rig.processor.setState(State::error(QStringLiteral(" Tom & Jerry\r\n\tfailed ")));
        check(QStringLiteral("Error:  Tom && Jerry   failed "), true);
        // The permission text shows only when idle: an error keeps its message.
        rig.ax.setIsTrusted(false);
        check(QStringLiteral("Error:  Tom && Jerry   failed "), false);
        rig.processor.setState(State::idle());
        check(QStringLiteral("Tarnwick — Accessibility required"), false);

        // While idle the first current problem takes the line, updated in place by its id; a
        // busy or failed run speaks for itself.
        rig.ax.setIsTrusted(true);
        const QSignalSpy changes(&rig.notices, &Platform::Notices::changed);
        rig.notices.set(
            {QStringLiteral("a"), QStringLiteral("Shortcut taken"), QStringLiteral("Record another")});
        rig.notices.set({QStringLiteral("b"), QStringLiteral("No keystrokes"), QString()});
        check(QStringLiteral("Shortcut taken"), true);
        rig.notices.set(
            {QStringLiteral("a"), QStringLiteral("Shortcut taken"), QStringLiteral("Record another")});
        QCOMPARE(changes.size(), 2);
        rig.notices.set({QStringLiteral("a"), QStringLiteral("Shortcut still taken"), QString()});
        check(QStringLiteral("Shortcut still taken"), true);
        rig.processor.setState(State::requesting());
        check(QStringLiteral("Fixing…"), false);
        rig.processor.setState(State::idle());
        rig.notices.clear(QStringLiteral("a"));
        check(QStringLiteral("No keystrokes"), true);
        rig.notices.clear(QStringLiteral("a"));
        rig.notices.clear(QStringLiteral("b"));
        QCOMPARE(changes.size(), 5);
        check(QStringLiteral("Tarnwick — ready"), true);
        rig.menu()->hide();
    }

    // A command runs 200 ms after the click if the processor could run at the click; what happens
    // meanwhile (a run starting, the menu going away) does not stop it: the processor decides.
    void commands_data()
    {
        QTest::addColumn<bool>("formal");
        QTest::addColumn<State>("state");
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<QString>("meanwhile");
        QTest::addColumn<bool>("runs");
        QTest::newRow("Fix selected text") << false << State::idle() << true << QString() << true;
        QTest::newRow("Make selected text formal") << true << State::idle() << true << QString() << true;
        QTest::newRow("error: retry at once")
            << false << State::error(QStringLiteral("x")) << true << QString() << true;
        QTest::newRow("not trusted") << true << State::idle() << false << QString() << false;
        QTest::newRow("requesting") << true << State::requesting() << true << QString() << false;
        QTest::newRow("a run starts meanwhile")
            << false << State::idle() << true << QStringLiteral("run") << true;
        QTest::newRow("the menu goes away")
            << false << State::idle() << true << QStringLiteral("menu") << true;
    }
    void commands()
    {
        QFETCH(bool, formal);
        QFETCH(State, state);
        QFETCH(bool, trusted);
        QFETCH(QString, meanwhile);
        QFETCH(bool, runs);
        Rig rig(trusted);
        rig.processor.setState(state);
        rig.clock.advance(1000ms);
        (formal ? rig.content->formalAction() : rig.content->fixAction())->trigger();
        rig.clock.advance(100ms);
        if (meanwhile == QLatin1String("run"))
            rig.processor.setState(State::copying());
        if (meanwhile == QLatin1String("menu"))
            rig.content.reset();
        rig.clock.advance(99ms);
        QVERIFY(rig.processor.runs.isEmpty());
        rig.clock.advance(1ms);
        const QList<FixMode> expected {formal ? FixMode::Formal : FixMode::Fix};
        QCOMPARE(rig.processor.runs, runs ? expected : QList<FixMode>());
        rig.clock.advance(5000ms);
        QCOMPARE(rig.processor.runs.size(), runs ? 1 : 0);
    }

    // The tray icon shows the shipped symbol of the state and changes only when the symbol does.
    // "Settings…" with nothing wired in does nothing; what it opens is seen in the start-up test,
    // the menu opened by a click on the icon in the X11 tray test.
    void trayIconFollowsTheStateAndOpensTheMenu()
    {
        Rig rig;
        MenuBarExtra extra(rig.ax, rig.processor, rig.clock);
        QCOMPARE(extra.trayIcon().contextMenu(), extra.content().menu());
        extra.content().settingsAction()->trigger();
        QSignalSpy changes(&extra.icon(), &MenuBarIcon::iconChanged);
        QList<QImage> shown;
        const auto check = [&](const char *symbol, int changeCount) {
            QCOMPARE(extra.icon().symbolName(), QString::fromLatin1(symbol));
            const QImage image = iconImage(extra.trayIcon().icon());
            QCOMPARE(image, iconImage(MenuBarIcon::icon(QString::fromLatin1(symbol))));
            QCOMPARE(changes.size(), changeCount);
            int opaque = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    opaque += qAlpha(image.pixel(x, y)) > 128;
            QVERIFY2(opaque > 22 * 22 / 4, symbol);
            if (!shown.contains(image))
                shown.append(image);
        };
        check("text.badge.checkmark", 0);
        rig.processor.setState(State::copying());
        check("ellipsis.circle", 1);
        rig.processor.setState(State::pasting());
        check("ellipsis.circle", 1);
        rig.processor.setState(State::error(QStringLiteral("x")));
        rig.processor.setState(State::error(QStringLiteral("y")));
        check("exclamationmark.triangle", 2);
        rig.processor.setState(State::idle());
        check("text.badge.checkmark", 3);
        QCOMPARE(shown.size(), 3); // three distinct pictures
    }
};

QTEST_MAIN(TestMenuContent)
#include "tst_menucontent.moc"
