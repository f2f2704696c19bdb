#include "sqlstatement.h"

#include <QByteArray>

#include <utility>

SqlStatement::SqlStatement(sqlite3 *db, const char *sql, const char *failureText)
    : failure(QString::fromUtf8(failureText))
{
    const int rc = sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
    if (rc != SQLITE_OK) {
        code = rc;
        message = QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_finalize(stmt);
        stmt = nullptr;
    } else if (!stmt) {
        // Blanks or comments alone prepare to nothing, which no step could run.
        code = SQLITE_MISUSE;
        message = QStringLiteral("the SQL text holds no statement");
    }
}

SqlStatement::SqlStatement(const char *failureText, int resultCode, const QString &reason)
    : failure(QString::fromUtf8(failureText)), code(resultCode), message(reason)
{
}

SqlStatement::~SqlStatement()
{
    sqlite3_finalize(stmt);
}

SqlStatement::SqlStatement(SqlStatement &&other) noexcept
    : stmt(other.stmt), failure(std::move(other.failure)), code(other.code),
      message(std::move(other.message))
{
    other.stmt = nullptr;
}

void SqlStatement::bindText(int index, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text(stmt, index, utf8.constData(), static_cast<int>(utf8.size()),
                      SQLITE_TRANSIENT);
}

bool SqlStatement::execute()
{
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_DONE) {
        code = rc;
        return true;
    }
    keepFailure(rc);
    return false;
}

void SqlStatement::reset()
{
    sqlite3_reset(stmt);
    code = SQLITE_OK;
    message.clear();
}

void SqlStatement::fail(int resultCode, const QString &reason)
{
    code = resultCode;
    message = reason;
}

QString SqlStatement::columnText(int column) const
{
    const char *text = columnUtf8(column);
    if (!text)
        return QString();
    return QString::fromUtf8(text, sqlite3_column_bytes(stmt, column));
}

void SqlStatement::finishStep(int rc)
{
    if (rc == SQLITE_DONE)
        code = rc;
    else
        keepFailure(rc);
}

void SqlStatement::keepFailure(int rc)
{
    // A statement that was never prepared keeps the reason it was not.
    if (!stmt)
        return;
    code = rc;
    message = QString::fromUtf8(sqlite3_errmsg(sqlite3_db_handle(stmt)));
}
