#ifndef EDITBOOKDIALOG_H
#define EDITBOOKDIALOG_H

#include <QDialog>

struct Book;
class NivletCore;
class QCheckBox;
class QLineEdit;

// Creates a book (no book given) or renames and switches an existing one.
// Names must not be blank and must differ from every other book's name; the
// store itself accepts any name.
class EditBookDialog : public QDialog
{
    Q_OBJECT

public:
    EditBookDialog(QWidget *parent, NivletCore *store, Book *book);

    // The book edited; null while a new one is made.
    Book *book() const { return edited; }

public slots:
    void onOk();

private:
    NivletCore *core;
    Book *edited;
    QLineEdit *nameEdit;
    QCheckBox *activeCheckBox;
};

#endif
