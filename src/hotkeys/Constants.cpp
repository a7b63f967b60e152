#include "hotkeys/Constants.h"

#include <QMenu>
#include <QPointer>

namespace Hotkeys {

namespace {
QPointer<QMenu> g_mainMenu;
}

bool Constants::isSandboxed()
{
    static const bool sandboxed = qEnvironmentVariableIsSet("APP_SANDBOX_CONTAINER_ID");
    return sandboxed;
}

void setMainMenu(QMenu *menu)
{
    g_mainMenu = menu;
}

QMenu *mainMenu()
{
    return g_mainMenu.data();
}

} // namespace Hotkeys
