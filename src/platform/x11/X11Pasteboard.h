#pragma once

#include "platform/Pasteboard.h"
#include "platform/x11/SelectionFetchWatcher.h"

#include <QHash>
#include <QObject>

#include <optional>

struct xcb_connection_t;

namespace Platform::X11 {

// The X11 CLIPBOARD selection, through Qt's clipboard.
//
// X11 has one clipboard item whose types are the MIME formats its owner offers, so itemTypes()
// answers at most one item and writeItems() merges several items into one (the first item's
// bytes win for a type that several items hold). The selection protocol's own targets (TARGETS,
// MULTIPLE, TIMESTAMP...) and Qt's synthetic image format are never reported or republished.
//
// Reading another client's clipboard waits for that client: a frozen owner blocks the main thread
// for up to Qt's clipboard timeout (5 s) per read. Saving therefore stops reading formats after the
// first read that takes that long, and keeps what it has; giving back what was saved while nobody
// has changed the clipboard since leaves the owner in place. Main thread only; needs a
// QGuiApplication.
class X11Pasteboard final : public QObject, public Pasteboard {
    Q_OBJECT

public:
    explicit X11Pasteboard(QObject *parent = nullptr);
    ~X11Pasteboard() override;

    qint64 changeCount() const override { return m_changeCount; }
    QList<QStringList> itemTypes() const override;
    std::optional<QByteArray> data(int index, const QString &type) const override;
    void clearContents() override;
    bool writeItems(const QList<PasteboardItem> &items) override;
    void setString(const QString &text) override;
    std::optional<QString> string() const override;
    bool contentsFetchedSinceLastWrite() const override;
    void setChangeObserver(std::function<void()> observer) override
    {
        m_changeObserver = std::move(observer);
    }

    // The format that asks clipboard managers not to record our temporary contents, and its value.

    // Whether `type` is a target of the selection protocol (or Qt's synthetic image format) rather
    // than data that the owner holds.
    static bool isProtocolTarget(const QString &type);

private:
    // Every format's bytes, read in one go so that what we save is one consistent set.
    struct Snapshot {
        qint64 changeCount = -1;
        QStringList types;
        QHash<QString, QByteArray> bytes;
    };
    const Snapshot &snapshot() const;
    bool matchesSnapshot(const QList<PasteboardItem> &items) const;
    void onClipboardChanged();
    // With `fetchTracePhase`, the first fetch of the new contents writes that trace line.
    void noteOwnWrite(const char *fetchTracePhase = nullptr);

    xcb_connection_t *m_connection = nullptr;
    std::optional<SelectionFetchWatcher> m_fetches;
    qint64 m_changeCount = 0;
    std::function<void()> m_changeObserver;
    mutable std::optional<Snapshot> m_snapshot;
};

} // namespace Platform::X11
