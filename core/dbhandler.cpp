#include "dbhandler.h"

#include "log.h"

DBHandler::DBHandler(QObject *parent)
    : QObject(parent), db(nullptr), busyWait(defaultBusyTimeout), holding(false), heldCount(0),
      heldCode(SQLITE_OK)
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

bool DBHandler::prepare(const char *sql, sqlite3_stmt *&stmt, const char *failure)
{
    if (!db && !reopenName.isEmpty() && !reopen(failure))
        return false;
    const int rc = sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
    if (rc == SQLITE_OK)
        return true;
    reportError(failure, rc);
    return false;
}

bool DBHandler::execute(sqlite3_stmt *stmt, const char *failure)
{
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_DONE)
        return true;
    reportError(failure, rc);
    return false;
}

bool DBHandler::executeChange(sqlite3_stmt *stmt, const char *failure, const QString &missing)
{
    if (!execute(stmt, failure))
        return false;
    if (sqlite3_changes(db) > 0)
        return true;
    reportError(QString::fromUtf8(failure), SQLITE_NOTFOUND, missing);
    return false;
}

bool DBHandler::finishQuery(sqlite3_stmt *&stmt, int stepResult, const char *failure)
{
    bool ok = true;
    if (stepResult != SQLITE_DONE) {
        reportError(failure, stepResult);
        ok = false;
    }
    finalize(stmt);
    return ok;
}

void DBHandler::finalize(sqlite3_stmt *&stmt)
{
    if (stmt) {
        sqlite3_finalize(stmt);
        stmt = nullptr;
    }
}

bool DBHandler::beginTransaction(const char *failure)
{
    if (!db && !reopenName.isEmpty() && !reopen(failure))
        return false;
    const int rc = sqlite3_exec(db, "BEGIN TRANSACTION", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK || rc == SQLITE_DONE)
        return true;
    reportError(failure, rc);
    return false;
}

bool DBHandler::commit(const char *failure)
{
    const int rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK || rc == SQLITE_DONE)
        return true;
    reportError(failure, rc);
    return false;
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

void DBHandler::bindText(sqlite3_stmt *stmt, int index, const QString &text)
{
    // The explicit length keeps text with an embedded NUL whole.
    const QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text(stmt, index, utf8.constData(), static_cast<int>(utf8.size()),
                      SQLITE_TRANSIENT);
}

void DBHandler::bindBool(sqlite3_stmt *stmt, int index, bool value)
{
    sqlite3_bind_int(stmt, index, value ? 1 : 0);
}

QString DBHandler::columnText(sqlite3_stmt *stmt, int column)
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, column));
    if (!text)
        return QString();
    return QString::fromUtf8(text, sqlite3_column_bytes(stmt, column));
}

bool DBHandler::columnBool(sqlite3_stmt *stmt, int column)
{
    return sqlite3_column_int(stmt, column) != 0;
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
        logError(text, true);
}

void DBHandler::releaseReports(const QString &failure)
{
    holding = false;
    const QString text = reportText(failure, heldCode, heldMessage);
    if (takeHeldReports() > 0)
        logError(text, true);
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
    logError(reportText(failure, code, message), true);
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
