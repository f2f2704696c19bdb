#ifndef CWPUZZLEDIALOG_H
#define CWPUZZLEDIALOG_H

#include <QDialog>

class CWPuzzleWidget;
class NivletCore;
class QPushButton;
class QVBoxLayout;
struct CWPuzzle;

// Hosts the puzzle widget, checks the puzzle once and shows how many words
// were right, wrong or given up.
class CWPuzzleDialog : public QDialog
{
    Q_OBJECT

public:
    CWPuzzleDialog(QWidget *parent, CWPuzzle *puzzle, NivletCore *core);

public slots:
    void check();

private:
    CWPuzzleWidget *widget;
    QVBoxLayout *mainLayout;
    QPushButton *checkButton;
};

#endif
