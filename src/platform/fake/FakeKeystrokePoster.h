#pragma once

#include "platform/KeystrokePoster.h"

#include <QList>

#include <functional>

namespace Platform {

// Records every keystroke and hands it to an optional listener (a simulated front application).
class FakeKeystrokePoster final : public KeystrokePoster {
public:
    struct Keystroke {
        quint16 keyCode;
        quint64 flags;
        bool operator==(const Keystroke &) const = default;
    };

    QCoro::Task<> postKeystroke(quint16 keyCode, quint64 flags) override;

    const QList<Keystroke> &posted() const { return m_posted; }
    void clear() { m_posted.clear(); }

    // Called synchronously for every posted keystroke.
    void setListener(std::function<void(const Keystroke &)> listener) { m_listener = std::move(listener); }

private:
    QList<Keystroke> m_posted;
    std::function<void(const Keystroke &)> m_listener;
};

} // namespace Platform
