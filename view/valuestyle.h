#pragma once

#include <QString>

// The three looks of a value area, shared by the dashboard tiles and the chart
// view's value panels, as whole style sheets.
namespace ValueStyle
{

inline const QString kGrey = QStringLiteral(
    "background-color: qlineargradient(spread:pad, x1:0.372222, y1:0.46, x2:1, y2:1, "
    "stop:0 rgba(80, 80, 80, 255), stop:1 rgba(125, 125, 125, 255));");
inline const QString kNormal = QStringLiteral(
    "background-color: qlineargradient(spread:pad, x1:0.372222, y1:0.46, x2:1, y2:1, "
    "stop:0 rgba(24, 68, 76, 255), stop:1 rgba(43, 132, 130, 255));");
// A channel whose sensor sent no value (an empty block, NaN): dark amber,
// the usual colour of "attention, the measurement itself is bad". It must
// not read as "in range" (teal), as an alarm (crimson: the value is not out
// of range, there is none) or as a lost link (grey: the gateway answers).
// Light text on it keeps a contrast above 4.5:1.
inline const QString kNoData = QStringLiteral(
    "background-color: qlineargradient(spread:pad, x1:0.372222, y1:0.46, x2:1, y2:1, "
    "stop:0 rgba(92, 60, 12, 255), stop:1 rgba(138, 90, 20, 255));");
inline const QString kNoDataText = QStringLiteral("no data");

inline const QString kAlarm = QStringLiteral(
    "background-color: qlineargradient(spread:pad, x1:0.372222, y1:0.46, x2:1, y2:1, "
    "stop:0 rgba(145, 27, 66, 255), stop:1 rgba(181, 69, 96, 255));");

} // namespace ValueStyle
