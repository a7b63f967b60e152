#include "platform/qt/TerminalTable.h"

#include "platform/UserDefaults.h"

#include <QJsonArray>
#include <QJsonValue>
#include <QVariant>

namespace Platform {

// Generated at configure time from data/terminals.tsv.
extern const char16_t terminalTableTsv[];

namespace {

QString folded(const QString &windowClass)
{
    return windowClass.trimmed().toCaseFolded();
}

bool listContains(const QStringList &list, const QString &foldedClass)
{
    for (const QString &entry : list) {
        if (folded(entry) == foldedClass)
            return true;
    }
    return false;
}

} // namespace

const TerminalTable &TerminalTable::builtIn()
{
    static const TerminalTable table = fromTsv(QStringView(static_cast<const char16_t *>(terminalTableTsv)));
    return table;
}

TerminalTable TerminalTable::fromTsv(QStringView text)
{
    TerminalTable table;
    for (QStringView line : text.split(u'\n')) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (line.trimmed().isEmpty() || line.startsWith(u'#'))
            continue;
        const QString windowClass = line.left(line.indexOf(u'\t')).trimmed().toString();
        if (windowClass.isEmpty())
            continue;
        const QString key = windowClass.toCaseFolded();
        if (table.m_folded.contains(key))
            continue;
        table.m_folded.insert(key);
        table.m_classes.append(windowClass);
    }
    return table;
}

bool TerminalTable::contains(const QString &windowClass) const
{
    return m_folded.contains(folded(windowClass));
}

bool TerminalTable::isTerminal(const QString &windowClass, const UserDefaults &defaults) const
{
    const QString key = folded(windowClass);
    if (key.isEmpty())
        return false;
    if (listContains(userClasses(defaults, terminalClassesKey()), key))
        return true;
    if (listContains(userClasses(defaults, nonTerminalClassesKey()), key))
        return false;
    return m_folded.contains(key);
}

QStringList TerminalTable::userClasses(const UserDefaults &defaults, const QString &key)
{
    QStringList result;
    const auto take = [&result](const QString &entry) {
        const QString trimmed = entry.trimmed();
        if (!trimmed.isEmpty())
            result.append(trimmed);
    };
    const QVariant value = defaults.value(key);
    switch (value.typeId()) {
    case QMetaType::QStringList: {
        const QStringList list = value.toStringList();
        for (const QString &entry : list)
            take(entry);
        break;
    }
    case QMetaType::QVariantList: {
        const QVariantList list = value.toList();
        for (const QVariant &entry : list) {
            if (entry.typeId() == QMetaType::QString)
                take(entry.toString());
        }
        break;
    }
    case QMetaType::QJsonArray: {
        const QJsonArray list = value.toJsonArray();
        for (const QJsonValue entry : list) {
            if (entry.isString())
                take(entry.toString());
        }
        break;
    }
    default:
        break;
    }
    return result;
}

} // namespace Platform
