#ifndef BACKUPS_H
#define BACKUPS_H

#include <QDateTime>
#include <QFile>
#include <QString>
#include <QStringList>

#include <sqlite3.h>

// Copies of the database in a folder of their own, named after the moment
// they were begun ("nivlets-2026-12-08_09-05-00"). Each is made from the open
// connection with SQLite's online backup API (see BackupCopy), so it is a
// whole database of one moment even while the file is in use; a copy is
// written under a temporary name and renamed only when it is complete. The
// answer history comes along as a file of the same moment with the same stamp
// ("nivlets-history-2026-12-08_09-05-00"). Only the newest `kept` copies stay,
// each with its history.
class Backups
{
public:
    static constexpr int kept = 10;
    static constexpr qint64 maxAgeSeconds = 24 * 60 * 60;

    explicit Backups(const QString &folder);

    // The backups' file names, oldest first; the histories beside them are
    // not counted.
    QStringList files() const;
    // The name of the history copied together with a backup.
    static QString historyName(const QString &backupName);
    // True unless a backup was begun within the day before now.
    bool isDue(const QDateTime &now) const;
    // Removes all but the newest `kept` backups; false with errorText().
    bool prune();
    QString errorText() const { return failure; }

    // The moment a backup's name tells, invalid for other names.
    static QDateTime timeOf(const QString &fileName);

private:
    QString folder;
    QString failure;
};

// How a backup is copied from the event loop: steps of pagesPerStep pages,
// as many as fit in turnMilliseconds, then pauseMilliseconds for the loop's
// other work. A turn of 0 milliseconds takes one step.
struct BackupPace
{
    int pagesPerStep = 256;
    int turnMilliseconds = 20;
    int pauseMilliseconds = 0;
};

// One backup in the making, copied a few pages at a time from the
// connection it was begun on. That connection may go on writing between the
// steps: SQLite passes each change on to the copy, which ends as the file of
// the moment of its last step. Until it is complete the copy is a file
// "<name>.partial", which goes again if the copy fails or is given up.
//
// With a history connection, the history is copied beside it in the same
// steps, but its last pages only in the step that copies the database's
// last: both files are then of the same moment.
class BackupCopy
{
public:
    enum class State { Copying, Done, Failed };

    // Begins a copy of db's main database in folder, named after now; one
    // that cannot begin is Failed at once.
    BackupCopy(sqlite3 *db, const QString &folder, const QDateTime &now,
               sqlite3 *history = nullptr);
    // A copy given up before it is done leaves nothing behind.
    ~BackupCopy();
    BackupCopy(const BackupCopy &) = delete;
    BackupCopy &operator=(const BackupCopy &) = delete;

    // Copies up to `pages` more pages, all that are left for -1. With the
    // last page the copy is written out, takes its name, and the backups
    // beyond the newest `kept` go.
    State step(int pages);

    State state() const { return current; }
    QString errorText() const { return failure; }
    QString fileName() const { return cards.name; }
    // Both are 0 before the first step; they count the history's pages too.
    int pageCount() const { return cards.total + history.total; }
    int pagesCopied() const { return cards.total - cards.left + history.total - history.left; }

private:
    // One file of the copy: the database, or its history.
    struct Piece
    {
        bool begin(sqlite3 *source, const QString &partialName);
        // SQLITE_OK while pages are left, SQLITE_DONE after the last.
        int step(int pages);
        // Writes the copy out; an empty text when it went well.
        QString finish();
        void release();

        QString name;
        QString partial;
        sqlite3 *copy = nullptr;
        sqlite3_backup *backup = nullptr;
        // The partial file once more, to have its pages written out as they
        // come, where SQLite would write them all at the end.
        QFile written;
        QString failure;
        int total = 0;
        int left = 0;
    };

    void fail(const QString &text);
    void complete();
    bool completePiece(Piece &piece);

    QString folder;
    Piece cards;
    Piece history;
    bool withHistory = false;
    State current = State::Copying;
    QString failure;
};

#endif
