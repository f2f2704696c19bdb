#ifndef QUESTIONDIALOGBASE_H
#define QUESTIONDIALOGBASE_H

#include <QDialog>

class QHBoxLayout;
class QLabel;
class QLayout;
class QTextEdit;
class QVBoxLayout;
struct Nivlet;

// The part every dialog showing one nivlet's question shares: book, rate and
// question. A derived dialog adds its own rows below the question and its
// buttons to the row at the bottom, which stays last.
class QuestionDialogBase : public QDialog
{
    Q_OBJECT

public:
    ~QuestionDialogBase() override;

    // The nivlet shown; a record the dialog does not own.
    Nivlet *nivlet() const { return shown; }

protected:
    // The header, a picture from the resources, is left out when null.
    QuestionDialogBase(QWidget *parent, Nivlet *nivlet, const char *header);

    void showKnRate(double rate);
    // Appends below the question and the rows added before, above the buttons.
    void addRow(QWidget *widget);
    void addRow(QLayout *layout);
    QHBoxLayout *buttonRow() const { return buttons; }

private:
    void buildQuestionSection();

    Nivlet *shown;
    QVBoxLayout *mainLayout;
    QLabel *bookLabel;
    QLabel *knRateLabel;
    QTextEdit *questionEdit;
    QHBoxLayout *buttons;
};

#endif
