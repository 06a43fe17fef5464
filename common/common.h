#pragma once

#include <QLoggingCategory>
#include <QString>

// Names and constants shared by every part of the program.

inline const QString kAppName = QStringLiteral("Quillark Lite Modbus");
inline const QString kAppVersion = QStringLiteral("V1.03");
inline const QString kSettingsOrganisation = QStringLiteral("QuillarkLite");

// A missing reading in histories, alarm checks, chart arrays and queued rows.
// Compared by exact equality.
constexpr double NoValue = 1.7e308;

// The data interval in milliseconds, shared by the whole process. 10000 at
// start-up and again after a project is closed.
extern int dataIntervalMs;
constexpr int kDefaultDataIntervalMs = 10000;

// The six allowed intervals, shortest first.
extern const int kDataIntervals[6];

// "1 sec", "5 sec", "10 sec", "1 min", "5 min", "10 min"; empty for any other value.
QString intervalText(int ms);
// True for one of the six allowed intervals.
bool isValidDataInterval(int ms);

// Text shown for a channel's unit code: 1 degrees Celsius, 2 degrees Fahrenheit,
// 3 "%RH", 4 the user's own unit text; any other code shows nothing.
QString unitDisplayText(int unitCode, const QString &customUnit);

// One logging category per folder. Only warnings and above are shown by
// default (the program runs for weeks); the step-by-step debug lines of an
// area are turned on with QT_LOGGING_RULES, e.g. "quillark.device.debug=true".
Q_DECLARE_LOGGING_CATEGORY(lcApp)
Q_DECLARE_LOGGING_CATEGORY(lcProject)
Q_DECLARE_LOGGING_CATEGORY(lcDevice)
Q_DECLARE_LOGGING_CATEGORY(lcRecord)
Q_DECLARE_LOGGING_CATEGORY(lcView)
Q_DECLARE_LOGGING_CATEGORY(lcCommon)
Q_DECLARE_LOGGING_CATEGORY(lcChart)
Q_DECLARE_LOGGING_CATEGORY(lcViewer)
Q_DECLARE_LOGGING_CATEGORY(lcReport)
Q_DECLARE_LOGGING_CATEGORY(lcForward)
