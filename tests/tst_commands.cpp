#include "aboutdialog.h"
#include "book.h"
#include "bookcombobox.h"
#include "booksdialog.h"
#include "challengedialog.h"
#include "editbookdialog.h"
#include "mainwindow.h"
#include "mainwindowtestaccess.h"
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
using TestSupport::child;
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
    MainWindowTestAccess ui() const { return MainWindowTestAccess(window.get()); }
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
    QVERIFY(ui().autoChallengeAllowed());
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
    ui().questionEdit()->setText(text);
    ui().onlyActiveCheckBox()->setChecked(false);
    window->search();
}

void TestCommands::aboutHoldsTheGuard()
{
    bool guardDuring = true;
    QWidget *parent = nullptr;
    whenModal<AboutDialog>([&](AboutDialog *box) {
        guardDuring = ui().autoChallengeAllowed();
        parent = box->parentWidget();
        QTest::keyClick(box, Qt::Key_Return);
    });
    window->about();
    QVERIFY(!guardDuring);
    QCOMPARE(parent, window.get());
    QVERIFY(ui().autoChallengeAllowed());
    QVERIFY(window->findChildren<AboutDialog *>().isEmpty());
}

void TestCommands::optionsHoldsTheGuardAndSaves()
{
    bool guardDuring = true;
    QWidget *parent = nullptr;
    whenModal<OptionsDialog>([&](OptionsDialog *dialog) {
        guardDuring = ui().autoChallengeAllowed();
        parent = dialog->parentWidget();
        QCOMPARE(child<QLineEdit>(dialog, "intervalEdit")->text(), QStringLiteral("15"));
        child<QCheckBox>(dialog, "autoChCheck")->setChecked(true);
        child<QLineEdit>(dialog, "intervalEdit")->setText(QStringLiteral("0"));
        QTest::mouseClick(child<QPushButton>(dialog, "okButton"), Qt::LeftButton);
        // The error box runs inside the command: the guard stays cleared.
        QTRY_COMPARE(catcher->texts.size(), 1);
        guardDuring = guardDuring || ui().autoChallengeAllowed();
        child<QLineEdit>(dialog, "intervalEdit")->setText(QStringLiteral("3"));
        QTest::mouseClick(child<QPushButton>(dialog, "okButton"), Qt::LeftButton);
    });
    window->options();
    QVERIFY(!guardDuring);
    QCOMPARE(parent, window.get());
    QCOMPARE(catcher->texts,
             QStringList{
                 QStringLiteral("Please provide a whole number for 'minutes' between 1 and 240.")});
    QVERIFY(ui().autoChallengeAllowed());
    QCOMPARE(storedInterval(), QStringLiteral("180"));
    QVERIFY(ui().core()->options()->autoCh);
    QCOMPARE(ui().core()->options()->autoChInterval, 180);
    QVERIFY(window->findChildren<OptionsDialog *>().isEmpty());
}

void TestCommands::optionsCancelled()
{
    whenModal<OptionsDialog>([&](OptionsDialog *dialog) {
        child<QLineEdit>(dialog, "intervalEdit")->setText(QStringLiteral("7"));
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    window->options();
    QVERIFY(ui().autoChallengeAllowed());
    QCOMPARE(storedInterval(), QStringLiteral("900"));
    QCOMPARE(ui().core()->options()->autoChInterval, 900);
}

void TestCommands::optionsUnreadableShowsNoDialog()
{
    QVERIFY(TestSupport::execSql(work->file(QStringLiteral("nivlets")),
                                 QStringLiteral("DROP TABLE options;")));
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
    QCOMPARE(catcher->texts,
             QStringList{QStringLiteral("Could not get options from database. error code: 1 "
                                        "error message: no such table: options")});
    QVERIFY(ui().autoChallengeAllowed());
    QVERIFY(window->findChildren<OptionsDialog *>().isEmpty());
}

void TestCommands::booksHoldsTheGuard()
{
    bool guardDuring = true;
    QWidget *parent = nullptr;
    whenModal<BooksDialog>([&](BooksDialog *dialog) {
        guardDuring = ui().autoChallengeAllowed();
        parent = dialog->parentWidget();
        QCOMPARE(child<NivletTableView>(dialog, "bookTableView")->model()->rowCount(), 2);
        whenModal<EditBookDialog>([&](EditBookDialog *editor) {
            guardDuring = guardDuring || ui().autoChallengeAllowed();
            child<QLineEdit>(editor, "nameEdit")->setText(QStringLiteral("Seas"));
            QTest::mouseClick(child<QPushButton>(editor, "okButton"), Qt::LeftButton);
        });
        QTest::mouseClick(child<QPushButton>(dialog, "newButton"), Qt::LeftButton);
        QCOMPARE(child<NivletTableView>(dialog, "bookTableView")->model()->rowCount(), 3);
        dialog->close();
    });
    window->manageBooks();
    QVERIFY(!guardDuring);
    QCOMPARE(parent, window.get());
    QVERIFY(ui().autoChallengeAllowed());
    QVERIFY(window->findChildren<BooksDialog *>().isEmpty());
    // The panel offers the new book at once.
    QCOMPARE(ui().bookComboBox()->count(), 4);
    QCOMPARE(ui().bookComboBox()->itemText(3), QStringLiteral("Seas"));
}

void TestCommands::booksResetsThePanelWhenNothingChanged()
{
    search(QStringLiteral("L"));
    QCOMPARE(ui().nivletsModel()->rowCount(), 2);
    ui().bookComboBox()->setCurrentBook(ui().core()->findBook(1));
    whenModal<BooksDialog>([&](BooksDialog *dialog) { dialog->reject(); });
    window->manageBooks();
    QCOMPARE(ui().nivletsModel()->rowCount(), 0);
    QVERIFY(ui().questionEdit()->text().isEmpty());
    QVERIFY(ui().onlyActiveCheckBox()->isChecked());
    QVERIFY(!ui().bookComboBox()->currentBook());
    QVERIFY(ui().resultLabel()->isHidden());
    QVERIFY(ui().autoChallengeAllowed());
}

void TestCommands::booksDeletingTheShownBook()
{
    search(QString());
    QCOMPARE(ui().nivletsModel()->rowCount(), 3);
    // The question must reach the test, not the catcher of error boxes.
    catcher.reset();
    whenModal<BooksDialog>([&](BooksDialog *dialog) {
        child<NivletTableView>(dialog, "bookTableView")->selectRow(0);
        whenModal<QMessageBox>([&](QMessageBox *question) {
            QCOMPARE(question->text(),
                     QStringLiteral("Are you sure you want to delete book 'Rivers?'"));
            question->button(QMessageBox::Yes)->click();
        });
        dialog->deleteBooks();
        // The main window behind the dialog repaints what it shows.
        window->repaint();
        ui().nivletTableView()->viewport()->repaint();
        QCOMPARE(child<NivletTableView>(dialog, "bookTableView")->model()->rowCount(), 1);
        dialog->accept();
    });
    window->manageBooks();
    QCOMPARE(ui().nivletsModel()->rowCount(), 0);
    QCOMPARE(ui().bookComboBox()->count(), 2);
    QCOMPARE(ui().bookComboBox()->itemText(1), QStringLiteral("Lakes"));
    search(QString());
    QCOMPARE(ui().nivletsModel()->rowCount(), 1);
    QCOMPARE(ui().nivletsModel()->index(0, 4).data().toString(), QStringLiteral("Lakes"));
    QVERIFY(ui().autoChallengeAllowed());
}

void TestCommands::buttonsStartTheCommands()
{
    QStringList titles;
    const auto note = [&titles](QDialog *dialog) {
        titles << dialog->windowTitle();
        dialog->reject();
    };
    whenModal<BooksDialog>(note);
    QTest::mouseClick(ui().button("booksButton"), Qt::LeftButton);
    whenModal<OptionsDialog>(note);
    QTest::mouseClick(ui().button("optionsButton"), Qt::LeftButton);
    whenModal<AboutDialog>(note);
    QTest::mouseClick(ui().button("aboutButton"), Qt::LeftButton);
    QCOMPARE(titles, (QStringList{QStringLiteral("Books"), QStringLiteral("Options"),
                                  QStringLiteral("About nivlets")}));
    QVERIFY(ui().autoChallengeAllowed());
}

void TestCommands::challengeAfterAFailedReload()
{
    ui().core()->setBusyTimeout(50);
    NivletCoreTestAccess::markActiveListStale(*ui().core());
    TestSupport::LockingConnection lock;
    QVERIFY(lock.locked);
    window->challenge();
    QVERIFY(window->findChildren<ChallengeDialog *>().isEmpty());
    // The reload's own report only, not the wrong one that nothing is there to ask.
    QCOMPARE(catcher->texts.size(), 1);
    QVERIFY2(catcher->texts.first().startsWith(QStringLiteral("Could not reload active nivlets.")),
             qPrintable(catcher->texts.first()));
    QVERIFY(ui().autoChallengeAllowed());
}

QTEST_MAIN(TestCommands)
#include "tst_commands.moc"
