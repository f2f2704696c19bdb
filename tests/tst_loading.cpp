#include "nivletcore.h"
#include "stringpool.h"
#include "testsupport.h"

#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <memory>
#include <optional>
#include <sqlite3.h>

using TestSupport::WorkDir;

namespace {

const char reloadSql[] =
    "SELECT m.id, m.active, m.kn_rate, m.book_id, m.question, m.answer FROM nivlet m, book b "
    "WHERE (m.book_id = b.id)  AND (m.active = 1)  AND (b.active = 1) ORDER BY kn_rate";

// Without NOT NULL, so that rows may hold NULL texts.
const char looseNivletTableSql[] = R"(
DROP TABLE nivlet;
CREATE TABLE nivlet (id INTEGER PRIMARY KEY, active INTEGER, kn_rate REAL, book_id INTEGER,
                     question TEXT, answer TEXT);
)";

using Text = std::optional<QByteArray>;

struct Row
{
    qint64 id;
    qint64 bookId;
    Text question;
    Text answer;
};

// A connection of the test's own, for writing rows byte by byte and reading
// them back as the file holds them.
class Connection
{
public:
    Connection()
    {
        // The test's writes need no durability, and syncing each one made it slow.
        ok = sqlite3_open("nivlets", &db) == SQLITE_OK && exec("PRAGMA synchronous = OFF");
    }
    ~Connection() { sqlite3_close(db); }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    bool exec(const char *sql)
    {
        return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    }

    bool insert(qint64 id, double rate, qint64 bookId, const Text &question, const Text &answer)
    {
        SqlStatement stmt(db, "INSERT INTO nivlet (id, active, kn_rate, book_id, question, "
                              "answer) VALUES (?, 1, ?, ?, ?, ?)");
        if (!stmt)
            return false;
        stmt.bindInt64(1, id);
        stmt.bindDouble(2, rate);
        stmt.bindInt64(3, bookId);
        bindText(stmt, 4, question);
        bindText(stmt, 5, answer);
        return stmt.execute();
    }

    // The active list's rows in the order the store's own statement gives.
    QList<Row> activeRows()
    {
        QList<Row> rows;
        SqlStatement stmt(db, reloadSql);
        while (stmt.next())
            rows.append({stmt.columnInt64(0), stmt.columnInt64(3), columnText(stmt, 4),
                         columnText(stmt, 5)});
        return rows;
    }

    bool ok = false;

private:
    static void bindText(SqlStatement &stmt, int index, const Text &text)
    {
        if (text)
            stmt.bindText(index, text->constData(), static_cast<int>(text->size()));
        else
            stmt.bindNull(index);
    }

    static Text columnText(const SqlStatement &stmt, int column)
    {
        const char *text = stmt.columnUtf8(column);
        if (!text)
            return std::nullopt;
        return QByteArray(text, stmt.columnBytes(column));
    }

    sqlite3 *db = nullptr;
};

QString decoded(const Text &text)
{
    return text ? QString::fromUtf8(*text) : QString();
}

// Qt's own strings are followed by a NUL, and code that hands utf16() to C
// interfaces counts on it.
bool endsInNul(const QString &s)
{
    return s.constData()[s.size()] == QChar(u'\0');
}

QStringList parsed(const QString &answer)
{
    QStringList entries;
    Nivlet::parseAnswers(answer, entries);
    return entries;
}

// Every record of the active list against the file's rows, against the
// answer parser and against a record read one by one through getNivlet.
void checkActiveList(NivletCore &core, const QList<Row> &rows)
{
    QCOMPARE(core.activeList()->nivlets().size(), rows.size());
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const Nivlet *n = core.activeList()->nivlets().at(i);
        const Row &row = rows.at(i);
        const QByteArray where =
            "row " + QByteArray::number(i) + ", id " + QByteArray::number(row.id);
        QVERIFY2(n->id == row.id, where.constData());
        QVERIFY2(n->question == decoded(row.question), where.constData());
        QVERIFY2(n->question.isNull() == !row.question, where.constData());
        QVERIFY2(n->answer == decoded(row.answer), where.constData());
        QVERIFY2(n->answer.isNull() == !row.answer, where.constData());
        QVERIFY2(n->possibleAnswers == parsed(n->answer), where.constData());
        QVERIFY2(n->book == core.findBook(row.bookId), where.constData());
        QVERIFY2(endsInNul(n->question) && endsInNul(n->answer), where.constData());
        for (const QString &entry : n->possibleAnswers)
            QVERIFY2(endsInNul(entry), where.constData());

        const std::unique_ptr<Nivlet> single(core.getNivlet(row.id));
        QVERIFY2(single, where.constData());
        QVERIFY2(single->question == n->question && single->answer == n->answer &&
                     single->possibleAnswers == n->possibleAnswers && single->knRate == n->knRate &&
                     single->book == n->book,
                 where.constData());
    }
}

} // namespace

class TestLoading : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void unusualTexts();
    void asciiAnswersAsParsed();
    void stringsOutliveTheirRecords();
    void changedStringsDetach();
    void listLongerThanTheCountsSay();
    void bookIdsWithGaps();
    void sparseBookIds();
    void duplicateBookIds();
    void poolMatchesQt();
    void poolStringsOutliveThePool();

private:
    std::unique_ptr<WorkDir> dir;
};

void TestLoading::init()
{
    dir = std::make_unique<WorkDir>();
    QVERIFY(TestSupport::createDatabase(dir->path(),
                                        QStringLiteral("INSERT INTO book (id, name, active) VALUES "
                                                       "(1, 'One', 1), (2, 'Two', 1);")));
}

void TestLoading::cleanup()
{
    dir.reset();
}

void TestLoading::unusualTexts()
{
    Connection c;
    QVERIFY(c.ok);
    QVERIFY(c.exec(looseNivletTableSql));
    const QList<std::pair<Text, Text>> texts = {
        {QByteArray("Capital of France?"),
         QByteArray("  PARIS #capital\nParis\n# x\n\nLe   Havre\n   ")},
        {QByteArray("Already normal"), QByteArray("paris")},
        {QByteArray("Upper case"), QByteArray("Paris")},
        {QByteArray("Two blanks"), QByteArray("new  york")},
        {QByteArray("Tab"), QByteArray("new\tyork")},
        {QByteArray("CR LF"), QByteArray("one\r\ntwo\r\n")},
        {QByteArray("Form feed and vertical tab"), QByteArray("\x0b"
                                                              "a\x0c"
                                                              "b\x0b")},
        {QByteArray("Not blanks to Qt"), QByteArray("a\x1c"
                                                    "b\x1f")},
        {QByteArray("Comment only"), QByteArray("# nothing")},
        {QByteArray("Hash first"), QByteArray("#a\nb#c\nd")},
        {QByteArray("Trailing line feed"), QByteArray("word\n")},
        {QByteArray("Embedded NUL", 12), QByteArray("a\0b\nc", 5)},
        {QByteArray("Caf\xc3\xa9?"), QByteArray("CAF\xc3\x89\n\xc3\xa9t\xc3\xa9")},
        {QByteArray("Decomposed"), QByteArray("Cafe\xcc\x81 # coffee\nCre\xcc\x80me")},
        {QByteArray("\xce\xa3\xce\x9f\xce\xa6\xce\x8a\xce\x91"),
         QByteArray("\xce\xa3\xce\x9f\xce\xa6\xce\x8a\xce\x91")},
        {QByteArray("Non-breaking space"), QByteArray("a\xc2\xa0\xc2\xa0"
                                                      "b")},
        {QByteArray("Byte order mark"), QByteArray("\xef\xbb\xbf"
                                                   "Answer")},
        {QByteArray("Invalid UTF-8 \xc3"), QByteArray("bad \xff\xfe bytes\n\xe2\x82")},
        {QByteArray("Surrogate pair \xf0\x9f\x98\x80"), QByteArray("\xf0\x9f\x98\x80 Smile")},
        {QByteArray(""), QByteArray("")},
        {std::nullopt, QByteArray("no question")},
        {QByteArray("No answer"), std::nullopt},
        {std::nullopt, std::nullopt},
    };
    qint64 id = 1;
    for (const auto &[question, answer] : texts) {
        QVERIFY(c.insert(id, id / 100.0, 1 + id % 2, question, answer));
        ++id;
    }
    NivletCore core;
    QVERIFY(core.open());
    checkActiveList(core, c.activeRows());
    QVERIFY(core.reloadActiveNivlets());
    checkActiveList(core, c.activeRows());
}

void TestLoading::asciiAnswersAsParsed()
{
    // Short random texts over an alphabet of every character that matters
    // to the answer format, so that most of them hit a corner: blanks of
    // every kind in runs and at the ends, comments, empty lines, capitals.
    const char alphabet[] = "aZ #\n\r\t\v\f\x1c.bY";
    QRandomGenerator random(20240607);
    Connection c;
    QVERIFY(c.ok);
    QVERIFY(c.exec("BEGIN"));
    for (qint64 id = 1; id <= 3000; ++id) {
        QByteArray answer;
        const int length = random.bounded(0, 14);
        for (int i = 0; i < length; ++i)
            answer += alphabet[random.bounded(int(sizeof alphabet) - 1)];
        QVERIFY(c.insert(id, random.generateDouble(), 1 + id % 2,
                         QByteArray("Question ") + QByteArray::number(id), answer));
    }
    QVERIFY(c.exec("COMMIT"));
    NivletCore core;
    QVERIFY(core.open());
    checkActiveList(core, c.activeRows());
}

void TestLoading::stringsOutliveTheirRecords()
{
    Connection c;
    QVERIFY(c.ok);
    for (qint64 id = 1; id <= 300; ++id)
        QVERIFY(c.insert(id, id / 1000.0, 1, QByteArray("Question ") + QByteArray::number(id),
                         QByteArray("Answer ") + QByteArray::number(id) + "\nsecond"));
    QStringList questions;
    QStringList answers;
    QList<QStringList> entries;
    {
        NivletCore core;
        QVERIFY(core.open());
        for (const Nivlet *n : std::as_const(core.activeList()->nivlets())) {
            questions << n->question;
            answers << n->answer;
            entries << n->possibleAnswers;
        }
        // The copies outlive a reload, which destroys the records they were
        // taken from, and then the store itself.
        QVERIFY(core.reloadActiveNivlets());
    }
    QCOMPARE(questions.size(), 300);
    for (int i = 0; i < 300; ++i) {
        const QString number = QString::number(i + 1);
        QCOMPARE(questions.at(i), QStringLiteral("Question ") + number);
        QCOMPARE(answers.at(i), QStringLiteral("Answer ") + number + QStringLiteral("\nsecond"));
        QCOMPARE(entries.at(i),
                 (QStringList{QStringLiteral("answer ") + number, QStringLiteral("second")}));
    }
    // A copy that is the last one holding its block may grow in place.
    questions.first().append(QStringLiteral(" and more text than the block had room for"));
    QCOMPARE(questions.at(1), QStringLiteral("Question 2"));
}

void TestLoading::changedStringsDetach()
{
    Connection c;
    QVERIFY(c.ok);
    QVERIFY(c.insert(1, 0.1, 1, QByteArray("First"), QByteArray("one")));
    QVERIFY(c.insert(2, 0.2, 1, QByteArray("Second"), QByteArray("Two\nthree")));
    NivletCore core;
    QVERIFY(core.open());
    QCOMPARE(core.activeList()->nivlets().size(), 2);
    Nivlet *first = core.activeList()->nivlets().at(0);
    Nivlet *second = core.activeList()->nivlets().at(1);
    const QString kept = first->question;
    first->question.append(QStringLiteral(" question, longer"));
    first->answer[0] = QLatin1Char('O');
    first->possibleAnswers[0].prepend(QStringLiteral("only "));
    second->possibleAnswers.append(QStringLiteral("four"));
    QCOMPARE(first->question, QStringLiteral("First question, longer"));
    QCOMPARE(kept, QStringLiteral("First"));
    QCOMPARE(first->answer, QStringLiteral("One"));
    QCOMPARE(first->possibleAnswers, QStringList{QStringLiteral("only one")});
    QCOMPARE(second->question, QStringLiteral("Second"));
    QCOMPARE(second->answer, QStringLiteral("Two\nthree"));
    QCOMPARE(second->possibleAnswers,
             (QStringList{QStringLiteral("two"), QStringLiteral("three"), QStringLiteral("four")}));
}

void TestLoading::listLongerThanTheCountsSay()
{
    Connection c;
    QVERIFY(c.ok);
    QVERIFY(c.insert(1, 0.5, 1, QByteArray("Counted"), QByteArray("yes")));
    NivletCore core;
    QVERIFY(core.open());
    QCOMPARE(core.totalNivletCount(), 1);
    // Another program adds rows the store's counts do not know of: the
    // records take more than the room the counts promised, in several
    // blocks, and none of them moves.
    QVERIFY(c.exec("BEGIN"));
    for (qint64 id = 2; id <= 3000; ++id)
        QVERIFY(c.insert(id, (id % 997) / 997.0, 1 + id % 2,
                         QByteArray("Added ") + QByteArray::number(id), QByteArray("Word")));
    QVERIFY(c.exec("COMMIT"));
    QVERIFY(core.reloadActiveNivlets());
    QCOMPARE(core.totalNivletCount(), 1);
    const QList<Row> rows = c.activeRows();
    QCOMPARE(rows.size(), 3000);
    checkActiveList(core, rows);
}

void TestLoading::bookIdsWithGaps()
{
    QVERIFY(TestSupport::execSql(QStringLiteral("nivlets"),
                                 QStringLiteral("INSERT INTO book (id, name, active) VALUES "
                                                "(900, 'Nine hundred', 1), (400, 'Off', 0), "
                                                "(7, 'Seven', 1);")));
    const QList<qint64> bookIds{1, 2, 900, 400, 7};
    Connection c;
    QVERIFY(c.ok);
    for (qint64 id = 1; id <= 50; ++id)
        QVERIFY(c.insert(id, id / 100.0, bookIds.at(id % bookIds.size()), QByteArray("Q"),
                         QByteArray("a")));
    NivletCore core;
    QVERIFY(core.open());
    const QList<Row> rows = c.activeRows();
    QCOMPARE(rows.size(), 40);
    checkActiveList(core, rows);
}

void TestLoading::sparseBookIds()
{
    QVERIFY(TestSupport::execSql(
        QStringLiteral("nivlets"),
        QStringLiteral("INSERT INTO book (id, name, active) VALUES (-5, 'Negative', 1), "
                       "(1000000000000, 'Far', 1), (9223372036854775807, 'Last', 1), "
                       "(-9223372036854775807, 'First', 1), (77, 'Off', 0);")));
    const QList<qint64> bookIds{
        -5, 1, 2, 1000000000000, 9223372036854775807LL, -9223372036854775807LL, 77};
    Connection c;
    QVERIFY(c.ok);
    for (qint64 id = 1; id <= 70; ++id)
        QVERIFY(c.insert(id, id / 100.0, bookIds.at(id % bookIds.size()), QByteArray("Q"),
                         QByteArray("a")));
    NivletCore core;
    QVERIFY(core.open());
    const QList<Row> rows = c.activeRows();
    QCOMPARE(rows.size(), 60);
    checkActiveList(core, rows);
    for (const Nivlet *n : std::as_const(core.activeList()->nivlets()))
        QVERIFY(n->book);
}

void TestLoading::duplicateBookIds()
{
    // A hand-made file whose book ids are an ordinary column: two books share
    // an id, and the first in list order is the one the records point to.
    QVERIFY(TestSupport::execSql(
        QStringLiteral("nivlets"),
        QStringLiteral("DROP TABLE book; CREATE TABLE book (id INTEGER, name TEXT, active INTEGER);"
                       "INSERT INTO book (id, name, active) VALUES (3, 'Three', 1), "
                       "(1, 'One', 1), (3, 'Three again', 1);")));
    Connection c;
    QVERIFY(c.ok);
    QVERIFY(c.insert(1, 0.1, 3, QByteArray("Q"), QByteArray("a")));
    QVERIFY(c.insert(2, 0.2, 1, QByteArray("Q"), QByteArray("b")));
    NivletCore core;
    QVERIFY(core.open());
    QCOMPARE(core.bookCount(), 3);
    // The join gives the row of book 3 once for each of its two books.
    QCOMPARE(core.activeList()->nivlets().size(), 3);
    for (const Nivlet *n : std::as_const(core.activeList()->nivlets())) {
        QVERIFY(n->book);
        QCOMPARE(n->book, core.findBook(n->book->id));
        QVERIFY(n->book->name != QLatin1String("Three again"));
    }
}

void TestLoading::poolMatchesQt()
{
    const QList<QByteArray> samples = {
        QByteArray(""),
        QByteArray("plain"),
        QByteArray("caf\xc3\xa9"),
        QByteArray("\xef\xbb\xbf"
                   "bom"),
        QByteArray("\xff\xfe\xfd"),
        QByteArray("cut \xe2\x82"),
        QByteArray("\xf0\x9f\x98\x80"),
        QByteArray("\xed\xa0\x80 lone surrogate"),
        QByteArray("\xc0\xaf overlong"),
        QByteArray("nul\0inside", 10),
        QByteArray(3 * StringPool::blockLength, 'x'),
    };
    StringPool pool;
    for (const QByteArray &bytes : samples) {
        bool ascii = false;
        const QString s = pool.fromUtf8(bytes.constData(), bytes.size(), &ascii);
        QCOMPARE(s, QString::fromUtf8(bytes));
        QCOMPARE(s.isNull(), QString::fromUtf8(bytes).isNull());
        QCOMPARE(ascii, !std::any_of(bytes.cbegin(), bytes.cend(),
                                     [](char b) { return static_cast<unsigned char>(b) >= 0x80; }));
        QVERIFY(endsInNul(s));
    }
}

void TestLoading::poolStringsOutliveThePool()
{
    QStringList kept;
    {
        StringPool pool;
        // Enough to fill several blocks.
        for (int i = 0; i < 20000; ++i) {
            const QByteArray text = "text number " + QByteArray::number(i);
            kept << pool.fromUtf8(text.constData(), text.size());
        }
        pool.release();
        kept << pool.copy(u"after release");
    }
    for (int i = 0; i < 20000; ++i)
        QCOMPARE(kept.at(i), QStringLiteral("text number ") + QString::number(i));
    QCOMPARE(kept.last(), QStringLiteral("after release"));
    kept.erase(kept.begin() + 1, kept.end());
    kept.first().append(QString(StringPool::blockLength, QLatin1Char('y')));
    QCOMPARE(kept.first().size(), 13 + StringPool::blockLength);
    QVERIFY(kept.first().startsWith(QStringLiteral("text number 0y")));
}

QTEST_GUILESS_MAIN(TestLoading)
#include "tst_loading.moc"
