// XTest keystrokes into a real window of another process, through a real X server. The wait for
// the user's modifiers runs in virtual time; the keyboard state is the server's.
// moc cannot parse the C++20 library headers behind the clock and the coroutine types.
#ifndef Q_MOC_RUN
#include "platform/fake/ManualClock.h"
#include "platform/x11/X11KeystrokePoster.h"
#endif
#include "platform/x11/X11Pasteboard.h"

#include "TargetClient.h"
#include "XTestDriver.h"

#include <QTest>

using namespace std::chrono_literals;
using Platform::commandKeyMask;
using Platform::ManualClock;
using Platform::X11::X11KeystrokePoster;
using Platform::X11::X11Pasteboard;

namespace {

constexpr quint16 keyC = 8;
constexpr quint16 keyV = 9;

} // namespace

class TestX11Keystrokes : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(m_driver.isConnected(), "needs an X server in DISPLAY");
        QVERIFY(m_poster.isAvailable());
        QVERIFY(m_target.start());
    }

    void init()
    {
        m_driver.releaseAll();
        QVERIFY(m_target.activate());
        QTRY_VERIFY(m_target.hasFocus());
        QVERIFY(m_target.clearKeys());
        m_pasteboard.clearContents();
    }

    void cleanup()
    {
        QVERIFY2(m_driver.pressedModifierKeys().isEmpty(), "a modifier was left pressed");
        m_driver.releaseAll();
    }

    void commandCCopiesTheTargetsSelection()
    {
        QVERIFY(m_target.setText(QStringLiteral("hello wide world")));
        QVERIFY(m_target.select(6, 10));
        const qint64 before = m_pasteboard.changeCount();

        auto post = m_poster.postKeystroke(keyC, commandKeyMask);
        QVERIFY(post.isReady()); // nothing held: no wait at all

        QTRY_VERIFY(m_pasteboard.changeCount() != before);
        QTRY_COMPARE(m_pasteboard.string(), QStringLiteral("wide"));
        QCOMPARE(m_target.keys(), QStringList {QStringLiteral("Ctrl+C")});
    }

    void commandVPastesAndTheFetchIsSeen()
    {
        QVERIFY(m_target.setText(QStringLiteral("replace me")));
        m_pasteboard.setString(QStringLiteral("r\u00e9plac\u00e9"));
        QVERIFY(!m_pasteboard.contentsFetchedSinceLastWrite());

        auto post = m_poster.postKeystroke(keyV, commandKeyMask);
        QVERIFY(post.isReady());
        QTRY_COMPARE(m_target.text(), QStringLiteral("r\u00e9plac\u00e9"));
        QVERIFY(m_pasteboard.contentsFetchedSinceLastWrite());
        QCOMPARE(m_target.keys(), QStringList {QStringLiteral("Ctrl+V")});
    }

    void heldModifiersAreReleasedSoTheTargetSeesPlainCtrlC_data()
    {
        QTest::addColumn<QList<quint8>>("held");
        QTest::newRow("shift") << QList<quint8> {TestX11::keyShiftL};
        QTest::newRow("ctrl+shift, as after Ctrl+Shift+E")
            << QList<quint8> {TestX11::keyControlL, TestX11::keyShiftL};
        QTest::newRow("ctrl+alt, as after Ctrl+Alt+E")
            << QList<quint8> {TestX11::keyControlL, TestX11::keyAltL};
    }
    void heldModifiersAreReleasedSoTheTargetSeesPlainCtrlC()
    {
        QFETCH(QList<quint8>, held);
        QVERIFY(m_target.setText(QStringLiteral("selected text")));
        for (quint8 key : held)
            m_driver.press(key);
        QTRY_COMPARE(m_driver.pressedModifierKeys().size(), held.size());
        const qint64 before = m_pasteboard.changeCount();

        auto post = m_poster.postKeystroke(keyC, commandKeyMask);
        // The user may still lift the keys: nothing is sent before the wait is over.
        m_clock.advance(X11KeystrokePoster::modifierWait - 20ms);
        QVERIFY(!post.isReady());
        QCOMPARE(m_driver.pressedModifierKeys().size(), held.size());

        m_clock.advance(40ms);
        QVERIFY(post.isReady());
        // Faked input reaches the server's key state asynchronously to other clients' queries.
        QTRY_VERIFY(m_driver.pressedModifierKeys().isEmpty());
        QTRY_COMPARE(m_pasteboard.string(), QStringLiteral("selected text"));
        QVERIFY(m_pasteboard.changeCount() != before);
        QCOMPARE(m_target.keys(), QStringList {QStringLiteral("Ctrl+C")});
    }

    void keystrokeGoesOutAsSoonAsTheUserLetsGo()
    {
        QVERIFY(m_target.setText(QStringLiteral("quick")));
        m_driver.press(TestX11::keyShiftL);
        QTRY_VERIFY(!m_driver.pressedModifierKeys().isEmpty());

        auto post = m_poster.postKeystroke(keyC, commandKeyMask);
        m_clock.advance(30ms);
        QVERIFY(!post.isReady());
        m_driver.release(TestX11::keyShiftL);
        QTRY_VERIFY(m_driver.pressedModifierKeys().isEmpty());
        m_clock.advance(X11KeystrokePoster::modifierPoll);
        QVERIFY(post.isReady());
        QTRY_COMPARE(m_pasteboard.string(), QStringLiteral("quick"));
        QCOMPARE(m_target.keys(), QStringList {QStringLiteral("Ctrl+C")});
    }

    void numLockHeldIsNeitherWaitedForNorReleased()
    {
        constexpr quint8 numLock = 77;
        QVERIFY(m_target.setText(QStringLiteral("num")));
        m_driver.press(numLock);
        QTRY_VERIFY(m_driver.pressedKeys().contains(numLock));

        auto post = m_poster.postKeystroke(keyC, commandKeyMask);
        QVERIFY(post.isReady());
        QVERIFY(m_driver.pressedKeys().contains(numLock));
        QTRY_COMPARE(m_pasteboard.string(), QStringLiteral("num"));
        m_driver.release(numLock);
        // Num Lock toggles on press: a second tap puts it back as it was.
        m_driver.press(numLock);
        m_driver.release(numLock);
    }

    void unknownKeyCodePostsNothing()
    {
        QVERIFY(m_target.setText(QStringLiteral("untouched")));
        auto post = m_poster.postKeystroke(0x3F /* Fn: no X key */, commandKeyMask);
        QVERIFY(post.isReady());
        TestX11::spin(100ms);
        QCOMPARE(m_target.keys(), QStringList());
        QCOMPARE(m_pasteboard.string(), std::nullopt);
    }

    void posterDestroyedDuringTheWaitSendsNothing()
    {
        QVERIFY(m_target.setText(QStringLiteral("abandoned")));
        m_driver.press(TestX11::keyShiftL);
        QTRY_VERIFY(!m_driver.pressedModifierKeys().isEmpty());
        ManualClock clock;
        auto poster = std::make_unique<X11KeystrokePoster>(clock);
        auto post = poster->postKeystroke(keyC, commandKeyMask);
        QVERIFY(!post.isReady());
        poster.reset();
        clock.advance(1s);
        QVERIFY(post.isReady());
        TestX11::spin(100ms);
        QCOMPARE(m_target.keys(), QStringList());
        m_driver.release(TestX11::keyShiftL);
    }

private:
    ManualClock m_clock;
    X11KeystrokePoster m_poster {m_clock};
    X11Pasteboard m_pasteboard;
    TestX11::XTestDriver m_driver;
    TestX11::TargetClient m_target;
};

QTEST_MAIN(TestX11Keystrokes)
#include "tst_x11keystrokes.moc"
