#ifndef CWPUZZLE_H
#define CWPUZZLE_H

#include "cwentry.h"

#include <QList>

#include <memory>

class ActiveList;

// A finished crossword: its size and the words in the order they were laid,
// the first always the horizontal one in the middle row.
struct CWPuzzle
{
    CWPuzzle(int columns, int rows) : width(columns), height(rows) {}
    ~CWPuzzle();

    CWPuzzle(const CWPuzzle &) = delete;
    CWPuzzle &operator=(const CWPuzzle &) = delete;

    QList<CWEntry *> entries;
    int width;
    int height;
    // The list whose records the entries point at, held for as long as the
    // puzzle is; none for a puzzle whose records its maker keeps.
    std::shared_ptr<const ActiveList> records;
};

#endif
