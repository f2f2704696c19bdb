// An unwritable log: a folder, an immutable file, a full device and a FIFO in
// its place; the store reports and goes on all the same. And a log that
// grows across runs.

#include "faultharness.h"
#include "log.h"
#include "nivletcore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <sqlite3.h>

#include <chrono>
#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

using namespace FaultHarness;
using namespace TestSupport;

class TstLogFaults : public FaultTest
{
    Q_OBJECT

private slots:
    void logIsDirectory();
    void logIsImmutable();
    void logOnFullDevice();
    void logIsFifo();
    void logAppendsAcrossRuns();
};

void TstLogFaults::logIsDirectory()
{
    WorkDir work;
    QVERIFY(createDatabase(work.path(), QString::fromLatin1(fixtureSql)));
    QVERIFY(QDir().mkdir(QStringLiteral("nivlets.log")));
    openLog();
    NivletCore store;
    store.setBusyTimeout(shortWait);
    QVERIFY(store.open());
    Plain holder(work.file(QStringLiteral("nivlets")));
    QCOMPARE(holder.exec("BEGIN IMMEDIATE"), SQLITE_OK);
    {
        BoxCatcher boxes;
        QVERIFY(!store.setKnowledgeRate(1, 0.9));
        QVERIFY(!store.addBook(QStringLiteral("x"), true));
        QCOMPARE(boxes.texts,
                 QStringList(
                     {report(QStringLiteral("Could not set knowledge-rate for nivlet."),
                             SQLITE_BUSY, lockedMessage),
                      report(QStringLiteral("Could not add book."), SQLITE_BUSY, lockedMessage)}));
    }
    QCOMPARE(holder.exec("ROLLBACK"), SQLITE_OK);
    BoxCatcher boxes;
    QVERIFY(store.setKnowledgeRate(1, 0.9));
    QVERIFY(store.addBook(QStringLiteral("x"), true));
    QVERIFY(boxes.texts.isEmpty());
    QVERIFY(QFileInfo(QStringLiteral("nivlets.log")).isDir());
    QVERIFY(QDir(QStringLiteral("nivlets.log")).isEmpty());
}

void TstLogFaults::logIsImmutable()
{
    WorkDir work;
    QVERIFY(createDatabase(work.path(), QString::fromLatin1(fixtureSql)));
    const QByteArray earlier = "Error: from an earlier run\n";
    {
        QFile log(QStringLiteral("nivlets.log"));
        QVERIFY(log.open(QIODevice::WriteOnly));
        log.write(earlier);
    }
    Immutable immutable(work.file(QStringLiteral("nivlets.log")));
    if (!immutable.set)
        QSKIP(qPrintable(QStringLiteral("immutable files are not possible here (") + immutable.why +
                         QStringLiteral("); logIsDirectory covers an unwritable log")));
    QVERIFY2(!canWriteFile(immutable.path), "chattr +i did not stop writing");
    openLog();
    NivletCore store;
    store.setBusyTimeout(shortWait);
    QVERIFY(store.open());
    Plain holder(work.file(QStringLiteral("nivlets")));
    QCOMPARE(holder.exec("BEGIN IMMEDIATE"), SQLITE_OK);
    {
        BoxCatcher boxes;
        QVERIFY(!store.deleteBook(store.findBook(2)));
        CHECKED(checkOneReport(
            boxes, report(QStringLiteral("Could not delete book."), SQLITE_BUSY, lockedMessage)));
    }
    QCOMPARE(holder.exec("ROLLBACK"), SQLITE_OK);
    QVERIFY(store.deleteBook(store.findBook(2)));
    closeLog();
    QCOMPARE(readBytes(QStringLiteral("nivlets.log")), earlier);
}

void TstLogFaults::logOnFullDevice()
{
    if (!QFileInfo::exists(QStringLiteral("/dev/full")))
        QSKIP("there is no /dev/full here; logIsDirectory covers an unwritable log");
    WorkDir work;
    QVERIFY(createDatabase(work.path(), QString::fromLatin1(fixtureSql)));
    QVERIFY(QFile::link(QStringLiteral("/dev/full"), QStringLiteral("nivlets.log")));
    openLog();
    NivletCore store;
    store.setBusyTimeout(shortWait);
    QVERIFY(store.open());
    Plain holder(work.file(QStringLiteral("nivlets")));
    QCOMPARE(holder.exec("BEGIN IMMEDIATE"), SQLITE_OK);
    {
        BoxCatcher boxes;
        QVERIFY(!store.editNivlet(1, QStringLiteral("x"), QStringLiteral("y"), true));
        QVERIFY(!store.editNivlet(1, QStringLiteral("x"), QStringLiteral("y"), true));
        const QString expected =
            report(QStringLiteral("Could not edit nivlet."), SQLITE_BUSY, lockedMessage);
        QCOMPARE(boxes.texts, QStringList({expected, expected}));
    }
    QCOMPARE(holder.exec("ROLLBACK"), SQLITE_OK);
    BoxCatcher boxes;
    QVERIFY(store.editNivlet(1, QStringLiteral("x"), QStringLiteral("y"), true));
    QVERIFY(boxes.texts.isEmpty());
}

void TstLogFaults::logIsFifo()
{
    WorkDir work;
    QVERIFY(createDatabase(work.path(), QString::fromLatin1(fixtureSql)));
    QCOMPARE(::mkfifo("nivlets.log", 0600), 0);
    auto opening = std::async(std::launch::async, [] { openLog(); });
    const bool returned = opening.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    if (!returned) {
        // Give the blocked open its reader so the test can go on and fail.
        const int fd = ::open("nivlets.log", O_RDONLY | O_NONBLOCK);
        opening.wait();
        ::close(fd);
    }
    QVERIFY2(returned, "a FIFO named nivlets.log blocked opening the log");
    NivletCore store;
    store.setBusyTimeout(shortWait);
    QVERIFY(store.open());
    Plain holder(work.file(QStringLiteral("nivlets")));
    QCOMPARE(holder.exec("BEGIN IMMEDIATE"), SQLITE_OK);
    {
        BoxCatcher boxes;
        QVERIFY(!store.setKnowledgeRate(1, 0.9));
        CHECKED(
            checkOneReport(boxes, report(QStringLiteral("Could not set knowledge-rate for nivlet."),
                                         SQLITE_BUSY, lockedMessage)));
    }
    QCOMPARE(holder.exec("ROLLBACK"), SQLITE_OK);
    QVERIFY(store.setKnowledgeRate(1, 0.9));
    closeLog();
}

void TstLogFaults::logAppendsAcrossRuns()
{
    WorkDir work;
    QVERIFY(createDatabase(work.path(), QString::fromLatin1(fixtureSql)));
    QStringList expected;
    for (int run = 0; run < 2; ++run) {
        openLog();
        NivletCore store;
        store.setBusyTimeout(shortWait);
        QVERIFY(store.open());
        Plain holder(work.file(QStringLiteral("nivlets")));
        QCOMPARE(holder.exec("BEGIN EXCLUSIVE"), SQLITE_OK);
        BoxCatcher boxes;
        QVERIFY(!store.setKnowledgeRate(1, 0.9));
        QCOMPARE(boxes.texts.size(), 1);
        expected << QStringLiteral("Error: ") + boxes.texts.first();
        QCOMPARE(holder.exec("ROLLBACK"), SQLITE_OK);
        closeLog();
    }
    QCOMPARE(logText(), expected.join(QLatin1Char('\n')) + QLatin1Char('\n'));
}

NIVLETS_FAULT_TEST_MAIN(TstLogFaults)

#include "tst_faults_log.moc"
