// The X11 clipboard against a real X server, with other clients (xclip, the test target in its own
// process) on the other side.
#include "platform/x11/X11Pasteboard.h"

#include "TargetClient.h"
#include "XTestDriver.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <csignal>

using namespace std::chrono_literals;
using Platform::PasteboardItem;
using Platform::X11::X11Pasteboard;
using TestX11::ClipboardView;
using TestX11::readClipboardWithXclip;
using TestX11::runTool;

namespace {

using Formats = QList<QPair<QString, QByteArray>>;

QList<PasteboardItem> save(const X11Pasteboard &pasteboard)
{
    QList<PasteboardItem> saved;
    const QList<QStringList> items = pasteboard.itemTypes();
    for (int i = 0; i < items.size(); ++i) {
        PasteboardItem item;
        for (const QString &type : items.at(i)) {
            if (const auto bytes = pasteboard.data(i, type))
                item.append({type, *bytes});
        }
        saved.append(item);
    }
    return saved;
}

} // namespace

class TestX11Pasteboard : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(m_driver.isConnected(), "needs an X server in DISPLAY");
        QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty(), "needs xclip");
        QVERIFY(m_target.start());
    }

    void init()
    {
        m_pasteboard.clearContents();
        QTRY_VERIFY(!m_driver.clipboardHasOwner());
        // Qt reports our own clear once more when the server's notice of it comes in.
        TestX11::spin(50ms);
    }

    void saveAndRestoreGiveAThirdClientTheSameTargetsAndBytes_data()
    {
        QTest::addColumn<Formats>("formats");
        const QByteArray html = QByteArrayLiteral("<p>Caf\xc3\xa9 <b>bold</b> \xe2\x80\x94 done</p>");
        QTest::newRow("text") << Formats {{QStringLiteral("text/plain"),
            QByteArrayLiteral("Gr\xc3\xbc\xc3\x9f"
                              "e, world\n  second line ")}};
        QTest::newRow("text, html and png") << Formats {
            {QStringLiteral("text/plain"), QByteArrayLiteral("Caf\xc3\xa9 bold \xe2\x80\x94 done")},
            {QStringLiteral("text/html"), html}, {QStringLiteral("image/png"), TestX11::samplePng()}};
        QTest::newRow("png only") << Formats {{QStringLiteral("image/png"), TestX11::samplePng()}};
        QTest::newRow("private type")
            << Formats {{QStringLiteral("application/x-tarnwick-test"), QByteArray("\x00\x01\x02\xff", 4)},
                   {QStringLiteral("text/plain"), QByteArrayLiteral("x")}};
    }
    void saveAndRestoreGiveAThirdClientTheSameTargetsAndBytes()
    {
        QFETCH(Formats, formats);
        const qint64 before = m_pasteboard.changeCount();
        QVERIFY(m_target.setClipboard(formats));
        QTRY_VERIFY(m_pasteboard.changeCount() != before);
        QTRY_COMPARE(m_pasteboard.data(0, formats.first().first), formats.first().second);
        // The same copied again is a new copy all the same; nothing happening, the count stays.
        const qint64 afterFirst = m_pasteboard.changeCount();
        QVERIFY(m_target.setClipboard(formats));
        QTRY_VERIFY(m_pasteboard.changeCount() != afterFirst);
        const qint64 settled = m_pasteboard.changeCount();
        TestX11::spin(100ms);
        QCOMPARE(m_pasteboard.changeCount(), settled);

        const ClipboardView original = readClipboardWithXclip();
        QVERIFY(!original.targets.isEmpty());

        const QList<PasteboardItem> saved = save(m_pasteboard);
        QCOMPARE(saved.size(), 1);
        for (const auto &[type, bytes] : formats)
            QVERIFY2(saved.first().contains(qMakePair(type, bytes)), qPrintable(type));
        for (const auto &entry : saved.first())
            QVERIFY2(!X11Pasteboard::isProtocolTarget(entry.first), qPrintable(entry.first));
        // An image alone is no string; there is one item, with only the types it has.
        if (formats.size() == 1 && formats.first().first == QLatin1String("image/png"))
            QCOMPARE(m_pasteboard.string(), std::nullopt);
        QCOMPARE(m_pasteboard.data(1, formats.first().first), std::nullopt);
        QCOMPARE(m_pasteboard.data(0, QStringLiteral("application/x-not-offered")), std::nullopt);

        m_pasteboard.setString(QStringLiteral("corrected"));
        QVERIFY(m_pasteboard.writeItems(saved));
        const ClipboardView restored = readClipboardWithXclip();
        QCOMPARE(restored.targets, original.targets);
        for (const QString &target : std::as_const(original.targets))
            QVERIFY2(restored.bytes.value(target) == original.bytes.value(target), qPrintable(target));
    }

    // A non-Qt owner (xclip) of text: cleared away at once so that the corrected text can go on,
    // and its own target keeps its exact bytes when restored.
    void textOfANonQtOwnerIsClearedAwayAndRestoredWithItsTarget()
    {
        const QByteArray text = QByteArrayLiteral("plain \xc3\xa4\xc3\xb6\xc3\xbc text");
        const qint64 before = m_pasteboard.changeCount();
        QProcess owner; // holds the clipboard until it loses it
        owner.start(QStringLiteral("xclip"),
            {QStringLiteral("-quiet"), QStringLiteral("-selection"), QStringLiteral("clipboard"),
                QStringLiteral("-t"), QStringLiteral("UTF8_STRING"), QStringLiteral("-i")});
        QVERIFY(owner.waitForStarted(5000));
        owner.write(text);
        owner.closeWriteChannel();
        QTRY_VERIFY(m_pasteboard.changeCount() != before);
        QTRY_COMPARE(m_pasteboard.string(), QString::fromUtf8(text));
        QCOMPARE(readClipboardWithXclip().targets, QStringList {QStringLiteral("UTF8_STRING")});
        const QList<PasteboardItem> saved = save(m_pasteboard);

        const qint64 owned = m_pasteboard.changeCount();
        m_pasteboard.clearContents();
        QVERIFY(m_pasteboard.changeCount() != owned);
        QTRY_COMPARE(owner.state(), QProcess::NotRunning); // xclip leaves once it has lost the clipboard
        QVERIFY(!m_driver.clipboardHasOwner());
        QVERIFY(m_pasteboard.itemTypes().isEmpty());
        m_pasteboard.setString(QStringLiteral("corrected"));
        QCOMPARE(
            readClipboardWithXclip().bytes.value(QStringLiteral("UTF8_STRING")), QByteArray("corrected"));

        // Qt offers text under all of its names; the owner's own target keeps its exact bytes.
        QVERIFY(m_pasteboard.writeItems(saved));
        const ClipboardView restored = readClipboardWithXclip();
        QVERIFY(restored.targets.contains(QStringLiteral("UTF8_STRING")));
        QCOMPARE(restored.bytes.value(QStringLiteral("UTF8_STRING")), text);
    }

    void emptyClipboardIsRestoredAsNoOwner()
    {
        QVERIFY(m_pasteboard.itemTypes().isEmpty());
        QCOMPARE(m_pasteboard.string(), std::nullopt);
        const QList<PasteboardItem> saved = save(m_pasteboard);
        QVERIFY(saved.isEmpty());

        m_pasteboard.setString(QStringLiteral("temporary"));
        QVERIFY(m_driver.clipboardHasOwner());
        const qint64 before = m_pasteboard.changeCount();
        QVERIFY(m_pasteboard.writeItems(saved));
        QVERIFY(m_pasteboard.changeCount() != before);
        QTRY_VERIFY(!m_driver.clipboardHasOwner());
    }

    void ourTextIsUtf8AndMarkedSecretAndOnlyAFetchOfItCounts()
    {
        const QStringList xclipOut {
            QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-o")};
        const QString text = QStringLiteral("Stra\u00dfe \u2014 \U0001F600 ok");
        m_pasteboard.setString(text);
        QCOMPARE(m_pasteboard.string(), text);
        QVERIFY(!m_pasteboard.contentsFetchedSinceLastWrite());

        // What a clipboard manager asks before it records is not a paste.
        QCOMPARE(runTool(QStringLiteral("xclip"),
                     xclipOut + QStringList {QStringLiteral("-t"), QStringLiteral("TARGETS")})
                     .exitCode,
            0);
        QCOMPARE(runTool(QStringLiteral("xclip"),
                     xclipOut + QStringList {QStringLiteral("-t"), Platform::passwordManagerHintType()})
                     .out,
            QByteArray("secret"));
        TestX11::spin(50ms);
        QVERIFY(!m_pasteboard.contentsFetchedSinceLastWrite());

        const ClipboardView view = readClipboardWithXclip();
        QCOMPARE(view.bytes.value(QStringLiteral("UTF8_STRING")), text.toUtf8());
        QCOMPARE(view.bytes.value(QStringLiteral("text/plain")), text.toUtf8());
        QVERIFY(m_pasteboard.contentsFetchedSinceLastWrite());

        // A new write starts over.
        m_pasteboard.setString(QStringLiteral("again"));
        QVERIFY(!m_pasteboard.contentsFetchedSinceLastWrite());
    }

    void severalItemsAreMergedIntoTheOneX11Item()
    {
        const QList<PasteboardItem> items {
            {{QStringLiteral("text/plain"), "first item"}, {QStringLiteral("TARGETS"), "bogus"}},
            {{QStringLiteral("text/plain"), "second item"}, {QStringLiteral("text/html"), "<i>second</i>"},
                {QStringLiteral("application/x-qt-image"), "bogus"}},
        };
        QVERIFY(m_pasteboard.writeItems(items));
        QCOMPARE(m_pasteboard.string(), QStringLiteral("first item"));
        const ClipboardView view = readClipboardWithXclip();
        QCOMPARE(view.bytes.value(QStringLiteral("text/html")), QByteArray("<i>second</i>"));
        QCOMPARE(view.bytes.value(QStringLiteral("text/plain")), QByteArray("first item"));
        QVERIFY(!view.targets.contains(QStringLiteral("application/x-qt-image")));
        QVERIFY(!view.targets.contains(QStringLiteral("image/png")));
    }

    void frozenOwnerKeepsItsClipboard()
    {
        TestX11::TargetClient frozen;
        QVERIFY(frozen.start());
        const qint64 before = m_pasteboard.changeCount();
        QVERIFY(frozen.setClipboard({{QStringLiteral("text/plain"), "held by a frozen owner"}}));
        QTRY_VERIFY(m_pasteboard.changeCount() != before);
        QTRY_COMPARE(m_pasteboard.string(), QStringLiteral("held by a frozen owner"));
        QVERIFY(::kill(pid_t(frozen.pid()), SIGSTOP) == 0);

        // Qt waits 5 s for an answer, then we have nothing to save...
        QElapsedTimer timer;
        timer.start();
        const QList<PasteboardItem> saved = save(m_pasteboard);
        QVERIFY(saved.isEmpty());
        QVERIFY(timer.elapsed() < 7000);
        // ...and giving that back must not take the owner's contents away.
        QVERIFY(m_pasteboard.writeItems(saved));
        QVERIFY(m_driver.clipboardHasOwner());

        QVERIFY(::kill(pid_t(frozen.pid()), SIGCONT) == 0);
        QCOMPARE(readClipboardWithXclip().bytes.value(QStringLiteral("text/plain")),
            QByteArray("held by a frozen owner"));
    }

    void cleanupTestCase() { m_pasteboard.clearContents(); }

private:
    X11Pasteboard m_pasteboard;
    TestX11::XTestDriver m_driver;
    TestX11::TargetClient m_target;
};

QTEST_MAIN(TestX11Pasteboard)
#include "tst_x11pasteboard.moc"
