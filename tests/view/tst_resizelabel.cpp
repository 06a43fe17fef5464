#include "view/resizelabel.h"
#include "view/resizelabelunit.h"

#include <QtTest>

#include <memory>

// The dashboard's value and unit labels fit their font to the space they get.
class tst_ResizeLabel : public QObject
{
    Q_OBJECT

private slots:
    // After fitting, the text fills the tighter side of the label within its
    // margins (10 x 8 pixels for the value, none for the unit) and the other
    // side holds it. A text of no extent leaves the font alone; a tiny room,
    // or a huge one around a dot, keeps the font within its bounds.
    void fit_data()
    {
        QTest::addColumn<bool>("unit");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QSize>("size");
        QTest::newRow("value, wide") << false << "23.45" << QSize(600, 90);
        QTest::newRow("value, tall") << false << "23.45" << QSize(160, 400);
        QTest::newRow("value, small") << false << "-123.45" << QSize(60, 30);
        QTest::newRow("unit") << true << "%RH" << QSize(120, 120);
        QTest::newRow("empty value") << false << "" << QSize(300, 200);
        QTest::newRow("empty unit") << true << "" << QSize(300, 200);
        QTest::newRow("zero-width space") << false << QString(QChar(0x200B)) << QSize(300, 200);
        QTest::newRow("tiny room") << false << QString(2000, '8') << QSize(12, 9);
        QTest::newRow("huge dot") << false << "." << QSize(20000, 20000);
    }
    void fit()
    {
        QFETCH(bool, unit);
        QFETCH(QString, text);
        QFETCH(QSize, size);
        std::unique_ptr<QLabel> label;
        if (unit)
            label = std::make_unique<ResizeLabelUnit>();
        else
            label = std::make_unique<ResizeLabel>();
        label->setFont(QFont(QStringLiteral("Segoe UI"), 18));
        label->setText(text);
        label->resize(size);
        for (int i = 0; i < 3; ++i) { // fitting again keeps within bounds
            if (unit)
                static_cast<ResizeLabelUnit *>(label.get())->fitFont();
            else
                static_cast<ResizeLabel *>(label.get())->fitFont();
        }
        const qreal points = label->font().pointSizeF();
        const QSize measured = QFontMetrics(label->font()).size(0, text);
        const QSize room = size - (unit ? QSize(0, 0) : QSize(10, 8));
        QVERIFY(points >= ResizeLabel::kMinPointSize && points <= ResizeLabel::kMaxPointSize);
        if (measured.width() == 0 || measured.height() == 0) {
            QCOMPARE(points, 18.0);
        } else if (points == ResizeLabel::kMinPointSize || points == ResizeLabel::kMaxPointSize) {
            QVERIFY(size.width() < 20 || size.width() > 10000); // only the extreme rows
        } else {
            const double fill = std::max(double(measured.width()) / room.width(),
                                         double(measured.height()) / room.height());
            QVERIFY2(qAbs(fill - 1) < 0.1, qPrintable(QString::number(fill)));
        }
    }
};

QTEST_MAIN(tst_ResizeLabel)
#include "tst_resizelabel.moc"
