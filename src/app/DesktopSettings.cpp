#include "app/DesktopSettings.h"

#include "app/GlobalShortcut.h"
#include "app/TextProcessor.h"
#include "hotkeys/Hotkeys.h"
#include "platform/qt/Notices.h"
#include "platform/CompositorBindings.h"
#include "platform/SessionCapabilities.h"
#include "platform/UserDefaults.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QCoreApplication>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// The notice that the composition root sets while the desktop's shortcuts are not added.
const QString hotKeysNoticeId = QStringLiteral("platform/hot keys");

QLabel *wrapped(const QString &text)
{
    auto *label = new QLabel(text);
    label->setWordWrap(true);
    return label;
}

// The desktop runs the command through a shell-like parser: a path with spaces is quoted.
QString command(const QString &mode)
{
    return Platform::shellWord(QCoreApplication::applicationFilePath()) + QStringLiteral(" --trigger ")
        + mode;
}

} // namespace

DesktopSettings::DesktopSettings(const AppContext::Services &services, QWidget *parent)
    : QWidget(parent)
    , m_commandShortcuts(services.commandShortcuts)
    , m_notices(services.notices)
    , m_defaults(services.userDefaults)
    , m_layout(services.keyboardLayout)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    if (!services.shortcutsWay.isEmpty())
        layout->addWidget(wrapped(services.shortcutsWay));
    if (m_commandShortcuts) {
        layout->addWidget(
            wrapped(QStringLiteral("This desktop does not let programs listen for shortcuts. \"Add "
                                   "to GNOME\" puts the two shortcuts above in %1, where they run "
                                   "`tarnwick --trigger fix` and `tarnwick --trigger formal`.")
                        .arg(m_commandShortcuts->place())));
        auto *row = new QHBoxLayout;
        m_state = wrapped(QString());
        row->addWidget(m_state, 1);
        m_add = new QPushButton(QStringLiteral("Add to GNOME"));
        m_remove = new QPushButton(QStringLiteral("Remove from GNOME"));
        row->addWidget(m_add);
        row->addWidget(m_remove);
        layout->addLayout(row);
        connect(m_add, &QPushButton::clicked, this, &DesktopSettings::addShortcuts);
        connect(m_remove, &QPushButton::clicked, this, &DesktopSettings::removeShortcuts);
        showState();
    }
    if (services.compositorConfig) {
        m_place = wrapped(QString());
        m_place->setTextFormat(Qt::PlainText); // "<keyboard>" is a place in labwc's file
        layout->addWidget(m_place);
        auto *row = new QHBoxLayout;
        row->addWidget(new QLabel(QStringLiteral("Compositor:")));
        m_compositor = new QComboBox;
        for (const Platform::Compositor compositor : Platform::configurableCompositors)
            m_compositor->addItem(Platform::compositorName(compositor), int(compositor));
        // Sway's syntax, which i3-like compositors share, where the probes could not tell.
        m_compositor->setCurrentIndex(std::max(0, m_compositor->findData(int(*services.compositorConfig))));
        row->addWidget(m_compositor, 1);
        auto *copy = new QPushButton(QStringLiteral("Copy"));
        row->addWidget(copy);
        layout->addLayout(row);
        m_lines = new QPlainTextEdit;
        m_lines->setReadOnly(true);
        m_lines->setLineWrapMode(QPlainTextEdit::NoWrap);
        m_lines->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        m_lines->setFixedHeight(m_lines->fontMetrics().lineSpacing() * 5);
        layout->addWidget(m_lines);
        connect(
            m_compositor, &QComboBox::currentIndexChanged, this, &DesktopSettings::showConfigurationLines);
        // The user's own copy, made while this window has the focus: Qt's clipboard, which
        // clipboard managers keep, not the pasteboard that holds our contents for a moment.
        connect(copy, &QPushButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(m_lines->toPlainText()); });
        showConfigurationLines();
    }
    if (m_commandShortcuts || m_lines) {
        // Shortcuts recorded anew follow at once: in GNOME while ours are added, in the lines.
        m_shortcutsChanged = Platform::NotificationCenter::defaultCenter().addObserver(
            Hotkeys::shortcutByNameDidChange(), [this](const Platform::NotificationCenter::UserInfo &) {
                if (m_commandShortcuts && !m_commandShortcuts->addedIds().isEmpty())
                    addShortcuts();
                if (m_lines)
                    showConfigurationLines();
            });
    }
    if (!services.frontWindowKnown) {
        m_terminals = new QCheckBox(QStringLiteral("Treat unrecognised windows as terminals"));
        m_terminals->setChecked(m_defaults.boolValue(TextProcessor::unrecognisedWindowsAreTerminalsKey()));
        layout->addWidget(m_terminals);
        auto *note
            = wrapped(QStringLiteral("This desktop does not say which window is in front, so terminals "
                                     "other than XWayland ones are not recognised, and Ctrl+C would stop "
                                     "the program running in them. When this is on, Tarnwick never sends "
                                     "Ctrl+C to a window it cannot recognise: it corrects the text you "
                                     "selected and leaves the result for you to paste."));
        note->setEnabled(false);
        layout->addWidget(note);
        connect(m_terminals, &QCheckBox::toggled, this, [this](bool on) {
            m_defaults.setValue(TextProcessor::unrecognisedWindowsAreTerminalsKey(), on);
        });
    }
}

bool DesktopSettings::isWanted(const AppContext::Services &services)
{
    return !services.shortcutsWay.isEmpty() || services.commandShortcuts || services.compositorConfig
        || !services.frontWindowKnown;
}

QList<Platform::CommandShortcuts::Binding> DesktopSettings::bindings() const
{
    QList<Platform::CommandShortcuts::Binding> result;
    const struct {
        const Hotkeys::Name &name;
        QString id;
        QString title;
    } names[] = {{Hotkeys::fixSelectedText(), QStringLiteral("fix"), QStringLiteral("Tarnwick: Fix text")},
        {Hotkeys::formalizeSelectedText(), QStringLiteral("formal"),
            QStringLiteral("Tarnwick: Make formal")}};
    for (const auto &slot : names) {
        if (const std::optional<Hotkeys::Shortcut> shortcut = Hotkeys::getShortcut(slot.name))
            result.append({slot.id, slot.title, command(slot.id), shortcut->carbonKeyCode(),
                shortcut->carbonModifiers()});
    }
    return result;
}

void DesktopSettings::addShortcuts()
{
    // A shortcut cleared in the recorder leaves the desktop too.
    QString error = m_commandShortcuts->remove();
    if (error.isEmpty())
        error = m_commandShortcuts->add(bindings());
    if (error.isEmpty() && !m_commandShortcuts->addedIds().isEmpty())
        m_notices.clear(hotKeysNoticeId);
    showState(error);
}

void DesktopSettings::removeShortcuts()
{
    const QString error = m_commandShortcuts->remove();
    const Platform::ServiceProblem problem = Platform::gnomeKeybindingsProblem();
    m_notices.set({hotKeysNoticeId, problem.message, problem.remedy});
    showState(error);
}

void DesktopSettings::showState(const QString &error)
{
    const bool added = !m_commandShortcuts->addedIds().isEmpty();
    m_state->setText(!error.isEmpty() ? error
            : added                   ? QStringLiteral("Added: GNOME runs Tarnwick on your shortcuts.")
                                      : QStringLiteral("Not added: the shortcuts do nothing yet."));
    m_remove->setEnabled(added);
}

void DesktopSettings::showConfigurationLines()
{
    const auto compositor = Platform::Compositor(m_compositor->currentData().toInt());
    m_place->setText(QStringLiteral("This compositor does not let programs listen for shortcuts. Add these "
                                    "lines to %1: the compositor then runs Tarnwick on the two shortcuts "
                                    "above. The lines change here when you record others.")
                         .arg(Platform::compositorConfigurationPlace(compositor)));
    m_lines->setPlainText(Platform::compositorBindingLines(compositor, bindings(), m_layout));
}
