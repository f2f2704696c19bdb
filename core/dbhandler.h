#ifndef DBHANDLER_H
#define DBHANDLER_H

#include "sqlstatement.h"

#include <QObject>
#include <QString>

#include <sqlite3.h>

// Owns the connection; every statement of the store is prepared, stepped and
// checked through these helpers, so that every failure is reported the same way.
class DBHandler : public QObject
{
public:
    explicit DBHandler(QObject *parent = nullptr);
    ~DBHandler() override;

    // How long a statement waits for a lock held by another connection: a
    // backup or a quick look with sqlite3 passes unnoticed, only a lock that
    // persists is reported.
    static constexpr int defaultBusyTimeout = 3000;
    void setBusyTimeout(int milliseconds);
    int busyTimeout() const;

protected:
    // Opens the file on this connection with the store's wait for locks.
    bool openDatabase(const char *fileName, const char *failure = "Could not open database.");
    // Closes the connection, also one whose opening failed.
    void closeDatabase();
    sqlite3 *connection() const { return db; }

    // A statement on the connection, its failure text beside it. One that
    // could not be prepared has been reported and is not prepared.
    SqlStatement prepare(const char *sql, const char *failure);
    // One step of a change: false, reported, unless it is done.
    bool execute(SqlStatement &stmt);
    // For a change meant for one row: meeting no row did not do what was
    // asked, so it fails with the reason given.
    bool executeChange(SqlStatement &stmt, const QString &missing);
    // After the rows of a query: false, reported, when the steps ended in a
    // failure instead of the end of the rows.
    bool finishQuery(const SqlStatement &stmt);
    void report(const SqlStatement &stmt);
    bool beginTransaction(const char *failure);
    bool commit(const char *failure);
    // Ends the transaction for sure, reporting a ROLLBACK that fails.
    void rollback();

    // Inside a transaction a failure is only noted: its message box runs an
    // event loop of its own, and no event may ever find the transaction
    // open. The failures are reported together, in one box, once the
    // transaction has been rolled back.
    void holdReports();
    void releaseReports();
    // Work made of many changes reports what the whole could not do, under
    // its own failure text, with the code and message of the first failure.
    void releaseReports(const QString &failure);
    int heldReportCount() const;

    void reportError(const QString &failure, int code);
    void reportError(const char *failure, int code);
    void reportError(const QString &failure, int code, const QString &message);
    // Whether a report shows its box besides going to the log: work whose
    // failures must not stop the user again and again shows only its first.
    void setReportsShown(bool shown);

private:
    sqlite3 *db;
    int busyWait;

    static QString reportText(const QString &failure, int code, const QString &message);
    // Forgets the held reports; their number.
    int takeHeldReports();
    bool reopen(const char *failure);
    bool exec(const char *sql, const char *failure);

    bool holding;
    bool reportsShown;
    int heldCount;
    // Every held report, one a line.
    QString heldReport;
    int heldCode;
    QString heldMessage;
    // The file of a connection closed to end its transaction, until it is
    // open again; when opening failed at once, the next statement tries.
    QByteArray reopenName;
};

#endif
