#include "backups.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>

namespace {

const QString stampFormat = QStringLiteral("yyyy-MM-dd_HH-mm-ss");
const QString partialSuffix = QStringLiteral(".partial");

// A second backup within the same second gets "-2", "-3" and so on.
const QRegularExpression &namePattern()
{
    static const QRegularExpression pattern(
        QStringLiteral("^nivlets-(\\d{4}-\\d{2}-\\d{2}_\\d{2}-\\d{2}-\\d{2})(?:-(\\d{1,6}))?$"));
    return pattern;
}

} // namespace

Backups::Backups(const QString &folder) : folder(folder) {}

bool Backups::fail(const QString &text)
{
    failure = text;
    return false;
}

QDateTime Backups::timeOf(const QString &fileName)
{
    const QRegularExpressionMatch match = namePattern().match(fileName);
    if (!match.hasMatch())
        return QDateTime();
    return QDateTime::fromString(match.captured(1), stampFormat);
}

QStringList Backups::files() const
{
    struct Entry
    {
        QString name;
        QString stamp;
        int number;
    };
    std::vector<Entry> entries;
    const QStringList names =
        QDir(folder).entryList({QStringLiteral("nivlets-*")}, QDir::Files | QDir::Hidden);
    for (const QString &name : names) {
        const QRegularExpressionMatch match = namePattern().match(name);
        if (match.hasMatch())
            entries.push_back({name, match.captured(1), match.captured(2).toInt()});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) {
        return a.stamp != b.stamp ? a.stamp < b.stamp : a.number < b.number;
    });
    QStringList result;
    for (const Entry &e : entries)
        result.append(e.name);
    return result;
}

bool Backups::isDue(const QDateTime &now) const
{
    const QStringList all = files();
    if (all.isEmpty())
        return true;
    return timeOf(all.last()).secsTo(now) > maxAgeSeconds;
}

QString Backups::newName(const QDateTime &now) const
{
    const QString base = QStringLiteral("nivlets-") + now.toString(stampFormat);
    const QDir dir(folder);
    QString name = base;
    for (int n = 2; dir.exists(name) || dir.exists(name + partialSuffix); ++n)
        name = base + QStringLiteral("-%1").arg(n);
    return name;
}

bool Backups::make(sqlite3 *db, const QDateTime &now)
{
    failure.clear();
    if (!db)
        return fail(QStringLiteral("the database is not open"));
    QDir dir(folder);
    if (!dir.mkpath(QStringLiteral(".")))
        return fail(QStringLiteral("could not create the folder %1").arg(dir.absolutePath()));
    // Left by a run that was killed while copying: never a whole backup.
    const QStringList leftovers =
        dir.entryList({QStringLiteral("nivlets-*") + partialSuffix}, QDir::Files | QDir::Hidden);
    for (const QString &name : leftovers)
        dir.remove(name);

    const QString name = newName(now);
    const QString partial = dir.filePath(name + partialSuffix);
    sqlite3 *copy = nullptr;
    int rc = sqlite3_open_v2(QFile::encodeName(partial).constData(), &copy,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    QString reason;
    if (rc == SQLITE_OK) {
        sqlite3_backup *backup = sqlite3_backup_init(copy, "main", db, "main");
        if (backup) {
            rc = sqlite3_backup_step(backup, -1);
            sqlite3_backup_finish(backup);
            if (rc != SQLITE_DONE)
                reason = QString::fromUtf8(sqlite3_errstr(rc));
            else if (sqlite3_errcode(copy) != SQLITE_OK)
                reason = QString::fromUtf8(sqlite3_errmsg(copy));
        } else {
            reason = QString::fromUtf8(sqlite3_errmsg(copy));
        }
    } else {
        reason = QString::fromUtf8(sqlite3_errstr(rc));
    }
    if (sqlite3_close(copy) != SQLITE_OK && reason.isEmpty())
        reason = QStringLiteral("the copy could not be closed");
    if (!reason.isEmpty()) {
        QFile::remove(partial);
        return fail(QStringLiteral("could not write %1: %2").arg(partial, reason));
    }
    if (!QFile::rename(partial, dir.filePath(name))) {
        QFile::remove(partial);
        return fail(QStringLiteral("could not rename %1 to %2").arg(partial, name));
    }

    QStringList all = files();
    while (all.size() > kept) {
        const QString oldest = all.takeFirst();
        if (!dir.remove(oldest))
            return fail(
                QStringLiteral("could not remove the old backup %1").arg(dir.filePath(oldest)));
    }
    return true;
}
