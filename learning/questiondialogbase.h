#ifndef QUESTIONDIALOGBASE_H
#define QUESTIONDIALOGBASE_H

#include <QDialog>

class QLabel;
class QTextEdit;
class QVBoxLayout;
struct Nivlet;

// The part every dialog showing one nivlet's question shares: book, rate and
// question. The derived dialog creates mainLayout before building the section.
class QuestionDialogBase : public QDialog
{
    Q_OBJECT

public:
    QuestionDialogBase(QWidget *parent, Nivlet *nivlet);
    ~QuestionDialogBase() override;

    void buildQuestionSection();
    void showKnRate(double rate);

    Nivlet *nivlet;
    QVBoxLayout *mainLayout;
    QLabel *bookLabel;
    QLabel *knRateLabel;
    QTextEdit *questionEdit;
};

#endif
