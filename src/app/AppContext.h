#pragma once

#include "platform/qt/NotificationCenter.h"
#include "app/APIClient.h"

#include <QObject>

#include <memory>
#include <optional>
#include <vector>

class AccessibilityChecker;
class QNetworkAccessManager;
class RequestFeedbackHUD;
class TextProcessor;

namespace Platform {
class AccessibilityTrust;
class Clock;
class CommandShortcuts;
class DesktopNotifier;
class FrontWindow;
class KeyboardLayout;
class KeystrokePoster;
class Notices;
class PrimarySelection;
class Pasteboard;
class Screens;
class UserDefaults;
enum class Compositor;
} // namespace Platform

// The application's root object: builds the long-lived objects, connects them, and attaches the
// two global shortcuts to the text processor. Made once at start-up and kept until the process
// ends. The platform's services come from the composition root and must outlive the context.
class AppContext : public QObject {
    Q_OBJECT

public:
    struct Services {
        Platform::Clock &clock;
        Platform::Pasteboard &pasteboard;
        Platform::KeystrokePoster &keystrokes;
        Platform::AccessibilityTrust &trust;
        Platform::UserDefaults &userDefaults; // also installed as the shortcuts' store by then
        Platform::Screens &screens;
        QNetworkAccessManager &session; // the process-wide HTTP session
        Platform::Notices &notices; // the current problems, shown by the menu and the settings window
        // For the text processor's terminal mode; without all three it is off.
        Platform::FrontWindow *frontWindow = nullptr;
        Platform::PrimarySelection *primarySelection = nullptr;
        Platform::DesktopNotifier *notifier = nullptr;
        // Off where no window can show it without taking the focus (a Wayland session without
        // XWayland): the tray's status line still tells the state.
        bool feedbackPanel = true;
        // How the global shortcuts reach us, in a sentence for the settings window; may be empty.
        QString shortcutsWay = {};
        // Where the desktop keeps our shortcuts as commands that the user adds from the settings
        // window (GNOME's custom keybindings); null elsewhere.
        Platform::CommandShortcuts *commandShortcuts = nullptr;
        // Where the compositor's own configuration must bind the shortcuts: the compositor the
        // probes found (Unknown when they could not tell), whose syntax the settings window shows
        // first; none elsewhere.
        std::optional<Platform::Compositor> compositorConfig = std::nullopt;
        // The user's keyboard layout, which names keys by what they type; may be null.
        const Platform::KeyboardLayout *keyboardLayout = nullptr;
        // False where the desktop tells of only some windows whether they are in front: the
        // settings window then offers to treat the others as terminals.
        bool frontWindowKnown = true;
    };

    // Creates, in this order: the feedback panel controller, the backend client (the first read
    // of the backend URL, which stops the process when the environment holds an invalid one), the
    // Accessibility checker, the text processor; binds the panel to the processor; then attaches
    // the shortcuts' key-up handlers, which registers them as global hot keys. From then on a
    // shortcut that another program holds is a notice ("shortcut-refused/" + the name).
    explicit AppContext(const Services &services, QObject *parent = nullptr);
    ~AppContext() override;

    // What a released shortcut does: starts a run in `mode` as its own task and returns at once;
    // a run that finds another one busy returns at once too. Also the command channel's trigger.
    void startRun(FixMode mode);

    AccessibilityChecker &ax() const { return *m_ax; }
    TextProcessor &textProcessor() const { return *m_textProcessor; }

private:
    void registerShortcut();
    void updateRefusalNotices();

    Platform::Notices &m_notices;
    std::vector<Platform::NotificationCenter::TokenPtr> m_hotKeyObservers;
    std::unique_ptr<AccessibilityChecker> m_ax;
    std::unique_ptr<TextProcessor> m_textProcessor;
    std::unique_ptr<RequestFeedbackHUD> m_requestFeedbackHUD;
};
