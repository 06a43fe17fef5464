#pragma once

#include <QString>

// Local times as people write them, "yyyy-MM-dd hh:mm:ss", where a change of
// summer time skips an hour of the clock (in spring) or shows one twice (in
// autumn). The command line and the window's time range read them alike and
// explain such an hour in the same words.
class LocalTime
{
public:
    // The text to Unix seconds; false when invalid or when the clocks
    // skipped that time (*note says so). A time the clocks showed twice is
    // taken at its first showing, or its last with `latest`, and *note says
    // which.
    static bool parse(const QString &text, qint64 *seconds, bool latest = false,
                      QString *note = nullptr);
};
