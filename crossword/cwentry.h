#ifndef CWENTRY_H
#define CWENTRY_H

#include <QString>

struct Nivlet;

// One word laid into a crossword: an answer of a nivlet of the store's active
// list, whose question is the word's clue.
struct CWEntry
{
    enum Direction { Horizontal = 0, Vertical = 1 };

    CWEntry(Nivlet *source, const QString &word, int wordDirection, int column, int row)
        : nivlet(source), answer(word), direction(wordDirection), x(column), y(row), cheated(false)
    {
    }

    Nivlet *nivlet;
    QString answer;
    int direction;
    int x;
    int y;
    bool cheated;
};

#endif
