#include "progress.h"

#include <algorithm>

namespace Progress {

int bandOf(double rate)
{
    if (rate < 0.25)
        return 0;
    if (rate < 0.5)
        return 1;
    if (rate < knownRate)
        return 2;
    return 3;
}

void Bands::add(double rate)
{
    ++counts[static_cast<std::size_t>(bandOf(rate))];
    rateSum += rate;
}

int Bands::total() const
{
    int sum = 0;
    for (int c : counts)
        sum += c;
    return sum;
}

double Bands::averageRate() const
{
    const int n = total();
    return n > 0 ? rateSum / n : 0.0;
}

Period::Period(const QDate &last, int days, const QTimeZone &timeZone)
    : first(last.addDays(1 - std::max(days, 1))), zone(timeZone)
{
    const int n = std::max(days, 1);
    bounds.reserve(static_cast<std::size_t>(n) + 1);
    // A midnight that daylight-saving time skips begins its day at the first
    // moment that exists.
    for (int i = 0; i <= n; ++i)
        bounds.push_back(first.addDays(i).startOfDay(zone).toMSecsSinceEpoch());
}

int Period::dayOf(qint64 msecs) const
{
    const auto after = std::upper_bound(bounds.cbegin(), bounds.cend(), msecs);
    return static_cast<int>(after - bounds.cbegin()) - 1;
}

Period Period::before() const
{
    return Period(first.addDays(-1), days(), zone);
}

} // namespace Progress
