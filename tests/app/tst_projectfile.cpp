#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include "app/projectfile.h"
#include "common/projectsettings.h"
#include "device/configureddevice.h"
#include "device/nodedevice.h"
#include "testsupport.h"

// Real project files in a temporary folder.
class tst_ProjectFile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void roundTripBackupAndReadOnly();
    void badInput_data();
    void badInput();
    void mutatedFiles();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    QByteArray stored(const QString &file, const char *key) const
    {
        return ProjectSettings(file).settings().value(key).toByteArray();
    }
    static QList<ConfiguredDevice *> sampleDevices();
    // Empty when the list respects the reader's limits ("gone" names a node that
    // must be dropped, "@n" one that must sit at start address n).
    static QString checkInvariants(const QList<ConfiguredDevice *> &devices, int *nodes);

    QScopedPointer<QTemporaryDir> m_dir;
};

void tst_ProjectFile::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
}

// Two connections, the first with two nodes, one limit with three decimals.
const QByteArray kSample =
    R"({"devices":[{"DeviceInterface":"127.0.0.1","DevicePort":"1502","DeviceModel":"QB200",
    "nodes":[{"StartAddress":"0","DeviceName":"Freezer","DeviceNumber":"ABCDEFGHIJKLMNOPQR","Ch1Name":"Air",
              "Ch2Name":"Door","ch1_unit":"1","ch1_min":"-25.5","ch1_max":"12.345","ch1_custom":"","ch2_unit":"4",
              "ch2_min":"0","ch2_max":"100","ch2_custom":"kPa"},
             {"StartAddress":"16","DeviceName":"Room \"2\" / é","DeviceNumber":"000000000000000001"}]},
    {"DeviceInterface":"10.0.0.5","DevicePort":"502","DeviceModel":"QA100","nodes":[]}]})";

QList<ConfiguredDevice *> tst_ProjectFile::sampleDevices()
{
    QVector<ProjectFile::Connection> connections;
    return ProjectFile::parse(kSample, &connections) ? ProjectFile::build(connections)
                                                     : QList<ConfiguredDevice *>();
}

QString tst_ProjectFile::checkInvariants(const QList<ConfiguredDevice *> &devices, int *nodes)
{
    *nodes = 0;
    for (ConfiguredDevice *device : devices) {
        for (NodeDevice *node : device->nodeList()) {
            ++*nodes;
            bool placed = false;
            const int at =
                node->deviceName().startsWith('@') ? node->deviceName().mid(1).toInt(&placed) : 0;
            if (node->startAddress < 0 || node->startAddress > ProjectFile::kMaxStartAddress ||
                (placed && node->startAddress != at) || node->registerCount != 8 ||
                node->parent() != device || node->deviceName() == "gone" || node->ch1Unit() < 0 ||
                node->ch1Unit() > 4 || node->ch2Unit() < 0 || node->ch2Unit() > 4)
                return QStringLiteral("bad node %1 at %2")
                    .arg(node->deviceName())
                    .arg(node->startAddress);
        }
    }
    if (devices.size() > ProjectFile::kMaxConnections || *nodes > ProjectFile::kMaxDevices)
        return QStringLiteral("%1 connections, %2 devices").arg(devices.size()).arg(*nodes);
    return QString();
}

void tst_ProjectFile::roundTripBackupAndReadOnly()
{
    // A new project holds its three keys only.
    const QString file = path("Cold Store.qlk");
    QVERIFY(ProjectFile::create(file, "Cold Store", 60000));
    QVERIFY(ProjectFile::writeDataInterval(file, 1000));
    QCOMPARE(QSettings(file, QSettings::IniFormat).allKeys(),
             (QStringList{"DataInterval", "databaseName", "projectName"}));
    QCOMPARE(ProjectFile::dataInterval(file), 1000);
    QCOMPARE(ProjectFile::databaseName(file), QString("Cold Store.dat"));
    QList<ConfiguredDevice *> read;

    QList<ConfiguredDevice *> devices = sampleDevices();
    QVERIFY(ProjectFile::write(devices, file));
    const QByteArray json = stored(file, "DeviceList");
    QVERIFY(stored(file, "Backup").isEmpty());
    // Every value is stored as a string; limits with two decimals.
    for (const char *part :
         {R"("DevicePort": "1502")", R"("StartAddress": "16")", R"("ch1_unit": "1")",
          R"("ch1_min": "-25.50")", R"("ch1_max": "12.35")", R"("ch2_custom": "kPa")",
          R"("Ch2Name": "Door")", "\"DeviceName\": \"Room \\\"2\\\" / é\""})
        QVERIFY2(json.contains(part), part);

    // Read back; writing what was read gives the same document byte for byte,
    // so every field survived. "Backup" holds the previous document.
    QVERIFY(ProjectFile::read(file, &read));
    QCOMPARE(read.size(), 2);
    QCOMPARE(read.at(0)->nodeList().size(), 2);
    QCOMPARE(read.at(0)->nodeList().at(1)->parent(), read.at(0));
    QCOMPARE(read.at(0)->nodeList().at(0)->alarmRange(),
             (QVector<float>{-25.5f, 12.35f, 0.f, 100.f}));
    QVERIFY(ProjectFile::write(read, file));
    QCOMPARE(stored(file, "DeviceList"), json);
    QCOMPARE(stored(file, "Backup"), json);
    qDeleteAll(read);
    QVERIFY(ProjectFile::write({}, file));
    QCOMPARE(stored(file, "Backup"), json);
    QVERIFY(stored(file, "DeviceList") != json);
    QCOMPARE(ProjectFile::projectName(file), QString("Cold Store"));

    // Made read-only (here immutable, so that it holds for root too): a write
    // fails and says why, the file stays byte for byte, and every later read
    // sees the file as it is on disk, not the failed write. Once writable
    // again, a write works and keeps the file's permissions.
    QVERIFY(ProjectFile::write(devices, file));
    QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    QFile in(file);
    QVERIFY(in.open(QIODevice::ReadOnly));
    const QByteArray before = in.readAll();
    in.close();
    if (!TestSupport::setWritable(file, false))
        QSKIP("no way to make a file read-only here");

    QList<ConfiguredDevice *> fewer{devices.takeFirst()};
    QString error;
    QVERIFY(!ProjectFile::write(fewer, file, &error));
    QCOMPARE(error, QString("The file is read-only."));
    QVERIFY(!ProjectFile::writeDataInterval(file, 5000, &error));
    QVERIFY(!ProjectFile::writeValue(file, "record_start_time", "2026-12-06 10:00:00", &error));
    QVERIFY(in.open(QIODevice::ReadOnly));
    QCOMPARE(in.readAll(), before);
    in.close();
    ProjectDocument document;
    QVERIFY2(document.load(file), qPrintable(document.errorText()));
    QCOMPARE(document.connections.size(), 2);
    QCOMPARE(document.dataInterval, 1000);
    QVERIFY(document.recordStartTime.isEmpty());

    QVERIFY(TestSupport::setWritable(file, true));
    QVERIFY(ProjectFile::write(fewer, file, &error));
    QVERIFY(document.load(file));
    QCOMPARE(document.connections.size(), 1);
    QCOMPARE(QFile::permissions(file) & 0x7077,
             QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    // Saving needs no room in the temporary folder, and leaves nothing beside the project.
    const QByteArray tmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", path("no-such-temp").toUtf8());
    const bool savedWithoutTemp = ProjectFile::writeDataInterval(file, 2000, &error);
    qputenv("TMPDIR", tmp);
    QVERIFY2(savedWithoutTemp, qPrintable(error));
    QCOMPARE(ProjectFile::dataInterval(file), 2000);
    QCOMPARE(QDir(QFileInfo(file).absolutePath())
                 .entryList(QDir::Hidden | QDir::Files)
                 .filter(".quillark"),
             QStringList());
    // A folder that is gone is told as such.
    QVERIFY(!ProjectFile::write(fewer, path("gone/p.qlk"), &error));
    QCOMPARE(error, QStringLiteral("The folder %1 does not exist.").arg(path(QString("gone"))));
    qDeleteAll(devices);
    qDeleteAll(fewer);
}

void tst_ProjectFile::badInput_data()
{
    QTest::addColumn<QByteArray>("json"); // the "DeviceList" document; null: none
    QTest::addColumn<QByteArray>("file"); // else the whole file as on disk ("<dir>": a folder)
    QTest::addColumn<int>("connections"); // -1: refused with the message
    QTest::addColumn<int>("nodes");
    QTest::addColumn<QString>(
        "reason"); // second line of the refusal, or the start of the first warning

    const QByteArray conn =
        R"({"DeviceInterface":"127.0.0.1","DevicePort":"502","DeviceModel":"QA100","nodes":[%1]})";
    auto doc = [&](const QByteArray &nodes) {
        return "{\"devices\":[" + QByteArray(conn).replace("%1", nodes) + "]}";
    };
    const QByteArray none;
    const QString notProject = "It is not a project file.";
    QTest::newRow("no DeviceList") << none << QByteArray("[General]\nprojectName=p\n") << -1 << 0
                                   << "The project has no device list: its devices were never "
                                      "confirmed in the project editor.";
    QTest::newRow("other INI file")
        << none << QByteArray("[Paths]\nPrefix=/usr\n") << -1 << 0 << notProject;
    QTest::newRow("unparsable")
        << QByteArray("{\"devices\":[\n{\"DeviceInterface\":\"1.2.3.4\",\n\"nodes\":[}]}") << none
        << -1 << 0
        << "The device list is not valid JSON at line 3 (object is missing after a comma).";
    QTest::newRow("array document")
        << QByteArray("[1,2,3]") << none << -1 << 0 << "The device list is not a JSON object.";
    QTest::newRow("empty device list")
        << QByteArray("") << none << -1 << 0 << "The device list is empty.";
    QTest::newRow("deep nesting")
        << QByteArray(R"({"devices":)") + QByteArray(100000, '[') << none << -1 << 0
        << "The device list is not valid JSON at line 1 (too deeply nested document).";
    QTest::newRow("devices of non-objects")
        << QByteArray(R"({"devices":[1,"a",null,[],true]})") << none << 0 << 0
        << "An entry of \"devices\" that is 1, not a connection.";
    QTest::newRow("nodes of non-objects")
        << doc(R"(1,"x",null,[{}])") << none << 1 << 0
        << "An entry of the devices of 127.0.0.1:502 that is 1, not a device.";
    QTest::newRow("numbers, bad numbers")
        << doc(R"({"StartAddress":8,"ch1_min":"abc","ch1_max":"1e999","ch2_min":12,"ch2_max":"nan",
                   "ch1_unit":"9","ch2_unit":"-1","DeviceName":""})")
        << none << 1 << 1 << QString();
    QByteArray many = R"({"devices":[)", nodes;
    for (int i = 0; i < 300; ++i) {
        many += (i ? "," : "") + QByteArray(conn)
                                     .replace("127.0.0.1", "10.0.0." + QByteArray::number(i))
                                     .replace("%1", R"({"StartAddress":"0","DeviceNumber":"C)" +
                                                        QByteArray::number(i) + "\"}");
        // Device numbers are unique in a project: each huge one ends apart.
        nodes += (i ? "," : "") + QByteArray(R"({"StartAddress":"0","DeviceNumber":")") +
                 QByteArray(5000, 'N') + QByteArray::number(i) + "\"}";
    }
    QTest::newRow("hundreds of connections")
        << many + "]}" << none << 8 << 8
        << "Connection 10.0.0.8:502 with 1 device(s): a project holds at most 8 connections.";
    QTest::newRow("hundreds of huge nodes")
        << doc(nodes) << none << 1 << 16
        << "Device \"\" (ID " + QString(40, 'N') +
               "...) under 127.0.0.1:502: a project holds at most 16 devices.";
    // Hand-edited start addresses: only a whole number from 0 to 106 loads;
    // any other device is left out and named with its value, never read as 0.
    auto edited = [&](const QByteArray &value, const QByteArray &name) {
        return doc(R"({"StartAddress":"0","DeviceName":"@0","DeviceNumber":"Z"},{"DeviceName":")" +
                   name + R"(","DeviceNumber":"E","StartAddress":)" + value + "}");
    };
    for (const QByteArray value : {R"("106")", R"(" 16 ")", "24"})
        QTest::newRow("StartAddress " + value)
            << edited(value, "@" + QByteArray(value).replace('"', "").trimmed()) << none << 1 << 2
            << QString();
    for (const QByteArray value : {R"("107")", R"("abc")", R"("8.5")", R"("")", R"("-8")",
                                   R"("99999999999")", "8.5", "true", "null"})
        QTest::newRow("StartAddress " + value)
            << edited(value, "gone") << none << 1 << 1
            << QString("Device \"gone\" (ID E) under 127.0.0.1:502: its \"StartAddress\" " + value +
                       " is not a whole number from 0 to 106.");
    QTest::newRow("missing file") << none << none << -1 << 0 << "The file does not exist.";
    QTest::newRow("a folder") << none << QByteArray("<dir>") << -1 << 0
                              << "It is a folder, not a project file.";
    QTest::newRow("empty file") << none << QByteArray("") << -1 << 0 << "The file is empty.";
    QTest::newRow("record database renamed")
        << none << QByteArray("SQLite format 3\0\x10\0", 19) << -1 << 0
        << "It is a record database, not a project file.";
    QTest::newRow("binary file") << none
                                 << QByteArray("\x7f"
                                               "ELF\x02\x01\x01\x00\x00\xff\x00[\n=\n@ByteArray(",
                                               24)
                                 << -1 << 0 << notProject;
    QTest::newRow("broken byte array")
        << none << QByteArray("DeviceList=@ByteArray({\\\"devices\\\n") << -1 << 0
        << "The device list is not valid JSON at line 1 (illegal value).";
}

void tst_ProjectFile::badInput()
{
    QFETCH(QByteArray, json);
    QFETCH(QByteArray, file);
    QFETCH(int, connections);
    QFETCH(int, nodes);
    QFETCH(QString, reason);
    const QString name = path("bad.qlk");
    if (!json.isNull()) {
        QSettings(name, QSettings::IniFormat).setValue("DeviceList", json);
    } else if (file == "<dir>") {
        QVERIFY(QDir(m_dir->path()).mkdir("bad.qlk"));
    } else if (!file.isNull()) {
        QFile out(name);
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write(file) == file.size());
    }
    QList<ConfiguredDevice *> devices;
    QString error;
    QStringList warnings;
    const bool ok = ProjectFile::read(name, &devices, &error, &warnings);
    QCOMPARE(ok, connections >= 0);
    QCOMPARE(error, ok ? QString() : ProjectFile::kNoDeviceInformation + '\n' + reason);
    if (ok) {
        QCOMPARE(warnings.value(0), reason);
        // What is left out is told, one line each, at most a dozen shown.
        const QString told = ProjectDocument::warningText(warnings);
        QCOMPARE(told.isEmpty(), warnings.isEmpty());
        QVERIFY(told.count('\n') <= ProjectDocument::kMaxWarningsShown + 1);
    }
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
    const QString seedFile = path("seed.qlk");
    const QList<ConfiguredDevice *> devices = sampleDevices();
    QVERIFY(ProjectFile::create(seedFile, "seed", 10000) && ProjectFile::write(devices, seedFile) &&
            ProjectFile::write(devices, seedFile)); // with "Backup"
    qDeleteAll(devices);
    const QByteArray seedJson = stored(seedFile, "DeviceList");
    QFile in(seedFile);
    QVERIFY(in.open(QIODevice::ReadOnly));
    const QByteArray seedIni = in.readAll();

    const QByteArrayList tokens =
        QByteArray("null|-1|[|]|{|}|\"|,|:|\\|99999999999|1e999|\"StartAddress\":|@ByteArray(|\n|=|"
                   "[General]\n|\\x0|%U|\xc3\x28")
            .split('|')
        << QByteArray(1, '\0');
    QRandomGenerator rng(20261206);
    auto mutate = [&](QByteArray data) {
        for (int s = 1 + int(rng.bounded(8)); s > 0; --s) {
            const int size = data.size(), at = size ? int(rng.bounded(size)) : 0;
            switch (rng.bounded(6)) {
            case 0:
                if (size)
                    data[at] = char(rng.bounded(256));
                break;
            case 1: data.insert(at, char(rng.bounded(256))); break;
            case 2: data.remove(at, int(rng.bounded(16))); break;
            case 3:
                data.insert(at, data.mid(int(rng.bounded(size + 1)), int(rng.bounded(64))));
                break;
            case 4: data.insert(at, tokens.at(int(rng.bounded(tokens.size())))); break;
            default: data.truncate(at); break;
            }
        }
        return data;
    };

    QLoggingCategory::setFilterRules("quillark.*.debug=false");
    QElapsedTimer clock;
    clock.start();
    int inputs = 0, accepted = 0;
    const QString file = path("mutated.qlk");
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
