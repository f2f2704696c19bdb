#ifndef NIVLETCORE_H
#define NIVLETCORE_H

#include "answerhistory.h"
#include "backups.h"
#include "book.h"
#include "dbhandler.h"
#include "nivlet.h"
#include "options.h"
#include "rankselector.h"
#include "recordarena.h"

#include <QDateTime>
#include <QList>
#include <QTimer>

#include <memory>

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

    int bookCount() const;
    Book *book(int index) const;
    Book *findBook(qint64 id) const;
    Book *findBookByName(const QString &name) const;
    Book *firstActiveBook() const;
    int totalNivletCount() const;
    int activeNivletCount() const;

    Nivlet *randomActiveNivlet() const;
    Nivlet *nextNivlet();
    void setPendingNivlet(Nivlet *nivlet);

    int countNivletsOfBook(qint64 bookId);
    Nivlet *getNivlet(qint64 id);
    bool addNivlet(Book *book, const QString &question, const QString &answer, bool active);
    bool editNivlet(qint64 id, const QString &question, const QString &answer, bool active);
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
    // A crossword's check: the rates that changed written as
    // setKnowledgeRates writes them; gives how many could not be.
    int recordAnswers(const QList<JudgedAnswer> &answers, AnswerHistory::Source source);
    // The answer history beside the file; the store owns it.
    AnswerHistory *history() { return &answerLog; }
    // The clock the history stamps answers with.
    void setWallClock(const WallClock *clock);
    bool deleteNivlet(qint64 id, Book *book);
    bool deleteNivlets(const QList<Nivlet *> &nivlets);
    QList<Nivlet *> *search(const QString &text, Book *book, bool onlyActive);

    Book *addBook(const QString &name, bool active);
    bool editBook(Book *book, const QString &name, bool active);
    bool deleteBook(Book *book);
    bool deleteBooks(const QList<Book *> &list);

    Options *options();
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

    QList<Book *> books;
    QList<Nivlet *> activeNivlets;
    bool activeListStale;
    qint64 lastAskedId;
    Nivlet *pendingNivlet;
    Options *optionsCache;
    RankSelector selector;
    bool backupFailureShown = false;

signals:
    void booksChanged();
    void backupProgress(int pagesCopied, int pageCount);
    void backupFinished(bool ok);

private:
    Nivlet *readNivlet(const SqlStatement &stmt) const;
    int countNivlets(SqlStatement &stmt, qint64 bookId);
    bool deleteBookRows(qint64 bookId, const char *failure);
    bool beginBackup(const QDateTime &now);
    void backupTurn();
    void endBackup();
    void reportBackup(const BackupCopy &copy, bool mayShow);
    void clearActiveNivlets();
    Nivlet *otherThanLastAsked(Nivlet *drawn) const;

    // Deleted books, kept until the store goes, since records handed out
    // before the deletion may still point at them.
    QList<Book *> retiredBooks;

    RecordArena activeRecords;
    // Ascending ids without repeats, so that findBook may search by halves.
    bool booksInIdOrder;

    // Before the backup: a backup in the making copies from its connection.
    AnswerHistory answerLog;
    std::unique_ptr<BackupCopy> backup;
    QTimer backupTimer;
    BackupPace backupPace;
};

#endif
