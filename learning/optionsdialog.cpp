#include "optionsdialog.h"

#include "guiutil.h"
#include "log.h"
#include "nivletcore.h"
#include "options.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
constexpr int minMinutes = 1;
constexpr int maxMinutes = 240;
} // namespace

OptionsDialog::OptionsDialog(QWidget *parent, NivletCore *store)
    : QDialog(parent), autoChCheck(nullptr), intervalEdit(nullptr), puzzleRatesCheck(nullptr),
      core(store)
{
    setWindowTitle(QStringLiteral("Options"));

    auto *layout = new QVBoxLayout;

    auto *intervalRow = new QHBoxLayout;
    intervalRow->setAlignment(Qt::AlignLeft);
    autoChCheck = GuiUtil::named(new QCheckBox(QStringLiteral("Automatically challenge me every")),
                                 "autoChCheck");
    connect(autoChCheck, &QCheckBox::stateChanged, this, &OptionsDialog::refreshACInterval);
    intervalRow->addWidget(autoChCheck);
    intervalEdit = GuiUtil::named(new QLineEdit, "intervalEdit");
    GuiUtil::fixWidth(intervalEdit, 40);
    intervalRow->addWidget(intervalEdit);
    intervalRow->addWidget(new QLabel(QStringLiteral("minutes (1-240)")));
    layout->addLayout(intervalRow);

    puzzleRatesCheck = GuiUtil::named(
        new QCheckBox(QStringLiteral("Cross-word puzzle results affect knowledge rates.")),
        "puzzleRatesCheck");
    layout->addWidget(puzzleRatesCheck);

    auto *buttonRow = new QHBoxLayout;
    buttonRow->setAlignment(Qt::AlignLeft);
    QPushButton *okButton = GuiUtil::named(GuiUtil::button("Ok", 60), "okButton");
    okButton->setDefault(true);
    connect(okButton, &QPushButton::clicked, this, &OptionsDialog::onOk);
    buttonRow->addWidget(okButton);
    QPushButton *cancelButton = GuiUtil::named(GuiUtil::button("Cancel", 60), "cancelButton");
    connect(cancelButton, &QPushButton::clicked, this, &OptionsDialog::reject);
    buttonRow->addWidget(cancelButton);
    layout->addLayout(buttonRow);

    setLayout(layout);
}

bool OptionsDialog::loadOptions()
{
    const Options *options = core->options();
    if (!options)
        return false;
    autoChCheck->setChecked(options->autoCh);
    // A stored interval below a minute still shows a value the dialog accepts.
    const int minutes = options->autoChInterval / 60;
    intervalEdit->setText(QString::number(minutes == 0 ? 1 : minutes));
    intervalEdit->setEnabled(options->autoCh);
    puzzleRatesCheck->setChecked(options->puzzleAffectsRates);
    return true;
}

void OptionsDialog::refreshACInterval()
{
    intervalEdit->setEnabled(autoChCheck->isChecked());
}

void OptionsDialog::onOk()
{
    Options options;
    options.autoCh = autoChCheck->isChecked();
    options.puzzleAffectsRates = puzzleRatesCheck->isChecked();
    // A text that is no whole number reads as 0 and is refused below.
    const int minutes = intervalEdit->text().toInt();
    if (minutes < minMinutes || minutes > maxMinutes) {
        logError("Please provide a whole number for 'minutes' between 1 and 240.", true);
        return;
    }
    options.autoChInterval = minutes * 60;
    if (core->setOptions(options))
        accept();
}
