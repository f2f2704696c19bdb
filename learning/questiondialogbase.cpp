#include "questiondialogbase.h"

#include "book.h"
#include "guiutil.h"
#include "knrate.h"
#include "nivlet.h"

#include <QColor>
#include <QGridLayout>
#include <QLabel>
#include <QTextEdit>
#include <QVBoxLayout>

QuestionDialogBase::QuestionDialogBase(QWidget *parent, Nivlet *nivlet)
    : QDialog(parent), nivlet(nivlet), mainLayout(nullptr), bookLabel(nullptr),
      knRateLabel(nullptr), questionEdit(nullptr)
{
}

QuestionDialogBase::~QuestionDialogBase() = default;

void QuestionDialogBase::buildQuestionSection()
{
    auto *grid = new QGridLayout;
    grid->setColumnStretch(1, 1);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(6);
    // A row whose book has gone (deleted, or never there) still has to be shown.
    const QString bookName = nivlet->book ? nivlet->book->name : QString();
    bookLabel = GuiUtil::addLabeledWidget(grid, new QLabel(bookName), "Book:", 0, 0, 1);
    // A book's name is the user's text, never markup.
    bookLabel->setTextFormat(Qt::PlainText);
    knRateLabel = GuiUtil::addLabeledWidget(grid, new QLabel(knRateText(nivlet->knRate)),
                                            "Knowledge rate:", 1, 0, 1);
    mainLayout->addLayout(grid);
    mainLayout->addSpacing(10);

    mainLayout->addWidget(new QLabel(QStringLiteral("Question:")));

    questionEdit = new QTextEdit;
    questionEdit->setTabChangesFocus(true);
    questionEdit->setReadOnly(true);
    questionEdit->setEnabled(false);
    // Set before the text so that it applies to it, keeping a disabled box readable.
    questionEdit->setTextColor(QColor(0, 0, 0, 255));
    questionEdit->setPlainText(nivlet->question);
    mainLayout->addWidget(questionEdit);
}

void QuestionDialogBase::showKnRate(double rate)
{
    knRateLabel->setText(knRateText(rate));
}
