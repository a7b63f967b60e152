#pragma once

#include <QMetaType>
#include <QString>

// The text processor's published phase. `copying`, `requesting` and `pasting` are the busy states.
// Two `error` values are equal only when their messages are equal.
class TextProcessorState {
public:
    enum class Kind { Idle, Copying, Requesting, Pasting, Error };

    TextProcessorState() = default;
    static TextProcessorState idle() { return TextProcessorState(Kind::Idle); }
    static TextProcessorState copying() { return TextProcessorState(Kind::Copying); }
    static TextProcessorState requesting() { return TextProcessorState(Kind::Requesting); }
    static TextProcessorState pasting() { return TextProcessorState(Kind::Pasting); }
    static TextProcessorState error(const QString &message)
    {
        return TextProcessorState(Kind::Error, message);
    }

    Kind kind() const { return m_kind; }
    // The message of an `error`; empty for every other case.
    const QString &message() const { return m_message; }
    bool isBusy() const
    {
        return m_kind == Kind::Copying || m_kind == Kind::Requesting || m_kind == Kind::Pasting;
    }
    bool isError() const { return m_kind == Kind::Error; }

    bool operator==(const TextProcessorState &other) const = default;

private:
    explicit TextProcessorState(Kind kind, QString message = {})
        : m_kind(kind)
        , m_message(std::move(message))
    {
    }

    Kind m_kind = Kind::Idle;
    QString m_message;
};

// The message of the most recent failure, for display.
struct TextProcessorError {
    QString message;
    bool operator==(const TextProcessorError &) const = default;
};

Q_DECLARE_METATYPE(TextProcessorState)
Q_DECLARE_METATYPE(TextProcessorError)
