#pragma once

#include <QStyledItemDelegate>

// In-place editors of the project editor's tree, chosen by column alone:
// model combo (column 1), start-address spin box (column 2), read-only ID
// label (column 3), the default line edit elsewhere.
class SelectDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    enum Column { ModelColumn = 1, StartAddressColumn = 2, IdColumn = 3 };
    static constexpr int kMaxStartAddress = 106;

    explicit SelectDelegate(QObject *parent = nullptr);

    static QStringList modelNames();

    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                          const QModelIndex &index) const override;
    void setEditorData(QWidget *editor, const QModelIndex &index) const override;
    void setModelData(QWidget *editor, QAbstractItemModel *model,
                      const QModelIndex &index) const override;
    void updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                              const QModelIndex &index) const override;

public slots:
    void commitAndCloseEditor();
};
