#include "titledtablemodel.h"

TitledTableModel::TitledTableModel(QStringList columnTitles, QObject *parent)
    : QAbstractTableModel(parent), titles(std::move(columnTitles))
{
}

int TitledTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(titles.size());
}

QVariant TitledTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Vertical)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (role != Qt::DisplayRole || section < 0 || section >= titles.size())
        return QVariant();
    return titles.at(section);
}
