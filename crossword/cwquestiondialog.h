#ifndef CWQUESTIONDIALOG_H
#define CWQUESTIONDIALOG_H

#include "questiondialogbase.h"

class QPushButton;

// Shows the clue of one crossword word; its second button gives the word away.
class CWQuestionDialog : public QuestionDialogBase
{
    Q_OBJECT

public:
    CWQuestionDialog(QWidget *parent, Nivlet *nivlet);

    bool cheated;
    QPushButton *okButton;
    QPushButton *cheatButton;

public slots:
    void cheat();
};

#endif
