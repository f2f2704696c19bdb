#ifndef OPTIONS_H
#define OPTIONS_H

// The defaults only matter when the options table has no row: a record is
// then handed out without being read, and it must still hold valid values.
struct Options
{
    bool autoCh = false;
    int autoChInterval = 15 * 60;
    bool puzzleAffectsRates = true;
};

#endif
