#include <QFile>
#include <QPixmap>
#include <QtTest>

// Every image the program loads decodes and has the size its widget asks for
// (exactly, or at most the room it has); the alarm sound is there.
class tst_Resources : public QObject
{
    Q_OBJECT

private slots:
    void images_data()
    {
        QTest::addColumn<QSize>("exact");
        QTest::addColumn<QSize>("maximum");
        const QSize any;
        const auto rows = [&](std::initializer_list<const char *> names, QSize exact,
                              QSize maximum) {
            for (const char *name : names)
                QTest::newRow(qPrintable(QStringLiteral(":/img/%1.png").arg(QLatin1String(name))))
                    << exact << maximum;
        };
        rows({"LoadingLite", "I_2", "FennolinkSymbol"}, any, any);
        rows({"quillark_lite_Modbus"}, QSize(720, 326), any);
        rows({"QuillarkLogoModbus"}, any, QSize(135, 30));
        rows({"FennolinkLogo"}, any, QSize(100, 20));
        rows({"StateReady", "StateRecording"}, any, QSize(300, 20));
        rows({"FennolinkSymbol2"}, QSize(17, 18), any);
        rows({"DeviceConnectingSymbol", "DeviceDisconnectedSymbol"}, QSize(16, 18), any);
        rows({"icon_lan", "DeviceImg"}, QSize(18, 17), any);
        rows({"btn_interval", "btn_createProject"}, QSize(112, 48), any);
        rows({"RecordButton", "RecordStopButton"}, QSize(50, 50), any);
        rows({"DashboardText"}, QSize(99, 16), any);
        rows({"SettingButton"}, any, QSize(24, 24));
        rows({"DeviceCh1", "DeviceCh2"}, any, QSize(47, 400));
    }
    void images()
    {
        QFETCH(QSize, exact);
        QFETCH(QSize, maximum);
        const QPixmap pixmap(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(!pixmap.isNull());
        if (exact.isValid())
            QCOMPARE(pixmap.size(), exact);
        if (maximum.isValid())
            QVERIFY(pixmap.width() <= maximum.width() && pixmap.height() <= maximum.height());
    }

    // The player is given "qrc:///critical.mp3".
    void alarmSound()
    {
        QFile file(QStringLiteral(":/critical.mp3"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.size() > 4000);
    }
};

QTEST_MAIN(tst_Resources)
#include "tst_resources.moc"
