#ifndef CWPUZZLE_H
#define CWPUZZLE_H

#include "cwentry.h"

#include <QList>

// A finished crossword: its size and the words in the order they were laid,
// the first always the horizontal one in the middle row.
struct CWPuzzle
{
    CWPuzzle(int width, int height) : width(width), height(height) {}
    ~CWPuzzle();

    CWPuzzle(const CWPuzzle &) = delete;
    CWPuzzle &operator=(const CWPuzzle &) = delete;

    QList<CWEntry *> entries;
    int width;
    int height;
};

#endif
