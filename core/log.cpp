#include "log.h"

#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <cstdio>

namespace {
QFile *logFile = nullptr;
QTextStream *logStream = nullptr;
ErrorPresenter presenter = nullptr;
} // namespace

void openLog()
{
    closeLog();
    const QString name = QStringLiteral("nivlets.log");
    logFile = new QFile(name);
    // A FIFO or device under the log's name would block the start until
    // someone reads it; such a log counts as one that cannot be opened.
    const QFileInfo info(name);
    if (info.exists() && !info.isFile())
        return;
    if (logFile->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        logStream = new QTextStream(logFile);
        logStream->setEncoding(QStringConverter::Utf8);
    }
}

void closeLog()
{
    delete logStream;
    logStream = nullptr;
    if (logFile) {
        logFile->close();
        delete logFile;
        logFile = nullptr;
    }
}

void setErrorPresenter(ErrorPresenter errorPresenter)
{
    presenter = errorPresenter;
}

void logError(const QString &text, bool showBox)
{
    if (logStream) {
        *logStream << "Error: " << text << Qt::endl;
        logStream->flush();
    }
    if (!showBox)
        return;
    if (presenter) {
        presenter(text);
    } else {
        std::fprintf(stderr, "Error: %s\n", text.toLocal8Bit().constData());
        std::fflush(stderr);
    }
}

void logError(const char *text, bool showBox)
{
    logError(QString::fromUtf8(text), showBox);
}
