#pragma once

#include "platform/HotKeyService.h"

#include <QList>
#include <QMap>

#include <optional>

namespace Platform {

// Hot keys in memory, for tests: records registrations, refuses on request, and fires events.
class FakeHotKeyService final : public HotKeyService {
public:
    struct Registration {
        quint32 carbonKeyCode = 0;
        quint32 carbonModifiers = 0;
        HotKeyId hotKeyId;
        friend bool operator==(const Registration &, const Registration &) = default;
    };

    int registerHotKey(quint32 carbonKeyCode, quint32 carbonModifiers, HotKeyId hotKeyId) override;
    void unregisterHotKey(quint32 id) override;
    int installEventHandler(EventHandler handler) override;
    void setHandlerListening(bool listening) override;

    // Every later registration of this combination answers `status` (nonzero) until cleared.
    void refuse(quint32 carbonKeyCode, quint32 carbonModifiers, int status);
    void stopRefusing(quint32 carbonKeyCode, quint32 carbonModifiers);
    // The next installEventHandler calls answer `status` instead of installing.
    void failHandlerInstalls(int times, int status);
    // The system refuses the accepted registration `id` after all (or takes it away) with
    // `status`: it stays registered but fires no more, and the status handler hears of it.
    // grant() gives it back and reports noErr.
    void withdraw(quint32 id, int status);
    void grant(quint32 id);

    // Delivers a hot-key event for `id` as the system would; answers the handler's status, or
    // eventNotHandledErr when no handler listens or no hot key holds that id.
    int press(quint32 id, std::optional<quint32> signature = std::nullopt);
    int release(quint32 id, std::optional<quint32> signature = std::nullopt);
    // Delivers an event as given, registered or not (foreign signatures, odd kinds).
    int deliver(const HotKeyEvent &event);

    // The live registrations by id.
    const QMap<quint32, Registration> &registrations() const { return m_live; }
    bool isRegistered(quint32 id) const { return m_live.contains(id); }
    bool isWithdrawn(quint32 id) const { return m_withdrawn.contains(id); }
    // Every registration attempt, accepted or refused, in order.
    const QList<Registration> &attempts() const { return m_attempts; }
    QList<quint32> unregisterCalls() const { return m_unregisterCalls; }
    bool hasHandler() const { return bool(m_handler); }
    bool isListening() const { return m_listening; }
    int handlerInstalls() const { return m_handlerInstalls; }
    void clearLog();

private:
    int fire(EventKind kind, quint32 id, std::optional<quint32> signature);

    QMap<quint32, Registration> m_live;
    QList<Registration> m_attempts;
    QList<quint32> m_unregisterCalls;
    QMap<std::pair<quint32, quint32>, int> m_refusals;
    QList<quint32> m_withdrawn;
    EventHandler m_handler;
    bool m_listening = false;
    int m_handlerInstalls = 0;
    int m_failInstalls = 0;
    int m_failInstallStatus = 0;
};

} // namespace Platform
