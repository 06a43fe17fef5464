#include "project/selectdelegate.h"

#include <QComboBox>
#include <QLabel>
#include <QSignalBlocker>
#include <QSpinBox>

SelectDelegate::SelectDelegate(QObject *parent) : QStyledItemDelegate(parent) {}

QStringList SelectDelegate::modelNames()
{
    return {QStringLiteral("QA100"), QStringLiteral("QB200")};
}

QWidget *SelectDelegate::createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                                      const QModelIndex &index) const
{
    switch (index.column()) {
    case ModelColumn: {
        auto *combo = new QComboBox(parent);
        combo->setFrame(false);
        combo->addItems(modelNames());
        connect(combo, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
                &SelectDelegate::commitAndCloseEditor);
        return combo;
    }
    case StartAddressColumn: {
        auto *spin = new QSpinBox(parent);
        spin->setFrame(false);
        spin->setMinimum(0);
        spin->setMaximum(kMaxStartAddress);
        return spin;
    }
    case IdColumn: {
        auto *label = new QLabel(parent);
        // Cover the cell so the text underneath does not show through.
        label->setAutoFillBackground(true);
        return label;
    }
    default: return QStyledItemDelegate::createEditor(parent, option, index);
    }
}

void SelectDelegate::setEditorData(QWidget *editor, const QModelIndex &index) const
{
    switch (index.column()) {
    case ModelColumn:
        if (auto *combo = qobject_cast<QComboBox *>(editor)) {
            // Showing the current model is not a choice by the user: without
            // the blocker a cell holding "QB200" would commit and close its
            // editor the moment it opened.
            const QSignalBlocker blocker(combo);
            combo->setCurrentText(index.model()->data(index, Qt::EditRole).toString());
            return;
        }
        break;
    case StartAddressColumn:
        if (auto *spin = qobject_cast<QSpinBox *>(editor)) {
            spin->setValue(index.model()->data(index, Qt::EditRole).toInt());
            return;
        }
        break;
    case IdColumn:
        if (auto *label = qobject_cast<QLabel *>(editor)) {
            // IDs come from project files: shown as typed, never as markup.
            label->setTextFormat(Qt::PlainText);
            label->setText(index.model()->data(index, Qt::DisplayRole).toString());
            return;
        }
        break;
    default: break;
    }
    QStyledItemDelegate::setEditorData(editor, index);
}

void SelectDelegate::setModelData(QWidget *editor, QAbstractItemModel *model,
                                  const QModelIndex &index) const
{
    switch (index.column()) {
    case ModelColumn:
        if (auto *combo = qobject_cast<QComboBox *>(editor)) {
            model->setData(index, combo->currentText(), Qt::EditRole);
            return;
        }
        break;
    case StartAddressColumn:
        if (auto *spin = qobject_cast<QSpinBox *>(editor)) {
            spin->interpretText();
            model->setData(index, QVariant(spin->value()), Qt::EditRole);
            return;
        }
        break;
    case IdColumn:
        if (auto *label = qobject_cast<QLabel *>(editor)) {
            model->setData(index, label->text(), Qt::EditRole);
            return;
        }
        break;
    default: break;
    }
    QStyledItemDelegate::setModelData(editor, model, index);
}

void SelectDelegate::updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                                          const QModelIndex & /*index*/) const
{
    editor->setGeometry(option.rect);
}

void SelectDelegate::commitAndCloseEditor()
{
    auto *combo = qobject_cast<QComboBox *>(sender());
    if (!combo)
        return;
    emit commitData(combo);
    emit closeEditor(combo, QAbstractItemDelegate::NoHint);
}
