// The active list's lifetime: a challenge and a puzzle hold the list they
// got their records from, so that a reload while they run leaves those
// records alive, and what they write through them still reaches the file.

#include "activelist.h"
#include "challengedialog.h"
#include "cwpuzzle.h"
#include "cwpuzzlecreator.h"
#include "cwpuzzledialog.h"
#include "cwpuzzlewidget.h"
#include "knrate.h"
#include "nivlet.h"
#include "nivletcore.h"
#include "testsupport.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QTest>
#include <QTextEdit>

#include <memory>
#include <vector>

using TestSupport::storedRate;

namespace {

// Short answers of few letters, so that puzzles of a few words come easily;
// rates in sixteenths, which the rate arithmetic keeps exact.
QString listRows()
{
    const char *const answers[] = {"paris", "rome",  "oslo", "riga", "lima",  "bern",
                                   "sofia", "minsk", "kiev", "bonn", "accra", "dakar"};
    QString sql =
        QStringLiteral("INSERT INTO book (id, name, active) VALUES (1, 'Capitals', 1);\n");
    for (int i = 0; i < 12; ++i)
        sql += QStringLiteral("INSERT INTO nivlet (id, active, kn_rate, book_id, question, answer) "
                              "VALUES (%1, 1, %2, 1, 'Capital number %1?', '%3');\n")
                   .arg(i + 1)
                   .arg((i + 1) / 16.0)
                   .arg(QLatin1String(answers[i]));
    return sql;
}

// What the test knows of a record from before the reload, kept apart from it.
struct Known
{
    qint64 id;
    QString question;
    QString answer;
    double rate;
};

Known knownOf(const Nivlet *n)
{
    return {n->id, n->question, n->answer, n->knRate};
}

QPushButton *buttonOf(QWidget *window, const QString &text)
{
    const QList<QPushButton *> buttons = window->findChildren<QPushButton *>();
    for (QPushButton *b : buttons) {
        if (b->text() == text)
            return b;
    }
    return nullptr;
}

// Takes back the memory a list let go of, so that a record freed with it
// would be read as other data, not as itself.
void refillFreedMemory()
{
    std::vector<std::unique_ptr<Nivlet>> filler;
    for (int i = 0; i < 2000; ++i)
        filler.push_back(std::make_unique<Nivlet>(-1, false, 0.0, nullptr, QStringLiteral("filler"),
                                                  QStringLiteral("filler")));
}

} // namespace

class TestActiveList : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void reloadWhileAChallengeAndAPuzzleHoldRecords();
    void reloadHandsOutANewList();
    void putOffRecordOfAnOlderList();
    void listOutlivesTheStore();

private:
    std::unique_ptr<TestSupport::WorkDir> work;
    std::unique_ptr<NivletCore> core;
};

void TestActiveList::init()
{
    work = std::make_unique<TestSupport::WorkDir>();
    core = TestSupport::openStore(listRows());
    QVERIFY(core);
    QCOMPARE(core->activeNivletCount(), 12);
}

void TestActiveList::cleanup()
{
    core.reset();
    work.reset();
}

void TestActiveList::reloadWhileAChallengeAndAPuzzleHoldRecords()
{
    std::unique_ptr<CWPuzzle> puzzle;
    for (unsigned seed = 1; !puzzle && seed <= 50; ++seed) {
        seedRandom(seed);
        CWPuzzleCreator creator;
        puzzle = creator.create(core.get(), 12, 12);
    }
    QVERIFY(puzzle);
    QList<Known> inPuzzle;
    QSet<qint64> puzzleIds;
    for (const CWEntry *e : std::as_const(puzzle->entries)) {
        inPuzzle.append(knownOf(e->nivlet));
        puzzleIds.insert(e->nivlet->id);
    }
    const CWEntry *first = puzzle->entries.first();
    const QString firstWord = first->answer;

    // A challenge for a nivlet the puzzle does not hold, given its record
    // as the main window gives it; only the dialog and the puzzle hold the
    // list from here on.
    Known asked{};
    std::unique_ptr<ChallengeDialog> challenge;
    {
        const std::shared_ptr<const ActiveList> loaded = core->activeList();
        for (Nivlet *n : loaded->nivlets()) {
            if (!puzzleIds.contains(n->id)) {
                asked = knownOf(n);
                challenge = std::make_unique<ChallengeDialog>(nullptr, core.get(), loaded->hold(n));
                break;
            }
        }
    }
    QVERIFY(challenge);
    CWPuzzleDialog puzzleDialog(nullptr, puzzle.get(), core.get());
    challenge->show();
    puzzleDialog.show();

    // Another program changes the file, the store reloads twice, and the
    // memory a list let go of is taken again.
    QVERIFY(TestSupport::execSql(work->file(QStringLiteral("nivlets")),
                                 QStringLiteral("UPDATE nivlet SET question = 'changed'")));
    QVERIFY(core->reloadActiveNivlets());
    refillFreedMemory();
    QVERIFY(core->reloadActiveNivlets());
    refillFreedMemory();
    QCOMPARE(core->activeList()->at(0)->question, QStringLiteral("changed"));

    // The challenge is answered through its record of the old list.
    auto *answerEdit = challenge->findChild<QLineEdit *>();
    QVERIFY(answerEdit);
    QTest::keyClicks(answerEdit, asked.answer.toUpper());
    QPushButton *check = buttonOf(challenge.get(), QStringLiteral("&Check it!"));
    QVERIFY(check);
    check->click();
    QVERIFY(buttonOf(challenge.get(), QStringLiteral("&Next challenge!")));
    QStringList shown;
    for (const QTextEdit *edit : challenge->findChildren<QTextEdit *>())
        shown << edit->toPlainText();
    QCOMPARE(shown, QStringList({asked.question, asked.answer}));
    QCOMPARE(storedRate(asked.id), knRateAfterCorrect(asked.rate));

    // With the challenge gone the puzzle alone holds the list, over one
    // more reload. Its records read as they were loaded; its first word is
    // typed right, the others are left, and the check writes every rate.
    challenge.reset();
    QVERIFY(core->reloadActiveNivlets());
    refillFreedMemory();
    for (int i = 0; i < inPuzzle.size(); ++i) {
        const Nivlet *n = puzzle->entries.at(i)->nivlet;
        QCOMPARE(n->id, inPuzzle.at(i).id);
        QCOMPARE(n->question, inPuzzle.at(i).question);
        QCOMPARE(CWPuzzleWidget::clueText(n), inPuzzle.at(i).question);
        QVERIFY(n->possibleAnswers.contains(puzzle->entries.at(i)->answer));
    }
    auto *grid = puzzleDialog.findChild<CWPuzzleWidget *>();
    QVERIFY(grid);
    grid->setCursor(first->x, first->y);
    QTest::keyClicks(grid, firstWord);
    QPushButton *checkPuzzle = buttonOf(&puzzleDialog, QStringLiteral("Check!"));
    QVERIFY(checkPuzzle);
    checkPuzzle->click();
    for (int i = 0; i < inPuzzle.size(); ++i) {
        const Known &k = inPuzzle.at(i);
        QCOMPARE(storedRate(k.id),
                 i == 0 ? knRateAfterCorrect(k.rate) : knRateAfterIncorrect(k.rate));
    }

    // The store's own list takes the rates at its next reload.
    QVERIFY(core->activeListStale());
    QVERIFY(core->reloadActiveNivlets());
    const std::shared_ptr<const ActiveList> now = core->activeList();
    QCOMPARE(now->find(asked.id)->knRate, knRateAfterCorrect(asked.rate));
    QCOMPARE(now->find(inPuzzle.first().id)->knRate, knRateAfterCorrect(inPuzzle.first().rate));
}

void TestActiveList::reloadHandsOutANewList()
{
    const std::shared_ptr<const ActiveList> before = core->activeList();
    const QList<Nivlet *> records = before->nivlets();
    QVERIFY(core->setKnowledgeRate(1, 0.9));
    QVERIFY(core->reloadActiveNivlets());
    const std::shared_ptr<const ActiveList> after = core->activeList();
    QVERIFY(after != before);
    // The held list is as it was loaded: the same records, the same order.
    QCOMPARE(before->nivlets(), records);
    QCOMPARE(before->at(0)->id, qint64(1));
    QCOMPARE(before->at(0)->knRate, 1 / 16.0);
    QCOMPARE(after->at(11)->id, qint64(1));
    QCOMPARE(after->at(11)->knRate, 0.9);
    for (const Nivlet *n : records) {
        QVERIFY(before->contains(n));
        QVERIFY(!after->contains(n));
    }
    QCOMPARE(after->selector().size, 12);
    // The draws come from the current list.
    for (int i = 0; i < 50; ++i) {
        QVERIFY(after->contains(core->randomActiveNivlet()));
        QVERIFY(after->contains(core->nextNivlet()));
    }
}

// A challenge put off after a reload names its record of the list it was
// asked from; the next question is that nivlet as the current list holds it,
// and none when it is no longer active.
void TestActiveList::putOffRecordOfAnOlderList()
{
    seedRandom(3);
    const std::shared_ptr<const ActiveList> old = core->activeList();
    Nivlet *asked = core->nextNivlet();
    QVERIFY(old->contains(asked));
    QVERIFY(core->reloadActiveNivlets());
    core->setPendingNivlet(asked);
    Nivlet *current = core->pendingNivlet();
    QVERIFY(current);
    QVERIFY(current != asked);
    QVERIFY(core->activeList()->contains(current));
    QCOMPARE(current->id, asked->id);
    QCOMPARE(core->nextNivlet(), current);
    QCOMPARE(core->lastAskedId(), asked->id);

    const std::shared_ptr<const ActiveList> held = core->activeList();
    Nivlet *gone = core->nextNivlet();
    QVERIFY(core->editNivlet(gone->id, gone->question, gone->answer, false));
    QVERIFY(core->reloadActiveNivlets());
    QCOMPARE(core->activeNivletCount(), 11);
    core->setPendingNivlet(gone);
    QVERIFY(!core->pendingNivlet());
    QVERIFY(core->nextNivlet() != nullptr);
}

// A list held past the store's end keeps the books its records name.
void TestActiveList::listOutlivesTheStore()
{
    const std::shared_ptr<const ActiveList> kept = core->activeList();
    QVERIFY(core->addBook(QStringLiteral("Rivers"), true));
    core.reset();
    QCOMPARE(kept->size(), 12);
    QCOMPARE(kept->at(0)->question, QStringLiteral("Capital number 1?"));
    QVERIFY(kept->at(0)->book);
    QCOMPARE(kept->at(0)->book->name, QStringLiteral("Capitals"));
    QVERIFY(kept->at(5)->possibleAnswers.contains(QStringLiteral("bern")));
}

QTEST_MAIN(TestActiveList)
#include "tst_activelist.moc"
