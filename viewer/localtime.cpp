#include "viewer/localtime.h"

#include <QDateTime>
#include <QVector>

#include <algorithm>

bool LocalTime::parse(const QString &text, qint64 *seconds, bool latest, QString *note)
{
    // Date and clock apart: read as local time, one the clocks skipped
    // would be refused without a word.
    const QDate date = QDate::fromString(text.trimmed().left(10), QStringLiteral("yyyy-MM-dd"));
    const QTime clock = QTime::fromString(text.trimmed().mid(11), QStringLiteral("hh:mm:ss"));
    if (text.trimmed().size() != 19 || !date.isValid() || !clock.isValid())
        return false;
    // The wall-clock time read as UTC, less each offset in force around it:
    // the instants whose local time is the one written (none, one or two).
    const qint64 wall = QDateTime(date, clock, Qt::UTC).toSecsSinceEpoch();
    QVector<qint64> instants;
    for (const qint64 probe : {wall - 86400, wall + 86400}) {
        const int offset = QDateTime::fromSecsSinceEpoch(probe, Qt::LocalTime).offsetFromUtc();
        const qint64 instant = wall - offset;
        if (QDateTime::fromSecsSinceEpoch(instant, Qt::LocalTime).offsetFromUtc() == offset &&
            !instants.contains(instant))
            instants.append(instant);
    }
    std::sort(instants.begin(), instants.end());
    const QString shown = text.trimmed();
    if (instants.isEmpty()) {
        if (note)
            *note = QStringLiteral("%1 does not exist in local time: the clocks skipped it when "
                                   "summer time began")
                        .arg(shown);
        return false;
    }
    *seconds = latest ? instants.constLast() : instants.constFirst();
    if (instants.size() > 1 && note) {
        const QDateTime chosen = QDateTime::fromSecsSinceEpoch(*seconds, Qt::LocalTime);
        *note = QStringLiteral("%1 occurs twice in local time (the clocks went back); the %2 one, "
                               "%3, is taken")
                    .arg(shown, latest ? QStringLiteral("later") : QStringLiteral("earlier"),
                         chosen.toOffsetFromUtc(chosen.offsetFromUtc()).toString(Qt::ISODate));
    }
    return true;
}
