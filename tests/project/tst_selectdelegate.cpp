#include <QAbstractItemModelTester>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTreeView>
#include <QtTest>

#include "project/selectdelegate.h"
#include "project/treemodel.h"

class tst_SelectDelegate : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void modelCombo_commitsAndCloses_data();
    void modelCombo_commitsAndCloses();
    void modelCombo_openOnSecondModelStaysOpen();
    void startAddress_spinBox();
    void id_labelIsReadOnly();
    void otherColumns_lineEdit();

private:
    template<typename T> T *openEditor(const QModelIndex &index)
    {
        m_view->setCurrentIndex(index);
        m_view->edit(index);
        return m_view->viewport()->findChild<T *>();
    }
    void flushDeletes() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    TreeModel *m_model = nullptr;
    QTreeView *m_view = nullptr;
    SelectDelegate *m_delegate = nullptr;
    QAbstractItemModelTester *m_tester = nullptr;
};

void tst_SelectDelegate::init()
{
    m_model = new TreeModel({"ip", "model", "start", "id", "name", "ch1", "ch2", ""});
    m_tester = new QAbstractItemModelTester(m_model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    m_view = new QTreeView;
    m_delegate = new SelectDelegate(m_view);
    m_view->setModel(m_model);
    m_view->setItemDelegate(m_delegate);
    QVERIFY(m_model->insertRows(0, 1));
    const QModelIndex conn = m_model->index(0, 0);
    m_model->setData(conn, "192.168.1.2:502");
    m_model->setData(m_model->index(0, 1), "QA100");
    QVERIFY(m_model->insertRows(0, 1, conn));
    m_model->setData(m_model->index(0, 2, conn), "8");
    m_model->setData(m_model->index(0, 3, conn), "ABCDEFGHIJKLMNOPQR");
    m_model->setData(m_model->index(0, 4, conn), "DEVICE1");
    m_view->expandAll();
    m_view->resize(900, 300);
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view));
}

void tst_SelectDelegate::cleanup()
{
    delete m_view;
    delete m_tester;
    delete m_model;
}

void tst_SelectDelegate::modelCombo_commitsAndCloses_data()
{
    QTest::addColumn<bool>("deviceRow");
    QTest::newRow("connection row") << false;
    QTest::newRow("device row") << true;
}

void tst_SelectDelegate::modelCombo_commitsAndCloses()
{
    QFETCH(bool, deviceRow);
    const QModelIndex cell = deviceRow ? m_model->index(0, 1, m_model->index(0, 0))
                                       : m_model->index(0, 1);
    QPointer<QComboBox> combo = openEditor<QComboBox>(cell);
    QVERIFY(combo);
    QCOMPARE(combo->count(), 2);
    QCOMPARE(combo->itemText(0), QStringLiteral("QA100"));
    QCOMPARE(combo->itemText(1), QStringLiteral("QB200"));
    QVERIFY(!combo->itemData(0).isValid());
    QVERIFY(!combo->hasFrame());
    QCOMPARE(combo->currentText(), QStringLiteral("QA100"));
    QCOMPARE(combo->geometry(), m_view->visualRect(cell));

    QSignalSpy changed(m_model, &TreeModel::dataChanged);
    combo->setCurrentIndex(1);
    QCOMPARE(cell.data().toString(), QStringLiteral("QB200"));
    QCOMPARE(changed.count(), 1);
    flushDeletes();
    QVERIFY(!combo);
    QVERIFY(!m_view->indexWidget(cell));
}

void tst_SelectDelegate::modelCombo_openOnSecondModelStaysOpen()
{
    const QModelIndex cell = m_model->index(0, 1);
    m_model->setData(cell, "QB200");
    QPointer<QComboBox> combo = openEditor<QComboBox>(cell);
    QVERIFY(combo);
    QCOMPARE(combo->currentText(), QStringLiteral("QB200"));
    flushDeletes();
    QVERIFY(combo);
    QCOMPARE(m_view->indexWidget(cell), combo.data());
    combo->setCurrentIndex(0);
    QCOMPARE(cell.data().toString(), QStringLiteral("QA100"));
}

void tst_SelectDelegate::startAddress_spinBox()
{
    const QModelIndex cell = m_model->index(0, 2, m_model->index(0, 0));
    QSpinBox *spin = openEditor<QSpinBox>(cell);
    QVERIFY(spin);
    QCOMPARE(spin->minimum(), 0);
    QCOMPARE(spin->maximum(), 106);
    QVERIFY(!spin->hasFrame());
    QCOMPARE(spin->value(), 8);

    // Typed text is interpreted when the edit ends, then stored as an integer.
    QLineEdit *edit = spin->findChild<QLineEdit *>();
    QVERIFY(edit);
    edit->selectAll();
    QTest::keyClicks(edit, "57");
    QCOMPARE(spin->value(), 57);   // keyboard tracking updates as typed
    edit->selectAll();
    QTest::keyClicks(edit, "120"); // above the maximum: the validator refuses the last digit
    QTest::keyClick(spin, Qt::Key_Return);
    QCoreApplication::processEvents(); // the delegate commits through a queued call
    QCOMPARE(cell.data(Qt::EditRole).type(), QVariant::Int);
    QCOMPARE(cell.data().toInt(), 12);

    // Typed text without keyboard tracking is still interpreted before the write.
    QSpinBox *again = openEditor<QSpinBox>(cell);
    QVERIFY(again);
    again->setKeyboardTracking(false);
    QLineEdit *edit2 = again->findChild<QLineEdit *>();
    edit2->selectAll();
    QTest::keyClicks(edit2, "96");
    m_delegate->setModelData(again, m_model, cell);
    QCOMPARE(cell.data().toInt(), 96);
}

void tst_SelectDelegate::id_labelIsReadOnly()
{
    const QModelIndex cell = m_model->index(0, 3, m_model->index(0, 0));
    QLabel *label = openEditor<QLabel>(cell);
    QVERIFY(label);
    QCOMPARE(label->text(), QStringLiteral("ABCDEFGHIJKLMNOPQR"));
    QCOMPARE(label->geometry(), m_view->visualRect(cell));
    QTest::keyClicks(m_view, "xyz");
    QTest::keyClick(label, Qt::Key_Return);
    QCoreApplication::processEvents();
    QCOMPARE(cell.data().toString(), QStringLiteral("ABCDEFGHIJKLMNOPQR"));
}

void tst_SelectDelegate::otherColumns_lineEdit()
{
    const QModelIndex cell = m_model->index(0, 4, m_model->index(0, 0));
    QLineEdit *edit = openEditor<QLineEdit>(cell);
    QVERIFY(edit);
    QCOMPARE(edit->text(), QStringLiteral("DEVICE1"));
    edit->selectAll();
    QTest::keyClicks(edit, "Boiler room");
    QTest::keyClick(edit, Qt::Key_Return);
    QCoreApplication::processEvents();
    QCOMPARE(cell.data().toString(), QStringLiteral("Boiler room"));
}

QTEST_MAIN(tst_SelectDelegate)
#include "tst_selectdelegate.moc"
