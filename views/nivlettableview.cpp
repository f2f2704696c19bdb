#include "nivlettableview.h"

#include <QEvent>
#include <QHeaderView>
#include <QStyle>
#include <QStyleOptionViewItem>

#include <algorithm>

NivletTableView::NivletTableView()
{
    // One line a row, a long text cut off at its end: a search shows many
    // rows at a glance, and the editor shows a nivlet whole.
    setWordWrap(false);
    setTextElideMode(Qt::ElideRight);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    fitRowHeight();
}

int NivletTableView::lineRowHeight() const
{
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.features |= QStyleOptionViewItem::HasDisplay;
    option.text = QStringLiteral("Xg");
    const QSize cell = style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), this);
    // The grid line is drawn inside the row; the header's smallest section
    // (a line of its font and its margins) keeps the text off the lines.
    return std::max(cell.height() + (showGrid() ? 1 : 0), verticalHeader()->minimumSectionSize());
}

void NivletTableView::changeEvent(QEvent *event)
{
    QTableView::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        fitRowHeight();
}

void NivletTableView::fitRowHeight()
{
    verticalHeader()->setDefaultSectionSize(lineRowHeight());
}

void NivletTableView::addColumn(int minWidth, double weight)
{
    specs.append(ColumnSpec{minWidth, weight});
}

void NivletTableView::resizeEvent(QResizeEvent *event)
{
    Q_UNUSED(event);
    fitColumns();
}

void NivletTableView::fitColumns()
{
    if (specs.isEmpty())
        return;
    // The room left for a vertical scroll bar and the frame.
    const int available = geometry().right() - geometry().left() - 18;
    int sumMin = 0;
    double sumWeight = 0.0;
    for (const ColumnSpec &column : std::as_const(specs)) {
        sumMin += column.minWidth;
        sumWeight += column.weight;
    }
    const int spare = available - sumMin;
    int remaining = available;
    const int last = static_cast<int>(specs.size()) - 1;
    for (int i = 0; i < last; ++i) {
        const ColumnSpec &column = specs.at(i);
        int width = column.minWidth;
        if (spare > 0 && sumWeight > 0.001) {
            width += static_cast<int>(spare * column.weight / sumWeight);
            remaining -= width;
        }
        setColumnWidth(i, width);
    }
    setColumnWidth(last, remaining);
}
