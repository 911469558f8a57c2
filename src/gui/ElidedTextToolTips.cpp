#include "gui/ElidedTextToolTips.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QStyle>
#include <QToolTip>

namespace VLK {

bool ElidedTextToolTips::helpEvent(QHelpEvent *event, QAbstractItemView *view,
                                   const QStyleOptionViewItem &option, const QModelIndex &index)
{
    if (event->type() != QEvent::ToolTip || !index.isValid() || !isElided(option, index, view))
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    QString tip = index.data(Qt::DisplayRole).toString();
    const QString ownTip = index.data(Qt::ToolTipRole).toString();
    if (!ownTip.isEmpty())
        tip += QLatin1Char('\n') + ownTip;
    QToolTip::showText(event->globalPos(), tip, view->viewport(), view->visualRect(index));
    return true;
}

// Measured as the style lays the cell out: its text rectangle less the
// margins that the style keeps on either side of the text.
bool ElidedTextToolTips::isElided(const QStyleOptionViewItem &option, const QModelIndex &index,
                                  const QAbstractItemView *view) const
{
    QStyleOptionViewItem cell = option;
    initStyleOption(&cell, index);
    const QStyle *style = view ? view->style() : QApplication::style();
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
    const int available
        = style->subElementRect(QStyle::SE_ItemViewItemText, &cell, view).width() - 2 * margin;
    return cell.fontMetrics.horizontalAdvance(cell.text) > available;
}

} // namespace VLK
