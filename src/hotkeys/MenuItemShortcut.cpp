#include "hotkeys/MenuItemShortcut.h"

#include "hotkeys/Hotkeys.h"
#include "hotkeys/Utilities.h"
#include "platform/NotificationCenter.h"

#include <QAction>
#include <QPointer>
#include <QTimer>

#include <memory>

namespace Hotkeys {

namespace {

// Shared so that a deferred update can tell whether its binding still stands.
using TokenHolder = std::shared_ptr<Platform::NotificationCenter::TokenPtr>;

// One slot per action: the observation of its bound name's changes.
ObjectAssociation<TokenHolder> &bindingSlot()
{
    static ObjectAssociation<TokenHolder> slot;
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
    *holder = Platform::NotificationCenter::defaultCenter().addObserver(
        shortcutByNameDidChangeNotification,
        [weakAction, bound, binding](const Platform::NotificationCenter::UserInfo &info) {
            const QVariant value = info.value(QStringLiteral("name"));
            if (!weakAction || !value.canConvert<Name>() || value.value<Name>().rawValue() != bound.rawValue())
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
