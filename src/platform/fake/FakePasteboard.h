#pragma once

#include "platform/Pasteboard.h"

namespace Platform {

// A multi-item pasteboard in memory.
class FakePasteboard final : public Pasteboard {
public:
    qint64 changeCount() const override { return m_changeCount; }
    QList<QStringList> itemTypes() const override;
    std::optional<QByteArray> data(int index, const QString &type) const override;
    void clearContents() override;
    bool writeItems(const QList<PasteboardItem> &items) override;
    void setString(const QString &text) override;
    std::optional<QString> string() const override;
    bool contentsFetchedSinceLastWrite() const override { return m_fetched; }
    void setChangeObserver(std::function<void()> observer) override { m_observer = std::move(observer); }
    // Off: the pasteboard never tells of changes, as one that can only be asked.
    void setTellsChanges(bool tells) { m_tellsChanges = tells; }

    // The items as they are now.
    const QList<PasteboardItem> &items() const { return m_items; }

    // Who holds the contents: ownOwner() after writes through this interface, the given owner
    // after writeItemsAs(), nobody (empty) after clearContents().
    const QString &owner() const { return m_owner; }
    static QString ownOwner() { return QStringLiteral("tarnwick"); }
    // Another application puts `items` on the pasteboard (the change count moves).
    void writeItemsAs(const QString &owner, const QList<PasteboardItem> &items);
    // `owner` quits: what it held is gone, as an X11 clipboard's contents go with their owner.
    void ownerQuits(const QString &owner);

    // Types for which data() answers nothing, as a promise its owner cannot keep would.
    void setUnreadableTypes(const QStringList &types) { m_unreadable = types; }

    // Makes the next writeItems() fail without changing anything.
    void refuseNextWrite() { m_refuseNextWrite = true; }

    // When on, text put there by setString() counts as not fetched until markFetched() is called,
    // as on X11 where the pasting application fetches the clipboard lazily. Off by default.
    void setLazyFetch(bool lazy) { m_lazyFetch = lazy; }
    // Another application has fetched the contents.
    void markFetched() { m_fetched = true; }

    // Number of setString() calls so far.
    int setStringCount() const { return m_setStringCount; }

private:
    void changed();

    QList<PasteboardItem> m_items;
    QString m_owner;
    std::function<void()> m_observer;
    bool m_tellsChanges = true;
    QStringList m_unreadable;
    qint64 m_changeCount = 0;
    int m_setStringCount = 0;
    bool m_refuseNextWrite = false;
    bool m_lazyFetch = false;
    bool m_fetched = true;
};

} // namespace Platform
