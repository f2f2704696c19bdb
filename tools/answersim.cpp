#include "answersim.h"

#include "knrate.h"
#include "rankselector.h"
#include "sqlstatement.h"

#include <QDateTime>
#include <QList>

#include <algorithm>
#include <numeric>
#include <vector>

namespace {

using Verdict = AnswerHistory::Verdict;
using Source = AnswerHistory::Source;

struct Card
{
    qint64 id;
    qint64 book;
    QString bookName;
    double rate;
};

// What the learner sits down for: a challenge series asked for, a series
// the timer started, or the check of a crossword, whose entries are all
// judged in the same moment.
enum class Session { Challenges, Automatic, Crossword };

class Learner
{
public:
    Learner(std::vector<Card> &deck, AnswerHistory &log, const AnswerPlan &days)
        : cards(deck), history(log), plan(days), random(days.seed)
    {
        // The program's own draw, from its own generator seeded for the plan.
        seedRandom(static_cast<unsigned int>(days.seed));
    }

    bool run()
    {
        const QList<int> perDay = answersPerDay();
        for (int day = 0; day < plan.days; ++day) {
            if (perDay[day] > 0 &&
                !answerDay(plan.lastDay.addDays(day - plan.days + 1), perDay[day]))
                return false;
        }
        return write();
    }

private:
    // About one day in seven without answers, but not the last; the others
    // vary around the mean, and add up to the plan's number.
    QList<int> answersPerDay()
    {
        std::vector<double> weight(static_cast<std::size_t>(plan.days));
        for (double &w : weight)
            w = random.chance(0.15) ? 0.0 : 0.3 + 1.4 * random.unit();
        weight.back() = std::max(weight.back(), 0.5);
        const double total = std::accumulate(weight.cbegin(), weight.cend(), 0.0);
        QList<int> result;
        double sum = 0.0;
        qint64 given = 0;
        for (double w : weight) {
            sum += w;
            const qint64 upTo =
                total > 0.0 ? static_cast<qint64>(plan.answers * (sum / total) + 0.5) : 0;
            result.append(static_cast<int>(upTo - given));
            given = upTo;
        }
        return result;
    }

    bool answerDay(const QDate &date, int count)
    {
        // Drawn as the program draws: the list in ascending rate, reloaded
        // once a day here where the program reloads after each answer.
        order.resize(cards.size());
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(),
                         [this](int a, int b) { return cards[a].rate < cards[b].rate; });
        selector.reset(static_cast<int>(order.size()));

        // A day that went on past midnight delays the next one: the answers
        // come in the order of their times.
        time = std::max(time, QDateTime(date, QTime(7, 0), plan.zone).toMSecsSinceEpoch());
        const qint64 evening = QDateTime(date, QTime(22, 30), plan.zone).toMSecsSinceEpoch();
        while (count > 0) {
            // Sessions spread over the waking hours, never overlapping.
            const qint64 sessionsLeft = std::max(1, count / 15);
            const qint64 room = std::max<qint64>(evening - time, 0);
            time += static_cast<qint64>(random.unit() * 2.0 * static_cast<double>(room) /
                                        static_cast<double>(sessionsLeft + 1));
            const double kind = random.unit();
            const Session session = kind < 0.15   ? Session::Crossword
                                    : kind < 0.45 ? Session::Automatic
                                                  : Session::Challenges;
            const int size = session == Session::Crossword   ? random.range(12, 30)
                             : session == Session::Automatic ? random.range(1, 5)
                                                             : random.range(5, 40);
            const int n = std::min(size, count);
            count -= n;
            if (session == Session::Crossword)
                checkCrossword(n);
            else
                answerSeries(n, session == Session::Automatic);
            time += 60 * 1000;
        }
        return true;
    }

    void answerSeries(int n, bool automatic)
    {
        for (int i = 0; i < n; ++i) {
            Card &card = draw();
            const bool right = random.chance(0.3 + 0.65 * card.rate);
            give(time, card, right ? Verdict::Right : Verdict::Wrong,
                 automatic ? Source::AutomaticChallenge : Source::Challenge);
            time += random.range(4, 25) * 1000;
        }
    }

    void checkCrossword(int n)
    {
        // A solving takes minutes; its entries are judged all at once.
        time += random.range(3, 15) * 60 * 1000;
        std::vector<int> laid;
        for (int tries = 0; static_cast<int>(laid.size()) < n && tries < 4 * n; ++tries) {
            const int index = order[static_cast<std::size_t>(selector.pick())];
            if (std::find(laid.cbegin(), laid.cend(), index) == laid.cend())
                laid.push_back(index);
        }
        for (int index : laid) {
            Card &card = cards[static_cast<std::size_t>(index)];
            const Verdict verdict = random.chance(0.08)                      ? Verdict::Cheated
                                    : random.chance(0.25 + 0.65 * card.rate) ? Verdict::Right
                                                                             : Verdict::Wrong;
            give(time, card, verdict, Source::Crossword);
        }
    }

    Card &draw() { return cards[static_cast<std::size_t>(order[selector.pick()])]; }

    void give(qint64 moment, Card &card, Verdict verdict, Source source)
    {
        const double after = verdict == Verdict::Right ? knRateAfterCorrect(card.rate)
                                                       : knRateAfterIncorrect(card.rate);
        times.append(moment);
        answers.append({card.id, card.book, card.bookName, verdict, source, card.rate, after});
        card.rate = after;
    }

    // In batches: one transaction for a million answers would hold them all
    // in the page cache of a single connection.
    bool write()
    {
        constexpr qsizetype batch = 20000;
        for (qsizetype from = 0; from < answers.size(); from += batch) {
            if (!history.recordAt(times.mid(from, batch), answers.mid(from, batch)))
                return false;
        }
        return true;
    }

    std::vector<Card> &cards;
    AnswerHistory &history;
    const AnswerPlan &plan;
    Random random;
    RankSelector selector;
    std::vector<int> order;
    qint64 time = 0;
    QList<qint64> times;
    QList<AnswerHistory::Answer> answers;
};

bool failed(const SqlStatement &stmt, std::string &error)
{
    error = stmt.errorMessage().toStdString();
    return false;
}

} // namespace

bool simulateAnswers(sqlite3 *db, AnswerHistory &history, const AnswerPlan &plan,
                     std::string &error)
{
    std::vector<Card> cards;
    SqlStatement read(db, "SELECT m.id, m.book_id, b.name, m.kn_rate FROM nivlet m, book b "
                          "WHERE m.book_id = b.id AND m.active = 1 AND b.active = 1 ORDER BY m.id");
    if (!read)
        return failed(read, error);
    while (read.next())
        cards.push_back({read.columnInt64(0), read.columnInt64(1), read.columnText(2),
                         saneKnRate(read.columnDouble(3))});
    if (read.failed())
        return failed(read, error);
    if (cards.empty())
        return true;

    Learner learner(cards, history, plan);
    if (!learner.run()) {
        error = "the answer history could not be written";
        return false;
    }
    SqlStatement update(db, "UPDATE nivlet SET kn_rate = ? WHERE id = ?");
    if (!update)
        return failed(update, error);
    for (const Card &card : cards) {
        update.bindDouble(1, card.rate);
        update.bindInt64(2, card.id);
        if (!update.execute())
            return failed(update, error);
        update.reset();
    }
    return true;
}
