#include "viewfixture.h"

#include "view/dashboard.h"
#include "view/dashboarddeviceitem.h"
#include "view/labelelider.h"
#include "view/resizelabel.h"
#include "view/resizelabelunit.h"
#include "view/valuestyle.h"

#include "gatewayfixture.h"

#include <QFrame>
#include <QLayout>
#include <QtTest>

using namespace ViewFixture;

namespace
{

QString style(DashBoardDeviceItem *tile)
{
    return child<QFrame>(tile, "frame_value")->styleSheet();
}
QString text(DashBoardDeviceItem *tile, const char *name)
{
    return label(tile, name)->text();
}

// A board over `count` nodes, eight per connection.
struct Board {
    Project project;
    DashBoard board;

    explicit Board(int count, bool named = true, bool show = true)
    {
        for (int i = 0; i < count; i += 8)
            project.addConnection(QStringLiteral("127.0.0.%1").arg(i / 8 + 1), qMin(8, count - i),
                                  named);
        board.resize(810, 404);
        board.setDeviceList(project.devices);
        if (show)
            board.show();
    }
    ~Board() { project.unlinkViews(); }
    DashBoardDeviceItem *tile(int i) const { return board.tiles().at(i); }
    NodeDevice *node(int i) const { return project.nodes().at(i); }
};

} // namespace

class TstDashBoard : public QObject
{
    Q_OBJECT

private slots:
    // Column pairs of four rows; a 17th device lands under the first.
    void placement_data()
    {
        QTest::addColumn<int>("count");
        QTest::newRow("five devices") << 5;
        QTest::newRow("seventeen devices") << 17;
    }
    void placement()
    {
        QFETCH(int, count);
        Board b(count, true, false);
        QCOMPARE(b.board.tiles().size(), 2 * count);
        for (int k = 0; k < count; ++k) {
            const int row = k % 4;
            const int column = 2 * ((k / 4) % 4);
            QCOMPARE(b.tile(2 * k)->parentWidget(), b.board.cell(row, column));
            QCOMPARE(b.tile(2 * k + 1)->parentWidget(), b.board.cell(row, column + 1));
            QCOMPARE(b.node(k)->ch1Tile(), b.tile(2 * k));
            QCOMPARE(b.node(k)->ch2Tile(), b.tile(2 * k + 1));
        }
        if (count == 5)
            QCOMPARE(b.tile(8)->parentWidget()->objectName(), "widget_03");
        else
            QCOMPARE(b.board.cell(0, 0)->layout()->itemAt(1)->widget(), b.tile(32));
        // Cells without a tile can be hidden.
        b.board.setEmptyCellsVisible(false);
        int hidden = 0;
        for (int cell = 0; cell < 32; ++cell)
            hidden += b.board.cell(cell / 8, cell % 8)->isHidden();
        QCOMPARE(hidden, qMax(0, 32 - 2 * count));
        QVERIFY(!b.tile(2 * count - 1)->isHidden());
        b.board.setEmptyCellsVisible(true);
        QVERIFY(!b.board.cell(3, 7)->isHidden());
    }

    // Unnamed nodes show their address and "CH1"/"CH2"; long names are
    // elided, never widening the board.
    void namesFallBackAndLongNamesAreElided()
    {
        Board b(4, false);
        QVERIFY(QTest::qWaitForWindowExposed(&b.board));
        QCOMPARE(LabelElider::fullText(label(b.tile(0), "label_device")), "127.0.0.1");
        QCOMPARE(LabelElider::fullText(label(b.tile(0), "label_desc")), "CH1");
        const QSize minimum = b.board.minimumSizeHint();
        const QString longName(300, QLatin1Char('W'));
        b.node(0)->setNames(longName, longName, QString());
        b.board.refreshAll();
        QCOMPARE(b.board.minimumSizeHint(), minimum);
        QLabel *device = label(b.tile(0), "label_device");
        QCOMPARE(LabelElider::fullText(device), longName);
        QVERIFY(device->text().endsWith(QChar(0x2026)));
        QCOMPARE(LabelElider::fullText(label(b.tile(1), "label_desc")), "CH2"); // named, but empty
        QVERIFY(b.tile(0)->width() <= b.tile(2)->width() + 1);
    }

    void badValuesKeepLayout_data()
    {
        // A text without a number reads "no data" in its own look, never as a
        // value in range; the unit goes with the number.
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("look");
        QTest::addColumn<QString>("shown");
        const QString noData = ValueStyle::kNoDataText;
        QTest::newRow("empty") << QString() << ValueStyle::kNoData << noData;
        QTest::newRow("not a number") << "abc" << ValueStyle::kNoData << noData;
        QTest::newRow("nan") << "nan" << ValueStyle::kNoData << noData;
        QTest::newRow("1e30") << "1e30" << ValueStyle::kAlarm << "1e30";
        QTest::newRow("negative zero") << "-0.00" << ValueStyle::kAlarm << "-0.00";
        QTest::newRow("beyond float") << QString(400, '9') << ValueStyle::kNoData << noData;
    }
    void badValuesKeepLayout()
    {
        QFETCH(QString, value);
        QFETCH(QString, shown);
        QFETCH(QString, look);
        Board b(16);
        b.node(0)->setAlarmRange(10, 30, 10, 30);
        QVERIFY(QTest::qWaitForWindowExposed(&b.board));
        b.project.devices.first()->deviceConnected();
        feed(b.node(0), "20.00", "25.00");
        QCoreApplication::processEvents();
        const QSize minimum = b.board.minimumSizeHint();
        const QRect geometry = b.tile(0)->geometry();
        feed(b.node(0), value, value);
        QCoreApplication::processEvents();
        QCOMPARE(b.board.minimumSizeHint(), minimum);
        QCOMPARE(b.tile(0)->geometry(), geometry);
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(text(b.tile(i), "label_number"), shown);
            if (look == ValueStyle::kNoData)
                QVERIFY(text(b.tile(i), "label_unit").isEmpty());
            const qreal size = label(b.tile(i), "label_number")->font().pointSizeF();
            QVERIFY2(size > 0.0 && size < 400.0, qPrintable(QString::number(size)));
            QCOMPARE(style(b.tile(i)), look);
        }
    }

    // A sample after the page died must not write into freed tiles.
    void destroyingTilesUnlinksNode()
    {
        Project project;
        project.addConnection("127.0.0.1", 1);
        {
            DashBoard board;
            board.setDeviceList(project.devices);
        }
        QVERIFY(!project.nodes().first()->ch1Tile());
        QVERIFY(!project.nodes().first()->ch2Tile());
        feed(project.nodes().first(), "1.00", "2.00");
    }

    // A real Modbus gateway on loopback moves a tile grey -> teal -> crimson
    // as the value leaves its alarm range and back, with the unit of its code
    // (1, 4 custom, 7 none); a redraw keeps the look of the value shown.
    // Silent, the tile turns grey without number or unit.
    void simulatorMovesTileGreyTealCrimson_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("unit");
        QTest::newRow("1 celsius") << 1 << "\u00B0C";
        QTest::newRow("4 custom") << 4 << "ppm";
        QTest::newRow("7 unknown") << 7 << QString();
    }
    void simulatorMovesTileGreyTealCrimson()
    {
        QFETCH(int, code);
        QFETCH(QString, unit);
        GatewaySimulator sim(TestSupport::frozenGateway(1));
        QVERIFY(sim.start());
        Project project;
        ConfiguredDevice *device = project.addConnection("127.0.0.1", 1, true, sim.serverPort());
        NodeDevice *node = device->nodeList().first();
        node->setUnits(code, 3);
        node->setCustomUnits("ppm", "lux");
        node->setAlarmRange(10.0f, 30.0f, 0.0f, 0.0f);
        DashBoard board;
        board.setDeviceList(project.devices);
        DashBoardDeviceItem *tile = board.tiles().at(0);
        QCOMPARE(style(tile), ValueStyle::kGrey);

        const std::pair<float, QString> steps[] = {{21.5f, ValueStyle::kNormal},
                                                   {30.5f, ValueStyle::kAlarm},
                                                   {9.99f, ValueStyle::kAlarm},
                                                   {29.0f, ValueStyle::kNormal}};
        for (const auto &[value, look] : steps) {
            sim.setDeviceValues(0, value, 48.0f, -58, 96);
            device->poll();
            QTRY_COMPARE(text(tile, "label_number"), QString::number(value, 'f', 2));
            QCOMPARE(style(tile), look);
            QCOMPARE(text(tile, "label_unit"), unit);
            board.refreshAll();
            QCOMPARE(style(tile), look);
        }
        QCOMPARE(style(board.tiles().at(1)), ValueStyle::kNormal);
        QCOMPARE(text(board.tiles().at(1), "label_unit"), "%RH");
        sim.setSilent(true);
        for (int i = 0; i <= ConfiguredDevice::missedPollLimit() && device->isConnected(); ++i)
            device->poll();
        QVERIFY(!device->isConnected());
        QCOMPARE(style(tile), ValueStyle::kGrey);
        QVERIFY(text(tile, "label_number").isEmpty() && text(tile, "label_unit").isEmpty());
        device->close();
        project.unlinkViews();
    }

    // The value and unit labels fit their font to the space they get.
    // After fitting, the text fills the tighter side of the label within its
    // margins (10 x 8 pixels for the value, none for the unit) and the other
    // side holds it. A text of no extent leaves the font alone; a tiny room,
    // or a huge one around a dot, keeps the font within its bounds.
    void labelFontFits_data()
    {
        QTest::addColumn<bool>("unit");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QSize>("size");
        QTest::newRow("value, wide") << false << "23.45" << QSize(600, 90);
        QTest::newRow("value, tall") << false << "23.45" << QSize(160, 400);
        QTest::newRow("value, small") << false << "-123.45" << QSize(60, 30);
        QTest::newRow("unit") << true << "%RH" << QSize(120, 120);
        QTest::newRow("empty value") << false << "" << QSize(300, 200);
        QTest::newRow("empty unit") << true << "" << QSize(300, 200);
        QTest::newRow("zero-width space") << false << QString(QChar(0x200B)) << QSize(300, 200);
        QTest::newRow("tiny room") << false << QString(2000, '8') << QSize(12, 9);
        QTest::newRow("huge dot") << false << "." << QSize(20000, 20000);
    }
    void labelFontFits()
    {
        QFETCH(bool, unit);
        QFETCH(QString, text);
        QFETCH(QSize, size);
        ResizeLabel valueLabel;
        ResizeLabelUnit unitLabel;
        auto fit = [&](auto &label) {
            label.setFont(QFont("Segoe UI", 18));
            label.setText(text);
            label.resize(size);
            for (int i = 0; i < 3; ++i) // fitting again keeps within bounds
                label.fitFont();
            return label.font();
        };
        const QFont font = unit ? fit(unitLabel) : fit(valueLabel);
        const qreal points = font.pointSizeF();
        const QSize measured = QFontMetrics(font).size(0, text);
        const QSize room = size - (unit ? QSize(0, 0) : QSize(10, 8));
        QVERIFY(points >= ResizeLabel::kMinPointSize && points <= ResizeLabel::kMaxPointSize);
        if (measured.width() == 0 || measured.height() == 0) {
            QCOMPARE(points, 18.0);
        } else if (points == ResizeLabel::kMinPointSize || points == ResizeLabel::kMaxPointSize) {
            QVERIFY(size.width() < 20 || size.width() > 10000); // only the extreme rows
        } else {
            const double fill = std::max(double(measured.width()) / room.width(),
                                         double(measured.height()) / room.height());
            QVERIFY2(qAbs(fill - 1) < 0.1, qPrintable(QString::number(fill)));
        }
    }
};

QTEST_MAIN(TstDashBoard)
#include "tst_dashboard.moc"
