#ifndef RANKSELECTOR_H
#define RANKSELECTOR_H

// Draws a position of a list held in ascending knowledge rate: the positions
// are cut into bands of doubling size, a band is chosen uniformly and then a
// position inside it, so the least-known entries come up far more often.
struct RankSelector
{
    void reset(int n);
    int pick() const;

    int size = 0;
    int bandCount = 1;
};

#endif
