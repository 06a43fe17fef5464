#pragma once

#include <QIcon>
#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

class ChartView;
class ConfiguredDevice;
class DashBoard;
class NodeDevice;
class ProjectList;
class QVBoxLayout;

namespace Ui
{
class ProjectCenter;
}

// The working area of an open project: the device list on the left, the
// dashboard or one device's chart view on the right, the record bar below.
class ProjectCenter : public QWidget
{
    Q_OBJECT

public:
    // Whole style sheets of the record bar labels.
    static const QString kStyleRecording;
    static const QString kStyleIdle;
    static const QString kStyleSizeLimit;
    // From this size on the database size is shown in red (3 GiB).
    static constexpr qint64 kDatabaseWarnBytes = Q_INT64_C(3221225472);

    explicit ProjectCenter(const QString &projectFilePath, QWidget *parent = nullptr);
    ~ProjectCenter() override;

    void setDeviceList(const QList<ConfiguredDevice *> &devices);
    void setRecordState(bool recording);
    void setRecordTimes(const QString &start, const QString &end);
    void setRecordEndTime(const QString &end);
    void setDatabaseSize(qint64 bytes);
    // While recorded rows cannot be written: why, and how many rows wait
    // (shown on the record bar in place of the size until cleared with an
    // empty reason).
    void setWriteProblem(const QString &reason, qint64 waitingRows);
    QString recordStartTime() const;
    QString recordEndTime() const;
    void setEmptyCellsVisible(bool visible);

    QString projectName() const { return m_projectName; }
    QString projectFilePath() const { return m_projectFilePath; }
    ProjectList *projectList() const { return m_projectList; }
    DashBoard *dashBoard() const { return m_dashBoard; }
    ChartView *chartView() const { return m_chartView; }
    NodeDevice *currentNode() const { return m_currentNode.data(); }
    // True while the dashboard is on show, false while the chart view is.
    bool isDashboardShown() const { return m_bIsDashboardView; }

signals:
    void clickRecord();
    void updateProjectFile();

public slots:
    void slotRecord();
    void slotDashboardClicked();
    void slotDeviceClicked(NodeDevice *node);
    void slotPopupSensingOption();
    void slotSensingConfirm();
    void slotNetworkSetting();

private:
    void unlinkCurrentNode();
    static QString databaseSizeText(qint64 bytes);

    Ui::ProjectCenter *ui;
    QString m_projectFilePath;
    QString m_writeProblem;
    qint64 m_lastSize = -1;
    QString m_projectName;
    QIcon m_stopIcon;
    QIcon m_recordIcon;
    QVBoxLayout *m_listLayout = nullptr;
    QVBoxLayout *m_boardLayout = nullptr;
    ProjectList *m_projectList = nullptr;
    DashBoard *m_dashBoard = nullptr;
    ChartView *m_chartView = nullptr;
    QList<ConfiguredDevice *> m_devices;
    // Not owned; a QPointer so that a node deleted under the centre is seen.
    QPointer<NodeDevice> m_currentNode;
    bool m_bIsDashboardView = true;
};
