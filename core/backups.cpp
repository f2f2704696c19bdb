#include "backups.h"

#include <QDir>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

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

const QString backupPrefix = QStringLiteral("nivlets-");
const QString historyPrefix = QStringLiteral("nivlets-history-");

bool taken(const QDir &dir, const QString &name)
{
    const QString history = Backups::historyName(name);
    return dir.exists(name) || dir.exists(name + partialSuffix) || dir.exists(history) ||
           dir.exists(history + partialSuffix);
}

QString newName(const QDir &dir, const QDateTime &now)
{
    const QString base = backupPrefix + now.toString(stampFormat);
    QString name = base;
    for (int n = 2; taken(dir, name); ++n)
        name = base + QStringLiteral("-%1").arg(n);
    return name;
}

} // namespace

Backups::Backups(const QString &path) : folder(path) {}

QString Backups::historyName(const QString &backupName)
{
    return historyPrefix + backupName.mid(backupPrefix.size());
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
    // Each backup by its own age: one dated after now, made while the clock
    // was wrong, is no fresh backup, or it would put off every backup until
    // its date came.
    const QStringList all = files();
    return std::none_of(all.cbegin(), all.cend(), [&now](const QString &name) {
        const qint64 age = timeOf(name).secsTo(now);
        return age >= 0 && age <= maxAgeSeconds;
    });
}

bool Backups::prune()
{
    failure.clear();
    const QDir dir(folder);
    QStringList all = files();
    while (all.size() > kept) {
        const QString oldest = all.takeFirst();
        for (const QString &name : {oldest, historyName(oldest)}) {
            if (dir.exists(name) && !QFile::remove(dir.filePath(name))) {
                failure =
                    QStringLiteral("could not remove the old backup %1").arg(dir.filePath(name));
                return false;
            }
        }
    }
    return true;
}

BackupCopy::BackupCopy(sqlite3 *db, const QString &into, const QDateTime &now, sqlite3 *historyDb)
    : folder(into), withHistory(historyDb != nullptr)
{
    if (!db) {
        failure = QStringLiteral("the database is not open");
        current = State::Failed;
        return;
    }
    QDir dir(folder);
    if (!dir.mkpath(QStringLiteral("."))) {
        failure = QStringLiteral("could not create the folder %1").arg(dir.absolutePath());
        current = State::Failed;
        return;
    }
    // Left by a run that was killed while copying: never a whole backup.
    const QStringList leftovers =
        dir.entryList({QStringLiteral("nivlets-*") + partialSuffix}, QDir::Files | QDir::Hidden);
    for (const QString &leftover : leftovers)
        dir.remove(leftover);

    cards.name = newName(dir, now);
    if (!cards.begin(db, dir.filePath(cards.name + partialSuffix))) {
        fail(cards.failure);
        return;
    }
    history.name = Backups::historyName(cards.name);
    if (withHistory && !history.begin(historyDb, dir.filePath(history.name + partialSuffix)))
        fail(history.failure);
}

bool BackupCopy::Piece::begin(sqlite3 *source, const QString &partialName)
{
    partial = partialName;
    int rc = sqlite3_open_v2(QFile::encodeName(partial).constData(), &copy,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    // No journal, since a copy that fails is removed anyway, and no syncs
    // inside SQLite: the pages are written out as the copy goes (see step).
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(copy, "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF", nullptr,
                          nullptr, nullptr);
    if (rc != SQLITE_OK) {
        failure = QStringLiteral("could not write %1: %2")
                      .arg(partial, copy ? QString::fromUtf8(sqlite3_errmsg(copy))
                                         : QString::fromUtf8(sqlite3_errstr(rc)));
        return false;
    }
    written.setFileName(partial);
    if (!written.open(QIODevice::ReadOnly)) {
        failure = QStringLiteral("could not write %1: %2").arg(partial, written.errorString());
        return false;
    }
    backup = sqlite3_backup_init(copy, "main", source, "main");
    if (!backup) {
        failure = QStringLiteral("could not write %1: %2")
                      .arg(partial, QString::fromUtf8(sqlite3_errmsg(copy)));
        return false;
    }
    return true;
}

int BackupCopy::Piece::step(int pages)
{
    const int rc = sqlite3_backup_step(backup, pages);
    total = sqlite3_backup_pagecount(backup);
    left = sqlite3_backup_remaining(backup);
    if (rc == SQLITE_OK) {
        // Starts the writing of what the step copied and returns at once,
        // so that the sync at the end finds little left: a sync of the
        // whole file would hold the event loop for as long as the disk needs.
        ::sync_file_range(written.handle(), 0, 0, SYNC_FILE_RANGE_WRITE);
    } else if (rc != SQLITE_DONE) {
        failure = QStringLiteral("could not write %1: %2")
                      .arg(partial, QString::fromUtf8(sqlite3_errstr(rc)));
    }
    return rc;
}

void BackupCopy::Piece::release()
{
    if (backup) {
        sqlite3_backup_finish(backup);
        backup = nullptr;
    }
    if (copy) {
        sqlite3_close(copy);
        copy = nullptr;
    }
    written.close();
}

QString BackupCopy::Piece::finish()
{
    const int rc = sqlite3_backup_finish(backup);
    backup = nullptr;
    if (rc != SQLITE_OK)
        return QStringLiteral("could not write %1: %2")
            .arg(partial, QString::fromUtf8(sqlite3_errstr(rc)));
    const int closed = sqlite3_close(copy);
    copy = nullptr;
    if (closed != SQLITE_OK)
        return QStringLiteral("could not write %1: the copy could not be closed").arg(partial);
    if (::fdatasync(written.handle()) != 0)
        return QStringLiteral("could not write %1: %2")
            .arg(partial, QString::fromLocal8Bit(std::strerror(errno)));
    written.close();
    return QString();
}

BackupCopy::~BackupCopy()
{
    if (current == State::Copying) {
        cards.release();
        history.release();
    }
    for (const Piece *piece : {&cards, &history}) {
        if (!piece->partial.isEmpty())
            QFile::remove(piece->partial);
    }
}

void BackupCopy::fail(const QString &text)
{
    cards.release();
    history.release();
    for (const Piece *piece : {&cards, &history}) {
        if (!piece->partial.isEmpty())
            QFile::remove(piece->partial);
    }
    failure = text;
    current = State::Failed;
}

BackupCopy::State BackupCopy::step(int pages)
{
    if (current != State::Copying)
        return current;
    // The history's last page waits for the database's: until then a step
    // leaves one, and the changes made meanwhile come along as SQLite
    // passes them on.
    if (withHistory && (history.total == 0 || history.left > 1)) {
        const int shortOfEnd = history.total == 0 ? 0 : history.left - 1;
        const int n = pages < 0 ? shortOfEnd : std::min(pages, shortOfEnd);
        if (history.step(n) != SQLITE_OK) {
            fail(history.failure.isEmpty()
                     ? QStringLiteral("the history was copied before the database")
                     : history.failure);
            return current;
        }
    }
    const int rc = cards.step(pages);
    if (rc == SQLITE_OK)
        return current;
    if (rc != SQLITE_DONE) {
        fail(cards.failure);
        return current;
    }
    if (withHistory && history.step(-1) != SQLITE_DONE) {
        fail(history.failure);
        return current;
    }
    complete();
    return current;
}

void BackupCopy::complete()
{
    if (!completePiece(cards) || (withHistory && !completePiece(history)))
        return;
    current = State::Done;
    Backups backups(folder);
    if (!backups.prune()) {
        failure = backups.errorText();
        current = State::Failed;
    }
}

bool BackupCopy::completePiece(Piece &piece)
{
    const QString text = piece.finish();
    if (!text.isEmpty()) {
        fail(text);
        return false;
    }
    const QDir dir(folder);
    if (!QFile::rename(piece.partial, dir.filePath(piece.name))) {
        const QString from = piece.partial;
        fail(QStringLiteral("could not rename %1 to %2").arg(from, piece.name));
        return false;
    }
    piece.partial.clear();
    return true;
}
