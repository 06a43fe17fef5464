#include "report/stretchreading.h"

#include <QHash>
#include <QVector>

#include <functional>

#include "common/common.h"
#include "record/recordreader.h"
#include "record/recordstretches.h"
#include "report/periodstatistics.h"

StretchReading::Outcome StretchReading::read(RecordReader &reader, PeriodStatistics &statistics,
                                             QString *error)
{
    constexpr qint64 span = RecordStretches::kSeconds;
    const qint64 periodStart = statistics.periodStart();
    const qint64 first = RecordStretches::stretchOf(periodStart + span - 1);
    const qint64 end = RecordStretches::stretchOf(statistics.periodEnd());
    const int count = int(std::max<qint64>(0, (end - first) / span));
    QVector<RecordStretch> stretches;
    QString loadError;
    if (count == 0 || !RecordStretches::load(reader.handle(), first, end, &stretches, &loadError)) {
        if (!loadError.isEmpty())
            qCWarning(lcReport).noquote()
                << "StretchReading : stretch figures not read:" << loadError;
        return Outcome::NotUsed;
    }
    const QVector<QByteArray> serials = statistics.serials();
    QHash<QByteArray, int> indexOf;
    for (int i = 0; i < serials.size(); ++i)
        indexOf.insert(serials.at(i), i);

    // Per stretch of the period: 0 no figures, 1 every figure usable, 2 rows
    // needed; and the rows the figures count, all devices together.
    QVector<char> state(count, 0);
    QVector<qint64> rowsBefore(count + 1, 0);
    QVector<int> deviceOf(stretches.size(), -1);
    int usable = 0;
    for (int i = 0; i < stretches.size(); ++i) {
        const RecordStretch &stretch = stretches.at(i);
        const int slot = int((stretch.start - first) / span);
        const int index = indexOf.value(stretch.serial, -1);
        deviceOf[i] = index;
        rowsBefore[slot + 1] += stretch.rows;
        if (index >= 0 && !statistics.stretchUsable(index, stretch))
            state[slot] = 2;
        else if (state.at(slot) == 0)
            state[slot] = 1;
    }
    for (int slot = 0; slot < count; ++slot) {
        usable += state.at(slot) == 1 ? 1 : 0;
        rowsBefore[slot + 1] += rowsBefore.at(slot);
    }
    // Mostly rows to read: one pass over them all, on two cores, is faster.
    if (usable * 2 < count)
        return Outcome::NotUsed;

    const auto feed = [&statistics](QVector<RecordSample> &block) {
        for (const RecordSample &sample : block)
            statistics.add(sample.serial, sample.pointDate, sample.channel1, sample.channel2);
        return true;
    };
    qint64 cursor = statistics.windowStart(); // rows before it are taken
    const auto readUpTo = [&](qint64 to) {
        if (to <= cursor)
            return true;
        const bool ok = reader.forEachSampleInTime(cursor, to - 1, serials, feed);
        cursor = to;
        if (!ok)
            *error = reader.errorText();
        return ok;
    };
    int next = 0; // the first stretch figure not yet taken or passed
    const auto take = [&](int to) {
        const qint64 toTime = first + to * span;
        while (next < stretches.size() && stretches.at(next).start < toTime) {
            const int index = deviceOf.at(next);
            if (index >= 0)
                statistics.addStretch(index, stretches.at(next));
            else
                statistics.addForeignRows(stretches.at(next).rows);
            ++next;
        }
        cursor = toTime;
    };
    const auto skipTo = [&](qint64 time) {
        while (next < stretches.size() && stretches.at(next).start < time)
            ++next;
    };
    // A run of usable stretches is taken when the file holds exactly the
    // rows their figures count; else its halves are looked at, down to
    // single stretches, whose rows are then read.
    std::function<bool(int, int)> run = [&](int from, int to) {
        const qint64 fromTime = first + from * span;
        const qint64 toTime = first + to * span;
        qint64 firstId = 0;
        qint64 lastId = 0;
        const qint64 inFile = reader.idRangeForTime(fromTime, toTime - 1, &firstId, &lastId)
                                  ? lastId - firstId + 1
                                  : 0;
        if (inFile == rowsBefore.at(to) - rowsBefore.at(from)) {
            if (!readUpTo(fromTime))
                return false;
            skipTo(fromTime);
            take(to);
            return true;
        }
        if (to - from == 1)
            return true; // read with the rows after it
        const int middle = from + (to - from) / 2;
        return run(from, middle) && run(middle, to);
    };
    for (int slot = 0; slot < count;) {
        if (state.at(slot) != 1) {
            ++slot;
            continue;
        }
        int to = slot;
        while (to < count && state.at(to) == 1)
            ++to;
        if (!run(slot, to))
            return Outcome::Failed;
        slot = to;
    }
    if (!readUpTo(statistics.windowEnd()))
        return Outcome::Failed;
    qCDebug(lcReport).noquote() << "StretchReading :" << usable << "of" << count
                                << "stretches taken from their figures";
    return Outcome::Done;
}
