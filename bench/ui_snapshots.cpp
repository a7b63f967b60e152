// Renders the user interface's pieces offscreen to PNG files, for looking at them.
#include "app/AccessibilityChecker.h"
#include "app/MenuBarIcon.h"
#include "app/MenuContent.h"
#include "app/RequestFeedbackHUD.h"
#include "app/RequestFeedbackView.h"
#include "platform/fake/FakeAccessibilityTrust.h"
#include "platform/fake/ManualClock.h"
#include "platform/x11/X11Screens.h"

#include <QApplication>
#include <QDir>
#include <QCursor>
#include <QMenu>
#include <QScreen>
#include <QTest>
#include <QPainter>
#include <QTextStream>

#include <functional>

namespace {

// The panel's frames over a light and a dark window, at 1× and magnified.
QImage panelSheet(RequestFeedbackContent content, const QList<qreal> &rotations)
{
    constexpr int Zoom = 8;
    const QSize cell = RequestFeedbackView::fittingSize(content);
    const QList<QColor> backgrounds {
        QColor(0xff, 0xff, 0xff), QColor(0xee, 0xe8, 0xd5), QColor(0x2b, 0x2b, 0x2b)};
    const int columns = int(rotations.size());
    QImage sheet(columns * (cell.width() * Zoom + 8),
        int(backgrounds.size()) * (cell.height() * (Zoom + 1) + 12), QImage::Format_ARGB32_Premultiplied);
    sheet.fill(QColor(0x80, 0x80, 0x80));
    QPainter painter(&sheet);
    for (int row = 0; row < backgrounds.size(); ++row) {
        for (int column = 0; column < columns; ++column) {
            const QImage frame = RequestFeedbackView::render(content, rotations.at(column));
            const QPoint origin(column * (cell.width() * Zoom + 8), row * (cell.height() * (Zoom + 1) + 12));
            const QRect big(origin, cell * Zoom);
            painter.fillRect(big, backgrounds.at(row));
            painter.drawImage(big, frame);
            const QRect small(origin + QPoint(0, cell.height() * Zoom + 4), cell);
            painter.fillRect(small.adjusted(-4, 0, 4, 4), backgrounds.at(row));
            painter.drawImage(small.topLeft(), frame);
        }
    }
    return sheet;
}

// Stands in for the text processor: a state to show, runs that do nothing.
class StillProcessor : public QObject {
    Q_OBJECT

public:
    TextProcessorState state() const { return m_state; }
    void setState(const TextProcessorState &state)
    {
        m_state = state;
        Q_EMIT stateChanged(m_state);
    }
    QCoro::Task<> run(FixMode) { co_return; }

Q_SIGNALS:
    void stateChanged(const TextProcessorState &state);

private:
    TextProcessorState m_state;
};

// The three tray icons at tray sizes over a light and a dark panel.
QImage iconSheet()
{
    const QStringList names {QStringLiteral("text.badge.checkmark"), QStringLiteral("ellipsis.circle"),
        QStringLiteral("exclamationmark.triangle")};
    const QList<int> sizes {16, 22, 24, 32, 64};
    const QList<QColor> panels {QColor(0xf0, 0xf0, 0xf0), QColor(0x30, 0x30, 0x30)};
    const int cell = 72;
    QImage sheet(int(sizes.size()) * cell, int(names.size() * panels.size()) * cell,
        QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&sheet);
    for (int p = 0; p < panels.size(); ++p)
        for (int n = 0; n < names.size(); ++n)
            for (int s = 0; s < sizes.size(); ++s) {
                const QRect box(s * cell, (p * int(names.size()) + n) * cell, cell, cell);
                painter.fillRect(box, panels.at(p));
                const QPixmap pixmap = MenuBarIcon::icon(names.at(n)).pixmap(sizes.at(s));
                painter.drawPixmap(box.center() - QPoint(sizes.at(s) / 2, sizes.at(s) / 2), pixmap);
            }
    return sheet;
}

// On a real display: the panel in each state over a light and a dark window, as the screen
// shows it (with or without a compositor, whichever runs).
void screenShots(const std::function<void(const QImage &, const QString &)> &save)
{
    QWidget light, dark;
    light.setStyleSheet(QStringLiteral("background: #ffffff"));
    dark.setStyleSheet(QStringLiteral("background: #2b2b2b"));
    light.setGeometry(40, 40, 200, 120);
    dark.setGeometry(260, 40, 200, 120);
    light.show();
    dark.show();
    if (!QTest::qWaitForWindowExposed(&dark))
        return;
    QTest::qWait(300);

    Platform::ManualClock clock;
    Platform::X11::X11Screens screens;
    StillProcessor processor;
    RequestFeedbackHUD hud(clock, screens);
    hud.bind(&processor);
    const QString mode
        = screens.supportsTranslucency() ? QStringLiteral("composited") : QStringLiteral("shaped");
    const QList<std::pair<QString, TextProcessorState>> states {
        {QStringLiteral("loading"), TextProcessorState::copying()},
        {QStringLiteral("success"), TextProcessorState::idle()},
        {QStringLiteral("failure"), TextProcessorState::error(QStringLiteral("x"))}};
    QImage sheet(2 * 60, int(states.size()) * 40, QImage::Format_RGB32);
    QPainter painter(&sheet);
    for (int i = 0; i < states.size(); ++i) {
        for (int w = 0; w < 2; ++w) {
            const QPoint pointer = (w == 0 ? light : dark).geometry().center();
            QCursor::setPos(pointer);
            QTest::qWait(100);
            // A success is the end of a busy run.
            if (states.at(i).second == TextProcessorState::idle())
                processor.setState(TextProcessorState::pasting());
            processor.setState(states.at(i).second);
            clock.advance(std::chrono::milliseconds(100));
            QTest::qWait(300);
            const QPixmap shot
                = QGuiApplication::primaryScreen()->grabWindow(0, pointer.x() - 10, pointer.y() - 10, 60, 40);
            painter.drawPixmap(w * 60, i * 40, shot);
        }
    }
    painter.end();
    save(sheet.scaled(sheet.size() * 6), QStringLiteral("screen-panel-%1.png").arg(mode));
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QString directory = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(directory);
    QTextStream out(stdout);
    auto save = [&](const QImage &image, const QString &name) {
        const QString path = QDir(directory).filePath(name);
        image.save(path);
        out << path << '\n';
    };
    save(panelSheet(RequestFeedbackContent::Loading, {0, 45, 90, 180, 270}),
        QStringLiteral("panel-loading.png"));
    save(panelSheet(RequestFeedbackContent::Success, {0}), QStringLiteral("panel-success.png"));
    save(panelSheet(RequestFeedbackContent::Failure, {0}), QStringLiteral("panel-failure.png"));
    save(iconSheet(), QStringLiteral("tray-icons.png"));
    if (QGuiApplication::platformName() == QLatin1String("xcb"))
        screenShots(save);

    Platform::ManualClock clock;
    Platform::FakeAccessibilityTrust trust(false);
    AccessibilityChecker ax(trust);
    StillProcessor processor;
    MenuContent content(ax, processor, clock);
    auto grabMenu = [&](const QString &name) {
        content.menu()->adjustSize();
        save(content.menu()->grab().toImage(), name);
    };
    grabMenu(QStringLiteral("menu-accessibility-required.png"));
    ax.setIsTrusted(true);
    grabMenu(QStringLiteral("menu-ready.png"));
    processor.setState(TextProcessorState::requesting());
    grabMenu(QStringLiteral("menu-fixing.png"));
    processor.setState(TextProcessorState::error(
        QStringLiteral("openai_failed: upstream said \"rate limited\" & asked us to retry in 20 seconds, "
                       "which is a long message\nwith a second line")));
    grabMenu(QStringLiteral("menu-error.png"));
    return 0;
}

#include "ui_snapshots.moc"
