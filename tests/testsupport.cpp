#include "testsupport.h"

#include "errorboxpresenter.h"
#include "nivletcore.h"
#include "schemasql.h"

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
    sqlite3_stmt *stmt = nullptr;
    QString statement;
    if (sqlite3_open(":memory:", &db) == SQLITE_OK &&
        sqlite3_exec(db, Schema::sql, nullptr, nullptr, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, "SELECT sql FROM sqlite_master WHERE name = ?", -1, &stmt,
                           nullptr) == SQLITE_OK) {
        const QByteArray utf8 = name.toUtf8();
        sqlite3_bind_text(stmt, 1, utf8.constData(), static_cast<int>(utf8.size()),
                          SQLITE_TRANSIENT);
        if (sqlite3_step(stmt) == SQLITE_ROW)
            statement =
                QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)));
    }
    if (statement.isEmpty())
        qWarning() << "no statement for" << name << "in the schema";
    sqlite3_finalize(stmt);
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

QStringList rows(const QString &sql)
{
    QStringList result;
    sqlite3 *db = nullptr;
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_open_v2("nivlets", &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &stmt, nullptr) == SQLITE_OK) {
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            QStringList fields;
            for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
                const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, c));
                fields << (text ? QString::fromUtf8(text) : QStringLiteral("NULL"));
            }
            result << fields.join(QLatin1Char('|'));
        }
    } else {
        result << QStringLiteral("query failed: ") + QString::fromUtf8(sqlite3_errmsg(db));
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return result;
}

double storedRate(qint64 id, const QString &file)
{
    sqlite3 *db = nullptr;
    double rate = -1.0;
    if (sqlite3_open_v2(QFile::encodeName(file).constData(), &db, SQLITE_OPEN_READONLY, nullptr) ==
        SQLITE_OK) {
        sqlite3_stmt *stmt = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT kn_rate FROM nivlet WHERE id = ?", -1, &stmt, nullptr) ==
            SQLITE_OK) {
            sqlite3_bind_int64(stmt, 1, id);
            if (sqlite3_step(stmt) == SQLITE_ROW)
                rate = sqlite3_column_double(stmt, 0);
        }
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return rate;
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
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
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
