#ifndef SQLSTATEMENT_H
#define SQLSTATEMENT_H

#include <QString>

#include <sqlite3.h>

// One prepared statement, finalized when it goes. It is made with the text
// that names what its work is for ("Could not add nivlet."); a prepare or a
// step that fails keeps its result code and SQLite's message of that moment
// beside it, so that whoever meets the failure reports it whole and in one
// way: the store through DBHandler, a tool on standard error.
//
// The binds' results are not looked at: a bind fails only for an index the
// statement does not have, which the statement's own text rules out.
class SqlStatement
{
public:
    SqlStatement(sqlite3 *db, const char *sql, const char *failure = "");
    // Not prepared, failed with the code and message given: what a caller
    // gets when there is no connection to prepare on.
    SqlStatement(const char *failure, int code, const QString &message);
    ~SqlStatement();
    SqlStatement(SqlStatement &&other) noexcept;
    SqlStatement(const SqlStatement &) = delete;
    SqlStatement &operator=(const SqlStatement &) = delete;
    SqlStatement &operator=(SqlStatement &&) = delete;

    bool isPrepared() const { return stmt != nullptr; }
    explicit operator bool() const { return stmt != nullptr; }

    void bindInt(int index, int value) { sqlite3_bind_int(stmt, index, value); }
    void bindInt64(int index, qint64 value) { sqlite3_bind_int64(stmt, index, value); }
    void bindDouble(int index, double value) { sqlite3_bind_double(stmt, index, value); }
    void bindBool(int index, bool value) { sqlite3_bind_int(stmt, index, value ? 1 : 0); }
    void bindNull(int index) { sqlite3_bind_null(stmt, index); }
    // Copied by SQLite; the explicit length keeps text with an embedded NUL whole.
    void bindText(int index, const QString &text);
    void bindText(int index, const char *utf8, int size = -1)
    {
        sqlite3_bind_text(stmt, index, utf8, size, SQLITE_TRANSIENT);
    }
    // Not copied: the bytes must stay as they are until the next step or reset.
    void bindStaticText(int index, const char *utf8, int size)
    {
        sqlite3_bind_text(stmt, index, utf8, size, SQLITE_STATIC);
    }

    // The next row: true while there is one; false at the end and on a
    // failure, which failed() then tells.
    bool next()
    {
        const int rc = sqlite3_step(stmt);
        if (rc == SQLITE_ROW)
            return true;
        finishStep(rc);
        return false;
    }
    // One step of a statement that gives no rows: true when it is done.
    bool execute();
    // Ready to be stepped again; the bound values stay.
    void reset();

    bool failed() const { return code != SQLITE_OK && code != SQLITE_DONE; }
    // SQLITE_DONE after the last row, SQLITE_OK before any step.
    int resultCode() const { return code; }
    QString failureText() const { return failure; }
    // For steps whose failure says something else than a failed prepare.
    void setFailureText(const char *failureText) { failure = QString::fromUtf8(failureText); }
    QString errorMessage() const { return message; }
    // Marks the statement failed with a reason of the caller's, for work that
    // SQLite did but that did not do what was asked (a change that met no row).
    void fail(int resultCode, const QString &reason);

    int columnCount() const { return sqlite3_column_count(stmt); }
    int columnType(int column) const { return sqlite3_column_type(stmt, column); }
    qint64 columnInt64(int column) const { return sqlite3_column_int64(stmt, column); }
    int columnInt(int column) const { return sqlite3_column_int(stmt, column); }
    double columnDouble(int column) const { return sqlite3_column_double(stmt, column); }
    bool columnBool(int column) const { return sqlite3_column_int(stmt, column) != 0; }
    // A NULL column reads as an empty string.
    QString columnText(int column) const;
    // The column's UTF-8 bytes (null for NULL), valid until the next step;
    // ask for the size after the text.
    const char *columnUtf8(int column) const
    {
        return reinterpret_cast<const char *>(sqlite3_column_text(stmt, column));
    }
    const void *columnBlob(int column) const { return sqlite3_column_blob(stmt, column); }
    int columnBytes(int column) const { return sqlite3_column_bytes(stmt, column); }

private:
    void finishStep(int rc);
    void keepFailure(int rc);

    sqlite3_stmt *stmt = nullptr;
    QString failure;
    int code = SQLITE_OK;
    QString message;
};

#endif
