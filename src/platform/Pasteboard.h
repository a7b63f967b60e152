#pragma once

#include "platform/MimeTypes.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace Platform {

// One pasteboard item: its types in order, each with the bytes it holds for that type.
using PasteboardItem = QList<QPair<QString, QByteArray>>;

// The user's general pasteboard (the clipboard). Main thread only.
class Pasteboard {
public:
    virtual ~Pasteboard() = default;

    // A number that takes a new value whenever anyone replaces the contents, us included.
    virtual qint64 changeCount() const = 0;

    // The types of each item, in item order; an empty list when the pasteboard is empty.
    virtual QList<QStringList> itemTypes() const = 0;

    // The bytes item `index` holds for `type`, or nothing when the item cannot give them.
    virtual std::optional<QByteArray> data(int index, const QString &type) const = 0;

    // Empties the pasteboard (the change count moves).
    virtual void clearContents() = 0;

    // Replaces the contents with these items, in order, with exactly these types and bytes.
    // An empty list leaves the pasteboard empty. Returns false when the write was refused.
    virtual bool writeItems(const QList<PasteboardItem> &items) = 0;

    // Puts `text` on the pasteboard as plain text. Used only for contents that we put there
    // ourselves for a moment, so implementations may mark them as not worth recording.
    virtual void setString(const QString &text) = 0;

    // The plain text on the pasteboard, or nothing when it holds no text.
    virtual std::optional<QString> string() const = 0;

    // Sets what to call when the change count moves (an empty function: nothing), so that a wait
    // for another application's copy can end at once. It is called on the main thread, on a later
    // turn of the event loop (fakes: at once), never from inside a call of this interface.
    // Pasteboards that cannot tell never call it; their callers keep looking at the change count.
    virtual void setChangeObserver(std::function<void()> observer) { Q_UNUSED(observer) }

    // Whether another application has fetched the contents we last put there with setString().
    // Pasteboards that hand contents over when they are written answer true; X11 clipboards are
    // fetched lazily by the pasting application, so restoring too early would paste the old text.
    virtual bool contentsFetchedSinceLastWrite() const { return true; }
};

} // namespace Platform
