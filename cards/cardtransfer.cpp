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

struct StatementCloser
{
    void operator()(sqlite3_stmt *stmt) const { sqlite3_finalize(stmt); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementCloser>;

struct BookRow
{
    QByteArray name;
    bool active = true;
};

} // namespace

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
    const bool ok = [&] {
        QHash<qint64, BookRow> books;
        QList<qint64> wanted;
        {
            sqlite3_stmt *raw = nullptr;
            if (!prepare("SELECT id, name, active FROM book ORDER BY id", raw))
                return false;
            const Statement stmt(raw);
            int step;
            while ((step = sqlite3_step(raw)) == SQLITE_ROW) {
                BookRow row;
                row.name = QByteArray(reinterpret_cast<const char *>(sqlite3_column_text(raw, 1)),
                                      sqlite3_column_bytes(raw, 1));
                row.active = sqlite3_column_int(raw, 2) != 0;
                const qint64 id = sqlite3_column_int64(raw, 0);
                if (bookName.isNull() || QString::fromUtf8(row.name) == bookName) {
                    books.insert(id, row);
                    wanted.append(id);
                }
            }
            if (step != SQLITE_DONE)
                return failSql("could not read the books");
        }
        if (!bookName.isNull() && wanted.isEmpty())
            return fail(QStringLiteral("there is no book named \"%1\"").arg(bookName));

        qint64 total = 0;
        {
            sqlite3_stmt *raw = nullptr;
            if (!prepare("SELECT count(*) FROM nivlet", raw))
                return false;
            const Statement stmt(raw);
            if (sqlite3_step(raw) != SQLITE_ROW)
                return failSql("could not count the nivlets");
            total = sqlite3_column_int64(raw, 0);
        }

        QByteArray buffer;
        buffer.reserve(flushSize + 4096);
        if (format == CardFormat::Anki)
            CardWriter::writeHeader(buffer);
        auto flush = [&] {
            if (out.write(buffer) != buffer.size())
                return fail(QStringLiteral("could not write: %1").arg(out.errorString()));
            buffer.clear();
            return true;
        };

        // All books in one pass in id order; a chosen book through its index.
        const char *allSql =
            "SELECT question, answer, book_id, active, kn_rate FROM nivlet ORDER BY id";
        const char *bookSql = "SELECT question, answer, book_id, active, kn_rate FROM nivlet "
                              "WHERE book_id = ? ORDER BY id";
        const QList<qint64> passes = bookName.isNull() ? QList<qint64>{0} : wanted;
        qint64 done = 0;
        qint64 nextReport = 0;
        const BookRow *book = nullptr;
        qint64 lastBookId = 0;
        for (const qint64 passBook : passes) {
            sqlite3_stmt *raw = nullptr;
            if (!prepare(bookName.isNull() ? allSql : bookSql, raw))
                return false;
            const Statement stmt(raw);
            if (!bookName.isNull())
                sqlite3_bind_int64(raw, 1, passBook);
            int step;
            while ((step = sqlite3_step(raw)) == SQLITE_ROW) {
                // Rows of one book mostly come together: look up a new id only.
                const qint64 bookId = sqlite3_column_int64(raw, 2);
                if (!book || bookId != lastBookId) {
                    const auto found = books.constFind(bookId);
                    book = found == books.constEnd() ? nullptr : &*found;
                    lastBookId = bookId;
                }
                ++done;
                if (!book) {
                    ++summary.withoutBook;
                    continue;
                }
                const auto *question = reinterpret_cast<const char *>(sqlite3_column_text(raw, 0));
                const int questionSize = sqlite3_column_bytes(raw, 0);
                const auto *answer = reinterpret_cast<const char *>(sqlite3_column_text(raw, 1));
                const int answerSize = sqlite3_column_bytes(raw, 1);
                if (format == CardFormat::Mnemosyne) {
                    CardWriter::writeMnemosyneCard(buffer, question, questionSize, answer,
                                                   answerSize);
                } else {
                    CardWriter::writeCard(
                        buffer, question, questionSize, answer, answerSize, book->name.constData(),
                        static_cast<int>(book->name.size()), sqlite3_column_int(raw, 3) != 0,
                        saneKnRate(sqlite3_column_double(raw, 4)), book->active);
                }
                ++summary.nivlets;
                if (buffer.size() >= flushSize && !flush())
                    return false;
                report(done, total, nextReport);
            }
            if (step != SQLITE_DONE)
                return failSql("could not read the nivlets");
        }
        for (const qint64 id : std::as_const(wanted)) {
            BookCount count;
            count.name = QString::fromUtf8(books.value(id).name);
            summary.books.append(count);
        }
        return flush();
    }();
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    return ok;
}

bool CardTransfer::importCards(const std::vector<Card> &cards, const QString &bookName, bool dryRun,
                               Summary &summary)
{
    summary = Summary();
    if (!open(dryRun ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE))
        return false;

    // Which book each card goes to, decided before anything is written.
    struct Target
    {
        QByteArray name;
        qint64 id = -1;
        bool active = true;
    };
    std::vector<Target> targets;
    QHash<QByteArray, int> targetOf;
    std::vector<int> cardTargets;
    cardTargets.reserve(cards.size());
    const QByteArray override = bookName.toUtf8();
    {
        sqlite3_stmt *raw = nullptr;
        // The first book of a name, as the program finds books by name.
        if (!prepare("SELECT id FROM book WHERE name = ? ORDER BY id LIMIT 1", raw))
            return false;
        const Statement find(raw);
        for (const Card &card : cards) {
            const QByteArray &name = bookName.isNull() ? card.book : override;
            auto known = targetOf.constFind(name);
            if (known == targetOf.constEnd()) {
                if (QString::fromUtf8(name).simplified().isEmpty()) {
                    return fail(bookName.isNull()
                                    ? QStringLiteral("no book name (give one with --book)")
                                    : QStringLiteral("the book name is empty"),
                                bookName.isNull() ? card.line : 0);
                }
                Target t;
                t.name = name;
                sqlite3_reset(raw);
                sqlite3_bind_text(raw, 1, name.constData(), static_cast<int>(name.size()),
                                  SQLITE_STATIC);
                const int step = sqlite3_step(raw);
                if (step == SQLITE_ROW)
                    t.id = sqlite3_column_int64(raw, 0);
                else if (step != SQLITE_DONE)
                    return failSql("could not read the books");
                t.active = card.bookActive;
                BookCount count;
                count.name = QString::fromUtf8(name);
                count.isNew = t.id < 0;
                summary.books.append(count);
                targets.push_back(t);
                known = targetOf.insert(name, static_cast<int>(targets.size()) - 1);
            }
            ++summary.books[*known].nivlets;
            cardTargets.push_back(*known);
        }
    }
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
    const bool ok = [&] {
        sqlite3_stmt *raw = nullptr;
        if (!prepare("INSERT INTO book (name, active) VALUES (?, ?)", raw))
            return false;
        const Statement addBook(raw);
        for (Target &t : targets) {
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
        const qint64 total = summary.nivlets;
        qint64 nextReport = 0;
        for (size_t i = 0; i < cards.size(); ++i) {
            const Card &card = cards[i];
            sqlite3_stmt *stmt = card.hasRate ? withRate : withoutRate;
            int n = 1;
            sqlite3_reset(stmt);
            sqlite3_bind_int(stmt, n++, card.active ? 1 : 0);
            if (card.hasRate)
                sqlite3_bind_double(stmt, n++, card.rate);
            sqlite3_bind_int64(stmt, n++, targets[cardTargets[i]].id);
            sqlite3_bind_text(stmt, n++, card.question.constData(),
                              static_cast<int>(card.question.size()), SQLITE_STATIC);
            sqlite3_bind_text(stmt, n++, card.answer.constData(),
                              static_cast<int>(card.answer.size()), SQLITE_STATIC);
            if (sqlite3_step(stmt) != SQLITE_DONE) {
                failSql("could not add a nivlet");
                failedLine = card.line;
                return false;
            }
            report(static_cast<qint64>(i + 1), total, nextReport);
        }
        if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
            return failSql("could not commit the import");
        return true;
    }();
    if (!ok && !sqlite3_get_autocommit(db))
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    return ok;
}
