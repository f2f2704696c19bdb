#include "answerhistory.h"

#include <QFile>

#include <algorithm>

const char AnswerHistory::fileName[] = "nivlets-history";

// The comments inside the statements stay in the file's schema, so that
// whoever opens it with sqlite3 reads what the columns hold.
const char AnswerHistory::schemaSql[] = R"sql(
CREATE TABLE book (
    -- The log's own number of a book. A book deleted in the card file keeps
    -- its row under its last name; a new book that gets the same id there
    -- gets a row of its own.
    id INTEGER PRIMARY KEY,
    card_id INTEGER NOT NULL, -- the book's id in the card file
    name TEXT NOT NULL, -- its name as last seen
    deleted INTEGER -- when it was deleted, in ms since 1970 UTC; NULL while it exists
);
CREATE UNIQUE INDEX book_card ON book (card_id) WHERE deleted IS NULL;

CREATE TABLE answer (
    time INTEGER NOT NULL, -- when the answer was judged, in ms since 1970 UTC
    seq INTEGER NOT NULL, -- 0, 1, 2 ... for the answers of one millisecond
    nivlet_id INTEGER NOT NULL, -- the nivlet's id in the card file
    book INTEGER NOT NULL REFERENCES book (id), -- the nivlet's book at the time
    verdict INTEGER NOT NULL CHECK (verdict IN (0, 1, 2)), -- 0 right, 1 wrong, 2 cheated
    source INTEGER NOT NULL CHECK (source IN (0, 1, 2)), -- 0 challenge, 1 automatic challenge, 2 crossword
    rate_before REAL NOT NULL,
    rate_after REAL NOT NULL,
    -- 1 when the answer brought the nivlet to 75 % or more, -1 when it took it
    -- below, 0 otherwise; measured from the rate after its previous answer, or
    -- from rate_before for its first
    known_change INTEGER NOT NULL CHECK (known_change IN (-1, 0, 1)),
    PRIMARY KEY (time, seq)
) WITHOUT ROWID;
-- The answers given in one book.
CREATE INDEX answer_book ON answer (book);
-- The answers that made a nivlet known or took it below: the growth of the
-- known nivlets over a period reads only these.
CREATE INDEX answer_known ON answer (time, nivlet_id, known_change) WHERE known_change <> 0;

-- The answers of each quarter of an hour (the time in ms divided by 900000),
-- of all books and of each: in every time zone a day begins and ends on such
-- a quarter, so the answers per day are read from these few rows instead of
-- from every answer.
CREATE TABLE answer_quarter (
    quarter INTEGER PRIMARY KEY,
    right_count INTEGER NOT NULL,
    wrong_count INTEGER NOT NULL,
    cheated_count INTEGER NOT NULL
);
CREATE TABLE book_quarter (
    book INTEGER NOT NULL REFERENCES book (id),
    quarter INTEGER NOT NULL,
    right_count INTEGER NOT NULL,
    wrong_count INTEGER NOT NULL,
    cheated_count INTEGER NOT NULL,
    PRIMARY KEY (book, quarter)
) WITHOUT ROWID;

-- The last answer of each nivlet, until the nivlet is deleted.
CREATE TABLE nivlet_last (
    nivlet_id INTEGER PRIMARY KEY,
    time INTEGER NOT NULL,
    seq INTEGER NOT NULL,
    rate_after REAL NOT NULL
);
-- When a nivlet id was last deleted: answers before it belong to the deleted
-- nivlet, not to a new one that got the id.
CREATE TABLE nivlet_deleted (
    nivlet_id INTEGER PRIMARY KEY,
    time INTEGER NOT NULL
);
)sql";

namespace {
constexpr int schemaVersion = 1;
constexpr qint64 quarterMilliseconds = 15 * 60 * 1000;
const char openFailure[] = "Could not open the answer history.";
const char writeFailure[] = "Could not record the answers in the history.";
const char readFailure[] = "Could not read the answer history.";

int knownChange(double from, double to)
{
    return (Progress::isKnown(to) ? 1 : 0) - (Progress::isKnown(from) ? 1 : 0);
}

// Where each card stands in the list the caller gave: ids are normally dense,
// so a table by id answers at once; ids spread too thinly for one are
// searched by halves.
class CardIndex
{
public:
    explicit CardIndex(const std::vector<Progress::Card> &cards)
    {
        if (cards.empty())
            return;
        const auto [low, high] = std::minmax_element(
            cards.cbegin(), cards.cend(),
            [](const Progress::Card &a, const Progress::Card &b) { return a.id < b.id; });
        first = low->id;
        const quint64 span = quint64(high->id) - quint64(first);
        if (span < quint64(4 * cards.size() + 1024)) {
            table.assign(span + 1, -1);
            for (std::size_t i = 0; i < cards.size(); ++i)
                table[quint64(cards[i].id) - quint64(first)] = static_cast<int>(i);
            return;
        }
        for (std::size_t i = 0; i < cards.size(); ++i)
            sorted.emplace_back(cards[i].id, static_cast<int>(i));
        std::sort(sorted.begin(), sorted.end());
    }

    // -1 for an id not among the cards.
    int find(qint64 id) const
    {
        if (!table.empty()) {
            const quint64 offset = quint64(id) - quint64(first);
            return offset < table.size() ? table[offset] : -1;
        }
        const auto it = std::lower_bound(sorted.cbegin(), sorted.cend(), std::make_pair(id, -1));
        return it != sorted.cend() && it->first == id ? it->second : -1;
    }

private:
    qint64 first = 0;
    std::vector<int> table;
    std::vector<std::pair<qint64, int>> sorted;
};
} // namespace

AnswerHistory::AnswerHistory(const WallClock *wallClock, QObject *parent, const QString &file)
    : DBHandler(parent), path(file), clock(wallClock)
{
    flushTimer.setSingleShot(true);
    connect(&flushTimer, &QTimer::timeout, this, &AnswerHistory::flush);
}

AnswerHistory::~AnswerHistory()
{
    // The last try waits for a lock as the store does; its failure can only
    // be logged, the windows are gone.
    if (!queue.empty()) {
        setReportsShown(false);
        if (!writeQueue(busyTimeout()) && !failedText.isEmpty())
            reportError(failedText, failedCode, failedMessage);
    }
}

void AnswerHistory::record(const Answer &answer)
{
    queue.push_back({Change::Kind::Answer, clock->now().toMSecsSinceEpoch(), answer, {}});
    scheduleFlush(0);
}

void AnswerHistory::bookRenamed(qint64 bookId, const QString &name)
{
    // A book the log does not know has no entries whose name could change.
    if (!holdsAnything())
        return;
    Answer book{-1, bookId, name, Verdict::Right, Source::Challenge, 0.0, 0.0};
    queue.push_back({Change::Kind::BookRenamed, clock->now().toMSecsSinceEpoch(), book, {}});
    scheduleFlush(0);
}

void AnswerHistory::bookDeleted(qint64 bookId, const QList<qint64> &nivletIds)
{
    if (!holdsAnything())
        return;
    Answer book{-1, bookId, QString(), Verdict::Right, Source::Challenge, 0.0, 0.0};
    const qint64 now = clock->now().toMSecsSinceEpoch();
    queue.push_back({Change::Kind::BookDeleted, now, book, {}});
    queue.push_back({Change::Kind::NivletsDeleted, now, book, nivletIds});
    scheduleFlush(0);
}

void AnswerHistory::nivletsDeleted(const QList<qint64> &nivletIds)
{
    if (!holdsAnything())
        return;
    Answer none{-1, -1, QString(), Verdict::Right, Source::Challenge, 0.0, 0.0};
    queue.push_back(
        {Change::Kind::NivletsDeleted, clock->now().toMSecsSinceEpoch(), none, nivletIds});
    scheduleFlush(0);
}

bool AnswerHistory::holdsAnything() const
{
    return isOpen() || !queue.empty() || QFile::exists(path);
}

void AnswerHistory::scheduleFlush(int milliseconds)
{
    if (!flushTimer.isActive() || milliseconds == 0)
        flushTimer.start(milliseconds);
}

bool AnswerHistory::flush()
{
    // A report's box runs an event loop, in which the timer may come again.
    if (queue.empty() || writing)
        return queue.empty();
    flushTimer.stop();
    // An open that fails reports itself, shown only the first time.
    setReportsShown(!failureShownOnce);
    const bool written = writeQueue(0);
    setReportsShown(true);
    if (written) {
        lockedSince.invalidate();
        return true;
    }
    if ((failedCode & 0xff) == SQLITE_BUSY) {
        if (!lockedSince.isValid())
            lockedSince.start();
        if (lockedSince.elapsed() < busyTimeout()) {
            scheduleFlush(retryMilliseconds);
            return false;
        }
    }
    // A failure that lasts is tried again with the next answer, not by the
    // timer: the log gets a line for each answer, not a line a second.
    lockedSince.invalidate();
    if (!failedText.isEmpty())
        reportFailure(failedText, failedCode, failedMessage);
    failureShownOnce = true;
    return false;
}

void AnswerHistory::reportFailure(const QString &failure, int code, const QString &message)
{
    setReportsShown(!failureShownOnce);
    failureShownOnce = true;
    reportError(failure, code, message);
    setReportsShown(true);
}

bool AnswerHistory::recordAt(const QList<qint64> &times, const QList<Answer> &answers)
{
    std::vector<Change> waiting;
    waiting.swap(queue);
    for (qsizetype i = 0; i < answers.size(); ++i)
        queue.push_back({Change::Kind::Answer, times.at(i), answers.at(i), {}});
    const bool ok = writeQueue(busyTimeout());
    queue.swap(waiting);
    if (!ok && !failedText.isEmpty())
        reportError(failedText, failedCode, failedMessage);
    return ok;
}

bool AnswerHistory::openExisting()
{
    if (isOpen())
        return true;
    if (!QFile::exists(path))
        return false;
    if (open(busyTimeout()))
        return true;
    if (!failedText.isEmpty())
        reportError(failedText, failedCode, failedMessage);
    return false;
}

bool AnswerHistory::open(int lockWait)
{
    failedText.clear();
    failedCode = SQLITE_OK;
    if (isOpen())
        return true;
    // Reported there, under the rule of the caller's setReportsShown; the
    // empty failure text tells the caller so.
    if (!openDatabase(QFile::encodeName(path).constData(), openFailure)) {
        failedCode = SQLITE_CANTOPEN;
        closeDatabase();
        return false;
    }
    sqlite3_busy_timeout(connection(), lockWait);
    const bool ok = prepareFile();
    sqlite3_busy_timeout(connection(), busyTimeout());
    if (!ok)
        closeDatabase();
    return ok;
}

bool AnswerHistory::prepareFile()
{
    SqlStatement version(connection(), "PRAGMA user_version", openFailure);
    if (!version || !version.next())
        return keepFailure(version);
    const int found = version.columnInt(0);
    if (found != 0 && found != schemaVersion) {
        failedText = QString::fromUtf8(openFailure);
        failedCode = SQLITE_MISMATCH;
        failedMessage = QStringLiteral("the file has the layout %1, this program knows %2")
                            .arg(found)
                            .arg(schemaVersion);
        return false;
    }
    if (found == 0 && !createTables())
        return false;
    return readBookKeys(openFailure);
}

bool AnswerHistory::readBookKeys(const char *failure)
{
    bookKeys.clear();
    bookKeysKnown = false;
    SqlStatement stmt(connection(), "SELECT id, card_id, name FROM book WHERE deleted IS NULL",
                      failure);
    if (!stmt)
        return keepFailure(stmt);
    while (stmt.next())
        bookKeys.insert(stmt.columnInt64(1), {stmt.columnInt64(0), stmt.columnText(2)});
    if (stmt.failed())
        return keepFailure(stmt);
    bookKeysKnown = true;
    return true;
}

bool AnswerHistory::createTables()
{
    // One transaction, so that a file is either new or whole.
    const char failure[] = "Could not create the tables of the answer history.";
    SqlStatement begin(connection(), "BEGIN IMMEDIATE", failure);
    if (!run(begin))
        return false;
    char *message = nullptr;
    const QByteArray sql =
        QByteArray(schemaSql) + "PRAGMA user_version = " + QByteArray::number(schemaVersion) + ";";
    const int rc = sqlite3_exec(connection(), sql.constData(), nullptr, nullptr, &message);
    bool ok = rc == SQLITE_OK;
    if (!ok) {
        failedText = QString::fromUtf8(failure);
        failedCode = rc;
        failedMessage = QString::fromUtf8(message ? message : sqlite3_errstr(rc));
    }
    sqlite3_free(message);
    if (ok) {
        SqlStatement commit(connection(), "COMMIT", failure);
        ok = run(commit);
    }
    if (!ok)
        rollback();
    return ok;
}

// The statements of one writing transaction, prepared once for all its
// changes: a tool that writes a long log would otherwise spend most of its
// time preparing them.
struct AnswerHistory::Writer
{
    explicit Writer(sqlite3 *db)
        : nextSeq(db, "SELECT ifnull(max(seq) + 1, 0) FROM answer WHERE time = ?", writeFailure),
          last(db, "SELECT time, rate_after FROM nivlet_last WHERE nivlet_id = ?", writeFailure),
          before(db,
                 "SELECT rate_after FROM answer WHERE nivlet_id = ?1 AND time <= ?2 AND time >= "
                 "ifnull((SELECT time FROM nivlet_deleted WHERE nivlet_id = ?1), 0) "
                 "ORDER BY time DESC, seq DESC LIMIT 1",
                 writeFailure),
          after(db,
                "SELECT time, seq, rate_after FROM answer WHERE nivlet_id = ? AND time > ? "
                "ORDER BY time, seq LIMIT 1",
                writeFailure),
          fix(db, "UPDATE answer SET known_change = ? WHERE time = ? AND seq = ?", writeFailure),
          keep(db,
               "INSERT OR REPLACE INTO nivlet_last (nivlet_id, time, seq, rate_after) "
               "VALUES (?, ?, ?, ?)",
               writeFailure),
          add(db,
              "INSERT INTO answer (time, seq, nivlet_id, book, verdict, source, rate_before, "
              "rate_after, known_change) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)",
              writeFailure),
          countAll(db,
                   "INSERT INTO answer_quarter VALUES (?1, ?2, ?3, ?4) ON CONFLICT (quarter) DO "
                   "UPDATE SET right_count = right_count + ?2, wrong_count = wrong_count + ?3, "
                   "cheated_count = cheated_count + ?4",
                   writeFailure),
          countBook(db,
                    "INSERT INTO book_quarter VALUES (?5, ?1, ?2, ?3, ?4) ON CONFLICT (book, "
                    "quarter) DO UPDATE SET right_count = right_count + ?2, wrong_count = "
                    "wrong_count + ?3, cheated_count = cheated_count + ?4",
                    writeFailure),
          addBook(db, "INSERT INTO book (card_id, name) VALUES (?, ?)", writeFailure),
          rename(db, "UPDATE book SET name = ? WHERE id = ?", writeFailure),
          bookGone(db, "UPDATE book SET deleted = ? WHERE id = ?", writeFailure),
          forget(db, "DELETE FROM nivlet_last WHERE nivlet_id = ?", writeFailure),
          note(db, "INSERT OR REPLACE INTO nivlet_deleted (nivlet_id, time) VALUES (?, ?)",
               writeFailure)
    {
    }

    // The first that could not be prepared, or null.
    const SqlStatement *unprepared() const
    {
        for (const SqlStatement *stmt :
             {&nextSeq, &last, &before, &after, &fix, &keep, &add, &countAll, &countBook, &addBook,
              &rename, &bookGone, &forget, &note}) {
            if (!*stmt)
                return stmt;
        }
        return nullptr;
    }

    SqlStatement nextSeq;
    SqlStatement last;
    SqlStatement before;
    SqlStatement after;
    SqlStatement fix;
    SqlStatement keep;
    SqlStatement add;
    SqlStatement countAll;
    SqlStatement countBook;
    SqlStatement addBook;
    SqlStatement rename;
    SqlStatement bookGone;
    SqlStatement forget;
    SqlStatement note;
};

bool AnswerHistory::writeQueue(int lockWait)
{
    failedText.clear();
    failedCode = SQLITE_OK;
    if (queue.empty())
        return true;
    writing = true;
    if (!open(lockWait)) {
        writing = false;
        return false;
    }
    sqlite3_busy_timeout(connection(), lockWait);
    SqlStatement begin(connection(), "BEGIN IMMEDIATE", writeFailure);
    bool ok = run(begin);
    // Read under the transaction's lock: the numbers a failed write had
    // made went with its rollback.
    if (ok && !bookKeysKnown)
        ok = readBookKeys(writeFailure);
    if (ok) {
        Writer writer(connection());
        if (const SqlStatement *failed = writer.unprepared())
            ok = keepFailure(*failed);
        for (std::size_t i = 0; ok && i < queue.size(); ++i)
            ok = write(writer, queue[i]);
    }
    if (ok) {
        SqlStatement commit(connection(), "COMMIT", writeFailure);
        ok = run(commit);
    }
    if (!ok) {
        // A failed ROLLBACK is reported there; the report of what failed
        // first follows once the transaction is over.
        rollback();
        bookKeysKnown = false;
    }
    if (connection())
        sqlite3_busy_timeout(connection(), busyTimeout());
    if (ok)
        queue.clear();
    writing = false;
    return ok;
}

bool AnswerHistory::run(SqlStatement &stmt)
{
    const bool done = stmt.execute();
    if (!done)
        keepFailure(stmt);
    stmt.reset();
    return done;
}

bool AnswerHistory::keepFailure(const SqlStatement &stmt)
{
    failedText = stmt.failureText();
    failedCode = stmt.resultCode();
    failedMessage = stmt.errorMessage();
    return false;
}

bool AnswerHistory::write(Writer &writer, const Change &change)
{
    switch (change.kind) {
    case Change::Kind::Answer:
        return writeAnswer(writer, change.time, change.answer);
    case Change::Kind::BookRenamed:
        return writeRename(writer, change.answer.bookId, change.answer.bookName);
    case Change::Kind::BookDeleted:
        return writeBookDeleted(writer, change.time, change.answer.bookId);
    case Change::Kind::NivletsDeleted:
        return writeNivletsDeleted(writer, change.time, change.nivletIds);
    }
    return false;
}

qint64 AnswerHistory::bookKey(Writer &writer, qint64 cardId, const QString &name)
{
    const auto known = bookKeys.constFind(cardId);
    if (known != bookKeys.cend()) {
        const qint64 key = known->key;
        return writeRename(writer, cardId, name) ? key : -1;
    }
    writer.addBook.bindInt64(1, cardId);
    writer.addBook.bindText(2, name);
    if (!run(writer.addBook))
        return -1;
    const qint64 key = sqlite3_last_insert_rowid(connection());
    bookKeys.insert(cardId, {key, name});
    return key;
}

// The first row of a query, if any, to be read and then reset; false, with
// the failure kept, when the query failed.
bool AnswerHistory::step(SqlStatement &stmt, bool &found)
{
    found = stmt.next();
    return !stmt.failed() || keepFailure(stmt);
}

bool AnswerHistory::writeAnswer(Writer &writer, qint64 time, const Answer &answer)
{
    const qint64 book = bookKey(writer, answer.bookId, answer.bookName);
    if (book < 0)
        return false;

    bool found = false;
    writer.nextSeq.bindInt64(1, time);
    if (!step(writer.nextSeq, found))
        return false;
    const qint64 seq = writer.nextSeq.columnInt64(0);
    writer.nextSeq.reset();

    writer.last.bindInt64(1, answer.nivletId);
    bool answeredBefore = false;
    if (!step(writer.last, answeredBefore))
        return false;
    const qint64 lastTime = answeredBefore ? writer.last.columnInt64(0) : 0;
    double previous = answeredBefore ? writer.last.columnDouble(1) : answer.rateBefore;
    writer.last.reset();

    if (answeredBefore && time < lastTime) {
        // Written after a later answer of the nivlet: the clock was set back
        // in between. The answers around this one are looked up by time.
        writer.before.bindInt64(1, answer.nivletId);
        writer.before.bindInt64(2, time);
        if (!step(writer.before, found))
            return false;
        previous = found ? writer.before.columnDouble(0) : answer.rateBefore;
        writer.before.reset();
        writer.after.bindInt64(1, answer.nivletId);
        writer.after.bindInt64(2, time);
        if (!step(writer.after, found))
            return false;
        if (found) {
            writer.fix.bindInt(1, knownChange(answer.rateAfter, writer.after.columnDouble(2)));
            writer.fix.bindInt64(2, writer.after.columnInt64(0));
            writer.fix.bindInt64(3, writer.after.columnInt64(1));
            writer.after.reset();
            if (!run(writer.fix))
                return false;
        }
    } else {
        writer.keep.bindInt64(1, answer.nivletId);
        writer.keep.bindInt64(2, time);
        writer.keep.bindInt64(3, seq);
        writer.keep.bindDouble(4, answer.rateAfter);
        if (!run(writer.keep))
            return false;
    }

    writer.add.bindInt64(1, time);
    writer.add.bindInt64(2, seq);
    writer.add.bindInt64(3, answer.nivletId);
    writer.add.bindInt64(4, book);
    writer.add.bindInt(5, static_cast<int>(answer.verdict));
    writer.add.bindInt(6, static_cast<int>(answer.source));
    writer.add.bindDouble(7, answer.rateBefore);
    writer.add.bindDouble(8, answer.rateAfter);
    writer.add.bindInt(9, knownChange(previous, answer.rateAfter));
    if (!run(writer.add))
        return false;
    for (SqlStatement *count : {&writer.countAll, &writer.countBook}) {
        count->bindInt64(1, time / quarterMilliseconds);
        count->bindInt(2, answer.verdict == Verdict::Right ? 1 : 0);
        count->bindInt(3, answer.verdict == Verdict::Wrong ? 1 : 0);
        count->bindInt(4, answer.verdict == Verdict::Cheated ? 1 : 0);
        count->bindInt64(5, book);
        if (!run(*count))
            return false;
    }
    return true;
}

bool AnswerHistory::writeRename(Writer &writer, qint64 bookId, const QString &name)
{
    const auto known = bookKeys.find(bookId);
    if (known == bookKeys.end() || known->name == name)
        return true;
    writer.rename.bindText(1, name);
    writer.rename.bindInt64(2, known->key);
    if (!run(writer.rename))
        return false;
    known->name = name;
    return true;
}

bool AnswerHistory::writeBookDeleted(Writer &writer, qint64 time, qint64 bookId)
{
    const auto known = bookKeys.find(bookId);
    if (known == bookKeys.end())
        return true;
    writer.bookGone.bindInt64(1, time);
    writer.bookGone.bindInt64(2, known->key);
    if (!run(writer.bookGone))
        return false;
    bookKeys.erase(known);
    return true;
}

bool AnswerHistory::writeNivletsDeleted(Writer &writer, qint64 time, const QList<qint64> &ids)
{
    for (qint64 id : ids) {
        writer.forget.bindInt64(1, id);
        writer.note.bindInt64(1, id);
        writer.note.bindInt64(2, time);
        if (!run(writer.forget) || !run(writer.note))
            return false;
    }
    return true;
}

bool AnswerHistory::books(QList<Book> &result)
{
    result.clear();
    if (!openExisting())
        return !QFile::exists(path);
    SqlStatement stmt = prepare("SELECT id, card_id, name, ifnull(deleted, -1) FROM book "
                                "ORDER BY deleted IS NOT NULL, id",
                                readFailure);
    if (!stmt)
        return false;
    while (stmt.next())
        result.append(
            {stmt.columnInt64(0), stmt.columnInt64(1), stmt.columnText(2), stmt.columnInt64(3)});
    return finishQuery(stmt);
}

bool AnswerHistory::countDays(SqlStatement &stmt, const Progress::Period &period,
                              QList<Progress::DayCount> &days)
{
    // The quarters come in time order, so the day moves on only forwards.
    int day = 0;
    while (stmt.next()) {
        const qint64 start = stmt.columnInt64(0) * quarterMilliseconds;
        while (day + 1 < period.days() && start >= period.end(day))
            ++day;
        Progress::DayCount &count = days[day];
        count.right += stmt.columnInt(1);
        count.wrong += stmt.columnInt(2);
        count.cheated += stmt.columnInt(3);
    }
    return finishQuery(stmt);
}

namespace {
// The quarters of a period: a day's bounds fall on quarters, so the first
// quarter from a bound on is the one that begins there.
qint64 firstQuarter(qint64 msecs)
{
    return msecs >= 0 ? (msecs + quarterMilliseconds - 1) / quarterMilliseconds
                      : msecs / quarterMilliseconds;
}
} // namespace

bool AnswerHistory::dayByDay(const Progress::Period &period, qint64 bookKey,
                             Progress::DayByDay &result)
{
    result = Progress::DayByDay();
    result.days.resize(period.days());
    if (!openExisting())
        return !QFile::exists(path);
    SqlStatement stmt =
        bookKey < 0
            ? prepare("SELECT quarter, right_count, wrong_count, cheated_count FROM "
                      "answer_quarter WHERE quarter >= ?1 AND quarter < ?2 ORDER BY quarter",
                      readFailure)
            : prepare("SELECT quarter, right_count, wrong_count, cheated_count FROM "
                      "book_quarter WHERE book = ?3 AND quarter >= ?1 AND quarter < ?2 "
                      "ORDER BY quarter",
                      readFailure);
    if (!stmt)
        return false;
    stmt.bindInt64(1, firstQuarter(period.begin()));
    stmt.bindInt64(2, firstQuarter(period.finish()));
    if (bookKey >= 0)
        stmt.bindInt64(3, bookKey);
    if (!countDays(stmt, period, result.days))
        return false;

    for (const Progress::DayCount &day : std::as_const(result.days)) {
        result.answers += day.total();
        result.right += day.right;
    }
    result.today = result.days.last().total();
    // A day not over yet does not break the row.
    int day = period.days() - 1;
    if (result.today == 0)
        --day;
    for (; day >= 0 && result.days.at(day).total() > 0; --day)
        ++result.streak;
    if (day >= 0)
        return true;
    // The row goes on before the period: one look a day until a day without.
    const QTimeZone &zone = period.timeZone();
    for (QDate date = period.date(0).addDays(-1);; date = date.addDays(-1)) {
        bool answered = false;
        if (!answeredOn(Progress::Period(date, 1, zone), bookKey, answered))
            return false;
        if (!answered)
            return true;
        ++result.streak;
    }
}

bool AnswerHistory::answeredOn(const Progress::Period &day, qint64 bookKey, bool &answered)
{
    SqlStatement stmt =
        bookKey < 0 ? prepare("SELECT 1 FROM answer_quarter WHERE quarter >= ?1 AND quarter < ?2 "
                              "LIMIT 1",
                              readFailure)
                    : prepare("SELECT 1 FROM book_quarter WHERE book = ?3 AND quarter >= ?1 AND "
                              "quarter < ?2 LIMIT 1",
                              readFailure);
    if (!stmt)
        return false;
    stmt.bindInt64(1, firstQuarter(day.begin()));
    stmt.bindInt64(2, firstQuarter(day.finish()));
    if (bookKey >= 0)
        stmt.bindInt64(3, bookKey);
    answered = stmt.next();
    return finishQuery(stmt);
}

bool AnswerHistory::knownPerDay(const Progress::Period &period,
                                const std::vector<Progress::Card> &cards, QList<int> &result)
{
    const int days = period.days();
    result.fill(0, days);
    const CardIndex index(cards);
    std::vector<char> knownNow(cards.size());
    for (std::size_t i = 0; i < cards.size(); ++i)
        knownNow[i] = Progress::isKnown(cards[i].rate);
    if (!openExisting()) {
        if (QFile::exists(path))
            return false;
        result.fill(static_cast<int>(std::count(knownNow.cbegin(), knownNow.cend(), 1)), days);
        return true;
    }

    // Where the log tells a card's last answer, its rate after that answer
    // stands for the rate it has now.
    SqlStatement last = prepare("SELECT nivlet_id, rate_after FROM nivlet_last", readFailure);
    if (!last)
        return false;
    while (last.next()) {
        const int i = index.find(last.columnInt64(0));
        if (i >= 0)
            knownNow[static_cast<std::size_t>(i)] = Progress::isKnown(last.columnDouble(1));
    }
    if (!finishQuery(last))
        return false;
    std::vector<qint64> deletedAt(cards.size(), 0);
    SqlStatement deleted = prepare("SELECT nivlet_id, time FROM nivlet_deleted", readFailure);
    if (!deleted)
        return false;
    while (deleted.next()) {
        const int i = index.find(deleted.columnInt64(0));
        if (i >= 0)
            deletedAt[static_cast<std::size_t>(i)] = deleted.columnInt64(1);
    }
    if (!finishQuery(deleted))
        return false;

    // Going back from now, each answer that made a card known (or took it
    // below) is undone for the days that ended before it.
    std::vector<int> changes(static_cast<std::size_t>(days) + 1, 0);
    SqlStatement stmt = prepare("SELECT time, nivlet_id, known_change FROM answer "
                                "WHERE known_change <> 0 AND time >= ?",
                                readFailure);
    if (!stmt)
        return false;
    stmt.bindInt64(1, period.begin());
    while (stmt.next()) {
        const qint64 time = stmt.columnInt64(0);
        const int i = index.find(stmt.columnInt64(1));
        if (i < 0 || time < deletedAt[static_cast<std::size_t>(i)])
            continue;
        changes[static_cast<std::size_t>(period.dayOf(time))] += stmt.columnInt(2);
    }
    if (!finishQuery(stmt))
        return false;
    int known = static_cast<int>(std::count(knownNow.cbegin(), knownNow.cend(), 1));
    for (int day = days - 1; day >= 0; --day) {
        known -= changes[static_cast<std::size_t>(day) + 1];
        result[day] = known;
    }
    return true;
}

bool AnswerHistory::knownPerDayOfDeleted(const Progress::Period &period, const Book &book,
                                         QList<int> &result)
{
    const int days = period.days();
    result.fill(0, days);
    if (!openExisting())
        return !QFile::exists(path);
    struct Step
    {
        qint64 time;
        qint64 nivlet;
        double before;
        double after;
    };
    std::vector<Step> steps;
    SqlStatement stmt = prepare("SELECT time, nivlet_id, rate_before, rate_after FROM answer "
                                "WHERE book = ? ORDER BY time, seq",
                                readFailure);
    if (!stmt)
        return false;
    stmt.bindInt64(1, book.key);
    while (stmt.next())
        steps.push_back(
            {stmt.columnInt64(0), stmt.columnInt64(1), stmt.columnDouble(2), stmt.columnDouble(3)});
    if (!finishQuery(stmt))
        return false;

    // Before its first answer each card stands at the rate before it.
    QHash<qint64, bool> known;
    int count = 0;
    for (const Step &step : steps) {
        if (known.contains(step.nivlet))
            continue;
        known.insert(step.nivlet, Progress::isKnown(step.before));
        count += Progress::isKnown(step.before) ? 1 : 0;
    }
    std::size_t next = 0;
    for (int day = 0; day < days; ++day) {
        for (; next < steps.size() && steps[next].time < period.end(day); ++next) {
            bool &was = known[steps[next].nivlet];
            const bool now = Progress::isKnown(steps[next].after);
            count += (now ? 1 : 0) - (was ? 1 : 0);
            was = now;
        }
        const bool gone = book.deleted >= 0 && period.end(day) > book.deleted;
        result[day] = gone ? 0 : count;
    }
    return true;
}
