// Backups made in steps from the event loop: the longest stall of the loop
// while the start-up backup and a deletion's backup are copied, against a
// copy in one step as the program made it before; and the start-up of a
// fresh process to a shown window with a backup due and without. Needs an X
// server with a system tray, as the program does.
// See docs/performance.md, "Backups".
#include "booksdialog.h"
#include "mainwindow.h"
#include "nivletcore.h"
#include "nivlettableview.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QMessageBox>
#include <QProcess>
#include <QProgressDialog>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QWindow>

#include <sqlite3.h>

#include <algorithm>
#include <vector>

namespace {
QTextStream out(stdout);

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

double largest(const std::vector<double> &v)
{
    return *std::max_element(v.begin(), v.end());
}

QString ms(double value)
{
    return QString::number(value, 'f', 1);
}

// A timer of 0 ms in the event loop: the longest time between two of its
// turns is the longest the loop was held by anything.
class GapRecorder : public QObject
{
public:
    GapRecorder()
    {
        tick.setInterval(0);
        connect(&tick, &QTimer::timeout, this, &GapRecorder::turn);
    }
    void start()
    {
        clock.start();
        last = 0;
        longest = 0;
        tick.start();
    }
    void stop()
    {
        turn();
        tick.stop();
    }
    double longestMs() const { return longest / 1e6; }
    double elapsedMs() const { return last / 1e6; }

private:
    void turn()
    {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    }

    QTimer tick;
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;
};

// The child's part: the program's start in its working folder, then the
// event loop until the window is on screen and the start-up backup is done,
// or for a second when none is due. Prints "shown" once the window is
// exposed, and "backup OK LONGEST_MS DURATION_MS TURNS" or "none LONGEST_MS".
class Child : public QObject
{
public:
    int run(QApplication &app)
    {
        if (!window.init())
            return 1;
        core = window.findChild<NivletCore *>();
        connect(core, &NivletCore::backupProgress, this, [this] { ++turns; });
        connect(core, &NivletCore::backupFinished, this, [this](bool ok) {
            gaps.stop();
            out << "backup " << (ok ? 1 : 0) << ' ' << ms(gaps.longestMs()) << ' '
                << ms(gaps.elapsedMs()) << ' ' << turns << Qt::endl;
            reported = true;
            code = ok ? 0 : 1;
            endWhenDone();
        });
        QTimer::singleShot(1000, this, [this] {
            if (reported || core->backupRunning())
                return;
            gaps.stop();
            out << "none " << ms(gaps.longestMs()) << Qt::endl;
            reported = true;
            endWhenDone();
        });
        window.show();
        window.windowHandle()->installEventFilter(this);
        gaps.start();
        return app.exec();
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *handle = qobject_cast<QWindow *>(watched);
        if (!shown && event->type() == QEvent::Expose && handle && handle->isExposed()) {
            shown = true;
            out << "shown" << Qt::endl;
            endWhenDone();
        }
        return false;
    }

private:
    void endWhenDone()
    {
        if (shown && reported)
            QCoreApplication::exit(code);
    }

    MainWindow window;
    // The store the window owns, among its children.
    NivletCore *core = nullptr;
    GapRecorder gaps;
    int turns = 0;
    bool shown = false;
    bool reported = false;
    int code = 0;
};

struct StartRun
{
    double shown = -1;
    QStringList report;
};

StartRun startChild(const QString &folder)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer clock;
    clock.start();
    process.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child")});
    StartRun run;
    while ((run.shown < 0 || run.report.isEmpty()) &&
           (process.canReadLine() || process.waitForReadyRead(60000))) {
        while (process.canReadLine()) {
            const QString line = QString::fromUtf8(process.readLine()).trimmed();
            if (line == QLatin1String("shown"))
                run.shown = clock.nsecsElapsed() / 1e6;
            else
                run.report = line.split(QLatin1Char(' '));
        }
    }
    process.waitForFinished(60000);
    if (run.shown < 0 || run.report.isEmpty() || process.exitCode() != 0)
        qFatal("the program's start in %s failed", qPrintable(folder));
    return run;
}

// The copy as the program made it before: all pages in one step, with
// SQLite's own sync at the end.
double oneStepCopy(const QString &file, const QString &target)
{
    QFile::remove(target);
    QElapsedTimer clock;
    clock.start();
    sqlite3 *source = nullptr;
    sqlite3 *copy = nullptr;
    sqlite3_open_v2(QFile::encodeName(file).constData(), &source, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_open(QFile::encodeName(target).constData(), &copy);
    sqlite3_backup *backup = sqlite3_backup_init(copy, "main", source, "main");
    const int rc = backup ? sqlite3_backup_step(backup, -1) : SQLITE_ERROR;
    sqlite3_backup_finish(backup);
    sqlite3_close(copy);
    sqlite3_close(source);
    const double result = clock.nsecsElapsed() / 1e6;
    QFile::remove(target);
    if (rc != SQLITE_DONE)
        qFatal("the one-step copy of %s failed", qPrintable(file));
    return result;
}

struct DeletionRun
{
    double longest = 0;
    double duration = 0;
    bool progressShown = false;
};

// A confirmed deletion of the first book in the books dialog; the stall is
// measured from the Yes to the end of the backup.
DeletionRun deletion()
{
    NivletCore core;
    if (!core.open())
        qFatal("the store could not open");
    BooksDialog dialog(nullptr, &core);
    dialog.setupUi();
    dialog.show();
    QElapsedTimer wait;
    wait.start();
    while (!(dialog.windowHandle() && dialog.windowHandle()->isExposed()) && wait.elapsed() < 10000)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    QAbstractItemView *view = dialog.findChild<NivletTableView *>();
    view->selectionModel()->select(view->model()->index(0, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
    DeletionRun run;
    GapRecorder gaps;
    QObject::connect(&core, &NivletCore::backupFinished, &gaps, [&gaps] { gaps.stop(); });
    QTimer watch;
    watch.setInterval(5);
    QObject::connect(&watch, &QTimer::timeout, [&gaps, &run] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            if (box->isVisible()) {
                gaps.start();
                box->button(QMessageBox::Yes)->click();
            }
        }
        for (QWidget *window : QApplication::topLevelWidgets()) {
            if (qobject_cast<QProgressDialog *>(window) && window->isVisible())
                run.progressShown = true;
        }
    });
    watch.start();
    const int books = core.bookCount();
    dialog.deleteBooks();
    if (core.bookCount() != books - 1)
        qFatal("the book was not deleted");
    run.longest = gaps.longestMs();
    run.duration = gaps.elapsedMs();
    return run;
}

void bench(const QString &given, int rounds)
{
    const QString file = QFileInfo(given).absoluteFilePath();
    QTemporaryDir dir;
    const QString work = dir.filePath(QStringLiteral("nivlets"));
    if (!dir.isValid() || !QFile::copy(file, work))
        qFatal("could not copy %s", qPrintable(file));
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    QDir backups(dir.filePath(QStringLiteral("backups")));

    std::vector<double> oneStep;
    for (int i = 0; i < std::max(3, rounds / 2); ++i)
        oneStep.push_back(oneStepCopy(work, dir.filePath(QStringLiteral("one-step"))));

    // Warm-up, so that every run finds the file in the page cache.
    backups.removeRecursively();
    startChild(dir.path());
    std::vector<double> shownDue, shownFresh, startStall, startTook, freshStall;
    int turns = 0;
    for (int i = 0; i < rounds; ++i) {
        backups.removeRecursively();
        const StartRun due = startChild(dir.path());
        if (due.report.value(0) != QLatin1String("backup") ||
            due.report.value(1) != QLatin1String("1"))
            qFatal("no start-up backup was made: %s",
                   qPrintable(due.report.join(QLatin1Char(' '))));
        shownDue.push_back(due.shown);
        startStall.push_back(due.report.value(2).toDouble());
        startTook.push_back(due.report.value(3).toDouble());
        turns = due.report.value(4).toInt();
        const StartRun fresh = startChild(dir.path());
        if (fresh.report.value(0) != QLatin1String("none"))
            qFatal("a backup was made although one was fresh");
        shownFresh.push_back(fresh.shown);
        freshStall.push_back(fresh.report.value(1).toDouble());
    }

    std::vector<double> deletionStall, deletionTook;
    int progressShown = 0;
    for (int i = 0; i < rounds; ++i) {
        backups.removeRecursively();
        QFile::remove(work);
        if (!QFile::copy(file, work))
            qFatal("could not copy %s", qPrintable(file));
        const DeletionRun run = deletion();
        deletionStall.push_back(run.longest);
        deletionTook.push_back(run.duration);
        progressShown += run.progressShown ? 1 : 0;
    }
    QDir::setCurrent(previous);

    out << "\n"
        << QFileInfo(file).fileName() << " (" << QFileInfo(file).size() / 4096
        << " pages of 4 KiB, " << rounds << " rounds; medians, largest in brackets)\n\n";
    out << "| what | ms |\n|---|---:|\n";
    out << "| copy in one step, as before (the stall it was) | " << ms(median(oneStep)) << " |\n";
    out << "| start-up backup: longest stall | " << ms(median(startStall)) << " ("
        << ms(largest(startStall)) << ") |\n";
    out << "| start-up backup: from the window's show to its end, " << turns << " turns | "
        << ms(median(startTook)) << " |\n";
    out << "| no backup due: longest stall in the first second | " << ms(median(freshStall)) << " ("
        << ms(largest(freshStall)) << ") |\n";
    out << "| deletion's backup: longest stall | " << ms(median(deletionStall)) << " ("
        << ms(largest(deletionStall)) << ") |\n";
    out << "| deletion's backup: from the Yes to its end | " << ms(median(deletionTook)) << " |\n";
    out << "| start-up to a shown window, backup due | " << ms(median(shownDue)) << " |\n";
    out << "| start-up to a shown window, no backup due | " << ms(median(shownFresh)) << " |\n";
    out << "\nThe deletion's progress window came up in " << progressShown << " of " << rounds
        << " runs.\n";
    out.flush();
}
} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.value(0) == QLatin1String("--child"))
        return Child().run(app);
    int rounds = 7;
    if (args.value(0) == QLatin1String("--quick")) {
        rounds = 1;
        args.removeFirst();
    }
    if (args.isEmpty()) {
        QTextStream(stderr) << "usage: nivlets_benchbackup [--quick] DATABASE...\n";
        return 2;
    }
    for (const QString &file : args)
        bench(file, rounds);
    return 0;
}
