#include "backups.h"
#include "book.h"
#include "bookcombobox.h"
#include "editnivletdialog.h"
#include "guiutil.h"
#include "mainwindow.h"
#include "mainwindowtestaccess.h"
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

using TestSupport::child;

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
    MainWindowTestAccess ui() const { return MainWindowTestAccess(window.get()); }
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
    ui().core()->setBusyTimeout(50);
    tester = std::make_unique<QAbstractItemModelTester>(
        ui().nivletsModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);
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
    QItemSelectionModel *selection = ui().nivletTableView()->selectionModel();
    selection->clearSelection();
    for (int row : rows)
        selection->select(ui().nivletsModel()->index(row, 0),
                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

void TestMainWindow::searchFor(const QString &text, bool onlyActive)
{
    ui().questionEdit()->setText(text);
    ui().onlyActiveCheckBox()->setChecked(onlyActive);
    QTest::mouseClick(ui().button("searchButton"), Qt::LeftButton);
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
    const QList<QPushButton *> commandButtons{
        ui().button("challengeButton"), ui().button("puzzleButton"), ui().button("booksButton"),
        ui().button("optionsButton"),   ui().button("aboutButton"),  ui().button("exitButton")};
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
    QCOMPARE(grid->itemAtPosition(0, 4)->widget(), ui().questionEdit());
    QCOMPARE(qobject_cast<QLabel *>(grid->itemAtPosition(1, 0)->widget())->text(),
             QStringLiteral("Book:"));
    QCOMPARE(grid->itemAtPosition(1, 1)->widget(), ui().bookComboBox());
    QCOMPARE(grid->itemAtPosition(1, 4)->widget(), ui().bookComboBox());
    QVERIFY(ui().bookComboBox()->hasAllBooksEntry());
    QCOMPARE(grid->itemAtPosition(2, 1)->widget(), ui().onlyActiveCheckBox());
    QCOMPARE(grid->itemAtPosition(2, 4)->widget(), ui().onlyActiveCheckBox());
    QCOMPARE(ui().onlyActiveCheckBox()->text(),
             QStringLiteral("Only active nivlets in active books"));

    auto *searchRow = qobject_cast<QHBoxLayout *>(main->itemAt(4)->layout());
    QVERIFY(searchRow);
    QCOMPARE(searchRow->itemAt(0)->widget(), ui().button("searchButton"));
    QCOMPARE(searchRow->itemAt(1)->widget(), ui().button("resetButton"));
    QVERIFY(searchRow->itemAt(2)->spacerItem());
    QCOMPARE(ui().button("searchButton")->text(), QStringLiteral("&Search nivlets"));
    QVERIFY(hasFixedWidth(ui().button("searchButton"), 130));
    QCOMPARE(ui().button("resetButton")->text(), QStringLiteral("&Reset"));
    QVERIFY(hasFixedWidth(ui().button("resetButton"), 75));
    // "&Reset" with its icon fits in 75 pixels in the test's font; the
    // style's smallest width of a button with a text is 80.
    QVERIFY(GuiUtil::neededButtonWidth(ui().button("resetButton")) <= 75);
    QCOMPARE(ui().button("resetButton")->width(), 75);

    QCOMPARE(main->itemAt(5)->widget(), ui().resultLabel());
    QCOMPARE(ui().resultLabel()->margin(), 2);
    QVERIFY(ui().resultLabel()->isHidden());

    QCOMPARE(main->itemAt(6)->widget(), ui().nivletTableView());
    QVERIFY(ui().nivletTableView()->verticalHeader()->isHidden());
    QCOMPARE(ui().nivletTableView()->selectionMode(), QAbstractItemView::ExtendedSelection);
    QCOMPARE(ui().nivletTableView()->selectionBehavior(), QAbstractItemView::SelectRows);
    QCOMPARE(ui().nivletTableView()->model(), ui().nivletsModel());
    QCOMPARE(ui().nivletsModel()->parent(), window.get());
    const QList<std::pair<int, double>> specs{
        {70, 2.0}, {120, 4.0}, {60, 1.0}, {50, 1.0}, {80, 3.0}};
    QCOMPARE(ui().nivletTableView()->columnSpecs().size(), 5);
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(ui().nivletTableView()->columnSpecs().at(i).minWidth, specs.at(i).first);
        QCOMPARE(ui().nivletTableView()->columnSpecs().at(i).weight, specs.at(i).second);
    }
    int widths = 0;
    for (int i = 0; i < 5; ++i)
        widths += ui().nivletTableView()->columnWidth(i);
    QCOMPARE(widths, ui().nivletTableView()->width() - 19);

    auto *listRow = qobject_cast<QHBoxLayout *>(main->itemAt(7)->layout());
    QVERIFY(listRow);
    const QList<QPushButton *> listButtons{ui().button("newButton"), ui().button("editButton"),
                                           ui().button("deleteButton")};
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
    QCOMPARE(totalRow->itemAt(1)->widget(), ui().totalCountLabel());
    QCOMPARE(ui().totalCountLabel()->text(), QStringLiteral("<b>%1</b>").arg(totalRows - 1));
    QCOMPARE(ui().totalCountLabel()->textFormat(), Qt::RichText);

    QVERIFY(ui().button("newButton")->isEnabled());
    QVERIFY(!ui().button("editButton")->isEnabled());
    QVERIFY(!ui().button("deleteButton")->isEnabled());
    QVERIFY(ui().autoChallengeAllowed());
    QVERIFY(ui().trayIcon()->isVisible());
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
    QCOMPARE(ui().nivletsModel()->rowCount(), rows);
    QCOMPARE(ui().resultLabel()->text(), label);
    QCOMPARE(ui().resultLabel()->textFormat(), Qt::RichText);
    QVERIFY(ui().resultLabel()->isVisible());
    QVERIFY(ui().button("searchButton")->isEnabled());
    QVERIFY(!ui().button("editButton")->isEnabled());
    QVERIFY(!ui().button("deleteButton")->isEnabled());
    // Lowest rate first.
    for (int i = 1; i < rows; ++i)
        QVERIFY(ui().nivletsModel()->nivletAt(i - 1)->knRate <=
                ui().nivletsModel()->nivletAt(i)->knRate);
    QVERIFY(ui().autoChallengeAllowed());
}

void TestMainWindow::searchInputs()
{
    const auto ids = [&] {
        QList<qint64> list;
        for (int i = 0; i < ui().nivletsModel()->rowCount(); ++i)
            list << ui().nivletsModel()->nivletAt(i)->id;
        return list;
    };
    searchFor(QStringLiteral("Alpha"));
    QCOMPARE(ids(), (QList<qint64>{1, 2, 3, 4}));
    searchFor(QStringLiteral("Alpha"), true);
    QCOMPARE(ids(), (QList<qint64>{1, 2}));
    // The text is taken as typed, not trimmed.
    searchFor(QStringLiteral(" Alpha"));
    QCOMPARE(ids(), QList<qint64>{});
    ui().bookComboBox()->setCurrentIndex(2);
    searchFor(QStringLiteral("alpha"));
    QCOMPARE(ids(), QList<qint64>{3});
    // An empty text over all books lists up to 200, lowest rate first.
    ui().bookComboBox()->setCurrentIndex(0);
    searchFor(QString());
    QCOMPARE(ui().nivletsModel()->rowCount(), 200);
    QCOMPARE(ui().resultLabel()->text(), limitText);
    QCOMPARE(ui().nivletsModel()->nivletAt(0)->knRate, 0.001);
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
    QCOMPARE(ui().nivletsModel()->rowCount(), 0);
    QVERIFY(!ui().nivletsModel()->hasNivlets());
    QVERIFY(ui().resultLabel()->isHidden());
    QVERIFY(ui().button("searchButton")->isEnabled());
    QVERIFY(ui().autoChallengeAllowed());
}

void TestMainWindow::resultTableShowsEightRows()
{
    QVERIFY(TestSupport::execSql(
        work->file(QStringLiteral("nivlets")),
        QStringLiteral("INSERT INTO nivlet (id, active, kn_rate, book_id, question, answer) "
                       "VALUES (950, 1, 0.0, 3, 'Few and far between: a question far too long "
                       "for its column, which would take a second line', 'x')")));
    searchFor(QStringLiteral("Few "));
    QCOMPARE(ui().nivletsModel()->rowCount(), 200);
    QCOMPARE(window->height(), 570);
    NivletTableView *view = ui().nivletTableView();
    QCOMPARE(ui().nivletsModel()->nivletAt(0)->id, 950);
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
    QVERIFY(ui().button("editButton")->isEnabled());
    QVERIFY(ui().button("deleteButton")->isEnabled());
    QCOMPARE(window->selectedRow(), 2);
    select({1, 3});
    QVERIFY(!ui().button("editButton")->isEnabled());
    QVERIFY(ui().button("deleteButton")->isEnabled());
    select({});
    QVERIFY(!ui().button("editButton")->isEnabled());
    QVERIFY(!ui().button("deleteButton")->isEnabled());
    QCOMPARE(window->selectedRow(), -1);

    // By mouse and keyboard as a user would select.
    const QRect cell = ui().nivletTableView()->visualRect(ui().nivletsModel()->index(0, 1));
    QTest::mouseClick(ui().nivletTableView()->viewport(), Qt::LeftButton, {}, cell.center());
    QVERIFY(ui().button("editButton")->isEnabled());
    const QRect other = ui().nivletTableView()->visualRect(ui().nivletsModel()->index(2, 1));
    QTest::mouseClick(ui().nivletTableView()->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      other.center());
    QVERIFY(!ui().button("editButton")->isEnabled());
    QVERIFY(ui().button("deleteButton")->isEnabled());
    // A new search clears the selection.
    searchFor(QStringLiteral("Alpha"));
    QVERIFY(!ui().button("deleteButton")->isEnabled());
}

void TestMainWindow::returnInQuestionStartsNothing()
{
    window->activateWindow();
    ui().questionEdit()->setFocus();
    QTRY_VERIFY(ui().questionEdit()->hasFocus());
    QSignalSpy resets(ui().nivletsModel(), &QAbstractItemModel::modelReset);
    QTest::keyClicks(ui().questionEdit(), QStringLiteral("Alpha"));
    QTest::keyClick(ui().questionEdit(), Qt::Key_Return);
    QTest::keyClick(ui().questionEdit(), Qt::Key_Enter);
    QTest::qWait(50);
    QCOMPARE(resets.count(), 0);
    QVERIFY(ui().resultLabel()->isHidden());
    QVERIFY(!QApplication::activeModalWidget());
    QCOMPARE(ui().questionEdit()->text(), QStringLiteral("Alpha"));
}

void TestMainWindow::resetEmptiesThePanel()
{
    ui().bookComboBox()->setCurrentIndex(3);
    searchFor(QStringLiteral("Many"), false);
    select({0});
    QVERIFY(ui().nivletsModel()->rowCount() > 0);
    QTest::mouseClick(ui().button("resetButton"), Qt::LeftButton);
    QCOMPARE(ui().questionEdit()->text(), QString());
    QVERIFY(ui().onlyActiveCheckBox()->isChecked());
    QCOMPARE(ui().bookComboBox()->currentIndex(), 0);
    QCOMPARE(ui().bookComboBox()->currentText(), QStringLiteral("*All books*"));
    QCOMPARE(ui().nivletsModel()->rowCount(), 0);
    QVERIFY(!ui().nivletsModel()->hasNivlets());
    QVERIFY(ui().resultLabel()->isHidden());
    QVERIFY(!ui().button("editButton")->isEnabled());
    QVERIFY(!ui().button("deleteButton")->isEnabled());
    QCOMPARE(ui().totalCountLabel()->text(), QStringLiteral("<b>%1</b>").arg(totalRows - 1));
}

void TestMainWindow::changeAfterResetUpdatesOnlyTheTotal()
{
    searchFor(QStringLiteral("Alpha"));
    QTest::mouseClick(ui().button("resetButton"), Qt::LeftButton);
    ui().bookComboBox()->setCurrentIndex(1);
    ui().questionEdit()->setText(QStringLiteral("Alpha five"));
    QSignalSpy resets(ui().nivletsModel(), &QAbstractItemModel::modelReset);
    TestSupport::onModal<EditNivletDialog>([](EditNivletDialog *dialog) {
        child<QTextEdit>(dialog, "answersEdit")->setPlainText(QStringLiteral("five"));
        QTest::mouseClick(child<QPushButton>(dialog, "okButton"), Qt::LeftButton);
    });
    QTest::mouseClick(ui().button("newButton"), Qt::LeftButton);
    QCOMPARE(resets.count(), 0);
    QCOMPARE(ui().nivletsModel()->rowCount(), 0);
    QVERIFY(ui().resultLabel()->isHidden());
    QCOMPARE(ui().totalCountLabel()->text(), QStringLiteral("<b>%1</b>").arg(totalRows));
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
    ui().bookComboBox()->setCurrentIndex(bookEntry);
    QString shownBook;
    QString shownQuestion;
    bool focusInAnswers = false;
    bool guardWhileOpen = true;
    TestSupport::onModal<EditNivletDialog>([&](EditNivletDialog *dialog) {
        shownBook = child<BookComboBox>(dialog, "bookCombo")->currentText();
        shownQuestion = child<QTextEdit>(dialog, "questionEdit")->toPlainText();
        QTRY_VERIFY(QApplication::focusWidget());
        focusInAnswers = QApplication::focusWidget() == child<QTextEdit>(dialog, "answersEdit");
        guardWhileOpen = ui().autoChallengeAllowed();
        child<QTextEdit>(dialog, "questionEdit")->setPlainText(QStringLiteral("Alpha new"));
        child<QTextEdit>(dialog, "answersEdit")->setPlainText(QStringLiteral("new"));
        QTest::mouseClick(child<QPushButton>(dialog, "okButton"), Qt::LeftButton);
    });
    QTest::mouseClick(ui().button("newButton"), Qt::LeftButton);
    QCOMPARE(shownBook, expectedBook);
    QCOMPARE(shownQuestion, QStringLiteral("Alpha"));
    QVERIFY(focusInAnswers);
    QVERIFY(!guardWhileOpen);
    QVERIFY(ui().autoChallengeAllowed());
    QCOMPARE(ui().totalCountLabel()->text(), QStringLiteral("<b>%1</b>").arg(totalRows));
    // The shown search has been repeated with the panel's inputs, book included.
    bool listed = false;
    for (int i = 0; i < ui().nivletsModel()->rowCount(); ++i)
        listed = listed || ui().nivletsModel()->nivletAt(i)->question == QLatin1String("Alpha new");
    QCOMPARE(listed, bookEntry != 0 || expectedBook == QLatin1String("Rivers"));
}

void TestMainWindow::editRepeatsTheSearch()
{
    searchFor(QStringLiteral("Alpha"));
    QCOMPARE(ui().nivletsModel()->rowCount(), 4);
    select({1});
    QCOMPARE(ui().nivletsModel()->nivletAt(1)->id, 2);
    QString shown;
    TestSupport::onModal<EditNivletDialog>([&](EditNivletDialog *dialog) {
        shown = child<QTextEdit>(dialog, "questionEdit")->toPlainText();
        QVERIFY(!child<BookComboBox>(dialog, "bookCombo")->isEnabled());
        child<QTextEdit>(dialog, "questionEdit")->setPlainText(QStringLiteral("Beta two"));
        QTest::mouseClick(child<QPushButton>(dialog, "okButton"), Qt::LeftButton);
    });
    QTest::mouseClick(ui().button("editButton"), Qt::LeftButton);
    QCOMPARE(shown, QStringLiteral("Alpha two"));
    QCOMPARE(ui().nivletsModel()->rowCount(), 3);
    QCOMPARE(ui().resultLabel()->text(), foundText(3));
    QCOMPARE(ui().questionEdit()->text(), QStringLiteral("Alpha"));
    QVERIFY(!ui().button("editButton")->isEnabled());
    QVERIFY(ui().autoChallengeAllowed());

    // Cancelled: nothing is searched again.
    select({0});
    QSignalSpy resets(ui().nivletsModel(), &QAbstractItemModel::modelReset);
    TestSupport::onModal<EditNivletDialog>([](EditNivletDialog *dialog) {
        QTest::mouseClick(child<QPushButton>(dialog, "cancelButton"), Qt::LeftButton);
    });
    QTest::mouseClick(ui().button("editButton"), Qt::LeftButton);
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
            QCOMPARE(child<BookComboBox>(dialog, "bookCombo")->currentIndex(), -1);
            child<QTextEdit>(dialog, "answersEdit")->setPlainText(QStringLiteral("orphan answer"));
            QTest::mouseClick(child<QPushButton>(dialog, "okButton"), Qt::LeftButton);
        },
        &seen);
    ui().setAutoChallengeAllowed(false);
    window->openNivletEditor(5, QString());
    ui().setAutoChallengeAllowed(true);
    QVERIFY(seen);
    QVERIFY(boxes->texts.isEmpty());
    std::unique_ptr<Nivlet> row(ui().core()->getNivlet(5));
    QVERIFY(row);
    QCOMPARE(row->answer, QStringLiteral("orphan answer"));
    QVERIFY(!row->book);
}

void TestMainWindow::deleteOne()
{
    searchFor(QStringLiteral("Alpha"));
    select({2});
    QCOMPARE(ui().nivletsModel()->nivletAt(2)->id, 3);
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
        guardWhileOpen = ui().autoChallengeAllowed();
        QVERIFY(!box->parent());
        // Return takes the default button.
        QTest::keyClick(box, Qt::Key_Return);
    });
    QTest::mouseClick(ui().button("deleteButton"), Qt::LeftButton);
    QCOMPARE(title, QStringLiteral("Delete nivlet(s)"));
    QCOMPARE(text, QStringLiteral("Are you sure you want to delete nivlet #3?"));
    QCOMPARE(format, Qt::PlainText);
    QCOMPARE(icon, QMessageBox::NoIcon);
    QCOMPARE(buttons, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(defaultButton, yes);
    QVERIFY(!guardWhileOpen);
    QVERIFY(ui().autoChallengeAllowed());
    QVERIFY(!rowExists(3));
    QVERIFY(rowExists(2));
    QCOMPARE(ui().nivletsModel()->rowCount(), 3);
    QCOMPARE(ui().resultLabel()->text(), foundText(3));
    QCOMPARE(ui().totalCountLabel()->text(), QStringLiteral("<b>%1</b>").arg(totalRows - 2));
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
    QTest::mouseClick(ui().button("deleteButton"), Qt::LeftButton);
    QCOMPARE(text, QStringLiteral("Are you sure you want to delete the selected nivlets?"));
    QVERIFY(!rowExists(1));
    QVERIFY(!rowExists(4));
    QVERIFY(rowExists(2));
    QVERIFY(rowExists(3));
    QCOMPARE(ui().nivletsModel()->rowCount(), 2);
    QCOMPARE(ui().totalCountLabel()->text(), QStringLiteral("<b>%1</b>").arg(totalRows - 3));
}

void TestMainWindow::deleteAnsweredNo()
{
    searchFor(QStringLiteral("Alpha"));
    select({0, 1});
    QSignalSpy resets(ui().nivletsModel(), &QAbstractItemModel::modelReset);
    TestSupport::onModal<QMessageBox>(
        [&](QMessageBox *box) { QTest::mouseClick(box->button(QMessageBox::No), Qt::LeftButton); });
    QTest::mouseClick(ui().button("deleteButton"), Qt::LeftButton);
    QVERIFY(rowExists(1));
    QVERIFY(rowExists(2));
    QCOMPARE(resets.count(), 0);
    QCOMPARE(window->selectedRow(), 0);
    QVERIFY(ui().button("deleteButton")->isEnabled());
    QVERIFY(ui().autoChallengeAllowed());
    QVERIFY(!ui().core()->activeListStale());
}

void TestMainWindow::failingDeleteStillRefreshes()
{
    searchFor(QStringLiteral("Alpha"));
    select({0, 1});
    QSignalSpy resets(ui().nivletsModel(), &QAbstractItemModel::modelReset);
    // The store can still read, but not change anything.
    TestSupport::LockingConnection lock("BEGIN IMMEDIATE");
    QVERIFY(lock.locked);
    TestSupport::onModal<QMessageBox>([&](QMessageBox *box) {
        QTest::mouseClick(box->button(QMessageBox::Yes), Qt::LeftButton);
    });
    QTest::mouseClick(ui().button("deleteButton"), Qt::LeftButton);
    QTRY_VERIFY(!boxes->texts.isEmpty());
    QVERIFY2(
        boxes->texts.last().startsWith(QStringLiteral("Could not delete nivlet. error code: 5")),
        qPrintable(boxes->texts.join(QLatin1Char('|'))));
    QVERIFY(rowExists(1));
    QCOMPARE(resets.count(), 1);
    QVERIFY(ui().nivletsModel()->hasNivlets());
    QCOMPARE(ui().nivletsModel()->rowCount(), 4);
    QVERIFY(ui().autoChallengeAllowed());
}

void TestMainWindow::booksChangedDropsTheResult()
{
    ui().bookComboBox()->setCurrentIndex(1);
    searchFor(QStringLiteral("Alpha"));
    QCOMPARE(ui().nivletsModel()->rowCount(), 3);
    select({0});
    QVERIFY(!window->grab().isNull());
    Book *rivers = ui().core()->book(0);
    QCOMPARE(ui().nivletsModel()->nivletAt(0)->book, rivers);
    QSignalSpy resets(ui().nivletsModel(), &QAbstractItemModel::modelReset);
    QVERIFY(ui().core()->deleteBook(rivers));
    QCOMPARE(resets.count(), 1);
    QCOMPARE(ui().nivletsModel()->rowCount(), 0);
    QVERIFY(!ui().nivletsModel()->hasNivlets());
    QVERIFY(ui().resultLabel()->isHidden());
    QVERIFY(!ui().button("editButton")->isEnabled());
    QVERIFY(!ui().button("deleteButton")->isEnabled());
    // Painting after the change reads nothing of the deleted book.
    ui().nivletTableView()->viewport()->repaint();
    QVERIFY(!window->grab().isNull());
    // Nothing is repeated after the drop: no result is shown.
    window->refreshAfterChange();
    QCOMPARE(ui().nivletsModel()->rowCount(), 0);

    searchFor(QStringLiteral("Alpha"));
    QVERIFY(ui().core()->editBook(ui().core()->book(0), QStringLiteral("Concealed"), false));
    QVERIFY(!ui().nivletsModel()->hasNivlets());
}

void TestMainWindow::userTextIsPlain()
{
    QVERIFY(ui().core()->editBook(ui().core()->book(2), QStringLiteral("<i>Lakes</i>"), true));
    QVERIFY(ui().core()->editNivlet(101, QStringLiteral("Many <img src=\"x.png\"> 1"),
                                    QStringLiteral("m"), true));
    QTest::mouseClick(ui().button("resetButton"), Qt::LeftButton);
    QCOMPARE(ui().bookComboBox()->itemText(3), QStringLiteral("<i>Lakes</i>"));
    searchFor(QStringLiteral("Many <img"));
    QCOMPARE(ui().nivletsModel()->rowCount(), 1);
    QCOMPARE(ui().nivletsModel()->data(ui().nivletsModel()->index(0, 1)).toString(),
             QStringLiteral("Many <img src=\"x.png\"> 1"));
    QCOMPARE(ui().nivletsModel()->data(ui().nivletsModel()->index(0, 4)).toString(),
             QStringLiteral("<i>Lakes</i>"));
    select({0});
    QString question;
    TestSupport::onModal<QMessageBox>([&](QMessageBox *box) {
        question = box->text();
        QTest::mouseClick(box->button(QMessageBox::No), Qt::LeftButton);
    });
    QTest::mouseClick(ui().button("deleteButton"), Qt::LeftButton);
    QCOMPARE(question, QStringLiteral("Are you sure you want to delete nivlet #101?"));
    QVERIFY(!window->grab().isNull());
}

void TestMainWindow::guardDuringCommands()
{
    searchFor(QStringLiteral("Alpha"));
    // A search run inside a command leaves the guard to that command.
    ui().setAutoChallengeAllowed(false);
    window->search();
    QVERIFY(!ui().autoChallengeAllowed());
    window->refreshAfterChange();
    QVERIFY(!ui().autoChallengeAllowed());
    window->reset();
    QVERIFY(!ui().autoChallengeAllowed());
    ui().setAutoChallengeAllowed(true);
    window->reset();
    QVERIFY(ui().autoChallengeAllowed());

    // Edit and delete with nothing selected open nothing and set the guard again.
    window->editNivlet();
    window->deleteNivlets();
    QVERIFY(!QApplication::activeModalWidget());
    QVERIFY(ui().autoChallengeAllowed());

    bool guardInEditor = true;
    searchFor(QStringLiteral("Alpha"));
    select({0});
    TestSupport::onModal<EditNivletDialog>([&](EditNivletDialog *dialog) {
        guardInEditor = ui().autoChallengeAllowed();
        dialog->reject();
    });
    window->editNivlet();
    QVERIFY(!guardInEditor);
    QVERIFY(ui().autoChallengeAllowed());
}

void TestMainWindow::newDisabledWithoutBooks()
{
    QVERIFY(TestSupport::createDatabase(work->path()));
    QVERIFY(openWindow());
    QVERIFY(!ui().button("newButton")->isEnabled());
    QCOMPARE(ui().totalCountLabel()->text(), QStringLiteral("<b>0</b>"));
    QCOMPARE(ui().bookComboBox()->count(), 1);
    QVERIFY(ui().core()->addBook(QStringLiteral("First"), true));
    window->reset();
    QVERIFY(ui().button("newButton")->isEnabled());
    QCOMPARE(ui().bookComboBox()->count(), 2);
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
    QVERIFY(!MainWindowTestAccess(&fresh).core()->backupRunning());
    QVERIFY(backups.files().isEmpty());
    fresh.show();
    QVERIFY(QTest::qWaitForWindowExposed(&fresh));
    QTRY_COMPARE(backups.files().size(), 1);
    QVERIFY(boxes->texts.isEmpty());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
