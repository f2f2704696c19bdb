#include "cwpuzzle.h"

CWPuzzle::~CWPuzzle()
{
    qDeleteAll(entries);
    entries.clear();
}
