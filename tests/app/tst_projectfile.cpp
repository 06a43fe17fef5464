#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include "app/projectfile.h"
#include "device/configureddevice.h"
#include "device/nodedevice.h"

// Real project files in a temporary folder.
class tst_ProjectFile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void roundTripAndBackup();
    void badInput_data();
    void badInput();
    void mutatedFiles();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    QByteArray stored(const QString &file, const char *key) const
    {
        return QSettings(file, QSettings::IniFormat).value(key).toByteArray();
    }
    static QList<ConfiguredDevice *> sampleDevices();
    // Empty when the list respects the reader's limits ("gone" names a node that must be dropped).
    static QString checkInvariants(const QList<ConfiguredDevice *> &devices, int *nodes);

    QScopedPointer<QTemporaryDir> m_dir;
};

void tst_ProjectFile::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
}

// Two connections, the first with two nodes, one limit with three decimals.
const QByteArray kSample = R"({"devices":[{"DeviceInterface":"127.0.0.1","DevicePort":"1502","DeviceModel":"QB200",
    "nodes":[{"StartAddress":"0","DeviceName":"Freezer","DeviceNumber":"ABCDEFGHIJKLMNOPQR","Ch1Name":"Air",
              "Ch2Name":"Door","ch1_unit":"1","ch1_min":"-25.5","ch1_max":"12.345","ch1_custom":"","ch2_unit":"4",
              "ch2_min":"0","ch2_max":"100","ch2_custom":"kPa"},
             {"StartAddress":"16","DeviceName":"Room \"2\" / é","DeviceNumber":"000000000000000001"}]},
    {"DeviceInterface":"10.0.0.5","DevicePort":"502","DeviceModel":"QA100","nodes":[]}]})";

QList<ConfiguredDevice *> tst_ProjectFile::sampleDevices()
{
    QVector<ProjectFile::Connection> connections;
    return ProjectFile::parse(kSample, &connections) ? ProjectFile::build(connections) : QList<ConfiguredDevice *>();
}

QString tst_ProjectFile::checkInvariants(const QList<ConfiguredDevice *> &devices, int *nodes)
{
    *nodes = 0;
    for (ConfiguredDevice *device : devices) {
        for (NodeDevice *node : device->nodeList()) {
            ++*nodes;
            if (node->startAddress < 0 || node->startAddress > ProjectFile::kMaxStartAddress || node->registerCount != 8
                || node->parent() != device || node->deviceName() == "gone" || node->ch1Unit() < 0
                || node->ch1Unit() > 4 || node->ch2Unit() < 0 || node->ch2Unit() > 4)
                return QStringLiteral("bad node %1 at %2").arg(node->deviceName()).arg(node->startAddress);
        }
    }
    if (devices.size() > ProjectFile::kMaxConnections || *nodes > ProjectFile::kMaxDevices)
        return QStringLiteral("%1 connections, %2 devices").arg(devices.size()).arg(*nodes);
    return QString();
}

void tst_ProjectFile::roundTripAndBackup()
{
    // A new project holds its three keys only and is refused as a project to load.
    const QString file = path(QStringLiteral("Cold Store.qlk"));
    QVERIFY(ProjectFile::create(file, QStringLiteral("Cold Store"), 60000));
    QVERIFY(ProjectFile::writeDataInterval(file, 1000));
    QCOMPARE(QSettings(file, QSettings::IniFormat).allKeys(), (QStringList{"DataInterval", "databaseName", "projectName"}));
    QCOMPARE(ProjectFile::dataInterval(file), 1000);
    QCOMPARE(ProjectFile::databaseName(file), QStringLiteral("Cold Store.dat"));
    QList<ConfiguredDevice *> read;
    QString error;
    QVERIFY(!ProjectFile::read(file, &read, &error));
    QCOMPARE(error, QStringLiteral("There is no device information!"));
    QVERIFY(read.isEmpty());

    QList<ConfiguredDevice *> devices = sampleDevices();
    QVERIFY(ProjectFile::write(devices, file));
    const QByteArray json = stored(file, "DeviceList");
    QVERIFY(stored(file, "Backup").isEmpty());
    // Every value is stored as a string; limits with two decimals.
    for (const char *part : {R"("DevicePort": "1502")", R"("StartAddress": "16")", R"("ch1_unit": "1")",
                             R"("ch1_min": "-25.50")", R"("ch1_max": "12.35")", R"("ch2_custom": "kPa")",
                             R"("Ch2Name": "Door")", "\"DeviceName\": \"Room \\\"2\\\" / é\""})
        QVERIFY2(json.contains(part), part);

    // Read back; writing what was read gives the same document byte for byte,
    // so every field survived. "Backup" holds the previous document.
    QVERIFY(ProjectFile::read(file, &read));
    QCOMPARE(read.size(), 2);
    QCOMPARE(read.at(0)->nodeList().size(), 2);
    QCOMPARE(read.at(0)->nodeList().at(1)->parent(), read.at(0));
    QCOMPARE(read.at(0)->nodeList().at(0)->alarmRange(), (QVector<float>{-25.5f, 12.35f, 0.f, 100.f}));
    QVERIFY(ProjectFile::write(read, file));
    QCOMPARE(stored(file, "DeviceList"), json);
    QCOMPARE(stored(file, "Backup"), json);
    qDeleteAll(read);
    QVERIFY(ProjectFile::write({}, file));
    QCOMPARE(stored(file, "Backup"), json);
    QVERIFY(stored(file, "DeviceList") != json);
    QCOMPARE(ProjectFile::projectName(file), QStringLiteral("Cold Store"));

    // A file that cannot be written is reported.
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("dir.qlk")));
    QVERIFY(!ProjectFile::write(devices, path(QStringLiteral("dir.qlk"))));
    QVERIFY(!ProjectFile::write(devices, file + QStringLiteral("/p.qlk")));
    qDeleteAll(devices);
}

void tst_ProjectFile::badInput_data()
{
    QTest::addColumn<QByteArray>("json"); // the "DeviceList" document; null: none
    QTest::addColumn<QByteArray>("file"); // else the whole file as on disk ("<dir>": a folder)
    QTest::addColumn<int>("connections"); // -1: refused with the message
    QTest::addColumn<int>("nodes");

    const QByteArray conn = R"({"DeviceInterface":"127.0.0.1","DevicePort":"502","DeviceModel":"QA100","nodes":[%1]})";
    auto doc = [&](const QByteArray &nodes) { return "{\"devices\":[" + QByteArray(conn).replace("%1", nodes) + "]}"; };
    const QByteArray none;
    QTest::newRow("no DeviceList") << none << QByteArray("[General]\nprojectName=p\n") << -1 << 0;
    QTest::newRow("unparsable") << QByteArray(R"({"devices":[)") << none << -1 << 0;
    QTest::newRow("array document") << QByteArray("[1,2,3]") << none << -1 << 0;
    QTest::newRow("deep nesting") << QByteArray(R"({"devices":)") + QByteArray(100000, '[') << none << -1 << 0;
    QTest::newRow("devices of non-objects") << QByteArray(R"({"devices":[1,"a",null,[],true]})") << none << 0 << 0;
    QTest::newRow("nodes of non-objects") << doc(R"(1,"x",null,[{}])") << none << 1 << 0;
    QTest::newRow("numbers, bad numbers")
        << doc(R"({"StartAddress":8,"ch1_min":"abc","ch1_max":"1e999","ch2_min":12,"ch2_max":"nan",
                   "ch1_unit":"9","ch2_unit":"-1","DeviceName":""})") << none << 1 << 1;
    QTest::newRow("null start address dropped")
        << doc(R"({"StartAddress":null,"DeviceName":"gone"},{"StartAddress":"8"})") << none << 1 << 1;
    QTest::newRow("start address out of range") << doc(R"({"StartAddress":"-8","DeviceName":"gone"},
        {"StartAddress":"107","DeviceName":"gone"},{"StartAddress":"106"},{"StartAddress":"99999999999999"})")
        << none << 1 << 2;
    QByteArray many = R"({"devices":[)", nodes;
    for (int i = 0; i < 300; ++i) {
        many += (i ? "," : "") + QByteArray(conn).replace("%1", R"({"StartAddress":"0"})");
        nodes += (i ? "," : "") + QByteArray(R"({"StartAddress":"0","DeviceNumber":")") + QByteArray(5000, 'N') + "\"}";
    }
    QTest::newRow("hundreds of connections") << many + "]}" << none << 8 << 8;
    QTest::newRow("hundreds of huge nodes") << doc(nodes) << none << 1 << 16;
    QTest::newRow("missing file") << none << none << -1 << 0;
    QTest::newRow("a folder") << none << QByteArray("<dir>") << -1 << 0;
    QTest::newRow("binary file") << none << QByteArray("\x7f" "ELF\x02\x01\x01\x00\x00\xff\x00[\n=\n@ByteArray(", 24) << -1 << 0;
    QTest::newRow("broken byte array") << none << QByteArray("DeviceList=@ByteArray({\\\"devices\\\n") << -1 << 0;
}

void tst_ProjectFile::badInput()
{
    QFETCH(QByteArray, json);
    QFETCH(QByteArray, file);
    QFETCH(int, connections);
    QFETCH(int, nodes);
    const QString name = path(QStringLiteral("bad.qlk"));
    if (!json.isNull()) {
        QSettings(name, QSettings::IniFormat).setValue(QStringLiteral("DeviceList"), json);
    } else if (file == "<dir>") {
        QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("bad.qlk")));
    } else if (!file.isNull()) {
        QFile out(name);
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(file) == file.size());
    }
    QList<ConfiguredDevice *> devices;
    QString error;
    const bool ok = ProjectFile::read(name, &devices, &error);
    QCOMPARE(ok, connections >= 0);
    QCOMPARE(error, ok ? QString() : ProjectFile::kNoDeviceInformation);
    QCOMPARE(devices.size(), qMax(connections, 0));
    int total = 0;
    QCOMPARE(checkInvariants(devices, &total), QString());
    QCOMPARE(total, nodes);
    qDeleteAll(devices);
}

// Seeded random mutations of a valid project file, of the whole file and of
// its "DeviceList" document, for a bounded time: every input is refused or
// read into a sane list, never a crash or a hang.
void tst_ProjectFile::mutatedFiles()
{
    const QString seedFile = path(QStringLiteral("seed.qlk"));
    const QList<ConfiguredDevice *> devices = sampleDevices();
    QVERIFY(ProjectFile::create(seedFile, QStringLiteral("seed"), 10000) && ProjectFile::write(devices, seedFile)
            && ProjectFile::write(devices, seedFile)); // with "Backup"
    qDeleteAll(devices);
    const QByteArray seedJson = stored(seedFile, "DeviceList");
    QFile in(seedFile);
    QVERIFY(in.open(QIODevice::ReadOnly));
    const QByteArray seedIni = in.readAll();

    static const QByteArray tokens[] = {"null", "-1", "[", "]", "{", "}", "\"", ",", ":", "\\", "99999999999",
                                        "1e999", "\"StartAddress\":", "@ByteArray(", "\n", "=", "[General]\n",
                                        "\\x0", "%U", "\xc3\x28", QByteArray(1, '\0')};
    QRandomGenerator rng(20261206);
    auto mutate = [&](QByteArray data) {
        for (int s = 1 + int(rng.bounded(8)); s > 0; --s) {
            const int size = data.size(), at = size ? int(rng.bounded(size)) : 0;
            switch (rng.bounded(6)) {
            case 0: if (size) data[at] = char(rng.bounded(256)); break;
            case 1: data.insert(at, char(rng.bounded(256))); break;
            case 2: data.remove(at, int(rng.bounded(16))); break;
            case 3: data.insert(at, data.mid(int(rng.bounded(size + 1)), int(rng.bounded(64)))); break;
            case 4: data.insert(at, tokens[rng.bounded(int(sizeof tokens / sizeof *tokens))]); break;
            default: data.truncate(at); break;
            }
        }
        return data;
    };

    QLoggingCategory::setFilterRules(QStringLiteral("quillark.*.debug=false"));
    QElapsedTimer clock;
    clock.start();
    int inputs = 0, accepted = 0;
    const QString file = path(QStringLiteral("mutated.qlk"));
    for (; clock.elapsed() < 2000; ++inputs) {
        QList<ConfiguredDevice *> read;
        bool ok = false;
        if (inputs % 2) {
            QFile out(file);
            QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
            out.write(mutate(seedIni));
            out.close();
            ok = ProjectFile::read(file, &read);
        } else {
            QVector<ProjectFile::Connection> connections;
            if ((ok = ProjectFile::parse(mutate(seedJson), &connections)))
                read = ProjectFile::build(connections);
        }
        accepted += ok;
        int nodes = 0;
        const QString broken = checkInvariants(read, &nodes);
        qDeleteAll(read);
        QVERIFY2(broken.isEmpty(), qPrintable(broken));
    }
    QLoggingCategory::setFilterRules(QString());
    qInfo("mutated project files read: %d (%d accepted)", inputs, accepted);
    QVERIFY(accepted > 0 && accepted < inputs);
}

QTEST_MAIN(tst_ProjectFile)
#include "tst_projectfile.moc"
