#include "platform/x11/X11Pasteboard.h"

#include "platform/x11/Xcb.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMimeData>

#include <cstdlib>

#include <xcb/xcb.h>

namespace Platform::X11 {

namespace {

// Targets that say something about the selection rather than hold its data. Qt's own
// application/x-qt-image stands for every image format Qt can write: republishing it would add a
// dozen image types that the owner never offered.
const char *const protocolTargets[] = {"TARGETS", "MULTIPLE", "TIMESTAMP", "SAVE_TARGETS", "DELETE",
    "INSERT_SELECTION", "INSERT_PROPERTY", "application/x-qt-image"};

// A read that takes this long means the owner is frozen (Qt gives up after 5 s): reading its
// remaining formats would block the user interface for another 5 s each.
constexpr qint64 frozenOwnerMs = 2000;

QClipboard *clipboard()
{
    return QGuiApplication::clipboard();
}

} // namespace

X11Pasteboard::X11Pasteboard(QObject *parent)
    : QObject(parent)
{
    m_connection = Xcb::qtConnection();

    connect(clipboard(), &QClipboard::dataChanged, this, &X11Pasteboard::onClipboardChanged);

    if (m_connection)
        m_fetches.emplace(m_connection, Xcb::atom(m_connection, "CLIPBOARD"));
}

X11Pasteboard::~X11Pasteboard() = default;

bool X11Pasteboard::isProtocolTarget(const QString &type)
{
    for (const char *target : protocolTargets) {
        if (type == QLatin1String(target))
            return true;
    }
    return false;
}

void X11Pasteboard::onClipboardChanged()
{
    ++m_changeCount;
    m_snapshot.reset();
    // Not from inside Qt's clipboard signal: the observer may read the new contents at once.
    if (m_changeObserver)
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (const auto observer = m_changeObserver)
                    observer();
            },
            Qt::QueuedConnection);
}

void X11Pasteboard::noteOwnWrite(const char *fetchTracePhase)
{
    if (m_fetches)
        m_fetches->reset(fetchTracePhase);
    m_snapshot.reset();
}

const X11Pasteboard::Snapshot &X11Pasteboard::snapshot() const
{
    if (m_snapshot && m_snapshot->changeCount == m_changeCount)
        return *m_snapshot;

    Snapshot snap;
    snap.changeCount = m_changeCount;
    if (const QMimeData *mime = clipboard()->mimeData(QClipboard::Clipboard)) {
        QElapsedTimer timer;
        timer.start();
        // formats() asks the owner for TARGETS; a frozen owner makes it come back empty.
        const QStringList formats = mime->formats();
        bool frozen = timer.elapsed() >= frozenOwnerMs;
        for (const QString &format : formats) {
            if (frozen)
                break;
            if (isProtocolTarget(format) || snap.bytes.contains(format))
                continue;
            timer.restart();
            const QByteArray bytes = mime->data(format);
            frozen = timer.elapsed() >= frozenOwnerMs;
            // A null array is a conversion the owner refused; an empty one is real, empty data.
            if (bytes.isNull() && !frozen)
                continue;
            if (bytes.isNull())
                break;
            snap.types.append(format);
            snap.bytes.insert(format, bytes);
        }
    }
    m_snapshot = std::move(snap);
    return *m_snapshot;
}

bool X11Pasteboard::matchesSnapshot(const QList<PasteboardItem> &items) const
{
    qsizetype count = 0;
    for (const PasteboardItem &item : items) {
        for (const auto &[type, bytes] : item) {
            const auto it = m_snapshot->bytes.constFind(type);
            if (it == m_snapshot->bytes.cend() || *it != bytes)
                return false;
            ++count;
        }
    }
    return count == m_snapshot->bytes.size();
}

QList<QStringList> X11Pasteboard::itemTypes() const
{
    const Snapshot &snap = snapshot();
    if (snap.types.isEmpty())
        return {};
    return {snap.types};
}

std::optional<QByteArray> X11Pasteboard::data(int index, const QString &type) const
{
    if (index != 0)
        return std::nullopt;
    const Snapshot &snap = snapshot();
    const auto it = snap.bytes.constFind(type);
    if (it == snap.bytes.cend())
        return std::nullopt;
    return *it;
}

void X11Pasteboard::clearContents()
{
    noteOwnWrite();
    // Qt only gives up a selection it owns itself, so another client's is taken first. Both steps
    // go through Qt, whose idea of the server time must stay ahead of the selection's: a clear of
    // our own at the server's current time would make Qt's next write be refused as outdated.
    if (!clipboard()->ownsClipboard())
        clipboard()->setMimeData(new QMimeData, QClipboard::Clipboard);
    clipboard()->clear(QClipboard::Clipboard);
}

bool X11Pasteboard::writeItems(const QList<PasteboardItem> &items)
{
    // Giving back what we saved while nobody has touched the clipboard since: its owner still has
    // all of it, possibly more than we could read (a frozen owner). Taking the clipboard over, or
    // clearing it, would only lose that.
    if (m_snapshot && m_snapshot->changeCount == m_changeCount && matchesSnapshot(items))
        return true;

    bool any = false;
    for (const PasteboardItem &item : items)
        any = any || !item.isEmpty();
    if (!any) {
        clearContents();
        return true;
    }

    auto *mime = new QMimeData;
    for (const PasteboardItem &item : items) {
        for (const auto &[type, bytes] : item) {
            if (isProtocolTarget(type) || mime->hasFormat(type))
                continue;
            mime->setData(type, bytes);
        }
    }
    noteOwnWrite();
    clipboard()->setMimeData(mime, QClipboard::Clipboard);
    // Only X11 can refuse us the selection (when our idea of the server time is outdated).
    return !m_connection || clipboard()->ownsClipboard();
}

void X11Pasteboard::setString(const QString &text)
{
    auto *mime = new QMimeData;
    mime->setData(plainTextType(), text.toUtf8());
    mime->setData(passwordManagerHintType(), passwordManagerHintValue());
    // What we put there ourselves is there to be pasted.
    noteOwnWrite("paste fetched");
    clipboard()->setMimeData(mime, QClipboard::Clipboard);
}

std::optional<QString> X11Pasteboard::string() const
{
    const QMimeData *mime = clipboard()->mimeData(QClipboard::Clipboard);
    if (!mime)
        return std::nullopt;
    if (mime->hasText())
        return mime->text();
    // Some owners only name the charset variant, which Qt does not count as text.
    const QString utf8Type = utf8PlainTextType();
    if (mime->hasFormat(utf8Type))
        return QString::fromUtf8(mime->data(utf8Type));
    return std::nullopt;
}

bool X11Pasteboard::contentsFetchedSinceLastWrite() const
{
    // Without an X connection nobody can be seen fetching; say so rather than wait for ever.
    return !m_fetches || m_fetches->fetchedSinceReset();
}

} // namespace Platform::X11
