#include "platform/x11/X11PrimarySelection.h"

#include "platform/x11/XcbWindows.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMimeData>

#include <xcb/xcb.h>
#include <xcb/xproto.h>

namespace Platform::X11 {

namespace {

constexpr int maxTreeDepth = 64;

QString passwordManagerHintType()
{
    return QStringLiteral("x-kde-passwordManagerHint");
}

} // namespace

X11PrimarySelection::X11PrimarySelection(QObject *parent)
    : QObject(parent)
    , m_connection(Xcb::qtConnection())
{
    if (!m_connection)
        return;
    // Asking which targets exist, or whether the contents are secret (clipboard managers ask that
    // of every new selection), is not pasting.
    for (const char *name : {"TARGETS", "TIMESTAMP", "SAVE_TARGETS", "MULTIPLE", "x-kde-passwordManagerHint"})
        m_notFetchTargets.append(Xcb::atom(m_connection, name));
    QCoreApplication::instance()->installNativeEventFilter(this);
}

X11PrimarySelection::~X11PrimarySelection()
{
    if (m_connection && QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool X11PrimarySelection::ownerBelongsTo(quint32 owner, quint32 window) const
{
    if (owner == XCB_WINDOW_NONE || window == XCB_WINDOW_NONE)
        return false;
    if (owner == window || Xcb::sameClient(m_connection, owner, window))
        return true;
    // A window of another client embedded in the front window (XEmbed) still is the front window.
    quint32 ancestor = owner;
    for (int depth = 0; depth < maxTreeDepth; ++depth) {
        ancestor = Xcb::parent(m_connection, ancestor);
        if (ancestor == XCB_WINDOW_NONE)
            return false;
        if (ancestor == window)
            return true;
    }
    return false;
}

bool X11PrimarySelection::isOwnedBy(const FrontWindowInfo &window) const
{
    if (!m_connection || xcb_connection_has_error(m_connection) || window.id > 0xffffffffu)
        return false;
    return ownerBelongsTo(Xcb::selectionOwner(m_connection, XCB_ATOM_PRIMARY), quint32(window.id));
}

std::optional<QString> X11PrimarySelection::stringOwnedBy(const FrontWindowInfo &window) const
{
    if (!m_connection || xcb_connection_has_error(m_connection) || window.id > 0xffffffffu)
        return std::nullopt;
    const quint32 owner = Xcb::selectionOwner(m_connection, XCB_ATOM_PRIMARY);
    if (!ownerBelongsTo(owner, quint32(window.id)))
        return std::nullopt;
    const QMimeData *mime = QGuiApplication::clipboard()->mimeData(QClipboard::Selection);
    if (!mime || !mime->hasText())
        return std::nullopt;
    const QString text = mime->text();
    // A new selection made while we read would be someone else's text.
    if (Xcb::selectionOwner(m_connection, XCB_ATOM_PRIMARY) != owner)
        return std::nullopt;
    return text;
}

bool X11PrimarySelection::setString(const QString &text)
{
    if (!m_connection)
        return false;
    auto *mime = new QMimeData;
    mime->setText(text);
    mime->setData(passwordManagerHintType(), QByteArrayLiteral("secret"));
    m_fetchedSinceWrite = false;
    QGuiApplication::clipboard()->setMimeData(mime, QClipboard::Selection);
    // The server refuses a selection whose time stamp is older than its current owner's.
    return QGuiApplication::clipboard()->ownsSelection();
}

bool X11PrimarySelection::contentsFetchedSinceLastWrite() const
{
    // Without an X connection nobody can be seen fetching; say so rather than wait for ever.
    return !m_connection || m_fetchedSinceWrite;
}

bool X11PrimarySelection::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    if ((event->response_type & ~0x80) != XCB_SELECTION_REQUEST)
        return false;
    const auto *request = static_cast<const xcb_selection_request_event_t *>(message);
    // Only the owner receives SelectionRequest: this asks for our own contents.
    if (request->selection == XCB_ATOM_PRIMARY && !m_notFetchTargets.contains(request->target))
        m_fetchedSinceWrite = true;
    return false; // Qt answers it
}

} // namespace Platform::X11
