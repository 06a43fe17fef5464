#include "report/periodreport.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QThreadPool>
#include <QtConcurrent>

#include <algorithm>
#include <cstdlib>

#include "common/alarmlimits.h"
#include "common/common.h"
#include "record/recordreader.h"
#include "report/samplequeue.h"
#include "report/stretchreading.h"

const QString PeriodReport::kNoDataFile = QStringLiteral("There is no data file.");

QString PeriodReport::unquotedPath(const QString &argument)
{
    const QString trimmed = argument.trimmed();
    if (trimmed.size() >= 2 && trimmed.startsWith(QLatin1Char('\'')) &&
        trimmed.endsWith(QLatin1Char('\'')))
        return trimmed.mid(1, trimmed.size() - 2);
    return trimmed;
}

bool PeriodReport::loadProject(const QString &projectPath, QString *error)
{
    m_computed = false;
    const QString path = unquotedPath(projectPath);
    if (!QFileInfo(path).isFile()) {
        *error = QStringLiteral("There is no project file %1.").arg(path);
        return false;
    }
    QString reason;
    if (!m_project.load(path, &reason)) {
        // One line: batch mode prints it as its reason.
        *error = m_project.reason.isEmpty()
                     ? reason
                     : reason + QLatin1Char(' ') + m_project.reason.simplified();
        return false;
    }
    qCDebug(lcReport).noquote() << "PeriodReport::loadProject :" << m_project.path;
    return true;
}

QString PeriodReport::projectTitle() const
{
    return m_project.projectName.isEmpty() ? QFileInfo(m_project.path).completeBaseName()
                                           : m_project.projectName;
}

QString PeriodReport::title() const
{
    const QDate first = m_statistics.firstDay();
    switch (m_kind) {
    case Kind::Daily: return QStringLiteral("Daily report %1").arg(first.toString(Qt::ISODate));
    case Kind::Weekly: {
        int year = 0;
        const int week = first.weekNumber(&year);
        return QStringLiteral("Weekly report %1-W%2").arg(year).arg(week, 2, 10, QLatin1Char('0'));
    }
    case Kind::Monthly:
        return QStringLiteral("Monthly report %1").arg(first.toString(QStringLiteral("yyyy-MM")));
    case Kind::Haccp:
        return QStringLiteral("HACCP report %1 to %2")
            .arg(first.toString(Qt::ISODate), m_statistics.lastDay().toString(Qt::ISODate));
    }
    return QString();
}

QDate PeriodReport::defaultDay(const ProjectDocument &project, const QTimeZone &zone,
                               const QDate &today)
{
    const QString format = QStringLiteral("yyyy-MM-dd hh:mm:ss");
    const QDateTime started = QDateTime::fromString(project.recordStartTime, format);
    const QDateTime stopped = QDateTime::fromString(project.recordStopTime, format);
    if (stopped.isValid() && !(started.isValid() && started > stopped))
        return stopped.date();
    RecordReader reader;
    qint64 first = 0;
    qint64 last = 0;
    if (QFileInfo::exists(project.databasePath()) && reader.open(project.databasePath()) &&
        reader.timeBounds(&first, &last))
        return QDateTime::fromSecsSinceEpoch(last, zone).date();
    return today;
}

QSet<QDate> PeriodReport::daysWithData(const QString &databasePath, const QDate &first,
                                       const QDate &last, const QTimeZone &zone)
{
    QSet<QDate> days;
    RecordReader reader;
    if (!QFileInfo::exists(databasePath) || !reader.open(databasePath))
        return days;
    // A search per day over the ids: a few lookups whatever the file's size.
    reader.setTimeOrdered(true);
    for (QDate day = first; day <= last; day = day.addDays(1)) {
        const qint64 from = QDateTime(day, QTime(0, 0), zone).toSecsSinceEpoch();
        const qint64 to = QDateTime(day.addDays(1), QTime(0, 0), zone).toSecsSinceEpoch() - 1;
        qint64 firstId = 0;
        qint64 lastId = 0;
        if (reader.idRangeForTime(from, to, &firstId, &lastId))
            days.insert(day);
    }
    return days;
}

QDate PeriodReport::weekStart(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d{4})-W(\\d{2})$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return QDate();
    const int year = match.captured(1).toInt();
    const int week = match.captured(2).toInt();
    const QDate january4(year, 1, 4); // always in week 1
    const QDate monday = january4.addDays(1 - january4.dayOfWeek()).addDays(7 * (week - 1));
    int weekYear = 0;
    if (week < 1 || monday.weekNumber(&weekYear) != week || weekYear != year)
        return QDate();
    return monday;
}

QDate PeriodReport::monthStart(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^\\d{4}-\\d{2}$"));
    if (!pattern.match(text).hasMatch())
        return QDate();
    return QDate::fromString(text + QStringLiteral("-01"), QStringLiteral("yyyy-MM-dd"));
}

QDate PeriodReport::periodStart(Kind kind, const QDate &day, int *days)
{
    switch (kind) {
    case Kind::Daily: *days = 1; return day;
    case Kind::Weekly: *days = 7; return day.addDays(1 - day.dayOfWeek());
    case Kind::Monthly:
    case Kind::Haccp: *days = day.daysInMonth(); return QDate(day.year(), day.month(), 1);
    }
    *days = 1;
    return day;
}

int PeriodReport::intervalFromData(RecordReader &reader, int projectMs)
{
    // The spacing of the first rows of the period tells the interval of an
    // old recording, whose project file may have been edited since.
    QVector<QPair<QByteArray, qint64>> times;
    reader.forEachRowInTime(m_statistics.windowStart(), m_statistics.windowEnd() - 1, {},
                            [&times](const RecordRow &row) {
                                if (row.channel1 != NoValue || row.channel2 != NoValue)
                                    times.append({row.serialNo, row.pointDate});
                                return times.size() < 400;
                            });
    const int spacing = PeriodStatistics::spacingOf(times);
    const int projectSeconds = projectMs / 1000;
    if (spacing <= 0)
        return projectMs > 0 ? projectMs : kDefaultDataIntervalMs;
    if (projectMs <= 0) {
        m_notes.append(QStringLiteral("The project file names no data interval: completeness "
                                      "counts the spacing of the data, %1 s.")
                           .arg(spacing));
        return spacing * 1000;
    }
    if (std::abs(spacing - projectSeconds) > std::max(1, projectSeconds / 4)) {
        m_notes.append(QStringLiteral("The project file names a data interval of %1 s but the "
                                      "data are spaced %2 s apart: completeness counts %2 s.")
                           .arg(projectSeconds)
                           .arg(spacing));
        return spacing * 1000;
    }
    return projectMs;
}

void PeriodReport::readContext(RecordContext &context)
{
    m_settingsChanges =
        context.settingsBetween(m_statistics.periodStart(), m_statistics.periodEnd() - 1);
    m_settingsFromRecord = !m_settingsChanges.isEmpty();
}

PeriodReport::Outcome PeriodReport::compute(Kind kind, const QDate &first, int days,
                                            const QTimeZone &zone, const QDateTime &now,
                                            QString *error, double mktEnergy)
{
    m_computed = false;
    m_kind = kind;
    m_generatedAt = now;
    m_notes.clear();
    m_settingsChanges.clear();
    m_events.clear();
    m_journal = RecordJournalVerdict();
    const QString databasePath = m_project.databasePath();
    if (!QFileInfo::exists(databasePath)) {
        *error = kNoDataFile;
        return Outcome::Failed;
    }
    RecordReader reader;
    if (!reader.open(databasePath)) {
        *error = reader.errorText();
        return Outcome::Failed;
    }
    RecordContext context(reader);
    // Where the clock went back is kept by the record file (for an old file
    // it is found once and kept in the user's cache): the reader knows.
    m_timeOrdered = reader.timeOrdered();
    if (reader.status() != RecordReader::Status::Ok) {
        *error = reader.errorText();
        return Outcome::Failed;
    }

    const qint64 nowSeconds = now.toSecsSinceEpoch();
    m_statistics.start(first, days, zone, m_project.dataInterval, nowSeconds, mktEnergy);
    if (context.hasSettings())
        readContext(context);
    int interval = m_project.dataInterval;
    if (m_settingsFromRecord) {
        interval = m_settingsChanges.first().intervalMs;
        m_notes.append(QStringLiteral("Limits and data interval as the record file kept them "
                                      "while recording."));
    } else {
        interval = intervalFromData(reader, m_project.dataInterval);
        m_notes.append(QStringLiteral("This record file keeps no settings of its own: limits and "
                                      "data interval are those of the project file as it is now."));
    }
    m_statistics.start(first, days, zone, interval, nowSeconds, mktEnergy);
    for (const ProjectDocument::Node &node : m_project.nodes()) {
        QVector<PeriodStatistics::Settings> settings;
        for (const RecordDeviceSettings &entry : m_settingsChanges) {
            if (entry.serialNo != node.deviceNumber)
                continue;
            PeriodStatistics::Settings s;
            s.from = entry.validFrom;
            s.intervalSeconds = std::max(1, entry.intervalMs / 1000);
            s.low[0] = entry.ch1Low;
            s.high[0] = entry.ch1High;
            s.low[1] = entry.ch2Low;
            s.high[1] = entry.ch2High;
            settings.append(s);
        }
        m_statistics.addDevice(node.deviceName, node.deviceNumber, node.ch1Name, node.ch1Unit,
                               unitDisplayText(node.ch1Unit, node.ch1Custom), node.ch1Min,
                               node.ch1Max, node.ch2Name, node.ch2Unit,
                               unitDisplayText(node.ch2Unit, node.ch2Custom), node.ch2Min,
                               node.ch2Max, settings);
    }
    const bool read = readRows(reader, error);
    if (!read)
        return Outcome::Failed;
    m_statistics.finish();
    m_events = context.alarmEvents(m_statistics.periodStart(), m_statistics.periodEnd() - 1);
    if (kind == Kind::Haccp)
        m_journal = context.verifyJournal();
    m_computed = true;
    qCDebug(lcReport).noquote() << "PeriodReport::compute :" << first.toString(Qt::ISODate) << days
                                << "days" << m_statistics.totalRows() << "rows";
    return hasData() ? Outcome::Done : Outcome::NoData;
}

bool PeriodReport::readRows(RecordReader &reader, QString *error)
{
    const QVector<QByteArray> serials = m_statistics.serials();
    const qint64 from = m_statistics.windowStart();
    const qint64 to = m_statistics.windowEnd() - 1;
    const auto sum = [this](const QVector<RecordSample> &block) {
        for (const RecordSample &sample : block)
            m_statistics.add(sample.serial, sample.pointDate, sample.channel1, sample.channel2);
        return true;
    };
    const auto visit = [&sum](QVector<RecordSample> &block) { return sum(block); };
    if (m_timeOrdered && m_useStretches) {
        switch (StretchReading::read(reader, m_statistics, error)) {
        case StretchReading::Outcome::Done: return true;
        case StretchReading::Outcome::Failed: return false;
        case StretchReading::Outcome::NotUsed: break;
        }
    }
    qint64 firstId = 0;
    qint64 lastId = 0;
    if (m_timeOrdered && reader.idRangeForTime(from, to, &firstId, &lastId) &&
        lastId - firstId + 1 >= m_rowsToSplit) {
        // Two halves read at once, each by a connection and a thread of its
        // own; the later half's figures are then taken after the earlier's.
        const qint64 middle = firstId + (lastId - firstId) / 2;
        PeriodStatistics later = m_statistics;
        later.startLater();
        const QString path = reader.path();
        QThreadPool pool;
        pool.setMaxThreadCount(1);
        QFuture<bool> second = QtConcurrent::run(&pool, [&]() {
            RecordReader own;
            return own.open(path) &&
                   own.forEachSampleInIds(middle + 1, lastId, serials,
                                          [&later](QVector<RecordSample> &block) {
                                              for (const RecordSample &sample : block)
                                                  later.add(sample.serial, sample.pointDate,
                                                            sample.channel1, sample.channel2);
                                              return later.appendable();
                                          });
        });
        const bool first = reader.forEachSampleInIds(firstId, middle, serials, visit);
        const bool secondRead = second.result();
        if (!first) {
            *error = reader.errorText();
            return false;
        }
        if (secondRead && later.appendable()) {
            m_statistics.append(later);
            return true;
        }
        // The later half could not be read on its own (or held back too
        // much): it is read again after the earlier one.
        if (!reader.forEachSampleInIds(middle + 1, lastId, serials, visit)) {
            *error = reader.errorText();
            return false;
        }
        return true;
    }
    if (reader.status() != RecordReader::Status::Ok) {
        *error = reader.errorText();
        return false;
    }
    // One thread steps through the file, this one sums up what it read.
    const bool read = SampleQueue::relay(
        [&reader, &serials, from, to](SampleQueue &queue) {
            return reader.forEachSampleInTime(from, to, serials,
                                              [&queue](QVector<RecordSample> &block) {
                                                  queue.push(block);
                                                  return true;
                                              });
        },
        [&sum](const QVector<RecordSample> &block) { sum(block); });
    if (!read)
        *error = reader.errorText();
    return read;
}

const RecordAlarmEvent *PeriodReport::eventFor(const QByteArray &serial, int channel,
                                               const PeriodStatistics::Excursion &excursion) const
{
    const qint64 slack = 3 * qint64(m_statistics.intervalSeconds());
    for (const RecordAlarmEvent &event : m_events) {
        if (event.channel != channel || event.serialNo.toUtf8() != serial)
            continue;
        const bool startsNear =
            event.start >= excursion.start - slack && event.start <= excursion.end + slack;
        const bool runsFromBefore = excursion.fromBefore && event.start < excursion.start &&
                                    (event.isOpen() || event.end >= excursion.start);
        if (startsNear || runsFromBefore)
            return &event;
    }
    return nullptr;
}
