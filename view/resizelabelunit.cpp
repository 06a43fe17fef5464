#include "view/resizelabelunit.h"

#include "view/resizelabel.h"

ResizeLabelUnit::ResizeLabelUnit(QWidget *parent) : QLabel(parent) {}

void ResizeLabelUnit::fitFont()
{
    ResizeLabel::fitLabelFont(this, 0, 0);
}

void ResizeLabelUnit::resizeEvent(QResizeEvent *)
{
    fitFont();
}
