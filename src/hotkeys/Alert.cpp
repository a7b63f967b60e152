#include "hotkeys/Alert.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

namespace Hotkeys {

namespace {

AlertPresenter &installedPresenter()
{
    static AlertPresenter presenter;
    return presenter;
}

std::function<void()> &installedBeeper()
{
    static std::function<void()> beeper;
    return beeper;
}

int runMessageBox(const Alert &alert, QWidget *window)
{
    QMessageBox box(window ? window->window() : nullptr);
    box.setIcon(QMessageBox::Warning);
    box.setText(alert.title);
    if (!alert.message.isEmpty())
        box.setInformativeText(alert.message);
    QList<QAbstractButton *> buttons;
    for (const QString &title : alert.buttonTitles) {
        // The first button is the default one, the others merely alternatives.
        const auto role = buttons.isEmpty() ? QMessageBox::AcceptRole : QMessageBox::RejectRole;
        buttons.append(box.addButton(title, role));
    }
    if (buttons.isEmpty())
        buttons.append(box.addButton(QMessageBox::Ok));
    box.setDefaultButton(qobject_cast<QPushButton *>(buttons.first()));
    box.setEscapeButton(buttons.first());
    box.setWindowModality(window ? Qt::WindowModal : Qt::ApplicationModal);
    box.exec();
    const int index = int(buttons.indexOf(box.clickedButton()));
    return alertFirstButtonReturn + std::max(index, 0);
}

} // namespace

int runModal(const Alert &alert, QWidget *window)
{
    if (const AlertPresenter &presenter = installedPresenter())
        return presenter(alert, window);
    return runMessageBox(alert, window);
}

void setAlertPresenter(AlertPresenter presenter)
{
    installedPresenter() = std::move(presenter);
}

void beep()
{
    if (const auto &beeper = installedBeeper())
        beeper();
    else
        QApplication::beep();
}

void setBeeper(std::function<void()> beeper)
{
    installedBeeper() = std::move(beeper);
}

} // namespace Hotkeys
