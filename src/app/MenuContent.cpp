#include "app/MenuContent.h"

#include "app/AccessibilityChecker.h"
#include "platform/Clock.h"
#include "platform/qt/Notices.h"

#include <QAction>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>

MenuContent::MenuContent(
    AccessibilityChecker &ax, Platform::Clock &clock, const Platform::Notices *notices, QObject *parent)
    : QObject(parent)
    , m_ax(ax)
    , m_clock(clock)
    , m_notices(notices)
    , m_menu(std::make_unique<QMenu>())
{
    m_status = m_menu->addAction(QString());
    m_status->setEnabled(false);
    m_menu->addSeparator();
    m_fix = m_menu->addAction(QStringLiteral("Fix selected text"));
    m_formal = m_menu->addAction(QStringLiteral("Make selected text formal"));
    // The two commands show no key: their global shortcuts belong to the shortcut settings.
    m_menu->addSeparator();
    m_settings = m_menu->addAction(QStringLiteral("Settings\u2026"));
    m_settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    m_menu->addSeparator();
    m_quit = m_menu->addAction(QStringLiteral("Quit"));
    m_quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    m_quit->setMenuRole(QAction::QuitRole);
    // Qt never matches the shortcuts of a popup menu's own actions, not even while it is open:
    // the menu looks for them itself.
    m_menu->installEventFilter(this);

    connect(m_fix, &QAction::triggered, this, [this] { runCommand(FixMode::Fix); });
    connect(m_formal, &QAction::triggered, this, [this] { runCommand(FixMode::Formal); });
    connect(m_settings, &QAction::triggered, this, &MenuContent::openSettings);
    connect(m_quit, &QAction::triggered, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    connect(&m_ax, &AccessibilityChecker::isTrustedChanged, this, &MenuContent::refresh);
    if (m_notices)
        connect(m_notices, &Platform::Notices::changed, this, &MenuContent::refresh);
}

MenuContent::~MenuContent() = default;

bool MenuContent::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_menu.get() || event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    const QKeySequence pressed(static_cast<QKeyEvent *>(event)->keyCombination());
    for (QAction *action : {m_settings, m_quit}) {
        if (action->isEnabled() && action->shortcut() == pressed) {
            m_menu->close();
            action->trigger();
            return true;
        }
    }
    return false;
}

QString MenuContent::statusLine(
    const TextProcessorState &state, bool isTrusted, const QList<Platform::Notice> &notices)
{
    switch (state.kind()) {
    case TextProcessorState::Kind::Idle:
        if (!notices.isEmpty())
            return notices.first().message;
        return isTrusted ? QStringLiteral("Tarnwick \u2014 ready")
                         : QStringLiteral("Tarnwick \u2014 Accessibility required");
    case TextProcessorState::Kind::Copying:
        return QStringLiteral("Copying\u2026");
    case TextProcessorState::Kind::Requesting:
        return QStringLiteral("Fixing\u2026");
    case TextProcessorState::Kind::Pasting:
        return QStringLiteral("Pasting\u2026");
    case TextProcessorState::Kind::Error:
        return QStringLiteral("Error: ") + state.message();
    }
    return {};
}

bool MenuContent::canRun(const TextProcessorState &state, bool isTrusted)
{
    return isTrusted && !state.isBusy();
}

QString MenuContent::menuItemText(const QString &text)
{
    QString shown;
    shown.reserve(qMin(text.size(), qsizetype(MaxItemLength)) + 8);
    qsizetype length = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (length == MaxItemLength - 1 && i < text.size() - 1) {
            shown += QChar(0x2026);
            break;
        }
        const QChar c = text.at(i);
        if (c == u'&')
            shown += QStringLiteral("&&");
        else if (c.category() == QChar::Other_Control || c == QChar::LineSeparator
            || c == QChar::ParagraphSeparator)
            shown += u' ';
        else
            shown += c;
        ++length;
    }
    return shown;
}

void MenuContent::refresh()
{
    const TextProcessorState state = m_state ? m_state() : TextProcessorState::idle();
    const bool trusted = m_ax.isTrusted();
    m_status->setText(
        menuItemText(statusLine(state, trusted, m_notices ? m_notices->all() : QList<Platform::Notice> {})));
    const bool runnable = canRun(state, trusted);
    m_fix->setEnabled(runnable);
    m_formal->setEnabled(runnable);
}

QCoro::Task<> MenuContent::finished()
{
    co_return;
}

QCoro::Task<> MenuContent::runAfterDelay(
    Platform::Clock &clock, std::function<QCoro::Task<>(FixMode)> run, FixMode mode)
{
    co_await clock.sleep(CommandDelay);
    co_await run(mode);
}

void MenuContent::runCommand(FixMode mode)
{
    // A disabled item cannot be clicked, but its action can still be triggered from code.
    if (!canRun(m_state ? m_state() : TextProcessorState::idle(), m_ax.isTrusted()))
        return;
    runAfterDelay(m_clock, m_run, mode);
}

void MenuContent::openSettings()
{
    if (m_openSettings)
        m_openSettings();
}
