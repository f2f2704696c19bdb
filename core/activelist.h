#ifndef ACTIVELIST_H
#define ACTIVELIST_H

#include "rankselector.h"
#include "recordarena.h"

#include <QList>

#include <memory>

struct Book;
struct Nivlet;

// One load of the active nivlets: their records in the arena's blocks with
// their texts, in ascending knowledge rate as the file gave them, and the
// selector's bands over them. The store hands it out shared and lets go of
// it at the next reload; whoever holds it (a challenge, a puzzle) keeps the
// records alive until they drop it. The list itself never changes once it
// is loaded; its records change only where the program writes the same
// change to the file (a rate), or where a book they name is deleted.
class ActiveList : public std::enable_shared_from_this<ActiveList>
{
public:
    static std::shared_ptr<ActiveList> create();
    ActiveList(const ActiveList &) = delete;
    ActiveList &operator=(const ActiveList &) = delete;

    int size() const { return static_cast<int>(records.size()); }
    bool isEmpty() const { return records.isEmpty(); }
    Nivlet *at(int index) const { return records.at(index); }
    const QList<Nivlet *> &nivlets() const { return records; }
    const RankSelector &selector() const { return bands; }
    // A draw that leans towards the least known (see RankSelector); the list
    // must not be empty.
    Nivlet *randomNivlet() const { return records.at(bands.pick()); }
    // Whether the record is one of this load's.
    bool contains(const Nivlet *nivlet) const { return arena.contains(nivlet); }
    // The first record of that id in list order; null when there is none.
    Nivlet *find(qint64 id) const;
    // The record with a share of the whole list: it lives as long as the
    // pointer handed out does.
    std::shared_ptr<Nivlet> hold(Nivlet *nivlet) const;

    // The load, which only the store makes: room for the rows it expects,
    // each row's values, and the end that sets the bands.
    void reserve(qsizetype count)
    {
        records.reserve(count);
        arena.reserve(count);
    }
    void add(qint64 id, bool active, double knRate, Book *book, const char *question,
             qsizetype questionSize, const char *answer, qsizetype answerSize)
    {
        records.append(
            arena.add(id, active, knRate, book, question, questionSize, answer, answerSize));
    }
    // What the records point at (their books), kept for as long as the list is.
    void keep(std::shared_ptr<const void> owner) { kept = std::move(owner); }
    void finish();
    // The records of a deleted book show none, as a record read afresh would.
    void forgetBook(const Book *book);

private:
    ActiveList() = default;

    std::shared_ptr<const void> kept;
    RecordArena arena;
    QList<Nivlet *> records;
    RankSelector bands;
};

#endif
