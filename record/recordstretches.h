#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

#include <memory>
#include <vector>

struct sqlite3;
struct SerialRecord;

// What the rows of one device add up to over one stretch of a quarter of an
// hour (UTC, from a multiple of 900 s): enough for a report to take the
// stretch whole instead of reading its rows, when nothing in it needs them
// one by one (no reading outside the limits, no gap, no change of settings).
struct RecordStretch {
    struct Channel {
        qint64 count = 0; // readings (rows with this channel not NULL)
        double sum = 0;   // in row order
        double minimum = 0;
        double maximum = 0;
        qint64 minimumTime = 0; // first time of each
        qint64 maximumTime = 0;
        qint64 firstTime = 0;
        qint64 lastTime = 0;
        qint64 longestGap = 0; // between two readings of the stretch
        // A row without this reading came before the first reading (or the
        // stretch has none).
        bool leadingNull = false;
        // Mean kinetic temperature terms at the default activation energy,
        // the reading taken as degrees Celsius [0] or Fahrenheit [1].
        double mkt[2] = {0, 0};
    };
    QByteArray serial;
    qint64 start = 0;
    qint64 rows = 0;
    qint64 nullRows = 0; // rows with both channels NULL
    Channel channel[2];
};

// The stretch figures of a record file (table "qk_stretches"), kept by the
// writer as it writes: a stretch enters the table once the device's first
// row of a later stretch went in, and only when every row of the device
// since the stretch began went in through this writer, one after another
// (the first stretch after opening a file, or after a write was undone, is
// never kept). A reader takes a figure only where the count of rows it gives
// matches the rows in the file.
class RecordStretches
{
public:
    static constexpr qint64 kSeconds = 900;
    static constexpr double kMktEnergy = 83.144;      // kJ/mol
    static constexpr double kGasConstant = 8.3144598; // J/(mol K)
    static constexpr int kSchemaVersion = 3;
    static constexpr const char kTableSql[] =
        "create table if not exists qk_stretches (start integer not null, serialno text not null, "
        "rows integer not null, null_rows integer not null, "
        "c1_count integer not null, c1_sum real, c1_min real, c1_min_time integer, c1_max real, "
        "c1_max_time integer, c1_first integer, c1_last integer, c1_gap integer, "
        "c1_lead_null integer, c1_mkt_c real, c1_mkt_f real, "
        "c2_count integer not null, c2_sum real, c2_min real, c2_min_time integer, c2_max real, "
        "c2_max_time integer, c2_first integer, c2_last integer, c2_gap integer, "
        "c2_lead_null integer, c2_mkt_c real, c2_mkt_f real, "
        "primary key (start, serialno)) without rowid;"
        // How far the rows are summed up (stretches kept or left without
        // figures on purpose): rows with a higher id are worked out by the
        // writer in its idle time.
        "create table if not exists qk_stretch_mark (one integer primary key check (one = 1), "
        "summed_to integer not null);"
        "insert or ignore into qk_stretch_mark values (1, 0);";

    // exp(-dH / (R T)) of a reading, T from degrees Celsius or Fahrenheit,
    // with dH / R = `factor`; 0 at or below absolute zero.
    static double mktTerm(double value, bool fahrenheit, double factor);
    static double defaultMktFactor() { return kMktEnergy * 1000.0 / kGasConstant; }
    static qint64 stretchOf(qint64 time);

    // Nothing is known of the rows before the next one (a file opened or
    // started).
    void reset();
    // Takes rows that went in with ids firstId, firstId + 1, ... (inside the
    // write transaction); `serials` holds each row's device number as bound.
    void follow(const SerialRecord *rows, int count, qint64 firstId,
                const QByteArray *const *serials);
    // Writes the stretches completed so far, inside the caller's transaction.
    bool store(sqlite3 *db, QString *error);
    // The transaction was rolled back: the running stretches are not kept.
    void undo();

    // The stretches starting in [from, to), by start; false with *error on a
    // read error. A file without the table has none.
    static bool load(sqlite3 *db, qint64 from, qint64 to, QVector<RecordStretch> *stretches,
                     QString *error);
    // Works the figures out anew from every row of the file (a file written
    // without them); false with *error on failure.
    static bool derive(sqlite3 *db, QString *error);

    // The rows a file holds when the writer opens it and that no writer
    // summed up yet are worked out a step at a time (deriveStep()).
    void attach(sqlite3 *db);
    bool derivePending() const { return m_old && m_oldNext <= m_oldTo; }
    // One step over some 200,000 of them, in a transaction of its own;
    // nothing of a step that did not go through is kept (Locked: another
    // program holds the file, try later; Failed: logged, given up).
    enum class Step { Progressed, Locked, Failed };
    Step deriveStep(sqlite3 *db, qint64 maxRows = 200000);

private:
    struct Running {
        QByteArray serial;
        RecordStretch stretch;
        bool kept = false; // every row of the stretch was seen here
    };
    // The terms of recent readings, by the reading's bits: readings come
    // back again and again, an exponential is dear.
    struct Terms {
        double value;
        double term[2];
    };
    const double *termsOf(double value);
    Running &runningFor(const QByteArray &serial);
    void take(Running &running, qint64 id, qint64 time, double channel1, double channel2);
    void invalidate();

    bool storeMark(sqlite3 *db, qint64 id, QString *error);

    std::vector<Running> m_running;
    size_t m_guess = 0;
    std::vector<RecordStretch> m_done;
    qint64 m_nextId = 0;
    bool m_trustFirst = false; // every row of the file is seen (derive())
    double m_factor = defaultMktFactor();
    static constexpr int kTermBits = 10;
    std::shared_ptr<std::vector<Terms>> m_terms;
    // The rows of the file from before: what is summed of them so far.
    std::shared_ptr<RecordStretches> m_old;
    qint64 m_oldNext = 0; // the next id to read
    qint64 m_oldTo = 0;   // the last id to read
};
