#pragma once

#include <QAbstractNativeEventFilter>
#include <QList>

struct xcb_connection_t;

namespace Platform::X11 {

// Notices when another client asks us, the owner of `selection`, for its contents: a
// SelectionRequest for a data format. Asking which formats exist, the time stamp, or whether the
// contents are secret (clipboard managers ask that of every new selection) is not fetching; nor is
// MULTIPLE, whose inner requests are not looked into (at worst the caller waits for its cap).
// Qt still answers every request. Main thread only; without a connection every write counts as
// fetched, so that nobody waits for ever.
class SelectionFetchWatcher final : private QAbstractNativeEventFilter {
public:
    SelectionFetchWatcher(xcb_connection_t *connection, quint32 selection);
    ~SelectionFetchWatcher() override;
    SelectionFetchWatcher(const SelectionFetchWatcher &) = delete;
    SelectionFetchWatcher &operator=(const SelectionFetchWatcher &) = delete;

    // Call when new contents are published: nobody has fetched them yet. With `tracePhase`, the
    // first fetch writes that latency trace line (platform/Trace.h).
    void reset(const char *tracePhase = nullptr)
    {
        m_fetched = false;
        m_tracePhase = tracePhase;
    }
    bool fetchedSinceReset() const { return !m_connection || m_fetched; }

private:
    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

    xcb_connection_t *m_connection;
    quint32 m_selection;
    QList<quint32> m_notFetchTargets;
    bool m_fetched = false;
    const char *m_tracePhase = nullptr;
};

} // namespace Platform::X11
