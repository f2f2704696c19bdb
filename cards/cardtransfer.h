#ifndef CARDTRANSFER_H
#define CARDTRANSFER_H

#include "cardfile.h"

#include <QList>
#include <QString>

#include <functional>
#include <vector>

#include <sqlite3.h>

class QIODevice;
class SqlStatement;

// Moves card files in and out of a nivlets database through a connection of
// its own. An import is one transaction: every card is written or none is.
// The program keeps books and counts in memory, so whoever writes with this
// must first make sure the program is not running on the same file.
class CardTransfer
{
public:
    // done and total count nivlets; called now and then during long runs.
    using Progress = std::function<void(qint64 done, qint64 total)>;

    struct BookCount
    {
        QString name;
        qint64 nivlets = 0;
        bool isNew = false;
    };
    struct Summary
    {
        qint64 nivlets = 0;
        // Nivlets whose book row is missing; an export leaves them out.
        qint64 withoutBook = 0;
        QList<BookCount> books;
    };

    // Runs of fewer nivlets report no progress.
    static constexpr qint64 progressThreshold = 5000;

    explicit CardTransfer(const QString &databaseFile);
    ~CardTransfer();
    CardTransfer(const CardTransfer &) = delete;
    CardTransfer &operator=(const CardTransfer &) = delete;

    void setProgress(const Progress &progress);

    // Writes the nivlets of every book, or of the books named bookName, in
    // the order of their ids. A rate outside 0 ... 1 goes out as the one the
    // program reads, so the file imports again.
    bool exportCards(QIODevice &out, const QString &bookName, Summary &summary,
                     CardFormat format = CardFormat::Anki);
    // Adds the cards to the books they name, or all to bookName when it is
    // given; missing books are created. A dry run checks everything and
    // writes nothing.
    bool importCards(const std::vector<Card> &cards, const QString &bookName, bool dryRun,
                     Summary &summary);

    QString errorText() const { return failure; }
    // The card file's line the failure belongs to, 0 when it is none's.
    int errorLine() const { return failedLine; }

private:
    struct ExportRun;
    struct ImportPlan;

    bool open(int flags);
    bool fail(const QString &text, int line = 0);
    bool failSql(const char *what);
    bool failSql(const SqlStatement &stmt);
    // A statement whose steps fail with stepFailure; a failed prepare has
    // been kept as the failure.
    SqlStatement prepare(const char *sql, const char *stepFailure);
    void rollback();
    void report(qint64 done, qint64 total, qint64 &next);

    // The steps of an export, inside its read transaction.
    bool writeExport(ExportRun &run);
    bool readExportBooks(ExportRun &run);
    bool countNivlets(qint64 &total);
    bool exportPass(ExportRun &run, qint64 passBook);
    bool flush(ExportRun &run);

    // The steps of an import: the plan reads, the others write inside its
    // transaction.
    bool planImport(const std::vector<Card> &cards, const QString &bookName, ImportPlan &plan,
                    Summary &summary);
    bool findBook(SqlStatement &find, const QByteArray &name, qint64 &id);
    bool addNewBooks(ImportPlan &plan);
    bool addNivlets(const std::vector<Card> &cards, const ImportPlan &plan);

    QString file;
    sqlite3 *db = nullptr;
    Progress progress;
    QString failure;
    int failedLine = 0;
};

#endif
