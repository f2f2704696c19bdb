#include "editnivletdialog.h"

#include "bookcombobox.h"
#include "guiutil.h"
#include "knrate.h"
#include "log.h"
#include "nivlet.h"
#include "nivletcore.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTextEdit>
#include <QVBoxLayout>

#include <memory>

EditNivletDialog::EditNivletDialog(QWidget *parent, NivletCore *store, qint64 id,
                                   const QString &appended)
    : QDialog(parent), bookCombo(nullptr), activeCheck(nullptr), questionEdit(nullptr),
      answersEdit(nullptr), core(store), nivletId(id), appendedAnswers(appended)
{
}

bool EditNivletDialog::setupUi(Book *book, const QString &question, bool preferActiveBook)
{
    const bool isNew = nivletId == -1;
    std::unique_ptr<Nivlet> edited;
    if (!isNew) {
        edited.reset(core->getNivlet(nivletId));
        if (!edited)
            return false;
    }

    resize(440, 440);
    setWindowTitle(isNew ? QStringLiteral("New nivlet") : QStringLiteral("Edit nivlet"));

    auto *layout = new QVBoxLayout;
    auto *grid = new QGridLayout;
    grid->setColumnStretch(1, 1);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(6);

    bookCombo = GuiUtil::named(
        GuiUtil::addLabeledWidget(grid, new BookComboBox(core, false), "Book:", 0, 0, 1),
        "bookCombo");
    Book *preselected = isNew ? book : edited->book;
    if (preselected && bookCombo->indexOfBook(preselected) != -1) {
        bookCombo->setCurrentBook(preselected);
    } else if (!isNew) {
        // A nivlet whose book row is missing shows no book rather than another one.
        bookCombo->setCurrentBook(nullptr);
    } else if (preferActiveBook && core->firstActiveBook()) {
        bookCombo->setCurrentBook(core->firstActiveBook());
    }
    if (!isNew)
        bookCombo->setEnabled(false);

    activeCheck = GuiUtil::named(new QCheckBox(QStringLiteral("Active")), "activeCheck");
    activeCheck->setChecked(isNew || edited->active);
    grid->addWidget(activeCheck, 1, 1);

    GuiUtil::named(GuiUtil::addLabeledWidget(grid,
                                             new QLabel(knRateText(isNew ? 0.0 : edited->knRate)),
                                             "Knowledge rate:", 2, 0, 1),
                   "knRateLabel");

    layout->addLayout(grid);
    layout->addSpacing(10);
    layout->addWidget(new QLabel(QStringLiteral("Question:")));

    questionEdit = GuiUtil::named(new QTextEdit, "questionEdit");
    questionEdit->setAcceptRichText(false);
    questionEdit->setTabChangesFocus(true);
    questionEdit->setPlainText(isNew ? question : edited->question);
    layout->addWidget(questionEdit);
    layout->addSpacing(5);

    layout->addWidget(new QLabel(QStringLiteral("Possible answers (one in each line):")));
    answersEdit = GuiUtil::named(new QTextEdit, "answersEdit");
    answersEdit->setAcceptRichText(false);
    answersEdit->setTabChangesFocus(true);
    answersEdit->setPlainText((isNew ? QString() : edited->answer) + appendedAnswers);
    layout->addWidget(answersEdit);

    auto *buttons = new QHBoxLayout;
    buttons->setAlignment(Qt::AlignLeft);
    QPushButton *okButton = GuiUtil::named(GuiUtil::button("&Ok", 50), "okButton");
    okButton->setDefault(true);
    connect(okButton, &QPushButton::clicked, this, &EditNivletDialog::onOk);
    buttons->addWidget(okButton);
    QPushButton *cancelButton = GuiUtil::named(GuiUtil::button("&Cancel", 50), "cancelButton");
    connect(cancelButton, &QPushButton::clicked, this, &EditNivletDialog::reject);
    buttons->addWidget(cancelButton);
    layout->addLayout(buttons);
    setLayout(layout);

    if (isNew) {
        if (question.isEmpty())
            questionEdit->setFocus();
        else
            answersEdit->setFocus();
    }
    return true;
}

void EditNivletDialog::onOk()
{
    Book *book = bookCombo->currentBook();
    const bool active = activeCheck->isChecked();
    const QString question = questionEdit->toPlainText();
    const QString answer = answersEdit->toPlainText();

    if (question.simplified().isEmpty()) {
        logError("The question must be provided.", true);
        return;
    }
    if (!Nivlet::hasPossibleAnswers(answer)) {
        logError("At least one possible answer must be provided.", true);
        return;
    }
    // With no book in the store there is nothing a new nivlet could belong to.
    if (nivletId == -1 && !book) {
        logError("A nivlet must belong to a book.", true);
        return;
    }
    // The store has reported a failure; the editor stays open with the user's
    // input, so nothing typed is lost and the caller sees no change.
    const bool saved = nivletId == -1 ? core->addNivlet(book, question, answer, active)
                                      : core->editNivlet(nivletId, question, answer, active);
    if (saved)
        accept();
}
