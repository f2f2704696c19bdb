// Foreign and damaged files where the database should be: random bytes,
// truncated files, other tables, a folder, a missing options row or table, an
// orphan nivlet, odd rates and NULL texts, and a file in WAL mode. The store
// must refuse or read them and never change them.

#include "faultharness.h"
#include "log.h"
#include "nivletcore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

#include <functional>
#include <memory>

using namespace FaultHarness;
using namespace TestSupport;

class TstFileFaults : public FaultTest
{
    Q_OBJECT

private slots:
    void foreignFileRefused_data();
    void foreignFileRefused();
    void directoryNamedNivlets();
    void optionsWithoutRow();
    void optionsTableMissing();
    void orphanNivlet();
    void oddRateValues();
    void nullTexts();
    void walModeFile();

private:
    void checkFileUntouchedAfter(const QByteArray &bytes,
                                 const std::function<void(NivletCore &)> &work);
};

void TstFileFaults::checkFileUntouchedAfter(const QByteArray &bytes,
                                            const std::function<void(NivletCore &)> &work)
{
    QFile out(QStringLiteral("nivlets"));
    QVERIFY(out.open(QIODevice::WriteOnly));
    QCOMPARE(out.write(bytes), qint64(bytes.size()));
    out.close();
    {
        NivletCore store;
        work(store);
    }
    QCOMPARE(readBytes(QStringLiteral("nivlets")), bytes);
    QStringList files = QDir::current().entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
    files.removeAll(QStringLiteral("nivlets.log"));
    QCOMPARE(files, QStringList{QStringLiteral("nivlets")});
}

namespace {

// The book and nivlet tables as whoever edited the file by hand may have made
// them: without declared types, so that text and other odd values stay as
// they were written, and without NOT NULL.
const char looseTablesSql[] =
    "DROP TABLE book; DROP TABLE nivlet;"
    "CREATE TABLE book (id INTEGER PRIMARY KEY, name, active);"
    "CREATE TABLE nivlet (id INTEGER PRIMARY KEY, active, kn_rate, book_id, question, answer);";

QString inOneTransaction(const QString &sql)
{
    return QStringLiteral("BEGIN;\n") + sql + QStringLiteral("\nCOMMIT;");
}

QByteArray databaseBytes(const QString &sql)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("db"));
    if (!execSql(file, sql))
        return QByteArray();
    return readBytes(file);
}

// A database of the delivered schema with the given content, as bytes.
QByteArray ourDatabase(const QString &extraSql = QString())
{
    QTemporaryDir dir;
    if (!createDatabase(dir.path(), extraSql))
        return QByteArray();
    return readBytes(dir.filePath(QStringLiteral("nivlets")));
}

} // namespace

void TstFileFaults::foreignFileRefused_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");

    QByteArray random(65536, '\0');
    QRandomGenerator generator(20240607);
    for (char &c : random)
        c = static_cast<char>(generator.bounded(256));
    const QString notADatabase = QStringLiteral("Could not read books. error code: 26 error "
                                                "message: file is not a database");
    const QString malformed = QStringLiteral("Could not read books. error code: 11 error "
                                             "message: database disk image is malformed");
    QTest::newRow("random bytes") << random << notADatabase;
    QTest::newRow("text file") << QByteArray("book;nivlet;options\n").repeated(500) << notADatabase;

    const QByteArray full = ourDatabase(
        QStringLiteral("INSERT INTO book (id, name, active) VALUES (1, 'Alpha', 1);"
                       "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < "
                       "300) INSERT INTO nivlet (active, kn_rate, book_id, question, answer)"
                       " SELECT 1, 0.1, 1, 'q' || i, printf('%.200c', 'a') FROM c;"));
    QVERIFY(full.size() > 8 * 4096);
    QTest::newRow("truncated to nothing")
        << QByteArray()
        << QStringLiteral("Could not read books. error code: 1 error message: no "
                          "such table: book");
    QTest::newRow("truncated to the header") << full.left(100) << malformed;
    QTest::newRow("truncated to one page") << full.left(4096) << malformed;
    QTest::newRow("truncated to half") << full.left(full.size() / 2) << malformed;
    QTest::newRow("last page missing") << full.left(full.size() - 4096) << malformed;

    QByteArray header = full.left(100);
    header += random.left(4096 * 4 - 100);
    QTest::newRow("valid header, random pages") << header << malformed;

    QTest::newRow("foreign tables")
        << databaseBytes(QStringLiteral("CREATE TABLE notes (id INTEGER PRIMARY KEY, text);"
                                        "INSERT INTO notes (text) VALUES ('hello');"))
        << QStringLiteral("Could not read books. error code: 1 error message: no such table: book");
    QTest::newRow("book table only")
        << databaseBytes(QStringLiteral("CREATE TABLE book (id INTEGER PRIMARY KEY, name, active);"
                                        "INSERT INTO book VALUES (1, 'Alpha', 1);"))
        << QStringLiteral("Could not count nivlets for a book. error code: 1 error message: no "
                          "such table: nivlet");
    QTest::newRow("book without active column")
        << databaseBytes(QStringLiteral("CREATE TABLE book (id INTEGER PRIMARY KEY, name);"))
        << QStringLiteral("Could not read books. error code: 1 error message: no such column: "
                          "active");
    QTest::newRow("nivlet without kn_rate")
        << databaseBytes(QStringLiteral(
               "CREATE TABLE book (id INTEGER PRIMARY KEY, name, active);"
               "CREATE TABLE nivlet (id INTEGER PRIMARY KEY, active, book_id, question, answer);"
               "INSERT INTO book VALUES (1, 'Alpha', 1);"))
        << QStringLiteral("Could not reload active nivlets. error code: 1 error message: no such "
                          "column: m.kn_rate");
}

void TstFileFaults::foreignFileRefused()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    WorkDir work;
    openLog();
    BoxCatcher boxes;
    CHECKED(checkFileUntouchedAfter(bytes, [](NivletCore &store) { QVERIFY(!store.open()); }));
    CHECKED(checkOneReport(boxes, expected));
    closeLog();
    QCOMPARE(logText(), QStringLiteral("Error: ") + expected + QLatin1Char('\n'));
}

void TstFileFaults::directoryNamedNivlets()
{
    WorkDir work;
    QVERIFY(QDir().mkdir(QStringLiteral("nivlets")));
    openLog();
    {
        BoxCatcher boxes;
        NivletCore store;
        QVERIFY(!store.open());
        CHECKED(checkOneReport(boxes, QStringLiteral("Could not open database. error code: 14 "
                                                     "error message: unable to open database "
                                                     "file")));
    }
    QVERIFY(QFileInfo(QStringLiteral("nivlets")).isDir());
    QVERIFY(QDir(QStringLiteral("nivlets")).isEmpty());
}

void TstFileFaults::optionsWithoutRow()
{
    WorkDir work;
    BoxCatcher boxes;
    const QByteArray bytes =
        ourDatabase(QString::fromLatin1(fixtureSql) + QStringLiteral("DELETE FROM options;"));
    CHECKED(checkFileUntouchedAfter(bytes, [](NivletCore &store) {
        QVERIFY(store.open());
        const Options *options = store.options();
        QVERIFY(options);
        QCOMPARE(options->autoCh, false);
        QVERIFY(options->autoChInterval >= NivletCore::minInterval &&
                options->autoChInterval <= NivletCore::maxInterval);
        QCOMPARE(store.options(), options);
        QCOMPARE(store.activeNivletCount(), 3);
    }));
    QVERIFY(boxes.texts.isEmpty());
}

void TstFileFaults::optionsTableMissing()
{
    WorkDir work;
    BoxCatcher boxes;
    const QByteArray bytes =
        ourDatabase(QString::fromLatin1(fixtureSql) + QStringLiteral("DROP TABLE options;"));
    CHECKED(checkFileUntouchedAfter(bytes, [](NivletCore &store) {
        QVERIFY(store.open());
        QVERIFY(!store.options());
        QVERIFY(!store.options());
        QVERIFY(!store.cachedOptions());
    }));
    const QString expected = QStringLiteral("Could not get options from database. error code: 1 "
                                            "error message: no such table: options");
    QCOMPARE(boxes.texts, QStringList({expected, expected}));
}

void TstFileFaults::orphanNivlet()
{
    WorkDir work;
    BoxCatcher boxes;
    const QByteArray bytes = ourDatabase(
        QStringLiteral("INSERT INTO book (id, name, active) VALUES (1, 'Alpha', 1);"
                       "INSERT INTO nivlet (id, active, kn_rate, book_id, question, answer) VALUES"
                       " (1, 1, 0.2, 1, 'kept', 'a'), (2, 1, 0.1, 99, 'orphan', 'b');"));
    CHECKED(checkFileUntouchedAfter(bytes, [](NivletCore &store) {
        QVERIFY(store.open());
        QCOMPARE(store.bookCount(), 1);
        QCOMPARE(store.findBook(1)->nivletCount, 1);
        QCOMPARE(store.totalNivletCount(), 1);
        QCOMPARE(store.activeNivletCount(), 1);
        QCOMPARE(store.activeList()->nivlets().first()->id, qint64(1));
        std::unique_ptr<Nivlet> orphan(store.getNivlet(2));
        QVERIFY(orphan);
        QCOMPARE(orphan->book, nullptr);
        QCOMPARE(orphan->question, QStringLiteral("orphan"));
        std::unique_ptr<QList<Nivlet *>> found(store.search(QString(), nullptr, false));
        QVERIFY(found);
        QCOMPARE(found->size(), 1);
        QCOMPARE(found->first()->id, qint64(1));
        qDeleteAll(*found);
    }));
    QVERIFY(boxes.texts.isEmpty());
}

void TstFileFaults::oddRateValues()
{
    WorkDir work;
    BoxCatcher boxes;
    const QByteArray bytes = ourDatabase(
        QString::fromLatin1(looseTablesSql) +
        QStringLiteral(
            "INSERT INTO book VALUES (1, 'Alpha', 1);"
            "INSERT INTO nivlet VALUES (1, 1, NULL, 1, 'null', 'a'), (2, 1, 'abc', 1, 'text', 'a'),"
            " (3, 1, '0.25', 1, 'numeric text', 'a'), (4, 1, 7.5, 1, 'too big', 'a'),"
            " (5, 1, -1, 1, 'negative', 'a'), (6, 1, x'00ff', 1, 'blob', 'a'),"
            " (7, 1, 0.5, 1, 'plain', 'a');"));
    CHECKED(checkFileUntouchedAfter(bytes, [](NivletCore &store) {
        QVERIFY(store.open());
        QCOMPARE(store.activeNivletCount(), 7);
        const QList<double> expected = {0.0, 0.0, 0.25, 1.0, 0.0, 0.0, 0.5};
        for (int id = 1; id <= 7; ++id) {
            std::unique_ptr<Nivlet> n(store.getNivlet(id));
            QVERIFY(n);
            QCOMPARE(n->knRate, expected.at(id - 1));
        }
        for (const Nivlet *n : std::as_const(store.activeList()->nivlets()))
            QVERIFY(n->knRate >= 0.0 && n->knRate <= 1.0);
    }));
    QVERIFY(boxes.texts.isEmpty());
}

void TstFileFaults::nullTexts()
{
    WorkDir work;
    BoxCatcher boxes;
    const QByteArray bytes = ourDatabase(
        QString::fromLatin1(looseTablesSql) +
        QStringLiteral(
            "INSERT INTO book VALUES (1, NULL, 1);"
            "INSERT INTO nivlet VALUES (1, 1, 0.1, 1, NULL, 'answer'), (2, 1, 0.2, 1, 'question', "
            "NULL), (3, 1, 0.3, 1, NULL, NULL);"));
    CHECKED(checkFileUntouchedAfter(bytes, [](NivletCore &store) {
        QVERIFY(store.open());
        QCOMPARE(store.book(0)->name, QString());
        QCOMPARE(store.activeNivletCount(), 3);
        std::unique_ptr<Nivlet> first(store.getNivlet(1));
        std::unique_ptr<Nivlet> second(store.getNivlet(2));
        std::unique_ptr<Nivlet> third(store.getNivlet(3));
        QVERIFY(first && second && third);
        QCOMPARE(first->question, QString());
        QCOMPARE(first->answer, QStringLiteral("answer"));
        QCOMPARE(second->answer, QString());
        QVERIFY(second->possibleAnswers.isEmpty());
        QCOMPARE(third->question, QString());
        QCOMPARE(third->answer, QString());
        std::unique_ptr<QList<Nivlet *>> found(store.search(QStringLiteral("q"), nullptr, true));
        QVERIFY(found);
        QCOMPARE(found->size(), 1);
        qDeleteAll(*found);
    }));
    QVERIFY(boxes.texts.isEmpty());
}

void TstFileFaults::walModeFile()
{
    WorkDir work;
    BoxCatcher boxes;
    // The mode cannot change inside a transaction, so it is set after it.
    const QByteArray bytes = databaseBytes(
        inOneTransaction(schemaSql() + QLatin1Char('\n') + QString::fromLatin1(fixtureSql)) +
        QStringLiteral("PRAGMA journal_mode = WAL;"));
    QCOMPARE(bytes.at(18), char(2));
    CHECKED(checkFileUntouchedAfter(bytes, [](NivletCore &store) {
        QVERIFY(store.open());
        QVERIFY(store.options());
        QCOMPARE(store.activeNivletCount(), 3);
    }));
    QVERIFY(boxes.texts.isEmpty());
}

NIVLETS_FAULT_TEST_MAIN(TstFileFaults)

#include "tst_faults_files.moc"
