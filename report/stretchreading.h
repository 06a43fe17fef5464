#pragma once

#include <QString>

class PeriodStatistics;
class RecordReader;

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
};
