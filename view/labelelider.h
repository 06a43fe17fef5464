#pragma once

#include <QObject>
#include <QString>

class QLabel;

// Keeps a label's text elided to the label's width, so that a name of any
// length neither widens its layout nor runs past its frame. The full text is
// kept and shown as the label's tool tip; the label is re-elided whenever it
// is resized.
class LabelElider : public QObject
{
    Q_OBJECT

public:
    // Shows `text` on `label`, elided at the right to the label's width.
    static void setText(QLabel *label, const QString &text);
    // The text last given to setText (the label itself may show less).
    static QString fullText(const QLabel *label);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    explicit LabelElider(QLabel *label);
    static void elide(QLabel *label);
};
