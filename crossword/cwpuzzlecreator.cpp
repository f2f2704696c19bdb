#include "cwpuzzlecreator.h"

#include "activelist.h"
#include "cwpuzzle.h"
#include "log.h"
#include "nivlet.h"
#include "nivletcore.h"

const char CWPuzzleCreator::notEnoughNivlets[] =
    "Could not create cross-word puzzle: Not enough (active) nivlets.";
const char CWPuzzleCreator::noFit[] =
    "Could not create cross-word puzzle: Maybe there are not enough (active) nivlets, or answers "
    "for nivlets are too long to fit this cross-word puzzle size.";

namespace {
const int firstWordAttempts = 15;
const int candidateDraws = 20;
const int failuresInARow = 10;
} // namespace

CWPuzzleCreator::CWPuzzleCreator()
    : puzzle(nullptr), cells(nullptr), width(0), height(0), bestDirection(0), bestX(0), bestY(0),
      bestCrossings(0)
{
}

CWPuzzleCreator::~CWPuzzleCreator()
{
    freeGrid();
    delete puzzle;
}

int CWPuzzleCreator::firstWordMinimum(int attempt)
{
    // Long first words give the later ones more letters to cross; the demand
    // drops as attempts fail, so short answers still make a puzzle.
    return attempt > 9 ? 2 : (9 - attempt) / 2 + 3;
}

void CWPuzzleCreator::allocateGrid(int gridWidth, int gridHeight)
{
    freeGrid();
    delete puzzle;
    width = gridWidth;
    height = gridHeight;
    puzzle = new CWPuzzle(width, height);
    cells = new CWCell[width * height];
}

void CWPuzzleCreator::freeGrid()
{
    delete[] cells;
    cells = nullptr;
    triedIds.clear();
}

std::unique_ptr<CWPuzzle> CWPuzzleCreator::fail(const char *message)
{
    logError(message, true);
    freeGrid();
    delete puzzle;
    puzzle = nullptr;
    return nullptr;
}

std::unique_ptr<CWPuzzle> CWPuzzleCreator::create(NivletCore *store, int gridWidth, int gridHeight)
{
    list = store->activeList();
    if (list->size() < 4) {
        logError(notEnoughNivlets, true);
        return nullptr;
    }
    allocateGrid(gridWidth, gridHeight);

    for (int attempt = 0;; ++attempt) {
        if (attempt == firstWordAttempts)
            return fail(noFit);
        Nivlet *candidate = pickCandidate();
        if (!candidate)
            return fail(notEnoughNivlets);
        if (placeFirstWord(candidate, firstWordMinimum(attempt)))
            break;
    }

    int failures = 0;
    while (Nivlet *candidate = pickCandidate()) {
        if (placeCrossingWord(candidate)) {
            failures = 0;
        } else if (++failures == failuresInARow) {
            break;
        }
    }

    freeGrid();
    if (puzzle->entries.size() < 2)
        return fail(noFit);
    std::unique_ptr<CWPuzzle> result(puzzle);
    puzzle = nullptr;
    result->records = list;
    return result;
}

Nivlet *CWPuzzleCreator::pickCandidate()
{
    const int limit = 2 * list->size() / 3;
    if (triedIds.size() >= limit)
        return nullptr;
    for (int draw = 0; draw < candidateDraws; ++draw) {
        Nivlet *nivlet = list->randomNivlet();
        if (!triedIds.contains(nivlet->id))
            return nivlet;
    }
    return nullptr;
}

bool CWPuzzleCreator::placeFirstWord(Nivlet *nivlet, int minimumLength)
{
    const QString *answer = nivlet->pickAnswer();
    // A hand-edited answer text may give no answer at all; such a nivlet is
    // tried like one whose answer does not fit, so it is not drawn again.
    if (answer && answer->length() < minimumLength)
        return false;
    triedIds.insert(nivlet->id);
    if (!answer || answer->length() >= width)
        return false;
    placeWord(nivlet, *answer, CWEntry::Horizontal, 1, height / 2);
    return true;
}

bool CWPuzzleCreator::placeCrossingWord(Nivlet *nivlet)
{
    triedIds.insert(nivlet->id);
    const QString *answer = nivlet->pickAnswer();
    bestCrossings = 0;
    if (!answer)
        return false;
    const int length = static_cast<int>(answer->length());
    if (length < width) {
        for (int y = 1; y < height; ++y) {
            for (int x = 1; x <= width - length; ++x)
                evaluate(*answer, CWEntry::Horizontal, x, y);
        }
    }
    if (length < height) {
        for (int y = 1; y <= height - length; ++y) {
            for (int x = 1; x < width; ++x)
                evaluate(*answer, CWEntry::Vertical, x, y);
        }
    }
    if (bestCrossings == 0)
        return false;
    placeWord(nivlet, *answer, bestDirection, bestX, bestY);
    return true;
}

void CWPuzzleCreator::evaluate(const QString &answer, int direction, int x, int y)
{
    int crossings = 0;
    // A word lying wholly on letters already in the grid would add nothing.
    if (!fits(answer, direction, x, y, crossings) || crossings == answer.length() ||
        crossings <= bestCrossings)
        return;
    bestDirection = direction;
    bestX = x;
    bestY = y;
    bestCrossings = crossings;
}

bool CWPuzzleCreator::fits(const QString &answer, int direction, int x, int y, int &crossings) const
{
    crossings = 0;
    if (x <= 0 || y <= 0)
        return false;
    const int length = static_cast<int>(answer.length());
    const int dx = direction == CWEntry::Horizontal ? 1 : 0;
    const int dy = 1 - dx;
    const int end = direction == CWEntry::Horizontal ? x + length : y + length;
    const int limit = direction == CWEntry::Horizontal ? width : height;
    if (end > limit)
        return false;
    if (cell(x - dx, y - dy).state == CWCell::CellLetter)
        return false;
    if (end < limit && cell(x + dx * length, y + dy * length).state == CWCell::CellLetter)
        return false;
    for (int i = 0; i < length; ++i) {
        const CWCell &c = cell(x + dx * i, y + dy * i);
        if (c.state == CWCell::CellBlocked)
            return false;
        if (c.state == CWCell::CellLetter) {
            if (c.letter != answer.at(i))
                return false;
            ++crossings;
        }
    }
    return true;
}

void CWPuzzleCreator::placeWord(Nivlet *nivlet, const QString &answer, int direction, int x, int y)
{
    puzzle->entries.append(new CWEntry(nivlet, answer, direction, x, y));
    const int length = static_cast<int>(answer.length());
    const int dx = direction == CWEntry::Horizontal ? 1 : 0;
    const int dy = 1 - dx;
    cell(x - dx, y - dy).state = CWCell::CellBlocked;
    for (int i = 0; i < length; ++i) {
        CWCell &c = cell(x + dx * i, y + dy * i);
        c.state = CWCell::CellLetter;
        c.letter = answer.at(i);
    }
    const int end = direction == CWEntry::Horizontal ? x + length : y + length;
    const int limit = direction == CWEntry::Horizontal ? width : height;
    if (end < limit)
        cell(x + dx * length, y + dy * length).state = CWCell::CellBlocked;
}
