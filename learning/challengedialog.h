#ifndef CHALLENGEDIALOG_H
#define CHALLENGEDIALOG_H

#include "questiondialogbase.h"

#include <QString>

#include <memory>

class NivletCore;
class QLineEdit;
class QPushButton;

// Asks one nivlet, checks the typed answer and moves its rate at once; the
// caller reads outcome and answerText after the modal run.
class ChallengeDialog : public QuestionDialogBase
{
    Q_OBJECT

public:
    // The record is held for as long as the dialog lives: one of the active
    // list comes with its list (ActiveList::hold), so a reload meanwhile
    // leaves it alone.
    ChallengeDialog(QWidget *parent, NivletCore *store, std::shared_ptr<Nivlet> record);

    // 0 nothing chosen, 1 the next challenge, 2 a correction of the nivlet.
    int outcome() const { return chosen; }
    // A challenge of a series the timer started is recorded as automatic.
    void setAutomatic(bool automatic) { timed = automatic; }
    QString answerText() const;

public slots:
    void check();
    void later();
    void answerChanged(const QString &text);
    void next();
    void onClose();
    void correction();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    friend class ChallengeDialogTestAccess;

    NivletCore *core;
    bool timed = false;
    bool answered;
    int chosen;
    QLabel *answerLabel;
    QLineEdit *answerEdit;
    QTextEdit *correctAnswersEdit;
    QPushButton *checkButton;
    QPushButton *laterButton;
    QPushButton *nextButton;
    QPushButton *closeButton;
    QPushButton *correctionButton;
    std::shared_ptr<Nivlet> held;
};

#endif
