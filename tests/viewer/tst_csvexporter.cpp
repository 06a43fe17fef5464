#include "viewer/csvexporter.h"

#include "record/recordreader.h"
#include "testsupport.h"
#include "viewerfixture.h"

#include <QDateTime>
#include <QJsonArray>
#include <QtTest>

#include <QTemporaryDir>
#include <ctime>

using namespace ViewerFixture;

namespace
{

SeriesInfo series(const QString &serial, int channel, const QString &name, const QString &unit)
{
    SeriesInfo info;
    info.deviceNumber = serial;
    info.deviceName = serial;
    info.channel = channel;
    info.channelName = name;
    info.unit = unit;
    return info;
}

} // namespace

class tst_CsvExporter : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_database;

private slots:
    void initTestCase()
    {
        m_database = m_dir.filePath(QStringLiteral("csv.dat"));
        QVector<Row> rows = {{"A", 21.5, 40, 1000},
                             {"B", -3.25, kNull, 1000},
                             {"A", kNull, kNull, 1010},
                             {"B", 1e-7, 99.125, 1010},
                             {"A", 22, 41, 1020},
                             {"C", 5, 5, 1020},
                             // the clock went back: the same time again, another line
                             {"A", 23, 42, 1020},
                             {"B", 4, 4, 1030}};
        QVERIFY(appendRows(m_database, rows));
    }

    // The file read back by Python's csv module: one line per time, empty
    // cells where there is no value, names with commas and quotes intact.
    void readBackByPython()
    {
        RecordReader reader;
        QVERIFY(reader.open(m_database));
        const QString out = m_dir.filePath(QStringLiteral("out.csv"));
        const QVector<SeriesInfo> shown = {
            series("A", 1, QStringLiteral("Temp, inside"), QStringLiteral("°C")),
            series("A", 2, QStringLiteral("Say \"hi\""), QString()),
            series("B", 1, QStringLiteral("T"), QStringLiteral("%RH"))};
        CsvExporter exporter(&reader, shown, 1000, 1030, out);
        QVERIFY(exporter.start());
        QVERIFY(exporter.run());
        QCOMPARE(exporter.state(), CsvExporter::State::Done);

        const QJsonArray table = TestSupport::csvReadByPython(out);
        QCOMPARE(table.size(), 6);
        QCOMPARE(table.at(0).toArray(),
                 (QJsonArray{"Local time", "Unix time", "A / Temp, inside (°C)", "A / Say \"hi\"",
                             "B / T (%RH)"}));
        auto line = [&](int i) { return table.at(i).toArray(); };
        const QString local1000 =
            QDateTime::fromSecsSinceEpoch(1000).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
        QVERIFY2(line(1).at(0).toString().startsWith(local1000),
                 qPrintable(line(1).at(0).toString()));
        QCOMPARE(line(1), (QJsonArray{line(1).at(0), "1000", "21.5", "40", "-3.25"}));
        QCOMPARE(line(2), (QJsonArray{line(2).at(0), "1010", "", "", "1e-07"}));
        QCOMPARE(line(3), (QJsonArray{line(3).at(0), "1020", "22", "41", ""}));
        QCOMPARE(line(4), (QJsonArray{line(4).at(0), "1020", "23", "42", ""}));
        QCOMPARE(line(5), (QJsonArray{line(5).at(0), "1030", "", "", "4"}));
        QFile raw(out);
        QVERIFY(raw.open(QIODevice::ReadOnly));
        QVERIFY(raw.readAll().endsWith("\r\n"));
    }

    // Cancel and failures leave nothing behind, and never touch an older file.
    void nothingHalfWritten()
    {
        RecordReader reader;
        QVERIFY(reader.open(m_database));
        const QVector<SeriesInfo> shown = {series("A", 1, QStringLiteral("T"), QString())};
        const QString out = m_dir.filePath(QStringLiteral("cancel.csv"));
        {
            CsvExporter exporter(&reader, shown, 0, 5000, out);
            QVERIFY(exporter.start());
            QCOMPARE(exporter.step(2), CsvExporter::State::Running);
            exporter.cancel();
            QCOMPARE(exporter.state(), CsvExporter::State::Cancelled);
        }
        QVERIFY(!QFileInfo::exists(out));
        QCOMPARE(
            QDir(m_dir.path()).entryList({QStringLiteral("cancel*")}, QDir::Files | QDir::Hidden),
            QStringList());

        // An earlier export of the same name stays as it was when the new one is dropped.
        {
            QFile old(out);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("old\r\n");
        }
        {
            CsvExporter exporter(&reader, shown, 0, 5000, out);
            QVERIFY(exporter.start());
        } // destroyed while running
        QFile old(out);
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("old\r\n"));

        // A folder that cannot be written, and one that does not exist.
        const QString locked = m_dir.filePath(QStringLiteral("locked"));
        QVERIFY(QDir().mkpath(locked));
        QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        CsvExporter denied(&reader, shown, 0, 5000, locked + QStringLiteral("/x.csv"));
        const bool canWrite = QFileInfo(locked).isWritable(); // root writes anyway
        if (!canWrite) {
            QVERIFY(!denied.start());
            QVERIFY(denied.errorText().contains(locked));
        }
        QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner);
        CsvExporter nowhere(&reader, shown, 0, 5000,
                            m_dir.filePath(QStringLiteral("no/such/x.csv")));
        QVERIFY(!nowhere.start());
        QCOMPARE(nowhere.state(), CsvExporter::State::Failed);
    }

    // Local times with their offset, right across a change of summer time.
    void localTimesAcrossSummerTime_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::newRow("Berlin") << QByteArray("Europe/Berlin");
        QTest::newRow("St John's") << QByteArray("America/St_Johns");
        QTest::newRow("Kathmandu") << QByteArray("Asia/Kathmandu");
    }
    void localTimesAcrossSummerTime()
    {
        QFETCH(QByteArray, zone);
        const QByteArray saved = qgetenv("TZ");
        qputenv("TZ", zone);
        tzset();
        QTemporaryDir dir;
        const QString db = dir.filePath(QStringLiteral("dst.dat"));
        // 2026-03-08 and 2026-03-29: summer time begins in America and in Europe.
        QVector<Row> rows;
        for (qint64 base : {qint64(1772953200), qint64(1774746000)})
            for (qint64 t = base - 3 * 3600; t <= base + 3 * 3600; t += 450)
                rows.append({"A", double(t % 97), kNull, t});
        QVERIFY(appendRows(db, rows));
        RecordReader reader;
        QVERIFY(reader.open(db));
        const QString out = dir.filePath(QStringLiteral("dst.csv"));
        CsvExporter exporter(&reader, {series("A", 1, QStringLiteral("T"), QString())}, 0,
                             2000000000, out);
        QVERIFY(exporter.run());
        QFile file(out);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QList<QByteArray> lines = file.readAll().split('\n');
        QCOMPARE(lines.size(), rows.size() + 2);
        for (int i = 0; i < rows.size(); ++i) {
            const QDateTime local = QDateTime::fromSecsSinceEpoch(rows.at(i).time, Qt::LocalTime);
            const QByteArray expected =
                local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODate).toLatin1();
            QCOMPARE(lines.at(i + 1).split(',').at(0), expected);
        }
        qputenv("TZ", saved);
        if (saved.isEmpty())
            qunsetenv("TZ");
        tzset();
    }

    void quoting_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("field");
        QTest::newRow("plain") << "Temp" << QByteArray("Temp");
        QTest::newRow("comma") << "a,b" << QByteArray("\"a,b\"");
        QTest::newRow("quote") << "5\" pipe" << QByteArray("\"5\"\" pipe\"");
        QTest::newRow("line break") << "a\nb" << QByteArray("\"a\nb\"");
    }
    void quoting()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, field);
        QCOMPARE(CsvExporter::quoteField(text), field);
    }
};

QTEST_GUILESS_MAIN(tst_CsvExporter)
#include "tst_csvexporter.moc"
