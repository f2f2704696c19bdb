#include "backups.h"
#include "book.h"
#include "bookcombobox.h"
#include "editnivletdialog.h"
#include "guiutil.h"
#include "mainwindow.h"
#include "nivlet.h"
#include "nivletcore.h"
#include "nivletstablemodel.h"
#include "nivlettableview.h"
#include "testsupport.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTextEdit>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>
#include <memory>

namespace {
// Rows 1 to 5 are looked at one by one; the bulk rows give searches of 199,
// 200 and 250 matches.
const char rows[] =
    "INSERT INTO book (id, name, active) VALUES (1, 'Rivers', 1), (2, 'Hidden', 0),"
    " (3, 'Lakes', 1);\n"
    "INSERT INTO nivlet (id, active, kn_rate, book_id, question, answer) VALUES\n"
    " (1, 1, 0.1, 1, 'Alpha one', 'a'),\n"
    " (2, 1, 0.2, 1, 'Alpha two', 'b'),\n"
    " (3, 1, 0.3, 2, 'Alpha three', 'c'),\n"
    " (4, 0, 0.4, 1, 'Alpha four', 'd'),\n"
    " (5, 1, 0.5, 99, '<b>x</b> orphan', 'e');\n"
    "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 250)\n"
    "INSERT INTO nivlet (id, active, kn_rate, book_id, question, answer)\n"
    "SELECT 100 + x, 1, x / 1000.0, 3, 'Many ' || x, 'm' FROM c;\n"
    "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 200)\n"
    "INSERT INTO nivlet (id, active, kn_rate, book_id, question, answer)\n"
    "SELECT 400 + x, 1, x / 1000.0, 3, 'Exact ' || x, 'e' FROM c;\n"
    "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 199)\n"
    "INSERT INTO nivlet (id, active, kn_rate, book_id, question, answer)\n"
    "SELECT 700 + x, 1, x / 1000.0, 3, 'Few ' || x, 'f' FROM c;\n";
constexpr int totalRows = 5 + 250 + 200 + 199;

QString foundText(int n)
{
    return QStringLiteral("<b>%1</b> nivlet(s) found.").arg(n);
}

const QString limitText =
    QStringLiteral("At least <b>200</b> nivlets found, displaying only the first <b>200</b>...");

bool rowExists(qint64 id)
{
    return TestSupport::rows(QStringLiteral("SELECT 1 FROM nivlet WHERE id = %1").arg(id)) ==
           QStringList{QStringLiteral("1")};
}

// The given width, or the width the button's text and icon need when the
// desktop font is larger; never the style's smallest width for any button.
bool hasFixedWidth(QPushButton *button, int width)
{
    const int expected = std::max(width, GuiUtil::neededButtonWidth(button));
    return button->minimumWidth() == expected && button->maximumWidth() == expected;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void buildsTheWindow();
    void searchCounts_data();
    void searchCounts();
    void searchInputs();
    void searchFailure();
    void resultTableShowsEightRows();
    void selectionEnablesEditAndDelete();
    void returnInQuestionStartsNothing();
    void resetEmptiesThePanel();
    void changeAfterResetUpdatesOnlyTheTotal();
    void newNivletFromThePanel_data();
    void newNivletFromThePanel();
    void editRepeatsTheSearch();
    void editNivletWithMissingBook();
    void deleteOne();
    void deleteSeveral();
    void deleteAnsweredNo();
    void failingDeleteStillRefreshes();
    void booksChangedDropsTheResult();
    void userTextIsPlain();
    void guardDuringCommands();
    void newDisabledWithoutBooks();
    void backupAfterTheWindowIsUp();

private:
    bool openWindow();
    void select(const QList<int> &rows);
    void searchFor(const QString &text, bool onlyActive = false);

    std::unique_ptr<TestSupport::WorkDir> work;
    std::unique_ptr<TestSupport::BoxCatcher> boxes;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<QAbstractItemModelTester> tester;
};

void TestMainWindow::initTestCase()
{
    QVERIFY2(QSystemTrayIcon::isSystemTrayAvailable(),
             "the main window needs a system tray: run under the test command's X server");
}

void TestMainWindow::init()
{
    work = std::make_unique<TestSupport::WorkDir>();
    QVERIFY(work->isValid());
    QVERIFY(TestSupport::createDatabase(work->path(), QString::fromUtf8(rows)));
    QVERIFY(openWindow());
}

bool TestMainWindow::openWindow()
{
    tester.reset();
    window.reset();
    boxes = std::make_unique<TestSupport::BoxCatcher>();
    window = std::make_unique<MainWindow>();
    if (!window->init())
        return false;
    // The locks these tests take are held on purpose; waiting for them would only slow the run.
    window->core->setBusyTimeout(50);
    tester = std::make_unique<QAbstractItemModelTester>(
        window->nivletsModel, QAbstractItemModelTester::FailureReportingMode::QtTest);
    window->show();
    return QTest::qWaitForWindowExposed(window.get());
}

void TestMainWindow::cleanup()
{
    while (QWidget *modal = QApplication::activeModalWidget()) {
        modal->close();
        QTest::qWait(10);
    }
    tester.reset();
    window.reset();
    boxes.reset();
    work.reset();
}

void TestMainWindow::select(const QList<int> &rows)
{
    QItemSelectionModel *selection = window->nivletTableView->selectionModel();
    selection->clearSelection();
    for (int row : rows)
        selection->select(window->nivletsModel->index(row, 0),
                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

void TestMainWindow::searchFor(const QString &text, bool onlyActive)
{
    window->questionEdit->setText(text);
    window->onlyActiveCheckBox->setChecked(onlyActive);
    QTest::mouseClick(window->searchButton, Qt::LeftButton);
}

void TestMainWindow::buildsTheWindow()
{
    // The header and the command row need a little more than 620 pixels with
    // the style's margins; the window then takes the width its layout needs.
    QCOMPARE(window->height(), 570);
    QCOMPARE(window->width(), std::max(620, window->minimumSizeHint().width()));
    QVERIFY(window->windowTitle().isEmpty() || window->windowTitle() == qApp->applicationName());
    auto *main = qobject_cast<QVBoxLayout *>(window->centralWidget()->layout());
    QVERIFY(main);
    QCOMPARE(main->count(), 9);

    auto *header = qobject_cast<QLabel *>(main->itemAt(0)->widget());
    QVERIFY(header);
    QCOMPARE(header->pixmap().size(), QSize(626, 146));
    QCOMPARE(header->margin(), 1);

    auto *commands = qobject_cast<QHBoxLayout *>(main->itemAt(1)->layout());
    QVERIFY(commands);
    QCOMPARE(commands->count(), 7);
    const QList<QPushButton *> commandButtons{window->challengeButton, window->puzzleButton,
                                              window->booksButton,     window->optionsButton,
                                              window->aboutButton,     window->exitButton};
    const QStringList commandTexts{QStringLiteral("&Challenge!..."), QStringLiteral("&Puzzle..."),
                                   QStringLiteral("Books..."),       QStringLiteral("Options..."),
                                   QStringLiteral("About..."),       QStringLiteral("E&xit")};
    for (int i = 0; i < 6; ++i) {
        QCOMPARE(commands->itemAt(i)->widget(), commandButtons.at(i));
        QCOMPARE(commands->stretch(i), 1);
        QCOMPARE(commandButtons.at(i)->text(), commandTexts.at(i));
        QVERIFY(!commandButtons.at(i)->icon().isNull());
        QVERIFY(hasFixedWidth(commandButtons.at(i), 100));
        QVERIFY(!commandButtons.at(i)->isDefault());
        QVERIFY(commandButtons.at(i)->isEnabled());
    }
    QVERIFY(commands->itemAt(6)->spacerItem());
    QCOMPARE(commands->stretch(6), 1);
    QCOMPARE(main->itemAt(2)->spacerItem()->sizeHint().height(), 5);

    auto *grid = qobject_cast<QGridLayout *>(main->itemAt(3)->layout());
    QVERIFY(grid);
    QCOMPARE(grid->columnStretch(4), 1);
    QCOMPARE(qobject_cast<QLabel *>(grid->itemAtPosition(0, 0)->widget())->text(),
             QStringLiteral(" Question (begins as):"));
    QCOMPARE(grid->itemAtPosition(0, 0)->alignment(), Qt::Alignment(Qt::AlignRight));
    QCOMPARE(grid->itemAtPosition(0, 4)->widget(), window->questionEdit);
    QCOMPARE(qobject_cast<QLabel *>(grid->itemAtPosition(1, 0)->widget())->text(),
             QStringLiteral("Book:"));
    QCOMPARE(grid->itemAtPosition(1, 1)->widget(), window->bookComboBox);
    QCOMPARE(grid->itemAtPosition(1, 4)->widget(), window->bookComboBox);
    QVERIFY(window->bookComboBox->withAllBooks);
    QCOMPARE(grid->itemAtPosition(2, 1)->widget(), window->onlyActiveCheckBox);
    QCOMPARE(grid->itemAtPosition(2, 4)->widget(), window->onlyActiveCheckBox);
    QCOMPARE(window->onlyActiveCheckBox->text(),
             QStringLiteral("Only active nivlets in active books"));

    auto *searchRow = qobject_cast<QHBoxLayout *>(main->itemAt(4)->layout());
    QVERIFY(searchRow);
    QCOMPARE(searchRow->itemAt(0)->widget(), window->searchButton);
    QCOMPARE(searchRow->itemAt(1)->widget(), window->resetButton);
    QVERIFY(searchRow->itemAt(2)->spacerItem());
    QCOMPARE(window->searchButton->text(), QStringLiteral("&Search nivlets"));
    QVERIFY(hasFixedWidth(window->searchButton, 130));
    QCOMPARE(window->resetButton->text(), QStringLiteral("&Reset"));
    QVERIFY(hasFixedWidth(window->resetButton, 75));
    // "&Reset" with its icon fits in 75 pixels in the test's font; the
    // style's smallest width of a button with a text is 80.
    QVERIFY(GuiUtil::neededButtonWidth(window->resetButton) <= 75);
    QCOMPARE(window->resetButton->width(), 75);

    QCOMPARE(main->itemAt(5)->widget(), window->resultLabel);
    QCOMPARE(window->resultLabel->margin(), 2);
    QVERIFY(window->resultLabel->isHidden());

    QCOMPARE(main->itemAt(6)->widget(), window->nivletTableView);
    QVERIFY(window->nivletTableView->verticalHeader()->isHidden());
    QCOMPARE(window->nivletTableView->selectionMode(), QAbstractItemView::ExtendedSelection);
    QCOMPARE(window->nivletTableView->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(window->nivletTableView->model(), window->nivletsModel);
    QCOMPARE(window->nivletsModel->parent(), window.get());
    const QList<std::pair<int, double>> specs{
        {70, 2.0}, {120, 4.0}, {60, 1.0}, {50, 1.0}, {80, 3.0}};
    QCOMPARE(window->nivletTableView->columnSpecs.size(), 5);
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(window->nivletTableView->columnSpecs.at(i).minWidth, specs.at(i).first);
        QCOMPARE(window->nivletTableView->columnSpecs.at(i).weight, specs.at(i).second);
    }
    int widths = 0;
    for (int i = 0; i < 5; ++i)
        widths += window->nivletTableView->columnWidth(i);
    QCOMPARE(widths, window->nivletTableView->width() - 19);

    auto *listRow = qobject_cast<QHBoxLayout *>(main->itemAt(7)->layout());
    QVERIFY(listRow);
    const QList<QPushButton *> listButtons{window->newButton, window->editButton,
                                           window->deleteButton};
    const QStringList listTexts{QStringLiteral("&New nivlet..."), QStringLiteral("Edit nivlet..."),
                                QStringLiteral("Delete nivlet(s)")};
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(listRow->itemAt(i)->widget(), listButtons.at(i));
        QCOMPARE(listButtons.at(i)->text(), listTexts.at(i));
        QVERIFY(!listButtons.at(i)->icon().isNull());
        QVERIFY(hasFixedWidth(listButtons.at(i), 130));
    }

    auto *totalRow = qobject_cast<QHBoxLayout *>(main->itemAt(8)->layout());
    QVERIFY(totalRow);
    QCOMPARE(qobject_cast<QLabel *>(totalRow->itemAt(0)->widget())->text(),
             QStringLiteral("Total number of nivlets:"));
    QCOMPARE(totalRow->itemAt(1)->widget(), window->totalCountLabel);
    QCOMPARE(window->totalCountLabel->text(), QStringLiteral("<b>%1</b>").arg(totalRows - 1));
    QCOMPARE(window->totalCountLabel->textFormat(), Qt::RichText);

    QVERIFY(window->newButton->isEnabled());
    QVERIFY(!window->editButton->isEnabled());
    QVERIFY(!window->deleteButton->isEnabled());
    QVERIFY(window->autoChallengeAllowed);
    QVERIFY(window->trayIcon->isVisible());
}

void TestMainWindow::searchCounts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("label");
    QTest::newRow("nothing") << QStringLiteral("Nothing") << 0 << foundText(0);
    QTest::newRow("199") << QStringLiteral("Few ") << 199 << foundText(199);
    QTest::newRow("exactly 200") << QStringLiteral("Exact ") << 200 << limitText;
    QTest::newRow("250") << QStringLiteral("Many ") << 200 << limitText;
}

void TestMainWindow::searchCounts()
{
    QFETCH(QString, text);
    QFETCH(int, rows);
    QFETCH(QString, label);
    searchFor(text);
    QCOMPARE(window->nivletsModel->rowCount(), rows);
    QCOMPARE(window->resultLabel->text(), label);
    QCOMPARE(window->resultLabel->textFormat(), Qt::RichText);
    QVERIFY(window->resultLabel->isVisible());
    QVERIFY(window->searchButton->isEnabled());
    QVERIFY(!window->editButton->isEnabled());
    QVERIFY(!window->deleteButton->isEnabled());
    // Lowest rate first.
    for (int i = 1; i < rows; ++i)
        QVERIFY(window->nivletsModel->nivletAt(i - 1)->knRate <=
                window->nivletsModel->nivletAt(i)->knRate);
    QVERIFY(window->autoChallengeAllowed);
}

void TestMainWindow::searchInputs()
{
    const auto ids = [&] {
        QList<qint64> list;
        for (int i = 0; i < window->nivletsModel->rowCount(); ++i)
            list << window->nivletsModel->nivletAt(i)->id;
        return list;
    };
    searchFor(QStringLiteral("Alpha"));
    QCOMPARE(ids(), (QList<qint64>{1, 2, 3, 4}));
    searchFor(QStringLiteral("Alpha"), true);
    QCOMPARE(ids(), (QList<qint64>{1, 2}));
    // The text is taken as typed, not trimmed.
    searchFor(QStringLiteral(" Alpha"));
    QCOMPARE(ids(), QList<qint64>{});
    window->bookComboBox->setCurrentIndex(2);
    searchFor(QStringLiteral("alpha"));
    QCOMPARE(ids(), QList<qint64>{3});
    // An empty text over all books lists up to 200, lowest rate first.
    window->bookComboBox->setCurrentIndex(0);
    searchFor(QString());
    QCOMPARE(window->nivletsModel->rowCount(), 200);
    QCOMPARE(window->resultLabel->text(), limitText);
    QCOMPARE(window->nivletsModel->nivletAt(0)->knRate, 0.001);
}

void TestMainWindow::searchFailure()
{
    searchFor(QStringLiteral("Alpha"));
    {
        TestSupport::LockingConnection lock;
        QVERIFY(lock.locked);
        searchFor(QStringLiteral("Alpha"));
    }
    QTRY_COMPARE(boxes->texts.size(), 1);
    QVERIFY2(boxes->texts.first().startsWith(QStringLiteral("Could not")),
             qPrintable(boxes->texts.first()));
    QCOMPARE(window->nivletsModel->rowCount(), 0);
    QVERIFY(!window->nivletsModel->hasNivlets());
    QVERIFY(window->resultLabel->isHidden());
    QVERIFY(window->searchButton->isEnabled());
    QVERIFY(window->autoChallengeAllowed);
}

void TestMainWindow::resultTableShowsEightRows()
{
    QVERIFY(TestSupport::execSql(
        work->file(QStringLiteral("nivlets")),
        QStringLiteral("INSERT INTO nivlet (id, active, kn_rate, book_id, question, answer) "
                       "VALUES (950, 1, 0.0, 3, 'Few and far between: a question far too long "
                       "for its column, which would take a second line', 'x')")));
    searchFor(QStringLiteral("Few "));
    QCOMPARE(window->nivletsModel->rowCount(), 200);
    QCOMPARE(window->height(), 570);
    NivletTableView *view = window->nivletTableView;
    QCOMPARE(window->nivletsModel->nivletAt(0)->id, 950);
    const int viewportHeight = view->viewport()->height();
    int whole = 0;
    for (int row = 0; row < 200; ++row) {
        QCOMPARE(view->rowHeight(row), view->rowHeight(1));
        if (view->rowViewportPosition(row) + view->rowHeight(row) <= viewportHeight)
            ++whole;
    }
    QVERIFY2(whole >= 8, qPrintable(QStringLiteral("%1 whole rows of %2 pixels in %3")
                                        .arg(whole)
                                        .arg(view->rowHeight(0))
                                        .arg(viewportHeight)));
}

void TestMainWindow::selectionEnablesEditAndDelete()
{
    searchFor(QStringLiteral("Alpha"));
    QCOMPARE(window->selectedRow(), -1);
    select({2});
    QVERIFY(window->editButton->isEnabled());
    QVERIFY(window->deleteButton->isEnabled());
    QCOMPARE(window->selectedRow(), 2);
    select({1, 3});
    QVERIFY(!window->editButton->isEnabled());
    QVERIFY(window->deleteButton->isEnabled());
    select({});
    QVERIFY(!window->editButton->isEnabled());
    QVERIFY(!window->deleteButton->isEnabled());
    QCOMPARE(window->selectedRow(), -1);

    // By mouse and keyboard as a user would select.
    const QRect cell = window->nivletTableView->visualRect(window->nivletsModel->index(0, 1));
    QTest::mouseClick(window->nivletTableView->viewport(), Qt::LeftButton, {}, cell.center());
    QVERIFY(window->editButton->isEnabled());
    const QRect other = window->nivletTableView->visualRect(window->nivletsModel->index(2, 1));
    QTest::mouseClick(window->nivletTableView->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      other.center());
    QVERIFY(!window->editButton->isEnabled());
    QVERIFY(window->deleteButton->isEnabled());
    // A new search clears the selection.
    searchFor(QStringLiteral("Alpha"));
    QVERIFY(!window->deleteButton->isEnabled());
}

void TestMainWindow::returnInQuestionStartsNothing()
{
    window->activateWindow();
    window->questionEdit->setFocus();
    QTRY_VERIFY(window->questionEdit->hasFocus());
    QSignalSpy resets(window->nivletsModel, &QAbstractItemModel::modelReset);
    QTest::keyClicks(window->questionEdit, QStringLiteral("Alpha"));
    QTest::keyClick(window->questionEdit, Qt::Key_Return);
    QTest::keyClick(window->questionEdit, Qt::Key_Enter);
    QTest::qWait(50);
    QCOMPARE(resets.count(), 0);
    QVERIFY(window->resultLabel->isHidden());
    QVERIFY(!QApplication::activeModalWidget());
    QCOMPARE(window->questionEdit->text(), QStringLiteral("Alpha"));
}

void TestMainWindow::resetEmptiesThePanel()
{
    window->bookComboBox->setCurrentIndex(3);
    searchFor(QStringLiteral("Many"), false);
    select({0});
    QVERIFY(window->nivletsModel->rowCount() > 0);
    QTest::mouseClick(window->resetButton, Qt::LeftButton);
    QCOMPARE(window->questionEdit->text(), QString());
    QVERIFY(window->onlyActiveCheckBox->isChecked());
    QCOMPARE(window->bookComboBox->currentIndex(), 0);
    QCOMPARE(window->bookComboBox->currentText(), QStringLiteral("*All books*"));
    QCOMPARE(window->nivletsModel->rowCount(), 0);
    QVERIFY(!window->nivletsModel->hasNivlets());
    QVERIFY(window->resultLabel->isHidden());
    QVERIFY(!window->editButton->isEnabled());
    QVERIFY(!window->deleteButton->isEnabled());
    QCOMPARE(window->totalCountLabel->text(), QStringLiteral("<b>%1</b>").arg(totalRows - 1));
}

void TestMainWindow::changeAfterResetUpdatesOnlyTheTotal()
{
    searchFor(QStringLiteral("Alpha"));
    QTest::mouseClick(window->resetButton, Qt::LeftButton);
    window->bookComboBox->setCurrentIndex(1);
    window->questionEdit->setText(QStringLiteral("Alpha five"));
    QSignalSpy resets(window->nivletsModel, &QAbstractItemModel::modelReset);
    TestSupport::onModal<EditNivletDialog>([](EditNivletDialog *dialog) {
        dialog->answersEdit->setPlainText(QStringLiteral("five"));
        QTest::mouseClick(dialog->okButton, Qt::LeftButton);
    });
    QTest::mouseClick(window->newButton, Qt::LeftButton);
    QCOMPARE(resets.count(), 0);
    QCOMPARE(window->nivletsModel->rowCount(), 0);
    QVERIFY(window->resultLabel->isHidden());
    QCOMPARE(window->totalCountLabel->text(), QStringLiteral("<b>%1</b>").arg(totalRows));
}

void TestMainWindow::newNivletFromThePanel_data()
{
    QTest::addColumn<int>("bookEntry");
    QTest::addColumn<bool>("onlyActive");
    QTest::addColumn<QString>("expectedBook");
    QTest::newRow("all books, only active") << 0 << true << QStringLiteral("Rivers");
    QTest::newRow("a book") << 3 << true << QStringLiteral("Lakes");
    QTest::newRow("an inactive book") << 2 << false << QStringLiteral("Hidden");
}

void TestMainWindow::newNivletFromThePanel()
{
    QFETCH(int, bookEntry);
    QFETCH(bool, onlyActive);
    QFETCH(QString, expectedBook);
    searchFor(QStringLiteral("Alpha"), onlyActive);
    window->bookComboBox->setCurrentIndex(bookEntry);
    QString shownBook;
    QString shownQuestion;
    bool focusInAnswers = false;
    bool guardWhileOpen = true;
    TestSupport::onModal<EditNivletDialog>([&](EditNivletDialog *dialog) {
        shownBook = dialog->bookCombo->currentText();
        shownQuestion = dialog->questionEdit->toPlainText();
        QTRY_VERIFY(QApplication::focusWidget());
        focusInAnswers = QApplication::focusWidget() == dialog->answersEdit;
        guardWhileOpen = window->autoChallengeAllowed;
        dialog->questionEdit->setPlainText(QStringLiteral("Alpha new"));
        dialog->answersEdit->setPlainText(QStringLiteral("new"));
        QTest::mouseClick(dialog->okButton, Qt::LeftButton);
    });
    QTest::mouseClick(window->newButton, Qt::LeftButton);
    QCOMPARE(shownBook, expectedBook);
    QCOMPARE(shownQuestion, QStringLiteral("Alpha"));
    QVERIFY(focusInAnswers);
    QVERIFY(!guardWhileOpen);
    QVERIFY(window->autoChallengeAllowed);
    QCOMPARE(window->totalCountLabel->text(), QStringLiteral("<b>%1</b>").arg(totalRows));
    // The shown search has been repeated with the panel's inputs, book included.
    bool listed = false;
    for (int i = 0; i < window->nivletsModel->rowCount(); ++i)
        listed =
            listed || window->nivletsModel->nivletAt(i)->question == QLatin1String("Alpha new");
    QCOMPARE(listed, bookEntry != 0 || expectedBook == QLatin1String("Rivers"));
}

void TestMainWindow::editRepeatsTheSearch()
{
    searchFor(QStringLiteral("Alpha"));
    QCOMPARE(window->nivletsModel->rowCount(), 4);
    select({1});
    QCOMPARE(window->nivletsModel->nivletAt(1)->id, 2);
    QString shown;
    TestSupport::onModal<EditNivletDialog>([&](EditNivletDialog *dialog) {
        shown = dialog->questionEdit->toPlainText();
        QVERIFY(!dialog->bookCombo->isEnabled());
        dialog->questionEdit->setPlainText(QStringLiteral("Beta two"));
        QTest::mouseClick(dialog->okButton, Qt::LeftButton);
    });
    QTest::mouseClick(window->editButton, Qt::LeftButton);
    QCOMPARE(shown, QStringLiteral("Alpha two"));
    QCOMPARE(window->nivletsModel->rowCount(), 3);
    QCOMPARE(window->resultLabel->text(), foundText(3));
    QCOMPARE(window->questionEdit->text(), QStringLiteral("Alpha"));
    QVERIFY(!window->editButton->isEnabled());
    QVERIFY(window->autoChallengeAllowed);

    // Cancelled: nothing is searched again.
    select({0});
    QSignalSpy resets(window->nivletsModel, &QAbstractItemModel::modelReset);
    TestSupport::onModal<EditNivletDialog>(
        [](EditNivletDialog *dialog) { QTest::mouseClick(dialog->cancelButton, Qt::LeftButton); });
    QTest::mouseClick(window->editButton, Qt::LeftButton);
    QCOMPARE(resets.count(), 0);
    QCOMPARE(window->selectedRow(), 0);
}

void TestMainWindow::editNivletWithMissingBook()
{
    // The search joins the book table and never lists this row; the editor
    // is reached the way the correction after a challenge reaches it.
    bool seen = false;
    TestSupport::onModal<EditNivletDialog>(
        [](EditNivletDialog *dialog) {
            QCOMPARE(dialog->bookCombo->currentIndex(), -1);
            dialog->answersEdit->setPlainText(QStringLiteral("orphan answer"));
            QTest::mouseClick(dialog->okButton, Qt::LeftButton);
        },
        &seen);
    window->autoChallengeAllowed = false;
    window->openNivletEditor(5, QString());
    window->autoChallengeAllowed = true;
    QVERIFY(seen);
    QVERIFY(boxes->texts.isEmpty());
    std::unique_ptr<Nivlet> row(window->core->getNivlet(5));
    QVERIFY(row);
    QCOMPARE(row->answer, QStringLiteral("orphan answer"));
    QVERIFY(!row->book);
}

void TestMainWindow::deleteOne()
{
    searchFor(QStringLiteral("Alpha"));
    select({2});
    QCOMPARE(window->nivletsModel->nivletAt(2)->id, 3);
    QString title;
    QString text;
    Qt::TextFormat format = Qt::AutoText;
    QMessageBox::Icon icon = QMessageBox::Warning;
    QMessageBox::StandardButtons buttons;
    QAbstractButton *defaultButton = nullptr;
    QAbstractButton *yes = nullptr;
    bool guardWhileOpen = true;
    TestSupport::onModal<QMessageBox>([&](QMessageBox *box) {
        title = box->windowTitle();
        text = box->text();
        format = box->textFormat();
        icon = box->icon();
        buttons = box->standardButtons();
        defaultButton = box->defaultButton();
        yes = box->button(QMessageBox::Yes);
        guardWhileOpen = window->autoChallengeAllowed;
        QVERIFY(!box->parent());
        // Return takes the default button.
        QTest::keyClick(box, Qt::Key_Return);
    });
    QTest::mouseClick(window->deleteButton, Qt::LeftButton);
    QCOMPARE(title, QStringLiteral("Delete nivlet(s)"));
    QCOMPARE(text, QStringLiteral("Are you sure you want to delete nivlet #3?"));
    QCOMPARE(format, Qt::PlainText);
    QCOMPARE(icon, QMessageBox::NoIcon);
    QCOMPARE(buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(defaultButton, yes);
    QVERIFY(!guardWhileOpen);
    QVERIFY(window->autoChallengeAllowed);
    QVERIFY(!rowExists(3));
    QVERIFY(rowExists(2));
    QCOMPARE(window->nivletsModel->rowCount(), 3);
    QCOMPARE(window->resultLabel->text(), foundText(3));
    QCOMPARE(window->totalCountLabel->text(), QStringLiteral("<b>%1</b>").arg(totalRows - 2));
    QVERIFY(boxes->texts.isEmpty());
}

void TestMainWindow::deleteSeveral()
{
    searchFor(QStringLiteral("Alpha"));
    select({0, 3});
    QString text;
    TestSupport::onModal<QMessageBox>([&](QMessageBox *box) {
        text = box->text();
        QTest::mouseClick(box->button(QMessageBox::Yes), Qt::LeftButton);
    });
    QTest::mouseClick(window->deleteButton, Qt::LeftButton);
    QCOMPARE(text, QStringLiteral("Are you sure you want to delete the selected nivlets?"));
    QVERIFY(!rowExists(1));
    QVERIFY(!rowExists(4));
    QVERIFY(rowExists(2));
    QVERIFY(rowExists(3));
    QCOMPARE(window->nivletsModel->rowCount(), 2);
    QCOMPARE(window->totalCountLabel->text(), QStringLiteral("<b>%1</b>").arg(totalRows - 3));
}

void TestMainWindow::deleteAnsweredNo()
{
    searchFor(QStringLiteral("Alpha"));
    select({0, 1});
    QSignalSpy resets(window->nivletsModel, &QAbstractItemModel::modelReset);
    TestSupport::onModal<QMessageBox>(
        [&](QMessageBox *box) { QTest::mouseClick(box->button(QMessageBox::No), Qt::LeftButton); });
    QTest::mouseClick(window->deleteButton, Qt::LeftButton);
    QVERIFY(rowExists(1));
    QVERIFY(rowExists(2));
    QCOMPARE(resets.count(), 0);
    QCOMPARE(window->selectedRow(), 0);
    QVERIFY(window->deleteButton->isEnabled());
    QVERIFY(window->autoChallengeAllowed);
    QVERIFY(!window->core->activeListStale());
}

void TestMainWindow::failingDeleteStillRefreshes()
{
    searchFor(QStringLiteral("Alpha"));
    select({0, 1});
    QSignalSpy resets(window->nivletsModel, &QAbstractItemModel::modelReset);
    // The store can still read, but not change anything.
    TestSupport::LockingConnection lock("BEGIN IMMEDIATE");
    QVERIFY(lock.locked);
    TestSupport::onModal<QMessageBox>([&](QMessageBox *box) {
        QTest::mouseClick(box->button(QMessageBox::Yes), Qt::LeftButton);
    });
    QTest::mouseClick(window->deleteButton, Qt::LeftButton);
    QTRY_VERIFY(!boxes->texts.isEmpty());
    QVERIFY2(
        boxes->texts.last().startsWith(QStringLiteral("Could not delete nivlet. error code: 5")),
        qPrintable(boxes->texts.join(QLatin1Char('|'))));
    QVERIFY(rowExists(1));
    QCOMPARE(resets.count(), 1);
    QVERIFY(window->nivletsModel->hasNivlets());
    QCOMPARE(window->nivletsModel->rowCount(), 4);
    QVERIFY(window->autoChallengeAllowed);
}

void TestMainWindow::booksChangedDropsTheResult()
{
    window->bookComboBox->setCurrentIndex(1);
    searchFor(QStringLiteral("Alpha"));
    QCOMPARE(window->nivletsModel->rowCount(), 3);
    select({0});
    QVERIFY(!window->grab().isNull());
    Book *rivers = window->core->book(0);
    QCOMPARE(window->nivletsModel->nivletAt(0)->book, rivers);
    QSignalSpy resets(window->nivletsModel, &QAbstractItemModel::modelReset);
    QVERIFY(window->core->deleteBook(rivers));
    QCOMPARE(resets.count(), 1);
    QCOMPARE(window->nivletsModel->rowCount(), 0);
    QVERIFY(!window->nivletsModel->hasNivlets());
    QVERIFY(window->resultLabel->isHidden());
    QVERIFY(!window->editButton->isEnabled());
    QVERIFY(!window->deleteButton->isEnabled());
    // Painting after the change reads nothing of the deleted book.
    window->nivletTableView->viewport()->repaint();
    QVERIFY(!window->grab().isNull());
    // Nothing is repeated after the drop: no result is shown.
    window->refreshAfterChange();
    QCOMPARE(window->nivletsModel->rowCount(), 0);

    searchFor(QStringLiteral("Alpha"));
    QVERIFY(window->core->editBook(window->core->book(0), QStringLiteral("Concealed"), false));
    QVERIFY(!window->nivletsModel->hasNivlets());
}

void TestMainWindow::userTextIsPlain()
{
    QVERIFY(window->core->editBook(window->core->book(2), QStringLiteral("<i>Lakes</i>"), true));
    QVERIFY(window->core->editNivlet(101, QStringLiteral("Many <img src=\"x.png\"> 1"),
                                     QStringLiteral("m"), true));
    QTest::mouseClick(window->resetButton, Qt::LeftButton);
    QCOMPARE(window->bookComboBox->itemText(3), QStringLiteral("<i>Lakes</i>"));
    searchFor(QStringLiteral("Many <img"));
    QCOMPARE(window->nivletsModel->rowCount(), 1);
    QCOMPARE(window->nivletsModel->data(window->nivletsModel->index(0, 1)).toString(),
             QStringLiteral("Many <img src=\"x.png\"> 1"));
    QCOMPARE(window->nivletsModel->data(window->nivletsModel->index(0, 4)).toString(),
             QStringLiteral("<i>Lakes</i>"));
    select({0});
    QString question;
    TestSupport::onModal<QMessageBox>([&](QMessageBox *box) {
        question = box->text();
        QTest::mouseClick(box->button(QMessageBox::No), Qt::LeftButton);
    });
    QTest::mouseClick(window->deleteButton, Qt::LeftButton);
    QCOMPARE(question, QStringLiteral("Are you sure you want to delete nivlet #101?"));
    QVERIFY(!window->grab().isNull());
}

void TestMainWindow::guardDuringCommands()
{
    searchFor(QStringLiteral("Alpha"));
    // A search run inside a command leaves the guard to that command.
    window->autoChallengeAllowed = false;
    window->search();
    QVERIFY(!window->autoChallengeAllowed);
    window->refreshAfterChange();
    QVERIFY(!window->autoChallengeAllowed);
    window->reset();
    QVERIFY(!window->autoChallengeAllowed);
    window->autoChallengeAllowed = true;
    window->reset();
    QVERIFY(window->autoChallengeAllowed);

    // Edit and delete with nothing selected open nothing and set the guard again.
    window->editNivlet();
    window->deleteNivlets();
    QVERIFY(!QApplication::activeModalWidget());
    QVERIFY(window->autoChallengeAllowed);

    bool guardInEditor = true;
    searchFor(QStringLiteral("Alpha"));
    select({0});
    TestSupport::onModal<EditNivletDialog>([&](EditNivletDialog *dialog) {
        guardInEditor = window->autoChallengeAllowed;
        dialog->reject();
    });
    window->editNivlet();
    QVERIFY(!guardInEditor);
    QVERIFY(window->autoChallengeAllowed);
}

void TestMainWindow::newDisabledWithoutBooks()
{
    QVERIFY(TestSupport::createDatabase(work->path()));
    QVERIFY(openWindow());
    QVERIFY(!window->newButton->isEnabled());
    QCOMPARE(window->totalCountLabel->text(), QStringLiteral("<b>0</b>"));
    QCOMPARE(window->bookComboBox->count(), 1);
    QVERIFY(window->core->addBook(QStringLiteral("First"), true));
    window->reset();
    QVERIFY(window->newButton->isEnabled());
    QCOMPARE(window->bookComboBox->count(), 2);
}

// The first start of the day copies the file once the window is up, not
// before it is built.
void TestMainWindow::backupAfterTheWindowIsUp()
{
    tester.reset();
    window.reset();
    QVERIFY(QDir(QStringLiteral("backups")).removeRecursively());
    const Backups backups(QStringLiteral("backups"));
    MainWindow fresh;
    QVERIFY(fresh.init());
    QVERIFY(!fresh.core->backupRunning());
    QVERIFY(backups.files().isEmpty());
    fresh.show();
    QVERIFY(QTest::qWaitForWindowExposed(&fresh));
    QTRY_COMPARE(backups.files().size(), 1);
    QVERIFY(boxes->texts.isEmpty());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
