#pragma once

#include "platform/Screens.h"

namespace Platform::X11 {

// The pointer and displays as Qt sees them (QCursor, QScreen); compositing from the X server's
// compositing-manager selection. Needs a QGuiApplication.
class X11Screens final : public Screens {
public:
    QPoint pointerPosition() const override;
    QList<ScreenGeometry> screens() const override;
    std::optional<ScreenGeometry> primaryScreen() const override;
    // Asks the X server each time (one round trip), so a compositor started or stopped later
    // is noticed; false when the application is not on X11.
    bool supportsTranslucency() const override;

private:
    mutable quint32 m_compositorAtom = 0; // xcb_atom_t, looked up on first use
};

} // namespace Platform::X11
