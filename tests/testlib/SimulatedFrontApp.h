#pragma once

#include "platform/Clock.h"
#include "platform/fake/FakeKeystrokePoster.h"
#include "platform/fake/FakePasteboard.h"

#include <QList>
#include <QString>

#include <vector>

// The application in front, as far as synthetic keystrokes reach it: a document with a selection
// that answers Command+C by copying and Command+V by pasting over the selection. Each behaviour
// can be made late (in the given clock's time) or absent. Listens to the poster while it lives.
class SimulatedFrontApp {
public:
    enum class CopyBehaviour {
        Immediate, // the selection is on the pasteboard when the keystroke returns
        Late, // ... after the copy delay
        Never, // the keystroke is ignored
        ImageOnly, // an image and no text is put on the pasteboard at once
    };
    enum class PasteBehaviour {
        Immediate, // the pasteboard is read when the keystroke arrives
        Late, // ... after the paste delay (as an X11 application fetching lazily)
        Never, // the keystroke is ignored
    };

    // macOS key codes of the ANSI "C" and "V" keys.
    static constexpr quint16 copyKeyCode = 8;
    static constexpr quint16 pasteKeyCode = 9;

    SimulatedFrontApp(
        Platform::FakeKeystrokePoster &keys, Platform::FakePasteboard &pasteboard, Platform::Clock &clock);
    ~SimulatedFrontApp();
    SimulatedFrontApp(const SimulatedFrontApp &) = delete;
    SimulatedFrontApp &operator=(const SimulatedFrontApp &) = delete;

    // The whole document, with `selectionLength` characters selected from `selectionStart`.
    void setDocument(const QString &text, qsizetype selectionStart, qsizetype selectionLength);
    // A document that is entirely selected.
    void setSelectedText(const QString &text) { setDocument(text, 0, text.size()); }

    const QString &document() const { return m_document; }
    QString selectedText() const { return m_document.mid(m_selectionStart, m_selectionLength); }

    void setCopyBehaviour(CopyBehaviour behaviour, Platform::Clock::Duration delay = {});
    void setPasteBehaviour(PasteBehaviour behaviour, Platform::Clock::Duration delay = {});

    // Who the pasteboard names as the owner of what this application copied.
    static QString owner() { return QStringLiteral("front application"); }

    // The bytes an image-only copy puts on the pasteboard, under "image/png".
    static QByteArray imageBytes();

    // Keystrokes handled so far (ignored ones included).
    int copyKeystrokes() const { return m_copyKeystrokes; }
    int pasteKeystrokes() const { return m_pasteKeystrokes; }
    // The texts actually pasted into the document, in order.
    const QList<QString> &pastedTexts() const { return m_pasted; }

private:
    void onKeystroke(const Platform::FakeKeystrokePoster::Keystroke &keystroke);
    void copy();
    void paste();

    Platform::FakeKeystrokePoster &m_keys;
    Platform::FakePasteboard &m_pasteboard;
    Platform::Clock &m_clock;
    QString m_document;
    qsizetype m_selectionStart = 0;
    qsizetype m_selectionLength = 0;
    CopyBehaviour m_copyBehaviour = CopyBehaviour::Immediate;
    Platform::Clock::Duration m_copyDelay {};
    PasteBehaviour m_pasteBehaviour = PasteBehaviour::Immediate;
    Platform::Clock::Duration m_pasteDelay {};
    std::vector<Platform::TimerPtr> m_timers;
    int m_copyKeystrokes = 0;
    int m_pasteKeystrokes = 0;
    QList<QString> m_pasted;
};
