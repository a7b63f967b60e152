#include "app/AccessibilityChecker.h"

#include "platform/AccessibilityTrust.h"

AccessibilityChecker::AccessibilityChecker(Platform::AccessibilityTrust &trust, QObject *parent)
    : QObject(parent)
    , m_trust(trust)
{
    m_isTrusted = m_trust.isProcessTrusted();
}

void AccessibilityChecker::setIsTrusted(bool trusted)
{
    if (trusted == m_isTrusted)
        return;
    m_isTrusted = trusted;
    Q_EMIT isTrustedChanged(m_isTrusted);
}

void AccessibilityChecker::openSystemSettings()
{
    m_trust.openSystemSettings();
}
