#ifndef CWPUZZLEPARAMSDIALOG_H
#define CWPUZZLEPARAMSDIALOG_H

#include <QDialog>

class QLineEdit;

// Asks for the size of a new crossword; accepted only with two sizes in 10..24.
class CWPuzzleParamsDialog : public QDialog
{
    Q_OBJECT

public:
    explicit CWPuzzleParamsDialog(QWidget *parent);

    static const int minimumSize = 10;
    static const int maximumSize = 24;

    // The accepted size, read after the dialog was accepted.
    int puzzleWidth() const { return chosenWidth; }
    int puzzleHeight() const { return chosenHeight; }

public slots:
    void onOk();

private:
    int chosenWidth;
    int chosenHeight;
    QLineEdit *widthEdit;
    QLineEdit *heightEdit;
};

#endif
