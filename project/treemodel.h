#pragma once

#include <QAbstractItemModel>
#include <QStringList>

class TreeItem;

// Generic editable tree of rows of cells; the root row carries the header
// texts. Writing a value whose text form is empty stores it but raises no
// dataChanged, which the project editor relies on when it clears cells from
// inside its own cell check.
class TreeModel : public QAbstractItemModel
{
    Q_OBJECT

public:
    explicit TreeModel(const QStringList &headers, QObject *parent = nullptr);
    ~TreeModel() override;

    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    QModelIndex index(int row, int column,
                      const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &index) const override;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;

    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant &value,
                       int role = Qt::EditRole) override;

    bool insertColumns(int position, int columns,
                       const QModelIndex &parent = QModelIndex()) override;
    bool removeColumns(int position, int columns,
                       const QModelIndex &parent = QModelIndex()) override;
    bool insertRows(int position, int rows, const QModelIndex &parent = QModelIndex()) override;
    bool removeRows(int position, int rows, const QModelIndex &parent = QModelIndex()) override;

    // The value a cell held before the write whose dataChanged is being
    // delivered (invalid outside such a delivery).
    QVariant previousValue() const { return m_previousValue; }

private:
    TreeItem *getItem(const QModelIndex &index) const;

    QVariant m_previousValue;

    TreeItem *m_rootItem;
};
