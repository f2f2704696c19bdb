#ifndef NIVLETSTABLEMODEL_H
#define NIVLETSTABLEMODEL_H

#include "nivlet.h"
#include "titledtablemodel.h"

#include <memory>

// One search result, owned together with its records: id, question, rate,
// active flag and book name.
class NivletsTableModel : public TitledTableModel
{
    Q_OBJECT

public:
    explicit NivletsTableModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    // Takes the list and its records; the previous ones are destroyed, so
    // a record from nivletAt() lasts until the next setNivlets().
    void setNivlets(std::unique_ptr<NivletRecords> list);
    bool hasNivlets() const { return nivlets != nullptr; }
    Nivlet *nivletAt(int row) const;

    static constexpr int columns = 5;

private:
    std::unique_ptr<NivletRecords> nivlets;
};

#endif
