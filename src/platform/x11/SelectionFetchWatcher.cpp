#include "platform/x11/SelectionFetchWatcher.h"

#include "platform/MimeTypes.h"
#include "platform/Trace.h"
#include "platform/x11/Xcb.h"

#include <QCoreApplication>

#include <xcb/xcb.h>
#include <xcb/xproto.h>

namespace Platform::X11 {

SelectionFetchWatcher::SelectionFetchWatcher(xcb_connection_t *connection, quint32 selection)
    : m_connection(connection)
    , m_selection(selection)
{
    if (!m_connection)
        return;
    const QByteArray hint = passwordManagerHintType().toLatin1();
    for (const char *name : {"TARGETS", "TIMESTAMP", "SAVE_TARGETS", "MULTIPLE", hint.constData()})
        m_notFetchTargets.append(Xcb::atom(m_connection, name));
    QCoreApplication::instance()->installNativeEventFilter(this);
}

SelectionFetchWatcher::~SelectionFetchWatcher()
{
    if (m_connection && QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool SelectionFetchWatcher::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    if ((event->response_type & ~0x80) != XCB_SELECTION_REQUEST)
        return false;
    const auto *request = static_cast<const xcb_selection_request_event_t *>(message);
    // Only the owner receives SelectionRequest, so this asks for our own contents.
    if (request->selection == m_selection && !m_notFetchTargets.contains(request->target)) {
        if (!m_fetched && m_tracePhase)
            Trace::phase(m_tracePhase);
        m_fetched = true;
    }
    return false; // Qt answers it
}

} // namespace Platform::X11
