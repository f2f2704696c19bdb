#include "questiondialogbase.h"

#include "book.h"
#include "guiutil.h"
#include "knrate.h"
#include "nivlet.h"

#include <QColor>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QTextEdit>
#include <QVBoxLayout>

QuestionDialogBase::QuestionDialogBase(QWidget *parent, Nivlet *nivlet, const char *header)
    : QDialog(parent), shown(nivlet), mainLayout(new QVBoxLayout), bookLabel(nullptr),
      knRateLabel(nullptr), questionEdit(nullptr),
      buttons(GuiUtil::named(new QHBoxLayout, "buttonRow"))
{
    if (header) {
        auto *picture = new QLabel;
        picture->setPixmap(QPixmap(QString::fromLatin1(header)));
        picture->setMargin(1);
        mainLayout->addWidget(picture);
    }
    buildQuestionSection();
    buttons->setAlignment(Qt::AlignLeft);
    mainLayout->addLayout(buttons);
    setLayout(mainLayout);
}

QuestionDialogBase::~QuestionDialogBase() = default;

void QuestionDialogBase::buildQuestionSection()
{
    auto *grid = new QGridLayout;
    grid->setColumnStretch(1, 1);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(6);
    // A row whose book has gone (deleted, or never there) still has to be shown.
    const QString bookName = shown->book ? shown->book->name : QString();
    bookLabel = GuiUtil::named(
        GuiUtil::addLabeledWidget(grid, new QLabel(bookName), "Book:", 0, 0, 1), "bookLabel");
    // A book's name is the user's text, never markup.
    bookLabel->setTextFormat(Qt::PlainText);
    knRateLabel =
        GuiUtil::named(GuiUtil::addLabeledWidget(grid, new QLabel(knRateText(shown->knRate)),
                                                 "Knowledge rate:", 1, 0, 1),
                       "knRateLabel");
    mainLayout->addLayout(grid);
    mainLayout->addSpacing(10);

    mainLayout->addWidget(new QLabel(QStringLiteral("Question:")));

    questionEdit = GuiUtil::named(new QTextEdit, "questionEdit");
    questionEdit->setTabChangesFocus(true);
    questionEdit->setReadOnly(true);
    questionEdit->setEnabled(false);
    // Set before the text so that it applies to it, keeping a disabled box readable.
    questionEdit->setTextColor(QColor(0, 0, 0, 255));
    questionEdit->setPlainText(shown->question);
    mainLayout->addWidget(questionEdit);
}

void QuestionDialogBase::showKnRate(double rate)
{
    knRateLabel->setText(knRateText(rate));
}

void QuestionDialogBase::addRow(QWidget *widget)
{
    mainLayout->insertWidget(mainLayout->count() - 1, widget);
}

void QuestionDialogBase::addRow(QLayout *layout)
{
    mainLayout->insertLayout(mainLayout->count() - 1, layout);
}
