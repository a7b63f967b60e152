#include "platform/wayland/WaylandSelections.h"

#include "platform/wayland/ForeignToplevels.h"

namespace Platform::Wayland {

using Selection = DataControl::Selection;

PasteboardItem secretText(const QString &text)
{
    PasteboardItem item;
    const QByteArray utf8 = text.toUtf8();
    for (const QString &type : DataControl::textTypes())
        item.append({type, utf8});
    item.append({passwordManagerHintType(), passwordManagerHintValue()});
    return item;
}

DataControlPasteboard::DataControlPasteboard(DataControl &selections)
    : m_selections(selections)
{
    QObject::connect(&m_selections, &DataControl::changed, &m_context, [this](Selection selection) {
        if (selection != Selection::Clipboard || !m_changeObserver)
            return;
        // Queued: a change also arrives while we publish, inside a call of ours. The observer is
        // looked up when the call runs, not now: several changes read in one batch queue several
        // calls, and the first may end the wait that the observer belongs to.
        QMetaObject::invokeMethod(
            &m_context,
            [this] {
                if (const std::function<void()> observer = m_changeObserver)
                    observer();
            },
            Qt::QueuedConnection);
    });
}

DataControlPasteboard::~DataControlPasteboard() = default;

void DataControlPasteboard::setChangeObserver(std::function<void()> observer)
{
    m_changeObserver = std::move(observer);
}

qint64 DataControlPasteboard::changeCount() const
{
    return m_selections.changeCount(Selection::Clipboard);
}

QList<QStringList> DataControlPasteboard::itemTypes() const
{
    const QStringList types = m_selections.types(Selection::Clipboard);
    return types.isEmpty() ? QList<QStringList>() : QList<QStringList> {types};
}

std::optional<QByteArray> DataControlPasteboard::data(int index, const QString &type) const
{
    if (index != 0)
        return std::nullopt;
    return m_selections.data(Selection::Clipboard, type);
}

void DataControlPasteboard::clearContents()
{
    m_selections.publish(Selection::Clipboard, {});
}

bool DataControlPasteboard::writeItems(const QList<PasteboardItem> &items)
{
    PasteboardItem merged;
    QStringList seen;
    for (const PasteboardItem &item : items) {
        for (const auto &[type, bytes] : item) {
            if (seen.contains(type))
                continue;
            seen.append(type);
            merged.append({type, bytes});
        }
    }
    return m_selections.publish(Selection::Clipboard, merged);
}

void DataControlPasteboard::setString(const QString &text)
{
    m_selections.publish(Selection::Clipboard, secretText(text));
}

std::optional<QString> DataControlPasteboard::string() const
{
    return m_selections.text(Selection::Clipboard);
}

bool DataControlPasteboard::contentsFetchedSinceLastWrite() const
{
    // Without a device nobody can be seen fetching; say so rather than wait for ever.
    return !m_selections.isAvailable() || m_selections.fetchedSinceLastPublish(Selection::Clipboard);
}

DataControlPrimarySelection::DataControlPrimarySelection(
    DataControl &selections, const ForeignToplevels *toplevels)
    : m_selections(selections)
    , m_toplevels(toplevels)
{
    // The selection is new now: it belongs to the window in front as the events stand.
    connect(&m_selections, &DataControl::changed, this, [this](Selection selection) {
        if (selection == Selection::Primary)
            m_ownerWindow = m_toplevels ? m_toplevels->activatedId() : 0;
    });
    if (m_toplevels && !m_selections.types(Selection::Primary).isEmpty())
        m_ownerWindow = m_toplevels->activatedId();
}

std::optional<QString> DataControlPrimarySelection::stringOwnedBy(const FrontWindowInfo &window) const
{
    if (window.id == 0 || window.id != m_ownerWindow)
        return std::nullopt;
    const qint64 before = m_selections.changeCount(Selection::Primary);
    const std::optional<QString> text = m_selections.text(Selection::Primary);
    // A new selection made while we read would be someone else's text.
    if (m_selections.changeCount(Selection::Primary) != before)
        return std::nullopt;
    return text;
}

bool DataControlPrimarySelection::setString(const QString &text)
{
    const bool published = m_selections.publish(Selection::Primary, secretText(text));
    m_ownerWindow = 0;
    return published;
}

bool DataControlPrimarySelection::contentsFetchedSinceLastWrite() const
{
    return !m_selections.isAvailable(Selection::Primary)
        || m_selections.fetchedSinceLastPublish(Selection::Primary);
}

} // namespace Platform::Wayland
