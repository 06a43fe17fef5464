#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QtTest>

#include "project/treemodel.h"

class tst_TreeModel : public QObject
{
    Q_OBJECT

private slots:
    // Random edits, at valid and invalid positions, under the model tester:
    // invalid ones are refused and every change keeps the model consistent.
    void editsKeepTheModelConsistent()
    {
        TreeModel model({"a", "b", "c", "d"});
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QRandomGenerator rng(4711);
        for (int step = 0; step < 600 && !QTest::currentTestFailed(); ++step) {
            QModelIndex parent;
            if (model.rowCount() > 0 && rng.bounded(2))
                parent = model.index(rng.bounded(model.rowCount()), 0);
            const int rows = model.rowCount(parent);
            const int columns = model.columnCount();
            const int at = rng.bounded(-1, rows + 2);
            const int count = rng.bounded(0, 3);
            switch (rng.bounded(5)) {
            case 0: QCOMPARE(model.insertRows(at, count, parent), at >= 0 && at <= rows); break;
            case 1:
                QCOMPARE(model.removeRows(at, count, parent), at >= 0 && at + count <= rows);
                break;
            case 2:
                if (columns < 6 && step % 7 == 0)
                    QVERIFY(model.insertColumns(rng.bounded(columns + 1), 1));
                else if (columns > 1 && step % 7 == 1)
                    QVERIFY(model.removeColumns(rng.bounded(columns), 1));
                break;
            default:
                if (rows > 0) {
                    const QModelIndex cell =
                        model.index(rng.bounded(rows), rng.bounded(columns), parent);
                    QVERIFY(model.setData(cell, QString::number(step)));
                    QCOMPARE(cell.data().toString(), QString::number(step));
                }
                break;
            }
        }
    }

    // An empty value is stored without dataChanged (the editor's cascades rely
    // on it); any other value, "0" included, is announced; other roles are refused.
    void emptyValueIsSilent()
    {
        TreeModel model({"a", "b"});
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(model.insertRows(0, 1));
        const QModelIndex cell = model.index(0, 1);
        QSignalSpy spy(&model, &TreeModel::dataChanged);
        QVERIFY(model.setData(cell, QStringLiteral("7")));
        QVERIFY(model.setData(cell, QString()));
        QCOMPARE(cell.data().toString(), QString());
        QCOMPARE(spy.count(), 1);
        QVERIFY(model.setData(cell, 0));
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(1).at(0).toModelIndex(), cell);
        QVERIFY(!model.setData(cell, QStringLiteral("new"), Qt::DisplayRole));
        QVERIFY(!model.setData(QModelIndex(), QStringLiteral("x")));
        QCOMPARE(cell.data().toString(), QStringLiteral("0"));
        QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("b"));
    }
};

QTEST_MAIN(tst_TreeModel)
#include "tst_treemodel.moc"
