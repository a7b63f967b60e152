#include "hotkeys/Constants.h"
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
    void sandboxIsReadOnce()
    {
        // Runs first: the answer is fixed at the first call, whatever the variable holds.
        qputenv("APP_SANDBOX_CONTAINER_ID", "");
        QVERIFY(Constants::isSandboxed());
        qunsetenv("APP_SANDBOX_CONTAINER_ID");
        QVERIFY(Constants::isSandboxed());
    }

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

    void lookupFollowsTheUserLanguage_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("text");
        QTest::newRow("English") << QLocale(QLocale::English) << QStringLiteral("force_use_shortcut")
                                 << QStringLiteral("Use Anyway");
        QTest::newRow("German") << QLocale(QLocale::German, QLocale::Switzerland)
                                << QStringLiteral("force_use_shortcut")
                                << QStringLiteral("Trotzdem verwenden");
        QTest::newRow("unknown key shows the key")
            << QLocale(QLocale::German) << QStringLiteral("no_such_key") << QStringLiteral("no_such_key");
    }
    void lookupFollowsTheUserLanguage()
    {
        QFETCH(QLocale, locale);
        QFETCH(QString, key);
        QFETCH(QString, text);
        QLocale::setDefault(locale);
        QCOMPARE(localizedString(key), text);
    }

    void formatTakesOneArgument()
    {
        QLocale::setDefault(QLocale(QLocale::German));
        const QString text = localizedStringWithFormat(
            QStringLiteral("keyboard_shortcut_used_by_menu_item"), QStringLiteral("Fix %1 Text"));
        QVERIFY2(text.contains(QStringLiteral("„Fix %1 Text“")), qPrintable(text));
        QVERIFY(!text.contains(QLatin1String("keyboard_shortcut")));
    }

    void tablesAndFallbacks()
    {
        QTemporaryDir dir;
        makeBundle(dir.path(),
            {{QStringLiteral("en"), okTable(QStringLiteral("OK"))},
                {QStringLiteral("pt_BR"), okTable(QStringLiteral("Certo"))},
                {QStringLiteral("de"), QJsonObject {{QStringLiteral("ok"), 5}}}});
        QFile broken(dir.filePath(QStringLiteral("HotkeysResources.bundle/fr.json")));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("{\"ok\": \"D'accord\"");
        broken.close();

        const auto bundle = ResourceBundle::locate({dir.path()});
        QVERIFY(bundle);
        QCOMPARE(bundle->localizedString(QStringLiteral("ok"), {QStringLiteral("pt-BR")}),
            QStringLiteral("Certo"));
        QCOMPARE(
            bundle->localizedString(QStringLiteral("ok"), {QStringLiteral("ja"), QStringLiteral("pt-BR")}),
            QStringLiteral("Certo"));
        // A table without the entry (a non-text value counts as none) shows the key.
        QCOMPARE(
            bundle->localizedString(QStringLiteral("ok"), {QStringLiteral("de-DE")}), QStringLiteral("ok"));
        // A table that cannot be read is left out: English instead.
        QCOMPARE(bundle->localizedString(QStringLiteral("ok"), {QStringLiteral("fr")}), QStringLiteral("OK"));
        QCOMPARE(bundle->localizedString(QStringLiteral("ok"), {}), QStringLiteral("OK"));
    }

    void candidateOrder()
    {
        QTemporaryDir first, second, empty;
        makeBundle(first.path(), {{QStringLiteral("en"), okTable(QStringLiteral("first"))}});
        makeBundle(second.path(), {{QStringLiteral("en"), okTable(QStringLiteral("second"))}});
        const QStringList english {QStringLiteral("en")};

        auto bundle = ResourceBundle::locate({QString(), empty.path(), first.path(), second.path()});
        QVERIFY(bundle);
        QCOMPARE(bundle->localizedString(QStringLiteral("ok"), english), QStringLiteral("first"));
        bundle = ResourceBundle::locate({second.path(), first.path()});
        QCOMPARE(bundle->localizedString(QStringLiteral("ok"), english), QStringLiteral("second"));
        QVERIFY(!ResourceBundle::locate({empty.path()}));
        QVERIFY(!ResourceBundle::locate({}));

        // A file of that name is no bundle.
        QFile file(empty.filePath(QStringLiteral("HotkeysResources.bundle")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(!ResourceBundle::locate({empty.path()}));
    }

    // Runs a copy of this program from a directory of our own, asking it for one text.
    void installedProgramFindsItsBundle_data()
    {
        QTest::addColumn<bool>("inResourceDirectory");
        QTest::addColumn<bool>("besideProgram");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("output");
        QTest::newRow("resource directory first") << true << true << 0 << QStringLiteral("from share");
        QTest::newRow("program directory") << false << true << 0 << QStringLiteral("beside");
        QTest::newRow("none stops the program")
            << false << false << -1 << QStringLiteral("unable to find bundle named HotkeysResources");
    }
    void installedProgramFindsItsBundle()
    {
        QFETCH(bool, inResourceDirectory);
        QFETCH(bool, besideProgram);
        QFETCH(int, exitCode);
        QFETCH(QString, output);
        QTemporaryDir prefix;
        const QString bin = prefix.filePath(QStringLiteral("bin"));
        QVERIFY(QDir().mkpath(bin));
        const QString program = QDir(bin).filePath(QStringLiteral("tst_localization"));
        QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), program));
        if (inResourceDirectory)
            makeBundle(prefix.filePath(QStringLiteral("share/tarnwick")),
                {{QStringLiteral("en"), okTable(QStringLiteral("from share"))}});
        if (besideProgram)
            makeBundle(bin, {{QStringLiteral("en"), okTable(QStringLiteral("beside"))}});

        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TST_LOCALIZATION_LOOKUP"), QStringLiteral("ok"));
        environment.insert(QStringLiteral("LANGUAGE"), QStringLiteral("en"));
        process.setProcessEnvironment(environment);
        process.start(program, {});
        QVERIFY(process.waitForFinished(30000));
        const QString all
            = QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError());
        if (exitCode == 0) {
            QCOMPARE(process.exitStatus(), QProcess::NormalExit);
            QCOMPARE(process.exitCode(), 0);
            QCOMPARE(all.trimmed(), output);
        } else {
            QVERIFY(process.exitStatus() == QProcess::CrashExit || process.exitCode() != 0);
            QVERIFY2(all.contains(output), qPrintable(all));
        }
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
