#include "nivletcore.h"

#include "backups.h"
#include "knrate.h"
#include "log.h"

#include <QByteArray>
#include <QElapsedTimer>

#include <algorithm>
#include <ctime>
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
    explicit BookLookup(const NivletCore &store) : core(store)
    {
        const QList<Book *> &books = core.books();
        if (books.isEmpty())
            return;
        const auto [low, high] =
            std::minmax_element(books.cbegin(), books.cend(),
                                [](const Book *a, const Book *b) { return a->id < b->id; });
        first = (*low)->id;
        // Unsigned, so that ids at both ends of the 64-bit range cannot overflow.
        const quint64 span = quint64((*high)->id) - quint64(first);
        if (span >= quint64(4 * books.size() + 1024))
            return;
        table.assign(span + 1, nullptr);
        for (Book *b : books) {
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
    : DBHandler(parent), shelf(std::make_shared<BookShelf>()), active(ActiveList::create())
{
    // Once, for the whole run: the draws of every list come from it.
    seedRandom(static_cast<unsigned int>(std::time(nullptr)));
    connect(&backupTimer, &QTimer::timeout, this, &NivletCore::backupTurn);
}

NivletCore::~NivletCore()
{
    // A backup begun is never given up: the end of the run waits for it.
    // Its failure can only be logged, the program's windows are gone.
    if (backup) {
        answerLog.flush();
        backup->step(-1);
        reportBackup(*backup, false);
        backup.reset();
    }
}

bool NivletCore::open()
{
    stale = true;
    lastAsked = -1;
    pending = nullptr;
    optionsCache.reset();

    if (!openDatabase("nivlets"))
        return false;

    SqlStatement stmt = prepare("SELECT id, name, active FROM book", "Could not read books.");
    if (!stmt)
        return false;
    // One count statement for all books, reset between them.
    SqlStatement count = prepare(countSql, countFailure);
    if (!count)
        return false;
    while (stmt.next()) {
        auto book =
            std::make_unique<Book>(stmt.columnInt64(0), stmt.columnText(1), stmt.columnBool(2));
        const int nivlets = countNivlets(count, book->id);
        if (nivlets < 0)
            return false;
        book->nivletCount = nivlets;
        shelve(std::move(book));
    }
    if (!finishQuery(stmt))
        return false;
    return reloadActiveNivlets();
}

Book *NivletCore::shelve(std::unique_ptr<Book> book)
{
    booksInIdOrder = booksInIdOrder && (bookList.isEmpty() || bookList.last()->id < book->id);
    bookList.append(book.get());
    shelf->push_back(std::move(book));
    return bookList.last();
}

bool NivletCore::reloadActiveNivlets()
{
    // Let go of first, so that a list nobody else holds gives its memory
    // back before the new one takes its own.
    active = ActiveList::create();
    pending = nullptr;
    // Until the reload succeeds the emptied list does not show the file, so
    // whoever draws from it next must try the reload again.
    stale = true;
    const QByteArray sql = QByteArray(nivletColumns) +
                           ", book b WHERE (m.book_id = b.id)  AND (m.active = 1)  AND "
                           "(b.active = 1) ORDER BY kn_rate";
    SqlStatement stmt = prepare(sql.constData(), "Could not reload active nivlets.");
    if (!stmt)
        return false;
    // The active books' counts bound the list's length (unless another
    // program added rows since), so the list and the records take their room
    // at once instead of growing.
    qsizetype expected = 0;
    for (const Book *b : std::as_const(bookList)) {
        if (b->active)
            expected += b->nivletCount;
    }
    std::shared_ptr<ActiveList> loaded = ActiveList::create();
    loaded->reserve(expected);
    loaded->keep(shelf);
    const BookLookup lookup(*this);
    while (stmt.next()) {
        const char *question = stmt.columnUtf8(4);
        const int questionSize = stmt.columnBytes(4);
        const char *answer = stmt.columnUtf8(5);
        const int answerSize = stmt.columnBytes(5);
        loaded->add(stmt.columnInt64(0), stmt.columnBool(1), saneKnRate(stmt.columnDouble(2)),
                    lookup.find(stmt.columnInt64(3)), question, questionSize, answer, answerSize);
    }
    if (!finishQuery(stmt))
        return false;
    loaded->finish();
    active = std::move(loaded);
    stale = false;
    return true;
}

Nivlet *NivletCore::readNivlet(const SqlStatement &stmt) const
{
    return new Nivlet(stmt.columnInt64(0), stmt.columnBool(1), saneKnRate(stmt.columnDouble(2)),
                      findBook(stmt.columnInt64(3)), stmt.columnText(4), stmt.columnText(5));
}

int NivletCore::bookCount() const
{
    return static_cast<int>(bookList.size());
}

Book *NivletCore::book(int index) const
{
    return bookList.at(index);
}

Book *NivletCore::findBook(qint64 id) const
{
    // With thousands of books a plain scan made every lookup slow. The list is
    // normally in ascending id order (the book query returns rows by id and
    // new books get higher ids), and then a binary search finds the one
    // match. A list out of order, possibly with repeated ids (a hand-made
    // file), is scanned, so that the first book in list order is found.
    if (!booksInIdOrder) {
        for (Book *b : bookList) {
            if (b->id == id)
                return b;
        }
        return nullptr;
    }
    qsizetype low = 0;
    qsizetype high = bookList.size();
    while (low < high) {
        const qsizetype mid = low + (high - low) / 2;
        if (bookList.at(mid)->id < id)
            low = mid + 1;
        else
            high = mid;
    }
    if (low < bookList.size() && bookList.at(low)->id == id)
        return bookList.at(low);
    return nullptr;
}

Book *NivletCore::findBookByName(const QString &name) const
{
    for (Book *b : bookList) {
        if (b->name == name)
            return b;
    }
    return nullptr;
}

Book *NivletCore::firstActiveBook() const
{
    for (Book *b : bookList) {
        if (b->active)
            return b;
    }
    return nullptr;
}

int NivletCore::totalNivletCount() const
{
    int total = 0;
    for (const Book *b : bookList)
        total += b->nivletCount;
    return total;
}

int NivletCore::activeNivletCount() const
{
    return active->size();
}

Nivlet *NivletCore::randomActiveNivlet() const
{
    return active->randomNivlet();
}

Nivlet *NivletCore::nextNivlet()
{
    Nivlet *result = pending;
    if (!result) {
        if (active->isEmpty())
            return nullptr;
        result = randomActiveNivlet();
        if (lastAsked != -1 && active->size() >= 2)
            result = otherThanLastAsked(result);
    }
    lastAsked = result->id;
    pending = nullptr;
    return result;
}

Nivlet *NivletCore::otherThanLastAsked(Nivlet *drawn) const
{
    // The draws favour the lowest rates, so a few more draws nearly always
    // find another nivlet; a file whose id column is not the row id may hold
    // only rows with the last id, so the draws cannot go on for ever.
    constexpr int maxDraws = 64;
    for (int i = 0; i < maxDraws && drawn->id == lastAsked; ++i)
        drawn = randomActiveNivlet();
    if (drawn->id != lastAsked)
        return drawn;
    for (Nivlet *n : active->nivlets()) {
        if (n->id != lastAsked)
            return n;
    }
    return drawn;
}

void NivletCore::setPendingNivlet(Nivlet *nivlet)
{
    // The next nextNivlet hands out a record of the current list only: one
    // of an older list lives only as long as its holder keeps that list.
    pending = !nivlet || active->contains(nivlet) ? nivlet : active->find(nivlet->id);
}

int NivletCore::countNivletsOfBook(qint64 bookId)
{
    SqlStatement stmt = prepare(countSql, countFailure);
    if (!stmt)
        return -1;
    return countNivlets(stmt, bookId);
}

// Steps the prepared count statement for one book and resets it for the next.
int NivletCore::countNivlets(SqlStatement &stmt, qint64 bookId)
{
    stmt.bindInt64(1, bookId);
    int result = -1;
    if (stmt.next()) {
        result = stmt.columnInt(0);
        stmt.next();
    }
    if (stmt.resultCode() != SQLITE_DONE) {
        report(stmt);
        result = -1;
    }
    stmt.reset();
    return result;
}

std::unique_ptr<Nivlet> NivletCore::getNivlet(qint64 id)
{
    const QByteArray sql = QByteArray(nivletColumns) + " WHERE m.id = ?";
    SqlStatement stmt = prepare(sql.constData(), "Could not get nivlet from database.");
    if (!stmt)
        return nullptr;
    stmt.bindInt64(1, id);
    std::unique_ptr<Nivlet> result;
    if (stmt.next()) {
        result.reset(readNivlet(stmt));
        stmt.next();
    }
    if (!finishQuery(stmt))
        return nullptr;
    return result;
}

bool NivletCore::addNivlet(Book *book, const QString &question, const QString &answer,
                           bool isActive)
{
    Q_ASSERT(book);
    SqlStatement stmt =
        prepare("INSERT INTO nivlet (active, book_id, question, answer) VALUES (?, ?, ?, ?);",
                "Could not add nivlet.");
    if (!stmt)
        return false;
    stmt.bindBool(1, isActive);
    stmt.bindInt64(2, book->id);
    stmt.bindText(3, question);
    stmt.bindText(4, answer);
    if (!execute(stmt))
        return false;
    stale = true;
    ++book->nivletCount;
    return true;
}

bool NivletCore::editNivlet(qint64 id, const QString &question, const QString &answer,
                            bool isActive)
{
    SqlStatement stmt =
        prepare("UPDATE nivlet SET question = ?, answer = ?, active = ? WHERE id = ?",
                "Could not edit nivlet.");
    if (!stmt)
        return false;
    stmt.bindText(1, question);
    stmt.bindText(2, answer);
    stmt.bindBool(3, isActive);
    stmt.bindInt64(4, id);
    return changeNivlet(stmt, id);
}

bool NivletCore::setKnowledgeRate(qint64 id, double rate)
{
    SqlStatement stmt = prepare("UPDATE nivlet SET kn_rate = ? WHERE id = ?",
                                "Could not set knowledge-rate for nivlet.");
    if (!stmt)
        return false;
    stmt.bindDouble(1, rate);
    stmt.bindInt64(2, id);
    return changeNivlet(stmt, id);
}

bool NivletCore::changeNivlet(SqlStatement &stmt, qint64 id)
{
    if (!executeChange(stmt, missingNivlet(id)))
        return false;
    stale = true;
    return true;
}

int NivletCore::setKnowledgeRates(const QList<RateChange> &changes, QList<bool> *written)
{
    holdReports();
    bool waitDropped = false;
    for (const RateChange &change : changes) {
        const bool ok = setKnowledgeRate(change.id, change.rate);
        if (written)
            written->append(ok);
        if (ok || waitDropped)
            continue;
        // A lock that outlasted one wait is held by something that will not
        // let go soon; waiting again for every rate would freeze the window
        // for minutes. The other rates are still tried, at once.
        if ((sqlite3_extended_errcode(connection()) & 0xff) == SQLITE_BUSY) {
            sqlite3_busy_timeout(connection(), 0);
            waitDropped = true;
        }
    }
    if (waitDropped)
        sqlite3_busy_timeout(connection(), busyTimeout());
    const int failed = heldReportCount();
    releaseReports(
        QStringLiteral("Could not save %1 of %2 knowledge rates.").arg(failed).arg(changes.size()));
    return failed;
}

void NivletCore::setWallClock(const WallClock *clock)
{
    answerLog.setClock(clock);
}

namespace {
AnswerHistory::Answer logged(const NivletCore::JudgedAnswer &answer, double rateAfter)
{
    const Nivlet *nivlet = answer.nivlet;
    return {nivlet->id,
            nivlet->book ? nivlet->book->id : 0,
            nivlet->book ? nivlet->book->name : QString(),
            answer.verdict,
            AnswerHistory::Source::Challenge,
            nivlet->knRate,
            rateAfter};
}
} // namespace

bool NivletCore::recordAnswer(const JudgedAnswer &answer, AnswerHistory::Source source)
{
    const bool written = setKnowledgeRate(answer.nivlet->id, answer.rate);
    // The log tells the rate the file holds: a rate that could not be
    // written did not change.
    AnswerHistory::Answer entry = logged(answer, written ? answer.rate : answer.nivlet->knRate);
    entry.source = source;
    answerLog.record(entry);
    return written;
}

int NivletCore::recordAnswers(const QList<JudgedAnswer> &answers, AnswerHistory::Source source,
                              bool writeRates)
{
    QList<RateChange> changes;
    if (writeRates) {
        for (const JudgedAnswer &answer : answers)
            changes.append({answer.nivlet->id, answer.rate});
    }
    QList<bool> written;
    const int failed = changes.isEmpty() ? 0 : setKnowledgeRates(changes, &written);
    for (qsizetype i = 0; i < answers.size(); ++i) {
        const JudgedAnswer &answer = answers.at(i);
        AnswerHistory::Answer entry =
            logged(answer, written.value(i, false) ? answer.rate : answer.nivlet->knRate);
        entry.source = source;
        answerLog.record(entry);
    }
    return failed;
}

bool NivletCore::deleteNivlet(qint64 id, Book *book)
{
    SqlStatement stmt = prepare("DELETE FROM nivlet WHERE id = ?", "Could not delete nivlet.");
    if (!stmt)
        return false;
    stmt.bindInt64(1, id);
    if (!changeNivlet(stmt, id))
        return false;
    answerLog.nivletsDeleted({id});
    if (book)
        --book->nivletCount;
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

std::unique_ptr<NivletRecords> NivletCore::search(const QString &text, Book *book, bool onlyActive)
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

    SqlStatement stmt = prepare(sql.constData(), "Could not prepare search for nivlets.");
    if (!stmt)
        return nullptr;
    stmt.setFailureText("Could not search for nivlets.");
    int index = 1;
    if (withText)
        stmt.bindText(index++, text + QLatin1Char('%'));
    if (book)
        stmt.bindInt64(index, book->id);

    auto result = std::make_unique<NivletRecords>();
    while (stmt.next())
        result->emplace_back(readNivlet(stmt));
    if (!finishQuery(stmt))
        return nullptr;
    return result;
}

Book *NivletCore::addBook(const QString &name, bool isActive)
{
    SqlStatement stmt =
        prepare("INSERT INTO book (name, active) VALUES (?, ?);", "Could not add book.");
    if (!stmt)
        return nullptr;
    stmt.bindText(1, name);
    stmt.bindBool(2, isActive);
    if (!execute(stmt))
        return nullptr;
    Book *book =
        shelve(std::make_unique<Book>(sqlite3_last_insert_rowid(connection()), name, isActive));
    emit booksChanged();
    return book;
}

bool NivletCore::editBook(Book *book, const QString &name, bool isActive)
{
    SqlStatement stmt =
        prepare("UPDATE book SET name = ?, active = ? WHERE id = ?", "Could not edit book.");
    if (!stmt)
        return false;
    stmt.bindText(1, name);
    stmt.bindBool(2, isActive);
    stmt.bindInt64(3, book->id);
    if (!executeChange(stmt, missingBook(book->id)))
        return false;
    book->name = name;
    book->active = isActive;
    answerLog.bookRenamed(book->id, name);
    emit booksChanged();
    stale = true;
    return true;
}

bool NivletCore::deleteBook(Book *book)
{
    // The deletion waits for a backup in the making: the backup is there to
    // undo it, and a failed rollback closes the connection it is copied from.
    finishBackup();
    const char failure[] = "Could not delete book.";
    // The history keeps the book's entries under its last name, and learns
    // which nivlet ids are free for new nivlets.
    QList<qint64> nivletIds;
    if (answerLog.inUse()) {
        SqlStatement ids = prepare("SELECT id FROM nivlet WHERE book_id = ?", failure);
        if (!ids)
            return false;
        ids.bindInt64(1, book->id);
        while (ids.next())
            nivletIds.append(ids.columnInt64(0));
        if (!finishQuery(ids))
            return false;
    }
    if (!beginTransaction(failure))
        return false;
    holdReports();

    const bool ok = deleteBookRows(book->id, failure) && commit(failure);
    if (!ok) {
        rollback();
        releaseReports();
        return false;
    }
    releaseReports();
    answerLog.bookDeleted(book->id, nivletIds);

    // Search results and records read by id may still point at the book, so
    // it lives on, out of the list, on the shelf.
    bookList.removeOne(book);
    // Records of the loaded list stay until the next reload; they must not
    // keep showing a book that no longer exists.
    active->forgetBook(book);
    stale = true;
    emit booksChanged();
    return true;
}

bool NivletCore::deleteBookRows(qint64 bookId, const char *failure)
{
    SqlStatement nivlets = prepare("DELETE FROM nivlet WHERE book_id = ?", failure);
    if (!nivlets)
        return false;
    nivlets.bindInt64(1, bookId);
    if (!execute(nivlets))
        return false;
    SqlStatement row = prepare("DELETE FROM book WHERE id = ?", failure);
    if (!row)
        return false;
    row.bindInt64(1, bookId);
    return executeChange(row, missingBook(bookId));
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
        return optionsCache.get();
    // Read into a record of its own: a failure is reported in a box whose
    // event loop may call back here, and must not find a half-read cache.
    auto read = std::make_unique<Options>();
    SqlStatement stmt =
        prepare("SELECT auto_ch, auto_ch_interval, puzzle_affects_rates FROM options",
                "Could not get options from database.");
    if (!stmt)
        return optionsCache.get();
    if (stmt.next()) {
        read->autoCh = stmt.columnBool(0);
        // A hand-edited interval could overflow the timer's arithmetic.
        read->autoChInterval =
            static_cast<int>(qBound(qint64(minInterval), stmt.columnInt64(1), qint64(maxInterval)));
        read->puzzleAffectsRates = stmt.columnBool(2);
        stmt.next();
    }
    if (!finishQuery(stmt) || optionsCache)
        return optionsCache.get();
    optionsCache = std::move(read);
    return optionsCache.get();
}

bool NivletCore::setOptions(const Options &options)
{
    SqlStatement stmt =
        prepare("UPDATE options SET auto_ch = ?, auto_ch_interval = ?, puzzle_affects_rates = ?",
                "Could not set options.");
    if (!stmt)
        return false;
    stmt.bindBool(1, options.autoCh);
    stmt.bindInt(2, options.autoChInterval);
    stmt.bindBool(3, options.puzzleAffectsRates);
    // An update of an empty table would save nothing, and the choice would be
    // lost at the next start.
    if (!executeChange(stmt, QStringLiteral("the options table holds no row")))
        return false;
    if (!optionsCache)
        optionsCache = std::make_unique<Options>();
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
    // The history comes along when there is one, of the same moment: what is
    // queued for it is written first, in the turns of the copy as well.
    answerLog.flush();
    answerLog.openExisting();
    auto copy = std::make_unique<BackupCopy>(connection(), QString::fromLatin1(backupFolder), now,
                                             answerLog.database());
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
    answerLog.flush();
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
    answerLog.flush();
    backup->step(-1);
    endBackup();
}

void NivletCore::setBackupPace(const BackupPace &pace)
{
    backupPace = pace;
}
