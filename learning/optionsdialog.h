#ifndef OPTIONSDIALOG_H
#define OPTIONSDIALOG_H

#include <QDialog>

class NivletCore;
class QCheckBox;
class QLineEdit;
class QPushButton;

// Edits the stored options. The interval is shown in whole minutes while the
// store keeps seconds; the timer reads the options on every tick, so a saved
// change needs no notification.
class OptionsDialog : public QDialog
{
    Q_OBJECT

public:
    OptionsDialog(QWidget *parent, NivletCore *core);

    bool loadOptions();

public slots:
    void refreshACInterval();
    void onOk();

public:
    QCheckBox *autoChCheck;
    QLineEdit *intervalEdit;
    QCheckBox *puzzleRatesCheck;
    QPushButton *okButton;
    QPushButton *cancelButton;
    NivletCore *core;
};

#endif
