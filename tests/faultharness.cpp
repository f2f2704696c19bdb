#include "faultharness.h"

#include "faultalloc.h"
#include "faultvfs.h"
#include "log.h"
#include "nivletcore.h"

#include <QApplication>

#include <cstdio>

#include <sched.h>
#include <sys/mount.h>

using namespace TestSupport;

namespace FaultHarness {

namespace {

QtMessageHandler testHandler = nullptr;

// The offscreen platform warns about every message box; hundreds of boxes
// would bury the test's own output.
void quietBoxes(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.contains(QLatin1String("propagateSizeHints")))
        return;
    testHandler(type, context, message);
}

// Moves this process into a mount namespace of its own whose mounts are
// seen by nobody else, as "unshare -m" would; its mounts end with it.
bool enterPrivateMountNamespace()
{
    if (::unshare(CLONE_NEWNS) != 0)
        return false;
    return ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

void say(const char *line)
{
    std::fputs(line, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

FaultVfs::Point pointNamed(const QString &name)
{
    if (name == QLatin1String("sync"))
        return FaultVfs::Point::Sync;
    if (name == QLatin1String("delete"))
        return FaultVfs::Point::Delete;
    return FaultVfs::Point::Write;
}

void armStall(const QString &point, int n)
{
    if (n > 0)
        FaultVfs::arm(pointNamed(point), FaultVfs::Action::Stall, n);
}

// The second process: "lock immediate|exclusive" holds a lock on "nivlets"
// until told to let go; "deletebook point n" and "rates point n count" work
// through the store and freeze at the n-th call of the point, where the
// parent kills them.// The second process: "lock immediate|exclusive" holds a lock on "nivlets"
// until told to let go; "deletebook point n" and "rates point n count" work
// through the store and freeze at the n-th call of the point, where the
// parent kills them.
int childMain(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(2);
    const QString command = args.value(0);
    if (command == QLatin1String("lock")) {
        Plain plain(QStringLiteral("nivlets"));
        const char *begin =
            args.value(1) == QLatin1String("exclusive") ? "BEGIN EXCLUSIVE" : "BEGIN IMMEDIATE";
        if (plain.rc != SQLITE_OK || plain.exec(begin) != SQLITE_OK)
            return 2;
        say("locked");
        char line[64];
        if (!std::fgets(line, sizeof line, stdin))
            return 3;
        return plain.exec("ROLLBACK") == SQLITE_OK ? 0 : 4;
    }
    if (command == QLatin1String("immutable") || command == QLatin1String("mount")) {
        std::unique_ptr<Immutable> immutable;
        std::unique_ptr<ReadOnlyMount> mount;
        if (command == QLatin1String("immutable")) {
            immutable = std::make_unique<Immutable>(args.value(1));
            if (!immutable->set)
                return 2;
            say("immutable");
        } else {
            mount = std::make_unique<ReadOnlyMount>(args.value(1), args.value(2));
            if (!mount->readOnly)
                return 2;
            say("mounted");
        }
        char line[64];
        return std::fgets(line, sizeof line, stdin) ? 0 : 3;
    }
    FaultVfs::install();
    NivletCore store;
    if (!store.open())
        return 2;
    if (command == QLatin1String("deletebook")) {
        say("ready");
        armStall(args.value(1), args.value(2).toInt());
        const bool ok = store.deleteBook(store.findBook(1));
        FaultVfs::reset();
        say(ok ? "done 1" : "done 0");
        return 0;
    }
    if (command == QLatin1String("rates")) {
        const int count = args.value(3).toInt();
        say("ready");
        armStall(args.value(1), args.value(2).toInt());
        for (qint64 id = 1; id <= count; ++id) {
            const double rate = rateFor(id);
            if (!store.setKnowledgeRate(id, rate))
                return 5;
            say((QByteArray::number(id) + ' ' + QByteArray::number(rate, 'g', 17)).constData());
        }
        return 0;
    }
    return 6;
}

} // namespace

QString report(const QString &failure, int code, const QString &message)
{
    return failure + QStringLiteral(" error code: ") + QString::number(code) +
           QStringLiteral(" error message: ") + message;
}

QByteArray dumpOf(const QString &file)
{
    Plain plain(file, true);
    return plain.dump();
}

QString valueOf(const QString &file, const QString &sql)
{
    Plain plain(file, true);
    return plain.value(sql);
}

QString memoryOf(const NivletCore &store)
{
    QStringList parts;
    for (const Book *b : store.books())
        parts << QStringLiteral("book %1 id %2 '%3' active %4 count %5")
                     .arg(quintptr(b), 0, 16)
                     .arg(b->id)
                     .arg(b->name)
                     .arg(b->active)
                     .arg(b->nivletCount);
    parts << QStringLiteral("total %1 stale %2")
                 .arg(store.totalNivletCount())
                 .arg(store.activeListStale());
    QStringList active;
    for (const Nivlet *n : store.activeList()->nivlets())
        active << QStringLiteral("%1:%2:%3:%4")
                      .arg(quintptr(n), 0, 16)
                      .arg(n->id)
                      .arg(n->knRate)
                      .arg(quintptr(n->book), 0, 16);
    parts << QStringLiteral("active ") + active.join(QLatin1Char(','));
    if (store.cachedOptions())
        parts << QStringLiteral("options %1 %2 %3 %4")
                     .arg(quintptr(store.cachedOptions()), 0, 16)
                     .arg(store.cachedOptions()->autoCh)
                     .arg(store.cachedOptions()->autoChInterval)
                     .arg(store.cachedOptions()->puzzleAffectsRates);
    else
        parts << QStringLiteral("options none");
    return parts.join(QLatin1Char('\n'));
}

const QList<Op> &ops()
{
    static const QList<Op> list = {
        {QStringLiteral("addNivlet"), QStringLiteral("Could not add nivlet."), true,
         [](NivletCore &s) {
             return s.addNivlet(s.findBook(1), QStringLiteral("new question"),
                                QStringLiteral("new answer"), true);
         },
         QStringLiteral("SELECT count(*) FROM nivlet WHERE question = 'new question'"),
         QStringLiteral("0"), QStringLiteral("1"),
         [](const NivletCore &s) {
             return s.findBook(1)->nivletCount == 4 && s.activeListStale();
         }},
        {QStringLiteral("editNivlet"), QStringLiteral("Could not edit nivlet."), true,
         [](NivletCore &s) {
             return s.editNivlet(1, QStringLiteral("edited"), QStringLiteral("edited answer"),
                                 false);
         },
         QStringLiteral("SELECT question || '|' || answer || '|' || active || '|' || kn_rate "
                        "FROM nivlet WHERE id = 1"),
         QStringLiteral("q1|a1|1|0.1"), QStringLiteral("edited|edited answer|0|0.1"),
         [](const NivletCore &s) { return s.activeListStale(); }},
        {QStringLiteral("setKnowledgeRate"),
         QStringLiteral("Could not set knowledge-rate for nivlet."), true,
         [](NivletCore &s) { return s.setKnowledgeRate(1, 0.75); },
         QStringLiteral("SELECT kn_rate FROM nivlet WHERE id = 1"), QStringLiteral("0.1"),
         QStringLiteral("0.75"), [](const NivletCore &s) { return s.activeListStale(); }},
        {QStringLiteral("deleteNivlet"), QStringLiteral("Could not delete nivlet."), true,
         [](NivletCore &s) { return s.deleteNivlet(1, s.findBook(1)); },
         QStringLiteral("SELECT count(*) FROM nivlet WHERE id = 1"), QStringLiteral("1"),
         QStringLiteral("0"),
         [](const NivletCore &s) {
             return s.findBook(1)->nivletCount == 2 && s.activeListStale();
         }},
        {QStringLiteral("deleteNivlets"), QStringLiteral("Could not delete nivlet."), true,
         [](NivletCore &s) {
             Nivlet first(1, true, 0.1, s.findBook(1), QStringLiteral("q1"), QStringLiteral("a1"));
             Nivlet second(2, true, 0.2, s.findBook(1), QStringLiteral("q2"), QStringLiteral("a2"));
             return s.deleteNivlets({&first, &second});
         },
         QStringLiteral("SELECT count(*) FROM nivlet WHERE id IN (1, 2)"), QStringLiteral("2"),
         QStringLiteral("0"),
         [](const NivletCore &s) { return s.findBook(1)->nivletCount == 1 && s.activeListStale(); },
         QStringLiteral("1"),
         [](const NivletCore &s) {
             return s.findBook(1)->nivletCount == 2 && s.activeListStale();
         }},
        {QStringLiteral("addBook"), QStringLiteral("Could not add book."), true,
         [](NivletCore &s) { return s.addBook(QStringLiteral("Delta"), true) != nullptr; },
         QStringLiteral("SELECT count(*) FROM book WHERE name = 'Delta'"), QStringLiteral("0"),
         QStringLiteral("1"),
         [](const NivletCore &s) {
             return s.bookCount() == 4 && s.books().last()->name == QLatin1String("Delta") &&
                    s.books().last()->nivletCount == 0 && !s.activeListStale();
         }},
        {QStringLiteral("editBook"), QStringLiteral("Could not edit book."), true,
         [](NivletCore &s) { return s.editBook(s.findBook(1), QStringLiteral("Renamed"), false); },
         QStringLiteral("SELECT name || '|' || active FROM book WHERE id = 1"),
         QStringLiteral("Alpha|1"), QStringLiteral("Renamed|0"),
         [](const NivletCore &s) {
             const Book *b = s.findBook(1);
             return b->name == QLatin1String("Renamed") && !b->active && s.activeListStale();
         }},
        {QStringLiteral("deleteBook"), QStringLiteral("Could not delete book."), true,
         [](NivletCore &s) { return s.deleteBook(s.findBook(1)); },
         QStringLiteral("SELECT (SELECT count(*) FROM book WHERE id = 1) || '|' || "
                        "(SELECT count(*) FROM nivlet WHERE book_id = 1)"),
         QStringLiteral("1|3"), QStringLiteral("0|0"),
         [](const NivletCore &s) {
             return !s.findBook(1) && s.bookCount() == 2 && s.activeListStale();
         }},
        {QStringLiteral("deleteBooks"), QStringLiteral("Could not delete book."), true,
         [](NivletCore &s) {
             return s.deleteBooks({s.findBook(1), s.findBook(2)});
         },
         QStringLiteral("SELECT (SELECT count(*) FROM book WHERE id IN (1, 2)) || '|' || "
                        "(SELECT count(*) FROM nivlet WHERE book_id IN (1, 2))"),
         QStringLiteral("2|4"), QStringLiteral("0|0"),
         [](const NivletCore &s) {
             return s.bookCount() == 1 && s.findBook(3) && s.activeListStale();
         },
         QStringLiteral("1|1"),
         [](const NivletCore &s) {
             return s.bookCount() == 2 && !s.findBook(1) && s.findBook(2) && s.activeListStale();
         }},
        {QStringLiteral("setOptions"), QStringLiteral("Could not set options."), true,
         [](NivletCore &s) {
             Options o;
             o.autoCh = true;
             o.autoChInterval = 1800;
             o.puzzleAffectsRates = false;
             return s.setOptions(o);
         },
         QStringLiteral("SELECT auto_ch || '|' || auto_ch_interval || '|' || "
                        "puzzle_affects_rates FROM options"),
         QStringLiteral("0|900|1"), QStringLiteral("1|1800|0"),
         [](const NivletCore &s) {
             return s.cachedOptions() && s.cachedOptions()->autoCh &&
                    s.cachedOptions()->autoChInterval == 1800 &&
                    !s.cachedOptions()->puzzleAffectsRates && !s.activeListStale();
         }},
    };
    return list;
}

const Op *findOp(const QString &name, bool &withoutCache)
{
    withoutCache = name.endsWith(QLatin1String(" without cache"));
    const QString base = withoutCache ? name.section(QLatin1Char(' '), 0, 0) : name;
    for (const Op &op : ops()) {
        if (op.name == base)
            return &op;
    }
    return nullptr;
}

void addOpRows()
{
    QTest::addColumn<QString>("op");
    for (const Op &op : ops())
        QTest::newRow(qPrintable(op.name)) << op.name;
    QTest::newRow("setOptions without cache") << QStringLiteral("setOptions without cache");
}

QString logText()
{
    return readFile(QStringLiteral("nivlets.log"));
}

void checkOneReport(const BoxCatcher &boxes, const QString &expected)
{
    QCOMPARE(boxes.texts, QStringList{expected});
    QCOMPARE(boxes.titles, QStringList{QStringLiteral("Error")});
}

int runTool(const QString &program, const QStringList &args, QString *output)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(20000))
        return -1;
    if (output)
        *output = QString::fromLocal8Bit(p.readAll()).trimmed();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

bool canWriteInto(const QString &dir)
{
    QFile probe(QDir(dir).filePath(QStringLiteral("probe")));
    const bool ok = probe.open(QIODevice::WriteOnly);
    if (ok) {
        probe.close();
        probe.remove();
    }
    return ok;
}

bool canWriteFile(const QString &file)
{
    QFile f(file);
    return f.open(QIODevice::WriteOnly | QIODevice::Append);
}

bool privateMounts = false;

bool copyTemplate(const QString &from, const QString &to)
{
    QFile::remove(to);
    QFile::remove(to + QStringLiteral("-journal"));
    return QFile::copy(from, to);
}

double rateFor(qint64 id)
{
    return static_cast<double>((id * 7919) % 1000 + 1) / 1001.0;
}

void FaultTest::initTestCase()
{
    QVERIFY(FaultAlloc::install());
    FaultVfs::install();
    QCOMPARE(QByteArray(sqlite3_vfs_find(nullptr)->zName), QByteArray(FaultVfs::name()));
    testHandler = qInstallMessageHandler(quietBoxes);
}

void FaultTest::cleanupTestCase()
{
    qInstallMessageHandler(testHandler);
}

void FaultTest::cleanup()
{
    FaultAlloc::reset();
    FaultVfs::reset();
    FaultVfs::setReadOnlyOpen(false);
    closeLog();
}

int faultMain(int argc, char **argv, const std::function<int(int, char **)> &runTests)
{
    privateMounts = enterPrivateMountNamespace();
    if (argc >= 2 && qstrcmp(argv[1], "child") == 0)
        return childMain(argc, argv);
    QApplication app(argc, argv);
    return runTests(argc, argv);
}

} // namespace FaultHarness
