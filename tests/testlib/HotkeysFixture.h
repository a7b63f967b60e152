#pragma once

#include "hotkeys/Alert.h"
#include "hotkeys/Shortcut.h"
#include "platform/qt/NotificationCenter.h"
#include "platform/fake/FakeHotKeyService.h"
#include "platform/fake/FakeKeyEventTranslator.h"
#include "platform/fake/FakeKeyboardLayout.h"
#include "platform/fake/FakeSystemShortcuts.h"
#include "platform/fake/MemoryUserDefaults.h"

#include <QList>

#include <functional>

namespace Tests {

// Puts the process-wide shortcut state on fakes for one test and takes it back afterwards: an
// empty settings store, fake hot keys and reserved shortcuts, the US-layout key translator,
// alerts that are recorded and answered by `onAlert` (default: the first button), counted beeps,
// and a log of the recorder's start and end notifications.
class HotkeysFixture {
public:
    HotkeysFixture();
    ~HotkeysFixture();
    HotkeysFixture(const HotkeysFixture &) = delete;
    HotkeysFixture &operator=(const HotkeysFixture &) = delete;

    Platform::MemoryUserDefaults defaults;
    Platform::FakeHotKeyService hotKeyService;
    Platform::FakeSystemShortcuts systemShortcuts;
    Platform::FakeKeyEventTranslator translator;
    Platform::FakeKeyboardLayout keyboardLayout;

    // The id of the live hot key for `shortcut` with the (fake) system, or 0.
    quint32 idOf(const Hotkeys::Shortcut &shortcut) const;
    bool isGrabbed(const Hotkeys::Shortcut &shortcut) const { return idOf(shortcut) != 0; }
    // Delivers a press and a release of the live hot key for `shortcut`, as the system would, then
    // lets the event loop hand them on.
    void pressAndRelease(const Hotkeys::Shortcut &shortcut);

    QList<Hotkeys::Alert> alerts;
    std::function<int(const Hotkeys::Alert &)> onAlert;
    int beeps = 0;
    QList<Platform::NotificationCenter::UserInfo> recorderStatusPosts;

private:
    Platform::NotificationCenter::TokenPtr m_statusObserver;
};

} // namespace Tests
