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
    ++m_changeCount;
}

bool FakePasteboard::writeItems(const QList<PasteboardItem> &items)
{
    if (m_refuseNextWrite) {
        m_refuseNextWrite = false;
        return false;
    }
    m_items = items;
    m_owner = ownOwner();
    ++m_changeCount;
    return true;
}

void FakePasteboard::writeItemsAs(const QString &owner, const QList<PasteboardItem> &items)
{
    m_items = items;
    m_owner = owner;
    ++m_changeCount;
}

void FakePasteboard::ownerQuits(const QString &owner)
{
    if (m_owner != owner || owner.isEmpty())
        return;
    m_items.clear();
    m_owner.clear();
    ++m_changeCount;
}

void FakePasteboard::setString(const QString &text)
{
    ++m_setStringCount;
    m_fetched = !m_lazyFetch;
    m_items = {PasteboardItem {{plainTextType(), text.toUtf8()}}};
    m_owner = ownOwner();
    ++m_changeCount;
}

std::optional<QString> FakePasteboard::string() const
{
    if (const auto bytes = m_items.isEmpty() ? std::nullopt : data(0, plainTextType()))
        return QString::fromUtf8(*bytes);
    return std::nullopt;
}

} // namespace Platform
