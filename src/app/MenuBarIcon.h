#pragma once

#include "app/TextProcessorState.h"

#include <QIcon>
#include <QObject>
#include <QString>

// The tray icon's image: ready, busy or failed, after the text processor's state.
class MenuBarIcon : public QObject {
    Q_OBJECT

public:
    explicit MenuBarIcon(QObject *parent = nullptr);

    // Follows `source`'s state (the text processor, or anything with `state()` and a
    // `stateChanged(const TextProcessorState &)` signal); the current state is taken at once.
    template <typename StateSource> void bind(StateSource *source)
    {
        QObject::disconnect(m_stateConnection);
        m_stateConnection = connect(source, &StateSource::stateChanged, this, &MenuBarIcon::setState);
        setState(source->state());
    }

    // The name of the symbol for a state: "text.badge.checkmark", "ellipsis.circle" or
    // "exclamationmark.triangle".
    static QString symbolName(const TextProcessorState &state);
    // The icon shipped under a symbol's name (":/icons/<name>.svg").
    static QIcon icon(const QString &symbolName);

    QString symbolName() const { return symbolName(m_state); }
    QIcon icon() const { return icon(symbolName()); }

Q_SIGNALS:
    // Emitted when the symbol changes, not on every state change.
    void iconChanged(const QIcon &icon);

private:
    void setState(const TextProcessorState &state);

    QMetaObject::Connection m_stateConnection;
    TextProcessorState m_state = TextProcessorState::idle();
};
