#include "singleinstance.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstring>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString homeOfUser()
{
    const struct passwd *entry = ::getpwuid(::geteuid());
    if (!entry || !entry->pw_dir || !*entry->pw_dir)
        return QString();
    return QFile::decodeName(entry->pw_dir);
}

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// mkdir either makes the folder or finds it made: there is no moment
// between a check and the creation in which another start can step in.
bool makeFolder(const QString &path, mode_t mode, QString *why)
{
    if (::mkdir(QFile::encodeName(path).constData(), mode) == 0 || errno == EEXIST)
        return true;
    *why = systemError(errno);
    return false;
}

} // namespace

SingleInstance::SingleInstance() = default;

SingleInstance::~SingleInstance() = default;

QString SingleInstance::lockFolder()
{
    const QString home = homeOfUser();
    if (home.isEmpty())
        return QString();
    return QDir(home).filePath(QStringLiteral(".cache/nivlets-runtime"));
}

// Keyed by the program's own file, so every start of one installed program
// meets the same lock whatever its working directory.
QString SingleInstance::lockFilePath(const QString &programFile)
{
    const QString program = QFileInfo(programFile).canonicalFilePath();
    const QByteArray hash =
        QCryptographicHash::hash(program.toUtf8(), QCryptographicHash::Sha256).toHex().left(32);
    return QDir(lockFolder())
        .filePath(QStringLiteral("nivlets-%1.lock").arg(QString::fromLatin1(hash)));
}

bool SingleInstance::makePrivateFolder(const QString &path, QString *why)
{
    if (!makeFolder(path, S_IRWXU, why))
        return false;
    // lstat, so a link planted under the folder's name is not followed.
    struct stat info;
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0) {
        *why = systemError(errno);
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        *why = QStringLiteral("it is not a folder");
        return false;
    }
    if (info.st_uid != ::geteuid()) {
        *why = QStringLiteral("it belongs to another user");
        return false;
    }
    if (info.st_mode & (S_IRWXG | S_IRWXO)) {
        *why = QStringLiteral("other users can reach it");
        return false;
    }
    return true;
}

SingleInstance::Result SingleInstance::tryLock()
{
    failure.clear();
    const QString folder = lockFolder();
    if (folder.isEmpty()) {
        failure = QStringLiteral("Could not lock out a second start: the user id %1 has no home "
                                 "folder.")
                      .arg(::geteuid());
        return Failed;
    }
    QString why;
    const QString cache = QFileInfo(folder).path();
    if (!makeFolder(cache, S_IRWXU, &why) || !makePrivateFolder(folder, &why)) {
        failure = QStringLiteral("Could not lock out a second start in the folder %1: %2.")
                      .arg(QDir::toNativeSeparators(folder), why);
        return Failed;
    }
    lock = std::make_unique<QLockFile>(lockFilePath(QCoreApplication::applicationFilePath()));
    // Only a live owner counts: a lock left by a crash names a dead process.
    lock->setStaleLockTime(0);
    const QString mark = trayWaitPath(lock->fileName());
    if (lock->tryLock()) {
        // Left by a start that was killed while it waited.
        QFile::remove(mark);
        return Obtained;
    }
    if (lock->error() == QLockFile::LockFailedError) {
        // The mark counts only when it names the process that holds the
        // lock: one left by a killed start names a process that holds nothing.
        qint64 holder = 0;
        QFile file(mark);
        if (lock->getLockInfo(&holder, nullptr, nullptr) && file.open(QIODevice::ReadOnly) &&
            file.readAll().trimmed() == QByteArray::number(holder))
            return StillStarting;
        return AlreadyRunning;
    }
    failure = QStringLiteral("Could not lock out a second start in the folder %1: the file %2 "
                             "could not be created there.")
                  .arg(QDir::toNativeSeparators(folder), QFileInfo(lock->fileName()).fileName());
    return Failed;
}

QString SingleInstance::failureText() const
{
    return failure;
}

QString SingleInstance::trayWaitPath(const QString &lockFile)
{
    return lockFile + QStringLiteral(".traywait");
}

void SingleInstance::setWaitingForTray(bool waiting)
{
    if (!lock || !lock->isLocked())
        return;
    const QString mark = trayWaitPath(lock->fileName());
    if (!waiting) {
        QFile::remove(mark);
        return;
    }
    // Written whole or not at all, so a start never reads half a number. A
    // mark that cannot be written only costs a later start the right words.
    QSaveFile file(mark);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(QByteArray::number(QCoreApplication::applicationPid()) + '\n');
        file.commit();
    }
}
