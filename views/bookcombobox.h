#ifndef BOOKCOMBOBOX_H
#define BOOKCOMBOBOX_H

#include <QComboBox>

class NivletCore;
struct Book;

// The store's books by name, in the store's order; entry and book are matched
// by position, so the owner calls refresh() after the books changed.
class BookComboBox : public QComboBox
{
    Q_OBJECT

public:
    BookComboBox(NivletCore *store, bool offerAllBooks);

    void refresh();
    Book *currentBook() const;
    int indexOfBook(const Book *book) const;
    void setCurrentBook(const Book *book);
    // The first entry, "*All books*", stands for no book.
    bool hasAllBooksEntry() const { return withAllBooks; }

private:
    NivletCore *core;
    bool withAllBooks;
};

#endif
