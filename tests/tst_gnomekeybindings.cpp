// GNOME custom keybindings written to and removed from a private dconf database (its service on
// this test's own session bus), read back by the gsettings tool as GNOME's settings daemon would.
#include "platform/gnome/GnomeCustomKeybindings.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using Platform::Gnome::GnomeCustomKeybindings;

namespace {

const QString listSchema = QStringLiteral("org.gnome.settings-daemon.plugins.media-keys");
const QString userPath
    = QStringLiteral("/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/custom0/");

QString gsettings(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("gsettings"), arguments);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

QString bindingKey(const QString &id, const QString &key)
{
    return gsettings({QStringLiteral("get"),
        QStringLiteral("org.gnome.settings-daemon.plugins.media-keys.custom-keybinding:")
            + GnomeCustomKeybindings::pathFor(id),
        key});
}

} // namespace

class TestGnomeKeybindings : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (qEnvironmentVariable("TARNWICK_PRIVATE_BUS") != QLatin1String("1"))
            QSKIP("needs a private session bus: run it through ctest (dbus-run-session)");
        if (!GnomeCustomKeybindings::isAvailable())
            QSKIP("GNOME's settings daemon schemas are not installed (scripts/setup.sh installs them)");
        QVERIFY(m_home.isValid());
        // Ours and the dconf service's (started on demand by the bus) settings database.
        const QVariantMap environment {
            {QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config"))},
            {QStringLiteral("XDG_RUNTIME_DIR"), m_home.path()},
            {QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("dconf")}};
        QDBusMessage update = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
            QStringLiteral("/org/freedesktop/DBus"), QStringLiteral("org.freedesktop.DBus"),
            QStringLiteral("UpdateActivationEnvironment"));
        qDBusRegisterMetaType<QMap<QString, QString>>();
        QMap<QString, QString> variables;
        for (auto it = environment.cbegin(); it != environment.cend(); ++it) {
            variables.insert(it.key(), it.value().toString());
            qputenv(it.key().toLocal8Bit().constData(), it.value().toString().toLocal8Bit());
        }
        update.setArguments({QVariant::fromValue(variables)});
        QCOMPARE(QDBusConnection::sessionBus().call(update).type(), QDBusMessage::ReplyMessage);
    }

    // The user's own shortcut stays; ours are added once, updated in place and removed entirely.
    void addReplaceRemove()
    {
        gsettings({QStringLiteral("set"), listSchema, QStringLiteral("custom-keybindings"),
            QLatin1Char('[') + quoted(userPath) + QLatin1Char(']')});
        GnomeCustomKeybindings keybindings;
        QCOMPARE(keybindings.add({{QStringLiteral("fix"), QStringLiteral("Tarnwick: Fix text"),
                                      QStringLiteral("/usr/bin/tarnwick --trigger fix"), 0x0E, 0x300},
                     {QStringLiteral("formal"), QStringLiteral("Tarnwick: Make formal"),
                         QStringLiteral("/usr/bin/tarnwick --trigger formal"), 0x0E, 0x900}}),
            QString());
        QCOMPARE(bindingKey(QStringLiteral("fix"), QStringLiteral("binding")),
            quoted(QStringLiteral("<Control><Shift>e")));
        QCOMPARE(bindingKey(QStringLiteral("formal"), QStringLiteral("binding")),
            quoted(QStringLiteral("<Control><Alt>e")));
        QCOMPARE(bindingKey(QStringLiteral("fix"), QStringLiteral("command")),
            quoted(QStringLiteral("/usr/bin/tarnwick --trigger fix")));
        QCOMPARE(bindingKey(QStringLiteral("fix"), QStringLiteral("name")),
            quoted(QStringLiteral("Tarnwick: Fix text")));

        QCOMPARE(keybindings.add({{QStringLiteral("fix"), QStringLiteral("Tarnwick: Fix text"),
                     QStringLiteral("/usr/bin/tarnwick --trigger fix"), 0x0F, 0x1100}}),
            QString());
        QCOMPARE(bindingKey(QStringLiteral("fix"), QStringLiteral("binding")),
            quoted(QStringLiteral("<Control><Super>r")));
        QCOMPARE(list(),
            QStringList({userPath, GnomeCustomKeybindings::pathFor(QStringLiteral("fix")),
                GnomeCustomKeybindings::pathFor(QStringLiteral("formal"))}));
        QCOMPARE(keybindings.addedIds(), QStringList({QStringLiteral("fix"), QStringLiteral("formal")}));

        // A key GNOME cannot name: an error, and nothing changes.
        QVERIFY(!keybindings
                     .add({{QStringLiteral("fix"), QStringLiteral("Tarnwick: Fix text"), QString(), 0x0E,
                         0x20100}})
                     .isEmpty());
        QCOMPARE(bindingKey(QStringLiteral("fix"), QStringLiteral("binding")),
            quoted(QStringLiteral("<Control><Super>r")));

        QCOMPARE(keybindings.remove(), QString());
        QCOMPARE(list(), QStringList({userPath}));
        QCOMPARE(keybindings.addedIds(), QStringList());
        QCOMPARE(bindingKey(QStringLiteral("fix"), QStringLiteral("command")), quoted(QString()));
    }

private:
    static QString quoted(const QString &text) { return QLatin1Char('\'') + text + QLatin1Char('\''); }

    static QStringList list()
    {
        QString text = gsettings({QStringLiteral("get"), listSchema, QStringLiteral("custom-keybindings")});
        text.remove(QLatin1Char('['))
            .remove(QLatin1Char(']'))
            .remove(QLatin1Char('\''))
            .remove(QLatin1Char(' '));
        return text.split(QLatin1Char(','), Qt::SkipEmptyParts);
    }

    QTemporaryDir m_home;
};

QTEST_GUILESS_MAIN(TestGnomeKeybindings)
#include "tst_gnomekeybindings.moc"
