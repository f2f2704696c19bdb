// Automatic backups through the store: when they are made, what they hold,
// how many stay, and failures that never stop the program's work.

#include "backups.h"
#include "log.h"
#include "nivletcore.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <sqlite3.h>

using TestSupport::BoxCatcher;
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
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
            result += QStringLiteral("failed: %1\n").arg(QString::fromUtf8(sqlite3_errmsg(db)));
            continue;
        }
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            for (int c = 0; c < sqlite3_column_count(stmt); ++c)
                result += QString::fromUtf8(
                              reinterpret_cast<const char *>(sqlite3_column_text(stmt, c))) +
                          QLatin1Char('|');
            result += QLatin1Char('\n');
        }
        sqlite3_finalize(stmt);
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

// Makes a folder unwritable even for root (chmod alone does not stop root);
// restores it on the way out, so the temporary folder can go.
class Unwritable
{
public:
    explicit Unwritable(const QString &path) : path(path)
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
        QCOMPARE(backupFiles(), QStringList{QStringLiteral("nivlets-2026-12-08_09-05-00")});
    }
    // A later start on the same day, and one exactly a day later, make none.
    for (const qint64 seconds : {qint64(60), qint64(3 * 3600), Backups::maxAgeSeconds}) {
        NivletCore core;
        QVERIFY(core.open());
        QVERIFY(core.backupAtStartup(start.addSecs(seconds)));
        QCOMPARE(backupFiles().size(), 1);
    }
    NivletCore core;
    QVERIFY(core.open());
    QVERIFY(core.backupAtStartup(start.addSecs(Backups::maxAgeSeconds + 1)));
    QCOMPARE(backupFiles(), (QStringList{QStringLiteral("nivlets-2026-12-08_09-05-00"),
                                         QStringLiteral("nivlets-2026-12-09_09-05-01")}));
    QVERIFY(!QFile::exists(QStringLiteral("nivlets.log")));
}

void TestBackups::backupHoldsTheFileOfThatMoment()
{
    WorkDir work;
    QVERIFY(TestSupport::createDatabase(work.path(), QLatin1String(sampleSql)));
    NivletCore core;
    QVERIFY(core.open());
    const QString first = dump(QStringLiteral("nivlets"));
    QVERIFY(core.backupAtStartup(start));
    QVERIFY(
        core.addNivlet(core.findBook(1), QStringLiteral("amat"), QStringLiteral("he loves"), true));
    QVERIFY(core.setKnowledgeRate(1, 0.125));
    const QString second = dump(QStringLiteral("nivlets"));
    QVERIFY(first != second);
    QVERIFY(core.backupBeforeDeletion(start.addSecs(10)));

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
    // A deletion of two books after one confirmation: one backup.
    QVERIFY(core.backupBeforeDeletion(start));
    QVERIFY(core.deleteBooks({core.findBook(1), core.findBook(2)}));
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
    QCOMPARE(backupFiles().size(), 1);
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
