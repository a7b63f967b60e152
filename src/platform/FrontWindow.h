#pragma once

#include <QString>
#include <QtGlobal>

namespace Platform {

// The application window that had the keyboard focus when it was looked up.
struct FrontWindowInfo {
    // The platform's id of the window: on X11 the client window that carries WM_CLASS. 0 when no
    // window has the focus or it could not be found.
    quint64 id = 0;
    // The class part of the window's class ("XTerm" of WM_CLASS "xterm", "XTerm"); empty when unknown.
    QString windowClass;

    bool operator==(const FrontWindowInfo &) const = default;
};

// Which window the user is working in.
class FrontWindow {
public:
    virtual ~FrontWindow() = default;

    // The window in front now. Never fails: an unknown window has id 0 and an empty class.
    // Main thread only; costs a few round trips to the display server.
    virtual FrontWindowInfo current() const = 0;
};

} // namespace Platform
