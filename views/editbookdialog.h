#ifndef EDITBOOKDIALOG_H
#define EDITBOOKDIALOG_H

#include <QDialog>

struct Book;
class NivletCore;
class QCheckBox;
class QLineEdit;
class QPushButton;

// Creates a book (no book given) or renames and switches an existing one.
// Names must not be blank and must differ from every other book's name; the
// store itself accepts any name.
class EditBookDialog : public QDialog
{
    Q_OBJECT

public:
    EditBookDialog(QWidget *parent, NivletCore *core, Book *book);

public slots:
    void onOk();

public:
    NivletCore *core;
    Book *book;
    QLineEdit *nameEdit;
    QCheckBox *activeCheckBox;
    QPushButton *okButton;
    QPushButton *cancelButton;
};

#endif
