// nivlets-cards beside the running program, and the program's backups at
// start-up: the built binaries in real processes on an X server with a tray
// host. Nothing here sends input; the program is started hidden in the tray.

#include "backups.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <csignal>
#include <sqlite3.h>
#include <sys/prctl.h>

namespace {

const QString program = QStringLiteral(NIVLETS_PROGRAM);
const QString cardsProgram = QStringLiteral(NIVLETS_CARDS);
const QString database = QStringLiteral(NIVLETS_DATABASE);
const QString xhelper = QStringLiteral(NIVLETS_SOURCE_DIR "/tests/xhelper.py");

constexpr int waitTimeout = 20000;

QString scalar(const QString &file, const char *sql)
{
    return TestSupport::rows(QString::fromUtf8(sql), file).value(0, QStringLiteral("<failed>"));
}

// A working folder with the database, and a home and runtime folder of its
// own so that the program meets no other instance's lock.
class Sandbox
{
public:
    Sandbox()
    {
        QDir(root.path()).mkpath(QStringLiteral("work"));
        QDir(root.path()).mkpath(QStringLiteral("home"));
        QDir(root.path()).mkpath(QStringLiteral("runtime"));
        QFile::setPermissions(path(QStringLiteral("runtime")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QString path(const QString &name) const { return root.filePath(name); }
    QString work(const QString &name) const
    {
        return root.filePath(QStringLiteral("work/") + name);
    }

    std::unique_ptr<QProcess, void (*)(QProcess *)> start() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        env.remove(QStringLiteral("SESSION_MANAGER"));
        env.remove(QStringLiteral("XDG_CACHE_HOME"));
        env.insert(QStringLiteral("HOME"), path(QStringLiteral("home")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), path(QStringLiteral("runtime")));
        std::unique_ptr<QProcess, void (*)(QProcess *)> process(new QProcess, [](QProcess *p) {
            // A failed check leaves the program running; it ends with the test case.
            if (p->state() != QProcess::NotRunning) {
                p->kill();
                p->waitForFinished();
            }
            delete p;
        });
        // A test killed by its time limit must not leave the program behind.
        process->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
        process->setProcessEnvironment(env);
        process->setWorkingDirectory(path(QStringLiteral("work")));
        process->setProcessChannelMode(QProcess::ForwardedChannels);
        process->start(program, {QStringLiteral("startbg")});
        return process;
    }

    QStringList backups() const { return Backups(work(QStringLiteral("backups"))).files(); }

private:
    QTemporaryDir root;
};

struct Run
{
    int exitCode = -1;
    QString err;
};

Run runCards(const QString &folder, const QStringList &args)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(cardsProgram, args);
    Run run;
    if (!process.waitForFinished(waitTimeout)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// The tray icon comes last in the program's set-up, after the store was
// opened; the backup follows from the event loop.
bool hasTrayIcon(const QProcess &process)
{
    QProcess helper;
    helper.setStandardOutputFile(QProcess::nullDevice());
    helper.start(QStringLiteral("/usr/bin/python3"),
                 {xhelper, QStringLiteral("tray-icon"), QString::number(process.processId())});
    return helper.waitForFinished(waitTimeout) && helper.exitStatus() == QProcess::NormalExit &&
           helper.exitCode() == 0;
}

void stop(QProcess &process)
{
    ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
    process.waitForFinished(waitTimeout);
}

} // namespace

class TestCardsProgram : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void importRefusedWhileProgramRuns();
    void backupAtFirstStartOfTheDay();
};

void TestCardsProgram::initTestCase()
{
    QVERIFY2(QFile::exists(program), qPrintable(program));
    QVERIFY2(QFile::exists(cardsProgram), qPrintable(cardsProgram));
    QVERIFY2(!qEnvironmentVariableIsEmpty("DISPLAY"), "needs an X server with a tray host");
    QVERIFY2(QProcess::execute(QStringLiteral("/usr/bin/python3"),
                               {xhelper, QStringLiteral("wait-tray"), QStringLiteral("30")}) == 0,
             "no system-tray host on $DISPLAY");
}

void TestCardsProgram::importRefusedWhileProgramRuns()
{
    Sandbox sandbox;
    QVERIFY(QFile::copy(database, sandbox.work(QStringLiteral("nivlets"))));
    QFile cards(sandbox.work(QStringLiteral("cards.txt")));
    QVERIFY(cards.open(QIODevice::WriteOnly));
    cards.write("new question\tnew answer\n");
    cards.close();
    const QString folder = sandbox.path(QStringLiteral("work"));
    const QStringList import{QStringLiteral("import"), QStringLiteral("--book"),
                             QStringLiteral("New"), QStringLiteral("cards.txt")};

    auto running = sandbox.start();
    QVERIFY(running->waitForStarted(waitTimeout));
    QTRY_VERIFY_WITH_TIMEOUT(hasTrayIcon(*running), waitTimeout);
    const QByteArray before = TestSupport::readBytes(sandbox.work(QStringLiteral("nivlets")));

    Run run = runCards(folder, import);
    QCOMPARE(run.exitCode, 1);
    QCOMPARE(run.err,
             QStringLiteral("nivlets-cards: The database in %1 is in use by another program "
                            "(nivlets, process %2); only one program at a time may work on it. "
                            "Quit nivlets (\"Exit nivlets\" in its tray menu) and import again. "
                            "Nothing was imported.\n")
                 .arg(QDir(folder).absolutePath())
                 .arg(running->processId()));
    QCOMPARE(TestSupport::readBytes(sandbox.work(QStringLiteral("nivlets"))), before);
    // Reading goes on while the program runs.
    run = runCards(folder, {QStringLiteral("export"), QStringLiteral("out.txt")});
    QCOMPARE(run.exitCode, 0);
    QVERIFY(QFile::exists(sandbox.work(QStringLiteral("out.txt"))));
    QVERIFY(running->state() == QProcess::Running);

    stop(*running);
    run = runCards(folder, import);
    QVERIFY2(run.exitCode == 0, qPrintable(run.err));
    QCOMPARE(scalar(sandbox.work(QStringLiteral("nivlets")),
                    "SELECT count(*) FROM nivlet m, book b WHERE b.id = m.book_id AND "
                    "b.name = 'New'"),
             QStringLiteral("1"));
}

void TestCardsProgram::backupAtFirstStartOfTheDay()
{
    Sandbox sandbox;
    QVERIFY(QFile::copy(database, sandbox.work(QStringLiteral("nivlets"))));
    const QString nivlets = scalar(database, "SELECT count(*) FROM nivlet");

    auto first = sandbox.start();
    QVERIFY(first->waitForStarted(waitTimeout));
    QTRY_VERIFY_WITH_TIMEOUT(hasTrayIcon(*first), waitTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(sandbox.backups().size(), 1, waitTimeout);
    QStringList made = sandbox.backups();
    QVERIFY(qAbs(Backups::timeOf(made.first()).secsTo(QDateTime::currentDateTime())) < 120);
    const QString backup = sandbox.work(QStringLiteral("backups/") + made.first());
    QCOMPARE(scalar(backup, "PRAGMA integrity_check"), QStringLiteral("ok"));
    QCOMPARE(scalar(backup, "SELECT count(*) FROM nivlet"), nivlets);
    stop(*first);

    // The second start of the day finds a fresh backup.
    auto second = sandbox.start();
    QVERIFY(second->waitForStarted(waitTimeout));
    QTRY_VERIFY_WITH_TIMEOUT(hasTrayIcon(*second), waitTimeout);
    // Time for a backup that should not come.
    QTest::qWait(1000);
    QCOMPARE(sandbox.backups(), made);
    stop(*second);

    // Two days later in the backups' eyes.
    const QString older =
        QStringLiteral("nivlets-") +
        QDateTime::currentDateTime().addDays(-2).toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
    QVERIFY(QFile::rename(backup, sandbox.work(QStringLiteral("backups/") + older)));
    auto third = sandbox.start();
    QVERIFY(third->waitForStarted(waitTimeout));
    QTRY_VERIFY_WITH_TIMEOUT(hasTrayIcon(*third), waitTimeout);
    QTRY_COMPARE_WITH_TIMEOUT(sandbox.backups().size(), 2, waitTimeout);
    made = sandbox.backups();
    QCOMPARE(made.first(), older);
    stop(*third);
}

QTEST_GUILESS_MAIN(TestCardsProgram)
#include "tst_cardsprogram.moc"
