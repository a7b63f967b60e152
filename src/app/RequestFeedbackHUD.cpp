#include "app/RequestFeedbackHUD.h"

#include "platform/Clock.h"

#include <algorithm>

RequestFeedbackHUD::RequestFeedbackHUD(Platform::Clock &clock, Platform::Screens &screens, QObject *parent)
    : QObject(parent)
    , m_clock(clock)
    , m_screens(screens)
{
}

RequestFeedbackHUD::~RequestFeedbackHUD()
{
    QObject::disconnect(m_stateConnection);
    m_dismissTimer.reset();
    m_followTimer.reset();
}

RequestFeedbackHUD::Reaction RequestFeedbackHUD::reaction(
    const TextProcessorState &previous, const TextProcessorState &state)
{
    if (state.isBusy())
        return {RequestFeedbackContent::Loading, state};
    if (state.isError())
        return {RequestFeedbackContent::Failure, state};
    // Idle: a success only when it ends a busy run; after an error display it just hides.
    if (previous.isBusy())
        return {RequestFeedbackContent::Success, state};
    return {std::nullopt, TextProcessorState::idle()};
}

std::optional<std::chrono::milliseconds> RequestFeedbackHUD::dismissDelay(RequestFeedbackContent content)
{
    switch (content) {
    case RequestFeedbackContent::Loading:
        return std::nullopt;
    case RequestFeedbackContent::Success:
        return SuccessDismissDelay;
    case RequestFeedbackContent::Failure:
        return FailureDismissDelay;
    }
    return std::nullopt;
}

std::optional<Platform::ScreenGeometry> RequestFeedbackHUD::screenContaining(
    QPoint point, const QList<Platform::ScreenGeometry> &screens)
{
    for (const Platform::ScreenGeometry &screen : screens)
        if (screen.geometry.contains(point))
            return screen;
    return std::nullopt;
}

QPoint RequestFeedbackHUD::panelOrigin(QSize size, QPoint pointer,
    const QList<Platform::ScreenGeometry> &screens, const std::optional<Platform::ScreenGeometry> &primary)
{
    std::optional<Platform::ScreenGeometry> screen = screenContaining(pointer, screens);
    if (!screen)
        screen = primary;
    const QRect available = screen ? screen->availableGeometry : QRect(0, 0, 0, 0);
    // Exclusive right and bottom edges, as for the screen's width and height.
    const int left = available.x(), top = available.y();
    const int right = available.x() + available.width(), bottom = available.y() + available.height();

    // When the panel does not fit, its top-left corner stays at the margin, on the screen.
    auto place
        = [](int wanted, int low, int high) { return low > high ? low : std::clamp(wanted, low, high); };
    const int x = place(pointer.x() + PointerGapX, left + ScreenMargin, right - size.width() - ScreenMargin);
    const int y = place(pointer.y() + PointerGapY, top + ScreenMargin, bottom - size.height() - ScreenMargin);
    return {x, y};
}

QPoint RequestFeedbackHUD::panelOrigin(QSize size) const
{
    return panelOrigin(size, m_screens.pointerPosition(), m_screens.screens(), m_screens.primaryScreen());
}

void RequestFeedbackHUD::handle(const TextProcessorState &state)
{
    const Reaction r = reaction(m_previousState, state);
    if (r.show)
        show(*r.show);
    else
        hide();
    m_previousState = r.previousState;
}

void RequestFeedbackHUD::createPanel()
{
    m_panel = std::make_unique<RequestFeedbackView>(m_clock);
    // A tooltip-type window is left alone by the window manager: no frame, no focus, above other
    // windows on every desktop; and it receives no input, so clicks reach the window beneath.
    m_panel->setWindowFlags(Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
        | Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus);
    m_panel->setAttribute(Qt::WA_ShowWithoutActivating);
    m_panel->setAttribute(Qt::WA_TranslucentBackground);
    m_panel->setWindowTitle(QStringLiteral("Tarnwick"));
}

void RequestFeedbackHUD::show(RequestFeedbackContent content)
{
    m_dismissTimer.reset();
    if (!m_panel)
        createPanel();

    m_panel->setShaped(!m_screens.supportsTranslucency());
    m_panel->setContent(content);
    const QSize size = m_panel->sizeHint();
    m_panel->resize(size);
    m_panel->move(panelOrigin(size));
    // Mapping alone does not restack: raise it above whatever the window manager raised since.
    m_panel->show();
    m_panel->raise();
    startFollowingCursor();

    const std::optional<std::chrono::milliseconds> delay = dismissDelay(content);
    if (!delay)
        return;
    // Dropping the timer (a new show, a hide, our destruction) cancels the dismiss.
    m_dismissTimer = m_clock.singleShot(*delay, [this] { hide(); });
}

void RequestFeedbackHUD::hide()
{
    // The dismiss timer may be what calls us: Timer handles may be dropped from their callback.
    m_dismissTimer.reset();
    m_followTimer.reset();
    if (m_panel)
        m_panel->hide();
}

void RequestFeedbackHUD::startFollowingCursor()
{
    if (m_followTimer)
        return;
    m_followTimer = m_clock.repeating(FollowInterval, [this] {
        if (m_panel && m_panel->isVisible())
            m_panel->move(panelOrigin(m_panel->size()));
    });
}
