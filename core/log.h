#ifndef LOG_H
#define LOG_H

#include <QString>

// The log "nivlets.log" in the working directory, and the one way the
// program shows an error to its user.
void openLog();
void closeLog();
void logError(const QString &text, bool showBox);
void logError(const char *text, bool showBox);

#endif
