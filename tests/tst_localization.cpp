#include "hotkeys/Localization.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace Hotkeys;

namespace {

const QStringList textKeys {
    QStringLiteral("record_shortcut"),
    QStringLiteral("press_shortcut"),
    QStringLiteral("keyboard_shortcut_used_by_menu_item"),
    QStringLiteral("keyboard_shortcut_disallowed"),
    QStringLiteral("keyboard_shortcut_used_by_system"),
    QStringLiteral("keyboard_shortcuts_can_be_changed"),
    QStringLiteral("ok"),
    QStringLiteral("force_use_shortcut"),
    QStringLiteral("space_key"),
};

// Makes <directory>/HotkeysResources.bundle with one table per language.
void makeBundle(const QString &directory, const QHash<QString, QJsonObject> &tables)
{
    const QString bundle = QDir(directory).filePath(QStringLiteral("HotkeysResources.bundle"));
    QVERIFY(QDir().mkpath(bundle));
    for (auto it = tables.constBegin(); it != tables.constEnd(); ++it) {
        QFile file(QDir(bundle).filePath(it.key() + QStringLiteral(".json")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QJsonDocument(it.value()).toJson());
    }
}

QJsonObject okTable(const QString &text)
{
    return QJsonObject {{QStringLiteral("ok"), text}};
}

} // namespace

class TestLocalization : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void shippedTablesHaveEveryKey()
    {
        const ResourceBundle &bundle = ResourceBundle::module();
        QVERIFY(bundle.localizations().contains(QStringLiteral("en")));
        QVERIFY(bundle.localizations().contains(QStringLiteral("de")));
        for (const QString &language : bundle.localizations()) {
            for (const QString &key : textKeys) {
                const QString text = bundle.localizedString(key, {language});
                QVERIFY2(text != key && !text.isEmpty(), qPrintable(language + QLatin1Char(' ') + key));
                const int placeholders = int(text.count(QLatin1String("%1")));
                const int wanted = key == QLatin1String("keyboard_shortcut_used_by_menu_item") ? 1 : 0;
                QVERIFY2(placeholders == wanted, qPrintable(language + QLatin1Char(' ') + key));
                QVERIFY2(!text.contains(QLatin1String("%2")) && !text.contains(QLatin1String("%@")),
                    qPrintable(language + QLatin1Char(' ') + key));
            }
        }
    }

    void lookupFollowsTheUserLanguage()
    {
        QLocale::setDefault(QLocale(QLocale::English));
        QCOMPARE(localizedString(QStringLiteral("force_use_shortcut")), QStringLiteral("Use Anyway"));
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Switzerland));
        QCOMPARE(localizedString(QStringLiteral("force_use_shortcut")), QStringLiteral("Trotzdem verwenden"));
        const QString text = localizedStringWithFormat(
            QStringLiteral("keyboard_shortcut_used_by_menu_item"), QStringLiteral("Fix %1 Text"));
        QVERIFY2(text.contains(QStringLiteral("„Fix %1 Text“")), qPrintable(text));
    }

    // The first candidate directory holding a bundle wins; in it, the first language with a table
    // that has the entry, else English, else the key.
    void candidatesTablesAndFallbacks()
    {
        QTemporaryDir dir, second, empty;
        makeBundle(dir.path(),
            {{QStringLiteral("en"), okTable(QStringLiteral("OK"))},
                {QStringLiteral("pt_BR"), okTable(QStringLiteral("Certo"))},
                {QStringLiteral("de"), QJsonObject {{QStringLiteral("ok"), 5}}}});
        makeBundle(second.path(), {{QStringLiteral("en"), okTable(QStringLiteral("second"))}});
        QFile broken(dir.filePath(QStringLiteral("HotkeysResources.bundle/fr.json")));
        QVERIFY(broken.open(QIODevice::WriteOnly) && broken.write("{\"ok\": \"D'accord\"") > 0);
        broken.close();
        QFile notABundle(empty.filePath(QStringLiteral("HotkeysResources.bundle")));
        QVERIFY(notABundle.open(QIODevice::WriteOnly));

        const auto bundle = ResourceBundle::locate({QString(), empty.path(), dir.path(), second.path()});
        QVERIFY(bundle);
        const auto ok = [&bundle](const QStringList &languages) {
            return bundle->localizedString(QStringLiteral("ok"), languages);
        };
        QCOMPARE(ok({QStringLiteral("pt-BR")}), QStringLiteral("Certo"));
        QCOMPARE(ok({QStringLiteral("ja"), QStringLiteral("pt-BR")}), QStringLiteral("Certo"));
        QCOMPARE(ok({QStringLiteral("de-DE")}), QStringLiteral("ok")); // a non-text value counts as none
        QCOMPARE(ok({QStringLiteral("fr")}), QStringLiteral("OK")); // unreadable: left out
        QCOMPARE(ok({}), QStringLiteral("OK"));
        QCOMPARE(
            ResourceBundle::locate({second.path(), dir.path()})->localizedString(QStringLiteral("ok"), {}),
            QStringLiteral("second"));
        QVERIFY(!ResourceBundle::locate({empty.path()}));
        QVERIFY(!ResourceBundle::locate({}));
    }

    // A copy of this program in <prefix>/bin asks for one text: a bundle in <prefix>/share/tarnwick
    // comes first, then one beside the program; without either the program stops.
    void installedProgramFindsItsBundle_data()
    {
        QTest::addColumn<QStringList>("bundles"); // the directories under the prefix that hold one
        QTest::addColumn<QString>("output");
        const QString share = QStringLiteral("share/tarnwick"), bin = QStringLiteral("bin");
        QTest::newRow("resource directory first") << QStringList {share, bin} << share;
        QTest::newRow("program directory") << QStringList {bin} << bin;
        QTest::newRow("none stops the program")
            << QStringList() << QStringLiteral("unable to find bundle named HotkeysResources");
    }
    void installedProgramFindsItsBundle()
    {
        QFETCH(QStringList, bundles);
        QFETCH(QString, output);
        QTemporaryDir prefix;
        QVERIFY(QDir().mkpath(prefix.filePath(QStringLiteral("bin"))));
        const QString program = prefix.filePath(QStringLiteral("bin/tst_localization"));
        QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), program));
        for (const QString &directory : bundles)
            makeBundle(prefix.filePath(directory), {{QStringLiteral("en"), okTable(directory)}});

        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TST_LOCALIZATION_LOOKUP"), QStringLiteral("ok"));
        environment.insert(QStringLiteral("LANGUAGE"), QStringLiteral("en"));
        process.setProcessEnvironment(environment);
        process.start(program, {});
        QVERIFY(process.waitForFinished(30000));
        const QString all
            = QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError());
        const bool found = !bundles.isEmpty();
        QCOMPARE(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0, found);
        QVERIFY2(found ? all.trimmed() == output : all.contains(output), qPrintable(all));
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QByteArray lookup = qgetenv("TST_LOCALIZATION_LOOKUP");
    if (!lookup.isEmpty()) {
        QLocale::setDefault(QLocale(QLocale::English));
        printf("%s\n", qPrintable(localizedString(QString::fromUtf8(lookup))));
        return 0;
    }
    TestLocalization test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_localization.moc"
