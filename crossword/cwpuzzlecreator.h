#ifndef CWPUZZLECREATOR_H
#define CWPUZZLECREATOR_H

#include <QSet>
#include <QString>

#include <memory>

class ActiveList;
class NivletCore;
struct CWPuzzle;
struct Nivlet;

struct CWCell
{
    enum State { CellEmpty = 0, CellBlocked = 1, CellLetter = 2 };

    int state = CellEmpty;
    QChar letter;
};

// Lays answers of the active nivlets into an arrow-word grid: a first word in
// the middle row, then words drawn at random, each where it shares the most
// letters with the grid, until ten draws in a row find no place. Every word
// keeps the cell in front of it free for its clue and the cell behind it
// free, so that words never run into each other.
class CWPuzzleCreator
{
public:
    CWPuzzleCreator();
    ~CWPuzzleCreator();

    CWPuzzleCreator(const CWPuzzleCreator &) = delete;
    CWPuzzleCreator &operator=(const CWPuzzleCreator &) = delete;

    // Laid from the store's current active list, which the puzzle holds;
    // null when no puzzle could be built, which has been reported already.
    std::unique_ptr<CWPuzzle> create(NivletCore *core, int width, int height);

    // The steps of create, each usable on its own on a grid that
    // allocateGrid has made.
    static int firstWordMinimum(int attempt);
    void allocateGrid(int width, int height);
    void freeGrid();
    Nivlet *pickCandidate();
    bool placeFirstWord(Nivlet *nivlet, int minimumLength);
    bool placeCrossingWord(Nivlet *nivlet);
    bool fits(const QString &answer, int direction, int x, int y, int &crossings) const;
    void placeWord(Nivlet *nivlet, const QString &answer, int direction, int x, int y);
    CWCell &cell(int x, int y) const { return cells[x + y * width]; }

    static const char notEnoughNivlets[];
    static const char noFit[];

    // The list the candidates are drawn from.
    std::shared_ptr<const ActiveList> list;
    CWPuzzle *puzzle;
    CWCell *cells;
    int width;
    int height;
    QSet<qint64> triedIds;
    int bestDirection;
    int bestX;
    int bestY;
    int bestCrossings;

private:
    void evaluate(const QString &answer, int direction, int x, int y);
    std::unique_ptr<CWPuzzle> fail(const char *message);
};

#endif
