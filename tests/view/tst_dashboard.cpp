#include "viewfixture.h"

#include "common/common.h"
#include "view/valuestyle.h"

#include "view/dashboard.h"
#include "view/dashboarddeviceitem.h"
#include "view/labelelider.h"

#include "gatewaysimulator.h"

#include <QFrame>
#include <QGridLayout>
#include <QSignalSpy>
#include <QtTest>

using namespace ViewFixture;

class TstDashBoard : public QObject
{
    Q_OBJECT

private:
    static QFrame *valueFrame(DashBoardDeviceItem *tile) { return child<QFrame>(tile, "frame_value"); }
    static QLabel *label(DashBoardDeviceItem *tile, const char *name) { return child<QLabel>(tile, name); }

private slots:
    void initTestCase() { qRegisterMetaType<NodeDevice *>(); }
    void placement_data();
    void placement();
    void seventeenthDeviceStacksUnderFirst();
    void nameFallbacks();
    void unitTexts_data();
    void unitTexts();
    void disconnectGreysAndNextValueRecolours();
    void numberRefitsOnlyOnLengthChange();
    void emptyCellsHidden();
    void clickEmitsNode();
    void tileWithoutNodeIsInert();
    void badValuesKeepLayout_data();
    void badValuesKeepLayout();
    void longNamesAreElided();
    void refreshAllRereadsNames();
    void destroyingTilesUnlinksNode();
    void simulatorMovesTileGreyTealCrimson();
};

void TstDashBoard::placement_data()
{
    QTest::addColumn<int>("count");
    QTest::newRow("five devices") << 5;
    QTest::newRow("sixteen devices") << 16;
}

void TstDashBoard::placement()
{
    QFETCH(int, count);
    Project project;
    project.addConnection(QStringLiteral("127.0.0.1"), count > 8 ? 8 : count);
    if (count > 8)
        project.addConnection(QStringLiteral("127.0.0.2"), count - 8);
    DashBoard board;
    board.setDeviceList(project.devices);
    QCOMPARE(board.tiles().size(), 2 * count);
    const QList<NodeDevice *> nodes = project.nodes();
    for (int k = 0; k < count; ++k) {
        const int row = k % 4;
        const int column = 2 * ((k / 4) % 4);
        DashBoardDeviceItem *ch1 = board.tiles().at(2 * k);
        DashBoardDeviceItem *ch2 = board.tiles().at(2 * k + 1);
        QCOMPARE(ch1->node(), nodes.at(k));
        QVERIFY(ch1->isChannel1());
        QVERIFY(!ch2->isChannel1());
        QCOMPARE(ch1->parentWidget(), board.cell(row, column));
        QCOMPARE(ch2->parentWidget(), board.cell(row, column + 1));
        QCOMPARE(nodes.at(k)->ch1Tile(), ch1);
        QCOMPARE(nodes.at(k)->ch2Tile(), ch2);
    }
    if (count == 5) {
        // The fifth device opens the second column pair.
        QCOMPARE(board.cell(0, 2)->objectName(), QStringLiteral("widget_03"));
        QCOMPARE(board.tiles().at(8)->parentWidget()->objectName(), QStringLiteral("widget_03"));
        QCOMPARE(board.tiles().at(9)->parentWidget()->objectName(), QStringLiteral("widget_04"));
        QCOMPARE(board.tiles().at(6)->parentWidget()->objectName(), QStringLiteral("widget_25"));
    }
    project.unlinkViews();
}

void TstDashBoard::seventeenthDeviceStacksUnderFirst()
{
    Project project;
    project.addConnection(QStringLiteral("127.0.0.1"), 8);
    project.addConnection(QStringLiteral("127.0.0.2"), 8);
    project.addConnection(QStringLiteral("127.0.0.3"), 1);
    DashBoard board;
    board.setDeviceList(project.devices);
    QCOMPARE(board.tiles().size(), 34);
    QWidget *first = board.cell(0, 0);
    QWidget *second = board.cell(0, 1);
    QCOMPARE(first->objectName(), QStringLiteral("widget_01"));
    QCOMPARE(first->layout()->count(), 2);
    QCOMPARE(second->layout()->count(), 2);
    QCOMPARE(first->layout()->itemAt(0)->widget(), board.tiles().at(0));
    QCOMPARE(first->layout()->itemAt(1)->widget(), board.tiles().at(32));
    QCOMPARE(second->layout()->itemAt(1)->widget(), board.tiles().at(33));
    project.unlinkViews();
}

void TstDashBoard::nameFallbacks()
{
    Project project;
    ConfiguredDevice *device = project.addConnection(QStringLiteral("192.168.10.7"), 1, false);
    DashBoard board;
    board.setDeviceList(project.devices);
    DashBoardDeviceItem *ch1 = board.tiles().at(0);
    DashBoardDeviceItem *ch2 = board.tiles().at(1);
    QCOMPARE(LabelElider::fullText(label(ch1, "label_device")), QStringLiteral("192.168.10.7"));
    QCOMPARE(LabelElider::fullText(label(ch1, "label_desc")), QStringLiteral("CH1"));
    QCOMPARE(LabelElider::fullText(label(ch2, "label_desc")), QStringLiteral("CH2"));
    QVERIFY(label(ch1, "label_number")->text().isEmpty());
    QVERIFY(label(ch1, "label_unit")->text().isEmpty());

    device->nodeList().first()->setNames(QStringLiteral("Freezer"), QStringLiteral("Air"), QString());
    board.refreshAll();
    QCOMPARE(LabelElider::fullText(label(ch1, "label_device")), QStringLiteral("Freezer"));
    QCOMPARE(LabelElider::fullText(label(ch1, "label_desc")), QStringLiteral("Air"));
    QCOMPARE(LabelElider::fullText(label(ch2, "label_desc")), QStringLiteral("CH2"));
    project.unlinkViews();
}

void TstDashBoard::unitTexts_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("custom");
    QTest::addColumn<QString>("expected");
    QTest::newRow("0 none") << 0 << QString() << QString();
    QTest::newRow("1 celsius") << 1 << QString() << QString::fromUtf8("\xC2\xB0" "C");
    QTest::newRow("2 fahrenheit") << 2 << QString() << QString::fromUtf8("\xC2\xB0" "F");
    QTest::newRow("3 humidity") << 3 << QString() << QStringLiteral("%RH");
    QTest::newRow("4 custom") << 4 << QStringLiteral("ppm") << QStringLiteral("ppm");
    QTest::newRow("7 unknown") << 7 << QStringLiteral("ppm") << QString();
}

void TstDashBoard::unitTexts()
{
    QFETCH(int, code);
    QFETCH(QString, custom);
    QFETCH(QString, expected);
    Project project;
    project.addConnection(QStringLiteral("127.0.0.1"), 1);
    NodeDevice *node = project.nodes().first();
    node->setUnits(code, 0);
    node->setCustomUnits(custom, QString());
    DashBoard board;
    board.setDeviceList(project.devices);
    QCOMPARE(unitDisplayText(code, custom), expected);
    node->deviceConnected();
    feed(node, QStringLiteral("21.50"), QStringLiteral("40.00"));
    QCOMPARE(label(board.tiles().at(0), "label_number")->text(), QStringLiteral("21.50"));
    QCOMPARE(label(board.tiles().at(0), "label_unit")->text(), expected);
    QCOMPARE(label(board.tiles().at(1), "label_unit")->text(), QString());
    project.unlinkViews();
}

void TstDashBoard::disconnectGreysAndNextValueRecolours()
{
    Project project;
    ConfiguredDevice *device = project.addConnection(QStringLiteral("127.0.0.1"), 1);
    NodeDevice *node = project.nodes().first();
    node->setUnits(1, 3);
    node->setAlarmRange(10, 30, 0, 0);
    DashBoard board;
    board.setDeviceList(project.devices);
    DashBoardDeviceItem *ch1 = board.tiles().at(0);
    DashBoardDeviceItem *ch2 = board.tiles().at(1);
    QCOMPARE(valueFrame(ch1)->styleSheet(), ValueStyle::kGrey);

    device->deviceConnected();
    QCOMPARE(valueFrame(ch1)->styleSheet(), ValueStyle::kNormal);
    feed(node, QStringLiteral("35.00"), QStringLiteral("50.00"));
    QCOMPARE(valueFrame(ch1)->styleSheet(), ValueStyle::kAlarm);
    QCOMPARE(valueFrame(ch2)->styleSheet(), ValueStyle::kNormal);

    device->deviceDisconnected();
    for (DashBoardDeviceItem *tile : {ch1, ch2}) {
        QCOMPARE(valueFrame(tile)->styleSheet(), ValueStyle::kGrey);
        QVERIFY(label(tile, "label_number")->text().isEmpty());
        QVERIFY(label(tile, "label_unit")->text().isEmpty());
    }

    // Another device's events leave the tile alone.
    ch1->setConnected(QStringLiteral("someone-else"));
    QCOMPARE(valueFrame(ch1)->styleSheet(), ValueStyle::kGrey);

    device->deviceConnected();
    feed(node, QStringLiteral("20.00"), QStringLiteral("50.00"));
    QCOMPARE(valueFrame(ch1)->styleSheet(), ValueStyle::kNormal);
    QCOMPARE(label(ch1, "label_unit")->text(), QString::fromUtf8("\xC2\xB0" "C"));
    feed(node, QStringLiteral("9.99"), QStringLiteral("50.00"));
    QCOMPARE(valueFrame(ch1)->styleSheet(), ValueStyle::kAlarm);
    // A refresh keeps the alarm look while a value is shown ...
    board.refreshAll();
    QCOMPARE(valueFrame(ch1)->styleSheet(), ValueStyle::kAlarm);
    project.unlinkViews();
}

void TstDashBoard::numberRefitsOnlyOnLengthChange()
{
    Project project;
    project.addConnection(QStringLiteral("127.0.0.1"), 1);
    NodeDevice *node = project.nodes().first();
    DashBoard board;
    board.resize(810, 404);
    board.setDeviceList(project.devices);
    board.show();
    QVERIFY(QTest::qWaitForWindowExposed(&board));
    DashBoardDeviceItem *tile = board.tiles().at(0);
    QLabel *number = label(tile, "label_number");
    feed(node, QStringLiteral("21.50"), QStringLiteral("1.00"));

    // Give the label a size no fit would choose, then watch whether it changes.
    QFont marked = number->font();
    marked.setPointSizeF(41.0);
    number->setFont(marked);
    feed(node, QStringLiteral("22.75"), QStringLiteral("1.00"));
    QCOMPARE(number->font().pointSizeF(), 41.0);
    feed(node, QStringLiteral("122.75"), QStringLiteral("1.00"));
    QVERIFY(number->font().pointSizeF() != 41.0);
    QVERIFY(number->font().pointSizeF() > 0.0);
    project.unlinkViews();
}

void TstDashBoard::emptyCellsHidden()
{
    Project project;
    project.addConnection(QStringLiteral("127.0.0.1"), 3);
    DashBoard board;
    board.setDeviceList(project.devices);
    board.show();
    board.setEmptyCellsVisible(false);
    int hidden = 0;
    int shown = 0;
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 8; ++column) {
            QWidget *cell = board.cell(row, column);
            QVERIFY(cell);
            cell->isHidden() ? ++hidden : ++shown;
        }
    }
    QCOMPARE(hidden, 26);
    QCOMPARE(shown, 6);
    for (DashBoardDeviceItem *tile : board.tiles())
        QVERIFY(tile->isVisible());
    board.setEmptyCellsVisible(true);
    QVERIFY(board.cell(3, 7)->isVisible());
    project.unlinkViews();
}

void TstDashBoard::clickEmitsNode()
{
    Project project;
    project.addConnection(QStringLiteral("127.0.0.1"), 2);
    DashBoard board;
    board.setDeviceList(project.devices);
    board.show();
    QSignalSpy spy(&board, &DashBoard::deviceClicked);
    QTest::mouseClick(board.tiles().at(3), Qt::LeftButton);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).value<NodeDevice *>(), project.nodes().at(1));
    project.unlinkViews();
}

void TstDashBoard::tileWithoutNodeIsInert()
{
    DashBoardDeviceItem tile(nullptr, true);
    QSignalSpy spy(&tile, &DashBoardDeviceItem::clicked);
    tile.setValue(QStringLiteral("12.00"));
    tile.setConnected(QString());
    tile.setDisconnected(QString());
    tile.refresh();
    tile.show();
    QTest::mouseClick(&tile, Qt::LeftButton);
    QCOMPARE(spy.count(), 0);
    QVERIFY(child<QFrame>(&tile, "frame_ch")->isHidden());
    QVERIFY(label(&tile, "label_number")->text().isEmpty());
}

void TstDashBoard::badValuesKeepLayout_data()
{
    QTest::addColumn<QString>("value");
    QTest::newRow("empty") << QString();
    QTest::newRow("not a number") << QStringLiteral("abc");
    QTest::newRow("huge") << QStringLiteral("1000000015047466219876688855040.00");
    QTest::newRow("1e30") << QStringLiteral("1e30");
    QTest::newRow("negative zero") << QStringLiteral("-0.00");
    QTest::newRow("nan") << QStringLiteral("nan");
    QTest::newRow("very long") << QString(400, QLatin1Char('9'));
}

void TstDashBoard::badValuesKeepLayout()
{
    QFETCH(QString, value);
    Project project;
    ConfiguredDevice *device = project.addConnection(QStringLiteral("127.0.0.1"), 8);
    ConfiguredDevice *second = project.addConnection(QStringLiteral("127.0.0.2"), 8);
    device->nodeList().first()->setAlarmRange(10, 30, 10, 30);
    DashBoard board;
    board.setDeviceList(project.devices);
    const QSize size = board.minimumSizeHint().expandedTo(QSize(810, 404));
    board.resize(size);
    board.show();
    QVERIFY(QTest::qWaitForWindowExposed(&board));
    device->deviceConnected();
    second->deviceConnected();
    for (NodeDevice *node : project.nodes())
        feed(node, QStringLiteral("20.00"), QStringLiteral("55.00"));
    QCoreApplication::processEvents();
    const QSize minimum = board.minimumSizeHint();
    const QRect tileGeometry = board.tiles().at(0)->geometry();

    feed(device->nodeList().first(), value, value);
    QCoreApplication::processEvents();
    QCOMPARE(board.minimumSizeHint(), minimum);
    QCOMPARE(board.size(), size);
    QCOMPARE(board.tiles().at(0)->geometry(), tileGeometry);
    for (int i = 0; i < 2; ++i) {
        QLabel *number = label(board.tiles().at(i), "label_number");
        QCOMPARE(number->text(), value);
        const qreal size = number->font().pointSizeF();
        QVERIFY2(size > 0.0 && size < 400.0, qPrintable(QString::number(size)));
        // "nan" and texts that are not numbers never raise an alarm.
        if (value.isEmpty() || value == QLatin1String("abc") || value == QLatin1String("nan"))
            QCOMPARE(valueFrame(board.tiles().at(i))->styleSheet(), ValueStyle::kNormal);
    }
    project.unlinkViews();
}

void TstDashBoard::longNamesAreElided()
{
    Project project;
    ConfiguredDevice *device = project.addConnection(QStringLiteral("127.0.0.1"), 4);
    const QString longName = QString(300, QLatin1Char('W'));
    device->nodeList().first()->setNames(longName, longName, longName);
    DashBoard board;
    board.resize(810, 404);
    board.setDeviceList(project.devices);
    board.show();
    QVERIFY(QTest::qWaitForWindowExposed(&board));
    // The same board with short names needs exactly as much room.
    Project reference;
    reference.addConnection(QStringLiteral("127.0.0.1"), 4);
    DashBoard referenceBoard;
    referenceBoard.setDeviceList(reference.devices);
    QCOMPARE(board.minimumSizeHint(), referenceBoard.minimumSizeHint());
    reference.unlinkViews();
    QLabel *device1 = label(board.tiles().at(0), "label_device");
    QCOMPARE(LabelElider::fullText(device1), longName);
    QVERIFY(device1->text().length() < longName.length());
    QVERIFY(device1->text().endsWith(QChar(0x2026)));
    QCOMPARE(device1->toolTip(), longName);
    QVERIFY(board.tiles().at(0)->width() <= board.tiles().at(2)->width() + 1);
    project.unlinkViews();
}

void TstDashBoard::refreshAllRereadsNames()
{
    Project project;
    ConfiguredDevice *device = project.addConnection(QStringLiteral("127.0.0.1"), 1);
    NodeDevice *node = device->nodeList().first();
    DashBoard board;
    board.setDeviceList(project.devices);
    // Without a value, a refresh leaves the tile grey and without unit.
    node->setUnits(3, 3);
    board.refreshAll();
    QCOMPARE(valueFrame(board.tiles().at(0))->styleSheet(), ValueStyle::kGrey);
    QVERIFY(label(board.tiles().at(0), "label_unit")->text().isEmpty());
    device->deviceConnected();
    feed(node, QStringLiteral("55.00"), QStringLiteral("56.00"));
    node->setUnits(4, 3);
    node->setCustomUnits(QStringLiteral("lux"), QString());
    board.refreshAll();
    QCOMPARE(label(board.tiles().at(0), "label_unit")->text(), QStringLiteral("lux"));
    QCOMPARE(label(board.tiles().at(1), "label_unit")->text(), QStringLiteral("%RH"));
    project.unlinkViews();
}

void TstDashBoard::destroyingTilesUnlinksNode()
{
    Project project;
    project.addConnection(QStringLiteral("127.0.0.1"), 2);
    {
        DashBoard board;
        board.setDeviceList(project.devices);
        QVERIFY(project.nodes().first()->ch1Tile());
    }
    // The node must not keep links to tiles that are gone; a sample after the
    // page died would otherwise write into freed memory.
    QVERIFY(!project.nodes().first()->ch1Tile());
    QVERIFY(!project.nodes().first()->ch2Tile());
    feed(project.nodes().first(), QStringLiteral("1.00"), QStringLiteral("2.00"));
}

// End to end: a real Modbus gateway on loopback feeds a node whose tile goes
// grey -> teal -> crimson as the value leaves its alarm range, and grey again
// when the gateway falls silent.
void TstDashBoard::simulatorMovesTileGreyTealCrimson()
{
    GatewaySimulator::Options options;
    options.port = 0;
    options.updateMs = 0;
    options.devices = 2;
    GatewaySimulator sim(options);
    QVERIFY(sim.start());
    sim.setDeviceValues(0, 21.5f, 48.0f, -58, 96);
    sim.setDeviceValues(1, 5.0f, 6.0f, -70, 80);

    Project project;
    ConfiguredDevice *device = project.addConnection(QStringLiteral("127.0.0.1"), 2, true, QStringLiteral("Dev"),
                                                     sim.serverPort());
    NodeDevice *node = device->nodeList().first();
    node->setUnits(1, 3);
    node->setAlarmRange(10.0f, 30.0f, 0.0f, 0.0f);
    DashBoard board;
    board.setDeviceList(project.devices);
    board.show();
    DashBoardDeviceItem *ch1 = board.tiles().at(0);
    DashBoardDeviceItem *ch2 = board.tiles().at(1);
    QCOMPARE(valueFrame(ch1)->styleSheet(), ValueStyle::kGrey);

    device->poll();
    QTRY_COMPARE(label(ch1, "label_number")->text(), QStringLiteral("21.50"));
    QCOMPARE(valueFrame(ch1)->styleSheet(), ValueStyle::kNormal);
    QCOMPARE(label(ch1, "label_unit")->text(), QString::fromUtf8("\xC2\xB0" "C"));
    QCOMPARE(label(ch2, "label_number")->text(), QStringLiteral("48.00"));
    QCOMPARE(label(ch2, "label_unit")->text(), QStringLiteral("%RH"));
    QCOMPARE(label(board.tiles().at(2), "label_number")->text(), QStringLiteral("5.00"));

    sim.setDeviceValues(0, 30.5f, 48.0f, -58, 96);
    device->poll();
    QTRY_COMPARE(label(ch1, "label_number")->text(), QStringLiteral("30.50"));
    QCOMPARE(valueFrame(ch1)->styleSheet(), ValueStyle::kAlarm);
    QCOMPARE(valueFrame(ch2)->styleSheet(), ValueStyle::kNormal);
    QVERIFY(node->alarm1());

    sim.setDeviceValues(0, 29.0f, 48.0f, -58, 96);
    device->poll();
    QTRY_COMPARE(label(ch1, "label_number")->text(), QStringLiteral("29.00"));
    QCOMPARE(valueFrame(ch1)->styleSheet(), ValueStyle::kNormal);

    // A silent gateway: after the missed-poll limit the tiles grey out.
    sim.setSilent(true);
    for (int i = 0; i <= ConfiguredDevice::missedPollLimit() && device->isConnected(); ++i)
        device->poll();
    QVERIFY(!device->isConnected());
    QCOMPARE(valueFrame(ch1)->styleSheet(), ValueStyle::kGrey);
    QVERIFY(label(ch1, "label_number")->text().isEmpty());
    device->close();
    project.unlinkViews();
}

QTEST_MAIN(TstDashBoard)
#include "tst_dashboard.moc"
