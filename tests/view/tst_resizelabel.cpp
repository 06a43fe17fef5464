#include "view/resizelabel.h"
#include "view/resizelabelunit.h"

#include <QtTest>

#include <memory>

namespace
{

QSize measure(const QLabel &label)
{
    return QFontMetrics(label.font()).size(0, label.text());
}

template <class L = ResizeLabel> std::unique_ptr<L> makeLabel(const QString &text)
{
    auto label = std::make_unique<L>();
    QFont f(QStringLiteral("Segoe UI"));
    f.setPointSizeF(18);
    label->setFont(f);
    label->setText(text);
    return label;
}

// Sizes the label from the text the test measures so that the wanted factor
// comes out on the tighter side, given the label's margins.
template <class L>
void checkFactor(const QString &text, int mw, int mh, double widthFactor, double heightFactor,
                 double expected)
{
    auto label = makeLabel<L>(text);
    const QSize m = measure(*label);
    label->resize(int(m.width() * widthFactor) + mw, int(m.height() * heightFactor) + mh);
    const double factor = std::min(float(label->width() - mw) / float(m.width()),
                                   float(label->height() - mh) / float(m.height()));
    QVERIFY(qAbs(factor - expected) < 0.05);
    label->fitFont();
    QVERIFY(qAbs(label->font().pointSizeF() - 18 * factor) < 0.01);
}

template <class L> void checkFontKept(const QString &text)
{
    auto label = makeLabel<L>(text);
    label->resize(300, 200);
    label->fitFont();
    QCOMPARE(label->font().pointSizeF(), 18.0);
}

} // namespace

class tst_ResizeLabel : public QObject
{
    Q_OBJECT
private slots:
    // The value label keeps margins of 10 x 8 pixels, the unit label none.
    void labelFactor()
    {
        checkFactor<ResizeLabel>(QStringLiteral("23.45"), 10, 8, 2.0, 2.0, 2.0);
        checkFactor<ResizeLabel>(QStringLiteral("23.45"), 10, 8, 2.0, 3.0,
                                 2.0); // the width is tighter
        checkFactor<ResizeLabel>(QStringLiteral("23.45"), 10, 8, 0.5, 1.0, 0.5);
        checkFactor<ResizeLabelUnit>(QStringLiteral("%RH"), 0, 0, 2.0, 2.0, 2.0);
    }

    void textWithoutExtentKeepsTheFont()
    {
        checkFontKept<ResizeLabel>(QString());
        checkFontKept<ResizeLabelUnit>(QString());
        checkFontKept<ResizeLabel>(QString(QChar(0x200B))); // a zero-width space
    }

    void fontStaysWithinBounds()
    {
        // Smaller than its margins, or huge around a dot: the font neither
        // vanishes nor grows without limit.
        auto label = makeLabel(QString(2000, QLatin1Char('8')));
        label->resize(10, 8);
        for (int i = 0; i < 5; ++i)
            label->fitFont();
        QVERIFY(label->font().pointSizeF() >= ResizeLabel::kMinPointSize);
        label->setText(QStringLiteral("."));
        label->resize(20000, 20000);
        for (int i = 0; i < 5; ++i)
            label->fitFont();
        QVERIFY(label->font().pointSizeF() <= ResizeLabel::kMaxPointSize);
    }
};

QTEST_MAIN(tst_ResizeLabel)
#include "tst_resizelabel.moc"
