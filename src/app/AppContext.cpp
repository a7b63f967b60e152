#include "app/AppContext.h"

#include "app/APIClient.h"
#include "app/AccessibilityChecker.h"
#include "app/AppConfig.h"
#include "app/GlobalShortcut.h"
#include "app/RequestFeedbackHUD.h"
#include "app/TextProcessor.h"
#include "hotkeys/Hotkeys.h"

#include <QPointer>

AppContext::AppContext(const Services &services, QObject *parent)
    : QObject(parent)
{
    if (services.feedbackPanel)
        m_requestFeedbackHUD = std::make_unique<RequestFeedbackHUD>(services.clock, services.screens);
    APIClient api(AppConfig::backendURL(), &services.session);
    m_ax = std::make_unique<AccessibilityChecker>(services.trust);
    m_textProcessor = std::make_unique<TextProcessor>(
        api, services.pasteboard, services.keystrokes, services.trust, services.userDefaults, services.clock);
    if (services.frontWindow && services.primarySelection && services.notifier)
        m_textProcessor->setTerminalServices(
            *services.frontWindow, *services.primarySelection, *services.notifier);
    if (m_requestFeedbackHUD)
        m_requestFeedbackHUD->bind(m_textProcessor.get());
    registerShortcut();
}

// The handlers stay registered after we are gone (the shortcut tables are process-wide); they
// find the context gone and do nothing. The panel goes first: it watches the processor.
AppContext::~AppContext()
{
    m_requestFeedbackHUD.reset();
}

void AppContext::registerShortcut()
{
    // Each release starts its own run and returns at once; a run that finds another one busy
    // returns at once too. The task frees itself when the run is over.
    const QPointer<AppContext> self(this);
    Hotkeys::onKeyUp(Hotkeys::fixSelectedText(), [self] {
        if (self)
            self->m_textProcessor->run(FixMode::Fix);
    });
    Hotkeys::onKeyUp(Hotkeys::formalizeSelectedText(), [self] {
        if (self)
            self->m_textProcessor->run(FixMode::Formal);
    });
}
