#include "common/common.h"
#include "forward/forwardformat.h"
#include "forward/forwardposition.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

// What the targets receive for a row: line protocol as InfluxDB parses it,
// JSON and topics as an MQTT consumer reads them, and the kept position.
class tst_ForwardFormat : public QObject
{
    Q_OBJECT

private slots:
    void influxLine_data();
    void influxLine();
    void payloadReadsBackAsJson();
    void topicsStayOneLevelPerName();
    void namesAsInForceAtTheRowsTime();
    void numbersReadBackExactly();
    void positionFileBesideTheProject();

private:
    static ProjectDocument project(const QString &name, const QString &deviceName,
                                   const QString &ch1, const QString &ch2);
    static RecordRow row(const char *serial, double ch1, double ch2, qint64 time = 1767225600);
};

ProjectDocument tst_ForwardFormat::project(const QString &name, const QString &deviceName,
                                           const QString &ch1, const QString &ch2)
{
    ProjectDocument doc;
    doc.path = QStringLiteral("/tmp/x.qlk");
    doc.projectName = name;
    ProjectDocument::Connection c;
    c.ipAddress = QStringLiteral("10.0.0.5");
    c.port = 502;
    ProjectDocument::Node n;
    n.deviceNumber = QStringLiteral("SN1");
    n.deviceName = deviceName;
    n.ch1Name = ch1;
    n.ch2Name = ch2;
    n.ch1Unit = 1;
    n.ch2Unit = 4;
    n.ch2Custom = QStringLiteral("kPa");
    c.nodes << n;
    doc.connections << c;
    return doc;
}

RecordRow tst_ForwardFormat::row(const char *serial, double ch1, double ch2, qint64 time)
{
    return RecordRow{1, serial, ch1, ch2, time};
}

void tst_ForwardFormat::influxLine_data()
{
    QTest::addColumn<QStringList>("names"); // device, channel 1, channel 2
    QTest::addColumn<QByteArray>("serial");
    QTest::addColumn<double>("v1");
    QTest::addColumn<double>("v2");
    QTest::addColumn<QByteArray>("line"); // empty: no line

    const QStringList names{"Cold room", "Temp", "Hum"};
    const auto named = [](const QByteArray &name) -> QByteArray {
        return "quillark,device=SN1,gateway=10.0.0.5:502,name=" + name + ",project=plant ";
    };
    const QByteArray tags = named("Cold\\ room");
    const QByteArray sn1("SN1");
    QTest::newRow("both") << names << sn1 << 21.5 << 45.0 << tags + "Temp=21.5,Hum=45 1767225600\n";
    QTest::newRow("first missing")
        << names << sn1 << NoValue << 45.25 << tags + "Hum=45.25 1767225600\n";
    QTest::newRow("second missing")
        << names << sn1 << -3.0 << NoValue << tags + "Temp=-3 1767225600\n";
    QTest::newRow("gap mark") << names << sn1 << NoValue << NoValue << QByteArray();
    QTest::newRow("not a number") << names << sn1 << qQNaN() << 1.0 << tags + "Hum=1 1767225600\n";
    QTest::newRow("escaped names")
        << QStringList{"a,b=c d", "T, in=C", "x\\"} << sn1 << 1.0 << 2.0
        << named("a\\,b\\=c\\ d") + "T\\,\\ in\\=C=1,x\xE2\x88\x96=2 1767225600\n";
    // A backslash stays, except before an escaped character and at the end.
    QTest::newRow("backslashes") << QStringList{"back\\slash\\ x\\", "Temp", "Hum"} << sn1 << 1.0
                                 << 2.0
                                 << named("back\\slash\xE2\x88\x96\\ x\xE2\x88\x96") +
                                        "Temp=1,Hum=2 1767225600\n";
    QTest::newRow("empty names") << QStringList{"", "", " "} << sn1 << 1.0 << 2.0
                                 << QByteArray(
                                        "quillark,device=SN1,gateway=10.0.0.5:502,project=plant "
                                        "channel1=1,channel2=2 1767225600\n");
    QTest::newRow("same names") << QStringList{"Cold room", "T", "T"} << sn1 << 1.0 << 2.0
                                << tags + "T=1,channel2=2 1767225600\n";
    QTest::newRow("time is no field") << QStringList{"Cold room", "time", "Hum"} << sn1 << 1.0
                                      << 2.0 << tags + "channel1=1,Hum=2 1767225600\n";
    QTest::newRow("line break in name") << QStringList{"Cold\nroom", "Temp", "Hum"} << sn1 << 1.0
                                        << 2.0 << tags + "Temp=1,Hum=2 1767225600\n";
    QTest::newRow("unknown device")
        << names << QByteArray("OLD 7") << 1.0 << 2.0
        << QByteArray("quillark,device=OLD\\ 7,project=plant channel1=1,channel2=2 "
                      "1767225600\n");
}

void tst_ForwardFormat::influxLine()
{
    QFETCH(QStringList, names);
    QFETCH(QByteArray, serial);
    QFETCH(double, v1);
    QFETCH(double, v2);
    QFETCH(QByteArray, line);
    ForwardFormat format(project(QStringLiteral("plant"), names.at(0), names.at(1), names.at(2)),
                         QStringLiteral("q"));
    QByteArray out = "before\n";
    QCOMPARE(format.appendInfluxLine(out, row(serial.constData(), v1, v2)), !line.isEmpty());
    QCOMPARE(out, "before\n" + line);
}

void tst_ForwardFormat::payloadReadsBackAsJson()
{
    ForwardFormat format(project(QStringLiteral("plant"), QStringLiteral("Say \"hi\"\t\x01"),
                                 QStringLiteral("Temp"), QStringLiteral("Pressure")),
                         QStringLiteral("q"));
    const QJsonObject o =
        QJsonDocument::fromJson(format.payload(row("SN1", 21.5, NoValue, 1600000000))).object();
    const QJsonArray channels{
        QJsonObject{{"name", "Temp"}, {"unit", QString::fromUtf8("\u00b0C")}, {"value", 21.5}},
        QJsonObject{{"name", "Pressure"}, {"unit", "kPa"}, {"value", QJsonValue::Null}}};
    QCOMPARE(o, (QJsonObject{{"device", "SN1"},
                             {"id", 1},
                             {"name", "Say \"hi\"\t\x01"},
                             {"time", 1600000000},
                             {"iso", "2020-09-13T12:26:40Z"},
                             {"channels", channels}}));

    // Flat: one key per channel; a live value has no row id.
    ForwardFormat flat(project(QStringLiteral("plant"), QStringLiteral("d"), QString(), QString()),
                       QStringLiteral("q"), true);
    QCOMPARE(flat.payload(row("SN1", 1.5, NoValue, 1600000000), false),
             QByteArray("{\"device\":\"SN1\",\"name\":\"d\",\"time\":1600000000,\"iso\":\"2020-09-"
                        "13T12:26:40Z\",\"ch1\":1.5,\"ch2\":null}"));
    QCOMPARE(flat.availabilityTopic(), QByteArray("q/plant/availability"));

    // A device the project no longer names still goes out, with its number.
    const QJsonObject unknown = QJsonDocument::fromJson(format.payload(row("GONE", 1, 2))).object();
    QCOMPARE(unknown.value("device").toString(), QStringLiteral("GONE"));
    QCOMPARE(unknown.value("channels").toArray().at(1)["value"].toDouble(), 2.0);
}

void tst_ForwardFormat::topicsStayOneLevelPerName()
{
    ProjectDocument doc = project(QStringLiteral("hall/2 +#"), QStringLiteral("d"),
                                  QStringLiteral("a"), QStringLiteral("b"));
    doc.connections[0].nodes[0].deviceNumber = QStringLiteral("S/N#1");
    ForwardFormat format(doc, QStringLiteral("site/north/"));
    QCOMPARE(format.topic("S/N#1"), QByteArray("site/north/hall_2 __/S_N_1"));
    QCOMPARE(format.liveTopic("S/N#1"), QByteArray("site/north/hall_2 __/S_N_1/live"));
    ForwardFormat bare(doc, QString());
    QCOMPARE(bare.topic("x"), QByteArray("hall_2 __/x"));
}

void tst_ForwardFormat::namesAsInForceAtTheRowsTime()
{
    ForwardFormat format(project(QStringLiteral("plant"), QStringLiteral("Now"),
                                 QStringLiteral("T"), QStringLiteral("H")),
                         QStringLiteral("q"));
    RecordDeviceSettings renamed;
    renamed.serialNo = QStringLiteral("SN1");
    renamed.validFrom = 200;
    renamed.deviceName = QStringLiteral("Later");
    renamed.ch1Name = QStringLiteral("Temp");
    RecordDeviceSettings first = renamed;
    first.validFrom = 100;
    first.deviceName = QStringLiteral("First");
    format.setSettingsHistory({renamed, first});
    const auto line = [&](qint64 time) {
        QByteArray out;
        format.appendInfluxLine(out, row("SN1", 1, NoValue, time));
        return out;
    };
    const QByteArray tags = "quillark,device=SN1,gateway=10.0.0.5:502,name=";
    QCOMPARE(line(50), tags + "Now,project=plant T=1 50\n");
    QCOMPARE(line(150), tags + "First,project=plant Temp=1 150\n");
    QCOMPARE(line(250), tags + "Later,project=plant Temp=1 250\n");
}

void tst_ForwardFormat::numbersReadBackExactly()
{
    for (double value :
         {0.1, -0.0001, 1234567.89, 1e-7, 3.4028234663852886e38, 21.299999237060547, 100.0}) {
        QByteArray text;
        ForwardFormat::appendNumber(text, value);
        bool ok = false;
        QCOMPARE(text.toDouble(&ok), value);
        QVERIFY2(ok && text.size() <= 24, text.constData());
    }
}

void tst_ForwardFormat::positionFileBesideTheProject()
{
    QTemporaryDir dir;
    const QString projectPath = dir.filePath(QStringLiteral("line.v2.qlk"));
    const ForwardPosition a(projectPath, QStringLiteral("influx"), QStringLiteral("http://a|db"));
    QCOMPARE(a.filePath(), dir.filePath(QStringLiteral("line.v2.forward-influx")));
    QCOMPARE(a.load(), 0);
    QVERIFY(a.save(81600000));
    QCOMPARE(a.load(), 81600000);
    // Another server: starts from the first row; the old position stays for the old one.
    const ForwardPosition b(projectPath, QStringLiteral("influx"), QStringLiteral("http://b|db"));
    QCOMPARE(b.load(), 0);
    QCOMPARE(a.load(), 81600000);
    // A damaged file reads as no position rather than a wrong one.
    QFile file(a.filePath());
    QVERIFY(file.open(QIODevice::ReadWrite));
    QByteArray content = file.readAll();
    QVERIFY(content.contains("lastId=81600000"));
    QVERIFY(file.resize(0) && file.write(content.replace("lastId=81600000", "lastId=816x")) > 0);
    file.close();
    QCOMPARE(a.load(), 0);
    // A folder that cannot be written is told, not ignored.
    const ForwardPosition nowhere(QStringLiteral("/nonexistent/dir/p.qlk"), QStringLiteral("mqtt"),
                                  QString());
    QVERIFY(!nowhere.save(5));
}

QTEST_MAIN(tst_ForwardFormat)
#include "tst_forwardformat.moc"
