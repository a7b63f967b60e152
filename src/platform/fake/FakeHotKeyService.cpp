#include "platform/fake/FakeHotKeyService.h"

namespace Platform {

int FakeHotKeyService::registerHotKey(quint32 carbonKeyCode, quint32 carbonModifiers, HotKeyId hotKeyId)
{
    const Registration registration {carbonKeyCode, carbonModifiers, hotKeyId};
    m_attempts.append(registration);
    if (m_live.contains(hotKeyId.id))
        return paramErr;
    const auto refusal = m_refusals.constFind({carbonKeyCode, carbonModifiers});
    if (refusal != m_refusals.cend())
        return *refusal;
    m_live.insert(hotKeyId.id, registration);
    return noErr;
}

void FakeHotKeyService::unregisterHotKey(quint32 id)
{
    m_unregisterCalls.append(id);
    m_live.remove(id);
    m_withdrawn.removeAll(id);
}

int FakeHotKeyService::installEventHandler(EventHandler handler)
{
    if (m_failInstalls > 0) {
        --m_failInstalls;
        return m_failInstallStatus;
    }
    ++m_handlerInstalls;
    m_handler = std::move(handler);
    return noErr;
}

void FakeHotKeyService::setHandlerListening(bool listening)
{
    m_listening = listening;
}

void FakeHotKeyService::refuse(quint32 carbonKeyCode, quint32 carbonModifiers, int status)
{
    Q_ASSERT(status != noErr);
    m_refusals.insert({carbonKeyCode, carbonModifiers}, status);
}

void FakeHotKeyService::stopRefusing(quint32 carbonKeyCode, quint32 carbonModifiers)
{
    m_refusals.remove({carbonKeyCode, carbonModifiers});
}

void FakeHotKeyService::failHandlerInstalls(int times, int status)
{
    m_failInstalls = times;
    m_failInstallStatus = status;
}

void FakeHotKeyService::withdraw(quint32 id, int status)
{
    Q_ASSERT(status != noErr && m_live.contains(id));
    if (!m_withdrawn.contains(id))
        m_withdrawn.append(id);
    reportStatus(m_live.value(id).hotKeyId, status);
}

void FakeHotKeyService::grant(quint32 id)
{
    Q_ASSERT(m_live.contains(id));
    m_withdrawn.removeAll(id);
    reportStatus(m_live.value(id).hotKeyId, noErr);
}

int FakeHotKeyService::press(quint32 id, std::optional<quint32> signature)
{
    return fire(EventKind::hotKeyPressed, id, signature);
}

int FakeHotKeyService::release(quint32 id, std::optional<quint32> signature)
{
    return fire(EventKind::hotKeyReleased, id, signature);
}

int FakeHotKeyService::fire(EventKind kind, quint32 id, std::optional<quint32> signature)
{
    // The system only reports keys that are registered, with the signature they were given.
    const auto live = m_live.constFind(id);
    if (live == m_live.cend() || m_withdrawn.contains(id))
        return eventNotHandledErr;
    return deliver({kind, {signature.value_or(live->hotKeyId.signature), id}});
}

int FakeHotKeyService::deliver(const HotKeyEvent &event)
{
    if (!m_handler || !m_listening)
        return eventNotHandledErr;
    const EventHandler handler = m_handler; // the handler may replace itself
    return handler(event);
}

void FakeHotKeyService::clearLog()
{
    m_attempts.clear();
    m_unregisterCalls.clear();
}

} // namespace Platform
