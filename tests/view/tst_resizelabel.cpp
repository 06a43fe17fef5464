#include "view/qchartviewerlabel.h"
#include "view/resizelabel.h"
#include "view/resizelabelunit.h"

#include <QSignalSpy>
#include <QtTest>

namespace {

QFont baseFont()
{
    QFont f(QStringLiteral("Segoe UI"));
    f.setPointSizeF(18);
    return f;
}

QSize measure(const QLabel &label)
{
    return QFontMetrics(label.font()).size(0, label.text());
}

} // namespace

class tst_ResizeLabel : public QObject
{
    Q_OBJECT
private slots:
    // The label is sized from the measured text so that the wanted factor
    // comes out on both sides (or on the tighter side only).
    void valueLabelFactor_data()
    {
        QTest::addColumn<double>("widthFactor");
        QTest::addColumn<double>("heightFactor");
        QTest::addColumn<double>("expected");
        QTest::newRow("grows to double") << 2.0 << 2.0 << 2.0;
        QTest::newRow("width is tighter") << 2.0 << 3.0 << 2.0;
        QTest::newRow("shrinks to half") << 0.5 << 1.0 << 0.5;
    }
    void valueLabelFactor()
    {
        QFETCH(double, widthFactor);
        QFETCH(double, heightFactor);
        QFETCH(double, expected);
        ResizeLabel label;
        label.setFont(baseFont());
        label.setText(QStringLiteral("23.45"));
        const QSize m = measure(label);
        label.resize(int(m.width() * widthFactor) + 10, int(m.height() * heightFactor) + 8);
        const float rw = float(label.width() - 10) / float(m.width());
        const float rh = float(label.height() - 8) / float(m.height());
        const double factor = std::min(rw, rh);
        QVERIFY(qAbs(factor - expected) < 0.05);
        label.fitFont();
        QVERIFY(qAbs(label.font().pointSizeF() - 18 * factor) < 0.01);

        // A second call with the same text and size changes (almost) nothing.
        const qreal once = label.font().pointSizeF();
        label.fitFont();
        QVERIFY(qAbs(label.font().pointSizeF() - once) < once * 0.1);
    }

    void unitLabelHasNoMargin()
    {
        ResizeLabelUnit label;
        label.setFont(baseFont());
        label.setText(QStringLiteral("%RH"));
        const QSize m = measure(label);
        label.resize(2 * m.width(), 2 * m.height());
        label.fitFont();
        QVERIFY(qAbs(label.font().pointSizeF() - 36) < 0.01);
    }

    void emptyTextKeepsTheFont()
    {
        ResizeLabel label;
        label.setFont(baseFont());
        label.resize(300, 200);
        label.fitFont();
        QCOMPARE(label.font().pointSizeF(), 18.0);
        ResizeLabelUnit unit;
        unit.setFont(baseFont());
        unit.resize(1, 1);
        unit.fitFont();
        QCOMPARE(unit.font().pointSizeF(), 18.0);

        // A text that takes no room (a zero-width space) gives no factor.
        label.setText(QString(QChar(0x200B)));
        QCOMPARE(measure(label).width(), 0);
        label.fitFont();
        QCOMPARE(label.font().pointSizeF(), 18.0);
    }

    void fontStaysWithinBounds()
    {
        // A label smaller than its margins, and a huge one with a dot: the
        // font neither vanishes nor grows without limit.
        ResizeLabel label;
        label.setFont(baseFont());
        label.setText(QString(2000, QLatin1Char('8')));
        label.resize(10, 8);
        for (int i = 0; i < 5; ++i)
            label.fitFont();
        QVERIFY(label.font().pointSizeF() >= ResizeLabel::kMinPointSize);
        QVERIFY(QFontMetrics(label.font()).height() > 0);

        label.setText(QStringLiteral("."));
        label.resize(20000, 20000);
        for (int i = 0; i < 5; ++i)
            label.fitFont();
        QVERIFY(label.font().pointSizeF() <= ResizeLabel::kMaxPointSize);

        // Non-numbers and huge numbers fit like any other text.
        label.resize(200, 60);
        for (const char *text : {"nan", "-0.00", "1e+30", "1000000000000000000000000000000.00"}) {
            label.setText(QString::fromLatin1(text));
            label.fitFont();
            label.fitFont();
            QVERIFY(measure(label).width() <= 200);
            QVERIFY(label.font().pointSizeF() >= ResizeLabel::kMinPointSize);
        }
    }

    void resizeRefitsTheFont()
    {
        ResizeLabel label;
        label.setFont(baseFont());
        label.setText(QStringLiteral("12.5"));
        const QSize m = measure(label);
        label.resize(2 * m.width() + 10, 2 * m.height() + 8);
        QCOMPARE(label.font().pointSizeF(), 18.0); // hidden: the resize event waits
        label.show();
        QVERIFY(qAbs(label.font().pointSizeF() - 36) < 0.01);
    }

    void chartLabelAnnouncesEveryResize()
    {
        QChartViewerLabel label;
        QSignalSpy spy(&label, &QChartViewerLabel::refreshChart);
        label.show();
        const int afterShow = spy.count();
        label.resize(600, 200);
        QCOMPARE(spy.count(), afterShow + 1);
        label.resize(700, 220);
        QCOMPARE(spy.count(), afterShow + 2);
        label.resize(700, 220); // same size: no resize event
        QCOMPARE(spy.count(), afterShow + 2);
    }
};

QTEST_MAIN(tst_ResizeLabel)
#include "tst_resizelabel.moc"
