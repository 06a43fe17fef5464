#include "forward/forwarder.h"
#include "forward/forwardposition.h"
#include "forward/influxtarget.h"
#include "forwardservers.h"
#include "projectfixture.h"
#include "record/recordreader.h"
#include "testsupport.h"

#include <QJsonArray>
#include <QtTest>

using namespace ForwardTest;

// Forwarding to a real influxd (1.x) and to a loopback stand-in for the 2.x
// API: every recorded row arrives once with its values, outages and restarts
// lose nothing, and bad credentials or a silent server are told plainly.
class tst_InfluxTarget : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void everyRowArrivesOnceWithItsValues();
    void outageLongerThanABatchLosesNothing();
    void restartMidBacklogResumes();
    void wrongPasswordAndUnknownDatabaseAreTold();
    void version2RequestAndRetryAfterServerError();
    void silentServerNeverDelaysRecording();
    void unreadableDatabaseKeepsThePosition();
    void newDatabaseFileFollowsTheOld();

private:
    static ForwardSettings influxSettings(const QString &url,
                                          const QString &database = QStringLiteral("qk"));

    InfluxServer m_influx;
};

void tst_InfluxTarget::initTestCase()
{
    TestSupport::isolateSettings();
    ForwardTarget::setRetryDelays(50, 400);
    const QString error = m_influx.start();
    if (!error.isEmpty())
        QSKIP(qPrintable(error));
    QVERIFY(
        m_influx.query(QStringLiteral("CREATE DATABASE qk")).contains(QStringLiteral("results")));
}

ForwardSettings tst_InfluxTarget::influxSettings(const QString &url, const QString &database)
{
    ForwardSettings s;
    s.influxUrl = url;
    s.influxDatabase = database;
    return s;
}

void tst_InfluxTarget::everyRowArrivesOnceWithItsValues()
{
    m_influx.query(QStringLiteral("CREATE DATABASE once"));
    RecordedProject project(4);
    QVERIFY(project.isValid());
    QVERIFY(project.record(3000)); // 12000 rows: three batches
    QVERIFY(influxSettings(m_influx.url(), QStringLiteral("once")).save(project.path()));

    Forwarder forwarder(project.path());
    QVERIFY(forwarder.reload());
    QTRY_COMPARE_WITH_TIMEOUT(forwarder.state(Forwarder::Influx).lastId, project.rowCount(), 60000);
    // Rows recorded while it runs follow; a gap mark has nothing to store.
    QVERIFY(project.recordGap());
    QVERIFY(project.record(5));
    QTRY_COMPARE_WITH_TIMEOUT(forwarder.state(Forwarder::Influx).lastId, project.rowCount(), 30000);
    const ForwardState state = forwarder.state(Forwarder::Influx);
    QVERIFY(state.connected);
    QVERIFY(state.lastError.isEmpty());
    QCOMPARE(state.backlog, 0);
    QCOMPARE(state.forwarded, project.rowCount());

    const QList<QJsonArray> count = m_influx.values(
        QStringLiteral("SELECT count(Temperature) FROM quillark"), QStringLiteral("once"));
    QCOMPARE(count.value(0).at(1).toInt(), 4 * 3005);
    // Samples 3000 (the gap) are missing; check the first 3000 of two devices.
    const QList<QJsonArray> gap =
        m_influx.values(QStringLiteral("SELECT * FROM quillark WHERE time = %1000000000")
                            .arg(RecordedProject::kStartTime + 3000),
                        QStringLiteral("once"));
    QVERIFY(gap.isEmpty());
    for (int device : {0, 3}) {
        const QString serial = project.serials().at(device);
        const QList<QJsonArray> rows =
            m_influx.values(QStringLiteral("SELECT \"Temperature\", \"Humidity\", \"name\", "
                                           "\"gateway\", \"project\" FROM quillark "
                                           "WHERE \"device\" = '%1' "
                                           "LIMIT 3000")
                                .arg(serial),
                            QStringLiteral("once"));
        QCOMPARE(rows.size(), 3000);
        for (int s = 0; s < rows.size(); s += 7) {
            const qint64 n = qint64(s) * 4 + device + 1;
            QCOMPARE(rows[s].at(1).toDouble(), RecordedProject::channel1(n));
            QCOMPARE(rows[s].at(2).toDouble(), RecordedProject::channel2(n));
            QCOMPARE(rows[s].at(3).toString(), QStringLiteral("Device %1").arg(device + 1));
            QCOMPARE(rows[s].at(4).toString(), QStringLiteral("127.0.0.1:1502"));
            QCOMPARE(rows[s].at(5).toString(), QStringLiteral("site"));
        }
    }
    // The position is kept beside the project.
    const ForwardPosition position(
        project.path(), QStringLiteral("influx"),
        influxSettings(m_influx.url(), QStringLiteral("once")).influxIdentity());
    QTRY_COMPARE(position.load(), project.rowCount());
}

void tst_InfluxTarget::outageLongerThanABatchLosesNothing()
{
    m_influx.query(QStringLiteral("CREATE DATABASE outage"));
    RecordedProject project(4);
    QVERIFY(project.isValid());
    QVERIFY(project.record(100));
    QVERIFY(influxSettings(m_influx.url(), QStringLiteral("outage")).save(project.path()));
    Forwarder forwarder(project.path());
    QVERIFY(forwarder.reload());
    QTRY_COMPARE_WITH_TIMEOUT(forwarder.state(Forwarder::Influx).lastId, project.rowCount(), 30000);

    m_influx.stop();
    // Recording goes on: 8000 rows, more than a batch, in small writes.
    for (int i = 0; i < 20; ++i)
        QVERIFY(project.record(100));
    QTRY_VERIFY_WITH_TIMEOUT(!forwarder.state(Forwarder::Influx).lastError.isEmpty(), 30000);
    QVERIFY(forwarder.state(Forwarder::Influx)
                .lastError.contains(QLatin1String("refused the connection")));
    QVERIFY(!forwarder.statusText().isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(forwarder.state(Forwarder::Influx).backlog, project.rowCount() - 400,
                              10000);

    QCOMPARE(m_influx.restart(), QString());
    QTRY_COMPARE_WITH_TIMEOUT(forwarder.state(Forwarder::Influx).lastId, project.rowCount(), 60000);
    QVERIFY(forwarder.state(Forwarder::Influx).lastError.isEmpty());
    QVERIFY(forwarder.statusText().isEmpty());
    const QList<QJsonArray> count =
        m_influx.values(QStringLiteral("SELECT count(Temperature), sum(Humidity) FROM quillark"),
                        QStringLiteral("outage"));
    const qint64 rows = project.rowCount();
    QCOMPARE(count.value(0).at(1).toInt(), int(rows));
    QCOMPARE(count.value(0).at(2).toDouble(), -double(rows * (rows + 1) / 2));
}

void tst_InfluxTarget::restartMidBacklogResumes()
{
    m_influx.query(QStringLiteral("CREATE DATABASE resume"));
    RecordedProject project(16);
    QVERIFY(project.isValid());
    QVERIFY(project.record(4000)); // 64000 rows: 13 batches
    const ForwardSettings settings = influxSettings(m_influx.url(), QStringLiteral("resume"));
    QVERIFY(settings.save(project.path()));
    const ForwardPosition position(project.path(), QStringLiteral("influx"),
                                   settings.influxIdentity());

    qint64 stoppedAt = 0;
    {
        Forwarder forwarder(project.path());
        QVERIFY(forwarder.reload());
        QTRY_VERIFY_WITH_TIMEOUT(forwarder.state(Forwarder::Influx).lastId > 0, 60000);
        // Stopped like a program that ends in the middle of the backlog.
    }
    stoppedAt = position.load();
    QVERIFY(stoppedAt > 0);
    if (stoppedAt == project.rowCount())
        QSKIP("the whole backlog went before the stop");

    Forwarder again(project.path());
    QVERIFY(again.reload());
    QTRY_COMPARE_WITH_TIMEOUT(again.state(Forwarder::Influx).lastId, project.rowCount(), 60000);
    // It went on from the stored position rather than from the start.
    QCOMPARE(again.state(Forwarder::Influx).forwarded, project.rowCount() - stoppedAt);
    const QList<QJsonArray> count =
        m_influx.values(QStringLiteral("SELECT count(Humidity), sum(Humidity) FROM quillark"),
                        QStringLiteral("resume"));
    const qint64 rows = project.rowCount();
    QCOMPARE(count.value(0).at(1).toInt(), int(rows));
    QCOMPARE(count.value(0).at(2).toDouble(), -double(rows * (rows + 1) / 2));
}

void tst_InfluxTarget::wrongPasswordAndUnknownDatabaseAreTold()
{
    InfluxServer secured;
    QCOMPARE(secured.start(true), QString());
    secured.query(QStringLiteral("CREATE DATABASE guarded"));

    // Every log line is kept, debug lines included, to look for the secrets.
    static QStringList logLines;
    logLines.clear();
    QLoggingCategory::setFilterRules(QStringLiteral("quillark.forward.debug=true"));
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext &, const QString &m) { logLines << m; });

    RecordedProject project(2);
    QVERIFY(project.isValid());
    QVERIFY(project.record(50));
    ForwardSettings s = influxSettings(secured.url(), QStringLiteral("guarded"));
    s.influxUser = QString::fromLatin1(InfluxServer::kAdmin);
    s.influxPassword = QStringLiteral("not-the-password");
    QVERIFY(s.save(project.path()));

    Forwarder forwarder(project.path());
    QSignalSpy tested(&forwarder, &Forwarder::testFinished);
    forwarder.testConnection(Forwarder::Influx, s);
    QTRY_COMPARE_WITH_TIMEOUT(tested.size(), 1, 20000);
    QCOMPARE(tested.at(0).at(1).toBool(), false);
    QCOMPARE(tested.at(0).at(2).toString(),
             QStringLiteral("InfluxDB refused the user name or password."));

    QVERIFY(forwarder.reload());
    QTRY_COMPARE_WITH_TIMEOUT(forwarder.state(Forwarder::Influx).lastError,
                              QStringLiteral("InfluxDB refused the user name or password."), 20000);
    QCOMPARE(forwarder.state(Forwarder::Influx).lastId, 0);
    QCOMPARE(forwarder.state(Forwarder::Influx).backlog, project.rowCount());

    // Unknown database, with the right password.
    s.influxPassword = QString::fromLatin1(InfluxServer::kAdminPassword);
    s.influxDatabase = QStringLiteral("nope");
    forwarder.testConnection(Forwarder::Influx, s);
    QTRY_COMPARE_WITH_TIMEOUT(tested.size(), 2, 20000);
    QCOMPARE(tested.at(1).at(2).toString(), QStringLiteral("InfluxDB has no database \"nope\"."));

    // Put right, everything waiting arrives.
    s.influxDatabase = QStringLiteral("guarded");
    QVERIFY(s.save(project.path()));
    QVERIFY(forwarder.reload());
    QTRY_COMPARE_WITH_TIMEOUT(forwarder.state(Forwarder::Influx).lastId, project.rowCount(), 30000);
    forwarder.stop();

    qInstallMessageHandler(previous);
    QLoggingCategory::setFilterRules(QString());
    QVERIFY(!logLines.isEmpty());
    for (const QString &line : qAsConst(logLines)) {
        QVERIFY2(!line.contains(QLatin1String("not-the-password")), qPrintable(line));
        QVERIFY2(!line.contains(QLatin1String(InfluxServer::kAdminPassword)), qPrintable(line));
    }
    // The project file holding the password is its owner's only.
    QCOMPARE(QFile(project.path()).permissions() & (QFile::ReadGroup | QFile::ReadOther),
             QFile::Permissions());
    const QList<QJsonArray> count = secured.values(
        QStringLiteral("SELECT count(Temperature) FROM quillark"), QStringLiteral("guarded"));
    QCOMPARE(count.value(0).at(1).toInt(), int(project.rowCount()));
}

void tst_InfluxTarget::version2RequestAndRetryAfterServerError()
{
    FakeHttpServer server;
    QVERIFY(server.start());
    server.setStatus(500,
                     QByteArrayLiteral("{\"code\":\"internal error\",\"message\":\"disk full\"}"));
    RecordedProject project(2);
    QVERIFY(project.isValid());
    QVERIFY(project.record(3000)); // 6000 rows: two batches
    ForwardSettings s;
    s.influxUrl = server.url() + QStringLiteral("/influx/");
    s.influxOrg = QStringLiteral("my org");
    s.influxBucket = QStringLiteral("plant&1");
    s.influxToken = QStringLiteral("tok-123");
    QVERIFY(s.save(project.path()));

    Forwarder forwarder(project.path());
    QVERIFY(forwarder.reload());
    QTRY_COMPARE_WITH_TIMEOUT(forwarder.state(Forwarder::Influx).lastError,
                              QStringLiteral("InfluxDB answered HTTP 500: disk full"), 20000);
    QTRY_VERIFY(server.requests().size() >= 2); // tried again
    QCOMPARE(forwarder.state(Forwarder::Influx).lastId, 0);
    server.setStatus(204);
    QTRY_COMPARE_WITH_TIMEOUT(forwarder.state(Forwarder::Influx).lastId, project.rowCount(), 20000);

    // Two batches are on the way at once: the first rows are in the full one.
    FakeHttpServer::Request first = server.requests().first();
    for (const FakeHttpServer::Request &request : server.requests()) {
        if (request.body.count('\n') > first.body.count('\n'))
            first = request;
    }
    QCOMPARE(first.method, QByteArray("POST"));
    const QUrl target(QString::fromLatin1(first.target));
    QCOMPARE(target.path(), QStringLiteral("/influx/api/v2/write"));
    const QUrlQuery query(target);
    QCOMPARE(query.queryItemValue(QStringLiteral("org"), QUrl::FullyDecoded),
             QStringLiteral("my org"));
    QCOMPARE(query.queryItemValue(QStringLiteral("bucket"), QUrl::FullyDecoded),
             QStringLiteral("plant&1"));
    QCOMPARE(query.queryItemValue(QStringLiteral("precision")), QStringLiteral("s"));
    QCOMPARE(first.headers.value("authorization"), QByteArray("Token tok-123"));
    QVERIFY(first.headers.value("content-type").startsWith("text/plain"));
    QCOMPARE(first.body.count('\n'), 5000);
    QCOMPARE(first.body.left(first.body.indexOf('\n')),
             QByteArray("quillark,device=QK0000000000000000,gateway=127.0.0.1:1502,name=Device\\ "
                        "1,project=site "
                        "Temperature=0.25,Humidity=-1 1767225600"));
    // Every row once among the accepted writes.
    QSet<QByteArray> unique;
    for (const QByteArray &line : server.acceptedLines())
        unique.insert(line);
    QCOMPARE(server.acceptedLines().size(), int(project.rowCount()));
    QCOMPARE(unique.size(), int(project.rowCount()));

    // A refused token.
    server.setStatus(
        401, QByteArrayLiteral("{\"code\":\"unauthorized\",\"message\":\"unauthorized access\"}"));
    QSignalSpy tested(&forwarder, &Forwarder::testFinished);
    forwarder.testConnection(Forwarder::Influx, s);
    QTRY_COMPARE_WITH_TIMEOUT(tested.size(), 1, 20000);
    QCOMPARE(tested.at(0).at(2).toString(), QStringLiteral("InfluxDB refused the token."));
}

void tst_InfluxTarget::silentServerNeverDelaysRecording()
{
    FakeHttpServer server;
    QVERIFY(server.start());
    server.setStatus(0); // takes the request, never answers
    InfluxTarget::setTimeoutMs(500);
    RecordedProject project(16);
    QVERIFY(project.isValid());
    QVERIFY(influxSettings(server.url()).save(project.path()));
    Forwarder forwarder(project.path());
    QVERIFY(forwarder.reload());

    // Record at full rate (16 devices, one sample per tick) while the target
    // hangs: every write goes through and the window's loop keeps turning.
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(5);
    for (int i = 0; i < 200; ++i) {
        QVERIFY(project.record(1));
        QCoreApplication::processEvents();
    }
    QTRY_VERIFY_WITH_TIMEOUT(
        forwarder.state(Forwarder::Influx).lastError.contains(QLatin1String("did not answer")),
        20000);
    QVERIFY(ticks > 0);
    QCOMPARE(TestSupport::sqlRows(project.databasePath(),
                                  QStringLiteral("select count(*) from fennolink"))
                 .value(0)
                 .value(0)
                 .toLongLong(),
             project.rowCount());
    QTRY_COMPARE_WITH_TIMEOUT(forwarder.state(Forwarder::Influx).backlog, project.rowCount(),
                              10000);
    QCOMPARE(forwarder.state(Forwarder::Influx).lastId, 0);

    // Once it answers, everything recorded arrives.
    server.setStatus(204);
    QTRY_COMPARE_WITH_TIMEOUT(forwarder.state(Forwarder::Influx).lastId, project.rowCount(), 30000);
    InfluxTarget::setTimeoutMs(InfluxTarget::kDefaultTimeoutMs);
    QSet<QByteArray> unique;
    for (const QByteArray &line : server.acceptedLines())
        unique.insert(line);
    QCOMPARE(unique.size(), int(project.rowCount()));
}

void tst_InfluxTarget::unreadableDatabaseKeepsThePosition()
{
    FakeHttpServer server;
    QVERIFY(server.start());
    RecordedProject project(2);
    QVERIFY(project.isValid());
    QVERIFY(project.record(100));
    const ForwardSettings settings = influxSettings(server.url());
    QVERIFY(settings.save(project.path()));
    const ForwardPosition position(project.path(), QStringLiteral("influx"),
                                   settings.influxIdentity());
    {
        Forwarder forwarder(project.path());
        QVERIFY(forwarder.reload());
        QTRY_COMPARE_WITH_TIMEOUT(forwarder.state(Forwarder::Influx).lastId, project.rowCount(),
                                  20000);
        QTRY_COMPARE(position.load(), project.rowCount());
    }

    // At the next start the file is something that is no recording: told,
    // and the position stays (a read failure is no proof that the rows are gone).
    const QString saved = project.databasePath() + QStringLiteral(".saved");
    QVERIFY(QFile::rename(project.databasePath(), saved));
    QFile::remove(project.databasePath() + QStringLiteral("-wal"));
    QFile::remove(project.databasePath() + QStringLiteral("-shm"));
    QFile junk(project.databasePath());
    QVERIFY(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(8192, 'x'));
    junk.close();
    Forwarder forwarder(project.path());
    QVERIFY(forwarder.reload());
    QTRY_VERIFY_WITH_TIMEOUT(
        forwarder.state(Forwarder::Influx).lastError.contains(QLatin1String("cannot be read")),
        20000);
    QCOMPARE(position.load(), project.rowCount());
    QVERIFY(!forwarder.statusText().isEmpty());
}

// The record database moved away while rows wait: the recorder goes on into
// a new file, and the forwarder sends the old file's last rows, then the new
// file's from its first row.
void tst_InfluxTarget::newDatabaseFileFollowsTheOld()
{
    m_influx.query(QStringLiteral("CREATE DATABASE moved"));
    RecordedProject project(2);
    QVERIFY(project.isValid());
    QVERIFY(project.record(100));
    QVERIFY(influxSettings(m_influx.url(), QStringLiteral("moved")).save(project.path()));
    Forwarder forwarder(project.path());
    QVERIFY(forwarder.reload());
    QTRY_COMPARE_WITH_TIMEOUT(forwarder.state(Forwarder::Influx).lastId, project.rowCount(), 30000);

    m_influx.stop();
    QVERIFY(project.record(50));
    QTRY_VERIFY_WITH_TIMEOUT(!forwarder.state(Forwarder::Influx).lastError.isEmpty(), 30000);
    QVERIFY(QFile::rename(project.databasePath(), project.databasePath() + QStringLiteral(".old")));
    QVERIFY(project.record(30));
    QVERIFY(QFileInfo::exists(project.databasePath()));
    QCOMPARE(m_influx.restart(), QString());

    RecordReader reader;
    QVERIFY(reader.open(project.databasePath()));
    const qint64 newest = reader.maxId();
    QVERIFY(newest >= 60 && newest < project.rowCount());
    QTRY_VERIFY_WITH_TIMEOUT(forwarder.state(Forwarder::Influx).backlog == 0 &&
                                 forwarder.state(Forwarder::Influx).lastId == newest,
                             60000);
    const ForwardPosition position(
        project.path(), QStringLiteral("influx"),
        influxSettings(m_influx.url(), QStringLiteral("moved")).influxIdentity());
    QTRY_COMPARE(position.load(), newest);
    // Every sample once (rows carried into the new file land on the same points).
    const QList<QJsonArray> count = m_influx.values(
        QStringLiteral("SELECT count(Temperature) FROM quillark"), QStringLiteral("moved"));
    QCOMPARE(count.value(0).at(1).toInt(), 2 * (100 + 50 + 30));
}

QTEST_MAIN(tst_InfluxTarget)
#include "tst_influxtarget.moc"
