#include "TargetClient.h"
#include "platform/x11/X11FrontWindow.h"
#include "platform/x11/X11PrimarySelection.h"
#include "platform/MimeTypes.h"
#include "platform/x11/Xcb.h"

#include <QTest>
#include <QWidget>

#include <cstdlib>

#include <xcb/xcb.h>

using Platform::FrontWindowInfo;
using Platform::X11::X11FrontWindow;
using Platform::X11::X11PrimarySelection;
namespace Xcb = Platform::X11::Xcb;

namespace {

QString xclip(const QStringList &arguments)
{
    return TestX11::toolOutput(QStringLiteral("xclip"), arguments);
}

} // namespace

class TestX11FrontWindow : public QObject {
    Q_OBJECT

    TestX11::Xterm m_xterm;
    xcb_connection_t *m_other = nullptr; // a second X client, as another application would be

    quint32 createWindow(quint32 parent, bool overrideRedirect, const QByteArray &wmClass)
    {
        const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(m_other)).data;
        const quint32 window = xcb_generate_id(m_other);
        const quint32 values[] = {overrideRedirect ? 1u : 0u};
        xcb_create_window(m_other, XCB_COPY_FROM_PARENT, window, parent ? parent : screen->root, 0, 0, 50, 50,
            0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_OVERRIDE_REDIRECT, values);
        if (!wmClass.isEmpty())
            xcb_change_property(m_other, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                quint32(wmClass.size()), wmClass.constData());
        xcb_map_window(m_other, window);
        return window;
    }

    // Waits until the server has handled everything sent on the second connection.
    void syncOther() { std::free(xcb_get_input_focus_reply(m_other, xcb_get_input_focus(m_other), nullptr)); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(Xcb::qtConnection(), "needs the xcb platform");
        m_other = xcb_connect(nullptr, nullptr);
        QVERIFY(!xcb_connection_has_error(m_other));

        QVERIFY2(m_xterm.start(QStringLiteral("printf 'Ths is a tset\\n'; exec cat")),
            "xterm's window did not appear");
    }

    void cleanupTestCase()
    {
        if (m_other)
            xcb_disconnect(m_other);
    }

    // WM_CLASS is the instance and the class, each ended by a NUL, in Latin-1.
    void wmClassParsing()
    {
        const std::pair<QByteArray, QString> values[]
            = {{QByteArray("xterm\0XTerm\0", 12), QStringLiteral("XTerm")},
                {QByteArray("a\0Cls", 5), QStringLiteral("Cls")}, // without the final NUL
                {QByteArray("only\0", 5), QString()}, {QByteArray("garbage"), QString()},
                {QByteArray("i\0Caf\xe9\0", 7), QStringLiteral("Caf\u00e9")}};
        for (const auto &[value, windowClass] : values)
            QCOMPARE(Xcb::classFromWmClass(value), windowClass);
    }

    // Without a usable _NET_ACTIVE_WINDOW the input focus decides, and a focused child window
    // reports the top-level that carries the class. The decision is driven directly: the window
    // manager rewrites the root's active-window property whenever the focus moves.
    void fallsBackToTheInputFocusAndItsClassedAncestor()
    {
        const quint32 top = createWindow(0, true, QByteArray("probe\0TarnwickProbe\0", 20));
        const quint32 child = createWindow(top, false, {});
        const quint32 unclassed = createWindow(0, true, {}); // unmanaged: no frame around it
        syncOther();
        const quint32 gone = xcb_generate_id(m_other); // never created: a stale active window
        xcb_connection_t *connection = Xcb::qtConnection();
        const FrontWindowInfo probe {top, QStringLiteral("TarnwickProbe")};
        int focusAsked = 0;
        const auto focusOn = [&](quint32 window) {
            return [&focusAsked, window] {
                ++focusAsked;
                return window;
            };
        };

        QCOMPARE(X11FrontWindow::resolve(connection, gone, focusOn(child)), probe);
        QCOMPARE(X11FrontWindow::resolve(connection, 0, focusOn(child)), probe);
        QCOMPARE(X11FrontWindow::resolve(connection, unclassed, focusOn(child)), probe);
        QCOMPARE(focusAsked, 3);

        // A classed active window wins, and the focus is not asked at all.
        QCOMPARE(X11FrontWindow::resolve(connection, child, focusOn(unclassed)), probe);
        QCOMPARE(focusAsked, 3);

        // Nothing classed anywhere: the active window is still named, without a class.
        QCOMPARE(
            X11FrontWindow::resolve(connection, unclassed, focusOn(0)), (FrontWindowInfo {unclassed, {}}));
        QCOMPARE(
            X11FrontWindow::resolve(connection, 0, focusOn(unclassed)), (FrontWindowInfo {unclassed, {}}));

        xcb_destroy_window(m_other, top);
        xcb_destroy_window(m_other, unclassed);
        syncOther();
    }

    void readsPrimaryOnlyFromTheFrontTerminalAndWritesItMarkedSecret()
    {
        QVERIFY(m_xterm.selectLine(QStringLiteral("Ths is a tset")));
        const X11FrontWindow front;
        const FrontWindowInfo xterm {m_xterm.window(), QStringLiteral("XTerm")};
        QTRY_COMPARE(front.current(), xterm);

        X11PrimarySelection primary;
        QTRY_VERIFY(primary.isOwnedBy(xterm));
        const std::optional<QString> text = primary.stringOwnedBy(xterm);
        QVERIFY(text.has_value());
        QCOMPARE(text->trimmed(), QStringLiteral("Ths is a tset"));

        // The same selection seen from any other window is not that window's selection.
        QWidget widget;
        widget.show();
        QVERIFY(QTest::qWaitForWindowExposed(&widget));
        const FrontWindowInfo ours {quint64(widget.winId()), QStringLiteral("Tst_x11frontwindow")};
        QVERIFY(!primary.isOwnedBy(ours));
        QCOMPARE(primary.stringOwnedBy(ours), std::nullopt);
        // A window the desktop does not name takes whoever holds the selection.
        QCOMPARE(primary.stringOwnedBy(FrontWindowInfo {}), text);
        QCOMPARE(primary.stringOwnedBy(
                     FrontWindowInfo {m_xterm.window() + (quint64(1) << 40), QStringLiteral("XTerm")}),
            std::nullopt);

        // Written by us, it is marked secret.
        QVERIFY(primary.setString(QStringLiteral("This is a test — ünïcode")));
        QVERIFY(!primary.contentsFetchedSinceLastWrite());
        const QStringList primaryArgs {
            QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("primary")};
        QCOMPARE(xclip(primaryArgs + QStringList {QStringLiteral("-t"), Platform::passwordManagerHintType()}),
            QStringLiteral("secret"));
        // What a clipboard manager asks before it records is not a paste.
        QVERIFY(!primary.contentsFetchedSinceLastWrite());
        QCOMPARE(xclip(primaryArgs), QStringLiteral("This is a test — ünïcode"));
        QVERIFY(primary.contentsFetchedSinceLastWrite());
        QVERIFY(primary.setString(QStringLiteral("Again")));
        QVERIFY(!primary.contentsFetchedSinceLastWrite());

        // Now we hold it: it is no longer the terminal's selection, but is that of our windows,
        // whose hidden selection owner is another window of the same client.
        QCOMPARE(primary.stringOwnedBy(xterm), std::nullopt);
        QCOMPARE(primary.stringOwnedBy(FrontWindowInfo {quint64(widget.winId()), QString()}),
            std::optional<QString>(QStringLiteral("Again")));
    }

    // Ownership by window relations, with selections held by a second client.
    void ownershipOfOtherClients()
    {
        const X11PrimarySelection primary;
        QWidget widget;
        widget.show();
        QVERIFY(QTest::qWaitForWindowExposed(&widget));
        const FrontWindowInfo ours {quint64(widget.winId()), QString()};

        // A window of another client embedded in ours belongs to our window.
        const quint32 embedded = createWindow(quint32(widget.winId()), false, {});
        xcb_set_selection_owner(m_other, embedded, XCB_ATOM_PRIMARY, XCB_CURRENT_TIME);
        syncOther();
        QVERIFY(primary.isOwnedBy(ours));

        // A top-level of another client does not, whatever its class.
        const quint32 foreign = createWindow(0, true, QByteArray("x\0XTerm\0", 8));
        xcb_set_selection_owner(m_other, foreign, XCB_ATOM_PRIMARY, XCB_CURRENT_TIME);
        syncOther();
        QVERIFY(!primary.isOwnedBy(ours));
        QVERIFY(!primary.isOwnedBy(FrontWindowInfo {m_xterm.window(), QStringLiteral("XTerm")}));
        QVERIFY(primary.isOwnedBy(FrontWindowInfo {foreign, QStringLiteral("XTerm")}));

        // Nobody owns it.
        xcb_set_selection_owner(m_other, XCB_WINDOW_NONE, XCB_ATOM_PRIMARY, XCB_CURRENT_TIME);
        syncOther();
        QVERIFY(!primary.isOwnedBy(ours));
        QVERIFY(!primary.isOwnedBy(FrontWindowInfo {foreign, QStringLiteral("XTerm")}));

        xcb_destroy_window(m_other, embedded);
        xcb_destroy_window(m_other, foreign);
        syncOther();
    }
};

QTEST_MAIN(TestX11FrontWindow)
#include "tst_x11frontwindow.moc"
