#include "topcustomframe.h"

#include <QMouseEvent>

TopCustomFrame::TopCustomFrame(QWidget *parent) : QFrame(parent) {}

void TopCustomFrame::mousePressEvent(QMouseEvent *event)
{
    emit customClick(event->globalPos());
}

void TopCustomFrame::mouseMoveEvent(QMouseEvent *event)
{
    emit customMove(event->globalPos());
}

void TopCustomFrame::mouseDoubleClickEvent(QMouseEvent *)
{
    emit customDoubleClick();
}
