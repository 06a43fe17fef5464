#include "viewfixture.h"

#include "chart/qchartviewer.h"
#include "chart/xychart.h"
#include "common/common.h"
#include "view/chartview.h"
#include "view/labelelider.h"
#include "view/valuestyle.h"

#include <QFrame>
#include <QtTest>

using namespace ViewFixture;

namespace
{

QString frameStyle(QWidget *view, const char *name)
{
    return child<QFrame>(view, name)->styleSheet();
}
QString fullText(QWidget *view, const char *name)
{
    return LabelElider::fullText(label(view, name));
}
// Lets the chart widgets' hold time pass so that every redraw request is served.
void settle()
{
    QTest::qWait(60);
}

// The right-most column of the plot area (away from its edges) with light
// pixels (the dashed cursor line, its labels), or -1.
int lastLightColumn(XYChart *chart)
{
    const QImage image = chart->makeImage();
    PlotArea *area = chart->getPlotArea();
    for (int x = area->getRightX(); x >= area->getLeftX() + 3; --x) {
        for (int y = area->getTopY() + 30; y <= area->getBottomY() - 3; ++y) {
            if (qRed(image.pixel(x, y)) > 0x90)
                return x;
        }
    }
    return -1;
}

// A shown view bound to a connected node (bound again after changes to the node).
struct Shown {
    Project project;
    ConfiguredDevice *device = nullptr;
    NodeDevice *node = nullptr;
    ChartView view;

    explicit Shown(bool named = true, const QString &model = "QA100")
    {
        device = project.addConnection("192.168.7.70", 1, named);
        device->setModel(model);
        node = device->nodeList().first();
        view.resize(810, 404);
        view.show();
        bind();
    }
    void bind()
    {
        view.clearView();
        view.setDevice(node);
        node->setChartView(&view);
        device->deviceConnected();
    }
    ~Shown() { project.unlinkViews(); }
};

} // namespace

class TstChartView : public QObject
{
    Q_OBJECT

private slots:
    void init() { dataIntervalMs = 10000; }

    // Unnamed nodes show their address and "CH1"/"CH2"; the radio strip is
    // for model "QA100" only.
    void headerNamesAndRadioStrip_data()
    {
        QTest::addColumn<bool>("named");
        QTest::addColumn<QString>("model");
        QTest::newRow("unnamed QA100") << false << "QA100";
        QTest::newRow("named qa100") << true << "qa100";
        QTest::newRow("named QA200") << true << "QA200";
    }
    void headerNamesAndRadioStrip()
    {
        QFETCH(bool, named);
        QFETCH(QString, model);
        Shown s(named, model);
        QCOMPARE(fullText(&s.view, "label_device"), named ? "Dev1" : "192.168.7.70");
        QCOMPARE(fullText(&s.view, "label_ch1_desc"), named ? "Temp" : "CH1");
        QCOMPARE(fullText(&s.view, "label_ch2_desc"), named ? "Hum" : "CH2");
        QCOMPARE(fullText(&s.view, "label_serialnumber"), "ID : " + s.node->deviceNumber());
        feed(s.node, "20.00", "30.00", QDateTime::currentDateTime(), "-70", "88");
        const bool strip = model == "QA100";
        QCOMPARE(child<QFrame>(&s.view, "frame_lqibatt")->isVisible(), strip);
        QCOMPARE(label(&s.view, "label_lqi")->text(), strip ? QStringLiteral("-70") : QString());
        QCOMPARE(label(&s.view, "label_batt")->text(), strip ? QStringLiteral("88") : QString());
    }

    // The newest sample sits on the right edge of a span of 240 intervals,
    // where the cursor rests while the mouse is away.
    void historySpans240Intervals_data()
    {
        QTest::addColumn<int>("interval");
        QTest::newRow("1 sec") << 1000;
        QTest::newRow("10 min") << 600000;
    }
    void historySpans240Intervals()
    {
        QFETCH(int, interval);
        dataIntervalMs = interval;
        Shown s;
        const QDateTime start = QDateTime::currentDateTime().addMSecs(-10LL * interval);
        for (int i = 0; i < 10; ++i)
            feed(s.node, QString::number(10 + i, 'f', 2), "1.00",
                 start.addMSecs(qint64(interval) * i));
        settle();
        const double newest = s.view.timeData()[239];
        QCOMPARE(s.view.values1Data()[239], 19.0);
        QCOMPARE(s.view.values2Data()[229], NoValue);
        XYChart *chart = s.view.chartViewer1()->chart();
        QCOMPARE(chart->xAxis()->minValue(), newest - 240.0 * interval / 1000);
        QCOMPARE(chart->getXCoor(newest), chart->getPlotArea()->getRightX());
        QVERIFY(lastLightColumn(chart) >= chart->getPlotArea()->getRightX() - 40);
        // Moving the mouse redraws only the cursor layer, never the chart.
        const int builds = s.view.chartBuildCount();
        QTest::mouseMove(s.view.chartViewer1(), QPoint(chart->getPlotArea()->getLeftX() + 20, 60));
        QCoreApplication::processEvents();
        QCOMPARE(s.view.chartBuildCount(), builds);
        // A resize redraws both charts at their labels' size.
        s.view.resize(1100, 560);
        settle();
        for (const char *name : {"label_ch1_chart", "label_ch2_chart"}) {
            QLabel *chartLabel = label(&s.view, name);
            XYChart *c = chartLabel->findChild<QChartViewer *>()->chart();
            QCOMPARE(QSize(c->getWidth(), c->getHeight()), chartLabel->size() - QSize(10, 0));
        }
    }

    // A channel without a value reads "no data" on its panel, in its own look,
    // without unit, also after the view is bound again; a value brings the
    // usual look back, a disconnection the grey one.
    void noDataPanel()
    {
        Shown s;
        s.node->setUnits(1, 3);
        s.node->setAlarmRange(0, 10, 0, 10);
        s.bind();
        feed(s.node, QString(), "nan");
        for (const char *name : {"label_ch1_number", "label_ch2_number"})
            QCOMPARE(label(&s.view, name)->text(), ValueStyle::kNoDataText);
        for (const char *name : {"label_ch1_unit", "label_ch2_unit"})
            QVERIFY(label(&s.view, name)->text().isEmpty());
        QCOMPARE(frameStyle(&s.view, "frame_ch1_value"), ValueStyle::kNoData);
        QCOMPARE(frameStyle(&s.view, "frame_ch2_value"), ValueStyle::kNoData);
        QVERIFY(!s.node->alarm1() && !s.node->alarm2());

        s.bind();
        QCOMPARE(label(&s.view, "label_ch1_number")->text(), ValueStyle::kNoDataText);
        QCOMPARE(frameStyle(&s.view, "frame_ch1_value"), ValueStyle::kNoData);

        feed(s.node, "5.00", QString());
        QCOMPARE(frameStyle(&s.view, "frame_ch1_value"), ValueStyle::kNormal);
        QCOMPARE(label(&s.view, "label_ch1_unit")->text(), "\u00B0C");
        QCOMPARE(frameStyle(&s.view, "frame_ch2_value"), ValueStyle::kNoData);
        feed(s.node, "11.00", QString());
        QCOMPARE(frameStyle(&s.view, "frame_ch1_value"), ValueStyle::kAlarm);
        s.device->deviceDisconnected();
        QCOMPARE(frameStyle(&s.view, "frame_ch2_value"), ValueStyle::kGrey);
        QVERIFY(label(&s.view, "label_ch2_number")->text().isEmpty());
    }

    void badValuesKeepLayout_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("not a number") << "--";
        QTest::newRow("1e30") << "1e30";
        QTest::newRow("negative zero") << "-0.00";
        QTest::newRow("four digits") << "9980.02";
        QTest::newRow("very long") << QString(300, QLatin1Char('8'));
    }
    void badValuesKeepLayout()
    {
        QFETCH(QString, value);
        Shown s;
        QVERIFY(QTest::qWaitForWindowExposed(&s.view));
        feed(s.node, "1.00", "2.00");
        settle();
        const QSize minimum = s.view.minimumSizeHint();
        const QRect panel = child<QFrame>(&s.view, "frame_channel1")->geometry();
        feed(s.node, value, value, QDateTime::currentDateTime(), value, value);
        settle();
        QCOMPARE(s.view.minimumSizeHint(), minimum);
        QCOMPARE(child<QFrame>(&s.view, "frame_channel1")->geometry(), panel);
        const qreal size = label(&s.view, "label_ch1_number")->font().pointSizeF();
        QVERIFY2(size > 0.0 && size <= 400.0, qPrintable(QString::number(size)));
    }

    // An unbound view shows empty charts; a node without a connection shows
    // greyed; the node keeps no link to a view that is gone.
    void emptyViewLonelyNodeAndLifetime()
    {
        NodeDevice lone("LONE-1");
        {
            ChartView view;
            view.resize(810, 404);
            view.show();
            QVERIFY(QTest::qWaitForWindowExposed(&view));
            QTest::mouseMove(view.chartViewer1(), QPoint(200, 60));
            settle();
            QVERIFY(!view.chartViewer1()->chart()->xAxis()->isDateScale());
            QCOMPARE(lastLightColumn(view.chartViewer1()->chart()), -1); // no cursor line
            view.setDevice(&lone);
            lone.setChartView(&view);
            QVERIFY(!child<QFrame>(&view, "frame_lqibatt")->isVisible());
            feed(&lone, "3.00", "4.00");
            QCOMPARE(label(&view, "label_ch1_number")->text(), "3.00");
            lone.deviceDisconnected();
            QCOMPARE(frameStyle(&view, "frame_ch1_value"), ValueStyle::kGrey);
        }
        QCOMPARE(lone.chartView(), nullptr);
        feed(&lone, "1.00", "2.00");
    }
};

QTEST_MAIN(TstChartView)
#include "tst_chartview.moc"
