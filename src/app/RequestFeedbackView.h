#pragma once

#include <QImage>
#include <QWidget>

#include <chrono>
#include <memory>

namespace Platform {
class Clock;
class Timer;
} // namespace Platform

// What the feedback panel shows: the spinner while a run is busy, a check mark after a success,
// a cross after a failure (the message itself is shown by the menu and the settings window).
enum class RequestFeedbackContent { Loading, Success, Failure };

// The feedback panel's content: a white icon with two soft shadows and no background, so that
// it stays legible on light and dark windows alike. The spinner (`WhiteSpinner`) is an open arc
// that turns once every 0.85 s, animated through the clock only while the view is shown.
class RequestFeedbackView : public QWidget {
    Q_OBJECT

public:
    // Spinner frames; a 16 ms tick is the closest whole-millisecond interval to 60 frames a second.
    static constexpr std::chrono::milliseconds FrameInterval {16};
    static constexpr std::chrono::milliseconds SpinnerTurn {850};
    static constexpr int Padding = 3;

    explicit RequestFeedbackView(Platform::Clock &clock, QWidget *parent = nullptr);
    ~RequestFeedbackView() override;

    RequestFeedbackContent content() const { return m_content; }
    // Replaces the content; the spinner starts again from 0 degrees, as a freshly built view would.
    void setContent(RequestFeedbackContent content);

    // Without a compositor, transparent pixels would show black: cut the window to the icon instead.
    void setShaped(bool shaped);
    bool isShaped() const { return m_shaped; }

    // The spinner's current angle in degrees, clockwise, in [0, 360).
    qreal rotation() const;
    bool isAnimating() const { return m_animation != nullptr; }

    QSize sizeHint() const override { return fittingSize(m_content); }

    // The content's natural size: the icon plus the padding on every side.
    static QSize fittingSize(RequestFeedbackContent content);
    // One frame of the content, shadows included, at `devicePixelRatio`.
    static QImage render(RequestFeedbackContent content, qreal rotationDegrees, qreal devicePixelRatio = 1.0);

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void updateAnimation();
    void refreshFrame();

    Platform::Clock &m_clock;
    RequestFeedbackContent m_content = RequestFeedbackContent::Loading;
    std::chrono::milliseconds m_spinStart {0};
    std::unique_ptr<Platform::Timer> m_animation;
    QImage m_frame;
    bool m_shaped = false;
};
