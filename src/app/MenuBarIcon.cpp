#include "app/MenuBarIcon.h"

MenuBarIcon::MenuBarIcon(QObject *parent)
    : QObject(parent)
{
}

QString MenuBarIcon::symbolName(const TextProcessorState &state)
{
    if (state.isBusy())
        return QStringLiteral("ellipsis.circle");
    if (state.isError())
        return QStringLiteral("exclamationmark.triangle");
    return QStringLiteral("text.badge.checkmark");
}

QIcon MenuBarIcon::icon(const QString &symbolName)
{
    return QIcon(QStringLiteral(":/icons/%1.svg").arg(symbolName));
}

void MenuBarIcon::setState(const TextProcessorState &state)
{
    const QString before = symbolName();
    m_state = state;
    if (symbolName() != before)
        Q_EMIT iconChanged(icon());
}
