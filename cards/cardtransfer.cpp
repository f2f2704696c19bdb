#include "cardtransfer.h"

#include "knrate.h"
#include "sqlstatement.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QIODevice>

namespace {

// Waits out a moment's lock by the program or another reader.
constexpr int busyTimeoutMs = 5000;
constexpr qsizetype flushSize = 1 << 20;

// All books in one pass in id order; a chosen book through its index.
const char exportAllSql[] =
    "SELECT question, answer, book_id, active, kn_rate FROM nivlet ORDER BY id";
const char exportBookSql[] = "SELECT question, answer, book_id, active, kn_rate FROM nivlet "
                             "WHERE book_id = ? ORDER BY id";

// One row of the export's queries as a line of the card file.
void appendCard(QByteArray &buffer, const SqlStatement &row, const QByteArray &bookName,
                bool bookActive, CardFormat format)
{
    const char *question = row.columnUtf8(0);
    const int questionSize = row.columnBytes(0);
    const char *answer = row.columnUtf8(1);
    const int answerSize = row.columnBytes(1);
    if (format == CardFormat::Mnemosyne) {
        CardWriter::writeMnemosyneCard(buffer, question, questionSize, answer, answerSize);
    } else {
        CardWriter::writeCard(buffer, question, questionSize, answer, answerSize,
                              bookName.constData(), static_cast<int>(bookName.size()),
                              row.columnBool(3), saneKnRate(row.columnDouble(4)), bookActive);
    }
}

// The import's inserts take the rate only from a card that has one, so that
// the column's default applies otherwise.
void bindNivlet(SqlStatement &stmt, const Card &card, qint64 bookId)
{
    int n = 1;
    stmt.reset();
    stmt.bindBool(n++, card.active);
    if (card.hasRate)
        stmt.bindDouble(n++, card.rate);
    stmt.bindInt64(n++, bookId);
    stmt.bindStaticText(n++, card.question.constData(), static_cast<int>(card.question.size()));
    stmt.bindStaticText(n++, card.answer.constData(), static_cast<int>(card.answer.size()));
}

} // namespace

// What one export has read and written so far.
struct CardTransfer::ExportRun
{
    struct Book
    {
        QByteArray name;
        bool active = true;
    };

    ExportRun(QIODevice &device, const QString &chosenBook, CardFormat cardFormat, Summary &counts)
        : out(device), bookName(chosenBook), format(cardFormat), summary(counts)
    {
    }

    QIODevice &out;
    const QString &bookName;
    const CardFormat format;
    Summary &summary;
    // The books exported, by id, and their ids in id order.
    QHash<qint64, Book> books;
    QList<qint64> wanted;
    QByteArray buffer;
    qint64 total = 0;
    qint64 done = 0;
    qint64 nextReport = 0;
    // Rows of one book mostly come together: only a new id is looked up.
    const Book *book = nullptr;
    qint64 lastBookId = 0;
};

// Which book each card of an import goes to, decided before anything is
// written.
struct CardTransfer::ImportPlan
{
    struct Target
    {
        QByteArray name;
        // -1 for a book that the import adds.
        qint64 id = -1;
        bool active = true;
    };

    std::vector<Target> targets;
    QHash<QByteArray, int> targetOf;
    // The index into targets of each card.
    std::vector<int> cardTargets;
};

CardTransfer::CardTransfer(const QString &databaseFile) : file(databaseFile) {}

CardTransfer::~CardTransfer()
{
    if (db)
        sqlite3_close(db);
}

void CardTransfer::setProgress(const Progress &callback)
{
    progress = callback;
}

bool CardTransfer::fail(const QString &text, int line)
{
    failure = text;
    failedLine = line;
    return false;
}

bool CardTransfer::failSql(const char *what)
{
    return fail(
        QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromUtf8(sqlite3_errmsg(db))));
}

bool CardTransfer::failSql(const SqlStatement &stmt)
{
    return fail(QStringLiteral("%1: %2").arg(stmt.failureText(), stmt.errorMessage()));
}

bool CardTransfer::open(int flags)
{
    failure.clear();
    failedLine = 0;
    if (db)
        return true;
    // Never created here: a folder without a database is the user's mistake,
    // and the program only opens files that come with their tables.
    if (!QFile::exists(file))
        return fail(
            QStringLiteral("there is no database file %1").arg(QFileInfo(file).absoluteFilePath()));
    if (sqlite3_open_v2(QFile::encodeName(file).constData(), &db, flags, nullptr) != SQLITE_OK)
        return failSql("could not open the database");
    sqlite3_busy_timeout(db, busyTimeoutMs);
    return true;
}

SqlStatement CardTransfer::prepare(const char *sql, const char *stepFailure)
{
    SqlStatement stmt(db, sql, "could not read the database");
    if (stmt)
        stmt.setFailureText(stepFailure);
    else
        failSql(stmt);
    return stmt;
}

void CardTransfer::report(qint64 done, qint64 total, qint64 &next)
{
    if (!progress || total < progressThreshold || (done < next && done != total))
        return;
    progress(done, total);
    next = done + qMax<qint64>(1, total / 10);
}

bool CardTransfer::exportCards(QIODevice &out, const QString &bookName, Summary &summary,
                               CardFormat format)
{
    summary = Summary();
    if (!open(SQLITE_OPEN_READONLY))
        return false;
    // One read transaction: the books and the nivlets are of the same moment.
    if (sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
        return failSql("could not read the database");
    ExportRun run(out, bookName, format, summary);
    const bool ok = writeExport(run);
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    return ok;
}

bool CardTransfer::writeExport(ExportRun &run)
{
    if (!readExportBooks(run) || !countNivlets(run.total))
        return false;
    run.buffer.reserve(flushSize + 4096);
    if (run.format == CardFormat::Anki)
        CardWriter::writeHeader(run.buffer);
    const QList<qint64> passes = run.bookName.isNull() ? QList<qint64>{0} : run.wanted;
    for (const qint64 passBook : passes) {
        if (!exportPass(run, passBook))
            return false;
    }
    for (const qint64 id : std::as_const(run.wanted)) {
        BookCount count;
        count.name = QString::fromUtf8(run.books.value(id).name);
        run.summary.books.append(count);
    }
    return flush(run);
}

bool CardTransfer::readExportBooks(ExportRun &run)
{
    SqlStatement stmt =
        prepare("SELECT id, name, active FROM book ORDER BY id", "could not read the books");
    if (!stmt)
        return false;
    while (stmt.next()) {
        ExportRun::Book book;
        const char *name = stmt.columnUtf8(1);
        book.name = QByteArray(name, stmt.columnBytes(1));
        book.active = stmt.columnBool(2);
        const qint64 id = stmt.columnInt64(0);
        if (run.bookName.isNull() || QString::fromUtf8(book.name) == run.bookName) {
            run.books.insert(id, book);
            run.wanted.append(id);
        }
    }
    if (stmt.failed())
        return failSql(stmt);
    if (!run.bookName.isNull() && run.wanted.isEmpty())
        return fail(QStringLiteral("there is no book named \"%1\"").arg(run.bookName));
    return true;
}

bool CardTransfer::countNivlets(qint64 &total)
{
    SqlStatement stmt = prepare("SELECT count(*) FROM nivlet", "could not count the nivlets");
    if (!stmt)
        return false;
    if (!stmt.next())
        return failSql(stmt);
    total = stmt.columnInt64(0);
    return true;
}

// The nivlets of every book, or of the one book passBook when a book was chosen.
bool CardTransfer::exportPass(ExportRun &run, qint64 passBook)
{
    const bool oneBook = !run.bookName.isNull();
    SqlStatement stmt =
        prepare(oneBook ? exportBookSql : exportAllSql, "could not read the nivlets");
    if (!stmt)
        return false;
    if (oneBook)
        stmt.bindInt64(1, passBook);
    while (stmt.next()) {
        const qint64 bookId = stmt.columnInt64(2);
        if (!run.book || bookId != run.lastBookId) {
            const auto found = run.books.constFind(bookId);
            run.book = found == run.books.constEnd() ? nullptr : &*found;
            run.lastBookId = bookId;
        }
        ++run.done;
        if (!run.book) {
            ++run.summary.withoutBook;
            continue;
        }
        appendCard(run.buffer, stmt, run.book->name, run.book->active, run.format);
        ++run.summary.nivlets;
        if (run.buffer.size() >= flushSize && !flush(run))
            return false;
        report(run.done, run.total, run.nextReport);
    }
    if (stmt.failed())
        return failSql(stmt);
    return true;
}

bool CardTransfer::flush(ExportRun &run)
{
    if (run.out.write(run.buffer) != run.buffer.size())
        return fail(QStringLiteral("could not write: %1").arg(run.out.errorString()));
    run.buffer.clear();
    return true;
}

bool CardTransfer::importCards(const std::vector<Card> &cards, const QString &bookName, bool dryRun,
                               Summary &summary)
{
    summary = Summary();
    if (!open(dryRun ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE))
        return false;
    ImportPlan plan;
    if (!planImport(cards, bookName, plan, summary))
        return false;
    summary.nivlets = static_cast<qint64>(cards.size());
    if (dryRun)
        return true;

    // An import touches pages of every index all over the file; with
    // SQLite's default cache of 2 MiB it spends most of its time writing
    // pages out to the journal and reading them back. 64 MiB holds the
    // index pages of some hundred thousand nivlets.
    sqlite3_exec(db, "PRAGMA cache_size = -65536", nullptr, nullptr, nullptr);
    // Taking the write lock at once: a busy file fails here, before any work.
    if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
        return failSql("could not start writing");
    bool ok = addNewBooks(plan) && addNivlets(cards, plan);
    if (ok && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
        ok = failSql("could not commit the import");
    if (!ok)
        rollback();
    return ok;
}

void CardTransfer::rollback()
{
    // SQLite ends the transaction itself after some failures (an I/O error,
    // for one); a ROLLBACK would then only fail for want of a transaction.
    if (sqlite3_get_autocommit(db))
        return;
    if (sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr) == SQLITE_OK ||
        sqlite3_get_autocommit(db))
        return;
    // Left open, the transaction would keep the file locked for every other
    // program and take in whatever this connection writes next. Closing the
    // connection rolls it back for sure; the next run opens it again.
    failure += QStringLiteral("; could not roll back the import: %1")
                   .arg(QString::fromUtf8(sqlite3_errmsg(db)));
    sqlite3_close_v2(db);
    db = nullptr;
}

bool CardTransfer::planImport(const std::vector<Card> &cards, const QString &bookName,
                              ImportPlan &plan, Summary &summary)
{
    plan.cardTargets.reserve(cards.size());
    const QByteArray override = bookName.toUtf8();
    // The first book of a name, as the program finds books by name.
    SqlStatement find = prepare("SELECT id FROM book WHERE name = ? ORDER BY id LIMIT 1",
                                "could not read the books");
    if (!find)
        return false;
    for (const Card &card : cards) {
        const QByteArray &name = bookName.isNull() ? card.book : override;
        auto known = plan.targetOf.constFind(name);
        if (known == plan.targetOf.constEnd()) {
            if (QString::fromUtf8(name).simplified().isEmpty()) {
                return fail(bookName.isNull()
                                ? QStringLiteral("no book name (give one with --book)")
                                : QStringLiteral("the book name is empty"),
                            bookName.isNull() ? card.line : 0);
            }
            ImportPlan::Target t;
            t.name = name;
            if (!findBook(find, name, t.id))
                return false;
            t.active = card.bookActive;
            BookCount count;
            count.name = QString::fromUtf8(name);
            count.isNew = t.id < 0;
            summary.books.append(count);
            plan.targets.push_back(t);
            known = plan.targetOf.insert(name, static_cast<int>(plan.targets.size()) - 1);
        }
        ++summary.books[*known].nivlets;
        plan.cardTargets.push_back(*known);
    }
    return true;
}

bool CardTransfer::findBook(SqlStatement &find, const QByteArray &name, qint64 &id)
{
    find.reset();
    find.bindStaticText(1, name.constData(), static_cast<int>(name.size()));
    if (find.next())
        id = find.columnInt64(0);
    else if (find.failed())
        return failSql(find);
    return true;
}

bool CardTransfer::addNewBooks(ImportPlan &plan)
{
    SqlStatement addBook =
        prepare("INSERT INTO book (name, active) VALUES (?, ?)", "could not add a book");
    if (!addBook)
        return false;
    for (ImportPlan::Target &t : plan.targets) {
        if (t.id >= 0)
            continue;
        addBook.reset();
        addBook.bindStaticText(1, t.name.constData(), static_cast<int>(t.name.size()));
        addBook.bindBool(2, t.active);
        if (!addBook.execute())
            return failSql(addBook);
        t.id = sqlite3_last_insert_rowid(db);
    }
    return true;
}

bool CardTransfer::addNivlets(const std::vector<Card> &cards, const ImportPlan &plan)
{
    const char insertFailure[] = "could not add a nivlet";
    SqlStatement withRate = prepare("INSERT INTO nivlet (active, kn_rate, book_id, question, "
                                    "answer) VALUES (?, ?, ?, ?, ?)",
                                    insertFailure);
    if (!withRate)
        return false;
    // Without a rate in the file the column's default applies, as for a
    // nivlet made in the program.
    SqlStatement withoutRate =
        prepare("INSERT INTO nivlet (active, book_id, question, answer) VALUES (?, ?, ?, ?)",
                insertFailure);
    if (!withoutRate)
        return false;
    const qint64 total = static_cast<qint64>(cards.size());
    qint64 nextReport = 0;
    for (size_t i = 0; i < cards.size(); ++i) {
        const Card &card = cards[i];
        SqlStatement &stmt = card.hasRate ? withRate : withoutRate;
        bindNivlet(stmt, card, plan.targets[plan.cardTargets[i]].id);
        if (!stmt.execute()) {
            failSql(stmt);
            failedLine = card.line;
            return false;
        }
        report(static_cast<qint64>(i + 1), total, nextReport);
    }
    return true;
}
