#pragma once

// One rule, in every program, for whether a channel has alarm limits: a
// channel is watched when its low limit lies below its high limit. Equal
// limits (the default 0/0 of a new device) mean "no alarm"; the sensing
// option dialog refuses a low limit above the high one, and a file that
// holds one anyway is read as "no alarm" everywhere.
inline bool hasAlarmLimits(double low, double high)
{
    return low < high;
}
