#ifndef PROGRAMICON_H
#define PROGRAMICON_H

#include <QIcon>

// The program's icon in every size it is installed in, so that a tray, a
// panel or a task bar of any size and pixel density draws a sharp one.
QIcon programIcon();

#endif
