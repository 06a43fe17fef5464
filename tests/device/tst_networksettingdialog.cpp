#include "../view/viewfixture.h"

#include "device/networksettingdialog.h"

#include <QPointer>
#include <QPushButton>
#include <QtTest>

using namespace ViewFixture;

class TstNetworkSettingDialog : public QObject
{
    Q_OBJECT

private slots:
    void showsAddress_data();
    void showsAddress();
    void closeDeletes();
};

void TstNetworkSettingDialog::showsAddress_data()
{
    QTest::addColumn<QString>("ip");
    QTest::addColumn<int>("port");
    QTest::newRow("5020") << "10.1.2.3" << 5020;
    QTest::newRow("502") << "192.168.100.254" << 502;
    QTest::newRow("23 as in the form") << "127.0.0.1" << 23;
}

void TstNetworkSettingDialog::showsAddress()
{
    QFETCH(QString, ip);
    QFETCH(int, port);
    Project project;
    project.addConnection(ip, 1, true, QStringLiteral("Dev"), quint16(port));
    QScopedPointer<NetworkSettingDialog> dialog(new NetworkSettingDialog(project.nodes().first()));
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Quillark Lite Modbus"));
    QVERIFY(dialog->isModal());
    QCOMPARE(ViewFixture::child<QLabel>(dialog.data(), "label_ipaddr")->text(), ip);
    QCOMPARE(ViewFixture::child<QLabel>(dialog.data(), "label_port")->text(), QString::number(port));
}

void TstNetworkSettingDialog::closeDeletes()
{
    Project project;
    project.addConnection(QStringLiteral("127.0.0.1"), 1);
    auto *dialog = new NetworkSettingDialog(project.nodes().first());
    QPointer<NetworkSettingDialog> guard(dialog);
    dialog->show();
    QTest::mouseClick(ViewFixture::child<QPushButton>(dialog, "pushButton_close"), Qt::LeftButton);
    QCOMPARE(dialog->result(), int(QDialog::Rejected));
    QTRY_VERIFY(guard.isNull());
}

QTEST_MAIN(TstNetworkSettingDialog)
#include "tst_networksettingdialog.moc"
