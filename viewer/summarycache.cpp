#include "viewer/summarycache.h"

#include "common/common.h"
#include "record/recordrowcursor.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>
#include <cstring>
#include <limits>
#include <thread>

namespace
{

constexpr quint32 kMagic = 0x514b5355; // "QKSU"
constexpr qint32 kVersion = 2;         // 2: blocks start on 8-byte boundaries, to be mapped

qint64 floorDiv(qint64 a, qint64 b)
{
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

void addToBucket(SummaryCache::Bucket &bucket, int offset, double value)
{
    const float v = float(value);
    if (bucket.count == 0) {
        bucket.min = bucket.max = v;
        bucket.minAt = bucket.maxAt = bucket.first = bucket.last = quint16(offset);
        bucket.sum = value;
        bucket.count = 1;
        return;
    }
    if (v < bucket.min) {
        bucket.min = v;
        bucket.minAt = quint16(offset);
    }
    if (v > bucket.max) {
        bucket.max = v;
        bucket.maxAt = quint16(offset);
    }
    bucket.first = std::min<quint16>(bucket.first, quint16(offset));
    bucket.last = std::max<quint16>(bucket.last, quint16(offset));
    bucket.sum += value;
    ++bucket.count;
}

} // namespace

SummaryCache::SummaryCache(const QString &databasePath)
    : m_databasePath(QFileInfo(databasePath).absoluteFilePath()),
      m_cacheFile(cacheFileFor(databasePath))
{
}

SummaryCache::~SummaryCache() = default;

QString SummaryCache::cacheFileFor(const QString &databasePath)
{
    const QString absolute = QFileInfo(databasePath).absoluteFilePath();
    const QByteArray key =
        QCryptographicHash::hash(absolute.toUtf8(), QCryptographicHash::Sha1).toHex();
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    return folder + QStringLiteral("/summary-") + QString::fromLatin1(key.left(20)) +
           QStringLiteral(".qks");
}

void SummaryCache::clear()
{
    m_series.clear();
    if (m_mapFile && m_map)
        m_mapFile->unmap(m_map);
    m_map = nullptr;
    m_mapFile.reset();
    m_hint = 0;
    m_lastId = 0;
    m_lastTime = 0;
    m_lastSerial.clear();
    m_rows = 0;
    m_firstTime = 0;
    m_order = RecordReader::TimeOrderState();
}

int SummaryCache::seriesIndex(const char *serial, int length)
{
    // Series come in pairs (channel 1, channel 2) and rows device after
    // device: the pair after the last one found is the best guess.
    const int pairs = int(m_series.size()) / 2;
    for (int k = 0; k < pairs; ++k) {
        const int i = 2 * ((m_hint + k) % pairs);
        const QByteArray &known = m_series[size_t(i)]->serial;
        if (known.size() == length && std::memcmp(known.constData(), serial, size_t(length)) == 0) {
            m_hint = i / 2 + 1;
            return i;
        }
    }
    for (int channel = 1; channel <= 2; ++channel) {
        auto series = std::make_unique<Series>();
        series->serial = QByteArray(serial, length);
        series->channel = channel;
        m_series.push_back(std::move(series));
    }
    m_hint = 0;
    return 2 * pairs;
}

SummaryCache::DayBlock *SummaryCache::blockFor(Series &series, qint64 day)
{
    if (series.cachedBlock && series.cachedDay == day)
        return series.cachedBlock;
    // Leaving a day: its hours are made from its minutes.
    if (series.cachedBlock)
        finishHours(*series.cachedBlock);
    auto &slot = series.days[day];
    if (!slot)
        slot = newBlock();
    series.cachedBlock = slot.get();
    series.cachedDay = day;
    return series.cachedBlock;
}

void SummaryCache::finishHours(DayBlock &block)
{
    for (int h = 0; h < 24; ++h) {
        Bucket hour;
        for (int m = 0; m < 60; ++m) {
            const Bucket &minute = block.minutes[h * 60 + m];
            hour.flags |= minute.flags;
            if (minute.count == 0)
                continue;
            const int offset = m * 60;
            if (hour.count == 0) {
                hour.min = minute.min;
                hour.max = minute.max;
                hour.minAt = quint16(offset + minute.minAt);
                hour.maxAt = quint16(offset + minute.maxAt);
                hour.first = quint16(offset + minute.first);
            } else {
                if (minute.min < hour.min) {
                    hour.min = minute.min;
                    hour.minAt = quint16(offset + minute.minAt);
                }
                if (minute.max > hour.max) {
                    hour.max = minute.max;
                    hour.maxAt = quint16(offset + minute.maxAt);
                }
            }
            hour.last = quint16(offset + minute.last);
            hour.sum += minute.sum;
            hour.count += minute.count;
        }
        block.hours[h] = hour;
    }
}

void SummaryCache::finishAllHours()
{
    for (const auto &s : m_series) {
        if (s->cachedBlock)
            finishHours(*s->cachedBlock);
    }
}

void SummaryCache::addValue(Series &series, qint64 time, double value, bool isNull)
{
    const qint64 day = floorDiv(time, 86400);
    DayBlock *block = blockFor(series, day);
    const int second = int(time - day * 86400);
    Bucket &minute = block->minutes[second / 60];
    if (isNull) {
        minute.flags |= kHasGap;
        return;
    }
    addToBucket(minute, second % 60, value);
}

qint64 SummaryCache::update(RecordReader &reader, qint64 maxRows)
{
    return scan(reader, m_lastId, std::numeric_limits<qint64>::max(), maxRows, nullptr, nullptr);
}

qint64 SummaryCache::scan(RecordReader &reader, qint64 afterId, qint64 upToId, qint64 maxRows,
                          std::atomic<qint64> *progress, const std::atomic<bool> *cancel)
{
    if (!reader.isOpen() || (cancel && cancel->load()))
        return -1;
    RecordRowCursor rows(reader);
    if (!rows.selectIds(afterId, upToId, maxRows)) {
        qCWarning(lcViewer) << "SummaryCache::update :" << qPrintable(rows.errorText());
        return -1;
    }
    constexpr qint64 kProgressRows = 65536;
    qint64 added = 0;
    qint64 previous = m_rows > 0 || m_lastId > 0 ? m_lastTime : std::numeric_limits<qint64>::min();
    qint64 previousId = m_lastId;
    bool cancelled = false;
    while (rows.next()) {
        const qint64 id = rows.id();
        const char *serial = rows.serial();
        const int length = rows.serialLength();
        const qint64 time = rows.pointDate();
        const int pair = seriesIndex(serial, length);
        for (int channel = 1; channel <= 2; ++channel) {
            const bool isNull = rows.channelIsNull(channel);
            addValue(*m_series[size_t(pair + channel - 1)], time,
                     isNull ? 0 : rows.channel(channel), isNull);
        }
        if (added == 0 && m_rows == 0)
            m_firstTime = time;
        if (!m_order.broken) {
            if (time < previous) {
                m_order.broken = true;
                m_order.orderedUpTo = previousId;
            } else {
                m_order.orderedUpTo = id;
            }
        }
        previous = time;
        previousId = id;
        ++added;
        m_lastId = id;
        m_lastTime = time;
        if (!rows.serialIsNull())
            m_lastSerial = QByteArray(serial, length);
        if (added % kProgressRows == 0) {
            if (progress)
                progress->fetch_add(kProgressRows, std::memory_order_relaxed);
            if (cancel && cancel->load(std::memory_order_relaxed)) {
                cancelled = true;
                break;
            }
        }
    }
    finishAllHours();
    if (progress)
        progress->fetch_add(added % kProgressRows, std::memory_order_relaxed);
    if (cancelled || rows.failed()) {
        if (!cancelled)
            qCWarning(lcViewer) << "SummaryCache::update :" << qPrintable(rows.errorText());
        return -1;
    }
    m_order.checkedId = m_lastId;
    m_order.lastTime = m_lastTime;
    m_rows += added;
    qCDebug(lcViewer) << "SummaryCache::update : rows" << added << "up to id" << m_lastId;
    return added;
}

qint64 SummaryCache::build(qint64 upToId, int threads, std::atomic<qint64> *progress,
                           const std::atomic<bool> *cancel, QString *error)
{
    clear();
    threads = std::max(1, threads);
    // Each part reads its own id range through its own connection; the
    // parts are then joined in id order.
    std::vector<std::unique_ptr<SummaryCache>> parts;
    std::vector<qint64> results(static_cast<size_t>(threads), 0);
    std::vector<QString> errors(static_cast<size_t>(threads));
    for (int i = 0; i < threads; ++i)
        parts.push_back(std::make_unique<SummaryCache>(m_databasePath));
    auto work = [&](int i) {
        const qint64 afterId = upToId * i / threads;
        const qint64 lastId = upToId * (i + 1) / threads;
        RecordReader reader;
        if (!reader.open(m_databasePath)) {
            errors[size_t(i)] = reader.errorText();
            results[size_t(i)] = -1;
            return;
        }
        results[size_t(i)] = parts[size_t(i)]->scan(reader, afterId, lastId, 0, progress, cancel);
        if (results[size_t(i)] < 0)
            errors[size_t(i)] = reader.errorText();
    };
    std::vector<std::thread> workers;
    for (int i = 1; i < threads; ++i)
        workers.emplace_back(work, i);
    work(0);
    for (std::thread &worker : workers)
        worker.join();
    qint64 total = 0;
    for (int i = 0; i < threads; ++i) {
        if (results[size_t(i)] < 0) {
            if (error)
                *error = errors[size_t(i)];
            clear();
            return -1;
        }
        total += results[size_t(i)];
        if (results[size_t(i)] > 0)
            append(*parts[size_t(i)]);
    }
    m_order.checkedId = m_lastId;
    return total;
}

void SummaryCache::append(SummaryCache &later)
{
    // The time order runs on across the join unless the later part starts
    // before this one ends.
    if (m_rows == 0) {
        m_order = later.m_order;
        m_firstTime = later.m_firstTime;
    } else if (!m_order.broken) {
        if (later.m_firstTime < m_lastTime) {
            m_order.broken = true;
        } else {
            m_order.broken = later.m_order.broken;
            m_order.orderedUpTo = later.m_order.orderedUpTo;
        }
    }
    m_order.lastTime = later.m_lastTime;
    for (size_t i = 0; i + 1 < later.m_series.size(); i += 2) {
        const QByteArray &serial = later.m_series[i]->serial;
        const int pair = seriesIndex(serial.constData(), serial.size());
        for (int channel = 0; channel < 2; ++channel) {
            Series &into = *m_series[size_t(pair + channel)];
            for (auto &day : later.m_series[i + size_t(channel)]->days) {
                auto &slot = into.days[day.first];
                if (!slot) {
                    slot = std::move(day.second);
                    continue;
                }
                for (int m = 0; m < 1440; ++m)
                    joinBucket(slot->minutes[m], day.second->minutes[m]);
                finishHours(*slot);
            }
            into.cachedBlock = nullptr;
        }
    }
    m_lastId = later.m_lastId;
    m_lastTime = later.m_lastTime;
    if (!later.m_lastSerial.isEmpty())
        m_lastSerial = later.m_lastSerial;
    m_rows += later.m_rows;
    later.clear();
}

void SummaryCache::joinBucket(Bucket &into, const Bucket &later)
{
    if (later.count == 0) {
        into.flags |= later.flags;
        return;
    }
    if (into.count == 0) {
        const quint8 flags = into.flags | later.flags;
        into = later;
        into.flags = flags;
        return;
    }
    if (later.min < into.min) {
        into.min = later.min;
        into.minAt = later.minAt;
    }
    if (later.max > into.max) {
        into.max = later.max;
        into.maxAt = later.maxAt;
    }
    into.first = std::min(into.first, later.first);
    into.last = std::max(into.last, later.last);
    into.sum += later.sum;
    into.count += later.count;
    into.flags |= later.flags;
}

const SummaryCache::Series *SummaryCache::findSeries(const QString &serial, int channel) const
{
    const QByteArray key = serial.toUtf8();
    for (const auto &s : m_series) {
        if (s->channel == channel && s->serial == key)
            return s.get();
    }
    return nullptr;
}

void SummaryCache::forEachBucket(const QString &serial, int channel, Level level, qint64 from,
                                 qint64 to,
                                 const std::function<void(qint64, const Bucket &)> &visit) const
{
    const Series *series = findSeries(serial, channel);
    if (!series || to < from)
        return;
    const qint64 firstDay = floorDiv(from, 86400);
    const qint64 lastDay = floorDiv(to, 86400);
    const int size = int(level);
    for (auto it = series->days.lower_bound(firstDay);
         it != series->days.end() && it->first <= lastDay; ++it) {
        const qint64 dayStart = it->first * 86400;
        const Bucket *buckets = level == Minute ? it->second->minutes : it->second->hours;
        const int count = level == Minute ? 1440 : 24;
        int begin = 0;
        if (dayStart < from)
            begin = int(std::min<qint64>(count, (from - dayStart + size - 1) / size));
        for (int i = begin; i < count; ++i) {
            const qint64 start = dayStart + qint64(i) * size;
            if (start > to)
                break;
            const Bucket &bucket = buckets[i];
            if (bucket.count > 0 || bucket.flags)
                visit(start, bucket);
        }
    }
}

qint64 SummaryCache::memoryBytes() const
{
    qint64 bytes = 0;
    for (const auto &s : m_series)
        bytes += qint64(s->days.size()) * qint64(sizeof(DayBlock) + 48);
    return bytes;
}

bool SummaryCache::save() const
{
    QDir().mkpath(QFileInfo(m_cacheFile).absolutePath());
    QSaveFile file(m_cacheFile);
    if (!file.open(QIODevice::WriteOnly)) {
        qCWarning(lcViewer) << "SummaryCache::save :" << m_cacheFile << file.errorString();
        return false;
    }
    QDataStream out(&file);
    out << kMagic << kVersion << qint32(sizeof(DayBlock)) << m_databasePath << m_lastId
        << m_lastTime << m_lastSerial << m_rows << m_order.checkedId << m_order.lastTime
        << m_order.orderedUpTo << m_order.broken << qint32(m_series.size());
    for (const auto &s : m_series) {
        out << s->serial << qint32(s->channel) << qint32(s->days.size());
        for (const auto &day : s->days) {
            out << day.first;
            static const char padding[8] = {};
            if (const qint64 rest = file.pos() % 8)
                out.writeRawData(padding, int(8 - rest));
            out.writeRawData(reinterpret_cast<const char *>(day.second.get()),
                             int(sizeof(DayBlock)));
        }
    }
    if (out.status() != QDataStream::Ok || !file.commit()) {
        qCWarning(lcViewer) << "SummaryCache::save :" << m_cacheFile << file.errorString();
        return false;
    }
    return true;
}

bool SummaryCache::load(RecordReader &reader)
{
    clear();
    m_mapFile = std::make_unique<QFile>(m_cacheFile);
    QFile &file = *m_mapFile;
    if (!file.open(QIODevice::ReadOnly) ||
        !(m_map = file.map(0, file.size(), QFileDevice::MapPrivateOption))) {
        m_mapFile.reset();
        return false;
    }
    QDataStream in(&file);
    quint32 magic = 0;
    qint32 version = 0;
    qint32 blockSize = 0;
    QString path;
    in >> magic >> version >> blockSize >> path;
    if (magic != kMagic || version != kVersion || blockSize != qint32(sizeof(DayBlock)) ||
        path != m_databasePath) {
        clear();
        return false;
    }
    qint32 seriesCount = 0;
    in >> m_lastId >> m_lastTime >> m_lastSerial >> m_rows >> m_order.checkedId >>
        m_order.lastTime >> m_order.orderedUpTo >> m_order.broken >> seriesCount;
    if (in.status() != QDataStream::Ok || seriesCount < 0 || seriesCount > 4096) {
        clear();
        return false;
    }
    for (qint32 i = 0; i < seriesCount; ++i) {
        auto series = std::make_unique<Series>();
        qint32 channel = 0;
        qint32 days = 0;
        in >> series->serial >> channel >> days;
        if (in.status() != QDataStream::Ok || days < 0 ||
            qint64(days) * qint64(sizeof(DayBlock)) > file.size()) {
            clear();
            return false;
        }
        series->channel = channel;
        for (qint32 d = 0; d < days; ++d) {
            qint64 day = 0;
            in >> day;
            const qint64 offset = (file.pos() + 7) / 8 * 8;
            if (in.status() != QDataStream::Ok || offset + qint64(sizeof(DayBlock)) > file.size() ||
                !file.seek(offset + qint64(sizeof(DayBlock)))) {
                clear();
                return false;
            }
            series->days[day] =
                BlockPtr(reinterpret_cast<DayBlock *>(m_map + offset), BlockDeleter{false});
        }
        m_series.push_back(std::move(series));
    }
    // Series are kept in pairs: channel 1 then channel 2 of the same device.
    bool paired = m_series.size() % 2 == 0;
    for (size_t i = 0; paired && i < m_series.size(); i += 2)
        paired = m_series[i]->channel == 1 && m_series[i + 1]->channel == 2 &&
                 m_series[i]->serial == m_series[i + 1]->serial;
    if (in.status() != QDataStream::Ok || !paired) {
        clear();
        return false;
    }

    // The database must still hold the last row the summary saw, unchanged;
    // a file recorded anew at the same path gets a fresh summary.
    bool fits = m_lastId == 0;
    if (m_lastId > 0 && reader.isOpen()) {
        RecordRowCursor row(reader);
        if (row.selectIds(m_lastId - 1, m_lastId, 1) && row.next())
            fits = QByteArray(row.serial(), row.serialLength()) == m_lastSerial &&
                   row.pointDate() == m_lastTime;
    }
    if (!fits) {
        qCDebug(lcViewer) << "SummaryCache::load : cache does not fit" << m_databasePath;
        clear();
        return false;
    }
    return true;
}

QStringList SummaryCache::serials() const
{
    QStringList numbers;
    for (const auto &series : m_series) {
        const QString number = QString::fromUtf8(series->serial);
        if (!numbers.contains(number))
            numbers.append(number);
    }
    return numbers;
}

bool SummaryCache::timeBounds(qint64 *first, qint64 *last) const
{
    bool any = false;
    for (const auto &series : m_series) {
        if (series->days.empty())
            continue;
        const auto &earliest = *series->days.begin();
        for (int m = 0; m < 1440; ++m) {
            const Bucket &b = earliest.second->minutes[m];
            if (b.count > 0 || (b.flags & kHasGap)) {
                const qint64 t = earliest.first * 86400 + m * 60 + b.first;
                *first = any ? std::min(*first, t) : t;
                break;
            }
        }
        const auto &latest = *series->days.rbegin();
        for (int m = 1439; m >= 0; --m) {
            const Bucket &b = latest.second->minutes[m];
            if (b.count > 0 || (b.flags & kHasGap)) {
                const qint64 t = latest.first * 86400 + m * 60 + b.last;
                *last = any ? std::max(*last, t) : t;
                any = true;
                break;
            }
        }
    }
    return any;
}
