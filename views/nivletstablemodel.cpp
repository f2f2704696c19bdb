#include "nivletstablemodel.h"

#include "book.h"
#include "knrate.h"
#include "nivlet.h"

NivletsTableModel::NivletsTableModel(QObject *parent)
    : TitledTableModel({QStringLiteral("Nivlet Id"), QStringLiteral("Question"),
                        QStringLiteral("Kn. Rate"), QStringLiteral("Active"),
                        QStringLiteral("Book")},
                       parent)
{
}

int NivletsTableModel::rowCount(const QModelIndex &parent) const
{
    if (parent.isValid() || !nivlets)
        return 0;
    return static_cast<int>(nivlets->size());
}

QVariant NivletsTableModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount() ||
        index.column() >= columns)
        return QVariant();
    const Nivlet *n = nivlets->at(index.row()).get();
    switch (index.column()) {
    case 0:
        return QString::number(n->id);
    case 1:
        return n->question;
    case 2:
        return knRateText(n->knRate);
    case 3:
        return n->active ? QStringLiteral("yes") : QStringLiteral("no");
    default:
        // A row whose book is missing from the file still has to be shown.
        return n->book ? n->book->name : QString();
    }
}

void NivletsTableModel::setNivlets(std::unique_ptr<NivletRecords> list)
{
    beginResetModel();
    nivlets = std::move(list);
    endResetModel();
}

Nivlet *NivletsTableModel::nivletAt(int row) const
{
    return nivlets->at(row).get();
}
