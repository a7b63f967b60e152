#pragma once

#include "app/APIClient.h"
#include "app/TextProcessorState.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <QCoroTask>

#include <chrono>
#include <functional>
#include <memory>

class AccessibilityChecker;
class QAction;
class QMenu;
class QWidget;

namespace Platform {
class Clock;
class Notices;
struct Notice;
} // namespace Platform

// The tray icon's menu: a status line, the two correction commands, the settings and quitting.
// It follows the text processor's state and the Accessibility permission as they change, also
// while it is open.
class MenuContent : public QObject {
    Q_OBJECT

public:
    // A command waits this long before it runs, so that the menu has closed and the application
    // whose text is selected is in front again when the copy keystroke goes out.
    static constexpr std::chrono::milliseconds CommandDelay {200};

    // `processor` is the text processor (or anything with `state()`, a
    // `stateChanged(const TextProcessorState &)` signal and `QCoro::Task<> run(FixMode)`);
    // `clock` must outlive every command started from the menu; `notices`, when given, are the
    // problems the status line shows while no run is busy, and must outlive the menu.
    template <typename Processor>
    MenuContent(AccessibilityChecker &ax, Processor &processor, Platform::Clock &clock,
        const Platform::Notices *notices = nullptr, QObject *parent = nullptr)
        : MenuContent(ax, clock, notices, parent)
    {
        QPointer<Processor> guard(&processor);
        m_state = [guard] { return guard ? guard->state() : TextProcessorState::idle(); };
        m_run = [guard](FixMode mode) { return guard ? guard->run(mode) : finished(); };
        connect(&processor, &Processor::stateChanged, this, &MenuContent::refresh);
        refresh();
    }
    ~MenuContent() override;

    // The status line's text for a state: what the processor is doing, its last error, or, when
    // idle, the first current problem or whether it is ready (which needs the permission).
    static QString statusLine(
        const TextProcessorState &state, bool isTrusted, const QList<Platform::Notice> &notices = {});
    // Whether the correction commands are offered: with the permission, and no run busy.
    static bool canRun(const TextProcessorState &state, bool isTrusted);
    // A text as a menu item shows it unchanged: "&" kept (not a mnemonic), line breaks and tabs
    // as spaces, and cut with "…" beyond MaxItemLength characters so a long backend message
    // cannot stretch the menu across the screen.
    static QString menuItemText(const QString &text);
    static constexpr int MaxItemLength = 64;

    QMenu *menu() const { return m_menu.get(); }
    QAction *statusAction() const { return m_status; }
    QAction *fixAction() const { return m_fix; }
    QAction *formalAction() const { return m_formal; }
    QAction *settingsAction() const { return m_settings; }
    QAction *quitAction() const { return m_quit; }

    // What "Settings…" does: open the settings window, or bring it to the front.
    void setOpenSettings(std::function<void()> openSettings) { m_openSettings = std::move(openSettings); }

    // Re-reads the state and the permission into the items; called on every change of either.
    void refresh();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    MenuContent(
        AccessibilityChecker &ax, Platform::Clock &clock, const Platform::Notices *notices, QObject *parent);
    void runCommand(FixMode mode);
    void openSettings();
    static QCoro::Task<> finished();
    static QCoro::Task<> runAfterDelay(
        Platform::Clock &clock, std::function<QCoro::Task<>(FixMode)> run, FixMode mode);

    AccessibilityChecker &m_ax;
    Platform::Clock &m_clock;
    const Platform::Notices *m_notices;
    std::function<TextProcessorState()> m_state;
    std::function<QCoro::Task<>(FixMode)> m_run;
    std::function<void()> m_openSettings;
    std::unique_ptr<QMenu> m_menu;
    QAction *m_status = nullptr;
    QAction *m_fix = nullptr;
    QAction *m_formal = nullptr;
    QAction *m_settings = nullptr;
    QAction *m_quit = nullptr;
};
