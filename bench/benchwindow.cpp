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
#include <QTest>
#include <QTextStream>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

namespace {
QTextStream out(stdout);

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

struct Pair
{
    double window;
    double store;
};

// Runs the two alternately, so that a change in the machine's speed hits
// both alike; one warm-up each, then at least 5 and at most 41 rounds or
// about budget milliseconds.
Pair measure(const std::function<double()> &windowRun, const std::function<double()> &storeRun,
             double budget)
{
    windowRun();
    storeRun();
    std::vector<double> w;
    std::vector<double> s;
    QElapsedTimer total;
    total.start();
    while (w.size() < 5 || (w.size() < 41 && total.elapsed() < budget)) {
        w.push_back(windowRun());
        s.push_back(storeRun());
    }
    return Pair{median(w), median(s)};
}

double msSince(const QElapsedTimer &t)
{
    return t.nsecsElapsed() / 1e6;
}

void printRow(const QString &what, const Pair &p)
{
    out << qSetFieldWidth(0) << "| " << what << " | " << QString::number(p.window, 'f', 2) << " | "
        << QString::number(p.store, 'f', 2) << " | " << QString::number(p.window - p.store, 'f', 2)
        << " | " << QString::number(p.window / p.store, 'f', 2) << " |\n";
    out.flush();
}

void benchStartup()
{
    const Pair p = measure(
        [] {
            QElapsedTimer t;
            t.start();
            auto window = std::make_unique<MainWindow>();
            if (!window->init())
                qFatal("the main window could not start");
            window->show();
            if (!QTest::qWaitForWindowExposed(window.get()))
                qFatal("the main window was not shown");
            const double ms = msSince(t);
            window.reset();
            QApplication::processEvents();
            return ms;
        },
        [] {
            QElapsedTimer t;
            t.start();
            auto core = std::make_unique<NivletCore>();
            if (!core->open())
                qFatal("the store could not open");
            return msSince(t);
        },
        3000);
    printRow(QStringLiteral("start-up to a shown window / `open`"), p);
}

void benchSearch(MainWindow *window, const QString &label, const QString &text, int bookIndex,
                 bool onlyActive)
{
    NivletCore *core = window->core;
    Book *book = bookIndex < 0 ? nullptr : core->book(bookIndex);
    const Pair p = measure(
        [&] {
            window->questionEdit->setText(text);
            window->bookComboBox->setCurrentIndex(bookIndex + 1);
            window->onlyActiveCheckBox->setChecked(onlyActive);
            QElapsedTimer t;
            t.start();
            window->search();
            // Paints at once instead of at the next turn of the event loop.
            window->nivletTableView->viewport()->repaint();
            return msSince(t);
        },
        [&] {
            QElapsedTimer t;
            t.start();
            QList<Nivlet *> *result = core->search(text, book, onlyActive);
            const double ms = msSince(t);
            if (!result)
                qFatal("the search failed");
            qDeleteAll(*result);
            delete result;
            return ms;
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
        out << "| operation | window (ms) | store (ms) | window − store (ms) | ratio |\n";
        out << "|---|---|---|---|---|\n";
        benchStartup();

        MainWindow window;
        if (!window.init())
            qFatal("the main window could not start");
        window.show();
        if (!QTest::qWaitForWindowExposed(&window))
            qFatal("the main window was not shown");
        int bookIndex = 0;
        while (bookIndex < window.core->bookCount() && !window.core->book(bookIndex)->active)
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
