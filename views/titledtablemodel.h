#ifndef TITLEDTABLEMODEL_H
#define TITLEDTABLEMODEL_H

#include <QAbstractTableModel>
#include <QStringList>

// A flat table with one fixed title per column and numbered rows.
class TitledTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

protected:
    TitledTableModel(QStringList columnTitles, QObject *parent);

private:
    QStringList titles;
};

#endif
