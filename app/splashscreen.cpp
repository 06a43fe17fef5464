#include "app/splashscreen.h"

#include <QMouseEvent>

SplashScreen::SplashScreen(const QPixmap &pixmap) : QSplashScreen(pixmap) {}

void SplashScreen::mousePressEvent(QMouseEvent *event)
{
    event->accept();
}
