#include "report/recordordercache.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <sqlite3.h>

#include <limits>

#include "common/common.h"
#include "record/recordreader.h"

namespace
{

const QString kCheckedId = QStringLiteral("checkedId");
const QString kCheckedTime = QStringLiteral("checkedTime");
const QString kFirstTime = QStringLiteral("firstTime");
const QString kOrdered = QStringLiteral("ordered");

// pointDate of the row with this id; false when there is none.
bool timeOfId(sqlite3 *db, qint64 id, qint64 *time)
{
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(db, "select pointDate from fennolink where id = ?1", -1, &statement,
                           nullptr) != SQLITE_OK)
        return false;
    sqlite3_bind_int64(statement, 1, id);
    const bool found = sqlite3_step(statement) == SQLITE_ROW;
    if (found)
        *time = sqlite3_column_int64(statement, 0);
    sqlite3_finalize(statement);
    return found;
}

} // namespace

QString RecordOrderCache::cacheFile(const QString &databasePath)
{
    const QByteArray key =
        QCryptographicHash::hash(QFileInfo(databasePath).absoluteFilePath().toUtf8(),
                                 QCryptographicHash::Sha1)
            .toHex();
    return QStandardPaths::writableLocation(QStandardPaths::CacheLocation) +
           QStringLiteral("/order-") + QString::fromLatin1(key) + QStringLiteral(".ini");
}

bool RecordOrderCache::apply(RecordReader &reader, QString *error)
{
    sqlite3 *db = reader.handle();
    if (!db) {
        if (error)
            *error = reader.errorText();
        return false;
    }
    const QString file = cacheFile(reader.path());
    QSettings cache(file, QSettings::IniFormat);
    qint64 checkedId = cache.value(kCheckedId, 0).toLongLong();
    qint64 checkedTime = cache.value(kCheckedTime, 0).toLongLong();
    bool ordered = cache.value(kOrdered, true).toBool();

    // The cache holds for this file only while its checked rows are unchanged.
    qint64 firstTime = 0;
    const qint64 firstId = reader.minId();
    const bool hasRows = firstId > 0 && timeOfId(db, firstId, &firstTime);
    qint64 timeNow = 0;
    if (checkedId > 0 && (!hasRows || firstTime != cache.value(kFirstTime).toLongLong() ||
                          !timeOfId(db, checkedId, &timeNow) || timeNow != checkedTime)) {
        qCDebug(lcReport) << "RecordOrderCache::apply : cache does not match, checking again";
        checkedId = 0;
        ordered = true;
    }

    if (ordered) {
        sqlite3_stmt *statement = nullptr;
        if (sqlite3_prepare_v2(db, "select id, pointDate from fennolink where id > ?1 order by id",
                               -1, &statement, nullptr) != SQLITE_OK) {
            if (error)
                *error = QString::fromUtf8(sqlite3_errmsg(db));
            return false;
        }
        sqlite3_bind_int64(statement, 1, checkedId);
        qint64 previous = checkedId > 0 ? checkedTime : std::numeric_limits<qint64>::min();
        int rc;
        while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
            const qint64 time = sqlite3_column_int64(statement, 1);
            checkedId = sqlite3_column_int64(statement, 0);
            if (time < previous) {
                ordered = false;
                checkedTime = time;
                break;
            }
            previous = time;
            checkedTime = time;
        }
        const bool failed = rc != SQLITE_ROW && rc != SQLITE_DONE;
        const QString message = QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_finalize(statement);
        if (failed) {
            qCWarning(lcReport).noquote() << "RecordOrderCache::apply :" << message;
            if (error)
                *error = message;
            return false;
        }
        if (!ordered)
            qCWarning(lcReport) << "RecordOrderCache::apply : rows out of time order at id"
                                << checkedId;
    }
    reader.setTimeOrdered(ordered);

    if (QDir().mkpath(QFileInfo(file).absolutePath())) {
        cache.setValue(kCheckedId, checkedId);
        cache.setValue(kCheckedTime, checkedTime);
        cache.setValue(kFirstTime, firstTime);
        cache.setValue(kOrdered, ordered);
    }
    return true;
}
