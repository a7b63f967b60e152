#include "app/AppContext.h"

#include "app/APIClient.h"
#include "app/AccessibilityChecker.h"
#include "app/AppConfig.h"
#include "app/GlobalShortcut.h"
#include "app/RequestFeedbackHUD.h"
#include "app/TextProcessor.h"
#include "hotkeys/Hotkeys.h"
#include "hotkeys/Shortcut.h"
#include "hotkeys/SystemHotkeys.h"
#include "platform/qt/Notices.h"

#include <QPointer>

AppContext::AppContext(const Services &services, QObject *parent)
    : QObject(parent)
    , m_notices(services.notices)
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

    // The system may refuse a shortcut at once, later, or take it back; and a new shortcut
    // replaces the state of the old one.
    const QPointer<AppContext> self(this);
    auto &centre = Platform::NotificationCenter::defaultCenter();
    for (const QString &notification :
        {Hotkeys::SystemHotkeys::statusDidChange(), Hotkeys::shortcutByNameDidChange()})
        m_hotKeyObservers.push_back(centre.addObserver(notification, [self](const auto &) {
            if (self)
                self->updateRefusalNotices();
        }));
    updateRefusalNotices();
}

// The handlers stay registered after we are gone (the shortcut tables are process-wide); they
// find the context gone and do nothing. The panel goes first: it watches the processor.
AppContext::~AppContext()
{
    m_requestFeedbackHUD.reset();
}

void AppContext::updateRefusalNotices()
{
    const std::pair<const Hotkeys::Name &, QString> shortcuts[]
        = {{Hotkeys::fixSelectedText(), Hotkeys::fixSelectedTextTitle()},
            {Hotkeys::formalizeSelectedText(), Hotkeys::formalizeSelectedTextTitle()}};
    for (const auto &[name, title] : shortcuts) {
        const QString id = QStringLiteral("shortcut-refused/") + name.rawValue();
        const std::optional<Hotkeys::Shortcut> shortcut = name.shortcut();
        if (!shortcut || !Hotkeys::refusal(name)) {
            m_notices.clear(id);
            continue;
        }
        m_notices.set({id,
            QStringLiteral("%1 (%2) is taken by another program").arg(shortcut->nativeText(), title),
            QStringLiteral("Record another shortcut for it in Settings, or free it in the other program.")});
    }
}

void AppContext::startRun(FixMode mode)
{
    // The task frees itself when the run is over.
    m_textProcessor->run(mode);
}

void AppContext::registerShortcut()
{
    const QPointer<AppContext> self(this);
    Hotkeys::onKeyUp(Hotkeys::fixSelectedText(), [self] {
        if (self)
            self->startRun(FixMode::Fix);
    });
    Hotkeys::onKeyUp(Hotkeys::formalizeSelectedText(), [self] {
        if (self)
            self->startRun(FixMode::Formal);
    });
}
