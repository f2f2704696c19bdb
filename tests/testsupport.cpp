#include "testsupport.h"

#include "errorboxpresenter.h"
#include "nivletcore.h"
#include "schemasql.h"
#include "sqlstatement.h"

#include <QApplication>
#include <QDebug>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTest>

#include <sqlite3.h>

namespace TestSupport {

QString schemaSql()
{
    return QString::fromUtf8(Schema::sql);
}

QString schemaStatement(const QString &name)
{
    sqlite3 *db = nullptr;
    QString statement;
    if (sqlite3_open(":memory:", &db) == SQLITE_OK &&
        sqlite3_exec(db, Schema::sql, nullptr, nullptr, nullptr) == SQLITE_OK) {
        SqlStatement stmt(db, "SELECT sql FROM sqlite_master WHERE name = ?");
        if (stmt) {
            stmt.bindText(1, name);
            if (stmt.next())
                statement = stmt.columnText(0);
        }
    }
    if (statement.isEmpty())
        qWarning() << "no statement for" << name << "in the schema";
    sqlite3_close(db);
    return statement;
}

bool execSql(const QString &file, const QString &sql)
{
    sqlite3 *db = nullptr;
    bool ok = sqlite3_open(QFile::encodeName(file).constData(), &db) == SQLITE_OK;
    if (ok) {
        char *error = nullptr;
        ok = sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &error) == SQLITE_OK;
        if (!ok)
            qWarning() << "SQL failed on" << file << ":" << error;
        sqlite3_free(error);
    }
    sqlite3_close(db);
    return ok;
}

bool createDatabase(const QString &dir, const QString &extraSql)
{
    const QString file = QDir(dir).filePath(QStringLiteral("nivlets"));
    QFile::remove(file);
    // One commit instead of one per statement: every commit waits for the
    // disk, and some tests make hundreds of files.
    return execSql(file, QStringLiteral("BEGIN;\n") + schemaSql() + QLatin1Char('\n') + extraSql +
                             QStringLiteral("\nCOMMIT;"));
}

std::unique_ptr<NivletCore> openStore(const QString &extraSql)
{
    if (!createDatabase(QDir::currentPath(), extraSql))
        return nullptr;
    auto core = std::make_unique<NivletCore>();
    if (!core->open())
        return nullptr;
    return core;
}

ReadConnection::ReadConnection(const QString &file)
{
    if (sqlite3_open_v2(QFile::encodeName(file).constData(), &db, SQLITE_OPEN_READONLY, nullptr) !=
        SQLITE_OK) {
        openFailure = QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(SQLITE_NOMEM));
        sqlite3_close(db);
        db = nullptr;
    }
}

ReadConnection::~ReadConnection()
{
    sqlite3_close(db);
}

SqlStatement ReadConnection::query(const QString &sql) const
{
    if (!db)
        return SqlStatement("", SQLITE_CANTOPEN, openFailure);
    return SqlStatement(db, sql.toUtf8().constData());
}

QStringList rows(const QString &sql, const QString &file)
{
    QStringList result;
    const ReadConnection connection(file);
    SqlStatement stmt = connection.query(sql);
    if (!stmt)
        return {QStringLiteral("query failed: ") + stmt.errorMessage()};
    while (stmt.next()) {
        QStringList fields;
        for (int c = 0; c < stmt.columnCount(); ++c) {
            const char *text = stmt.columnUtf8(c);
            fields << (text ? QString::fromUtf8(text) : QStringLiteral("NULL"));
        }
        result << fields.join(QLatin1Char('|'));
    }
    return result;
}

double storedRate(qint64 id, const QString &file)
{
    const ReadConnection connection(file);
    SqlStatement stmt = connection.query(QStringLiteral("SELECT kn_rate FROM nivlet WHERE id = ?"));
    if (!stmt)
        return -1.0;
    stmt.bindInt64(1, id);
    return stmt.next() ? stmt.columnDouble(0) : -1.0;
}

QString readFile(const QString &path)
{
    return QString::fromUtf8(readBytes(path));
}

QByteArray readBytes(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

bool onTestDisplay()
{
    const QByteArray display = qgetenv("DISPLAY");
    return !display.isEmpty() && qgetenv("NIVLETS_TEST_DISPLAY") == display;
}

WorkDir::WorkDir() : previous(QDir::currentPath())
{
    QDir::setCurrent(dir.path());
}

WorkDir::~WorkDir()
{
    QDir::setCurrent(previous);
}

BoxCatcher::BoxCatcher()
{
    installErrorBoxPresenter();
    timer.setInterval(10);
    connect(&timer, &QTimer::timeout, this, &BoxCatcher::poll);
    timer.start();
}

BoxCatcher::~BoxCatcher() = default;

void BoxCatcher::clear()
{
    titles.clear();
    texts.clear();
}

void BoxCatcher::poll()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    titles.append(box->windowTitle());
    texts.append(box->text());
    if (whileShown)
        whileShown();
    box->done(QMessageBox::Ok);
}

LockingConnection::LockingConnection(const char *begin)
{
    locked = sqlite3_open("nivlets", &db) == SQLITE_OK &&
             sqlite3_exec(db, begin, nullptr, nullptr, nullptr) == SQLITE_OK;
}

LockingConnection::~LockingConnection()
{
    if (locked && sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr) != SQLITE_OK)
        qWarning() << "the locking connection could not roll back:" << sqlite3_errmsg(db);
    sqlite3_close(db);
}

int runModal(QDialog *dialog, const std::function<void()> &act)
{
    QTimer::singleShot(0, dialog, [dialog, act] {
        if (QTest::qWaitFor(
                [dialog] {
                    return QApplication::activeModalWidget() == dialog && dialog->isVisible();
                },
                5000)) {
            act();
        }
        if (dialog->isVisible())
            dialog->done(-1);
    });
    return dialog->exec();
}

} // namespace TestSupport

void NivletCoreTestAccess::setLastAskedId(NivletCore &core, qint64 id)
{
    core.lastAsked = id;
}

void NivletCoreTestAccess::markActiveListStale(NivletCore &core)
{
    core.stale = true;
}

void NivletCoreTestAccess::forgetOptions(NivletCore &core)
{
    core.optionsCache.reset();
}
