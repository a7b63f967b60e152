#include "hotkeys/MenuItemShortcut.h"

#include "hotkeys/Hotkeys.h"
#include "platform/qt/NotificationCenter.h"

#include <QAction>
#include <QHash>
#include <QPointer>
#include <QTimer>

#include <memory>

namespace Hotkeys {

namespace {

// Shared so that a deferred update can tell whether its binding still stands.
using TokenHolder = std::shared_ptr<Platform::NotificationCenter::TokenPtr>;

// One slot per action, emptied when the action goes: the observation of its bound name.
class BindingSlot {
public:
    std::optional<TokenHolder> get(QObject *object) const
    {
        const auto it = m_entries.constFind(object);
        return it == m_entries.cend() ? std::nullopt : std::optional<TokenHolder>(it->value);
    }
    void set(QObject *object, std::optional<TokenHolder> value)
    {
        auto it = m_entries.find(object);
        if (!value) {
            if (it != m_entries.end()) {
                QObject::disconnect(it->destroyedConnection);
                m_entries.erase(it);
            }
            return;
        }
        if (it != m_entries.end()) {
            it->value = std::move(*value);
            return;
        }
        const auto connection
            = QObject::connect(object, &QObject::destroyed, [this, object] { m_entries.remove(object); });
        m_entries.insert(object, Entry {std::move(*value), connection});
    }

private:
    struct Entry {
        TokenHolder value;
        QMetaObject::Connection destroyedConnection;
    };
    QHash<QObject *, Entry> m_entries;
};

BindingSlot &bindingSlot()
{
    static BindingSlot slot;
    return slot;
}

} // namespace

void setShortcut(QAction *action, const std::optional<Shortcut> &shortcut)
{
    if (!action)
        return;
    if (!shortcut) {
        action->setShortcut(QKeySequence());
        return;
    }
    action->setShortcut(shortcut->toKeySequence().value_or(QKeySequence()));
}

void setShortcutFor(QAction *action, const std::optional<Name> &name)
{
    if (!action)
        return;
    if (!name) {
        setShortcut(action, std::nullopt);
        bindingSlot().set(action, std::nullopt);
        return;
    }
    setShortcut(action, getShortcut(*name));
    bindingSlot().set(action, std::nullopt);

    QPointer<QAction> weakAction(action);
    const Name bound = *name;
    auto holder = std::make_shared<Platform::NotificationCenter::TokenPtr>();
    std::weak_ptr<Platform::NotificationCenter::TokenPtr> binding = holder;
    *holder = Platform::NotificationCenter::defaultCenter().addObserver(shortcutByNameDidChange(),
        [weakAction, bound, binding](const Platform::NotificationCenter::UserInfo &info) {
            const QVariant value = info.value(QStringLiteral("name"));
            if (!weakAction || value.typeId() != QMetaType::QString || value.toString() != bound.rawValue())
                return;
            // The store is read when the update runs, so quick successive changes end with the
            // latest shortcut; an update whose binding was replaced or removed meanwhile is dropped.
            QTimer::singleShot(0, weakAction.data(), [weakAction, bound, binding] {
                if (weakAction && !binding.expired())
                    setShortcut(weakAction.data(), getShortcut(bound));
            });
        });
    bindingSlot().set(action, std::move(holder));
}

bool isBoundToName(const QAction *action)
{
    return action && bindingSlot().get(const_cast<QAction *>(action)).has_value();
}

} // namespace Hotkeys
