#ifndef TRAYWAIT_H
#define TRAYWAIT_H

#include <QtGlobal>

#include <functional>

// At login the session starts its autostart entries and its panel at about the
// same time, so a program started into the tray may come up before the tray
// does. waitForSystemTray() runs the event loop until a tray is there or the
// limit has passed, and shows nothing meanwhile.
class TrayWait
{
public:
    // Milliseconds on a steady clock.
    using Clock = std::function<qint64()>;
    using Probe = std::function<bool()>;

    static constexpr int defaultLimit = 60000;
    static constexpr int defaultPollInterval = 250;

    TrayWait();

    // True as soon as the probe reports a tray, false once the limit has
    // passed without one. The probe is asked at once and then after every
    // poll interval.
    bool waitForSystemTray(int limit = defaultLimit);

    Clock clock;
    Probe probe;
    int pollInterval;
};

#endif
