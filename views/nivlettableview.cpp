#include "nivlettableview.h"

NivletTableView::NivletTableView() = default;

void NivletTableView::addColumn(int minWidth, double weight)
{
    columnSpecs.append(ColumnSpec{minWidth, weight});
}

void NivletTableView::resizeEvent(QResizeEvent *event)
{
    Q_UNUSED(event);
    fitColumns();
}

void NivletTableView::fitColumns()
{
    if (columnSpecs.isEmpty())
        return;
    // The room left for a vertical scroll bar and the frame.
    const int available = geometry().right() - geometry().left() - 18;
    int sumMin = 0;
    double sumWeight = 0.0;
    for (const ColumnSpec &column : std::as_const(columnSpecs)) {
        sumMin += column.minWidth;
        sumWeight += column.weight;
    }
    const int spare = available - sumMin;
    int remaining = available;
    const int last = static_cast<int>(columnSpecs.size()) - 1;
    for (int i = 0; i < last; ++i) {
        const ColumnSpec &column = columnSpecs.at(i);
        int width = column.minWidth;
        if (spare > 0 && sumWeight > 0.001) {
            width += static_cast<int>(spare * column.weight / sumWeight);
            remaining -= width;
        }
        setColumnWidth(i, width);
    }
    setColumnWidth(last, remaining);
}
