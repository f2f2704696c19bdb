#include "nivletcore.h"

#include "backups.h"
#include "knrate.h"
#include "log.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <algorithm>
#include <memory>
#include <vector>

namespace {
const char nivletColumns[] =
    "SELECT m.id, m.active, m.kn_rate, m.book_id, m.question, m.answer FROM nivlet m";

QString missingNivlet(qint64 id)
{
    return QStringLiteral("no nivlet has the id %1").arg(id);
}

QString missingBook(qint64 id)
{
    return QStringLiteral("no book has the id %1").arg(id);
}
const char countSql[] = "SELECT COUNT(id) from nivlet WHERE book_id = ?";
const char countFailure[] = "Could not count nivlets for a book.";

// Every row of the active list looks its book up. Book ids are normally
// dense (the database numbers them from 1), so a table indexed by id answers
// in one step, holding for each id the first book in list order as
// findBook does; ids spread too thinly for a table go to findBook itself.
class BookLookup
{
public:
    explicit BookLookup(const NivletCore &core) : core(core)
    {
        if (core.books.isEmpty())
            return;
        const auto [low, high] =
            std::minmax_element(core.books.cbegin(), core.books.cend(),
                                [](const Book *a, const Book *b) { return a->id < b->id; });
        first = (*low)->id;
        // Unsigned, so that ids at both ends of the 64-bit range cannot overflow.
        const quint64 span = quint64((*high)->id) - quint64(first);
        if (span >= quint64(4 * core.books.size() + 1024))
            return;
        table.assign(span + 1, nullptr);
        for (Book *b : core.books) {
            Book *&slot = table[quint64(b->id) - quint64(first)];
            if (!slot)
                slot = b;
        }
        dense = true;
    }

    Book *find(qint64 id) const
    {
        if (!dense)
            return core.findBook(id);
        const quint64 offset = quint64(id) - quint64(first);
        return offset < table.size() ? table[offset] : nullptr;
    }

private:
    const NivletCore &core;
    std::vector<Book *> table;
    qint64 first = 0;
    bool dense = false;
};
} // namespace

NivletCore::NivletCore(QObject *parent)
    : DBHandler(parent), activeListStale(true), lastAskedId(-1), pendingNivlet(nullptr),
      optionsCache(nullptr), booksInIdOrder(true)
{
    connect(&backupTimer, &QTimer::timeout, this, &NivletCore::backupTurn);
}

NivletCore::~NivletCore()
{
    // A backup begun is never given up: the end of the run waits for it.
    // Its failure can only be logged, the program's windows are gone.
    if (backup) {
        backup->step(-1);
        reportBackup(*backup, false);
        backup.reset();
    }
    clearActiveNivlets();
    qDeleteAll(books);
    books.clear();
    qDeleteAll(retiredBooks);
    retiredBooks.clear();
    delete optionsCache;
}

bool NivletCore::open()
{
    activeListStale = true;
    lastAskedId = -1;
    pendingNivlet = nullptr;
    delete optionsCache;
    optionsCache = nullptr;

    const int rc = sqlite3_open("nivlets", &db);
    if (rc != SQLITE_OK) {
        reportError("Could not open database.", rc);
        return false;
    }
    sqlite3_busy_timeout(db, busyWait);

    const char failure[] = "Could not read books.";
    sqlite3_stmt *stmt = nullptr;
    if (!prepare("SELECT id, name, active FROM book", stmt, failure))
        return false;
    // One count statement for all books, reset between them.
    sqlite3_stmt *count = nullptr;
    if (!prepare(countSql, count, countFailure)) {
        finalize(stmt);
        return false;
    }
    int step;
    while ((step = sqlite3_step(stmt)) == SQLITE_ROW) {
        auto *book =
            new Book(sqlite3_column_int64(stmt, 0), columnText(stmt, 1), columnBool(stmt, 2));
        const int nivlets = countNivlets(count, book->id);
        if (nivlets < 0) {
            delete book;
            finalize(count);
            finalize(stmt);
            return false;
        }
        book->nivletCount = nivlets;
        booksInIdOrder = booksInIdOrder && (books.isEmpty() || books.last()->id < book->id);
        books.append(book);
    }
    finalize(count);
    if (!finishQuery(stmt, step, failure))
        return false;
    return reloadActiveNivlets();
}

void NivletCore::clearActiveNivlets()
{
    activeNivlets.clear();
    activeRecords.clear();
    pendingNivlet = nullptr;
}

bool NivletCore::reloadActiveNivlets()
{
    clearActiveNivlets();
    // Until the reload succeeds the emptied list does not show the file, so
    // whoever draws from it next must try the reload again.
    activeListStale = true;
    const char failure[] = "Could not reload active nivlets.";
    const QByteArray sql = QByteArray(nivletColumns) +
                           ", book b WHERE (m.book_id = b.id)  AND (m.active = 1)  AND "
                           "(b.active = 1) ORDER BY kn_rate";
    sqlite3_stmt *stmt = nullptr;
    if (!prepare(sql.constData(), stmt, failure))
        return false;
    // The active books' counts bound the list's length (unless another
    // program added rows since), so the list and the records take their room
    // at once instead of growing.
    qsizetype expected = 0;
    for (const Book *b : std::as_const(books)) {
        if (b->active)
            expected += b->nivletCount;
    }
    activeNivlets.reserve(expected);
    activeRecords.reserve(expected);
    const BookLookup lookup(*this);
    int step;
    while ((step = sqlite3_step(stmt)) == SQLITE_ROW) {
        const auto *question = reinterpret_cast<const char *>(sqlite3_column_text(stmt, 4));
        const int questionSize = sqlite3_column_bytes(stmt, 4);
        const auto *answer = reinterpret_cast<const char *>(sqlite3_column_text(stmt, 5));
        const int answerSize = sqlite3_column_bytes(stmt, 5);
        activeNivlets.append(activeRecords.add(sqlite3_column_int64(stmt, 0), columnBool(stmt, 1),
                                               saneKnRate(sqlite3_column_double(stmt, 2)),
                                               lookup.find(sqlite3_column_int64(stmt, 3)), question,
                                               questionSize, answer, answerSize));
    }
    if (!finishQuery(stmt, step, failure)) {
        clearActiveNivlets();
        return false;
    }
    activeListStale = false;
    selector.reset(static_cast<int>(activeNivlets.size()));
    return true;
}

Nivlet *NivletCore::readNivlet(sqlite3_stmt *stmt) const
{
    return new Nivlet(sqlite3_column_int64(stmt, 0), columnBool(stmt, 1),
                      saneKnRate(sqlite3_column_double(stmt, 2)),
                      findBook(sqlite3_column_int64(stmt, 3)), columnText(stmt, 4),
                      columnText(stmt, 5));
}

int NivletCore::bookCount() const
{
    return static_cast<int>(books.size());
}

Book *NivletCore::book(int index) const
{
    return books.at(index);
}

Book *NivletCore::findBook(qint64 id) const
{
    // With thousands of books a plain scan made every lookup slow. The list is
    // normally in ascending id order (the book query returns rows by id and
    // new books get higher ids), and then a binary search finds the one
    // match. A list out of order, possibly with repeated ids (a hand-made
    // file), is scanned, so that the first book in list order is found.
    if (!booksInIdOrder) {
        for (Book *b : books) {
            if (b->id == id)
                return b;
        }
        return nullptr;
    }
    qsizetype low = 0;
    qsizetype high = books.size();
    while (low < high) {
        const qsizetype mid = low + (high - low) / 2;
        if (books.at(mid)->id < id)
            low = mid + 1;
        else
            high = mid;
    }
    if (low < books.size() && books.at(low)->id == id)
        return books.at(low);
    return nullptr;
}

Book *NivletCore::findBookByName(const QString &name) const
{
    for (Book *b : books) {
        if (b->name == name)
            return b;
    }
    return nullptr;
}

Book *NivletCore::firstActiveBook() const
{
    for (Book *b : books) {
        if (b->active)
            return b;
    }
    return nullptr;
}

int NivletCore::totalNivletCount() const
{
    int total = 0;
    for (const Book *b : books)
        total += b->nivletCount;
    return total;
}

int NivletCore::activeNivletCount() const
{
    return static_cast<int>(activeNivlets.size());
}

Nivlet *NivletCore::randomActiveNivlet() const
{
    return activeNivlets.at(selector.pick());
}

Nivlet *NivletCore::nextNivlet()
{
    Nivlet *result = pendingNivlet;
    if (!result) {
        if (activeNivlets.isEmpty())
            return nullptr;
        result = randomActiveNivlet();
        if (lastAskedId != -1 && activeNivlets.size() >= 2)
            result = otherThanLastAsked(result);
    }
    lastAskedId = result->id;
    pendingNivlet = nullptr;
    return result;
}

Nivlet *NivletCore::otherThanLastAsked(Nivlet *drawn) const
{
    // The draws favour the lowest rates, so a few more draws nearly always
    // find another nivlet; a file whose id column is not the row id may hold
    // only rows with the last id, so the draws cannot go on for ever.
    constexpr int maxDraws = 64;
    for (int i = 0; i < maxDraws && drawn->id == lastAskedId; ++i)
        drawn = randomActiveNivlet();
    if (drawn->id != lastAskedId)
        return drawn;
    for (Nivlet *n : activeNivlets) {
        if (n->id != lastAskedId)
            return n;
    }
    return drawn;
}

void NivletCore::setPendingNivlet(Nivlet *nivlet)
{
    pendingNivlet = nivlet;
}

int NivletCore::countNivletsOfBook(qint64 bookId)
{
    sqlite3_stmt *stmt = nullptr;
    if (!prepare(countSql, stmt, countFailure))
        return -1;
    const int result = countNivlets(stmt, bookId);
    finalize(stmt);
    return result;
}

// Steps the prepared count statement for one book and resets it for the next.
int NivletCore::countNivlets(sqlite3_stmt *stmt, qint64 bookId)
{
    sqlite3_bind_int64(stmt, 1, bookId);
    int result = -1;
    int step = sqlite3_step(stmt);
    if (step == SQLITE_ROW) {
        result = sqlite3_column_int(stmt, 0);
        step = sqlite3_step(stmt);
    }
    if (step != SQLITE_DONE) {
        reportError(countFailure, step);
        result = -1;
    }
    sqlite3_reset(stmt);
    return result;
}

Nivlet *NivletCore::getNivlet(qint64 id)
{
    const char failure[] = "Could not get nivlet from database.";
    const QByteArray sql = QByteArray(nivletColumns) + " WHERE m.id = ?";
    sqlite3_stmt *stmt = nullptr;
    if (!prepare(sql.constData(), stmt, failure))
        return nullptr;
    sqlite3_bind_int64(stmt, 1, id);
    Nivlet *result = nullptr;
    int step = sqlite3_step(stmt);
    if (step == SQLITE_ROW) {
        result = readNivlet(stmt);
        step = sqlite3_step(stmt);
    }
    if (!finishQuery(stmt, step, failure)) {
        delete result;
        return nullptr;
    }
    return result;
}

bool NivletCore::addNivlet(Book *book, const QString &question, const QString &answer, bool active)
{
    Q_ASSERT(book);
    const char failure[] = "Could not add nivlet.";
    sqlite3_stmt *stmt = nullptr;
    if (!prepare("INSERT INTO nivlet (active, book_id, question, answer) VALUES (?, ?, ?, ?);",
                 stmt, failure))
        return false;
    bindBool(stmt, 1, active);
    sqlite3_bind_int64(stmt, 2, book->id);
    bindText(stmt, 3, question);
    bindText(stmt, 4, answer);
    const bool ok = execute(stmt, failure);
    finalize(stmt);
    if (!ok)
        return false;
    activeListStale = true;
    ++book->nivletCount;
    return true;
}

bool NivletCore::editNivlet(qint64 id, const QString &question, const QString &answer, bool active)
{
    const char failure[] = "Could not edit nivlet.";
    sqlite3_stmt *stmt = nullptr;
    if (!prepare("UPDATE nivlet SET question = ?, answer = ?, active = ? WHERE id = ?", stmt,
                 failure))
        return false;
    bindText(stmt, 1, question);
    bindText(stmt, 2, answer);
    bindBool(stmt, 3, active);
    sqlite3_bind_int64(stmt, 4, id);
    const bool ok = executeChange(stmt, failure, missingNivlet(id));
    finalize(stmt);
    if (ok)
        activeListStale = true;
    return ok;
}

bool NivletCore::setKnowledgeRate(qint64 id, double rate)
{
    const char failure[] = "Could not set knowledge-rate for nivlet.";
    sqlite3_stmt *stmt = nullptr;
    if (!prepare("UPDATE nivlet SET kn_rate = ? WHERE id = ?", stmt, failure))
        return false;
    sqlite3_bind_double(stmt, 1, rate);
    sqlite3_bind_int64(stmt, 2, id);
    const bool ok = executeChange(stmt, failure, missingNivlet(id));
    finalize(stmt);
    if (ok)
        activeListStale = true;
    return ok;
}

int NivletCore::setKnowledgeRates(const QList<RateChange> &changes)
{
    holdReports();
    bool waitDropped = false;
    for (const RateChange &change : changes) {
        if (setKnowledgeRate(change.id, change.rate) || waitDropped)
            continue;
        // A lock that outlasted one wait is held by something that will not
        // let go soon; waiting again for every rate would freeze the window
        // for minutes. The other rates are still tried, at once.
        if ((sqlite3_extended_errcode(db) & 0xff) == SQLITE_BUSY) {
            sqlite3_busy_timeout(db, 0);
            waitDropped = true;
        }
    }
    if (waitDropped)
        sqlite3_busy_timeout(db, busyWait);
    const int failed = heldReportCount();
    releaseReports(
        QStringLiteral("Could not save %1 of %2 knowledge rates.").arg(failed).arg(changes.size()));
    return failed;
}

bool NivletCore::deleteNivlet(qint64 id, Book *book)
{
    const char failure[] = "Could not delete nivlet.";
    sqlite3_stmt *stmt = nullptr;
    if (!prepare("DELETE FROM nivlet WHERE id = ?", stmt, failure))
        return false;
    sqlite3_bind_int64(stmt, 1, id);
    const bool ok = executeChange(stmt, failure, missingNivlet(id));
    finalize(stmt);
    if (!ok)
        return false;
    if (book)
        --book->nivletCount;
    activeListStale = true;
    return true;
}

bool NivletCore::deleteNivlets(const QList<Nivlet *> &nivlets)
{
    for (const Nivlet *n : nivlets) {
        if (!deleteNivlet(n->id, n->book))
            return false;
    }
    return true;
}

QList<Nivlet *> *NivletCore::search(const QString &text, Book *book, bool onlyActive)
{
    QByteArray sql = QByteArray(nivletColumns) + ", book b WHERE (m.book_id = b.id)";
    const bool withText = !text.isEmpty();
    if (withText)
        sql += " AND (m.question LIKE ?)";
    if (book)
        sql += " AND (m.book_id = ?)";
    if (onlyActive)
        sql += " AND (m.active = 1) AND (b.active = 1)";
    sql += QStringLiteral(" ORDER BY kn_rate LIMIT %1").arg(searchLimit).toUtf8();

    sqlite3_stmt *stmt = nullptr;
    if (!prepare(sql.constData(), stmt, "Could not prepare search for nivlets."))
        return nullptr;
    int index = 1;
    if (withText)
        bindText(stmt, index++, text + QLatin1Char('%'));
    if (book)
        sqlite3_bind_int64(stmt, index, book->id);

    auto *result = new QList<Nivlet *>;
    int step;
    while ((step = sqlite3_step(stmt)) == SQLITE_ROW)
        result->append(readNivlet(stmt));
    if (!finishQuery(stmt, step, "Could not search for nivlets.")) {
        qDeleteAll(*result);
        delete result;
        return nullptr;
    }
    return result;
}

Book *NivletCore::addBook(const QString &name, bool active)
{
    const char failure[] = "Could not add book.";
    sqlite3_stmt *stmt = nullptr;
    if (!prepare("INSERT INTO book (name, active) VALUES (?, ?);", stmt, failure))
        return nullptr;
    bindText(stmt, 1, name);
    bindBool(stmt, 2, active);
    const bool ok = execute(stmt, failure);
    finalize(stmt);
    if (!ok)
        return nullptr;
    auto *book = new Book(sqlite3_last_insert_rowid(db), name, active);
    booksInIdOrder = booksInIdOrder && (books.isEmpty() || books.last()->id < book->id);
    books.append(book);
    emit booksChanged();
    return book;
}

bool NivletCore::editBook(Book *book, const QString &name, bool active)
{
    const char failure[] = "Could not edit book.";
    sqlite3_stmt *stmt = nullptr;
    if (!prepare("UPDATE book SET name = ?, active = ? WHERE id = ?", stmt, failure))
        return false;
    bindText(stmt, 1, name);
    bindBool(stmt, 2, active);
    sqlite3_bind_int64(stmt, 3, book->id);
    const bool ok = executeChange(stmt, failure, missingBook(book->id));
    finalize(stmt);
    if (!ok)
        return false;
    book->name = name;
    book->active = active;
    emit booksChanged();
    activeListStale = true;
    return true;
}

bool NivletCore::deleteBook(Book *book)
{
    // The deletion waits for a backup in the making: the backup is there to
    // undo it, and a failed rollback closes the connection it is copied from.
    finishBackup();
    const char failure[] = "Could not delete book.";
    if (!beginTransaction(failure))
        return false;
    holdReports();

    sqlite3_stmt *stmt = nullptr;
    bool ok = prepare("DELETE FROM nivlet WHERE book_id = ?", stmt, failure);
    if (ok) {
        sqlite3_bind_int64(stmt, 1, book->id);
        ok = execute(stmt, failure);
        finalize(stmt);
    }
    if (ok) {
        ok = prepare("DELETE FROM book WHERE id = ?", stmt, failure);
        if (ok) {
            sqlite3_bind_int64(stmt, 1, book->id);
            ok = executeChange(stmt, failure, missingBook(book->id));
            finalize(stmt);
        }
    }
    if (ok)
        ok = commit(failure);
    if (!ok) {
        finalize(stmt);
        rollback();
        releaseReports();
        return false;
    }
    releaseReports();

    // Search results and records read by id may still point at the book, so
    // it lives on, out of the list, until the store goes.
    if (books.removeOne(book))
        retiredBooks.append(book);
    // Records of the old active list stay until the next reload; they must
    // not keep showing a book that no longer exists.
    for (Nivlet *n : std::as_const(activeNivlets)) {
        if (n->book == book)
            n->book = nullptr;
    }
    activeListStale = true;
    emit booksChanged();
    return true;
}

bool NivletCore::deleteBooks(const QList<Book *> &list)
{
    for (Book *b : list) {
        if (!deleteBook(b))
            return false;
    }
    return true;
}

Options *NivletCore::options()
{
    if (optionsCache)
        return optionsCache;
    // Read into a record of its own: a failure is reported in a box whose
    // event loop may call back here, and must not find a half-read cache.
    auto read = std::make_unique<Options>();
    const char failure[] = "Could not get options from database.";
    sqlite3_stmt *stmt = nullptr;
    bool ok = prepare("SELECT auto_ch, auto_ch_interval, puzzle_affects_rates FROM options", stmt,
                      failure);
    if (ok) {
        int step = sqlite3_step(stmt);
        if (step == SQLITE_ROW) {
            read->autoCh = columnBool(stmt, 0);
            // A hand-edited interval could overflow the timer's arithmetic.
            read->autoChInterval = static_cast<int>(qBound(
                qint64(minInterval), qint64(sqlite3_column_int64(stmt, 1)), qint64(maxInterval)));
            read->puzzleAffectsRates = columnBool(stmt, 2);
            step = sqlite3_step(stmt);
        }
        ok = finishQuery(stmt, step, failure);
    }
    if (!ok || optionsCache)
        return optionsCache;
    optionsCache = read.release();
    return optionsCache;
}

bool NivletCore::setOptions(const Options &options)
{
    const char failure[] = "Could not set options.";
    sqlite3_stmt *stmt = nullptr;
    if (!prepare("UPDATE options SET auto_ch = ?, auto_ch_interval = ?, puzzle_affects_rates = ?",
                 stmt, failure))
        return false;
    bindBool(stmt, 1, options.autoCh);
    sqlite3_bind_int(stmt, 2, options.autoChInterval);
    bindBool(stmt, 3, options.puzzleAffectsRates);
    // An update of an empty table would save nothing, and the choice would be
    // lost at the next start.
    const bool ok = executeChange(stmt, failure, QStringLiteral("the options table holds no row"));
    finalize(stmt);
    if (!ok)
        return false;
    if (!optionsCache)
        optionsCache = new Options;
    *optionsCache = options;
    return true;
}

const char NivletCore::backupFolder[] = "backups";

void NivletCore::reportBackup(const BackupCopy &copy, bool mayShow)
{
    if (copy.state() == BackupCopy::State::Done)
        return;
    // Shown once: a folder that cannot take backups would otherwise bring a
    // box before every deletion, and the user's work goes on regardless.
    logError(QStringLiteral("Could not back up the database: %1").arg(copy.errorText()),
             mayShow && !backupFailureShown);
    backupFailureShown = backupFailureShown || mayShow;
}

bool NivletCore::beginBackup(const QDateTime &now)
{
    auto copy = std::make_unique<BackupCopy>(db, QString::fromLatin1(backupFolder), now);
    if (copy->state() == BackupCopy::State::Failed) {
        reportBackup(*copy, true);
        return false;
    }
    backup = std::move(copy);
    backupTimer.start(backupPace.pauseMilliseconds);
    return true;
}

void NivletCore::backupTurn()
{
    QElapsedTimer turn;
    turn.start();
    BackupCopy::State state;
    do
        state = backup->step(backupPace.pagesPerStep);
    while (state == BackupCopy::State::Copying && turn.elapsed() < backupPace.turnMilliseconds);
    if (state == BackupCopy::State::Copying)
        emit backupProgress(backup->pagesCopied(), backup->pageCount());
    else
        endBackup();
}

void NivletCore::endBackup()
{
    backupTimer.stop();
    // Out of the store before the report, whose box runs an event loop.
    const std::unique_ptr<BackupCopy> done = std::move(backup);
    emit backupProgress(done->pagesCopied(), done->pageCount());
    reportBackup(*done, true);
    emit backupFinished(done->state() == BackupCopy::State::Done);
}

bool NivletCore::backupAtStartup(const QDateTime &now)
{
    if (backup || !Backups(QString::fromLatin1(backupFolder)).isDue(now))
        return true;
    return beginBackup(now);
}

bool NivletCore::backupBeforeDeletion(const QDateTime &now)
{
    return backup || beginBackup(now);
}

bool NivletCore::backupRunning() const
{
    return backup != nullptr;
}

void NivletCore::finishBackup()
{
    if (!backup)
        return;
    backup->step(-1);
    endBackup();
}

void NivletCore::setBackupPace(const BackupPace &pace)
{
    backupPace = pace;
}
