#include "rankselector.h"

#include "knrate.h"

#include <QtGlobal>

void RankSelector::reset(int n)
{
    size = n;
    bandCount = 1;
    if (n <= 2)
        return;
    qint64 e = 4;
    int k = 1;
    do {
        e *= 2;
        ++k;
    } while (e - 1 <= n);
    bandCount = k;
}

int RankSelector::pick() const
{
    const int a = randomIndex(bandCount);
    const int first = (1 << a) - 1;
    if (a < bandCount - 1)
        return first + randomIndex(1 << a);
    return first + randomIndex(size - (1 << a) + 1);
}
