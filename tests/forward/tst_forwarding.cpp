#include "forward/forwarder.h"
#include "forward/forwardposition.h"
#include "forward/influxtarget.h"
#include "forwardservers.h"
#include "record/recordreader.h"
#include "testsupport.h"

#include <QJsonArray>
#include <QtTest>

using namespace ForwardTest;

// Forwarding to a real influxd (1.x), a loopback stand-in for the 2.x API
// and a real mosquitto, read back with InfluxQL and mosquitto_sub: every row
// arrives, outages, restarts and a moved database lose nothing, refused lines
// hold nothing back, and what goes wrong is told plainly.
class tst_Forwarding : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void everyRowThroughOutageAndRestart_data();
    void everyRowThroughOutageAndRestart();
    void refusedLinesAreCountedAndSkipped();
    void influxV2ApiNeverHoldsRecordingBack();
    void refusalsAreToldWithoutSecrets();
    void newDatabaseFileFollowsTheOld();

private:
    // Settings for `target` that store under `name` (a database or topic prefix).
    ForwardSettings settingsFor(int target, const QString &name);

    InfluxServer m_influx;
    MosquittoBroker m_broker;
};

void tst_Forwarding::initTestCase()
{
    TestSupport::isolateSettings();
    ForwardTarget::setRetryDelays(100, 1000);
    QCOMPARE(m_influx.start(), QString());
    QCOMPARE(m_broker.start(), QString());
}

void tst_Forwarding::everyRowThroughOutageAndRestart_data()
{
    QTest::addColumn<int>("target");   // the row's tag names its position file
    QTest::addColumn<QString>("name"); // a database name the query must encode
    QTest::newRow("influx") << int(Forwarder::Influx) << "out+age";
    QTest::newRow("mqtt") << int(Forwarder::Mqtt) << "outage";
}

ForwardSettings tst_Forwarding::settingsFor(int target, const QString &name)
{
    ForwardSettings s;
    if (target == Forwarder::Influx) {
        m_influx.query(QStringLiteral("CREATE DATABASE \"%1\"").arg(name));
        s.influxUrl = m_influx.url();
        s.influxDatabase = name;
    } else {
        s.mqttHost = QStringLiteral("127.0.0.1");
        s.mqttPort = m_broker.port();
        s.mqttPrefix = name;
    }
    return s;
}

void tst_Forwarding::everyRowThroughOutageAndRestart()
{
    QFETCH(int, target);
    QFETCH(QString, name);
    const auto which = Forwarder::Target(target);
    Subscriber subscriber;
    if (which == Forwarder::Mqtt) {
        QVERIFY(subscriber.start(m_broker.port(), name + QStringLiteral("/site/+"),
                                 name + QStringLiteral("/site/probe")));
    }
    RecordedProject project(4);
    QVERIFY(project.isValid() && project.record(1500)); // 6000 rows: a batch and more, 3 windows
    const ForwardSettings settings = settingsFor(target, name);
    QVERIFY(settings.save(project.path()));
    const bool influx = which == Forwarder::Influx;
    const ForwardPosition position(project.path(), QTest::currentDataTag(),
                                   influx ? settings.influxIdentity() : settings.mqttIdentity());
    {
        Forwarder forwarder(project.path());
        QVERIFY(forwarder.reload());
        QTRY_COMPARE_WITH_TIMEOUT(forwarder.state(which).lastId, project.rowCount(), 60000);
        QCOMPARE(forwarder.state(which).lastTime, RecordedProject::kStartTime + 1499);

        // The server goes away while recording goes on.
        influx ? m_influx.stop() : m_broker.stop();
        for (int i = 0; i < 20; ++i)
            QVERIFY(project.record(100));
        QTRY_VERIFY_WITH_TIMEOUT(!forwarder.state(which).lastError.isEmpty(), 30000);
        QVERIFY(forwarder.statusLine().startsWith(QLatin1String("Forwarding fails")));
        QTRY_COMPARE_WITH_TIMEOUT(forwarder.state(which).backlog, 8000, 20000);
        QCOMPARE(forwarder.state(which).backlogSeconds, 2000);
        QVERIFY(forwarder.isBehind(which));

        QCOMPARE(influx ? m_influx.restart() : m_broker.restart(), QString());
        QTRY_COMPARE_WITH_TIMEOUT(forwarder.state(which).lastId, project.rowCount(), 60000);
        QVERIFY(forwarder.state(which).lastError.isEmpty());
        QVERIFY(forwarder.statusText().isEmpty());
        // Stopped in the middle of a backlog.
        QVERIFY(project.record(4000));
        QTRY_VERIFY_WITH_TIMEOUT(forwarder.state(which).lastId > 14000, 60000);
    }
    const qint64 stoppedAt = position.load();
    QVERIFY(stoppedAt > 14000);
    Forwarder again(project.path());
    QVERIFY(again.reload());
    QCOMPARE(again.state(which).lastId, 0);
    QTRY_COMPARE_WITH_TIMEOUT(again.state(which).lastId, project.rowCount(), 60000);
    // It went on from the stored position rather than from the start.
    QCOMPARE(again.state(which).forwarded, project.rowCount() - stoppedAt);
    int count = 0;
    QTRY_VERIFY_WITH_TIMEOUT((influx ? m_influx.stored(name, &count) : subscriber.rows(&count)) ==
                                 project.expected(),
                             30000);
    // Points that came twice are one point in InfluxDB; MQTT delivers at least once.
    QVERIFY(influx ? count == project.rowCount() : count >= project.rowCount());
}

void tst_Forwarding::refusedLinesAreCountedAndSkipped()
{
    RecordedProject project(4);
    QVERIFY(project.isValid());
    // Names line protocol cannot carry as they are, and a device whose field
    // holds text in the database, so that InfluxDB refuses every line of it.
    QVERIFY(project.rename({{"back\\slash"}, {"ends\\"}, {"a,b=c d\\,"}, {"conflict", "Level"}}));
    const ForwardSettings settings = settingsFor(Forwarder::Influx, QStringLiteral("poison"));
    QCOMPARE(m_influx.write(QStringLiteral("poison"),
                            "quillark Level=\"text\" " +
                                QByteArray::number(RecordedProject::kStartTime) + "000000000\n"),
             204);
    QVERIFY(project.record(40));
    QVERIFY(settings.save(project.path()));
    Forwarder forwarder(project.path());
    QVERIFY(forwarder.reload());
    QTRY_COMPARE_WITH_TIMEOUT(forwarder.state(Forwarder::Influx).lastId, project.rowCount(), 60000);
    const ForwardState state = forwarder.state(Forwarder::Influx);
    QCOMPARE(state.rejected, 40);
    QVERIFY2(state.rejectReason.contains(QLatin1String("field type conflict")),
             qPrintable(state.rejectReason));
    QVERIFY(state.lastError.isEmpty());
    QVERIFY(forwarder.statusLine().startsWith(QLatin1String("Forwarding fails: InfluxDB")));
    QVERIFY(forwarder.statusText().contains(QLatin1String("40 rows refused")));
    int count = 0;
    const QSet<QString> keys = m_influx.stored(QStringLiteral("poison"), &count);
    QCOMPARE(count, 120);
    QVERIFY(project.expected().contains(keys));
    QStringList names;
    for (const QJsonArray &row :
         m_influx.values(QStringLiteral("SHOW TAG VALUES FROM quillark WITH KEY = \"name\""),
                         QStringLiteral("poison")))
        names << row.at(1).toString();
    for (const QString &name : {QStringLiteral("back\\slash"), QStringLiteral("ends\u2216"),
                                QStringLiteral("a,b=c d\u2216,")})
        QVERIFY2(names.contains(name), qPrintable(names.join('|')));
}

void tst_Forwarding::influxV2ApiNeverHoldsRecordingBack()
{
    RecordedProject project(16);
    QVERIFY(project.isValid() && project.record(375)); // 6000 rows: two batches

    // The 2.x API, silent first, then failing: recording never waits for it.
    FakeHttpServer server;
    QVERIFY(server.start());
    server.setStatus(0);
    InfluxTarget::setTimeoutMs(500);
    ForwardSettings s;
    s.influxUrl = server.url() + QStringLiteral("/influx/");
    s.influxOrg = QStringLiteral("my org&co");
    s.influxBucket = QStringLiteral("x+y");
    s.influxToken = QStringLiteral("tok-123");
    QVERIFY(s.save(project.path()));
    Forwarder forwarder(project.path());
    QVERIFY(forwarder.reload());
    for (int i = 0; i < 200; ++i) {
        QVERIFY(project.record(1));
        QCoreApplication::processEvents();
    }
    QTRY_VERIFY_WITH_TIMEOUT(
        forwarder.state(Forwarder::Influx).lastError.contains(QLatin1String("did not answer")),
        20000);
    QTRY_COMPARE_WITH_TIMEOUT(forwarder.state(Forwarder::Influx).backlog, project.rowCount(),
                              10000);
    QCOMPARE(forwarder.state(Forwarder::Influx).lastId, 0);
    InfluxTarget::setTimeoutMs(InfluxTarget::kDefaultTimeoutMs);
    server.setStatus(500,
                     QByteArrayLiteral("{\"code\":\"internal error\",\"message\":\"disk full\"}"));
    QTRY_COMPARE_WITH_TIMEOUT(forwarder.state(Forwarder::Influx).lastError,
                              QStringLiteral("InfluxDB answered HTTP 500: disk full"), 20000);
    server.setStatus(204);
    QTRY_COMPARE_WITH_TIMEOUT(forwarder.state(Forwarder::Influx).lastId, project.rowCount(), 30000);
    const FakeHttpServer::Request last = server.requests().last();
    QCOMPARE(last.target,
             QByteArray("/influx/api/v2/write?org=my%20org%26co&bucket=x%2By&precision=s"));
    QCOMPARE(last.headers.value("authorization"), QByteArray("Token tok-123"));
    QVERIFY(last.headers.value("content-type").startsWith("text/plain"));
    QVERIFY(server.acceptedLines().contains(
        "quillark,device=QK0000000000000000,gateway=127.0.0.1:1502,name=Device\\ "
        "1,project=site Temperature=0.25,Humidity=-1 1767225600"));
    const QList<QByteArray> accepted = server.acceptedLines();
    QCOMPARE(QSet<QByteArray>(accepted.begin(), accepted.end()).size(), int(project.rowCount()));

    server.setStatus(
        401, QByteArrayLiteral("{\"code\":\"unauthorized\",\"message\":\"unauthorized access\"}"));
    QSignalSpy tested(&forwarder, &Forwarder::testFinished);
    forwarder.testConnection(Forwarder::Influx, s);
    QTRY_COMPARE_WITH_TIMEOUT(tested.size(), 1, 20000);
    QCOMPARE(tested.at(0).at(2).toString(), QStringLiteral("InfluxDB refused the token."));
}

// A broker that wants a password over TLS and an influxd that wants a user:
// each refusal is told, by a connection test and while forwarding, the
// secrets never reach the log, and once put right everything waiting arrives.
void tst_Forwarding::refusalsAreToldWithoutSecrets()
{
    QTemporaryDir certificates;
    const QString made = makeCertificates(certificates.path());
    QVERIFY2(made.isEmpty(), qPrintable(made));
    const auto pem = [&](const char *name) {
        return certificates.filePath(QString::fromLatin1(name));
    };
    InfluxServer influx;
    MosquittoBroker broker;
    QCOMPARE(influx.start(true), QString());
    QCOMPARE(
        broker.start(QStringLiteral("meter"), QStringLiteral("right-one"), certificates.path()),
        QString());
    influx.query(QStringLiteral("CREATE DATABASE guarded"));

    // Every log line is kept, debug lines included, to look for the secrets.
    static QStringList logLines;
    logLines.clear();
    QLoggingCategory::setFilterRules(QStringLiteral("quillark.forward.debug=true"));
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext &, const QString &m) { logLines << m; });

    RecordedProject project(2);
    QVERIFY(project.isValid() && project.record(50));
    ForwardSettings s;
    s.influxUrl = influx.url();
    s.influxDatabase = QStringLiteral("guarded");
    s.influxUser = QString::fromLatin1(InfluxServer::kAdmin);
    s.influxPassword = QStringLiteral("not-the-password");
    s.mqttHost = QStringLiteral("localhost");
    s.mqttPort = broker.port();
    s.mqttUser = QStringLiteral("meter");
    s.mqttPassword = QStringLiteral("wrong-one");
    s.mqttCaFile = pem("ca.pem");
    QVERIFY(s.save(project.path()));
    Forwarder forwarder(project.path());
    QSignalSpy tested(&forwarder, &Forwarder::testFinished);
    const auto test = [&](Forwarder::Target which, const ForwardSettings &t) {
        const int before = tested.size();
        forwarder.testConnection(which, t);
        return QTest::qWaitFor([&] { return tested.size() > before; }, 20000)
                   ? tested.last().at(2).toString()
                   : QStringLiteral("no answer");
    };
    const QString influxRefused = QStringLiteral("InfluxDB refused the user name or password.");
    const QString mqttRefused =
        QStringLiteral("The MQTT broker refused the user name or password.");
    QCOMPARE(test(Forwarder::Influx, s), influxRefused);
    QCOMPARE(test(Forwarder::Mqtt, s), mqttRefused);
    QVERIFY(forwarder.reload());
    QTRY_COMPARE_WITH_TIMEOUT(forwarder.state(Forwarder::Influx).lastError, influxRefused, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(forwarder.state(Forwarder::Mqtt).lastError, mqttRefused, 20000);
    QCOMPARE(forwarder.state(Forwarder::Influx).backlog, project.rowCount());

    s.influxPassword = QString::fromLatin1(InfluxServer::kAdminPassword);
    s.influxDatabase = QStringLiteral("nope");
    s.mqttPassword = QStringLiteral("right-one");
    QCOMPARE(test(Forwarder::Influx, s), QStringLiteral("InfluxDB has no database \"nope\"."));
    const struct {
        const char *host, *ca, *says;
    } cases[] = {
        {"localhost", "other-ca.pem", "not trusted: the CA file"},
        {"127.0.0.1", "ca.pem", "host name mismatch"},
        {"localhost", "garbage.pem", "holds no certificate"},
        {"localhost", "ca.pem", "The MQTT broker localhost:%1 accepted the connection."},
    };
    for (const auto &c : cases) {
        ForwardSettings t = s;
        t.mqttHost = QString::fromLatin1(c.host);
        t.mqttCaFile = pem(c.ca);
        const QString told = test(Forwarder::Mqtt, t);
        QVERIFY2(told.contains(QString::fromLatin1(c.says).arg(broker.port())), qPrintable(told));
    }

    // Put right but for the CA file, which is first broken, then the wrong
    // one, then the right one: told each time, the position kept until it works.
    s.influxDatabase = QStringLiteral("guarded");
    s.mqttCaFile = pem("in-use.pem");
    QVERIFY(QFile::copy(pem("garbage.pem"), s.mqttCaFile));
    QVERIFY(s.save(project.path()));
    const ForwardPosition position(project.path(), QStringLiteral("mqtt"), s.mqttIdentity());
    QVERIFY(position.save(40));
    QVERIFY(forwarder.reload());
    const auto replaceCa = [&](const char *with, const char *says) {
        QTRY_VERIFY2_WITH_TIMEOUT(
            forwarder.state(Forwarder::Mqtt).lastError.contains(QLatin1String(says)),
            qPrintable(forwarder.state(Forwarder::Mqtt).lastError), 20000);
        QCOMPARE(position.load(), 40);
        QVERIFY(QFile::remove(s.mqttCaFile) && QFile::copy(pem(with), s.mqttCaFile));
    };
    replaceCa("other-ca.pem", "holds no certificate");
    replaceCa("ca.pem", "not trusted");
    QTRY_COMPARE_WITH_TIMEOUT(forwarder.state(Forwarder::Influx).lastId, project.rowCount(), 30000);
    QTRY_COMPARE_WITH_TIMEOUT(forwarder.state(Forwarder::Mqtt).lastId, project.rowCount(), 30000);
    QCOMPARE(forwarder.state(Forwarder::Mqtt).forwarded, project.rowCount() - 40);
    forwarder.stop();

    qInstallMessageHandler(previous);
    QLoggingCategory::setFilterRules(QString());
    QVERIFY(!logLines.isEmpty());
    for (const char *secret :
         {"not-the-password", InfluxServer::kAdminPassword, "wrong-one", "right-one"})
        QCOMPARE(logLines.filter(QLatin1String(secret)), QStringList());
    QCOMPARE(influx.stored(QStringLiteral("guarded")), project.expected());
}

// The record database moved away while rows wait: the recorder goes on into
// a new file, and the forwarder sends the old file's last rows, then the new
// file's from its first row.
void tst_Forwarding::newDatabaseFileFollowsTheOld()
{
    RecordedProject project(2);
    QVERIFY(project.isValid() && project.record(100));
    const ForwardSettings settings = settingsFor(Forwarder::Influx, QStringLiteral("moved"));
    QVERIFY(settings.save(project.path()));
    Forwarder forwarder(project.path());
    QVERIFY(forwarder.reload());
    QTRY_COMPARE_WITH_TIMEOUT(forwarder.state(Forwarder::Influx).lastId, project.rowCount(), 30000);

    m_influx.stop();
    QVERIFY(project.record(50));
    QTRY_VERIFY_WITH_TIMEOUT(!forwarder.state(Forwarder::Influx).lastError.isEmpty(), 30000);
    QVERIFY(QFile::rename(project.databasePath(), project.databasePath() + QStringLiteral(".old")));
    QVERIFY(project.record(30));
    QCOMPARE(m_influx.restart(), QString());
    RecordReader reader;
    QVERIFY(reader.open(project.databasePath()));
    // The new file holds the last 60 rows and those of the old file that
    // its log still held (all of them when a reader kept the checkpoint back).
    const qint64 newest = reader.maxId();
    QVERIFY(newest >= 60 && newest <= project.rowCount());
    QTRY_VERIFY_WITH_TIMEOUT(forwarder.state(Forwarder::Influx).backlog == 0 &&
                                 forwarder.state(Forwarder::Influx).lastId == newest,
                             60000);
    const ForwardPosition position(project.path(), QStringLiteral("influx"),
                                   settings.influxIdentity());
    QTRY_COMPARE(position.load(), newest);
    QCOMPARE(m_influx.stored(QStringLiteral("moved")), project.expected());
}

QTEST_MAIN(tst_Forwarding)
#include "tst_forwarding.moc"
