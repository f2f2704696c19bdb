// Real faults against the store: locks held by another connection and by
// another process, read-only files, failing and full disks, a reader that
// blocks a commit, a process killed in the middle of its work, foreign and
// damaged files, hostile text and an unwritable log.

#include "faultalloc.h"
#include "faultvfs.h"
#include "log.h"
#include "nivletcore.h"
#include "testsupport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMap>
#include <QMessageBox>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <future>
#include <memory>

#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace TestSupport;

// Helpers report through QTest; the caller must stop as soon as one failed.
#define CHECKED(call)                                                                              \
    do {                                                                                           \
        call;                                                                                      \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)

namespace {

const char fixtureSql[] =
    "INSERT INTO book (id, name, active) VALUES (1, 'Alpha', 1), (2, 'Beta', 1), "
    "(3, 'Gamma', 0);"
    "INSERT INTO nivlet (id, active, kn_rate, book_id, question, answer) VALUES "
    "(1, 1, 0.1, 1, 'q1', 'a1'), (2, 1, 0.2, 1, 'q2', 'a2'), (3, 0, 0.3, 1, 'q3', 'a3'), "
    "(4, 1, 0.4, 2, 'q4', 'a4'), (5, 1, 0.5, 3, 'q5', 'a5');";

const char lockedMessage[] = "database is locked";
// Tests that expect a lock to be reported wait this long, not the few
// seconds a user's store waits.
constexpr int shortWait = 50;
const char readOnlyMessage[] = "attempt to write a readonly database";

// One transaction instead of one per statement: every commit waits for the
// disk, and the tests build hundreds of files.
QString inOneTransaction(const QString &sql)
{
    return QStringLiteral("BEGIN;\n") + sql + QStringLiteral("\nCOMMIT;");
}

bool makeDatabase(const QString &dir, const QString &extraSql)
{
    const QString file = QDir(dir).filePath(QStringLiteral("nivlets"));
    QFile::remove(file);
    return execSql(file, inOneTransaction(schemaSql() + QLatin1Char('\n') + extraSql));
}

QString report(const QString &failure, int code, const QString &message)
{
    return failure + QStringLiteral(" error code: ") + QString::number(code) +
           QStringLiteral(" error message: ") + message;
}

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
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &stmt, nullptr) != SQLITE_OK)
            return QStringLiteral("error: ") + QString::fromUtf8(sqlite3_errmsg(db));
        QString result;
        const int step = sqlite3_step(stmt);
        if (step == SQLITE_ROW) {
            const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0));
            result = text ? QString::fromUtf8(text, sqlite3_column_bytes(stmt, 0))
                          : QStringLiteral("NULL");
        } else if (step == SQLITE_DONE) {
            result = QStringLiteral("no row");
        } else {
            result = QStringLiteral("error: ") + QString::fromUtf8(sqlite3_errmsg(db));
        }
        sqlite3_finalize(stmt);
        return result;
    }

    double rate(qint64 id)
    {
        sqlite3_stmt *stmt = nullptr;
        sqlite3_prepare_v2(db, "SELECT kn_rate FROM nivlet WHERE id = ?", -1, &stmt, nullptr);
        sqlite3_bind_int64(stmt, 1, id);
        const double result =
            sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_double(stmt, 0) : -1.0;
        sqlite3_finalize(stmt);
        return result;
    }

    // Every schema entry and every value with its storage class, byte exact.
    QByteArray dump()
    {
        QByteArray out = rows("SELECT type, name, sql FROM sqlite_master ORDER BY name");
        sqlite3_stmt *stmt = nullptr;
        sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name",
                           -1, &stmt, nullptr);
        QList<QByteArray> tables;
        while (sqlite3_step(stmt) == SQLITE_ROW)
            tables.append(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)));
        sqlite3_finalize(stmt);
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
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK)
            return QByteArray("error: ") + sqlite3_errmsg(db);
        QByteArray out;
        int step;
        while ((step = sqlite3_step(stmt)) == SQLITE_ROW) {
            for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
                const int type = sqlite3_column_type(stmt, c);
                const auto *bytes = static_cast<const char *>(sqlite3_column_blob(stmt, c));
                const int size = sqlite3_column_bytes(stmt, c);
                out += QByteArray::number(type) + ':' + QByteArray::number(size) + ':' +
                       QByteArray(bytes, size) + '|';
            }
            out += '\n';
        }
        if (step != SQLITE_DONE)
            out += QByteArray("error: ") + sqlite3_errmsg(db);
        sqlite3_finalize(stmt);
        return out;
    }
};

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

// Everything the store keeps in memory that a failed change must leave alone.
QString memoryOf(const NivletCore &store)
{
    QStringList parts;
    for (const Book *b : store.books)
        parts << QStringLiteral("book %1 id %2 '%3' active %4 count %5")
                     .arg(quintptr(b), 0, 16)
                     .arg(b->id)
                     .arg(b->name)
                     .arg(b->active)
                     .arg(b->nivletCount);
    parts << QStringLiteral("total %1 stale %2")
                 .arg(store.totalNivletCount())
                 .arg(store.activeListStale);
    QStringList active;
    for (const Nivlet *n : store.activeNivlets)
        active << QStringLiteral("%1:%2:%3:%4")
                      .arg(quintptr(n), 0, 16)
                      .arg(n->id)
                      .arg(n->knRate)
                      .arg(quintptr(n->book), 0, 16);
    parts << QStringLiteral("active ") + active.join(QLatin1Char(','));
    if (store.optionsCache)
        parts << QStringLiteral("options %1 %2 %3 %4")
                     .arg(quintptr(store.optionsCache), 0, 16)
                     .arg(store.optionsCache->autoCh)
                     .arg(store.optionsCache->autoChInterval)
                     .arg(store.optionsCache->puzzleAffectsRates);
    else
        parts << QStringLiteral("options none");
    return parts.join(QLatin1Char('\n'));
}

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
         [](const NivletCore &s) { return s.findBook(1)->nivletCount == 4 && s.activeListStale; }},
        {QStringLiteral("editNivlet"), QStringLiteral("Could not edit nivlet."), true,
         [](NivletCore &s) {
             return s.editNivlet(1, QStringLiteral("edited"), QStringLiteral("edited answer"),
                                 false);
         },
         QStringLiteral("SELECT question || '|' || answer || '|' || active || '|' || kn_rate "
                        "FROM nivlet WHERE id = 1"),
         QStringLiteral("q1|a1|1|0.1"), QStringLiteral("edited|edited answer|0|0.1"),
         [](const NivletCore &s) { return s.activeListStale; }},
        {QStringLiteral("setKnowledgeRate"),
         QStringLiteral("Could not set knowledge-rate for nivlet."), true,
         [](NivletCore &s) { return s.setKnowledgeRate(1, 0.75); },
         QStringLiteral("SELECT kn_rate FROM nivlet WHERE id = 1"), QStringLiteral("0.1"),
         QStringLiteral("0.75"), [](const NivletCore &s) { return s.activeListStale; }},
        {QStringLiteral("deleteNivlet"), QStringLiteral("Could not delete nivlet."), true,
         [](NivletCore &s) { return s.deleteNivlet(1, s.findBook(1)); },
         QStringLiteral("SELECT count(*) FROM nivlet WHERE id = 1"), QStringLiteral("1"),
         QStringLiteral("0"),
         [](const NivletCore &s) { return s.findBook(1)->nivletCount == 2 && s.activeListStale; }},
        {QStringLiteral("deleteNivlets"), QStringLiteral("Could not delete nivlet."), true,
         [](NivletCore &s) {
             Nivlet first(1, true, 0.1, s.findBook(1), QStringLiteral("q1"), QStringLiteral("a1"));
             Nivlet second(2, true, 0.2, s.findBook(1), QStringLiteral("q2"), QStringLiteral("a2"));
             return s.deleteNivlets({&first, &second});
         },
         QStringLiteral("SELECT count(*) FROM nivlet WHERE id IN (1, 2)"), QStringLiteral("2"),
         QStringLiteral("0"),
         [](const NivletCore &s) { return s.findBook(1)->nivletCount == 1 && s.activeListStale; },
         QStringLiteral("1"),
         [](const NivletCore &s) { return s.findBook(1)->nivletCount == 2 && s.activeListStale; }},
        {QStringLiteral("addBook"), QStringLiteral("Could not add book."), true,
         [](NivletCore &s) { return s.addBook(QStringLiteral("Delta"), true) != nullptr; },
         QStringLiteral("SELECT count(*) FROM book WHERE name = 'Delta'"), QStringLiteral("0"),
         QStringLiteral("1"),
         [](const NivletCore &s) {
             return s.bookCount() == 4 && s.books.last()->name == QLatin1String("Delta") &&
                    s.books.last()->nivletCount == 0 && !s.activeListStale;
         }},
        {QStringLiteral("editBook"), QStringLiteral("Could not edit book."), true,
         [](NivletCore &s) { return s.editBook(s.findBook(1), QStringLiteral("Renamed"), false); },
         QStringLiteral("SELECT name || '|' || active FROM book WHERE id = 1"),
         QStringLiteral("Alpha|1"), QStringLiteral("Renamed|0"),
         [](const NivletCore &s) {
             const Book *b = s.findBook(1);
             return b->name == QLatin1String("Renamed") && !b->active && s.activeListStale;
         }},
        {QStringLiteral("deleteBook"), QStringLiteral("Could not delete book."), true,
         [](NivletCore &s) { return s.deleteBook(s.findBook(1)); },
         QStringLiteral("SELECT (SELECT count(*) FROM book WHERE id = 1) || '|' || "
                        "(SELECT count(*) FROM nivlet WHERE book_id = 1)"),
         QStringLiteral("1|3"), QStringLiteral("0|0"),
         [](const NivletCore &s) {
             return !s.findBook(1) && s.bookCount() == 2 && s.activeListStale;
         }},
        {QStringLiteral("deleteBooks"), QStringLiteral("Could not delete book."), true,
         [](NivletCore &s) {
             return s.deleteBooks({s.findBook(1), s.findBook(2)});
         },
         QStringLiteral("SELECT (SELECT count(*) FROM book WHERE id IN (1, 2)) || '|' || "
                        "(SELECT count(*) FROM nivlet WHERE book_id IN (1, 2))"),
         QStringLiteral("2|4"), QStringLiteral("0|0"),
         [](const NivletCore &s) {
             return s.bookCount() == 1 && s.findBook(3) && s.activeListStale;
         },
         QStringLiteral("1|1"),
         [](const NivletCore &s) {
             return s.bookCount() == 2 && !s.findBook(1) && s.findBook(2) && s.activeListStale;
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
             return s.optionsCache && s.optionsCache->autoCh &&
                    s.optionsCache->autoChInterval == 1800 && !s.optionsCache->puzzleAffectsRates &&
                    !s.activeListStale;
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

int runTool(const QString &program, const QStringList &args, QString *output = nullptr)
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

// True when main() moved this process into a mount namespace of its own.
bool privateMounts = false;

// Sets the immutable attribute, which stops even root; cleared again on
// destruction so the temporary folder can go. A file left immutable could
// not be deleted by anyone, so a watcher outside this process clears the
// flag as well once the process has gone, however it ended.
class Immutable
{
public:
    explicit Immutable(const QString &path) : path(path)
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
    ReadOnlyMount(const QString &source, const QString &target) : target(target)
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

// SQLite's LIKE as the search uses it: "%" any run, "_" one character, ASCII
// letters without case, and the text taken up to a NUL character.
bool likeMatches(const QList<uint> &p, int pi, const QList<uint> &t, int ti)
{
    auto fold = [](uint c) { return c < 128 && c >= 'A' && c <= 'Z' ? c + 32 : c; };
    while (pi < p.size()) {
        if (p[pi] == '%') {
            for (int k = ti; k <= t.size(); ++k) {
                if (likeMatches(p, pi + 1, t, k))
                    return true;
            }
            return false;
        }
        if (ti >= t.size())
            return false;
        if (p[pi] != '_' && fold(p[pi]) != fold(t[ti]))
            return false;
        ++pi;
        ++ti;
    }
    return ti == t.size();
}

bool likeMatches(const QString &pattern, const QString &text)
{
    auto cut = [](const QString &s) {
        const qsizetype nul = s.indexOf(QChar(0));
        return (nul < 0 ? s : s.left(nul)).toUcs4();
    };
    return likeMatches(cut(pattern), 0, cut(text), 0);
}

QStringList hostileTexts()
{
    return {
        QStringLiteral("It's \"quoted\" and 'single'"),
        QStringLiteral("100% sure_thing"),
        QStringLiteral("'); DROP TABLE nivlet; --"),
        QStringLiteral("\"; DELETE FROM book WHERE 1; --"),
        QStringLiteral("<b>bold</b> <script>alert('x')</script> &amp; &lt;"),
        QString::fromUtf8("שלום עולם \u202Eevil\u202C ما هذا"),
        QString::fromUtf8("e\u0301 a\u0308 n\u0303 combining"),
        QString::fromUtf8("emoji 😀 👍🏽 👩‍💻"),
        QStringLiteral("line one\nline two"),
        QStringLiteral("nul") + QChar(0) + QStringLiteral("after"),
        QStringLiteral("back\\slash [a-z] *star ?q ^c $d {b} |p (x) .dot +plus"),
        QStringLiteral("  blanks around  "),
        QStringLiteral("%1 %2 %L1 %n"),
    };
}

QString megabyteAnswer()
{
    QString text;
    for (int i = 0; text.toUtf8().size() < (1 << 20); i += 1000) {
        QString chunk;
        for (int j = i; j < i + 1000; ++j)
            chunk += QStringLiteral("line %1 äöü 😀\n").arg(j);
        text += chunk;
    }
    return text;
}

// Records what each box showed and in which text format it showed it.
class FormatCatcher : public QObject
{
public:
    FormatCatcher()
    {
        timer.setInterval(10);
        connect(&timer, &QTimer::timeout, this, &FormatCatcher::poll);
        timer.start();
    }

    QStringList texts;
    QList<Qt::TextFormat> boxFormats;
    QList<Qt::TextFormat> labelFormats;

private:
    void poll()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        texts.append(box->text());
        boxFormats.append(box->textFormat());
        Qt::TextFormat shown = Qt::AutoText;
        const QList<QLabel *> labels = box->findChildren<QLabel *>();
        for (const QLabel *label : labels) {
            if (label->text() == box->text())
                shown = label->textFormat();
        }
        labelFormats.append(shown);
        box->done(QMessageBox::Ok);
    }

    QTimer timer;
};

QtMessageHandler testHandler = nullptr;

// The offscreen platform warns about every message box; hundreds of boxes
// would bury the test's own output.
void quietBoxes(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.contains(QLatin1String("propagateSizeHints")))
        return;
    testHandler(type, context, message);
}

} // namespace

class TstFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void lockedByConnection_data();
    void lockedByConnection();
    void lockedByProcess_data();
    void lockedByProcess();
    void exclusiveLockStopsReads();

    void readOnly_data();
    void readOnly();

    void ioFaultInEveryChange_data();
    void ioFaultInEveryChange();
    void ioFaultDuringBookDeletion_data();
    void ioFaultDuringBookDeletion();
    void outOfMemoryDuringBookDeletion();

    void readErrorWhileOpening();
    void busyCommitRollsBack();

    void crashWhileDeletingBook();
    void crashWhileWritingRates();

    void foreignFileRefused_data();
    void foreignFileRefused();
    void directoryNamedNivlets();
    void optionsWithoutRow();
    void optionsTableMissing();
    void orphanNivlet();
    void oddRateValues();
    void nullTexts();
    void walModeFile();

    void hostileTextRoundTrip();
    void searchWildcards();
    void htmlInErrorBoxIsPlainText();

    void logIsDirectory();
    void logIsImmutable();
    void logOnFullDevice();
    void logIsFifo();
    void logAppendsAcrossRuns();

    void immutableFlagOutlivesNoCrash();
    void mountOutlivesNoCrash();

private:
    void checkFileUntouchedAfter(const QByteArray &bytes,
                                 const std::function<void(NivletCore &)> &work);
    void runLocked(const QString &opName, bool otherProcess);
    void checkRates(const QString &file, const QList<QByteArray> &lines, int &reported);
};

void TstFaults::initTestCase()
{
    QVERIFY(FaultAlloc::install());
    FaultVfs::install();
    QCOMPARE(QByteArray(sqlite3_vfs_find(nullptr)->zName), QByteArray(FaultVfs::name()));
    testHandler = qInstallMessageHandler(quietBoxes);
}

void TstFaults::cleanupTestCase()
{
    qInstallMessageHandler(testHandler);
}

void TstFaults::cleanup()
{
    FaultAlloc::reset();
    FaultVfs::reset();
    FaultVfs::setReadOnlyOpen(false);
    closeLog();
}

void TstFaults::runLocked(const QString &opName, bool otherProcess)
{
    bool withoutCache = false;
    const Op *op = findOp(opName, withoutCache);
    QVERIFY(op);
    WorkDir work;
    QVERIFY(makeDatabase(work.path(), QString::fromLatin1(fixtureSql)));
    const QString file = work.file(QStringLiteral("nivlets"));
    openLog();
    NivletCore store;
    store.setBusyTimeout(shortWait);
    QVERIFY(store.open());
    if (!withoutCache)
        QVERIFY(store.options());
    const QString memory = memoryOf(store);
    const QByteArray rows = dumpOf(file);

    std::unique_ptr<Plain> holder;
    std::unique_ptr<Child> child;
    if (otherProcess) {
        child = std::make_unique<Child>(
            QStringList{QStringLiteral("lock"), QStringLiteral("immediate")}, work.path());
        QVERIFY(child->waitForLine("locked"));
    } else {
        holder = std::make_unique<Plain>(file);
        QCOMPARE(holder->exec("BEGIN IMMEDIATE"), SQLITE_OK);
    }
    {
        BoxCatcher boxes;
        QVERIFY(!op->run(store));
        CHECKED(checkOneReport(boxes, report(op->failure, SQLITE_BUSY, lockedMessage)));
    }
    QCOMPARE(logText(), QStringLiteral("Error: ") +
                            report(op->failure, SQLITE_BUSY, lockedMessage) + QLatin1Char('\n'));
    QCOMPARE(memoryOf(store), memory);
    QCOMPARE(dumpOf(file), rows);

    if (otherProcess) {
        child->say("release");
        QVERIFY(child->process.waitForFinished(10000));
        QCOMPARE(child->process.exitCode(), 0);
    } else {
        QCOMPARE(holder->exec("ROLLBACK"), SQLITE_OK);
    }
    QCOMPARE(dumpOf(file), rows);
    {
        BoxCatcher boxes;
        QVERIFY(op->run(store));
        QVERIFY(boxes.texts.isEmpty());
    }
    QVERIFY2(op->changedInMemory(store), qPrintable(memoryOf(store)));
    QCOMPARE(valueOf(file, op->probe), op->changed);
}

void TstFaults::lockedByConnection_data()
{
    addOpRows();
}

void TstFaults::lockedByConnection()
{
    QFETCH(QString, op);
    runLocked(op, false);
}

void TstFaults::lockedByProcess_data()
{
    addOpRows();
}

void TstFaults::lockedByProcess()
{
    QFETCH(QString, op);
    runLocked(op, true);
}

void TstFaults::exclusiveLockStopsReads()
{
    WorkDir work;
    QVERIFY(makeDatabase(work.path(), QString::fromLatin1(fixtureSql)));
    openLog();
    NivletCore store;
    store.setBusyTimeout(shortWait);
    QVERIFY(store.open());
    const QString memory = memoryOf(store);
    Child child({QStringLiteral("lock"), QStringLiteral("exclusive")}, work.path());
    QVERIFY(child.waitForLine("locked"));
    {
        BoxCatcher boxes;
        QVERIFY(!store.options());
        QVERIFY(!store.getNivlet(1));
        QCOMPARE(store.countNivletsOfBook(1), -1);
        QVERIFY(!store.search(QString(), nullptr, false));
        QCOMPARE(boxes.texts,
                 QStringList({report(QStringLiteral("Could not get options from database."),
                                     SQLITE_BUSY, lockedMessage),
                              report(QStringLiteral("Could not get nivlet from database."),
                                     SQLITE_BUSY, lockedMessage),
                              report(QStringLiteral("Could not count nivlets for a book."),
                                     SQLITE_BUSY, lockedMessage),
                              report(QStringLiteral("Could not search for nivlets."), SQLITE_BUSY,
                                     lockedMessage)}));
    }
    QCOMPARE(memoryOf(store), memory);
    {
        BoxCatcher boxes;
        QVERIFY(!store.reloadActiveNivlets());
        CHECKED(checkOneReport(boxes, report(QStringLiteral("Could not reload active nivlets."),
                                             SQLITE_BUSY, lockedMessage)));
    }
    // The list was emptied by the failed reload, so it no longer shows the
    // file and must be reloaded before anything is drawn from it.
    QVERIFY(store.activeNivlets.isEmpty());
    QVERIFY(store.activeListStale);
    QVERIFY(!store.pendingNivlet);

    child.say("release");
    QVERIFY(child.process.waitForFinished(10000));
    BoxCatcher boxes;
    QVERIFY(store.options());
    std::unique_ptr<Nivlet> one(store.getNivlet(1));
    QVERIFY(one);
    QCOMPARE(store.countNivletsOfBook(1), 3);
    std::unique_ptr<QList<Nivlet *>> found(store.search(QString(), nullptr, false));
    QVERIFY(found);
    QCOMPARE(found->size(), 5);
    qDeleteAll(*found);
    QVERIFY(store.reloadActiveNivlets());
    QCOMPARE(store.activeNivletCount(), 3);
    QVERIFY(!store.activeListStale);
    QVERIFY(boxes.texts.isEmpty());
}

void TstFaults::readOnly_data()
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

void TstFaults::readOnly()
{
    QFETCH(QString, mechanism);
    QFETCH(QString, op);
    bool withoutCache = false;
    const Op *change = findOp(op, withoutCache);
    QVERIFY(change);

    WorkDir work;
    const QString data = work.file(QStringLiteral("data"));
    QVERIFY(QDir().mkpath(data));
    QVERIFY(makeDatabase(data, QString::fromLatin1(fixtureSql)));
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
        std::unique_ptr<QList<Nivlet *>> found(store.search(QStringLiteral("q"), nullptr, true));
        QVERIFY(found);
        QCOMPARE(found->size(), 3);
        qDeleteAll(*found);
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

void TstFaults::ioFaultInEveryChange_data()
{
    QTest::addColumn<QString>("op");
    QTest::addColumn<int>("point");
    QTest::addColumn<int>("action");
    QTest::addColumn<int>("code");
    struct Mode
    {
        const char *name;
        FaultVfs::Point point;
        FaultVfs::Action action;
        int code;
    };
    const Mode modes[] = {
        {"disk full once", FaultVfs::Point::Write, FaultVfs::Action::FailOnce, SQLITE_FULL},
        {"write error for good", FaultVfs::Point::Write, FaultVfs::Action::FailFrom,
         SQLITE_IOERR_WRITE},
        {"sync error once", FaultVfs::Point::Sync, FaultVfs::Action::FailOnce, SQLITE_IOERR_FSYNC},
        {"journal delete error", FaultVfs::Point::Delete, FaultVfs::Action::FailOnce,
         SQLITE_IOERR_DELETE},
    };
    for (const Mode &m : modes) {
        for (const Op &op : ops())
            QTest::newRow(qPrintable(op.name + QLatin1Char(' ') + QLatin1String(m.name)))
                << op.name << static_cast<int>(m.point) << static_cast<int>(m.action) << m.code;
    }
}

void TstFaults::ioFaultInEveryChange()
{
    QFETCH(QString, op);
    QFETCH(int, point);
    QFETCH(int, action);
    QFETCH(int, code);
    bool withoutCache = false;
    const Op *change = findOp(op, withoutCache);
    QVERIFY(change);
    const auto faultPoint = static_cast<FaultVfs::Point>(point);

    WorkDir work;
    const QString templ = work.file(QStringLiteral("template"));
    QVERIFY(QDir().mkpath(templ));
    QVERIFY(makeDatabase(templ, QString::fromLatin1(fixtureSql)));
    const QString source = QDir(templ).filePath(QStringLiteral("nivlets"));
    const QString file = work.file(QStringLiteral("nivlets"));

    int calls = 0;
    {
        QVERIFY(copyTemplate(source, file));
        NivletCore store;
        QVERIFY(store.open());
        QVERIFY(store.options());
        FaultVfs::arm(faultPoint, FaultVfs::Action::Count);
        QVERIFY(change->run(store));
        calls = FaultVfs::count(faultPoint);
        FaultVfs::reset();
    }
    QVERIFY(calls > 0);

    int failed = 0;
    for (int n = 1; n <= calls; ++n) {
        QVERIFY(copyTemplate(source, file));
        auto store = std::make_unique<NivletCore>();
        QVERIFY(store->open());
        QVERIFY(store->options());
        const QString memory = memoryOf(*store);
        bool ok;
        {
            BoxCatcher boxes;
            FaultVfs::arm(faultPoint, static_cast<FaultVfs::Action>(action), n, code);
            ok = change->run(*store);
            FaultVfs::reset();
            if (ok) {
                QVERIFY(boxes.texts.isEmpty());
            } else {
                QCOMPARE(boxes.texts.size(), 1);
                QVERIFY2(boxes.texts.first().startsWith(change->failure +
                                                        QStringLiteral(" error code: ")),
                         qPrintable(boxes.texts.first()));
            }
        }
        // Read through a connection that may write, as a crashed or stuck
        // writer leaves a hot journal that the next reader must roll back.
        const QString probe = Plain(file).value(change->probe);
        if (ok) {
            QVERIFY2(change->changedInMemory(*store), qPrintable(memoryOf(*store)));
            QCOMPARE(probe, change->changed);
        } else if (change->partialInMemory && probe == change->partial) {
            ++failed;
            QVERIFY2(change->partialInMemory(*store), qPrintable(memoryOf(*store)));
        } else {
            ++failed;
            QCOMPARE(memoryOf(*store), memory);
            QCOMPARE(probe, change->unchanged);
            BoxCatcher boxes;
            QVERIFY2(change->run(*store), qPrintable(boxes.texts.join(QLatin1Char('\n'))));
            QVERIFY(change->changedInMemory(*store));
        }
        const QString settled = Plain(file).value(change->probe);
        store.reset();
        Plain plain(file);
        QCOMPARE(plain.value(QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
        QCOMPARE(plain.value(change->probe), settled);
    }
    QVERIFY2(failed > 0, "no injected fault ever made the change fail");
}

namespace {

constexpr int alphaCount = 60;
constexpr int betaCount = 10;
constexpr qint64 betaNivlet = alphaCount + 1;

// Long answers over many pages, so the deletion writes many pages and a
// fault can land in the journal, in the file and in between.
bool makeDeletionFixture(const QString &dir)
{
    return QDir().mkpath(dir) &&
           makeDatabase(
               dir,
               QStringLiteral(
                   "INSERT INTO book (id, name, active) VALUES (1, 'Alpha', 1), (2, 'Beta', 1);"
                   "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < %1)"
                   " INSERT INTO nivlet (id, active, kn_rate, book_id, question, answer)"
                   " SELECT i, 1, i / 1000.0, CASE WHEN i <= %2 THEN 1 ELSE 2 END,"
                   " 'question ' || i, printf('%.300c', 'x') || i FROM c;")
                   .arg(alphaCount + betaCount)
                   .arg(alphaCount));
}

} // namespace

void TstFaults::ioFaultDuringBookDeletion_data()
{
    QTest::addColumn<int>("point");
    QTest::addColumn<int>("action");
    QTest::addColumn<int>("code");
    using FaultVfs::Action;
    using FaultVfs::Point;
    QTest::newRow("write error once")
        << int(Point::Write) << int(Action::FailOnce) << SQLITE_IOERR_WRITE;
    QTest::newRow("disk full once") << int(Point::Write) << int(Action::FailOnce) << SQLITE_FULL;
    QTest::newRow("disk stays full") << int(Point::Write) << int(Action::FailFrom) << SQLITE_FULL;
    QTest::newRow("sync error once")
        << int(Point::Sync) << int(Action::FailOnce) << SQLITE_IOERR_FSYNC;
    QTest::newRow("sync error for good")
        << int(Point::Sync) << int(Action::FailFrom) << SQLITE_IOERR_FSYNC;
    QTest::newRow("journal delete error")
        << int(Point::Delete) << int(Action::FailOnce) << SQLITE_IOERR_DELETE;
}

void TstFaults::ioFaultDuringBookDeletion()
{
    QFETCH(int, point);
    QFETCH(int, action);
    QFETCH(int, code);
    const auto faultPoint = static_cast<FaultVfs::Point>(point);

    WorkDir work;
    const QString templ = work.file(QStringLiteral("template"));
    QVERIFY(makeDeletionFixture(templ));
    const QString source = QDir(templ).filePath(QStringLiteral("nivlets"));
    const QString file = work.file(QStringLiteral("nivlets"));

    int calls = 0;
    {
        QVERIFY(copyTemplate(source, file));
        NivletCore store;
        QVERIFY(store.open());
        FaultVfs::arm(faultPoint, FaultVfs::Action::Count);
        QVERIFY(store.deleteBook(store.findBook(1)));
        calls = FaultVfs::count(faultPoint);
        FaultVfs::reset();
    }
    QVERIFY(calls > 0);

    int failed = 0;
    for (int n = 1; n <= calls + 1; ++n) {
        QVERIFY(copyTemplate(source, file));
        auto store = std::make_unique<NivletCore>();
        QVERIFY(store->open());
        Book *alpha = store->findBook(1);
        const QList<Book *> books = store->books;
        bool ok;
        {
            BoxCatcher boxes;
            FaultVfs::arm(faultPoint, static_cast<FaultVfs::Action>(action), n, code);
            ok = store->deleteBook(alpha);
            FaultVfs::reset();
            if (ok) {
                QVERIFY(boxes.texts.isEmpty());
            } else {
                QCOMPARE(boxes.texts.size(), 1);
                QVERIFY2(boxes.texts.first().startsWith(
                             QStringLiteral("Could not delete book. error code: ")),
                         qPrintable(boxes.texts.first()));
            }
        }
        if (n > calls)
            QVERIFY(ok);
        if (ok) {
            QVERIFY(!store->findBook(1));
            QCOMPARE(store->bookCount(), 1);
        } else {
            ++failed;
            QCOMPARE(store->books, books);
            QCOMPARE(alpha->nivletCount, alphaCount);
        }
        {
            // The store's own connection sees what its memory says, and runs on.
            BoxCatcher boxes;
            QCOMPARE(store->countNivletsOfBook(1), ok ? 0 : alphaCount);
            QVERIFY(store->setKnowledgeRate(betaNivlet, 0.5));
            QVERIFY2(boxes.texts.isEmpty(), qPrintable(boxes.texts.join(QLatin1Char('\n'))));
        }
        store.reset();
        Plain plain(file);
        QCOMPARE(plain.value(QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
        QCOMPARE(plain.value(QStringLiteral("SELECT count(*) FROM book WHERE id = 1")),
                 ok ? QStringLiteral("0") : QStringLiteral("1"));
        QCOMPARE(plain.value(QStringLiteral("SELECT count(*) FROM nivlet WHERE book_id = 1")),
                 ok ? QStringLiteral("0") : QString::number(alphaCount));
        QCOMPARE(plain.value(QStringLiteral("SELECT count(*) FROM nivlet WHERE book_id = 2")),
                 QString::number(betaCount));
        QCOMPARE(plain.rate(betaNivlet), 0.5);
    }
    QVERIFY(failed > 0);
    qInfo("%d fault points, %d deletions refused and rolled back", calls, failed);
}

// Memory runs out at some allocation of the deletion and stays out until it
// returns: a statement fails, and so may the ROLLBACK after it, which would
// leave the transaction open for every later write to join.
void TstFaults::outOfMemoryDuringBookDeletion()
{
    WorkDir work;
    const QString templ = work.file(QStringLiteral("template"));
    QVERIFY(makeDeletionFixture(templ));
    const QString source = QDir(templ).filePath(QStringLiteral("nivlets"));
    const QString file = work.file(QStringLiteral("nivlets"));

    int calls = 0;
    {
        QVERIFY(copyTemplate(source, file));
        NivletCore store;
        QVERIFY(store.open());
        FaultAlloc::count();
        QVERIFY(store.deleteBook(store.findBook(1)));
        calls = FaultAlloc::allocations();
        FaultAlloc::reset();
    }
    QVERIFY(calls > 0);

    const QString rollbackFailure = report(QStringLiteral("Could not roll back the transaction."),
                                           SQLITE_NOMEM, QStringLiteral("out of memory"));
    // Still out of memory, the connection cannot be opened again at once;
    // the next statement opens it.
    const QString reopenFailure = report(QStringLiteral("Could not open database."), SQLITE_NOMEM,
                                         QStringLiteral("out of memory"));
    int failed = 0;
    int rollbacksFailed = 0;
    int reopensFailed = 0;
    for (int n = 1; n <= calls + 1; ++n) {
        QVERIFY(copyTemplate(source, file));
        auto store = std::make_unique<NivletCore>();
        QVERIFY(store->open());
        Book *alpha = store->findBook(1);
        const QList<Book *> books = store->books;
        bool ok;
        {
            BoxCatcher boxes;
            FaultAlloc::failFrom(n);
            ok = store->deleteBook(alpha);
            FaultAlloc::reset();
            if (ok) {
                QVERIFY(boxes.texts.isEmpty());
            } else {
                QCOMPARE(boxes.texts.size(), 1);
                const QString &shown = boxes.texts.first();
                QVERIFY2(shown.startsWith(QStringLiteral("Could not delete book. error code: ")),
                         qPrintable(shown));
                if (shown.contains(rollbackFailure))
                    ++rollbacksFailed;
                if (shown.contains(reopenFailure))
                    ++reopensFailed;
            }
        }
        if (n > calls)
            QVERIFY(ok);
        if (ok) {
            QVERIFY(!store->findBook(1));
        } else {
            ++failed;
            QCOMPARE(store->books, books);
            QCOMPARE(alpha->nivletCount, alphaCount);
        }
        {
            // A later write reaches the file at once, as another program
            // sees it; the store runs on as its memory says.
            BoxCatcher boxes;
            QVERIFY(store->setKnowledgeRate(betaNivlet, 0.5));
            QCOMPARE(Plain(file).rate(betaNivlet), 0.5);
            QCOMPARE(store->countNivletsOfBook(1), ok ? 0 : alphaCount);
            QVERIFY2(boxes.texts.isEmpty(), qPrintable(boxes.texts.join(QLatin1Char('\n'))));
        }
        store.reset();
        Plain plain(file);
        QCOMPARE(plain.value(QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
        QCOMPARE(plain.value(QStringLiteral("SELECT count(*) FROM nivlet WHERE book_id = 1")),
                 ok ? QStringLiteral("0") : QString::number(alphaCount));
        QCOMPARE(plain.value(QStringLiteral("SELECT count(*) FROM nivlet WHERE book_id = 2")),
                 QString::number(betaCount));
        QCOMPARE(plain.rate(betaNivlet), 0.5);
    }
    QVERIFY(failed > 0);
    QVERIFY(rollbacksFailed > 0);
    QVERIFY(reopensFailed > 0);
    qInfo("%d allocations, %d deletions refused, %d with a failed rollback", calls, failed,
          rollbacksFailed);
}

void TstFaults::readErrorWhileOpening()
{
    WorkDir work;
    QVERIFY(makeDatabase(
        work.path(),
        QStringLiteral(
            "INSERT INTO book (id, name, active) VALUES (1, 'Alpha', 1), (2, 'Beta', 1);"
            "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < "
            "400) INSERT INTO nivlet (active, kn_rate, book_id, question, answer)"
            " SELECT 1, i / 400.0, 1 + i % 2, 'q' || i, printf('%.100c', 'a') FROM c;")));
    const QByteArray bytes = readBytes(QStringLiteral("nivlets"));
    int reads = 0;
    {
        NivletCore store;
        FaultVfs::arm(FaultVfs::Point::Read, FaultVfs::Action::Count);
        QVERIFY(store.open());
        reads = FaultVfs::count(FaultVfs::Point::Read);
        FaultVfs::reset();
    }
    QVERIFY(reads > 3);
    const QStringList failures = {QStringLiteral("Could not open database."),
                                  QStringLiteral("Could not read books."),
                                  QStringLiteral("Could not count nivlets for a book."),
                                  QStringLiteral("Could not reload active nivlets.")};
    QSet<QString> seen;
    for (int n = 1; n <= reads; ++n) {
        BoxCatcher boxes;
        NivletCore store;
        FaultVfs::arm(FaultVfs::Point::Read, FaultVfs::Action::FailOnce, n, SQLITE_IOERR_READ);
        const bool ok = store.open();
        FaultVfs::reset();
        if (ok) {
            QVERIFY(boxes.texts.isEmpty());
            QCOMPARE(store.totalNivletCount(), 400);
            QCOMPARE(store.activeNivletCount(), 400);
            continue;
        }
        QCOMPARE(boxes.texts.size(), 1);
        const QString failure = boxes.texts.first().section(QLatin1String(" error code: "), 0, 0);
        QVERIFY2(failures.contains(failure), qPrintable(boxes.texts.first()));
        seen.insert(failure);
        QVERIFY(store.activeNivlets.isEmpty());
        QVERIFY(store.activeListStale);
        QCOMPARE(readBytes(QStringLiteral("nivlets")), bytes);
    }
    QVERIFY2(seen.size() >= 2, qPrintable(QStringList(seen.values()).join(QLatin1Char(','))));
}

void TstFaults::busyCommitRollsBack()
{
    bool withoutCache = false;
    const Op *deletion = findOp(QStringLiteral("deleteBook"), withoutCache);
    QVERIFY(deletion);
    WorkDir work;
    QVERIFY(makeDatabase(work.path(), QString::fromLatin1(fixtureSql)));
    const QString file = work.file(QStringLiteral("nivlets"));
    openLog();
    NivletCore store;
    store.setBusyTimeout(shortWait);
    QVERIFY(store.open());
    Book *alpha = store.findBook(1);
    const QString memory = memoryOf(store);

    Plain reader(file, true);
    sqlite3_stmt *reading = nullptr;
    QCOMPARE(sqlite3_prepare_v2(reader.db, "SELECT id FROM nivlet", -1, &reading, nullptr),
             SQLITE_OK);
    QCOMPARE(sqlite3_step(reading), SQLITE_ROW);
    const QString expected =
        report(QStringLiteral("Could not delete book."), SQLITE_BUSY, lockedMessage);
    {
        BoxCatcher boxes;
        QVERIFY(!store.deleteBook(alpha));
        CHECKED(checkOneReport(boxes, expected));
    }
    QCOMPARE(logText(), QStringLiteral("Error: ") + expected + QLatin1Char('\n'));
    QCOMPARE(memoryOf(store), memory);
    sqlite3_finalize(reading);
    QCOMPARE(valueOf(file, deletion->probe), QStringLiteral("1|3"));

    BoxCatcher boxes;
    QVERIFY(store.setKnowledgeRate(4, 0.9));
    // Seen from another connection, so the store holds no transaction open.
    QCOMPARE(valueOf(file, QStringLiteral("SELECT kn_rate FROM nivlet WHERE id = 4")),
             QStringLiteral("0.9"));
    QVERIFY(store.deleteBook(alpha));
    QCOMPARE(valueOf(file, deletion->probe), QStringLiteral("0|0"));
    QVERIFY(boxes.texts.isEmpty());
}

void TstFaults::crashWhileDeletingBook()
{
    constexpr int bookSize = 20000;
    WorkDir work;
    const QString templ = work.file(QStringLiteral("template"));
    QVERIFY(QDir().mkpath(templ));
    QVERIFY(makeDatabase(
        templ, QStringLiteral(
                   "INSERT INTO book (id, name, active) VALUES (1, 'Large', 1), (2, 'Small', 1);"
                   "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < %1)"
                   " INSERT INTO nivlet (id, active, kn_rate, book_id, question, answer)"
                   " SELECT i, 1, (i % 100) / 100.0, 1, 'question ' || i,"
                   " 'answer ' || i || ' ' || hex(randomblob(16)) FROM c;"
                   "INSERT INTO nivlet (active, kn_rate, book_id, question, answer) VALUES"
                   " (1, 0.5, 2, 'small 1', 'a'), (1, 0.5, 2, 'small 2', 'b');")
                   .arg(bookSize)));
    const QString source = QDir(templ).filePath(QStringLiteral("nivlets"));
    const QString file = work.file(QStringLiteral("nivlets"));

    int writes = 0;
    int syncs = 0;
    int deletes = 0;
    qint64 duration = 0;
    {
        QVERIFY(copyTemplate(source, file));
        NivletCore store;
        QVERIFY(store.open());
        FaultVfs::arm(FaultVfs::Point::Write, FaultVfs::Action::Count);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(store.deleteBook(store.findBook(1)));
        duration = clock.elapsed();
        writes = FaultVfs::count(FaultVfs::Point::Write);
        syncs = FaultVfs::count(FaultVfs::Point::Sync);
        deletes = FaultVfs::count(FaultVfs::Point::Delete);
        FaultVfs::reset();
    }
    QVERIFY(writes > 8 && syncs > 0 && deletes > 0);

    auto checkFile = [&](bool mustRemain, bool mustBeGone) {
        Plain plain(file);
        QCOMPARE(plain.value(QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
        const QString state =
            plain.value(QStringLiteral("SELECT (SELECT count(*) FROM book WHERE id = 1) || '|' ||"
                                       " (SELECT count(*) FROM nivlet WHERE book_id = 1)"));
        const QString whole = QStringLiteral("1|") + QString::number(bookSize);
        QVERIFY2(state == whole || state == QLatin1String("0|0"), qPrintable(state));
        if (mustRemain)
            QCOMPARE(state, whole);
        if (mustBeGone)
            QCOMPARE(state, QStringLiteral("0|0"));
        QCOMPARE(plain.value(QStringLiteral("SELECT count(*) FROM nivlet WHERE book_id = 2")),
                 QStringLiteral("2"));
    };

    // Frozen just before the n-th write, sync or the journal's deletion,
    // then killed: everything before the journal is gone is uncommitted.
    QList<QPair<FaultVfs::Point, int>> stalls;
    for (int k = 0; k <= 8; ++k)
        stalls.append({FaultVfs::Point::Write, qMax(1, writes * k / 8)});
    for (int s = 1; s <= syncs; ++s)
        stalls.append({FaultVfs::Point::Sync, s});
    stalls.append({FaultVfs::Point::Delete, deletes});
    const char *const pointNames[] = {"write", "sync", "delete"};
    for (const auto &stall : std::as_const(stalls)) {
        QVERIFY(copyTemplate(source, file));
        Child child({QStringLiteral("deletebook"), QLatin1String(pointNames[int(stall.first)]),
                     QString::number(stall.second)},
                    work.path());
        QVERIFY2(child.waitForLine("stall"),
                 qPrintable(QStringLiteral("no stall at %1 %2")
                                .arg(QLatin1String(pointNames[int(stall.first)]))
                                .arg(stall.second)));
        child.killHard();
        QCOMPARE(child.process.exitStatus(), QProcess::CrashExit);
        CHECKED(checkFile(true, false));
    }

    // Killed at a moment the test does not choose: whichever state it
    // finds must be whole.
    for (int k = 0; k < 4; ++k) {
        QVERIFY(copyTemplate(source, file));
        Child child({QStringLiteral("deletebook"), QStringLiteral("none"), QStringLiteral("0")},
                    work.path());
        QVERIFY(child.waitForLine("ready"));
        QThread::usleep(static_cast<unsigned long>(duration * 1000 * k / 3));
        child.killHard();
        const bool done = child.lines().contains("done 1");
        CHECKED(checkFile(false, done));
    }
    qInfo("%d writes, %d syncs; %d frozen and 4 timed kills", writes, syncs,
          static_cast<int>(stalls.size()));
}

void TstFaults::checkRates(const QString &file, const QList<QByteArray> &lines, int &reported)
{
    Plain plain(file);
    QCOMPARE(plain.value(QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
    qint64 last = 0;
    int lost = 0;
    reported = 0;
    for (const QByteArray &line : lines) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() != 2)
            continue;
        const qint64 id = parts.at(0).toLongLong();
        const double rate = parts.at(1).toDouble();
        ++reported;
        QCOMPARE(rate, rateFor(id));
        if (plain.rate(id) != rate)
            ++lost;
        last = qMax(last, id);
    }
    QCOMPARE(lost, 0);
    const double next = plain.rate(last + 1);
    QVERIFY(next == 0.0 || next == rateFor(last + 1));
    QCOMPARE(
        plain.value(QStringLiteral("SELECT count(*) FROM nivlet WHERE id > %1 AND kn_rate <> 0")
                        .arg(last + 1)),
        QStringLiteral("0"));
}

void TstFaults::crashWhileWritingRates()
{
    constexpr int nivletCount = 2000;
    WorkDir work;
    const QString templ = work.file(QStringLiteral("template"));
    QVERIFY(QDir().mkpath(templ));
    QVERIFY(makeDatabase(
        templ, QStringLiteral(
                   "INSERT INTO book (id, name, active) VALUES (1, 'Rates', 1);"
                   "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < %1)"
                   " INSERT INTO nivlet (id, active, kn_rate, book_id, question, answer)"
                   " SELECT i, 1, 0.0, 1, 'question ' || i, 'answer ' || i FROM c;")
                   .arg(nivletCount)));
    const QString source = QDir(templ).filePath(QStringLiteral("nivlets"));
    const QString file = work.file(QStringLiteral("nivlets"));

    int writesPerRate = 0;
    int syncsPerRate = 0;
    {
        QVERIFY(copyTemplate(source, file));
        NivletCore store;
        QVERIFY(store.open());
        FaultVfs::arm(FaultVfs::Point::Write, FaultVfs::Action::Count);
        QVERIFY(store.setKnowledgeRate(1, 0.5));
        writesPerRate = FaultVfs::count(FaultVfs::Point::Write);
        syncsPerRate = FaultVfs::count(FaultVfs::Point::Sync);
        FaultVfs::reset();
    }
    QVERIFY(writesPerRate > 0 && syncsPerRate > 0);

    int runs = 0;
    int totalReported = 0;
    const char *const pointNames[] = {"write", "sync", "delete"};
    QList<QPair<FaultVfs::Point, int>> stalls;
    const int step = qMax(1, writesPerRate / 8);
    for (int j = 1; j <= writesPerRate; j += step)
        stalls.append({FaultVfs::Point::Write, 20 * writesPerRate + j});
    for (int j = 1; j <= syncsPerRate; ++j)
        stalls.append({FaultVfs::Point::Sync, 20 * syncsPerRate + j});
    stalls.append({FaultVfs::Point::Delete, 21});
    for (const auto &stall : std::as_const(stalls)) {
        QVERIFY(copyTemplate(source, file));
        Child child({QStringLiteral("rates"), QLatin1String(pointNames[int(stall.first)]),
                     QString::number(stall.second), QString::number(nivletCount)},
                    work.path());
        QVERIFY(child.waitForLine("stall"));
        child.killHard();
        QCOMPARE(child.process.exitStatus(), QProcess::CrashExit);
        int reported = 0;
        CHECKED(checkRates(file, child.lines(), reported));
        QVERIFY(reported >= 10);
        totalReported += reported;
        ++runs;
    }
    for (const int wanted : {5, 60}) {
        QVERIFY(copyTemplate(source, file));
        Child child({QStringLiteral("rates"), QStringLiteral("none"), QStringLiteral("0"),
                     QString::number(nivletCount)},
                    work.path());
        QVERIFY(child.waitForLine("ready"));
        QElapsedTimer clock;
        clock.start();
        while (child.lineCount() < wanted + 1 && clock.elapsed() < 30000)
            child.process.waitForReadyRead(50);
        child.killHard();
        QCOMPARE(child.process.exitStatus(), QProcess::CrashExit);
        int reported = 0;
        CHECKED(checkRates(file, child.lines(), reported));
        QVERIFY(reported >= wanted);
        totalReported += reported;
        ++runs;
    }
    qInfo("%d killed runs, %d reported rates, none lost", runs, totalReported);
}

void TstFaults::checkFileUntouchedAfter(const QByteArray &bytes,
                                        const std::function<void(NivletCore &)> &work)
{
    QFile out(QStringLiteral("nivlets"));
    QVERIFY(out.open(QIODevice::WriteOnly));
    QCOMPARE(out.write(bytes), qint64(bytes.size()));
    out.close();
    {
        NivletCore store;
        work(store);
    }
    QCOMPARE(readBytes(QStringLiteral("nivlets")), bytes);
    QStringList files = QDir::current().entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
    files.removeAll(QStringLiteral("nivlets.log"));
    QCOMPARE(files, QStringList{QStringLiteral("nivlets")});
}

namespace {

QByteArray databaseBytes(const QString &sql)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("db"));
    if (!execSql(file, sql))
        return QByteArray();
    return readBytes(file);
}

QByteArray ourDatabase(const QString &extraSql = QString())
{
    return databaseBytes(inOneTransaction(schemaSql() + QLatin1Char('\n') + extraSql));
}

} // namespace

void TstFaults::foreignFileRefused_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");

    QByteArray random(65536, '\0');
    QRandomGenerator generator(20240607);
    for (char &c : random)
        c = static_cast<char>(generator.bounded(256));
    const QString notADatabase = QStringLiteral("Could not read books. error code: 26 error "
                                                "message: file is not a database");
    const QString malformed = QStringLiteral("Could not read books. error code: 11 error "
                                             "message: database disk image is malformed");
    QTest::newRow("random bytes") << random << notADatabase;
    QTest::newRow("text file") << QByteArray("book;nivlet;options\n").repeated(500) << notADatabase;

    const QByteArray full = ourDatabase(
        QStringLiteral("INSERT INTO book (id, name, active) VALUES (1, 'Alpha', 1);"
                       "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < "
                       "300) INSERT INTO nivlet (active, kn_rate, book_id, question, answer)"
                       " SELECT 1, 0.1, 1, 'q' || i, printf('%.200c', 'a') FROM c;"));
    QVERIFY(full.size() > 8 * 4096);
    QTest::newRow("truncated to nothing")
        << QByteArray()
        << QStringLiteral("Could not read books. error code: 1 error message: no "
                          "such table: book");
    QTest::newRow("truncated to the header") << full.left(100) << malformed;
    QTest::newRow("truncated to one page") << full.left(4096) << malformed;
    QTest::newRow("truncated to half") << full.left(full.size() / 2) << malformed;
    QTest::newRow("last page missing") << full.left(full.size() - 4096) << malformed;

    QByteArray header = full.left(100);
    header += random.left(4096 * 4 - 100);
    QTest::newRow("valid header, random pages") << header << malformed;

    QTest::newRow("foreign tables")
        << databaseBytes(QStringLiteral("CREATE TABLE notes (id INTEGER PRIMARY KEY, text);"
                                        "INSERT INTO notes (text) VALUES ('hello');"))
        << QStringLiteral("Could not read books. error code: 1 error message: no such table: book");
    QTest::newRow("book table only")
        << databaseBytes(QStringLiteral("CREATE TABLE book (id INTEGER PRIMARY KEY, name, active);"
                                        "INSERT INTO book VALUES (1, 'Alpha', 1);"))
        << QStringLiteral("Could not count nivlets for a book. error code: 1 error message: no "
                          "such table: nivlet");
    QTest::newRow("book without active column")
        << databaseBytes(QStringLiteral("CREATE TABLE book (id INTEGER PRIMARY KEY, name);"))
        << QStringLiteral("Could not read books. error code: 1 error message: no such column: "
                          "active");
    QTest::newRow("nivlet without kn_rate")
        << databaseBytes(QStringLiteral(
               "CREATE TABLE book (id INTEGER PRIMARY KEY, name, active);"
               "CREATE TABLE nivlet (id INTEGER PRIMARY KEY, active, book_id, question, answer);"
               "INSERT INTO book VALUES (1, 'Alpha', 1);"))
        << QStringLiteral("Could not reload active nivlets. error code: 1 error message: no such "
                          "column: m.kn_rate");
}

void TstFaults::foreignFileRefused()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    WorkDir work;
    openLog();
    BoxCatcher boxes;
    CHECKED(checkFileUntouchedAfter(bytes, [](NivletCore &store) { QVERIFY(!store.open()); }));
    CHECKED(checkOneReport(boxes, expected));
    closeLog();
    QCOMPARE(logText(), QStringLiteral("Error: ") + expected + QLatin1Char('\n'));
}

void TstFaults::directoryNamedNivlets()
{
    WorkDir work;
    QVERIFY(QDir().mkdir(QStringLiteral("nivlets")));
    openLog();
    {
        BoxCatcher boxes;
        NivletCore store;
        QVERIFY(!store.open());
        CHECKED(checkOneReport(boxes, QStringLiteral("Could not open database. error code: 14 "
                                                     "error message: unable to open database "
                                                     "file")));
    }
    QVERIFY(QFileInfo(QStringLiteral("nivlets")).isDir());
    QVERIFY(QDir(QStringLiteral("nivlets")).isEmpty());
}

void TstFaults::optionsWithoutRow()
{
    WorkDir work;
    BoxCatcher boxes;
    const QByteArray bytes =
        ourDatabase(QString::fromLatin1(fixtureSql) + QStringLiteral("DELETE FROM options;"));
    CHECKED(checkFileUntouchedAfter(bytes, [](NivletCore &store) {
        QVERIFY(store.open());
        const Options *options = store.options();
        QVERIFY(options);
        QCOMPARE(options->autoCh, false);
        QVERIFY(options->autoChInterval >= NivletCore::minInterval &&
                options->autoChInterval <= NivletCore::maxInterval);
        QCOMPARE(store.options(), options);
        QCOMPARE(store.activeNivletCount(), 3);
    }));
    QVERIFY(boxes.texts.isEmpty());
}

void TstFaults::optionsTableMissing()
{
    WorkDir work;
    BoxCatcher boxes;
    const QByteArray bytes =
        ourDatabase(QString::fromLatin1(fixtureSql) + QStringLiteral("DROP TABLE options;"));
    CHECKED(checkFileUntouchedAfter(bytes, [](NivletCore &store) {
        QVERIFY(store.open());
        QVERIFY(!store.options());
        QVERIFY(!store.options());
        QVERIFY(!store.optionsCache);
    }));
    const QString expected = QStringLiteral("Could not get options from database. error code: 1 "
                                            "error message: no such table: options");
    QCOMPARE(boxes.texts, QStringList({expected, expected}));
}

void TstFaults::orphanNivlet()
{
    WorkDir work;
    BoxCatcher boxes;
    const QByteArray bytes = ourDatabase(
        QStringLiteral("INSERT INTO book (id, name, active) VALUES (1, 'Alpha', 1);"
                       "INSERT INTO nivlet (id, active, kn_rate, book_id, question, answer) VALUES"
                       " (1, 1, 0.2, 1, 'kept', 'a'), (2, 1, 0.1, 99, 'orphan', 'b');"));
    CHECKED(checkFileUntouchedAfter(bytes, [](NivletCore &store) {
        QVERIFY(store.open());
        QCOMPARE(store.bookCount(), 1);
        QCOMPARE(store.findBook(1)->nivletCount, 1);
        QCOMPARE(store.totalNivletCount(), 1);
        QCOMPARE(store.activeNivletCount(), 1);
        QCOMPARE(store.activeNivlets.first()->id, qint64(1));
        std::unique_ptr<Nivlet> orphan(store.getNivlet(2));
        QVERIFY(orphan);
        QCOMPARE(orphan->book, nullptr);
        QCOMPARE(orphan->question, QStringLiteral("orphan"));
        std::unique_ptr<QList<Nivlet *>> found(store.search(QString(), nullptr, false));
        QVERIFY(found);
        QCOMPARE(found->size(), 1);
        QCOMPARE(found->first()->id, qint64(1));
        qDeleteAll(*found);
    }));
    QVERIFY(boxes.texts.isEmpty());
}

void TstFaults::oddRateValues()
{
    WorkDir work;
    BoxCatcher boxes;
    // No declared type on kn_rate, so text and other odd values stay as
    // they were written by whoever edited the file.
    const QByteArray bytes = databaseBytes(QStringLiteral(
        "CREATE TABLE book (id INTEGER PRIMARY KEY, name, active);"
        "CREATE TABLE nivlet (id INTEGER PRIMARY KEY, active, kn_rate, book_id, question, answer);"
        "CREATE TABLE options (auto_ch, auto_ch_interval, puzzle_affects_rates);"
        "INSERT INTO options VALUES (0, 900, 1);"
        "INSERT INTO book VALUES (1, 'Alpha', 1);"
        "INSERT INTO nivlet VALUES (1, 1, NULL, 1, 'null', 'a'), (2, 1, 'abc', 1, 'text', 'a'),"
        " (3, 1, '0.25', 1, 'numeric text', 'a'), (4, 1, 7.5, 1, 'too big', 'a'),"
        " (5, 1, -1, 1, 'negative', 'a'), (6, 1, x'00ff', 1, 'blob', 'a'),"
        " (7, 1, 0.5, 1, 'plain', 'a');"));
    CHECKED(checkFileUntouchedAfter(bytes, [](NivletCore &store) {
        QVERIFY(store.open());
        QCOMPARE(store.activeNivletCount(), 7);
        const QList<double> expected = {0.0, 0.0, 0.25, 1.0, 0.0, 0.0, 0.5};
        for (int id = 1; id <= 7; ++id) {
            std::unique_ptr<Nivlet> n(store.getNivlet(id));
            QVERIFY(n);
            QCOMPARE(n->knRate, expected.at(id - 1));
        }
        for (const Nivlet *n : std::as_const(store.activeNivlets))
            QVERIFY(n->knRate >= 0.0 && n->knRate <= 1.0);
    }));
    QVERIFY(boxes.texts.isEmpty());
}

void TstFaults::nullTexts()
{
    WorkDir work;
    BoxCatcher boxes;
    const QByteArray bytes = databaseBytes(QStringLiteral(
        "CREATE TABLE book (id INTEGER PRIMARY KEY, name, active);"
        "CREATE TABLE nivlet (id INTEGER PRIMARY KEY, active, kn_rate, book_id, question, answer);"
        "CREATE TABLE options (auto_ch, auto_ch_interval, puzzle_affects_rates);"
        "INSERT INTO options VALUES (0, 900, 1);"
        "INSERT INTO book VALUES (1, NULL, 1);"
        "INSERT INTO nivlet VALUES (1, 1, 0.1, 1, NULL, 'answer'), (2, 1, 0.2, 1, 'question', "
        "NULL), (3, 1, 0.3, 1, NULL, NULL);"));
    CHECKED(checkFileUntouchedAfter(bytes, [](NivletCore &store) {
        QVERIFY(store.open());
        QCOMPARE(store.book(0)->name, QString());
        QCOMPARE(store.activeNivletCount(), 3);
        std::unique_ptr<Nivlet> first(store.getNivlet(1));
        std::unique_ptr<Nivlet> second(store.getNivlet(2));
        std::unique_ptr<Nivlet> third(store.getNivlet(3));
        QVERIFY(first && second && third);
        QCOMPARE(first->question, QString());
        QCOMPARE(first->answer, QStringLiteral("answer"));
        QCOMPARE(second->answer, QString());
        QVERIFY(second->possibleAnswers.isEmpty());
        QCOMPARE(third->question, QString());
        QCOMPARE(third->answer, QString());
        std::unique_ptr<QList<Nivlet *>> found(store.search(QStringLiteral("q"), nullptr, true));
        QVERIFY(found);
        QCOMPARE(found->size(), 1);
        qDeleteAll(*found);
    }));
    QVERIFY(boxes.texts.isEmpty());
}

void TstFaults::walModeFile()
{
    WorkDir work;
    BoxCatcher boxes;
    // The mode cannot change inside a transaction, so it is set after it.
    const QByteArray bytes = databaseBytes(
        inOneTransaction(schemaSql() + QLatin1Char('\n') + QString::fromLatin1(fixtureSql)) +
        QStringLiteral("PRAGMA journal_mode = WAL;"));
    QCOMPARE(bytes.at(18), char(2));
    CHECKED(checkFileUntouchedAfter(bytes, [](NivletCore &store) {
        QVERIFY(store.open());
        QVERIFY(store.options());
        QCOMPARE(store.activeNivletCount(), 3);
    }));
    QVERIFY(boxes.texts.isEmpty());
}

void TstFaults::hostileTextRoundTrip()
{
    WorkDir work;
    QVERIFY(makeDatabase(work.path(),
                         QStringLiteral("INSERT INTO book (id, name, active) VALUES (1, 'Plain', "
                                        "1);")));
    const QString file = work.file(QStringLiteral("nivlets"));
    const QStringList texts = hostileTexts();
    const QString big = megabyteAnswer();
    QVERIFY(big.toUtf8().size() >= (1 << 20));
    QMap<QString, QString> answers;
    for (const QString &t : texts)
        answers.insert(t, t + QStringLiteral("\n# ") + t + QStringLiteral("\n") + t);
    answers.insert(QStringLiteral("big answer"), big);

    auto checkStore = [&](NivletCore &store) {
        QVERIFY(store.reloadActiveNivlets());
        QCOMPARE(store.activeNivletCount(), int(answers.size()));
        QMap<QString, qint64> ids;
        for (const Nivlet *n : std::as_const(store.activeNivlets)) {
            QVERIFY2(answers.contains(n->question), qPrintable(n->question));
            QCOMPARE(n->answer, answers.value(n->question));
            ids.insert(n->question, n->id);
        }
        QCOMPARE(ids.size(), answers.size());
        for (auto it = ids.cbegin(); it != ids.cend(); ++it) {
            std::unique_ptr<Nivlet> read(store.getNivlet(it.value()));
            QVERIFY(read);
            QCOMPARE(read->question, it.key());
            QCOMPARE(read->answer, answers.value(it.key()));

            std::unique_ptr<QList<Nivlet *>> found(store.search(it.key(), nullptr, false));
            QVERIFY(found);
            QSet<qint64> foundIds;
            for (const Nivlet *n : std::as_const(*found)) {
                foundIds.insert(n->id);
                QCOMPARE(n->answer, answers.value(n->question));
            }
            qDeleteAll(*found);
            QSet<qint64> expected;
            for (auto other = ids.cbegin(); other != ids.cend(); ++other) {
                if (likeMatches(it.key() + QLatin1Char('%'), other.key()))
                    expected.insert(other.value());
            }
            QVERIFY(expected.contains(it.value()));
            QCOMPARE(foundIds, expected);
        }
        QStringList names;
        for (const Book *b : std::as_const(store.books))
            names << b->name;
        QCOMPARE(names, QStringList{QStringLiteral("Plain")} + texts);
        for (const QString &t : texts) {
            QVERIFY(store.findBookByName(t));
            QCOMPARE(store.findBookByName(t)->name, t);
        }
    };

    BoxCatcher boxes;
    {
        NivletCore store;
        QVERIFY(store.open());
        Book *plain = store.findBook(1);
        for (auto it = answers.cbegin(); it != answers.cend(); ++it)
            QVERIFY(store.addNivlet(plain, it.key(), it.value(), true));
        for (const QString &t : texts)
            QVERIFY(store.addBook(t, true));
        CHECKED(checkStore(store));
    }
    {
        Plain plain(file, true);
        QCOMPARE(plain.value(QStringLiteral("SELECT count(*) FROM nivlet")),
                 QString::number(answers.size()));
        QCOMPARE(plain.value(QStringLiteral("SELECT count(*) FROM book")),
                 QString::number(texts.size() + 1));
        sqlite3_stmt *stmt = nullptr;
        QCOMPARE(
            sqlite3_prepare_v2(plain.db, "SELECT question, answer FROM nivlet", -1, &stmt, nullptr),
            SQLITE_OK);
        int rows = 0;
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            const QByteArray question(static_cast<const char *>(sqlite3_column_blob(stmt, 0)),
                                      sqlite3_column_bytes(stmt, 0));
            const QByteArray answer(static_cast<const char *>(sqlite3_column_blob(stmt, 1)),
                                    sqlite3_column_bytes(stmt, 1));
            const QString q = QString::fromUtf8(question);
            QVERIFY(answers.contains(q));
            QCOMPARE(question, q.toUtf8());
            QCOMPARE(answer, answers.value(q).toUtf8());
            QCOMPARE(sqlite3_column_type(stmt, 0), SQLITE_TEXT);
            ++rows;
        }
        sqlite3_finalize(stmt);
        QCOMPARE(rows, int(answers.size()));
    }
    {
        NivletCore reopened;
        QVERIFY(reopened.open());
        CHECKED(checkStore(reopened));
    }
    QVERIFY(boxes.texts.isEmpty());
}

void TstFaults::searchWildcards()
{
    WorkDir work;
    const QStringList questions = {
        QStringLiteral("abc"),        QStringLiteral("ABC"),          QStringLiteral("a_c"),
        QStringLiteral("a%c"),        QStringLiteral("axc"),          QStringLiteral("ac"),
        QStringLiteral("a[b]c"),      QStringLiteral("a*c"),          QStringLiteral("a\\c"),
        QStringLiteral("a?c"),        QStringLiteral("'quote"),       QStringLiteral("\"double"),
        QStringLiteral("xyz"),        QStringLiteral("%lead"),        QStringLiteral("_lead"),
        QString::fromUtf8("é-small"), QString::fromUtf8("É-capital"), QStringLiteral("a.c")};
    QString sql = QStringLiteral("INSERT INTO book (id, name, active) VALUES (1, 'B', 1);");
    for (const QString &q : questions) {
        QString quoted = q;
        quoted.replace(QLatin1Char('\''), QStringLiteral("''"));
        sql += QStringLiteral("INSERT INTO nivlet (active, kn_rate, book_id, question, answer) "
                              "VALUES (1, 0.1, 1, '%1', 'x');")
                   .arg(quoted);
    }
    QVERIFY(makeDatabase(work.path(), sql));
    NivletCore store;
    QVERIFY(store.open());
    BoxCatcher boxes;
    auto found = [&](const QString &text) {
        QStringList result;
        std::unique_ptr<QList<Nivlet *>> list(store.search(text, nullptr, false));
        if (!list)
            return QStringList{QStringLiteral("failed")};
        for (const Nivlet *n : std::as_const(*list))
            result << n->question;
        qDeleteAll(*list);
        result.sort();
        return result;
    };
    auto sorted = [](QStringList list) {
        list.sort();
        return list;
    };
    QCOMPARE(found(QStringLiteral("a_c")),
             sorted({QStringLiteral("abc"), QStringLiteral("ABC"), QStringLiteral("a_c"),
                     QStringLiteral("a%c"), QStringLiteral("axc"), QStringLiteral("a*c"),
                     QStringLiteral("a\\c"), QStringLiteral("a?c"), QStringLiteral("a.c")}));
    QCOMPARE(found(QStringLiteral("a%c")).size(), 11);
    QCOMPARE(found(QStringLiteral("%")), sorted(questions));
    QCOMPARE(found(QStringLiteral("_")), sorted(questions));
    QCOMPARE(found(QStringLiteral("ab")), sorted({QStringLiteral("abc"), QStringLiteral("ABC")}));
    QCOMPARE(found(QStringLiteral("a[b]")), QStringList{QStringLiteral("a[b]c")});
    QCOMPARE(found(QStringLiteral("a[")), QStringList{QStringLiteral("a[b]c")});
    QCOMPARE(found(QStringLiteral("a*")), QStringList{QStringLiteral("a*c")});
    QCOMPARE(found(QStringLiteral("a\\")), QStringList{QStringLiteral("a\\c")});
    QCOMPARE(found(QStringLiteral("a?")), QStringList{QStringLiteral("a?c")});
    QCOMPARE(found(QStringLiteral("a.")), QStringList{QStringLiteral("a.c")});
    QCOMPARE(found(QStringLiteral("'")), QStringList{QStringLiteral("'quote")});
    QCOMPARE(found(QStringLiteral("\"")), QStringList{QStringLiteral("\"double")});
    QCOMPARE(found(QStringLiteral("' OR '1'='1")), QStringList());
    QCOMPARE(found(QString::fromUtf8("é")), QStringList{QString::fromUtf8("é-small")});
    QCOMPARE(found(QStringLiteral("XY")), QStringList{QStringLiteral("xyz")});
    for (const QString &q : questions) {
        QStringList expected;
        for (const QString &other : questions) {
            if (likeMatches(q + QLatin1Char('%'), other))
                expected << other;
        }
        QCOMPARE(found(q), sorted(expected));
    }
    QVERIFY(boxes.texts.isEmpty());
}

void TstFaults::htmlInErrorBoxIsPlainText()
{
    WorkDir work;
    const QString markup = QStringLiteral("<b>not</b> <i>allowed</i> &amp; <br>%1 <a "
                                          "href=\"x\">link</a>");
    QString quoted = markup;
    quoted.replace(QLatin1Char('\''), QStringLiteral("''"));
    QVERIFY(makeDatabase(work.path(),
                         QString::fromLatin1(fixtureSql) +
                             QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON nivlet "
                                            "BEGIN SELECT RAISE(ABORT, '%1'); END;")
                                 .arg(quoted)));
    openLog();
    NivletCore store;
    QVERIFY(store.open());
    const QString expected =
        report(QStringLiteral("Could not add nivlet."), SQLITE_CONSTRAINT, markup);
    FormatCatcher boxes;
    QVERIFY(!store.addNivlet(store.findBook(1), QStringLiteral("<h1>q</h1>"), QStringLiteral("a"),
                             true));
    QCOMPARE(boxes.texts, QStringList{expected});
    QCOMPARE(boxes.boxFormats, QList<Qt::TextFormat>{Qt::PlainText});
    QCOMPARE(boxes.labelFormats, QList<Qt::TextFormat>{Qt::PlainText});
    QCOMPARE(logText(), QStringLiteral("Error: ") + expected + QLatin1Char('\n'));
    QCOMPARE(store.findBook(1)->nivletCount, 3);
}

void TstFaults::logIsDirectory()
{
    WorkDir work;
    QVERIFY(makeDatabase(work.path(), QString::fromLatin1(fixtureSql)));
    QVERIFY(QDir().mkdir(QStringLiteral("nivlets.log")));
    openLog();
    NivletCore store;
    store.setBusyTimeout(shortWait);
    QVERIFY(store.open());
    Plain holder(work.file(QStringLiteral("nivlets")));
    QCOMPARE(holder.exec("BEGIN IMMEDIATE"), SQLITE_OK);
    {
        BoxCatcher boxes;
        QVERIFY(!store.setKnowledgeRate(1, 0.9));
        QVERIFY(!store.addBook(QStringLiteral("x"), true));
        QCOMPARE(boxes.texts,
                 QStringList(
                     {report(QStringLiteral("Could not set knowledge-rate for nivlet."),
                             SQLITE_BUSY, lockedMessage),
                      report(QStringLiteral("Could not add book."), SQLITE_BUSY, lockedMessage)}));
    }
    QCOMPARE(holder.exec("ROLLBACK"), SQLITE_OK);
    BoxCatcher boxes;
    QVERIFY(store.setKnowledgeRate(1, 0.9));
    QVERIFY(store.addBook(QStringLiteral("x"), true));
    QVERIFY(boxes.texts.isEmpty());
    QVERIFY(QFileInfo(QStringLiteral("nivlets.log")).isDir());
    QVERIFY(QDir(QStringLiteral("nivlets.log")).isEmpty());
}

void TstFaults::logIsImmutable()
{
    WorkDir work;
    QVERIFY(makeDatabase(work.path(), QString::fromLatin1(fixtureSql)));
    const QByteArray earlier = "Error: from an earlier run\n";
    {
        QFile log(QStringLiteral("nivlets.log"));
        QVERIFY(log.open(QIODevice::WriteOnly));
        log.write(earlier);
    }
    Immutable immutable(work.file(QStringLiteral("nivlets.log")));
    if (!immutable.set)
        QSKIP(qPrintable(QStringLiteral("immutable files are not possible here (") + immutable.why +
                         QStringLiteral("); logIsDirectory covers an unwritable log")));
    QVERIFY2(!canWriteFile(immutable.path), "chattr +i did not stop writing");
    openLog();
    NivletCore store;
    store.setBusyTimeout(shortWait);
    QVERIFY(store.open());
    Plain holder(work.file(QStringLiteral("nivlets")));
    QCOMPARE(holder.exec("BEGIN IMMEDIATE"), SQLITE_OK);
    {
        BoxCatcher boxes;
        QVERIFY(!store.deleteBook(store.findBook(2)));
        CHECKED(checkOneReport(
            boxes, report(QStringLiteral("Could not delete book."), SQLITE_BUSY, lockedMessage)));
    }
    QCOMPARE(holder.exec("ROLLBACK"), SQLITE_OK);
    QVERIFY(store.deleteBook(store.findBook(2)));
    closeLog();
    QCOMPARE(readBytes(QStringLiteral("nivlets.log")), earlier);
}

void TstFaults::logOnFullDevice()
{
    if (!QFileInfo::exists(QStringLiteral("/dev/full")))
        QSKIP("there is no /dev/full here; logIsDirectory covers an unwritable log");
    WorkDir work;
    QVERIFY(makeDatabase(work.path(), QString::fromLatin1(fixtureSql)));
    QVERIFY(QFile::link(QStringLiteral("/dev/full"), QStringLiteral("nivlets.log")));
    openLog();
    NivletCore store;
    store.setBusyTimeout(shortWait);
    QVERIFY(store.open());
    Plain holder(work.file(QStringLiteral("nivlets")));
    QCOMPARE(holder.exec("BEGIN IMMEDIATE"), SQLITE_OK);
    {
        BoxCatcher boxes;
        QVERIFY(!store.editNivlet(1, QStringLiteral("x"), QStringLiteral("y"), true));
        QVERIFY(!store.editNivlet(1, QStringLiteral("x"), QStringLiteral("y"), true));
        const QString expected =
            report(QStringLiteral("Could not edit nivlet."), SQLITE_BUSY, lockedMessage);
        QCOMPARE(boxes.texts, QStringList({expected, expected}));
    }
    QCOMPARE(holder.exec("ROLLBACK"), SQLITE_OK);
    BoxCatcher boxes;
    QVERIFY(store.editNivlet(1, QStringLiteral("x"), QStringLiteral("y"), true));
    QVERIFY(boxes.texts.isEmpty());
}

void TstFaults::logIsFifo()
{
    WorkDir work;
    QVERIFY(makeDatabase(work.path(), QString::fromLatin1(fixtureSql)));
    QCOMPARE(::mkfifo("nivlets.log", 0600), 0);
    auto opening = std::async(std::launch::async, [] { openLog(); });
    const bool returned = opening.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    if (!returned) {
        // Give the blocked open its reader so the test can go on and fail.
        const int fd = ::open("nivlets.log", O_RDONLY | O_NONBLOCK);
        opening.wait();
        ::close(fd);
    }
    QVERIFY2(returned, "a FIFO named nivlets.log blocked opening the log");
    NivletCore store;
    store.setBusyTimeout(shortWait);
    QVERIFY(store.open());
    Plain holder(work.file(QStringLiteral("nivlets")));
    QCOMPARE(holder.exec("BEGIN IMMEDIATE"), SQLITE_OK);
    {
        BoxCatcher boxes;
        QVERIFY(!store.setKnowledgeRate(1, 0.9));
        CHECKED(
            checkOneReport(boxes, report(QStringLiteral("Could not set knowledge-rate for nivlet."),
                                         SQLITE_BUSY, lockedMessage)));
    }
    QCOMPARE(holder.exec("ROLLBACK"), SQLITE_OK);
    QVERIFY(store.setKnowledgeRate(1, 0.9));
    closeLog();
}

void TstFaults::logAppendsAcrossRuns()
{
    WorkDir work;
    QVERIFY(makeDatabase(work.path(), QString::fromLatin1(fixtureSql)));
    QStringList expected;
    for (int run = 0; run < 2; ++run) {
        openLog();
        NivletCore store;
        store.setBusyTimeout(shortWait);
        QVERIFY(store.open());
        Plain holder(work.file(QStringLiteral("nivlets")));
        QCOMPARE(holder.exec("BEGIN EXCLUSIVE"), SQLITE_OK);
        BoxCatcher boxes;
        QVERIFY(!store.setKnowledgeRate(1, 0.9));
        QCOMPARE(boxes.texts.size(), 1);
        expected << QStringLiteral("Error: ") + boxes.texts.first();
        QCOMPARE(holder.exec("ROLLBACK"), SQLITE_OK);
        closeLog();
    }
    QCOMPARE(logText(), expected.join(QLatin1Char('\n')) + QLatin1Char('\n'));
}

// A test process killed while a file is immutable: the flag must go with it.
void TstFaults::immutableFlagOutlivesNoCrash()
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
void TstFaults::mountOutlivesNoCrash()
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

namespace {

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

int main(int argc, char **argv)
{
    privateMounts = enterPrivateMountNamespace();
    if (argc >= 2 && qstrcmp(argv[1], "child") == 0)
        return childMain(argc, argv);
    QApplication app(argc, argv);
    TstFaults test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_faults.moc"
