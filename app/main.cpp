#include "errorboxpresenter.h"
#include "log.h"
#include "mainwindow.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QMessageBox>
#include <QStandardPaths>

#include <memory>

#include <unistd.h>

namespace {

constexpr QFileDevice::Permissions ownerOnly =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

// A folder no other user can reach, so nobody else can hold or fake the lock.
bool isPrivateFolder(const QString &path)
{
    constexpr QFileDevice::Permissions groupOrOther =
        QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
        QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    const QFileInfo info(path);
    const QFileDevice::Permissions permissions = info.permissions();
    return info.isDir() && info.ownerId() == geteuid() && (permissions & ownerOnly) == ownerOnly &&
           !(permissions & groupOrOther);
}

QString runtimeFolder()
{
    // Without XDG_RUNTIME_DIR the toolkit would pick a folder in the shared /tmp.
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
        if (!runtime.isEmpty() && isPrivateFolder(runtime))
            return runtime;
    }

    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (cache.isEmpty() || !QDir().mkpath(cache))
        return QString();
    const QString fallback = QDir(cache).filePath(QStringLiteral("nivlets-runtime"));
    if (!QFileInfo(fallback).exists() && !QDir().mkdir(fallback, ownerOnly))
        return QString();
    return isPrivateFolder(fallback) ? fallback : QString();
}

// Keyed by the program's own file, so every start of one installed program
// meets the same lock whatever its working directory.
QString lockFilePath(const QString &folder)
{
    const QString program = QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath();
    const QByteArray hash =
        QCryptographicHash::hash(program.toUtf8(), QCryptographicHash::Sha256).toHex().left(32);
    return QDir(folder).filePath(QStringLiteral("nivlets-%1.lock").arg(QString::fromLatin1(hash)));
}

void showAlreadyRunning()
{
    QMessageBox box;
    box.setWindowTitle(QStringLiteral("Already running!"));
    box.setText(QStringLiteral("nivlets is already running!\nPlease activate it by clicking on its "
                               "icon in the system-tray (at the lower-right corner of the "
                               "screen)."));
    box.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // A box closed while the window sits in the tray must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    installErrorBoxPresenter();

    const QString folder = runtimeFolder();
    if (folder.isEmpty()) {
        logError("Could not find a private runtime folder for the single-instance lock.", true);
        return 1;
    }
    QLockFile instanceLock(lockFilePath(folder));
    // Only a live owner counts: a lock left by a crash names a dead process.
    instanceLock.setStaleLockTime(0);
    if (!instanceLock.tryLock()) {
        if (instanceLock.error() == QLockFile::LockFailedError) {
            showAlreadyRunning();
        } else {
            logError(QStringLiteral("Could not create the single-instance lock file %1.")
                         .arg(instanceLock.fileName()),
                     true);
        }
        return 1;
    }

    auto window = std::make_unique<MainWindow>();
    if (!window->init())
        return 1;

    bool startHidden = false;
    for (int i = 1; i < argc && !startHidden; ++i)
        startHidden = qstrcmp(argv[i], "startbg") == 0;
    if (!startHidden)
        window->show();

    return app.exec();
}
