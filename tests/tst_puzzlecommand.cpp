#include "cwpuzzle.h"
#include "cwpuzzledialog.h"
#include "cwpuzzleparamsdialog.h"
#include "cwpuzzlewidget.h"
#include "knrate.h"
#include "mainwindow.h"
#include "mainwindowtestaccess.h"
#include "nivlet.h"
#include "nivletcore.h"
#include "nivletstablemodel.h"
#include "testsupport.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

using TestSupport::child;
using TestSupport::storedRate;

namespace {
// Calls act on the next modal widget of type T as soon as it is up; the
// caller then starts the command that opens it. A test that expects no such
// window waits only briefly.
template <typename T>
void onModal(const std::function<void(T *)> &act, bool *seen = nullptr, int timeout = 5000)
{
    QTimer::singleShot(0, [act, seen, timeout] {
        T *modal = nullptr;
        const bool up = QTest::qWaitFor(
            [&] {
                modal = qobject_cast<T *>(QApplication::activeModalWidget());
                return modal && modal->isVisible();
            },
            timeout);
        if (seen)
            *seen = up;
        if (up)
            act(modal);
    });
}

void enterSize(CWPuzzleParamsDialog *dialog, const QString &width, const QString &height)
{
    child<QLineEdit>(dialog, "widthEdit")->setText(width);
    child<QLineEdit>(dialog, "heightEdit")->setText(height);
    QTest::mouseClick(child<QPushButton>(dialog, "okButton"), Qt::LeftButton);
}
} // namespace

class TestPuzzleCommand : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void cancelBuildsNothing();
    void buttonRunsTheCommand();
    void puzzleCheckedAndClosed();
    void staleListReloadedFirst();
    void creatorFailureShowsNoPuzzle();
    void failedReloadBuildsNothing();

private:
    MainWindowTestAccess ui() const { return MainWindowTestAccess(window.get()); }
    bool openWindow();

    std::unique_ptr<TestSupport::WorkDir> work;
    std::unique_ptr<TestSupport::BoxCatcher> boxes;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<QAbstractItemModelTester> tester;
};

void TestPuzzleCommand::initTestCase()
{
    QVERIFY2(QSystemTrayIcon::isSystemTrayAvailable(),
             "the main window needs a system tray: run under the test command's X server");
}

// The delivered sample database: its capitals cross well enough for puzzles.
void TestPuzzleCommand::init()
{
    work = std::make_unique<TestSupport::WorkDir>();
    QVERIFY(work->isValid());
    QVERIFY(QFile::copy(QStringLiteral(NIVLETS_DATABASE), work->file(QStringLiteral("nivlets"))));
    QVERIFY(QFile::setPermissions(work->file(QStringLiteral("nivlets")),
                                  QFile::ReadOwner | QFile::WriteOwner));
    QVERIFY(openWindow());
}

bool TestPuzzleCommand::openWindow()
{
    tester.reset();
    window.reset();
    boxes = std::make_unique<TestSupport::BoxCatcher>();
    window = std::make_unique<MainWindow>();
    if (!window->init())
        return false;
    ui().core()->setBusyTimeout(50);
    tester = std::make_unique<QAbstractItemModelTester>(
        ui().nivletsModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    window->show();
    return QTest::qWaitForWindowExposed(window.get());
}

void TestPuzzleCommand::cleanup()
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

void TestPuzzleCommand::cancelBuildsNothing()
{
    QTest::mouseClick(ui().button("searchButton"), Qt::LeftButton);
    QVERIFY(ui().nivletsModel()->hasNivlets());
    QSignalSpy resets(ui().nivletsModel(), &QAbstractItemModel::modelReset);
    const QList<Nivlet *> before = ui().core()->activeList()->nivlets();
    bool guardInDialog = true;
    bool seen = false;
    onModal<CWPuzzleParamsDialog>(
        [&](CWPuzzleParamsDialog *dialog) {
            guardInDialog = ui().autoChallengeAllowed();
            QCOMPARE(dialog->parentWidget(), window.get());
            child<QLineEdit>(dialog, "widthEdit")->setText(QStringLiteral("12"));
            QTest::mouseClick(child<QPushButton>(dialog, "cancelButton"), Qt::LeftButton);
        },
        &seen);
    window->puzzle();
    QVERIFY(seen);
    QVERIFY(!guardInDialog);
    QVERIFY(ui().autoChallengeAllowed());
    QCOMPARE(resets.count(), 0);
    QCOMPARE(ui().core()->activeList()->nivlets(), before);
    QVERIFY(boxes->texts.isEmpty());
    QVERIFY(!QApplication::activeModalWidget());
}

void TestPuzzleCommand::buttonRunsTheCommand()
{
    bool seen = false;
    onModal<CWPuzzleParamsDialog>([](CWPuzzleParamsDialog *dialog) { dialog->reject(); }, &seen);
    QTest::mouseClick(ui().button("puzzleButton"), Qt::LeftButton);
    QVERIFY(seen);
    QVERIFY(ui().autoChallengeAllowed());
}

void TestPuzzleCommand::puzzleCheckedAndClosed()
{
    QTest::mouseClick(ui().button("searchButton"), Qt::LeftButton);
    QVERIFY(ui().nivletsModel()->hasNivlets());
    QSignalSpy resets(ui().nivletsModel(), &QAbstractItemModel::modelReset);
    seedRandom(5);
    bool guardInPuzzle = true;
    bool puzzleSeen = false;
    QList<qint64> ids;
    QList<double> ratesBefore;
    onModal<CWPuzzleParamsDialog>([&](CWPuzzleParamsDialog *params) {
        onModal<CWPuzzleDialog>(
            [&](CWPuzzleDialog *dialog) {
                guardInPuzzle = ui().autoChallengeAllowed();
                QCOMPARE(dialog->parentWidget(), window.get());
                QCOMPARE(dialog->size(), QSize(24 * 10 + 26, 24 * 11 + 56));
                CWPuzzle *puzzle = child<CWPuzzleWidget>(dialog, "puzzleWidget")->puzzle;
                QCOMPARE(puzzle->width, 10);
                QCOMPARE(puzzle->height, 11);
                QCOMPARE(child<CWPuzzleWidget>(dialog, "puzzleWidget")->core, ui().core());
                QVERIFY(puzzle->entries.size() >= 2);
                for (const CWEntry *e : puzzle->entries) {
                    QVERIFY(ui().core()->activeList()->nivlets().contains(e->nivlet));
                    ids.append(e->nivlet->id);
                    ratesBefore.append(e->nivlet->knRate);
                }
                QCOMPARE(resets.count(), 0);
                QTest::mouseClick(child<QPushButton>(dialog, "checkButton"), Qt::LeftButton);
                QTest::mouseClick(child<QPushButton>(dialog, "closeButton"), Qt::LeftButton);
            },
            &puzzleSeen);
        enterSize(params, QStringLiteral("10"), QStringLiteral("11"));
    });
    window->puzzle();
    QVERIFY(puzzleSeen);
    QVERIFY(!guardInPuzzle);
    QVERIFY(ui().autoChallengeAllowed());
    QVERIFY(!QApplication::activeModalWidget());
    QVERIFY(boxes->texts.isEmpty());
    // Nothing was typed: every word was wrong, its rate halved and written.
    QVERIFY(!ids.isEmpty());
    for (int i = 0; i < ids.size(); ++i)
        QCOMPARE(storedRate(ids.at(i)), ratesBefore.at(i) * 0.5);
    // The list was searched again for the new rates.
    QCOMPARE(resets.count(), 1);
    QVERIFY(ui().core()->activeListStale());
}

void TestPuzzleCommand::staleListReloadedFirst()
{
    NivletCore *core = ui().core();
    QVERIFY(!core->activeListStale());
    Nivlet *first = core->activeList()->nivlets().first();
    QVERIFY(core->setKnowledgeRate(first->id, 0.99));
    QVERIFY(core->activeListStale());
    seedRandom(8);
    bool puzzleSeen = false;
    onModal<CWPuzzleParamsDialog>([&](CWPuzzleParamsDialog *params) {
        onModal<CWPuzzleDialog>(
            [&](CWPuzzleDialog *dialog) {
                QVERIFY(!core->activeListStale());
                QCOMPARE(core->activeList()->nivlets().last()->knRate, 0.99);
                for (const CWEntry *e :
                     child<CWPuzzleWidget>(dialog, "puzzleWidget")->puzzle->entries)
                    QVERIFY(core->activeList()->nivlets().contains(e->nivlet));
                dialog->close();
            },
            &puzzleSeen);
        enterSize(params, QStringLiteral("12"), QStringLiteral("12"));
    });
    window->puzzle();
    QVERIFY(puzzleSeen);
    QVERIFY(boxes->texts.isEmpty());
    // Closed without a check: no rate moved.
    QVERIFY(!core->activeListStale());
}

void TestPuzzleCommand::creatorFailureShowsNoPuzzle()
{
    // Three active nivlets are too few for any puzzle.
    QVERIFY(TestSupport::execSql(
        work->file(QStringLiteral("nivlets")),
        QStringLiteral("UPDATE nivlet SET active = 0 WHERE id NOT IN "
                       "(SELECT id FROM nivlet WHERE book_id = 1 ORDER BY id LIMIT 3)")));
    QVERIFY(openWindow());
    QCOMPARE(ui().core()->activeNivletCount(), 3);
    bool puzzleSeen = false;
    onModal<CWPuzzleParamsDialog>([&](CWPuzzleParamsDialog *params) {
        onModal<CWPuzzleDialog>([](CWPuzzleDialog *dialog) { dialog->close(); }, &puzzleSeen, 300);
        enterSize(params, QStringLiteral("10"), QStringLiteral("10"));
    });
    window->puzzle();
    QCOMPARE(boxes->texts,
             QStringList({QStringLiteral(
                 "Could not create cross-word puzzle: Not enough (active) nivlets.")}));
    QVERIFY(!puzzleSeen);
    QVERIFY(ui().autoChallengeAllowed());
}

void TestPuzzleCommand::failedReloadBuildsNothing()
{
    NivletCoreTestAccess::markActiveListStale(*ui().core());
    TestSupport::LockingConnection lock;
    QVERIFY(lock.locked);
    bool puzzleSeen = false;
    onModal<CWPuzzleParamsDialog>([&](CWPuzzleParamsDialog *params) {
        onModal<CWPuzzleDialog>([](CWPuzzleDialog *dialog) { dialog->close(); }, &puzzleSeen, 300);
        enterSize(params, QStringLiteral("10"), QStringLiteral("10"));
    });
    window->puzzle();
    QVERIFY(!puzzleSeen);
    // The reload's own report only: the creator was not asked to build on an empty list.
    QCOMPARE(boxes->texts.size(), 1);
    QVERIFY2(boxes->texts.first().startsWith(QStringLiteral("Could not reload active nivlets.")),
             qPrintable(boxes->texts.first()));
    QVERIFY(ui().autoChallengeAllowed());
}

QTEST_MAIN(TestPuzzleCommand)
#include "tst_puzzlecommand.moc"
