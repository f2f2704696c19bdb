#ifndef DBHANDLER_H
#define DBHANDLER_H

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
    bool prepare(const char *sql, sqlite3_stmt *&stmt, const char *failure);
    bool execute(sqlite3_stmt *stmt, const char *failure);
    // For a change meant for one row: meeting no row did not do what was
    // asked, so it fails with the reason given.
    bool executeChange(sqlite3_stmt *stmt, const char *failure, const QString &missing);
    bool finishQuery(sqlite3_stmt *&stmt, int stepResult, const char *failure);
    void finalize(sqlite3_stmt *&stmt);
    bool beginTransaction(const char *failure);
    bool commit(const char *failure);
    // Ends the transaction for sure, reporting a ROLLBACK that fails.
    void rollback();

    static void bindText(sqlite3_stmt *stmt, int index, const QString &text);
    static void bindBool(sqlite3_stmt *stmt, int index, bool value);
    static QString columnText(sqlite3_stmt *stmt, int column);
    static bool columnBool(sqlite3_stmt *stmt, int column);

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

    sqlite3 *db;
    int busyWait;

private:
    static QString reportText(const QString &failure, int code, const QString &message);
    // Forgets the held reports; their number.
    int takeHeldReports();
    bool reopen(const char *failure);

    bool holding;
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
