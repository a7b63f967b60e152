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
#include <QTimer>

using namespace std::chrono_literals;
using State = TextProcessorState;

namespace {

// The processor as the menu sees it: a state, and runs that it records.
class FakeProcessor : public StateSource {
    Q_OBJECT

public:
    explicit FakeProcessor(Platform::Clock &clock)
        : m_clock(clock)
    {
    }

    struct Run {
        FixMode mode;
        qint64 at;
        bool operator==(const Run &) const = default;
    };
    QList<Run> runs;

    QCoro::Task<> run(FixMode mode)
    {
        runs.append({mode, qint64(m_clock.now().count())});
        co_return;
    }

private:
    Platform::Clock &m_clock;
};

QString utf8(const char *text)
{
    return QString::fromUtf8(text);
}

QStringList itemTitles(const QMenu *menu)
{
    QStringList titles;
    const QList<QAction *> actions = menu->actions();
    for (const QAction *action : actions)
        titles.append(action->isSeparator() ? QStringLiteral("---") : action->text());
    return titles;
}

QImage iconImage(const QIcon &icon)
{
    return icon.pixmap(QSize(22, 22)).toImage().convertToFormat(QImage::Format_ARGB32);
}

QtMessageHandler previousHandler = nullptr;
void quietOffscreen(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    // The offscreen platform has no system tray and says so.
    if (!message.contains(QLatin1String("system tray"))
        && !message.startsWith(QLatin1String("This plugin does not support")))
        previousHandler(type, context, message);
}

struct Rig {
    Platform::ManualClock clock;
    Platform::FakeAccessibilityTrust trust {true};
    AccessibilityChecker ax {trust};
    FakeProcessor processor {clock};
    MenuContent content {ax, processor, clock};
};

} // namespace

class TestMenuContent : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { previousHandler = qInstallMessageHandler(quietOffscreen); }

    void statusLineAndCanRun_data()
    {
        QTest::addColumn<State>("state");
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("canRun");

        QTest::newRow("idle, trusted") << State::idle() << true << utf8("Tarnwick — ready") << true;
        QTest::newRow("idle, not trusted")
            << State::idle() << false << utf8("Tarnwick — Accessibility required") << false;
        for (bool trusted : {true, false}) {
            const char *t = trusted ? "trusted" : "not trusted";
            QTest::addRow("copying, %s", t) << State::copying() << trusted << utf8("Copying…") << false;
            QTest::addRow("requesting, %s", t) << State::requesting() << trusted << utf8("Fixing…") << false;
            QTest::addRow("pasting, %s", t) << State::pasting() << trusted << utf8("Pasting…") << false;
            // The permission text shows only when idle: an error keeps its message.
            QTest::addRow("error, %s", t)
                << State::error(QStringLiteral("Backend error (see server logs)")) << trusted
                << QStringLiteral("Error: Backend error (see server logs)") << trusted;
        }
        QTest::newRow("error, message kept as it is")
            << State::error(QStringLiteral("  HTTP 502: <b>bad</b> gateway  ")) << true
            << QStringLiteral("Error:   HTTP 502: <b>bad</b> gateway  ") << true;
        QTest::newRow("error, empty message")
            << State::error(QString()) << true << QStringLiteral("Error: ") << true;
    }
    void statusLineAndCanRun()
    {
        QFETCH(State, state);
        QFETCH(bool, trusted);
        QFETCH(QString, status);
        QFETCH(bool, canRun);
        QCOMPARE(MenuContent::statusLine(state, trusted), status);
        QCOMPARE(MenuContent::canRun(state, trusted), canRun);
    }

    void menuItemText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("plain") << utf8("Tarnwick — ready") << utf8("Tarnwick — ready");
        QTest::newRow("ampersand is not a mnemonic")
            << QStringLiteral("Error: R&D") << QStringLiteral("Error: R&&D");
        QTest::newRow("line breaks and tabs")
            << QStringLiteral("Error: a\nb\tc\r\nd") << QStringLiteral("Error: a b c  d");
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
        QFETCH(QString, shown);
        QCOMPARE(MenuContent::menuItemText(text), shown);
    }

    void iconsAreShippedAndDistinct()
    {
        QList<QImage> images;
        for (const char *name : {"text.badge.checkmark", "ellipsis.circle", "exclamationmark.triangle"}) {
            const QIcon icon = MenuBarIcon::icon(QLatin1String(name));
            QVERIFY2(!icon.isNull(), name);
            const QImage image = iconImage(icon);
            int opaque = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    opaque += qAlpha(image.pixel(x, y)) > 128;
            QVERIFY2(opaque > 22 * 22 / 4, name);
            for (const QImage &other : std::as_const(images))
                QVERIFY2(other != image, name);
            images.append(image);
        }
    }

    void itemsTitlesAndKeys()
    {
        Rig rig;
        QMenu *menu = rig.content.menu();
        QCOMPARE(itemTitles(menu),
            (QStringList {utf8("Tarnwick — ready"), QStringLiteral("---"),
                QStringLiteral("Fix selected text"), QStringLiteral("Make selected text formal"),
                QStringLiteral("---"), utf8("Settings…"), QStringLiteral("---"), QStringLiteral("Quit")}));
        QVERIFY(!rig.content.statusAction()->isEnabled());
        QVERIFY(rig.content.fixAction()->shortcut().isEmpty());
        QVERIFY(rig.content.formalAction()->shortcut().isEmpty());
        QCOMPARE(rig.content.settingsAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Comma));
        QCOMPARE(rig.content.quitAction()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    }

    void itemsFollowStateAndPermissionWhileOpen()
    {
        Platform::ManualClock clock;
        Platform::FakeAccessibilityTrust trust(false);
        AccessibilityChecker ax(trust);
        FakeProcessor processor(clock);
        Platform::Notices notices;
        MenuContent content(ax, processor, clock, &notices);
        QMenu *menu = content.menu();
        menu->popup(QPoint(100, 100));
        QVERIFY(QTest::qWaitForWindowExposed(menu));

        auto check = [&](const QString &status, bool commands) {
            QVERIFY(menu->isVisible());
            QCOMPARE(content.statusAction()->text(), status);
            QCOMPARE(content.fixAction()->isEnabled(), commands);
            QCOMPARE(content.formalAction()->isEnabled(), commands);
            QVERIFY(content.settingsAction()->isEnabled());
            QVERIFY(content.quitAction()->isEnabled());
            QVERIFY(!content.statusAction()->isEnabled());
        };
        check(utf8("Tarnwick — Accessibility required"), false);

        // Granted while the menu is open: the settings window refreshes the checker.
        ax.setIsTrusted(true);
        check(utf8("Tarnwick — ready"), true);

        processor.setState(State::copying());
        check(utf8("Copying…"), false);
        processor.setState(State::requesting());
        check(utf8("Fixing…"), false);
        processor.setState(State::pasting());
        check(utf8("Pasting…"), false);
        processor.setState(State::error(QStringLiteral("Tom & Jerry\nfailed")));
        check(QStringLiteral("Error: Tom && Jerry failed"), true);
        ax.setIsTrusted(false);
        check(QStringLiteral("Error: Tom && Jerry failed"), false);
        processor.setState(State::idle());
        check(utf8("Tarnwick — Accessibility required"), false);

        // While idle the first current problem takes the line, updated in place by its id; a
        // busy or failed run speaks for itself.
        ax.setIsTrusted(true);
        const QSignalSpy changes(&notices, &Platform::Notices::changed);
        notices.set(
            {QStringLiteral("a"), QStringLiteral("Shortcut taken"), QStringLiteral("Record another")});
        notices.set({QStringLiteral("b"), QStringLiteral("No keystrokes"), QString()});
        check(QStringLiteral("Shortcut taken"), true);
        notices.set(
            {QStringLiteral("a"), QStringLiteral("Shortcut taken"), QStringLiteral("Record another")});
        QCOMPARE(changes.size(), 2);
        notices.set({QStringLiteral("a"), QStringLiteral("Shortcut still taken"), QString()});
        QCOMPARE(notices.all().first().message, QStringLiteral("Shortcut still taken"));
        check(QStringLiteral("Shortcut still taken"), true);
        processor.setState(State::requesting());
        check(utf8("Fixing…"), false);
        processor.setState(State::idle());
        notices.clear(QStringLiteral("a"));
        check(QStringLiteral("No keystrokes"), true);
        notices.clear(QStringLiteral("a"));
        notices.clear(QStringLiteral("b"));
        QCOMPARE(changes.size(), 5);
        check(utf8("Tarnwick — ready"), true);
        menu->hide();
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
        QTest::newRow("copying") << false << State::copying() << true << QString() << false;
        QTest::newRow("requesting") << true << State::requesting() << true << QString() << false;
        QTest::newRow("pasting") << false << State::pasting() << true << QString() << false;
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
        Platform::ManualClock clock;
        Platform::FakeAccessibilityTrust trust(trusted);
        AccessibilityChecker ax(trust);
        FakeProcessor processor(clock);
        processor.setState(state);
        std::optional<MenuContent> content(std::in_place, ax, processor, clock);
        clock.advance(1000ms);
        (formal ? content->formalAction() : content->fixAction())->trigger();
        clock.advance(100ms);
        if (meanwhile == QLatin1String("run"))
            processor.setState(State::copying());
        if (meanwhile == QLatin1String("menu"))
            content.reset();
        clock.advance(99ms);
        QVERIFY(processor.runs.isEmpty());
        clock.advance(1ms);
        const QList<FakeProcessor::Run> expected {{formal ? FixMode::Formal : FixMode::Fix, 1200}};
        QCOMPARE(processor.runs, runs ? expected : QList<FakeProcessor::Run>());
        clock.advance(5000ms);
        QCOMPARE(processor.runs.size(), runs ? 1 : 0);
    }

    void settingsOpensTheWindowFromTheItemAndFromCommandComma()
    {
        Rig rig;
        rig.content.settingsAction()->trigger(); // nothing wired in yet: nothing happens

        int opened = 0;
        rig.content.setOpenSettings([&] { ++opened; });
        rig.content.settingsAction()->trigger();
        QCOMPARE(opened, 1);
        // Command-comma with the menu open.
        QMenu *menu = rig.content.menu();
        menu->popup(QPoint(50, 50));
        QVERIFY(QTest::qWaitForWindowExposed(menu));
        QTest::keyClick(menu, Qt::Key_Comma, Qt::ControlModifier);
        QCOMPARE(opened, 2);
    }

    void commandQWithTheMenuOpenQuits()
    {
        Rig rig;
        QMenu *menu = rig.content.menu();
        bool timedOut = false;
        QTimer::singleShot(0, menu, [menu] {
            menu->popup(QPoint(50, 50));
            QTest::keyClick(menu, Qt::Key_Q, Qt::ControlModifier);
        });
        QTimer::singleShot(5000, this, [&] {
            timedOut = true;
            QCoreApplication::exit(1);
        });
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(!timedOut);
    }

    void iconFollowsTheState()
    {
        StateSource processor;
        processor.setState(State::requesting());
        MenuBarIcon icon;
        QSignalSpy changes(&icon, &MenuBarIcon::iconChanged);
        icon.bind(&processor);
        QCOMPARE(icon.symbolName(), QStringLiteral("ellipsis.circle"));
        QCOMPARE(changes.size(), 1);
        processor.setState(State::pasting());
        QCOMPARE(changes.size(), 1); // same symbol, no change
        processor.setState(State::error(QStringLiteral("x")));
        QCOMPARE(icon.symbolName(), QStringLiteral("exclamationmark.triangle"));
        processor.setState(State::error(QStringLiteral("y")));
        QCOMPARE(changes.size(), 2);
        processor.setState(State::idle());
        QCOMPARE(icon.symbolName(), QStringLiteral("text.badge.checkmark"));
        QCOMPARE(changes.size(), 3);
        QCOMPARE(
            iconImage(changes.last().at(0).value<QIcon>()), iconImage(MenuBarIcon::icon(icon.symbolName())));
    }

    void trayIconShowsTheStateAndOpensTheMenu()
    {
        Platform::ManualClock clock;
        Platform::FakeAccessibilityTrust trust(true);
        AccessibilityChecker ax(trust);
        FakeProcessor processor(clock);
        MenuBarExtra extra(ax, processor, clock);
        QCOMPARE(extra.trayIcon().contextMenu(), extra.content().menu());
        QCOMPARE(iconImage(extra.trayIcon().icon()),
            iconImage(MenuBarIcon::icon(QStringLiteral("text.badge.checkmark"))));
        processor.setState(State::copying());
        QCOMPARE(iconImage(extra.trayIcon().icon()),
            iconImage(MenuBarIcon::icon(QStringLiteral("ellipsis.circle"))));
        QCOMPARE(extra.content().statusAction()->text(), utf8("Copying…"));

        Q_EMIT extra.trayIcon().activated(QSystemTrayIcon::Trigger);
        QVERIFY(extra.content().menu()->isVisible());
        extra.content().menu()->hide();
    }
};

QTEST_MAIN(TestMenuContent)
#include "tst_menucontent.moc"
