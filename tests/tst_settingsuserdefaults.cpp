#include "platform/qt/SettingsUserDefaults.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <thread>

using Platform::SettingsUserDefaults;

namespace {

// Values of every kind the program stores, written by one process and read by another.
QList<std::pair<QString, QVariant>> typedValues()
{
    return {
        {QStringLiteral("replaceEmDash"), true},
        {QStringLiteral("boolFalse"), false},
        {QStringLiteral("textFalse"), QStringLiteral("false")},
        {QStringLiteral("textEmpty"), QString()},
        {QStringLiteral("textNumber"), QStringLiteral("42")},
        {QStringLiteral("integer"), 42},
        {QStringLiteral("negative"), -7},
        {QStringLiteral("large"), qint64(1) << 53},
        {QStringLiteral("fraction"), 1.5},
        {QStringLiteral("unicode"), QStringLiteral(u"Zoë ⇧⌘E \"quoted\"\n\t\\ 🌐︎")},
        {QStringLiteral("Hotkeys_fixSelectedText"),
            QStringLiteral("{\"carbonKeyCode\":14,\"carbonModifiers\":768}")},
        {QStringLiteral("group/key"), QStringLiteral("in a group")},
        {QStringLiteral("list"), QVariantList {1, QStringLiteral("a"), true}},
        {QStringLiteral("map"),
            QVariantMap {
                {QStringLiteral("x"), 1}, {QStringLiteral("y"), QVariantMap {{QStringLiteral("z"), false}}}}},
    };
}

int runChild(const QString &command, const QString &path)
{
    if (command == QLatin1String("write")) {
        SettingsUserDefaults settings(path);
        for (const auto &[key, value] : typedValues())
            settings.setValue(key, value);
        return settings.status() == QSettings::NoError ? 0 : 2;
    }
    if (command == QLatin1String("open")) {
        // Two instances and several reads: the report about a bad file must still come once.
        SettingsUserDefaults first(path);
        const bool firstEmpty = first.keys().isEmpty();
        SettingsUserDefaults second(path);
        first.setValue(QStringLiteral("after"), true);
        QTextStream(stdout) << first.movedAsidePath() << Qt::endl;
        return firstEmpty && second.value(QStringLiteral("after")).toBool() ? 0 : 3;
    }
    return 1;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

struct ChildResult {
    int exitCode = -1;
    QString out;
    QString err;
};

ChildResult runInChild(const QString &command, const QString &path)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TST_SETTINGS_CHILD"), command);
    env.insert(QStringLiteral("TST_SETTINGS_PATH"), path);
    process.setProcessEnvironment(env);
    process.start(QCoreApplication::applicationFilePath(), {});
    if (!process.waitForFinished(30000))
        return {};
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
        QString::fromUtf8(process.readAllStandardError())};
}

} // namespace

class TestSettingsUserDefaults : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Values of every kind survive a restart: written by one process and read by another, since
    // QSettings caches parsed files per process.
    void typesSurviveRestart()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("settings.json"));
        QCOMPARE(runInChild(QStringLiteral("write"), path).exitCode, 0);
        const SettingsUserDefaults settings(path);
        // Integers may come back wider; Booleans, texts and fractions keep their type.
        const auto integral = [](const QVariant &v) {
            return v.typeId() == QMetaType::Int || v.typeId() == QMetaType::LongLong;
        };
        for (const auto &[key, written] : typedValues()) {
            const QVariant read = settings.value(key);
            QVERIFY2(read == written, qPrintable(key));
            QVERIFY2(integral(written) ? integral(read) : read.typeId() == written.typeId(), qPrintable(key));
            QVERIFY2(settings.keys().contains(key), qPrintable(key));
        }
    }

    void unusableFileMovedAsideAndReportedOnce_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("not JSON") << QByteArray("replaceEmDash=true\n");
        QTest::newRow("truncated") << QByteArray("{\"Hotkeys_fix\": \"{\\\"carbonKeyCode\\\":14");
        QTest::newRow("array") << QByteArray("[1, 2, 3]");
        QTest::newRow("invalid UTF-8") << QByteArray("{\"a\": \"\xff\xfe\"}");
        QTest::newRow("nested too deep") << QByteArray(5000, '[');
    }

    void unusableFileMovedAsideAndReportedOnce()
    {
        QFETCH(QByteArray, content);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("settings.json"));
        QVERIFY(writeFile(path, content));
        // A file moved aside on an earlier start must survive.
        QVERIFY(writeFile(path + QLatin1String(".corrupt"), "earlier"));

        const ChildResult child = runInChild(QStringLiteral("open"), path);
        QCOMPARE(child.exitCode, 0);
        const QString target = path + QLatin1String(".corrupt.1");
        QCOMPARE(child.out.trimmed(), target);
        QCOMPARE(readFile(target), content);
        QCOMPARE(readFile(path + QLatin1String(".corrupt")), QByteArray("earlier"));
        QCOMPARE(child.err.count(QLatin1String("moved to")), 1);
        QVERIFY2(child.err.contains(path) && child.err.contains(target), qPrintable(child.err));

        const QJsonDocument now = QJsonDocument::fromJson(readFile(path));
        QCOMPARE(now.object(), (QJsonObject {{QStringLiteral("after"), true}}));
    }

    void fileClobberedWhileRunningIsMovedAsideNotOverwritten()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("settings.json"));
        SettingsUserDefaults settings(path);
        settings.setValue(QStringLiteral("a"), 1);
        // Another program writes garbage (longer, so QSettings notices the change).
        const QByteArray garbage("this is not the settings file you are looking for");
        QVERIFY(writeFile(path, garbage));
        settings.setValue(QStringLiteral("b"), true);
        QCOMPARE(readFile(path + QLatin1String(".corrupt")), garbage);
        QCOMPARE(settings.movedAsidePath(), path + QLatin1String(".corrupt"));
        QCOMPARE(
            QJsonDocument::fromJson(readFile(path)).object().value(QStringLiteral("b")), QJsonValue(true));
    }

    void hostileValuesReadAsStoredAndKeptOnRewrite()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("settings.json"));
        const QByteArray deep = QByteArray(200, '[') + "1" + QByteArray(200, ']');
        const QByteArray hostile
            = "{\"null\": null, \"Hotkeys_number\": 12, \"Hotkeys_object\": {\"carbonKeyCode\": 1},"
              " \"huge\": 1e308, \"bigint\": 123456789012345678901234567890,"
              " \"nul\": \"a\\u0000b\", \"deep\": "
            + deep + ", \"Hotkeys_list\": [\"{\\\"carbonKeyCode\\\":14}\"]}";
        QVERIFY(writeFile(path, hostile));
        const QJsonObject before = QJsonDocument::fromJson(hostile).object();
        QVERIFY(!before.isEmpty());

        {
            SettingsUserDefaults settings(path);
            QVERIFY(settings.movedAsidePath().isEmpty());
            QCOMPARE(settings.value(QStringLiteral("Hotkeys_number")).toLongLong(), 12);
            QCOMPARE(settings.value(QStringLiteral("Hotkeys_object")).typeId(), QMetaType::QVariantMap);
            QCOMPARE(settings.value(QStringLiteral("Hotkeys_list")).typeId(), QMetaType::QVariantList);
            QCOMPARE(settings.value(QStringLiteral("nul")).toString(),
                QString(QStringLiteral("a") + QChar(0) + QStringLiteral("b")));
            QCOMPARE(settings.value(QStringLiteral("huge")).toDouble(), 1e308);
            QVERIFY(settings.value(QStringLiteral("null")).isValid());
            QVERIFY(!settings.boolValue(QStringLiteral("Hotkeys_object")));
            settings.setValue(QStringLiteral("added"), QStringLiteral("x"));
        }
        QJsonObject after = QJsonDocument::fromJson(readFile(path)).object();
        QCOMPARE(after.take(QStringLiteral("added")), QJsonValue(QStringLiteral("x")));
        QCOMPARE(after, before);
    }

    void changesAreSignalledAndSeenByAnotherInstanceOnTheFile()
    {
        QTemporaryDir dir;
        SettingsUserDefaults settings(dir.filePath(QStringLiteral("settings.json")));
        SettingsUserDefaults other(settings.filePath());
        QSignalSpy spy(&settings, &Platform::UserDefaults::valueChanged);
        QSignalSpy otherSpy(&other, &Platform::UserDefaults::valueChanged);
        settings.setValue(QStringLiteral("k"), false);
        QCOMPARE(other.value(QStringLiteral("k")), QVariant(false));
        settings.remove(QStringLiteral("missing"));
        other.remove(QStringLiteral("k"));
        QVERIFY(!settings.value(QStringLiteral("k")).isValid());
        settings.setValue(QStringLiteral("j"), 3);
        settings.setValue(QStringLiteral("j"), QVariant());
        // Each instance signals every change once, wherever it was made; removing what is not there
        // signals nothing.
        QCOMPARE(spy.size(), 4);
        QCOMPARE(otherSpy.size(), 4);
        QCOMPARE(spy[0][0].toString() + spy[1][0].toString() + spy[2][0].toString() + spy[3][0].toString(),
            QStringLiteral("kkjj"));
        QVERIFY(settings.keys().isEmpty() && other.keys().isEmpty());
        QCOMPARE(QJsonDocument::fromJson(readFile(settings.filePath())).object(), QJsonObject());
    }

    void writesAreAtomicForConcurrentReaders()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("settings.json"));
        SettingsUserDefaults settings(path);
        settings.setValue(QStringLiteral("seed"), 0);

        std::atomic<bool> stop {false};
        std::atomic<int> reads {0};
        std::atomic<int> broken {0};
        std::thread reader([&] {
            while (!stop.load()) {
                QFile file(path);
                if (!file.open(QIODevice::ReadOnly)) {
                    ++broken; // the file must never be missing either
                    continue;
                }
                const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
                if (!document.isObject() || !document.object().contains(QStringLiteral("seed")))
                    ++broken;
                ++reads;
            }
        });
        for (int i = 0; i < 120; ++i)
            settings.setValue(QStringLiteral("blob"), QString((i % 7 + 1) * 40000, QChar(u'a' + i % 26)));
        stop = true;
        reader.join();

        QCOMPARE(broken.load(), 0);
        QVERIFY(reads.load() > 0);
        QCOMPARE(settings.status(), QSettings::NoError);
        // No temporary or lock file is left behind.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
            QStringList {QStringLiteral("settings.json")});
    }

    void defaultLocationIsTheUsersConfigDirectory()
    {
        QStandardPaths::setTestModeEnabled(true);
        const QString expected = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
            + QLatin1String("/tarnwick/settings.json");
        QFile::remove(expected);
        {
            SettingsUserDefaults settings;
            QCOMPARE(settings.filePath(), expected);
            settings.setValue(QStringLiteral("replaceEmDash"), false);
        }
        QCOMPARE(QJsonDocument::fromJson(readFile(expected)).object(),
            (QJsonObject {{QStringLiteral("replaceEmDash"), false}}));
        QFile::remove(expected);
        QStandardPaths::setTestModeEnabled(false);
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QString child = qEnvironmentVariable("TST_SETTINGS_CHILD");
    if (!child.isEmpty())
        return runChild(child, qEnvironmentVariable("TST_SETTINGS_PATH"));
    TestSettingsUserDefaults test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_settingsuserdefaults.moc"
