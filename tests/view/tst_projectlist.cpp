#include "viewfixture.h"

#include "view/projectlist.h"

#include <QAbstractItemModelTester>
#include <QCommandLinkButton>
#include <QListWidget>
#include <QSignalSpy>
#include <QtTest>

using namespace ViewFixture;

class TstProjectList : public QObject
{
    Q_OBJECT

private:
    static QListWidget *list(ProjectList &view) { return child<QListWidget>(&view, "list_project"); }
    static bool shownConnected(QListWidgetItem *item) { return item->data(Qt::UserRole + 1).toBool(); }

private slots:
    void initTestCase() { qRegisterMetaType<NodeDevice *>(); }
    void entriesInProjectOrder();
    void unnamedDeviceListedByNumber();
    void refreshNamesAfterRename();
    void connectionIcons();
    void selection();
    void projectButtonClearsSelectionAndEmitsOnce();
    void clickEmitsNode();
    void emptyProjectGivesWorkingEmptyList();
    void longNamesDoNotWidenTheColumn();
};

void TstProjectList::entriesInProjectOrder()
{
    Project project;
    project.addConnection(QStringLiteral("127.0.0.1"), 3);
    project.addConnection(QStringLiteral("127.0.0.2"), 2);
    ProjectList view(QStringLiteral("Plant A"));
    QAbstractItemModelTester tester(list(view)->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    view.setDeviceList(project.devices);
    QCOMPARE(child<QCommandLinkButton>(&view, "button_project")->text(), QStringLiteral("Plant A"));
    QCOMPARE(list(view)->count(), 5);
    const QList<NodeDevice *> nodes = project.nodes();
    for (int i = 0; i < nodes.size(); ++i) {
        QCOMPARE(list(view)->item(i)->text(), nodes.at(i)->deviceName());
        QCOMPARE(view.itemOf(nodes.at(i)), list(view)->item(i));
        QCOMPARE(nodes.at(i)->projectList(), &view);
        QVERIFY(!shownConnected(list(view)->item(i)));
    }
    project.unlinkViews();
}

void TstProjectList::unnamedDeviceListedByNumber()
{
    Project project;
    project.addConnection(QStringLiteral("10.0.0.9"), 1, false);
    ProjectList view(QStringLiteral("P"));
    view.setDeviceList(project.devices);
    NodeDevice *node = project.nodes().first();
    QCOMPARE(list(view)->item(0)->text(), node->deviceNumber());
    QCOMPARE(list(view)->item(0)->toolTip(), node->deviceNumber());
    project.unlinkViews();
}

void TstProjectList::refreshNamesAfterRename()
{
    Project project;
    project.addConnection(QStringLiteral("127.0.0.1"), 2);
    ProjectList view(QStringLiteral("P"));
    view.setDeviceList(project.devices);
    project.nodes().at(1)->setNames(QStringLiteral("Boiler"), QStringLiteral("a"), QStringLiteral("b"));
    QCOMPARE(list(view)->item(1)->text(), QStringLiteral("Dev2"));
    view.refreshNames();
    QCOMPARE(list(view)->item(1)->text(), QStringLiteral("Boiler"));
    project.nodes().at(1)->setNames(QString(), QStringLiteral("a"), QStringLiteral("b"));
    view.refreshNames();
    QCOMPARE(list(view)->item(1)->text(), project.nodes().at(1)->deviceNumber());
    project.unlinkViews();
}

void TstProjectList::connectionIcons()
{
    Project project;
    ConfiguredDevice *first = project.addConnection(QStringLiteral("127.0.0.1"), 2);
    ConfiguredDevice *second = project.addConnection(QStringLiteral("127.0.0.2"), 1);
    ProjectList view(QStringLiteral("P"));
    view.setDeviceList(project.devices);
    const qint64 disconnectedKey = list(view)->item(0)->icon().cacheKey();

    // The poller tells its nodes, the nodes tell the list.
    first->deviceConnected();
    QVERIFY(shownConnected(list(view)->item(0)));
    QVERIFY(shownConnected(list(view)->item(1)));
    QVERIFY(!shownConnected(list(view)->item(2)));
    QVERIFY(list(view)->item(0)->icon().cacheKey() != disconnectedKey);

    second->deviceConnected();
    first->deviceDisconnected();
    QVERIFY(!shownConnected(list(view)->item(0)));
    QCOMPARE(list(view)->item(0)->icon().cacheKey(), disconnectedKey);
    QVERIFY(shownConnected(list(view)->item(2)));

    // Unknown numbers change nothing.
    view.setDisconnected(QStringLiteral("no-such-device"));
    view.setConnected(QStringLiteral("no-such-device"));
    QVERIFY(shownConnected(list(view)->item(2)));
    QVERIFY(!shownConnected(list(view)->item(1)));
    project.unlinkViews();
}

void TstProjectList::selection()
{
    Project project;
    project.addConnection(QStringLiteral("127.0.0.1"), 3);
    ProjectList view(QStringLiteral("P"));
    view.setDeviceList(project.devices);
    view.selectNode(project.nodes().at(2));
    QCOMPARE(list(view)->selectedItems(), QList<QListWidgetItem *>{list(view)->item(2)});
    view.selectNode(project.nodes().at(0));
    QCOMPARE(list(view)->selectedItems(), QList<QListWidgetItem *>{list(view)->item(0)});
    // A node without entry only clears the selection.
    NodeDevice stray(QStringLiteral("stray"));
    view.selectNode(&stray);
    QVERIFY(list(view)->selectedItems().isEmpty());
    view.selectNode(nullptr);
    QVERIFY(list(view)->selectedItems().isEmpty());
    project.unlinkViews();
}

void TstProjectList::projectButtonClearsSelectionAndEmitsOnce()
{
    Project project;
    project.addConnection(QStringLiteral("127.0.0.1"), 2);
    ProjectList view(QStringLiteral("P"));
    view.setDeviceList(project.devices);
    view.show();
    view.selectNode(project.nodes().at(1));
    QSignalSpy spy(&view, &ProjectList::dashboardClicked);
    QTest::mouseClick(child<QCommandLinkButton>(&view, "button_project"), Qt::LeftButton);
    QCOMPARE(spy.count(), 1);
    QVERIFY(list(view)->selectedItems().isEmpty());
    project.unlinkViews();
}

void TstProjectList::clickEmitsNode()
{
    Project project;
    project.addConnection(QStringLiteral("127.0.0.1"), 3);
    ProjectList view(QStringLiteral("P"));
    view.resize(187, 404);
    view.setDeviceList(project.devices);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QSignalSpy spy(&view, QOverload<NodeDevice *>::of(&ProjectList::deviceClicked));
    const QRect rect = list(view)->visualItemRect(list(view)->item(1));
    QTest::mouseClick(list(view)->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).value<NodeDevice *>(), project.nodes().at(1));
    // An item the list does not know maps to no node.
    QListWidgetItem foreign(QStringLiteral("x"));
    view.deviceClicked(&foreign);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(1).at(0).value<NodeDevice *>(), nullptr);
    project.unlinkViews();
}

void TstProjectList::emptyProjectGivesWorkingEmptyList()
{
    Project project;
    project.addConnection(QStringLiteral("127.0.0.1"), 0);
    ProjectList view(QStringLiteral("Empty"));
    view.setDeviceList(project.devices);
    view.setDeviceList({nullptr});
    QCOMPARE(list(view)->count(), 0);
    view.refreshNames();
    view.setConnected(QStringLiteral("x"));
    QSignalSpy spy(&view, &ProjectList::dashboardClicked);
    view.slotPushDashboard();
    QCOMPARE(spy.count(), 1);
}

void TstProjectList::longNamesDoNotWidenTheColumn()
{
    Project project;
    project.addConnection(QStringLiteral("127.0.0.1"), 1);
    const QString longName = QString(500, QLatin1Char('M'));
    project.nodes().first()->setNames(longName, QStringLiteral("a"), QStringLiteral("b"));
    ProjectList view(longName);
    view.setDeviceList(project.devices);
    QVERIFY2(view.minimumSizeHint().width() < 200, qPrintable(QString::number(view.minimumSizeHint().width())));
    QCOMPARE(list(view)->textElideMode(), Qt::ElideRight);
    QCOMPARE(list(view)->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    view.resize(187, 404);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    const QString shown = child<QCommandLinkButton>(&view, "button_project")->text();
    QVERIFY(shown.length() < longName.length());
    QVERIFY(shown.endsWith(QChar(0x2026)));
    QCOMPARE(child<QCommandLinkButton>(&view, "button_project")->height(), 41);
    project.unlinkViews();
}

QTEST_MAIN(TstProjectList)
#include "tst_projectlist.moc"
