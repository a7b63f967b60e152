#pragma once

#include "platform/Clock.h"
#include "platform/KeyEncodings.h"
#include "platform/MimeTypes.h"
#include "platform/fake/FakeKeystrokePoster.h"
#include "platform/fake/FakePasteboard.h"

#include <QList>
#include <QString>

#include <vector>

// The application in front, as far as synthetic keystrokes reach it: a document with a selection
// that answers Command+C by copying and Command+V by pasting over the selection. Each can be made
// late (in the given clock's time) or absent. Listens to the poster while it lives.
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

    SimulatedFrontApp(
        Platform::FakeKeystrokePoster &keys, Platform::FakePasteboard &pasteboard, Platform::Clock &clock)
        : m_keys(keys)
        , m_pasteboard(pasteboard)
        , m_clock(clock)
    {
        m_keys.setListener([this](const Platform::FakeKeystrokePoster::Keystroke &k) { onKeystroke(k); });
    }
    ~SimulatedFrontApp() { m_keys.setListener(nullptr); }
    SimulatedFrontApp(const SimulatedFrontApp &) = delete;
    SimulatedFrontApp &operator=(const SimulatedFrontApp &) = delete;

    // The whole document, with `selectionLength` characters selected from `selectionStart`.
    void setDocument(const QString &text, qsizetype selectionStart, qsizetype selectionLength)
    {
        m_document = text;
        m_selectionStart = qBound(qsizetype(0), selectionStart, text.size());
        m_selectionLength = qBound(qsizetype(0), selectionLength, text.size() - m_selectionStart);
    }
    // A document that is entirely selected.
    void setSelectedText(const QString &text) { setDocument(text, 0, text.size()); }
    const QString &document() const { return m_document; }
    QString selectedText() const { return m_document.mid(m_selectionStart, m_selectionLength); }

    void setCopyBehaviour(CopyBehaviour behaviour, Platform::Clock::Duration delay = {})
    {
        m_copyBehaviour = behaviour;
        m_copyDelay = delay;
    }
    void setPasteBehaviour(PasteBehaviour behaviour, Platform::Clock::Duration delay = {})
    {
        m_pasteBehaviour = behaviour;
        m_pasteDelay = delay;
    }

    // The texts actually pasted into the document, in order.
    const QList<QString> &pastedTexts() const { return m_pasted; }

private:
    void onKeystroke(const Platform::FakeKeystrokePoster::Keystroke &keystroke)
    {
        if (keystroke.flags != Platform::AppKitModifier::command)
            return;
        if (keystroke.keyCode == Platform::MacKeyCode::c && m_copyBehaviour == CopyBehaviour::ImageOnly)
            write({QStringLiteral("image/png"), QByteArray::fromHex("89504e470d0a1a0a0000000d49484452")});
        else if (keystroke.keyCode == Platform::MacKeyCode::c && m_copyBehaviour != CopyBehaviour::Never)
            later(
                m_copyBehaviour == CopyBehaviour::Late ? m_copyDelay : Platform::Clock::Duration {}, [this] {
                    write({Platform::plainTextType(), selectedText().toUtf8()});
                });
        else if (keystroke.keyCode == Platform::MacKeyCode::v && m_pasteBehaviour != PasteBehaviour::Never)
            later(m_pasteBehaviour == PasteBehaviour::Late ? m_pasteDelay : Platform::Clock::Duration {},
                [this] { paste(); });
    }
    void later(Platform::Clock::Duration delay, std::function<void()> action)
    {
        if (delay > Platform::Clock::Duration {})
            m_timers.push_back(m_clock.singleShot(delay, std::move(action)));
        else
            action();
    }
    void write(const QPair<QString, QByteArray> &entry)
    {
        m_pasteboard.writeItemsAs(QStringLiteral("front application"), {Platform::PasteboardItem {entry}});
    }
    void paste()
    {
        const std::optional<QString> text = m_pasteboard.string();
        m_pasteboard.markFetched();
        if (!text)
            return;
        m_document.replace(m_selectionStart, m_selectionLength, *text);
        m_selectionStart += text->size();
        m_selectionLength = 0;
        m_pasted.append(*text);
    }

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
    QList<QString> m_pasted;
};
