#pragma once

#include "platform/PrimarySelection.h"

namespace Platform {

// A primary selection in memory. Its owner is a window id; a window owns it when the ids match.
class FakePrimarySelection final : public PrimarySelection {
public:
    // The owner id of what setString() puts there: this process.
    static constexpr quint64 ownId = ~quint64(0);

    std::optional<QString> stringOwnedBy(const FrontWindowInfo &window) const override
    {
        ++m_reads;
        if (m_owner == 0 || (window.id != 0 && m_owner != window.id))
            return std::nullopt;
        return m_text;
    }
    bool setString(const QString &text) override
    {
        if (m_refuseNextWrite) {
            m_refuseNextWrite = false;
            return false;
        }
        m_owner = ownId;
        m_text = text;
        m_fetched = false;
        ++m_writes;
        return true;
    }
    bool contentsFetchedSinceLastWrite() const override { return m_fetched; }

    // What a paste from the primary selection does: answers the text we hold, if any.
    std::optional<QString> fetch()
    {
        if (m_owner != ownId)
            return std::nullopt;
        m_fetched = true;
        return m_text;
    }

    // Makes the next setString() fail without changing anything.
    void refuseNextWrite() { m_refuseNextWrite = true; }

    // What a selection in another window does: `owner` now holds `text` (nothing: no text).
    void select(quint64 owner, std::optional<QString> text)
    {
        m_owner = owner;
        m_text = std::move(text);
    }

    quint64 owner() const { return m_owner; }
    const std::optional<QString> &text() const { return m_text; }
    int reads() const { return m_reads; }
    int writes() const { return m_writes; }

private:
    quint64 m_owner = 0;
    std::optional<QString> m_text;
    mutable int m_reads = 0;
    int m_writes = 0;
    bool m_refuseNextWrite = false;
    bool m_fetched = false;
};

} // namespace Platform
