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

int DBHandler::rollback()
{
    return sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
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
    releaseReports(heldFailure);
}

void DBHandler::releaseReports(const QString &failure)
{
    holding = false;
    const int count = heldCount;
    heldCount = 0;
    if (count == 0)
        return;
    const QString text = reportText(failure, heldCode, heldMessage);
    heldFailure.clear();
    heldMessage.clear();
    logError(text, true);
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
        // The first failure is the one that stopped the work.
        if (heldCount++ == 0) {
            heldFailure = failure;
            heldCode = code;
            heldMessage = message;
        }
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
