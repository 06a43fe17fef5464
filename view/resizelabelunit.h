#pragma once

#include <QLabel>

// A label whose font grows or shrinks so that its text fills the whole label
// (no margin); used for unit texts.
class ResizeLabelUnit : public QLabel
{
    Q_OBJECT
public:
    explicit ResizeLabelUnit(QWidget *parent = nullptr);

    // Call after changing the text.
    void fitFont();

protected:
    void resizeEvent(QResizeEvent *event) override;
};
