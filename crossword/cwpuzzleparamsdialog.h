#ifndef CWPUZZLEPARAMSDIALOG_H
#define CWPUZZLEPARAMSDIALOG_H

#include <QDialog>

class QLineEdit;
class QPushButton;

// Asks for the size of a new crossword; accepted only with two sizes in 10..24.
class CWPuzzleParamsDialog : public QDialog
{
    Q_OBJECT

public:
    explicit CWPuzzleParamsDialog(QWidget *parent);

    static const int minimumSize = 10;
    static const int maximumSize = 24;

    int width;
    int height;
    QLineEdit *widthEdit;
    QLineEdit *heightEdit;
    QPushButton *okButton;
    QPushButton *cancelButton;

public slots:
    void onOk();
};

#endif
