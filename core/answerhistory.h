#ifndef ANSWERHISTORY_H
#define ANSWERHISTORY_H

#include "dbhandler.h"
#include "elapsedclock.h"
#include "progress.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QTimer>

#include <vector>

// The log of every answer the program judged, in the file "nivlets-history"
// beside the card file. It is the program's own file: the first answer
// creates it with its tables, and the card file never learns of it.
//
// Recording never holds up an answer: record() only queues the answer, and
// the queue is written from the event loop in one transaction. Those writes
// do not wait for a lock held by another connection; they try again for as
// long as the store would wait (busyTimeout()), and only a failure that
// lasts is reported: in the log each time, in a box the first time in a run.
// What could not be written stays queued for the next try; the end of the
// run makes the last one, waiting for a lock as the store does.
class AnswerHistory : public DBHandler
{
    Q_OBJECT

public:
    enum class Verdict { Right = 0, Wrong = 1, Cheated = 2 };
    enum class Source { Challenge = 0, AutomaticChallenge = 1, Crossword = 2 };

    struct Answer
    {
        qint64 nivletId;
        // The book's id in the card file and its name at the time.
        qint64 bookId;
        QString bookName;
        Verdict verdict;
        Source source;
        double rateBefore;
        double rateAfter;
    };

    // A book as the log knows it: the present books under their present
    // names, the deleted ones under their last.
    struct Book
    {
        // The log's own number: a new book that takes a deleted book's id in
        // the card file gets a number of its own.
        qint64 key;
        qint64 cardId;
        QString name;
        // Milliseconds since 1970 UTC; -1 for a book that exists.
        qint64 deleted;
    };

    static const char fileName[];
    // The tables, made by the first write to a new file.
    static const char schemaSql[];
    // How long the writes wait between two tries while the file is locked.
    static constexpr int retryMilliseconds = 250;

    // The file is the one beside the card file in the working directory,
    // unless a tool that makes logs names another.
    explicit AnswerHistory(const WallClock *clock = WallClock::system(), QObject *parent = nullptr,
                           const QString &file = QString::fromLatin1(fileName));
    ~AnswerHistory() override;

    void setClock(const WallClock *wallClock) { clock = wallClock; }
    // Stamps the answer with the clock's time and queues it.
    void record(const Answer &answer);
    // Answers with their own times, written at once, for a tool that makes a
    // log; false, reported, when they could not be.
    bool recordAt(const QList<qint64> &times, const QList<Answer> &answers);
    // The log keeps a book's present name, and keeps a deleted book under
    // the name it last had. A deleted nivlet's entries stay; a new nivlet
    // that takes its id starts afresh.
    void bookRenamed(qint64 bookId, const QString &name);
    void bookDeleted(qint64 bookId, const QList<qint64> &nivletIds);
    void nivletsDeleted(const QList<qint64> &nivletIds);

    // Writes what is queued now, without waiting for a lock; false when
    // something is left in the queue. A failure is reported unless it is a
    // lock that has not yet lasted busyTimeout(), which is tried again.
    bool flush();
    int queuedCount() const { return static_cast<int>(queue.size()); }
    // True once a failure was reported in this run.
    bool failureShown() const { return failureShownOnce; }

    // Whether there is a log, or will be one once the queue is written.
    bool inUse() const { return holdsAnything(); }
    // Opens the file when it exists; a log never written opens nothing.
    bool openExisting();
    bool isOpen() const { return connection() != nullptr; }
    // The connection a backup copies the log from; null while closed.
    sqlite3 *database() const { return connection(); }

    // The reading side, for the progress window. Each gives false, reported,
    // on a failure; a log that does not exist yet reads as empty.
    bool books(QList<Book> &result);
    // Answers per day of the period, of all books (key -1) or one.
    bool dayByDay(const Progress::Period &period, qint64 bookKey, Progress::DayByDay &result);
    // The number of cards at 75 % or more at the end of each day, of the
    // cards given as they stand now: a card's rate on a day is the rate after
    // its last answer before the day ended; before its first answer, the rate
    // before that one; never answered, its present rate.
    bool knownPerDay(const Progress::Period &period, const std::vector<Progress::Card> &cards,
                     QList<int> &result);
    // The same for a deleted book, from the answers given in it: each card
    // it held as the log knows it, none after the deletion.
    bool knownPerDayOfDeleted(const Progress::Period &period, const Book &book, QList<int> &result);

private:
    struct Change
    {
        enum class Kind { Answer, BookRenamed, BookDeleted, NivletsDeleted };
        Kind kind;
        qint64 time;
        Answer answer;
        QList<qint64> nivletIds;
    };

    // Opens the file, making it and its tables when it is new; false with
    // the failure kept, or with an empty failure text when opening the file
    // reported its failure itself.
    bool open(int lockWait);
    bool prepareFile();
    bool createTables();
    // The present books' numbers, read afresh; false with the failure kept.
    bool readBookKeys(const char *failure);
    struct Writer;
    // Each a step of the writing transaction; false with the statement's
    // failure kept.
    bool write(Writer &writer, const Change &change);
    bool writeAnswer(Writer &writer, qint64 time, const Answer &answer);
    bool writeRename(Writer &writer, qint64 bookId, const QString &name);
    bool writeBookDeleted(Writer &writer, qint64 time, qint64 bookId);
    bool writeNivletsDeleted(Writer &writer, qint64 time, const QList<qint64> &ids);
    qint64 bookKey(Writer &writer, qint64 cardId, const QString &name);
    // A step of a change; false, with the failure kept, unless it is done.
    bool run(SqlStatement &stmt);
    bool step(SqlStatement &stmt, bool &found);
    bool keepFailure(const SqlStatement &stmt);
    bool writeQueue(int lockWait);
    void reportFailure(const QString &failure, int code, const QString &message);
    bool countDays(SqlStatement &stmt, const Progress::Period &period,
                   QList<Progress::DayCount> &days);
    bool answeredOn(const Progress::Period &day, qint64 bookKey, bool &answered);
    void scheduleFlush(int milliseconds);
    // Whether there is a log, or will be one once the queue is written.
    bool holdsAnything() const;

    QString path;
    const WallClock *clock;
    std::vector<Change> queue;
    QTimer flushTimer;
    ElapsedClock lockedSince;
    bool writing = false;
    bool failureShownOnce = false;
    // The first failure of a write, kept for the report once the
    // transaction is over.
    QString failedText;
    int failedCode = SQLITE_OK;
    QString failedMessage;
    // The log's numbers of the present books, by their ids in the card file.
    struct KnownBook
    {
        qint64 key;
        QString name;
    };
    QHash<qint64, KnownBook> bookKeys;
    // False after a write failed, until the next one reads them again.
    bool bookKeysKnown = false;
};

#endif
