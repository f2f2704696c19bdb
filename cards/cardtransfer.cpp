#include "cardtransfer.h"

#include "knrate.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QIODevice>

#include <memory>

namespace {

// Waits out a moment's lock by the program or another reader.
constexpr int busyTimeoutMs = 5000;
constexpr qsizetype flushSize = 1 << 20;

// All books in one pass in id order; a chosen book through its index.
const char exportAllSql[] =
    "SELECT question, answer, book_id, active, kn_rate FROM nivlet ORDER BY id";
const char exportBookSql[] = "SELECT question, answer, book_id, active, kn_rate FROM nivlet "
                             "WHERE book_id = ? ORDER BY id";

struct StatementCloser
{
    void operator()(sqlite3_stmt *stmt) const { sqlite3_finalize(stmt); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementCloser>;

// One row of the export's queries as a line of the card file.
void appendCard(QByteArray &buffer, sqlite3_stmt *row, const QByteArray &bookName, bool bookActive,
                CardFormat format)
{
    const auto *question = reinterpret_cast<const char *>(sqlite3_column_text(row, 0));
    const int questionSize = sqlite3_column_bytes(row, 0);
    const auto *answer = reinterpret_cast<const char *>(sqlite3_column_text(row, 1));
    const int answerSize = sqlite3_column_bytes(row, 1);
    if (format == CardFormat::Mnemosyne) {
        CardWriter::writeMnemosyneCard(buffer, question, questionSize, answer, answerSize);
    } else {
        CardWriter::writeCard(buffer, question, questionSize, answer, answerSize,
                              bookName.constData(), static_cast<int>(bookName.size()),
                              sqlite3_column_int(row, 3) != 0,
                              saneKnRate(sqlite3_column_double(row, 4)), bookActive);
    }
}

// The import's inserts take the rate only from a card that has one, so that
// the column's default applies otherwise.
void bindNivlet(sqlite3_stmt *stmt, const Card &card, qint64 bookId)
{
    int n = 1;
    sqlite3_reset(stmt);
    sqlite3_bind_int(stmt, n++, card.active ? 1 : 0);
    if (card.hasRate)
        sqlite3_bind_double(stmt, n++, card.rate);
    sqlite3_bind_int64(stmt, n++, bookId);
    sqlite3_bind_text(stmt, n++, card.question.constData(), static_cast<int>(card.question.size()),
                      SQLITE_STATIC);
    sqlite3_bind_text(stmt, n++, card.answer.constData(), static_cast<int>(card.answer.size()),
                      SQLITE_STATIC);
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

bool CardTransfer::prepare(const char *sql, sqlite3_stmt *&stmt)
{
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK)
        return true;
    return failSql("could not read the database");
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
    sqlite3_stmt *raw = nullptr;
    if (!prepare("SELECT id, name, active FROM book ORDER BY id", raw))
        return false;
    const Statement stmt(raw);
    int step;
    while ((step = sqlite3_step(raw)) == SQLITE_ROW) {
        ExportRun::Book book;
        book.name = QByteArray(reinterpret_cast<const char *>(sqlite3_column_text(raw, 1)),
                               sqlite3_column_bytes(raw, 1));
        book.active = sqlite3_column_int(raw, 2) != 0;
        const qint64 id = sqlite3_column_int64(raw, 0);
        if (run.bookName.isNull() || QString::fromUtf8(book.name) == run.bookName) {
            run.books.insert(id, book);
            run.wanted.append(id);
        }
    }
    if (step != SQLITE_DONE)
        return failSql("could not read the books");
    if (!run.bookName.isNull() && run.wanted.isEmpty())
        return fail(QStringLiteral("there is no book named \"%1\"").arg(run.bookName));
    return true;
}

bool CardTransfer::countNivlets(qint64 &total)
{
    sqlite3_stmt *raw = nullptr;
    if (!prepare("SELECT count(*) FROM nivlet", raw))
        return false;
    const Statement stmt(raw);
    if (sqlite3_step(raw) != SQLITE_ROW)
        return failSql("could not count the nivlets");
    total = sqlite3_column_int64(raw, 0);
    return true;
}

// The nivlets of every book, or of the one book passBook when a book was chosen.
bool CardTransfer::exportPass(ExportRun &run, qint64 passBook)
{
    const bool oneBook = !run.bookName.isNull();
    sqlite3_stmt *raw = nullptr;
    if (!prepare(oneBook ? exportBookSql : exportAllSql, raw))
        return false;
    const Statement stmt(raw);
    if (oneBook)
        sqlite3_bind_int64(raw, 1, passBook);
    int step;
    while ((step = sqlite3_step(raw)) == SQLITE_ROW) {
        const qint64 bookId = sqlite3_column_int64(raw, 2);
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
        appendCard(run.buffer, raw, run.book->name, run.book->active, run.format);
        ++run.summary.nivlets;
        if (run.buffer.size() >= flushSize && !flush(run))
            return false;
        report(run.done, run.total, run.nextReport);
    }
    if (step != SQLITE_DONE)
        return failSql("could not read the nivlets");
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
    if (!ok && !sqlite3_get_autocommit(db))
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    return ok;
}

bool CardTransfer::planImport(const std::vector<Card> &cards, const QString &bookName,
                              ImportPlan &plan, Summary &summary)
{
    plan.cardTargets.reserve(cards.size());
    const QByteArray override = bookName.toUtf8();
    sqlite3_stmt *raw = nullptr;
    // The first book of a name, as the program finds books by name.
    if (!prepare("SELECT id FROM book WHERE name = ? ORDER BY id LIMIT 1", raw))
        return false;
    const Statement find(raw);
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
            if (!findBook(raw, name, t.id))
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

bool CardTransfer::findBook(sqlite3_stmt *find, const QByteArray &name, qint64 &id)
{
    sqlite3_reset(find);
    sqlite3_bind_text(find, 1, name.constData(), static_cast<int>(name.size()), SQLITE_STATIC);
    const int step = sqlite3_step(find);
    if (step == SQLITE_ROW)
        id = sqlite3_column_int64(find, 0);
    else if (step != SQLITE_DONE)
        return failSql("could not read the books");
    return true;
}

bool CardTransfer::addNewBooks(ImportPlan &plan)
{
    sqlite3_stmt *raw = nullptr;
    if (!prepare("INSERT INTO book (name, active) VALUES (?, ?)", raw))
        return false;
    const Statement addBook(raw);
    for (ImportPlan::Target &t : plan.targets) {
        if (t.id >= 0)
            continue;
        sqlite3_reset(raw);
        sqlite3_bind_text(raw, 1, t.name.constData(), static_cast<int>(t.name.size()),
                          SQLITE_STATIC);
        sqlite3_bind_int(raw, 2, t.active ? 1 : 0);
        if (sqlite3_step(raw) != SQLITE_DONE)
            return failSql("could not add a book");
        t.id = sqlite3_last_insert_rowid(db);
    }
    return true;
}

bool CardTransfer::addNivlets(const std::vector<Card> &cards, const ImportPlan &plan)
{
    sqlite3_stmt *withRate = nullptr;
    sqlite3_stmt *withoutRate = nullptr;
    if (!prepare("INSERT INTO nivlet (active, kn_rate, book_id, question, answer) "
                 "VALUES (?, ?, ?, ?, ?)",
                 withRate))
        return false;
    const Statement rateStatement(withRate);
    // Without a rate in the file the column's default applies, as for a
    // nivlet made in the program.
    if (!prepare("INSERT INTO nivlet (active, book_id, question, answer) VALUES (?, ?, ?, ?)",
                 withoutRate))
        return false;
    const Statement plainStatement(withoutRate);
    const qint64 total = static_cast<qint64>(cards.size());
    qint64 nextReport = 0;
    for (size_t i = 0; i < cards.size(); ++i) {
        const Card &card = cards[i];
        sqlite3_stmt *stmt = card.hasRate ? withRate : withoutRate;
        bindNivlet(stmt, card, plan.targets[plan.cardTargets[i]].id);
        if (sqlite3_step(stmt) != SQLITE_DONE) {
            failSql("could not add a nivlet");
            failedLine = card.line;
            return false;
        }
        report(static_cast<qint64>(i + 1), total, nextReport);
    }
    return true;
}
