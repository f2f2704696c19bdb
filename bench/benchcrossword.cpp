// nivlets_benchcrossword [--quick] [--sample FILE] FILE...: times the
// crossword creator on copies of the given databases with every nivlet made
// active, and counts what the puzzles hold over seeded runs on the delivered
// sample database as it is.

#include "cwpuzzle.h"
#include "cwpuzzlecreator.h"
#include "knrate.h"
#include "log.h"
#include "nivletcore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Settings
{
    int minRuns = 21;
    int maxRuns = 1001;
    double budgetSeconds = 3.0;
    int sampleRuns = 1000;
};

Settings settings;
std::map<QString, int> reportedFailures;

void countFailure(const QString &text)
{
    ++reportedFailures[text];
}

double cpuNowMs()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

int letterCells(const CWPuzzle &puzzle)
{
    QSet<int> cells;
    for (const CWEntry *e : puzzle.entries) {
        const int dx = e->direction == CWEntry::Horizontal ? 1 : 0;
        for (int i = 0; i < e->answer.length(); ++i)
            cells.insert(e->x + dx * i + (e->y + (1 - dx) * i) * puzzle.width);
    }
    return int(cells.size());
}

struct Runs
{
    std::vector<double> wall;
    std::vector<double> cpu;
    long long entries = 0;
    long long letters = 0;
    int built = 0;
    int count = 0;
};

// One seeded create after another, each with its own creator, as the puzzle
// command makes them; the seeds make the runs the same for the same file.
Runs runCreate(NivletCore &core, int size, int minRuns, int maxRuns, double budgetSeconds)
{
    Runs r;
    const Clock::time_point start = Clock::now();
    for (int run = 0; run < maxRuns; ++run) {
        if (run >= minRuns &&
            std::chrono::duration<double>(Clock::now() - start).count() > budgetSeconds)
            break;
        seedRandom(unsigned(run + 1));
        const double cpu = cpuNowMs();
        const Clock::time_point wall = Clock::now();
        CWPuzzleCreator creator;
        std::unique_ptr<CWPuzzle> puzzle(creator.create(&core, size, size));
        r.wall.push_back(std::chrono::duration<double, std::milli>(Clock::now() - wall).count());
        r.cpu.push_back(cpuNowMs() - cpu);
        ++r.count;
        if (puzzle) {
            ++r.built;
            r.entries += puzzle->entries.size();
            r.letters += letterCells(*puzzle);
        }
    }
    return r;
}

void printRuns(const char *what, int size, const Runs &r)
{
    const double built = r.built ? r.built : 1;
    const double slowest = r.cpu.empty() ? 0.0 : *std::max_element(r.cpu.begin(), r.cpu.end());
    std::printf("| %s | %d x %d | %.3f | %.3f | %.3f | %d | %d | %.2f | %.1f |\n", what, size, size,
                median(r.wall), median(r.cpu), slowest, r.count, r.count - r.built,
                r.entries / built, r.letters / built);
}

bool prepareCopy(const QString &source, const QString &dir, bool activateAll)
{
    const QString target = QDir(dir).filePath(QStringLiteral("nivlets"));
    if (!QFile::copy(source, target)) {
        std::fprintf(stderr, "nivlets_benchcrossword: cannot copy %s\n", qPrintable(source));
        return false;
    }
    if (!activateAll)
        return true;
    sqlite3 *db = nullptr;
    bool ok = sqlite3_open(QFile::encodeName(target).constData(), &db) == SQLITE_OK &&
              sqlite3_exec(db,
                           "UPDATE book SET active = 1; UPDATE nivlet SET active = 1; "
                           "UPDATE options SET puzzle_affects_rates = 1",
                           nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    if (!ok)
        std::fprintf(stderr, "nivlets_benchcrossword: cannot activate %s\n", qPrintable(source));
    return ok;
}

const char header[] = "| runs on | size | median ms | median CPU ms | slowest CPU ms | runs "
                      "| failed | entries | letter cells |\n"
                      "|---|---|---:|---:|---:|---:|---:|---:|---:|\n";

bool benchFile(const QString &source, bool sample)
{
    QTemporaryDir dir;
    if (!dir.isValid() || !prepareCopy(source, dir.path(), !sample))
        return false;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    bool ok;
    {
        NivletCore core;
        ok = core.open();
        if (ok) {
            const std::string name = QFileInfo(source).fileName().toStdString();
            std::printf("\n%s: %d active nivlets\n\n%s", name.c_str(), core.activeNivletCount(),
                        header);
            for (int size : {10, 24}) {
                const Runs r =
                    sample ? runCreate(core, size, settings.sampleRuns, settings.sampleRuns, 0.0)
                           : runCreate(core, size, settings.minRuns, settings.maxRuns,
                                       settings.budgetSeconds);
                printRuns(name.c_str(), size, r);
            }
            std::fflush(stdout);
        }
    }
    QDir::setCurrent(previous);
    return ok;
}

void usage()
{
    std::fprintf(stderr, "usage: nivlets_benchcrossword [--quick] [--sample FILE] FILE...\n"
                         "  FILE      a database; every nivlet and book of a copy is made active\n"
                         "  --sample  the delivered database, used as it is for 1,000 seeded runs\n"
                         "  --quick   a few runs only, to prove that the benchmark works\n");
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    setErrorPresenter(countFailure);
    QStringList files;
    QString sample;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args.at(i) == QStringLiteral("--quick")) {
            settings.minRuns = 3;
            settings.maxRuns = 3;
            settings.sampleRuns = 20;
        } else if (args.at(i) == QStringLiteral("--sample") && i + 1 < args.size()) {
            sample = args.at(++i);
        } else if (args.at(i).startsWith(QLatin1Char('-'))) {
            usage();
            return 2;
        } else {
            files.append(args.at(i));
        }
    }
    if (files.isEmpty() && sample.isEmpty()) {
        usage();
        return 2;
    }
    std::printf("Each run: seedRandom(run number), a new CWPuzzleCreator, create(width, "
                "height), the puzzle deleted. Entries and letter cells are means over the "
                "puzzles built.\n");
    bool ok = true;
    for (const QString &file : files)
        ok = benchFile(file, false) && ok;
    if (!sample.isEmpty())
        ok = benchFile(sample, true) && ok;
    std::printf("\nFailures reported:%s\n", reportedFailures.empty() ? " none" : "");
    for (const auto &[text, count] : reportedFailures)
        std::printf("%6d  %s\n", count, qPrintable(text));
    return ok ? 0 : 1;
}
