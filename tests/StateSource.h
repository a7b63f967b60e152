#pragma once

#include "app/APIClient.h"
#include "app/TextProcessorState.h"

#include <QObject>

// Stands in for the text processor's published state: set a state, and it is announced. The runs
// asked of it are recorded, and end at once.
class StateSource : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    TextProcessorState state() const { return m_state; }
    void setState(const TextProcessorState &state)
    {
        m_state = state;
        Q_EMIT stateChanged(m_state);
    }
    QList<FixMode> runs;
    QCoro::Task<> run(FixMode mode)
    {
        runs.append(mode);
        co_return;
    }

Q_SIGNALS:
    void stateChanged(const TextProcessorState &state);

private:
    TextProcessorState m_state = TextProcessorState::idle();
};
