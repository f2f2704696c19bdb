#include "windowmakers.h"

#include "aboutdialog.h"
#include "activelist.h"
#include "answerhistory.h"
#include "booksdialog.h"
#include "challengedialog.h"
#include "cwpuzzle.h"
#include "cwpuzzlecreator.h"
#include "cwpuzzledialog.h"
#include "cwpuzzleparamsdialog.h"
#include "cwpuzzlewidget.h"
#include "cwquestiondialog.h"
#include "editbookdialog.h"
#include "editnivletdialog.h"
#include "elapsedclock.h"
#include "errorboxpresenter.h"
#include "knrate.h"
#include "mainwindow.h"
#include "nivlet.h"
#include "nivletcore.h"
#include "nivletstablemodel.h"
#include "nivlettableview.h"
#include "optionsdialog.h"
#include "progresswindow.h"

#include <QFile>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QTabWidget>
#include <QTest>

#include <algorithm>

using TestSupport::child;

WindowFixture::WindowFixture()
{
    const QString file = work.file(QStringLiteral("nivlets"));
    if (!work.isValid() || !QFile::copy(QStringLiteral(NIVLETS_DATABASE), file) ||
        !QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner))
        return;
    store = std::make_unique<NivletCore>();
    valid = store->open();
}

WindowFixture::~WindowFixture() = default;

std::shared_ptr<Nivlet> WindowFixture::nivlet(const QString &question)
{
    const std::unique_ptr<NivletRecords> found = store->search(question, nullptr, false);
    if (!found)
        return nullptr;
    for (std::unique_ptr<Nivlet> &record : *found) {
        if (record->question == question)
            return records.emplace_back(std::move(record));
    }
    return nullptr;
}

CWPuzzle *WindowFixture::puzzle()
{
    // The seed of the README's puzzle pictures: the same puzzle each time.
    seedRandom(4);
    crossword = CWPuzzleCreator().create(store.get(), 12, 12);
    return crossword.get();
}

namespace {
const QString asked = QStringLiteral("Capital of Croatia?");

std::unique_ptr<QWidget> mainWindow(WindowFixture &)
{
    auto window = std::make_unique<MainWindow>();
    if (!window->init())
        return nullptr;
    child<QLineEdit>(window.get(), "questionEdit")->setText(QStringLiteral("Capital of"));
    window->search();
    auto *table = child<NivletTableView>(window.get(), "nivletTableView");
    table->selectionModel()->select(table->model()->index(2, 0),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    return window;
}

std::unique_ptr<ChallengeDialog> challenge(WindowFixture &fixture)
{
    auto dialog = std::make_unique<ChallengeDialog>(nullptr, fixture.core(), fixture.nivlet(asked));
    child<QLineEdit>(dialog.get(), "answerEdit")->setText(QStringLiteral("Split"));
    return dialog;
}

std::unique_ptr<CWPuzzleDialog> puzzle(WindowFixture &fixture, bool checked)
{
    CWPuzzle *crossword = fixture.puzzle();
    if (!crossword || crossword->entries.size() < 3)
        return nullptr;
    auto dialog = std::make_unique<CWPuzzleDialog>(nullptr, crossword, fixture.core());
    auto *grid = child<CWPuzzleWidget>(dialog.get(), "puzzleWidget");
    // A word typed, one given away and one begun with a wrong letter.
    const CWEntry *first = crossword->entries.at(0);
    grid->setCursor(first->x, first->y);
    QTest::keyClicks(grid, first->answer);
    grid->reveal(crossword->entries.at(1));
    const CWEntry *third = crossword->entries.at(2);
    grid->setCursor(third->x, third->y);
    QTest::keyClick(grid, Qt::Key_X);
    if (checked)
        dialog->check();
    return dialog;
}
// The progress window over a few answers of today, on the page given.
std::unique_ptr<QWidget> progressWindow(WindowFixture &fixture, int page)
{
    NivletCore *store = fixture.core();
    const QList<Nivlet *> active = store->activeList()->nivlets();
    for (int i = 0; i < std::min<int>(6, static_cast<int>(active.size())); ++i) {
        Nivlet *n = active.at(i);
        const bool right = i % 3 != 0;
        store->recordAnswer(
            {n, right ? AnswerHistory::Verdict::Right : AnswerHistory::Verdict::Wrong,
             right ? knRateAfterCorrect(n->knRate) : knRateAfterIncorrect(n->knRate)},
            AnswerHistory::Source::Challenge);
    }
    auto window =
        std::make_unique<ProgressWindow>(nullptr, store, store->history(), WallClock::system());
    if (!window->setupUi())
        return nullptr;
    child<QTabWidget>(window.get(), "progressTabs")->setCurrentIndex(page);
    return window;
}
} // namespace

const QList<WindowMaker> &windowMakers()
{
    static const QList<WindowMaker> makers = {
        {QStringLiteral("main window"), mainWindow, false},
        {QStringLiteral("challenge asking"),
         [](WindowFixture &fixture) -> std::unique_ptr<QWidget> { return challenge(fixture); }},
        {QStringLiteral("challenge answered"),
         [](WindowFixture &fixture) -> std::unique_ptr<QWidget> {
             std::unique_ptr<ChallengeDialog> dialog = challenge(fixture);
             dialog->check();
             return dialog;
         }},
        {QStringLiteral("nivlet editor"),
         [](WindowFixture &fixture) -> std::unique_ptr<QWidget> {
             const Nivlet *edited = fixture.nivlet(QStringLiteral("Capital of Belarus?")).get();
             auto dialog = std::make_unique<EditNivletDialog>(nullptr, fixture.core(), edited->id,
                                                              QStringLiteral("\nMiensk"));
             if (!dialog->setupUi(nullptr, QString(), false))
                 return nullptr;
             return dialog;
         }},
        {QStringLiteral("clue"),
         [](WindowFixture &fixture) -> std::unique_ptr<QWidget> {
             return std::make_unique<CWQuestionDialog>(nullptr, fixture.nivlet(asked).get());
         }},
        {QStringLiteral("puzzle size"),
         [](WindowFixture &) -> std::unique_ptr<QWidget> {
             auto dialog = std::make_unique<CWPuzzleParamsDialog>(nullptr);
             child<QLineEdit>(dialog.get(), "widthEdit")->setText(QStringLiteral("12"));
             child<QLineEdit>(dialog.get(), "heightEdit")->setText(QStringLiteral("12"));
             return dialog;
         }},
        {QStringLiteral("puzzle unchecked"),
         [](WindowFixture &fixture) -> std::unique_ptr<QWidget> { return puzzle(fixture, false); }},
        {QStringLiteral("puzzle checked"),
         [](WindowFixture &fixture) -> std::unique_ptr<QWidget> { return puzzle(fixture, true); }},
        {QStringLiteral("books"),
         [](WindowFixture &fixture) -> std::unique_ptr<QWidget> {
             auto dialog = std::make_unique<BooksDialog>(nullptr, fixture.core());
             dialog->setupUi();
             child<NivletTableView>(dialog.get(), "bookTableView")->selectRow(0);
             return dialog;
         }},
        {QStringLiteral("book editor"),
         [](WindowFixture &fixture) -> std::unique_ptr<QWidget> {
             return std::make_unique<EditBookDialog>(nullptr, fixture.core(),
                                                     fixture.core()->book(0));
         }},
        {QStringLiteral("options"),
         [](WindowFixture &fixture) -> std::unique_ptr<QWidget> {
             auto dialog = std::make_unique<OptionsDialog>(nullptr, fixture.core());
             if (!dialog->loadOptions())
                 return nullptr;
             return dialog;
         }},
        {QStringLiteral("about"),
         [](WindowFixture &) -> std::unique_ptr<QWidget> {
             return std::make_unique<AboutDialog>(nullptr);
         }},
        {QStringLiteral("error box"),
         [](WindowFixture &) -> std::unique_ptr<QWidget> {
             return errorBox(QStringLiteral(
                 "Could not add book because a book already exists with this name."));
         }},
        {QStringLiteral("backup progress"),
         [](WindowFixture &) -> std::unique_ptr<QWidget> {
             std::unique_ptr<QProgressDialog> progress = BooksDialog::backupProgressWindow(nullptr);
             progress->setValue(40);
             return progress;
         },
         false},
        {QStringLiteral("progress now"),
         [](WindowFixture &fixture) { return progressWindow(fixture, ProgressWindow::NowPage); }},
        {QStringLiteral("progress days"),
         [](WindowFixture &fixture) { return progressWindow(fixture, ProgressWindow::DaysPage); }},
        {QStringLiteral("progress growth"),
         [](WindowFixture &fixture) {
             return progressWindow(fixture, ProgressWindow::GrowthPage);
         }},
    };
    return makers;
}
