#include "booksdialog.h"

#include "book.h"
#include "bookstablemodel.h"
#include "editbookdialog.h"
#include "guiutil.h"
#include "nivletcore.h"
#include "nivlettableview.h"

#include <QEventLoop>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelection>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QVBoxLayout>

BooksDialog::BooksDialog(QWidget *parent, NivletCore *store)
    : QDialog(parent), core(store), view(nullptr), editButton(nullptr), deleteButton(nullptr)
{
}

void BooksDialog::setupUi()
{
    setWindowTitle(QStringLiteral("Books"));
    // Room for a few rows and for long names on one line; the user may resize.
    resize(440, 320);
    auto *layout = new QVBoxLayout;
    setLayout(layout);

    view = GuiUtil::named(new NivletTableView, "bookTableView");
    view->verticalHeader()->hide();
    auto *model = new BooksTableModel(core, this);
    view->setModel(model);

    connect(core, &NivletCore::booksChanged, model, &BooksTableModel::refresh);
    connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &BooksDialog::booksSelectionChanged);

    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->addColumn(80, 4.0);
    view->addColumn(60, 2.0);
    view->addColumn(50, 1.0);
    layout->addWidget(view, 0);

    auto *buttonRow = new QHBoxLayout;
    QPushButton *newButton =
        GuiUtil::named(GuiUtil::iconButton(":/add.png", "New book", 105), "newButton");
    connect(newButton, &QPushButton::clicked, this, &BooksDialog::newBook);
    buttonRow->addWidget(newButton, 1);
    editButton =
        GuiUtil::named(GuiUtil::iconButton(":/pencil.png", "Edit book", 105), "editButton");
    editButton->setEnabled(false);
    connect(editButton, &QPushButton::clicked, this, &BooksDialog::editBook);
    buttonRow->addWidget(editButton, 1);
    deleteButton = GuiUtil::named(GuiUtil::iconButton(":/bin_closed.png", "Delete book(s)", 105),
                                  "deleteButton");
    deleteButton->setEnabled(false);
    connect(deleteButton, &QPushButton::clicked, this, &BooksDialog::deleteBooks);
    buttonRow->addWidget(deleteButton, 1);
    buttonRow->addStretch(1);
    layout->addLayout(buttonRow);

    view->setCurrentIndex(QModelIndex());
    booksSelectionChanged(QItemSelection(), QItemSelection());
}

int BooksDialog::selectedRow() const
{
    const QModelIndexList rows = view->selectionModel()->selectedRows(0);
    return rows.isEmpty() ? -1 : rows.first().row();
}

Book *BooksDialog::selectedBook() const
{
    const int row = selectedRow();
    return row == -1 ? nullptr : core->book(row);
}

void BooksDialog::booksSelectionChanged(const QItemSelection &selected,
                                        const QItemSelection &deselected)
{
    Q_UNUSED(selected);
    Q_UNUSED(deselected);
    const qsizetype count = view->selectionModel()->selectedRows(0).size();
    editButton->setEnabled(count == 1);
    deleteButton->setEnabled(count >= 1);
}

void BooksDialog::newBook()
{
    EditBookDialog editor(this, core, nullptr);
    if (editor.exec() == QDialog::Accepted)
        booksSelectionChanged(QItemSelection(), QItemSelection());
}

void BooksDialog::editBook()
{
    Book *book = selectedBook();
    if (!book)
        return;
    EditBookDialog editor(this, core, book);
    if (editor.exec() == QDialog::Accepted)
        booksSelectionChanged(QItemSelection(), QItemSelection());
}

void BooksDialog::deleteBooks()
{
    const QModelIndexList rows = view->selectionModel()->selectedRows(0);
    if (rows.isEmpty())
        return;

    // The rows change under the first deletion, so the books are taken first.
    QList<Book *> books;
    for (const QModelIndex &row : rows)
        books.append(core->book(row.row()));

    QMessageBox box;
    box.setWindowTitle(QStringLiteral("Delete book(s)"));
    // A book name is the user's text, never markup.
    box.setTextFormat(Qt::PlainText);
    if (rows.size() == 1) {
        box.setText(
            QStringLiteral("Are you sure you want to delete book '%1?'").arg(books.first()->name));
    } else {
        box.setText(QStringLiteral("Are you sure you want to delete the selected books?"));
    }
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::Yes);
    if (box.exec() != QMessageBox::Yes)
        return;

    // A Yes given by mistake can be undone from this copy; a copy that
    // cannot be made is reported and the deletion asked for goes on.
    if (core->backupBeforeDeletion())
        waitForBackup();
    core->deleteBooks(books);
    booksSelectionChanged(QItemSelection(), QItemSelection());
}

void BooksDialog::waitForBackup()
{
    QProgressDialog progress(QStringLiteral("Backing up the database before the deletion..."),
                             QString(), 0, 100, this);
    progress.setWindowTitle(QStringLiteral("Delete book(s)"));
    progress.setMinimumDuration(backupProgressDelay);
    progress.setValue(0);
    connect(core, &NivletCore::backupProgress, &progress, [&progress](int copied, int total) {
        if (total > 0)
            progress.setValue(static_cast<int>(qint64(copied) * 100 / total));
    });
    // The window keeps painting while it waits, but takes no input: the
    // deletion asked for comes next, whatever is clicked meanwhile.
    QEventLoop wait;
    connect(core, &NivletCore::backupFinished, &wait, &QEventLoop::quit);
    wait.exec(QEventLoop::ExcludeUserInputEvents);
}
