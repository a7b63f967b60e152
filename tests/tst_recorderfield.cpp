#include "hotkeys/Alert.h"
#include "testlib/UseService.h"
#include "hotkeys/Constants.h"
#include "hotkeys/Localization.h"
#include "hotkeys/Hotkeys.h"
#include "hotkeys/Recorder.h"
#include "hotkeys/RecorderField.h"
#include "platform/KeyEvent.h"
#include "platform/qt/NotificationCenter.h"
#include "platform/fake/FakeKeyEventTranslator.h"
#include "testlib/HotkeysFixture.h"

#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

using Hotkeys::Name;
using Hotkeys::RecorderField;
using Hotkeys::Shortcut;

namespace {

constexpr qint64 command = 0x100;
constexpr qint64 shift = 0x200;
constexpr qint64 option = 0x800;
constexpr qint64 control = 0x1000;

// Adds flags that Qt's test events cannot carry (Caps Lock, Function) to every translated event.
class FlagAddingTranslator final : public Platform::KeyEventTranslator {
public:
    std::optional<Platform::KeyEvent> keyEvent(const QKeyEvent &event) const override
    {
        auto translated = m_base.keyEvent(event);
        if (translated)
            translated->modifierFlags |= extraFlags;
        return translated;
    }
    quint64 extraFlags = 0;

private:
    Platform::FakeKeyEventTranslator m_base;
};

// A dialog (Escape would close it) with a line edit, the recorder and a button, in tab order.
struct Window {
    explicit Window(const Name &name)
    {
        auto *layout = new QVBoxLayout(&dialog);
        before = new QLineEdit;
        layout->addWidget(before);
        field = new RecorderField(name, [this](const std::optional<Shortcut> &s) { changes.append(s); });
        layout->addWidget(field);
        after = new QPushButton(QStringLiteral("After"));
        layout->addWidget(after);
        dialog.show();
        dialog.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        // Let the field's one-turn guard against taking focus on activation run out.
        QApplication::processEvents();
    }
    void startRecording()
    {
        field->setFocus();
        QVERIFY(field->isRecording());
    }

    QDialog dialog;
    QLineEdit *before = nullptr;
    RecorderField *field = nullptr;
    QPushButton *after = nullptr;
    QList<std::optional<Shortcut>> changes;
};

QList<bool> activeStatuses(const QList<Platform::NotificationCenter::UserInfo> &posts)
{
    QList<bool> result;
    for (const auto &info : posts)
        result.append(info.value(QStringLiteral("isActive")).toBool());
    return result;
}

} // namespace

class TestRecorderField : public QObject {
    Q_OBJECT

private:
    Name name {QStringLiteral("recorderTest")};
    Name other {QStringLiteral("recorderOther")};
    std::unique_ptr<Tests::HotkeysFixture> m_fixture;

private Q_SLOTS:
    void init() { m_fixture = std::make_unique<Tests::HotkeysFixture>(); }
    void cleanup() { m_fixture.reset(); }

    void judgingPressedCombinations_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<quint64>("extraFlags"); // 0x10000 Caps Lock, 0x800000 Fn
        QTest::addColumn<bool>("stored");
        QTest::addColumn<qint64>("keyCode");
        QTest::addColumn<qint64>("carbon");
        // Refused, then stored with the key code and Carbon modifiers.
        const auto no = [](const char *name, int key, Qt::KeyboardModifiers modifiers, quint64 extra = 0) {
            QTest::newRow(name) << key << modifiers << extra << false << qint64(0) << qint64(0);
        };
        const auto yes = [](const char *name, int key, Qt::KeyboardModifiers modifiers, qint64 keyCode,
                             qint64 carbon, quint64 extra = 0) {
            QTest::newRow(name) << key << modifiers << extra << true << keyCode << carbon;
        };
        no("letter alone", Qt::Key_K, {});
        no("Shift+letter", Qt::Key_K, Qt::ShiftModifier);
        no("Shift+Tab", Qt::Key_Backtab, Qt::ShiftModifier);
        no("Caps Lock+letter", Qt::Key_K, {}, 0x10000);
        yes("Ctrl+Shift+K", Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier, 40, command | shift);
        yes("Super+K", Qt::Key_K, Qt::MetaModifier, 40, control);
        yes("Alt+Shift+E, no sandbox rule here", Qt::Key_E, Qt::AltModifier | Qt::ShiftModifier, 14,
            option | shift);
        yes("Caps Lock+Ctrl+K", Qt::Key_K, Qt::ControlModifier, 40, command, 0x10000);
        yes("Ctrl+Space", Qt::Key_Space, Qt::ControlModifier, 49, command);
        yes("F5 alone", Qt::Key_F5, {}, 96, 0);
        yes("F12 alone, never reserved", Qt::Key_F12, {}, 111, 0);
        yes("Fn+F5 drops Fn", Qt::Key_F5, {}, 96, 0, 0x800000);
    }
    void judgingPressedCombinations()
    {
        QFETCH(int, key);
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(quint64, extraFlags);
        QFETCH(bool, stored);

        FlagAddingTranslator translator;
        translator.extraFlags = extraFlags;
        Tests::useService(&Hotkeys::Services::keyEventTranslator, &translator);
        m_fixture->systemShortcuts.add(111, 0);
        Window w(name);
        w.startRecording();

        // Modifier keys alone are neither refused nor recorded.
        QTest::keyPress(w.field, Qt::Key_Control, Qt::ControlModifier);
        QTest::keyPress(w.field, Qt::Key_Shift, Qt::ControlModifier | Qt::ShiftModifier);
        QTest::keyClick(w.field, Qt::Key(key), modifiers);

        if (stored) {
            QFETCH(qint64, keyCode);
            QFETCH(qint64, carbon);
            const Shortcut expected(keyCode, carbon);
            QCOMPARE(Hotkeys::getShortcut(name), std::optional<Shortcut>(expected));
            QCOMPARE(w.changes, (QList<std::optional<Shortcut>> {expected}));
            QCOMPARE(w.field->text(), expected.nativeText());
            QVERIFY(w.field->isClearButtonEnabled());
            QCOMPARE(m_fixture->beeps, 0);
            QVERIFY(!w.field->isRecording()); // an accepted shortcut ends recording
            QVERIFY(!w.field->hasFocus());
            QVERIFY(!Hotkeys::isPaused());
        } else {
            QCOMPARE(Hotkeys::getShortcut(name), std::nullopt);
            QVERIFY(w.changes.isEmpty());
            QCOMPARE(m_fixture->beeps, 1);
            QVERIFY(w.field->isRecording()); // a refused key leaves recording on
            QVERIFY(Hotkeys::isPaused());
        }
        QVERIFY(m_fixture->alerts.isEmpty());
    }

    // Escape, Tab and a click further than 3 px out end recording and store nothing.
    void escapeTabAndClicksOutsideEndRecording()
    {
        Hotkeys::setShortcut(Shortcut(14, command | shift), name);
        Window w(name);
        w.startRecording();
        QTest::keyClick(w.field, Qt::Key_Escape);
        QVERIFY(!w.field->isRecording());
        QVERIFY(!Hotkeys::isPaused());
        QVERIFY(w.dialog.isVisible()); // the dialog never saw the Escape
        w.startRecording();
        QTest::keyClick(w.field, Qt::Key_Tab);
        QVERIFY(!w.field->isRecording());
        QVERIFY(w.after->hasFocus());

        w.startRecording();
        const QPoint fieldTopLeft = w.field->mapTo(&w.dialog, QPoint(0, 0));
        const int middleY = fieldTopLeft.y() + w.field->height() / 2;
        QTest::mouseClick(&w.dialog, Qt::LeftButton, {}, QPoint(fieldTopLeft.x() - 2, middleY));
        QVERIFY(w.field->isRecording());
        QTest::mouseClick(
            &w.dialog, Qt::RightButton, {}, QPoint(fieldTopLeft.x() + w.field->width() + 2, middleY));
        QVERIFY(w.field->isRecording());
        QTest::mouseClick(w.after, Qt::LeftButton);
        QVERIFY(!w.field->isRecording());
        QVERIFY(!Hotkeys::isPaused());
        QCOMPARE(Hotkeys::getShortcut(name), std::optional<Shortcut>(Shortcut(14, command | shift)));
        QVERIFY(w.changes.isEmpty());
        QCOMPARE(m_fixture->beeps, 0);
    }

    void deleteKeysAndTheClearButtonClearAndRecord_data()
    {
        QTest::addColumn<int>("key"); // 0: the clear button
        QTest::newRow("Backspace (AppKit's Delete)") << int(Qt::Key_Backspace);
        QTest::newRow("Delete (Forward Delete)") << int(Qt::Key_Delete);
        QTest::newRow("clear button") << 0;
    }
    void deleteKeysAndTheClearButtonClearAndRecord()
    {
        QFETCH(int, key);
        Hotkeys::setShortcut(Shortcut(14, command | shift), name);
        Window w(name);
        QVERIFY(w.field->isClearButtonEnabled());
        QCOMPARE(w.field->text(), Shortcut(14, command | shift).nativeText());
        if (key) {
            w.startRecording();
            QTest::keyClick(w.field, Qt::Key(key));
        } else {
            QVERIFY(!w.field->isRecording());
            QToolButton *clear = nullptr;
            for (auto *button : w.field->findChildren<QToolButton *>()) {
                if (button->isVisible())
                    clear = button;
            }
            QVERIFY(clear);
            QTest::mouseClick(clear, Qt::LeftButton, {}, clear->rect().center());
        }
        QCOMPARE(Hotkeys::getShortcut(name), std::nullopt);
        QCOMPARE(w.changes, (QList<std::optional<Shortcut>> {std::nullopt}));
        QVERIFY(w.field->text().isEmpty());
        QVERIFY(!w.field->isClearButtonEnabled());
        QVERIFY(w.field->isRecording());
        QVERIFY(Hotkeys::isPaused());
        QCOMPARE(w.field->placeholderText(), Hotkeys::localizedString(QStringLiteral("press_shortcut")));

        // Without a shortcut there is nothing to clear: no change is reported again.
        QTest::keyClick(w.field, key ? Qt::Key(key) : Qt::Key_Backspace);
        QCOMPARE(w.changes.size(), 1);
    }

    // A shortcut that a menu item or the system holds raises an alert, during which recording
    // pauses; only "use anyway" for the system's stores it.
    void reservedShortcutRaisesAnAlert_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<qint64>("keyCode");
        QTest::addColumn<qint64>("carbon");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("stored");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QStringList>("buttons"); // the system's alert alone has a message and buttons
        const int ok = Hotkeys::alertFirstButtonReturn, useAnyway = ok + 1;
        const auto text = [](const char *key) { return Hotkeys::localizedString(QString::fromLatin1(key)); };
        const QString system = text("keyboard_shortcut_used_by_system");
        const QStringList buttons {text("ok"), text("force_use_shortcut")};
        QTest::newRow("menu item") << int(Qt::Key_Q) << qint64(12) << command << ok << false
                                   << text("keyboard_shortcut_used_by_menu_item").arg(QStringLiteral("Quit"))
                                   << QStringList();
        QTest::newRow("system, ok keeps the old shortcut")
            << int(Qt::Key_K) << qint64(40) << command << ok << false << system << buttons;
        QTest::newRow("system, use anyway stores it")
            << int(Qt::Key_K) << qint64(40) << command << useAnyway << true << system << buttons;
        // Only plain F12 is exempt (see judgingPressedCombinations).
        QTest::newRow("system, Shift+F12")
            << int(Qt::Key_F12) << qint64(111) << shift << ok << false << system << buttons;
    }
    void reservedShortcutRaisesAnAlert()
    {
        QFETCH(int, key);
        QFETCH(qint64, keyCode);
        QFETCH(qint64, carbon);
        QFETCH(int, answer);
        QFETCH(bool, stored);
        QFETCH(QStringList, buttons);
        QMenu menu;
        menu.addAction(QStringLiteral("&Quit"))->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
        Hotkeys::setMainMenu(&menu);
        if (!buttons.isEmpty())
            m_fixture->systemShortcuts.add(keyCode, carbon);
        m_fixture->systemShortcuts.add(111, 0);
        Hotkeys::setShortcut(Shortcut(14, command | shift), name);
        Window w(name);
        w.startRecording();
        QList<bool> recordingDuringAlert;
        m_fixture->onAlert = [&](const Hotkeys::Alert &) {
            recordingDuringAlert.append(w.field->isRecording());
            return answer;
        };
        QTest::keyClick(w.field, Qt::Key(key), carbon == shift ? Qt::ShiftModifier : Qt::ControlModifier);

        QCOMPARE(m_fixture->alerts.size(), 1);
        const Hotkeys::Alert &alert = m_fixture->alerts[0];
        QTEST(alert.title, "title");
        QCOMPARE(alert.message,
            buttons.isEmpty()
                ? QString()
                : Hotkeys::localizedString(QStringLiteral("keyboard_shortcuts_can_be_changed")));
        QCOMPARE(alert.buttonTitles, buttons);
        QCOMPARE(recordingDuringAlert, QList<bool> {false});
        const Shortcut expected = stored ? Shortcut(keyCode, carbon) : Shortcut(14, command | shift);
        QCOMPARE(Hotkeys::getShortcut(name), std::optional<Shortcut>(expected));
        QCOMPARE(w.changes.size(), stored ? 1 : 0);
        QCOMPARE(w.field->isRecording(), !stored); // resumed after the alert
        if (!stored)
            QCOMPARE(activeStatuses(m_fixture->recorderStatusPosts), (QList<bool> {true, false, true}));
    }

    // Recording pauses the hot keys and lets go of their keys.
    void pauseAndStatusFollowRecording()
    {
        const Shortcut ours(14, command | shift);
        Hotkeys::setShortcut(ours, other);
        Window w(name);
        auto *idle = new RecorderField(other);
        w.dialog.layout()->addWidget(idle);
        QVERIFY(!Hotkeys::isPaused());
        QVERIFY(m_fixture->isGrabbed(ours));
        QCOMPARE(w.field->placeholderText(), Hotkeys::localizedString(QStringLiteral("record_shortcut")));

        QVERIFY(!w.field->isCaretHidden());
        w.startRecording();
        delete idle; // an idle field going away leaves the recording one paused
        QVERIFY(Hotkeys::isPaused());
        QVERIFY(!m_fixture->isGrabbed(ours));
        QVERIFY(w.field->isCaretHidden());
        QCOMPARE(w.field->placeholderText(), Hotkeys::localizedString(QStringLiteral("press_shortcut")));
        QCOMPARE(activeStatuses(m_fixture->recorderStatusPosts), QList<bool> {true});

        // Focus taken by another control.
        w.before->setFocus();
        QVERIFY(!w.field->isRecording());
        QVERIFY(!Hotkeys::isPaused());
        QVERIFY(m_fixture->isGrabbed(ours));
        QVERIFY(!w.field->isCaretHidden());
        QCOMPARE(w.field->placeholderText(), Hotkeys::localizedString(QStringLiteral("record_shortcut")));
        QCOMPARE(activeStatuses(m_fixture->recorderStatusPosts), (QList<bool> {true, false}));

        // The window losing its activation ends recording and drops the focus.
        w.startRecording();
        QWidget otherWindow;
        otherWindow.show();
        otherWindow.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&otherWindow));
        QVERIFY(!w.field->isRecording());
        QVERIFY(!Hotkeys::isPaused());
        w.dialog.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w.dialog));
        QVERIFY(!w.field->hasFocus()); // reactivation does not resume recording by itself
        QVERIFY(!w.field->isRecording());
        QApplication::processEvents();

        // Destroyed while recording.
        w.startRecording();
        delete w.field;
        QVERIFY(!Hotkeys::isPaused());
        QCOMPARE(activeStatuses(m_fixture->recorderStatusPosts).last(), false);
    }

    // Neither activating its window nor taking the focus outside any window starts recording.
    void windowActivationDoesNotStartRecording()
    {
        QWidget window;
        auto *layout = new QVBoxLayout(&window);
        auto *field = new RecorderField(name);
        layout->addWidget(field);
        layout->addWidget(new QPushButton(QStringLiteral("Other")));
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QVERIFY(!field->isRecording());
        QVERIFY(!field->hasFocus());
        QApplication::processEvents();
        QVERIFY(field->canBecomeKey()); // one turn later keyboard navigation may reach it again
        QTest::mouseClick(field, Qt::LeftButton);
        QVERIFY(field->isRecording());
        window.hide();

        RecorderField alone(other);
        alone.show();
        alone.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&alone));
        alone.setFocus();
        QVERIFY(!alone.isRecording());
        QVERIFY(!Hotkeys::isPaused());
    }

    void displayFollowsTheStoreForItsOwnName()
    {
        Window w(name);
        QVERIFY(w.field->text().isEmpty());
        QVERIFY(!w.field->isClearButtonEnabled());

        Hotkeys::setShortcut(Shortcut(40, command), name);
        QCOMPARE(w.field->text(), Shortcut(40, command).nativeText());
        QVERIFY(w.field->isClearButtonEnabled());
        Hotkeys::setShortcut(Shortcut(41, command), other);
        QCOMPARE(w.field->text(), Shortcut(40, command).nativeText());
        Hotkeys::setShortcut(std::nullopt, name);
        QVERIFY(w.field->text().isEmpty());
        QVERIFY(w.changes.isEmpty()); // changes made elsewhere never call onChange

        // The same name again re-reads nothing; another name shows its own shortcut.
        m_fixture->defaults.setValue(QStringLiteral("Hotkeys_") + name.rawValue(),
            QStringLiteral("{\"carbonKeyCode\":2,\"carbonModifiers\":256}"));
        w.field->setShortcutName(Name(name.rawValue()));
        QVERIFY(w.field->text().isEmpty());
        w.field->setShortcutName(other);
        QCOMPARE(w.field->text(), Shortcut(41, command).nativeText());
        w.field->setShortcutName(name);
        QCOMPARE(w.field->text(), Shortcut(2, command).nativeText());
    }

    void recorderWrapperPlacesTheField()
    {
        Hotkeys::Recorder plain(name);
        QVERIFY(!plain.hasLabel());
        QCOMPARE(plain.field()->shortcutName(), name);
        Hotkeys::Recorder labelled(QStringLiteral("Fix <b>text</b>"), name);
        QVERIFY(labelled.hasLabel());
        QCOMPARE(qobject_cast<QLabel *>(labelled.label())->text(), QStringLiteral("Fix <b>text</b>"));
        QCOMPARE(qobject_cast<QLabel *>(labelled.label())->textFormat(), Qt::PlainText);
        labelled.setName(other);
        QCOMPARE(labelled.field()->shortcutName(), other);
    }
};

QTEST_MAIN(TestRecorderField)
#include "tst_recorderfield.moc"
