#include "common/common.h"

int dataIntervalMs = kDefaultDataIntervalMs;

const int kDataIntervals[6] = {1000, 5000, 10000, 60000, 300000, 600000};

QString intervalText(int ms)
{
    switch (ms) {
    case 1000: return QStringLiteral("1 sec");
    case 5000: return QStringLiteral("5 sec");
    case 10000: return QStringLiteral("10 sec");
    case 60000: return QStringLiteral("1 min");
    case 300000: return QStringLiteral("5 min");
    case 600000: return QStringLiteral("10 min");
    default: return QString();
    }
}

bool isValidDataInterval(int ms)
{
    return !intervalText(ms).isEmpty();
}

QString unitDisplayText(int unitCode, const QString &customUnit)
{
    switch (unitCode) {
    case 1: return QString(QChar(0x00B0)) + QLatin1Char('C');
    case 2: return QString(QChar(0x00B0)) + QLatin1Char('F');
    case 3: return QStringLiteral("%RH");
    case 4: return customUnit;
    default: return QString();
    }
}

Q_LOGGING_CATEGORY(lcApp, "quillark.app", QtWarningMsg)
Q_LOGGING_CATEGORY(lcProject, "quillark.project", QtWarningMsg)
Q_LOGGING_CATEGORY(lcDevice, "quillark.device", QtWarningMsg)
Q_LOGGING_CATEGORY(lcRecord, "quillark.record", QtWarningMsg)
Q_LOGGING_CATEGORY(lcView, "quillark.view", QtWarningMsg)
Q_LOGGING_CATEGORY(lcCommon, "quillark.common", QtWarningMsg)
Q_LOGGING_CATEGORY(lcChart, "quillark.chart", QtWarningMsg)
Q_LOGGING_CATEGORY(lcViewer, "quillark.viewer", QtWarningMsg)
Q_LOGGING_CATEGORY(lcReport, "quillark.report", QtWarningMsg)
Q_LOGGING_CATEGORY(lcForward, "quillark.forward", QtWarningMsg)
