#pragma once

#include "platform/AccessibilityTrust.h"

namespace Platform {

// A switch that tests turn; counts prompts and settings openings.
class FakeAccessibilityTrust final : public AccessibilityTrust {
public:
    explicit FakeAccessibilityTrust(bool trusted = true)
        : m_trusted(trusted)
    {
    }

    bool isProcessTrusted() const override { return m_trusted; }
    bool requestTrust() override
    {
        ++m_requests;
        if (m_grantOnRequest)
            m_trusted = true;
        return m_trusted;
    }
    void openSystemSettings() override { ++m_settingsOpened; }

    void setTrusted(bool trusted) { m_trusted = trusted; }
    void setGrantOnRequest(bool grant) { m_grantOnRequest = grant; }
    int requests() const { return m_requests; }
    int settingsOpened() const { return m_settingsOpened; }

private:
    bool m_trusted;
    bool m_grantOnRequest = false;
    int m_requests = 0;
    int m_settingsOpened = 0;
};

} // namespace Platform
