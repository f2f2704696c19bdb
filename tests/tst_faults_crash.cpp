// A process killed in the middle of its work: frozen at a chosen write, sync
// or journal deletion, or at a moment the test does not choose, while it
// deletes a large book or writes one rate after another.

#include "faultharness.h"
#include "faultvfs.h"
#include "nivletcore.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>

#include <sqlite3.h>

using namespace FaultHarness;
using namespace TestSupport;

class TstCrashFaults : public FaultTest
{
    Q_OBJECT

private slots:
    void crashWhileDeletingBook();
    void crashWhileWritingRates();

private:
    void checkRates(const QString &file, const QList<QByteArray> &lines, int &reported);
};

void TstCrashFaults::crashWhileDeletingBook()
{
    constexpr int bookSize = 20000;
    WorkDir work;
    const QString templ = work.file(QStringLiteral("template"));
    QVERIFY(QDir().mkpath(templ));
    QVERIFY(createDatabase(
        templ, QStringLiteral(
                   "INSERT INTO book (id, name, active) VALUES (1, 'Large', 1), (2, 'Small', 1);"
                   "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < %1)"
                   " INSERT INTO nivlet (id, active, kn_rate, book_id, question, answer)"
                   " SELECT i, 1, (i % 100) / 100.0, 1, 'question ' || i,"
                   " 'answer ' || i || ' ' || hex(randomblob(16)) FROM c;"
                   "INSERT INTO nivlet (active, kn_rate, book_id, question, answer) VALUES"
                   " (1, 0.5, 2, 'small 1', 'a'), (1, 0.5, 2, 'small 2', 'b');")
                   .arg(bookSize)));
    const QString source = QDir(templ).filePath(QStringLiteral("nivlets"));
    const QString file = work.file(QStringLiteral("nivlets"));

    int writes = 0;
    int syncs = 0;
    int deletes = 0;
    qint64 duration = 0;
    {
        QVERIFY(copyTemplate(source, file));
        NivletCore store;
        QVERIFY(store.open());
        FaultVfs::arm(FaultVfs::Point::Write, FaultVfs::Action::Count);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(store.deleteBook(store.findBook(1)));
        duration = clock.elapsed();
        writes = FaultVfs::count(FaultVfs::Point::Write);
        syncs = FaultVfs::count(FaultVfs::Point::Sync);
        deletes = FaultVfs::count(FaultVfs::Point::Delete);
        FaultVfs::reset();
    }
    QVERIFY(writes > 8 && syncs > 0 && deletes > 0);

    auto checkFile = [&](bool mustRemain, bool mustBeGone) {
        Plain plain(file);
        QCOMPARE(plain.value(QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
        const QString state =
            plain.value(QStringLiteral("SELECT (SELECT count(*) FROM book WHERE id = 1) || '|' ||"
                                       " (SELECT count(*) FROM nivlet WHERE book_id = 1)"));
        const QString whole = QStringLiteral("1|") + QString::number(bookSize);
        QVERIFY2(state == whole || state == QLatin1String("0|0"), qPrintable(state));
        if (mustRemain)
            QCOMPARE(state, whole);
        if (mustBeGone)
            QCOMPARE(state, QStringLiteral("0|0"));
        QCOMPARE(plain.value(QStringLiteral("SELECT count(*) FROM nivlet WHERE book_id = 2")),
                 QStringLiteral("2"));
    };

    // Frozen just before the n-th write, sync or the journal's deletion,
    // then killed: everything before the journal is gone is uncommitted.
    QList<QPair<FaultVfs::Point, int>> stalls;
    for (int k = 0; k <= 8; ++k)
        stalls.append({FaultVfs::Point::Write, qMax(1, writes * k / 8)});
    for (int s = 1; s <= syncs; ++s)
        stalls.append({FaultVfs::Point::Sync, s});
    stalls.append({FaultVfs::Point::Delete, deletes});
    const char *const pointNames[] = {"write", "sync", "delete"};
    for (const auto &stall : std::as_const(stalls)) {
        QVERIFY(copyTemplate(source, file));
        Child child({QStringLiteral("deletebook"), QLatin1String(pointNames[int(stall.first)]),
                     QString::number(stall.second)},
                    work.path());
        QVERIFY2(child.waitForLine("stall"),
                 qPrintable(QStringLiteral("no stall at %1 %2")
                                .arg(QLatin1String(pointNames[int(stall.first)]))
                                .arg(stall.second)));
        child.killHard();
        QCOMPARE(child.process.exitStatus(), QProcess::CrashExit);
        CHECKED(checkFile(true, false));
    }

    // Killed at a moment the test does not choose: whichever state it
    // finds must be whole.
    for (int k = 0; k < 4; ++k) {
        QVERIFY(copyTemplate(source, file));
        Child child({QStringLiteral("deletebook"), QStringLiteral("none"), QStringLiteral("0")},
                    work.path());
        QVERIFY(child.waitForLine("ready"));
        QThread::usleep(static_cast<unsigned long>(duration * 1000 * k / 3));
        child.killHard();
        const bool done = child.lines().contains("done 1");
        CHECKED(checkFile(false, done));
    }
    qInfo("%d writes, %d syncs; %d frozen and 4 timed kills", writes, syncs,
          static_cast<int>(stalls.size()));
}

void TstCrashFaults::checkRates(const QString &file, const QList<QByteArray> &lines, int &reported)
{
    Plain plain(file);
    QCOMPARE(plain.value(QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
    qint64 last = 0;
    int lost = 0;
    reported = 0;
    for (const QByteArray &line : lines) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() != 2)
            continue;
        const qint64 id = parts.at(0).toLongLong();
        const double rate = parts.at(1).toDouble();
        ++reported;
        QCOMPARE(rate, rateFor(id));
        if (plain.rate(id) != rate)
            ++lost;
        last = qMax(last, id);
    }
    QCOMPARE(lost, 0);
    const double next = plain.rate(last + 1);
    QVERIFY(next == 0.0 || next == rateFor(last + 1));
    QCOMPARE(
        plain.value(QStringLiteral("SELECT count(*) FROM nivlet WHERE id > %1 AND kn_rate <> 0")
                        .arg(last + 1)),
        QStringLiteral("0"));
}

void TstCrashFaults::crashWhileWritingRates()
{
    constexpr int nivletCount = 2000;
    WorkDir work;
    const QString templ = work.file(QStringLiteral("template"));
    QVERIFY(QDir().mkpath(templ));
    QVERIFY(createDatabase(
        templ, QStringLiteral(
                   "INSERT INTO book (id, name, active) VALUES (1, 'Rates', 1);"
                   "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < %1)"
                   " INSERT INTO nivlet (id, active, kn_rate, book_id, question, answer)"
                   " SELECT i, 1, 0.0, 1, 'question ' || i, 'answer ' || i FROM c;")
                   .arg(nivletCount)));
    const QString source = QDir(templ).filePath(QStringLiteral("nivlets"));
    const QString file = work.file(QStringLiteral("nivlets"));

    int writesPerRate = 0;
    int syncsPerRate = 0;
    {
        QVERIFY(copyTemplate(source, file));
        NivletCore store;
        QVERIFY(store.open());
        FaultVfs::arm(FaultVfs::Point::Write, FaultVfs::Action::Count);
        QVERIFY(store.setKnowledgeRate(1, 0.5));
        writesPerRate = FaultVfs::count(FaultVfs::Point::Write);
        syncsPerRate = FaultVfs::count(FaultVfs::Point::Sync);
        FaultVfs::reset();
    }
    QVERIFY(writesPerRate > 0 && syncsPerRate > 0);

    int runs = 0;
    int totalReported = 0;
    const char *const pointNames[] = {"write", "sync", "delete"};
    QList<QPair<FaultVfs::Point, int>> stalls;
    const int step = qMax(1, writesPerRate / 8);
    for (int j = 1; j <= writesPerRate; j += step)
        stalls.append({FaultVfs::Point::Write, 20 * writesPerRate + j});
    for (int j = 1; j <= syncsPerRate; ++j)
        stalls.append({FaultVfs::Point::Sync, 20 * syncsPerRate + j});
    stalls.append({FaultVfs::Point::Delete, 21});
    for (const auto &stall : std::as_const(stalls)) {
        QVERIFY(copyTemplate(source, file));
        Child child({QStringLiteral("rates"), QLatin1String(pointNames[int(stall.first)]),
                     QString::number(stall.second), QString::number(nivletCount)},
                    work.path());
        QVERIFY(child.waitForLine("stall"));
        child.killHard();
        QCOMPARE(child.process.exitStatus(), QProcess::CrashExit);
        int reported = 0;
        CHECKED(checkRates(file, child.lines(), reported));
        QVERIFY(reported >= 10);
        totalReported += reported;
        ++runs;
    }
    for (const int wanted : {5, 60}) {
        QVERIFY(copyTemplate(source, file));
        Child child({QStringLiteral("rates"), QStringLiteral("none"), QStringLiteral("0"),
                     QString::number(nivletCount)},
                    work.path());
        QVERIFY(child.waitForLine("ready"));
        QElapsedTimer clock;
        clock.start();
        while (child.lineCount() < wanted + 1 && clock.elapsed() < 30000)
            child.process.waitForReadyRead(50);
        child.killHard();
        QCOMPARE(child.process.exitStatus(), QProcess::CrashExit);
        int reported = 0;
        CHECKED(checkRates(file, child.lines(), reported));
        QVERIFY(reported >= wanted);
        totalReported += reported;
        ++runs;
    }
    qInfo("%d killed runs, %d reported rates, none lost", runs, totalReported);
}

NIVLETS_FAULT_TEST_MAIN(TstCrashFaults)

#include "tst_faults_crash.moc"
