#include "dbhandler.h"

#include "log.h"

DBHandler::DBHandler(QObject *parent)
    : QObject(parent), db(nullptr), busyWait(defaultBusyTimeout), holding(false),
      reportsShown(true), heldCount(0), heldCode(SQLITE_OK)
{
}

DBHandler::~DBHandler()
{
    if (db) {
        sqlite3_close(db);
        db = nullptr;
    }
}

void DBHandler::setBusyTimeout(int milliseconds)
{
    busyWait = milliseconds;
    if (db)
        sqlite3_busy_timeout(db, busyWait);
}

int DBHandler::busyTimeout() const
{
    return busyWait;
}

bool DBHandler::openDatabase(const char *fileName, const char *failure)
{
    const int rc = sqlite3_open(fileName, &db);
    if (rc != SQLITE_OK) {
        reportError(failure, rc);
        return false;
    }
    sqlite3_busy_timeout(db, busyWait);
    return true;
}

void DBHandler::closeDatabase()
{
    sqlite3_close(db);
    db = nullptr;
}

SqlStatement DBHandler::prepare(const char *sql, const char *failure)
{
    if (!db && !reopenName.isEmpty() && !reopen(failure))
        return SqlStatement(failure, SQLITE_CANTOPEN, QString());
    SqlStatement stmt(db, sql, failure);
    if (!stmt)
        report(stmt);
    return stmt;
}

bool DBHandler::execute(SqlStatement &stmt)
{
    if (stmt.execute())
        return true;
    report(stmt);
    return false;
}

bool DBHandler::executeChange(SqlStatement &stmt, const QString &missing)
{
    if (!execute(stmt))
        return false;
    if (sqlite3_changes(db) > 0)
        return true;
    stmt.fail(SQLITE_NOTFOUND, missing);
    report(stmt);
    return false;
}

bool DBHandler::finishQuery(const SqlStatement &stmt)
{
    if (!stmt.failed())
        return true;
    report(stmt);
    return false;
}

void DBHandler::report(const SqlStatement &stmt)
{
    reportError(stmt.failureText(), stmt.resultCode(), stmt.errorMessage());
}

bool DBHandler::exec(const char *sql, const char *failure)
{
    const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK || rc == SQLITE_DONE)
        return true;
    reportError(failure, rc);
    return false;
}

bool DBHandler::beginTransaction(const char *failure)
{
    if (!db && !reopenName.isEmpty() && !reopen(failure))
        return false;
    return exec("BEGIN TRANSACTION", failure);
}

bool DBHandler::commit(const char *failure)
{
    return exec("COMMIT", failure);
}

void DBHandler::rollback()
{
    // SQLite rolls a transaction back itself after some failures (an I/O
    // error in the commit, for one), and a ROLLBACK would then only fail for
    // want of a transaction.
    if (sqlite3_get_autocommit(db))
        return;
    const int rc = sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    if (sqlite3_get_autocommit(db))
        return;
    // Left open, the transaction would silently take in every later write,
    // and lose it at the end of the run. Closing the connection rolls it
    // back for sure.
    reportError("Could not roll back the transaction.", rc);
    reopenName = sqlite3_db_filename(db, "main");
    sqlite3_close_v2(db);
    db = nullptr;
    reopen("Could not open database.");
}

bool DBHandler::reopen(const char *failure)
{
    const int rc = sqlite3_open_v2(reopenName.constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    if (rc != SQLITE_OK) {
        reportError(QString::fromUtf8(failure), rc, QString::fromUtf8(sqlite3_errstr(rc)));
        sqlite3_close(db);
        db = nullptr;
        return false;
    }
    reopenName.clear();
    sqlite3_busy_timeout(db, busyWait);
    return true;
}

void DBHandler::holdReports()
{
    holding = true;
}

void DBHandler::releaseReports()
{
    holding = false;
    const QString text = heldReport;
    if (takeHeldReports() > 0)
        logError(text, reportsShown);
}

void DBHandler::releaseReports(const QString &failure)
{
    holding = false;
    const QString text = reportText(failure, heldCode, heldMessage);
    if (takeHeldReports() > 0)
        logError(text, reportsShown);
}

int DBHandler::takeHeldReports()
{
    const int count = heldCount;
    heldCount = 0;
    heldReport.clear();
    heldMessage.clear();
    return count;
}

int DBHandler::heldReportCount() const
{
    return heldCount;
}

void DBHandler::reportError(const QString &failure, int code)
{
    reportError(failure, code, QString::fromUtf8(sqlite3_errmsg(db)));
}

void DBHandler::reportError(const QString &failure, int code, const QString &message)
{
    if (holding) {
        // The first failure is the one that stopped the work; the others
        // tell what ending the transaction met.
        if (heldCount++ == 0) {
            heldCode = code;
            heldMessage = message;
        } else {
            heldReport += QLatin1Char('\n');
        }
        heldReport += reportText(failure, code, message);
        return;
    }
    logError(reportText(failure, code, message), reportsShown);
}

void DBHandler::setReportsShown(bool shown)
{
    reportsShown = shown;
}

QString DBHandler::reportText(const QString &failure, int code, const QString &message)
{
    // One multi-argument replacement, so a "%2" inside the failure text or
    // SQLite's message is never taken for a placeholder.
    return QStringLiteral("%1 error code: %2 error message: %3")
        .arg(failure, QString::number(code), message);
}

void DBHandler::reportError(const char *failure, int code)
{
    reportError(QString::fromUtf8(failure), code);
}
