#pragma once

#include "platform/AccessibilityTrust.h"
#include "platform/HotKeyService.h"
#include "platform/KeystrokePoster.h"

#include <QDesktopServices>
#include <QUrl>

namespace Platform {

// What serves a seam that the session cannot serve: every request is refused, plainly, so that the
// user interface says so instead of appearing ready. The reason is in the platform choice.

// Refuses every hot key (eventInternalErr); shortcuts then come from the compositor's own
// bindings running `tarnwick --trigger`, if the user adds them.
class UnavailableHotKeys final : public HotKeyService {
public:
    int registerHotKey(quint32, quint32, HotKeyId) override { return eventInternalErr; }
    void unregisterHotKey(quint32) override { }
    int installEventHandler(EventHandler) override { return noErr; }
    void setHandlerListening(bool) override { }
};

// Keystrokes not permitted: never trusted, posts nothing; "Open Settings" shows our help page.
class UnavailableKeystrokes final : public KeystrokePoster, public AccessibilityTrust {
public:
    explicit UnavailableKeystrokes(QString helpPage)
        : m_helpPage(std::move(helpPage))
    {
    }
    QCoro::Task<> postKeystroke(quint16, quint64) override { co_return; }
    bool isProcessTrusted() const override { return false; }
    bool requestTrust() override { return false; }
    void openSystemSettings() override
    {
        if (!m_helpPage.isEmpty())
            QDesktopServices::openUrl(QUrl::fromLocalFile(m_helpPage));
    }

private:
    QString m_helpPage;
};

} // namespace Platform
