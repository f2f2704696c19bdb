#ifndef BACKUPS_H
#define BACKUPS_H

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <sqlite3.h>

// Copies of the database in a folder of their own, named after the moment
// they were made ("nivlets-2026-12-08_09-05-00"). Each is made from the open
// connection with SQLite's online backup API, so it is a whole database of
// one moment even while the file is in use; a copy is written under a
// temporary name and renamed only when it is complete. Only the newest
// `kept` copies stay.
class Backups
{
public:
    static constexpr int kept = 10;
    static constexpr qint64 maxAgeSeconds = 24 * 60 * 60;

    explicit Backups(const QString &folder);

    // The backups' file names, oldest first.
    QStringList files() const;
    // True when there is no backup or the newest is more than a day old.
    bool isDue(const QDateTime &now) const;
    // Copies the main database of db; false with errorText() on failure.
    bool make(sqlite3 *db, const QDateTime &now);
    QString errorText() const { return failure; }

    // The moment a backup's name tells, invalid for other names.
    static QDateTime timeOf(const QString &fileName);

private:
    bool fail(const QString &text);
    QString newName(const QDateTime &now) const;

    QString folder;
    QString failure;
};

#endif
