#ifndef SINGLEINSTANCE_H
#define SINGLEINSTANCE_H

#include <QLockFile>
#include <QString>

#include <memory>

// Lets one user run one program file once. The lock lies in a private
// folder under the home that the password database names for the user, so
// no variable of the environment (XDG_RUNTIME_DIR, HOME, XDG_CACHE_HOME)
// can make two starts miss each other.
class SingleInstance
{
public:
    // StillStarting: the running instance has not shown itself yet; it
    // waits for a system tray to put its icon into.
    enum Result { Obtained, AlreadyRunning, StillStarting, Failed };

    SingleInstance();
    ~SingleInstance();

    Result tryLock();
    // Why the last tryLock failed, naming the folder.
    QString failureText() const;
    // Tells later starts, while the lock is held, that this one is still
    // waiting for a system tray.
    void setWaitingForTray(bool waiting);

    static QString lockFolder();
    static QString lockFilePath(const QString &programFile);
    // Creates the folder readable by its owner only, or accepts it when it
    // exists as such; a start racing this one may have made it a moment
    // before. False with the reason in why otherwise.
    static bool makePrivateFolder(const QString &path, QString *why);
    // The file beside the lock that names the process that is waiting for
    // a system tray.
    static QString trayWaitPath(const QString &lockFile);

private:
    std::unique_ptr<QLockFile> lock;
    QString failure;
};

#endif
