#include "project/treemodel.h"

#include "project/treeitem.h"

TreeModel::TreeModel(const QStringList &headers, QObject *parent) : QAbstractItemModel(parent)
{
    QVector<QVariant> rootData;
    rootData.reserve(headers.size());
    for (const QString &header : headers)
        rootData << header;
    m_rootItem = new TreeItem(rootData);
}

TreeModel::~TreeModel()
{
    delete m_rootItem;
}

TreeItem *TreeModel::getItem(const QModelIndex &index) const
{
    if (index.isValid()) {
        if (auto *item = static_cast<TreeItem *>(index.internalPointer()))
            return item;
    }
    return m_rootItem;
}

QVariant TreeModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return QVariant();
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return QVariant();
    return getItem(index)->data(index.column());
}

QVariant TreeModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return m_rootItem->data(section);
    return QVariant();
}

QModelIndex TreeModel::index(int row, int column, const QModelIndex &parent) const
{
    if (parent.isValid() && parent.column() != 0)
        return QModelIndex();
    if (column < 0 || column >= m_rootItem->columnCount())
        return QModelIndex();
    TreeItem *parentItem = getItem(parent);
    if (TreeItem *childItem = parentItem->child(row))
        return createIndex(row, column, childItem);
    return QModelIndex();
}

QModelIndex TreeModel::parent(const QModelIndex &index) const
{
    if (!index.isValid())
        return QModelIndex();
    TreeItem *childItem = getItem(index);
    TreeItem *parentItem = childItem->parent();
    if (!parentItem || parentItem == m_rootItem)
        return QModelIndex();
    return createIndex(parentItem->childNumber(), 0, parentItem);
}

int TreeModel::rowCount(const QModelIndex &parent) const
{
    // Only column 0 carries children; other cells of a row have none.
    if (parent.isValid() && parent.column() != 0)
        return 0;
    return getItem(parent)->childCount();
}

int TreeModel::columnCount(const QModelIndex & /*parent*/) const
{
    return m_rootItem->columnCount();
}

Qt::ItemFlags TreeModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEditable | QAbstractItemModel::flags(index);
}

bool TreeModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    // An invalid index would address the root, which holds the headers.
    if (role != Qt::EditRole || !index.isValid())
        return false;
    TreeItem *item = getItem(index);
    const QVariant previous = item->data(index.column());
    const bool stored = item->setData(index.column(), value);
    if (stored && !value.toString().isEmpty()) {
        // Receivers may write other cells; each delivery sees its own value.
        const QVariant outer = m_previousValue;
        m_previousValue = previous;
        emit dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
        m_previousValue = outer;
    }
    return stored;
}

bool TreeModel::setHeaderData(int section, Qt::Orientation orientation, const QVariant &value,
                              int role)
{
    if (role != Qt::EditRole || orientation != Qt::Horizontal)
        return false;
    const bool stored = m_rootItem->setData(section, value);
    if (stored)
        emit headerDataChanged(orientation, section, section);
    return stored;
}

bool TreeModel::insertColumns(int position, int columns, const QModelIndex &parent)
{
    if (columns <= 0 || position < 0 || position > m_rootItem->columnCount())
        return m_rootItem->insertColumns(position, columns);
    beginInsertColumns(parent, position, position + columns - 1);
    const bool success = m_rootItem->insertColumns(position, columns);
    endInsertColumns();
    return success;
}

bool TreeModel::removeColumns(int position, int columns, const QModelIndex &parent)
{
    if (columns <= 0 || position < 0 || position + columns > m_rootItem->columnCount())
        return m_rootItem->removeColumns(position, columns);
    beginRemoveColumns(parent, position, position + columns - 1);
    const bool success = m_rootItem->removeColumns(position, columns);
    endRemoveColumns();

    if (m_rootItem->columnCount() == 0 && m_rootItem->childCount() > 0) {
        beginRemoveRows(QModelIndex(), 0, m_rootItem->childCount() - 1);
        m_rootItem->removeChildren(0, m_rootItem->childCount());
        endRemoveRows();
    }
    return success;
}

bool TreeModel::insertRows(int position, int rows, const QModelIndex &parent)
{
    TreeItem *parentItem = getItem(parent);
    // An empty or refused insertion is not announced: views must not see a
    // begin/end pair for rows that never appear.
    if (rows <= 0 || position < 0 || position > parentItem->childCount())
        return parentItem->insertChildren(position, rows, m_rootItem->columnCount());
    beginInsertRows(parent, position, position + rows - 1);
    const bool success = parentItem->insertChildren(position, rows, m_rootItem->columnCount());
    endInsertRows();
    return success;
}

bool TreeModel::removeRows(int position, int rows, const QModelIndex &parent)
{
    TreeItem *parentItem = getItem(parent);
    if (rows <= 0 || position < 0 || position + rows > parentItem->childCount())
        return parentItem->removeChildren(position, rows);
    beginRemoveRows(parent, position, position + rows - 1);
    const bool success = parentItem->removeChildren(position, rows);
    endRemoveRows();
    return success;
}
