// nivlets_bench [options] FILE...: times the store's operations on copies of
// the given databases and, beside each, the same SQL stepped by a bare loop
// that reads every column and does nothing else.

#include "knrate.h"
#include "nivletcore.h"
#include "sqlstatement.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const char nivletColumns[] =
    "SELECT m.id, m.active, m.kn_rate, m.book_id, m.question, m.answer FROM nivlet m";
const char bookSql[] = "SELECT id, name, active FROM book";
const char countSql[] = "SELECT COUNT(id) from nivlet WHERE book_id = ?";
const char rateSql[] = "UPDATE nivlet SET kn_rate = ? WHERE id = ?";

std::string reloadSql()
{
    return std::string(nivletColumns) + ", book b WHERE (m.book_id = b.id)  AND (m.active = 1)  "
                                        "AND (b.active = 1) ORDER BY kn_rate";
}

// Built exactly as the store builds its search statement.
std::string searchSql(bool withText, bool withBook, bool onlyActive)
{
    std::string sql = std::string(nivletColumns) + ", book b WHERE (m.book_id = b.id)";
    if (withText)
        sql += " AND (m.question LIKE ?)";
    if (withBook)
        sql += " AND (m.book_id = ?)";
    if (onlyActive)
        sql += " AND (m.active = 1) AND (b.active = 1)";
    sql += " ORDER BY kn_rate LIMIT " + std::to_string(NivletCore::searchLimit);
    return sql;
}

struct Settings
{
    int minReps = 5;
    int maxReps = 41;
    double budgetSeconds = 1.5;
    double drawSeconds = 0.5;
    std::string setupSql;
    std::string connectionSql;
    std::string only;
};

Settings settings;
bool failed = false;

void fail(const std::string &text)
{
    std::fprintf(stderr, "nivlets_bench: %s\n", text.c_str());
    failed = true;
}

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double cpuNowMs()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Wall time is what the user waits; the thread's CPU time beside it shows
// how much of a difference is the machine's load rather than the code.
struct Span
{
    double wall;
    double cpu;
};

class Stopwatch
{
public:
    Stopwatch() : wall(Clock::now()), cpu(cpuNowMs()) {}
    Span stop() const { return {msSince(wall), cpuNowMs() - cpu}; }

private:
    Clock::time_point wall;
    double cpu;
};

double median(std::vector<double> v)
{
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

// Applied to every connection the process opens, the store's included, right
// after it is opened: the way to try connection settings without a rebuild.
int applyConnectionSql(sqlite3 *db, char **error, const sqlite3_api_routines *)
{
    if (settings.connectionSql.empty())
        return SQLITE_OK;
    return sqlite3_exec(db, settings.connectionSql.c_str(), nullptr, nullptr, error);
}

// Reads every column of every row of a nivlet statement (id, active,
// kn_rate, book_id, question, answer) with the accessor the store uses for
// it, and nothing else: the least work that hands the store its values. The
// sum only keeps the compiler from dropping the reads.
long long stepNivlets(sqlite3_stmt *stmt, int &rows)
{
    long long sum = 0;
    rows = 0;
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        sum += sqlite3_column_int64(stmt, 0);
        sum += sqlite3_column_int(stmt, 1);
        sum += static_cast<long long>(sqlite3_column_double(stmt, 2) * 1000);
        sum += sqlite3_column_int64(stmt, 3);
        sum += sqlite3_column_text(stmt, 4) != nullptr;
        sum += sqlite3_column_bytes(stmt, 4);
        sum += sqlite3_column_text(stmt, 5) != nullptr;
        sum += sqlite3_column_bytes(stmt, 5);
        ++rows;
    }
    if (rc != SQLITE_DONE)
        fail(std::string("raw step: ") + sqlite3_errmsg(sqlite3_db_handle(stmt)));
    return sum;
}

sqlite3_stmt *prepareRaw(sqlite3 *db, const std::string &sql)
{
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK)
        fail("raw prepare of \"" + sql + "\": " + sqlite3_errmsg(db));
    return stmt;
}

sqlite3 *openRaw()
{
    sqlite3 *db = nullptr;
    if (sqlite3_open("nivlets", &db) != SQLITE_OK)
        fail(std::string("raw open: ") + sqlite3_errmsg(db));
    return db;
}

bool execRaw(sqlite3 *db, const std::string &sql)
{
    char *error = nullptr;
    const bool ok = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) == SQLITE_OK;
    if (!ok)
        fail("\"" + sql + "\": " + (error ? error : sqlite3_errmsg(db)));
    sqlite3_free(error);
    return ok;
}

long long sink = 0;

int rawReload(sqlite3 *db)
{
    sqlite3_stmt *stmt = prepareRaw(db, reloadSql());
    int rows = 0;
    sink += stepNivlets(stmt, rows);
    sqlite3_finalize(stmt);
    return rows;
}

// What open does: the books, one count per book, then the active list. The
// count statement is prepared once and reset for every book.
int rawOpen(sqlite3 *db)
{
    sqlite3_stmt *books = prepareRaw(db, bookSql);
    sqlite3_stmt *count = prepareRaw(db, countSql);
    int rc;
    while ((rc = sqlite3_step(books)) == SQLITE_ROW) {
        const qint64 id = sqlite3_column_int64(books, 0);
        sink += sqlite3_column_bytes(books, 1) + (sqlite3_column_text(books, 1) != nullptr);
        sink += sqlite3_column_int(books, 2);
        sqlite3_bind_int64(count, 1, id);
        if (sqlite3_step(count) != SQLITE_ROW)
            fail(std::string("raw count: ") + sqlite3_errmsg(db));
        sink += sqlite3_column_int(count, 0);
        if (sqlite3_step(count) != SQLITE_DONE)
            fail(std::string("raw count: ") + sqlite3_errmsg(db));
        sqlite3_reset(count);
    }
    if (rc != SQLITE_DONE)
        fail(std::string("raw book step: ") + sqlite3_errmsg(db));
    sqlite3_finalize(count);
    sqlite3_finalize(books);
    return rawReload(db);
}

struct Search
{
    std::string label;
    std::string text;
    Book *book;
    bool onlyActive;
};

// The search's values, bound as the raw loop and the helpers beside it bind them.
void bindSearch(const std::function<void(int, const std::string &)> &bindText,
                const std::function<void(int, qint64)> &bindId, const Search &s)
{
    int index = 1;
    if (!s.text.empty())
        bindText(index++, s.text + "%");
    if (s.book)
        bindId(index, s.book->id);
}

void bindSearch(sqlite3_stmt *stmt, const Search &s)
{
    bindSearch(
        [stmt](int index, const std::string &text) {
            sqlite3_bind_text(stmt, index, text.c_str(), -1, SQLITE_TRANSIENT);
        },
        [stmt](int index, qint64 id) { sqlite3_bind_int64(stmt, index, id); }, s);
}

void bindSearch(SqlStatement &stmt, const Search &s)
{
    bindSearch([&stmt](int index, const std::string &text) { stmt.bindText(index, text.c_str()); },
               [&stmt](int index, qint64 id) { stmt.bindInt64(index, id); }, s);
}

// A statement of the benchmark's own beside the timed ones; a failure stops it.
bool prepared(const SqlStatement &stmt, const std::string &sql)
{
    if (!stmt)
        fail("prepare of \"" + sql + "\": " + stmt.errorMessage().toStdString());
    return bool(stmt);
}

int rawSearch(sqlite3 *db, const Search &s)
{
    sqlite3_stmt *stmt = prepareRaw(db, searchSql(!s.text.empty(), s.book, s.onlyActive));
    bindSearch(stmt, s);
    int rows = 0;
    sink += stepNivlets(stmt, rows);
    sqlite3_finalize(stmt);
    return rows;
}

// All rows the search condition admits, before the limit cuts them.
long long matchCount(sqlite3 *db, const Search &s)
{
    std::string sql = searchSql(!s.text.empty(), s.book, s.onlyActive);
    sql.replace(0, std::strlen(nivletColumns), "SELECT COUNT(*) FROM nivlet m");
    sql.erase(sql.find(" ORDER BY"));
    SqlStatement stmt(db, sql.c_str());
    if (!prepared(stmt, sql))
        return -1;
    bindSearch(stmt, s);
    return stmt.next() ? stmt.columnInt64(0) : -1;
}

void setRateRaw(sqlite3 *db, qint64 id, double rate)
{
    sqlite3_stmt *stmt = prepareRaw(db, rateSql);
    sqlite3_bind_double(stmt, 1, rate);
    sqlite3_bind_int64(stmt, 2, id);
    if (sqlite3_step(stmt) != SQLITE_DONE)
        fail(std::string("raw update: ") + sqlite3_errmsg(db));
    sqlite3_finalize(stmt);
}

struct Row
{
    std::string name;
    double store = 0;
    double raw = 0;
    double storeCpu = 0;
    double rawCpu = 0;
    int reps = 0;
    std::string note;
};

// The --only filter: names holding any of its '|'-separated parts.
bool wanted(const std::string &name)
{
    if (settings.only.empty())
        return true;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = settings.only.find('|', start);
        const std::string part = settings.only.substr(start, end - start);
        if (!part.empty() && name.find(part) != std::string::npos)
            return true;
        if (end == std::string::npos)
            return false;
        start = end + 1;
    }
}

// Store and raw runs alternate, so that a drift of the machine's speed hits
// both sides alike; each side times only its own operation.
Row measure(const std::string &name, const std::function<Span()> &store,
            const std::function<Span()> &raw)
{
    Row row;
    row.name = name;
    if (!wanted(name))
        return row;
    store();
    raw();
    std::vector<double> s;
    std::vector<double> r;
    std::vector<double> sc;
    std::vector<double> rc;
    const Clock::time_point begin = Clock::now();
    for (int i = 0; i < settings.maxReps && !failed; ++i) {
        const Span a = store();
        const Span b = raw();
        s.push_back(a.wall);
        sc.push_back(a.cpu);
        r.push_back(b.wall);
        rc.push_back(b.cpu);
        if (i + 1 >= settings.minReps && msSince(begin) > settings.budgetSeconds * 1000)
            break;
    }
    row.store = median(s);
    row.raw = median(r);
    row.storeCpu = median(sc);
    row.rawCpu = median(rc);
    row.reps = static_cast<int>(s.size());
    return row;
}

// Gives access to the connection the store opened, for the plans only.
struct BenchCore : NivletCore
{
    using NivletCore::connection;
};

void printPlan(sqlite3 *db, const std::string &title, const std::string &sql,
               const std::function<void(SqlStatement &)> &bind)
{
    std::printf("  %s\n    %s\n", title.c_str(), sql.c_str());
    const std::string plan = "EXPLAIN QUERY PLAN " + sql;
    SqlStatement stmt(db, plan.c_str());
    if (!prepared(stmt, plan))
        return;
    // Bound before the first step, so that a plan that depends on a bound
    // value (the LIKE prefix) is the one the real statement gets.
    if (bind)
        bind(stmt);
    std::map<int, int> depth;
    while (stmt.next()) {
        const int id = stmt.columnInt(0);
        const int parent = stmt.columnInt(1);
        const int d = parent == 0 ? 0 : depth[parent] + 1;
        depth[id] = d;
        std::printf("      %*s%s\n", 2 * d, "", stmt.columnUtf8(3));
    }
}

long long statusKiB(const char *key)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::size_t length = std::strlen(key);
    while (std::getline(in, line)) {
        if (line.compare(0, length, key) == 0 && line.size() > length && line[length] == ':')
            return std::atoll(line.c_str() + length + 1);
    }
    return -1;
}

// Large blocks (the records of a big active list, the list itself) are
// mapped by malloc on their own and counted apart from the arena.
std::size_t heapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// Runs in a process of its own, so that the peak is that of one open and not
// of the benchmark's earlier work.
int memoryChild()
{
    const long long hwmBefore = statusKiB("VmHWM");
    const std::size_t heapBefore = heapInUse();
    auto *core = new NivletCore;
    if (!core->open())
        fail("open failed");
    const long long hwmAfter = statusKiB("VmHWM");
    const long long rssFile = statusKiB("RssFile");
    const std::size_t heapAfter = heapInUse();
    std::printf("%lld %lld %lld %zu %zu %d\n", hwmBefore, hwmAfter, rssFile, heapBefore, heapAfter,
                core->activeNivletCount());
    std::fflush(stdout);
    std::_Exit(failed ? 1 : 0);
}

// One open in a process of its own, as the program's start-up meets it: a
// fresh heap, no memory freed by an earlier store to build the records in.
int openChild(const std::string &side)
{
    Span span{0, 0};
    int active = 0;
    if (side == "store") {
        const Stopwatch t;
        auto *core = new NivletCore;
        if (!core->open())
            fail("open failed");
        span = t.stop();
        active = core->activeNivletCount();
    } else {
        const Stopwatch t;
        sqlite3 *db = openRaw();
        active = rawOpen(db);
        span = t.stop();
    }
    std::printf("%.6f %.6f %d\n", span.wall, span.cpu, active);
    std::fflush(stdout);
    std::_Exit(failed ? 1 : 0);
}

Span openInChild(const QString &program, const QString &dir, const char *side)
{
    QProcess child;
    child.setWorkingDirectory(dir);
    child.start(program, {QStringLiteral("--open-sample"), QString::fromLatin1(side)});
    if (!child.waitForFinished(600000) || child.exitCode() != 0) {
        fail(std::string("open child (") + side +
             ") failed: " + child.readAllStandardError().toStdString());
        return {0, 0};
    }
    const QList<QByteArray> f = child.readAllStandardOutput().simplified().split(' ');
    if (f.size() != 3) {
        fail("open child printed nothing");
        return {0, 0};
    }
    return {f[0].toDouble(), f[1].toDouble()};
}

struct Memory
{
    long long hwmBefore = 0;
    long long hwmAfter = 0;
    long long rssFile = 0;
    double heapBefore = 0;
    double heapAfter = 0;
    int active = 0;
};

bool measureMemory(const QString &program, const QString &dir, Memory &m)
{
    QProcess child;
    child.setWorkingDirectory(dir);
    child.start(program, {QStringLiteral("--memory")});
    if (!child.waitForFinished(600000) || child.exitCode() != 0) {
        fail("memory child failed: " + child.readAllStandardError().toStdString());
        return false;
    }
    const QList<QByteArray> f = child.readAllStandardOutput().simplified().split(' ');
    if (f.size() != 6) {
        fail("memory child printed nothing");
        return false;
    }
    m.hwmBefore = f[0].toLongLong();
    m.hwmAfter = f[1].toLongLong();
    m.rssFile = f[2].toLongLong();
    m.heapBefore = f[3].toDouble();
    m.heapAfter = f[4].toDouble();
    m.active = f[5].toInt();
    return true;
}

std::string formatMs(double ms)
{
    char buffer[32];
    if (ms >= 100)
        std::snprintf(buffer, sizeof buffer, "%.0f", ms);
    else if (ms >= 1)
        std::snprintf(buffer, sizeof buffer, "%.2f", ms);
    else
        std::snprintf(buffer, sizeof buffer, "%.3f", ms);
    return buffer;
}

void benchFile(const QString &program, const QString &source)
{
    QTemporaryDir dir;
    const QString copy = QDir(dir.path()).filePath(QStringLiteral("nivlets"));
    // The rate updates change the file: they work on a copy, so every run
    // starts from the file as it was generated.
    if (!dir.isValid() || !QFile::copy(source, copy)) {
        fail("cannot copy " + source.toStdString());
        return;
    }
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());

    sqlite3 *raw = openRaw();
    if (!settings.setupSql.empty())
        execRaw(raw, settings.setupSql);

    Memory memory;
    if (wanted("memory"))
        measureMemory(program, dir.path(), memory);

    std::vector<Row> rows;
    rows.push_back(measure(
        "open", [&] { return openInChild(program, dir.path(), "store"); },
        [&] { return openInChild(program, dir.path(), "raw"); }));
    auto *core = new BenchCore;
    if (!failed && !core->open())
        fail("open failed");
    if (failed) {
        delete core;
        sqlite3_close(raw);
        QDir::setCurrent(previous);
        return;
    }

    rows.push_back(measure(
        "reloadActiveNivlets",
        [&] {
            const Stopwatch t;
            if (!core->reloadActiveNivlets())
                fail("reload failed");
            return t.stop();
        },
        [&] {
            const Stopwatch t;
            rawReload(raw);
            return t.stop();
        }));

    Book *book = core->firstActiveBook();
    const std::vector<Search> searches = {
        {"search \"\", all books", "", nullptr, false},
        {"search \"his\", all books", "his", nullptr, false},
        {"search \"the\", all books", "the", nullptr, false},
        {"search \"\", book, only active", "", book, true},
        {"search \"his\", book, only active", "his", book, true},
        {"search \"zqx\" (no match)", "zqx", nullptr, false},
    };
    for (const Search &s : searches) {
        int storeRows = 0;
        Row row = measure(
            s.label,
            [&] {
                const Stopwatch t;
                QList<Nivlet *> *result =
                    core->search(QString::fromStdString(s.text), s.book, s.onlyActive);
                const Span ms = t.stop();
                if (!result) {
                    fail("search failed");
                    return ms;
                }
                storeRows = static_cast<int>(result->size());
                qDeleteAll(*result);
                delete result;
                return ms;
            },
            [&] {
                const Stopwatch t;
                rawSearch(raw, s);
                return t.stop();
            });
        row.note = std::to_string(storeRows) + " of " + std::to_string(matchCount(raw, s));
        rows.push_back(row);
    }

    // A challenge answer: one rate written, then the reload the series does
    // before it draws the next nivlet.
    bool correct = false;
    const auto nextRate = [&](qint64 &id, double &rate) {
        const Nivlet *n = core->nextNivlet();
        id = n->id;
        correct = !correct;
        rate = correct ? knRateAfterCorrect(n->knRate) : knRateAfterIncorrect(n->knRate);
    };
    Row rate = measure(
        "setKnowledgeRate + reload",
        [&] {
            qint64 id;
            double r;
            nextRate(id, r);
            const Stopwatch t;
            if (!core->setKnowledgeRate(id, r) || !core->reloadActiveNivlets())
                fail("rate update failed");
            return t.stop();
        },
        [&] {
            qint64 id;
            double r;
            nextRate(id, r);
            const Stopwatch t;
            setRateRaw(raw, id, r);
            rawReload(raw);
            return t.stop();
        });
    rows.push_back(rate);

    Row set = measure(
        "setKnowledgeRate alone",
        [&] {
            qint64 id;
            double r;
            nextRate(id, r);
            const Stopwatch t;
            if (!core->setKnowledgeRate(id, r))
                fail("rate update failed");
            return t.stop();
        },
        [&] {
            qint64 id;
            double r;
            nextRate(id, r);
            const Stopwatch t;
            setRateRaw(raw, id, r);
            return t.stop();
        });
    rows.push_back(set);

    long long draws = 0;
    const Clock::time_point drawStart = Clock::now();
    double drawMs = 0;
    do {
        for (int i = 0; i < 10000; ++i)
            sink += core->nextNivlet() != nullptr;
        draws += 10000;
        drawMs = msSince(drawStart);
    } while (drawMs < settings.drawSeconds * 1000);

    long long total = core->totalNivletCount();
    std::printf("\n== %s: %lld nivlets, %d books, %d active nivlets ==\n",
                QFileInfo(source).fileName().toUtf8().constData(), total, core->bookCount(),
                core->activeNivletCount());
    std::printf("%-32s %9s %9s %6s %9s %9s %6s %4s  %s\n", "operation", "store ms", "raw ms",
                "ratio", "store cpu", "raw cpu", "ratio", "runs", "rows of matching");
    for (const Row &r : rows) {
        if (r.reps == 0)
            continue;
        std::printf("%-32s %9s %9s %6.2f %9s %9s %6.2f %4d  %s\n", r.name.c_str(),
                    formatMs(r.store).c_str(), formatMs(r.raw).c_str(),
                    r.raw > 0 ? r.store / r.raw : 0.0, formatMs(r.storeCpu).c_str(),
                    formatMs(r.rawCpu).c_str(), r.rawCpu > 0 ? r.storeCpu / r.rawCpu : 0.0, r.reps,
                    r.note.c_str());
    }
    std::printf("%-34s %10.0f draws/s (%.0f ns a draw)\n", "nextNivlet", draws / drawMs * 1000.0,
                drawMs * 1e6 / draws);
    if (memory.active > 0) {
        std::printf("memory after open (own process): VmHWM %.1f MiB (%.1f MiB before open, "
                    "%.1f MiB of it mapped files); heap %.1f MiB (%.1f before)\n",
                    memory.hwmAfter / 1024.0, memory.hwmBefore / 1024.0, memory.rssFile / 1024.0,
                    memory.heapAfter / 1048576.0, memory.heapBefore / 1048576.0);
        std::printf("  per active nivlet: VmHWM %.0f B, VmHWM growth %.0f B, heap growth %.0f B\n",
                    memory.hwmAfter * 1024.0 / memory.active,
                    (memory.hwmAfter - memory.hwmBefore) * 1024.0 / memory.active,
                    (memory.heapAfter - memory.heapBefore) / memory.active);
    }
    const std::shared_ptr<const ActiveList> list = core->activeList();
    if (!list->isEmpty()) {
        double question = 0;
        double answer = 0;
        double entries = 0;
        double entryChars = 0;
        for (const Nivlet *n : list->nivlets()) {
            question += n->question.size();
            answer += n->answer.size();
            entries += n->possibleAnswers.size();
            for (const QString &e : n->possibleAnswers)
                entryChars += e.size();
        }
        const double count = list->size();
        std::printf("  a record: sizeof(Nivlet) %zu B; on average a question of %.1f characters, "
                    "an answer of %.1f, %.2f possible answers of %.1f\n",
                    sizeof(Nivlet), question / count, answer / count, entries / count,
                    entries > 0 ? entryChars / entries : 0.0);
    }

    std::printf("query plans:\n");
    sqlite3 *db = core->connection();
    printPlan(db, "books", bookSql, nullptr);
    printPlan(db, "count of a book", countSql,
              [&](SqlStatement &stmt) { stmt.bindInt64(1, book ? book->id : 1); });
    printPlan(db, "reloadActiveNivlets", reloadSql(), nullptr);
    for (const Search &s : searches) {
        printPlan(db, s.label, searchSql(!s.text.empty(), s.book, s.onlyActive),
                  [&](SqlStatement &stmt) { bindSearch(stmt, s); });
    }
    printPlan(db, "setKnowledgeRate", rateSql, nullptr);
    std::fflush(stdout);

    delete core;
    sqlite3_close(raw);
    QDir::setCurrent(previous);
}

void usage()
{
    std::fprintf(stderr,
                 "usage: nivlets_bench [--quick] [--reps MIN MAX] [--budget SECONDS]\n"
                 "                     [--setup-sql SQL] [--connection-sql SQL] [--only TEXT]\n"
                 "                     FILE...\n"
                 "  --quick           one timed run of each operation (a smoke test)\n"
                 "  --setup-sql       SQL run once on each copy before timing (schema trials)\n"
                 "  --connection-sql  SQL run on every connection right after it opens\n"
                 "  --only A|B        times only the operations whose name holds A or B\n"
                 "                    (\"memory\" for the memory figures)\n"
                 "Each open is timed in a fresh process that the benchmark starts with\n"
                 "--open-sample store|raw in the copy's folder.\n");
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<std::string> files;
    bool memoryMode = false;
    std::string openSample;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--quick") {
            settings.minReps = 1;
            settings.maxReps = 1;
            settings.drawSeconds = 0.05;
        } else if (a == "--reps" && i + 2 < argc) {
            settings.minReps = std::max(1, std::atoi(argv[++i]));
            settings.maxReps = std::max(settings.minReps, std::atoi(argv[++i]));
        } else if (a == "--budget" && i + 1 < argc) {
            settings.budgetSeconds = std::atof(argv[++i]);
        } else if (a == "--setup-sql" && i + 1 < argc) {
            settings.setupSql = argv[++i];
        } else if (a == "--connection-sql" && i + 1 < argc) {
            settings.connectionSql = argv[++i];
        } else if (a == "--only" && i + 1 < argc) {
            settings.only = argv[++i];
        } else if (a == "--memory") {
            memoryMode = true;
        } else if (a == "--open-sample" && i + 1 < argc) {
            openSample = argv[++i];
        } else if (!a.empty() && a[0] == '-') {
            usage();
            return 2;
        } else {
            files.push_back(a);
        }
    }
    const bool child = memoryMode || !openSample.empty();
    if (!child && files.empty()) {
        usage();
        return 2;
    }
    if (child) {
        if (const char *sql = std::getenv("NIVLETS_BENCH_CONNECTION_SQL"))
            settings.connectionSql = sql;
    }

    sqlite3_auto_extension(reinterpret_cast<void (*)()>(&applyConnectionSql));
    QCoreApplication app(argc, argv);
    if (memoryMode)
        return memoryChild();
    if (!openSample.empty())
        return openChild(openSample);

    // The child processes inherit the connection settings through the
    // environment, since they have no file arguments of their own.
    qputenv("NIVLETS_BENCH_CONNECTION_SQL", QByteArray::fromStdString(settings.connectionSql));
    std::printf("SQLite %s; connection SQL: %s; setup SQL: %s\n", sqlite3_libversion(),
                settings.connectionSql.empty() ? "(none)" : settings.connectionSql.c_str(),
                settings.setupSql.empty() ? "(none)" : settings.setupSql.c_str());
    for (const std::string &file : files) {
        benchFile(QCoreApplication::applicationFilePath(),
                  QFileInfo(QString::fromStdString(file)).absoluteFilePath());
        if (failed)
            break;
    }
    return failed ? 1 : 0;
}
