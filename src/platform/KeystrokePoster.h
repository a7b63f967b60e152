#pragma once

#include "platform/KeyEncodings.h"

#include <QtGlobal>

#include <QCoroTask>

namespace Platform {

// Synthetic keystrokes into whatever application is in front.
class KeystrokePoster {
public:
    virtual ~KeystrokePoster() = default;

    // Posts a key-down then a key-up of the macOS virtual key code `keyCode` (a physical ANSI
    // position) with exactly the AppKit modifier `flags` (both encoded as in KeyEncodings.h). Completes once
    // both are posted; when the events cannot be made, nothing is posted and nothing is reported. Main thread
    // only.
    virtual QCoro::Task<> postKeystroke(quint16 keyCode, quint64 flags) = 0;
};

} // namespace Platform
