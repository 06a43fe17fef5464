#include "viewfixture.h"

#include "common/common.h"
#include "view/valuestyle.h"

#include "common/common.h"
#include "view/chartview.h"
#include "view/labelelider.h"
#include "view/chartdataset.h"
#include "view/linelayer.h"
#include "view/plotarea.h"
#include "view/qchartviewer.h"
#include "view/xychart.h"

#include <QFrame>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

using namespace ViewFixture;

class TstChartView : public QObject
{
    Q_OBJECT

private:
    static QLabel *label(ChartView &view, const char *name) { return child<QLabel>(&view, name); }
    static QString frameStyle(ChartView &view, const char *name) { return child<QFrame>(&view, name)->styleSheet(); }
    // Light pixels (the dashed cursor line, labels) inside the plot area,
    // away from its edges, per column.
    static QVector<int> lightColumns(XYChart *chart)
    {
        const QImage image = chart->makeImage();
        PlotArea *area = chart->getPlotArea();
        QVector<int> columns;
        for (int x = area->getLeftX() + 3; x <= area->getRightX(); ++x) {
            for (int y = area->getTopY() + 30; y <= area->getBottomY() - 3; ++y) {
                if (qRed(image.pixel(x, y)) > 0x90) {
                    columns << x;
                    break;
                }
            }
        }
        return columns;
    }
    // Lets the chart widgets' hold time pass so that every redraw request is served.
    static void settle() { QTest::qWait(60); }

    struct Shown
    {
        Project project;
        ConfiguredDevice *device = nullptr;
        NodeDevice *node = nullptr;
        ChartView view;

        explicit Shown(bool named = true, const QString &model = QStringLiteral("QA100"))
        {
            device = project.addConnection(QStringLiteral("192.168.7.70"), 1, named);
            device->setModel(model);
            node = device->nodeList().first();
            view.resize(810, 404);
            view.show();
        }
        void bind()
        {
            view.clearView();
            view.setDevice(node);
            node->setChartView(&view);
        }
        ~Shown() { project.unlinkViews(); }
    };

private slots:
    void init() { dataIntervalMs = 10000; }
    void unboundViewShowsEmptyCharts();
    void headerAndNameFallbacks();
    void radioStripOnlyForQA100_data();
    void radioStripOnlyForQA100();
    void firstSampleSpans240Intervals_data();
    void firstSampleSpans240Intervals();
    void cursorRestsOnNewestSample();
    void disconnectGreysAndNextSampleRecolours();
    void otherDeviceEventsIgnored();
    void numberRefitsOnlyOnLengthChange();
    void unitTexts();
    void clearViewUnbinds();
    void resizeRedrawsAtLabelSize();
    void badValuesKeepLayout_data();
    void badValuesKeepLayout();
    void popupSignals();
    void destroyingViewUnlinksNode();
    void nodeWithoutConnection();
};

void TstChartView::unboundViewShowsEmptyCharts()
{
    ChartView view;
    view.resize(810, 404);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    settle();
    for (QChartViewer *viewer : {view.chartViewer1(), view.chartViewer2()}) {
        XYChart *chart = viewer->chart();
        QVERIFY(chart);
        QVERIFY(!chart->xAxis()->isDateScale());
        QCOMPARE(chart->getLayerCount(), 0);
        // No cursor line over an empty chart, at rest or under the mouse.
        QVERIFY(lightColumns(chart).isEmpty());
        QTest::mouseMove(viewer, QPoint(200, 60));
        QTest::qWait(20);
        QVERIFY(lightColumns(viewer->chart()).isEmpty());
    }
    QCOMPARE(view.timeData()[239], NoValue);
    QVERIFY(!child<QFrame>(&view, "frame_lqibatt")->isVisible());
    QCOMPARE(frameStyle(view, "frame_ch1_value"), ValueStyle::kGrey);
    // Calls that need a bound node do nothing.
    const double times[240] = {};
    view.setDeviceData(times, times, times, QStringLiteral("1.00"), QStringLiteral("2.00"));
    view.refreshDeviceInfo();
    view.setConnected(QString());
    QVERIFY(label(view, "label_ch1_number")->text().isEmpty());
    QCOMPARE(view.timeData()[0], NoValue);
}

void TstChartView::headerAndNameFallbacks()
{
    Shown shown(false);
    shown.bind();
    QCOMPARE(LabelElider::fullText(label(shown.view, "label_device")), QStringLiteral("192.168.7.70"));
    QCOMPARE(LabelElider::fullText(label(shown.view, "label_ch1_device")), QStringLiteral("192.168.7.70"));
    QCOMPARE(LabelElider::fullText(label(shown.view, "label_ch1_desc")), QStringLiteral("CH1"));
    QCOMPARE(LabelElider::fullText(label(shown.view, "label_ch2_desc")), QStringLiteral("CH2"));
    QCOMPARE(LabelElider::fullText(label(shown.view, "label_serialnumber")),
             QStringLiteral("ID : ") + shown.node->deviceNumber());

    shown.node->setNames(QStringLiteral("Kiln"), QStringLiteral("Core"), QStringLiteral("Shell"));
    shown.view.refreshDeviceInfo();
    QCOMPARE(LabelElider::fullText(label(shown.view, "label_device")), QStringLiteral("Kiln"));
    QCOMPARE(LabelElider::fullText(label(shown.view, "label_ch2_device")), QStringLiteral("Kiln"));
    QCOMPARE(LabelElider::fullText(label(shown.view, "label_ch1_desc")), QStringLiteral("Core"));
    QCOMPARE(LabelElider::fullText(label(shown.view, "label_ch2_desc")), QStringLiteral("Shell"));
}

void TstChartView::radioStripOnlyForQA100_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<bool>("shown");
    QTest::newRow("QA100") << "QA100" << true;
    QTest::newRow("qa100") << "qa100" << false;
    QTest::newRow("QA200") << "QA200" << false;
}

void TstChartView::radioStripOnlyForQA100()
{
    QFETCH(QString, model);
    QFETCH(bool, shown);
    Shown s(true, model);
    s.bind();
    s.device->deviceConnected();
    feed(s.node, QStringLiteral("20.00"), QStringLiteral("30.00"), QDateTime::currentDateTime(), QStringLiteral("-70"),
         QStringLiteral("88"));
    QCOMPARE(child<QFrame>(&s.view, "frame_lqibatt")->isVisible(), shown);
    QCOMPARE(label(s.view, "label")->text(), QStringLiteral("RF PWR : "));
    QCOMPARE(label(s.view, "label_2")->text(), QStringLiteral("BATT : "));
    QCOMPARE(label(s.view, "label_lqi")->text(), shown ? QStringLiteral("-70") : QString());
    QCOMPARE(label(s.view, "label_batt")->text(), shown ? QStringLiteral("88") : QString());
}

void TstChartView::firstSampleSpans240Intervals_data()
{
    QTest::addColumn<int>("interval");
    QTest::newRow("1 sec") << 1000;
    QTest::newRow("10 sec") << 10000;
    QTest::newRow("10 min") << 600000;
}

void TstChartView::firstSampleSpans240Intervals()
{
    QFETCH(int, interval);
    dataIntervalMs = interval;
    Shown s;
    s.bind();
    s.device->deviceConnected();
    const QDateTime time = QDateTime::fromString(QStringLiteral("2026-03-04T05:06:07"), Qt::ISODate);
    feed(s.node, QStringLiteral("21.25"), QStringLiteral("40.00"), time);
    settle();
    const double newest = s.view.timeData()[239];
    QVERIFY(newest != NoValue);
    QCOMPARE(s.view.values1Data()[239], 21.25);
    QCOMPARE(s.view.values2Data()[238], NoValue);
    XYChart *chart = s.view.chartViewer1()->chart();
    QVERIFY(chart->xAxis()->isDateScale());
    QCOMPARE(chart->xAxis()->maxValue(), newest);
    QCOMPARE(chart->xAxis()->minValue(), newest - 240.0 * interval / 1000);
    QCOMPARE(chart->getLayerCount(), 1);
    // The single point sits at the right edge of the plot area.
    QCOMPARE(chart->getXCoor(newest), chart->getPlotArea()->getRightX());
    QCOMPARE(chart->getWidth(), child<QLabel>(&s.view, "label_ch1_chart")->width() - 10);
}

void TstChartView::cursorRestsOnNewestSample()
{
    Shown s;
    s.bind();
    s.device->deviceConnected();
    const QDateTime start = QDateTime::currentDateTime().addSecs(-100);
    for (int i = 0; i < 10; ++i)
        feed(s.node, QString::number(10 + i, 'f', 2), QStringLiteral("1.00"), start.addSecs(10 * i));
    settle();
    XYChart *chart = s.view.chartViewer1()->chart();
    QVERIFY(!s.view.chartViewer1()->isMouseOnPlotArea());
    const double atEdge = chart->getNearestXValue(chart->getPlotArea()->getRightX());
    QCOMPARE(atEdge, s.view.timeData()[239]);
    LineLayer *layer = chart->getLayerByZ(0);
    QCOMPARE(layer->getDataSetByZ(0)->getValue(layer->getXIndexOf(atEdge)), 19.0);
    QCOMPARE(layer->getDataSetByZ(0)->getDataName(), QStringLiteral("CH1"));
    // The cursor line stands at the newest sample, the right edge.
    const QVector<int> light = lightColumns(chart);
    QVERIFY(!light.isEmpty());
    QVERIFY(light.last() >= chart->getPlotArea()->getRightX() - 40);
    QCOMPARE(s.view.chartViewer2()->chart()->getLayerByZ(0)->getDataSetByZ(0)->getDataName(), QStringLiteral("CH2"));
    // Moving the mouse redraws only the cursor layer, never the chart.
    const int builds = s.view.chartBuildCount();
    QTest::mouseMove(s.view.chartViewer1(), QPoint(chart->getPlotArea()->getLeftX() + 20, 60));
    QTest::mouseMove(s.view.chartViewer1(), QPoint(chart->getPlotArea()->getLeftX() + 40, 70));
    QCoreApplication::processEvents();
    QCOMPARE(s.view.chartViewer1()->chart(), chart);
    QCOMPARE(s.view.chartBuildCount(), builds);
}

void TstChartView::disconnectGreysAndNextSampleRecolours()
{
    Shown s;
    s.node->setUnits(1, 3);
    s.node->setAlarmRange(0, 30, 0, 0);
    s.bind();
    QCOMPARE(frameStyle(s.view, "frame_ch1_value"), ValueStyle::kGrey);
    s.device->deviceConnected();
    QCOMPARE(frameStyle(s.view, "frame_ch1_value"), ValueStyle::kNormal);
    feed(s.node, QStringLiteral("31.00"), QStringLiteral("45.00"));
    QCOMPARE(frameStyle(s.view, "frame_ch1_value"), ValueStyle::kAlarm);
    QCOMPARE(frameStyle(s.view, "frame_ch2_value"), ValueStyle::kNormal);
    QCOMPARE(label(s.view, "label_ch1_number")->text(), QStringLiteral("31.00"));
    QCOMPARE(label(s.view, "label_ch1_unit")->text(), QString::fromUtf8("\xC2\xB0" "C"));
    QCOMPARE(label(s.view, "label_ch2_unit")->text(), QStringLiteral("%RH"));

    s.device->deviceDisconnected();
    QCOMPARE(frameStyle(s.view, "frame_ch1_value"), ValueStyle::kGrey);
    QCOMPARE(frameStyle(s.view, "frame_ch2_value"), ValueStyle::kGrey);
    for (const char *name : {"label_ch1_number", "label_ch2_number", "label_ch1_unit", "label_ch2_unit"})
        QVERIFY2(label(s.view, name)->text().isEmpty(), name);
    // The history stays.
    QCOMPARE(s.view.values1Data()[239], 31.0);

    s.device->deviceConnected();
    feed(s.node, QStringLiteral("29.00"), QStringLiteral("45.00"));
    QCOMPARE(frameStyle(s.view, "frame_ch1_value"), ValueStyle::kNormal);
    QCOMPARE(label(s.view, "label_ch1_number")->text(), QStringLiteral("29.00"));
}

void TstChartView::otherDeviceEventsIgnored()
{
    Shown s;
    s.bind();
    s.device->deviceConnected();
    feed(s.node, QStringLiteral("5.00"), QStringLiteral("6.00"));
    s.view.setDisconnected(s.node->deviceNumber().toUpper() + QStringLiteral("x"));
    QCOMPARE(label(s.view, "label_ch1_number")->text(), QStringLiteral("5.00"));
    QCOMPARE(frameStyle(s.view, "frame_ch1_value"), ValueStyle::kNormal);
}

void TstChartView::numberRefitsOnlyOnLengthChange()
{
    Shown s;
    s.bind();
    s.device->deviceConnected();
    QVERIFY(QTest::qWaitForWindowExposed(&s.view));
    feed(s.node, QStringLiteral("21.50"), QStringLiteral("1.00"));
    QLabel *number = label(s.view, "label_ch1_number");
    QFont marked = number->font();
    marked.setPointSizeF(47.0);
    number->setFont(marked);
    feed(s.node, QStringLiteral("22.75"), QStringLiteral("1.00"));
    QCOMPARE(number->font().pointSizeF(), 47.0);
    feed(s.node, QStringLiteral("-22.75"), QStringLiteral("1.00"));
    QVERIFY(number->font().pointSizeF() != 47.0);
}

void TstChartView::unitTexts()
{
    Shown s;
    s.node->setUnits(4, 7);
    s.node->setCustomUnits(QStringLiteral("m/s"), QStringLiteral("ignored"));
    s.bind();
    QCOMPARE(s.view.channel1UnitText(), QStringLiteral("m/s"));
    QCOMPARE(s.view.channel2UnitText(), QString());
    s.node->setUnits(2, 0);
    s.view.refreshDeviceInfo();
    QCOMPARE(s.view.channel1UnitText(), QString::fromUtf8("\xC2\xB0" "F"));
    // No value shown: no unit and the grey look.
    QVERIFY(label(s.view, "label_ch1_unit")->text().isEmpty());
    QCOMPARE(frameStyle(s.view, "frame_ch1_value"), ValueStyle::kGrey);
}

void TstChartView::clearViewUnbinds()
{
    Shown s;
    s.bind();
    s.device->deviceConnected();
    const QDateTime start = QDateTime::currentDateTime();
    feed(s.node, QStringLiteral("5.00"), QStringLiteral("6.00"), start);
    QCOMPARE(s.view.boundNode(), s.node);
    s.node->clearChartView();
    s.view.clearView();
    QCOMPARE(s.view.boundNode(), nullptr);
    QCOMPARE(s.view.timeData()[239], NoValue);
    QVERIFY(label(s.view, "label_ch1_number")->text().isEmpty());
    QVERIFY(LabelElider::fullText(label(s.view, "label_ch1_desc")).isEmpty());
    // The device label keeps its text.
    QCOMPARE(LabelElider::fullText(label(s.view, "label_device")), s.node->deviceName());
    QVERIFY(!child<QFrame>(&s.view, "frame_lqibatt")->isVisible());
    feed(s.node, QStringLiteral("7.00"), QStringLiteral("8.00"), start.addSecs(10));
    QCOMPARE(s.view.timeData()[239], NoValue);
    QVERIFY(label(s.view, "label_ch1_number")->text().isEmpty());

    // Binding again shows the node's whole history at once.
    s.bind();
    QCOMPARE(s.view.values1Data()[239], 7.0);
    QCOMPARE(s.view.values1Data()[238], 5.0);
    QCOMPARE(label(s.view, "label_ch1_number")->text(), QStringLiteral("7.00"));
}

void TstChartView::resizeRedrawsAtLabelSize()
{
    Shown s;
    s.bind();
    QVERIFY(QTest::qWaitForWindowExposed(&s.view));
    s.view.resize(1100, 560);
    settle();
    for (const char *name : {"label_ch1_chart", "label_ch2_chart"}) {
        QLabel *chartLabel = child<QLabel>(&s.view, name);
        QChartViewer *viewer = chartLabel->findChild<QChartViewer *>();
        QCOMPARE(viewer->chart()->getWidth(), chartLabel->width() - 10);
        QCOMPARE(viewer->chart()->getHeight(), chartLabel->height());
    }
}

void TstChartView::badValuesKeepLayout_data()
{
    QTest::addColumn<QString>("value");
    QTest::newRow("empty") << QString();
    QTest::newRow("not a number") << QStringLiteral("--");
    QTest::newRow("1e30") << QStringLiteral("1e30");
    QTest::newRow("huge") << QStringLiteral("1000000015047466219876688855040.00");
    QTest::newRow("negative zero") << QStringLiteral("-0.00");
    QTest::newRow("nan") << QStringLiteral("nan");
    QTest::newRow("very long") << QString(300, QLatin1Char('8'));
}

void TstChartView::badValuesKeepLayout()
{
    QFETCH(QString, value);
    Shown s;
    s.bind();
    s.device->deviceConnected();
    QVERIFY(QTest::qWaitForWindowExposed(&s.view));
    feed(s.node, QStringLiteral("1.00"), QStringLiteral("2.00"));
    settle();
    const QSize minimum = s.view.minimumSizeHint();
    const QRect panel = child<QFrame>(&s.view, "frame_channel1")->geometry();
    feed(s.node, value, value, QDateTime::currentDateTime(), value, value);
    settle();
    QCOMPARE(s.view.minimumSizeHint(), minimum);
    QCOMPARE(child<QFrame>(&s.view, "frame_channel1")->geometry(), panel);
    const qreal size = label(s.view, "label_ch1_number")->font().pointSizeF();
    QVERIFY2(size > 0.0 && size <= 400.0, qPrintable(QString::number(size)));
    // The charts survive whatever the value.
    QVERIFY(s.view.chartViewer1()->chart());
    QTest::mouseMove(s.view.chartViewer1(), QPoint(300, 80));
}

void TstChartView::popupSignals()
{
    ChartView view;
    QSignalSpy sensing(&view, &ChartView::popupSensingOption);
    QSignalSpy network(&view, &ChartView::popupNetworkSetting);
    view.show();
    QTest::mouseClick(child<QPushButton>(&view, "btn_setting"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>(&view, "btn_network"), Qt::LeftButton);
    QCOMPARE(sensing.count(), 1);
    QCOMPARE(network.count(), 1);
    QCOMPARE(child<QPushButton>(&view, "btn_network")->text(), QStringLiteral("Network Info."));
    QCOMPARE(child<QPushButton>(&view, "btn_setting")->text(), QStringLiteral("Option"));
}

void TstChartView::destroyingViewUnlinksNode()
{
    Project project;
    project.addConnection(QStringLiteral("127.0.0.1"), 1);
    NodeDevice *node = project.nodes().first();
    {
        ChartView view;
        view.setDevice(node);
        node->setChartView(&view);
    }
    QCOMPARE(node->chartView(), nullptr);
    feed(node, QStringLiteral("1.00"), QStringLiteral("2.00"));
}

// A node that belongs to no connection still shows, greyed and without strip.
void TstChartView::nodeWithoutConnection()
{
    NodeDevice node(QStringLiteral("LONE-1"));
    ChartView view;
    view.show();
    view.setDevice(&node);
    node.setChartView(&view);
    QCOMPARE(view.boundNode(), &node);
    QVERIFY(LabelElider::fullText(label(view, "label_device")).isEmpty());
    QVERIFY(!child<QFrame>(&view, "frame_lqibatt")->isVisible());
    feed(&node, QStringLiteral("3.00"), QStringLiteral("4.00"));
    QCOMPARE(label(view, "label_ch1_number")->text(), QStringLiteral("3.00"));
    QVERIFY(label(view, "label_lqi")->text().isEmpty());
    node.deviceDisconnected();
    QCOMPARE(frameStyle(view, "frame_ch1_value"), ValueStyle::kGrey);
    node.clearChartView();
}

QTEST_MAIN(TstChartView)
#include "tst_chartview.moc"
