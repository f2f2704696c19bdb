#ifndef OPTIONSDIALOG_H
#define OPTIONSDIALOG_H

#include <QDialog>

class NivletCore;
class QCheckBox;
class QLineEdit;

// Edits the stored options. The interval is shown in whole minutes while the
// store keeps seconds; the timer reads the options on every tick, so a saved
// change needs no notification.
class OptionsDialog : public QDialog
{
    Q_OBJECT

public:
    OptionsDialog(QWidget *parent, NivletCore *store);

    bool loadOptions();

public slots:
    void refreshACInterval();
    void onOk();

private:
    friend class OptionsDialogTestAccess;

    QCheckBox *autoChCheck;
    QLineEdit *intervalEdit;
    QCheckBox *puzzleRatesCheck;
    NivletCore *core;
};

#endif
