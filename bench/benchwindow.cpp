// What the main window adds to the store: start-up to a shown window against
// the store's open, and a search through the window (store search, the new
// result in the table model, the table repainted) against the store's search
// alone. Needs an X server with a system tray, as the program does.
// See docs/performance.md, "The main window".
#include "bookcombobox.h"
#include "mainwindow.h"
#include "nivlet.h"
#include "nivletcore.h"
#include "nivlettableview.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTextStream>
#include <QWindow>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include <time.h>

namespace {
QTextStream out(stdout);

// Returns once the X server reports the window on screen.
bool waitExposed(QWidget *widget)
{
    QElapsedTimer t;
    t.start();
    while (!(widget->windowHandle() && widget->windowHandle()->isExposed())) {
        if (t.elapsed() > 10000)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

// Wall and thread CPU time of one run, in milliseconds. On a busy machine
// the wall time grows with the waiting for a core, the CPU time does not.
struct Times
{
    double wall;
    double cpu;
};

struct Pair
{
    Times window;
    Times store;
};

double cpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Times the part of a run between its start() and stop().
class Stopwatch
{
public:
    void start()
    {
        cpuStart = cpuMs();
        wall.start();
    }
    Times stop() const { return Times{wall.nsecsElapsed() / 1e6, cpuMs() - cpuStart}; }

private:
    QElapsedTimer wall;
    double cpuStart = 0.0;
};

// Runs the two alternately, so that a change in the machine's speed hits
// both alike; one warm-up each, then at least 5 and at most 41 rounds or
// about budget milliseconds.
Pair measure(const std::function<Times()> &windowRun, const std::function<Times()> &storeRun,
             double budget)
{
    windowRun();
    storeRun();
    std::vector<double> ww, wc, sw, sc;
    QElapsedTimer total;
    total.start();
    while (ww.size() < 5 || (ww.size() < 41 && total.elapsed() < budget)) {
        const Times w = windowRun();
        const Times s = storeRun();
        ww.push_back(w.wall);
        wc.push_back(w.cpu);
        sw.push_back(s.wall);
        sc.push_back(s.cpu);
    }
    return Pair{Times{median(ww), median(wc)}, Times{median(sw), median(sc)}};
}

QString ms(double value)
{
    return QString::number(value, 'f', 2);
}

void printRow(const QString &what, const Pair &p)
{
    out << "| " << what << " | " << ms(p.window.wall) << " | " << ms(p.store.wall) << " | "
        << ms(p.window.wall - p.store.wall) << " | " << ms(p.window.cpu) << " | " << ms(p.store.cpu)
        << " | " << ms(p.window.cpu - p.store.cpu) << " |\n";
    out.flush();
}

void benchStartup()
{
    const Pair p = measure(
        [] {
            Stopwatch t;
            t.start();
            auto window = std::make_unique<MainWindow>();
            if (!window->init())
                qFatal("the main window could not start");
            window->show();
            if (!waitExposed(window.get()))
                qFatal("the main window was not shown");
            const Times times = t.stop();
            window.reset();
            QApplication::processEvents();
            return times;
        },
        [] {
            Stopwatch t;
            t.start();
            auto core = std::make_unique<NivletCore>();
            if (!core->open())
                qFatal("the store could not open");
            return t.stop();
        },
        3000);
    printRow(QStringLiteral("start-up to a shown window / `open`"), p);
}

void benchSearch(MainWindow *window, const QString &label, const QString &text, int bookIndex,
                 bool activeOnly)
{
    // The search panel's parts by the names the window gives them.
    NivletCore *core = window->findChild<NivletCore *>();
    auto *questionEdit = window->findChild<QLineEdit *>(QStringLiteral("questionEdit"));
    auto *bookComboBox = window->findChild<BookComboBox *>(QStringLiteral("bookComboBox"));
    auto *onlyActive = window->findChild<QCheckBox *>(QStringLiteral("onlyActiveCheckBox"));
    QWidget *viewport = window->findChild<NivletTableView *>()->viewport();
    Book *book = bookIndex < 0 ? nullptr : core->book(bookIndex);
    const Pair p = measure(
        [&] {
            questionEdit->setText(text);
            bookComboBox->setCurrentIndex(bookIndex + 1);
            onlyActive->setChecked(activeOnly);
            Stopwatch t;
            t.start();
            window->search();
            // Paints at once instead of at the next turn of the event loop.
            viewport->repaint();
            return t.stop();
        },
        [&] {
            Stopwatch t;
            t.start();
            QList<Nivlet *> *result = core->search(text, book, activeOnly);
            const Times times = t.stop();
            if (!result)
                qFatal("the search failed");
            qDeleteAll(*result);
            delete result;
            return times;
        },
        1500);
    printRow(label, p);
}
} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList files = app.arguments().mid(1);
    if (files.isEmpty()) {
        QTextStream(stderr) << "usage: nivlets_benchwindow DATABASE...\n";
        return 2;
    }
    for (const QString &file : files) {
        QTemporaryDir dir;
        if (!dir.isValid() || !QFile::copy(file, dir.filePath(QStringLiteral("nivlets"))))
            qFatal("could not copy %s", qPrintable(file));
        const QString previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
        out << "\n" << QFileInfo(file).fileName() << "\n\n";
        out << "| operation | window | store | window − store | window CPU | store CPU | "
               "window − store CPU |\n";
        out << "|---|---|---|---|---|---|---|\n";
        benchStartup();

        MainWindow window;
        if (!window.init())
            qFatal("the main window could not start");
        window.show();
        if (!waitExposed(&window))
            qFatal("the main window was not shown");
        const NivletCore *core = window.findChild<NivletCore *>();
        int bookIndex = 0;
        while (bookIndex < core->bookCount() && !core->book(bookIndex)->active)
            ++bookIndex;
        benchSearch(&window, QStringLiteral("search \"\", all books"), QString(), -1, false);
        benchSearch(&window, QStringLiteral("search \"his\", all books"), QStringLiteral("his"), -1,
                    false);
        benchSearch(&window, QStringLiteral("search \"the\", all books"), QStringLiteral("the"), -1,
                    false);
        benchSearch(&window, QStringLiteral("search \"\", one book, only active"), QString(),
                    bookIndex, true);
        benchSearch(&window, QStringLiteral("search \"zqx\", all books"), QStringLiteral("zqx"), -1,
                    false);
        QDir::setCurrent(previous);
    }
    return 0;
}
