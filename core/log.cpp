#include "log.h"

#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QTextStream>

namespace {
QFile *logFile = nullptr;
QTextStream *logStream = nullptr;
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

void logError(const QString &text, bool showBox)
{
    if (logStream) {
        *logStream << "Error: " << text << Qt::endl;
        logStream->flush();
    }
    if (showBox) {
        QMessageBox box;
        box.setWindowTitle(QStringLiteral("Error"));
        // Messages carry user data and SQLite's words; neither is markup.
        box.setTextFormat(Qt::PlainText);
        box.setText(text);
        box.exec();
    }
}

void logError(const char *text, bool showBox)
{
    logError(QString::fromUtf8(text), showBox);
}
