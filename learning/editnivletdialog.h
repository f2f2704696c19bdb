#ifndef EDITNIVLETDIALOG_H
#define EDITNIVLETDIALOG_H

#include <QDialog>
#include <QString>

class BookComboBox;
class NivletCore;
class QCheckBox;
class QLabel;
class QPushButton;
class QTextEdit;
struct Book;

// Creates a nivlet or changes one: its book (new nivlets only), active flag,
// question and possible answers. Writes through the store and keeps nothing.
class EditNivletDialog : public QDialog
{
    Q_OBJECT

public:
    EditNivletDialog(QWidget *parent, NivletCore *core, qint64 nivletId,
                     const QString &appendedAnswers);

    // False when the nivlet to edit cannot be read; the dialog must then not be shown.
    bool setupUi(Book *book, const QString &question, bool preferActiveBook);

public slots:
    void onOk();

public:
    BookComboBox *bookCombo;
    QCheckBox *activeCheck;
    QLabel *knRateLabel;
    QTextEdit *questionEdit;
    QTextEdit *answersEdit;
    QPushButton *okButton;
    QPushButton *cancelButton;
    NivletCore *core;
    qint64 nivletId;
    QString appendedAnswers;
};

#endif
