#ifndef NIVLETTABLEVIEW_H
#define NIVLETTABLEVIEW_H

#include <QList>
#include <QTableView>

// A table that shares its width out over its columns whenever it is resized:
// every column gets its minimum width plus its weight's part of what is left.
// Its rows hold one line each.
class NivletTableView : public QTableView
{
    Q_OBJECT

public:
    struct ColumnSpec
    {
        int minWidth;
        double weight;
    };

    NivletTableView();

    void addColumn(int minWidth, double weight);
    void fitColumns();
    const QList<ColumnSpec> &columnSpecs() const { return specs; }

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    // The height of a row that holds one line of text.
    int lineRowHeight() const;
    void fitRowHeight();

    QList<ColumnSpec> specs;
};

#endif
