#include "forward/forwarder.h"
#include "forward/forwardposition.h"
#include "forward/mqtttarget.h"
#include "forwardservers.h"
#include "testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

using namespace ForwardTest;

// Forwarding to a real mosquitto broker, checked with mosquitto_sub: every
// recorded row arrives with its values, the live value is retained, an outage
// or a restart loses nothing, and refusals are told plainly.
class tst_MqttTarget : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void everyRowArrivesWithItsValuesAndLiveIsRetained();
    void brokerOutageLosesNothing();
    void restartMidBacklogResumes();
    void refusedPasswordAndBadCaFileAreTold();

private:
    static ForwardSettings mqttSettings(quint16 port);
    // (serial, time) of each received recorded row, after checking its values.
    static QSet<QString> checkRows(const RecordedProject &project, const QStringList &lines);

    MosquittoBroker m_broker;
};

void tst_MqttTarget::initTestCase()
{
    TestSupport::isolateSettings();
    ForwardTarget::setRetryDelays(1000, 2000);
    const QString error = m_broker.start();
    if (!error.isEmpty())
        QSKIP(qPrintable(error));
}

ForwardSettings tst_MqttTarget::mqttSettings(quint16 port)
{
    ForwardSettings s;
    s.mqttHost = QStringLiteral("127.0.0.1");
    s.mqttPort = port;
    s.mqttPrefix = QStringLiteral("plant/a");
    return s;
}

QSet<QString> tst_MqttTarget::checkRows(const RecordedProject &project, const QStringList &lines)
{
    QSet<QString> seen;
    const int devices = project.serials().size();
    for (const QString &line : lines) {
        const int space = line.indexOf(QLatin1Char(' '));
        const QString topic = line.left(space);
        const QJsonObject o = QJsonDocument::fromJson(line.mid(space + 1).toUtf8()).object();
        const QString serial = o.value(QStringLiteral("device")).toString();
        const int device = project.serials().indexOf(serial);
        if (device < 0 || topic != QStringLiteral("plant/a/site/") + serial) {
            qWarning() << "unexpected" << line;
            return {};
        }
        const qint64 time = qint64(o.value(QStringLiteral("time")).toDouble());
        const qint64 sample = time - RecordedProject::kStartTime;
        const qint64 n = sample * devices + device + 1;
        const QJsonArray channels = o.value(QStringLiteral("channels")).toArray();
        const bool ok = o.value(QStringLiteral("name")).toString() ==
                            QStringLiteral("Device %1").arg(device + 1) &&
                        o.value(QStringLiteral("iso")).toString() ==
                            QDateTime::fromSecsSinceEpoch(time, Qt::UTC).toString(Qt::ISODate) &&
                        channels.at(0).toObject().value(QStringLiteral("name")).toString() ==
                            QLatin1String("Temperature") &&
                        channels.at(0).toObject().value(QStringLiteral("unit")).toString() ==
                            QString::fromUtf8("\u00b0C") &&
                        channels.at(1).toObject().value(QStringLiteral("unit")).toString() ==
                            QLatin1String("%RH") &&
                        channels.at(0).toObject().value(QStringLiteral("value")).toDouble() ==
                            RecordedProject::channel1(n) &&
                        channels.at(1).toObject().value(QStringLiteral("value")).toDouble() ==
                            RecordedProject::channel2(n);
        if (!ok) {
            qWarning() << "wrong values in" << line << "expected row" << n;
            return {};
        }
        seen.insert(serial + QLatin1Char('@') + QString::number(time));
    }
    return seen;
}

void tst_MqttTarget::everyRowArrivesWithItsValuesAndLiveIsRetained()
{
    Subscriber subscriber;
    QVERIFY(subscriber.start(m_broker.port(), QStringLiteral("plant/a/site/+")));
    QVERIFY(subscriber.waitReady(m_broker.port(), QStringLiteral("plant/a/site/probe")));

    RecordedProject project(4);
    QVERIFY(project.isValid());
    QVERIFY(project.record(1000)); // 4000 rows, twice the window
    QVERIFY(mqttSettings(m_broker.port()).save(project.path()));
    Forwarder forwarder(project.path());
    QVERIFY(forwarder.reload());
    QTRY_COMPARE_WITH_TIMEOUT(forwarder.state(Forwarder::Mqtt).lastId, project.rowCount(), 60000);
    QVERIFY(forwarder.state(Forwarder::Mqtt).connected);
    QVERIFY(forwarder.state(Forwarder::Mqtt).lastError.isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(subscriber.lines().size(), int(project.rowCount()), 30000);
    const QSet<QString> seen = checkRows(project, subscriber.lines());
    QCOMPARE(seen.size(), int(project.rowCount()));

    // A gap mark goes out with null values.
    QVERIFY(project.recordGap());
    QTRY_COMPARE_WITH_TIMEOUT(subscriber.lines().size(), int(project.rowCount()), 30000);
    const QJsonObject gap =
        QJsonDocument::fromJson(subscriber.lines().last().section(QLatin1Char(' '), 1).toUtf8())
            .object();
    QVERIFY(gap.value(QStringLiteral("channels"))
                .toArray()
                .at(0)
                .toObject()
                .value(QStringLiteral("value"))
                .isNull());

    // Live values are retained: a subscriber that comes later still gets the newest.
    const QString serial = project.serials().at(2);
    forwarder.liveSample(serial, 20.0, 1.0, 1767225600);
    forwarder.liveSample(serial, 21.5, 45.25, 1767225601);
    Subscriber late;
    QTest::qWait(200); // the retained message is in place before the late subscriber comes
    QVERIFY(late.start(m_broker.port(), QStringLiteral("plant/a/site/+/live")));
    QTRY_VERIFY_WITH_TIMEOUT(!late.lines().isEmpty(), 20000);
    QCOMPARE(late.lines().size(), 1);
    const QString line = late.lines().first();
    QCOMPARE(line.section(QLatin1Char(' '), 0, 0),
             QStringLiteral("plant/a/site/%1/live").arg(serial));
    const QJsonObject live =
        QJsonDocument::fromJson(line.section(QLatin1Char(' '), 1).toUtf8()).object();
    QCOMPARE(live.value(QStringLiteral("time")).toInt(), 1767225601);
    QCOMPARE(live.value(QStringLiteral("channels"))
                 .toArray()
                 .at(0)
                 .toObject()
                 .value(QStringLiteral("value"))
                 .toDouble(),
             21.5);
    QCOMPARE(live.value(QStringLiteral("channels"))
                 .toArray()
                 .at(1)
                 .toObject()
                 .value(QStringLiteral("value"))
                 .toDouble(),
             45.25);
}

void tst_MqttTarget::brokerOutageLosesNothing()
{
    Subscriber subscriber;
    QVERIFY(subscriber.start(m_broker.port(), QStringLiteral("plant/a/site/+")));
    QVERIFY(subscriber.waitReady(m_broker.port(), QStringLiteral("plant/a/site/probe")));
    RecordedProject project(4);
    QVERIFY(project.isValid());
    QVERIFY(project.record(100));
    QVERIFY(mqttSettings(m_broker.port()).save(project.path()));
    Forwarder forwarder(project.path());
    QVERIFY(forwarder.reload());
    QTRY_COMPARE_WITH_TIMEOUT(forwarder.state(Forwarder::Mqtt).lastId, project.rowCount(), 30000);

    m_broker.stop();
    QTRY_VERIFY_WITH_TIMEOUT(!forwarder.state(Forwarder::Mqtt).connected, 20000);
    QVERIFY(!forwarder.state(Forwarder::Mqtt).lastError.isEmpty());
    QVERIFY(forwarder.statusText().startsWith(QLatin1String("Forwarding fails")));
    for (int i = 0; i < 15; ++i)
        QVERIFY(project.record(100)); // 6000 rows while the broker is away
    QTRY_COMPARE_WITH_TIMEOUT(forwarder.state(Forwarder::Mqtt).backlog, project.rowCount() - 400,
                              10000);

    QCOMPARE(m_broker.restart(), QString());
    QTRY_COMPARE_WITH_TIMEOUT(forwarder.state(Forwarder::Mqtt).lastId, project.rowCount(), 60000);
    QVERIFY(forwarder.statusText().isEmpty());
    // The subscriber's session outlived the broker's restart: everything arrives.
    QTRY_VERIFY_WITH_TIMEOUT(subscriber.lines().size() >= int(project.rowCount()), 30000);
    const QSet<QString> seen = checkRows(project, subscriber.lines());
    QCOMPARE(seen.size(), int(project.rowCount()));
}

void tst_MqttTarget::restartMidBacklogResumes()
{
    Subscriber subscriber;
    QVERIFY(subscriber.start(m_broker.port(), QStringLiteral("plant/a/site/+")));
    QVERIFY(subscriber.waitReady(m_broker.port(), QStringLiteral("plant/a/site/probe")));
    RecordedProject project(16);
    QVERIFY(project.isValid());
    QVERIFY(project.record(2000)); // 32000 rows
    const ForwardSettings settings = mqttSettings(m_broker.port());
    QVERIFY(settings.save(project.path()));
    const ForwardPosition position(project.path(), QStringLiteral("mqtt"), settings.mqttIdentity());
    {
        Forwarder forwarder(project.path());
        QVERIFY(forwarder.reload());
        QTRY_VERIFY_WITH_TIMEOUT(forwarder.state(Forwarder::Mqtt).lastId > 0, 30000);
    }
    const qint64 stoppedAt = position.load();
    QVERIFY(stoppedAt > 0);
    if (stoppedAt == project.rowCount())
        QSKIP("the whole backlog went before the stop");
    Forwarder again(project.path());
    QVERIFY(again.reload());
    QTRY_COMPARE_WITH_TIMEOUT(again.state(Forwarder::Mqtt).lastId, project.rowCount(), 60000);
    QCOMPARE(again.state(Forwarder::Mqtt).forwarded, project.rowCount() - stoppedAt);
    QTRY_VERIFY_WITH_TIMEOUT(subscriber.lines().size() >= int(project.rowCount()), 30000);
    QCOMPARE(checkRows(project, subscriber.lines()).size(), int(project.rowCount()));
}

void tst_MqttTarget::refusedPasswordAndBadCaFileAreTold()
{
    MosquittoBroker guarded;
    QCOMPARE(guarded.start(QStringLiteral("meter"), QStringLiteral("right-one")), QString());
    RecordedProject project(2);
    QVERIFY(project.isValid());
    QVERIFY(project.record(10));
    ForwardSettings s = mqttSettings(guarded.port());
    s.mqttUser = QStringLiteral("meter");
    s.mqttPassword = QStringLiteral("wrong-one");
    QVERIFY(s.save(project.path()));
    Forwarder forwarder(project.path());
    QSignalSpy tested(&forwarder, &Forwarder::testFinished);
    forwarder.testConnection(Forwarder::Mqtt, s);
    QTRY_COMPARE_WITH_TIMEOUT(tested.size(), 1, 20000);
    QCOMPARE(tested.at(0).at(1).toBool(), false);
    QCOMPARE(tested.at(0).at(2).toString(),
             QStringLiteral("The MQTT broker refused the user name or password."));

    QVERIFY(forwarder.reload());
    QTRY_COMPARE_WITH_TIMEOUT(forwarder.state(Forwarder::Mqtt).lastError,
                              QStringLiteral("The MQTT broker refused the user name or password."),
                              20000);
    QCOMPARE(forwarder.state(Forwarder::Mqtt).lastId, 0);

    s.mqttPassword = QStringLiteral("right-one");
    forwarder.testConnection(Forwarder::Mqtt, s);
    QTRY_COMPARE_WITH_TIMEOUT(tested.size(), 2, 20000);
    QCOMPARE(tested.at(1).at(1).toBool(), true);
    QVERIFY(s.save(project.path()));
    QVERIFY(forwarder.reload());
    QTRY_COMPARE_WITH_TIMEOUT(forwarder.state(Forwarder::Mqtt).lastId, project.rowCount(), 30000);

    // A CA file that is no certificate, and one that is missing.
    QTemporaryDir dir;
    const QString garbage = dir.filePath(QStringLiteral("ca.pem"));
    QFile file(garbage);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("not a certificate\n");
    file.close();
    s.mqttCaFile = garbage;
    forwarder.testConnection(Forwarder::Mqtt, s);
    QTRY_COMPARE_WITH_TIMEOUT(tested.size(), 3, 20000);
    QCOMPARE(tested.at(2).at(1).toBool(), false);
    QVERIFY2(tested.at(2).at(2).toString().contains(QLatin1String("CA file")),
             qPrintable(tested.at(2).at(2).toString()));
    s.mqttCaFile = dir.filePath(QStringLiteral("missing.pem"));
    QCOMPARE(s.mqttProblems(),
             QStringList{QStringLiteral("The CA file \"%1\" cannot be read.").arg(s.mqttCaFile)});
    forwarder.testConnection(Forwarder::Mqtt, s);
    QTRY_COMPARE_WITH_TIMEOUT(tested.size(), 4, 20000);
    QCOMPARE(tested.at(3).at(2).toString(), s.mqttProblems().first());
}

QTEST_MAIN(tst_MqttTarget)
#include "tst_mqtttarget.moc"
