#ifndef DBLOCK_H
#define DBLOCK_H

#include <QLockFile>
#include <QString>

// The lock file "nivlets.lock" beside a database file "nivlets". Every
// program of the project that writes a database takes it before it opens
// the file, so no two programs (nor the program and a tool) ever write one
// file at the same time.
class DatabaseLock
{
public:
    explicit DatabaseLock(const QString &folder);

    static const char fileName[];

    bool tryLock();
    bool isLocked() const;
    void unlock();

    // After a failed tryLock: whether a live process holds the lock, which
    // one, and the reason to show, naming the folder.
    bool heldByOther() const;
    qint64 ownerPid() const;
    QString ownerName() const;
    QString failureText() const;

    QString folder() const;
    QString filePath() const;

private:
    QString lockFolder;
    QLockFile lock;
    qint64 pid;
    QString owner;
};

#endif
