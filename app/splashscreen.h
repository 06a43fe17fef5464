#pragma once

#include <QSplashScreen>

// The start-up splash. Unlike a plain QSplashScreen it stays when clicked:
// it is taken away only when the main window shows, so the user never looks
// at an empty screen meanwhile.
class SplashScreen : public QSplashScreen
{
    Q_OBJECT

public:
    explicit SplashScreen(const QPixmap &pixmap);

protected:
    void mousePressEvent(QMouseEvent *event) override;
};
