#ifndef BOOK_H
#define BOOK_H

#include <QString>

struct Book
{
    Book(qint64 id, const QString &name, bool active)
        : id(id), name(name), active(active), nivletCount(0)
    {
    }

    qint64 id;
    QString name;
    bool active;
    int nivletCount;
};

#endif
