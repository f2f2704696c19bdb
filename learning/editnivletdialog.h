#ifndef EDITNIVLETDIALOG_H
#define EDITNIVLETDIALOG_H

#include <QDialog>
#include <QString>

class BookComboBox;
class NivletCore;
class QCheckBox;
class QTextEdit;
struct Book;

// Creates a nivlet or changes one: its book (new nivlets only), active flag,
// question and possible answers. Writes through the store and keeps nothing.
class EditNivletDialog : public QDialog
{
    Q_OBJECT

public:
    // A new nivlet for the id -1; the appended text follows its possible answers.
    EditNivletDialog(QWidget *parent, NivletCore *store, qint64 id, const QString &appended);

    // False when the nivlet to edit cannot be read; the dialog must then not be shown.
    bool setupUi(Book *book, const QString &question, bool preferActiveBook);

public slots:
    void onOk();

private:
    BookComboBox *bookCombo;
    QCheckBox *activeCheck;
    QTextEdit *questionEdit;
    QTextEdit *answersEdit;
    NivletCore *core;
    qint64 nivletId;
    QString appendedAnswers;
};

#endif
