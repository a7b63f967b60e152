#pragma once

#include "platform/Screens.h"

namespace Platform {

// Displays and a pointer that tests set; counts how often the pointer was read.
class FakeScreens final : public Screens {
public:
    QPoint pointerPosition() const override
    {
        ++m_pointerReads;
        return m_pointer;
    }
    QList<ScreenGeometry> screens() const override { return m_screens; }
    std::optional<ScreenGeometry> primaryScreen() const override
    {
        if (m_primary < 0 || m_primary >= m_screens.size())
            return std::nullopt;
        return m_screens.at(m_primary);
    }
    bool supportsTranslucency() const override { return m_translucency; }

    void setPointer(QPoint pointer) { m_pointer = pointer; }
    // Replaces the displays; `primary` indexes `screens` (out of range: no primary display).
    void setScreens(QList<ScreenGeometry> screens, int primary = 0)
    {
        m_screens = std::move(screens);
        m_primary = primary;
    }
    void setSupportsTranslucency(bool supported) { m_translucency = supported; }
    int pointerReads() const { return m_pointerReads; }

private:
    QPoint m_pointer;
    QList<ScreenGeometry> m_screens;
    int m_primary = 0;
    bool m_translucency = true;
    mutable int m_pointerReads = 0;
};

} // namespace Platform
