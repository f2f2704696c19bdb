#include "editbookdialog.h"

#include "book.h"
#include "guiutil.h"
#include "log.h"
#include "nivletcore.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLineEdit>
#include <QPushButton>

EditBookDialog::EditBookDialog(QWidget *parent, NivletCore *store, Book *book)
    : QDialog(parent), core(store), edited(book), nameEdit(nullptr), activeCheckBox(nullptr)
{
    setWindowTitle(book ? QStringLiteral("Edit book") : QStringLiteral("New book"));

    auto *grid = new QGridLayout;
    nameEdit = GuiUtil::named(GuiUtil::addLabeledWidget(grid, new QLineEdit, "Name:", 0, 0, 1),
                              "nameEdit");
    // Book names are often several words long.
    nameEdit->setMinimumWidth(240);

    activeCheckBox = GuiUtil::named(new QCheckBox(QStringLiteral("Active")), "activeCheckBox");
    activeCheckBox->setChecked(true);
    grid->addWidget(activeCheckBox, 1, 1, Qt::AlignLeft);

    if (book) {
        nameEdit->setText(book->name);
        activeCheckBox->setChecked(book->active);
    }

    QPushButton *okButton = GuiUtil::named(GuiUtil::button("Ok", 50), "okButton");
    okButton->setDefault(true);
    connect(okButton, &QPushButton::clicked, this, &EditBookDialog::onOk);
    grid->addWidget(okButton, 2, 0, Qt::AlignRight);

    QPushButton *cancelButton = GuiUtil::named(GuiUtil::button("Cancel", 50), "cancelButton");
    connect(cancelButton, &QPushButton::clicked, this, &EditBookDialog::reject);
    grid->addWidget(cancelButton, 2, 1, Qt::AlignLeft);

    setLayout(grid);
}

void EditBookDialog::onOk()
{
    const QString name = nameEdit->text();
    if (name.simplified().isEmpty()) {
        logError("The name of the book must be provided.", true);
        return;
    }
    // Exact and case-sensitive: "history" may stand beside "History".
    const Book *sameName = core->findBookByName(name);
    if (edited) {
        if (sameName && sameName != edited) {
            logError("Could not edit book because another book exists with this name.", true);
            return;
        }
        // The store has reported a failure; the editor stays open with the
        // user's input, so nothing typed is lost and the caller sees no change.
        if (core->editBook(edited, name, activeCheckBox->isChecked()))
            accept();
        return;
    }
    if (sameName) {
        logError("Could not add book because a book already exists with this name.", true);
        return;
    }
    if (core->addBook(name, activeCheckBox->isChecked()))
        accept();
}
