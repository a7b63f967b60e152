#include "hotkeys/MenuTracking.h"

#include "platform/qt/NotificationCenter.h"

#include <QApplication>
#include <QEvent>
#include <QMenu>
#include <QPointer>

namespace Hotkeys {

namespace {

// Menus open right now. A menu destroyed while open drops out (its QPointer becomes null).
QList<QPointer<QMenu>> &openMenus()
{
    static QList<QPointer<QMenu>> menus;
    return menus;
}

void prune()
{
    openMenus().removeIf([](const QPointer<QMenu> &menu) { return menu.isNull(); });
}

void menuShown(QMenu *menu)
{
    prune();
    if (openMenus().contains(menu))
        return;
    openMenus().append(menu);
    if (openMenus().size() == 1)
        Platform::NotificationCenter::defaultCenter().post(menuDidBeginTrackingNotification());
}

void menuHidden(QMenu *menu)
{
    const qsizetype before = openMenus().size();
    openMenus().removeIf([menu](const QPointer<QMenu> &open) { return open.isNull() || open == menu; });
    if (before > 0 && openMenus().isEmpty())
        Platform::NotificationCenter::defaultCenter().post(menuDidEndTrackingNotification());
}

class MenuWatcher final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show || event->type() == QEvent::Hide) {
            if (auto *menu = qobject_cast<QMenu *>(watched)) {
                if (event->type() == QEvent::Show)
                    menuShown(menu);
                else
                    menuHidden(menu);
            }
        }
        return false;
    }
};

} // namespace

QString menuDidBeginTrackingNotification()
{
    return QStringLiteral("MenuDidBeginTracking");
}

QString menuDidEndTrackingNotification()
{
    return QStringLiteral("MenuDidEndTracking");
}

void trackMenu(QMenu *menu)
{
    if (!menu || menu->property("hotkeysTracked").toBool())
        return;
    menu->setProperty("hotkeysTracked", true);
    QObject::connect(menu, &QMenu::aboutToShow, menu, [menu] { menuShown(menu); });
    QObject::connect(menu, &QMenu::aboutToHide, menu, [menu] { menuHidden(menu); });
    // A menu deleted while open never says aboutToHide.
    QObject::connect(menu, &QObject::destroyed, [] {
        const qsizetype before = openMenus().size();
        prune();
        if (before > 0 && openMenus().isEmpty())
            Platform::NotificationCenter::defaultCenter().post(menuDidEndTrackingNotification());
    });
}

void trackAllMenus()
{
    static QPointer<MenuWatcher> watcher;
    if (watcher || !qApp)
        return;
    watcher = new MenuWatcher(qApp);
    qApp->installEventFilter(watcher);
}

int openMenuCount()
{
    prune();
    return int(openMenus().size());
}

} // namespace Hotkeys
