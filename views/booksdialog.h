#ifndef BOOKSDIALOG_H
#define BOOKSDIALOG_H

#include <QDialog>

struct Book;
class NivletCore;
class NivletTableView;
class QItemSelection;
class QPushButton;

// Lists every book with its nivlet count and active flag; creates, edits and
// deletes books through the store, whose booksChanged() keeps the table
// current.
class BooksDialog : public QDialog
{
    Q_OBJECT

public:
    BooksDialog(QWidget *parent, NivletCore *store);

    void setupUi();
    int selectedRow() const;
    Book *selectedBook() const;

public slots:
    void booksSelectionChanged(const QItemSelection &selected, const QItemSelection &deselected);
    void newBook();
    void editBook();
    void deleteBooks();

public:
    // How long a deletion waits for its backup before it shows how far the
    // copy has come.
    static constexpr int backupProgressDelay = 500;

private:
    void waitForBackup();

    NivletCore *core;
    NivletTableView *view;
    QPushButton *editButton;
    QPushButton *deleteButton;
};

#endif
