// Automatic backups through the store: when they are made, what they hold,
// how many stay, and failures that never stop the program's work.

#include "backups.h"
#include "log.h"
#include "nivletcore.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <sqlite3.h>

using TestSupport::BoxCatcher;
using TestSupport::LockingConnection;
using TestSupport::WorkDir;

namespace {

const char sampleSql[] = R"(
INSERT INTO book (id, name, active) VALUES (1, 'Latin', 1), (2, 'Greek', 0);
INSERT INTO nivlet (id, active, kn_rate, book_id, question, answer) VALUES
    (1, 1, 0.5, 1, 'amo', 'I love'), (2, 0, 0.25, 1, 'amas', 'you love'),
    (3, 1, 0.75, 2, 'logos', 'word');
)";

const QDateTime start(QDate(2026, 12, 8), QTime(9, 5, 0));

// The schema and every row of every table, as text.
QString dump(const QString &file)
{
    QString result;
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(file).constData(), &db, SQLITE_OPEN_READONLY, nullptr) !=
        SQLITE_OK) {
        sqlite3_close(db);
        return QStringLiteral("cannot open ") + file;
    }
    for (const char *sql : {"SELECT type, name, sql FROM sqlite_master ORDER BY name",
                            "PRAGMA integrity_check", "SELECT * FROM book ORDER BY id",
                            "SELECT * FROM nivlet ORDER BY id", "SELECT * FROM options"}) {
        SqlStatement stmt(db, sql);
        if (!stmt) {
            result += QStringLiteral("failed: %1\n").arg(stmt.errorMessage());
            continue;
        }
        while (stmt.next()) {
            for (int c = 0; c < stmt.columnCount(); ++c)
                result += QString::fromUtf8(stmt.columnUtf8(c)) + QLatin1Char('|');
            result += QLatin1Char('\n');
        }
    }
    sqlite3_close(db);
    return result;
}

QStringList backupFiles()
{
    return Backups(QStringLiteral("backups")).files();
}

QString backupPath(const QString &name)
{
    return QDir(QStringLiteral("backups")).filePath(name);
}

QStringList partialFiles()
{
    return QDir(QStringLiteral("backups")).entryList({QStringLiteral("*.partial")}, QDir::Files);
}

// Runs the event loop until the backup in the making is done; true when it
// was made.
bool finished(NivletCore &core)
{
    if (!core.backupRunning())
        return false;
    QSignalSpy done(&core, &NivletCore::backupFinished);
    if (!done.wait(30000))
        return false;
    return done.first().first().toBool();
}

// Long answers over many pages, so that a copy in small steps takes many.
QString manyPages()
{
    return QStringLiteral(
        "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < 200)"
        " INSERT INTO nivlet (active, kn_rate, book_id, question, answer)"
        " SELECT 1, i / 1000.0, 1, 'question ' || i, printf('%.2000c', 'x') || i FROM c;");
}

// One step of two pages a turn, so that a test sees the copy between steps.
constexpr BackupPace slowPace{2, 0, 0};

// Makes a folder unwritable even for root (chmod alone does not stop root);
// restores it on the way out, so the temporary folder can go.
class Unwritable
{
public:
    explicit Unwritable(const QString &file) : path(file)
    {
        QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner);
        if (writable())
            immutable =
                QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), path}) == 0;
    }
    ~Unwritable()
    {
        if (immutable)
            QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), path});
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    Unwritable(const Unwritable &) = delete;
    Unwritable &operator=(const Unwritable &) = delete;

    bool writable() const
    {
        QFile probe(QDir(path).filePath(QStringLiteral("probe")));
        if (!probe.open(QIODevice::WriteOnly))
            return false;
        probe.remove();
        return true;
    }

private:
    QString path;
    bool immutable = false;
};

} // namespace

class TestBackups : public QObject
{
    Q_OBJECT

private slots:
    void startupBackupOncePerDay();
    void freshness_data();
    void freshness();
    void backupDatedInTheFutureIsNoFreshOne();
    void startupBackupWaitsForTheEventLoop();
    void copiedInStepsWhileTheStoreWrites();
    void endOfRunFinishesTheCopy();
    void failureWhileCopying();
    void backupHoldsTheFileOfThatMoment();
    void backupBeforeDeletion();
    void atMostTenKept();
    void leftoversAreRemoved();
    void namesOfBackups_data();
    void namesOfBackups();
    void failureShownOnceAndWorkGoesOn_data();
    void failureShownOnceAndWorkGoesOn();
};

void TestBackups::startupBackupOncePerDay()
{
    WorkDir work;
    QVERIFY(TestSupport::createDatabase(work.path(), QLatin1String(sampleSql)));
    {
        NivletCore core;
        QVERIFY(core.open());
        QVERIFY(core.backupAtStartup(start));
        QVERIFY(finished(core));
        QCOMPARE(backupFiles(), QStringList{QStringLiteral("nivlets-2026-12-08_09-05-00")});
    }
    // A later start on the same day, and one exactly a day later, make none.
    for (const qint64 seconds : {qint64(60), qint64(3 * 3600), Backups::maxAgeSeconds}) {
        NivletCore core;
        QVERIFY(core.open());
        QVERIFY(core.backupAtStartup(start.addSecs(seconds)));
        QVERIFY(!core.backupRunning());
        QCOMPARE(backupFiles().size(), 1);
    }
    NivletCore core;
    QVERIFY(core.open());
    QVERIFY(core.backupAtStartup(start.addSecs(Backups::maxAgeSeconds + 1)));
    QVERIFY(finished(core));
    QCOMPARE(backupFiles(), (QStringList{QStringLiteral("nivlets-2026-12-08_09-05-00"),
                                         QStringLiteral("nivlets-2026-12-09_09-05-01")}));
    QVERIFY(!QFile::exists(QStringLiteral("nivlets.log")));
}

void TestBackups::freshness_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<bool>("due");
    QTest::newRow("none") << QStringList() << true;
    QTest::newRow("a minute old") << QStringList{QStringLiteral("nivlets-2026-12-08_09-04-00")}
                                  << false;
    QTest::newRow("a day old") << QStringList{QStringLiteral("nivlets-2026-12-07_09-05-00")}
                               << false;
    QTest::newRow("a day and a second old")
        << QStringList{QStringLiteral("nivlets-2026-12-07_09-04-59")} << true;
    // Made while the clock was ahead, by a second or by years.
    QTest::newRow("a second ahead")
        << QStringList{QStringLiteral("nivlets-2026-12-08_09-05-01")} << true;
    QTest::newRow("years ahead") << QStringList{QStringLiteral("nivlets-2031-05-01_12-00-00"),
                                                QStringLiteral("nivlets-2026-11-30_10-00-00")}
                                 << true;
    QTest::newRow("years ahead and one of today")
        << QStringList{QStringLiteral("nivlets-2026-12-08_07-00-00"),
                       QStringLiteral("nivlets-2031-05-01_12-00-00")}
        << false;
}

void TestBackups::freshness()
{
    QFETCH(QStringList, names);
    QFETCH(bool, due);
    WorkDir work;
    QVERIFY(QDir().mkdir(QStringLiteral("backups")));
    for (const QString &name : names) {
        QFile f(backupPath(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    QCOMPARE(Backups(QStringLiteral("backups")).isDue(start), due);
}

void TestBackups::backupDatedInTheFutureIsNoFreshOne()
{
    WorkDir work;
    QVERIFY(TestSupport::createDatabase(work.path(), QLatin1String(sampleSql)));
    QVERIFY(QDir().mkdir(QStringLiteral("backups")));
    const QString ahead = QStringLiteral("nivlets-2031-05-01_12-00-00");
    QVERIFY(QFile::copy(QStringLiteral("nivlets"), backupPath(ahead)));
    {
        NivletCore core;
        QVERIFY(core.open());
        QVERIFY(core.backupAtStartup(start));
        QTRY_COMPARE(backupFiles().size(), 2);
    }
    QCOMPARE(backupFiles(), (QStringList{QStringLiteral("nivlets-2026-12-08_09-05-00"), ahead}));
    // The next start of the day finds the fresh one; the next day needs another.
    for (const qint64 seconds : {qint64(3600), Backups::maxAgeSeconds + 1}) {
        NivletCore core;
        QVERIFY(core.open());
        QVERIFY(core.backupAtStartup(start.addSecs(seconds)));
        QTRY_COMPARE(backupFiles().size(), seconds == 3600 ? 2 : 3);
    }
}

void TestBackups::startupBackupWaitsForTheEventLoop()
{
    WorkDir work;
    QVERIFY(TestSupport::createDatabase(work.path(), QLatin1String(sampleSql)));
    NivletCore core;
    QVERIFY(core.open());
    QVERIFY(core.backupAtStartup(start));
    QVERIFY(backupFiles().isEmpty());
    // The copy ends as the file of its last step, with this change in it.
    QVERIFY(core.setKnowledgeRate(3, 0.625));
    QTRY_COMPARE(backupFiles().size(), 1);
    const QString copy = dump(backupPath(backupFiles().first()));
    QVERIFY(copy.contains(QStringLiteral("|0.625|")));
    QCOMPARE(copy, dump(QStringLiteral("nivlets")));
}

void TestBackups::copiedInStepsWhileTheStoreWrites()
{
    WorkDir work;
    QVERIFY(TestSupport::createDatabase(work.path(), QLatin1String(sampleSql) + manyPages()));
    NivletCore core;
    QVERIFY(core.open());
    core.setBackupPace(slowPace);
    QList<int> copied;
    int total = 0;
    connect(&core, &NivletCore::backupProgress, this, [&copied, &total](int pages, int count) {
        copied.append(pages);
        total = count;
    });
    // Turns of the event loop for other work, between the copy's turns.
    int otherTurns = 0;
    QTimer other;
    other.setInterval(0);
    connect(&other, &QTimer::timeout, this, [&otherTurns] { ++otherTurns; });
    other.start();

    QVERIFY(core.backupAtStartup(start));
    QTRY_VERIFY(copied.size() >= 3);
    // Answers, a new nivlet and a deletion through the store while it copies.
    QVERIFY(core.setKnowledgeRate(1, 0.875));
    QVERIFY(core.addNivlet(core.findBook(2), QStringLiteral("nomos"), QStringLiteral("law"), true));
    QVERIFY(core.deleteNivlet(2, core.findBook(1)));
    const qsizetype before = copied.size();
    QTRY_VERIFY(copied.size() >= before + 3);
    QVERIFY(core.setKnowledgeRate(4, 0.0625));
    QVERIFY(finished(core));
    other.stop();

    QVERIFY2(total > 100, qPrintable(QString::number(total)));
    QCOMPARE(copied.last(), total);
    QVERIFY(copied.size() >= total / slowPace.pagesPerStep);
    for (qsizetype i = 1; i < copied.size(); ++i)
        QVERIFY(copied.at(i) - copied.at(i - 1) <= slowPace.pagesPerStep);
    QVERIFY2(otherTurns >= copied.size() / 2, qPrintable(QString::number(otherTurns)));

    const QString copy = dump(backupPath(backupFiles().first()));
    QVERIFY(copy.contains(QStringLiteral("\nok|\n")));
    QVERIFY(copy.contains(QStringLiteral("|nomos|law|")));
    QCOMPARE(copy, dump(QStringLiteral("nivlets")));
    QVERIFY(partialFiles().isEmpty());
}

void TestBackups::endOfRunFinishesTheCopy()
{
    WorkDir work;
    QVERIFY(TestSupport::createDatabase(work.path(), QLatin1String(sampleSql) + manyPages()));
    QString expected;
    {
        NivletCore core;
        QVERIFY(core.open());
        core.setBackupPace(slowPace);
        QSignalSpy progress(&core, &NivletCore::backupProgress);
        QVERIFY(core.backupAtStartup(start));
        QVERIFY(progress.wait());
        QVERIFY(core.setKnowledgeRate(1, 0.375));
        QCOMPARE(partialFiles().size(), 1);
        QVERIFY(backupFiles().isEmpty());
        expected = dump(QStringLiteral("nivlets"));
    }
    QCOMPARE(backupFiles(), QStringList{QStringLiteral("nivlets-2026-12-08_09-05-00")});
    QVERIFY(partialFiles().isEmpty());
    QCOMPARE(dump(backupPath(backupFiles().first())), expected);
}

void TestBackups::failureWhileCopying()
{
    WorkDir work;
    QVERIFY(TestSupport::createDatabase(work.path(), QLatin1String(sampleSql) + manyPages()));
    openLog();
    BoxCatcher boxes;
    NivletCore core;
    QVERIFY(core.open());
    core.setBusyTimeout(50);
    core.setBackupPace(slowPace);
    QSignalSpy progress(&core, &NivletCore::backupProgress);
    QSignalSpy done(&core, &NivletCore::backupFinished);
    QVERIFY(core.backupAtStartup(start));
    QVERIFY(progress.wait());
    {
        // Another program holds the file for longer than the store waits.
        LockingConnection lock;
        QVERIFY(lock.locked);
        QVERIFY(done.wait());
    }
    QCOMPARE(done.first().first().toBool(), false);
    QVERIFY(!core.backupRunning());
    QVERIFY(backupFiles().isEmpty());
    QVERIFY(partialFiles().isEmpty());
    const QString message =
        QStringLiteral("Could not back up the database: could not write "
                       "backups/nivlets-2026-12-08_09-05-00.partial: database is locked");
    QCOMPARE(boxes.texts, QStringList{message});

    // The program goes on, and the next backup is made.
    QVERIFY(core.setKnowledgeRate(1, 0.25));
    QVERIFY(core.backupBeforeDeletion(start.addSecs(60)));
    QVERIFY(finished(core));
    QCOMPARE(backupFiles(), QStringList{QStringLiteral("nivlets-2026-12-08_09-06-00")});
    QCOMPARE(boxes.texts.size(), 1);
    closeLog();
    QCOMPARE(TestSupport::readFile(QStringLiteral("nivlets.log")),
             QStringLiteral("Error: %1\n").arg(message));
}

void TestBackups::backupHoldsTheFileOfThatMoment()
{
    WorkDir work;
    QVERIFY(TestSupport::createDatabase(work.path(), QLatin1String(sampleSql)));
    NivletCore core;
    QVERIFY(core.open());
    const QString first = dump(QStringLiteral("nivlets"));
    QVERIFY(core.backupAtStartup(start));
    QVERIFY(finished(core));
    QVERIFY(
        core.addNivlet(core.findBook(1), QStringLiteral("amat"), QStringLiteral("he loves"), true));
    QVERIFY(core.setKnowledgeRate(1, 0.125));
    const QString second = dump(QStringLiteral("nivlets"));
    QVERIFY(first != second);
    QVERIFY(core.backupBeforeDeletion(start.addSecs(10)));
    QVERIFY(finished(core));

    const QStringList files = backupFiles();
    QCOMPARE(files.size(), 2);
    QVERIFY(dump(backupPath(files.at(0))).contains(QStringLiteral("\nok|\n")));
    QCOMPARE(dump(backupPath(files.at(0))), first);
    QCOMPARE(dump(backupPath(files.at(1))), second);
}

void TestBackups::backupBeforeDeletion()
{
    WorkDir work;
    QVERIFY(TestSupport::createDatabase(work.path(), QLatin1String(sampleSql)));
    NivletCore core;
    QVERIFY(core.open());
    const QString before = dump(QStringLiteral("nivlets"));
    // A deletion of two books after one confirmation: one backup, which
    // the deletion waits for.
    QVERIFY(core.backupBeforeDeletion(start));
    QVERIFY(core.deleteBooks({core.findBook(1), core.findBook(2)}));
    QVERIFY(!core.backupRunning());
    QCOMPARE(core.bookCount(), 0);
    const QStringList files = backupFiles();
    QCOMPARE(files.size(), 1);
    QCOMPARE(dump(backupPath(files.first())), before);

    // Restoring is copying the backup over the file while nothing has it open.
    QVERIFY(QFile::remove(QStringLiteral("nivlets")));
    QVERIFY(QFile::copy(backupPath(files.first()), QStringLiteral("nivlets")));
    NivletCore restored;
    QVERIFY(restored.open());
    QCOMPARE(restored.bookCount(), 2);
    QCOMPARE(restored.totalNivletCount(), 3);
}

void TestBackups::atMostTenKept()
{
    WorkDir work;
    QVERIFY(TestSupport::createDatabase(work.path(), QLatin1String(sampleSql)));
    QVERIFY(QDir().mkdir(QStringLiteral("backups")));
    // Files of the user's own in the folder are never touched.
    const QStringList foreign{QStringLiteral("nivlets-before-the-move"),
                              QStringLiteral("notes.txt"),
                              QStringLiteral("nivlets-2020-01-01_00-00-00.db")};
    for (const QString &name : foreign) {
        QFile f(backupPath(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    NivletCore core;
    QVERIFY(core.open());
    QStringList made;
    for (int i = 0; i < 13; ++i) {
        // Two within the same second get told apart.
        const QDateTime now = start.addSecs(i == 5 ? 4 * 60 : i * 60);
        QVERIFY(core.backupBeforeDeletion(now));
        QVERIFY(finished(core));
        made = backupFiles();
        QCOMPARE(made.size(), qMin(i + 1, Backups::kept));
    }
    QCOMPARE(made.first(), QStringLiteral("nivlets-2026-12-08_09-08-00"));
    QCOMPARE(made.at(1), QStringLiteral("nivlets-2026-12-08_09-09-00"));
    QCOMPARE(made.at(2), QStringLiteral("nivlets-2026-12-08_09-09-00-2"));
    QCOMPARE(made.last(), QStringLiteral("nivlets-2026-12-08_09-17-00"));
    for (const QString &name : foreign)
        QVERIFY2(QFile::exists(backupPath(name)), qPrintable(name));
    for (const QString &name : made)
        QVERIFY(dump(backupPath(name)).contains(QStringLiteral("amo")));
}

void TestBackups::leftoversAreRemoved()
{
    WorkDir work;
    QVERIFY(TestSupport::createDatabase(work.path(), QLatin1String(sampleSql)));
    QVERIFY(QDir().mkdir(QStringLiteral("backups")));
    // Left by a program killed while it copied.
    const QString partial = backupPath(QStringLiteral("nivlets-2026-12-01_10-00-00.partial"));
    {
        QFile f(partial);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("SQLite format 3");
    }
    QVERIFY(Backups(QStringLiteral("backups")).isDue(start));
    NivletCore core;
    QVERIFY(core.open());
    QVERIFY(core.backupAtStartup(start));
    QVERIFY(!QFile::exists(partial));
    QVERIFY(finished(core));
    QCOMPARE(backupFiles().size(), 1);
    QVERIFY(partialFiles().isEmpty());
}

void TestBackups::namesOfBackups_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QDateTime>("time");
    QTest::newRow("plain") << QStringLiteral("nivlets-2026-12-08_09-05-00") << start;
    QTest::newRow("second of a second") << QStringLiteral("nivlets-2026-12-08_09-05-00-2") << start;
    QTest::newRow("unfinished") << QStringLiteral("nivlets-2026-12-08_09-05-00.partial")
                                << QDateTime();
    QTest::newRow("other") << QStringLiteral("nivlets") << QDateTime();
    QTest::newRow("no such day") << QStringLiteral("nivlets-2026-13-08_09-05-00") << QDateTime();
}

void TestBackups::namesOfBackups()
{
    QFETCH(QString, name);
    QFETCH(QDateTime, time);
    QCOMPARE(Backups::timeOf(name), time);
}

void TestBackups::failureShownOnceAndWorkGoesOn_data()
{
    QTest::addColumn<bool>("folderIsFile");
    QTest::newRow("read-only folder") << false;
    QTest::newRow("a file named backups") << true;
}

void TestBackups::failureShownOnceAndWorkGoesOn()
{
    QFETCH(bool, folderIsFile);
    WorkDir work;
    QVERIFY(TestSupport::createDatabase(work.path(), QLatin1String(sampleSql)));
    std::unique_ptr<Unwritable> unwritable;
    if (folderIsFile) {
        QFile f(QStringLiteral("backups"));
        QVERIFY(f.open(QIODevice::WriteOnly));
    } else {
        QVERIFY(QDir().mkdir(QStringLiteral("backups")));
        unwritable = std::make_unique<Unwritable>(work.file(QStringLiteral("backups")));
        if (unwritable->writable())
            QSKIP("neither permissions nor chattr make a folder read-only here");
    }
    openLog();
    BoxCatcher boxes;
    NivletCore core;
    QVERIFY(core.open());
    QVERIFY(!core.backupAtStartup(start));
    QCOMPARE(boxes.titles, QStringList{QStringLiteral("Error")});
    const QString reason =
        folderIsFile ? QStringLiteral("could not create the folder %1")
                           .arg(work.file(QStringLiteral("backups")))
                     : QStringLiteral("could not write "
                                      "backups/nivlets-2026-12-08_09-05-00.partial: unable to "
                                      "open database file");
    const QString message = QStringLiteral("Could not back up the database: ") + reason;
    QCOMPARE(boxes.texts, QStringList{message});

    // The deletion the user asked for goes on; the box is not shown again.
    QVERIFY(!core.backupBeforeDeletion(start.addSecs(30)));
    QVERIFY(core.deleteBook(core.findBook(1)));
    QCOMPARE(boxes.texts.size(), 1);
    closeLog();
    QCOMPARE(TestSupport::readFile(QStringLiteral("nivlets.log")),
             QStringLiteral("Error: %1\nError: %2\n")
                 .arg(message, QString(message).replace(QStringLiteral("09-05-00"),
                                                        QStringLiteral("09-05-30"))));
    QCOMPARE(TestSupport::readFile(QStringLiteral("nivlets.log")).count(QStringLiteral("Error")),
             2);
    QVERIFY(!core.findBook(1));
    QVERIFY(backupFiles().isEmpty());
}

QTEST_MAIN(TestBackups)
#include "tst_backups.moc"
