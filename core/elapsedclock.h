#ifndef ELAPSEDCLOCK_H
#define ELAPSEDCLOCK_H

#include <QDateTime>
#include <QtGlobal>

// A monotonic time source in milliseconds from an arbitrary start. The program
// reads the system's steady clock; whoever needs time to pass at will (a test
// of the timer) hands in a source of its own.
class MonotonicClock
{
public:
    virtual ~MonotonicClock();
    virtual qint64 msecs() const;

    static const MonotonicClock *system();
};

// The date and time of the user's calendar, for what is meant by the clock
// on the wall ("until tomorrow morning"). The program reads the system's
// clock in its local time; a test hands in one that it sets by hand, in a
// time zone of its choosing.
class WallClock
{
public:
    virtual ~WallClock();
    virtual QDateTime now() const;

    static const WallClock *system();
};

// The time since its last start, read from a monotonic source: unlike a time
// of day it neither wraps at midnight nor jumps when the clock is set.
class ElapsedClock
{
public:
    explicit ElapsedClock(const MonotonicClock *clock = MonotonicClock::system());

    void setSource(const MonotonicClock *source);
    void start();
    void invalidate();
    bool isValid() const { return started; }
    qint64 elapsed() const;

private:
    const MonotonicClock *source;
    qint64 startedAt;
    bool started;
};

#endif
