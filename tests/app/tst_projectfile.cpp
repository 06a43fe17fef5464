#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include "app/projectfile.h"
#include "device/configureddevice.h"
#include "device/nodedevice.h"

class tst_ProjectFile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void creationKeys();
    void roundTrip();
    void backupHoldsPreviousList();
    void nullStartAddressDropped();
    void onlyCreationKeysRefused();
    void badDeviceList_data();
    void badDeviceList();
    void badFiles_data();
    void badFiles();
    void writeFailureReported();
    void mutatedFiles();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    static QList<ConfiguredDevice *> sampleDevices();
    // A project file whose "DeviceList" holds exactly `json`.
    QString projectWith(const QByteArray &json, const QString &name = QStringLiteral("p.qlk"));
    static QString checkInvariants(const QList<ConfiguredDevice *> &devices);

    QScopedPointer<QTemporaryDir> m_dir;
};

void tst_ProjectFile::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
}

QList<ConfiguredDevice *> tst_ProjectFile::sampleDevices()
{
    auto *first = new ConfiguredDevice;
    first->setDeviceInfo(QStringLiteral("127.0.0.1"), 1502);
    first->setModel(QStringLiteral("QB200"));
    auto *a = new NodeDevice(QStringLiteral("ABCDEFGHIJKLMNOPQR"), first);
    a->startAddress = 0;
    a->setNames(QStringLiteral("Freezer"), QStringLiteral("Air"), QStringLiteral("Door"));
    a->setUnits(1, 4);
    a->setCustomUnits(QString(), QStringLiteral("kPa"));
    a->setAlarmRange(-25.5f, 12.345f, 0.f, 100.f);
    first->addNode(a);
    auto *b = new NodeDevice(QStringLiteral("000000000000000001"), first);
    b->startAddress = 16;
    b->setNames(QStringLiteral("Room \"2\" / é"), QStringLiteral("CH1"), QStringLiteral("CH2"));
    b->setUnits(3, 2);
    first->addNode(b);

    auto *second = new ConfiguredDevice;
    second->setDeviceInfo(QStringLiteral("10.0.0.5"), 502);
    second->setModel(QStringLiteral("QA100"));
    return {first, second};
}

QString tst_ProjectFile::projectWith(const QByteArray &json, const QString &name)
{
    const QString file = path(name);
    QSettings settings(file, QSettings::IniFormat);
    settings.setValue(QStringLiteral("projectName"), QStringLiteral("p"));
    if (!json.isNull())
        settings.setValue(QStringLiteral("DeviceList"), json);
    settings.sync();
    return file;
}

QString tst_ProjectFile::checkInvariants(const QList<ConfiguredDevice *> &devices)
{
    if (devices.size() > ProjectFile::kMaxConnections)
        return QStringLiteral("too many connections: %1").arg(devices.size());
    int nodes = 0;
    for (ConfiguredDevice *device : devices) {
        if (!device)
            return QStringLiteral("null poller");
        for (NodeDevice *node : device->nodeList()) {
            ++nodes;
            if (node->startAddress < 0 || node->startAddress > ProjectFile::kMaxStartAddress)
                return QStringLiteral("start address %1").arg(node->startAddress);
            if (node->registerCount != 8)
                return QStringLiteral("register count %1").arg(node->registerCount);
            if (node->ch1Unit() < 0 || node->ch1Unit() > 4 || node->ch2Unit() < 0 || node->ch2Unit() > 4)
                return QStringLiteral("unit code");
            if (node->parent() != device)
                return QStringLiteral("node parent");
        }
    }
    if (nodes > ProjectFile::kMaxDevices)
        return QStringLiteral("too many devices: %1").arg(nodes);
    return QString();
}

void tst_ProjectFile::creationKeys()
{
    const QString file = path(QStringLiteral("Cold Store.qlk"));
    QVERIFY(ProjectFile::create(file, QStringLiteral("Cold Store"), 60000));
    QCOMPARE(ProjectFile::projectName(file), QStringLiteral("Cold Store"));
    QCOMPARE(ProjectFile::dataInterval(file), 60000);
    QCOMPARE(ProjectFile::databaseName(file), QStringLiteral("Cold Store.dat"));
    QVERIFY(ProjectFile::writeDataInterval(file, 1000));
    QCOMPARE(ProjectFile::dataInterval(file), 1000);
    QSettings settings(file, QSettings::IniFormat);
    QCOMPARE(settings.allKeys().size(), 3);
    QCOMPARE(settings.value(QStringLiteral("DataInterval")).toInt(), 1000);
    QVERIFY(settings.childGroups().isEmpty());
    QCOMPARE(ProjectFile::dataInterval(path(QStringLiteral("missing.qlk"))), 0);
}

void tst_ProjectFile::roundTrip()
{
    const QString file = path(QStringLiteral("round.qlk"));
    QVERIFY(ProjectFile::create(file, QStringLiteral("round"), 10000));
    const QList<ConfiguredDevice *> devices = sampleDevices();
    QVERIFY(ProjectFile::write(devices, file));
    qDeleteAll(devices);

    // Key names and number forms as stored.
    QSettings settings(file, QSettings::IniFormat);
    const QByteArray json = settings.value(QStringLiteral("DeviceList")).toByteArray();
    QVERIFY(json.contains("\n    ")); // the indented form
    const QJsonObject root = QJsonDocument::fromJson(json).object();
    QCOMPARE(root.keys(), QStringList{QStringLiteral("devices")});
    const QJsonObject connection = root.value("devices").toArray().at(0).toObject();
    QCOMPARE(connection.keys(), (QStringList{"DeviceInterface", "DeviceModel", "DevicePort", "nodes"}));
    QCOMPARE(connection.value("DevicePort").toString(), QStringLiteral("1502"));
    const QJsonObject node = connection.value("nodes").toArray().at(0).toObject();
    QCOMPARE(node.keys().size(), 13);
    for (const QString &key : node.keys())
        QVERIFY2(node.value(key).isString(), qPrintable(key));
    QCOMPARE(node.value("StartAddress").toString(), QStringLiteral("0"));
    QCOMPARE(node.value("ch1_unit").toString(), QStringLiteral("1"));
    QCOMPARE(node.value("ch1_min").toString(), QStringLiteral("-25.50"));
    QCOMPARE(node.value("ch1_max").toString(), QStringLiteral("12.35"));
    QCOMPARE(node.value("ch2_min").toString(), QStringLiteral("0.00"));
    QCOMPARE(node.value("ch2_custom").toString(), QStringLiteral("kPa"));
    QCOMPARE(settings.value(QStringLiteral("projectName")).toString(), QStringLiteral("round"));

    QList<ConfiguredDevice *> read;
    QString error;
    QVERIFY(ProjectFile::read(file, &read, &error));
    QVERIFY(error.isEmpty());
    QCOMPARE(read.size(), 2);
    QCOMPARE(read.at(0)->ipAddress(), QStringLiteral("127.0.0.1"));
    QCOMPARE(read.at(0)->port(), quint16(1502));
    QCOMPARE(read.at(0)->model(), QStringLiteral("QB200"));
    QCOMPARE(read.at(0)->parent(), nullptr);
    QCOMPARE(read.at(1)->nodeList().size(), 0);
    const QList<NodeDevice *> nodes = read.at(0)->nodeList();
    QCOMPARE(nodes.size(), 2);
    QCOMPARE(nodes.at(0)->deviceNumber(), QStringLiteral("ABCDEFGHIJKLMNOPQR"));
    QCOMPARE(nodes.at(0)->deviceName(), QStringLiteral("Freezer"));
    QCOMPARE(nodes.at(0)->ch1Name(), QStringLiteral("Air"));
    QCOMPARE(nodes.at(0)->ch2Name(), QStringLiteral("Door"));
    QCOMPARE(nodes.at(0)->ch1Unit(), 1);
    QCOMPARE(nodes.at(0)->ch2Unit(), 4);
    QCOMPARE(nodes.at(0)->ch2CustomUnit(), QStringLiteral("kPa"));
    QCOMPARE(nodes.at(0)->alarmRange(), (QVector<float>{-25.5f, 12.35f, 0.f, 100.f}));
    QCOMPARE(nodes.at(0)->registerCount, 8);
    QCOMPARE(nodes.at(1)->startAddress, 16);
    QCOMPARE(nodes.at(1)->deviceName(), QStringLiteral("Room \"2\" / é"));
    QCOMPARE(nodes.at(1)->ch1Unit(), 3);
    QCOMPARE(nodes.at(1)->parent(), read.at(0));

    // Reading and writing again gives the same document.
    QVERIFY(ProjectFile::write(read, file));
    QCOMPARE(QSettings(file, QSettings::IniFormat).value("DeviceList").toByteArray(), json);
    qDeleteAll(read);
}

void tst_ProjectFile::backupHoldsPreviousList()
{
    const QString file = path(QStringLiteral("backup.qlk"));
    QVERIFY(ProjectFile::create(file, QStringLiteral("backup"), 10000));
    QList<ConfiguredDevice *> devices = sampleDevices();
    QVERIFY(ProjectFile::write(devices, file));
    const QByteArray first = QSettings(file, QSettings::IniFormat).value("DeviceList").toByteArray();
    QVERIFY(!first.isEmpty());
    QCOMPARE(QSettings(file, QSettings::IniFormat).value("Backup").toByteArray(), QByteArray());

    delete devices.takeLast();
    QVERIFY(ProjectFile::write(devices, file));
    QSettings settings(file, QSettings::IniFormat);
    QCOMPARE(settings.value("Backup").toByteArray(), first);
    const QByteArray second = settings.value("DeviceList").toByteArray();
    QVERIFY(second != first);
    QCOMPARE(ProjectFile::projectName(file), QStringLiteral("backup"));

    QVERIFY(ProjectFile::write({}, file));
    QCOMPARE(QSettings(file, QSettings::IniFormat).value("Backup").toByteArray(), second);
    qDeleteAll(devices);
}

void tst_ProjectFile::nullStartAddressDropped()
{
    const QByteArray json = R"({"devices":[{"DeviceInterface":"127.0.0.1","DevicePort":"502",
        "DeviceModel":"QA100","nodes":[
        {"StartAddress":null,"DeviceName":"gone","DeviceNumber":"X"},
        {"StartAddress":"8","DeviceName":"kept","DeviceNumber":"Y","ch1_min":"1.5"}]}]})";
    const QString file = projectWith(json);
    QList<ConfiguredDevice *> devices;
    QVERIFY(ProjectFile::read(file, &devices));
    QCOMPARE(devices.size(), 1);
    QCOMPARE(devices.at(0)->nodeList().size(), 1);
    QCOMPARE(devices.at(0)->nodeList().at(0)->deviceName(), QStringLiteral("kept"));
    QCOMPARE(devices.at(0)->nodeList().at(0)->startAddress, 8);
    QCOMPARE(devices.at(0)->nodeList().at(0)->alarmRange().at(0), 1.5f);

    QVERIFY(ProjectFile::write(devices, file));
    const QByteArray rewritten = QSettings(file, QSettings::IniFormat).value("DeviceList").toByteArray();
    QVERIFY(!rewritten.contains("gone"));
    QVERIFY(rewritten.contains("kept"));
    QCOMPARE(QSettings(file, QSettings::IniFormat).value("Backup").toByteArray(), json);
    qDeleteAll(devices);
}

void tst_ProjectFile::onlyCreationKeysRefused()
{
    const QString file = path(QStringLiteral("new.qlk"));
    QVERIFY(ProjectFile::create(file, QStringLiteral("new"), 10000));
    QList<ConfiguredDevice *> devices;
    QString error;
    QVERIFY(!ProjectFile::read(file, &devices, &error));
    QCOMPARE(error, QStringLiteral("There is no device information!"));
    QVERIFY(devices.isEmpty());
}

void tst_ProjectFile::badDeviceList_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<int>("connections"); // -1: refused
    QTest::addColumn<int>("nodes");

    const QByteArray conn = R"({"DeviceInterface":"127.0.0.1","DevicePort":"502","DeviceModel":"QA100","nodes":[%1]})";
    auto doc = [&](const QByteArray &nodes) {
        return QByteArray(R"({"devices":[)") + QByteArray(conn).replace("%1", nodes) + "]}";
    };

    QTest::newRow("missing") << QByteArray() << -1 << 0;
    QTest::newRow("empty") << QByteArray("") << -1 << 0;
    QTest::newRow("unparsable") << QByteArray(R"({"devices":[)") << -1 << 0;
    QTest::newRow("array document") << QByteArray("[1,2,3]") << -1 << 0;
    QTest::newRow("string document") << QByteArray("\"devices\"") << -1 << 0;
    QTest::newRow("deep nesting") << QByteArray(100000, '[') << -1 << 0;
    QTest::newRow("deep object nesting") << QByteArray(R"({"devices":)") + QByteArray(5000, '[') << -1 << 0;
    QTest::newRow("binary") << QByteArray("\x00\xff\xfe{\x01", 5) << -1 << 0;
    QTest::newRow("empty object") << QByteArray("{}") << 0 << 0;
    QTest::newRow("devices not an array") << QByteArray(R"({"devices":5})") << 0 << 0;
    QTest::newRow("devices of non-objects") << QByteArray(R"({"devices":[1,"a",null,[],true]})") << 0 << 0;
    QTest::newRow("nodes of non-objects") << doc(R"(1,"x",null,[{}])") << 1 << 0;
    QTest::newRow("nodes not an array") << QByteArray(R"({"devices":[{"nodes":{"a":1}}]})") << 1 << 0;
    QTest::newRow("empty node object") << doc("{}") << 1 << 1;
    QTest::newRow("start address number") << doc(R"({"StartAddress":8})") << 1 << 1;
    QTest::newRow("start address negative") << doc(R"({"StartAddress":"-8"},{"StartAddress":"8"})") << 1 << 1;
    QTest::newRow("start address too high") << doc(R"({"StartAddress":"107"},{"StartAddress":"106"})") << 1 << 1;
    QTest::newRow("start address huge") << doc(R"({"StartAddress":"99999999999999999999"})") << 1 << 1;
    QTest::newRow("limits not numbers") << doc(R"({"ch1_min":"abc","ch1_max":"1e999","ch2_min":12,"ch2_max":"nan"})") << 1 << 1;
    QTest::newRow("unit out of range") << doc(R"({"ch1_unit":"9","ch2_unit":"-1"})") << 1 << 1;

    QByteArray many = R"({"devices":[)";
    for (int i = 0; i < 300; ++i)
        many += (i ? "," : "") + QByteArray(conn).replace("%1", R"({"StartAddress":"0"})");
    many += "]}";
    QTest::newRow("hundreds of connections") << many << 8 << 8;

    QByteArray nodes;
    for (int i = 0; i < 500; ++i)
        nodes += (i ? "," : "") + QByteArray(R"({"StartAddress":"0","DeviceNumber":"N"})");
    QTest::newRow("hundreds of nodes") << doc(nodes) << 1 << 16;
}

void tst_ProjectFile::badDeviceList()
{
    QFETCH(QByteArray, json);
    QFETCH(int, connections);
    QFETCH(int, nodes);
    const QString file = projectWith(json);
    QList<ConfiguredDevice *> devices;
    QString error;
    const bool ok = ProjectFile::read(file, &devices, &error);
    if (connections < 0) {
        QVERIFY(!ok);
        QCOMPARE(error, ProjectFile::kNoDeviceInformation);
        QVERIFY(devices.isEmpty());
        return;
    }
    QVERIFY(ok);
    QCOMPARE(devices.size(), connections);
    int total = 0;
    for (ConfiguredDevice *device : devices)
        total += device->nodeList().size();
    QCOMPARE(total, nodes);
    QCOMPARE(checkInvariants(devices), QString());
    qDeleteAll(devices);
}

void tst_ProjectFile::badFiles_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("directory");
    QTest::newRow("missing file") << QByteArray() << false;
    QTest::newRow("a directory") << QByteArray() << true;
    QTest::newRow("binary file") << QByteArray("\x7f" "ELF\x02\x01\x01\x00\x00\xff\x00[\n=\n@ByteArray(", 24) << false;
    QTest::newRow("plain text") << QByteArray("hello world\nno = ini = here\n[[[]]]\n") << false;
    QTest::newRow("json file") << QByteArray(R"({"devices":[]})") << false;
    QTest::newRow("broken byte array") << QByteArray("DeviceList=@ByteArray({\\\"devices\\\n") << false;
    QTest::newRow("device list as plain list") << QByteArray("DeviceList={\"devices\": [], \"x\": 1}\n") << false;
}

void tst_ProjectFile::badFiles()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, directory);
    const QString file = path(QStringLiteral("bad.qlk"));
    if (directory) {
        QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("bad.qlk")));
    } else if (!content.isNull()) {
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(content);
    }
    QList<ConfiguredDevice *> devices;
    QString error;
    QVERIFY(!ProjectFile::read(file, &devices, &error));
    QCOMPARE(error, ProjectFile::kNoDeviceInformation);
    QVERIFY(devices.isEmpty());
}

void tst_ProjectFile::writeFailureReported()
{
    const QList<ConfiguredDevice *> devices = sampleDevices();
    QFile plain(path(QStringLiteral("plain")));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    QVERIFY(!ProjectFile::write(devices, path(QStringLiteral("plain/p.qlk"))));
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("dir.qlk")));
    QVERIFY(!ProjectFile::write(devices, path(QStringLiteral("dir.qlk"))));
    qDeleteAll(devices);
}

// Seeded random mutations of valid project files, at the level of the JSON
// document and of the whole file, for a bounded time: every input must be
// refused or read into a sane list, never crash or hang.
void tst_ProjectFile::mutatedFiles()
{
    const QString seedFile = path(QStringLiteral("seed.qlk"));
    QVERIFY(ProjectFile::create(seedFile, QStringLiteral("seed"), 10000));
    const QList<ConfiguredDevice *> devices = sampleDevices();
    QVERIFY(ProjectFile::write(devices, seedFile));
    QVERIFY(ProjectFile::write(devices, seedFile)); // with a "Backup"
    qDeleteAll(devices);
    const QByteArray seedJson = QSettings(seedFile, QSettings::IniFormat).value("DeviceList").toByteArray();
    QFile in(seedFile);
    QVERIFY(in.open(QIODevice::ReadOnly));
    const QByteArray seedIni = in.readAll();

    static const QByteArray tokens[] = {"null", "-1", "[", "]", "{", "}", "\"", ",", ":", "\\",
                                        "99999999999", "1e999", "\"StartAddress\":", "@ByteArray(",
                                        "\n", "=", "[General]\n", "\\x0", "%U", "\xc3\x28", "\0"};
    QRandomGenerator rng(20261206);
    auto mutate = [&](QByteArray data) {
        const int steps = 1 + int(rng.bounded(8));
        for (int s = 0; s < steps; ++s) {
            const int size = data.size();
            const int at = size ? int(rng.bounded(size)) : 0;
            switch (rng.bounded(6)) {
            case 0: if (size) data[at] = char(rng.bounded(256)); break;
            case 1: data.insert(at, char(rng.bounded(256))); break;
            case 2: data.remove(at, int(rng.bounded(16))); break;
            case 3: data.insert(at, data.mid(int(rng.bounded(size + 1)), int(rng.bounded(64)))); break;
            case 4: {
                const QByteArray &token = tokens[rng.bounded(int(sizeof tokens / sizeof *tokens))];
                data.insert(at, token.isEmpty() ? QByteArray(1, '\0') : token);
                break;
            }
            default: if (size) data.truncate(at); break;
            }
        }
        return data;
    };

    // One debug line per accepted input would swamp the log.
    QLoggingCategory::setFilterRules(QStringLiteral("quillark.*.debug=false"));
    QElapsedTimer clock;
    clock.start();
    int inputs = 0;
    int accepted = 0;
    while (clock.elapsed() < 3000 && inputs < 200000) {
        // Odd inputs: the whole file as it lies on disk; even ones: the JSON
        // document of "DeviceList" as handed to the parser after QSettings.
        QList<ConfiguredDevice *> read;
        bool ok = false;
        const QString file = path(QStringLiteral("m%1.qlk").arg(inputs));
        if (inputs % 2) {
            QFile out(file);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(mutate(seedIni));
            out.close();
            ok = ProjectFile::read(file, &read);
        } else {
            QVector<ProjectFile::Connection> connections;
            ok = ProjectFile::parse(mutate(seedJson), &connections);
            if (ok)
                read = ProjectFile::build(connections);
        }
        if (ok) {
            ++accepted;
            const QString broken = checkInvariants(read);
            QVERIFY2(broken.isEmpty(), qPrintable(broken));
        }
        qDeleteAll(read);
        QFile::remove(file);
        ++inputs;
    }
    QLoggingCategory::setFilterRules(QString());
    qInfo("mutated project files read: %d (%d accepted, %d refused)", inputs, accepted, inputs - accepted);
    QVERIFY(inputs > 0);
}

QTEST_MAIN(tst_ProjectFile)
#include "tst_projectfile.moc"
