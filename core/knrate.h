#ifndef KNRATE_H
#define KNRATE_H

#include <QString>

double knRateAfterCorrect(double rate);
double knRateAfterIncorrect(double rate);
QString knRateText(double rate);

// A rate as read from a file that may have been edited by hand: anything
// outside 0 ... 1 (or not a number) is brought into that range.
double saneKnRate(double rate);

// The one random generator of the program. Each draw is in 0 ... 32767.
void seedRandom(unsigned int seed);
int randomDraw();
int randomIndex(int n);

#endif
