#ifndef WINDOWCHECKS_H
#define WINDOWCHECKS_H

#include <QPalette>
#include <QString>
#include <QStringList>

class QWidget;

// Checks that hold for every window of the program, run on a window that is
// shown. Each returns what it found wrong, one line a fault naming the part
// of the window, so an empty list is a pass.
namespace WindowChecks {

// Where Debian's qt6ct keeps its colour schemes; "darker" is the dark one.
QString darkerSchemePath();
// A scheme file of qt6ct made into a palette as qt6ct makes it: the colours
// of the active, the disabled and the inactive group in the order of the
// palette's colour roles. False when the file cannot be read.
bool schemePalette(const QString &path, QPalette *palette);

// Every text against the background it is drawn on, at least 4.5:1. The
// background is read from the window's own pixels, the text's colour from
// the widget's palette or the colours its text names. Disabled controls are
// left out (they need not be read), disabled text boxes are not.
QStringList lowContrast(QWidget *window);
// Every label's, button's and field's text within the size it is shown at
// (its size hint, a field's three digits or its text, a table header's
// sections), and every part within the window.
QStringList cutOff(QWidget *window);
// No two parts of the same container on top of each other.
QStringList overlapping(QWidget *window);
// No accelerator letter (the "&" letters) used twice in the window.
QStringList duplicateAccelerators(QWidget *window);
// Tab goes from each part to one to its right in the same row or to one in a
// lower row.
QStringList tabOrderAgainstLayout(QWidget *window);
// Every part that takes the keyboard has a name for a screen reader, and
// every button and label reads as it looks: its text without the markup and
// the "&".
QStringList unnamedForScreenReaders(QWidget *window);

// The part's class and its name or text, for the fault lines.
QString describe(const QWidget *widget);

} // namespace WindowChecks

#endif
