#include "progressreport.h"

#include "book.h"
#include "nivlet.h"
#include "nivletcore.h"

#include <QHash>
#include <QTextStream>

ProgressReport::ProgressReport(NivletCore &cardStore, AnswerHistory &log,
                               const WallClock &wallClock)
    : store(cardStore), history(log), clock(wallClock),
      shown(wallClock.now().date(), 1, wallClock.now().timeZone())
{
}

QDate ProgressReport::today() const
{
    return clock.now().date();
}

bool ProgressReport::load()
{
    now.clear();
    books.clear();
    // The report shows what the next challenge would draw from.
    if (store.activeListStale() && !store.reloadActiveNivlets())
        return false;

    now.append({QStringLiteral("All books"), {}});
    QHash<const Book *, qsizetype> shelfOf;
    for (const Book *book : store.books())
        shelfOf.insert(book, -1);
    QList<Shelf> perBook;
    const std::shared_ptr<const ActiveList> list = store.activeList();
    for (const Nivlet *nivlet : list->nivlets()) {
        now.first().bands.add(nivlet->knRate);
        auto shelf = shelfOf.find(nivlet->book);
        if (shelf == shelfOf.end())
            continue;
        if (*shelf < 0) {
            *shelf = perBook.size();
            perBook.append({nivlet->book->name, {}});
        }
        perBook[*shelf].bands.add(nivlet->knRate);
    }
    for (const Book *book : store.books()) {
        const qsizetype shelf = shelfOf.value(book, -1);
        if (shelf >= 0)
            now.append(perBook.at(shelf));
    }

    QList<AnswerHistory::Book> logged;
    if (!history.books(logged))
        return false;
    const AnswerHistory::Book none{-1, -1, QString(), -1};
    books.append({QStringLiteral("All books"), -1, none, false});
    QHash<qint64, AnswerHistory::Book> present;
    for (const AnswerHistory::Book &book : std::as_const(logged)) {
        if (book.deleted < 0)
            present.insert(book.cardId, book);
    }
    for (const Book *book : store.books()) {
        books.append({book->name, book->id, present.value(book->id, none), false});
        present.remove(book->id);
    }
    // Deleted books, and books the card file lost without the program
    // (edited by hand), under the names the log kept.
    for (const AnswerHistory::Book &book : std::as_const(logged)) {
        if (book.deleted >= 0 || present.contains(book.cardId))
            books.append({QStringLiteral("%1 (deleted)").arg(book.name), book.cardId, book, true});
    }
    return true;
}

bool ProgressReport::show(int days, int choice)
{
    chosen = qBound(0, choice, static_cast<int>(books.size()) - 1);
    shown = Progress::Period(today(), days, clock.now().timeZone());
    perDay = Progress::DayByDay();
    knownPerDay.clear();
    cards = 0;
    if (books.isEmpty())
        return true;
    const Choice &book = books.at(chosen);
    if (book.deleted)
        return history.dayByDay(shown, book.logBook.key, perDay) &&
               history.knownPerDayOfDeleted(shown, book.logBook, knownPerDay);

    if (book.cardId >= 0 && book.logBook.key < 0) {
        perDay.days.resize(shown.days());
    } else if (!history.dayByDay(shown, book.logBook.key, perDay)) {
        return false;
    }
    const std::shared_ptr<const ActiveList> list = store.activeList();
    std::vector<Progress::Card> active;
    active.reserve(static_cast<std::size_t>(list->size()));
    for (const Nivlet *nivlet : list->nivlets()) {
        if (book.cardId < 0 || (nivlet->book && nivlet->book->id == book.cardId))
            active.push_back({nivlet->id, nivlet->knRate});
    }
    cards = static_cast<int>(active.size());
    return history.knownPerDay(shown, active, knownPerDay);
}

QString ProgressReport::csv() const
{
    QString text;
    QTextStream out(&text);
    out << "date,right,wrong,cheated,answers,share right (%),known\n";
    for (int day = 0; day < perDay.days.size(); ++day) {
        const Progress::DayCount &count = perDay.days.at(day);
        out << shown.date(day).toString(Qt::ISODate) << ',' << count.right << ',' << count.wrong
            << ',' << count.cheated << ',' << count.total() << ',';
        if (count.total() > 0)
            out << QString::number(100.0 * count.right / count.total(), 'f', 1);
        out << ',' << (day < knownPerDay.size() ? knownPerDay.at(day) : 0) << '\n';
    }
    return text;
}
