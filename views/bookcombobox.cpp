#include "bookcombobox.h"

#include "nivletcore.h"

BookComboBox::BookComboBox(NivletCore *store, bool offerAllBooks)
    : core(store), withAllBooks(offerAllBooks)
{
    refresh();
}

void BookComboBox::refresh()
{
    clear();
    if (withAllBooks)
        addItem(QStringLiteral("*All books*"));
    for (const Book *book : core->books())
        addItem(book->name);
    if (withAllBooks)
        setCurrentBook(nullptr);
}

Book *BookComboBox::currentBook() const
{
    int index = currentIndex();
    if (index == -1 || core->bookCount() == 0)
        return nullptr;
    if (withAllBooks) {
        if (index == 0)
            return nullptr;
        --index;
    }
    // Entries outlive a change of the store's list until the next refresh.
    if (index >= core->bookCount())
        return nullptr;
    return core->book(index);
}

int BookComboBox::indexOfBook(const Book *book) const
{
    if (!book)
        return -1;
    return static_cast<int>(core->books().indexOf(book));
}

void BookComboBox::setCurrentBook(const Book *book)
{
    const int position = indexOfBook(book);
    if (position != -1)
        setCurrentIndex(withAllBooks ? position + 1 : position);
    else
        setCurrentIndex(withAllBooks ? 0 : -1);
}
