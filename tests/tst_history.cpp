// The answer log on its own: the rows each answer writes, the books and
// deletions it keeps, and the three reconstructions of the progress window
// (the cards by band, the answers per day, the known cards per day) on
// hand-made logs whose results are known, across changes of daylight-saving
// time in Europe/Berlin.

#include "answerhistory.h"
#include "progress.h"
#include "testsupport.h"

#include <QFile>
#include <QTest>

using namespace TestSupport;
using Verdict = AnswerHistory::Verdict;
using Source = AnswerHistory::Source;

namespace {

const QString historyFile = QString::fromLatin1(AnswerHistory::fileName);
const QTimeZone berlin(QByteArrayLiteral("Europe/Berlin"));

qint64 at(const QDate &date, const QTime &time)
{
    return QDateTime(date, time, berlin).toMSecsSinceEpoch();
}

AnswerHistory::Answer answer(qint64 nivlet, qint64 book, Verdict verdict, double before,
                             double after, Source source = Source::Challenge)
{
    return {nivlet, book, QStringLiteral("Book %1").arg(book), verdict, source, before, after};
}

QStringList historyRows(const QString &sql)
{
    return rows(sql, historyFile);
}

QList<int> dayTotals(const Progress::DayByDay &days)
{
    QList<int> totals;
    for (const Progress::DayCount &day : days.days)
        totals.append(day.total());
    return totals;
}

} // namespace

class TstHistory : public QObject
{
    Q_OBJECT

private slots:
    void noFileBeforeTheFirstAnswer();
    void answersWriteTheirRows();
    void answersOfOneMillisecondKeepTheirOrder();
    void anAnswerAfterTheClockWasSetBack();
    void booksKeepTheirLastNames();
    void aNewBookWithADeletedBooksId();
    void aLaterLayoutIsRefused();
    void bands();
    void periodsAcrossDaylightSavingTime();
    void dayByDay();
    void dayByDayOfOneBook();
    void streakGoesOnBeforeThePeriod();
    void knownPerDay();
    void knownPerDayAcrossTheAutumnChange();
    void aNewNivletWithADeletedNivletsId();
    void knownPerDayOfADeletedBook();
};

void TstHistory::noFileBeforeTheFirstAnswer()
{
    WorkDir work;
    ManualWallClock clock;
    AnswerHistory history(&clock);
    // Renames and deletions of books the log never saw write nothing.
    history.bookRenamed(1, QStringLiteral("x"));
    history.nivletsDeleted({1, 2});
    QVERIFY(history.flush());
    QList<AnswerHistory::Book> books;
    QVERIFY(history.books(books));
    QVERIFY(books.isEmpty());
    Progress::DayByDay days;
    QVERIFY(history.dayByDay(Progress::Period(QDate(2026, 5, 1), 7, berlin), -1, days));
    QCOMPARE(days.answers, 0);
    QVERIFY(!QFile::exists(historyFile));
}

void TstHistory::answersWriteTheirRows()
{
    WorkDir work;
    ManualWallClock clock;
    AnswerHistory history(&clock);
    clock.set(QDate(2026, 5, 4), QTime(9, 30));
    history.record(answer(7, 2, Verdict::Right, 0.5, 0.75));
    // Queued only: the event loop writes it.
    QVERIFY(!QFile::exists(historyFile));
    QCOMPARE(history.queuedCount(), 1);
    QTRY_COMPARE(history.queuedCount(), 0);
    clock.set(QDate(2026, 5, 4), QTime(9, 31));
    history.record(answer(7, 2, Verdict::Wrong, 0.75, 0.375, Source::AutomaticChallenge));
    history.record(answer(8, 3, Verdict::Cheated, 0.0, 0.0, Source::Crossword));
    QVERIFY(history.flush());

    const qint64 first = at(QDate(2026, 5, 4), QTime(9, 30));
    const qint64 second = at(QDate(2026, 5, 4), QTime(9, 31));
    QCOMPARE(historyRows(QStringLiteral("SELECT * FROM answer ORDER BY time, seq")),
             QStringList({QStringLiteral("%1|0|7|1|0|0|0.5|0.75|1").arg(first),
                          QStringLiteral("%1|0|7|1|1|1|0.75|0.375|-1").arg(second),
                          QStringLiteral("%1|1|8|2|2|2|0.0|0.0|0").arg(second)}));
    QCOMPARE(historyRows(QStringLiteral("SELECT * FROM book ORDER BY id")),
             QStringList({QStringLiteral("1|2|Book 2|NULL"), QStringLiteral("2|3|Book 3|NULL")}));
    QCOMPARE(historyRows(QStringLiteral("SELECT * FROM nivlet_last ORDER BY nivlet_id")),
             QStringList({QStringLiteral("7|%1|0|0.375").arg(second),
                          QStringLiteral("8|%1|1|0.0").arg(second)}));
    // Both minutes lie in the quarter of an hour from 9:30.
    const qint64 quarter = first / (15 * 60 * 1000);
    QCOMPARE(historyRows(QStringLiteral("SELECT * FROM answer_quarter")),
             QStringList(QStringLiteral("%1|1|1|1").arg(quarter)));
    QCOMPARE(historyRows(QStringLiteral("SELECT * FROM book_quarter ORDER BY book")),
             QStringList({QStringLiteral("1|%1|1|1|0").arg(quarter),
                          QStringLiteral("2|%1|0|0|1").arg(quarter)}));
    QCOMPARE(historyRows(QStringLiteral("PRAGMA user_version")), QStringList(QStringLiteral("1")));
}

void TstHistory::answersOfOneMillisecondKeepTheirOrder()
{
    WorkDir work;
    ManualWallClock clock;
    clock.set(QDate(2026, 5, 4), QTime(12, 0));
    {
        AnswerHistory history(&clock);
        history.record(answer(1, 1, Verdict::Right, 0.5, 0.75));
        QVERIFY(history.flush());
    }
    // Another run in the same millisecond goes on with the numbers.
    AnswerHistory history(&clock);
    history.record(answer(1, 1, Verdict::Right, 0.75, 0.875));
    history.record(answer(2, 1, Verdict::Right, 0.0, 0.5));
    QVERIFY(history.flush());
    QCOMPARE(
        historyRows(QStringLiteral("SELECT seq, nivlet_id, known_change FROM answer "
                                   "ORDER BY time, seq")),
        QStringList({QStringLiteral("0|1|1"), QStringLiteral("1|1|0"), QStringLiteral("2|2|0")}));
}

void TstHistory::anAnswerAfterTheClockWasSetBack()
{
    WorkDir work;
    ManualWallClock clock;
    AnswerHistory history(&clock);
    clock.set(QDate(2026, 5, 4), QTime(12, 0));
    history.record(answer(1, 1, Verdict::Right, 0.5, 0.75));
    QVERIFY(history.flush());
    // An hour earlier by the clock, the nivlet fell below 75 %: the answer
    // at noon brought it back, and says so now.
    clock.set(QDate(2026, 5, 4), QTime(11, 0));
    history.record(answer(1, 1, Verdict::Wrong, 0.75, 0.375));
    QVERIFY(history.flush());
    QCOMPARE(historyRows(QStringLiteral("SELECT rate_before, rate_after, known_change FROM answer "
                                        "ORDER BY time, seq")),
             QStringList({QStringLiteral("0.75|0.375|-1"), QStringLiteral("0.5|0.75|1")}));
    // The last answer by time is still the one at noon.
    QCOMPARE(historyRows(QStringLiteral("SELECT rate_after FROM nivlet_last")),
             QStringList(QStringLiteral("0.75")));
}

void TstHistory::booksKeepTheirLastNames()
{
    WorkDir work;
    ManualWallClock clock;
    clock.set(QDate(2026, 5, 4), QTime(12, 0));
    AnswerHistory history(&clock);
    history.record(answer(1, 4, Verdict::Right, 0.0, 0.5));
    history.record(answer(2, 5, Verdict::Right, 0.0, 0.5));
    history.bookRenamed(4, QStringLiteral("Latin verbs"));
    QVERIFY(history.flush());
    clock.set(QDate(2026, 5, 5), QTime(8, 0));
    history.bookDeleted(4, {1});
    QVERIFY(history.flush());

    QList<AnswerHistory::Book> books;
    QVERIFY(history.books(books));
    QCOMPARE(books.size(), 2);
    QCOMPARE(books[0].cardId, 5);
    QCOMPARE(books[0].deleted, -1);
    QCOMPARE(books[1].cardId, 4);
    QCOMPARE(books[1].name, QStringLiteral("Latin verbs"));
    QCOMPARE(books[1].deleted, at(QDate(2026, 5, 5), QTime(8, 0)));
    // The entries stay; the deleted nivlet no longer has a last answer.
    QCOMPARE(historyRows(QStringLiteral("SELECT count(*) FROM answer")),
             QStringList(QStringLiteral("2")));
    QCOMPARE(historyRows(QStringLiteral("SELECT nivlet_id FROM nivlet_last")),
             QStringList(QStringLiteral("2")));
    QCOMPARE(historyRows(QStringLiteral("SELECT * FROM nivlet_deleted")),
             QStringList(QStringLiteral("1|%1").arg(at(QDate(2026, 5, 5), QTime(8, 0)))));
}

void TstHistory::aNewBookWithADeletedBooksId()
{
    WorkDir work;
    ManualWallClock clock;
    clock.set(QDate(2026, 5, 4), QTime(12, 0));
    AnswerHistory history(&clock);
    AnswerHistory::Answer first = answer(1, 3, Verdict::Right, 0.0, 0.5);
    first.bookName = QStringLiteral("Chemical symbols");
    history.record(first);
    history.bookDeleted(3, {1});
    AnswerHistory::Answer second = answer(1, 3, Verdict::Wrong, 0.0, 0.0);
    second.bookName = QStringLiteral("Birds");
    history.record(second);
    QVERIFY(history.flush());
    QCOMPARE(
        historyRows(QStringLiteral("SELECT id, card_id, name, deleted IS NULL FROM book "
                                   "ORDER BY id")),
        QStringList({QStringLiteral("1|3|Chemical symbols|0"), QStringLiteral("2|3|Birds|1")}));
    QCOMPARE(historyRows(QStringLiteral("SELECT book FROM answer ORDER BY time, seq")),
             QStringList({QStringLiteral("1"), QStringLiteral("2")}));
}

void TstHistory::aLaterLayoutIsRefused()
{
    WorkDir work;
    QVERIFY(execSql(historyFile, QStringLiteral("PRAGMA user_version = 7")));
    ManualWallClock clock;
    AnswerHistory history(&clock);
    history.record(answer(1, 1, Verdict::Right, 0.0, 0.5));
    {
        BoxCatcher boxes;
        QVERIFY(!history.flush());
        QCOMPARE(boxes.texts,
                 QStringList(QStringLiteral(
                     "Could not open the answer history. error code: 20 error message: the file "
                     "has the layout 7, this program knows 1")));
    }
    QCOMPARE(history.queuedCount(), 1);
    QVERIFY(history.failureShown());
    // Once in a run: the next failure goes to the log alone.
    BoxCatcher boxes;
    history.record(answer(1, 1, Verdict::Right, 0.5, 0.75));
    QVERIFY(!history.flush());
    QVERIFY(boxes.texts.isEmpty());
    QCOMPARE(history.queuedCount(), 2);
}

void TstHistory::bands()
{
    Progress::Bands bands;
    for (double rate : {0.0, 0.2499, 0.25, 0.4999, 0.5, 0.7499, 0.75, 1.0, 0.875})
        bands.add(rate);
    QCOMPARE(bands.count(0), 2);
    QCOMPARE(bands.count(1), 2);
    QCOMPARE(bands.count(2), 2);
    QCOMPARE(bands.count(3), 3);
    QCOMPARE(bands.total(), 9);
    QVERIFY(qAbs(bands.averageRate() - 4.8747 / 9) < 1e-9);
    QCOMPARE(Progress::Bands().averageRate(), 0.0);
}

void TstHistory::periodsAcrossDaylightSavingTime()
{
    // 29 March 2026: 02:00 CET becomes 03:00 CEST; 25 October: 03:00 CEST
    // becomes 02:00 CET.
    const Progress::Period spring(QDate(2026, 3, 30), 3, berlin);
    QCOMPARE(spring.date(0), QDate(2026, 3, 28));
    QCOMPARE(spring.end(1) - spring.start(1), qint64(23) * 3600 * 1000);
    QCOMPARE(spring.end(0) - spring.start(0), qint64(24) * 3600 * 1000);
    const Progress::Period autumn(QDate(2026, 10, 25), 1, berlin);
    QCOMPARE(autumn.end(0) - autumn.start(0), qint64(25) * 3600 * 1000);
    QCOMPARE(spring.dayOf(at(QDate(2026, 3, 29), QTime(23, 59))), 1);
    QCOMPARE(spring.dayOf(at(QDate(2026, 3, 30), QTime(0, 0))), 2);
    QCOMPARE(spring.dayOf(spring.begin() - 1), -1);
    QCOMPARE(spring.dayOf(spring.finish()), 3);
    QCOMPARE(spring.before().date(2), QDate(2026, 3, 27));
}

void TstHistory::dayByDay()
{
    WorkDir work;
    ManualWallClock clock;
    AnswerHistory history(&clock);
    auto give = [&](const QDate &date, const QTime &time, Verdict verdict, qint64 nivlet = 1) {
        clock.set(date, time);
        history.record(answer(nivlet, 1, verdict, 0.5, 0.5));
    };
    // Before the period, which runs from 27 March to 31 March 2026.
    give(QDate(2026, 3, 26), QTime(23, 59, 59), Verdict::Right);
    // The first day has none. On the day of the change to summer time, the
    // first answer is still in winter time and the last just before a
    // midnight that comes an hour earlier by UTC.
    give(QDate(2026, 3, 28), QTime(0, 0), Verdict::Wrong);
    give(QDate(2026, 3, 29), QTime(1, 30), Verdict::Right);
    give(QDate(2026, 3, 29), QTime(3, 30), Verdict::Right);
    give(QDate(2026, 3, 29), QTime(23, 59), Verdict::Cheated);
    // The same nivlet twice on one day counts twice.
    give(QDate(2026, 3, 30), QTime(0, 0), Verdict::Wrong, 2);
    give(QDate(2026, 3, 30), QTime(18, 0), Verdict::Right, 2);
    // After the period.
    give(QDate(2026, 4, 1), QTime(0, 0), Verdict::Right);
    QVERIFY(history.flush());

    Progress::DayByDay days;
    QVERIFY(history.dayByDay(Progress::Period(QDate(2026, 3, 31), 5, berlin), -1, days));
    QCOMPARE(dayTotals(days), QList<int>({0, 1, 3, 2, 0}));
    QCOMPARE(days.days[2].right, 2);
    QCOMPARE(days.days[2].cheated, 1);
    QCOMPARE(days.days[3].wrong, 1);
    QCOMPARE(days.answers, 6);
    QCOMPARE(days.right, 3);
    // The last day has no answer yet: the row ends the day before.
    QCOMPARE(days.today, 0);
    QCOMPARE(days.streak, 3);

    QVERIFY(history.dayByDay(Progress::Period(QDate(2026, 3, 29), 2, berlin), -1, days));
    QCOMPARE(dayTotals(days), QList<int>({1, 3}));
    QCOMPARE(days.today, 3);
    QCOMPARE(days.streak, 2);
    // A period that begins long before the log.
    QVERIFY(history.dayByDay(Progress::Period(QDate(2026, 3, 27), 90, berlin), -1, days));
    QCOMPARE(days.answers, 1);
    QCOMPARE(days.days.last().total(), 0);
    QCOMPARE(days.days[88].total(), 1);
    QCOMPARE(days.streak, 1);
}

void TstHistory::dayByDayOfOneBook()
{
    WorkDir work;
    ManualWallClock clock;
    AnswerHistory history(&clock);
    clock.set(QDate(2026, 6, 1), QTime(10, 0));
    history.record(answer(1, 1, Verdict::Right, 0.0, 0.5));
    history.record(answer(2, 2, Verdict::Wrong, 0.0, 0.0));
    clock.set(QDate(2026, 6, 2), QTime(10, 0));
    history.record(answer(3, 2, Verdict::Right, 0.0, 0.5));
    QVERIFY(history.flush());
    QList<AnswerHistory::Book> books;
    QVERIFY(history.books(books));
    QCOMPARE(books.size(), 2);
    Progress::DayByDay days;
    QVERIFY(history.dayByDay(Progress::Period(QDate(2026, 6, 2), 2, berlin), books[1].key, days));
    QCOMPARE(dayTotals(days), QList<int>({1, 1}));
    QCOMPARE(days.right, 1);
    QCOMPARE(days.streak, 2);
    QVERIFY(history.dayByDay(Progress::Period(QDate(2026, 6, 2), 2, berlin), books[0].key, days));
    QCOMPARE(dayTotals(days), QList<int>({1, 0}));
    QCOMPARE(days.streak, 1);
}

void TstHistory::streakGoesOnBeforeThePeriod()
{
    WorkDir work;
    ManualWallClock clock;
    AnswerHistory history(&clock);
    // Every day from 1 to 20 October, across the change to winter time, then
    // a day off, then 22 October.
    for (int day = 1; day <= 20; ++day) {
        clock.set(QDate(2026, 10, day), QTime(23, 30));
        history.record(answer(1, 1, Verdict::Right, 0.5, 0.75));
    }
    clock.set(QDate(2026, 10, 26), QTime(0, 30));
    history.record(answer(1, 1, Verdict::Right, 0.5, 0.75));
    for (int day = 22; day <= 25; ++day) {
        clock.set(QDate(2026, 9, day), QTime(12, 0));
        history.record(answer(1, 1, Verdict::Right, 0.5, 0.75));
    }
    QVERIFY(history.flush());
    Progress::DayByDay days;
    QVERIFY(history.dayByDay(Progress::Period(QDate(2026, 10, 20), 7, berlin), -1, days));
    QCOMPARE(days.today, 1);
    QCOMPARE(days.streak, 20);
    QVERIFY(history.dayByDay(Progress::Period(QDate(2026, 10, 27), 7, berlin), -1, days));
    QCOMPARE(dayTotals(days), QList<int>({0, 0, 0, 0, 0, 1, 0}));
    QCOMPARE(days.streak, 1);
}

void TstHistory::knownPerDay()
{
    WorkDir work;
    ManualWallClock clock;
    AnswerHistory history(&clock);
    const QDate d0(2026, 6, 10);
    auto give = [&](int day, int hour, qint64 nivlet, Verdict verdict, double before,
                    double after) {
        clock.set(d0.addDays(day), QTime(hour, 0));
        history.record(answer(nivlet, 1, verdict, before, after));
    };
    // Card 6 before the period only; the period begins before the log of
    // the others.
    give(-3, 9, 6, Verdict::Right, 0.5, 0.75);
    // Card 1 twice on the first day of its log, known for a few hours.
    give(1, 10, 1, Verdict::Right, 0.5, 0.75);
    give(1, 18, 1, Verdict::Wrong, 0.75, 0.375);
    give(2, 11, 2, Verdict::Wrong, 0.8, 0.4);
    // Card 5 is no longer among the active cards.
    give(2, 12, 5, Verdict::Right, 0.5, 0.75);
    give(3, 9, 1, Verdict::Right, 0.375, 0.6875);
    give(4, 20, 1, Verdict::Right, 0.6875, 0.84375);
    // After the period: undone for every day of it.
    give(6, 8, 2, Verdict::Right, 0.4, 0.7);
    give(6, 9, 2, Verdict::Right, 0.7, 0.85);
    QVERIFY(history.flush());

    // Cards 3 and 4 were never answered: their present rates count.
    const std::vector<Progress::Card> cards = {
        {1, 0.84375}, {2, 0.85}, {3, 0.0}, {4, 0.8}, {6, 0.75}};
    QList<int> known;
    QVERIFY(history.knownPerDay(Progress::Period(d0.addDays(4), 5, berlin), cards, known));
    QCOMPARE(known, QList<int>({3, 3, 2, 2, 3}));
    QVERIFY(history.knownPerDay(Progress::Period(d0.addDays(7), 2, berlin), cards, known));
    QCOMPARE(known, QList<int>({4, 4}));
    // A period long before the log: every card at its first rate.
    QVERIFY(history.knownPerDay(Progress::Period(d0.addDays(-10), 3, berlin), cards, known));
    QCOMPARE(known, QList<int>({2, 2, 2}));
    // Without cards there is nothing to count.
    QVERIFY(history.knownPerDay(Progress::Period(d0.addDays(4), 5, berlin), {}, known));
    QCOMPARE(known, QList<int>({0, 0, 0, 0, 0}));
}

void TstHistory::knownPerDayAcrossTheAutumnChange()
{
    WorkDir work;
    ManualWallClock clock;
    AnswerHistory history(&clock);
    // 23:30 on the 25-hour day: a day counted as 24 hours from its midnight
    // would put it into the next one.
    clock.set(QDate(2026, 10, 25), QTime(23, 30));
    history.record(answer(1, 1, Verdict::Right, 0.5, 0.75));
    clock.set(QDate(2026, 10, 26), QTime(0, 30));
    history.record(answer(2, 1, Verdict::Right, 0.5, 0.75));
    QVERIFY(history.flush());
    QList<int> known;
    QVERIFY(history.knownPerDay(Progress::Period(QDate(2026, 10, 26), 3, berlin),
                                {{1, 0.75}, {2, 0.75}}, known));
    QCOMPARE(known, QList<int>({0, 1, 2}));
}

void TstHistory::aNewNivletWithADeletedNivletsId()
{
    WorkDir work;
    ManualWallClock clock;
    AnswerHistory history(&clock);
    clock.set(QDate(2026, 6, 1), QTime(10, 0));
    history.record(answer(9, 1, Verdict::Right, 0.5, 0.75));
    clock.set(QDate(2026, 6, 2), QTime(10, 0));
    history.nivletsDeleted({9});
    QVERIFY(history.flush());
    // The new nivlet 9 has never been answered and stands at 0.
    QList<int> known;
    QVERIFY(history.knownPerDay(Progress::Period(QDate(2026, 6, 3), 4, berlin), {{9, 0.0}}, known));
    QCOMPARE(known, QList<int>({0, 0, 0, 0}));
    clock.set(QDate(2026, 6, 3), QTime(10, 0));
    history.record(answer(9, 1, Verdict::Right, 0.5, 0.75));
    QVERIFY(history.flush());
    QVERIFY(
        history.knownPerDay(Progress::Period(QDate(2026, 6, 3), 4, berlin), {{9, 0.75}}, known));
    QCOMPARE(known, QList<int>({0, 0, 0, 1}));
}

void TstHistory::knownPerDayOfADeletedBook()
{
    WorkDir work;
    ManualWallClock clock;
    AnswerHistory history(&clock);
    clock.set(QDate(2026, 6, 1), QTime(10, 0));
    history.record(answer(1, 4, Verdict::Right, 0.5, 0.75));
    history.record(answer(2, 4, Verdict::Right, 0.8, 0.9));
    history.record(answer(3, 5, Verdict::Right, 0.5, 0.75));
    clock.set(QDate(2026, 6, 2), QTime(10, 0));
    history.record(answer(1, 4, Verdict::Wrong, 0.75, 0.375));
    clock.set(QDate(2026, 6, 3), QTime(10, 0));
    history.bookDeleted(4, {1, 2});
    QVERIFY(history.flush());
    QList<AnswerHistory::Book> books;
    QVERIFY(history.books(books));
    QCOMPARE(books.size(), 2);
    QCOMPARE(books[1].cardId, 4);
    QList<int> known;
    QVERIFY(history.knownPerDayOfDeleted(Progress::Period(QDate(2026, 6, 4), 5, berlin), books[1],
                                         known));
    QCOMPARE(known, QList<int>({1, 2, 1, 0, 0}));
}

QTEST_MAIN(TstHistory)
#include "tst_history.moc"
