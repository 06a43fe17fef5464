#include "device/nodedevice.h"

#include "common/alarmlimits.h"

#include "chart/charttime.h"
#include "common/common.h"
#include "device/configureddevice.h"
#include "record/alarmtracker.h"
#include "record/insertserialdata.h"
#include "view/chartview.h"
#include "view/dashboarddeviceitem.h"
#include "view/projectlist.h"

#include <algorithm>
#include <cmath>
#include <cstring>

NodeDevice::NodeDevice(QString deviceNumber, QObject *parent)
    : QObject(parent), m_deviceNumber(deviceNumber),
      m_connection(qobject_cast<ConfiguredDevice *>(parent))
{
    std::fill(std::begin(m_timeHistory), std::end(m_timeHistory), NoValue);
    std::fill(std::begin(m_ch1History), std::end(m_ch1History), NoValue);
    std::fill(std::begin(m_ch2History), std::end(m_ch2History), NoValue);
}

NodeDevice::~NodeDevice()
{
    qCDebug(lcDevice).noquote() << m_deviceNumber + QStringLiteral(" deleted.");
}

QString NodeDevice::unitName(int code)
{
    switch (code) {
    case UnitUndefined: return QStringLiteral("Undefined");
    case UnitCelsius: return QStringLiteral("Temperature(C)");
    case UnitFahrenheit: return QStringLiteral("Temperature(F)");
    case UnitHumidity: return QStringLiteral("Humidity");
    case UnitCustom: return QStringLiteral("Custom");
    default: return QString();
    }
}

double NodeDevice::textValue(const QString &text)
{
    if (text.isEmpty())
        return NoValue;
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok ? value : NoValue;
}

bool NodeDevice::isNoData(const QString &text)
{
    const double value = textValue(text);
    return value == NoValue || !std::isfinite(value);
}

void NodeDevice::setData(QString ch1Text, QString ch2Text, QString lqiText, QString batteryText,
                         QDateTime time, bool refresh)
{
    qCDebug(lcDevice).noquote() << "NodeDevice::setData : " << m_deviceName
                                << " startAddress : " << startAddress << " ch1 : " << ch1Text
                                << " ch2 : " << ch2Text << " lqi : " << lqiText
                                << " bat : " << batteryText;
    m_ch1Text = ch1Text;
    m_ch2Text = ch2Text;
    m_lqiText = lqiText;
    m_batteryText = batteryText;

    const double value1 = textValue(m_ch1Text);
    const double value2 = textValue(m_ch2Text);
    qint64 seconds = 0;
    const double t = chartTimeOf(time, &seconds);
    m_hasSample = true;
    const bool noData1 = value1 == NoValue || !std::isfinite(value1);
    const bool noData2 = value2 == NoValue || !std::isfinite(value2);
    if (noData1 != m_ch1NoData)
        noteNoData(1, noData1, &m_ch1NoData);
    if (noData2 != m_ch2NoData)
        noteNoData(2, noData2, &m_ch2NoData);

    setCheckAlarmSet1(value1);
    setCheckAlarmSet2(value2);

    constexpr int newest = kHistorySize - 1;
    if (m_timeHistory[newest] != t) {
        constexpr size_t moved = sizeof(double) * newest;
        std::memmove(m_timeHistory, m_timeHistory + 1, moved);
        std::memmove(m_ch1History, m_ch1History + 1, moved);
        std::memmove(m_ch2History, m_ch2History + 1, moved);
        m_timeHistory[newest] = t;
    }
    m_ch1History[newest] = value1;
    m_ch2History[newest] = value2;

    showSample();
    emit liveSample(m_deviceNumber, value1, value2, seconds);

    if (m_record && !refresh) {
        // A channel with a value is stored as the gateway sent it (a float32
        // widened to double reads back to the same float32).
        const bool exact = m_hasExact;
        queueRecord(exact && !noData1 ? double(m_ch1Exact) : value1,
                    exact && !noData2 ? double(m_ch2Exact) : value2, seconds);
        // The alarm events follow the recorded samples and the alarm flags above.
        AlarmTracker::noteSample(m_deviceNumber, 1, value1, m_alarm1, m_ch1Min, m_ch1Max, seconds);
        AlarmTracker::noteSample(m_deviceNumber, 2, value2, m_alarm2, m_ch2Min, m_ch2Max, seconds);
    }
    m_hasExact = false;
}

void NodeDevice::setExactValues(float ch1, float ch2)
{
    m_ch1Exact = ch1;
    m_ch2Exact = ch2;
    m_hasExact = true;
}

double NodeDevice::chartTimeOf(const QDateTime &time, qint64 *unixSeconds)
{
    const qint64 msecs = time.toMSecsSinceEpoch();
    const qint64 seconds = msecs / 1000 - (msecs % 1000 < 0 ? 1 : 0);
    *unixSeconds = seconds;
    return chartTime2(seconds) + time.time().msec() / 1000.0;
}

// Logged once when a channel starts coming without a value and once when
// values are back, not at every sample.
void NodeDevice::noteNoData(int channel, bool noData, bool *state)
{
    *state = noData;
    const QString gateway = m_connection ? m_connection->gateway() : QString();
    if (noData)
        qCWarning(lcDevice).noquote()
            << "NodeDevice : [" << gateway << "]" << m_deviceNumber << "channel" << channel
            << ": no data (empty or not a number)";
    else
        qCWarning(lcDevice).noquote() << "NodeDevice : [" << gateway << "]" << m_deviceNumber
                                      << "channel" << channel << ": values again";
}

void NodeDevice::markGap(const QDateTime &time)
{
    qint64 seconds = 0;
    const double t = chartTimeOf(time, &seconds);
    constexpr int newest = kHistorySize - 1;
    // Only ever after the newest sample, so the history stays in time order.
    if (m_timeHistory[newest] == NoValue || t > m_timeHistory[newest]) {
        constexpr size_t moved = sizeof(double) * newest;
        std::memmove(m_timeHistory, m_timeHistory + 1, moved);
        std::memmove(m_ch1History, m_ch1History + 1, moved);
        std::memmove(m_ch2History, m_ch2History + 1, moved);
        m_timeHistory[newest] = t;
        m_ch1History[newest] = NoValue;
        m_ch2History[newest] = NoValue;
        if (m_chartView)
            m_chartView->setDeviceData(m_timeHistory, m_ch1History, m_ch2History, QString(),
                                       QString());
    }
    if (m_record)
        queueRecord(NoValue, NoValue, seconds);
}

void NodeDevice::deviceConnected()
{
    showConnected();
}

void NodeDevice::deviceDisconnected()
{
    qCDebug(lcDevice).noquote() << "- NodeDevice::deviceDisconnected() : " << m_deviceNumber;
    showDisconnected();
    m_hasSample = false;
    m_ch1Text = QStringLiteral("");
    m_ch2Text = QStringLiteral("");
    checkAlarms();
}

void NodeDevice::setRecord(bool record)
{
    m_record = record;
}

void NodeDevice::insertNoValue()
{
    qCDebug(lcDevice).noquote() << "- ConfiguredDevice::insertNoValue() : " << m_deviceNumber;
    const QDateTime last =
        m_connection ? m_connection->lastPollTime() : QDateTime::currentDateTime();
    const QDateTime t = last.addMSecs(dataIntervalMs);
    if (m_record)
        queueRecord(NoValue, NoValue, t.toSecsSinceEpoch());
}

void NodeDevice::setNames(QString deviceName, QString ch1Name, QString ch2Name)
{
    m_deviceName = deviceName;
    m_ch1Name = ch1Name;
    m_ch2Name = ch2Name;
}

void NodeDevice::setUnits(int ch1Unit, int ch2Unit)
{
    m_ch1Unit = ch1Unit;
    m_ch2Unit = ch2Unit;
}

void NodeDevice::setCustomUnits(QString ch1, QString ch2)
{
    m_ch1CustomUnit = ch1;
    m_ch2CustomUnit = ch2;
}

void NodeDevice::setAlarmRange(float ch1Min, float ch1Max, float ch2Min, float ch2Max)
{
    m_ch1Min = ch1Min;
    m_ch1Max = ch1Max;
    m_ch2Min = ch2Min;
    m_ch2Max = ch2Max;
}

QVector<float> NodeDevice::alarmRange() const
{
    return {m_ch1Min, m_ch1Max, m_ch2Min, m_ch2Max};
}

void NodeDevice::checkAlarms()
{
    setCheckAlarmSet1(textValue(m_ch1Text));
    setCheckAlarmSet2(textValue(m_ch2Text));
}

// The bounds are floats widened to double and compared with the double
// reading, so a minimum of 10.1 (10.1000004) puts a reading of 10.10 in alarm.
// The bounds themselves are inside the range; NaN never alarms.
void NodeDevice::setCheckAlarmSet1(double value)
{
    m_alarm1 = false;
    if (value == NoValue || !hasAlarmLimits(m_ch1Min, m_ch1Max))
        return;
    if (value < double(m_ch1Min) || value > double(m_ch1Max)) {
        qCDebug(lcDevice).noquote()
            << "- ConfiguredDevice::setCheckAlarmSet1() : " << m_deviceNumber;
        m_alarm1 = true;
    }
}

void NodeDevice::setCheckAlarmSet2(double value)
{
    m_alarm2 = false;
    if (value == NoValue || !hasAlarmLimits(m_ch2Min, m_ch2Max))
        return;
    if (value < double(m_ch2Min) || value > double(m_ch2Max)) {
        qCDebug(lcDevice).noquote()
            << "- ConfiguredDevice::setCheckAlarmSet2() : " << m_deviceNumber;
        m_alarm2 = true;
    }
}

void NodeDevice::history(double *time, double *ch1, double *ch2) const
{
    if (time)
        std::memcpy(time, m_timeHistory, sizeof m_timeHistory);
    if (ch1)
        std::memcpy(ch1, m_ch1History, sizeof m_ch1History);
    if (ch2)
        std::memcpy(ch2, m_ch2History, sizeof m_ch2History);
}

// ---- view links -----------------------------------------------------------

void NodeDevice::setProjectList(ProjectList *list)
{
    m_projectList = list;
}

void NodeDevice::clearProjectList()
{
    m_projectList = nullptr;
}

void NodeDevice::setChartView(ChartView *view)
{
    m_chartView = view;
}

void NodeDevice::clearChartView()
{
    m_chartView = nullptr;
}

void NodeDevice::setTiles(DashBoardDeviceItem *ch1Tile, DashBoardDeviceItem *ch2Tile)
{
    m_ch1Tile = ch1Tile;
    m_ch2Tile = ch2Tile;
}

void NodeDevice::clearTiles()
{
    m_ch1Tile = nullptr;
    m_ch2Tile = nullptr;
}

// The connection came up: setConnected(deviceNumber) on the device list, the
// chart view and both tiles (each only when linked).
void NodeDevice::showConnected()
{
    if (m_projectList)
        m_projectList->setConnected(m_deviceNumber);
    if (m_chartView)
        m_chartView->setConnected(m_deviceNumber);
    if (m_ch1Tile)
        m_ch1Tile->setConnected(m_deviceNumber);
    if (m_ch2Tile)
        m_ch2Tile->setConnected(m_deviceNumber);
}

// The connection was lost: setDisconnected(deviceNumber) on the device list,
// the chart view and both tiles (each only when linked).
void NodeDevice::showDisconnected()
{
    if (m_projectList)
        m_projectList->setDisconnected(m_deviceNumber);
    if (m_chartView)
        m_chartView->setDisconnected(m_deviceNumber);
    if (m_ch1Tile)
        m_ch1Tile->setDisconnected(m_deviceNumber);
    if (m_ch2Tile)
        m_ch2Tile->setDisconnected(m_deviceNumber);
}

// A new sample: the chart view gets the history and the value texts (and, for
// the "QA100" model, the radio status); the tiles get their channel's text.
void NodeDevice::showSample()
{
    if (m_chartView) {
        m_chartView->setDeviceData(m_timeHistory, m_ch1History, m_ch2History, m_ch1Text, m_ch2Text);
        if (m_connection && m_connection->model() == QLatin1String("QA100"))
            m_chartView->setRadioStatus(m_lqiText, m_batteryText);
    }
    if (m_ch1Tile)
        m_ch1Tile->setValue(m_ch1Text);
    if (m_ch2Tile)
        m_ch2Tile->setValue(m_ch2Text);
}

// ---- recording ------------------------------------------------------------

// Queues one database row. A NoValue channel becomes NULL in the database.
void NodeDevice::queueRecord(double ch1, double ch2, qint64 unixSeconds)
{
    SerialRecord row;
    row.serialNo = m_deviceNumber;
    row.channel1 = ch1;
    row.channel2 = ch2;
    row.pointDate = quint32(unixSeconds);
    InsertSerialData::appendRecord(row);
}
