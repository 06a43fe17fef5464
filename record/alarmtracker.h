#pragma once

#include "record/recordcontext.h"

#include <QString>
#include <QVector>

// The recorder's alarm events as they happen, on the window's thread.
//
// Fed with every recorded sample of every channel together with the node's
// own alarm flag, it opens an event at the first sample outside the limits,
// follows its worst value and closes it at the first sample that is not
// outside (back inside, or without a value). Each change goes into the
// record file with the next batch of rows (InsertSerialData::appendContext).
//
// Events are kept only while recording: an alarm while nothing is recorded
// has no samples in the file to back it, so the alarm sounds but leaves no
// event. Stopping the recording closes the open events.
//
// A person acknowledges an event (the sound stops for that event alone while
// it lasts); a second person may verify it. Both are queued for the file the
// same way, and kept here for the window until the file shows them.
class AlarmTracker
{
public:
    // The worst value of an open event is written at most this often (in
    // sample seconds); its last value always goes with the end of the event.
    static constexpr qint64 kWorstWriteSeconds = 60;

    // One recorded sample of `channel` (1 or 2) of device `serial`; `inAlarm`
    // is the node's alarm flag for it, low/high the limits it was judged by.
    static void noteSample(const QString &serial, int channel, double value, bool inAlarm,
                           double low, double high, qint64 time)
    {
        if (inAlarm || s_openCount > 0)
            trackSample(serial, channel, value, inAlarm, low, high, time);
    }
    // Closes every open event at `time` (recording stopped).
    static void closeAll(qint64 time);
    // True when the channel's running event has been acknowledged: its
    // alarm no longer sounds.
    static bool isSilenced(const QString &serial, int channel);

    // The events open now (for the window, before the file shows them).
    static QVector<RecordAlarmEvent> openEvents();
    // Acknowledges / verifies the event with `token`.
    static void acknowledge(qint64 token, const QString &by, const QString &action, qint64 at);
    static void verify(qint64 token, const QString &by, const QString &remark, qint64 at);
    // Fills in acknowledgements and verifications made in this run that the
    // file does not show yet (still waiting to be written).
    static void addPending(QVector<RecordAlarmEvent> *events);
    // Forgets everything (a project closes; tests).
    static void reset();

private:
    static void trackSample(const QString &serial, int channel, double value, bool inAlarm,
                            double low, double high, qint64 time);
    static int s_openCount;
};
