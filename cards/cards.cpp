// nivlets-cards: exports the nivlets of a nivlets database to a card file and
// imports card files into it.

#include "cardfile.h"
#include "cardtransfer.h"
#include "dblock.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cstdio>

#include <unistd.h>

namespace {

constexpr int exitOk = 0;
constexpr int exitFailed = 1;
constexpr int exitUsage = 2;

const char helpText[] =
    "Usage: nivlets-cards [--dir FOLDER] export [--format FORMAT] [--book NAME] FILE\n"
    "       nivlets-cards [--dir FOLDER] import [--format FORMAT] [--book NAME]\n"
    "                     [--separator SEP] [--dry-run] FILE\n"
    "\n"
    "Moves nivlets between the \"nivlets\" database of a folder (the current one, or\n"
    "FOLDER) and a card file. FILE \"-\" is standard output or standard input.\n"
    "\n"
    "export  writes the nivlets of every book, or of the book NAME, as UTF-8\n"
    "        tab-separated text that Anki's text import reads with its default\n"
    "        choices (the question into Front, the answers into Back, the book into\n"
    "        the deck, no tags): header lines beginning with \"#\", then one line a\n"
    "        nivlet with its question, its answers (one a line), its book, an empty\n"
    "        tags column, its active flag, its knowledge rate and its book's active\n"
    "        flag. Fields holding tabs, line ends or quotes are quoted the CSV way.\n"
    "        Exporting is allowed while nivlets runs.\n"
    "import  reads such a file, a file of Anki's text export (\"Notes in Plain\n"
    "        Text\" or \"Cards in Plain Text\"), or a plain two-column table\n"
    "        (question, answer) separated by tabs, commas or semicolons, and adds\n"
    "        its nivlets to the books it names or all to the book NAME; missing\n"
    "        books are created. Everything is written in one transaction: on any\n"
    "        error nothing is, and the error names the line. Refused while nivlets\n"
    "        runs on the same folder.\n"
    "\n"
    "Formats:\n"
    "  anki               the one described above (the default)\n"
    "  mnemosyne          Mnemosyne's \"Tab-separated text files\": a question and\n"
    "                     its answers a line, \"<br>\" for a line end, a tab\n"
    "                     written as a space; an import of it needs --book\n"
    "\n"
    "Options:\n"
    "  --dir FOLDER       the folder of the \"nivlets\" database (default: current)\n"
    "  --format FORMAT    anki or mnemosyne (default: anki)\n"
    "  --book NAME        export only this book / import everything into it\n"
    "  --separator SEP    the field separator of a file without a \"#separator\"\n"
    "                     header: tab, comma, semicolon, pipe or one character\n"
    "                     (default: detected from the first line)\n"
    "  --dry-run          import: check the file and report what would be imported\n"
    "  -h, --help         show this text\n"
    "\n"
    "Progress goes to standard error for more than a few thousand nivlets.\n"
    "Exit codes: 0 success, 1 refused or failed (nothing changed), 2 usage error.\n";

void say(std::FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

int usage(const QString &text)
{
    say(stderr, QStringLiteral("nivlets-cards: %1").arg(text));
    say(stderr, QStringLiteral("Try \"nivlets-cards --help\"."));
    return exitUsage;
}

int failed(const QString &text)
{
    say(stderr, QStringLiteral("nivlets-cards: %1").arg(text));
    return exitFailed;
}

void showProgress(qint64 done, qint64 total)
{
    std::fprintf(stderr, "nivlets-cards: %lld of %lld nivlets (%lld %%)\n",
                 static_cast<long long>(done), static_cast<long long>(total),
                 static_cast<long long>(done * 100 / total));
    std::fflush(stderr);
}

QString bookList(const CardTransfer::Summary &summary, bool withCounts)
{
    QString text;
    for (const CardTransfer::BookCount &book : summary.books) {
        text += QStringLiteral("\n  \"%1\"").arg(book.name);
        if (withCounts)
            text += QStringLiteral(": %1 nivlet(s)").arg(book.nivlets);
        if (book.isNew)
            text += QStringLiteral(" (new book)");
    }
    return text;
}

int runExport(const QString &database, const QString &book, CardFormat format,
              const QString &fileName)
{
    CardTransfer transfer(database);
    transfer.setProgress(showProgress);
    CardTransfer::Summary summary;
    const bool toStdout = fileName == QLatin1String("-");
    if (toStdout) {
        // Unbuffered, so that every write reaches the descriptor and a full
        // disk is seen by the write that meets it.
        QFile out;
        if (!out.open(STDOUT_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered))
            return failed(QStringLiteral("could not write to standard output"));
        if (!transfer.exportCards(out, book, summary, format))
            return failed(transfer.errorText());
        if (!out.flush() || out.error() != QFileDevice::NoError)
            return failed(
                QStringLiteral("could not write to standard output: %1").arg(out.errorString()));
    } else {
        if (QFileInfo(fileName).isDir())
            return failed(QStringLiteral("%1 is a folder, not a file").arg(fileName));
        // Written under another name and renamed at the end, so a failed
        // export never leaves half a file where a whole one was.
        QSaveFile out(fileName);
        if (!out.open(QIODevice::WriteOnly))
            return failed(
                QStringLiteral("could not write %1: %2").arg(fileName, out.errorString()));
        if (!transfer.exportCards(out, book, summary, format))
            return failed(transfer.errorText());
        if (!out.commit())
            return failed(
                QStringLiteral("could not write %1: %2").arg(fileName, out.errorString()));
    }
    say(toStdout ? stderr : stdout, QStringLiteral("Exported %1 nivlet(s) of %2 book(s).")
                                        .arg(summary.nivlets)
                                        .arg(summary.books.size()));
    if (summary.withoutBook > 0) {
        say(stderr,
            QStringLiteral("nivlets-cards: %1 nivlet(s) belong to no book and were left out.")
                .arg(summary.withoutBook));
    }
    return exitOk;
}

int runImport(const QString &folder, const QString &database, const QString &book,
              CardFormat format, char separator, bool dryRun, const QString &fileName)
{
    const QString nothing = QStringLiteral(" Nothing was imported.");
    QByteArray data;
    if (fileName == QLatin1String("-")) {
        QFile in;
        if (!in.open(stdin, QIODevice::ReadOnly))
            return failed(QStringLiteral("could not read standard input.") + nothing);
        data = in.readAll();
    } else {
        if (QFileInfo(fileName).isDir())
            return failed(QStringLiteral("%1 is a folder, not a file.").arg(fileName) + nothing);
        QFile in(fileName);
        if (!in.open(QIODevice::ReadOnly))
            return failed(QStringLiteral("could not read %1: %2.").arg(fileName, in.errorString()) +
                          nothing);
        data = in.readAll();
        if (in.error() != QFileDevice::NoError)
            return failed(QStringLiteral("could not read %1: %2.").arg(fileName, in.errorString()) +
                          nothing);
    }

    CardReader reader(separator, format);
    if (!reader.read(data)) {
        // One replacement of all three: a file name or a text holding "%2"
        // stays as it is.
        return failed(QStringLiteral("%1:%2: %3. Nothing was imported.")
                          .arg(fileName, QString::number(reader.errorLine()), reader.errorText()));
    }

    // The program holds this lock for as long as it runs: it keeps books and
    // counts in memory and would not see what is written behind its back.
    DatabaseLock lock(folder);
    if (!dryRun && !lock.tryLock()) {
        QString text = lock.failureText();
        if (lock.heldByOther() && lock.ownerName() == QLatin1String("nivlets"))
            text += QStringLiteral(" Quit nivlets (\"Exit nivlets\" in its tray menu) and import "
                                   "again.");
        return failed(text + QStringLiteral(" Nothing was imported."));
    }

    CardTransfer transfer(database);
    transfer.setProgress(showProgress);
    CardTransfer::Summary summary;
    if (!transfer.importCards(reader.cards(), book, dryRun, summary)) {
        const QString where =
            transfer.errorLine() > 0
                ? QStringLiteral("%1:%2: ").arg(fileName, QString::number(transfer.errorLine()))
                : QString();
        return failed(
            QStringLiteral("%1%2. Nothing was imported.").arg(where, transfer.errorText()));
    }
    say(stdout, QStringLiteral("%1 %2 nivlet(s) into %3 book(s):%4")
                    .arg(dryRun ? QStringLiteral("Would import") : QStringLiteral("Imported"))
                    .arg(summary.nivlets)
                    .arg(summary.books.size())
                    .arg(bookList(summary, true)));
    return exitOk;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);

    QString command;
    QString folder = QStringLiteral(".");
    QString book;
    QString fileName;
    char separator = 0;
    CardFormat format = CardFormat::Anki;
    bool dryRun = false;
    bool fileGiven = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        auto value = [&](QString &target) {
            if (i + 1 >= args.size())
                return false;
            target = args.at(++i);
            return true;
        };
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            std::fputs(helpText, stdout);
            return exitOk;
        } else if (arg == QLatin1String("--dir")) {
            if (!value(folder))
                return usage(QStringLiteral("--dir needs a folder"));
        } else if (arg == QLatin1String("--book")) {
            if (!value(book))
                return usage(QStringLiteral("--book needs a name"));
            // An empty name given on purpose stays distinct from none given.
            if (book.isNull())
                book = QLatin1String("");
        } else if (arg == QLatin1String("--separator")) {
            QString name;
            if (!value(name))
                return usage(QStringLiteral("--separator needs a separator"));
            separator = CardReader::separatorNamed(name.toUtf8());
            if (!separator)
                return usage(QStringLiteral("unknown separator \"%1\"").arg(name));
        } else if (arg == QLatin1String("--format")) {
            QString name;
            if (!value(name))
                return usage(QStringLiteral("--format needs a format"));
            if (name == QLatin1String("mnemosyne"))
                format = CardFormat::Mnemosyne;
            else if (name == QLatin1String("anki"))
                format = CardFormat::Anki;
            else
                return usage(QStringLiteral("unknown format \"%1\" (anki or mnemosyne)").arg(name));
        } else if (arg == QLatin1String("--dry-run")) {
            dryRun = true;
        } else if (arg.startsWith(QLatin1Char('-')) && arg != QLatin1String("-")) {
            return usage(QStringLiteral("unknown option %1").arg(arg));
        } else if (command.isEmpty()) {
            command = arg;
            if (command != QLatin1String("export") && command != QLatin1String("import"))
                return usage(QStringLiteral("unknown command %1").arg(command));
        } else if (!fileGiven) {
            fileName = arg;
            fileGiven = true;
        } else {
            return usage(QStringLiteral("one FILE only"));
        }
    }
    if (command.isEmpty())
        return usage(QStringLiteral("export or import?"));
    if (!fileGiven || fileName.isEmpty())
        return usage(QStringLiteral("%1 needs a FILE").arg(command));
    if (command == QLatin1String("export") && (dryRun || separator))
        return usage(QStringLiteral("--dry-run and --separator belong to import"));
    if (format == CardFormat::Mnemosyne && separator)
        return usage(QStringLiteral("Mnemosyne's files are separated by tabs: no --separator"));

    const QString database = QDir(folder).filePath(QStringLiteral("nivlets"));
    if (command == QLatin1String("export"))
        return runExport(database, book, format, fileName);
    return runImport(folder, database, book, format, separator, dryRun, fileName);
}
