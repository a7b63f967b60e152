#include "testlib/HotkeysFixture.h"

#include "hotkeys/Constants.h"
#include "hotkeys/Hotkeys.h"
#include "hotkeys/RecorderField.h"
#include "hotkeys/SystemHotkeys.h"

namespace Tests {

HotkeysFixture::HotkeysFixture()
{
    Hotkeys::SystemHotkeys::setSystemShortcuts(&systemShortcuts);
    Hotkeys::Shortcut::setKeyboardLayout(&keyboardLayout);
    Hotkeys::RecorderField::setKeyEventTranslator(&translator);
    Hotkeys::setAlertPresenter([this](const Hotkeys::Alert &alert, QWidget *) {
        alerts.append(alert);
        return onAlert ? onAlert(alert) : Hotkeys::alertFirstButtonReturn;
    });
    Hotkeys::setBeeper([this] { ++beeps; });
    m_statusObserver = Platform::NotificationCenter::defaultCenter().addObserver(
        QStringLiteral("Hotkeys_recorderActiveStatusDidChange"),
        [this](const Platform::NotificationCenter::UserInfo &info) { recorderStatusPosts.append(info); });
    HOTKEYS_FIXTURE_INSTALL_STORE
}

HotkeysFixture::~HotkeysFixture()
{
    HOTKEYS_FIXTURE_RESET_STORE
    Hotkeys::setMainMenu(nullptr);
    Hotkeys::setBeeper({});
    Hotkeys::setAlertPresenter({});
    Hotkeys::RecorderField::setKeyEventTranslator(nullptr);
    Hotkeys::SystemHotkeys::setSystemShortcuts(nullptr);
    Hotkeys::Shortcut::setKeyboardLayout(nullptr);
}

bool HotkeysFixture::isGrabbed(const Hotkeys::Shortcut &shortcut) const
{
    for (const auto &registration : hotKeyService.registrations()) {
        if (registration.carbonKeyCode == shortcut.carbonKeyCode()
            && registration.carbonModifiers == shortcut.carbonModifiers())
            return true;
    }
    return false;
}

void HotkeysFixture::pressAndRelease(const Hotkeys::Shortcut &shortcut)
{
    const auto registrations = hotKeyService.registrations();
    for (auto it = registrations.begin(); it != registrations.end(); ++it) {
        if (it->carbonKeyCode == shortcut.carbonKeyCode() && it->carbonModifiers == shortcut.carbonModifiers()) {
            hotKeyService.press(it.key());
            hotKeyService.release(it.key());
        }
    }
}

} // namespace Tests
