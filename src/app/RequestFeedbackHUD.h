#pragma once

#include "app/RequestFeedbackView.h"
#include "app/TextProcessorState.h"
#include "platform/Screens.h"

#include <QObject>
#include <QPoint>
#include <QSize>

#include <chrono>
#include <memory>
#include <optional>

// The floating feedback panel beside the pointer: a spinner while the text processor is busy, a
// check mark after a successful run, a cross after a failed one, gone by itself shortly after a
// result. The panel never takes the focus and lets clicks through, so that it cannot disturb the
// keystrokes that the processor posts to the front application.
class RequestFeedbackHUD : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds SuccessDismissDelay {900};
    static constexpr std::chrono::milliseconds FailureDismissDelay {2000};
    // A 16 ms tick is the closest whole-millisecond interval to 60 moves a second.
    static constexpr std::chrono::milliseconds FollowInterval {16};
    static constexpr int PointerGapX = 14; // panel's left edge right of the pointer
    static constexpr int PointerGapY = 6; // panel's top edge below the pointer
    static constexpr int ScreenMargin = 12;

    RequestFeedbackHUD(Platform::Clock &clock, Platform::Screens &screens, QObject *parent = nullptr);
    ~RequestFeedbackHUD() override;

    // Follows `source`'s state from now on (`source` is the text processor, or anything with a
    // `state()` and a `stateChanged(const TextProcessorState &)` signal). The current state is
    // handled at once.
    template <typename StateSource> void bind(StateSource *source)
    {
        QObject::disconnect(m_stateConnection);
        m_stateConnection = connect(source, &StateSource::stateChanged, this, &RequestFeedbackHUD::handle);
        handle(source->state());
    }

    // What one state change does to the panel: the content to show, or none to hide it; and the
    // state to remember as the previous one.
    struct Reaction {
        std::optional<RequestFeedbackContent> show;
        TextProcessorState previousState;
        bool operator==(const Reaction &) const = default;
    };
    static Reaction reaction(const TextProcessorState &previous, const TextProcessorState &state);

    // How long a content stays up before it goes by itself; none for the spinner.
    static std::optional<std::chrono::milliseconds> dismissDelay(RequestFeedbackContent content);

    // Where the panel's top-left corner goes: beside the pointer, kept inside the available area
    // of the screen under the pointer (or of the primary screen when no screen holds it).
    static QPoint panelOrigin(QSize size, QPoint pointer, const QList<Platform::ScreenGeometry> &screens,
        const std::optional<Platform::ScreenGeometry> &primary);
    // The first screen whose whole area holds `point`.
    static std::optional<Platform::ScreenGeometry> screenContaining(
        QPoint point, const QList<Platform::ScreenGeometry> &screens);

    // For inspection: the panel window (none before the first show), its timers and memory.
    RequestFeedbackView *panel() const { return m_panel.get(); }
    bool isFollowingCursor() const { return m_followTimer != nullptr; }
    bool isDismissPending() const { return m_dismissTimer != nullptr; }
    const TextProcessorState &previousState() const { return m_previousState; }

private:
    void handle(const TextProcessorState &state);
    void show(RequestFeedbackContent content);
    void hide();
    void startFollowingCursor();
    void createPanel();
    QPoint panelOrigin(QSize size) const;

    Platform::Clock &m_clock;
    Platform::Screens &m_screens;
    std::unique_ptr<RequestFeedbackView> m_panel;
    QMetaObject::Connection m_stateConnection;
    std::unique_ptr<Platform::Timer> m_dismissTimer;
    std::unique_ptr<Platform::Timer> m_followTimer;
    TextProcessorState m_previousState = TextProcessorState::idle();
};
