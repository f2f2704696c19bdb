#ifndef LOG_H
#define LOG_H

#include <QString>

// The log "nivlets.log" in the working directory, and the one way the
// program shows an error to its user.
void openLog();
void closeLog();
// Shows an error text to the user. The core has no windows of its own: the
// program installs a presenter that opens a message box; without one the
// text goes to standard error, which is what the command-line tools want.
using ErrorPresenter = void (*)(const QString &text);
void setErrorPresenter(ErrorPresenter presenter);

void logError(const QString &text, bool showBox);
void logError(const char *text, bool showBox);

#endif
