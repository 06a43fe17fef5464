#pragma once

#include <QList>
#include <QVariant>
#include <QVector>

// One row of the editor's tree: one value per column, owned child rows and a
// plain link to the parent row (null for the root, which holds the headers).
class TreeItem
{
public:
    explicit TreeItem(const QVector<QVariant> &data, TreeItem *parent = nullptr);
    ~TreeItem();

    TreeItem(const TreeItem &) = delete;
    TreeItem &operator=(const TreeItem &) = delete;

    TreeItem *child(int number) const;
    int childCount() const;
    int columnCount() const;
    int childNumber() const;
    QVariant data(int column) const;
    bool setData(int column, const QVariant &value);
    bool insertChildren(int position, int count, int columns);
    bool removeChildren(int position, int count);
    bool insertColumns(int position, int columns);
    bool removeColumns(int position, int columns);
    TreeItem *parent() const;

private:
    QList<TreeItem *> m_childItems;
    QVector<QVariant> m_itemData;
    TreeItem *m_parentItem;
};
