#include "app/splashscreen.h"

#include <QPixmap>
#include <QtTest>

// The splash stays through clicks until the main window shows.
class tst_SplashScreen : public QObject
{
    Q_OBJECT

private slots:
    void staysUntilTheWindowShows()
    {
        SplashScreen splash(QPixmap(QStringLiteral(":/img/LoadingLite.png")));
        QVERIFY(!splash.pixmap().isNull());
        splash.show();
        QVERIFY(QTest::qWaitForWindowExposed(&splash));
        QTest::mouseClick(&splash, Qt::LeftButton);
        QTest::mouseDClick(&splash, Qt::LeftButton);
        QTest::mouseClick(&splash, Qt::RightButton);
        QCoreApplication::processEvents();
        QVERIFY(splash.isVisible());

        QWidget window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        splash.finish(&window);
        QTRY_VERIFY(!splash.isVisible());
    }
};

QTEST_MAIN(tst_SplashScreen)
#include "tst_splashscreen.moc"
