#include "record/recordstretches.h"

#include "common/common.h"
#include "record/insertserialdata.h"
#include "record/recordschema.h"
#include "record/sqlstatement.h"

#include <sqlite3.h>

#include <cmath>
#include <cstring>

namespace
{

bool isNone(double value)
{
    return value == NoValue || std::isnan(value);
}

double columnValue(sqlite3_stmt *statement, int column)
{
    return sqlite3_column_type(statement, column) == SQLITE_NULL
               ? NoValue
               : sqlite3_column_double(statement, column);
}

} // namespace

double RecordStretches::mktTerm(double value, bool fahrenheit, double factor)
{
    const double kelvin = fahrenheit ? (value - 32.0) * 5.0 / 9.0 + 273.15 : value + 273.15;
    return kelvin > 0 ? std::exp(-factor / kelvin) : 0.0;
}

qint64 RecordStretches::stretchOf(qint64 time)
{
    return (time >= 0 ? time / kSeconds : (time - kSeconds + 1) / kSeconds) * kSeconds;
}

const double *RecordStretches::termsOf(double value)
{
    if (!m_terms)
        m_terms =
            std::make_shared<std::vector<Terms>>(size_t(1) << kTermBits, Terms{NoValue, {0, 0}});
    quint64 bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    Terms &entry = (*m_terms)[size_t((bits * 0x9E3779B97F4A7C15ull) >> (64 - kTermBits))];
    if (entry.value != value) {
        entry.value = value;
        entry.term[0] = mktTerm(value, false, m_factor);
        entry.term[1] = mktTerm(value, true, m_factor);
    }
    return entry.term;
}

void RecordStretches::reset()
{
    m_old.reset();
    m_running.clear();
    m_done.clear();
    m_guess = 0;
    m_nextId = 0;
}

void RecordStretches::invalidate()
{
    for (Running &running : m_running)
        running.kept = false;
}

void RecordStretches::undo()
{
    invalidate();
    m_done.clear();
    m_nextId = 0;
}

RecordStretches::Running &RecordStretches::runningFor(const QByteArray &serial)
{
    // The devices take turns: the one after the last is the likely one.
    if (m_guess < m_running.size() && m_running[m_guess].serial == serial)
        return m_running[m_guess++];
    for (size_t i = 0; i < m_running.size(); ++i) {
        if (m_running[i].serial == serial) {
            m_guess = i + 1;
            return m_running[i];
        }
    }
    Running running;
    running.serial = serial;
    running.stretch.serial = serial;
    running.stretch.start = -1;
    m_running.push_back(running);
    m_guess = m_running.size();
    return m_running.back();
}

void RecordStretches::take(Running &running, qint64 id, qint64 time, double channel1,
                           double channel2)
{
    if (m_nextId != 0 && id != m_nextId)
        invalidate(); // rows of another program in between
    m_nextId = id + 1;
    RecordStretch &stretch = running.stretch;
    const qint64 start = stretchOf(time);
    if (start != stretch.start) {
        // A later stretch: the one before is complete. An earlier one (the
        // clock went back) mixes with rows already summed: not kept.
        const bool later = stretch.start >= 0 && start > stretch.start;
        if (running.kept && later && stretch.rows > 0)
            m_done.push_back(stretch);
        running.kept = later || (stretch.start < 0 && m_trustFirst);
        stretch = RecordStretch();
        stretch.serial = running.serial;
        stretch.start = start;
    }
    ++stretch.rows;
    const double values[2] = {channel1, channel2};
    if (isNone(channel1) && isNone(channel2))
        ++stretch.nullRows;
    for (int c = 0; c < 2; ++c) {
        RecordStretch::Channel &figures = stretch.channel[c];
        const double value = values[c];
        if (isNone(value)) {
            if (figures.count == 0)
                figures.leadingNull = true;
            continue;
        }
        if (figures.count == 0) {
            figures.minimum = figures.maximum = value;
            figures.minimumTime = figures.maximumTime = figures.firstTime = time;
        } else {
            figures.longestGap = std::max(figures.longestGap, time - figures.lastTime);
            if (value < figures.minimum) {
                figures.minimum = value;
                figures.minimumTime = time;
            }
            if (value > figures.maximum) {
                figures.maximum = value;
                figures.maximumTime = time;
            }
        }
        figures.lastTime = time;
        ++figures.count;
        figures.sum += value;
        const double *terms = termsOf(value);
        figures.mkt[0] += terms[0];
        figures.mkt[1] += terms[1];
    }
}

void RecordStretches::follow(const SerialRecord *rows, int count, qint64 firstId,
                             const QByteArray *const *serials)
{
    for (int i = 0; i < count; ++i) {
        const SerialRecord &row = rows[i];
        take(runningFor(*serials[i]), firstId + i, qint64(row.pointDate), row.channel1,
             row.channel2);
    }
}

bool RecordStretches::store(sqlite3 *db, QString *error)
{
    if (m_done.empty())
        return true;
    SqlStatement insert(db, "insert or replace into qk_stretches values (?1, ?2, ?3, ?4, ?5, ?6, "
                            "?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18, ?19, ?20, "
                            "?21, ?22, ?23, ?24, ?25, ?26, ?27, ?28)");
    for (const RecordStretch &stretch : m_done) {
        insert.bind(1, stretch.start);
        insert.bind(2, stretch.serial);
        insert.bind(3, stretch.rows);
        insert.bind(4, stretch.nullRows);
        int index = 5;
        for (const RecordStretch::Channel &figures : stretch.channel) {
            insert.bind(index++, figures.count);
            insert.bind(index++, figures.sum);
            insert.bind(index++, figures.minimum);
            insert.bind(index++, figures.minimumTime);
            insert.bind(index++, figures.maximum);
            insert.bind(index++, figures.maximumTime);
            insert.bind(index++, figures.firstTime);
            insert.bind(index++, figures.lastTime);
            insert.bind(index++, figures.longestGap);
            insert.bind(index++, qint64(figures.leadingNull));
            insert.bind(index++, figures.mkt[0]);
            insert.bind(index++, figures.mkt[1]);
        }
        if (!insert.run(error))
            return false;
        insert.reset();
    }
    m_done.clear();
    // The rows before are all summed up (or left without figures): the
    // mark moves on, unless rows of the file from before still wait.
    return derivePending() || storeMark(db, m_nextId - 1, error);
}

bool RecordStretches::storeMark(sqlite3 *db, qint64 id, QString *error)
{
    SqlStatement update(db, "update qk_stretch_mark set summed_to = max(summed_to, ?1)");
    update.bind(1, id);
    return update.run(error);
}

void RecordStretches::attach(sqlite3 *db)
{
    m_old.reset();
    SqlStatement last(db, "select coalesce(max(id), 0) from fennolink");
    const qint64 lastId = last.step() == SQLITE_ROW ? last.int64(0) : 0;
    SqlStatement mark(db, "select summed_to from qk_stretch_mark");
    if (mark.step() != SQLITE_ROW || mark.int64(0) >= lastId)
        return;
    m_old = std::make_shared<RecordStretches>();
    m_old->m_trustFirst = mark.int64(0) == 0;
    m_oldNext = mark.int64(0) + 1;
    m_oldTo = lastId;
}

RecordStretches::Step RecordStretches::deriveStep(sqlite3 *db, qint64 maxRows)
{
    if (!derivePending())
        return Step::Progressed;
    QString text;
    QString *error = &text;
    const auto failed = [db, &text] {
        const int code = sqlite3_errcode(db) & 0xff;
        if (code == SQLITE_BUSY || code == SQLITE_LOCKED)
            return Step::Locked;
        qCWarning(lcRecord).noquote()
            << "InsertSerialData : stretch figures of the rows written before :" << text;
        return Step::Failed;
    };
    if (!SqlStatement::exec(db, "BEGIN IMMEDIATE", error))
        return failed();
    const RecordStretches before = *m_old;
    SqlStatement select(db, "select id, serialno, channel1, channel2, pointDate from fennolink "
                            "where id >= ?1 and id <= ?2 order by id limit ?3");
    select.bind(1, m_oldNext);
    select.bind(2, m_oldTo);
    select.bind(3, maxRows);
    qint64 last = m_oldTo; // no row left: the range is done
    qint64 read = 0;
    int rc = SQLITE_ROW;
    while ((rc = select.step()) == SQLITE_ROW) {
        sqlite3_stmt *row = select.handle();
        const QByteArray serial(reinterpret_cast<const char *>(sqlite3_column_text(row, 1)),
                                sqlite3_column_bytes(row, 1));
        m_old->take(m_old->runningFor(serial), sqlite3_column_int64(row, 0),
                    sqlite3_column_int64(row, 4), columnValue(row, 2), columnValue(row, 3));
        ++read;
    }
    if (read == maxRows)
        last = m_old->m_nextId - 1;
    bool ok = rc == SQLITE_DONE;
    if (!ok)
        *error = select.errorText();
    select.finish();
    ok = ok && m_old->store(db, error) && storeMark(db, last, error) &&
         SqlStatement::exec(db, "COMMIT", error);
    if (!ok) {
        const Step step = failed();
        SqlStatement::exec(db, "ROLLBACK", nullptr);
        *m_old = before;
        return step;
    }
    m_oldNext = last + 1;
    if (!derivePending())
        m_old.reset();
    return Step::Progressed;
}

bool RecordStretches::load(sqlite3 *db, qint64 from, qint64 to, QVector<RecordStretch> *stretches,
                           QString *error)
{
    stretches->clear();
    if (!RecordSchema::hasTable(db, "qk_stretches"))
        return true;
    SqlStatement select(db, "select * from qk_stretches where start >= ?1 and start < ?2 "
                            "order by start");
    select.bind(1, from);
    select.bind(2, to);
    int rc = SQLITE_ROW;
    while ((rc = select.step()) == SQLITE_ROW) {
        RecordStretch stretch;
        stretch.start = select.int64(0);
        stretch.serial = select.bytes(1);
        stretch.rows = select.int64(2);
        stretch.nullRows = select.int64(3);
        int column = 4;
        for (RecordStretch::Channel &figures : stretch.channel) {
            figures.count = select.int64(column++);
            figures.sum = select.real(column++);
            figures.minimum = select.real(column++);
            figures.minimumTime = select.int64(column++);
            figures.maximum = select.real(column++);
            figures.maximumTime = select.int64(column++);
            figures.firstTime = select.int64(column++);
            figures.lastTime = select.int64(column++);
            figures.longestGap = select.int64(column++);
            figures.leadingNull = select.int64(column++) != 0;
            figures.mkt[0] = select.real(column++);
            figures.mkt[1] = select.real(column++);
        }
        stretches->append(stretch);
    }
    if (rc != SQLITE_DONE) {
        *error = select.errorText();
        stretches->clear();
        return false;
    }
    return true;
}

bool RecordStretches::derive(sqlite3 *db, QString *error)
{
    // From the first row on, as the writer does for the rows of an old file.
    if (!SqlStatement::exec(db, kTableSql, error) ||
        !SqlStatement::exec(
            db, "delete from qk_stretches; update qk_stretch_mark set summed_to = 0", error))
        return false;
    RecordStretches stretches;
    stretches.attach(db);
    while (stretches.derivePending()) {
        if (stretches.deriveStep(db, 1000000) != Step::Progressed) {
            *error = QString::fromUtf8(sqlite3_errmsg(db));
            return false;
        }
    }
    return true;
}
