// The answer log as the program writes it: the rows of a challenge's check,
// asked by the user or by the timer, and of a crossword's check with a
// revealed entry; the entries kept through the card changes that would lose
// them; the backup that takes the log along.

#include "answerhistory.h"
#include "backups.h"
#include "challengedialog.h"
#include "cwpuzzle.h"
#include "cwpuzzlewidget.h"
#include "nivlet.h"
#include "nivletcore.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <memory>

using namespace TestSupport;

namespace {

const char sampleRows[] =
    "INSERT INTO book (id, name, active) VALUES (1, 'Capitals', 1), (2, 'Rivers', 1);\n"
    "INSERT INTO nivlet (id, active, kn_rate, book_id, question, answer) VALUES\n"
    " (1, 1, 0.5, 1, 'Capital of France?', 'Paris'),\n"
    " (2, 1, 0.25, 1, 'Capital of Italy?', 'Rome'),\n"
    " (3, 1, 0.75, 1, 'Capital of Norway?', 'Oslo'),\n"
    " (4, 1, 0.875, 2, 'The river of Paris?', 'Seine');\n";

const QString historyFile = QString::fromLatin1(AnswerHistory::fileName);

QStringList answerRows()
{
    return rows(QStringLiteral("SELECT * FROM answer ORDER BY time, seq"), historyFile);
}

} // namespace

class TstAnswerLog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void challengeAskedByTheUser();
    void challengeAskedByTheTimer();
    void crosswordCheckWithARevealedEntry();
    void entriesSurviveEditsAndDeletions();
    void aBackupHoldsBothFilesOfOneMoment();

private:
    Nivlet *record(qint64 id) const { return core->activeList()->find(id); }
    qint64 now() const { return clock.utc; }
    void answerChallenge(qint64 id, const QString &text, bool automatic);

    std::unique_ptr<WorkDir> work;
    std::unique_ptr<NivletCore> core;
    ManualWallClock clock;
};

void TstAnswerLog::init()
{
    work = std::make_unique<WorkDir>();
    QVERIFY(work->isValid());
    QVERIFY(createDatabase(work->path(), QString::fromUtf8(sampleRows)));
    core = std::make_unique<NivletCore>();
    core->setWallClock(&clock);
    QVERIFY(core->open());
    QVERIFY(core->reloadActiveNivlets());
    clock.set(QDate(2026, 5, 4), QTime(9, 30));
}

void TstAnswerLog::cleanup()
{
    core.reset();
    work.reset();
}

void TstAnswerLog::answerChallenge(qint64 id, const QString &text, bool automatic)
{
    ChallengeDialog dialog(nullptr, core.get(), core->activeList()->hold(record(id)));
    dialog.setAutomatic(automatic);
    runModal(&dialog, [&] {
        child<QLineEdit>(&dialog, "answerEdit")->setText(text);
        QTest::mouseClick(child<QPushButton>(&dialog, "checkButton"), Qt::LeftButton);
        QTest::mouseClick(child<QPushButton>(&dialog, "closeButton"), Qt::LeftButton);
    });
}

void TstAnswerLog::challengeAskedByTheUser()
{
    answerChallenge(1, QStringLiteral("paris"), false);
    const qint64 first = now();
    clock.advance(60000);
    answerChallenge(4, QStringLiteral("Thames"), false);
    // Queued by the check, written from the event loop.
    QTRY_COMPARE(core->history()->queuedCount(), 0);
    QCOMPARE(answerRows(),
             QStringList({QStringLiteral("%1|0|1|1|0|0|0.5|0.75|1").arg(first),
                          QStringLiteral("%1|0|4|2|1|0|0.875|0.4375|-1").arg(first + 60000)}));
    QCOMPARE(rows(QStringLiteral("SELECT * FROM book ORDER BY id"), historyFile),
             QStringList({QStringLiteral("1|1|Capitals|NULL"), QStringLiteral("2|2|Rivers|NULL")}));
    QCOMPARE(storedRate(1), 0.75);
    QCOMPARE(storedRate(4), 0.4375);
}

void TstAnswerLog::challengeAskedByTheTimer()
{
    answerChallenge(2, QStringLiteral("Milan"), true);
    answerChallenge(2, QStringLiteral("Rome"), true);
    QVERIFY(core->history()->flush());
    // Two answers of one millisecond keep their order by their number.
    QCOMPARE(answerRows(), QStringList({QStringLiteral("%1|0|2|1|1|1|0.25|0.125|0").arg(now()),
                                        QStringLiteral("%1|1|2|1|0|1|0.125|0.5625|0").arg(now())}));
}

void TstAnswerLog::crosswordCheckWithARevealedEntry()
{
    // paris across row 5, rome down from its "r", oslo across from rome's "o".
    CWPuzzle puzzle(10, 10);
    puzzle.entries.append(new CWEntry(record(1), QStringLiteral("paris"), 0, 1, 5));
    puzzle.entries.append(new CWEntry(record(2), QStringLiteral("rome"), 1, 3, 5));
    puzzle.entries.append(new CWEntry(record(3), QStringLiteral("oslo"), 0, 3, 6));
    CWPuzzleWidget widget(&puzzle, core.get());
    widget.resize(241, 241);
    widget.reveal(puzzle.entries.at(0));
    widget.setCursor(3, 6);
    QTest::keyClick(&widget, Qt::Key_Down);
    QTest::keyClicks(&widget, QStringLiteral("ome"));
    widget.checkAll();
    QVERIFY(core->history()->flush());
    // The revealed entry is cheated; the untouched "oslo" is wrong.
    const qint64 t = now();
    QCOMPARE(answerRows(), QStringList({QStringLiteral("%1|0|1|1|2|2|0.5|0.25|0").arg(t),
                                        QStringLiteral("%1|1|2|1|0|2|0.25|0.625|0").arg(t),
                                        QStringLiteral("%1|2|3|1|1|2|0.75|0.375|-1").arg(t)}));
    QCOMPARE(storedRate(1), 0.25);
    QCOMPARE(storedRate(2), 0.625);
    QCOMPARE(storedRate(3), 0.375);
}

void TstAnswerLog::entriesSurviveEditsAndDeletions()
{
    const auto give = [&](qint64 id, double after) {
        Nivlet *nivlet = record(id);
        QVERIFY(core->recordAnswer({nivlet, AnswerHistory::Verdict::Right, after},
                                   AnswerHistory::Source::Challenge));
        clock.advance(1000);
    };
    give(1, 0.75);
    give(2, 0.625);
    give(4, 0.9375);
    QVERIFY(core->history()->flush());
    const QStringList before = answerRows();
    QCOMPARE(before.size(), 3);

    QVERIFY(core->editNivlet(1, QStringLiteral("Capital of the French?"), QStringLiteral("Paris"),
                             false));
    QVERIFY(core->editBook(core->findBook(1), QStringLiteral("Cities"), true));
    QVERIFY(core->deleteNivlet(2, core->findBook(1)));
    QVERIFY(core->deleteBook(core->findBook(2)));
    QVERIFY(core->history()->flush());

    QCOMPARE(answerRows(), before);
    const qint64 deletedAt = now();
    QCOMPARE(rows(QStringLiteral("SELECT * FROM book ORDER BY id"), historyFile),
             QStringList({QStringLiteral("1|1|Cities|NULL"),
                          QStringLiteral("2|2|Rivers|%1").arg(deletedAt)}));
    QCOMPARE(rows(QStringLiteral("SELECT nivlet_id FROM nivlet_deleted ORDER BY nivlet_id"),
                  historyFile),
             QStringList({QStringLiteral("2"), QStringLiteral("4")}));
    // The deleted book is still there to choose, under its last name.
    QList<AnswerHistory::Book> books;
    QVERIFY(core->history()->books(books));
    QCOMPARE(books.size(), 2);
    QCOMPARE(books.at(1).name, QStringLiteral("Rivers"));
    QCOMPARE(books.at(1).deleted, deletedAt);
}

void TstAnswerLog::aBackupHoldsBothFilesOfOneMoment()
{
    QVERIFY(core->recordAnswer({record(1), AnswerHistory::Verdict::Right, 0.75},
                               AnswerHistory::Source::Challenge));
    QVERIFY(core->history()->flush());
    // Queued, not yet written, when the backup begins: the copy holds it.
    QVERIFY(core->recordAnswer({record(3), AnswerHistory::Verdict::Wrong, 0.375},
                               AnswerHistory::Source::Challenge));
    QCOMPARE(core->history()->queuedCount(), 1);
    const QDateTime stamp(QDate(2026, 5, 4), QTime(9, 31));
    QVERIFY(core->backupBeforeDeletion(stamp));
    core->finishBackup();
    QVERIFY(!core->backupRunning());
    // Written after the backup: only in the live files.
    QVERIFY(core->recordAnswer({record(4), AnswerHistory::Verdict::Right, 0.9375},
                               AnswerHistory::Source::Challenge));
    QVERIFY(core->history()->flush());

    const QString folder = QString::fromLatin1(NivletCore::backupFolder);
    const QStringList files = QDir(folder).entryList(QDir::Files, QDir::Name);
    QCOMPARE(files, QStringList({QStringLiteral("nivlets-2026-05-04_09-31-00"),
                                 QStringLiteral("nivlets-history-2026-05-04_09-31-00")}));
    const QString cards = folder + QStringLiteral("/nivlets-2026-05-04_09-31-00");
    const QString history = folder + QStringLiteral("/nivlets-history-2026-05-04_09-31-00");
    QCOMPARE(rows(QStringLiteral("SELECT id, kn_rate FROM nivlet ORDER BY id"), cards),
             QStringList({QStringLiteral("1|0.75"), QStringLiteral("2|0.25"),
                          QStringLiteral("3|0.375"), QStringLiteral("4|0.875")}));
    QCOMPARE(rows(QStringLiteral("SELECT nivlet_id, rate_after FROM answer ORDER BY time, seq"),
                  history),
             QStringList({QStringLiteral("1|0.75"), QStringLiteral("3|0.375")}));
    QCOMPARE(rows(QStringLiteral("SELECT count(*) FROM answer"), historyFile),
             QStringList(QStringLiteral("3")));
}

QTEST_MAIN(TstAnswerLog)
#include "tst_answerlog.moc"
