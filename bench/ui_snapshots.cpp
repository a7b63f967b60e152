// Renders the user interface's pieces offscreen to PNG files, for looking at them.
#include "app/RequestFeedbackView.h"

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QTextStream>

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
    return 0;
}
