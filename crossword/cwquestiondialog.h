#ifndef CWQUESTIONDIALOG_H
#define CWQUESTIONDIALOG_H

#include "questiondialogbase.h"

// Shows the clue of one crossword word; its second button gives the word away.
class CWQuestionDialog : public QuestionDialogBase
{
    Q_OBJECT

public:
    CWQuestionDialog(QWidget *parent, Nivlet *nivlet);

    // Read after the modal run: the user asked to be told the word.
    bool cheated() const { return gaveUp; }

public slots:
    void cheat();

private:
    bool gaveUp;
};

#endif
