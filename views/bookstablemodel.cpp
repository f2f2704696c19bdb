#include "bookstablemodel.h"

#include "book.h"
#include "nivletcore.h"

BooksTableModel::BooksTableModel(NivletCore *store, QObject *parent)
    : QAbstractTableModel(parent), core(store)
{
}

int BooksTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : core->bookCount();
}

int BooksTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : columns;
}

QVariant BooksTableModel::data(const QModelIndex &index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= core->bookCount() ||
        index.column() >= columns)
        return QVariant();
    const Book *book = core->book(index.row());
    switch (index.column()) {
    case 0:
        return book->name;
    case 1:
        return QString::number(book->nivletCount);
    default:
        return book->active ? QStringLiteral("yes") : QStringLiteral("no");
    }
}

QVariant BooksTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Vertical)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (role != Qt::DisplayRole)
        return QVariant();
    switch (section) {
    case 0:
        return QStringLiteral("Book");
    case 1:
        return QStringLiteral("Nivlets");
    case 2:
        return QStringLiteral("Active");
    default:
        return QVariant();
    }
}

void BooksTableModel::refresh()
{
    beginResetModel();
    endResetModel();
}
