#include "hotkeys/Key.h"
#include "testlib/UseService.h"
#include "hotkeys/Shortcut.h"
#include "platform/x11/XkbKeyboardLayout.h"

#include "TargetClient.h"

#include <QTest>

using namespace Hotkeys;
using Platform::X11::XkbKeyboardLayout;

namespace {

QString at(const XkbKeyboardLayout &layout, Key key)
{
    return layout.unshiftedCharacters(quint16(key.rawValue()));
}

} // namespace

class TestXkbLayout : public QObject {
    Q_OBJECT

    std::unique_ptr<XkbKeyboardLayout> m_layout;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(TestX11::setKeymap(QStringLiteral("us")));
        m_layout = XkbKeyboardLayout::create();
        QVERIFY(m_layout);
    }
    void cleanupTestCase()
    {
        Tests::useService(&Hotkeys::Services::keyboardLayout, nullptr);
        m_layout.reset();
        TestX11::setKeymap(QStringLiteral("us"));
    }

    void usLayout()
    {
        QCOMPARE(at(*m_layout, Key::k), QStringLiteral("k"));
        QCOMPARE(at(*m_layout, Key::one), QStringLiteral("1"));
        QCOMPARE(at(*m_layout, Key::slash), QStringLiteral("/"));
        QCOMPARE(at(*m_layout, Key::space), QStringLiteral(" "));
        QCOMPARE(at(*m_layout, Key::command), QString()); // Control_L types nothing
        QCOMPARE(m_layout->unshiftedCharacters(127), QString());
        QCOMPARE(m_layout->unshiftedCharacters(65535), QString());
        QCOMPARE(m_layout->latinLayoutIndex(), 0);
        // Lookups do not reload the keymap.
        const int loads = m_layout->keymapLoads();
        for (int i = 0; i < 1000; ++i)
            QCOMPARE(at(*m_layout, Key::k), QStringLiteral("k"));
        QCOMPARE(m_layout->keymapLoads(), loads);
    }

    // The layouts a user switches to: a Latin layout after the first names the letters; a
    // non-Latin one alone names them itself; German swaps Y and Z.
    void otherLayouts()
    {
        QVERIFY(TestX11::setKeymap(QStringLiteral("ru,us")));
        QTRY_COMPARE(m_layout->latinLayoutIndex(), 1);
        QCOMPARE(at(*m_layout, Key::k), QStringLiteral("k"));
        QCOMPARE(at(*m_layout, Key::e), QStringLiteral("e"));
        Tests::useService(&Hotkeys::Services::keyboardLayout, m_layout.get());
        QCOMPARE(Shortcut(Key::k, ModifierFlags::command).presentableDescription(), QStringLiteral("⌘K"));
        QCOMPARE(Shortcut(Key::k, ModifierFlags::command).nsMenuItemKeyEquivalent(),
            std::optional(QStringLiteral("k")));

        QVERIFY(TestX11::setKeymap(QStringLiteral("ru")));
        QTRY_COMPARE(at(*m_layout, Key::k), QStringLiteral("л"));
        QCOMPARE(m_layout->latinLayoutIndex(), 0);

        QVERIFY(TestX11::setKeymap(QStringLiteral("de")));
        QTRY_COMPARE(at(*m_layout, Key::y), QStringLiteral("z"));
        QCOMPARE(at(*m_layout, Key::z), QStringLiteral("y"));
        QCOMPARE(at(*m_layout, Key::semicolon), QStringLiteral("ö"));
        QCOMPARE(
            Shortcut(Key::semicolon, ModifierFlags::control).presentableDescription(), QStringLiteral("⌃Ö"));
    }
};

QTEST_MAIN(TestXkbLayout)
#include "tst_xkblayout.moc"
