#include "bookstablemodel.h"

#include "book.h"
#include "nivletcore.h"

BooksTableModel::BooksTableModel(NivletCore *store, QObject *parent)
    : TitledTableModel(
          {QStringLiteral("Book"), QStringLiteral("Nivlets"), QStringLiteral("Active")}, parent),
      core(store)
{
}

int BooksTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : core->bookCount();
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

void BooksTableModel::refresh()
{
    beginResetModel();
    endResetModel();
}
