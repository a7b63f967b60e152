#pragma once

namespace Platform {

// Whether this process may post keystrokes into other applications, and how the user grants it.
class AccessibilityTrust {
public:
    virtual ~AccessibilityTrust() = default;

    // Asks the system, without any prompt, whether we are trusted. Cheap; main thread.
    virtual bool isProcessTrusted() const = 0;

    // Asks with the system's prompt where there is one; returns the trust as it is now.
    virtual bool requestTrust() = 0;

    // Opens the place where the user grants the permission (a settings page or our help).
    virtual void openSystemSettings() = 0;
};

} // namespace Platform
