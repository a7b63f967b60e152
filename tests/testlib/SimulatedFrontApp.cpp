#include "testlib/SimulatedFrontApp.h"

SimulatedFrontApp::SimulatedFrontApp(
    Platform::FakeKeystrokePoster &keys, Platform::FakePasteboard &pasteboard, Platform::Clock &clock)
    : m_keys(keys)
    , m_pasteboard(pasteboard)
    , m_clock(clock)
{
    m_keys.setListener([this](const Platform::FakeKeystrokePoster::Keystroke &k) { onKeystroke(k); });
}

SimulatedFrontApp::~SimulatedFrontApp()
{
    m_keys.setListener(nullptr);
}

void SimulatedFrontApp::setDocument(const QString &text, qsizetype selectionStart, qsizetype selectionLength)
{
    m_document = text;
    m_selectionStart = qBound(qsizetype(0), selectionStart, text.size());
    m_selectionLength = qBound(qsizetype(0), selectionLength, text.size() - m_selectionStart);
}

void SimulatedFrontApp::setCopyBehaviour(CopyBehaviour behaviour, Platform::Clock::Duration delay)
{
    m_copyBehaviour = behaviour;
    m_copyDelay = delay;
}

void SimulatedFrontApp::setPasteBehaviour(PasteBehaviour behaviour, Platform::Clock::Duration delay)
{
    m_pasteBehaviour = behaviour;
    m_pasteDelay = delay;
}

QByteArray SimulatedFrontApp::imageBytes()
{
    return QByteArray::fromHex("89504e470d0a1a0a0000000d49484452");
}

void SimulatedFrontApp::onKeystroke(const Platform::FakeKeystrokePoster::Keystroke &keystroke)
{
    if (keystroke.flags != Platform::AppKitModifier::command)
        return;
    if (keystroke.keyCode == copyKeyCode) {
        ++m_copyKeystrokes;
        switch (m_copyBehaviour) {
        case CopyBehaviour::Immediate:
            copy();
            break;
        case CopyBehaviour::Late:
            m_timers.push_back(m_clock.singleShot(m_copyDelay, [this] { copy(); }));
            break;
        case CopyBehaviour::Never:
            break;
        case CopyBehaviour::ImageOnly:
            m_pasteboard.writeItemsAs(
                owner(), {Platform::PasteboardItem {{QStringLiteral("image/png"), imageBytes()}}});
            break;
        }
    } else if (keystroke.keyCode == pasteKeyCode) {
        ++m_pasteKeystrokes;
        switch (m_pasteBehaviour) {
        case PasteBehaviour::Immediate:
            paste();
            break;
        case PasteBehaviour::Late:
            m_timers.push_back(m_clock.singleShot(m_pasteDelay, [this] { paste(); }));
            break;
        case PasteBehaviour::Never:
            break;
        }
    }
}

void SimulatedFrontApp::copy()
{
    m_pasteboard.writeItemsAs(
        owner(), {Platform::PasteboardItem {{Platform::plainTextType(), selectedText().toUtf8()}}});
}

void SimulatedFrontApp::paste()
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
