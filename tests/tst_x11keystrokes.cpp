// XTest keystrokes into a real window of another process, through a real X server, and the trust
// to send them. The wait for the user's modifiers runs in virtual time; the keyboard state is the
// server's.
// moc cannot parse the C++20 library headers behind the clock and the coroutine types.
#ifndef Q_MOC_RUN
#include "platform/fake/ManualClock.h"
#include "platform/x11/X11KeystrokePoster.h"
#include "platform/x11/XkbKeymap.h"
#endif
#include "platform/x11/X11AccessibilityTrust.h"
#include "platform/x11/X11Pasteboard.h"

#include "TargetClient.h"
#include "XTestDriver.h"

#include <QDesktopServices>
#include <QFile>
#include <QTest>
#include <QUrl>

using namespace std::chrono_literals;
namespace AppKitModifier = Platform::AppKitModifier;
using Platform::ManualClock;
using Platform::X11::X11KeystrokePoster;
using Platform::X11::X11Pasteboard;

namespace {

constexpr quint16 keyC = 8;
constexpr quint16 keyV = 9;
constexpr quint16 keyInsert = 0x72;
constexpr quint16 lockMask = 2; // Caps Lock on

class UrlCatcher : public QObject {
    Q_OBJECT

public:
    QList<QUrl> urls;

public Q_SLOTS:
    void open(const QUrl &url) { urls.append(url); }
};

} // namespace

class TestX11Keystrokes : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(m_driver.isConnected(), "needs an X server in DISPLAY");
        QVERIFY(m_poster.isAvailable());
        Platform::X11::X11AccessibilityTrust trust;
        QVERIFY(trust.isProcessTrusted());
        QVERIFY(trust.requestTrust());
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

    void cleanupTestCase() { TestX11::setKeymap(QStringLiteral("us")); }

    // The user may still hold the shortcut's modifiers: the keystroke waits until they are lifted
    // (or the wait is over, and they are released for the target), so the target sees plain Ctrl+C.
    void heldModifiersAreWaitedForThenReleased_data()
    {
        QTest::addColumn<QList<quint8>>("held");
        QTest::addColumn<bool>("letGo"); // the user lifts them within the wait
        const QList<quint8> shift {TestX11::keyShiftL};
        QTest::newRow("shift") << shift << false;
        QTest::newRow("shift, lifted early") << shift << true;
        QTest::newRow("ctrl+shift, as after Ctrl+Shift+E")
            << QList<quint8> {TestX11::keyControlL, TestX11::keyShiftL} << false;
        QTest::newRow("ctrl+alt, as after Ctrl+Alt+E")
            << QList<quint8> {TestX11::keyControlL, TestX11::keyAltL} << false;
    }
    void heldModifiersAreWaitedForThenReleased()
    {
        QFETCH(QList<quint8>, held);
        QFETCH(bool, letGo);
        QVERIFY(m_target.setText(QStringLiteral("selected text")));
        for (quint8 key : held)
            m_driver.press(key);
        QTRY_COMPARE(m_driver.pressedModifierKeys().size(), held.size());
        const qint64 before = m_pasteboard.changeCount();

        auto post = m_poster.postKeystroke(keyC, AppKitModifier::command);
        // Nothing is sent before the wait is over.
        m_clock.advance(letGo ? 30ms : X11KeystrokePoster::modifierWait - 20ms);
        QVERIFY(!post.isReady());
        QCOMPARE(m_driver.pressedModifierKeys().size(), held.size());
        if (letGo) {
            for (quint8 key : held)
                m_driver.release(key);
            QTRY_VERIFY(m_driver.pressedModifierKeys().isEmpty());
            m_clock.advance(X11KeystrokePoster::modifierPoll);
        } else {
            m_clock.advance(40ms);
        }
        QVERIFY(post.isReady());
        // Faked input reaches the server's key state asynchronously to other clients' queries.
        QTRY_VERIFY(m_driver.pressedModifierKeys().isEmpty());
        QTRY_COMPARE(m_pasteboard.string(), QStringLiteral("selected text"));
        QVERIFY(m_pasteboard.changeCount() != before);
        QCOMPARE(m_target.keys(), QStringList {QStringLiteral("Ctrl+C")});
    }

    void numLockHeldIsNeitherWaitedForNorReleased()
    {
        QVERIFY(m_target.setText(QStringLiteral("num")));
        m_driver.press(TestX11::keyNumLock);
        QTRY_VERIFY(m_driver.pressedKeys().contains(TestX11::keyNumLock));

        auto post = m_poster.postKeystroke(keyC, AppKitModifier::command);
        QVERIFY(post.isReady());
        QVERIFY(m_driver.pressedKeys().contains(TestX11::keyNumLock));
        QTRY_COMPARE(m_pasteboard.string(), QStringLiteral("num"));
        m_driver.release(TestX11::keyNumLock);
        // Num Lock toggles on press: a second tap puts it back as it was.
        m_driver.press(TestX11::keyNumLock);
        m_driver.release(TestX11::keyNumLock);
    }

    void copyAndPasteKeysComeFromTheCurrentKeymap_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QString>("variant");
        QTest::addColumn<QString>("option");
        QTest::addColumn<bool>("spareKeys"); // c and v on no key: put on spare key codes
        QTest::newRow("US") << QStringLiteral("us") << QString() << QString() << false;
        QTest::newRow("Dvorak") << QStringLiteral("us") << QStringLiteral("dvorak") << QString() << false;
        QTest::newRow("Caps Lock as Control")
            << QStringLiteral("us") << QString() << QStringLiteral("ctrl:swapcaps") << false;
        QTest::newRow("Alt and Control swapped")
            << QStringLiteral("us") << QString() << QStringLiteral("ctrl:swap_lalt_lctl") << false;
        QTest::newRow("Russian and US, Russian active")
            << QStringLiteral("ru,us") << QString() << QString() << false;
        QTest::newRow("Russian alone") << QStringLiteral("ru") << QString() << QString() << true;
    }
    void copyAndPasteKeysComeFromTheCurrentKeymap()
    {
        QFETCH(QString, layout);
        QFETCH(QString, variant);
        QFETCH(QString, option);
        QFETCH(bool, spareKeys);
        // The poster hears of the new keymap on our connection, as this watcher does.
        const auto watcher = Platform::X11::XkbKeymap::create();
        QVERIFY(watcher && watcher->keymap());
        const int loads = watcher->loads();
        QVERIFY(TestX11::setKeymap(layout, variant, option));
        QTRY_VERIFY(watcher->keymap() && watcher->loads() > loads);

        // With nothing held the keystrokes go out at once.
        QVERIFY(m_target.setText(QStringLiteral("hello wide world")));
        QVERIFY(m_target.select(6, 10));
        QVERIFY(m_poster.postKeystroke(keyC, AppKitModifier::command).isReady());
        QTRY_COMPARE(m_pasteboard.string(), QStringLiteral("wide"));
        QCOMPARE(m_target.text(), QStringLiteral("hello wide world"));

        m_pasteboard.setString(QStringLiteral("r\u00e9plac\u00e9"));
        QVERIFY(!m_pasteboard.contentsFetchedSinceLastWrite());
        QVERIFY(m_poster.postKeystroke(keyV, AppKitModifier::command).isReady());
        QTRY_COMPARE(m_target.text(), QStringLiteral("hello r\u00e9plac\u00e9 world"));
        QVERIFY(m_pasteboard.contentsFetchedSinceLastWrite());
        QVERIFY(m_poster.postKeystroke(keyInsert, AppKitModifier::shift).isReady());
        QTRY_COMPARE(m_target.text(), QStringLiteral("hello r\u00e9plac\u00e9r\u00e9plac\u00e9 world"));
        QVERIFY(!(m_driver.modifierState() & lockMask));

        QCOMPARE(m_poster.spareKeycodes().size(), spareKeys ? 2 : 0);
        m_clock.advance(X11KeystrokePoster::spareKeyHold);
        QVERIFY(m_poster.spareKeycodes().isEmpty());
        QVERIFY(TestX11::setKeymap(QStringLiteral("us")));
    }

    void openSettingsOpensTheHelpPage()
    {
        using Platform::X11::X11AccessibilityTrust;
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

    // A key code without an X key, and a poster destroyed during the wait, send nothing.
    void unknownKeyOrPosterDestroyedDuringTheWaitSendsNothing()
    {
        QVERIFY(m_target.setText(QStringLiteral("untouched")));
        QVERIFY(m_poster.postKeystroke(0x3F /* Fn: no X key */, AppKitModifier::command).isReady());
        m_driver.press(TestX11::keyShiftL);
        QTRY_VERIFY(!m_driver.pressedModifierKeys().isEmpty());
        ManualClock clock;
        auto poster = std::make_unique<X11KeystrokePoster>(clock);
        auto post = poster->postKeystroke(keyC, AppKitModifier::command);
        QVERIFY(!post.isReady());
        poster.reset();
        clock.advance(1s);
        QVERIFY(post.isReady());
        TestX11::spin(100ms);
        QCOMPARE(m_target.keys(), QStringList());
        QCOMPARE(m_pasteboard.string(), std::nullopt);
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
