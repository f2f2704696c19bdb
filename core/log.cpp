#include "log.h"

#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <cstdio>
#include <memory>

namespace {
std::unique_ptr<QFile> logFile;
std::unique_ptr<QTextStream> logStream;
ErrorPresenter presenter = nullptr;
} // namespace

void openLog()
{
    closeLog();
    const QString name = QStringLiteral("nivlets.log");
    logFile = std::make_unique<QFile>(name);
    // A FIFO or device under the log's name would block the start until
    // someone reads it; such a log counts as one that cannot be opened.
    const QFileInfo info(name);
    if (info.exists() && !info.isFile())
        return;
    if (logFile->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        logStream = std::make_unique<QTextStream>(logFile.get());
        logStream->setEncoding(QStringConverter::Utf8);
    }
}

void closeLog()
{
    // The stream flushes into the file, so it goes first.
    logStream.reset();
    logFile.reset();
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
