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
    enum Result { Obtained, AlreadyRunning, Failed };

    SingleInstance();
    ~SingleInstance();

    Result tryLock();
    // Why the last tryLock failed, naming the folder.
    QString failureText() const;

    static QString lockFolder();
    static QString lockFilePath(const QString &programFile);
    // Creates the folder readable by its owner only, or accepts it when it
    // exists as such; a start racing this one may have made it a moment
    // before. False with the reason in why otherwise.
    static bool makePrivateFolder(const QString &path, QString *why);

private:
    std::unique_ptr<QLockFile> lock;
    QString failure;
};

#endif
