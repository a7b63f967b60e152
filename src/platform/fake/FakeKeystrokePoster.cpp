#include "platform/fake/FakeKeystrokePoster.h"

namespace Platform {

QCoro::Task<> FakeKeystrokePoster::postKeystroke(quint16 keyCode, quint64 flags)
{
    const Keystroke keystroke {keyCode, flags};
    m_posted.append(keystroke);
    if (m_listener)
        m_listener(keystroke);
    co_return;
}

} // namespace Platform
