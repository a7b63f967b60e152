#include "app/CommandChannel.h"

#include "platform/qt/Installation.h"

#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>

namespace {

// Qt 6.4's D-Bus thread may make these types before they are registered, which it reports on
// stderr as "an invalid type"; registered here first, on the main thread, they are always there.
void registerDBusTypes()
{
    qRegisterMetaType<QDBusMessage>();
    qRegisterMetaType<QDBusError>();
}

void writeLine(std::FILE *stream, const QString &text)
{
    std::fputs(qPrintable(text + u'\n'), stream);
    std::fflush(stream);
}

} // namespace

QString CommandChannel::objectPath()
{
    return QStringLiteral("/org/tarnwick/Tarnwick");
}

CommandChannel::CommandChannel(QObject *parent)
    : QObject(parent)
    , m_bus((registerDBusTypes(), QDBusConnection::sessionBus()))
{
}

CommandChannel::~CommandChannel()
{
    if (m_owned) {
        m_bus.unregisterService(Platform::Installation::appId());
        m_bus.unregisterObject(objectPath());
    }
}

CommandChannel::Claim CommandChannel::claim()
{
    if (!m_bus.isConnected())
        return Claim::NoBus;
    // The object first: a caller that sees the name must find the methods behind it.
    if (!m_bus.registerObject(objectPath(), this, QDBusConnection::ExportScriptableSlots))
        return Claim::Taken;
    if (!m_bus.registerService(Platform::Installation::appId())) {
        m_bus.unregisterObject(objectPath());
        return Claim::Taken;
    }
    m_owned = true;
    return Claim::Owned;
}

void CommandChannel::Trigger(const QString &mode)
{
    const std::optional<FixMode> fixMode = fixModeFromWireString(mode);
    if (!fixMode) {
        sendErrorReply(QDBusError::InvalidArgs,
            QStringLiteral("unknown mode \"%1\"; expected \"fix\" or \"formal\"").arg(mode));
        return;
    }
    if (m_handlers.trigger)
        m_handlers.trigger(*fixMode);
}

void CommandChannel::OpenSettings()
{
    if (m_handlers.openSettings)
        m_handlers.openSettings();
}

void CommandChannel::Quit()
{
    if (m_handlers.quit)
        m_handlers.quit();
}

int CommandChannel::send(const QString &method, const QVariantList &arguments, std::FILE *errors)
{
    // A connection of our own, closed before the application object goes: the shared one is shut
    // down after it, when Qt's D-Bus types are gone already.
    const QString connectionName = QStringLiteral("tarnwick-command");
    registerDBusTypes();
    int status = 1;
    {
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName);
        status = call(bus, method, arguments, errors);
    }
    QDBusConnection::disconnectFromBus(connectionName);
    return status;
}

int CommandChannel::call(
    QDBusConnection &bus, const QString &method, const QVariantList &arguments, std::FILE *errors)
{
    if (!bus.isConnected()) {
        writeLine(errors,
            QStringLiteral("tarnwick: there is no session bus (%1), so no running Tarnwick can be reached")
                .arg(bus.lastError().message()));
        return 1;
    }
    QDBusMessage message = QDBusMessage::createMethodCall(
        Platform::Installation::appId(), objectPath(), Platform::Installation::appId(), method);
    message.setArguments(arguments);
    // Starting a program for the name is not wanted: "not running" is the answer then.
    message.setAutoStartService(false);
    const QDBusMessage reply = bus.call(message, QDBus::Block, 10000);
    if (reply.type() != QDBusMessage::ErrorMessage)
        return 0;
    if (reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown")
        || reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner"))
        writeLine(errors, QStringLiteral("tarnwick: Tarnwick is not running; start it first"));
    else
        writeLine(errors,
            QStringLiteral("tarnwick: the running Tarnwick did not take the command: ")
                + reply.errorMessage());
    return 1;
}
