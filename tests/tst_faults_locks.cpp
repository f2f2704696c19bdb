// Locks against the store's changes and reads: a write lock held by another
// connection and by another process, an exclusive lock that stops reads, and
// a reader that keeps a commit from finishing.

#include "faultharness.h"
#include "log.h"
#include "nivletcore.h"

#include <QDir>
#include <QTest>

#include <sqlite3.h>

#include <memory>

using namespace FaultHarness;
using namespace TestSupport;

class TstLockFaults : public FaultTest
{
    Q_OBJECT

private slots:
    void lockedByConnection_data();
    void lockedByConnection();
    void lockedByProcess_data();
    void lockedByProcess();
    void exclusiveLockStopsReads();

    void busyCommitRollsBack();

private:
    void runLocked(const QString &opName, bool otherProcess);
};

void TstLockFaults::runLocked(const QString &opName, bool otherProcess)
{
    bool withoutCache = false;
    const Op *op = findOp(opName, withoutCache);
    QVERIFY(op);
    WorkDir work;
    QVERIFY(createDatabase(work.path(), QString::fromLatin1(fixtureSql)));
    const QString file = work.file(QStringLiteral("nivlets"));
    openLog();
    NivletCore store;
    store.setBusyTimeout(shortWait);
    QVERIFY(store.open());
    if (!withoutCache)
        QVERIFY(store.options());
    const QString memory = memoryOf(store);
    const QByteArray rows = dumpOf(file);

    std::unique_ptr<Plain> holder;
    std::unique_ptr<Child> child;
    if (otherProcess) {
        child = std::make_unique<Child>(
            QStringList{QStringLiteral("lock"), QStringLiteral("immediate")}, work.path());
        QVERIFY(child->waitForLine("locked"));
    } else {
        holder = std::make_unique<Plain>(file);
        QCOMPARE(holder->exec("BEGIN IMMEDIATE"), SQLITE_OK);
    }
    {
        BoxCatcher boxes;
        QVERIFY(!op->run(store));
        CHECKED(checkOneReport(boxes, report(op->failure, SQLITE_BUSY, lockedMessage)));
    }
    QCOMPARE(logText(), QStringLiteral("Error: ") +
                            report(op->failure, SQLITE_BUSY, lockedMessage) + QLatin1Char('\n'));
    QCOMPARE(memoryOf(store), memory);
    QCOMPARE(dumpOf(file), rows);

    if (otherProcess) {
        child->say("release");
        QVERIFY(child->process.waitForFinished(10000));
        QCOMPARE(child->process.exitCode(), 0);
    } else {
        QCOMPARE(holder->exec("ROLLBACK"), SQLITE_OK);
    }
    QCOMPARE(dumpOf(file), rows);
    {
        BoxCatcher boxes;
        QVERIFY(op->run(store));
        QVERIFY(boxes.texts.isEmpty());
    }
    QVERIFY2(op->changedInMemory(store), qPrintable(memoryOf(store)));
    QCOMPARE(valueOf(file, op->probe), op->changed);
}

void TstLockFaults::lockedByConnection_data()
{
    addOpRows();
}

void TstLockFaults::lockedByConnection()
{
    QFETCH(QString, op);
    runLocked(op, false);
}

void TstLockFaults::lockedByProcess_data()
{
    addOpRows();
}

void TstLockFaults::lockedByProcess()
{
    QFETCH(QString, op);
    runLocked(op, true);
}

void TstLockFaults::exclusiveLockStopsReads()
{
    WorkDir work;
    QVERIFY(createDatabase(work.path(), QString::fromLatin1(fixtureSql)));
    openLog();
    NivletCore store;
    store.setBusyTimeout(shortWait);
    QVERIFY(store.open());
    const QString memory = memoryOf(store);
    Child child({QStringLiteral("lock"), QStringLiteral("exclusive")}, work.path());
    QVERIFY(child.waitForLine("locked"));
    {
        BoxCatcher boxes;
        QVERIFY(!store.options());
        QVERIFY(!store.getNivlet(1));
        QCOMPARE(store.countNivletsOfBook(1), -1);
        QVERIFY(!store.search(QString(), nullptr, false));
        QCOMPARE(boxes.texts,
                 QStringList({report(QStringLiteral("Could not get options from database."),
                                     SQLITE_BUSY, lockedMessage),
                              report(QStringLiteral("Could not get nivlet from database."),
                                     SQLITE_BUSY, lockedMessage),
                              report(QStringLiteral("Could not count nivlets for a book."),
                                     SQLITE_BUSY, lockedMessage),
                              report(QStringLiteral("Could not search for nivlets."), SQLITE_BUSY,
                                     lockedMessage)}));
    }
    QCOMPARE(memoryOf(store), memory);
    {
        BoxCatcher boxes;
        QVERIFY(!store.reloadActiveNivlets());
        CHECKED(checkOneReport(boxes, report(QStringLiteral("Could not reload active nivlets."),
                                             SQLITE_BUSY, lockedMessage)));
    }
    // The list was emptied by the failed reload, so it no longer shows the
    // file and must be reloaded before anything is drawn from it.
    QVERIFY(store.activeList()->nivlets().isEmpty());
    QVERIFY(store.activeListStale());
    QVERIFY(!store.pendingNivlet());

    child.say("release");
    QVERIFY(child.process.waitForFinished(10000));
    BoxCatcher boxes;
    QVERIFY(store.options());
    std::unique_ptr<Nivlet> one(store.getNivlet(1));
    QVERIFY(one);
    QCOMPARE(store.countNivletsOfBook(1), 3);
    std::unique_ptr<QList<Nivlet *>> found(store.search(QString(), nullptr, false));
    QVERIFY(found);
    QCOMPARE(found->size(), 5);
    qDeleteAll(*found);
    QVERIFY(store.reloadActiveNivlets());
    QCOMPARE(store.activeNivletCount(), 3);
    QVERIFY(!store.activeListStale());
    QVERIFY(boxes.texts.isEmpty());
}

void TstLockFaults::busyCommitRollsBack()
{
    bool withoutCache = false;
    const Op *deletion = findOp(QStringLiteral("deleteBook"), withoutCache);
    QVERIFY(deletion);
    WorkDir work;
    QVERIFY(createDatabase(work.path(), QString::fromLatin1(fixtureSql)));
    const QString file = work.file(QStringLiteral("nivlets"));
    openLog();
    NivletCore store;
    store.setBusyTimeout(shortWait);
    QVERIFY(store.open());
    Book *alpha = store.findBook(1);
    const QString memory = memoryOf(store);

    Plain reader(file, true);
    auto reading = std::make_unique<SqlStatement>(reader.db, "SELECT id FROM nivlet");
    QVERIFY(reading->isPrepared());
    QVERIFY(reading->next());
    const QString expected =
        report(QStringLiteral("Could not delete book."), SQLITE_BUSY, lockedMessage);
    {
        BoxCatcher boxes;
        QVERIFY(!store.deleteBook(alpha));
        CHECKED(checkOneReport(boxes, expected));
    }
    QCOMPARE(logText(), QStringLiteral("Error: ") + expected + QLatin1Char('\n'));
    QCOMPARE(memoryOf(store), memory);
    reading.reset();
    QCOMPARE(valueOf(file, deletion->probe), QStringLiteral("1|3"));

    BoxCatcher boxes;
    QVERIFY(store.setKnowledgeRate(4, 0.9));
    // Seen from another connection, so the store holds no transaction open.
    QCOMPARE(valueOf(file, QStringLiteral("SELECT kn_rate FROM nivlet WHERE id = 4")),
             QStringLiteral("0.9"));
    QVERIFY(store.deleteBook(alpha));
    QCOMPARE(valueOf(file, deletion->probe), QStringLiteral("0|0"));
    QVERIFY(boxes.texts.isEmpty());
}

NIVLETS_FAULT_TEST_MAIN(TstLockFaults)

#include "tst_faults_locks.moc"
