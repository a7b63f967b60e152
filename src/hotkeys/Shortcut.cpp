#include "hotkeys/Shortcut.h"

#include "platform/KeyEvent.h"

#include <QJsonDocument>
#include <QJsonValue>

namespace Hotkeys {

namespace {

const QString keyCodeMember = QStringLiteral("carbonKeyCode");
const QString modifiersMember = QStringLiteral("carbonModifiers");

qint64 normalised(qint64 carbonModifiers)
{
    return ModifierFlags::fromCarbon(carbonModifiers).carbon();
}

std::optional<qint64> integerMember(const QJsonObject &object, const QString &member, QString *errorMessage)
{
    const auto fail = [&](const QString &reason) -> std::optional<qint64> {
        if (errorMessage)
            *errorMessage = reason;
        return std::nullopt;
    };
    const auto it = object.constFind(member);
    if (it == object.constEnd())
        return fail(QStringLiteral("missing member \"%1\"").arg(member));
    const QJsonValue value = it.value();
    if (!value.isDouble())
        return fail(QStringLiteral("member \"%1\" is not a number").arg(member));
    // toInteger answers its default for fractions and for numbers outside the 64-bit range; two
    // different defaults tell such a number from one that merely equals a default.
    const qint64 first = value.toInteger(0);
    const qint64 second = value.toInteger(1);
    if (first != second)
        return fail(QStringLiteral("member \"%1\" is not a 64-bit integer").arg(member));
    return first;
}

} // namespace

Shortcut::Shortcut(qint64 carbonKeyCode, qint64 carbonModifiers)
    : m_carbonKeyCode(carbonKeyCode)
    , m_carbonModifiers(normalised(carbonModifiers))
{
}

Shortcut::Shortcut(Key key, ModifierFlags modifiers)
    : m_carbonKeyCode(key.rawValue())
    , m_carbonModifiers(modifiers.carbon())
{
}

std::optional<Shortcut> Shortcut::fromEvent(const Platform::KeyEvent &event)
{
    if (event.type != Platform::KeyEventType::keyDown && event.type != Platform::KeyEventType::keyUp)
        return std::nullopt;
    const ModifierFlags flags = ModifierFlags(event.modifierFlags) & ~ModifierFlags::function;
    return Shortcut(qint64(event.keyCode), flags.carbon());
}

QJsonObject Shortcut::toJsonObject() const
{
    return QJsonObject {{keyCodeMember, m_carbonKeyCode}, {modifiersMember, m_carbonModifiers}};
}

QByteArray Shortcut::toJson() const
{
    return QJsonDocument(toJsonObject()).toJson(QJsonDocument::Compact);
}

std::optional<Shortcut> Shortcut::fromJsonObject(const QJsonObject &object, QString *errorMessage)
{
    const auto keyCode = integerMember(object, keyCodeMember, errorMessage);
    if (!keyCode)
        return std::nullopt;
    const auto modifiers = integerMember(object, modifiersMember, errorMessage);
    if (!modifiers)
        return std::nullopt;
    return Shortcut(AsStored {}, *keyCode, *modifiers);
}

std::optional<Shortcut> Shortcut::fromJson(const QByteArray &json, QString *errorMessage)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        if (errorMessage)
            *errorMessage = parseError.errorString();
        return std::nullopt;
    }
    if (!document.isObject()) {
        if (errorMessage)
            *errorMessage = QStringLiteral("not a JSON object");
        return std::nullopt;
    }
    return fromJsonObject(document.object(), errorMessage);
}

} // namespace Hotkeys
