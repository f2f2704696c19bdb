// Files the store may read but not write: a read-only open, an immutable
// file or folder and a read-only mount, for every change of the store; and the
// proof that a killed test leaves neither an immutable flag nor a mount behind.

#include "faultharness.h"
#include "faultvfs.h"
#include "log.h"
#include "nivletcore.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <sqlite3.h>

#include <memory>

using namespace FaultHarness;
using namespace TestSupport;

class TstReadOnlyFaults : public FaultTest
{
    Q_OBJECT

private slots:
    void readOnly_data();
    void readOnly();

    void immutableFlagOutlivesNoCrash();
    void mountOutlivesNoCrash();
};

void TstReadOnlyFaults::readOnly_data()
{
    QTest::addColumn<QString>("mechanism");
    QTest::addColumn<QString>("op");
    const QStringList mechanisms = {QStringLiteral("vfs"), QStringLiteral("immutable file"),
                                    QStringLiteral("immutable folder"),
                                    QStringLiteral("read-only mount")};
    QStringList names;
    for (const Op &op : ops())
        names << op.name;
    names << QStringLiteral("setOptions without cache");
    for (const QString &m : mechanisms) {
        for (const QString &n : std::as_const(names))
            QTest::newRow(qPrintable(m + QLatin1Char(' ') + n)) << m << n;
    }
}

void TstReadOnlyFaults::readOnly()
{
    QFETCH(QString, mechanism);
    QFETCH(QString, op);
    bool withoutCache = false;
    const Op *change = findOp(op, withoutCache);
    QVERIFY(change);

    WorkDir work;
    const QString data = work.file(QStringLiteral("data"));
    QVERIFY(QDir().mkpath(data));
    QVERIFY(createDatabase(data, QString::fromLatin1(fixtureSql)));
    QVERIFY(QFile(QDir(data).filePath(QStringLiteral("nivlets.log"))).open(QIODevice::WriteOnly));
    const QByteArray bytes = readBytes(QDir(data).filePath(QStringLiteral("nivlets")));

    QString storeDir = data;
    int code = SQLITE_READONLY;
    QString message = QString::fromLatin1(readOnlyMessage);
    bool logWritable = true;
    std::unique_ptr<Immutable> immutable;
    std::unique_ptr<ReadOnlyMount> mount;
    if (mechanism == QLatin1String("immutable file")) {
        immutable = std::make_unique<Immutable>(QDir(data).filePath(QStringLiteral("nivlets")));
        if (!immutable->set)
            QSKIP(qPrintable(QStringLiteral("immutable files are not possible here (") +
                             immutable->why + QStringLiteral("); the vfs rows still run")));
        QVERIFY2(!canWriteFile(immutable->path), "chattr +i did not stop writing");
    } else if (mechanism == QLatin1String("immutable folder")) {
        immutable = std::make_unique<Immutable>(data);
        if (!immutable->set)
            QSKIP(qPrintable(QStringLiteral("immutable folders are not possible here (") +
                             immutable->why + QStringLiteral("); the vfs rows still run")));
        QVERIFY2(!canWriteInto(data), "chattr +i did not stop creating files");
        // The file itself stays writable; it is the journal beside it that
        // cannot be made.
        code = SQLITE_CANTOPEN;
        message = QStringLiteral("unable to open database file");
    } else if (mechanism == QLatin1String("read-only mount")) {
        storeDir = work.file(QStringLiteral("ro"));
        mount = std::make_unique<ReadOnlyMount>(data, storeDir);
        if (!mount->readOnly)
            QSKIP(qPrintable(QStringLiteral("read-only mounts are not possible here (") +
                             mount->why + QStringLiteral("); the vfs rows still run")));
        QVERIFY2(!canWriteInto(storeDir), "the read-only mount still takes writes");
        logWritable = false;
    }
    const QString file = QDir(storeDir).filePath(QStringLiteral("nivlets"));
    {
        CurrentDir inStore(storeDir);
        openLog();
        if (mechanism == QLatin1String("vfs"))
            FaultVfs::setReadOnlyOpen(true);
        NivletCore store;
        QVERIFY(store.open());
        FaultVfs::setReadOnlyOpen(false);
        if (!withoutCache)
            QVERIFY(store.options());
        const QString memory = memoryOf(store);
        const QByteArray rows = dumpOf(file);
        {
            BoxCatcher boxes;
            QVERIFY(!change->run(store));
            CHECKED(checkOneReport(boxes, report(change->failure, code, message)));
        }
        QCOMPARE(logText(), logWritable
                                ? QStringLiteral("Error: ") +
                                      report(change->failure, code, message) + QLatin1Char('\n')
                                : QString());
        QCOMPARE(memoryOf(store), memory);
        QCOMPARE(dumpOf(file), rows);
        QCOMPARE(valueOf(file, change->probe), change->unchanged);

        BoxCatcher boxes;
        std::unique_ptr<Nivlet> one(store.getNivlet(4));
        QVERIFY(one);
        QCOMPARE(one->question, QStringLiteral("q4"));
        QCOMPARE(store.countNivletsOfBook(1), 3);
        const std::unique_ptr<NivletRecords> found(
            store.search(QStringLiteral("q"), nullptr, true));
        QVERIFY(found);
        QCOMPARE(static_cast<int>(found->size()), 3);
        QVERIFY(store.options());
        QVERIFY(store.reloadActiveNivlets());
        QCOMPARE(store.activeNivletCount(), 3);
        QVERIFY(boxes.texts.isEmpty());
        closeLog();
    }
    mount.reset();
    immutable.reset();
    QCOMPARE(readBytes(QDir(data).filePath(QStringLiteral("nivlets"))), bytes);
}

// A test process killed while a file is immutable: the flag must go with it.
void TstReadOnlyFaults::immutableFlagOutlivesNoCrash()
{
    WorkDir work;
    const QString file = work.file(QStringLiteral("victim"));
    QVERIFY(QFile(file).open(QIODevice::WriteOnly));
    Child child({QStringLiteral("immutable"), file}, work.path());
    if (!child.waitForLine("immutable"))
        QSKIP("immutable files are not possible here; the flag is never set");
    QVERIFY2(!canWriteFile(file), "chattr +i did not stop writing");
    child.killHard();
    QTRY_VERIFY_WITH_TIMEOUT(canWriteFile(file), 10000);
}

// A test process killed while its read-only mount stands: the mount must
// not stay behind on the host.
void TstReadOnlyFaults::mountOutlivesNoCrash()
{
    if (!privateMounts)
        QSKIP("no mount namespace of its own here, so no test mounts anything");
    WorkDir work;
    const QString source = work.file(QStringLiteral("source"));
    const QString target = work.file(QStringLiteral("target"));
    QVERIFY(QDir().mkpath(source));
    QVERIFY(QFile(QDir(source).filePath(QStringLiteral("marker"))).open(QIODevice::WriteOnly));
    QVERIFY(QDir().mkpath(target));
    Child child({QStringLiteral("mount"), source, target}, work.path());
    QVERIFY(child.waitForLine("mounted"));
    // Seen from here the mount never existed, and after the crash neither.
    QVERIFY(QDir(target).isEmpty());
    child.killHard();
    QVERIFY(QDir(target).isEmpty());
    QVERIFY(canWriteInto(target));
    const QString mounts = readFile(QStringLiteral("/proc/self/mountinfo"));
    QVERIFY2(!mounts.contains(target), qPrintable(target));
    QVERIFY(runTool(QStringLiteral("grep"),
                    {QStringLiteral("-q"), target, QStringLiteral("/proc/1/mountinfo")}) != 0);
}

NIVLETS_FAULT_TEST_MAIN(TstReadOnlyFaults)

#include "tst_faults_readonly.moc"
