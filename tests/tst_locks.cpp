// The two locks that keep starts apart: the single-instance lock of one
// user's program and the lock beside the database that every writing
// program of the project takes.

#include "dblock.h"
#include "singleinstance.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

class TestLocks : public QObject
{
    Q_OBJECT

private slots:
    void privateFolderIsMade();
    void privateFolderRace();
    void unfitFolderRefused_data();
    void unfitFolderRefused();
    void lockFolderIgnoresEnvironment();
    void lockFileFollowsTheProgramFile();
    void laterStartHearsOfTheTrayWait();
    void markOfAKilledStartCountsForNothing();

    void databaseLockObtainedAndReleased();
    void databaseLockHeldInThisProcess();
    void databaseLockHeldByAnotherProcess();
    void databaseLockOfDeadProcessTakenOver();
    void databaseLockInMissingFolder();
};

void TestLocks::privateFolderIsMade()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("private"));
    QString why;
    QVERIFY2(SingleInstance::makePrivateFolder(path, &why), qPrintable(why));
    QVERIFY(QFileInfo(path).isDir());
    QCOMPARE(QFileInfo(path).permissions() & ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser),
             QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // Made already, by this start or another: accepted as it is.
    QVERIFY2(SingleInstance::makePrivateFolder(path, &why), qPrintable(why));
}

// Starts at the same moment all make the folder; none may fail because
// another made it between its look and its creation.
void TestLocks::privateFolderRace()
{
    QTemporaryDir dir;
    constexpr int rounds = 200;
    constexpr int racers = 4;
    int failures = 0;
    QString firstWhy;
    for (int round = 0; round < rounds; ++round) {
        const QString path = dir.filePath(QStringLiteral("race%1").arg(round));
        std::atomic<int> waiting = racers;
        std::atomic<int> failed = 0;
        std::vector<std::thread> threads;
        QString why[racers];
        for (int i = 0; i < racers; ++i) {
            threads.emplace_back([&, i] {
                --waiting;
                while (waiting > 0)
                    std::this_thread::yield();
                if (!SingleInstance::makePrivateFolder(path, &why[i]))
                    ++failed;
            });
        }
        for (std::thread &t : threads)
            t.join();
        if (failed > 0 && firstWhy.isEmpty()) {
            for (const QString &w : why)
                firstWhy += w;
        }
        failures += failed;
    }
    QVERIFY2(failures == 0,
             qPrintable(QStringLiteral("%1 failures: %2").arg(failures).arg(firstWhy)));
}

void TestLocks::unfitFolderRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("open to others") << "open"
                                    << "other users can reach it";
    QTest::newRow("a file") << "file"
                            << "it is not a folder";
    QTest::newRow("a link to a private folder") << "link"
                                                << "it is not a folder";
    QTest::newRow("another user's") << "foreign"
                                    << "it belongs to another user";
}

void TestLocks::unfitFolderRefused()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("lock"));
    if (kind == QLatin1String("open")) {
        QVERIFY(QDir().mkdir(path));
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                QFile::ReadOther | QFile::ExeOther));
    } else if (kind == QLatin1String("file")) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    } else if (kind == QLatin1String("link")) {
        const QString target = dir.filePath(QStringLiteral("target"));
        QVERIFY(QDir().mkdir(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(QFile::link(target, path));
    } else {
        QVERIFY(QDir().mkdir(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        const struct passwd *nobody = ::getpwnam("nobody");
        if (!nobody ||
            ::chown(QFile::encodeName(path).constData(), nobody->pw_uid, nobody->pw_gid) != 0)
            QSKIP("handing a folder to the user nobody needs root");
    }
    QString why;
    QVERIFY(!SingleInstance::makePrivateFolder(path, &why));
    QCOMPARE(why, reason);
}

void TestLocks::lockFolderIgnoresEnvironment()
{
    const struct passwd *entry = ::getpwuid(::geteuid());
    QVERIFY(entry);
    const QString expected =
        QDir(QFile::decodeName(entry->pw_dir)).filePath(QStringLiteral(".cache/nivlets-runtime"));
    QCOMPARE(SingleInstance::lockFolder(), expected);
    QTemporaryDir elsewhere;
    const QByteArray names[] = {"HOME", "XDG_RUNTIME_DIR", "XDG_CACHE_HOME"};
    QList<QByteArray> saved;
    for (const QByteArray &name : names) {
        saved << qgetenv(name.constData());
        qputenv(name.constData(), QFile::encodeName(elsewhere.path()));
    }
    const QString moved = SingleInstance::lockFolder();
    qunsetenv("XDG_RUNTIME_DIR");
    const QString withoutRuntime = SingleInstance::lockFolder();
    for (int i = 0; i < saved.size(); ++i) {
        if (saved.at(i).isNull())
            qunsetenv(names[i].constData());
        else
            qputenv(names[i].constData(), saved.at(i));
    }
    QCOMPARE(moved, expected);
    QCOMPARE(withoutRuntime, expected);
}

void TestLocks::lockFileFollowsTheProgramFile()
{
    QTemporaryDir dir;
    const QString one = dir.filePath(QStringLiteral("one"));
    const QString two = dir.filePath(QStringLiteral("two"));
    QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), one));
    QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), two));
    const QString link = dir.filePath(QStringLiteral("link"));
    QVERIFY(QFile::link(one, link));
    QCOMPARE(QFileInfo(SingleInstance::lockFilePath(one)).path(), SingleInstance::lockFolder());
    QVERIFY(SingleInstance::lockFilePath(one) != SingleInstance::lockFilePath(two));
    // One installed program is one program, by whichever path it is started.
    QCOMPARE(SingleInstance::lockFilePath(link), SingleInstance::lockFilePath(one));
}

namespace {
// A start of this test program that takes the single-instance lock and
// waits for a tray until told otherwise.
bool startWaiter(QProcess &child)
{
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("wait-for-tray")});
    return child.waitForStarted() && child.waitForReadyRead(10000) &&
           child.readLine() == QByteArray("waiting\n");
}
} // namespace

void TestLocks::laterStartHearsOfTheTrayWait()
{
    QProcess child;
    QVERIFY(startWaiter(child));
    {
        SingleInstance later;
        QCOMPARE(later.tryLock(), SingleInstance::StillStarting);
    }
    child.write("shown\n");
    QVERIFY(child.waitForReadyRead(10000));
    QCOMPARE(child.readLine(), QByteArray("shown\n"));
    {
        SingleInstance later;
        QCOMPARE(later.tryLock(), SingleInstance::AlreadyRunning);
    }
    child.write("quit\n");
    QVERIFY(child.waitForFinished(10000));
    QCOMPARE(child.exitCode(), 0);
    SingleInstance afterwards;
    QCOMPARE(afterwards.tryLock(), SingleInstance::Obtained);
}

void TestLocks::markOfAKilledStartCountsForNothing()
{
    const QString mark = SingleInstance::trayWaitPath(
        SingleInstance::lockFilePath(QCoreApplication::applicationFilePath()));
    QProcess killed;
    QVERIFY(startWaiter(killed));
    const QByteArray killedPid = QByteArray::number(killed.processId());
    killed.kill();
    QVERIFY(killed.waitForFinished(10000));
    QCOMPARE(TestSupport::readBytes(mark).trimmed(), killedPid);

    // A running instance that does not wait: the mark names another process.
    QProcess running;
    QVERIFY(startWaiter(running));
    running.write("shown\n");
    QVERIFY(running.waitForReadyRead(10000));
    QCOMPARE(running.readLine(), QByteArray("shown\n"));
    {
        QFile file(mark);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(killedPid + '\n');
    }
    {
        SingleInstance later;
        QCOMPARE(later.tryLock(), SingleInstance::AlreadyRunning);
    }
    running.write("quit\n");
    QVERIFY(running.waitForFinished(10000));

    // The next owner of the lock clears the mark that was left behind.
    QVERIFY(QFile::exists(mark));
    SingleInstance next;
    QCOMPARE(next.tryLock(), SingleInstance::Obtained);
    QVERIFY(!QFile::exists(mark));
}

void TestLocks::databaseLockObtainedAndReleased()
{
    QTemporaryDir dir;
    {
        DatabaseLock lock(dir.path());
        QVERIFY(lock.tryLock());
        QVERIFY(lock.isLocked());
        QVERIFY(!lock.heldByOther());
        QVERIFY(lock.failureText().isEmpty());
        QCOMPARE(lock.filePath(), QDir(dir.path()).filePath(QStringLiteral("nivlets.lock")));
        QVERIFY(QFile::exists(lock.filePath()));
    }
    QVERIFY(!QFile::exists(QDir(dir.path()).filePath(QStringLiteral("nivlets.lock"))));
    DatabaseLock again(dir.path());
    QVERIFY(again.tryLock());
}

void TestLocks::databaseLockHeldInThisProcess()
{
    QTemporaryDir dir;
    DatabaseLock first(dir.path());
    QVERIFY(first.tryLock());
    DatabaseLock second(dir.path());
    QVERIFY(!second.tryLock());
    QVERIFY(second.heldByOther());
    QCOMPARE(second.ownerPid(), QCoreApplication::applicationPid());
    QCOMPARE(second.failureText(),
             QStringLiteral("The database in %1 is in use by another program (tst_locks, process "
                            "%2); only one program at a time may work on it.")
                 .arg(dir.path())
                 .arg(QCoreApplication::applicationPid()));
    first.unlock();
    QVERIFY(second.tryLock());
}

void TestLocks::databaseLockHeldByAnotherProcess()
{
    QTemporaryDir dir;
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("hold"), dir.path()});
    QVERIFY(child.waitForStarted());
    QVERIFY(child.waitForReadyRead(10000));
    QCOMPARE(child.readLine(), QByteArray("locked\n"));

    DatabaseLock lock(dir.path());
    QVERIFY(!lock.tryLock());
    QVERIFY(lock.heldByOther());
    QCOMPARE(lock.ownerPid(), child.processId());
    QCOMPARE(lock.ownerName(), QStringLiteral("tst_locks"));
    QVERIFY2(lock.failureText().contains(dir.path()), qPrintable(lock.failureText()));

    child.write("release\n");
    QVERIFY(child.waitForFinished(10000));
    QCOMPARE(child.exitCode(), 0);
    QVERIFY(lock.tryLock());
}

void TestLocks::databaseLockOfDeadProcessTakenOver()
{
    QTemporaryDir dir;
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("hold"), dir.path()});
    QVERIFY(child.waitForStarted());
    QVERIFY(child.waitForReadyRead(10000));
    child.kill();
    QVERIFY(child.waitForFinished(10000));
    QVERIFY(QFile::exists(QDir(dir.path()).filePath(QStringLiteral("nivlets.lock"))));

    DatabaseLock lock(dir.path());
    QVERIFY(lock.tryLock());
}

void TestLocks::databaseLockInMissingFolder()
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("gone"));
    DatabaseLock lock(missing);
    QVERIFY(!lock.tryLock());
    QVERIFY(!lock.heldByOther());
    QVERIFY2(lock.failureText().startsWith(
                 QStringLiteral("Could not lock the database in %1: ").arg(missing)),
             qPrintable(lock.failureText()));
}

// "hold FOLDER": takes the database lock, says so and keeps it until told.
int holdMain(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    DatabaseLock lock(QString::fromLocal8Bit(argv[2]));
    if (!lock.tryLock())
        return 2;
    std::puts("locked");
    std::fflush(stdout);
    char line[64];
    return std::fgets(line, sizeof line, stdin) ? 0 : 3;
}

// "wait-for-tray": takes the single-instance lock and waits for a tray,
// says so, stops waiting when told "shown" and ends when told "quit".
int waitForTrayMain(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    SingleInstance instance;
    if (instance.tryLock() != SingleInstance::Obtained)
        return 2;
    instance.setWaitingForTray(true);
    std::puts("waiting");
    std::fflush(stdout);
    char line[64];
    while (std::fgets(line, sizeof line, stdin)) {
        if (qstrcmp(line, "shown\n") == 0) {
            instance.setWaitingForTray(false);
            std::puts("shown");
            std::fflush(stdout);
        } else if (qstrcmp(line, "quit\n") == 0) {
            return 0;
        }
    }
    return 3;
}

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], "hold") == 0)
        return holdMain(argc, argv);
    if (argc == 2 && qstrcmp(argv[1], "wait-for-tray") == 0)
        return waitForTrayMain(argc, argv);
    QCoreApplication app(argc, argv);
    TestLocks test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_locks.moc"
