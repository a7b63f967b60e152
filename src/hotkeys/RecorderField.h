#pragma once

#include "hotkeys/Name.h"
#include "hotkeys/Shortcut.h"
#include "platform/qt/NotificationCenter.h"

#include <QLineEdit>

#include <functional>
#include <memory>
#include <optional>

namespace Platform {
class KeyEventTranslator;
struct KeyEvent;
} // namespace Platform

namespace Hotkeys {

class RecordingEventMonitor;

// Posted on the default notification centre when a recorder starts ("isActive" true) and ends
// ("isActive" false) recording.
QString recorderActiveStatusDidChange();

// The control in which the user records the shortcut of one name. It shows the stored shortcut
// (or a placeholder) and a clear button while one is set; it records exactly while it has the
// keyboard focus, judging every key press: a usable one is stored, an unusable one beeps, one
// that a menu item or the system already uses raises an alert. While it records, the dispatch of
// every global shortcut is paused and the process's own hot keys are released, so that the keys
// reach this control.
class RecorderField : public QLineEdit {
    Q_OBJECT

public:
    using OnChange = std::function<void(const std::optional<Shortcut> &)>;

    // Width reported as the field's natural width.
    static constexpr int minimumFieldWidth = 130;
    // How far outside its edges a click still counts as a click on the field.
    static constexpr int clickMargin = 3;

    // `onChange` is called after this control stored a shortcut (with it) or cleared it (with
    // nothing); changes made elsewhere never call it.
    explicit RecorderField(const Name &name, OnChange onChange = {}, QWidget *parent = nullptr);
    ~RecorderField() override;

    Name shortcutName() const { return m_shortcutName; }
    // Shows the new name's shortcut; assigning an equal name re-reads nothing.
    void setShortcutName(const Name &name);

    bool isRecording() const;
    // Whether keyboard navigation and window activation may give this control the focus now.
    bool canBecomeKey() const { return m_canBecomeKey; }
    // Whether the text caret is hidden (it is while recording).
    bool isCaretHidden() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    bool event(QEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void setStringValue(const Name &name);
    void setShowsCancelButton(bool shows);
    void preventBecomingKey();
    void setCanBecomeKey(bool can);
    void setCaretHidden(bool hidden);
    void startRecording();
    void endRecording();
    void onTextEdited(const QString &text);
    // Answers true to swallow the event, false to let it go on to its receiver.
    bool handleRecordingEvent(QEvent *event);
    bool handleKeyDown(const Platform::KeyEvent &keyEvent);
    bool clearButtonContains(const QPoint &globalPosition) const;
    QWidget *hostWindow() const;
    void blur();
    void focus();
    void clearShortcut();

    const OnChange m_onChange;
    bool m_canBecomeKey = false;
    std::unique_ptr<RecordingEventMonitor> m_eventMonitor;
    Platform::NotificationCenter::TokenPtr m_shortcutsNameChangeObserver;
    Name m_shortcutName;
    QWidget *m_observedWindow = nullptr;
    QStyle *m_caretStyle = nullptr;
    bool m_suspendedHotKeys = false;
};

} // namespace Hotkeys
