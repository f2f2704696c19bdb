#ifndef NIVLETCORE_H
#define NIVLETCORE_H

#include "activelist.h"
#include "answerhistory.h"
#include "backups.h"
#include "book.h"
#include "dbhandler.h"
#include "nivlet.h"
#include "options.h"

#include <QDateTime>
#include <QList>
#include <QTimer>

#include <memory>
#include <vector>

class NivletCoreTestAccess;

// The one owner of all persistent data. Every change goes to the database at
// once; the active list is only marked stale and reloaded on demand.
class NivletCore : public DBHandler
{
    Q_OBJECT

public:
    explicit NivletCore(QObject *parent = nullptr);
    ~NivletCore() override;

    bool open();
    bool reloadActiveNivlets();

    const QList<Book *> &books() const { return bookList; }
    int bookCount() const;
    Book *book(int index) const;
    Book *findBook(qint64 id) const;
    Book *findBookByName(const QString &name) const;
    Book *firstActiveBook() const;
    int totalNivletCount() const;

    // The list as last loaded, for as long as the caller holds it: a reload
    // puts a new one in its place and leaves this one to its holders.
    std::shared_ptr<const ActiveList> activeList() const { return active; }
    // Whether a change may have made the loaded list differ from the file.
    bool activeListStale() const { return stale; }
    int activeNivletCount() const;
    Nivlet *randomActiveNivlet() const;
    // Records of the current list; hold activeList() to keep one longer
    // than until the next reload.
    Nivlet *nextNivlet();
    // A record of an older list stands for the current list's record of the
    // same nivlet, or for none when the nivlet is no longer active.
    void setPendingNivlet(Nivlet *nivlet);
    Nivlet *pendingNivlet() const { return pending; }
    qint64 lastAskedId() const { return lastAsked; }

    int countNivletsOfBook(qint64 bookId);
    std::unique_ptr<Nivlet> getNivlet(qint64 id);
    bool addNivlet(Book *book, const QString &question, const QString &answer, bool isActive);
    bool editNivlet(qint64 id, const QString &question, const QString &answer, bool isActive);
    bool setKnowledgeRate(qint64 id, double rate);
    struct RateChange
    {
        qint64 id;
        double rate;
    };
    // Writes each rate on its own and reports the failures together in one
    // box; gives how many could not be written, and which were, when asked.
    int setKnowledgeRates(const QList<RateChange> &changes, QList<bool> *written = nullptr);

    // An answer the program judged: its nivlet's new rate is written, and
    // the answer recorded in the history with the rate before and the rate
    // the file now holds. The history's failures never fail the answer.
    struct JudgedAnswer
    {
        Nivlet *nivlet;
        AnswerHistory::Verdict verdict;
        double rate;
    };
    bool recordAnswer(const JudgedAnswer &answer, AnswerHistory::Source source);
    // A crossword's check: with writeRates, every answer's rate written as
    // setKnowledgeRates writes them (a rate that stays the same as well, so
    // the list is read again after every check that moves rates); gives how
    // many could not be. Without, the answers are only recorded.
    int recordAnswers(const QList<JudgedAnswer> &answers, AnswerHistory::Source source,
                      bool writeRates);
    // The answer history beside the file; the store owns it.
    AnswerHistory *history() { return &answerLog; }
    // The clock the history stamps answers with.
    void setWallClock(const WallClock *clock);
    bool deleteNivlet(qint64 id, Book *book);
    bool deleteNivlets(const QList<Nivlet *> &nivlets);
    // Null after a failure, which has been reported.
    std::unique_ptr<NivletRecords> search(const QString &text, Book *book, bool onlyActive);

    Book *addBook(const QString &name, bool isActive);
    bool editBook(Book *book, const QString &name, bool isActive);
    bool deleteBook(Book *book);
    bool deleteBooks(const QList<Book *> &list);

    Options *options();
    // The options as last read or written, without reading them: null
    // before the first read.
    const Options *cachedOptions() const { return optionsCache.get(); }
    bool setOptions(const Options &options);

    // Copies of the file in the folder "backups" beside it (see Backups),
    // made in steps from the event loop while the program goes on working;
    // backupFinished() tells when one is done. A failure is logged, shown
    // the first time in a run, and returned (at once when a backup cannot
    // begin); it never stops the caller's work.
    //
    // At start-up a backup is begun when none is younger than a day.
    bool backupAtStartup(const QDateTime &now = QDateTime::currentDateTime());
    // Begins the backup a deletion waits for. A backup already in the making
    // serves instead: it is copied from this connection, so it holds every
    // change up to its end.
    bool backupBeforeDeletion(const QDateTime &now = QDateTime::currentDateTime());
    bool backupRunning() const;
    // Copies what is left of a backup in the making at once.
    void finishBackup();
    void setBackupPace(const BackupPace &pace);

    static constexpr int searchLimit = 200;
    static constexpr int minInterval = 60;
    static constexpr int maxInterval = 240 * 60;
    static const char backupFolder[];

signals:
    void booksChanged();
    void backupProgress(int pagesCopied, int pageCount);
    void backupFinished(bool ok);

private:
    // The tests' way to put the selection state where a case needs it.
    friend class NivletCoreTestAccess;

    Nivlet *readNivlet(const SqlStatement &stmt) const;
    int countNivlets(SqlStatement &stmt, qint64 bookId);
    // A change of one nivlet's row: done when it met the row, which makes
    // the loaded list stale.
    bool changeNivlet(SqlStatement &stmt, qint64 id);
    bool deleteBookRows(qint64 bookId, const char *failure);
    bool beginBackup(const QDateTime &now);
    void backupTurn();
    void endBackup();
    void reportBackup(const BackupCopy &copy, bool mayShow);
    Nivlet *otherThanLastAsked(Nivlet *drawn) const;
    Book *shelve(std::unique_ptr<Book> book);

    // Every book the store has made, deleted ones too, since records handed
    // out before a deletion may still point at them. Each loaded list shares
    // it, so that a list held past the store's end still has its books.
    using BookShelf = std::vector<std::unique_ptr<Book>>;
    std::shared_ptr<BookShelf> shelf;
    // The books of the file, in its order.
    QList<Book *> bookList;
    // Ascending ids without repeats, so that findBook may search by halves.
    bool booksInIdOrder = true;

    std::shared_ptr<ActiveList> active;
    bool stale = true;
    qint64 lastAsked = -1;
    // A record of the current list, or null.
    Nivlet *pending = nullptr;
    std::unique_ptr<Options> optionsCache;

    // Before the backup: a backup in the making copies from its connection.
    AnswerHistory answerLog;
    std::unique_ptr<BackupCopy> backup;
    QTimer backupTimer;
    BackupPace backupPace;
    bool backupFailureShown = false;
};

#endif
