// nivlets-cards: the card file reader and writer, and the built command run
// as a user runs it, on real files: round trips, bad input, the folder's
// lock, a process killed in the middle of an import.

#include "cardfile.h"
#include "dblock.h"
#include "testsupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <cstring>

#include <csignal>
#include <sqlite3.h>

using TestSupport::WorkDir;

namespace {

const QString cardsProgram = QStringLiteral(NIVLETS_CARDS);
const QString deliveredDatabase = QStringLiteral(NIVLETS_DATABASE);

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

Run runCards(const QStringList &args, const QByteArray &input = QByteArray())
{
    QProcess process;
    process.start(cardsProgram, args);
    Run run;
    if (!process.waitForStarted(10000))
        return run;
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray columnBytes(const SqlStatement &stmt, int column)
{
    return QByteArray(static_cast<const char *>(stmt.columnBlob(column)), stmt.columnBytes(column));
}

// Every nivlet with its book, byte for byte and with the rate's exact bits,
// in id order; ids themselves are left out, since an import assigns new ones.
QByteArray contents(const QString &file)
{
    QByteArray result;
    const TestSupport::ReadConnection connection(file);
    SqlStatement stmt = connection.query(
        QStringLiteral("SELECT b.name, b.active, m.question, m.answer, m.active, m.kn_rate, "
                       "typeof(m.kn_rate) FROM nivlet m, book b WHERE b.id = m.book_id "
                       "ORDER BY m.id"));
    if (!stmt)
        return "cannot read: " + stmt.errorMessage().toUtf8();
    while (stmt.next()) {
        const double rate = stmt.columnDouble(5);
        quint64 bits = 0;
        std::memcpy(&bits, &rate, sizeof bits);
        result += columnBytes(stmt, 0).toHex() + ' ' + QByteArray::number(stmt.columnInt(1)) + ' ' +
                  columnBytes(stmt, 2).toHex() + ' ' + columnBytes(stmt, 3).toHex() + ' ' +
                  QByteArray::number(stmt.columnInt(4)) + ' ' + QByteArray::number(bits, 16) + ' ' +
                  columnBytes(stmt, 6) + '\n';
    }
    return result;
}

// Opened for writing, so that a hot journal left by a killed import is
// rolled back first, as the next program to open the file would.
QString scalar(const QString &file, const QString &sql)
{
    sqlite3 *db = nullptr;
    QString value = QStringLiteral("<failed>");
    if (sqlite3_open(QFile::encodeName(file).constData(), &db) == SQLITE_OK) {
        SqlStatement stmt(db, sql.toUtf8().constData());
        if (stmt.next())
            value = QString::fromUtf8(columnBytes(stmt, 0));
    }
    sqlite3_close(db);
    return value;
}

// Inserts rows with bound values, so that any byte reaches the file as is.
bool insertNivlets(const QString &file, qint64 bookId, const QByteArray &book, bool bookActive,
                   const QList<std::tuple<QByteArray, QByteArray, bool, double>> &nivlets)
{
    sqlite3 *db = nullptr;
    bool ok = sqlite3_open(QFile::encodeName(file).constData(), &db) == SQLITE_OK;
    if (ok) {
        SqlStatement addBook(db, "INSERT INTO book (id, name, active) VALUES (?, ?, ?)");
        addBook.bindInt64(1, bookId);
        addBook.bindText(2, book.constData(), int(book.size()));
        addBook.bindBool(3, bookActive);
        ok = addBook.execute();
    }
    if (ok) {
        SqlStatement addNivlet(db, "INSERT INTO nivlet (active, kn_rate, book_id, question, "
                                   "answer) VALUES (?, ?, ?, ?, ?)");
        for (const auto &[question, answer, active, rate] : nivlets) {
            if (!ok)
                break;
            addNivlet.reset();
            addNivlet.bindBool(1, active);
            addNivlet.bindDouble(2, rate);
            addNivlet.bindInt64(3, bookId);
            addNivlet.bindText(4, question.constData(), int(question.size()));
            addNivlet.bindText(5, answer.constData(), int(answer.size()));
            ok = addNivlet.execute();
        }
    }
    sqlite3_close(db);
    return ok;
}

// The records of a tab-separated file as Anki's importer splits them (the
// csv crate with "#" for comments, rslib/src/import_export/text/csv/import.rs):
// a field that begins with a quote runs to the closing quote, "" is a quote.
QList<QList<QByteArray>> ankiRecords(const QByteArray &file)
{
    QList<QList<QByteArray>> records;
    qsizetype pos = 0;
    const qsizetype size = file.size();
    while (pos < size) {
        if (file.at(pos) == '#') {
            const qsizetype end = file.indexOf('\n', pos);
            pos = end < 0 ? size : end + 1;
            continue;
        }
        QList<QByteArray> fields;
        QByteArray field;
        bool quoted = false;
        for (; pos < size; ++pos) {
            const char c = file.at(pos);
            if (quoted) {
                if (c == '"' && pos + 1 < size && file.at(pos + 1) == '"') {
                    field += '"';
                    ++pos;
                } else if (c == '"') {
                    quoted = false;
                } else {
                    field += c;
                }
            } else if (c == '"' && field.isEmpty()) {
                quoted = true;
            } else if (c == '\t') {
                fields.append(field);
                field.clear();
            } else if (c == '\n') {
                break;
            } else {
                field += c;
            }
        }
        ++pos;
        fields.append(field);
        records.append(fields);
    }
    return records;
}

// Where Anki's text importer puts the columns of a file with its default
// choices and its "Basic" note type (fields "Front" and "Back"), by the rules
// of rslib/src/import_export/text/csv/metadata.rs: header keys trimmed and in
// lower case; the deck, tags, guid and notetype columns are meta columns;
// "#columns:" names are matched exactly against the note type's fields, meta
// columns left out (map_field_columns_by_name), and with no name at all the
// fields take the other columns in order (map_field_columns_by_index); the
// first field falls back to the first other column; without a
// "#tags column:" the first column after the last field's that is no meta
// column holds the tags (maybe_set_tags_column). Columns from 1, 0 for none.
struct AnkiMapping
{
    int front = 0;
    int back = 0;
    int deck = 0;
    int tags = 0;
};

AnkiMapping ankiMapping(const QByteArray &file)
{
    AnkiMapping mapping;
    QList<QByteArray> labels;
    QList<int> meta;
    int guid = 0;
    int notetype = 0;
    for (const QByteArray &line : file.split('\n')) {
        if (!line.startsWith('#'))
            break;
        const qsizetype colon = line.indexOf(':');
        if (colon < 0)
            continue;
        const QByteArray key = line.mid(1, colon - 1).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1);
        if (key == "columns")
            labels = value.split('\t');
        else if (key == "deck column")
            mapping.deck = value.trimmed().toInt();
        else if (key == "tags column")
            mapping.tags = value.trimmed().toInt();
        else if (key == "guid column")
            guid = value.trimmed().toInt();
        else if (key == "notetype column")
            notetype = value.trimmed().toInt();
    }
    if (labels.isEmpty())
        labels.resize(ankiRecords(file).value(0).size());
    for (const int column : {mapping.deck, mapping.tags, guid, notetype}) {
        if (column > 0)
            meta.append(column);
    }
    const QList<QByteArray> fields{"Front", "Back"};
    QList<int> fieldColumns{1, 0};
    const bool unnamed = std::all_of(labels.cbegin(), labels.cend(),
                                     [](const QByteArray &l) { return l.isEmpty(); });
    if (unnamed) {
        int field = 0;
        for (int column = 1; column <= labels.size() && field < fields.size(); ++column) {
            if (!meta.contains(column))
                fieldColumns[field++] = column;
        }
    } else {
        for (int field = 0; field < fields.size(); ++field) {
            for (int column = 1; column <= labels.size(); ++column) {
                if (!meta.contains(column) && labels.at(column - 1) == fields.at(field))
                    fieldColumns[field] = column;
            }
        }
    }
    if (fieldColumns[0] == 0) {
        for (int column = 1; column <= labels.size() && fieldColumns[0] == 0; ++column) {
            if (!meta.contains(column))
                fieldColumns[0] = column;
        }
    }
    if (mapping.tags == 0) {
        const int lastField = std::max(fieldColumns[0], fieldColumns[1]);
        for (int column = lastField + 1; column <= labels.size(); ++column) {
            if (!meta.contains(column)) {
                mapping.tags = column;
                break;
            }
        }
    }
    mapping.front = fieldColumns[0];
    mapping.back = fieldColumns[1];
    return mapping;
}

// Every nivlet's question, answer and book name, in id order.
QList<std::tuple<QByteArray, QByteArray, QByteArray>> nivletTexts(const QString &file)
{
    QList<std::tuple<QByteArray, QByteArray, QByteArray>> texts;
    const TestSupport::ReadConnection connection(file);
    SqlStatement stmt = connection.query(QStringLiteral(
        "SELECT m.question, m.answer, b.name FROM nivlet m, book b WHERE b.id = m.book_id "
        "ORDER BY m.id"));
    while (stmt.next())
        texts.append({columnBytes(stmt, 0), columnBytes(stmt, 1), columnBytes(stmt, 2)});
    return texts;
}

// A large plain file: "question N<TAB>answer N" lines.
QByteArray plainLines(int count)
{
    QByteArray data;
    data.reserve(count * 40);
    for (int i = 1; i <= count; ++i)
        data += "question " + QByteArray::number(i) + "\tanswer " + QByteArray::number(i) + '\n';
    return data;
}

} // namespace

class TestCards : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void readsQuotedFields();
    void quoteOnlyWhereAFieldEnds_data();
    void quoteOnlyWhereAFieldEnds();
    void readsPlainTables_data();
    void readsPlainTables();
    void readsNamedColumns();
    void writesWhatItReads();
    void readsAnkiExports_data();
    void readsAnkiExports();
    void plainTextOfHtml_data();
    void plainTextOfHtml();
    void readsMnemosyneFiles();
    void writesForMnemosyne();
    void utf8Validation_data();
    void utf8Validation();

    void roundTripDeliveredSample();
    void roundTripHostileText();
    void ankiImportsTheExport();
    void exportOneBook();
    void exportForMnemosyne();
    void exportToAFullDisk();
    void exportsTheRateInUse();
    void importIntoOneBook();
    void importKeepsExistingBooks();
    void dryRunWritesNothing();
    void badInput_data();
    void badInput();
    void usage_data();
    void usage();
    void help();
    void missingDatabase();
    void missingOrFolderFile();
    void refusedWhileLocked();
    void staleLockIsNoObstacle();
    void progressOnLargeFiles();
    void killedDuringImport();
};

void TestCards::initTestCase()
{
    QVERIFY2(QFile::exists(cardsProgram), qPrintable(cardsProgram));
    QVERIFY2(QFile::exists(deliveredDatabase), qPrintable(deliveredDatabase));
}

void TestCards::readsQuotedFields()
{
    CardReader reader;
    const QByteArray data = "\"a\tb\"\t\"one\nTwo \"\"quoted\"\"\"\r\n"
                            "\"#not a header\"\t\"\"\"\"\n"
                            "plain \"inner\" quote\tx\r\n";
    QVERIFY2(reader.read(data), qPrintable(reader.errorText()));
    QCOMPARE(reader.cards().size(), size_t(3));
    QCOMPARE(reader.cards()[0].question, QByteArray("a\tb"));
    QCOMPARE(reader.cards()[0].answer, QByteArray("one\nTwo \"quoted\""));
    QCOMPARE(reader.cards()[0].line, 1);
    QCOMPARE(reader.cards()[1].question, QByteArray("#not a header"));
    QCOMPARE(reader.cards()[1].answer, QByteArray("\""));
    QCOMPARE(reader.cards()[1].line, 3);
    QCOMPARE(reader.cards()[2].question, QByteArray("plain \"inner\" quote"));
    QCOMPARE(reader.cards()[2].answer, QByteArray("x"));
    QVERIFY(!reader.cards()[2].hasRate);
    QVERIFY(reader.cards()[2].active);
    QVERIFY(!reader.hasBookColumn());
}

void TestCards::quoteOnlyWhereAFieldEnds_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("question");
    QTest::addColumn<QByteArray>("answer");

    // Mnemosyne writes no quotes: a quote is text unless a closing quote
    // followed by the separator or the line end completes a quoted field.
    QTest::newRow("quoted words begin the question")
        << QByteArray("\"Carpe diem\" means\tseize the day\n") << QByteArray("\"Carpe diem\" means")
        << QByteArray("seize the day");
    QTest::newRow("quoted words begin the answer")
        << QByteArray("Motto\t\"Veni\" first\r\n") << QByteArray("Motto")
        << QByteArray("\"Veni\" first");
    QTest::newRow("a quote never closed")
        << QByteArray("\"open\tshut\nq2\ta2\n") << QByteArray("\"open") << QByteArray("shut");
    QTest::newRow("closed only by text")
        << QByteArray("\"a\"\"b\" c\td\n") << QByteArray("\"a\"\"b\" c") << QByteArray("d");
    QTest::newRow("closed before a carriage return alone")
        << QByteArray("\"a\"\rb\tc\n") << QByteArray("\"a\"\rb") << QByteArray("c");
    // What spreadsheets write still reads as quoted fields.
    QTest::newRow("spreadsheet quoting") << QByteArray("\"a, \"\"b\"\"\"\t\"one\ntwo\"\r\n")
                                         << QByteArray("a, \"b\"") << QByteArray("one\ntwo");
    QTest::newRow("quoted at the end of the file")
        << QByteArray("q\t\"a\tb\"") << QByteArray("q") << QByteArray("a\tb");
    QTest::newRow("whole question in quotes")
        << QByteArray("\"Hello\"\tHallo\n") << QByteArray("Hello") << QByteArray("Hallo");
}

void TestCards::quoteOnlyWhereAFieldEnds()
{
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, question);
    QFETCH(QByteArray, answer);
    CardReader reader;
    QVERIFY2(reader.read(data), qPrintable(reader.errorText()));
    QCOMPARE(reader.cards().front().question, question);
    QCOMPARE(reader.cards().front().answer, answer);
    QCOMPARE(reader.cards().front().line, 1);
}

void TestCards::readsPlainTables_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<char>("separator");
    QTest::addColumn<QByteArray>("secondAnswer");

    QTest::newRow("tab") << QByteArray("q1\ta, b\nq2\tc; d\n") << char(0) << QByteArray("c; d");
    QTest::newRow("comma") << QByteArray("q1,a\nq2,\"c, d\"\n") << char(0) << QByteArray("c, d");
    QTest::newRow("semicolon") << QByteArray("q1;a\r\nq2;c\r\n") << char(0) << QByteArray("c");
    QTest::newRow("byte order mark")
        << QByteArray("\xEF\xBB\xBFq1,a\nq2,b") << char(0) << QByteArray("b");
    QTest::newRow("given") << QByteArray("q1|a,b\nq2|c;d\n") << '|' << QByteArray("c;d");
    QTest::newRow("blank lines and extra columns")
        << QByteArray("\nq1\ta\ttag\n\n\nq2\tb\textra\tmore\n\n") << char(0) << QByteArray("b");
}

void TestCards::readsPlainTables()
{
    QFETCH(QByteArray, data);
    QFETCH(char, separator);
    QFETCH(QByteArray, secondAnswer);
    CardReader reader(separator);
    QVERIFY2(reader.read(data), qPrintable(reader.errorText()));
    QCOMPARE(reader.cards().size(), size_t(2));
    QCOMPARE(reader.cards()[0].question, QByteArray("q1"));
    QCOMPARE(reader.cards()[1].question, QByteArray("q2"));
    QCOMPARE(reader.cards()[1].answer, secondAnswer);
}

void TestCards::readsNamedColumns()
{
    // Columns in another order, names in other letter case, a column the
    // program does not know, and the separator named in the header.
    CardReader reader;
    const QByteArray data = "#separator:Semicolon\n"
                            "#html:false\n"
                            "#notetype:Basic\n"
                            "#columns:Rate;Book;Answer;Question;Tags;Active;Book active\n"
                            "0.25;Latin;amo;I love;verbs;0;0\n"
                            "1;Latin;\"a;b\";x;;1;1\n";
    QVERIFY2(reader.read(data), qPrintable(reader.errorText()));
    QCOMPARE(reader.cards().size(), size_t(2));
    const Card &first = reader.cards()[0];
    QCOMPARE(first.question, QByteArray("I love"));
    QCOMPARE(first.answer, QByteArray("amo"));
    QCOMPARE(first.book, QByteArray("Latin"));
    QVERIFY(first.hasRate);
    QCOMPARE(first.rate, 0.25);
    QVERIFY(!first.active);
    QVERIFY(!first.bookActive);
    QCOMPARE(first.line, 5);
    QCOMPARE(reader.cards()[1].answer, QByteArray("a;b"));
    QCOMPARE(reader.cards()[1].rate, 1.0);

    // Another program's deck column names the book when the columns do not.
    CardReader deck;
    QVERIFY(deck.read("#separator:tab\n#deck column:3\nq\ta\tDeck one\n"));
    QVERIFY(deck.hasBookColumn());
    QCOMPARE(deck.cards()[0].book, QByteArray("Deck one"));
}

void TestCards::writesWhatItReads()
{
    const QByteArray texts[] = {"",
                                "plain",
                                "#hash",
                                "tab\there",
                                "line\nfeed",
                                "cr\r",
                                "\"quoted\" it",
                                "mid # hash",
                                " spaced ",
                                "\"",
                                "a\r\nb",
                                "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D",
                                "\xF0\x9F\x98\x80"};
    QByteArray file;
    CardWriter::writeHeader(file);
    const double rates[] = {0.0, 1.0, 0.1, 1.0 / 3.0, 5e-324, 0.9999999999999999};
    int n = 0;
    for (const QByteArray &text : texts) {
        const QByteArray question = "q" + text;
        const QByteArray answer = "a" + text;
        CardWriter::writeCard(file, question.constData(), int(question.size()), answer.constData(),
                              int(answer.size()), text.constData(), int(text.size()), n % 2,
                              rates[n % 6], n % 3 != 0);
        ++n;
    }
    CardReader reader;
    QVERIFY2(reader.read(file), qPrintable(reader.errorText()));
    QCOMPARE(reader.cards().size(), std::size(texts));
    n = 0;
    for (const QByteArray &text : texts) {
        const Card &card = reader.cards()[n];
        QCOMPARE(card.question, "q" + text);
        QCOMPARE(card.answer, "a" + text);
        QCOMPARE(card.book, text);
        QCOMPARE(card.active, bool(n % 2));
        QCOMPARE(std::memcmp(&card.rate, &rates[n % 6], sizeof(double)), 0);
        QCOMPARE(card.bookActive, n % 3 != 0);
        ++n;
    }
}

void TestCards::readsAnkiExports_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("question");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QByteArray>("book");
    QTest::addColumn<int>("line");

    // Anki's "Notes in Plain Text" with everything included
    // (rslib/src/import_export/text/csv/export.rs): guid, note type and deck
    // columns first, then the note type's fields, the tags last; the fields
    // are HTML.
    QTest::newRow("notes with guid, note type, deck and tags")
        << QByteArray("#separator:tab\n#html:true\n#guid column:1\n#notetype column:2\n"
                      "#deck column:3\n#tags column:6\n"
                      "f&Jx*1\tBasic\tSpanish::Verbs\tto <b>love</b>\t"
                      "amar<br>querer<div>adorar</div>\tverbs spanish\n")
        << QByteArray("to love") << QByteArray("amar\nquerer\nadorar")
        << QByteArray("Spanish::Verbs") << 7;
    QTest::newRow("quoted HTML fields, entities, an empty line, no tags")
        << QByteArray(
               "#separator:tab\n#html:true\n#guid column:1\n#notetype column:2\n"
               "#deck column:3\n#tags column:6\n"
               "\"#x\"\"1\"\tBasic (and reversed card)\tLatin\t"
               "&quot;Carpe diem&quot; &amp; more\t"
               "\"<div>seize the day</div><div><br></div><div>pluck&nbsp;the&nbsp;day</div>\"\t\n")
        << QByteArray("\"Carpe diem\" & more") << QByteArray("seize the day\n\npluck the day")
        << QByteArray("Latin") << 7;
    QTest::newRow("notes without HTML, deck and tags only")
        << QByteArray("#separator:tab\n#html:false\n#deck column:1\n#tags column:4\n"
                      "Default\tx <b> y\tz &amp;\tmarked\n")
        << QByteArray("x <b> y") << QByteArray("z &amp;") << QByteArray("Default") << 5;
    // "Cards in Plain Text": the rendered question and answer only.
    QTest::newRow("cards") << QByteArray("#separator:tab\n#html:true\n"
                                         "What is <i>2 + 2</i>?\t4<br>four\n")
                           << QByteArray("What is 2 + 2?") << QByteArray("4\nfour") << QByteArray()
                           << 3;
    QTest::newRow("deck of every note")
        << QByteArray("\xEF\xBB\xBF#separator:Tab\n# made by hand\n#deck: Greek \n"
                      "#notetype:Basic\n#tags:greek\n#if matches:keep both\n"
                      "#match scope:notetype + deck\nlogos\tword\n")
        << QByteArray("logos") << QByteArray("word") << QByteArray("Greek") << 8;
    QTest::newRow("named columns around the meta columns")
        << QByteArray("#separator:tab\n#html:true\n#guid column:1\n#tags column:5\n"
                      "#columns:id\tfr\tja\tromaji\ttags\n"
                      "g1\tchat\t\xE7\x8C\xAB\tneko\tanimals\n")
        << QByteArray("chat") << QByteArray("\xE7\x8C\xAB") << QByteArray() << 6;
    QTest::newRow("meta columns with spaces")
        << QByteArray("#separator: tab\n#deck column: 2 \n#TAGS COLUMN:1\ntag\tDeck\tq\ta\n")
        << QByteArray("q") << QByteArray("a") << QByteArray("Deck") << 4;
}

void TestCards::readsAnkiExports()
{
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, question);
    QFETCH(QByteArray, answer);
    QFETCH(QByteArray, book);
    QFETCH(int, line);
    CardReader reader;
    QVERIFY2(reader.read(data), qPrintable(QString::number(reader.errorLine()) +
                                           QStringLiteral(": ") + reader.errorText()));
    QCOMPARE(reader.cards().size(), size_t(1));
    const Card &card = reader.cards().front();
    QCOMPARE(card.question, question);
    QCOMPARE(card.answer, answer);
    QCOMPARE(card.book, book);
    QCOMPARE(reader.hasBookColumn(), !book.isNull());
    QCOMPARE(card.line, line);
    QVERIFY(!card.hasRate);
}

void TestCards::plainTextOfHtml_data()
{
    QTest::addColumn<QByteArray>("html");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("plain") << QByteArray("plain text") << QByteArray("plain text");
    QTest::newRow("line breaks") << QByteArray("a<br>b<BR/>c<br />d") << QByteArray("a\nb\nc\nd");
    QTest::newRow("divs") << QByteArray("<div>a</div><div>b</div>c") << QByteArray("a\nb\nc");
    QTest::newRow("text, then divs")
        << QByteArray("a<div>b</div><div>c</div>") << QByteArray("a\nb\nc");
    QTest::newRow("empty line of a div")
        << QByteArray("a<div><br></div><div>b</div>") << QByteArray("a\n\nb");
    QTest::newRow("break at the end of a div")
        << QByteArray("<div>a<br></div><div>b</div>") << QByteArray("a\nb");
    QTest::newRow("paragraphs and items")
        << QByteArray("<p>one</p><ul><li>two</li><li>three</li></ul>")
        << QByteArray("one\ntwo\nthree");
    QTest::newRow("entities") << QByteArray(
                                     "&lt;b&gt; &amp; &quot;&#39;&apos; &eacute;&#233;&#xE9;")
                              << QByteArray("<b> & \"'' \xC3\xA9\xC3\xA9\xC3\xA9");
    QTest::newRow("no-break spaces") << QByteArray("a&nbsp;&nbsp;b") << QByteArray("a  b");
    QTest::newRow("other tags") << QByteArray(
                                       "<b>bold</b> <i>it</i> <span style=\"color: red\">red</span>"
                                       "<img src=\"x.png\">")
                                << QByteArray("bold it red");
    QTest::newRow("blanks of the source")
        << QByteArray("  two  \n spaced\twords  ") << QByteArray("two spaced words");
    QTest::newRow("scripts, styles, comments")
        << QByteArray("<style>p { color: red }</style>a<!-- note --><script>x()</script>b")
        << QByteArray("ab");
    QTest::newRow("a less-than sign") << QByteArray("x < y") << QByteArray("x < y");
    QTest::newRow("a stray end tag first") << QByteArray("</div>text") << QByteArray("text");
    QTest::newRow("breaks at the end") << QByteArray("a<br><br>") << QByteArray("a");
    QTest::newRow("sounds stay") << QByteArray("[sound:a.mp3]") << QByteArray("[sound:a.mp3]");
    QTest::newRow("non-ASCII") << QByteArray("\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D \xF0\x9F\x98\x80")
                               << QByteArray("\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D \xF0\x9F\x98\x80");
}

void TestCards::plainTextOfHtml()
{
    QFETCH(QByteArray, html);
    QFETCH(QByteArray, text);
    QCOMPARE(::plainTextOfHtml(html), text);
}

void TestCards::readsMnemosyneFiles()
{
    // As Mnemosyne 2.9 writes them (libmnemosyne/file_formats/tsv.py): no
    // quotes, "<br>" for a line end, the texts as they are; and as its import
    // reads them: the line's trailing blanks stripped. "&&#35;" is nivlets'
    // own escape of "&#".
    CardReader reader(0, CardFormat::Mnemosyne);
    const QByteArray data = "\"Carpe diem\" means\tseize the day  \n"
                            "\n"
                            "Two<br>lines\tone<br>two<BR/>three\r\n"
                            "#not a comment\t\"\"\r"
                            "caf&#233;\t&&#35;x263A; &#nope; &&#35;&&#35;\n"
                            "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D\t<br>x\t\n";
    QVERIFY2(reader.read(data), qPrintable(reader.errorText()));
    const std::vector<Card> &cards = reader.cards();
    QCOMPARE(cards.size(), size_t(5));
    QCOMPARE(cards[0].question, QByteArray("\"Carpe diem\" means"));
    QCOMPARE(cards[0].answer, QByteArray("seize the day"));
    QCOMPARE(cards[1].question, QByteArray("Two\nlines"));
    QCOMPARE(cards[1].answer, QByteArray("one\ntwo\nthree"));
    QCOMPARE(cards[1].line, 3);
    QCOMPARE(cards[2].question, QByteArray("#not a comment"));
    QCOMPARE(cards[2].answer, QByteArray("\"\""));
    QCOMPARE(cards[3].question, QByteArray("caf&#233;"));
    QCOMPARE(cards[3].answer, QByteArray("&#x263A; &#nope; &#&#"));
    QCOMPARE(cards[3].line, 5);
    QCOMPARE(cards[4].answer, QByteArray("\nx"));
    QVERIFY(cards[4].book.isNull());
    QVERIFY(!reader.hasBookColumn());

    CardReader threeSided(0, CardFormat::Mnemosyne);
    QVERIFY(!threeSided.read("q\ta\nforeign\tpronounced\tmeaning\n"));
    QCOMPARE(threeSided.errorLine(), 2);
    QCOMPARE(threeSided.errorText(), QStringLiteral("3 field(s) where 2 are expected"));
    CardReader oneSided(0, CardFormat::Mnemosyne);
    QVERIFY(!oneSided.read("q\t  \n"));
    QCOMPARE(oneSided.errorText(), QStringLiteral("1 field(s) where 2 are expected"));
}

void TestCards::writesForMnemosyne()
{
    QByteArray out;
    const QByteArray question = "tab\there \"quoted\" &#33; & #";
    const QByteArray answer = "one\ntwo\r\nthree\rfour\n";
    CardWriter::writeMnemosyneCard(out, question.constData(), int(question.size()),
                                   answer.constData(), int(answer.size()));
    CardWriter::writeMnemosyneCard(out, "", 0, "a", 1);
    QCOMPARE(out, QByteArray("tab here \"quoted\" &&#35;33; & #\tone<br>two<br>three<br>four<br>\n"
                             "<br>\ta\n"));
    // Read back as Mnemosyne's import reads it: the text, a tab a space.
    CardReader reader(0, CardFormat::Mnemosyne);
    QVERIFY(!reader.read(out));
    QCOMPARE(reader.errorText(), QStringLiteral("empty question"));
    out.chop(QByteArray("<br>\ta\n").size());
    QVERIFY2(reader.read(out), qPrintable(reader.errorText()));
    QCOMPARE(reader.cards().front().question, QByteArray("tab here \"quoted\" &#33; & #"));
    QCOMPARE(reader.cards().front().answer, QByteArray("one\ntwo\nthree\nfour\n"));
}

void TestCards::utf8Validation_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("line");
    QTest::newRow("valid") << QByteArray("a\n\xC3\xA9\n\xE2\x82\xAC\n\xF0\x9F\x98\x80") << 0;
    QTest::newRow("stray continuation") << QByteArray("a\nb\n\x80") << 3;
    QTest::newRow("overlong") << QByteArray("\xC0\xAF") << 1;
    QTest::newRow("overlong three") << QByteArray("x\n\xE0\x80\xAF") << 2;
    QTest::newRow("surrogate") << QByteArray("\n\n\xED\xA0\x80") << 3;
    QTest::newRow("beyond unicode") << QByteArray("\xF4\x90\x80\x80") << 1;
    QTest::newRow("cut short") << QByteArray("a\n\xE2\x82") << 2;
    QTest::newRow("latin-1") << QByteArray("caf\xE9\n") << 1;
}

void TestCards::utf8Validation()
{
    QFETCH(QByteArray, data);
    QFETCH(int, line);
    QCOMPARE(firstInvalidUtf8Line(data), line);
}

void TestCards::roundTripDeliveredSample()
{
    WorkDir work;
    QVERIFY(QFile::copy(deliveredDatabase, work.file(QStringLiteral("nivlets"))));
    QDir().mkdir(work.file(QStringLiteral("empty")));
    QVERIFY(TestSupport::createDatabase(work.file(QStringLiteral("empty"))));

    Run run = runCards({QStringLiteral("export"), QStringLiteral("cards.txt")});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.out.contains(QStringLiteral("Exported 61 nivlet(s) of 3 book(s).")),
             qPrintable(run.out));
    const QByteArray exported = TestSupport::readBytes(work.file(QStringLiteral("cards.txt")));
    QVERIFY(exported.startsWith("#separator:tab\n#html:false\n"));

    run = runCards({QStringLiteral("--dir"), QStringLiteral("empty"), QStringLiteral("import"),
                    QStringLiteral("cards.txt")});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.err.isEmpty(), qPrintable(run.err));
    const QString copy = work.file(QStringLiteral("empty/nivlets"));
    QCOMPARE(contents(copy), contents(work.file(QStringLiteral("nivlets"))));
    QCOMPARE(scalar(copy, QStringLiteral("SELECT group_concat(name || active, '|') FROM book")),
             scalar(work.file(QStringLiteral("nivlets")),
                    QStringLiteral("SELECT group_concat(name || active, '|') FROM book")));

    run = runCards({QStringLiteral("--dir"), QStringLiteral("empty"), QStringLiteral("export"),
                    QStringLiteral("-")});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out.toUtf8(), exported);
}

void TestCards::roundTripHostileText()
{
    WorkDir work;
    QVERIFY(TestSupport::createDatabase(work.path()));
    const QString file = work.file(QStringLiteral("nivlets"));
    QList<std::tuple<QByteArray, QByteArray, bool, double>> hostile = {
        {"tab\tin the question", "tab\tin\tthe answer", true, 0.5},
        {"line\nfeeds\n", "first\nsecond # comment\n\nthird", false, 0.25},
        {"\"quoted\" start", "\"", true, 1.0 / 3.0},
        {"#hash at the start", "# a comment\nanswer", true, 0.0},
        {"windows\r\nline end\r", "a\r\nb\r\n", true, 1.0},
        {"\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D \xD7\xA2\xD7\x95\xD7\x9C\xD7\x9D?",
         "\xD9\x85\xD8\xB1\xD8\xAD\xD8\xA8\xD8\xA7", true, 5e-324},
        {"emoji \xF0\x9F\x98\x80\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD", "\xF0\x9F\x8E\x89", true, 0.1},
        {"  blanks around  ", "  a  ", true, 0.9999999999999999},
        {"semicolon; comma, pipe|", "x;y,z", false, 0.75},
        {QByteArray("nul\0inside", 10), QByteArray("ans\0wer", 7), true, 0.125},
        {QByteArray(5000, 'L') + "\n" + QByteArray(5000, 'M'), "long", true, 0.5},
    };
    // Random answers over an alphabet of the characters that need care.
    QRandomGenerator random(13);
    const QByteArray alphabet = "ab\t\n\r\"# ,;|";
    for (int i = 0; i < 40; ++i) {
        QByteArray question = "random " + QByteArray::number(i);
        QByteArray answer = "x";
        for (int k = random.bounded(30); k > 0; --k) {
            question += alphabet.at(random.bounded(int(alphabet.size())));
            answer += alphabet.at(random.bounded(int(alphabet.size())));
        }
        hostile.append({question, answer, random.bounded(2) == 1, random.generateDouble()});
    }
    QVERIFY(insertNivlets(file, 7, "Book\twith \"everything\"\n#", false, hostile));
    QVERIFY(insertNivlets(file, 8, "\xF0\x9F\x93\x9A \xD7\xA1\xD7\xA4\xD7\xA8", true,
                          {{"q", "a", true, 0.5}}));

    QCOMPARE(runCards({QStringLiteral("export"), QStringLiteral("cards.txt")}).exitCode, 0);
    QDir().mkdir(work.file(QStringLiteral("copy")));
    QVERIFY(TestSupport::createDatabase(work.file(QStringLiteral("copy"))));
    const Run run = runCards({QStringLiteral("--dir"), QStringLiteral("copy"),
                              QStringLiteral("import"), QStringLiteral("cards.txt")});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    const QByteArray original = contents(file);
    QCOMPARE(original.count('\n'), hostile.size() + 1);
    QCOMPARE(contents(work.file(QStringLiteral("copy/nivlets"))), original);
}

void TestCards::exportOneBook()
{
    WorkDir work;
    QVERIFY(QFile::copy(deliveredDatabase, work.file(QStringLiteral("nivlets"))));
    Run run = runCards({QStringLiteral("export"), QStringLiteral("--book"),
                        QStringLiteral("Chemical symbols"), QStringLiteral("-")});
    QCOMPARE(run.exitCode, 0);
    const QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 5 + 5);
    for (const QString &line : lines.mid(5))
        QVERIFY2(line.contains(QStringLiteral("\tChemical symbols\t")), qPrintable(line));
    QVERIFY(run.err.contains(QStringLiteral("Exported 5 nivlet(s) of 1 book(s).")));

    run = runCards({QStringLiteral("export"), QStringLiteral("--book"),
                    QStringLiteral("chemical symbols"), QStringLiteral("x.txt")});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(QStringLiteral("there is no book named \"chemical symbols\"")),
             qPrintable(run.err));
    QVERIFY(!QFile::exists(work.file(QStringLiteral("x.txt"))));
}

void TestCards::ankiImportsTheExport()
{
    WorkDir work;
    QVERIFY(TestSupport::createDatabase(work.path()));
    const QString file = work.file(QStringLiteral("nivlets"));
    QVERIFY(insertNivlets(file, 3, "Spanish", true,
                          {{"to love", "amar\nquerer # also: to want", true, 0.5},
                           {"#1 \"quoted\"\tword", "a\r\nb", false, 0.25},
                           {"single", "one", true, 1.0}}));
    QVERIFY(insertNivlets(file, 4, "Latin::Verbs", false, {{"amo", "I love", true, 0.0}}));
    QCOMPARE(runCards({QStringLiteral("export"), QStringLiteral("cards.txt")}).exitCode, 0);
    const QByteArray exported = TestSupport::readBytes(work.file(QStringLiteral("cards.txt")));

    const AnkiMapping anki = ankiMapping(exported);
    const auto records = ankiRecords(exported);
    const auto texts = nivletTexts(file);
    QCOMPARE(records.size(), texts.size());
    QVERIFY(anki.front > 0);
    QVERIFY(anki.back > 0);
    QVERIFY(anki.deck > 0);
    for (int i = 0; i < records.size(); ++i) {
        const QList<QByteArray> &record = records.at(i);
        const auto &[question, answer, book] = texts.at(i);
        QCOMPARE(record.value(anki.front - 1), question);
        QCOMPARE(record.value(anki.back - 1), answer);
        QCOMPARE(record.value(anki.deck - 1), book);
        if (anki.tags > 0)
            QCOMPARE(record.value(anki.tags - 1), QByteArray());
    }
    // Anki writes "#separator:tab" and "#html:false" the same way; its own
    // export of these notes would begin alike.
    QVERIFY(exported.startsWith("#separator:tab\n#html:false\n"));
}

void TestCards::exportForMnemosyne()
{
    WorkDir work;
    QVERIFY(QFile::copy(deliveredDatabase, work.file(QStringLiteral("nivlets"))));
    QVERIFY(insertNivlets(work.file(QStringLiteral("nivlets")), 9, "Mixed", true,
                          {{"\"Carpe diem\" means", "seize the day\npluck the day", true, 0.5},
                           {"tab\there", "\xC3\xA9t\xC3\xA9 &#33;", true, 0.5}}));
    Run run =
        runCards({QStringLiteral("export"), QStringLiteral("--format"), QStringLiteral("mnemosyne"),
                  QStringLiteral("--book"), QStringLiteral("Mixed"), QStringLiteral("-")});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.out, QStringLiteral("\"Carpe diem\" means\tseize the day<br>pluck the day\n"
                                     "tab here\t\u00E9t\u00E9 &&#35;33;\n"));
    QVERIFY(run.err.contains(QStringLiteral("Exported 2 nivlet(s) of 1 book(s).")));

    // Every book, question and answer only; the plain export is as before.
    run = runCards({QStringLiteral("export"), QStringLiteral("--format"),
                    QStringLiteral("mnemosyne"), QStringLiteral("all.txt")});
    QCOMPARE(run.exitCode, 0);
    const QByteArray all = TestSupport::readBytes(work.file(QStringLiteral("all.txt")));
    QCOMPARE(all.count('\n'), 63);
    for (const QByteArray &line : all.split('\n').mid(0, 63))
        QVERIFY2(line.count('\t') == 1, line.constData());
    QVERIFY(all.startsWith("Capital of France?\tParis\n"));

    // The file goes back in whole, into the book it is given.
    QDir().mkdir(work.file(QStringLiteral("copy")));
    QVERIFY(TestSupport::createDatabase(work.file(QStringLiteral("copy"))));
    run = runCards({QStringLiteral("--dir"), QStringLiteral("copy"), QStringLiteral("import"),
                    QStringLiteral("--format"), QStringLiteral("mnemosyne"),
                    QStringLiteral("--book"), QStringLiteral("Back"), QStringLiteral("all.txt")});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QCOMPARE(scalar(work.file(QStringLiteral("copy/nivlets")),
                    QStringLiteral("SELECT group_concat(question || '=' || answer, '|') FROM "
                                   "(SELECT * FROM nivlet ORDER BY id DESC LIMIT 2)")),
             QStringLiteral("tab here=\u00E9t\u00E9 &#33;|\"Carpe diem\" means=seize the "
                            "day\npluck the day"));
    // Without a book there is nowhere to put them.
    run = runCards({QStringLiteral("--dir"), QStringLiteral("copy"), QStringLiteral("import"),
                    QStringLiteral("--format"), QStringLiteral("mnemosyne"),
                    QStringLiteral("all.txt")});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(QStringLiteral("all.txt:1: no book name (give one with --book)")),
             qPrintable(run.err));
}

void TestCards::exportToAFullDisk()
{
    if (!QFileInfo(QStringLiteral("/dev/full")).isWritable())
        QSKIP("there is no /dev/full here");
    WorkDir work;
    QVERIFY(QFile::copy(deliveredDatabase, work.file(QStringLiteral("nivlets"))));
    for (const QStringList &args :
         {QStringList{QStringLiteral("export"), QStringLiteral("-")},
          QStringList{QStringLiteral("export"), QStringLiteral("--format"),
                      QStringLiteral("mnemosyne"), QStringLiteral("-")}}) {
        QProcess process;
        process.setStandardOutputFile(QStringLiteral("/dev/full"));
        process.start(cardsProgram, args);
        QVERIFY(process.waitForFinished(60000));
        const QString err = QString::fromUtf8(process.readAllStandardError());
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        QVERIFY2(err.contains(QStringLiteral("No space left on device")), qPrintable(err));
        QVERIFY2(!err.contains(QStringLiteral("Exported")), qPrintable(err));
    }
}

void TestCards::exportsTheRateInUse()
{
    WorkDir work;
    QVERIFY(TestSupport::createDatabase(work.path()));
    const QString file = work.file(QStringLiteral("nivlets"));
    // Rates the program reads as 1 and 0: a file edited by hand, an older
    // program. A text where the number belongs reads as 0 (NaN cannot be
    // stored: SQLite makes it NULL, which the column refuses).
    QVERIFY(insertNivlets(
        file, 1, "B", true,
        {{"high", "a", true, 7.5}, {"low", "b", true, -2.0}, {"fine", "c", true, 0.25}}));
    QVERIFY(insertNivlets(file, 2, "C", true, {{"nothing", "d", true, 0.5}}));
    QVERIFY(TestSupport::execSql(file, QStringLiteral("UPDATE nivlet SET kn_rate = 'much' WHERE "
                                                      "question = 'nothing'")));
    QCOMPARE(runCards({QStringLiteral("export"), QStringLiteral("cards.txt")}).exitCode, 0);
    QDir().mkdir(work.file(QStringLiteral("copy")));
    QVERIFY(TestSupport::createDatabase(work.file(QStringLiteral("copy"))));
    const Run run = runCards({QStringLiteral("--dir"), QStringLiteral("copy"),
                              QStringLiteral("import"), QStringLiteral("cards.txt")});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QCOMPARE(scalar(work.file(QStringLiteral("copy/nivlets")),
                    QStringLiteral("SELECT group_concat(question || '=' || kn_rate, '|') FROM "
                                   "nivlet")),
             QStringLiteral("high=1.0|low=0.0|fine=0.25|nothing=0.0"));
}

void TestCards::importIntoOneBook()
{
    WorkDir work;
    QVERIFY(TestSupport::createDatabase(work.path()));
    QVERIFY(writeBytes(work.file(QStringLiteral("words.csv")),
                       "hello,hallo\n\"good night\",\"gute Nacht\ngute N8 # slang\"\n"));
    const Run run = runCards({QStringLiteral("import"), QStringLiteral("--book"),
                              QStringLiteral("German"), QStringLiteral("words.csv")});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QVERIFY2(run.out.contains(QStringLiteral("Imported 2 nivlet(s) into 1 book(s):\n  \"German\": "
                                             "2 nivlet(s) (new book)")),
             qPrintable(run.out));
    const QString file = work.file(QStringLiteral("nivlets"));
    QCOMPARE(scalar(file, QStringLiteral("SELECT group_concat(name || '/' || active) FROM book")),
             QStringLiteral("German/1"));
    // The column's default rate, as for a nivlet made in the program.
    QCOMPARE(scalar(file, QStringLiteral("SELECT group_concat(question || '=' || answer || '@' || "
                                         "kn_rate || '/' || active, '|') FROM nivlet")),
             QStringLiteral("hello=hallo@0.0/1|good night=gute Nacht\ngute N8 # slang@0.0/1"));

    // A plain file without --book has nowhere to go; the name is shown as
    // it is, placeholders and all.
    QVERIFY(QFile::rename(work.file(QStringLiteral("words.csv")),
                          work.file(QStringLiteral("words%2.csv"))));
    const Run noBook = runCards({QStringLiteral("import"), QStringLiteral("words%2.csv")});
    QCOMPARE(noBook.exitCode, 1);
    QCOMPARE(noBook.err, QStringLiteral("nivlets-cards: words%2.csv:1: no book name (give one with "
                                        "--book). Nothing was imported.\n"));
}

void TestCards::importKeepsExistingBooks()
{
    WorkDir work;
    QVERIFY(TestSupport::createDatabase(
        work.path(), QStringLiteral("INSERT INTO book (id, name, active) VALUES (4, 'Latin', 0),"
                                    " (9, 'Latin', 1);")));
    QVERIFY(writeBytes(work.file(QStringLiteral("c.txt")),
                       "#separator:tab\n#columns:question\tanswer\tbook\tbook active\n"
                       "amo\tI love\tLatin\t1\nlogos\tword\tGreek\t0\n"));
    const Run run = runCards({QStringLiteral("import"), QStringLiteral("c.txt")});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    const QString file = work.file(QStringLiteral("nivlets"));
    // The first book of the name takes the nivlet and keeps its flag.
    QCOMPARE(scalar(file, QStringLiteral("SELECT group_concat(id || name || active, '|') FROM "
                                         "book")),
             QStringLiteral("4Latin0|9Latin1|10Greek0"));
    QCOMPARE(scalar(file, QStringLiteral("SELECT group_concat(book_id, '|') FROM nivlet")),
             QStringLiteral("4|10"));
}

void TestCards::dryRunWritesNothing()
{
    WorkDir work;
    QVERIFY(QFile::copy(deliveredDatabase, work.file(QStringLiteral("nivlets"))));
    QVERIFY(writeBytes(work.file(QStringLiteral("c.txt")),
                       "#separator:tab\n#columns:question\tanswer\tbook\n"
                       "q1\ta\tEuropean capitals\nq2\tb\tNew one\nq3\tc\tNew one\n"));
    const QByteArray before = TestSupport::readBytes(work.file(QStringLiteral("nivlets")));
    // A dry run only reads, so it is allowed while the program runs.
    DatabaseLock lock(work.path());
    QVERIFY(lock.tryLock());
    const Run run =
        runCards({QStringLiteral("import"), QStringLiteral("--dry-run"), QStringLiteral("c.txt")});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QCOMPARE(run.out, QStringLiteral("Would import 3 nivlet(s) into 2 book(s):\n"
                                     "  \"European capitals\": 1 nivlet(s)\n"
                                     "  \"New one\": 2 nivlet(s) (new book)\n"));
    QCOMPARE(TestSupport::readBytes(work.file(QStringLiteral("nivlets"))), before);
}

void TestCards::badInput_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("message");

    const QByteArray header = "#separator:tab\n#html:false\n"
                              "#columns:question\tanswer\tbook\tactive\trate\tbook active\n";
    QTest::newRow("quote never closed leaves a field short")
        << QByteArray("q1\ta1\n\"q2\na2\"x\nq3\ta3\n")
        << QStringLiteral("f:2: 1 field(s) where 2 are expected");
    QTest::newRow("too few fields")
        << QByteArray("q1\ta1\nq2\n") << QStringLiteral("f:2: 1 field(s) where 2 are expected");
    QTest::newRow("too many named fields")
        << header + "q\ta\tb\t1\t0.5\t1\textra\n"
        << QStringLiteral("f:4: 7 field(s) where 6 are expected");
    QTest::newRow("empty question")
        << QByteArray("q1\ta1\n \t a2\n") << QStringLiteral("f:2: empty question");
    QTest::newRow("answer of comments only")
        << QByteArray("q1\ta1\n\"q\nq\"\t\"# one\n  # two\n\"\n")
        << QStringLiteral("f:2: no possible answer (only blanks or comments)");
    QTest::newRow("invalid UTF-8") << QByteArray("q1\ta1\nq2\ta1\nq3\t\xC3\x28\n")
                                   << QStringLiteral("f:3: the text is not valid UTF-8");
    QTest::newRow("empty file") << QByteArray() << QStringLiteral("f:1: the file holds no nivlets");
    QTest::newRow("header only") << header << QStringLiteral("f:4: the file holds no nivlets");
    QTest::newRow("rate out of range")
        << header + "q\ta\tb\t1\t0.5\t1\nq\ta\tb\t1\t1.5\t1\n"
        << QStringLiteral("f:5: the rate must be a number from 0 to 1");
    QTest::newRow("active flag") << header + "q\ta\tb\tyes\t0.5\t1\n"
                                 << QStringLiteral("f:4: the active flag must be 1 or 0");
    QTest::newRow("unquoted hash line")
        << QByteArray("q1\ta1\n#q2\ta2\n")
        << QStringLiteral("f:2: a line beginning with \"#\" after the header lines");
    QTest::newRow("unknown separator") << QByteArray("#separator:dots\nq\ta\n")
                                       << QStringLiteral("f:1: unknown separator \"dots\"");
    QTest::newRow("unknown header")
        << QByteArray("#separator:tab\n#html:false\n#fields column:2\nq\ta\n")
        << QStringLiteral("f:3: unknown header \"#fields column:2\"");
    QTest::newRow("unknown header, long")
        << QByteArray("#" + QByteArray(70, 'x') + ":y\nq\ta\n")
        << QStringLiteral("f:1: unknown header \"#") + QString(59, QLatin1Char('x')) +
               QStringLiteral("...\"");
    QTest::newRow("html neither true nor false")
        << QByteArray("#separator:tab\n#html:yes\nq\ta\n")
        << QStringLiteral("f:2: the html header must be true or false");
    QTest::newRow("tags column not a number")
        << QByteArray("#tags column:last\nq\ta\n")
        << QStringLiteral("f:1: the tags column must be a number from 1");
    QTest::newRow("guid column zero")
        << QByteArray("#guid column:0\nq\ta\n")
        << QStringLiteral("f:1: the guid column must be a number from 1");
    QTest::newRow("one column, two meanings")
        << QByteArray("#deck column:3\n#notetype column:3\nq\ta\tb\n")
        << QStringLiteral("f:2: column 3 is the deck column already");
    QTest::newRow("a question in the tags column")
        << QByteArray("#tags column:1\n#columns:question\tanswer\nq\ta\n")
        << QStringLiteral("f:2: column 1 is \"question\" and the tags column");
    QTest::newRow("two questions") << QByteArray("#columns:Front\tquestion\tanswer\nq\tq\ta\n")
                                   << QStringLiteral("f:1: columns 1 and 2 are both \"question\"");
    QTest::newRow("an answer without a question")
        << QByteArray("#columns:Word\tBack\nq\ta\n")
        << QStringLiteral("f:1: the columns must name a question and an answer");
    QTest::newRow("deck column beside the book column")
        << QByteArray("#deck column:3\n#columns:question\tanswer\tnote\tbook\nq\ta\tx\tB\n")
        << QStringLiteral("f:1: the deck column is not the column named \"book\" (4)");
    QTest::newRow("deck column beyond the named ones")
        << QByteArray("#columns:question\tanswer\n#deck column:3\nq\ta\n")
        << QStringLiteral("f:2: the deck column is not one of the 2 named columns");
    QTest::newRow("deck header without a deck")
        << QByteArray("#deck:  \nq\ta\n") << QStringLiteral("f:1: the deck header names no deck");
    QTest::newRow("HTML answer of nothing")
        << QByteArray("#html:true\nq\t<div><br></div>&nbsp;\n")
        << QStringLiteral("f:2: no possible answer (only blanks or comments)");
    QTest::newRow("record short of the answer column")
        << QByteArray("#guid column:1\n#notetype column:2\ng\tBasic\tq\n")
        << QStringLiteral("f:3: 3 field(s) where 4 are expected");
    QTest::newRow("no book in the file")
        << QByteArray("#columns:question\tanswer\tbook\nq\ta\tB\nq\ta\t  \n")
        << QStringLiteral("f:3: no book name (give one with --book)");
}

void TestCards::badInput()
{
    QFETCH(QByteArray, data);
    QFETCH(QString, message);
    WorkDir work;
    QVERIFY(QFile::copy(deliveredDatabase, work.file(QStringLiteral("nivlets"))));
    QVERIFY(writeBytes(work.file(QStringLiteral("f")), data));
    const QByteArray before = TestSupport::readBytes(work.file(QStringLiteral("nivlets")));
    const bool fileNamesBook = message.contains(QStringLiteral("no book name"));
    QStringList args{QStringLiteral("import"), QStringLiteral("f")};
    if (!fileNamesBook)
        args << QStringLiteral("--book") << QStringLiteral("Imported");
    const Run run = runCards(args);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.startsWith(QStringLiteral("nivlets-cards: ") + message), qPrintable(run.err));
    QVERIFY2(run.err.contains(QStringLiteral("Nothing was imported.")), qPrintable(run.err));
    QVERIFY(run.out.isEmpty());
    QCOMPARE(TestSupport::readBytes(work.file(QStringLiteral("nivlets"))), before);
}

void TestCards::usage_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::newRow("nothing") << QStringList() << QStringLiteral("export or import?");
    QTest::newRow("unknown command") << QStringList{QStringLiteral("merge"), QStringLiteral("f")}
                                     << QStringLiteral("unknown command merge");
    QTest::newRow("no file") << QStringList{QStringLiteral("export")}
                             << QStringLiteral("export needs a FILE");
    QTest::newRow("two files") << QStringList{QStringLiteral("import"), QStringLiteral("a"),
                                              QStringLiteral("b")}
                               << QStringLiteral("one FILE only");
    QTest::newRow("unknown option")
        << QStringList{QStringLiteral("import"), QStringLiteral("--force"), QStringLiteral("f")}
        << QStringLiteral("unknown option --force");
    QTest::newRow("book without name")
        << QStringList{QStringLiteral("export"), QStringLiteral("f"), QStringLiteral("--book")}
        << QStringLiteral("--book needs a name");
    QTest::newRow("bad separator")
        << QStringList{QStringLiteral("import"), QStringLiteral("--separator"),
                       QStringLiteral("dots"), QStringLiteral("f")}
        << QStringLiteral("unknown separator \"dots\"");
    QTest::newRow("unknown format")
        << QStringList{QStringLiteral("export"), QStringLiteral("--format"), QStringLiteral("csv"),
                       QStringLiteral("f")}
        << QStringLiteral("unknown format \"csv\" (anki or mnemosyne)");
    QTest::newRow("format without name")
        << QStringList{QStringLiteral("export"), QStringLiteral("f"), QStringLiteral("--format")}
        << QStringLiteral("--format needs a format");
    QTest::newRow("Mnemosyne with a separator")
        << QStringList{QStringLiteral("import"),    QStringLiteral("--format"),
                       QStringLiteral("mnemosyne"), QStringLiteral("--separator"),
                       QStringLiteral("comma"),     QStringLiteral("f")}
        << QStringLiteral("Mnemosyne's files are separated by tabs: no --separator");
    QTest::newRow("dry export") << QStringList{QStringLiteral("export"),
                                               QStringLiteral("--dry-run"), QStringLiteral("f")}
                                << QStringLiteral("--dry-run and --separator belong to import");
}

void TestCards::usage()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    WorkDir work;
    QVERIFY(QFile::copy(deliveredDatabase, work.file(QStringLiteral("nivlets"))));
    const Run run = runCards(args);
    QCOMPARE(run.exitCode, 2);
    QCOMPARE(run.err,
             QStringLiteral("nivlets-cards: %1\nTry \"nivlets-cards --help\".\n").arg(message));
    QCOMPARE(QDir(work.path()).entryList(QDir::Files), QStringList{QStringLiteral("nivlets")});
}

void TestCards::help()
{
    const Run run = runCards({QStringLiteral("import"), QStringLiteral("--help")});
    QCOMPARE(run.exitCode, 0);
    QVERIFY(run.out.startsWith(QStringLiteral("Usage: nivlets-cards")));
    for (const char *word :
         {"export", "import", "--dir", "--book", "--separator", "--dry-run", "--format",
          "mnemosyne", "Anki", "Front", "one transaction", "Exit codes"})
        QVERIFY2(run.out.contains(QLatin1String(word)), word);
}

void TestCards::missingDatabase()
{
    WorkDir work;
    QVERIFY(writeBytes(work.file(QStringLiteral("f")), "q\ta\n"));
    Run run = runCards({QStringLiteral("import"), QStringLiteral("--book"), QStringLiteral("B"),
                        QStringLiteral("f")});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(QStringLiteral("there is no database file ") +
                              work.file(QStringLiteral("nivlets"))),
             qPrintable(run.err));
    QVERIFY(!QFile::exists(work.file(QStringLiteral("nivlets"))));

    // A file without the program's tables is not made into one.
    QVERIFY(writeBytes(work.file(QStringLiteral("nivlets")), QByteArray()));
    run = runCards({QStringLiteral("import"), QStringLiteral("--book"), QStringLiteral("B"),
                    QStringLiteral("f")});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(QStringLiteral("no such table: book")), qPrintable(run.err));
    QCOMPARE(QFileInfo(work.file(QStringLiteral("nivlets"))).size(), 0);
    run = runCards({QStringLiteral("export"), QStringLiteral("out")});
    QCOMPARE(run.exitCode, 1);
    QVERIFY(!QFile::exists(work.file(QStringLiteral("out"))));

    // A folder given as the file to write.
    QVERIFY(QDir().mkdir(work.file(QStringLiteral("db"))));
    QVERIFY(QFile::copy(deliveredDatabase, work.file(QStringLiteral("db/nivlets"))));
    run = runCards({QStringLiteral("--dir"), QStringLiteral("db"), QStringLiteral("export"),
                    QStringLiteral("db")});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(QStringLiteral("db is a folder, not a file")), qPrintable(run.err));
    run = runCards({QStringLiteral("--dir"), QStringLiteral("db"), QStringLiteral("import"),
                    QStringLiteral("db")});
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(QStringLiteral("db is a folder, not a file")), qPrintable(run.err));
}

void TestCards::missingOrFolderFile()
{
    WorkDir work;
    QVERIFY(QFile::copy(deliveredDatabase, work.file(QStringLiteral("nivlets"))));
    QVERIFY(QDir().mkdir(work.file(QStringLiteral("folder"))));
    const QByteArray before = TestSupport::readBytes(work.file(QStringLiteral("nivlets")));
    Run run = runCards({QStringLiteral("import"), QStringLiteral("--book"), QStringLiteral("B"),
                        QStringLiteral("nowhere.txt")});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.err, QStringLiteral("nivlets-cards: could not read nowhere.txt: No such file or "
                                     "directory. Nothing was imported.\n"));
    run =
        runCards({QStringLiteral("import"), QStringLiteral("--dry-run"), QStringLiteral("folder")});
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.err, QStringLiteral("nivlets-cards: folder is a folder, not a file. Nothing was "
                                     "imported.\n"));
    QCOMPARE(TestSupport::readBytes(work.file(QStringLiteral("nivlets"))), before);
}

void TestCards::refusedWhileLocked()
{
    WorkDir work;
    QVERIFY(QFile::copy(deliveredDatabase, work.file(QStringLiteral("nivlets"))));
    QVERIFY(writeBytes(work.file(QStringLiteral("f")), "q\ta\n"));
    const QByteArray before = TestSupport::readBytes(work.file(QStringLiteral("nivlets")));
    const QStringList import{QStringLiteral("import"), QStringLiteral("--book"),
                             QStringLiteral("B"), QStringLiteral("f")};
    {
        DatabaseLock lock(work.path());
        QVERIFY(lock.tryLock());
        const Run run = runCards(import);
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.err,
                 QStringLiteral("nivlets-cards: The database in %1 is in use by another program "
                                "(%2, process %3); only one program at a time may work on it. "
                                "Nothing was imported.\n")
                     .arg(work.path(), QCoreApplication::applicationName())
                     .arg(QCoreApplication::applicationPid()));
        QCOMPARE(TestSupport::readBytes(work.file(QStringLiteral("nivlets"))), before);
        // Reading is always allowed.
        QCOMPARE(runCards({QStringLiteral("export"), QStringLiteral("out")}).exitCode, 0);
    }
    const Run run = runCards(import);
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QCOMPARE(
        scalar(work.file(QStringLiteral("nivlets")), QStringLiteral("SELECT count(*) FROM nivlet")),
        QStringLiteral("62"));
    QVERIFY(!QFile::exists(work.file(QLatin1String(DatabaseLock::fileName))));
}

void TestCards::staleLockIsNoObstacle()
{
    WorkDir work;
    QVERIFY(QFile::copy(deliveredDatabase, work.file(QStringLiteral("nivlets"))));
    QVERIFY(writeBytes(work.file(QStringLiteral("f")), "q\ta\n"));
    // Left by a process that has ended: its number names no living process.
    QProcess ended;
    ended.start(QStringLiteral("true"));
    QVERIFY(ended.waitForStarted());
    const qint64 deadPid = ended.processId();
    QVERIFY(deadPid > 0);
    QVERIFY(ended.waitForFinished());
    QVERIFY(writeBytes(work.file(QLatin1String(DatabaseLock::fileName)),
                       QByteArray::number(deadPid) + "\nnivlets\n" +
                           QSysInfo::machineHostName().toUtf8() + "\n"));
    const Run run = runCards({QStringLiteral("import"), QStringLiteral("--book"),
                              QStringLiteral("B"), QStringLiteral("f")});
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
}

void TestCards::progressOnLargeFiles()
{
    WorkDir work;
    QVERIFY(TestSupport::createDatabase(work.path()));
    QVERIFY(writeBytes(work.file(QStringLiteral("small")), plainLines(4000)));
    QVERIFY(writeBytes(work.file(QStringLiteral("large")), plainLines(20000)));
    Run run = runCards({QStringLiteral("import"), QStringLiteral("--book"), QStringLiteral("B"),
                        QStringLiteral("small")});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QString());
    run = runCards({QStringLiteral("import"), QStringLiteral("--book"), QStringLiteral("B"),
                    QStringLiteral("large")});
    QCOMPARE(run.exitCode, 0);
    const QStringList lines = run.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY2(lines.size() >= 10 && lines.size() <= 12, qPrintable(run.err));
    QCOMPARE(lines.first(), QStringLiteral("nivlets-cards: 1 of 20000 nivlets (0 %)"));
    QCOMPARE(lines.last(), QStringLiteral("nivlets-cards: 20000 of 20000 nivlets (100 %)"));
    run = runCards({QStringLiteral("export"), QStringLiteral("out")});
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.err.endsWith(QStringLiteral("nivlets-cards: 24000 of 24000 nivlets (100 %)\n")),
             qPrintable(run.err));
}

void TestCards::killedDuringImport()
{
    WorkDir work;
    QVERIFY(QFile::copy(deliveredDatabase, work.file(QStringLiteral("nivlets"))));
    const QString file = work.file(QStringLiteral("nivlets"));
    const QByteArray before = TestSupport::readBytes(file);
    const QByteArray beforeContents = contents(file);
    QVERIFY(writeBytes(work.file(QStringLiteral("large")), plainLines(40000)));

    // Killed as the progress passes each mark: the transaction is open and
    // its journal holds the pages it changed.
    auto killAt = [&](const QByteArray &mark) {
        QProcess child;
        child.start(cardsProgram, {QStringLiteral("import"), QStringLiteral("--book"),
                                   QStringLiteral("Big"), QStringLiteral("large")});
        if (!child.waitForStarted())
            return false;
        QByteArray err;
        QElapsedTimer clock;
        clock.start();
        while (!err.contains(mark) && child.state() == QProcess::Running &&
               clock.elapsed() < 60000) {
            child.waitForReadyRead(20);
            err += child.readAllStandardError();
        }
        ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
        child.waitForFinished();
        return err.contains(mark) && child.exitStatus() == QProcess::CrashExit;
    };
    for (const char *mark : {"(10 %)", "(50 %)", "(90 %)"}) {
        QVERIFY2(killAt(mark), mark);
        QVERIFY(QFile::exists(file + QStringLiteral("-journal")));
        QCOMPARE(scalar(file, QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
        QCOMPARE(contents(file), beforeContents);
        QCOMPARE(TestSupport::readBytes(file), before);
    }
    // Killed as it commits, at a moment the test does not choose: the file
    // holds all of the import or none of it.
    QVERIFY(killAt("(100 %)"));
    QCOMPARE(scalar(file, QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
    const QString count = scalar(file, QStringLiteral("SELECT count(*) FROM nivlet"));
    QVERIFY2(count == QLatin1String("61") || count == QLatin1String("40061"), qPrintable(count));
    if (count == QLatin1String("61"))
        QCOMPARE(contents(file), beforeContents);

    const Run run = runCards({QStringLiteral("import"), QStringLiteral("--book"),
                              QStringLiteral("Big"), QStringLiteral("large")});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(scalar(file, QStringLiteral("SELECT count(*) FROM nivlet")),
             count == QLatin1String("61") ? QStringLiteral("40061") : QStringLiteral("80061"));
}

QTEST_GUILESS_MAIN(TestCards)
#include "tst_cards.moc"
