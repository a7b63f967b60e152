#pragma once

#include "app/TextProcessorState.h"

#include <QString>

namespace TestLib {

// A processor state as the tests record and compare it: "idle", "copying", "requesting",
// "pasting", or "error: " followed by the message.
inline QString describe(const TextProcessorState &state)
{
    switch (state.kind()) {
    case TextProcessorState::Kind::Idle:
        return QStringLiteral("idle");
    case TextProcessorState::Kind::Copying:
        return QStringLiteral("copying");
    case TextProcessorState::Kind::Requesting:
        return QStringLiteral("requesting");
    case TextProcessorState::Kind::Pasting:
        return QStringLiteral("pasting");
    case TextProcessorState::Kind::Error:
        return QStringLiteral("error: ") + state.message();
    }
    return {};
}

} // namespace TestLib
