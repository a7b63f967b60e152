#include "app/SettingsView.h"

#include "app/AccessibilityChecker.h"
#include "app/Autostart.h"
#include "app/TextProcessor.h"
#include "app/GlobalShortcut.h"
#include "hotkeys/Hotkeys.h"
#include "hotkeys/Recorder.h"
#include "hotkeys/SystemHotkeys.h"
#include "platform/AccessibilityTrust.h"
#include "platform/Clock.h"
#include "platform/qt/Notices.h"
#include "platform/UserDefaults.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QShowEvent>
#include <QVBoxLayout>

namespace {

const QString replaceEmDashKey = QStringLiteral("replaceEmDash");

// The platform's standard colours, as the symbols carry them too.
const QColor red(0xff, 0x3b, 0x30);
const QColor green(0x28, 0xa7, 0x45);
const QColor orange(0xe6, 0x80, 0x00);

constexpr int symbolSize = 16;

QPixmap symbol(const QString &name, const QWidget *forWidget)
{
    return QIcon(QStringLiteral(":/icons/%1.svg").arg(name))
        .pixmap(QSize(symbolSize, symbolSize), forWidget->devicePixelRatioF());
}

void setTextColour(QWidget *widget, const QColor &colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    palette.setColor(QPalette::Text, colour);
    widget->setPalette(palette);
}

// A text the user may want to copy: plain (never markup), wrapping, selectable.
QLabel *selectableText(const QString &text)
{
    auto *label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    label->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
    return label;
}

void setCaptionStyle(QLabel *label)
{
    QFont caption = label->font();
    caption.setPointSizeF(caption.pointSizeF() * 0.85);
    label->setFont(caption);
    label->setForegroundRole(QPalette::PlaceholderText);
}

} // namespace

SettingsView::SettingsView(AccessibilityChecker &ax, TextProcessor &textProcessor,
    Platform::UserDefaults &defaults, Platform::AccessibilityTrust &trust, Platform::Clock &clock,
    const Hotkeys::Name &fixName, const Hotkeys::Name &formalName, const Platform::Notices *notices,
    const Autostart *autostart, QWidget *parent)
    : QWidget(parent)
    , m_ax(ax)
    , m_textProcessor(textProcessor)
    , m_defaults(defaults)
    , m_trust(trust)
    , m_clock(clock)
    , m_notices(notices)
    , m_autostart(autostart)
{
    setWindowTitle(QStringLiteral("Tarnwick Settings"));
    setObjectName(QStringLiteral("settingsView"));
    setFixedSize(windowWidth, windowHeight);

    auto *form = new QWidget;
    form->setObjectName(QStringLiteral("settingsForm"));
    auto *formLayout = m_formLayout = new QVBoxLayout(form);
    formLayout->setContentsMargins(20, 16, 20, 16);
    formLayout->setSpacing(6);

    m_lastErrorSection = makeSection(QStringLiteral("Last error"), makeLastErrorRow());
    m_lastErrorSection->setObjectName(QStringLiteral("lastErrorSection"));
    formLayout->addWidget(m_lastErrorSection);
    m_noticeRows = new QWidget;
    auto *noticeLayout = new QVBoxLayout(m_noticeRows);
    noticeLayout->setContentsMargins(0, 0, 0, 0);
    noticeLayout->setSpacing(10);
    m_noticesSection = makeSection(QStringLiteral("Problems"), m_noticeRows);
    m_noticesSection->setObjectName(QStringLiteral("noticesSection"));
    formLayout->addWidget(m_noticesSection);
    QWidget *shortcuts = makeSection(QStringLiteral("Shortcuts"), makeShortcutRows(fixName, formalName));
    shortcuts->setObjectName(QStringLiteral("shortcutsSection"));
    formLayout->addWidget(shortcuts);
    QWidget *formatting = makeSection(QStringLiteral("Formatting"), makeDashToggle());
    formatting->setObjectName(QStringLiteral("formattingSection"));
    formLayout->addWidget(formatting);
    QWidget *accessibility = makeSection(QStringLiteral("Accessibility"), makePermissionRow());
    accessibility->setObjectName(QStringLiteral("accessibilitySection"));
    formLayout->addWidget(accessibility);
    if (m_autostart) {
        QWidget *startup = makeSection(QStringLiteral("Startup"), makeAutostartToggle());
        startup->setObjectName(QStringLiteral("startupSection"));
        formLayout->addWidget(startup);
    }
    formLayout->addStretch(1);

    // A long error message may need more than the fixed height: the form scrolls then.
    auto *scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(form);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);

    connect(&m_textProcessor, &TextProcessor::lastErrorChanged, this, &SettingsView::updateLastError);
    connect(&m_ax, &AccessibilityChecker::isTrustedChanged, this, &SettingsView::updateTrust);
    connect(&m_defaults, &Platform::UserDefaults::valueChanged, this, [this](const QString &key) {
        if (key == replaceEmDashKey)
            updateDashToggle();
    });

    if (m_notices)
        connect(m_notices, &Platform::Notices::changed, this, &SettingsView::updateNotices);

    updateLastError();
    updateNotices();
    updateTrust();
    updateDashToggle();
}

SettingsView::~SettingsView() = default;

void SettingsView::showInFront()
{
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void SettingsView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Re-check at once, then every 1.5 s for as long as the window stays open. The autostart
    // file is re-read with it: a user may remove or edit it by hand.
    if (!m_poll) {
        recheckTrust();
        updateAutostart();
        m_poll = m_clock.repeating(recheckInterval, [this] {
            recheckTrust();
            updateAutostart();
        });
    }
}

void SettingsView::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    // A minimised window is still open; only closing (hiding) it stops the re-check.
    if (!event->spontaneous() || !isVisible())
        m_poll.reset();
}

void SettingsView::addSection(const QString &title, QWidget *content)
{
    // Before the stretch that keeps the sections at the top.
    m_formLayout->insertWidget(m_formLayout->count() - 1, makeSection(title, content));
}

QWidget *SettingsView::makeSection(const QString &title, QWidget *content)
{
    auto *section = new QWidget;
    auto *layout = new QVBoxLayout(section);
    layout->setContentsMargins(0, 6, 0, 6);
    layout->setSpacing(4);

    auto *header = new QLabel(title);
    header->setObjectName(QStringLiteral("sectionHeader"));
    QFont font = header->font();
    font.setBold(true);
    header->setFont(font);
    layout->addWidget(header);

    auto *box = new QFrame;
    box->setObjectName(QStringLiteral("sectionBox"));
    box->setFrameShape(QFrame::StyledPanel);
    box->setStyleSheet(QStringLiteral("QFrame#sectionBox { background: palette(base); "
                                      "border: 1px solid palette(mid); border-radius: 8px; }"));
    auto *boxLayout = new QVBoxLayout(box);
    boxLayout->setContentsMargins(12, 10, 12, 10);
    boxLayout->addWidget(content);
    layout->addWidget(box);
    return section;
}

QWidget *SettingsView::makeLastErrorRow()
{
    auto *row = new QWidget;
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);

    auto *icon = new QLabel;
    icon->setObjectName(QStringLiteral("lastErrorIcon"));
    icon->setPixmap(symbol(QStringLiteral("xmark.octagon.fill"), this));
    icon->setProperty("symbolName", QStringLiteral("xmark.octagon.fill"));
    layout->addWidget(icon, 0, Qt::AlignTop);

    m_lastErrorMessage = selectableText(QString());
    m_lastErrorMessage->setObjectName(QStringLiteral("lastErrorMessage"));
    layout->addWidget(m_lastErrorMessage, 1, Qt::AlignTop);

    m_dismissButton = new QPushButton(QStringLiteral("Dismiss"));
    m_dismissButton->setObjectName(QStringLiteral("dismissButton"));
    m_dismissButton->setAutoDefault(false);
    layout->addWidget(m_dismissButton, 0, Qt::AlignTop);
    connect(
        m_dismissButton, &QPushButton::clicked, this, [this] { m_textProcessor.setLastError(std::nullopt); });
    return row;
}

QWidget *SettingsView::makeShortcutRows(const Hotkeys::Name &fixName, const Hotkeys::Name &formalName)
{
    auto *rows = new QWidget;
    auto *layout = new QVBoxLayout(rows);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    const struct {
        const Hotkeys::Name &name;
        QString title;
        const char *objectName;
    } shortcuts[] = {{fixName, Hotkeys::fixSelectedTextTitle(), "fixText"},
        {formalName, Hotkeys::formalizeSelectedTextTitle(), "makeFormal"}};
    for (const auto &shortcut : shortcuts) {
        auto *recorder = new Hotkeys::Recorder(shortcut.title, shortcut.name);
        recorder->setObjectName(QLatin1String(shortcut.objectName) + QLatin1String("Recorder"));
        layout->addWidget(recorder);
        // Under the field, while another program holds the shortcut.
        auto *taken = new QLabel(QStringLiteral("Taken by another program"));
        taken->setObjectName(QLatin1String(shortcut.objectName) + QLatin1String("Taken"));
        QFont caption = taken->font();
        caption.setPointSizeF(caption.pointSizeF() * 0.85);
        taken->setFont(caption);
        setTextColour(taken, orange);
        layout->addWidget(taken, 0, Qt::AlignRight);
        m_takenMarks.append({shortcut.name, taken});
    }
    // The system may refuse a shortcut at once, later, or take it back.
    auto &centre = Platform::NotificationCenter::defaultCenter();
    for (const QString &notification :
        {Hotkeys::SystemHotkeys::statusDidChange(), Hotkeys::shortcutByNameDidChange()})
        m_hotKeyObservers.push_back(
            centre.addObserver(notification, [this](const auto &) { updateTakenMarks(); }));
    updateTakenMarks();
    return rows;
}

QWidget *SettingsView::makeDashToggle()
{
    auto *row = new QWidget;
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);

    auto *labels = new QVBoxLayout;
    labels->setSpacing(2);
    auto *title = new QLabel(QStringLiteral("Replace \u2014 with -"));
    title->setObjectName(QStringLiteral("dashTitle"));
    labels->addWidget(title);
    auto *note = new QLabel(QStringLiteral("Swaps em/en dashes for a plain hyphen before pasting."));
    note->setObjectName(QStringLiteral("dashNote"));
    setCaptionStyle(note);
    note->setWordWrap(true);
    labels->addWidget(note);
    layout->addLayout(labels, 1);

    m_dashToggle = new QCheckBox;
    m_dashToggle->setObjectName(QStringLiteral("replaceEmDashToggle"));
    m_dashToggle->setAccessibleName(title->text());
    title->setBuddy(m_dashToggle);
    layout->addWidget(m_dashToggle, 0, Qt::AlignVCenter);
    connect(m_dashToggle, &QCheckBox::toggled, this,
        [this](bool on) { m_defaults.setValue(replaceEmDashKey, on); });
    return row;
}

QWidget *SettingsView::makePermissionRow()
{
    auto *row = new QWidget;
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);

    m_permissionIcon = new QLabel;
    m_permissionIcon->setObjectName(QStringLiteral("permissionIcon"));
    layout->addWidget(m_permissionIcon, 0, Qt::AlignVCenter);
    m_permissionText = new QLabel;
    m_permissionText->setObjectName(QStringLiteral("permissionText"));
    layout->addWidget(m_permissionText, 0, Qt::AlignVCenter);
    layout->addStretch(1);

    m_requestButton = new QPushButton(QStringLiteral("Request"));
    m_requestButton->setObjectName(QStringLiteral("requestButton"));
    m_requestButton->setAutoDefault(false);
    layout->addWidget(m_requestButton, 0, Qt::AlignVCenter);
    connect(m_requestButton, &QPushButton::clicked, this, &SettingsView::requestTrust);

    m_openSettingsButton = new QPushButton(QStringLiteral("Open Settings"));
    m_openSettingsButton->setObjectName(QStringLiteral("openSettingsButton"));
    m_openSettingsButton->setAutoDefault(false);
    layout->addWidget(m_openSettingsButton, 0, Qt::AlignVCenter);
    connect(m_openSettingsButton, &QPushButton::clicked, this, [this] { m_ax.openSystemSettings(); });
    return row;
}

QWidget *SettingsView::makeAutostartToggle()
{
    auto *row = new QWidget;
    auto *layout = new QVBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    m_autostartToggle = new QCheckBox(QStringLiteral("Start at login"));
    m_autostartToggle->setObjectName(QStringLiteral("startAtLoginToggle"));
    layout->addWidget(m_autostartToggle);
    m_autostartFailure = selectableText(QString());
    m_autostartFailure->setObjectName(QStringLiteral("startAtLoginFailure"));
    setTextColour(m_autostartFailure, orange);
    m_autostartFailure->hide();
    layout->addWidget(m_autostartFailure);
    connect(m_autostartToggle, &QCheckBox::toggled, this, [this](bool on) {
        const QString failure = m_autostart->setEnabled(on);
        m_autostartFailure->setText(failure);
        m_autostartFailure->setVisible(!failure.isEmpty());
        // The switch shows what the file says, also after a write that failed.
        updateAutostart();
    });
    updateAutostart();
    return row;
}

void SettingsView::updateLastError()
{
    const std::optional<TextProcessorError> error = m_textProcessor.lastError();
    if (error)
        m_lastErrorMessage->setText(error->message);
    m_lastErrorSection->setVisible(error.has_value());
}

void SettingsView::updateNotices()
{
    auto *layout = static_cast<QVBoxLayout *>(m_noticeRows->layout());
    while (QLayoutItem *item = layout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const QList<Platform::Notice> notices = m_notices ? m_notices->all() : QList<Platform::Notice> {};
    for (const Platform::Notice &notice : notices) {
        auto *row = new QWidget;
        row->setObjectName(QStringLiteral("notice"));
        row->setProperty("noticeId", notice.id);
        auto *rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(0, 0, 0, 0);
        rowLayout->setSpacing(8);
        auto *icon = new QLabel;
        icon->setPixmap(symbol(QStringLiteral("exclamationmark.triangle.fill"), this));
        rowLayout->addWidget(icon, 0, Qt::AlignTop);
        auto *texts = new QVBoxLayout;
        texts->setSpacing(2);
        QLabel *message = selectableText(notice.message);
        message->setObjectName(QStringLiteral("noticeMessage"));
        texts->addWidget(message);
        if (!notice.remedy.isEmpty()) {
            QLabel *remedy = selectableText(notice.remedy);
            remedy->setObjectName(QStringLiteral("noticeRemedy"));
            setCaptionStyle(remedy);
            texts->addWidget(remedy);
        }
        rowLayout->addLayout(texts, 1);
        layout->addWidget(row);
    }
    m_noticesSection->setVisible(!notices.isEmpty());
}

void SettingsView::updateTakenMarks()
{
    for (const auto &[name, mark] : std::as_const(m_takenMarks))
        mark->setVisible(Hotkeys::refusal(name).has_value());
}

void SettingsView::updateTrust()
{
    const bool trusted = m_ax.isTrusted();
    const QString name
        = trusted ? QStringLiteral("checkmark.circle.fill") : QStringLiteral("exclamationmark.triangle.fill");
    m_permissionIcon->setPixmap(symbol(name, this));
    m_permissionIcon->setProperty("symbolName", name);
    m_permissionText->setText(
        trusted ? QStringLiteral("Permission granted") : QStringLiteral("Permission not granted"));
    setTextColour(m_permissionText, trusted ? green : orange);
    m_requestButton->setVisible(!trusted);
    m_openSettingsButton->setVisible(!trusted);
}

void SettingsView::updateDashToggle()
{
    const QSignalBlocker blocker(m_dashToggle);
    m_dashToggle->setChecked(m_defaults.boolValue(replaceEmDashKey));
}

void SettingsView::updateAutostart()
{
    if (!m_autostart)
        return;
    const QSignalBlocker blocker(m_autostartToggle);
    m_autostartToggle->setChecked(m_autostart->isEnabled());
}

void SettingsView::recheckTrust()
{
    m_ax.setIsTrusted(m_trust.isProcessTrusted());
}

void SettingsView::requestTrust()
{
    // The prompt's own answer is not used: what counts is the trust as it is afterwards.
    m_trust.requestTrust();
    m_ax.setIsTrusted(m_trust.isProcessTrusted());
}
