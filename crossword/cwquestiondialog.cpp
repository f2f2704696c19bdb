#include "cwquestiondialog.h"

#include "guiutil.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

CWQuestionDialog::CWQuestionDialog(QWidget *parent, Nivlet *nivlet)
    : QuestionDialogBase(parent, nivlet), cheated(false), okButton(nullptr), cheatButton(nullptr)
{
    resize(440, 260);
    setWindowTitle(QStringLiteral("Cross Word Puzzle Question"));
    mainLayout = new QVBoxLayout;
    buildQuestionSection();

    auto *buttonLayout = new QHBoxLayout;
    buttonLayout->setAlignment(Qt::AlignLeft);
    okButton = new QPushButton(QStringLiteral("Ok"));
    okButton->setDefault(true);
    GuiUtil::fixButtonWidth(okButton, 60);
    buttonLayout->addWidget(okButton);
    connect(okButton, &QPushButton::clicked, this, &CWQuestionDialog::accept);
    cheatButton = new QPushButton(QStringLiteral("I really don't know, tell me please!"));
    GuiUtil::fixButtonWidth(cheatButton, 200);
    buttonLayout->addWidget(cheatButton);
    connect(cheatButton, &QPushButton::clicked, this, &CWQuestionDialog::cheat);
    mainLayout->addLayout(buttonLayout);
    setLayout(mainLayout);
}

void CWQuestionDialog::cheat()
{
    cheated = true;
    accept();
}
