#include "app/AppConfig.h"

#include <QProcess>
#include <QTest>

class TestAppConfig : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A value is refused exactly when the URL parser refuses it.
    void parse_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("valid");
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

    // The process reads the variable once, at the first access, even from several threads at
    // once: a later change has no effect. An invalid value stops the process at that access.
    void processReadsTheVariableOnce_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QVariant>("value"); // invalid: unset
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("out");
        QTest::addColumn<QByteArray>("err");
        const QByteArray none;
        const auto twice = [](const char *url) { return QByteArray(url) + '\n' + url + '\n'; };
        QTest::newRow("unset: the loopback default")
            << QStringList() << QVariant() << 0 << twice("http://127.0.0.1:8787") << none;
        QTest::newRow("set") << QStringList() << QVariant(QStringLiteral("http://10.1.2.3:9/x")) << 0
                             << twice("http://10.1.2.3:9/x") << none;
        QTest::newRow("set, first read on 8 threads")
            << QStringList {QStringLiteral("threads")} << QVariant(QStringLiteral("http://[::1]:1234")) << 0
            << twice("http://[::1]:1234") << none;
        QTest::newRow("empty") << QStringList() << QVariant(QString()) << 1 << none
                               << QByteArray("Invalid QUARVEL_BACKEND_URL: \n");
        QTest::newRow("non-ASCII text kept")
            << QStringList() << QVariant(QStringLiteral("http://[\u00e9")) << 1 << none
            << QByteArray("Invalid QUARVEL_BACKEND_URL: http://[\xc3\xa9\n");
    }
    void processReadsTheVariableOnce()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QVariant, value);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("QUARVEL_BACKEND_URL"));
        if (value.isValid())
            environment.insert(QStringLiteral("QUARVEL_BACKEND_URL"), value.toString());
        QProcess probe;
        probe.setProcessEnvironment(environment);
        probe.start(QStringLiteral(TARNWICK_APPCONFIG_PROBE), arguments);
        QVERIFY(probe.waitForFinished(30000));
        QCOMPARE(probe.exitStatus(), QProcess::NormalExit);
        QTEST(probe.exitCode(), "status");
        QTEST(probe.readAllStandardOutput(), "out");
        QTEST(probe.readAllStandardError(), "err");
    }
};

QTEST_GUILESS_MAIN(TestAppConfig)
#include "tst_appconfig.moc"
