#include "aboutdialog.h"
#include "book.h"
#include "bookcombobox.h"
#include "booksdialog.h"
#include "challengedialog.h"
#include "editbookdialog.h"
#include "mainwindow.h"
#include "nivletcore.h"
#include "nivletstablemodel.h"
#include "nivlettableview.h"
#include "optionsdialog.h"
#include "testsupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTest>

#include <functional>
#include <memory>

using TestSupport::BoxCatcher;
using TestSupport::whenModal;
using TestSupport::WorkDir;

namespace {

const char sampleSql[] = R"(
INSERT INTO book (id, name, active) VALUES (1, 'Rivers', 1), (2, 'Lakes', 1);
INSERT INTO nivlet (id, active, kn_rate, book_id, question, answer) VALUES
    (1, 1, 0.1, 1, 'Longest river of Europe?', 'Volga'),
    (2, 1, 0.2, 1, 'River through Vienna?', 'Danube'),
    (3, 1, 0.3, 2, 'Largest lake of Africa?', 'Victoria');
)";

QString storedInterval()
{
    return TestSupport::rows(QStringLiteral("SELECT auto_ch_interval FROM options")).value(0);
}

} // namespace

class TestCommands : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void aboutHoldsTheGuard();
    void optionsHoldsTheGuardAndSaves();
    void optionsCancelled();
    void optionsUnreadableShowsNoDialog();
    void booksHoldsTheGuard();
    void booksResetsThePanelWhenNothingChanged();
    void booksDeletingTheShownBook();
    void buttonsStartTheCommands();
    void challengeAfterAFailedReload();

private:
    void search(const QString &text);

    std::unique_ptr<WorkDir> work;
    std::unique_ptr<BoxCatcher> catcher;
    std::unique_ptr<MainWindow> window;
};

void TestCommands::initTestCase()
{
    QVERIFY2(QSystemTrayIcon::isSystemTrayAvailable(),
             "the main window needs a system tray: run under the test command's X server");
}

void TestCommands::init()
{
    work = std::make_unique<WorkDir>();
    QVERIFY(work->isValid());
    QVERIFY(TestSupport::createDatabase(work->path(), QString::fromUtf8(sampleSql)));
    catcher = std::make_unique<BoxCatcher>();
    window = std::make_unique<MainWindow>();
    QVERIFY(window->init());
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QVERIFY(window->autoChallengeAllowed);
}

void TestCommands::cleanup()
{
    while (QWidget *modal = QApplication::activeModalWidget()) {
        modal->close();
        QTest::qWait(10);
    }
    window.reset();
    catcher.reset();
    work.reset();
}

void TestCommands::search(const QString &text)
{
    window->questionEdit->setText(text);
    window->onlyActiveCheckBox->setChecked(false);
    window->search();
}

void TestCommands::aboutHoldsTheGuard()
{
    bool guardDuring = true;
    QWidget *parent = nullptr;
    whenModal<AboutDialog>([&](AboutDialog *box) {
        guardDuring = window->autoChallengeAllowed;
        parent = box->parentWidget();
        QTest::keyClick(box, Qt::Key_Return);
    });
    window->about();
    QVERIFY(!guardDuring);
    QCOMPARE(parent, window.get());
    QVERIFY(window->autoChallengeAllowed);
    QVERIFY(window->findChildren<AboutDialog *>().isEmpty());
}

void TestCommands::optionsHoldsTheGuardAndSaves()
{
    bool guardDuring = true;
    QWidget *parent = nullptr;
    whenModal<OptionsDialog>([&](OptionsDialog *dialog) {
        guardDuring = window->autoChallengeAllowed;
        parent = dialog->parentWidget();
        QCOMPARE(dialog->intervalEdit->text(), QStringLiteral("15"));
        dialog->autoChCheck->setChecked(true);
        dialog->intervalEdit->setText(QStringLiteral("0"));
        QTest::mouseClick(dialog->okButton, Qt::LeftButton);
        // The error box runs inside the command: the guard stays cleared.
        QTRY_COMPARE(catcher->texts.size(), 1);
        guardDuring = guardDuring || window->autoChallengeAllowed;
        dialog->intervalEdit->setText(QStringLiteral("3"));
        QTest::mouseClick(dialog->okButton, Qt::LeftButton);
    });
    window->options();
    QVERIFY(!guardDuring);
    QCOMPARE(parent, window.get());
    QCOMPARE(catcher->texts,
             QStringList{"Please provide a whole number for 'minutes' between 1 and 240."});
    QVERIFY(window->autoChallengeAllowed);
    QCOMPARE(storedInterval(), QStringLiteral("180"));
    QVERIFY(window->core->options()->autoCh);
    QCOMPARE(window->core->options()->autoChInterval, 180);
    QVERIFY(window->findChildren<OptionsDialog *>().isEmpty());
}

void TestCommands::optionsCancelled()
{
    whenModal<OptionsDialog>([&](OptionsDialog *dialog) {
        dialog->intervalEdit->setText(QStringLiteral("7"));
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    window->options();
    QVERIFY(window->autoChallengeAllowed);
    QCOMPARE(storedInterval(), QStringLiteral("900"));
    QCOMPARE(window->core->options()->autoChInterval, 900);
}

void TestCommands::optionsUnreadableShowsNoDialog()
{
    QVERIFY(TestSupport::execSql(work->file("nivlets"), "DROP TABLE options;"));
    // The error box's own event loop gives the watch its chances.
    bool shown = false;
    QTimer watch;
    watch.setInterval(5);
    connect(&watch, &QTimer::timeout, this, [&shown] {
        if (auto *dialog = qobject_cast<OptionsDialog *>(QApplication::activeModalWidget())) {
            shown = true;
            dialog->reject();
        }
    });
    watch.start();
    window->options();
    QVERIFY(!shown);
    QCOMPARE(catcher->texts, QStringList{"Could not get options from database. error code: 1 "
                                         "error message: no such table: options"});
    QVERIFY(window->autoChallengeAllowed);
    QVERIFY(window->findChildren<OptionsDialog *>().isEmpty());
}

void TestCommands::booksHoldsTheGuard()
{
    bool guardDuring = true;
    QWidget *parent = nullptr;
    whenModal<BooksDialog>([&](BooksDialog *dialog) {
        guardDuring = window->autoChallengeAllowed;
        parent = dialog->parentWidget();
        QCOMPARE(dialog->view->model()->rowCount(), 2);
        whenModal<EditBookDialog>([&](EditBookDialog *editor) {
            guardDuring = guardDuring || window->autoChallengeAllowed;
            editor->nameEdit->setText(QStringLiteral("Seas"));
            QTest::mouseClick(editor->okButton, Qt::LeftButton);
        });
        QTest::mouseClick(dialog->newButton, Qt::LeftButton);
        QCOMPARE(dialog->view->model()->rowCount(), 3);
        dialog->close();
    });
    window->manageBooks();
    QVERIFY(!guardDuring);
    QCOMPARE(parent, window.get());
    QVERIFY(window->autoChallengeAllowed);
    QVERIFY(window->findChildren<BooksDialog *>().isEmpty());
    // The panel offers the new book at once.
    QCOMPARE(window->bookComboBox->count(), 4);
    QCOMPARE(window->bookComboBox->itemText(3), QStringLiteral("Seas"));
}

void TestCommands::booksResetsThePanelWhenNothingChanged()
{
    search(QStringLiteral("L"));
    QCOMPARE(window->nivletsModel->rowCount(), 2);
    window->bookComboBox->setCurrentBook(window->core->findBook(1));
    whenModal<BooksDialog>([&](BooksDialog *dialog) { dialog->reject(); });
    window->manageBooks();
    QCOMPARE(window->nivletsModel->rowCount(), 0);
    QVERIFY(window->questionEdit->text().isEmpty());
    QVERIFY(window->onlyActiveCheckBox->isChecked());
    QVERIFY(!window->bookComboBox->currentBook());
    QVERIFY(window->resultLabel->isHidden());
    QVERIFY(window->autoChallengeAllowed);
}

void TestCommands::booksDeletingTheShownBook()
{
    search(QString());
    QCOMPARE(window->nivletsModel->rowCount(), 3);
    // The question must reach the test, not the catcher of error boxes.
    catcher.reset();
    whenModal<BooksDialog>([&](BooksDialog *dialog) {
        dialog->view->selectRow(0);
        whenModal<QMessageBox>([&](QMessageBox *question) {
            QCOMPARE(question->text(),
                     QStringLiteral("Are you sure you want to delete book 'Rivers?'"));
            question->button(QMessageBox::Yes)->click();
        });
        dialog->deleteBooks();
        // The main window behind the dialog repaints what it shows.
        window->repaint();
        window->nivletTableView->viewport()->repaint();
        QCOMPARE(dialog->view->model()->rowCount(), 1);
        dialog->accept();
    });
    window->manageBooks();
    QCOMPARE(window->nivletsModel->rowCount(), 0);
    QCOMPARE(window->bookComboBox->count(), 2);
    QCOMPARE(window->bookComboBox->itemText(1), QStringLiteral("Lakes"));
    search(QString());
    QCOMPARE(window->nivletsModel->rowCount(), 1);
    QCOMPARE(window->nivletsModel->index(0, 4).data().toString(), QStringLiteral("Lakes"));
    QVERIFY(window->autoChallengeAllowed);
}

void TestCommands::buttonsStartTheCommands()
{
    QStringList titles;
    const auto note = [&titles](QDialog *dialog) {
        titles << dialog->windowTitle();
        dialog->reject();
    };
    whenModal<BooksDialog>(note);
    QTest::mouseClick(window->booksButton, Qt::LeftButton);
    whenModal<OptionsDialog>(note);
    QTest::mouseClick(window->optionsButton, Qt::LeftButton);
    whenModal<AboutDialog>(note);
    QTest::mouseClick(window->aboutButton, Qt::LeftButton);
    QCOMPARE(titles, (QStringList{"Books", "Options", "About nivlets"}));
    QVERIFY(window->autoChallengeAllowed);
}

void TestCommands::challengeAfterAFailedReload()
{
    window->core->setBusyTimeout(50);
    NivletCoreTestAccess::markActiveListStale(*window->core);
    TestSupport::LockingConnection lock;
    QVERIFY(lock.locked);
    window->challenge();
    QVERIFY(window->findChildren<ChallengeDialog *>().isEmpty());
    // The reload's own report only, not the wrong one that nothing is there to ask.
    QCOMPARE(catcher->texts.size(), 1);
    QVERIFY2(catcher->texts.first().startsWith(QStringLiteral("Could not reload active nivlets.")),
             qPrintable(catcher->texts.first()));
    QVERIFY(window->autoChallengeAllowed);
}

QTEST_MAIN(TestCommands)
#include "tst_commands.moc"
