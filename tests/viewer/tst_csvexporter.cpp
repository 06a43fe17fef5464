#include "viewer/csvexporter.h"

#include "record/recordreader.h"
#include "recordfixture.h"
#include "testsupport.h"

#include <QDateTime>
#include <QJsonArray>
#include <QRegularExpression>
#include <QtTest>

#include <QTemporaryDir>
#include <ctime>

using namespace TestSupport;

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
                             {"B", -3.25, kNoReading, 1000},
                             {"A", kNoReading, kNoReading, 1010},
                             {"B", 1e-7, 99.125, 1010},
                             {"A", 22, 41, 1020},
                             {"C", 5, 5, 1020},
                             // the clock went back: the same time again, another line
                             {"A", 23, 42, 1020},
                             {"B", 4, 4, 1030}};
        QVERIFY(appendRecordRows(m_database, rows));
    }

    // The file read back by Python's csv module, in each format offered:
    // one line per time, empty cells where there is no value, names with
    // separators and quotes intact, names that look like formulas guarded.
    void readBackByPython_data()
    {
        QTest::addColumn<char>("separator");
        QTest::addColumn<bool>("decimalComma");
        QTest::addColumn<bool>("fullPrecision");
        QTest::addColumn<bool>("bom");
        QTest::addColumn<QStringList>("values"); // of the lines at 1000 and 1010
        QTest::newRow("spreadsheet") << ',' << false << false << false
                                     << QStringList{"21.50", "40.00", "-3.25", "", "", "0.00"};
        QTest::newRow("full precision")
            << ',' << false << true << false << QStringList{"21.5", "40", "-3.25", "", "", "1e-07"};
        QTest::newRow("decimal comma, ; and a BOM")
            << ',' << true << false << true
            << QStringList{"21,50", "40,00", "-3,25", "", "", "0,00"};
        QTest::newRow("tab") << '\t' << false << false << false
                             << QStringList{"21.50", "40.00", "-3.25", "", "", "0.00"};
    }
    void readBackByPython()
    {
        QFETCH(char, separator);
        QFETCH(bool, decimalComma);
        QFETCH(bool, fullPrecision);
        QFETCH(bool, bom);
        QFETCH(QStringList, values);
        RecordReader reader;
        QVERIFY(reader.open(m_database));
        const QString out = m_dir.filePath(QStringLiteral("out.csv"));
        const QVector<SeriesInfo> shown = {
            series("A", 1, QStringLiteral("Temp, inside; \"hi\""), QStringLiteral("°C")),
            series("A", 2, QStringLiteral("RH"), QString()),
            series("B", 1, QStringLiteral("T"), QStringLiteral("%RH"))};
        CsvFormat format;
        format.separator = separator;
        format.decimalComma = decimalComma;
        format.fullPrecision = fullPrecision;
        format.bom = bom;
        CsvExporter exporter(&reader, shown, 1000, 1030, out, format);
        QVERIFY(exporter.run());
        QCOMPARE(exporter.state(), CsvExporter::State::Done);

        const QChar delimiter = decimalComma ? QLatin1Char(';') : QLatin1Char(separator);
        const QJsonArray table = TestSupport::csvReadByPython(out, delimiter);
        QCOMPARE(table.size(), 6);
        QCOMPARE(table.at(0).toArray(),
                 (QJsonArray{"Local time", "ISO 8601", "Unix time", "A / Temp, inside; \"hi\" (°C)",
                             "A / RH", "B / T (%RH)"}));
        auto line = [&](int i) { return table.at(i).toArray(); };
        const QDateTime local = QDateTime::fromSecsSinceEpoch(1000);
        QCOMPARE(line(1).at(0).toString(), local.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
        QVERIFY2(line(1).at(1).toString().startsWith(local.toString(Qt::ISODate).left(19)),
                 qPrintable(line(1).at(1).toString()));
        QVERIFY(line(1).at(1).toString().contains(QRegularExpression("[+-]\\d\\d:\\d\\d$")));
        QCOMPARE(line(1).toVariantList().mid(2),
                 (QVariantList{"1000", values.at(0), values.at(1), values.at(2)}));
        QCOMPARE(line(2).toVariantList().mid(2),
                 (QVariantList{"1010", values.at(3), values.at(4), values.at(5)}));
        QCOMPARE(line(4).at(2).toString(), QStringLiteral("1020")); // the clock went back
        QFile raw(out);
        QVERIFY(raw.open(QIODevice::ReadOnly));
        const QByteArray bytes = raw.readAll();
        QCOMPARE(bytes.startsWith("\xEF\xBB\xBF"), bom);
        QVERIFY(bytes.endsWith("\r\n"));
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

        // A folder that does not exist.
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
                rows.append({"A", double(t % 97), kNoReading, t});
        QVERIFY(appendRecordRows(db, rows));
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
            QCOMPARE(lines.at(i + 1).split(',').at(1), expected);
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
        QTest::newRow("formula") << "=HYPERLINK(1)" << QByteArray("'=HYPERLINK(1)");
        QTest::newRow("at") << "@SUM(A1)" << QByteArray("'@SUM(A1)");
        QTest::newRow("plus, quoted") << "+1,2" << QByteArray("\"'+1,2\"");
        QTest::newRow("minus") << "-x" << QByteArray("'-x");
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
