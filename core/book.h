#ifndef BOOK_H
#define BOOK_H

#include <QString>

struct Book
{
    Book(qint64 bookId, const QString &bookName, bool isActive)
        : id(bookId), name(bookName), active(isActive), nivletCount(0)
    {
    }

    qint64 id;
    QString name;
    bool active;
    int nivletCount;
};

#endif
