#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

namespace Hotkeys {

// A warning to show: a title, an optional informative message and the button titles in order
// (none: the single default button).
struct Alert {
    QString title;
    QString message;
    QStringList buttonTitles;
};

// The answer of the first button; the n-th button answers alertFirstButtonReturn + n - 1.
inline constexpr int alertFirstButtonReturn = 1000;

// Shows an alert and answers the response code of the button that closed it.
using AlertPresenter = std::function<int(const Alert &alert, QWidget *window)>;

// Shows `alert` as a sheet on `window` (modal for that window only), or application-modal when
// `window` is nullptr, and answers the chosen button's response code. Runs a nested event loop
// unless a presenter was installed with setAlertPresenter().
int runModal(const Alert &alert, QWidget *window);

// Replaces how alerts are shown, process-wide (tests answer them without a modal loop); an empty
// presenter restores the message box.
void setAlertPresenter(AlertPresenter presenter);

// Sounds the system beep, or calls the beeper installed with setBeeper().
void beep();

// Replaces the beep, process-wide (tests count beeps); an empty function restores the system beep.
void setBeeper(std::function<void()> beeper);

} // namespace Hotkeys
