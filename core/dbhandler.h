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

protected:
    bool prepare(const char *sql, sqlite3_stmt *&stmt, const char *failure);
    bool execute(sqlite3_stmt *stmt, const char *failure);
    bool finishQuery(sqlite3_stmt *&stmt, int stepResult, const char *failure);
    void finalize(sqlite3_stmt *&stmt);
    bool beginTransaction(const char *failure);
    bool commit(const char *failure);
    int rollback();

    static void bindText(sqlite3_stmt *stmt, int index, const QString &text);
    static void bindBool(sqlite3_stmt *stmt, int index, bool value);
    static QString columnText(sqlite3_stmt *stmt, int column);
    static bool columnBool(sqlite3_stmt *stmt, int column);

    void reportError(const QString &failure, int code);
    void reportError(const char *failure, int code);

    sqlite3 *db;
};

#endif
