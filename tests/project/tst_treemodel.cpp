#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QtTest>

#include "project/treeitem.h"
#include "project/treemodel.h"

class tst_TreeModel : public QObject
{
    Q_OBJECT

private:
    // Three top-level rows, the second with three children; every cell "r.c".
    static void fill(TreeModel &model)
    {
        QVERIFY(model.insertRows(0, 3));
        const QModelIndex second = model.index(1, 0);
        QVERIFY(model.insertRows(0, 3, second));
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < model.columnCount(); ++c) {
                model.setData(model.index(r, c), QStringLiteral("%1.%2").arg(r).arg(c));
                model.setData(model.index(r, c, second), QStringLiteral("1/%1.%2").arg(r).arg(c));
            }
    }

private slots:
    void item_bounds();
    void item_columns_recursive();
    void model_structure();
    void index_parent_column();
    void setData_emptyValueIsSilent();
    void setData_otherRolesRefused();
    void insertRows_positions();
    void removeColumns_all();
    void headers();
    void flags();
    void tester_survivesEditing();
};

void tst_TreeModel::item_bounds()
{
    TreeItem root({QStringLiteral("a"), QStringLiteral("b")});
    QCOMPARE(root.childNumber(), 0);
    QVERIFY(!root.child(0));
    QVERIFY(!root.child(-1));
    QVERIFY(!root.insertChildren(-1, 1, 2));
    QVERIFY(!root.insertChildren(1, 1, 2));
    QVERIFY(root.insertChildren(0, 0, 2));
    QCOMPARE(root.childCount(), 0);
    QVERIFY(root.insertChildren(0, 2, 2));
    QCOMPARE(root.childCount(), 2);
    QCOMPARE(root.child(1)->childNumber(), 1);
    QCOMPARE(root.child(1)->parent(), &root);
    QCOMPARE(root.child(0)->columnCount(), 2);
    QVERIFY(!root.child(0)->data(0).isValid());
    QVERIFY(!root.data(2).isValid());
    QVERIFY(!root.data(-1).isValid());
    QVERIFY(!root.setData(2, 1));
    QVERIFY(!root.setData(-1, 1));
    QVERIFY(root.setData(1, 5));
    QCOMPARE(root.data(1).toInt(), 5);
    QVERIFY(!root.removeChildren(-1, 1));
    QVERIFY(!root.removeChildren(1, 2));
    QVERIFY(root.removeChildren(0, 1));
    QCOMPARE(root.childCount(), 1);
    QVERIFY(!root.child(1));
}

void tst_TreeModel::item_columns_recursive()
{
    TreeItem root({1, 2, 3});
    QVERIFY(root.insertChildren(0, 1, 3));
    QVERIFY(root.child(0)->insertChildren(0, 1, 3));
    TreeItem *grandChild = root.child(0)->child(0);
    QVERIFY(grandChild->setData(2, QStringLiteral("x")));

    QVERIFY(!root.insertColumns(-1, 1));
    QVERIFY(!root.insertColumns(4, 1));
    QVERIFY(root.insertColumns(1, 2));
    QCOMPARE(root.columnCount(), 5);
    QCOMPARE(grandChild->columnCount(), 5);
    QCOMPARE(grandChild->data(4).toString(), QStringLiteral("x"));
    QCOMPARE(root.data(3).toInt(), 2);

    QVERIFY(!root.removeColumns(-1, 1));
    QVERIFY(!root.removeColumns(4, 2));
    QVERIFY(root.removeColumns(0, 4));
    QCOMPARE(root.columnCount(), 1);
    QCOMPARE(grandChild->columnCount(), 1);
    QCOMPARE(grandChild->data(0).toString(), QStringLiteral("x"));
}

void tst_TreeModel::model_structure()
{
    TreeModel model({"a", "b", "c", "d"});
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    fill(model);
    QCOMPARE(model.rowCount(), 3);
    const QModelIndex second = model.index(1, 0);
    QCOMPARE(model.rowCount(second), 3);
    QCOMPARE(model.columnCount(second), 4);
    const QModelIndex child = model.index(2, 3, second);
    QVERIFY(child.isValid());
    QCOMPARE(child.data().toString(), QStringLiteral("1/2.3"));
    QCOMPARE(child.data(Qt::EditRole).toString(), QStringLiteral("1/2.3"));
    QVERIFY(!child.data(Qt::ToolTipRole).isValid());
    QCOMPARE(model.parent(child), second);
    QCOMPARE(model.parent(child).column(), 0);
    QVERIFY(!model.parent(second).isValid());
    QVERIFY(!model.parent(QModelIndex()).isValid());
    QVERIFY(!model.index(3, 0).isValid());
    QVERIFY(!model.index(0, 4).isValid());
    QVERIFY(!model.data(QModelIndex(), Qt::DisplayRole).isValid());
}

void tst_TreeModel::index_parent_column()
{
    TreeModel model({"a", "b", "c", "d"});
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    fill(model);
    QVERIFY(!model.index(0, 3, model.index(1, 2)).isValid());
    QVERIFY(model.index(0, 3, model.index(1, 0)).isValid());
    QCOMPARE(model.rowCount(model.index(1, 2)), 0);
}

void tst_TreeModel::setData_emptyValueIsSilent()
{
    TreeModel model({"a", "b"});
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QVERIFY(model.insertRows(0, 1));
    const QModelIndex cell = model.index(0, 1);
    QSignalSpy spy(&model, &TreeModel::dataChanged);

    QVERIFY(model.setData(cell, QVariant(QString("")), Qt::EditRole));
    QCOMPARE(spy.count(), 0);
    QCOMPARE(cell.data().toString(), QString());
    QVERIFY(cell.data().isValid());

    QVERIFY(model.setData(cell, QStringLiteral("7"), Qt::EditRole));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toModelIndex(), cell);
    QCOMPARE(spy.at(0).at(1).toModelIndex(), cell);

    // A zero is text "0", not empty: it is announced.
    QVERIFY(model.setData(cell, 0, Qt::EditRole));
    QCOMPARE(spy.count(), 2);

    QVERIFY(!model.setData(QModelIndex(), QStringLiteral("x"), Qt::EditRole));
    QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("a"));
}

void tst_TreeModel::setData_otherRolesRefused()
{
    TreeModel model({"a"});
    QVERIFY(model.insertRows(0, 1));
    const QModelIndex cell = model.index(0, 0);
    QVERIFY(model.setData(cell, QStringLiteral("old")));
    QSignalSpy spy(&model, &TreeModel::dataChanged);
    QVERIFY(!model.setData(cell, QStringLiteral("new"), Qt::DisplayRole));
    QVERIFY(!model.setData(cell, QStringLiteral("new"), Qt::CheckStateRole));
    QCOMPARE(cell.data().toString(), QStringLiteral("old"));
    QCOMPARE(spy.count(), 0);
}

void tst_TreeModel::insertRows_positions()
{
    TreeModel model({"a", "b", "c"});
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QVERIFY(model.insertRows(0, 1));
    const QModelIndex parent = model.index(0, 0);
    QVERIFY(model.insertRows(0, 3, parent));
    model.setData(model.index(2, 0, parent), QStringLiteral("last"));
    QSignalSpy inserted(&model, &TreeModel::rowsInserted);

    QVERIFY(!model.insertRows(5, 1, parent));
    QVERIFY(!model.insertRows(-1, 1, parent));
    QCOMPARE(inserted.count(), 0);
    QCOMPARE(model.rowCount(parent), 3);

    QVERIFY(model.insertRows(3, 1, parent));
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(model.rowCount(parent), 4);
    QCOMPARE(model.index(2, 0, parent).data().toString(), QStringLiteral("last"));
    QCOMPARE(model.columnCount(model.index(3, 0, parent)), 3);
    QVERIFY(!model.index(3, 2, parent).data().isValid());

    QVERIFY(model.insertRows(0, 0, parent));
    QCOMPARE(model.rowCount(parent), 4);

    QVERIFY(!model.removeRows(3, 2, parent));
    QVERIFY(!model.removeRows(-1, 1, parent));
    QVERIFY(model.removeRows(1, 3, parent));
    QCOMPARE(model.rowCount(parent), 1);
    QVERIFY(model.removeRows(0, 1));
    QCOMPARE(model.rowCount(), 0);
}

void tst_TreeModel::removeColumns_all()
{
    TreeModel model({"a", "b", "c", "d"});
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    fill(model);
    QVERIFY(model.insertColumns(1, 2));
    QCOMPARE(model.columnCount(), 6);
    QCOMPARE(model.index(0, 3, model.index(1, 0)).data().toString(), QStringLiteral("1/0.1"));
    QVERIFY(!model.removeColumns(5, 2));
    QVERIFY(model.removeColumns(0, model.columnCount()));
    QCOMPARE(model.columnCount(), 0);
    QCOMPARE(model.rowCount(), 0);
}

void tst_TreeModel::headers()
{
    TreeModel model({"   IP   ", "   Model   ", ""});
    QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("   Model   "));
    QVERIFY(!model.headerData(1, Qt::Vertical).isValid());
    QVERIFY(!model.headerData(1, Qt::Horizontal, Qt::ToolTipRole).isValid());
    QVERIFY(!model.headerData(7, Qt::Horizontal).isValid());

    qRegisterMetaType<Qt::Orientation>();
    QSignalSpy spy(&model, &TreeModel::headerDataChanged);
    QVERIFY(!model.setHeaderData(1, Qt::Horizontal, "x", Qt::DisplayRole));
    QVERIFY(!model.setHeaderData(1, Qt::Vertical, "x"));
    QVERIFY(!model.setHeaderData(3, Qt::Horizontal, "x"));
    QCOMPARE(spy.count(), 0);
    QVERIFY(model.setHeaderData(2, Qt::Horizontal, "End"));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(1).toInt(), 2);
    QCOMPARE(spy.at(0).at(2).toInt(), 2);
    QCOMPARE(model.headerData(2, Qt::Horizontal).toString(), QStringLiteral("End"));
}

void tst_TreeModel::flags()
{
    TreeModel model({"a", "b", "c"});
    fill(model);
    QCOMPARE(model.flags(QModelIndex()), Qt::NoItemFlags);
    const QModelIndex second = model.index(1, 0);
    for (int c = 0; c < 3; ++c) {
        QVERIFY(model.flags(model.index(0, c)) & Qt::ItemIsEditable);
        QVERIFY(model.flags(model.index(2, c, second)) & Qt::ItemIsEditable);
        QVERIFY(model.flags(model.index(2, c, second)) & Qt::ItemIsSelectable);
    }
}

void tst_TreeModel::tester_survivesEditing()
{
    // Random edits under the tester: every change must keep the model consistent.
    TreeModel model({"a", "b", "c", "d"});
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QRandomGenerator rng(4711);
    for (int step = 0; step < 400; ++step) {
        const int top = model.rowCount();
        QModelIndex parent;
        if (top > 0 && rng.bounded(2))
            parent = model.index(rng.bounded(top), 0);
        const int rows = model.rowCount(parent);
        switch (rng.bounded(4)) {
        case 0:
            model.insertRows(rng.bounded(rows + 1), 1 + rng.bounded(3), parent);
            break;
        case 1:
            if (rows > 0)
                model.removeRows(rng.bounded(rows), 1, parent);
            break;
        default:
            if (rows > 0)
                model.setData(model.index(rng.bounded(rows), rng.bounded(4), parent),
                              rng.bounded(2) ? QString() : QString::number(step));
            break;
        }
        if (QTest::currentTestFailed())
            return;
    }
}

QTEST_MAIN(tst_TreeModel)
#include "tst_treemodel.moc"
