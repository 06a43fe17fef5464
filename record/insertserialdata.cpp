#include "record/insertserialdata.h"

#include <QDateTime>
#include <QSqlError>
#include <QTime>
#include <QVariant>

#include <charconv>
#include <cmath>
#include <deque>

namespace {

const QString kCreateTable = QStringLiteral(
    "create table fennolink (\t\tid integer primary key autoincrement,\t\tserialno varchar(18) not null, "
    "\t\tchannel1 float, channel2 float, \t\tpointDate integer not null\t\t)");

const QString kInsertHead =
    QStringLiteral("insert into fennolink (serialno, channel1, channel2, pointDate) values ");

// The process-wide row queue, oldest row first. GUI thread only.
std::deque<SerialRecord> &rowQueue()
{
    static std::deque<SerialRecord> queue;
    return queue;
}

qsizetype g_queueLimit = InsertSerialData::kDefaultQueueLimit;
qint64 g_droppedRows = 0;
// Objects using each connection name; the last one closes it.
QHash<QString, int> g_connectionUsers;
// Set while rows are being dropped; cleared once the queue has been written.
bool g_dropping = false;

void dropOldest(qsizetype count)
{
    auto &queue = rowQueue();
    count = qMin<qsizetype>(count, qsizetype(queue.size()));
    if (count <= 0)
        return;
    const qint64 before = g_droppedRows;
    queue.erase(queue.begin(), queue.begin() + count);
    g_droppedRows += count;
    // Loud, but not once per row: the first drop of a run of drops and then
    // every further ten thousand rows.
    if (!g_dropping || before / 10000 != g_droppedRows / 10000) {
        g_dropping = true;
        qCCritical(lcRecord).noquote()
            << "InsertSerialData::appendRecord : row queue full (" << g_queueLimit
            << " rows), oldest rows dropped; dropped so far:" << g_droppedRows;
    }
}

// The value as stored: rounded to six significant digits, the same number
// as the text "%.6g" would give. NoValue and NaN become NULL.
QVariant channelValue(double value)
{
    if (value == NoValue || std::isnan(value))
        return QVariant(QVariant::Double);
    if (!std::isfinite(value))
        return value;
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 6);
    double rounded = value;
    std::from_chars(text, written.ptr, rounded);
    return rounded;
}

QString timeText()
{
    return QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz"));
}

} // namespace

InsertSerialData::InsertSerialData(const QString &databasePath, const QString &databaseIdentifier,
                                   QObject *parent)
    : QObject(parent), m_databasePath(databasePath), m_databaseIdentifier(databaseIdentifier)
{
}

InsertSerialData::~InsertSerialData()
{
    // The queue is shared by every project opened in this process: rows this
    // file could not take get one last try here and are then discarded, so
    // that they never land in the file of the next project opened. Nobody
    // hears of this try: whoever listens may be going away too.
    const QSignalBlocker quiet(this);
    if (m_isOpened && !rowQueue().empty() && !insertNow()) {
        const qsizetype lost = qsizetype(rowQueue().size());
        rowQueue().clear();
        g_droppedRows += lost;
        g_dropping = false;
        qCCritical(lcRecord).noquote() << "InsertSerialData::~InsertSerialData :" << lost
                                       << "rows could not be written to" << m_databasePath << "and are lost";
    }
    releaseStatements();
    const QString name = connectionName();
    m_db = QSqlDatabase();
    // Only an object that opened the connection (or joined it) closes it,
    // and only the last of them.
    const bool lastUser = m_isOpened && --g_connectionUsers[name] <= 0;
    if (lastUser && QSqlDatabase::contains(name)) {
        g_connectionUsers.remove(name);
        {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            if (db.isOpen()) {
                db.commit();
                db.close();
            }
        }
        QSqlDatabase::removeDatabase(name);
        qCDebug(lcRecord).noquote() << QStringLiteral("InsertSerialData::~InsertSerialData : QSqlDatabase::removeDatabase(")
                + m_databaseIdentifier + QStringLiteral("filedb\")");
    }
    qCDebug(lcRecord).noquote() << "InsertSerialData::~InsertSerialData()";
}

bool InsertSerialData::createConnection()
{
    const QString name = connectionName();
    if (QSqlDatabase::contains(name)) {
        QSqlDatabase existing = QSqlDatabase::database(name, false);
        if (existing.isOpen()) {
            if (!m_isOpened) {
                m_db = existing;
                m_isOpened = true;
                ++g_connectionUsers[name];
            }
            return true;
        }
        // A connection left behind by a failed attempt: start afresh.
        existing = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
    }

    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    m_db.setDatabaseName(m_databasePath);
    // Wait only briefly for another program holding the file: this runs on
    // the GUI thread, and a busy write is retried at the next batch anyway.
    m_db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=200"));
    bool ok = m_db.open();
    if (!ok)
        qCWarning(lcRecord).noquote() << "InsertSerialData::createConnection : open :" << m_db.lastError().text();
    if (ok)
        ok = applyPragmas();
    if (ok)
        ok = createTable();

    if (!ok) {
        qCDebug(lcRecord).noquote() << "InsertSerialData::createConnection : fail";
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
        return false;
    }
    qCDebug(lcRecord).noquote() << "InsertSerialData::createConnection : success";
    m_isOpened = true;
    g_connectionUsers[name] = 1;
    return true;
}

bool InsertSerialData::applyPragmas()
{
    QSqlQuery query(m_db);
    auto run = [&query](const QString &text, QString *answer) {
        const bool ok = query.exec(text);
        if (!ok)
            qCDebug(lcRecord).noquote() << text + QStringLiteral(" : query error") << query.lastError().text();
        else if (answer)
            *answer = query.next() ? query.value(0).toString().toLower() : QString();
        query.finish();
        return ok;
    };

    // page_size must come before the switch to WAL to take effect on a new file.
    if (!run(QStringLiteral("PRAGMA page_size = 4096"), nullptr)
        || !run(QStringLiteral("PRAGMA cache_size = 65536"), nullptr))
        return false;

    // The write-ahead log keeps the file intact when the program dies in the
    // middle of a write, and synchronous=NORMAL keeps commits cheap with it.
    QString mode;
    if (run(QStringLiteral("PRAGMA journal_mode = WAL"), &mode) && mode == QLatin1String("wal"))
        return run(QStringLiteral("PRAGMA synchronous = NORMAL"), nullptr);

    // The switch needs the file to itself (another program may be reading an
    // older file that has no log yet) and a file system that supports it.
    // A rollback journal is just as safe, only slower; the next opening
    // tries the log again.
    qCWarning(lcRecord).noquote() << "InsertSerialData::createConnection : write-ahead log not available (journal mode"
                                  << mode + QStringLiteral("), using a rollback journal");
    if (run(QStringLiteral("PRAGMA journal_mode = DELETE"), &mode) && mode == QLatin1String("delete"))
        return run(QStringLiteral("PRAGMA synchronous = FULL"), nullptr);
    qCWarning(lcRecord).noquote() << "PRAGMA journal_mode : query error : mode" << mode;
    return false;
}

bool InsertSerialData::createTable()
{
    QSqlQuery query(m_db);
    if (!query.exec(QStringLiteral("select name from sqlite_master where type='table' and name='fennolink';"))) {
        qCDebug(lcRecord).noquote() << "InsertSerialData::createTable : select table : query error";
        return false;
    }
    if (query.next()) {
        qCDebug(lcRecord).noquote() << "InsertSerialData::createTable : table exist";
        return true;
    }
    query.finish();
    if (!query.exec(kCreateTable)) {
        qCDebug(lcRecord).noquote() << "InsertSerialData::createTable : create table : query error"
                                    << query.lastError().text();
        return false;
    }
    qCDebug(lcRecord).noquote() << "InsertSerialData::createTable : create table";
    return true;
}

QSqlQuery *InsertSerialData::insertStatement(int rows)
{
    if (QSqlQuery *query = m_insertStatements.value(rows))
        return query;
    if (m_insertStatements.size() >= 8) {
        // Keep the usual batch sizes; odd ones come and go.
        qDeleteAll(m_insertStatements);
        m_insertStatements.clear();
    }
    QString text = kInsertHead;
    text.reserve(text.size() + rows * 16);
    for (int i = 0; i < rows; ++i)
        text += i == 0 ? QLatin1String("(?, ?, ?, ?)") : QLatin1String(", (?, ?, ?, ?)");
    text += QLatin1Char(';');
    auto *query = new QSqlQuery(m_db);
    query->setForwardOnly(true);
    if (!query->prepare(text)) {
        qCWarning(lcRecord).noquote() << "InsertSerialData::insertNow : prepare :" << query->lastError().text();
        delete query;
        return nullptr;
    }
    m_insertStatements.insert(rows, query);
    return query;
}

bool InsertSerialData::execStatement(QSqlQuery &query, const char *what)
{
    const bool ok = query.exec();
    qCDebug(lcRecord).noquote() << what << ok;
    return ok;
}

bool InsertSerialData::insertNow(qsizetype maxRows)
{
    auto &queue = rowQueue();
    if (queue.empty())
        return true;
    if (!m_isOpened)
        return false;

    qCDebug(lcRecord).noquote() << "InsertSerialData::insertNow : starttime :" << timeText();

    if (!m_begin) {
        m_begin = new QSqlQuery(m_db);
        m_commit = new QSqlQuery(m_db);
        m_rollback = new QSqlQuery(m_db);
        if (!m_begin->prepare(QStringLiteral("BEGIN IMMEDIATE")) || !m_commit->prepare(QStringLiteral("COMMIT"))
            || !m_rollback->prepare(QStringLiteral("ROLLBACK"))) {
            const QString error = m_begin->lastError().text() + m_commit->lastError().text();
            releaseStatements();
            failWrite(error);
            return false;
        }
    }

    // The rows stay in the queue until the commit succeeded, so a failed
    // batch is kept, in order, at the head of the queue.
    qsizetype total = qsizetype(queue.size());
    if (maxRows > 0)
        total = qMin(total, maxRows);
    if (!execStatement(*m_begin, "begin transaction :")) {
        failWrite(m_begin->lastError().text());
        return false;
    }

    QString error;
    qsizetype done = 0;
    while (done < total) {
        const int rows = int(qMin<qsizetype>(kRowsPerStatement, total - done));
        QSqlQuery *query = insertStatement(rows);
        if (!query) {
            error = QStringLiteral("cannot prepare insert statement");
            break;
        }
        qCDebug(lcRecord).noquote() << "InsertSerialData::insertNow : query :" << query->lastQuery();
        int index = 0;
        for (int i = 0; i < rows; ++i) {
            const SerialRecord &row = queue[size_t(done + i)];
            // serialno is "not null": a row without a device number must
            // not hold back every row queued after it.
            query->bindValue(index++, row.serialNo.isNull() ? QString(QLatin1String("")) : row.serialNo);
            query->bindValue(index++, channelValue(row.channel1));
            query->bindValue(index++, channelValue(row.channel2));
            query->bindValue(index++, qint64(row.pointDate));
        }
        const bool ok = execStatement(*query, "insert query :");
        qCDebug(lcRecord).noquote() << "lastError :" << query->lastError().text();
        if (!ok) {
            error = query->lastError().text();
            break;
        }
        done += rows;
    }

    if (error.isEmpty() && execStatement(*m_commit, "commit transaction :")) {
        queue.erase(queue.begin(), queue.begin() + total);
        g_dropping = false;
        if (m_lastWriteFailed) {
            m_lastWriteFailed = false;
            m_lastWriteError.clear();
            qCInfo(lcRecord).noquote() << "InsertSerialData::insertNow : writing works again";
            emit writeRecovered();
        }
        qCDebug(lcRecord).noquote() << "InsertSerialData::insertNow : endtime :" << timeText();
        return true;
    }

    if (error.isEmpty())
        error = m_commit->lastError().text();
    execStatement(*m_rollback, "rollback transaction :");
    // A statement that failed may be left in a state best not reused.
    releaseStatements();
    failWrite(error);
    qCDebug(lcRecord).noquote() << "InsertSerialData::insertNow : endtime :" << timeText();
    return false;
}

void InsertSerialData::failWrite(const QString &error)
{
    qCWarning(lcRecord).noquote() << "InsertSerialData::insertNow : write failed, rows kept for the next try ("
                                  << pendingCount() << "waiting):" << error;
    m_lastWriteError = error;
    if (!m_lastWriteFailed) {
        m_lastWriteFailed = true;
        emit writeFailed(error);
    }
}

void InsertSerialData::releaseStatements()
{
    qDeleteAll(m_insertStatements);
    m_insertStatements.clear();
    delete m_begin;
    delete m_commit;
    delete m_rollback;
    m_begin = m_commit = m_rollback = nullptr;
}

qint64 InsertSerialData::boundaryTime(bool latest)
{
    const char *name = latest ? "InsertSerialData::endDateTime :" : "InsertSerialData::startDateTime :";
    if (!m_db.isValid())
        return 0;
    QSqlQuery query(m_db);
    const QString text = latest ? QStringLiteral("select max(pointDate) from fennolink;")
                                : QStringLiteral("select min(pointDate) from fennolink;");
    if (!query.exec(text)) {
        qCDebug(lcRecord).noquote() << name << "query error";
        return 0;
    }
    if (!query.next())
        return 0;
    const qint64 value = qint64(query.value(0).toUInt());
    qCDebug(lcRecord).noquote() << name
                                << QDateTime::fromSecsSinceEpoch(value).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    return value;
}

qint64 InsertSerialData::startDateTime()
{
    return boundaryTime(false);
}

qint64 InsertSerialData::endDateTime()
{
    return boundaryTime(true);
}

void InsertSerialData::appendRecord(const SerialRecord &record)
{
    auto &queue = rowQueue();
    if (qsizetype(queue.size()) >= g_queueLimit)
        dropOldest(qsizetype(queue.size()) - g_queueLimit + 1);
    queue.push_back(record);
}

qsizetype InsertSerialData::pendingCount()
{
    return qsizetype(rowQueue().size());
}

qint64 InsertSerialData::droppedCount()
{
    return g_droppedRows;
}

qsizetype InsertSerialData::queueLimit()
{
    return g_queueLimit;
}

void InsertSerialData::setQueueLimit(qsizetype limit)
{
    g_queueLimit = qMax<qsizetype>(1, limit);
    auto &queue = rowQueue();
    if (qsizetype(queue.size()) > g_queueLimit)
        dropOldest(qsizetype(queue.size()) - g_queueLimit);
}

void InsertSerialData::clearQueue()
{
    rowQueue().clear();
}
