#include "nivletcore.h"
#include "testsupport.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <memory>

#include <sqlite3.h>

namespace {

const QString deliveredFile = QStringLiteral(NIVLETS_DATABASE_FILE);
const QString makedbTool = QStringLiteral(NIVLETS_MAKEDB);

// One value from the file through a connection of its own, so that the counts
// are checked against SQLite itself rather than the store's own bookkeeping.
QString queryValue(const QString &file, const QString &sql)
{
    const TestSupport::ReadConnection connection(file);
    SqlStatement stmt = connection.query(sql);
    return stmt.next() ? stmt.columnText(0) : QString();
}

using NivletList = TestSupport::Found;

struct ToolRun
{
    int exitCode = -1;
    QString errors;
};

ToolRun runMakedb(const QStringList &arguments)
{
    QProcess process;
    process.start(makedbTool, arguments);
    ToolRun run;
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
        return run;
    run.exitCode = process.exitCode();
    run.errors = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

} // namespace

class TestDatabase : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void opens();
    void hasTwoBooks();
    void hasCrosswordBook();
    void hasSeveralAnswersAndComments();
    void hasInactiveNivlet();
    void activeListMatchesFlags();
    void hasDefaultOptions();
    void countsMatchTable();
    void integrityIsOk();

    void makedbBuildsFromFilesInOrder();
    void makedbFailsOnBadSql();
    void makedbKeepsOldOutputOnFailure();
    void makedbFailsOnMissingFile();
    void makedbNeedsArguments();

private:
    std::unique_ptr<TestSupport::WorkDir> work;
    std::unique_ptr<TestSupport::BoxCatcher> boxes;
    std::unique_ptr<NivletCore> core;
    QString file;
};

void TestDatabase::init()
{
    work = std::make_unique<TestSupport::WorkDir>();
    QVERIFY(work->isValid());
    boxes = std::make_unique<TestSupport::BoxCatcher>();
    file = work->file(QStringLiteral("nivlets"));
    QVERIFY2(QFile::copy(deliveredFile, file), qPrintable(deliveredFile));
    // A copy of a read-only build output would stay read-only.
    QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
    core = std::make_unique<NivletCore>();
}

void TestDatabase::cleanup()
{
    core.reset();
    if (boxes)
        QVERIFY2(boxes->texts.isEmpty(), qPrintable(boxes->texts.join(QLatin1Char('\n'))));
    boxes.reset();
    work.reset();
}

void TestDatabase::opens()
{
    QVERIFY(core->open());
    QVERIFY(!core->activeListStale());
    QVERIFY(core->activeNivletCount() > 0);
}

void TestDatabase::hasTwoBooks()
{
    QVERIFY(core->open());
    QVERIFY(core->bookCount() >= 2);
    QVERIFY(core->firstActiveBook() != nullptr);
    for (const Book *book : std::as_const(core->books()))
        QVERIFY2(!book->name.trimmed().isEmpty(), qPrintable(QString::number(book->id)));
}

void TestDatabase::hasCrosswordBook()
{
    QVERIFY(core->open());
    static const QRegularExpression word(QStringLiteral("^[A-Z]{2,9}$"));
    const Book *found = nullptr;
    for (Book *book : std::as_const(core->books())) {
        if (!book->active)
            continue;
        NivletList result(core->search(QString(), book, false));
        QVERIFY(result.list);
        if (result.list->size() < 30)
            continue;
        bool allWords = true;
        for (const Nivlet *nivlet : std::as_const(*result.list)) {
            allWords = allWords && !nivlet->possibleAnswers.isEmpty();
            for (const QString &answer : nivlet->possibleAnswers)
                allWords = allWords && word.match(answer.toUpper()).hasMatch();
        }
        if (allWords) {
            found = book;
            break;
        }
    }
    QVERIFY2(found, "no active book of 30 or more nivlets with one-word answers of 2 to 9 letters");
}

void TestDatabase::hasSeveralAnswersAndComments()
{
    QVERIFY(core->open());
    NivletList all(core->search(QString(), nullptr, false));
    QVERIFY(all.list);
    int several = 0;
    int commented = 0;
    for (const Nivlet *nivlet : std::as_const(*all.list)) {
        if (nivlet->possibleAnswers.size() > 1)
            ++several;
        if (nivlet->answer.contains(QLatin1Char('#'))) {
            ++commented;
            for (const QString &answer : nivlet->possibleAnswers)
                QVERIFY2(!answer.contains(QLatin1Char('#')), qPrintable(nivlet->question));
        }
        QVERIFY2(!nivlet->possibleAnswers.isEmpty(), qPrintable(nivlet->question));
    }
    QVERIFY(several >= 1);
    QVERIFY(commented >= 1);
}

void TestDatabase::hasInactiveNivlet()
{
    QVERIFY(core->open());
    NivletList all(core->search(QString(), nullptr, false));
    NivletList active(core->search(QString(), nullptr, true));
    QVERIFY(all.list);
    QVERIFY(active.list);
    QVERIFY(all.list->size() < NivletCore::searchLimit);
    int inactive = 0;
    for (const Nivlet *nivlet : std::as_const(*all.list)) {
        if (!nivlet->active)
            ++inactive;
    }
    QVERIFY(inactive >= 1);
    for (const Nivlet *nivlet : std::as_const(*active.list))
        QVERIFY(nivlet->active && nivlet->book && nivlet->book->active);
    QVERIFY(active.list->size() <= all.list->size() - inactive);
}

void TestDatabase::activeListMatchesFlags()
{
    QVERIFY(core->open());
    const QString expected = queryValue(
        file, QStringLiteral("SELECT COUNT(*) FROM nivlet m, book b WHERE m.book_id = b.id "
                             "AND m.active = 1 AND b.active = 1"));
    QCOMPARE(QString::number(core->activeNivletCount()), expected);
    double previous = -1.0;
    for (const Nivlet *nivlet : std::as_const(core->activeList()->nivlets())) {
        QVERIFY(nivlet->knRate >= previous);
        QVERIFY(nivlet->knRate >= 0.0 && nivlet->knRate <= 1.0);
        previous = nivlet->knRate;
    }
    QVERIFY(
        queryValue(file, QStringLiteral("SELECT COUNT(DISTINCT kn_rate) FROM nivlet")).toInt() >=
        3);
}

void TestDatabase::hasDefaultOptions()
{
    QVERIFY(core->open());
    QCOMPARE(queryValue(file, QStringLiteral("SELECT COUNT(*) FROM options")), QStringLiteral("1"));
    const Options *options = core->options();
    QVERIFY(options);
    QCOMPARE(options->autoCh, false);
    QCOMPARE(options->autoChInterval, 900);
    QCOMPARE(options->puzzleAffectsRates, true);
}

void TestDatabase::countsMatchTable()
{
    QVERIFY(core->open());
    QCOMPARE(QString::number(core->bookCount()),
             queryValue(file, QStringLiteral("SELECT COUNT(*) FROM book")));
    QCOMPARE(QString::number(core->totalNivletCount()),
             queryValue(file, QStringLiteral("SELECT COUNT(*) FROM nivlet")));
    for (const Book *book : std::as_const(core->books())) {
        const QString sql = QStringLiteral("SELECT COUNT(*) FROM nivlet WHERE book_id = %1");
        QCOMPARE(QString::number(book->nivletCount), queryValue(file, sql.arg(book->id)));
        qInfo("book %lld \"%s\" (%s): %d nivlets", static_cast<long long>(book->id),
              qPrintable(book->name), book->active ? "active" : "inactive", book->nivletCount);
    }
    QCOMPARE(queryValue(file, QStringLiteral("SELECT COUNT(*) FROM nivlet WHERE book_id NOT IN "
                                             "(SELECT id FROM book)")),
             QStringLiteral("0"));
}

void TestDatabase::integrityIsOk()
{
    QCOMPARE(queryValue(deliveredFile, QStringLiteral("PRAGMA integrity_check")),
             QStringLiteral("ok"));
}

void TestDatabase::makedbBuildsFromFilesInOrder()
{
    const QString second = work->file(QStringLiteral("second.sql"));
    QVERIFY(writeFile(second, "INSERT INTO book (name, active) VALUES ('Only book', 1);\n"
                              "INSERT INTO nivlet (book_id, question, answer) "
                              "VALUES (last_insert_rowid(), 'Question?', 'Answer');\n"));
    const QString output = work->file(QStringLiteral("built"));
    QVERIFY(writeFile(output, "an older file that the build replaces"));

    const ToolRun run = runMakedb({output, second});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.errors.isEmpty(), qPrintable(run.errors));
    QVERIFY(!QFile::exists(output + QStringLiteral(".tmp")));
    QCOMPARE(queryValue(output, QStringLiteral("SELECT question FROM nivlet")),
             QStringLiteral("Question?"));
    QCOMPARE(queryValue(output, QStringLiteral("SELECT auto_ch_interval FROM options")),
             QStringLiteral("900"));
}

void TestDatabase::makedbFailsOnBadSql()
{
    const QString bad = work->file(QStringLiteral("bad.sql"));
    QVERIFY(writeFile(bad, "INSERT INTO book (name) VALUES ('fine');\n"
                           "INSERT INTO no_such_table VALUES (1);\n"));
    const QString output = work->file(QStringLiteral("built"));

    const ToolRun run = runMakedb({output, bad});
    QVERIFY(run.exitCode > 0);
    QVERIFY2(run.errors.contains(QStringLiteral("no such table: no_such_table")),
             qPrintable(run.errors));
    QVERIFY2(run.errors.contains(bad), qPrintable(run.errors));
    QVERIFY(!QFile::exists(output));
    QVERIFY(!QFile::exists(output + QStringLiteral(".tmp")));
    QVERIFY(!QFile::exists(output + QStringLiteral(".tmp-journal")));
}

void TestDatabase::makedbKeepsOldOutputOnFailure()
{
    const QString bad = work->file(QStringLiteral("bad.sql"));
    QVERIFY(writeFile(bad, "CREATE TABLE book (id INTEGER PRIMARY KEY);\n"));
    const QString output = work->file(QStringLiteral("built"));
    QVERIFY(writeFile(output, "old"));
    // A leftover of an interrupted build must not end up in the new file.
    QVERIFY(writeFile(output + QStringLiteral(".tmp"), "leftover"));

    const ToolRun run = runMakedb({output, bad});
    QVERIFY(run.exitCode > 0);
    QVERIFY2(run.errors.contains(QStringLiteral("table book already exists")),
             qPrintable(run.errors));
    QCOMPARE(TestSupport::readBytes(output), QByteArray("old"));
    QVERIFY(!QFile::exists(output + QStringLiteral(".tmp")));
}

void TestDatabase::makedbFailsOnMissingFile()
{
    const QString output = work->file(QStringLiteral("built"));
    const QString missing = work->file(QStringLiteral("missing.sql"));
    const ToolRun run = runMakedb({output, missing});
    QVERIFY(run.exitCode > 0);
    QVERIFY2(run.errors.contains(missing), qPrintable(run.errors));
    QVERIFY(!QFile::exists(output));
    QVERIFY(!QFile::exists(output + QStringLiteral(".tmp")));
}

void TestDatabase::makedbNeedsArguments()
{
    const QString output = work->file(QStringLiteral("built"));
    const ToolRun run = runMakedb({output});
    QVERIFY(run.exitCode > 0);
    QVERIFY2(run.errors.contains(QStringLiteral("usage")), qPrintable(run.errors));
    QVERIFY(!QFile::exists(output));
}

QTEST_MAIN(TestDatabase)
#include "tst_database.moc"
