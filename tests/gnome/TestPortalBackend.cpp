// A desktop portal backend for tests, run under the real xdg-desktop-portal frontend. It serves
// org.freedesktop.impl.portal.GlobalShortcuts and org.freedesktop.impl.portal.RemoteDesktop, grants
// every request (or, with --refuse, declines it as a user would), and hands keystrokes to mutter's
// own org.gnome.Mutter.RemoteDesktop, which works headless and asks nobody.
//
// With --frontend it stands in for the frontend itself, as org.freedesktop.portal.Desktop with
// version 2 of RemoteDesktop (restore tokens), which the frontend of Debian 12 does not have yet: a
// Start that brings back the last token it issued shows no dialog.
//
// The test steers it through org.tarnwick.TestPortal on the same object: Activate(s id) and
// Deactivate(s id) press and release a bound shortcut; Bound() lists the bound shortcuts as
// "id=preferred trigger"; Held() lists the keysyms pressed and not yet released; Dialogs() counts
// the Start and BindShortcuts requests, each of which would show a dialog.
#include "platform/portal/PortalRequest.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QDateTime>
#include <QMap>

#include <cstdio>

using Platform::Portal::PortalShortcut;

namespace {

const QString path = QStringLiteral("/org/freedesktop/portal/desktop");
const QString shortcutsInterface = QStringLiteral("org.freedesktop.impl.portal.GlobalShortcuts");
const QString remoteDesktopInterface = QStringLiteral("org.freedesktop.impl.portal.RemoteDesktop");
const QString mutterService = QStringLiteral("org.gnome.Mutter.RemoteDesktop");

class TestPortal : public QDBusVirtualObject {
public:
    TestPortal(bool grant, bool frontend)
        : m_grant(grant)
        , m_frontend(frontend)
    {
    }

    QString introspect(const QString &) const override { return {}; }

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &bus) override
    {
        const QString member = message.member();
        const QVariantList in = message.arguments();
        const QString interface = message.interface();
        QVariantList out;
        if (interface == QLatin1String("org.freedesktop.DBus.Properties")) {
            // version and AvailableDeviceTypes: keyboard and pointer.
            const uint version = m_frontend ? 2 : 1;
            const QVariant value = in.value(1).toString() == QLatin1String("version") ? version : 3u;
            out = {member == QLatin1String("GetAll") ? QVariant(QVariantMap {
                       {QStringLiteral("version"), version}, {QStringLiteral("AvailableDeviceTypes"), 3u}})
                                                     : QVariant::fromValue(QDBusVariant(value))};
        } else if (member == QLatin1String("Close")) {
            stopMutterSession(message.path());
        } else if (m_frontend && interface == QLatin1String("org.freedesktop.portal.RemoteDesktop")
            && member != QLatin1String("NotifyKeyboardKeysym")) {
            return answerAsFrontend(message, bus);
        } else if (member == QLatin1String("CreateSession") || member == QLatin1String("SelectDevices")
            || member == QLatin1String("Start")) {
            out = remoteDesktop(
                member, in.value(1).value<QDBusObjectPath>().path(), qdbus_cast<QVariantMap>(in.last()));
        } else if (member == QLatin1String("BindShortcuts")) {
            ++m_dialogs;
            out = bindShortcuts(in.value(1).value<QDBusObjectPath>().path(), in.value(2));
        } else if (member == QLatin1String("NotifyKeyboardKeysym")) {
            notifyKeysym(
                in.value(0).value<QDBusObjectPath>().path(), in.value(2).toUInt(), in.value(3).toUInt());
        } else if (member == QLatin1String("Activate") || member == QLatin1String("Deactivate")) {
            emitShortcut(bus, member == QLatin1String("Activate"), in.value(0).toString());
        } else if (member == QLatin1String("Bound")) {
            QStringList bound;
            for (auto it = m_bound.cbegin(); it != m_bound.cend(); ++it)
                bound << it.key() + QLatin1Char('=') + it.value();
            out = {bound};
        } else if (member == QLatin1String("Held")) {
            QStringList held;
            for (quint32 keysym : std::as_const(m_held))
                held << QString::number(keysym, 16);
            out = {held};
        } else if (member == QLatin1String("Dialogs")) {
            out = {m_dialogs};
        } else {
            return false;
        }
        bus.send(message.createReply(out));
        return true;
    }

private:
    // The frontend's way: the call answers with the Request's path, the result comes as its Response.
    bool answerAsFrontend(const QDBusMessage &message, const QDBusConnection &bus)
    {
        const QString member = message.member();
        const QVariantMap options = qdbus_cast<QVariantMap>(message.arguments().constLast());
        QString sender = message.service().mid(1);
        sender.replace(QLatin1Char('.'), QLatin1Char('_'));
        const QString handle = path + QStringLiteral("/request/") + sender + QLatin1Char('/')
            + options.value(QStringLiteral("handle_token")).toString();
        const QString session = member == QLatin1String("CreateSession")
            ? path + QStringLiteral("/session/") + sender + QLatin1Char('/')
                + options.value(QStringLiteral("session_handle_token")).toString()
            : message.arguments().value(0).value<QDBusObjectPath>().path();
        QVariantList response = remoteDesktop(member, session, options);
        if (member == QLatin1String("CreateSession"))
            response[1] = QVariantMap {
                {QStringLiteral("session_handle"), QVariant::fromValue(QDBusObjectPath(session))}};
        bus.send(message.createReply(QVariant::fromValue(QDBusObjectPath(handle))));
        QDBusMessage signal = QDBusMessage::createSignal(
            handle, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
        signal.setArguments(response);
        bus.send(signal);
        return true;
    }

    QVariantList remoteDesktop(const QString &member, const QString &session, const QVariantMap &options)
    {
        if (member == QLatin1String("SelectDevices"))
            m_selected.insert(session, options);
        if (member != QLatin1String("Start"))
            return {0u, QVariantMap()};
        const QVariantMap selected = m_selected.value(session);
        const QString token = selected.value(QStringLiteral("restore_token")).toString();
        if (token.isEmpty() || token != m_issuedToken)
            ++m_dialogs;
        // Tokens are good for one restore: each start that persists hands out a new one.
        m_issuedToken.clear();
        QVariantList answer = start(session);
        if (answer.value(0).toUInt() == 0 && selected.value(QStringLiteral("persist_mode")).toUInt() == 2) {
            m_issuedToken = QStringLiteral("token%1").arg(++m_tokens);
            QVariantMap results = answer[1].toMap();
            results.insert(QStringLiteral("restore_token"), m_issuedToken);
            answer[1] = results;
        }
        return answer;
    }

    QVariantList bindShortcuts(const QString &session, const QVariant &shortcuts)
    {
        if (!m_grant)
            return {1u, QVariantMap()};
        QList<PortalShortcut> granted = qdbus_cast<QList<PortalShortcut>>(shortcuts.value<QDBusArgument>());
        m_bound.clear();
        for (PortalShortcut &shortcut : granted) {
            const QString trigger = shortcut.properties.value(QStringLiteral("preferred_trigger")).toString();
            m_bound.insert(shortcut.id, trigger);
            shortcut.properties
                = {{QStringLiteral("description"), shortcut.properties.value(QStringLiteral("description"))},
                    {QStringLiteral("trigger_description"), trigger}};
        }
        m_shortcutSession = session;
        return {0u, QVariantMap {{QStringLiteral("shortcuts"), QVariant::fromValue(granted)}}};
    }

    void emitShortcut(const QDBusConnection &bus, bool pressed, const QString &id)
    {
        QDBusMessage signal = QDBusMessage::createSignal(
            path, shortcutsInterface, pressed ? QStringLiteral("Activated") : QStringLiteral("Deactivated"));
        signal.setArguments({QVariant::fromValue(QDBusObjectPath(m_shortcutSession)), id,
            quint64(QDateTime::currentMSecsSinceEpoch() * 1000), QVariantMap()});
        bus.send(signal);
    }

    QVariantList start(const QString &session)
    {
        if (!m_grant)
            return {1u, QVariantMap()};
        QDBusConnection bus = QDBusConnection::sessionBus();
        const QDBusMessage created = bus.call(
            QDBusMessage::createMethodCall(mutterService, QStringLiteral("/org/gnome/Mutter/RemoteDesktop"),
                mutterService, QStringLiteral("CreateSession")));
        const QString mutterSession = created.arguments().value(0).value<QDBusObjectPath>().path();
        if (mutterSession.isEmpty()
            || mutterCall(mutterSession, QStringLiteral("Start"), {}).type() == QDBusMessage::ErrorMessage) {
            std::fprintf(stderr, "tarnwick-test-portal: mutter refused a remote desktop session: %s\n",
                qPrintable(created.errorMessage()));
            return {2u, QVariantMap()};
        }
        m_mutterSessions.insert(session, mutterSession);
        return {0u, QVariantMap {{QStringLiteral("devices"), 1u}}};
    }

    void notifyKeysym(const QString &session, quint32 keysym, quint32 state)
    {
        const QString mutterSession = m_mutterSessions.value(session);
        if (mutterSession.isEmpty())
            return;
        if (state)
            m_held.append(keysym);
        else
            m_held.removeOne(keysym);
        mutterCall(mutterSession, QStringLiteral("NotifyKeyboardKeysym"), {keysym, state != 0});
    }

    void stopMutterSession(const QString &session)
    {
        const QString mutterSession = m_mutterSessions.take(session);
        if (!mutterSession.isEmpty())
            mutterCall(mutterSession, QStringLiteral("Stop"), {});
    }

    static QDBusMessage mutterCall(
        const QString &session, const QString &method, const QVariantList &arguments)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(
            mutterService, session, QStringLiteral("org.gnome.Mutter.RemoteDesktop.Session"), method);
        call.setArguments(arguments);
        return QDBusConnection::sessionBus().call(call);
    }

    bool m_grant;
    bool m_frontend;
    quint32 m_dialogs = 0;
    QMap<QString, QVariantMap> m_selected;
    QString m_issuedToken;
    quint32 m_tokens = 0;
    QMap<QString, QString> m_bound;
    QString m_shortcutSession;
    QMap<QString, QString> m_mutterSessions;
    QList<quint32> m_held;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    Platform::Portal::registerPortalTypes();
    const bool frontend = app.arguments().contains(QStringLiteral("--frontend"));
    TestPortal portal(!app.arguments().contains(QStringLiteral("--refuse")), frontend);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerVirtualObject(path, &portal, QDBusConnection::SubPath)
        || !bus.registerService(frontend ? QStringLiteral("org.freedesktop.portal.Desktop")
                                         : QStringLiteral("org.freedesktop.impl.portal.desktop.tarnwick"))) {
        std::fprintf(stderr, "tarnwick-test-portal: cannot claim the bus name or object\n");
        return 1;
    }
    return QCoreApplication::exec();
}
