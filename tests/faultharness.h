// The harness the fault tests share: their fixture, a connection that no
// fault reaches, the store's changes with probes that tell from the file
// whether each one reached it, the means of making files and folders
// unwritable that undo themselves even when a test is killed, the second
// process a test starts, and the main function that puts every fault test
// into a mount namespace of its own.
#ifndef FAULTHARNESS_H
#define FAULTHARNESS_H

#include "testsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTest>

#include <sqlite3.h>

#include <functional>

#include <signal.h>

class NivletCore;

// Helpers report through QTest; the caller must stop as soon as one failed.
#define CHECKED(call)                                                                              \
    do {                                                                                           \
        call;                                                                                      \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)

namespace FaultHarness {

const char fixtureSql[] =
    "INSERT INTO book (id, name, active) VALUES (1, 'Alpha', 1), (2, 'Beta', 1), "
    "(3, 'Gamma', 0);"
    "INSERT INTO nivlet (id, active, kn_rate, book_id, question, answer) VALUES "
    "(1, 1, 0.1, 1, 'q1', 'a1'), (2, 1, 0.2, 1, 'q2', 'a2'), (3, 0, 0.3, 1, 'q3', 'a3'), "
    "(4, 1, 0.4, 2, 'q4', 'a4'), (5, 1, 0.5, 3, 'q5', 'a5');";

constexpr QLatin1String lockedMessage("database is locked");

// Tests that expect a lock to be reported wait this long, not the few
// seconds a user's store waits.
constexpr int shortWait = 50;

const char readOnlyMessage[] = "attempt to write a readonly database";

QString report(const QString &failure, int code, const QString &message);

// A connection of the test's own through the plain unix VFS, so that no
// armed fault ever reaches it. Opened for writing it rolls back a hot
// journal left by a crash, as the next run of the program would.
class Plain
{
public:
    explicit Plain(const QString &file, bool readOnly = false)
    {
        const int flags = readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
        rc = sqlite3_open_v2(QFile::encodeName(file).constData(), &db, flags, "unix");
    }
    ~Plain() { sqlite3_close(db); }
    Plain(const Plain &) = delete;
    Plain &operator=(const Plain &) = delete;

    int exec(const char *sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }

    QString value(const QString &sql)
    {
        SqlStatement stmt(db, sql.toUtf8().constData());
        if (!stmt)
            return QStringLiteral("error: ") + stmt.errorMessage();
        if (stmt.next())
            return stmt.columnUtf8(0) ? stmt.columnText(0) : QStringLiteral("NULL");
        if (!stmt.failed())
            return QStringLiteral("no row");
        return QStringLiteral("error: ") + stmt.errorMessage();
    }

    double rate(qint64 id)
    {
        SqlStatement stmt(db, "SELECT kn_rate FROM nivlet WHERE id = ?");
        stmt.bindInt64(1, id);
        return stmt.next() ? stmt.columnDouble(0) : -1.0;
    }

    // Every schema entry and every value with its storage class, byte exact.
    QByteArray dump()
    {
        QByteArray out = rows("SELECT type, name, sql FROM sqlite_master ORDER BY name");
        QList<QByteArray> tables;
        {
            SqlStatement stmt(db,
                              "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name");
            while (stmt.next())
                tables.append(stmt.columnUtf8(0));
        }
        for (const QByteArray &table : std::as_const(tables))
            out += "table " + table + '\n' +
                   rows(("SELECT * FROM \"" + table + "\" ORDER BY rowid").constData());
        return out;
    }

    sqlite3 *db = nullptr;
    int rc = SQLITE_OK;

private:
    QByteArray rows(const char *sql)
    {
        SqlStatement stmt(db, sql);
        if (!stmt)
            return "error: " + stmt.errorMessage().toUtf8();
        QByteArray out;
        while (stmt.next()) {
            for (int c = 0; c < stmt.columnCount(); ++c) {
                const int type = stmt.columnType(c);
                const auto *bytes = static_cast<const char *>(stmt.columnBlob(c));
                const int size = stmt.columnBytes(c);
                out += QByteArray::number(type) + ':' + QByteArray::number(size) + ':' +
                       QByteArray(bytes, size) + '|';
            }
            out += '\n';
        }
        if (stmt.failed())
            out += "error: " + stmt.errorMessage().toUtf8();
        return out;
    }
};

QByteArray dumpOf(const QString &file);

QString valueOf(const QString &file, const QString &sql);

// Everything the store keeps in memory that a failed change must leave alone.
QString memoryOf(const NivletCore &store);

// One change of the store, with a probe that tells from the file alone
// whether the change reached it.
struct Op
{
    QString name;
    QString failure;
    bool loadsOptions;
    std::function<bool(NivletCore &)> run;
    QString probe;
    QString unchanged;
    QString changed;
    std::function<bool(const NivletCore &)> changedInMemory;
    // Deleting several things stops at the first failure and keeps what
    // was deleted before it: the probe and memory of that state.
    QString partial = QString();
    std::function<bool(const NivletCore &)> partialInMemory = nullptr;
};

const QList<Op> &ops();

const Op *findOp(const QString &name, bool &withoutCache);

void addOpRows();

QString logText();

void checkOneReport(const TestSupport::BoxCatcher &boxes, const QString &expected);

int runTool(const QString &program, const QStringList &args, QString *output = nullptr);

bool canWriteInto(const QString &dir);

bool canWriteFile(const QString &file);

// True when main() moved this process into a mount namespace of its own.
extern bool privateMounts;

// Sets the immutable attribute, which stops even root; cleared again on
// destruction so the temporary folder can go. A file left immutable could
// not be deleted by anyone, so a watcher outside this process clears the
// flag as well once the process has gone, however it ended.
class Immutable
{
public:
    explicit Immutable(const QString &file) : path(file)
    {
        const QString watch = QStringLiteral(
            "while kill -0 \"$1\" 2>/dev/null; do sleep 0.2; done; chattr -i -- \"$2\"");
        if (!QProcess::startDetached(QStringLiteral("sh"),
                                     {QStringLiteral("-c"), watch, QStringLiteral("sh"),
                                      QString::number(QCoreApplication::applicationPid()), path},
                                     QString(), &watcher)) {
            why = QStringLiteral("the watcher that clears the flag did not start");
            return;
        }
        QString output;
        set = runTool(QStringLiteral("chattr"), {QStringLiteral("+i"), path}, &output) == 0;
        if (!set)
            why = QStringLiteral("chattr +i %1 failed: %2").arg(path, output);
    }
    ~Immutable()
    {
        if (set)
            runTool(QStringLiteral("chattr"), {QStringLiteral("-i"), path});
        if (watcher > 0)
            ::kill(static_cast<pid_t>(watcher), SIGTERM);
    }
    Immutable(const Immutable &) = delete;
    Immutable &operator=(const Immutable &) = delete;

    QString path;
    bool set = false;
    QString why;

private:
    qint64 watcher = 0;
};

// A read-only bind mount of a folder, which refuses writes to root as well.
// Made only inside this process's own mount namespace, so that a crash or
// a time limit cannot leave it on the host.
class ReadOnlyMount
{
public:
    ReadOnlyMount(const QString &source, const QString &mountPoint) : target(mountPoint)
    {
        QString output;
        QDir().mkpath(target);
        if (!privateMounts) {
            why = QStringLiteral("no mount namespace of its own (unshare needs CAP_SYS_ADMIN)");
            return;
        }
        mounted = runTool(QStringLiteral("mount"), {QStringLiteral("--bind"), source, target},
                          &output) == 0;
        if (!mounted) {
            why = QStringLiteral("mount --bind failed: ") + output;
            return;
        }
        if (runTool(QStringLiteral("mount"),
                    {QStringLiteral("-o"), QStringLiteral("remount,ro,bind"), target},
                    &output) != 0) {
            why = QStringLiteral("remounting read-only failed: ") + output;
            readOnly = false;
            return;
        }
        readOnly = true;
    }
    ~ReadOnlyMount()
    {
        if (mounted)
            runTool(QStringLiteral("umount"), {target});
    }
    ReadOnlyMount(const ReadOnlyMount &) = delete;
    ReadOnlyMount &operator=(const ReadOnlyMount &) = delete;

    QString target;
    bool mounted = false;
    bool readOnly = false;
    QString why;
};

// Restores the working directory on the way out, before a mount goes.
class CurrentDir
{
public:
    explicit CurrentDir(const QString &dir) : previous(QDir::currentPath())
    {
        QDir::setCurrent(dir);
    }
    ~CurrentDir() { QDir::setCurrent(previous); }
    CurrentDir(const CurrentDir &) = delete;
    CurrentDir &operator=(const CurrentDir &) = delete;

private:
    QString previous;
};

// This test binary started again with "child ..." as a second process.
class Child
{
public:
    Child(const QStringList &args, const QString &dir)
    {
        process.setWorkingDirectory(dir);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QCoreApplication::applicationFilePath(),
                      QStringList{QStringLiteral("child")} + args);
    }
    ~Child()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(10000);
        }
    }
    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    bool waitForLine(const QByteArray &line, int ms = 30000)
    {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            output += process.readAllStandardOutput();
            if (lines().contains(line))
                return true;
            if (process.state() == QProcess::NotRunning || clock.elapsed() > ms)
                return false;
            process.waitForReadyRead(100);
        }
    }

    int lineCount()
    {
        output += process.readAllStandardOutput();
        return static_cast<int>(lines().size());
    }

    void killHard()
    {
        ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
        process.waitForFinished(10000);
        output += process.readAllStandardOutput();
    }

    // Only lines that were written whole count as said.
    QList<QByteArray> lines() const
    {
        QList<QByteArray> result = output.split('\n');
        result.removeLast();
        return result;
    }

    void say(const QByteArray &line)
    {
        process.write(line + '\n');
        process.waitForBytesWritten(5000);
    }

    QProcess process;
    QByteArray output;
};

bool copyTemplate(const QString &from, const QString &to);

double rateFor(qint64 id);

// The base of every fault test: the fault VFS under every connection of the
// store, disarmed again after each test function, and quiet message boxes.
class FaultTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
};

// Runs the second process when started as one, else the tests that
// runTests runs; both in a mount namespace of the process's own.
int faultMain(int argc, char **argv, const std::function<int(int, char **)> &runTests);

} // namespace FaultHarness

// The main() of a fault test's executable.
#define NIVLETS_FAULT_TEST_MAIN(TestClass)                                                         \
    int main(int argc, char **argv)                                                                \
    {                                                                                              \
        return FaultHarness::faultMain(argc, argv, [](int count, char **args) {                    \
            TestClass test;                                                                        \
            QTEST_SET_MAIN_SOURCE_PATH                                                             \
            return QTest::qExec(&test, count, args);                                               \
        });                                                                                        \
    }

#endif
