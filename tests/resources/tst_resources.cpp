// Checks the images and the alarm sound compiled into the program: every
// image the program loads must exist, decode, and fit the widget it is shown
// in; the resource folder holds nothing the program does not use.

#include <QDirIterator>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QSet>
#include <QUrl>
#include <QtTest>

namespace {

struct ImageEntry {
    const char *path;
    QSize exact;   // required size, or invalid when free
    QSize maximum; // largest size that fits its place, or invalid when free
};

// Every image the program loads, with the size its widget asks for.
const ImageEntry kImages[] = {
    // about box product picture
    { ":/img/quillark_lite_Modbus.png", QSize(720, 326), QSize() },
    // splash screen
    { ":/img/LoadingLite.png", QSize(), QSize() },
    // window icon of every form
    { ":/img/I_2.png", QSize(), QSize() },
    // title bar (40 high) and message dialog top frame (30 high)
    { ":/img/QuillarkLogoModbus.png", QSize(), QSize(135, 30) },
    // status strip (20 high), label at most 100 wide
    { ":/img/FennolinkLogo.png", QSize(), QSize(100, 20) },
    { ":/img/StateReady.png", QSize(), QSize(300, 20) },
    { ":/img/StateRecording.png", QSize(), QSize(300, 20) },
    // start screen buttons
    { ":/img/FennolinkSymbol.png", QSize(), QSize() },
    // device list project button icon, 17 x 18
    { ":/img/FennolinkSymbol2.png", QSize(17, 18), QSize() },
    // project editor
    { ":/img/icon_lan.png", QSize(18, 17), QSize() },
    { ":/img/btn_interval.png", QSize(112, 48), QSize() },
    { ":/img/btn_createProject.png", QSize(112, 48), QSize() },
    // record bar button, icon 50 x 50
    { ":/img/RecordButton.png", QSize(50, 50), QSize() },
    { ":/img/RecordStopButton.png", QSize(50, 50), QSize() },
    // dashboard title label, fixed 99 x 16
    { ":/img/DashboardText.png", QSize(99, 16), QSize() },
    // connection state, label fixed 16 x 18 in the chart view
    { ":/img/DeviceConnectingSymbol.png", QSize(16, 18), QSize() },
    { ":/img/DeviceDisconnectedSymbol.png", QSize(16, 18), QSize() },
    // device type, label fixed 18 x 17
    { ":/img/DeviceImg.png", QSize(18, 17), QSize() },
    // chart view header buttons
    { ":/img/SettingButton.png", QSize(), QSize(24, 24) },
    // channel markers, frame 47 wide
    { ":/img/DeviceCh1.png", QSize(), QSize(47, 400) },
    { ":/img/DeviceCh2.png", QSize(), QSize(47, 400) },
};

} // namespace

class tst_Resources : public QObject
{
    Q_OBJECT
private slots:
    void images_data();
    void images();
    void noUnusedImages();
    void alarmSound();
};

void tst_Resources::images_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("exact");
    QTest::addColumn<QSize>("maximum");
    for (const ImageEntry &entry : kImages)
        QTest::newRow(entry.path) << QString::fromLatin1(entry.path) << entry.exact << entry.maximum;
}

void tst_Resources::images()
{
    QFETCH(QString, path);
    QFETCH(QSize, exact);
    QFETCH(QSize, maximum);

    const QPixmap pixmap(path);
    QVERIFY2(!pixmap.isNull(), qPrintable(path));
    if (exact.isValid())
        QCOMPARE(pixmap.size(), exact);
    if (maximum.isValid()) {
        QVERIFY2(pixmap.width() <= maximum.width(), qPrintable(QString::number(pixmap.width())));
        QVERIFY2(pixmap.height() <= maximum.height(), qPrintable(QString::number(pixmap.height())));
    }

    // Something is drawn: not fully transparent, not a single flat colour.
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    bool visible = false;
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            visible = visible || qAlpha(line[x]) > 0;
            if (colours.size() < 3)
                colours.insert(line[x]);
        }
    }
    QVERIFY(visible);
    QVERIFY(colours.size() >= 3);
}

void tst_Resources::noUnusedImages()
{
    QSet<QString> known;
    for (const ImageEntry &entry : kImages)
        known.insert(QString::fromLatin1(entry.path));

    QSet<QString> found;
    QDirIterator it(QStringLiteral(":/img"), QDirIterator::Subdirectories);
    while (it.hasNext())
        found.insert(it.next());

    QCOMPARE(found.size(), int(sizeof(kImages) / sizeof(kImages[0])));
    for (const QString &path : qAsConst(found))
        QVERIFY2(known.contains(path), qPrintable(path + " is not used"));
}

void tst_Resources::alarmSound()
{
    // The player is given the URL "qrc:///critical.mp3", which names this file.
    const QUrl url(QStringLiteral("qrc:///critical.mp3"));
    QCOMPARE(url.scheme(), QStringLiteral("qrc"));
    QFile file(QLatin1Char(':') + url.path());
    QCOMPARE(file.fileName(), QStringLiteral(":/critical.mp3"));
    QVERIFY(file.exists());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray data = file.readAll();
    QVERIFY(data.size() > 4000);

    // Starts with an ID3 tag or an MPEG audio frame header (11 sync bits).
    const bool id3 = data.startsWith("ID3");
    const bool frameSync = quint8(data[0]) == 0xFF && (quint8(data[1]) & 0xE0) == 0xE0;
    QVERIFY(id3 || frameSync);
}

QTEST_MAIN(tst_Resources)
#include "tst_resources.moc"
