// Builds a database file of the delivered schema with the content of SQL
// files. The file is written under a temporary name and renamed only when
// everything succeeded, so that a failed build never leaves a half-made
// database where the program or the build expects one.

#include "schemasql.h"
#include "sqlstatement.h"

#include <sqlite3.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

namespace {

const char toolName[] = "nivlets_makedb";

bool readText(const char *path, std::string &text)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    text = buffer.str();
    return !in.bad();
}

bool exec(sqlite3 *db, const std::string &sql, const char *source)
{
    char *error = nullptr;
    const int code = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
    if (code == SQLITE_OK)
        return true;
    std::fprintf(stderr, "%s: %s: %s (error code %d)\n", toolName, source,
                 error ? error : sqlite3_errstr(code), code);
    sqlite3_free(error);
    return false;
}

void printFailure(const SqlStatement &stmt)
{
    std::fprintf(stderr, "%s: %s: %s\n", toolName, stmt.failureText().toUtf8().constData(),
                 stmt.errorMessage().toUtf8().constData());
}

bool integrityOk(sqlite3 *db)
{
    SqlStatement stmt(db, "PRAGMA integrity_check", "integrity check");
    if (!stmt) {
        printFailure(stmt);
        return false;
    }
    bool ok = true;
    int rows = 0;
    while (stmt.next()) {
        ++rows;
        const char *text = stmt.columnUtf8(0);
        if (!text || std::string(text) != "ok") {
            std::fprintf(stderr, "%s: integrity check: %s\n", toolName, text ? text : "(null)");
            ok = false;
        }
    }
    if (stmt.failed()) {
        printFailure(stmt);
        ok = false;
    }
    return ok && rows > 0;
}

bool build(const std::string &file, int count, char **sqlFiles)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        std::fprintf(stderr, "%s: cannot create %s: %s\n", toolName, file.c_str(),
                     db ? sqlite3_errmsg(db) : "out of memory");
        sqlite3_close(db);
        return false;
    }

    bool ok = exec(db, "BEGIN", "begin transaction") && exec(db, Schema::sql, "schema");
    for (int i = 0; ok && i < count; ++i) {
        std::string sql;
        if (!readText(sqlFiles[i], sql)) {
            std::fprintf(stderr, "%s: cannot read %s\n", toolName, sqlFiles[i]);
            ok = false;
        } else {
            ok = exec(db, sql, sqlFiles[i]);
        }
    }
    if (ok)
        ok = exec(db, "COMMIT", "commit");
    else if (!sqlite3_get_autocommit(db))
        // The file goes anyway; a failed rollback is only told.
        exec(db, "ROLLBACK", "rollback");
    if (ok)
        ok = integrityOk(db);

    if (sqlite3_close(db) != SQLITE_OK) {
        std::fprintf(stderr, "%s: cannot close %s\n", toolName, file.c_str());
        ok = false;
    }
    return ok;
}

void removeTemporary(const std::string &file)
{
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
    std::filesystem::remove(file + "-journal", ignored);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: %s OUTPUT SQLFILE...\n"
                     "  the delivered schema, then the SQL files in their order\n",
                     toolName);
        return 2;
    }
    const std::string output = argv[1];
    const std::string temporary = output + ".tmp";

    // A leftover from an interrupted run would otherwise receive the statements twice.
    removeTemporary(temporary);
    if (!build(temporary, argc - 2, argv + 2)) {
        removeTemporary(temporary);
        return 1;
    }

    std::error_code error;
    std::filesystem::rename(temporary, output, error);
    if (error) {
        std::fprintf(stderr, "%s: cannot rename %s to %s: %s\n", toolName, temporary.c_str(),
                     output.c_str(), error.message().c_str());
        removeTemporary(temporary);
        return 1;
    }
    return 0;
}
