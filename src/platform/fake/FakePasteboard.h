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

    // The items as they are now.
    const QList<PasteboardItem> &items() const { return m_items; }

    // Types for which data() answers nothing, as a promise its owner cannot keep would.
    void setUnreadableTypes(const QStringList &types) { m_unreadable = types; }

    // Makes the next writeItems() fail without changing anything.
    void refuseNextWrite() { m_refuseNextWrite = true; }

    // Number of setString() calls so far.
    int setStringCount() const { return m_setStringCount; }

private:
    QList<PasteboardItem> m_items;
    QStringList m_unreadable;
    qint64 m_changeCount = 0;
    int m_setStringCount = 0;
    bool m_refuseNextWrite = false;
};

} // namespace Platform
