#include "view/projectcenter.h"

#include "common/plaintext.h"
#include "device/configureddevice.h"
#include "device/networksettingdialog.h"
#include "device/nodedevice.h"
#include "device/sensingoptiondialog.h"
#include "view/chartview.h"
#include "view/dashboard.h"
#include "view/projectlist.h"

#include "ui_projectcenter.h"

#include <QDateTime>
#include <QFileInfo>
#include <QVBoxLayout>

const QString ProjectCenter::kStyleRecording =
    QStringLiteral("color:rgb(255,255,147);background-color:transparent;");
const QString ProjectCenter::kStyleIdle =
    QStringLiteral("color:rgb(192,192,192);background-color:transparent;");
const QString ProjectCenter::kStyleSizeLimit =
    QStringLiteral("color:rgb(230,80,80);background-color:transparent;");

ProjectCenter::ProjectCenter(const QString &projectFilePath, QWidget *parent)
    : QWidget(parent), ui(new Ui::ProjectCenter), m_projectFilePath(projectFilePath),
      m_projectName(QFileInfo(projectFilePath).baseName()),
      m_stopIcon(QStringLiteral(":/img/RecordStopButton.png")),
      m_recordIcon(QStringLiteral(":/img/RecordButton.png"))
{
    ui->setupUi(this);
    connect(ui->btn_record, &QToolButton::clicked, this, &ProjectCenter::slotRecord);

    m_listLayout = new QVBoxLayout(ui->widget_list);
    m_boardLayout = new QVBoxLayout(ui->widget_board);
    m_boardLayout->setContentsMargins(0, 0, 0, 0);
    m_boardLayout->setSpacing(0);

    m_projectList = new ProjectList(m_projectName);
    m_dashBoard = new DashBoard;
    m_chartView = new ChartView;
    connect(m_projectList, &ProjectList::dashboardClicked, this,
            &ProjectCenter::slotDashboardClicked);
    connect(m_projectList, QOverload<NodeDevice *>::of(&ProjectList::deviceClicked), this,
            &ProjectCenter::slotDeviceClicked);
    connect(m_dashBoard, &DashBoard::deviceClicked, this, &ProjectCenter::slotDeviceClicked);
    connect(m_chartView, &ChartView::popupSensingOption, this,
            &ProjectCenter::slotPopupSensingOption);
    connect(m_chartView, &ChartView::popupNetworkSetting, this, &ProjectCenter::slotNetworkSetting);

    m_bIsDashboardView = true;
    m_listLayout->addWidget(m_projectList);
    m_boardLayout->addWidget(m_dashBoard);
    m_chartView->hide();
    PlainText::applyTo(this);
    PlainText::applyTo(m_chartView);
}

ProjectCenter::~ProjectCenter()
{
    unlinkCurrentNode();
    // The views were made without parent; they go with the centre. Each one
    // also drops the links its nodes still hold to it.
    delete m_chartView;
    delete m_dashBoard;
    delete m_projectList;
    delete ui;
}

void ProjectCenter::unlinkCurrentNode()
{
    if (m_currentNode && m_currentNode->chartView() == m_chartView)
        m_currentNode->clearChartView();
}

void ProjectCenter::setDeviceList(const QList<ConfiguredDevice *> &devices)
{
    if (m_devices == devices && !m_devices.isEmpty())
        return;
    m_devices = devices;
    m_projectList->setDeviceList(m_devices);
    m_dashBoard->setDeviceList(m_devices);
    // Names come from the project file: shown literally in every tile and entry.
    PlainText::applyTo(m_projectList);
    PlainText::applyTo(m_dashBoard);
}

void ProjectCenter::setRecordState(bool recording)
{
    const QString now =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    QString start = ui->label_record_starttime->text();
    if (start.isEmpty())
        start = now;
    if (recording) {
        ui->label_record_starttime->setStyleSheet(kStyleRecording);
        ui->label_record_endtime->setStyleSheet(kStyleRecording);
        ui->label_to->setStyleSheet(kStyleRecording);
        ui->label_record_starttime->setText(start);
        ui->label_to->setText(QStringLiteral("~"));
        ui->btn_record->setIcon(m_stopIcon);
    } else {
        ui->label_record_starttime->setStyleSheet(kStyleIdle);
        ui->label_record_endtime->setStyleSheet(kStyleIdle);
        ui->label_to->setStyleSheet(kStyleIdle);
        ui->label_record_endtime->setText(now);
        ui->label_to->clear();
        ui->btn_record->setIcon(m_recordIcon);
    }
}

void ProjectCenter::setRecordTimes(const QString &start, const QString &end)
{
    ui->label_record_starttime->setText(start);
    ui->label_record_endtime->setText(end);
}

void ProjectCenter::setRecordEndTime(const QString &end)
{
    ui->label_record_endtime->setText(end);
}

QString ProjectCenter::databaseSizeText(qint64 bytes)
{
    return QStringLiteral("Database ") + QString::number(double(bytes) / 1048576.0, 'f', 2) +
           QStringLiteral("MB");
}

void ProjectCenter::setDatabaseSize(qint64 bytes)
{
    m_lastSize = bytes;
    if (!m_writeProblem.isEmpty())
        return;
    const QString style = bytes >= kDatabaseWarnBytes ? kStyleSizeLimit : kStyleIdle;
    if (ui->label_record_bytes->styleSheet() != style)
        ui->label_record_bytes->setStyleSheet(style);
    ui->label_record_bytes->setText(databaseSizeText(bytes));
}

void ProjectCenter::setWriteProblem(const QString &reason, qint64 waitingRows)
{
    if (reason.isEmpty()) {
        if (m_writeProblem.isEmpty())
            return;
        m_writeProblem.clear();
        ui->label_record_bytes->setToolTip(QString());
        ui->label_record_bytes->setText(QString());
        if (m_lastSize >= 0)
            setDatabaseSize(m_lastSize);
        return;
    }
    m_writeProblem = reason;
    // The bar has room for a word or two on why; the whole reason is in
    // the tool tip.
    const QString lower = reason.toLower();
    const QString why =
        lower.contains(QLatin1String("full"))     ? QStringLiteral("disk full")
        : lower.contains(QLatin1String("locked")) ? QStringLiteral("file locked")
        : lower.contains(QLatin1String("readonly")) || lower.contains(QLatin1String("read-only"))
            ? QStringLiteral("file read-only")
        : lower.contains(QLatin1String("i/o")) ? QStringLiteral("disk error")
                                               : QStringLiteral("write error");
    const QString text = QStringLiteral("NOT WRITTEN (%1): %2 rows wait").arg(why).arg(waitingRows);
    if (ui->label_record_bytes->styleSheet() != kStyleSizeLimit)
        ui->label_record_bytes->setStyleSheet(kStyleSizeLimit);
    ui->label_record_bytes->setText(text);
    ui->label_record_bytes->setToolTip(
        PlainText::toolTip(QStringLiteral("Recorded rows cannot be written to the database file "
                                          "(%1); they are kept in memory and written as soon as "
                                          "the file takes them.")
                               .arg(reason)));
}

QString ProjectCenter::recordStartTime() const
{
    return ui->label_record_starttime->text();
}

QString ProjectCenter::recordEndTime() const
{
    return ui->label_record_endtime->text();
}

void ProjectCenter::setEmptyCellsVisible(bool visible)
{
    m_dashBoard->setEmptyCellsVisible(visible);
}

void ProjectCenter::slotRecord()
{
    emit clickRecord();
}

void ProjectCenter::slotDashboardClicked()
{
    m_bIsDashboardView = true;
    m_chartView->clearView();
    unlinkCurrentNode();
    m_boardLayout->removeWidget(m_chartView);
    m_boardLayout->addWidget(m_dashBoard);
    m_chartView->hide();
    m_dashBoard->show();
    m_dashBoard->refreshAll();
}

void ProjectCenter::slotDeviceClicked(NodeDevice *node)
{
    if (!node)
        return;
    if (!m_bIsDashboardView && node == m_currentNode)
        return;
    unlinkCurrentNode();
    m_currentNode = node;
    m_projectList->selectNode(node);

    m_bIsDashboardView = false;
    m_boardLayout->removeWidget(m_dashBoard);
    m_boardLayout->addWidget(m_chartView);
    m_dashBoard->hide();
    m_chartView->show();

    m_chartView->clearView();
    m_chartView->setDevice(node);
    node->setChartView(m_chartView);
}

void ProjectCenter::slotPopupSensingOption()
{
    if (!m_currentNode)
        return;
    auto *dialog = new SensingOptionDialog(m_currentNode, this);
    connect(dialog, &SensingOptionDialog::sensingConfirm, this, &ProjectCenter::slotSensingConfirm);
    dialog->show();
}

void ProjectCenter::slotSensingConfirm()
{
    if (m_currentNode)
        m_currentNode->checkAlarms();
    m_projectList->refreshNames();
    m_chartView->refreshDeviceInfo();
    emit updateProjectFile();
}

void ProjectCenter::slotNetworkSetting()
{
    if (!m_currentNode)
        return;
    auto *dialog = new NetworkSettingDialog(m_currentNode, this);
    dialog->show();
}
