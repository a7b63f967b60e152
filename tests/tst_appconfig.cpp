#include "app/AppConfig.h"

#include <QHostAddress>
#include <QProcess>
#include <QTest>

class TestAppConfig : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parse_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("valid");
        QTest::newRow("default") << AppConfig::defaultBackendURL() << true;
        QTest::newRow("host and path") << QStringLiteral("https://fix.example.com/base/") << true;
        QTest::newRow("IPv6 literal") << QStringLiteral("http://[::1]:8787") << true;
        QTest::newRow("no scheme parses") << QStringLiteral("localhost:8787") << true;
        QTest::newRow("relative path parses") << QStringLiteral("backend") << true;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("space in host") << QStringLiteral("http://exa mple.com") << false;
        QTest::newRow("unclosed IPv6") << QStringLiteral("http://[::1:8787") << false;
        QTest::newRow("port out of range") << QStringLiteral("http://127.0.0.1:99999") << false;
        QTest::newRow("bad percent escape") << QStringLiteral("http://127.0.0.1/%zz") << false;
        QTest::newRow("space") << QStringLiteral(" ") << false;
    }
    void parse()
    {
        QFETCH(QString, value);
        QFETCH(bool, valid);
        const std::optional<QUrl> url = AppConfig::parseBackendURL(value);
        QCOMPARE(url.has_value(), valid);
        if (valid)
            QCOMPARE(url->toString(), value);
    }

    void defaultIsLoopbackOnPort8787()
    {
        const std::optional<QUrl> url = AppConfig::parseBackendURL(AppConfig::defaultBackendURL());
        QVERIFY(url);
        QCOMPARE(url->scheme(), QStringLiteral("http"));
        QVERIFY(QHostAddress(url->host()).isLoopback());
        QCOMPARE(url->port(), 8787);
        QVERIFY(url->path().isEmpty());
    }

    void processSeesTheVariableOnce_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("set");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("unset") << QStringList() << false << QString() << QByteArray("http://127.0.0.1:8787");
        QTest::newRow("set") << QStringList() << true << QStringLiteral("http://10.1.2.3:9/x")
                             << QByteArray("http://10.1.2.3:9/x");
        QTest::newRow("set, first read on 8 threads")
            << QStringList {QStringLiteral("threads")} << true << QStringLiteral("http://[::1]:1234")
            << QByteArray("http://[::1]:1234");
    }
    void processSeesTheVariableOnce()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, set);
        QFETCH(QString, value);
        QFETCH(QByteArray, expected);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("QUARVEL_BACKEND_URL"));
        if (set)
            environment.insert(QStringLiteral("QUARVEL_BACKEND_URL"), value);
        QProcess probe;
        probe.setProcessEnvironment(environment);
        probe.start(QStringLiteral(TARNWICK_APPCONFIG_PROBE), arguments);
        QVERIFY(probe.waitForFinished(30000));
        QCOMPARE(probe.exitStatus(), QProcess::NormalExit);
        QCOMPARE(probe.exitCode(), 0);
        // Both reads give the first value: a change of the environment afterwards has no effect.
        QCOMPARE(probe.readAllStandardOutput(), expected + '\n' + expected + '\n');
    }

    void invalidValueStopsTheProcess_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("empty") << QString();
        QTest::newRow("space in host") << QStringLiteral("http://exa mple.com:8787");
        QTest::newRow("non-ASCII text kept") << QStringLiteral("http://[\u00e9");
    }
    void invalidValueStopsTheProcess()
    {
        QFETCH(QString, value);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QUARVEL_BACKEND_URL"), value);
        QProcess probe;
        probe.setProcessEnvironment(environment);
        probe.start(QStringLiteral(TARNWICK_APPCONFIG_PROBE), QStringList());
        QVERIFY(probe.waitForFinished(30000));
        QCOMPARE(probe.exitStatus(), QProcess::NormalExit);
        QVERIFY(probe.exitCode() != 0);
        QCOMPARE(probe.readAllStandardError(), "Invalid QUARVEL_BACKEND_URL: " + value.toUtf8() + '\n');
        // Stopped at the first access: no fallback to the default was printed.
        QCOMPARE(probe.readAllStandardOutput(), QByteArray());
    }
};

QTEST_GUILESS_MAIN(TestAppConfig)
#include "tst_appconfig.moc"
