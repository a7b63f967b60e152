#pragma once

#include "platform/AccessibilityTrust.h"

#include <QString>

namespace Platform::X11 {

// On X11 any client may send synthetic keystrokes through the XTEST extension, so "trusted" means:
// we are connected to an X server that offers XTEST. Without an X connection (a pure Wayland
// session, or no display) we are not trusted, and no prompt can change that. Main thread only.
class X11AccessibilityTrust final : public AccessibilityTrust {
public:
    bool isProcessTrusted() const override;

    // There is nothing to ask for on X11: checks again and answers.
    bool requestTrust() override;

    // Opens the help page that says what keystrokes need here (docs/accessibility.md): the
    // installed copy, else the one in the source tree, else the project's README.
    void openSystemSettings() override;

    // The help page that openSystemSettings() opens, or an empty string when none is found.
    static QString helpPagePath();
};

} // namespace Platform::X11
