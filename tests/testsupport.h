#ifndef TESTSUPPORT_H
#define TESTSUPPORT_H

#include "elapsedclock.h"
#include "nivlet.h"
#include "sqlstatement.h"

#include <QApplication>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>
#include <QTimer>

#include <functional>
#include <memory>

class NivletCore;
class QDialog;
struct sqlite3;

namespace TestSupport {

// The calendar's time, set and moved by hand, in a zone with daylight-saving
// time.
class ManualWallClock : public WallClock
{
public:
    QDateTime now() const override { return QDateTime::fromMSecsSinceEpoch(utc, zone); }
    void set(const QDateTime &time) { utc = time.toMSecsSinceEpoch(); }
    void set(const QDate &date, const QTime &time) { set(QDateTime(date, time, zone)); }
    void advance(qint64 ms) { utc += ms; }
    const QTimeZone zone{QByteArrayLiteral("Europe/Berlin")};
    qint64 utc = QDateTime(QDate(2024, 6, 12), QTime(14, 0), zone).toMSecsSinceEpoch();
};

// The delivered schema (data/schema.sql): the tables, their indexes and the
// one row of options with its defaults.
QString schemaSql();

// The CREATE statement of one table or index of the delivered schema, for a
// test that puts back what it dropped.
QString schemaStatement(const QString &name);

// Runs SQL on the file through a connection of its own; false (with a
// warning) on any failure.
bool execSql(const QString &file, const QString &sql);

// Creates "nivlets" in dir from the delivered schema, options row included,
// plus extraSql, all in one transaction: a database of the given content.
bool createDatabase(const QString &dir, const QString &extraSql = QString());

// Creates "nivlets" in the working directory like createDatabase and opens a
// store on it; null when either fails.
std::unique_ptr<NivletCore> openStore(const QString &extraSql = QString());

// A read-only connection of its own on a database file, as any other
// program would see the file.
class ReadConnection
{
public:
    explicit ReadConnection(const QString &file = QStringLiteral("nivlets"));
    ~ReadConnection();
    ReadConnection(const ReadConnection &) = delete;
    ReadConnection &operator=(const ReadConnection &) = delete;

    // A file that could not be opened gives a statement failed with the reason.
    SqlStatement query(const QString &sql) const;

private:
    sqlite3 *db = nullptr;
    QString openFailure;
};

// The rows of the query on the file ("nivlets" in the working directory) as
// "a|b|c" lines (NULL for a null field), read through a ReadConnection. A
// failed query gives one line saying why.
QStringList rows(const QString &sql, const QString &file = QStringLiteral("nivlets"));

// The knowledge rate stored for the nivlet, read like rows; -1 when there is
// no such row.
double storedRate(qint64 id, const QString &file = QStringLiteral("nivlets"));

QString readFile(const QString &path);

// Real input (xdotool clicks and keys) may only go to the X server that the
// test command started, never to a desktop the tests merely inherited.
bool onTestDisplay();
QByteArray readBytes(const QString &path);

// Makes a fresh temporary folder the working directory for as long as it
// lives, since the store and the log open their files there.
class WorkDir
{
public:
    WorkDir();
    ~WorkDir();
    QString path() const { return dir.path(); }
    QString file(const QString &name) const { return dir.filePath(name); }
    bool isValid() const { return dir.isValid(); }

private:
    QTemporaryDir dir;
    QString previous;
};

// Closes every modal message box that comes up while it is armed and keeps
// what it showed, so a test can check the box texts of an operation.
class BoxCatcher : public QObject
{
public:
    BoxCatcher();
    ~BoxCatcher() override;

    QStringList titles;
    QStringList texts;
    // Runs while a box is on screen, inside its event loop, before it closes.
    std::function<void()> whileShown;

    void clear();

private:
    void poll();
    QTimer timer;
};

// A second connection that holds the "nivlets" file of the working directory
// locked while it lives, as another program would: with the default
// "BEGIN EXCLUSIVE" the store's reads and writes fail with "database is
// locked", with "BEGIN IMMEDIATE" only its writes do.
class LockingConnection
{
public:
    explicit LockingConnection(const char *begin = "BEGIN EXCLUSIVE");
    ~LockingConnection();
    bool locked = false;

private:
    sqlite3 *db = nullptr;
};

// The part of a window found by its object name, as the window names it. A
// missing part ends the run at once with its name: every step after would
// read through a null pointer.
template <typename T> T *child(const QObject *window, const char *name)
{
    T *found = window->findChild<T *>(QString::fromLatin1(name));
    if (!found)
        qFatal("%s has no %s named %s", window->metaObject()->className(),
               T::staticMetaObject.className(), name);
    return found;
}

// Runs the dialog modally and calls act once it is the active modal window.
// A dialog still open after act is ended with -1, so that a failed step
// reports its failure instead of waiting forever.
int runModal(QDialog *dialog, const std::function<void()> &act);

// Acts on the next modal window of type T once it is up; the caller then
// starts the command that opens it. A window still open after act is ended
// with -1, so that a failed step reports its failure instead of waiting forever.
template <typename T> void whenModal(const std::function<void(T *)> &act)
{
    QTimer::singleShot(0, [act] {
        T *window = nullptr;
        const bool up = QTest::qWaitFor(
            [&window] {
                window = qobject_cast<T *>(QApplication::activeModalWidget());
                return window && window->isVisible();
            },
            5000);
        if (!up)
            return;
        QPointer<T> guard(window);
        act(window);
        if (guard && guard->isVisible())
            guard->done(-1);
    });
}

// Calls act on the next modal widget of type T as soon as it is up; the
// caller then starts the command that opens it. The check runs at once in the
// widget's own event loop, before the box catcher's next poll, so a question
// box reaches act and only error boxes are left to the catcher.
template <typename T> void onModal(const std::function<void(T *)> &act, bool *seen = nullptr)
{
    QTimer::singleShot(0, [act, seen] {
        T *modal = nullptr;
        const bool up = QTest::qWaitFor(
            [&] {
                modal = qobject_cast<T *>(QApplication::activeModalWidget());
                return modal && modal->isVisible();
            },
            5000);
        if (seen)
            *seen = up;
        if (up)
            act(modal);
    });
}

// A search result with a plain list of its records beside it; list is null
// when the search failed.
struct Found
{
    explicit Found(std::unique_ptr<NivletRecords> found) : records(std::move(found))
    {
        if (!records)
            return;
        for (const std::unique_ptr<Nivlet> &n : *records)
            view.append(n.get());
        list = &view;
    }
    std::unique_ptr<NivletRecords> records;
    QList<Nivlet *> view;
    QList<Nivlet *> *list = nullptr;
};

} // namespace TestSupport

// What a test sets in the store where no operation of the store would: the
// nivlet asked last, a list that must be reloaded although nothing changed,
// and an options cache to be read afresh.
class NivletCoreTestAccess
{
public:
    static void setLastAskedId(NivletCore &core, qint64 id);
    static void markActiveListStale(NivletCore &core);
    static void forgetOptions(NivletCore &core);
};

#define NIVLETS_REQUIRE_TEST_DISPLAY()                                                             \
    do {                                                                                           \
        if (!TestSupport::onTestDisplay())                                                         \
            QSKIP("This test sends real clicks and keys; it runs only on the X server that "       \
                  "scripts/test.sh starts (NIVLETS_TEST_DISPLAY must equal DISPLAY).");            \
    } while (false)

#endif
