#include "cwquestiondialog.h"

#include "guiutil.h"

#include <QHBoxLayout>
#include <QPushButton>

CWQuestionDialog::CWQuestionDialog(QWidget *parent, Nivlet *nivlet)
    : QuestionDialogBase(parent, nivlet, nullptr), gaveUp(false)
{
    resize(440, 260);
    setWindowTitle(QStringLiteral("Cross Word Puzzle Question"));

    auto *okButton = GuiUtil::named(GuiUtil::button("Ok", 60), "okButton");
    okButton->setDefault(true);
    buttonRow()->addWidget(okButton);
    connect(okButton, &QPushButton::clicked, this, &CWQuestionDialog::accept);
    auto *cheatButton =
        GuiUtil::named(GuiUtil::button("I really don't know, tell me please!", 200), "cheatButton");
    buttonRow()->addWidget(cheatButton);
    connect(cheatButton, &QPushButton::clicked, this, &CWQuestionDialog::cheat);
}

void CWQuestionDialog::cheat()
{
    gaveUp = true;
    accept();
}
