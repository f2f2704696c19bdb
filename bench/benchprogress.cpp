// nivlets_benchprogress [--quick] FILE: the progress window on a copy of a
// card file and its answer history (FILE-history, as nivlets_gendb
// --answers writes them): what the window reads for each period and book,
// against bare loops that step the same SQL and read the same columns; the
// window's opening and its switches of period and book, each until it is
// drawn; and what recording an answer costs the answer and, later, the
// event loop, against the same statements stepped bare.
// See docs/performance.md, "Progress".

#include "answerhistory.h"
#include "nivletcore.h"
#include "progressreport.h"
#include "progresswindow.h"
#include "sqlstatement.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
QTextStream out(stdout);
int runs = 11;

// The evening of the last day of the generator's log.
class LastDayClock : public WallClock
{
public:
    QDateTime now() const override
    {
        return QDateTime(QDate(2026, 6, 30), QTime(22, 45),
                         QTimeZone(QByteArrayLiteral("Europe/Berlin")));
    }
};

[[noreturn]] void fail(const QString &why)
{
    QTextStream(stderr) << "nivlets_benchprogress: " << why << Qt::endl;
    std::exit(1);
}

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

QString ms(double value)
{
    return QString::number(value, 'f', value < 1 ? 3 : 2);
}

// The two alternate, so that a change in the machine's speed hits both alike.
void compare(const QString &name, const std::function<void()> &tool,
             const std::function<void()> &raw)
{
    tool();
    raw();
    std::vector<double> a;
    std::vector<double> b;
    for (int i = 0; i < runs; ++i) {
        auto start = Clock::now();
        tool();
        a.push_back(msSince(start));
        start = Clock::now();
        raw();
        b.push_back(msSince(start));
    }
    const double x = median(a);
    const double y = median(b);
    out << "| " << name << " | " << ms(x) << " | " << ms(y) << " | "
        << QString::number(y > 0 ? x / y : 0, 'f', 2) << " |" << Qt::endl;
}

void timeOnly(const QString &name, const std::function<void()> &work)
{
    work();
    std::vector<double> a;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        work();
        a.push_back(msSince(start));
    }
    out << "| " << name << " | " << ms(median(a)) << " | | |" << Qt::endl;
}

// Steps a query bare, reading each column as the log's reader reads it.
void rawQuery(sqlite3 *db, const char *sql, const std::vector<qint64> &binds, int columns)
{
    SqlStatement stmt(db, sql);
    if (!stmt)
        fail(QStringLiteral("raw prepare: ") + stmt.errorMessage());
    for (std::size_t i = 0; i < binds.size(); ++i)
        stmt.bindInt64(static_cast<int>(i) + 1, binds[i]);
    qint64 sink = 0;
    while (stmt.next()) {
        for (int c = 0; c < columns; ++c)
            sink += stmt.columnInt64(c);
    }
    if (stmt.failed())
        fail(QStringLiteral("raw step: ") + stmt.errorMessage());
    static volatile qint64 kept = 0;
    kept = kept + sink;
}

// What ProgressReport::show reads for the period and book, bare.
void rawShow(sqlite3 *db, const Progress::Period &period, qint64 bookKey)
{
    const qint64 quarter = 15 * 60 * 1000;
    const qint64 from = (period.begin() + quarter - 1) / quarter;
    const qint64 to = (period.finish() + quarter - 1) / quarter;
    if (bookKey < 0)
        rawQuery(db,
                 "SELECT quarter, right_count, wrong_count, cheated_count FROM answer_quarter "
                 "WHERE quarter >= ?1 AND quarter < ?2 ORDER BY quarter",
                 {from, to}, 4);
    else
        rawQuery(db,
                 "SELECT quarter, right_count, wrong_count, cheated_count FROM book_quarter "
                 "WHERE quarter >= ?1 AND quarter < ?2 AND book = ?3 ORDER BY quarter",
                 {from, to, bookKey}, 4);
    rawQuery(db, "SELECT nivlet_id, rate_after FROM nivlet_last", {}, 2);
    rawQuery(db, "SELECT nivlet_id, time FROM nivlet_deleted", {}, 2);
    rawQuery(db,
             "SELECT time, nivlet_id, known_change FROM answer WHERE known_change <> 0 AND "
             "time >= ?",
             {period.begin()}, 3);
}

// The statements a flush steps for each answer, prepared once for the batch
// in one transaction, as the log prepares them.
void rawRecord(sqlite3 *db, int count, qint64 nivlet, qint64 time)
{
    SqlStatement begin(db, "BEGIN IMMEDIATE");
    SqlStatement seq(db, "SELECT ifnull(max(seq) + 1, 0) FROM answer WHERE time = ?");
    SqlStatement last(db, "SELECT time, rate_after FROM nivlet_last WHERE nivlet_id = ?");
    SqlStatement keep(db, "INSERT OR REPLACE INTO nivlet_last VALUES (?, ?, ?, 0.75)");
    SqlStatement add(db, "INSERT INTO answer VALUES (?, ?, ?, 1, 0, 0, 0.5, 0.75, 0)");
    SqlStatement all(db, "INSERT INTO answer_quarter VALUES (?1, 1, 0, 0) ON CONFLICT (quarter) "
                         "DO UPDATE SET right_count = right_count + 1");
    SqlStatement book(db, "INSERT INTO book_quarter VALUES (1, ?1, 1, 0, 0) ON CONFLICT (book, "
                          "quarter) DO UPDATE SET right_count = right_count + 1");
    SqlStatement commit(db, "COMMIT");
    if (!begin.execute())
        fail(QStringLiteral("raw begin: ") + begin.errorMessage());
    for (int i = 0; i < count; ++i) {
        seq.bindInt64(1, time);
        const qint64 next = seq.next() ? seq.columnInt64(0) : 0;
        seq.reset();
        last.bindInt64(1, nivlet);
        if (last.next())
            last.columnDouble(1);
        last.reset();
        keep.bindInt64(1, nivlet);
        keep.bindInt64(2, time);
        keep.bindInt64(3, next);
        add.bindInt64(1, time);
        add.bindInt64(2, next);
        add.bindInt64(3, nivlet);
        all.bindInt64(1, time / (15 * 60 * 1000));
        book.bindInt64(1, time / (15 * 60 * 1000));
        for (SqlStatement *stmt : {&keep, &add, &all, &book}) {
            if (!stmt->execute())
                fail(QStringLiteral("raw write: ") + stmt->errorMessage());
            stmt->reset();
        }
    }
    if (!commit.execute())
        fail(QStringLiteral("raw commit: ") + commit.errorMessage());
}

void section(const QString &title)
{
    out << Qt::endl << "**" << title << "**" << Qt::endl << Qt::endl;
    out << "| operation | program | raw | ratio |" << Qt::endl
        << "|---|---:|---:|---:|" << Qt::endl;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    const bool quick = args.removeAll(QStringLiteral("--quick")) > 0;
    if (args.size() != 1)
        fail(QStringLiteral("usage: nivlets_benchprogress [--quick] FILE"));
    if (quick)
        runs = 1;
    const QString file = args.first();
    QTemporaryDir work;
    if (!QFile::copy(file, work.filePath(QStringLiteral("nivlets"))) ||
        !QFile::copy(file + QStringLiteral("-history"),
                     work.filePath(QString::fromLatin1(AnswerHistory::fileName))))
        fail(QStringLiteral("cannot copy %1 and its history").arg(file));
    QDir::setCurrent(work.path());

    LastDayClock clock;
    NivletCore store;
    AnswerHistory history(&clock);
    if (!store.open())
        fail(QStringLiteral("the store could not open the copy"));
    sqlite3 *raw = nullptr;
    if (sqlite3_open(AnswerHistory::fileName, &raw) != SQLITE_OK)
        fail(QStringLiteral("raw open failed"));
    sqlite3 *rawCards = nullptr;
    if (sqlite3_open("nivlets", &rawCards) != SQLITE_OK)
        fail(QStringLiteral("raw open failed"));

    ProgressReport report(store, history, clock);
    if (!report.load())
        fail(QStringLiteral("the report could not be loaded"));
    // The book with the most answers, as one to choose.
    int busiest = 1;
    {
        SqlStatement stmt(raw, "SELECT book, count(*) FROM book_quarter GROUP BY book "
                               "ORDER BY sum(right_count + wrong_count + cheated_count) DESC "
                               "LIMIT 1");
        const qint64 key = stmt.next() ? stmt.columnInt64(0) : -1;
        for (int i = 0; i < report.choices().size(); ++i) {
            if (report.choices().at(i).logBook.key == key)
                busiest = i;
        }
    }
    const qint64 busiestKey = report.choices().at(busiest).logBook.key;
    out << "File " << QFileInfo(file).fileName() << ": " << store.totalNivletCount() << " nivlets, "
        << store.activeNivletCount() << " active; chosen book \""
        << report.choices().at(busiest).name << "\"" << Qt::endl;

    section(QStringLiteral("What the window reads (milliseconds, medians)"));
    compare(
        QStringLiteral("the cards now and the books (load)"),
        [&] {
            if (!report.load())
                fail(QStringLiteral("load failed"));
        },
        [&] {
            rawQuery(rawCards,
                     "SELECT m.book_id, m.kn_rate FROM nivlet m, book b WHERE "
                     "m.book_id = b.id AND m.active = 1 AND b.active = 1",
                     {}, 2);
            rawQuery(raw, "SELECT id, card_id, deleted FROM book", {}, 3);
        });
    for (int days : ProgressWindow::periods) {
        for (const bool all : {true, false}) {
            const int choice = all ? 0 : busiest;
            compare(
                QStringLiteral("%1 days, %2")
                    .arg(days)
                    .arg(all ? QStringLiteral("all books") : QStringLiteral("one book")),
                [&] {
                    if (!report.show(days, choice))
                        fail(QStringLiteral("show failed"));
                },
                [&] { rawShow(raw, report.period(), all ? -1 : busiestKey); });
        }
    }

    section(QStringLiteral("The window, until it is drawn (milliseconds, medians)"));
    timeOnly(QStringLiteral("open: set up, show, draw"), [&] {
        ProgressWindow window(nullptr, &store, &history, &clock);
        if (!window.setupUi())
            fail(QStringLiteral("the window could not be set up"));
        window.show();
        window.grab();
    });
    {
        ProgressWindow window(nullptr, &store, &history, &clock);
        if (!window.setupUi())
            fail(QStringLiteral("the window could not be set up"));
        window.show();
        auto *tabs = window.findChild<QTabWidget *>(QStringLiteral("progressTabs"));
        auto *period = window.findChild<QComboBox *>(QStringLiteral("periodBox"));
        auto *book = window.findChild<QComboBox *>(QStringLiteral("bookBox"));
        // Each switch timed on its own, from the choice to the drawn window,
        // back and forth between two choices.
        auto switchTimes = [&](const QString &name, QComboBox *box, int from, int to) {
            std::vector<double> times;
            for (int i = 0; i <= runs; ++i) {
                for (int index : {to, from}) {
                    const auto start = Clock::now();
                    box->setCurrentIndex(index);
                    window.grab();
                    if (i > 0)
                        times.push_back(msSince(start));
                }
            }
            out << "| " << name << " | " << ms(median(times)) << " | | |" << Qt::endl;
        };
        for (int page : {1, 2}) {
            tabs->setCurrentIndex(page);
            const QString tab = tabs->tabText(page).remove(QLatin1Char('&'));
            switchTimes(tab + QStringLiteral(": 30 days and 90"), period, 0, 1);
            switchTimes(tab + QStringLiteral(": 30 days and a year"), period, 0, 2);
            switchTimes(tab + QStringLiteral(": all books and one, 30 days"), book, 0, busiest);
            period->setCurrentIndex(2);
            switchTimes(tab + QStringLiteral(": all books and one, a year"), book, 0, busiest);
            period->setCurrentIndex(0);
        }
    }

    section(QStringLiteral("Recording an answer (milliseconds, medians)"));
    const std::shared_ptr<const ActiveList> list = store.activeList();
    const Nivlet *asked = list->isEmpty() ? nullptr : list->at(0);
    if (!asked)
        fail(QStringLiteral("no active nivlet"));
    const AnswerHistory::Answer answer{asked->id,
                                       asked->book ? asked->book->id : 0,
                                       asked->book ? asked->book->name : QString(),
                                       AnswerHistory::Verdict::Right,
                                       AnswerHistory::Source::Challenge,
                                       0.5,
                                       0.75};
    timeOnly(QStringLiteral("record(): what the answer waits for"),
             [&] { history.record(answer); });
    history.flush();
    for (const int count : {1, 25}) {
        compare(
            QStringLiteral("flush of %1 from the event loop").arg(count),
            [&] {
                for (int i = 0; i < count; ++i)
                    history.record(answer);
                if (!history.flush())
                    fail(QStringLiteral("the flush failed"));
            },
            [&] { rawRecord(raw, count, asked->id, clock.now().toMSecsSinceEpoch()); });
    }
    sqlite3_close(raw);
    sqlite3_close(rawCards);
    return 0;
}
