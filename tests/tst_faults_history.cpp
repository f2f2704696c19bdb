// An answer log that cannot be written (an immutable file, a lock another
// program holds, a full disk) while the answers go on: each answer's rate
// reaches the card file all the same, the failure is shown once in a run and
// logged each time, and what could not be written waits for the next try.

#include "answerhistory.h"
#include "faultharness.h"
#include "faultvfs.h"
#include "log.h"
#include "nivlet.h"
#include "nivletcore.h"

#include <QElapsedTimer>
#include <QTest>

#include <sqlite3.h>

#include <memory>

using namespace FaultHarness;
using namespace TestSupport;

namespace {

const QString historyFile = QString::fromLatin1(AnswerHistory::fileName);

QString answerCount()
{
    return valueOf(historyFile, QStringLiteral("SELECT count(*) FROM answer"));
}

// The rate in the card file, read past the fault VFS.
double cardRate(qint64 id)
{
    return Plain(QStringLiteral("nivlets")).rate(id);
}

} // namespace

class TstHistoryFaults : public FaultTest
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void immutableHistory();
    void lockedHistory();
    void fullDisk();

private:
    // Answers right; true when the answer's rate was written.
    bool answer(qint64 id, double rate);
    // The history of one earlier answer, so that the faults meet a file
    // that exists.
    void startHistory();

    std::unique_ptr<WorkDir> work;
    std::unique_ptr<NivletCore> store;
};

void TstHistoryFaults::init()
{
    work = std::make_unique<WorkDir>();
    QVERIFY(createDatabase(work->path(), QString::fromLatin1(fixtureSql)));
    openLog();
    store = std::make_unique<NivletCore>();
    QVERIFY(store->open());
    QVERIFY(store->reloadActiveNivlets());
}

void TstHistoryFaults::cleanup()
{
    store.reset();
    closeLog();
    work.reset();
}

bool TstHistoryFaults::answer(qint64 id, double rate)
{
    Nivlet *nivlet = store->activeList()->find(id);
    if (!nivlet)
        return false;
    const bool written = store->recordAnswer({nivlet, AnswerHistory::Verdict::Right, rate},
                                             AnswerHistory::Source::Challenge);
    nivlet->knRate = rate;
    return written;
}

void TstHistoryFaults::startHistory()
{
    QVERIFY(answer(1, 0.55));
    QVERIFY(store->history()->flush());
    QCOMPARE(answerCount(), QStringLiteral("1"));
}

void TstHistoryFaults::immutableHistory()
{
    CHECKED(startHistory());
    // A store of a later run meets the file as it is now.
    store.reset();
    Immutable immutable(historyFile);
    if (!immutable.set)
        QSKIP(qPrintable(QStringLiteral("immutable files are not possible here (") + immutable.why +
                         QLatin1Char(')')));
    store = std::make_unique<NivletCore>();
    QVERIFY(store->open());
    QVERIFY(store->reloadActiveNivlets());
    const QString expected = report(QStringLiteral("Could not record the answers in the history."),
                                    SQLITE_READONLY, QString::fromLatin1(readOnlyMessage));
    {
        BoxCatcher boxes;
        QVERIFY(answer(2, 0.6));
        QVERIFY(!store->history()->flush());
        CHECKED(checkOneReport(boxes, expected));
    }
    QCOMPARE(cardRate(2), 0.6);
    BoxCatcher boxes;
    QVERIFY(answer(4, 0.7));
    QVERIFY(!store->history()->flush());
    QVERIFY(boxes.texts.isEmpty());
    QCOMPARE(cardRate(4), 0.7);
    QCOMPARE(logText().count(expected), 2);
    QCOMPARE(store->history()->queuedCount(), 2);
    QCOMPARE(answerCount(), QStringLiteral("1"));
}

void TstHistoryFaults::lockedHistory()
{
    CHECKED(startHistory());
    // Shorter than a user's wait, still longer than a check may take.
    store->history()->setBusyTimeout(600);
    Plain other(historyFile);
    QCOMPARE(other.exec("BEGIN EXCLUSIVE"), SQLITE_OK);
    BoxCatcher boxes;
    QElapsedTimer check;
    check.start();
    QVERIFY(answer(2, 0.6));
    QVERIFY(!store->history()->flush());
    // Neither the answer nor the first try waited for the lock.
    QVERIFY2(check.elapsed() < 500, qPrintable(QString::number(check.elapsed())));
    QVERIFY(boxes.texts.isEmpty());
    QCOMPARE(cardRate(2), 0.6);
    // Tried again from the event loop until the lock has lasted the wait.
    QTRY_VERIFY_WITH_TIMEOUT(store->history()->failureShown(), 5000);
    CHECKED(checkOneReport(boxes, report(QStringLiteral("Could not record the answers in the "
                                                        "history."),
                                         SQLITE_BUSY, QString(lockedMessage))));
    QCOMPARE(store->history()->queuedCount(), 1);
    QCOMPARE(other.exec("ROLLBACK"), SQLITE_OK);
    QVERIFY(answer(4, 0.7));
    // Once, in the box of the lock: a write after a failed one still knows
    // the books the file holds.
    QVERIFY(store->history()->flush());
    QCOMPARE(boxes.texts.size(), 1);
    QCOMPARE(answerCount(), QStringLiteral("3"));
    QCOMPARE(cardRate(4), 0.7);
}

void TstHistoryFaults::fullDisk()
{
    CHECKED(startHistory());
    BoxCatcher boxes;
    QVERIFY(answer(2, 0.6));
    // The disk fills between the rate and the log's write.
    FaultVfs::arm(FaultVfs::Point::Write, FaultVfs::Action::FailFrom, 1, SQLITE_FULL);
    QVERIFY(!store->history()->flush());
    FaultVfs::reset();
    CHECKED(checkOneReport(boxes, report(QStringLiteral("Could not record the answers in the "
                                                        "history."),
                                         SQLITE_FULL, QStringLiteral("database or disk is full"))));
    QCOMPARE(cardRate(2), 0.6);
    QCOMPARE(answerCount(), QStringLiteral("1"));
    // The rates of later answers are written; the log catches up once there
    // is room again.
    QVERIFY(answer(4, 0.7));
    QVERIFY(store->history()->flush());
    QCOMPARE(cardRate(4), 0.7);
    QCOMPARE(valueOf(historyFile,
                     QStringLiteral("SELECT group_concat(nivlet_id || ':' || rate_after, ' ') "
                                    "FROM (SELECT * FROM answer ORDER BY time, seq)")),
             QStringLiteral("1:0.55 2:0.6 4:0.7"));
}

NIVLETS_FAULT_TEST_MAIN(TstHistoryFaults)
#include "tst_faults_history.moc"
