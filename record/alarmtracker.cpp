#include "record/alarmtracker.h"

#include "common/common.h"
#include "record/insertserialdata.h"
#include "record/recordjournal.h"

#include <QHash>
#include <QRandomGenerator>

int AlarmTracker::s_openCount = 0;

namespace
{

struct OpenEvent {
    RecordAlarmEvent event;
    qint64 worstWrittenAt = 0;
    double worstWritten = 0;
};

// Open events by device and channel. GUI thread only.
QHash<QString, OpenEvent> &openByChannel()
{
    static QHash<QString, OpenEvent> events;
    return events;
}

// Acknowledgements and verifications of this run, by token.
QHash<qint64, RecordAlarmEvent> &noted()
{
    static QHash<qint64, RecordAlarmEvent> events;
    return events;
}

QString channelKey(const QString &serial, int channel)
{
    return serial + QLatin1Char('\n') + QString::number(channel);
}

RecordContextOp eventOp(RecordContextOp::Kind kind, const RecordAlarmEvent &event, qint64 time)
{
    RecordContextOp op;
    op.kind = kind;
    op.token = event.token;
    op.serialNo = event.serialNo;
    op.channel = event.channel;
    op.high = event.high;
    op.limit = event.limit;
    op.time = time;
    op.worst = event.worst;
    return op;
}

void closeEvent(OpenEvent &open, qint64 time)
{
    InsertSerialData::appendContext(eventOp(RecordContextOp::Kind::EventClose, open.event, time));
    qCDebug(lcRecord).noquote() << "AlarmTracker : event ended" << open.event.serialNo << "CH"
                                << open.event.channel << "worst" << open.event.worst;
}

} // namespace

void AlarmTracker::trackSample(const QString &serial, int channel, double value, bool inAlarm,
                               double low, double high, qint64 time)
{
    auto &events = openByChannel();
    const QString key = channelKey(serial, channel);
    auto it = events.find(key);
    const bool above = inAlarm && value > high;
    if (it != events.end() && (!inAlarm || it->event.high != above)) {
        // Back inside, no value, or straight across to the other limit.
        closeEvent(*it, time);
        events.erase(it);
        --s_openCount;
        it = events.end();
    }
    if (!inAlarm)
        return;
    if (it == events.end()) {
        OpenEvent open;
        RecordAlarmEvent &event = open.event;
        event.token = qint64(QRandomGenerator::global()->generate64() >> 2) + 1;
        event.serialNo = serial;
        event.channel = channel;
        event.high = above;
        event.limit = above ? high : low;
        event.start = time;
        event.worst = value;
        open.worstWrittenAt = time;
        open.worstWritten = value;
        InsertSerialData::appendContext(eventOp(RecordContextOp::Kind::EventOpen, event, time));
        qCDebug(lcRecord).noquote() << "AlarmTracker : event started" << serial << "CH" << channel
                                    << (above ? "above" : "below") << event.limit;
        events.insert(key, open);
        ++s_openCount;
        return;
    }
    RecordAlarmEvent &event = it->event;
    if (above ? value > event.worst : value < event.worst)
        event.worst = value;
    if (event.worst != it->worstWritten && time - it->worstWrittenAt >= kWorstWriteSeconds) {
        InsertSerialData::appendContext(eventOp(RecordContextOp::Kind::EventUpdate, event, time));
        it->worstWritten = event.worst;
        it->worstWrittenAt = time;
    }
}

void AlarmTracker::closeAll(qint64 time)
{
    auto &events = openByChannel();
    for (OpenEvent &open : events)
        closeEvent(open, time);
    events.clear();
    s_openCount = 0;
}

bool AlarmTracker::isSilenced(const QString &serial, int channel)
{
    if (s_openCount == 0)
        return false;
    const auto it = openByChannel().constFind(channelKey(serial, channel));
    return it != openByChannel().constEnd() && noted().contains(it->event.token) &&
           noted().value(it->event.token).isAcknowledged();
}

QVector<RecordAlarmEvent> AlarmTracker::openEvents()
{
    QVector<RecordAlarmEvent> events;
    for (const OpenEvent &open : qAsConst(openByChannel()))
        events.append(open.event);
    addPending(&events);
    return events;
}

void AlarmTracker::acknowledge(qint64 token, const QString &by, const QString &action, qint64 at)
{
    RecordAlarmEvent &event = noted()[token];
    event.ackBy = by;
    event.ackAt = at;
    event.action = action;
    RecordContextOp op;
    op.kind = RecordContextOp::Kind::Acknowledge;
    op.token = token;
    op.time = at;
    op.person = by;
    op.text = action;
    InsertSerialData::appendContext(op);
}

void AlarmTracker::verify(qint64 token, const QString &by, const QString &remark, qint64 at)
{
    RecordAlarmEvent &event = noted()[token];
    event.verifiedBy = by;
    event.verifiedAt = at;
    event.remark = remark;
    RecordContextOp op;
    op.kind = RecordContextOp::Kind::Verify;
    op.token = token;
    op.time = at;
    op.person = by;
    op.text = remark;
    InsertSerialData::appendContext(op);
}

void AlarmTracker::addPending(QVector<RecordAlarmEvent> *events)
{
    for (RecordAlarmEvent &event : *events) {
        const auto it = noted().constFind(event.token);
        if (it == noted().constEnd())
            continue;
        if (!event.isAcknowledged() && it->isAcknowledged()) {
            event.ackBy = it->ackBy;
            event.ackAt = it->ackAt;
            event.action = it->action;
        }
        if (event.verifiedBy.isEmpty() && !it->verifiedBy.isEmpty()) {
            event.verifiedBy = it->verifiedBy;
            event.verifiedAt = it->verifiedAt;
            event.remark = it->remark;
        }
    }
}

void AlarmTracker::reset()
{
    openByChannel().clear();
    noted().clear();
    s_openCount = 0;
}
