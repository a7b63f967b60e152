#include "platform/fake/FakePasteboard.h"

namespace Platform {

QList<QStringList> FakePasteboard::itemTypes() const
{
    QList<QStringList> result;
    for (const PasteboardItem &item : m_items) {
        QStringList types;
        for (const auto &entry : item)
            types.append(entry.first);
        result.append(types);
    }
    return result;
}

std::optional<QByteArray> FakePasteboard::data(int index, const QString &type) const
{
    if (index < 0 || index >= m_items.size() || m_unreadable.contains(type))
        return std::nullopt;
    for (const auto &entry : m_items.at(index)) {
        if (entry.first == type)
            return entry.second;
    }
    return std::nullopt;
}

void FakePasteboard::clearContents()
{
    m_items.clear();
    m_owner.clear();
    changed();
}

bool FakePasteboard::writeItems(const QList<PasteboardItem> &items)
{
    if (m_refuseNextWrite) {
        m_refuseNextWrite = false;
        return false;
    }
    m_items = items;
    m_owner = ownOwner();
    changed();
    return true;
}

void FakePasteboard::writeItemsAs(const QString &owner, const QList<PasteboardItem> &items)
{
    m_items = items;
    m_owner = owner;
    changed();
}

void FakePasteboard::ownerQuits(const QString &owner)
{
    if (m_owner != owner || owner.isEmpty())
        return;
    m_items.clear();
    m_owner.clear();
    changed();
}

void FakePasteboard::setString(const QString &text)
{
    ++m_setStringCount;
    m_fetched = !m_lazyFetch;
    m_items = {PasteboardItem {{plainTextType(), text.toUtf8()}}};
    m_owner = ownOwner();
    changed();
}

std::optional<QString> FakePasteboard::string() const
{
    if (const auto bytes = m_items.isEmpty() ? std::nullopt : data(0, plainTextType()))
        return QString::fromUtf8(*bytes);
    return std::nullopt;
}

void FakePasteboard::changed()
{
    ++m_changeCount;
    if (const auto observer = m_observer; observer && m_tellsChanges) // it may replace itself
        observer();
}

} // namespace Platform
