#ifndef DESKTOPACTIVITY_H
#define DESKTOPACTIVITY_H

#include <QtGlobal>

#include <optional>

// How long the keyboard and the mouse have been left alone, on the whole
// desktop, in milliseconds; nothing where the desktop does not tell.
class IdleTime
{
public:
    virtual ~IdleTime() = default;
    virtual std::optional<qint64> msecs() const = 0;
};

// Whether the window the user works in belongs to another program and fills
// the screen: a presentation, a film, a game.
class FullScreenTest
{
public:
    virtual ~FullScreenTest() = default;
    virtual bool otherWindowFullScreen() const = 0;
};

#endif
