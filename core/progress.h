#ifndef PROGRESS_H
#define PROGRESS_H

#include <QDate>
#include <QList>
#include <QTimeZone>

#include <array>
#include <vector>

// What the progress window shows, reckoned from the cards and the answer log:
// the cards by how well they are known, the answers of each day and the cards
// known at the end of each day.
namespace Progress {

// A card counts as known from this rate on.
constexpr double knownRate = 0.75;

inline bool isKnown(double rate)
{
    return rate >= knownRate;
}

// The quarter of the rate scale a rate lies in: below 25 %, 25 to 50 %, 50 to
// 75 %, 75 % and more.
int bandOf(double rate);
constexpr int bandCount = 4;

// The cards of one book, or of all, by band, and their average rate.
class Bands
{
public:
    void add(double rate);
    int count(int band) const { return counts[static_cast<std::size_t>(band)]; }
    int total() const;
    // 0 without cards.
    double averageRate() const;

private:
    std::array<int, bandCount> counts{};
    double rateSum = 0.0;
};

// Days of the calendar in one time zone, each from its midnight to the next:
// 23 or 25 hours long where daylight-saving time begins or ends.
class Period
{
public:
    // The days up to and including last.
    Period(const QDate &last, int days, const QTimeZone &zone);

    int days() const { return static_cast<int>(bounds.size()) - 1; }
    QDate date(int day) const { return first.addDays(day); }
    // Milliseconds since 1970 UTC of the day's beginning and of its end.
    qint64 start(int day) const { return bounds[static_cast<std::size_t>(day)]; }
    qint64 end(int day) const { return bounds[static_cast<std::size_t>(day) + 1]; }
    qint64 begin() const { return bounds.front(); }
    qint64 finish() const { return bounds.back(); }
    // The day a moment falls in: -1 before the period, days() after it.
    int dayOf(qint64 msecs) const;
    // The same number of days, ending the day before this period begins.
    Period before() const;
    const QTimeZone &timeZone() const { return zone; }

private:
    QDate first;
    QTimeZone zone;
    std::vector<qint64> bounds;
};

struct DayCount
{
    int right = 0;
    int wrong = 0;
    int cheated = 0;
    int total() const { return right + wrong + cheated; }
};

struct DayByDay
{
    QList<DayCount> days;
    // Answers in the whole period, and how many were right.
    int answers = 0;
    int right = 0;
    // The last day's answers, and the days in a row with at least one answer
    // up to it: a last day without answers yet does not break the row, which
    // then ends the day before.
    int today = 0;
    int streak = 0;
};

// One active card as it stands now.
struct Card
{
    qint64 id;
    double rate;
};

} // namespace Progress

#endif
