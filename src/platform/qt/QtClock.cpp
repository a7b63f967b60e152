#include "platform/qt/QtClock.h"

#include <QElapsedTimer>
#include <QTimer>

namespace Platform {

namespace {

class QtTimer final : public Timer {
public:
    QtTimer(Clock::Duration interval, bool singleShot, std::function<void()> callback)
        : m_timer(new QTimer)
    {
        m_timer->setTimerType(Qt::PreciseTimer);
        m_timer->setSingleShot(singleShot);
        m_timer->setInterval(interval);
        QObject::connect(m_timer, &QTimer::timeout, m_timer, std::move(callback));
        m_timer->start();
    }
    ~QtTimer() override
    {
        // The callback may be what destroys us, while Qt is still inside the timer's signal.
        m_timer->stop();
        m_timer->disconnect();
        m_timer->deleteLater();
    }

private:
    QTimer *m_timer;
};

} // namespace

Clock::Duration QtClock::now() const
{
    static QElapsedTimer origin = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return Duration(origin.elapsed());
}

TimerPtr QtClock::singleShot(Duration delay, std::function<void()> callback)
{
    return std::make_unique<QtTimer>(delay, true, std::move(callback));
}

TimerPtr QtClock::repeating(Duration interval, std::function<void()> callback)
{
    return std::make_unique<QtTimer>(interval, false, std::move(callback));
}

} // namespace Platform
