#pragma once

#include <QLabel>

// A label whose font grows or shrinks so that its text fills the label,
// keeping a margin of 5 pixels left and right and 4 above and below.
class ResizeLabel : public QLabel
{
    Q_OBJECT
public:
    explicit ResizeLabel(QWidget *parent = nullptr);

    // Call after changing the text.
    void fitFont();

    // Font sizes never leave this range, whatever the label's size or text.
    static constexpr qreal kMinPointSize = 1.0;
    static constexpr qreal kMaxPointSize = 400.0;
    // Shared by both self-scaling labels: scales the label's font by the
    // smaller of the two ratios (margins subtracted from the label's size).
    static void fitLabelFont(QLabel *label, int marginX, int marginY);

protected:
    void resizeEvent(QResizeEvent *event) override;
};
