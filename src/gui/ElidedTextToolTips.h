#pragma once

#include <QStyledItemDelegate>

namespace VLK {

// Cells whose text the view elides show the whole text as their tooltip,
// before a tooltip of the cell's own; cells shown whole keep just their own.
class ElidedTextToolTips : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;

private:
    bool isElided(const QStyleOptionViewItem &option, const QModelIndex &index,
                  const QAbstractItemView *view) const;
};

} // namespace VLK
