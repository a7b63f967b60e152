#include "testlib/HotkeysFixture.h"

#include "hotkeys/Constants.h"
#include "hotkeys/Hotkeys.h"
#include "hotkeys/RecorderField.h"
#include "hotkeys/SystemHotkeys.h"

#include <QCoreApplication>

namespace Tests {

HotkeysFixture::HotkeysFixture()
{
    Hotkeys::setAlertPresenter([this](const Hotkeys::Alert &alert, QWidget *) {
        alerts.append(alert);
        return onAlert ? onAlert(alert) : Hotkeys::alertFirstButtonReturn;
    });
    Hotkeys::setBeeper([this] { ++beeps; });
    m_statusObserver = Platform::NotificationCenter::defaultCenter().addObserver(
        QStringLiteral("Hotkeys_recorderActiveStatusDidChange"),
        [this](const Platform::NotificationCenter::UserInfo &info) { recorderStatusPosts.append(info); });
    Hotkeys::resetForTesting();
    Hotkeys::useServices({&defaults, &hotKeyService, &systemShortcuts, &translator, &keyboardLayout});
}

HotkeysFixture::~HotkeysFixture()
{
    Hotkeys::resetForTesting();
    Hotkeys::useServices({});
    Hotkeys::setMainMenu(nullptr);
    Hotkeys::setBeeper({});
    Hotkeys::setAlertPresenter({});
}

quint32 HotkeysFixture::idOf(const Hotkeys::Shortcut &shortcut) const
{
    for (const auto &registration : hotKeyService.registrations()) {
        if (registration.carbonKeyCode == shortcut.carbonKeyCode()
            && registration.carbonModifiers == shortcut.carbonModifiers())
            return registration.hotKeyId.id;
    }
    return 0;
}

void HotkeysFixture::pressAndRelease(const Hotkeys::Shortcut &shortcut)
{
    if (const quint32 id = idOf(shortcut)) {
        hotKeyService.press(id);
        hotKeyService.release(id);
    }
    // Streams hand their events to their consumers on a later turn of the event loop.
    QCoreApplication::processEvents();
}

} // namespace Tests
