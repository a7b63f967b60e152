#pragma once

#include "platform/FrontWindow.h"

namespace Platform {

// A front window that tests set; counts the look-ups.
class FakeFrontWindow final : public FrontWindow {
public:
    FrontWindowInfo current() const override
    {
        ++m_lookups;
        return m_window;
    }

    void setCurrent(const FrontWindowInfo &window) { m_window = window; }
    int lookups() const { return m_lookups; }

private:
    FrontWindowInfo m_window;
    mutable int m_lookups = 0;
};

} // namespace Platform
