#include "dblock.h"

#include <QDir>

const char DatabaseLock::fileName[] = "nivlets.lock";

DatabaseLock::DatabaseLock(const QString &folder)
    : lockFolder(QDir(folder).absolutePath()),
      lock(QDir(lockFolder).filePath(QString::fromLatin1(fileName))), pid(0)
{
    // Only a live owner counts: a lock left by a crash names a dead process
    // and is taken over, however young it is.
    lock.setStaleLockTime(0);
}

bool DatabaseLock::tryLock()
{
    pid = 0;
    owner.clear();
    if (lock.tryLock())
        return true;
    if (lock.error() == QLockFile::LockFailedError)
        lock.getLockInfo(&pid, nullptr, &owner);
    return false;
}

bool DatabaseLock::isLocked() const
{
    return lock.isLocked();
}

void DatabaseLock::unlock()
{
    lock.unlock();
}

bool DatabaseLock::heldByOther() const
{
    return !lock.isLocked() && lock.error() == QLockFile::LockFailedError;
}

qint64 DatabaseLock::ownerPid() const
{
    return pid;
}

QString DatabaseLock::ownerName() const
{
    return owner;
}

QString DatabaseLock::failureText() const
{
    if (lock.isLocked())
        return QString();
    switch (lock.error()) {
    case QLockFile::NoError:
        return QString();
    case QLockFile::LockFailedError:
        return QStringLiteral("The database in %1 is in use by another program (%2, process %3); "
                              "only one program at a time may work on it.")
            .arg(QDir::toNativeSeparators(lockFolder),
                 owner.isEmpty() ? QStringLiteral("unknown") : owner, QString::number(pid));
    case QLockFile::PermissionError:
        return QStringLiteral("Could not lock the database in %1: there is no permission to "
                              "create the file %2 there.")
            .arg(QDir::toNativeSeparators(lockFolder), QString::fromLatin1(fileName));
    case QLockFile::UnknownError:
        break;
    }
    return QStringLiteral("Could not lock the database in %1: the file %2 could not be written "
                          "there (is the folder missing or the disk full?).")
        .arg(QDir::toNativeSeparators(lockFolder), QString::fromLatin1(fileName));
}

QString DatabaseLock::folder() const
{
    return lockFolder;
}

QString DatabaseLock::filePath() const
{
    return lock.fileName();
}
