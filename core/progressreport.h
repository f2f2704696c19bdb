#ifndef PROGRESSREPORT_H
#define PROGRESSREPORT_H

#include "answerhistory.h"
#include "progress.h"

#include <QList>
#include <QString>

class NivletCore;

// What the progress window shows, gathered from the store and its answer log:
// the active cards of each book by band now, and over the last days the
// answers of each day and the cards known at each day's end, of all books or
// of the one chosen. The books to choose are the store's and, under their
// last names, the deleted ones the log still knows.
class ProgressReport
{
public:
    ProgressReport(NivletCore &store, AnswerHistory &history, const WallClock &clock);

    // One bar of the cards now: all books first, then each book that has
    // active cards, in the store's order.
    struct Shelf
    {
        QString name;
        Progress::Bands bands;
    };
    struct Choice
    {
        QString name;
        // The book's id in the card file, -1 for all books; the log's number
        // of the book, -1 where it has none.
        qint64 cardId;
        AnswerHistory::Book logBook;
        bool deleted;
    };

    // The cards now and the books to choose (reloading the store's active
    // list when it is stale); false, reported, when either could not be read.
    bool load();
    const QList<Shelf> &shelves() const { return now; }
    const QList<Choice> &choices() const { return books; }

    // The days up to today, of all books (choice 0) or one; false, reported,
    // when the log could not be read.
    bool show(int days, int choice);
    const Progress::Period &period() const { return shown; }
    int choice() const { return chosen; }
    const Progress::DayByDay &answers() const { return perDay; }
    const QList<int> &known() const { return knownPerDay; }
    // The active cards of the choice now (none for a deleted book).
    int cardCount() const { return cards; }

    // The numbers of the days shown, one line a day: the date, the answers
    // right, wrong and cheated, all of them, the share right in per cent and
    // the cards known at the day's end.
    QString csv() const;

private:
    QDate today() const;

    NivletCore &store;
    AnswerHistory &history;
    const WallClock &clock;
    QList<Shelf> now;
    QList<Choice> books;
    Progress::Period shown;
    int chosen = 0;
    Progress::DayByDay perDay;
    QList<int> knownPerDay;
    int cards = 0;
};

#endif
