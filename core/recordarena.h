#ifndef RECORDARENA_H
#define RECORDARENA_H

#include "nivlet.h"
#include "stringpool.h"

#include <vector>

// The records of one load of the active list. They are built in a few large
// blocks instead of one allocation each, their texts in a StringPool, and
// they are destroyed together by clear() or by the destructor, when the
// last holder of their ActiveList lets go of it. A record of the arena is
// never deleted on its own.
class RecordArena
{
public:
    RecordArena() = default;
    ~RecordArena();
    RecordArena(const RecordArena &) = delete;
    RecordArena &operator=(const RecordArena &) = delete;

    // Room for this many records in one block before the next block is taken.
    void reserve(qsizetype count);

    // A record from a row's values; a null text is a NULL column and reads
    // as an empty string, as DBHandler::columnText gives it.
    Nivlet *add(qint64 id, bool active, double knRate, Book *book, const char *question,
                qsizetype questionSize, const char *answer, qsizetype answerSize);

    // Whether the record is one of the arena's.
    bool contains(const Nivlet *record) const;

private:
    void clear();

    struct Block
    {
        Nivlet *records;
        qsizetype used;
        qsizetype capacity;
    };

    QString text(const char *utf8, qsizetype size, bool *ascii);
    void parseAsciiAnswers(const char *utf8, qsizetype size, const QString &answer,
                           QStringList &answers);

    std::vector<Block> blocks;
    qsizetype nextCapacity = 0;
    StringPool strings;
};

#endif
