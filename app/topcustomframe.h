#pragma once

#include <QFrame>
#include <QPoint>

// The main window's title bar. Reports presses, moves and double clicks
// to whoever listens; the window itself listens only to double clicks.
class TopCustomFrame : public QFrame
{
    Q_OBJECT

public:
    explicit TopCustomFrame(QWidget *parent = nullptr);

signals:
    void customClick(QPoint globalPos);
    void customMove(QPoint globalPos);
    void customDoubleClick();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
};
