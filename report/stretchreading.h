#pragma once

#include <QString>

class PeriodStatistics;
class RecordReader;
struct RecordStretch;

// Takes a period's figures from the stretch figures the recorder keeps,
// reading rows only where they cannot stand for them: a stretch with a
// reading outside the limits, a gap, a change of settings, the margins of
// the period, stretches the recorder did not sum up, and any stretch whose
// row count the file does not confirm (rows of another program). Each row
// is read at most once, in time order per device, so the figures come out
// as one pass over every row gives them.
//
// Only for a file whose rows are in time order.
class StretchReading
{
public:
    enum class Outcome {
        Done,
        NotUsed, // too few stretches to take: nothing was fed, read the rows
        Failed,  // a read error (reason in *error) after figures were fed
    };
    static Outcome read(RecordReader &reader, PeriodStatistics &statistics, QString *error);

    // Whether the figures of a stretch (of the device at `index`) can stand
    // for its rows: it lies within a day and a chart column of the period,
    // under one set of settings, without a gap, and its readings lie all
    // inside the limits or all beyond one of them (without a row lacking a
    // reading among them). Then take() takes it as the statistics would
    // take its rows one by one, whatever came before.
    static bool usable(const PeriodStatistics &statistics, int index, const RecordStretch &stretch);
    static void take(PeriodStatistics &statistics, int index, const RecordStretch &stretch);
};
