#include "backups.h"
#include "book.h"
#include "booksdialog.h"
#include "bookstablemodel.h"
#include "editbookdialog.h"
#include "errorboxpresenter.h"
#include "log.h"
#include "nivletcore.h"
#include "nivlettableview.h"
#include "testsupport.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>
#include <memory>

using TestSupport::child;
using TestSupport::rows;
using TestSupport::whenModal;
using TestSupport::WorkDir;

namespace {

// Three books, one switched off; Latin holds three nivlets, Greek two.
const char sampleSql[] = R"(
INSERT INTO book (id, name, active) VALUES (1, 'Latin', 1), (2, 'Greek', 1), (3, 'Old', 0);
INSERT INTO nivlet (id, active, kn_rate, book_id, question, answer) VALUES
    (1, 1, 0.5, 1, 'amo', 'I love'),
    (2, 1, 0.25, 1, 'amas', 'you love'),
    (3, 0, 0.1, 1, 'amat', 'he loves'),
    (4, 1, 0.75, 2, 'logos', 'word'),
    (5, 1, 0.05, 2, 'theos', 'god');
)";

QStringList storedBooks()
{
    return rows(QStringLiteral("SELECT name, active FROM book ORDER BY id"));
}

// What the table shows, row by row, as "name|count|active".
QStringList shown(const QAbstractItemModel *model)
{
    QStringList result;
    for (int r = 0; r < model->rowCount(); ++r) {
        QStringList fields;
        for (int c = 0; c < model->columnCount(); ++c)
            fields << model->index(r, c).data().toString();
        result << fields.join(QLatin1Char('|'));
    }
    return result;
}

// Every message box that comes up, with what it showed; each is answered
// with the next button of `answers`, or closed with Ok when none is left.
class Boxes : public QObject
{
public:
    struct Seen
    {
        QString title;
        QString text;
        Qt::TextFormat format;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton defaultButton;
        bool hasParent;
    };

    Boxes()
    {
        timer.setInterval(10);
        connect(&timer, &QTimer::timeout, this, &Boxes::poll);
        timer.start();
    }

    QList<QMessageBox::StandardButton> answers;
    QList<Seen> seen;

    QStringList texts() const
    {
        QStringList result;
        for (const Seen &s : seen)
            result << s.title + QStringLiteral(": ") + s.text;
        return result;
    }

private:
    void poll()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible() || box == answered)
            return;
        answered = box;
        QPushButton *def = box->defaultButton();
        seen.append({box->windowTitle(), box->text(), box->textFormat(), box->icon(),
                     box->standardButtons(), def ? box->standardButton(def) : QMessageBox::NoButton,
                     box->parentWidget() != nullptr});
        const QMessageBox::StandardButton answer =
            answers.isEmpty() ? QMessageBox::Ok : answers.takeFirst();
        if (QAbstractButton *button = box->button(answer))
            button->click();
        else
            box->done(answer);
    }

    QTimer timer;
    QPointer<QMessageBox> answered;
};

// Makes indexes past the rows a view would ask for, as a stale view might.
class ProbedModel : public BooksTableModel
{
public:
    using BooksTableModel::BooksTableModel;
    using QAbstractItemModel::createIndex;
};

// Every progress window that comes up while it lives, as "title: label",
// and what the file held then.
class ProgressWatcher : public QObject
{
public:
    ProgressWatcher()
    {
        timer.setInterval(5);
        connect(&timer, &QTimer::timeout, this, &ProgressWatcher::poll);
        timer.start();
    }

    QStringList seen;
    QStringList booksWhenSeen;

private:
    void poll()
    {
        const QWidgetList windows = QApplication::topLevelWidgets();
        for (QWidget *window : windows) {
            auto *progress = qobject_cast<QProgressDialog *>(window);
            if (!progress || !progress->isVisible() || progress == last)
                continue;
            last = progress;
            seen << progress->windowTitle() + QStringLiteral(": ") + progress->labelText();
            booksWhenSeen = storedBooks();
        }
    }

    QTimer timer;
    QPointer<QProgressDialog> last;
};

// Latin's three nivlets with answers over many pages, so that a backup in
// small steps takes a while.
QString manyPages()
{
    return QString::fromLatin1(sampleSql) +
           QStringLiteral("UPDATE nivlet SET answer = answer || printf('%.50000c', '.') "
                          "WHERE book_id = 1;");
}

const QStringList allBooks{QStringLiteral("Latin|1"), QStringLiteral("Greek|1"),
                           QStringLiteral("Old|0")};
const QString backupProgressShown =
    QStringLiteral("Delete book(s): Backing up the database before the deletion...");

// One page a turn, a turn every 10 ms: over a second for the file above.
constexpr BackupPace slowPace{1, 0, 10};

QStringList booksOfBackup(const QString &name)
{
    QFile::remove(QStringLiteral("probe"));
    if (!QFile::copy(QDir(QStringLiteral("backups")).filePath(name), QStringLiteral("probe")))
        return {QStringLiteral("no copy")};
    const QString previous = QDir::currentPath();
    QDir dir(QStringLiteral("probe-dir"));
    dir.mkpath(QStringLiteral("."));
    QFile::remove(dir.filePath(QStringLiteral("nivlets")));
    QFile::rename(QStringLiteral("probe"), dir.filePath(QStringLiteral("nivlets")));
    QDir::setCurrent(dir.path());
    const QStringList result = storedBooks();
    QDir::setCurrent(previous);
    return result;
}

void typeName(EditBookDialog *editor, const QString &name)
{
    child<QLineEdit>(editor, "nameEdit")->selectAll();
    child<QLineEdit>(editor, "nameEdit")->del();
    QTest::keyClicks(child<QLineEdit>(editor, "nameEdit"), name);
}

} // namespace

class TestBooks : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void modelColumnsAndHeaders();
    void modelFollowsTheStore();
    void modelAfterReopenWithoutBooks();

    void buildsTheDialog();
    void noBooks();
    void buttonsFollowTheSelection();

    void editorForANewBook();
    void editorForABook();
    void blankNameRefused_data();
    void blankNameRefused();
    void newBookWithExistingName();
    void newBookWithNameInOtherCase();
    void nameKeptAsTyped();
    void editKeepingItsName();
    void renameOntoAnotherBook();
    void renameAndSwitchOff();
    void cancelChangesNothing();
    void failingSaveKeepsTheEditorOpen();

    void deleteOneAsksWithItsName();
    void deleteNameShownLiterally();
    void deleteSeveralAsksInPlural();
    void noDeletesNothing();
    void deleteSeveralStopsAtFirstFailure();
    void backupBeforeAConfirmedDeletion();
    void deletionWaitsForItsBackup();
    void deletionWaitsForTheStartupBackup();
    void backupFailureStopsNoDeletion();
    void tableFollowsEveryChange();

private:
    bool openStore(const QString &extraSql = QString::fromUtf8(sampleSql));
    std::unique_ptr<BooksDialog> makeDialog();
    void select(BooksDialog &dialog, const QList<int> &selectedRows);

    std::unique_ptr<WorkDir> work;
    std::unique_ptr<Boxes> boxes;
    std::unique_ptr<NivletCore> core;
};

void TestBooks::init()
{
    work = std::make_unique<WorkDir>();
    QVERIFY(work->isValid());
    openLog();
    installErrorBoxPresenter();
    boxes = std::make_unique<Boxes>();
}

void TestBooks::cleanup()
{
    while (QWidget *modal = QApplication::activeModalWidget()) {
        modal->close();
        QTest::qWait(10);
    }
    core.reset();
    boxes.reset();
    closeLog();
    work.reset();
}

bool TestBooks::openStore(const QString &extraSql)
{
    core = TestSupport::openStore(extraSql);
    return core != nullptr;
}

std::unique_ptr<BooksDialog> TestBooks::makeDialog()
{
    auto dialog = std::make_unique<BooksDialog>(nullptr, core.get());
    dialog->setupUi();
    dialog->resize(400, 300);
    dialog->show();
    if (!QTest::qWaitForWindowExposed(dialog.get()))
        return nullptr;
    return dialog;
}

void TestBooks::select(BooksDialog &dialog, const QList<int> &selectedRows)
{
    QItemSelectionModel *selection =
        child<NivletTableView>(&dialog, "bookTableView")->selectionModel();
    selection->clearSelection();
    for (int row : selectedRows) {
        selection->select(child<NivletTableView>(&dialog, "bookTableView")->model()->index(row, 0),
                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
}

void TestBooks::modelColumnsAndHeaders()
{
    QVERIFY(openStore());
    ProbedModel model(core.get(), nullptr);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(model.columnCount(), 3);
    QCOMPARE(shown(&model),
             (QStringList{QStringLiteral("Latin|3|yes"), QStringLiteral("Greek|2|yes"),
                          QStringLiteral("Old|0|no")}));
    QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("Book"));
    QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("Nivlets"));
    QCOMPARE(model.headerData(2, Qt::Horizontal).toString(), QStringLiteral("Active"));
    QVERIFY(!model.headerData(3, Qt::Horizontal).isValid());
    QVERIFY(!model.headerData(0, Qt::Horizontal, Qt::ToolTipRole).isValid());
    QCOMPARE(model.headerData(1, Qt::Vertical).toInt(), 2);
    QVERIFY(!model.index(0, 0).data(Qt::ToolTipRole).isValid());
    QVERIFY(!model.index(0, 0).data(Qt::EditRole).isValid());
    QVERIFY(!model.data(model.index(3, 0)).isValid());
    QVERIFY(!model.data(QModelIndex()).isValid());
    QVERIFY(!model.data(model.createIndex(5, 0)).isValid());
    QVERIFY(!model.data(model.createIndex(0, 3)).isValid());
    QCOMPARE(model.rowCount(model.index(0, 0)), 0);
}

void TestBooks::modelFollowsTheStore()
{
    QVERIFY(openStore());
    BooksTableModel model(core.get(), nullptr);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    connect(core.get(), &NivletCore::booksChanged, &model, &BooksTableModel::refresh);
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);

    Book *added = core->addBook(QStringLiteral("Hebrew"), false);
    QVERIFY(added);
    QCOMPARE(resets.count(), 1);
    QCOMPARE(shown(&model),
             (QStringList{QStringLiteral("Latin|3|yes"), QStringLiteral("Greek|2|yes"),
                          QStringLiteral("Old|0|no"), QStringLiteral("Hebrew|0|no")}));

    QVERIFY(core->editBook(core->findBook(2), QStringLiteral("Ancient Greek"), false));
    QCOMPARE(resets.count(), 2);
    QCOMPARE(model.index(1, 0).data().toString(), QStringLiteral("Ancient Greek"));
    QCOMPARE(model.index(1, 2).data().toString(), QStringLiteral("no"));

    QVERIFY(core->deleteBooks({core->findBook(1), added}));
    QCOMPARE(resets.count(), 4);
    QCOMPARE(shown(&model),
             (QStringList{QStringLiteral("Ancient Greek|2|no"), QStringLiteral("Old|0|no")}));

    QVERIFY(core->deleteBooks({core->book(0), core->book(1)}));
    QCOMPARE(model.rowCount(), 0);
    QVERIFY(!model.index(0, 0).isValid());
}

void TestBooks::modelAfterReopenWithoutBooks()
{
    QVERIFY(openStore(QString()));
    BooksTableModel model(core.get(), nullptr);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.columnCount(), 3);
    QCOMPARE(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("Book"));
    model.refresh();
    QCOMPARE(model.rowCount(), 0);
}

void TestBooks::buildsTheDialog()
{
    QVERIFY(openStore());
    QWidget parent;
    BooksDialog dialog(&parent, core.get());
    QCOMPARE(dialog.parentWidget(), &parent);
    QVERIFY(!dialog.layout());
    dialog.setupUi();
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Books"));

    auto *layout = qobject_cast<QVBoxLayout *>(dialog.layout());
    QVERIFY(layout);
    QCOMPARE(layout->count(), 2);
    auto *view = child<NivletTableView>(&dialog, "bookTableView");
    QCOMPARE(layout->itemAt(0)->widget(), view);
    QCOMPARE(layout->stretch(0), 0);
    QVERIFY(!view->verticalHeader()->isVisibleTo(&dialog));
    auto *model = qobject_cast<BooksTableModel *>(view->model());
    QVERIFY(model);
    QCOMPARE(model->parent(), &dialog);
    QCOMPARE(view->selectionMode(), QAbstractItemView::ExtendedSelection);
    QCOMPARE(view->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(view->columnSpecs().size(), 3);
    QCOMPARE(view->columnSpecs().at(0).minWidth, 80);
    QCOMPARE(view->columnSpecs().at(0).weight, 4.0);
    QCOMPARE(view->columnSpecs().at(1).minWidth, 60);
    QCOMPARE(view->columnSpecs().at(1).weight, 2.0);
    QCOMPARE(view->columnSpecs().at(2).minWidth, 50);
    QCOMPARE(view->columnSpecs().at(2).weight, 1.0);
    QVERIFY(!view->currentIndex().isValid());

    auto *buttons = qobject_cast<QHBoxLayout *>(layout->itemAt(1)->layout());
    QVERIFY(buttons);
    QCOMPARE(buttons->count(), 4);
    const QList<QPushButton *> expected{child<QPushButton>(&dialog, "newButton"),
                                        child<QPushButton>(&dialog, "editButton"),
                                        child<QPushButton>(&dialog, "deleteButton")};
    const QStringList texts{QStringLiteral("New book"), QStringLiteral("Edit book"),
                            QStringLiteral("Delete book(s)")};
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(buttons->itemAt(i)->widget(), expected.at(i));
        QCOMPARE(buttons->stretch(i), 1);
        QCOMPARE(expected.at(i)->text(), texts.at(i));
        QVERIFY(!expected.at(i)->icon().isNull());
        // 105 pixels, or what the text needs with a larger desktop font.
        const int width = std::max(105, expected.at(i)->sizeHint().width());
        QCOMPARE(expected.at(i)->minimumWidth(), width);
        QCOMPARE(expected.at(i)->maximumWidth(), width);
    }
    QVERIFY(buttons->itemAt(3)->spacerItem());
    QCOMPARE(buttons->stretch(3), 1);
}

void TestBooks::noBooks()
{
    QVERIFY(openStore(QString()));
    auto dialog = makeDialog();
    QVERIFY(dialog);
    QCOMPARE(child<NivletTableView>(dialog.get(), "bookTableView")->model()->rowCount(), 0);
    QVERIFY(child<QPushButton>(dialog.get(), "newButton")->isEnabled());
    QVERIFY(!child<QPushButton>(dialog.get(), "editButton")->isEnabled());
    QVERIFY(!child<QPushButton>(dialog.get(), "deleteButton")->isEnabled());
    QCOMPARE(dialog->selectedRow(), -1);
    QVERIFY(!dialog->selectedBook());
    // Nothing to delete: no question is asked.
    dialog->deleteBooks();
    dialog->editBook();
    QVERIFY(boxes->seen.isEmpty());
}

void TestBooks::buttonsFollowTheSelection()
{
    QVERIFY(openStore());
    auto dialog = makeDialog();
    QVERIFY(dialog);
    auto *editButton = child<QPushButton>(dialog.get(), "editButton");
    auto *deleteButton = child<QPushButton>(dialog.get(), "deleteButton");
    auto *view = child<NivletTableView>(dialog.get(), "bookTableView");
    QVERIFY(child<QPushButton>(dialog.get(), "newButton")->isEnabled());
    QVERIFY(!editButton->isEnabled());
    QVERIFY(!deleteButton->isEnabled());

    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier,
                      view->visualRect(view->model()->index(1, 0)).center());
    QVERIFY(editButton->isEnabled());
    QVERIFY(deleteButton->isEnabled());
    QCOMPARE(dialog->selectedRow(), 1);
    QCOMPARE(dialog->selectedBook(), core->findBook(2));

    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      view->visualRect(view->model()->index(2, 1)).center());
    QVERIFY(!editButton->isEnabled());
    QVERIFY(deleteButton->isEnabled());

    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ShiftModifier,
                      view->visualRect(view->model()->index(0, 2)).center());
    QCOMPARE(view->selectionModel()->selectedRows().size(), 3);
    QVERIFY(!editButton->isEnabled());
    QVERIFY(deleteButton->isEnabled());

    view->clearSelection();
    QVERIFY(!editButton->isEnabled());
    QVERIFY(!deleteButton->isEnabled());
    QCOMPARE(dialog->selectedRow(), -1);
    QVERIFY(!dialog->selectedBook());
}

void TestBooks::editorForANewBook()
{
    QVERIFY(openStore());
    QWidget parent;
    EditBookDialog editor(&parent, core.get(), nullptr);
    QCOMPARE(editor.parentWidget(), &parent);
    QCOMPARE(editor.windowTitle(), QStringLiteral("New book"));
    QVERIFY(!editor.book());
    QVERIFY(child<QLineEdit>(&editor, "nameEdit")->text().isEmpty());
    QVERIFY(child<QCheckBox>(&editor, "activeCheckBox")->isChecked());
    QCOMPARE(child<QCheckBox>(&editor, "activeCheckBox")->text(), QStringLiteral("Active"));

    auto *grid = qobject_cast<QGridLayout *>(editor.layout());
    QVERIFY(grid);
    auto *caption = qobject_cast<QLabel *>(grid->itemAtPosition(0, 0)->widget());
    QVERIFY(caption);
    QCOMPARE(caption->text(), QStringLiteral("Name:"));
    QCOMPARE(grid->itemAtPosition(0, 0)->alignment(), Qt::AlignRight);
    QCOMPARE(grid->itemAtPosition(0, 1)->widget(), child<QLineEdit>(&editor, "nameEdit"));
    QCOMPARE(grid->itemAtPosition(1, 1)->widget(), child<QCheckBox>(&editor, "activeCheckBox"));
    QCOMPARE(grid->itemAtPosition(1, 1)->alignment(), Qt::AlignLeft);
    QCOMPARE(grid->itemAtPosition(2, 0)->widget(), child<QPushButton>(&editor, "okButton"));
    QCOMPARE(grid->itemAtPosition(2, 0)->alignment(), Qt::AlignRight);
    QCOMPARE(grid->itemAtPosition(2, 1)->widget(), child<QPushButton>(&editor, "cancelButton"));
    QCOMPARE(grid->itemAtPosition(2, 1)->alignment(), Qt::AlignLeft);
    QCOMPARE(child<QPushButton>(&editor, "okButton")->text(), QStringLiteral("Ok"));
    QCOMPARE(child<QPushButton>(&editor, "cancelButton")->text(), QStringLiteral("Cancel"));
    QVERIFY(child<QPushButton>(&editor, "okButton")->isDefault());
    for (QPushButton *button :
         {child<QPushButton>(&editor, "okButton"), child<QPushButton>(&editor, "cancelButton")}) {
        QCOMPARE(button->minimumWidth(), 50);
        QCOMPARE(button->maximumWidth(), 50);
    }
}

void TestBooks::editorForABook()
{
    QVERIFY(openStore());
    Book *old = core->findBook(3);
    EditBookDialog editor(nullptr, core.get(), old);
    QCOMPARE(editor.windowTitle(), QStringLiteral("Edit book"));
    QCOMPARE(editor.book(), old);
    QCOMPARE(child<QLineEdit>(&editor, "nameEdit")->text(), QStringLiteral("Old"));
    QVERIFY(!child<QCheckBox>(&editor, "activeCheckBox")->isChecked());
}

void TestBooks::blankNameRefused_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("editing");
    QTest::newRow("nothing, new") << "" << false;
    QTest::newRow("blanks, new") << "   " << false;
    QTest::newRow("tab and line feed, new") << "\t \n" << false;
    QTest::newRow("blanks, edit") << "  " << true;
}

void TestBooks::blankNameRefused()
{
    QFETCH(QString, name);
    QFETCH(bool, editing);
    QVERIFY(openStore());
    auto dialog = makeDialog();
    QVERIFY(dialog);
    if (editing)
        select(*dialog, {0});
    bool stayedOpen = false;
    whenModal<EditBookDialog>([&](EditBookDialog *editor) {
        child<QLineEdit>(editor, "nameEdit")->setText(name);
        QTest::mouseClick(child<QPushButton>(editor, "okButton"), Qt::LeftButton);
        QTRY_COMPARE(boxes->seen.size(), 1);
        stayedOpen = editor->isVisible() && child<QLineEdit>(editor, "nameEdit")->text() == name;
        editor->reject();
    });
    if (editing)
        QTest::mouseClick(child<QPushButton>(dialog.get(), "editButton"), Qt::LeftButton);
    else
        QTest::mouseClick(child<QPushButton>(dialog.get(), "newButton"), Qt::LeftButton);
    QVERIFY(stayedOpen);
    QCOMPARE(boxes->texts(),
             QStringList{QStringLiteral("Error: The name of the book must be provided.")});
    QCOMPARE(storedBooks(), (QStringList{QStringLiteral("Latin|1"), QStringLiteral("Greek|1"),
                                         QStringLiteral("Old|0")}));
    QVERIFY(TestSupport::readFile(work->file(QStringLiteral("nivlets.log")))
                .contains(QStringLiteral("Error: The name of the book must be provided.")));
}

void TestBooks::newBookWithExistingName()
{
    QVERIFY(openStore());
    auto dialog = makeDialog();
    QVERIFY(dialog);
    QSignalSpy changed(core.get(), &NivletCore::booksChanged);
    bool stayedOpen = false;
    whenModal<EditBookDialog>([&](EditBookDialog *editor) {
        typeName(editor, QStringLiteral("Greek"));
        QTest::keyClick(child<QLineEdit>(editor, "nameEdit"), Qt::Key_Return);
        QTRY_COMPARE(boxes->seen.size(), 1);
        stayedOpen = editor->isVisible();
        editor->reject();
    });
    dialog->newBook();
    QVERIFY(stayedOpen);
    QCOMPARE(boxes->texts(),
             QStringList{QStringLiteral(
                 "Error: Could not add book because a book already exists with this name.")});
    QCOMPARE(changed.count(), 0);
    QCOMPARE(core->bookCount(), 3);
    QCOMPARE(storedBooks(), (QStringList{QStringLiteral("Latin|1"), QStringLiteral("Greek|1"),
                                         QStringLiteral("Old|0")}));
}

void TestBooks::newBookWithNameInOtherCase()
{
    QVERIFY(openStore());
    auto dialog = makeDialog();
    QVERIFY(dialog);
    auto *view = child<NivletTableView>(dialog.get(), "bookTableView");
    select(*dialog, {1});
    int result = -2;
    whenModal<EditBookDialog>([&](EditBookDialog *editor) {
        typeName(editor, QStringLiteral("greek"));
        QTest::mouseClick(child<QCheckBox>(editor, "activeCheckBox"), Qt::LeftButton);
        QTest::mouseClick(child<QPushButton>(editor, "okButton"), Qt::LeftButton);
        result = editor->result();
    });
    QTest::mouseClick(child<QPushButton>(dialog.get(), "newButton"), Qt::LeftButton);
    QCOMPARE(result, int(QDialog::Accepted));
    QVERIFY(boxes->seen.isEmpty());
    QCOMPARE(storedBooks(), (QStringList{QStringLiteral("Latin|1"), QStringLiteral("Greek|1"),
                                         QStringLiteral("Old|0"), QStringLiteral("greek|0")}));
    QCOMPARE(shown(view->model()),
             (QStringList{QStringLiteral("Latin|3|yes"), QStringLiteral("Greek|2|yes"),
                          QStringLiteral("Old|0|no"), QStringLiteral("greek|0|no")}));
    // The new row does not inherit a selection; the buttons say so.
    QCOMPARE(view->selectionModel()->selectedRows().size(), 0);
    QVERIFY(!child<QPushButton>(dialog.get(), "editButton")->isEnabled());
    QVERIFY(!child<QPushButton>(dialog.get(), "deleteButton")->isEnabled());
}

void TestBooks::nameKeptAsTyped()
{
    QVERIFY(openStore());
    EditBookDialog editor(nullptr, core.get(), nullptr);
    child<QLineEdit>(&editor, "nameEdit")->setText(QStringLiteral(" Latin "));
    editor.onOk();
    QCOMPARE(editor.result(), int(QDialog::Accepted));
    QVERIFY(boxes->seen.isEmpty());
    QCOMPARE(storedBooks(), (QStringList{QStringLiteral("Latin|1"), QStringLiteral("Greek|1"),
                                         QStringLiteral("Old|0"), QStringLiteral(" Latin |1")}));
    QCOMPARE(core->book(3)->name, QStringLiteral(" Latin "));
}

void TestBooks::editKeepingItsName()
{
    QVERIFY(openStore());
    auto dialog = makeDialog();
    QVERIFY(dialog);
    auto *editButton = child<QPushButton>(dialog.get(), "editButton");
    select(*dialog, {2});
    QSignalSpy changed(core.get(), &NivletCore::booksChanged);
    int result = -2;
    whenModal<EditBookDialog>([&](EditBookDialog *editor) {
        QCOMPARE(editor->book(), core->findBook(3));
        QTest::mouseClick(child<QPushButton>(editor, "okButton"), Qt::LeftButton);
        result = editor->result();
    });
    QTest::mouseClick(editButton, Qt::LeftButton);
    QCOMPARE(result, int(QDialog::Accepted));
    QVERIFY(boxes->seen.isEmpty());
    QCOMPARE(changed.count(), 1);
    QCOMPARE(storedBooks(), (QStringList{QStringLiteral("Latin|1"), QStringLiteral("Greek|1"),
                                         QStringLiteral("Old|0")}));
    QVERIFY(!editButton->isEnabled());
}

void TestBooks::renameOntoAnotherBook()
{
    QVERIFY(openStore());
    auto dialog = makeDialog();
    QVERIFY(dialog);
    select(*dialog, {0});
    bool stayedOpen = false;
    whenModal<EditBookDialog>([&](EditBookDialog *editor) {
        typeName(editor, QStringLiteral("Old"));
        QTest::mouseClick(child<QPushButton>(editor, "okButton"), Qt::LeftButton);
        QTRY_COMPARE(boxes->seen.size(), 1);
        stayedOpen = editor->isVisible();
        QTest::keyClick(editor, Qt::Key_Escape);
    });
    dialog->editBook();
    QVERIFY(stayedOpen);
    QCOMPARE(boxes->texts(),
             QStringList{QStringLiteral(
                 "Error: Could not edit book because another book exists with this name.")});
    QCOMPARE(storedBooks(), (QStringList{QStringLiteral("Latin|1"), QStringLiteral("Greek|1"),
                                         QStringLiteral("Old|0")}));
    QCOMPARE(core->findBook(1)->name, QStringLiteral("Latin"));
    // The selection stays, and so do the buttons.
    QVERIFY(child<QPushButton>(dialog.get(), "editButton")->isEnabled());
}

void TestBooks::renameAndSwitchOff()
{
    QVERIFY(openStore());
    auto dialog = makeDialog();
    QVERIFY(dialog);
    auto *view = child<NivletTableView>(dialog.get(), "bookTableView");
    select(*dialog, {1});
    QVERIFY(core->reloadActiveNivlets());
    whenModal<EditBookDialog>([&](EditBookDialog *editor) {
        typeName(editor, QStringLiteral("Ancient Greek"));
        QTest::mouseClick(child<QCheckBox>(editor, "activeCheckBox"), Qt::LeftButton);
        QTest::mouseClick(child<QPushButton>(editor, "okButton"), Qt::LeftButton);
    });
    dialog->editBook();
    QVERIFY(boxes->seen.isEmpty());
    QCOMPARE(storedBooks(),
             (QStringList{QStringLiteral("Latin|1"), QStringLiteral("Ancient Greek|0"),
                          QStringLiteral("Old|0")}));
    QCOMPARE(view->model()->index(1, 0).data().toString(), QStringLiteral("Ancient Greek"));
    QCOMPARE(view->model()->index(1, 2).data().toString(), QStringLiteral("no"));
    QVERIFY(core->activeListStale());
}

void TestBooks::cancelChangesNothing()
{
    QVERIFY(openStore());
    auto dialog = makeDialog();
    QVERIFY(dialog);
    select(*dialog, {0});
    QSignalSpy changed(core.get(), &NivletCore::booksChanged);
    int result = -2;
    whenModal<EditBookDialog>([&](EditBookDialog *editor) {
        typeName(editor, QStringLiteral("Roman"));
        QTest::mouseClick(child<QCheckBox>(editor, "activeCheckBox"), Qt::LeftButton);
        QTest::mouseClick(child<QPushButton>(editor, "cancelButton"), Qt::LeftButton);
        result = editor->result();
    });
    dialog->editBook();
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(changed.count(), 0);
    QCOMPARE(storedBooks(), (QStringList{QStringLiteral("Latin|1"), QStringLiteral("Greek|1"),
                                         QStringLiteral("Old|0")}));
    QCOMPARE(core->findBook(1)->name, QStringLiteral("Latin"));
    QVERIFY(core->findBook(1)->active);
}

void TestBooks::failingSaveKeepsTheEditorOpen()
{
    QVERIFY(openStore(QString::fromUtf8(sampleSql) + QStringLiteral(R"(
        CREATE TRIGGER no_new_books BEFORE INSERT ON book BEGIN SELECT RAISE(ABORT, 'full'); END;
        CREATE TRIGGER no_renames BEFORE UPDATE ON book BEGIN SELECT RAISE(ABORT, 'fixed'); END;
    )")));
    auto dialog = makeDialog();
    QVERIFY(dialog);
    bool stayedOpen = false;
    whenModal<EditBookDialog>([&](EditBookDialog *editor) {
        typeName(editor, QStringLiteral("Hebrew"));
        QTest::mouseClick(child<QPushButton>(editor, "okButton"), Qt::LeftButton);
        QTRY_COMPARE(boxes->seen.size(), 1);
        stayedOpen = editor->isVisible() &&
                     child<QLineEdit>(editor, "nameEdit")->text() == QStringLiteral("Hebrew");
        editor->reject();
    });
    dialog->newBook();
    QVERIFY(stayedOpen);

    select(*dialog, {0});
    stayedOpen = false;
    whenModal<EditBookDialog>([&](EditBookDialog *editor) {
        typeName(editor, QStringLiteral("Roman"));
        QTest::mouseClick(child<QPushButton>(editor, "okButton"), Qt::LeftButton);
        QTRY_COMPARE(boxes->seen.size(), 2);
        stayedOpen = editor->isVisible() &&
                     child<QLineEdit>(editor, "nameEdit")->text() == QStringLiteral("Roman");
        editor->reject();
    });
    dialog->editBook();
    QVERIFY(stayedOpen);

    QCOMPARE(
        boxes->texts(),
        (QStringList{
            QStringLiteral("Error: Could not add book. error code: 19 error message: full"),
            QStringLiteral("Error: Could not edit book. error code: 19 error message: fixed")}));
    QCOMPARE(storedBooks(), (QStringList{QStringLiteral("Latin|1"), QStringLiteral("Greek|1"),
                                         QStringLiteral("Old|0")}));
    QCOMPARE(shown(child<NivletTableView>(dialog.get(), "bookTableView")->model()),
             (QStringList{QStringLiteral("Latin|3|yes"), QStringLiteral("Greek|2|yes"),
                          QStringLiteral("Old|0|no")}));
}

void TestBooks::deleteOneAsksWithItsName()
{
    QVERIFY(openStore());
    auto dialog = makeDialog();
    QVERIFY(dialog);
    auto *deleteButton = child<QPushButton>(dialog.get(), "deleteButton");
    select(*dialog, {0});
    boxes->answers = {QMessageBox::Yes};
    QTest::mouseClick(deleteButton, Qt::LeftButton);
    QCOMPARE(boxes->seen.size(), 1);
    const Boxes::Seen &question = boxes->seen.first();
    QCOMPARE(question.title, QStringLiteral("Delete book(s)"));
    QCOMPARE(question.text, QStringLiteral("Are you sure you want to delete book 'Latin?'"));
    QCOMPARE(question.format, Qt::PlainText);
    QCOMPARE(question.icon, QMessageBox::NoIcon);
    QCOMPARE(question.buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(question.defaultButton, QMessageBox::Yes);
    QVERIFY(!question.hasParent);

    QCOMPARE(storedBooks(), (QStringList{QStringLiteral("Greek|1"), QStringLiteral("Old|0")}));
    QCOMPARE(rows(QStringLiteral("SELECT id FROM nivlet ORDER BY id")),
             (QStringList{QStringLiteral("4"), QStringLiteral("5")}));
    QCOMPARE(shown(child<NivletTableView>(dialog.get(), "bookTableView")->model()),
             (QStringList{QStringLiteral("Greek|2|yes"), QStringLiteral("Old|0|no")}));
    QVERIFY(!child<QPushButton>(dialog.get(), "editButton")->isEnabled());
    QVERIFY(!deleteButton->isEnabled());
    QVERIFY(core->activeListStale());
}

void TestBooks::deleteNameShownLiterally()
{
    QVERIFY(openStore(QString::fromUtf8(sampleSql) + QStringLiteral(R"(
        INSERT INTO book (id, name, active) VALUES (4, '<b>x</b> <img src="nothing.png"> &amp;', 1);
    )")));
    auto dialog = makeDialog();
    QVERIFY(dialog);
    QCOMPARE(child<NivletTableView>(dialog.get(), "bookTableView")
                 ->model()
                 ->index(3, 0)
                 .data()
                 .toString(),
             QStringLiteral("<b>x</b> <img src=\"nothing.png\"> &amp;"));
    select(*dialog, {3});
    boxes->answers = {QMessageBox::No};
    QTest::mouseClick(child<QPushButton>(dialog.get(), "deleteButton"), Qt::LeftButton);
    QCOMPARE(boxes->seen.size(), 1);
    QCOMPARE(
        boxes->seen.first().text,
        QStringLiteral(
            "Are you sure you want to delete book '<b>x</b> <img src=\"nothing.png\"> &amp;?'"));
    QCOMPARE(boxes->seen.first().format, Qt::PlainText);
    QCOMPARE(core->bookCount(), 4);
}

void TestBooks::deleteSeveralAsksInPlural()
{
    QVERIFY(openStore());
    auto dialog = makeDialog();
    QVERIFY(dialog);
    select(*dialog, {2, 0});
    boxes->answers = {QMessageBox::Yes};
    QSignalSpy changed(core.get(), &NivletCore::booksChanged);
    dialog->deleteBooks();
    QCOMPARE(boxes->texts(),
             QStringList{QStringLiteral(
                 "Delete book(s): Are you sure you want to delete the selected books?")});
    QCOMPARE(boxes->seen.first().defaultButton, QMessageBox::Yes);
    QCOMPARE(changed.count(), 2);
    QCOMPARE(storedBooks(), QStringList{QStringLiteral("Greek|1")});
    QCOMPARE(shown(child<NivletTableView>(dialog.get(), "bookTableView")->model()),
             QStringList{QStringLiteral("Greek|2|yes")});
    QVERIFY(!child<QPushButton>(dialog.get(), "deleteButton")->isEnabled());
}

void TestBooks::noDeletesNothing()
{
    QVERIFY(openStore());
    auto dialog = makeDialog();
    QVERIFY(dialog);
    QSignalSpy changed(core.get(), &NivletCore::booksChanged);
    for (const QList<int> &selection : {QList<int>{1}, QList<int>{0, 1, 2}}) {
        select(*dialog, selection);
        boxes->answers = {QMessageBox::No};
        dialog->deleteBooks();
        QCOMPARE(child<NivletTableView>(dialog.get(), "bookTableView")
                     ->selectionModel()
                     ->selectedRows()
                     .size(),
                 selection.size());
        QVERIFY(child<QPushButton>(dialog.get(), "deleteButton")->isEnabled());
    }
    QCOMPARE(boxes->seen.size(), 2);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(storedBooks(), (QStringList{QStringLiteral("Latin|1"), QStringLiteral("Greek|1"),
                                         QStringLiteral("Old|0")}));
    QCOMPARE(rows(QStringLiteral("SELECT COUNT(*) FROM nivlet")), QStringList{QStringLiteral("5")});
    QCOMPARE(core->bookCount(), 3);
}

void TestBooks::deleteSeveralStopsAtFirstFailure()
{
    QVERIFY(openStore(QString::fromUtf8(sampleSql) + QStringLiteral(R"(
        CREATE TRIGGER keep_greek BEFORE DELETE ON nivlet WHEN old.book_id = 2
        BEGIN SELECT RAISE(ABORT, 'keep'); END;
    )")));
    auto dialog = makeDialog();
    QVERIFY(dialog);
    auto *deleteButton = child<QPushButton>(dialog.get(), "deleteButton");
    // In the order of the selection: Latin, then Greek (fails), then Old.
    select(*dialog, {0, 1, 2});
    boxes->answers = {QMessageBox::Yes};
    QTest::mouseClick(deleteButton, Qt::LeftButton);
    QCOMPARE(
        boxes->texts(),
        (QStringList{
            QStringLiteral("Delete book(s): Are you sure you want to delete the selected books?"),
            QStringLiteral("Error: Could not delete book. error code: 19 error message: keep")}));
    QCOMPARE(storedBooks(), (QStringList{QStringLiteral("Greek|1"), QStringLiteral("Old|0")}));
    QCOMPARE(rows(QStringLiteral("SELECT id FROM nivlet ORDER BY id")),
             (QStringList{QStringLiteral("4"), QStringLiteral("5")}));
    QCOMPARE(shown(child<NivletTableView>(dialog.get(), "bookTableView")->model()),
             (QStringList{QStringLiteral("Greek|2|yes"), QStringLiteral("Old|0|no")}));
    QVERIFY(!child<QPushButton>(dialog.get(), "editButton")->isEnabled());
    QVERIFY(!deleteButton->isEnabled());
}

void TestBooks::backupBeforeAConfirmedDeletion()
{
    QVERIFY(openStore());
    auto dialog = makeDialog();
    QVERIFY(dialog);
    Backups backups(QStringLiteral("backups"));

    select(*dialog, {1});
    boxes->answers = {QMessageBox::No};
    dialog->deleteBooks();
    QVERIFY(backups.files().isEmpty());

    // One copy for one confirmation, however many books it deletes; made
    // in a moment, it shows no progress.
    select(*dialog, {0, 2});
    boxes->answers = {QMessageBox::Yes};
    ProgressWatcher watcher;
    dialog->deleteBooks();
    QVERIFY(watcher.seen.isEmpty());
    QCOMPARE(storedBooks(), QStringList{QStringLiteral("Greek|1")});
    const QStringList made = backups.files();
    QCOMPARE(made.size(), 1);
    // The copy is the file as it was before the deletion; restored, it
    // gives back the books.
    QVERIFY(QFile::copy(QDir(QStringLiteral("backups")).filePath(made.first()),
                        QStringLiteral("restored")));
    {
        NivletCore restored;
        QVERIFY(QFile::rename(QStringLiteral("nivlets"), QStringLiteral("deleted")));
        QVERIFY(QFile::rename(QStringLiteral("restored"), QStringLiteral("nivlets")));
        QVERIFY(restored.open());
        QCOMPARE(storedBooks(), (QStringList{QStringLiteral("Latin|1"), QStringLiteral("Greek|1"),
                                             QStringLiteral("Old|0")}));
        QCOMPARE(rows(QStringLiteral("SELECT COUNT(*) FROM nivlet")),
                 QStringList{QStringLiteral("5")});
    }
    QCOMPARE(boxes->seen.size(), 2);
}

void TestBooks::deletionWaitsForItsBackup()
{
    QVERIFY(openStore(manyPages()));
    core->setBackupPace(slowPace);
    auto dialog = makeDialog();
    QVERIFY(dialog);
    select(*dialog, {0});
    boxes->answers = {QMessageBox::Yes};
    ProgressWatcher watcher;
    QElapsedTimer waited;
    waited.start();
    dialog->deleteBooks();
    QVERIFY2(waited.elapsed() > BooksDialog::backupProgressDelay,
             qPrintable(QString::number(waited.elapsed())));
    QCOMPARE(watcher.seen, QStringList{backupProgressShown});
    // While the progress showed, the book was still there.
    QCOMPARE(watcher.booksWhenSeen, allBooks);
    QCOMPARE(storedBooks(), (QStringList{QStringLiteral("Greek|1"), QStringLiteral("Old|0")}));
    QCOMPARE(shown(child<NivletTableView>(dialog.get(), "bookTableView")->model()),
             (QStringList{QStringLiteral("Greek|2|yes"), QStringLiteral("Old|0|no")}));
    const QStringList made = Backups(QStringLiteral("backups")).files();
    QCOMPARE(made.size(), 1);
    QCOMPARE(booksOfBackup(made.first()), allBooks);
    QCOMPARE(boxes->seen.size(), 1);
}

void TestBooks::deletionWaitsForTheStartupBackup()
{
    QVERIFY(openStore(manyPages()));
    core->setBackupPace(slowPace);
    QVERIFY(core->backupAtStartup());
    QSignalSpy progress(core.get(), &NivletCore::backupProgress);
    QVERIFY(progress.wait());
    auto dialog = makeDialog();
    QVERIFY(dialog);
    select(*dialog, {1});
    boxes->answers = {QMessageBox::Yes};
    ProgressWatcher watcher;
    dialog->deleteBooks();
    QCOMPARE(watcher.seen, QStringList{backupProgressShown});
    QCOMPARE(watcher.booksWhenSeen, allBooks);
    QCOMPARE(storedBooks(), (QStringList{QStringLiteral("Latin|1"), QStringLiteral("Old|0")}));
    // The backup begun at start-up was copied from the same connection up to
    // the deletion: it serves as the deletion's backup.
    const QStringList made = Backups(QStringLiteral("backups")).files();
    QCOMPARE(made.size(), 1);
    QCOMPARE(booksOfBackup(made.first()), allBooks);
    QVERIFY(!core->backupRunning());
}

void TestBooks::backupFailureStopsNoDeletion()
{
    QVERIFY(openStore());
    // A file where the folder of backups belongs: no copy can be made.
    {
        QFile blocker(QStringLiteral("backups"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    }
    auto dialog = makeDialog();
    QVERIFY(dialog);
    const QString failure = QStringLiteral("Error: Could not back up the database: could not "
                                           "create the folder %1")
                                .arg(QDir::current().filePath(QStringLiteral("backups")));
    select(*dialog, {0});
    boxes->answers = {QMessageBox::Yes};
    dialog->deleteBooks();
    QCOMPARE(boxes->texts(),
             (QStringList{
                 QStringLiteral("Delete book(s): Are you sure you want to delete book 'Latin?'"),
                 failure}));
    QCOMPARE(storedBooks(), (QStringList{QStringLiteral("Greek|1"), QStringLiteral("Old|0")}));

    // Shown once; the next failure is only logged.
    select(*dialog, {0});
    boxes->answers = {QMessageBox::Yes};
    dialog->deleteBooks();
    QCOMPARE(boxes->seen.size(), 3);
    QCOMPARE(storedBooks(), QStringList{QStringLiteral("Old|0")});
    closeLog();
    QCOMPARE(TestSupport::readFile(QStringLiteral("nivlets.log")).count(failure), 2);
}

void TestBooks::tableFollowsEveryChange()
{
    QVERIFY(openStore());
    auto dialog = makeDialog();
    QVERIFY(dialog);
    auto *view = child<NivletTableView>(dialog.get(), "bookTableView");
    QAbstractItemModelTester tester(view->model(),
                                    QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy resets(view->model(), &QAbstractItemModel::modelReset);

    whenModal<EditBookDialog>([&](EditBookDialog *editor) {
        typeName(editor, QStringLiteral("Hebrew"));
        QTest::mouseClick(child<QPushButton>(editor, "okButton"), Qt::LeftButton);
    });
    dialog->newBook();
    QCOMPARE(resets.count(), 1);
    QCOMPARE(shown(view->model()),
             (QStringList{QStringLiteral("Latin|3|yes"), QStringLiteral("Greek|2|yes"),
                          QStringLiteral("Old|0|no"), QStringLiteral("Hebrew|0|yes")}));

    select(*dialog, {3});
    whenModal<EditBookDialog>([&](EditBookDialog *editor) {
        QTest::mouseClick(child<QCheckBox>(editor, "activeCheckBox"), Qt::LeftButton);
        QTest::mouseClick(child<QPushButton>(editor, "okButton"), Qt::LeftButton);
    });
    dialog->editBook();
    QCOMPARE(resets.count(), 2);
    QCOMPARE(view->model()->index(3, 2).data().toString(), QStringLiteral("no"));

    // A change the store makes on its own account shows as well.
    core->findBook(3)->nivletCount = 0;
    QVERIFY(
        core->addNivlet(core->findBook(3), QStringLiteral("vetus"), QStringLiteral("old"), true));
    QVERIFY(core->editBook(core->findBook(3), QStringLiteral("Old"), true));
    QCOMPARE(view->model()->index(2, 1).data().toString(),
             QString::number(core->findBook(3)->nivletCount));
    QCOMPARE(view->model()->index(2, 2).data().toString(), QStringLiteral("yes"));

    select(*dialog, {1});
    boxes->answers = {QMessageBox::Yes};
    dialog->deleteBooks();
    QCOMPARE(shown(view->model()).size(), 3);
    QCOMPARE(view->model()->index(1, 0).data().toString(), QStringLiteral("Old"));
    QCOMPARE(storedBooks(), (QStringList{QStringLiteral("Latin|1"), QStringLiteral("Old|1"),
                                         QStringLiteral("Hebrew|0")}));
}

QTEST_MAIN(TestBooks)
#include "tst_books.moc"
