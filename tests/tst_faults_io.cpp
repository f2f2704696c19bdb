// Failing and full disks: an injected write, sync or journal-deletion error
// at every point of every change of the store and of a long book deletion, and
// a read error at every point of opening.

#include "cardtransfer.h"
#include "faultalloc.h"
#include "faultharness.h"
#include "faultvfs.h"
#include "nivletcore.h"

#include <QDir>
#include <QSet>
#include <QTest>

#include <sqlite3.h>

#include <memory>

using namespace FaultHarness;
using namespace TestSupport;

namespace {
// The fixture in a folder of its own, copied afresh for every fault point;
// its file, or nothing when it could not be made.
QString fixtureTemplate(const WorkDir &work)
{
    const QString folder = work.file(QStringLiteral("template"));
    if (!QDir().mkpath(folder) || !createDatabase(folder, QString::fromLatin1(fixtureSql)))
        return QString();
    return QDir(folder).filePath(QStringLiteral("nivlets"));
}
} // namespace

class TstIoFaults : public FaultTest
{
    Q_OBJECT

private slots:
    void ioFaultInEveryChange_data();
    void ioFaultInEveryChange();
    void ioFaultDuringBookDeletion_data();
    void ioFaultDuringBookDeletion();
    void outOfMemoryDuringBookDeletion();
    void outOfMemoryDuringCardImport();

    void readErrorWhileOpening();
};

void TstIoFaults::ioFaultInEveryChange_data()
{
    QTest::addColumn<QString>("op");
    QTest::addColumn<int>("point");
    QTest::addColumn<int>("action");
    QTest::addColumn<int>("code");
    struct Mode
    {
        const char *name;
        FaultVfs::Point point;
        FaultVfs::Action action;
        int code;
    };
    const Mode modes[] = {
        {"disk full once", FaultVfs::Point::Write, FaultVfs::Action::FailOnce, SQLITE_FULL},
        {"write error for good", FaultVfs::Point::Write, FaultVfs::Action::FailFrom,
         SQLITE_IOERR_WRITE},
        {"sync error once", FaultVfs::Point::Sync, FaultVfs::Action::FailOnce, SQLITE_IOERR_FSYNC},
        {"journal delete error", FaultVfs::Point::Delete, FaultVfs::Action::FailOnce,
         SQLITE_IOERR_DELETE},
    };
    for (const Mode &m : modes) {
        for (const Op &op : ops())
            QTest::newRow(qPrintable(op.name + QLatin1Char(' ') + QLatin1String(m.name)))
                << op.name << static_cast<int>(m.point) << static_cast<int>(m.action) << m.code;
    }
}

void TstIoFaults::ioFaultInEveryChange()
{
    QFETCH(QString, op);
    QFETCH(int, point);
    QFETCH(int, action);
    QFETCH(int, code);
    bool withoutCache = false;
    const Op *change = findOp(op, withoutCache);
    QVERIFY(change);
    const auto faultPoint = static_cast<FaultVfs::Point>(point);

    WorkDir work;
    const QString source = fixtureTemplate(work);
    QVERIFY(!source.isEmpty());
    const QString file = work.file(QStringLiteral("nivlets"));

    int calls = 0;
    {
        QVERIFY(copyTemplate(source, file));
        NivletCore store;
        QVERIFY(store.open());
        QVERIFY(store.options());
        FaultVfs::arm(faultPoint, FaultVfs::Action::Count);
        QVERIFY(change->run(store));
        calls = FaultVfs::count(faultPoint);
        FaultVfs::reset();
    }
    QVERIFY(calls > 0);

    int failed = 0;
    for (int n = 1; n <= calls; ++n) {
        QVERIFY(copyTemplate(source, file));
        auto store = std::make_unique<NivletCore>();
        QVERIFY(store->open());
        QVERIFY(store->options());
        const QString memory = memoryOf(*store);
        bool ok;
        {
            BoxCatcher boxes;
            FaultVfs::arm(faultPoint, static_cast<FaultVfs::Action>(action), n, code);
            ok = change->run(*store);
            FaultVfs::reset();
            if (ok) {
                QVERIFY(boxes.texts.isEmpty());
            } else {
                QCOMPARE(boxes.texts.size(), 1);
                QVERIFY2(boxes.texts.first().startsWith(change->failure +
                                                        QStringLiteral(" error code: ")),
                         qPrintable(boxes.texts.first()));
            }
        }
        // Read through a connection that may write, as a crashed or stuck
        // writer leaves a hot journal that the next reader must roll back.
        const QString probe = Plain(file).value(change->probe);
        if (ok) {
            QVERIFY2(change->changedInMemory(*store), qPrintable(memoryOf(*store)));
            QCOMPARE(probe, change->changed);
        } else if (change->partialInMemory && probe == change->partial) {
            ++failed;
            QVERIFY2(change->partialInMemory(*store), qPrintable(memoryOf(*store)));
        } else {
            ++failed;
            QCOMPARE(memoryOf(*store), memory);
            QCOMPARE(probe, change->unchanged);
            BoxCatcher boxes;
            QVERIFY2(change->run(*store), qPrintable(boxes.texts.join(QLatin1Char('\n'))));
            QVERIFY(change->changedInMemory(*store));
        }
        const QString settled = Plain(file).value(change->probe);
        store.reset();
        Plain plain(file);
        QCOMPARE(plain.value(QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
        QCOMPARE(plain.value(change->probe), settled);
    }
    QVERIFY2(failed > 0, "no injected fault ever made the change fail");
}

namespace {

constexpr int alphaCount = 60;
constexpr int betaCount = 10;
constexpr qint64 betaNivlet = alphaCount + 1;

// Long answers over many pages, so the deletion writes many pages and a
// fault can land in the journal, in the file and in between.
bool makeDeletionFixture(const QString &dir)
{
    return QDir().mkpath(dir) &&
           createDatabase(
               dir,
               QStringLiteral(
                   "INSERT INTO book (id, name, active) VALUES (1, 'Alpha', 1), (2, 'Beta', 1);"
                   "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < %1)"
                   " INSERT INTO nivlet (id, active, kn_rate, book_id, question, answer)"
                   " SELECT i, 1, i / 1000.0, CASE WHEN i <= %2 THEN 1 ELSE 2 END,"
                   " 'question ' || i, printf('%.300c', 'x') || i FROM c;")
                   .arg(alphaCount + betaCount)
                   .arg(alphaCount));
}

} // namespace

void TstIoFaults::ioFaultDuringBookDeletion_data()
{
    QTest::addColumn<int>("point");
    QTest::addColumn<int>("action");
    QTest::addColumn<int>("code");
    using FaultVfs::Action;
    using FaultVfs::Point;
    QTest::newRow("write error once")
        << int(Point::Write) << int(Action::FailOnce) << SQLITE_IOERR_WRITE;
    QTest::newRow("disk full once") << int(Point::Write) << int(Action::FailOnce) << SQLITE_FULL;
    QTest::newRow("disk stays full") << int(Point::Write) << int(Action::FailFrom) << SQLITE_FULL;
    QTest::newRow("sync error once")
        << int(Point::Sync) << int(Action::FailOnce) << SQLITE_IOERR_FSYNC;
    QTest::newRow("sync error for good")
        << int(Point::Sync) << int(Action::FailFrom) << SQLITE_IOERR_FSYNC;
    QTest::newRow("journal delete error")
        << int(Point::Delete) << int(Action::FailOnce) << SQLITE_IOERR_DELETE;
}

void TstIoFaults::ioFaultDuringBookDeletion()
{
    QFETCH(int, point);
    QFETCH(int, action);
    QFETCH(int, code);
    const auto faultPoint = static_cast<FaultVfs::Point>(point);

    WorkDir work;
    const QString templ = work.file(QStringLiteral("template"));
    QVERIFY(makeDeletionFixture(templ));
    const QString source = QDir(templ).filePath(QStringLiteral("nivlets"));
    const QString file = work.file(QStringLiteral("nivlets"));

    int calls = 0;
    {
        QVERIFY(copyTemplate(source, file));
        NivletCore store;
        QVERIFY(store.open());
        FaultVfs::arm(faultPoint, FaultVfs::Action::Count);
        QVERIFY(store.deleteBook(store.findBook(1)));
        calls = FaultVfs::count(faultPoint);
        FaultVfs::reset();
    }
    QVERIFY(calls > 0);

    int failed = 0;
    for (int n = 1; n <= calls + 1; ++n) {
        QVERIFY(copyTemplate(source, file));
        auto store = std::make_unique<NivletCore>();
        QVERIFY(store->open());
        Book *alpha = store->findBook(1);
        const QList<Book *> books = store->books();
        bool ok;
        {
            BoxCatcher boxes;
            FaultVfs::arm(faultPoint, static_cast<FaultVfs::Action>(action), n, code);
            ok = store->deleteBook(alpha);
            FaultVfs::reset();
            if (ok) {
                QVERIFY(boxes.texts.isEmpty());
            } else {
                QCOMPARE(boxes.texts.size(), 1);
                QVERIFY2(boxes.texts.first().startsWith(
                             QStringLiteral("Could not delete book. error code: ")),
                         qPrintable(boxes.texts.first()));
            }
        }
        if (n > calls)
            QVERIFY(ok);
        if (ok) {
            QVERIFY(!store->findBook(1));
            QCOMPARE(store->bookCount(), 1);
        } else {
            ++failed;
            QCOMPARE(store->books(), books);
            QCOMPARE(alpha->nivletCount, alphaCount);
        }
        {
            // The store's own connection sees what its memory says, and runs on.
            BoxCatcher boxes;
            QCOMPARE(store->countNivletsOfBook(1), ok ? 0 : alphaCount);
            QVERIFY(store->setKnowledgeRate(betaNivlet, 0.5));
            QVERIFY2(boxes.texts.isEmpty(), qPrintable(boxes.texts.join(QLatin1Char('\n'))));
        }
        store.reset();
        Plain plain(file);
        QCOMPARE(plain.value(QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
        QCOMPARE(plain.value(QStringLiteral("SELECT count(*) FROM book WHERE id = 1")),
                 ok ? QStringLiteral("0") : QStringLiteral("1"));
        QCOMPARE(plain.value(QStringLiteral("SELECT count(*) FROM nivlet WHERE book_id = 1")),
                 ok ? QStringLiteral("0") : QString::number(alphaCount));
        QCOMPARE(plain.value(QStringLiteral("SELECT count(*) FROM nivlet WHERE book_id = 2")),
                 QString::number(betaCount));
        QCOMPARE(plain.rate(betaNivlet), 0.5);
    }
    QVERIFY(failed > 0);
    qInfo("%d fault points, %d deletions refused and rolled back", calls, failed);
}

// Memory runs out at some allocation of the deletion and stays out until it
// returns: a statement fails, and so may the ROLLBACK after it, which would
// leave the transaction open for every later write to join.
void TstIoFaults::outOfMemoryDuringBookDeletion()
{
    WorkDir work;
    const QString templ = work.file(QStringLiteral("template"));
    QVERIFY(makeDeletionFixture(templ));
    const QString source = QDir(templ).filePath(QStringLiteral("nivlets"));
    const QString file = work.file(QStringLiteral("nivlets"));

    int calls = 0;
    {
        QVERIFY(copyTemplate(source, file));
        NivletCore store;
        QVERIFY(store.open());
        FaultAlloc::count();
        QVERIFY(store.deleteBook(store.findBook(1)));
        calls = FaultAlloc::allocations();
        FaultAlloc::reset();
    }
    QVERIFY(calls > 0);

    const QString rollbackFailure = report(QStringLiteral("Could not roll back the transaction."),
                                           SQLITE_NOMEM, QStringLiteral("out of memory"));
    // Still out of memory, the connection cannot be opened again at once;
    // the next statement opens it.
    const QString reopenFailure = report(QStringLiteral("Could not open database."), SQLITE_NOMEM,
                                         QStringLiteral("out of memory"));
    int failed = 0;
    int rollbacksFailed = 0;
    int reopensFailed = 0;
    for (int n = 1; n <= calls + 1; ++n) {
        QVERIFY(copyTemplate(source, file));
        auto store = std::make_unique<NivletCore>();
        QVERIFY(store->open());
        Book *alpha = store->findBook(1);
        const QList<Book *> books = store->books();
        bool ok;
        {
            BoxCatcher boxes;
            FaultAlloc::failFrom(n);
            ok = store->deleteBook(alpha);
            FaultAlloc::reset();
            if (ok) {
                QVERIFY(boxes.texts.isEmpty());
            } else {
                QCOMPARE(boxes.texts.size(), 1);
                const QString &shown = boxes.texts.first();
                QVERIFY2(shown.startsWith(QStringLiteral("Could not delete book. error code: ")),
                         qPrintable(shown));
                if (shown.contains(rollbackFailure))
                    ++rollbacksFailed;
                if (shown.contains(reopenFailure))
                    ++reopensFailed;
            }
        }
        if (n > calls)
            QVERIFY(ok);
        if (ok) {
            QVERIFY(!store->findBook(1));
        } else {
            ++failed;
            QCOMPARE(store->books(), books);
            QCOMPARE(alpha->nivletCount, alphaCount);
        }
        {
            // A later write reaches the file at once, as another program
            // sees it; the store runs on as its memory says.
            BoxCatcher boxes;
            QVERIFY(store->setKnowledgeRate(betaNivlet, 0.5));
            QCOMPARE(Plain(file).rate(betaNivlet), 0.5);
            QCOMPARE(store->countNivletsOfBook(1), ok ? 0 : alphaCount);
            QVERIFY2(boxes.texts.isEmpty(), qPrintable(boxes.texts.join(QLatin1Char('\n'))));
        }
        store.reset();
        Plain plain(file);
        QCOMPARE(plain.value(QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
        QCOMPARE(plain.value(QStringLiteral("SELECT count(*) FROM nivlet WHERE book_id = 1")),
                 ok ? QStringLiteral("0") : QString::number(alphaCount));
        QCOMPARE(plain.value(QStringLiteral("SELECT count(*) FROM nivlet WHERE book_id = 2")),
                 QString::number(betaCount));
        QCOMPARE(plain.rate(betaNivlet), 0.5);
    }
    QVERIFY(failed > 0);
    QVERIFY(rollbacksFailed > 0);
    QVERIFY(reopensFailed > 0);
    qInfo("%d allocations, %d deletions refused, %d with a failed rollback", calls, failed,
          rollbacksFailed);
}

// The same for an import of cards through a transfer of its own: the insert
// fails, and so may the ROLLBACK after it. The transfer must not keep that
// transaction open, or the file would stay locked for every other program
// while it lives and its next import could not begin.
void TstIoFaults::outOfMemoryDuringCardImport()
{
    WorkDir work;
    const QString source = fixtureTemplate(work);
    QVERIFY(!source.isEmpty());
    const QString file = work.file(QStringLiteral("nivlets"));
    std::vector<Card> cards;
    for (int i = 1; i <= 30; ++i) {
        Card card;
        card.question = "question " + QByteArray::number(i);
        card.answer = "answer " + QByteArray::number(i);
        card.book = i % 3 ? "Alpha" : "Delta";
        card.hasRate = i % 2;
        card.rate = i / 30.0;
        card.line = i;
        cards.push_back(card);
    }
    const QString before = QStringLiteral("5");
    const QString once = QString::number(5 + cards.size());
    const QString twice = QString::number(5 + 2 * cards.size());

    int calls = 0;
    {
        QVERIFY(copyTemplate(source, file));
        CardTransfer transfer(file);
        CardTransfer::Summary summary;
        FaultAlloc::count();
        QVERIFY(transfer.importCards(cards, QString(), false, summary));
        calls = FaultAlloc::allocations();
        FaultAlloc::reset();
    }
    QVERIFY(calls > 0);

    int failed = 0;
    int rollbacksFailed = 0;
    for (int n = 1; n <= calls + 1; ++n) {
        QVERIFY(copyTemplate(source, file));
        CardTransfer transfer(file);
        CardTransfer::Summary summary;
        FaultAlloc::failFrom(n);
        const bool ok = transfer.importCards(cards, QString(), false, summary);
        FaultAlloc::reset();
        if (n > calls)
            QVERIFY(ok);
        if (!ok) {
            ++failed;
            if (transfer.errorText().contains(QLatin1String("could not roll back the import")))
                ++rollbacksFailed;
            Plain other(file);
            QCOMPARE(other.value(QStringLiteral("SELECT count(*) FROM nivlet")), before);
            QCOMPARE(other.exec("BEGIN IMMEDIATE"), SQLITE_OK);
            QCOMPARE(other.exec("ROLLBACK"), SQLITE_OK);
        }
        // With memory to spare again the same transfer imports as if nothing had failed.
        QVERIFY2(transfer.importCards(cards, QString(), false, summary),
                 qPrintable(QStringLiteral("%1 after %2").arg(n).arg(transfer.errorText())));
        Plain after(file);
        QCOMPARE(after.value(QStringLiteral("PRAGMA integrity_check")), QStringLiteral("ok"));
        QCOMPARE(after.value(QStringLiteral("SELECT count(*) FROM nivlet")), ok ? twice : once);
    }
    QVERIFY(failed > 0);
    QVERIFY(rollbacksFailed > 0);
    qInfo("%d allocations, %d imports refused, %d with a failed rollback", calls, failed,
          rollbacksFailed);
}

void TstIoFaults::readErrorWhileOpening()
{
    WorkDir work;
    QVERIFY(createDatabase(
        work.path(),
        QStringLiteral(
            "INSERT INTO book (id, name, active) VALUES (1, 'Alpha', 1), (2, 'Beta', 1);"
            "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < "
            "400) INSERT INTO nivlet (active, kn_rate, book_id, question, answer)"
            " SELECT 1, i / 400.0, 1 + i % 2, 'q' || i, printf('%.100c', 'a') FROM c;")));
    const QByteArray bytes = readBytes(QStringLiteral("nivlets"));
    int reads = 0;
    {
        NivletCore store;
        FaultVfs::arm(FaultVfs::Point::Read, FaultVfs::Action::Count);
        QVERIFY(store.open());
        reads = FaultVfs::count(FaultVfs::Point::Read);
        FaultVfs::reset();
    }
    QVERIFY(reads > 3);
    const QStringList failures = {QStringLiteral("Could not open database."),
                                  QStringLiteral("Could not read books."),
                                  QStringLiteral("Could not count nivlets for a book."),
                                  QStringLiteral("Could not reload active nivlets.")};
    QSet<QString> seen;
    for (int n = 1; n <= reads; ++n) {
        BoxCatcher boxes;
        NivletCore store;
        FaultVfs::arm(FaultVfs::Point::Read, FaultVfs::Action::FailOnce, n, SQLITE_IOERR_READ);
        const bool ok = store.open();
        FaultVfs::reset();
        if (ok) {
            QVERIFY(boxes.texts.isEmpty());
            QCOMPARE(store.totalNivletCount(), 400);
            QCOMPARE(store.activeNivletCount(), 400);
            continue;
        }
        QCOMPARE(boxes.texts.size(), 1);
        const QString failure = boxes.texts.first().section(QLatin1String(" error code: "), 0, 0);
        QVERIFY2(failures.contains(failure), qPrintable(boxes.texts.first()));
        seen.insert(failure);
        QVERIFY(store.activeList()->nivlets().isEmpty());
        QVERIFY(store.activeListStale());
        QCOMPARE(readBytes(QStringLiteral("nivlets")), bytes);
    }
    QVERIFY2(seen.size() >= 2, qPrintable(QStringList(seen.values()).join(QLatin1Char(','))));
}

NIVLETS_FAULT_TEST_MAIN(TstIoFaults)

#include "tst_faults_io.moc"
