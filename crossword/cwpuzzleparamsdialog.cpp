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
    : QDialog(parent), width(0), height(0), widthEdit(nullptr), heightEdit(nullptr),
      okButton(nullptr), cancelButton(nullptr)
{
    setWindowTitle(QStringLiteral("nivlets - Create puzzle"));
    setMaximumWidth(170);

    auto *mainLayout = new QVBoxLayout;
    auto *grid = new QGridLayout;
    grid->setColumnStretch(1, 1);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(6);
    widthEdit = GuiUtil::addLabeledWidget(grid, new QLineEdit, "Width (10-24):", 0, 0, 1);
    heightEdit = GuiUtil::addLabeledWidget(grid, new QLineEdit, "Height (10-24):", 1, 0, 1);
    mainLayout->addLayout(grid);

    auto *buttonLayout = new QHBoxLayout;
    okButton = new QPushButton(QStringLiteral("Ok"));
    okButton->setDefault(true);
    GuiUtil::fixButtonWidth(okButton, 60);
    buttonLayout->addWidget(okButton);
    connect(okButton, &QPushButton::clicked, this, &CWPuzzleParamsDialog::onOk);
    cancelButton = new QPushButton(QStringLiteral("Cancel"));
    GuiUtil::fixButtonWidth(cancelButton, 60);
    buttonLayout->addWidget(cancelButton);
    connect(cancelButton, &QPushButton::clicked, this, &CWPuzzleParamsDialog::reject);
    buttonLayout->addStretch();
    mainLayout->addLayout(buttonLayout);
    setLayout(mainLayout);
}

void CWPuzzleParamsDialog::onOk()
{
    if (!readSize(widthEdit, width)) {
        logError("Invalid width.", true);
        return;
    }
    if (!readSize(heightEdit, height)) {
        logError("Invalid height.", true);
        return;
    }
    accept();
}
