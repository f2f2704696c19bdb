#ifndef STARTFAILURE_H
#define STARTFAILURE_H

// The launcher's own failures (no data folder, no display) come before the
// program runs, and a start from the menu or the session's autostart shows
// no standard error. The launcher hands them to the program started as
// "nivlets --show-start-failure REASON", which shows them in a box, or
// without a display through the desktop's notification service, and ends
// with exit code 1.
bool isStartFailureCall(int argc, char *argv[]);
int showStartFailure(int argc, char *argv[]);

#endif
