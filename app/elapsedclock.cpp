#include "elapsedclock.h"

#include <chrono>

MonotonicClock::~MonotonicClock() = default;

qint64 MonotonicClock::msecs() const
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

const MonotonicClock *MonotonicClock::system()
{
    static const MonotonicClock clock;
    return &clock;
}

WallClock::~WallClock() = default;

QDateTime WallClock::now() const
{
    return QDateTime::currentDateTime();
}

const WallClock *WallClock::system()
{
    static const WallClock clock;
    return &clock;
}

ElapsedClock::ElapsedClock(const MonotonicClock *clock)
    : source(clock), startedAt(0), started(false)
{
}

void ElapsedClock::setSource(const MonotonicClock *newSource)
{
    // Times of two sources have nothing in common: a running clock starts over.
    source = newSource;
    if (started)
        start();
}

void ElapsedClock::start()
{
    startedAt = source->msecs();
    started = true;
}

void ElapsedClock::invalidate()
{
    started = false;
}

qint64 ElapsedClock::elapsed() const
{
    return started ? source->msecs() - startedAt : 0;
}
