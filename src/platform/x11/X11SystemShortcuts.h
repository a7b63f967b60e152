#pragma once

#include "platform/SystemShortcuts.h"

namespace Platform::X11 {

class X11HotKeyService;

// X11 cannot list the shortcuts the desktop reserves; a combination counts as reserved when
// another client holds a key grab of it on the root window. Found by a probe grab that is let go
// at once; combinations that `hotKeys` holds for this program are never reported.
class X11SystemShortcuts final : public SystemShortcuts {
public:
    // `hotKeys` is not owned and must outlive this object.
    explicit X11SystemShortcuts(X11HotKeyService &hotKeys)
        : m_hotKeys(hotKeys)
    {
    }

    bool isReserved(qint64 carbonKeyCode, qint64 carbonModifiers) override;

private:
    X11HotKeyService &m_hotKeys;
};

} // namespace Platform::X11
