#include "platform/x11/X11HotKeyService.h"
#include "platform/x11/X11SystemShortcuts.h"

#include "XTestDriver.h"

#include <QAbstractNativeEventFilter>
#include <QGuiApplication>
#include <QTest>

#include <xcb/xcb.h>

using Platform::HotKeyService;
using Platform::X11::X11HotKeyService;
using Kind = HotKeyService::EventKind;

namespace {

constexpr quint32 signature = 0x5A51484B;
constexpr quint32 carbonE = 14;
constexpr quint32 carbonCommandShift = 0x300; // Ctrl+Shift on X11
constexpr quint32 carbonCommandOption = 0x900; // Ctrl+Alt on X11
constexpr quint16 xControlShift = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT;
constexpr quint16 xControlAlt = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;

struct Event {
    Kind kind;
    quint32 id;
    friend bool operator==(const Event &, const Event &) = default;
};

char *toString(const Event &e)
{
    return QTest::toString(QStringLiteral("%1:%2").arg(int(e.kind)).arg(e.id));
}

// Counts the key presses of one keycode that reach the application's X connection, before the
// service sees them (filters installed later run first).
class PressCounter final : public QAbstractNativeEventFilter {
public:
    explicit PressCounter(quint8 keycode)
        : m_keycode(keycode)
    {
        qApp->installNativeEventFilter(this);
    }
    ~PressCounter() override { qApp->removeNativeEventFilter(this); }
    bool nativeEventFilter(const QByteArray &type, void *message, qintptr *) override
    {
        if (type == "xcb_generic_event_t") {
            auto *event = static_cast<xcb_generic_event_t *>(message);
            if ((event->response_type & ~0x80) == XCB_KEY_PRESS
                && reinterpret_cast<xcb_key_press_event_t *>(event)->detail == m_keycode)
                ++presses;
        }
        return false;
    }
    int presses = 0;

private:
    quint8 m_keycode;
};

} // namespace

class TestX11HotKeyService : public QObject {
    Q_OBJECT

    std::unique_ptr<TestX11::XTestDriver> m_client;
    std::unique_ptr<X11HotKeyService> m_service;
    QList<Event> m_events;

    void pressControlShiftE() { m_client->chord({TestX11::keyControlL, TestX11::keyShiftL, TestX11::keyE}); }

    // Whether another client may grab Ctrl+Shift+E, with and without each lock modifier.
    bool everyLockVariantIsFree()
    {
        int refused = 0;
        for (quint16 lock :
            {0, int(XCB_MOD_MASK_LOCK), int(XCB_MOD_MASK_2), int(XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2)}) {
            refused += m_client->grab(TestX11::keyE, quint16(xControlShift | lock)) != 0;
            m_client->ungrab(TestX11::keyE, quint16(xControlShift | lock));
        }
        return refused == 0;
    }

    // Lets the application read what the server sent it so far.
    void settle()
    {
        m_client->sync();
        QTest::qWait(50);
    }

private Q_SLOTS:
    void initTestCase() { QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb")); }

    void init()
    {
        m_client = std::make_unique<TestX11::XTestDriver>();
        QVERIFY(m_client->isConnected());
        m_service = std::make_unique<X11HotKeyService>();
        QVERIFY(m_service->isAvailable());
        m_events.clear();
        QCOMPARE(m_service->installEventHandler([this](const HotKeyService::HotKeyEvent &event) {
            m_events.append({event.kind, event.hotKeyId.id});
            return HotKeyService::noErr;
        }),
            HotKeyService::noErr);
        m_service->setHandlerListening(true);
    }

    void cleanup()
    {
        m_service.reset();
        m_client.reset();
    }

    // Whatever the order of release, and with lock modifiers on.
    void pressAndReleaseArriveWithTheId_data()
    {
        QTest::addColumn<QList<quint8>>("releaseOrder"); // empty: the reverse of the presses
        QTest::addColumn<QList<quint8>>("locks");
        using namespace TestX11;
        QTest::newRow("key released first")
            << QList<quint8> {keyE, keyShiftL, keyControlL} << QList<quint8>();
        QTest::newRow("modifiers released first")
            << QList<quint8> {keyControlL, keyShiftL, keyE} << QList<quint8>();
        QTest::newRow("Caps Lock") << QList<quint8>() << QList<quint8> {keyCapsLock};
        QTest::newRow("Num Lock") << QList<quint8>() << QList<quint8> {keyNumLock};
        QTest::newRow("Caps Lock and Num Lock") << QList<quint8>() << QList<quint8> {keyCapsLock, keyNumLock};
    }

    void pressAndReleaseArriveWithTheId()
    {
        QFETCH(QList<quint8>, releaseOrder);
        QFETCH(QList<quint8>, locks);
        QCOMPARE(
            m_service->registerHotKey(carbonE, carbonCommandShift, {signature, 7}), HotKeyService::noErr);
        const quint16 before = m_client->modifierState();
        for (quint8 lock : locks)
            m_client->chord({lock});
        auto restore = qScopeGuard([&] {
            for (quint8 lock : locks)
                m_client->chord({lock});
        });
        QCOMPARE(qPopulationCount(quint16(m_client->modifierState() & ~before)), locks.size());

        m_client->chord({TestX11::keyControlL, TestX11::keyShiftL, TestX11::keyE}, releaseOrder);
        QTRY_COMPARE(m_events, (QList<Event> {{Kind::hotKeyPressed, 7}, {Kind::hotKeyReleased, 7}}));
        // Other modifiers on the same key are not the hot key; a deaf handler hears nothing but
        // keeps the key.
        m_client->chord({TestX11::keyControlL, TestX11::keyAltL, TestX11::keyE});
        m_client->chord({TestX11::keyE});
        m_service->setHandlerListening(false);
        pressControlShiftE();
        settle();
        QCOMPARE(m_events.size(), 2);
        QCOMPARE(m_client->grab(TestX11::keyE, xControlShift), int(XCB_ACCESS));
    }

    void combinationHeldByAnotherClientIsRefusedWithoutLeftovers_data()
    {
        QTest::addColumn<quint16>("otherClientsLock");
        QTest::newRow("plain") << quint16(0);
        // Only one of the lock variants is taken: the variants already grabbed must be undone.
        QTest::newRow("with Caps Lock only") << quint16(XCB_MOD_MASK_LOCK);
    }

    void combinationHeldByAnotherClientIsRefusedWithoutLeftovers()
    {
        QFETCH(quint16, otherClientsLock);
        QCOMPARE(m_client->grab(TestX11::keyE, xControlShift | otherClientsLock), 0);
        QCOMPARE(m_service->registerHotKey(carbonE, carbonCommandShift, {signature, 3}),
            HotKeyService::eventHotKeyExistsErr);
        m_client->ungrab(TestX11::keyE, xControlShift | otherClientsLock);
        QVERIFY(everyLockVariantIsFree()); // nothing of ours was left grabbed
        // Once the other client let go, the combination is ours until it is unregistered (its
        // presses then go elsewhere) or until the service goes.
        QCOMPARE(
            m_service->registerHotKey(carbonE, carbonCommandShift, {signature, 4}), HotKeyService::noErr);
        QCOMPARE(m_client->grab(TestX11::keyE, xControlShift), int(XCB_ACCESS));
        m_service->unregisterHotKey(4);
        QVERIFY(everyLockVariantIsFree());
        pressControlShiftE();
        settle();
        QVERIFY(m_events.isEmpty());
        QCOMPARE(
            m_service->registerHotKey(carbonE, carbonCommandShift, {signature, 5}), HotKeyService::noErr);
        m_service.reset();
        QVERIFY(everyLockVariantIsFree());
    }

    void heldKeyFiresOnePress()
    {
        QVERIFY(m_service->hasDetectableAutoRepeat());
        PressCounter counter(TestX11::keyE);
        QCOMPARE(
            m_service->registerHotKey(carbonE, carbonCommandShift, {signature, 9}), HotKeyService::noErr);
        m_client->press(TestX11::keyControlL);
        m_client->press(TestX11::keyShiftL);
        m_client->press(TestX11::keyE);
        QTest::qWait(1500); // longer than the server's repeat delay
        m_client->release(TestX11::keyE);
        m_client->release(TestX11::keyShiftL);
        m_client->release(TestX11::keyControlL);
        QTRY_COMPARE(m_events.size(), 2);
        settle();
        if (counter.presses < 2)
            QSKIP("the X server did not repeat the held key");
        QCOMPARE(m_events, (QList<Event> {{Kind::hotKeyPressed, 9}, {Kind::hotKeyReleased, 9}}));
    }

    void unusableRegistrationsAreRefused_data()
    {
        QTest::addColumn<quint32>("keyCode");
        QTest::addColumn<quint32>("modifiers");
        QTest::addColumn<int>("status");
        QTest::newRow("Function modifier")
            << carbonE << quint32(0x20000 | 0x100) << HotKeyService::eventHotKeyInvalidErr;
        QTest::newRow("bit outside the modifiers")
            << carbonE << quint32(0x100 | 0x400) << HotKeyService::eventHotKeyInvalidErr;
        QTest::newRow("key code without a key")
            << quint32(0x34) << quint32(0x100) << HotKeyService::eventHotKeyInvalidErr;
        QTest::newRow("key code out of range")
            << quint32(70000) << quint32(0x100) << HotKeyService::eventHotKeyInvalidErr;
        QTest::newRow("id in use") << quint32(40) << quint32(0x100) << HotKeyService::paramErr;
        QTest::newRow("combination held by us")
            << carbonE << carbonCommandShift << HotKeyService::eventHotKeyExistsErr;
    }

    void unusableRegistrationsAreRefused()
    {
        QFETCH(quint32, keyCode);
        QFETCH(quint32, modifiers);
        QFETCH(int, status);
        QCOMPARE(
            m_service->registerHotKey(carbonE, carbonCommandShift, {signature, 1}), HotKeyService::noErr);
        const quint32 id = status == HotKeyService::paramErr ? 1 : 2;
        QCOMPARE(m_service->registerHotKey(keyCode, modifiers, {signature, id}), status);
        // The existing key is untouched.
        pressControlShiftE();
        QTRY_COMPARE(m_events, (QList<Event> {{Kind::hotKeyPressed, 1}, {Kind::hotKeyReleased, 1}}));
    }

    void probeTellsOtherClientsGrabsFromOurs()
    {
        QCOMPARE(m_client->grab(TestX11::keyE, xControlAlt), 0);
        QCOMPARE(m_service->isTakenByAnotherClient(carbonE, carbonCommandOption), std::optional<bool>(true));

        QCOMPARE(
            m_service->registerHotKey(carbonE, carbonCommandShift, {signature, 1}), HotKeyService::noErr);
        QCOMPARE(m_service->isTakenByAnotherClient(carbonE, carbonCommandShift), std::optional<bool>(false));
        // Probing did not cost us our own grab.
        QCOMPARE(m_client->grab(TestX11::keyE, xControlShift), int(XCB_ACCESS));
        pressControlShiftE();
        QTRY_COMPARE(m_events.size(), 2);

        // A free combination is free, and stays free after the probe.
        QCOMPARE(m_service->isTakenByAnotherClient(40, 0x100), std::optional<bool>(false));
        QCOMPARE(m_client->grab(TestX11::keyK, XCB_MOD_MASK_CONTROL), 0);
        m_client->ungrab(TestX11::keyK, XCB_MOD_MASK_CONTROL);
        QCOMPARE(m_service->isTakenByAnotherClient(carbonE, 0x20000), std::nullopt);

        Platform::X11::X11SystemShortcuts reserved(*m_service);
        QVERIFY(reserved.isReserved(carbonE, carbonCommandOption));
        QVERIFY(!reserved.isReserved(carbonE, carbonCommandShift));
        QVERIFY(!reserved.isReserved(40, 0x100));
        m_client->ungrab(TestX11::keyE, xControlAlt);
        QVERIFY(!reserved.isReserved(carbonE, carbonCommandOption));
    }
};

QTEST_MAIN(TestX11HotKeyService)
#include "tst_x11hotkeyservice.moc"
