#ifndef BOOKSTABLEMODEL_H
#define BOOKSTABLEMODEL_H

#include "titledtablemodel.h"

class NivletCore;

// The store's books, one row per book in the order of its list. It keeps no
// copy: every call reads the store, and refresh() tells the views after the
// store changed its books.
class BooksTableModel : public TitledTableModel
{
    Q_OBJECT

public:
    BooksTableModel(NivletCore *store, QObject *parent);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

public slots:
    void refresh();

public:
    static constexpr int columns = 3;

private:
    NivletCore *core;
};

#endif
