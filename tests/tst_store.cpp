#include "log.h"
#include "nivletcore.h"
#include "testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <sqlite3.h>
#include <thread>

using TestSupport::BoxCatcher;
using TestSupport::LockingConnection;
using TestSupport::rows;
using TestSupport::WorkDir;

namespace {

// Three books, one of them switched off, and a nivlet whose book is missing.
const char sampleSql[] = R"(
INSERT INTO book (id, name, active) VALUES (1, 'Latin', 1), (2, 'Greek', 1), (3, 'Old', 0);
INSERT INTO nivlet (id, active, kn_rate, book_id, question, answer) VALUES
    (1, 1, 0.5, 1, 'amo', 'I love'),
    (2, 1, 0.25, 1, 'amas', 'you love'),
    (3, 0, 0.1, 1, 'amat', 'he loves'),
    (4, 1, 0.75, 2, 'logos', 'word'),
    (5, 1, 0.05, 2, 'theos', 'god'),
    (6, 1, 0.0, 3, 'vetus', 'old'),
    (7, 1, 0.01, 99, 'orphan', 'none');
)";

// A nivlet table as a hand-made file might have it: no defaults, no NOT NULL.
const char looseNivletTableSql[] = R"(
DROP TABLE nivlet;
CREATE TABLE nivlet (id INTEGER PRIMARY KEY, active INTEGER, kn_rate REAL, book_id INTEGER,
                     question TEXT, answer TEXT);
)";

constexpr QLatin1String
    nivletRowsSql("SELECT id, active, kn_rate, book_id, question, answer FROM nivlet ORDER BY id");

QStringList allRows()
{
    return rows(QStringLiteral("SELECT 'book', * FROM book ORDER BY id")) + rows(nivletRowsSql) +
           rows(QStringLiteral("SELECT 'options', * FROM options"));
}

bool exec(const QString &sql)
{
    return TestSupport::execSql(QStringLiteral("nivlets"), sql);
}

// Owns a search result, as every caller of search must.
using TestSupport::Found;

QList<qint64> ids(const QList<Nivlet *> &list)
{
    QList<qint64> result;
    for (const Nivlet *n : list)
        result << n->id;
    return result;
}

// Everything the store keeps in memory that a failed operation must leave alone.
QString memory(const NivletCore &core)
{
    QStringList parts;
    for (const Book *b : core.books())
        parts << QStringLiteral("%1:%2:%3:%4")
                     .arg(b->id)
                     .arg(b->name)
                     .arg(b->active)
                     .arg(b->nivletCount);
    QStringList active;
    for (const Nivlet *n : core.activeList()->nivlets())
        active << QStringLiteral("%1@%2").arg(n->id).arg(n->knRate);
    parts << QStringLiteral("active=") + active.join(QLatin1Char(','));
    parts << QStringLiteral("stale=%1").arg(core.activeListStale());
    if (core.cachedOptions())
        parts << QStringLiteral("options=%1,%2,%3")
                     .arg(core.cachedOptions()->autoCh)
                     .arg(core.cachedOptions()->autoChInterval)
                     .arg(core.cachedOptions()->puzzleAffectsRates);
    else
        parts << QStringLiteral("options=null");
    return parts.join(QLatin1Char(' '));
}

// Reaches the connection, so a test can leave a transaction open on it.
class ExposedCore : public NivletCore
{
public:
    using NivletCore::connection;
};

QString lockedText(const char *failure)
{
    return QStringLiteral("%1 error code: 5 error message: database is locked")
        .arg(QLatin1String(failure));
}

// Tests that expect a lock to be reported wait this long, not the few
// seconds a user's store waits.
constexpr int shortWait = 50;

} // namespace

class TestStore : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void openEmptyBookTable();
    void openLoadsBooksCountsAndActiveList();
    void openReadsNullsAndOutOfRangeRates();
    void openFailures_data();
    void openFailures();

    void getNivlet();
    void changesTouchOnlyTheirRow();
    void insertWithoutRateDefaultReadsZero();

    void search_data();
    void search();
    void searchStopsAtLimit();
    void searchKeepsNonAsciiText();

    void countsFollowAddAndDelete();
    void deletingMissingIdFails();
    void deleteNivletsStopsAtFirstFailure();

    void staleness();
    void reloadIsExplicit();

    void addBook();
    void editBook();
    void deleteBook();
    void deleteBookRollsBackWhenBookRowFails();
    void deleteBooksStopsAtFirstFailure();
    void booksWithSameNameAndLookupByName();
    void deletedBookLeavesNoDanglingPointer();
    void beginInsideOpenTransactionFails();
    void recordsOutliveDeletedBook();
    void bookChangesAreSignalled();
    void deleteBookReportsAfterRollback();
    void changeOfMissingRowFails_data();
    void changeOfMissingRowFails();

    void optionsAreReadOnce();
    void setOptionsWritesRowAndCache();
    void failedOptionsReadIsRetried();
    void failedSetOptionsKeepsCache();
    void optionsWithoutRowGiveDefaults();
    void failedOptionsReadLeavesNoCache();
    void optionsIntervalIsBounded_data();
    void optionsIntervalIsBounded();

    void lockedWritesFailAndLeaveEverything();
    void lockedReadsFail();
    void momentaryLockIsWaitedFor();
    void lastingLockIsReportedAfterTheWait();

    void logAppendsAcrossRuns();
    void logBeforeOpenOnlyShowsBox();
    void logWritesUtf8();

private:
    // The boxes shown since the last call, as "title: text".
    QStringList takeBoxes();
    bool openSample(NivletCore &core, const QString &extraSql = QString::fromUtf8(sampleSql));

    BoxCatcher *catcher = nullptr;
    WorkDir *dir = nullptr;
};

void TestStore::init()
{
    dir = new WorkDir;
    catcher = new BoxCatcher;
}

void TestStore::cleanup()
{
    const QStringList leftOver = takeBoxes();
    delete catcher;
    catcher = nullptr;
    closeLog();
    delete dir;
    dir = nullptr;
    QVERIFY2(leftOver.isEmpty(), qPrintable(QStringLiteral("unexpected boxes: ") +
                                            leftOver.join(QStringLiteral(" / "))));
}

QStringList TestStore::takeBoxes()
{
    QStringList result;
    for (int i = 0; i < catcher->texts.size(); ++i)
        result << catcher->titles.value(i) + QStringLiteral(": ") + catcher->texts.at(i);
    catcher->clear();
    return result;
}

bool TestStore::openSample(NivletCore &core, const QString &extraSql)
{
    return TestSupport::createDatabase(dir->path(), extraSql) && core.open();
}

void TestStore::openEmptyBookTable()
{
    NivletCore core;
    QVERIFY(openSample(core, QString()));
    QCOMPARE(core.bookCount(), 0);
    QCOMPARE(core.activeNivletCount(), 0);
    QCOMPARE(core.totalNivletCount(), 0);
    QVERIFY(!core.firstActiveBook());
    QVERIFY(!core.activeListStale());
    QCOMPARE(core.lastAskedId(), qint64(-1));
    QVERIFY(!core.pendingNivlet());
    QVERIFY(!core.cachedOptions());
}

void TestStore::openLoadsBooksCountsAndActiveList()
{
    NivletCore core;
    QVERIFY(openSample(core));
    QCOMPARE(memory(core), QStringLiteral("1:Latin:1:3 2:Greek:1:2 3:Old:0:1 "
                                          "active=5@0.05,2@0.25,1@0.5,4@0.75 stale=0 "
                                          "options=null"));
    QCOMPARE(core.totalNivletCount(), 6);
    QCOMPARE(core.firstActiveBook(), core.book(0));
    for (const Nivlet *n : core.activeList()->nivlets())
        QCOMPARE(n->book, core.findBook(n->id == 4 || n->id == 5 ? 2 : 1));
    QCOMPARE(core.activeList()->nivlets().first()->question, QStringLiteral("theos"));
    QCOMPARE(core.activeList()->nivlets().first()->answer, QStringLiteral("god"));
}

void TestStore::openReadsNullsAndOutOfRangeRates()
{
    NivletCore core;
    QVERIFY(openSample(core, QString::fromUtf8(looseNivletTableSql) + QStringLiteral(R"(
        INSERT INTO book (id, name, active) VALUES (1, 'Loose', 1);
        INSERT INTO nivlet VALUES (1, 1, 7.5, 1, 'high', 'a'), (2, 1, -3, 1, 'low', 'a'),
            (3, 1, 1e308, 1, 'huge', 'a'), (4, 1, 'abc', 1, 'text', 'a'),
            (5, 1, NULL, 1, NULL, NULL), (6, 1, 0.5, 1, 'fine', NULL),
            (7, 1, 1e999, 1, 'infinite', 'a'), (8, 1, -1e999, 1, 'minus infinite', 'a');
    )")));
    QCOMPARE(core.activeNivletCount(), 8);
    const QHash<qint64, double> expected{{1, 1.0}, {2, 0.0}, {3, 1.0}, {4, 0.0},
                                         {5, 0.0}, {6, 0.5}, {7, 1.0}, {8, 0.0}};
    for (const Nivlet *n : core.activeList()->nivlets())
        QCOMPARE(n->knRate, expected.value(n->id, -1.0));

    std::unique_ptr<Nivlet> empty(core.getNivlet(5));
    QVERIFY(empty);
    QVERIFY(empty->question.isEmpty());
    QVERIFY(empty->answer.isEmpty());
    QVERIFY(empty->possibleAnswers.isEmpty());
    std::unique_ptr<Nivlet> wild(core.getNivlet(4));
    QCOMPARE(wild->knRate, 0.0);
}

void TestStore::openFailures_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("box");

    QTest::newRow("book table missing")
        << "DROP TABLE book;"
        << "Error: Could not read books. error code: 1 error message: no such table: book";
    QTest::newRow("nivlet table missing")
        << "DROP TABLE nivlet; INSERT INTO book VALUES (1, 'Latin', 1);"
        << "Error: Could not count nivlets for a book. error code: 1 error message: no such "
           "table: nivlet";
    QTest::newRow("no file: created empty")
        << ""
        << "Error: Could not read books. error code: 1 error message: no such table: book";
    QTest::newRow("not a database")
        << ""
        << "Error: Could not read books. error code: 26 error message: file is not a database";
    QTest::newRow("file is a folder")
        << ""
        << "Error: Could not open database. error code: 14 error message: unable to open "
           "database file";
}

void TestStore::openFailures()
{
    QFETCH(QString, setup);
    QFETCH(QString, box);
    const QString tag = QString::fromLatin1(QTest::currentDataTag());
    if (tag == QLatin1String("not a database")) {
        QFile garbage(QStringLiteral("nivlets"));
        QVERIFY(garbage.open(QIODevice::WriteOnly));
        garbage.write(QByteArray(4096, 'x'));
    } else if (tag == QLatin1String("file is a folder")) {
        QVERIFY(QDir().mkdir(QStringLiteral("nivlets")));
    } else if (!setup.isEmpty()) {
        QVERIFY(TestSupport::createDatabase(dir->path(), setup));
    }

    openLog();
    {
        NivletCore core;
        QVERIFY(!core.open());
        QCOMPARE(core.bookCount(), 0);
    }
    closeLog();
    QCOMPARE(takeBoxes(), QStringList{box});
    QCOMPARE(TestSupport::readFile(QStringLiteral("nivlets.log")), box + QLatin1Char('\n'));
}

void TestStore::getNivlet()
{
    NivletCore core;
    QVERIFY(openSample(core));
    std::unique_ptr<Nivlet> n(core.getNivlet(3));
    QVERIFY(n);
    QCOMPARE(n->id, qint64(3));
    QVERIFY(!n->active);
    QCOMPARE(n->knRate, 0.1);
    QCOMPARE(n->book, core.findBook(1));
    QCOMPARE(n->question, QStringLiteral("amat"));
    QCOMPARE(n->answer, QStringLiteral("he loves"));
    QCOMPARE(n->possibleAnswers, QStringList{QStringLiteral("he loves")});

    std::unique_ptr<Nivlet> orphan(core.getNivlet(7));
    QVERIFY(orphan);
    QVERIFY(!orphan->book);

    QVERIFY(!core.getNivlet(12345));
    QVERIFY(takeBoxes().isEmpty());
}

void TestStore::changesTouchOnlyTheirRow()
{
    NivletCore core;
    QVERIFY(openSample(core));
    QStringList expected = rows(nivletRowsSql);

    QVERIFY(core.addNivlet(core.findBook(2), QStringLiteral("new question"),
                           QStringLiteral("new answer"), false));
    expected << QStringLiteral("8|0|0.0|2|new question|new answer");
    QCOMPARE(rows(nivletRowsSql), expected);

    QVERIFY(core.editNivlet(2, QStringLiteral("changed question"), QStringLiteral("changed answer"),
                            false));
    expected[1] = QStringLiteral("2|0|0.25|1|changed question|changed answer");
    QCOMPARE(rows(nivletRowsSql), expected);
    QVERIFY(core.editNivlet(3, QStringLiteral("amat"), QStringLiteral("he loves"), true));
    expected[2] = QStringLiteral("3|1|0.1|1|amat|he loves");
    QCOMPARE(rows(nivletRowsSql), expected);

    QVERIFY(core.setKnowledgeRate(4, 0.875));
    expected[3] = QStringLiteral("4|1|0.875|2|logos|word");
    QCOMPARE(rows(nivletRowsSql), expected);

    QVERIFY(core.deleteNivlet(5, core.findBook(2)));
    expected.removeAt(4);
    QCOMPARE(rows(nivletRowsSql), expected);

    QCOMPARE(rows(QStringLiteral("SELECT * FROM book ORDER BY id")),
             (QStringList{QStringLiteral("1|Latin|1"), QStringLiteral("2|Greek|1"),
                          QStringLiteral("3|Old|0")}));
}

void TestStore::insertWithoutRateDefaultReadsZero()
{
    NivletCore core;
    QVERIFY(openSample(
        core, QString::fromUtf8(looseNivletTableSql) +
                  QStringLiteral("INSERT INTO book (id, name, active) VALUES (1, 'Loose', 1);")));
    QVERIFY(core.addNivlet(core.book(0), QStringLiteral("q"), QStringLiteral("a"), true));
    QCOMPARE(rows(nivletRowsSql), QStringList{QStringLiteral("1|1|NULL|1|q|a")});
    std::unique_ptr<Nivlet> n(core.getNivlet(1));
    QVERIFY(n);
    QCOMPARE(n->knRate, 0.0);
}

// Every rate is the id / 100 except the lowest, so result order shows up as id order.
const char searchSql[] = R"(
INSERT INTO book (id, name, active) VALUES (1, 'Words', 1), (2, 'Other', 1), (3, 'Off', 0);
INSERT INTO nivlet (id, active, kn_rate, book_id, question) VALUES
    (1, 1, 0.01, 1, 'abc'), (2, 1, 0.02, 1, 'ABx'), (3, 1, 0.03, 1, 'Abyss'),
    (4, 1, 0.04, 1, 'aBba'), (5, 1, 0.05, 1, 'xab'), (6, 1, 0.06, 1, 'a b'),
    (7, 1, 0.07, 1, 'ab'), (8, 1, 0.08, 1, 'a_c'), (9, 1, 0.09, 1, 'axc'),
    (10, 1, 0.10, 1, 'ac'), (11, 1, 0.11, 1, '100%'), (12, 1, 0.12, 1, '1000'),
    (13, 1, 0.13, 1, ' ab'), (14, 0, 0.14, 1, 'ab inactive'), (15, 1, 0.15, 2, 'ab other'),
    (16, 0, 0.16, 2, 'ab other inactive'), (17, 1, 0.17, 3, 'ab off'),
    (18, 1, 0.18, 99, 'ab orphan'), (19, 1, 0.0, 2, 'zero other');
)";

void TestStore::search_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("bookId");
    QTest::addColumn<bool>("onlyActive");
    QTest::addColumn<QList<qint64>>("expected");

    const QList<qint64> all{19, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};
    QTest::newRow("empty text, all books") << "" << qint64(0) << false << all;
    QTest::newRow("prefix ignores ASCII case")
        << "ab" << qint64(0) << false << QList<qint64>{1, 2, 3, 4, 7, 14, 15, 16, 17};
    QTest::newRow("underscore is one character")
        << "a_c" << qint64(0) << false << QList<qint64>{1, 8, 9};
    QTest::newRow("percent alone matches all") << "%" << qint64(0) << false << all;
    QTest::newRow("percent inside") << "100%" << qint64(0) << false << QList<qint64>{11, 12};
    QTest::newRow("underscore after a letter") << "x_b" << qint64(0) << false << QList<qint64>{5};
    QTest::newRow("blank is a text") << " " << qint64(0) << false << QList<qint64>{13};
    QTest::newRow("only active, all books")
        << "" << qint64(0) << true
        << QList<qint64>{19, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 15};
    QTest::newRow("text and book") << "ab" << qint64(2) << false << QList<qint64>{15, 16};
    QTest::newRow("text, book, only active")
        << "ab" << qint64(1) << true << QList<qint64>{1, 2, 3, 4, 7};
    QTest::newRow("book, only active") << "" << qint64(2) << true << QList<qint64>{19, 15};
    QTest::newRow("book without text") << "" << qint64(2) << false << QList<qint64>{19, 15, 16};
    QTest::newRow("inactive book, only active") << "ab" << qint64(3) << true << QList<qint64>{};
    QTest::newRow("inactive book") << "" << qint64(3) << false << QList<qint64>{17};
    QTest::newRow("no match") << "zz" << qint64(0) << false << QList<qint64>{};
}

void TestStore::search()
{
    QFETCH(QString, text);
    QFETCH(qint64, bookId);
    QFETCH(bool, onlyActive);
    QFETCH(QList<qint64>, expected);

    NivletCore core;
    QVERIFY(openSample(core, QString::fromUtf8(searchSql)));
    Book *book = bookId ? core.findBook(bookId) : nullptr;
    QVERIFY(!bookId || book);
    const Found result(core.search(text, book, onlyActive));
    QVERIFY(result.list);
    QCOMPARE(ids(*result.list), expected);
    for (const Nivlet *n : *result.list) {
        const qint64 bookOfRow = n->id == 17                                   ? 3
                                 : (n->id == 15 || n->id == 16 || n->id == 19) ? 2
                                                                               : 1;
        QCOMPARE(n->book, core.findBook(bookOfRow));
    }
}

void TestStore::searchStopsAtLimit()
{
    NivletCore core;
    QVERIFY(openSample(core, QStringLiteral(R"(
        INSERT INTO book (id, name, active) VALUES (1, 'Many', 1);
        WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 250)
        INSERT INTO nivlet (book_id, question, kn_rate) SELECT 1, 'q' || x, (x * 37 % 250) / 250.0
        FROM c;
    )")));
    QCOMPARE(core.book(0)->nivletCount, 250);
    for (const QString &text : {QString(), QStringLiteral("q")}) {
        const Found result(core.search(text, nullptr, false));
        QVERIFY(result.list);
        QCOMPARE(result.list->size(), NivletCore::searchLimit);
        QStringList found;
        for (const Nivlet *n : *result.list)
            found << QString::number(n->id);
        QCOMPARE(found, rows(QStringLiteral("SELECT id FROM nivlet ORDER BY kn_rate LIMIT 200")));
    }
}

void TestStore::searchKeepsNonAsciiText()
{
    NivletCore core;
    QVERIFY(openSample(
        core, QStringLiteral("INSERT INTO book (id, name, active) VALUES (1, 'Deutsch', 1);")));
    const QString question = QStringLiteral("Ärger über Öl – 日本語 😀");
    const QString answer = QStringLiteral("naïve\ncafé # ça va");
    QVERIFY(core.addNivlet(core.book(0), question, answer, true));
    QVERIFY(core.addNivlet(core.book(0), QStringLiteral("ärgern"), QStringLiteral("x"), true));
    QCOMPARE(rows(QStringLiteral("SELECT question, answer FROM nivlet WHERE id = 1")),
             QStringList{question + QStringLiteral("|") + answer});

    const Found upper(core.search(QStringLiteral("Är"), nullptr, false));
    const Found lower(core.search(QStringLiteral("ä"), nullptr, false));
    QVERIFY(upper.list && lower.list);
    QCOMPARE(ids(*upper.list), QList<qint64>{1});
    QCOMPARE(ids(*lower.list), QList<qint64>{2});
    QCOMPARE(upper.list->first()->question, question);
    QCOMPARE(upper.list->first()->answer, answer);
}

void TestStore::countsFollowAddAndDelete()
{
    NivletCore core;
    QVERIFY(openSample(core));
    Book *latin = core.findBook(1);
    QVERIFY(core.addNivlet(latin, QStringLiteral("amamus"), QStringLiteral("we love"), true));
    QCOMPARE(latin->nivletCount, 4);
    QCOMPARE(core.totalNivletCount(), 7);
    QCOMPARE(core.countNivletsOfBook(1), 4);

    QVERIFY(core.deleteNivlet(8, latin));
    QCOMPARE(latin->nivletCount, 3);
    QCOMPARE(core.totalNivletCount(), 6);
    QCOMPARE(core.countNivletsOfBook(1), 3);

    QVERIFY(core.deleteNivlet(7, nullptr));
    QCOMPARE(core.totalNivletCount(), 6);
    QCOMPARE(core.countNivletsOfBook(99), 0);
}

void TestStore::deletingMissingIdFails()
{
    NivletCore core;
    QVERIFY(openSample(core));
    Book *greek = core.findBook(2);
    QVERIFY(!core.deleteNivlet(1234, greek));
    QCOMPARE(takeBoxes(),
             QStringList{QStringLiteral("Error: Could not delete nivlet. error code: 12 error "
                                        "message: no nivlet has the id 1234")});
    QCOMPARE(greek->nivletCount, 2);
    QVERIFY(core.deleteNivlet(5, greek));
    QVERIFY(takeBoxes().isEmpty());
    QVERIFY(!core.deleteNivlet(5, greek));
    QCOMPARE(takeBoxes(),
             QStringList{QStringLiteral("Error: Could not delete nivlet. error code: 12 error "
                                        "message: no nivlet has the id 5")});
    QCOMPARE(greek->nivletCount, 1);
    QCOMPARE(core.countNivletsOfBook(2), 1);
}

void TestStore::deleteNivletsStopsAtFirstFailure()
{
    NivletCore core;
    QVERIFY(openSample(core, QString::fromUtf8(sampleSql) + QStringLiteral(R"(
        CREATE TRIGGER keep_two BEFORE DELETE ON nivlet WHEN old.id = 2
        BEGIN SELECT RAISE(ABORT, 'no'); END;
    )")));
    const Found latin(core.search(QString(), core.findBook(1), false));
    QVERIFY(latin.list);
    QCOMPARE(ids(*latin.list), (QList<qint64>{3, 2, 1}));
    QVERIFY(!core.deleteNivlets(*latin.list));

    QCOMPARE(takeBoxes(), QStringList{QStringLiteral(
                              "Error: Could not delete nivlet. error code: 19 error message: no")});
    QCOMPARE(rows(QStringLiteral("SELECT id FROM nivlet WHERE book_id = 1 ORDER BY id")),
             (QStringList{QStringLiteral("1"), QStringLiteral("2")}));
    QCOMPARE(core.findBook(1)->nivletCount, 2);
    QVERIFY(core.deleteNivlets({}));
}

void TestStore::staleness()
{
    NivletCore core;
    QVERIFY(openSample(core));
    struct Case
    {
        const char *name;
        std::function<bool()> run;
        bool stale;
    };
    const QList<Case> cases{
        {"add nivlet",
         [&] {
             return core.addNivlet(core.findBook(1), QStringLiteral("q"), QStringLiteral("a"),
                                   true);
         },
         true},
        {"edit nivlet",
         [&] { return core.editNivlet(1, QStringLiteral("amo"), QStringLiteral("I love"), true); },
         true},
        {"set rate", [&] { return core.setKnowledgeRate(1, 0.5); }, true},
        {"delete nivlet", [&] { return core.deleteNivlet(3, core.findBook(1)); }, true},
        {"add book", [&] { return core.addBook(QStringLiteral("Empty"), true) != nullptr; }, false},
        {"set options",
         [&] {
             return core.setOptions(Options{true, 600, false});
         },
         false},
        {"read options", [&] { return core.options() != nullptr; }, false},
        {"search",
         [&] { return Found(core.search(QStringLiteral("a"), nullptr, true)).list != nullptr; },
         false},
        {"edit book",
         [&] { return core.editBook(core.findBook(2), QStringLiteral("Greek"), true); }, true},
        {"delete book", [&] { return core.deleteBook(core.findBook(3)); }, true},
    };
    for (const Case &c : cases) {
        QVERIFY(core.reloadActiveNivlets());
        QVERIFY(!core.activeListStale());
        const QList<qint64> before = ids(core.activeList()->nivlets());
        QVERIFY2(c.run(), c.name);
        QVERIFY2(core.activeListStale() == c.stale, c.name);
        QVERIFY2(ids(core.activeList()->nivlets()) == before, c.name);
    }
}

void TestStore::reloadIsExplicit()
{
    NivletCore core;
    QVERIFY(openSample(core));
    QVERIFY(core.addNivlet(core.findBook(1), QStringLiteral("amamus"), QStringLiteral("we love"),
                           true));
    QVERIFY(core.setKnowledgeRate(4, 0.02));
    QCOMPARE(ids(core.activeList()->nivlets()), (QList<qint64>{5, 2, 1, 4}));

    core.setPendingNivlet(core.activeList()->nivlets().at(2));
    NivletCoreTestAccess::setLastAskedId(core, 2);
    QVERIFY(core.reloadActiveNivlets());
    QVERIFY(!core.pendingNivlet());
    QCOMPARE(core.lastAskedId(), qint64(2));
    QVERIFY(!core.activeListStale());
    QCOMPARE(ids(core.activeList()->nivlets()), (QList<qint64>{8, 4, 5, 2, 1}));
}

void TestStore::addBook()
{
    NivletCore core;
    QVERIFY(openSample(core));
    QSignalSpy changed(&core, &NivletCore::booksChanged);
    Book *book = core.addBook(QStringLiteral("Hebräisch"), false);
    QVERIFY(book);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(core.books().last(), book);
    QCOMPARE(core.bookCount(), 4);
    QCOMPARE(book->nivletCount, 0);
    QVERIFY(!book->active);
    QCOMPARE(rows(QStringLiteral("SELECT id, name, active FROM book WHERE name = 'Hebräisch'")),
             QStringList{QStringLiteral("%1|Hebräisch|0").arg(book->id)});
    QVERIFY(!core.activeListStale());
    QVERIFY(core.addNivlet(book, QStringLiteral("q"), QStringLiteral("a"), true));
    QCOMPARE(rows(QStringLiteral("SELECT book_id FROM nivlet WHERE question = 'q'")),
             QStringList{QString::number(book->id)});
}

void TestStore::editBook()
{
    NivletCore core;
    QVERIFY(openSample(core));
    QSignalSpy changed(&core, &NivletCore::booksChanged);
    Book *greek = core.findBook(2);
    QVERIFY(core.editBook(greek, QStringLiteral("Koine"), false));
    QCOMPARE(changed.count(), 1);
    QVERIFY(core.activeListStale());
    QCOMPARE(greek->name, QStringLiteral("Koine"));
    QVERIFY(!greek->active);
    QCOMPARE(greek->nivletCount, 2);
    QCOMPARE(rows(QStringLiteral("SELECT * FROM book ORDER BY id")),
             (QStringList{QStringLiteral("1|Latin|1"), QStringLiteral("2|Koine|0"),
                          QStringLiteral("3|Old|0")}));
    QVERIFY(core.reloadActiveNivlets());
    QCOMPARE(ids(core.activeList()->nivlets()), (QList<qint64>{2, 1}));
}

void TestStore::deleteBook()
{
    NivletCore core;
    QVERIFY(openSample(core, QString::fromUtf8(sampleSql) + QStringLiteral(R"(
        INSERT INTO nivlet (book_id, question) VALUES (2, 'a'), (2, 'b'), (2, 'c');
    )")));
    Book *greek = core.findBook(2);
    QCOMPARE(greek->nivletCount, 5);
    QSignalSpy changed(&core, &NivletCore::booksChanged);
    QVERIFY(core.deleteBook(greek));
    QCOMPARE(changed.count(), 1);
    QVERIFY(core.activeListStale());
    QVERIFY(!core.findBook(2));
    QCOMPARE(core.bookCount(), 2);
    QCOMPARE(core.totalNivletCount(), 4);
    QCOMPARE(rows(QStringLiteral("SELECT id FROM book ORDER BY id")),
             (QStringList{QStringLiteral("1"), QStringLiteral("3")}));
    QCOMPARE(rows(QStringLiteral("SELECT DISTINCT book_id FROM nivlet ORDER BY book_id")),
             (QStringList{QStringLiteral("1"), QStringLiteral("3"), QStringLiteral("99")}));
    QCOMPARE(rows(QStringLiteral("SELECT COUNT(*) FROM nivlet")), QStringList{QStringLiteral("5")});
}

void TestStore::deleteBookRollsBackWhenBookRowFails()
{
    NivletCore core;
    QVERIFY(openSample(core, QString::fromUtf8(sampleSql) + QStringLiteral(R"(
        CREATE TRIGGER keep_latin BEFORE DELETE ON book WHEN old.id = 1
        BEGIN SELECT RAISE(ABORT, 'keep'); END;
    )")));
    QSignalSpy changed(&core, &NivletCore::booksChanged);
    const QString before = memory(core);
    const QStringList rowsBefore = allRows();
    QVERIFY(!core.deleteBook(core.findBook(1)));
    QCOMPARE(takeBoxes(), QStringList{QStringLiteral(
                              "Error: Could not delete book. error code: 19 error message: keep")});
    QCOMPARE(changed.count(), 0);
    QCOMPARE(memory(core), before);
    QCOMPARE(allRows(), rowsBefore);
    // The rollback must have ended the transaction, or this change would never be committed.
    QVERIFY(core.deleteBook(core.findBook(2)));
    QCOMPARE(rows(QStringLiteral("SELECT id FROM book ORDER BY id")),
             (QStringList{QStringLiteral("1"), QStringLiteral("3")}));
}

void TestStore::deleteBooksStopsAtFirstFailure()
{
    NivletCore core;
    QVERIFY(openSample(core, QString::fromUtf8(sampleSql) + QStringLiteral(R"(
        CREATE TRIGGER keep_greek BEFORE DELETE ON nivlet WHEN old.book_id = 2
        BEGIN SELECT RAISE(ABORT, 'keep'); END;
    )")));
    QSignalSpy changed(&core, &NivletCore::booksChanged);
    QVERIFY(!core.deleteBooks({core.findBook(1), core.findBook(2), core.findBook(3)}));
    QCOMPARE(takeBoxes(), QStringList{QStringLiteral(
                              "Error: Could not delete book. error code: 19 error message: keep")});
    QCOMPARE(changed.count(), 1);
    QCOMPARE(memory(core).section(QLatin1Char(' '), 0, 1), QStringLiteral("2:Greek:1:2 3:Old:0:1"));
    QCOMPARE(rows(QStringLiteral("SELECT id FROM book ORDER BY id")),
             (QStringList{QStringLiteral("2"), QStringLiteral("3")}));
    QCOMPARE(rows(QStringLiteral("SELECT id FROM nivlet ORDER BY id")),
             (QStringList{QStringLiteral("4"), QStringLiteral("5"), QStringLiteral("6"),
                          QStringLiteral("7")}));
    QVERIFY(core.deleteBooks({}));
}

void TestStore::booksWithSameNameAndLookupByName()
{
    NivletCore core;
    QVERIFY(openSample(core));
    Book *first = core.addBook(QStringLiteral("Latin"), true);
    QVERIFY(first);
    QVERIFY(first->id != core.findBook(1)->id);
    QCOMPARE(rows(QStringLiteral("SELECT COUNT(*) FROM book WHERE name = 'Latin'")),
             QStringList{QStringLiteral("2")});
    QCOMPARE(core.findBookByName(QStringLiteral("Latin")), core.findBook(1));
    QVERIFY(!core.findBookByName(QStringLiteral("latin")));
    QVERIFY(!core.findBookByName(QStringLiteral("Latin ")));
    QVERIFY(!core.findBookByName(QStringLiteral(" Latin")));
    QVERIFY(!core.findBookByName(QString()));
    QCOMPARE(core.findBookByName(QStringLiteral("Old")), core.findBook(3));
}

void TestStore::deletedBookLeavesNoDanglingPointer()
{
    NivletCore core;
    QVERIFY(openSample(core));
    QVERIFY(core.deleteBook(core.findBook(2)));
    QCOMPARE(ids(core.activeList()->nivlets()), (QList<qint64>{5, 2, 1, 4}));
    for (const Nivlet *n : core.activeList()->nivlets())
        QCOMPARE(n->book, n->id == 4 || n->id == 5 ? nullptr : core.findBook(1));
}

void TestStore::beginInsideOpenTransactionFails()
{
    ExposedCore core;
    QVERIFY(openSample(core));
    QCOMPARE(sqlite3_exec(core.connection(), "BEGIN", nullptr, nullptr, nullptr), SQLITE_OK);
    QVERIFY(!core.deleteBook(core.findBook(3)));
    QCOMPARE(takeBoxes(), QStringList{QStringLiteral(
                              "Error: Could not delete book. error code: 1 error message: "
                              "cannot start a transaction within a transaction")});
    QCOMPARE(core.bookCount(), 3);
    // Not its own transaction, so the store must not have rolled it back.
    QCOMPARE(sqlite3_get_autocommit(core.connection()), 0);
    QCOMPARE(sqlite3_exec(core.connection(), "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);
    QVERIFY(core.deleteBook(core.findBook(3)));
}

void TestStore::recordsOutliveDeletedBook()
{
    NivletCore core;
    QVERIFY(openSample(core));
    Book *greek = core.findBook(2);
    const Found found(core.search(QString(), nullptr, false));
    QVERIFY(found.list);
    const std::unique_ptr<Nivlet> logos(core.getNivlet(4));
    QVERIFY(logos);
    QCOMPARE(logos->book, greek);

    QVERIFY(core.deleteBook(greek));
    QVERIFY(!core.books().contains(greek));
    // Under the address sanitizer a freed book fails here.
    QCOMPARE(logos->book->name, QStringLiteral("Greek"));
    QCOMPARE(logos->book->id, qint64(2));
    QStringList names;
    for (const Nivlet *n : std::as_const(*found.list))
        names << (n->book ? n->book->name : QStringLiteral("-"));
    QCOMPARE(names, (QStringList{QStringLiteral("Old"), QStringLiteral("Greek"),
                                 QStringLiteral("Latin"), QStringLiteral("Latin"),
                                 QStringLiteral("Latin"), QStringLiteral("Greek")}));
    // Everything read afterwards knows the book no more.
    const Found after(core.search(QString(), nullptr, false));
    QVERIFY(after.list);
    QCOMPARE(ids(*after.list), (QList<qint64>{6, 3, 2, 1}));
    QVERIFY(!core.getNivlet(4));
}

void TestStore::bookChangesAreSignalled()
{
    NivletCore core;
    QVERIFY(openSample(core));
    QSignalSpy changed(&core, &NivletCore::booksChanged);
    Book *added = core.addBook(QStringLiteral("Hebrew"), true);
    QVERIFY(added);
    QCOMPARE(changed.count(), 1);
    QVERIFY(core.editBook(added, QStringLiteral("Aramaic"), false));
    QCOMPARE(changed.count(), 2);
    QVERIFY(core.deleteBooks({added, core.findBook(3)}));
    QCOMPARE(changed.count(), 4);
    QCOMPARE(added->name, QStringLiteral("Aramaic"));
}

void TestStore::deleteBookReportsAfterRollback()
{
    ExposedCore core;
    QVERIFY(openSample(core, QString::fromUtf8(sampleSql) + QStringLiteral(R"(
        CREATE TRIGGER keep_latin BEFORE DELETE ON book WHEN old.id = 1
        BEGIN SELECT RAISE(ABORT, 'keep'); END;
    )")));
    // The box runs an event loop; whatever runs in it must find the
    // transaction gone: the store's connection in autocommit mode and the
    // file free for another program to write.
    QList<int> autocommit;
    QList<int> otherWriter;
    catcher->whileShown = [&] {
        autocommit << sqlite3_get_autocommit(core.connection());
        sqlite3 *db = nullptr;
        int rc = sqlite3_open("nivlets", &db);
        if (rc == SQLITE_OK)
            rc = sqlite3_exec(db, "BEGIN IMMEDIATE; ROLLBACK;", nullptr, nullptr, nullptr);
        sqlite3_close(db);
        otherWriter << rc;
    };
    QVERIFY(!core.deleteBook(core.findBook(1)));
    catcher->whileShown = nullptr;
    QCOMPARE(takeBoxes(), QStringList{QStringLiteral(
                              "Error: Could not delete book. error code: 19 error message: keep")});
    QCOMPARE(autocommit, QList<int>{1});
    QCOMPARE(otherWriter, QList<int>{SQLITE_OK});
    QCOMPARE(rows(QStringLiteral("SELECT COUNT(*) FROM nivlet WHERE book_id = 1")),
             QStringList{QStringLiteral("3")});
}

void TestStore::changeOfMissingRowFails_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("text");
    QTest::newRow("editNivlet") << "editNivlet"
                                << "Could not edit nivlet. error code: 12 error message: no "
                                   "nivlet has the id 4";
    QTest::newRow("setKnowledgeRate") << "setKnowledgeRate"
                                      << "Could not set knowledge-rate for nivlet. error code: 12 "
                                         "error message: no nivlet has the id 4";
    QTest::newRow("deleteNivlet") << "deleteNivlet"
                                  << "Could not delete nivlet. error code: 12 error message: no "
                                     "nivlet has the id 4";
    QTest::newRow("editBook") << "editBook"
                              << "Could not edit book. error code: 12 error message: no book "
                                 "has the id 2";
    QTest::newRow("deleteBook") << "deleteBook"
                                << "Could not delete book. error code: 12 error message: no book "
                                   "has the id 2";
    QTest::newRow("setOptions") << "setOptions"
                                << "Could not set options. error code: 12 error message: the "
                                   "options table holds no row";
}

// The rows went behind the store's back; a change that meets no row must
// say so instead of passing for saved.
void TestStore::changeOfMissingRowFails()
{
    QFETCH(QString, change);
    QFETCH(QString, text);
    NivletCore core;
    QVERIFY(openSample(core));
    QVERIFY(core.options());
    openLog();
    QVERIFY(exec(QStringLiteral("DELETE FROM nivlet WHERE id = 4; DELETE FROM book WHERE id = 2; "
                                "DELETE FROM options;")));
    const QString before = memory(core);
    const QStringList rowsBefore = allRows();
    QSignalSpy changed(&core, &NivletCore::booksChanged);
    Book *greek = core.findBook(2);
    bool ok = true;
    if (change == QStringLiteral("editNivlet"))
        ok = core.editNivlet(4, QStringLiteral("logos"), QStringLiteral("word"), true);
    else if (change == QStringLiteral("setKnowledgeRate"))
        ok = core.setKnowledgeRate(4, 0.5);
    else if (change == QStringLiteral("deleteNivlet"))
        ok = core.deleteNivlet(4, greek);
    else if (change == QStringLiteral("editBook"))
        ok = core.editBook(greek, QStringLiteral("Koine"), true);
    else if (change == QStringLiteral("deleteBook"))
        ok = core.deleteBook(greek);
    else if (change == QStringLiteral("setOptions"))
        ok = core.setOptions(Options{true, 600, false});
    QVERIFY(!ok);
    QCOMPARE(takeBoxes(), QStringList{QStringLiteral("Error: ") + text});
    QCOMPARE(TestSupport::readFile(QStringLiteral("nivlets.log")),
             QStringLiteral("Error: ") + text + QStringLiteral("\n"));
    QCOMPARE(memory(core), before);
    QCOMPARE(allRows(), rowsBefore);
    QCOMPARE(changed.count(), 0);
    // A book whose row has gone stays in the list, so the next try fails
    // the same way instead of crashing.
    QCOMPARE(core.findBook(2), greek);
}

void TestStore::optionsAreReadOnce()
{
    NivletCore core;
    QVERIFY(
        openSample(core, QStringLiteral("UPDATE options SET auto_ch = 1, auto_ch_interval = 1200, "
                                        "puzzle_affects_rates = 0;")));
    Options *first = core.options();
    QVERIFY(first);
    QCOMPARE(memory(core).section(QLatin1Char(' '), -1), QStringLiteral("options=1,1200,0"));
    QVERIFY(exec(QStringLiteral("UPDATE options SET auto_ch = 0, auto_ch_interval = 300;")));
    QCOMPARE(core.options(), first);
    QCOMPARE(first->autoChInterval, 1200);
    QVERIFY(first->autoCh);
}

void TestStore::setOptionsWritesRowAndCache()
{
    NivletCore core;
    QVERIFY(openSample(core));
    Options *cached = core.options();
    QVERIFY(cached);
    QVERIFY(core.setOptions(Options{true, 900 * 2, false}));
    QVERIFY(core.setOptions(Options{true, 900, false}));
    QCOMPARE(rows(QStringLiteral("SELECT * FROM options")), QStringList{QStringLiteral("1|900|0")});
    QVERIFY(exec(QStringLiteral("UPDATE options SET auto_ch_interval = 60;")));
    QCOMPARE(core.options(), cached);
    QCOMPARE(memory(core).section(QLatin1Char(' '), -1), QStringLiteral("options=1,900,0"));

    NivletCore fresh;
    QVERIFY(fresh.open());
    QVERIFY(fresh.setOptions(Options{false, 120, true}));
    QVERIFY(fresh.cachedOptions());
    QCOMPARE(fresh.options()->autoChInterval, 120);
}

void TestStore::failedOptionsReadIsRetried()
{
    NivletCore core;
    QVERIFY(openSample(core));
    QVERIFY(exec(QStringLiteral("DROP TABLE options;")));
    QVERIFY(!core.options());
    QCOMPARE(takeBoxes(),
             QStringList{QStringLiteral("Error: Could not get options from database. error code: "
                                        "1 error message: no such table: options")});
    QVERIFY(!core.cachedOptions());

    QVERIFY(exec(TestSupport::schemaStatement(QStringLiteral("options")) +
                 QStringLiteral("; INSERT INTO options VALUES (1, 3600, 0);")));
    Options *options = core.options();
    QVERIFY(options);
    QCOMPARE(memory(core).section(QLatin1Char(' '), -1), QStringLiteral("options=1,3600,0"));
}

void TestStore::failedSetOptionsKeepsCache()
{
    NivletCore core;
    QVERIFY(openSample(core));
    QVERIFY(core.options());
    QVERIFY(exec(QStringLiteral("DROP TABLE options;")));
    QVERIFY(!core.setOptions(Options{true, 60, false}));
    QCOMPARE(takeBoxes(),
             QStringList{QStringLiteral("Error: Could not set options. error code: 1 error "
                                        "message: no such table: options")});
    QCOMPARE(memory(core).section(QLatin1Char(' '), -1), QStringLiteral("options=0,900,1"));
}

void TestStore::failedOptionsReadLeavesNoCache()
{
    NivletCore core;
    QVERIFY(openSample(core, QStringLiteral("UPDATE options SET auto_ch = 1;")));
    QVERIFY(exec(QStringLiteral("DROP TABLE options;")));
    // The error box runs an event loop in which a timer may ask again; it must
    // be told the truth, not handed defaults that say automatic challenges are off.
    bool asked = false;
    Options *askedInBox = nullptr;
    QTimer::singleShot(0, [&] {
        askedInBox = core.options();
        asked = true;
    });
    QCOMPARE(core.options(), nullptr);
    QVERIFY(asked);
    QCOMPARE(askedInBox, nullptr);
    const QStringList boxes = takeBoxes();
    QCOMPARE(boxes.size(), 2);
    QVERIFY(boxes.at(0).startsWith(
        QStringLiteral("Error: Could not get options from database. error code: 1 ")));
    QCOMPARE(core.options(), nullptr);
    QCOMPARE(takeBoxes().size(), 1);
}

void TestStore::optionsWithoutRowGiveDefaults()
{
    NivletCore core;
    QVERIFY(openSample(core, QStringLiteral("DELETE FROM options;")));
    const Options defaults;
    Options *options = core.options();
    QVERIFY(options);
    QCOMPARE(options->autoCh, defaults.autoCh);
    QCOMPARE(options->autoChInterval, defaults.autoChInterval);
    QCOMPARE(options->puzzleAffectsRates, defaults.puzzleAffectsRates);
    QVERIFY(options->autoChInterval >= NivletCore::minInterval &&
            options->autoChInterval <= NivletCore::maxInterval);

    // Nothing could be saved, so nothing may look saved.
    QVERIFY(!core.setOptions(Options{true, 240, true}));
    QCOMPARE(takeBoxes(),
             QStringList{QStringLiteral("Error: Could not set options. error code: 12 error "
                                        "message: the options table holds no row")});
    QCOMPARE(rows(QStringLiteral("SELECT COUNT(*) FROM options")),
             QStringList{QStringLiteral("0")});
    QCOMPARE(core.options(), options);
    QCOMPARE(options->autoChInterval, defaults.autoChInterval);
    QCOMPARE(options->autoCh, defaults.autoCh);
}

void TestStore::optionsIntervalIsBounded_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("expected");
    QTest::newRow("zero") << "0" << 60;
    QTest::newRow("negative") << "-5" << 60;
    QTest::newRow("huge") << "1000000000000" << 14400;
    QTest::newRow("past 32 bits") << "4294967356" << 14400;
    QTest::newRow("text") << "'soon'" << 60;
    QTest::newRow("inside") << "61" << 61;
    QTest::newRow("top") << "14400" << 14400;
}

void TestStore::optionsIntervalIsBounded()
{
    QFETCH(QString, stored);
    QFETCH(int, expected);
    NivletCore core;
    QVERIFY(openSample(core, QStringLiteral("UPDATE options SET auto_ch_interval = ") + stored +
                                 QStringLiteral(";")));
    QVERIFY(core.options());
    QCOMPARE(core.options()->autoChInterval, expected);
}

void TestStore::lockedWritesFailAndLeaveEverything()
{
    NivletCore core;
    QVERIFY(openSample(core));
    core.setBusyTimeout(shortWait);
    QVERIFY(core.options());
    openLog();
    struct Case
    {
        const char *failure;
        std::function<bool()> run;
    };
    const QList<Case> cases{
        {"Could not add nivlet.",
         [&] {
             return core.addNivlet(core.findBook(1), QStringLiteral("amamus"),
                                   QStringLiteral("we love"), true);
         }},
        {"Could not edit nivlet.",
         [&] {
             return core.editNivlet(1, QStringLiteral("amo!"), QStringLiteral("I love"), false);
         }},
        {"Could not set knowledge-rate for nivlet.", [&] { return core.setKnowledgeRate(2, 0.9); }},
        {"Could not delete nivlet.", [&] { return core.deleteNivlet(3, core.findBook(1)); }},
        {"Could not set options.",
         [&] {
             return core.setOptions(Options{true, 600, false});
         }},
        {"Could not add book.",
         [&] { return core.addBook(QStringLiteral("Hebrew"), true) != nullptr; }},
        {"Could not edit book.",
         [&] { return core.editBook(core.findBook(2), QStringLiteral("Koine"), true); }},
        {"Could not delete book.", [&] { return core.deleteBook(core.findBook(3)); }},
    };
    QSignalSpy changed(&core, &NivletCore::booksChanged);
    QString expectedLog;
    for (const Case &c : cases) {
        QVERIFY(core.reloadActiveNivlets());
        const QString before = memory(core);
        const QStringList rowsBefore = allRows();
        {
            LockingConnection lock("BEGIN IMMEDIATE");
            QVERIFY(lock.locked);
            QVERIFY2(!c.run(), c.failure);
        }
        const QString text = lockedText(c.failure);
        QCOMPARE(takeBoxes(), QStringList{QStringLiteral("Error: ") + text});
        expectedLog += QStringLiteral("Error: ") + text + QStringLiteral("\n");
        QCOMPARE(TestSupport::readFile(QStringLiteral("nivlets.log")), expectedLog);
        QCOMPARE(memory(core), before);
        QCOMPARE(allRows(), rowsBefore);
        QCOMPARE(changed.count(), 0);

        QVERIFY2(c.run(), c.failure);
        QVERIFY(takeBoxes().isEmpty());
        QVERIFY2(allRows() != rowsBefore, c.failure);
        changed.clear();
    }
    QCOMPARE(memory(core), QStringLiteral("1:Latin:1:3 2:Koine:1:2 4:Hebrew:1:0 "
                                          "active=8@0,5@0.05,4@0.75,2@0.9 stale=1 "
                                          "options=1,600,0"));
    closeLog();
}

void TestStore::lockedReadsFail()
{
    NivletCore core;
    QVERIFY(openSample(core));
    core.setBusyTimeout(shortWait);
    QVERIFY(core.setKnowledgeRate(1, 0.5));
    const QString before = memory(core);
    {
        LockingConnection lock;
        QVERIFY(lock.locked);
        QVERIFY(!core.search(QStringLiteral("a"), nullptr, false));
        QCOMPARE(takeBoxes(), QStringList{QStringLiteral("Error: ") +
                                          lockedText("Could not search for nivlets.")});
        QVERIFY(!core.getNivlet(1));
        QCOMPARE(takeBoxes(), QStringList{QStringLiteral("Error: ") +
                                          lockedText("Could not get nivlet from database.")});
        QCOMPARE(core.countNivletsOfBook(1), -1);
        QCOMPARE(takeBoxes(), QStringList{QStringLiteral("Error: ") +
                                          lockedText("Could not count nivlets for a book.")});
        QVERIFY(!core.options());
        QCOMPARE(takeBoxes(), QStringList{QStringLiteral("Error: ") +
                                          lockedText("Could not get options from database.")});
        QVERIFY(!core.cachedOptions());
        QVERIFY(!core.reloadActiveNivlets());
        QCOMPARE(takeBoxes(), QStringList{QStringLiteral("Error: ") +
                                          lockedText("Could not reload active nivlets.")});
        QCOMPARE(core.activeNivletCount(), 0);
        QVERIFY(core.activeListStale());
    }
    QVERIFY(core.reloadActiveNivlets());
    QCOMPARE(memory(core),
             QString(before).replace(QStringLiteral("stale=1"), QStringLiteral("stale=0")));
    const Found result(core.search(QStringLiteral("a"), nullptr, false));
    QVERIFY(result.list);
    QCOMPARE(ids(*result.list), (QList<qint64>{3, 2, 1}));
    QVERIFY(core.options());
}

// A backup or a look with sqlite3 holds the file for a moment; the store
// waits for it instead of failing at once.
void TestStore::momentaryLockIsWaitedFor()
{
    NivletCore core;
    QVERIFY(openSample(core));
    QCOMPARE(core.busyTimeout(), NivletCore::defaultBusyTimeout);
    std::promise<bool> locked;
    int rolledBack = SQLITE_ERROR;
    std::thread other([&locked, &rolledBack] {
        sqlite3 *db = nullptr;
        const bool ok = sqlite3_open("nivlets", &db) == SQLITE_OK &&
                        sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
        locked.set_value(ok);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        rolledBack = sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(db);
    });
    const bool held = locked.get_future().get();
    QElapsedTimer clock;
    clock.start();
    const bool ok = core.setKnowledgeRate(1, 0.9);
    const qint64 waited = clock.elapsed();
    other.join();
    QVERIFY(held);
    QCOMPARE(rolledBack, SQLITE_OK);
    QVERIFY(ok);
    QVERIFY2(waited >= 100, qPrintable(QString::number(waited)));
    QCOMPARE(rows(QStringLiteral("SELECT kn_rate FROM nivlet WHERE id = 1")),
             QStringList{QStringLiteral("0.9")});
}

void TestStore::lastingLockIsReportedAfterTheWait()
{
    NivletCore core;
    QVERIFY(openSample(core));
    core.setBusyTimeout(300);
    LockingConnection lock("BEGIN IMMEDIATE");
    QVERIFY(lock.locked);
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!core.setKnowledgeRate(1, 0.9));
    QVERIFY2(clock.elapsed() >= 250, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(takeBoxes(), QStringList{QStringLiteral("Error: ") +
                                      lockedText("Could not set knowledge-rate for nivlet.")});
}

void TestStore::logAppendsAcrossRuns()
{
    openLog();
    logError("Could not add book.", true);
    closeLog();
    QCOMPARE(takeBoxes(), QStringList{QStringLiteral("Error: Could not add book.")});
    openLog();
    logError(QStringLiteral("second run\nwith two lines"), false);
    closeLog();
    logError("after close", false);
    QCOMPARE(TestSupport::readFile(QStringLiteral("nivlets.log")),
             QStringLiteral("Error: Could not add book.\nError: second run\nwith two lines\n"));
    QVERIFY(takeBoxes().isEmpty());
}

void TestStore::logBeforeOpenOnlyShowsBox()
{
    logError(QStringLiteral("no log yet"), true);
    QCOMPARE(takeBoxes(), QStringList{QStringLiteral("Error: no log yet")});
    QVERIFY(!QFile::exists(QStringLiteral("nivlets.log")));
}

void TestStore::logWritesUtf8()
{
    const QString text = QStringLiteral("Fehler – Übung «日本語» 😀");
    openLog();
    logError(text, false);
    logError(text.toUtf8().constData(), false);
    closeLog();
    const QByteArray line = "Error: " + text.toUtf8() + "\n";
    QCOMPARE(TestSupport::readBytes(QStringLiteral("nivlets.log")), line + line);
}

QTEST_MAIN(TestStore)
#include "tst_store.moc"
