#include "cwpuzzleparamsdialog.h"

#include "guiutil.h"
#include "log.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
bool readSize(const QLineEdit *edit, int &size)
{
    bool ok = false;
    size = edit->text().toInt(&ok, 10);
    return ok && size >= CWPuzzleParamsDialog::minimumSize &&
           size <= CWPuzzleParamsDialog::maximumSize;
}
} // namespace

CWPuzzleParamsDialog::CWPuzzleParamsDialog(QWidget *parent)
    : QDialog(parent), chosenWidth(0), chosenHeight(0), widthEdit(nullptr), heightEdit(nullptr)
{
    setWindowTitle(QStringLiteral("nivlets - Create puzzle"));
    setMaximumWidth(170);

    auto *mainLayout = new QVBoxLayout;
    auto *grid = new QGridLayout;
    grid->setColumnStretch(1, 1);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(6);
    widthEdit = GuiUtil::named(
        GuiUtil::addLabeledWidget(grid, new QLineEdit, "Width (10-24):", 0, 0, 1), "widthEdit");
    heightEdit = GuiUtil::named(
        GuiUtil::addLabeledWidget(grid, new QLineEdit, "Height (10-24):", 1, 0, 1), "heightEdit");
    mainLayout->addLayout(grid);

    auto *buttonLayout = new QHBoxLayout;
    QPushButton *okButton = GuiUtil::named(GuiUtil::button("Ok", 60), "okButton");
    okButton->setDefault(true);
    buttonLayout->addWidget(okButton);
    connect(okButton, &QPushButton::clicked, this, &CWPuzzleParamsDialog::onOk);
    QPushButton *cancelButton = GuiUtil::named(GuiUtil::button("Cancel", 60), "cancelButton");
    buttonLayout->addWidget(cancelButton);
    connect(cancelButton, &QPushButton::clicked, this, &CWPuzzleParamsDialog::reject);
    buttonLayout->addStretch();
    mainLayout->addLayout(buttonLayout);
    setLayout(mainLayout);
}

void CWPuzzleParamsDialog::onOk()
{
    if (!readSize(widthEdit, chosenWidth)) {
        logError("Invalid width.", true);
        return;
    }
    if (!readSize(heightEdit, chosenHeight)) {
        logError("Invalid height.", true);
        return;
    }
    accept();
}
