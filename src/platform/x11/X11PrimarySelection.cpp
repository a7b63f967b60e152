#include "platform/x11/X11PrimarySelection.h"

#include "platform/MimeTypes.h"
#include "platform/x11/Xcb.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMimeData>

#include <xcb/xcb.h>
#include <xcb/xproto.h>

namespace Platform::X11 {

namespace {

constexpr int maxTreeDepth = 64;

} // namespace

X11PrimarySelection::X11PrimarySelection(QObject *parent)
    : QObject(parent)
    , m_connection(Xcb::qtConnection())
{
    if (m_connection)
        m_fetches.emplace(m_connection, quint32(XCB_ATOM_PRIMARY));
}

X11PrimarySelection::~X11PrimarySelection() = default;

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
    if (owner == XCB_NONE || (window.id != 0 && !ownerBelongsTo(owner, quint32(window.id))))
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
    mime->setData(passwordManagerHintType(), passwordManagerHintValue());
    m_fetches->reset("paste fetched");
    QGuiApplication::clipboard()->setMimeData(mime, QClipboard::Selection);
    // The server refuses a selection whose time stamp is older than its current owner's.
    return QGuiApplication::clipboard()->ownsSelection();
}

bool X11PrimarySelection::contentsFetchedSinceLastWrite() const
{
    return !m_fetches || m_fetches->fetchedSinceReset();
}

} // namespace Platform::X11
