#ifndef CWPUZZLEDIALOG_H
#define CWPUZZLEDIALOG_H

#include <QDialog>

class CWPuzzleWidget;
class NivletCore;
class QHBoxLayout;
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

    CWPuzzleWidget *widget;
    QVBoxLayout *mainLayout;
    QHBoxLayout *buttonLayout;
    QPushButton *checkButton;
    QPushButton *closeButton;

public slots:
    void check();
};

#endif
