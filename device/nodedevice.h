#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QVector>

class ConfiguredDevice;
class ProjectList;
class ChartView;
class DashBoardDeviceItem;

// One wireless sensor device behind a connection: identity and names, two
// channels with units and alarm ranges, the latest readings as text, a rolling
// history of kHistorySize samples for its chart and two alarm flags. Its
// connection feeds it one sample per reply; while recording is on every sample
// is queued as one database row.
//
// The node keeps plain, non-owning links to the widgets that show it and calls
// them directly; whoever destroys those widgets clears the links first.
class NodeDevice : public QObject
{
    Q_OBJECT

public:
    static constexpr int kHistorySize = 240;

    // Unit codes of a channel.
    enum Unit {
        UnitUndefined = 0,
        UnitCelsius = 1,
        UnitFahrenheit = 2,
        UnitHumidity = 3,
        UnitCustom = 4
    };
    // "Undefined", "Temperature(C)", "Temperature(F)", "Humidity", "Custom"; empty for other codes.
    static QString unitName(int code);

    NodeDevice(QString deviceNumber, QObject *parent = nullptr);
    ~NodeDevice() override;

    // First register of the node's block and registers per node; set directly
    // by whoever builds the node.
    int startAddress = 0;
    int registerCount = 8;

    // Fed by the connection.
    void setData(QString ch1Text, QString ch2Text, QString lqiText, QString batteryText,
                 QDateTime time, bool refresh);
    // The channel values of the next setData() exactly as the gateway sent
    // them (float32): recorded as such, where the texts keep two decimals
    // for the views. Taken by that one setData() only.
    void setExactValues(float ch1, float ch2);
    void deviceConnected();
    void deviceDisconnected();
    // The connection was lost: a no-value sample at `time` in the history
    // (shown as a gap by the chart) and, while recording, a NULL/NULL row.
    void markGap(const QDateTime &time);
    // The channel's latest sample came without a value (empty, or not a
    // number) while connected: shown as "no data".
    bool ch1NoData() const { return m_hasSample && m_ch1NoData; }
    bool ch2NoData() const { return m_hasSample && m_ch2NoData; }

    // Called by the main window.
    void setRecord(bool record);
    bool record() const { return m_record; }
    void insertNoValue();

    // Configuration.
    void setNames(QString deviceName, QString ch1Name, QString ch2Name);
    void setUnits(int ch1Unit, int ch2Unit);
    void setCustomUnits(QString ch1, QString ch2);
    void setAlarmRange(float ch1Min, float ch1Max, float ch2Min, float ch2Max);
    // ch1Min, ch1Max, ch2Min, ch2Max.
    QVector<float> alarmRange() const;
    void checkAlarms();
    void setCheckAlarmSet1(double value);
    void setCheckAlarmSet2(double value);

    // View links (not owned).
    void setProjectList(ProjectList *list);
    void clearProjectList();
    void setChartView(ChartView *view);
    void clearChartView();
    void setTiles(DashBoardDeviceItem *ch1Tile, DashBoardDeviceItem *ch2Tile);
    void clearTiles();
    ProjectList *projectList() const { return m_projectList; }
    ChartView *chartView() const { return m_chartView; }
    DashBoardDeviceItem *ch1Tile() const { return m_ch1Tile; }
    DashBoardDeviceItem *ch2Tile() const { return m_ch2Tile; }

    // Copies the three history arrays (kHistorySize entries each, oldest first)
    // into the caller's buffers; empty slots hold NoValue.
    void history(double *time, double *ch1, double *ch2) const;
    const double *timeHistory() const { return m_timeHistory; }
    const double *ch1History() const { return m_ch1History; }
    const double *ch2History() const { return m_ch2History; }

    QString deviceNumber() const { return m_deviceNumber; }
    QString deviceName() const { return m_deviceName; }
    QString ch1Name() const { return m_ch1Name; }
    QString ch2Name() const { return m_ch2Name; }
    QString ch1Text() const { return m_ch1Text; }
    QString ch2Text() const { return m_ch2Text; }
    QString lqiText() const { return m_lqiText; }
    QString batteryText() const { return m_batteryText; }
    QString ch1CustomUnit() const { return m_ch1CustomUnit; }
    QString ch2CustomUnit() const { return m_ch2CustomUnit; }
    int ch1Unit() const { return m_ch1Unit; }
    int ch2Unit() const { return m_ch2Unit; }
    float ch1Min() const { return m_ch1Min; }
    float ch1Max() const { return m_ch1Max; }
    float ch2Min() const { return m_ch2Min; }
    float ch2Max() const { return m_ch2Max; }
    bool alarm1() const { return m_alarm1; }
    bool alarm2() const { return m_alarm2; }
    ConfiguredDevice *connection() const { return m_connection; }

    // A value text as a number: NoValue for an empty text (or one that is not a number).
    static double textValue(const QString &text);
    // The text holds no usable number: empty, not a number, NaN or infinite.
    static bool isNoData(const QString &text);

signals:
    // Every sample as it comes in, recorded or not (NoValue for a missing
    // reading); the forwarder publishes it as the device's live value.
    void liveSample(const QString &deviceNumber, double ch1, double ch2, qint64 unixSeconds);

private:
    void queueRecord(double ch1, double ch2, qint64 unixSeconds);
    void showConnected();
    void showDisconnected();
    void showSample();
    void noteNoData(int channel, bool noData, bool *state);
    static double chartTimeOf(const QDateTime &time, qint64 *unixSeconds);

    bool m_record = false;
    bool m_alarm1 = false;
    bool m_alarm2 = false;
    bool m_hasSample = false; // a sample came since the last disconnection
    bool m_hasExact = false;  // set by setExactValues() for the next sample
    float m_ch1Exact = 0;
    float m_ch2Exact = 0;
    bool m_ch1NoData = false;
    bool m_ch2NoData = false;
    QString m_deviceNumber;
    QString m_deviceName;
    QString m_ch1Name;
    QString m_ch2Name;
    QString m_ch1Text;
    QString m_ch2Text;
    QString m_lqiText;
    QString m_batteryText;
    QString m_ch1CustomUnit = QStringLiteral("");
    QString m_ch2CustomUnit = QStringLiteral("");
    int m_ch1Unit = 0;
    int m_ch2Unit = 0;
    float m_ch1Min = 0;
    float m_ch1Max = 0;
    float m_ch2Min = 0;
    float m_ch2Max = 0;
    double m_timeHistory[kHistorySize];
    double m_ch1History[kHistorySize];
    double m_ch2History[kHistorySize];
    ProjectList *m_projectList = nullptr;
    ChartView *m_chartView = nullptr;
    DashBoardDeviceItem *m_ch1Tile = nullptr;
    DashBoardDeviceItem *m_ch2Tile = nullptr;
    ConfiguredDevice *m_connection = nullptr;
};
