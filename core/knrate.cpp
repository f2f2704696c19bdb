#include "knrate.h"

#include <cmath>
#include <random>

namespace {
std::minstd_rand &generator()
{
    static std::minstd_rand gen;
    return gen;
}
} // namespace

double knRateAfterCorrect(double rate)
{
    return rate * 0.5 + 0.5;
}

double knRateAfterIncorrect(double rate)
{
    return rate * 0.5;
}

QString knRateText(double rate)
{
    const int percent = static_cast<int>(saneKnRate(rate) * 100.0 + 0.5);
    return QString::number(percent) + QLatin1Char('%');
}

double saneKnRate(double rate)
{
    if (std::isnan(rate) || rate < 0.0)
        return 0.0;
    if (rate > 1.0)
        return 1.0;
    return rate;
}

void seedRandom(unsigned int seed)
{
    generator().seed(seed);
}

int randomDraw()
{
    // minstd yields 1 ... 2^31 - 2; its high bits are the well-mixed ones.
    return static_cast<int>((generator()() >> 15) & 0x7fff);
}

int randomIndex(int n)
{
    if (n <= 1)
        return 0;
    const int high = randomDraw();
    const int low = randomDraw();
    const int v = high * 32768 + low;
    return v % n;
}
