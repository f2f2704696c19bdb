// nivlets_benchcards [--quick] IMPORT_DB EXPORT_DB: times nivlets-cards'
// import of every nivlet of IMPORT_DB and export of every nivlet of
// EXPORT_DB, each beside a bare SQLite loop over the same rows.

#include "cardfile.h"
#include "cardtransfer.h"
#include "schemasql.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

bool failed = false;

void fail(const QString &text)
{
    std::fprintf(stderr, "nivlets_benchcards: %s\n", qPrintable(text));
    failed = true;
}

double cpuNowMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

struct Timing
{
    std::vector<double> wall;
    std::vector<double> cpu;
};

// Runs prepare (untimed) and then work (timed), reps times.
void measure(Timing &timing, const std::function<void()> &prepare,
             const std::function<void()> &work)
{
    prepare();
    const auto wall = Clock::now();
    const double cpu = cpuNowMs();
    work();
    timing.cpu.push_back(cpuNowMs() - cpu);
    timing.wall.push_back(std::chrono::duration<double, std::milli>(Clock::now() - wall).count());
}

void print(const char *what, qint64 rows, const Timing &tool, const Timing &raw)
{
    const double t = median(tool.wall);
    const double r = median(raw.wall);
    std::printf("| %s | %lld | %.1f | %.1f | %.2f | %.1f / %.1f |\n", what,
                static_cast<long long>(rows), t, r, t / r, median(tool.cpu), median(raw.cpu));
    std::fflush(stdout);
}

bool execSql(sqlite3 *db, const char *sql)
{
    char *error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) == SQLITE_OK)
        return true;
    fail(QString::fromUtf8(error ? error : sqlite3_errmsg(db)));
    sqlite3_free(error);
    return false;
}

// An empty database of the delivered schema, as a new user's file would be.
bool makeEmptyDatabase(const QString &file)
{
    QFile::remove(file);
    sqlite3 *db = nullptr;
    const bool ok = sqlite3_open(QFile::encodeName(file).constData(), &db) == SQLITE_OK &&
                    execSql(db, Schema::sql);
    sqlite3_close(db);
    return ok;
}

qint64 exportFile(const QString &database, const QString &file)
{
    CardTransfer transfer(database);
    QFile out(file);
    CardTransfer::Summary summary;
    if (!out.open(QIODevice::WriteOnly) || !transfer.exportCards(out, QString(), summary)) {
        fail(QStringLiteral("export of %1: %2").arg(database, transfer.errorText()));
        return 0;
    }
    return summary.nivlets;
}

// The floor of an export: the books, then every nivlet's columns read.
void rawExport(const QString &database)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(QFile::encodeName(database).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    execSql(db, "BEGIN");
    sqlite3_stmt *stmt = nullptr;
    qint64 sink = 0;
    sqlite3_prepare_v2(db, "SELECT id, name, active FROM book ORDER BY id", -1, &stmt, nullptr);
    while (sqlite3_step(stmt) == SQLITE_ROW)
        sink += sqlite3_column_int64(stmt, 0) + sqlite3_column_bytes(stmt, 1) +
                (sqlite3_column_text(stmt, 1) != nullptr) + sqlite3_column_int(stmt, 2);
    sqlite3_finalize(stmt);
    sqlite3_prepare_v2(db,
                       "SELECT question, answer, book_id, active, kn_rate FROM nivlet ORDER BY id",
                       -1, &stmt, nullptr);
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        sink += (sqlite3_column_text(stmt, 0) != nullptr) + sqlite3_column_bytes(stmt, 0) +
                (sqlite3_column_text(stmt, 1) != nullptr) + sqlite3_column_bytes(stmt, 1) +
                sqlite3_column_int64(stmt, 2) + sqlite3_column_int(stmt, 3) +
                static_cast<qint64>(sqlite3_column_double(stmt, 4));
    }
    sqlite3_finalize(stmt);
    execSql(db, "COMMIT");
    sqlite3_close(db);
    if (sink == 42)
        std::printf("\n");
}

// The books of the cards in the order they first come, and each card's book.
struct Books
{
    std::vector<const Card *> first;
    std::vector<int> of;
};

Books booksOf(const std::vector<Card> &cards)
{
    Books books;
    QHash<QByteArray, int> index;
    for (const Card &card : cards) {
        auto known = index.constFind(card.book);
        if (known == index.constEnd()) {
            known = index.insert(card.book, int(books.first.size()));
            books.first.push_back(&card);
        }
        books.of.push_back(*known);
    }
    return books;
}

// The floor of an import: the same rows, already in memory with their books
// resolved, inserted with the same statements in one transaction.
void rawImport(const QString &database, const std::vector<Card> &cards, const Books &books,
               const char *setup)
{
    sqlite3 *db = nullptr;
    sqlite3_open(QFile::encodeName(database).constData(), &db);
    if (setup)
        execSql(db, setup);
    execSql(db, "BEGIN IMMEDIATE");
    sqlite3_stmt *book = nullptr;
    sqlite3_stmt *nivlet = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO book (name, active) VALUES (?, ?)", -1, &book, nullptr);
    sqlite3_prepare_v2(db,
                       "INSERT INTO nivlet (active, kn_rate, book_id, question, answer) "
                       "VALUES (?, ?, ?, ?, ?)",
                       -1, &nivlet, nullptr);
    std::vector<qint64> ids;
    for (const Card *first : books.first) {
        sqlite3_reset(book);
        sqlite3_bind_text(book, 1, first->book.constData(), int(first->book.size()), SQLITE_STATIC);
        sqlite3_bind_int(book, 2, first->bookActive);
        sqlite3_step(book);
        ids.push_back(sqlite3_last_insert_rowid(db));
    }
    for (size_t i = 0; i < cards.size(); ++i) {
        const Card &card = cards[i];
        sqlite3_reset(nivlet);
        sqlite3_bind_int(nivlet, 1, card.active);
        sqlite3_bind_double(nivlet, 2, card.rate);
        sqlite3_bind_int64(nivlet, 3, ids[books.of[i]]);
        sqlite3_bind_text(nivlet, 4, card.question.constData(), int(card.question.size()),
                          SQLITE_STATIC);
        sqlite3_bind_text(nivlet, 5, card.answer.constData(), int(card.answer.size()),
                          SQLITE_STATIC);
        if (sqlite3_step(nivlet) != SQLITE_DONE)
            fail(QString::fromUtf8(sqlite3_errmsg(db)));
    }
    sqlite3_finalize(book);
    sqlite3_finalize(nivlet);
    execSql(db, "COMMIT");
    sqlite3_close(db);
}

void importFile(const QString &database, const QString &file)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read ") + file);
    CardReader reader;
    if (!reader.read(in.readAll()))
        return fail(
            QStringLiteral("%1:%2: %3").arg(file).arg(reader.errorLine()).arg(reader.errorText()));
    CardTransfer transfer(database);
    CardTransfer::Summary summary;
    if (!transfer.importCards(reader.cards(), QString(), false, summary))
        fail(QStringLiteral("import: ") + transfer.errorText());
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    const bool quick = args.removeAll(QStringLiteral("--quick")) > 0;
    if (args.size() != 2) {
        std::fprintf(stderr, "Usage: nivlets_benchcards [--quick] IMPORT_DB EXPORT_DB\n");
        return 2;
    }
    const int reps = quick ? 1 : 7;
    QTemporaryDir temp;
    const QString work = temp.path();
    const QString importSource = QDir(work).filePath(QStringLiteral("import-source"));
    const QString target = QDir(work).filePath(QStringLiteral("nivlets"));
    const QString empty = QDir(work).filePath(QStringLiteral("empty"));
    const QString cardFile = QDir(work).filePath(QStringLiteral("cards.txt"));
    const QString exportSource = QDir(work).filePath(QStringLiteral("export-source"));
    const QString exported = QDir(work).filePath(QStringLiteral("exported.txt"));

    std::printf("| operation | nivlets | nivlets-cards ms | raw ms | ratio | CPU ms cards / raw |\n"
                "|---|---|---|---|---|---|\n");

    // Import: the card file of every nivlet of the first database into an
    // empty file.
    if (!QFile::copy(args.at(0), importSource) || !makeEmptyDatabase(empty))
        fail(QStringLiteral("cannot copy ") + args.at(0));
    const qint64 importRows = exportFile(importSource, cardFile);
    CardReader parsed;
    QFile cardIn(cardFile);
    if (!cardIn.open(QIODevice::ReadOnly) || !parsed.read(cardIn.readAll()))
        fail(QStringLiteral("cannot read the card file"));
    const Books books = booksOf(parsed.cards());
    auto freshTarget = [&] {
        QFile::remove(target);
        QFile::copy(empty, target);
    };
    Timing importTool;
    Timing importRaw;
    Timing importRawCache;
    Timing parseOnly;
    for (int i = 0; i < reps && !failed; ++i) {
        measure(importTool, freshTarget, [&] { importFile(target, cardFile); });
        measure(importRaw, freshTarget, [&] { rawImport(target, parsed.cards(), books, nullptr); });
        measure(importRawCache, freshTarget,
                [&] { rawImport(target, parsed.cards(), books, "PRAGMA cache_size = -65536"); });
        measure(
            parseOnly, [] {},
            [&] {
                QFile in(cardFile);
                in.open(QIODevice::ReadOnly);
                CardReader reader;
                reader.read(in.readAll());
            });
    }
    if (!failed) {
        print("import", importRows, importTool, importRaw);
        print("import (raw loop with the same 64 MiB cache)", importRows, importTool,
              importRawCache);
        std::printf("| (of it: reading and checking the file) | %lld | %.1f | | | |\n",
                    static_cast<long long>(importRows), median(parseOnly.wall));
    }

    // Export: every nivlet of the second database to a card file.
    if (!QFile::copy(args.at(1), exportSource))
        fail(QStringLiteral("cannot copy ") + args.at(1));
    qint64 exportRows = 0;
    Timing exportTool;
    Timing exportRaw;
    const int exportReps = quick ? 1 : 5;
    for (int i = 0; i < exportReps && !failed; ++i) {
        measure(
            exportTool, [&] { QFile::remove(exported); },
            [&] { exportRows = exportFile(exportSource, exported); });
        measure(
            exportRaw, [] {}, [&] { rawExport(exportSource); });
    }
    if (!failed)
        print("export", exportRows, exportTool, exportRaw);
    return failed ? 1 : 0;
}
