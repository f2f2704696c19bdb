#include "knrate.h"
#include "nivletcore.h"
#include "rankselector.h"
#include "testsupport.h"

#include <QSet>
#include <QTest>

#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <thread>
#include <vector>

namespace {
// The band rule worked out from scratch: bands of 1, 2, 4, ... positions,
// the last band taking every remaining position, each band equally likely.
int expectedBands(int n)
{
    if (n <= 2)
        return 1;
    int k = 0;
    while ((2LL << k) <= n + 1)
        ++k;
    return k;
}

std::vector<double> expectedProbabilities(int n)
{
    const int k = expectedBands(n);
    std::vector<double> p(n);
    int position = 0;
    for (int band = 0; band < k; ++band) {
        const int width = band < k - 1 ? (1 << band) : n - position;
        for (int i = 0; i < width; ++i)
            p[position + i] = 1.0 / k / width;
        position += width;
    }
    return p;
}

QString nivletRows(int count, const char *bookActive = "1")
{
    QString sql = QStringLiteral("INSERT INTO book (id, name, active) VALUES (1, 'Words', %1);\n")
                      .arg(QLatin1String(bookActive));
    for (int i = 1; i <= count; ++i)
        sql += QStringLiteral("INSERT INTO nivlet (id, active, kn_rate, book_id, question, answer) "
                              "VALUES (%1, 1, %2, 1, 'Q%1', 'A%1');\n")
                   .arg(i)
                   .arg(0.1 * i);
    return sql;
}
} // namespace

class TestSelection : public QObject
{
    Q_OBJECT

private slots:
    void expectedProbabilitiesMatchTheTable();
    void pickFollowsTheBands_data();
    void pickFollowsTheBands();
    void bandCountForEverySize();
    void resetSetsTheSize();
    void randomIndexOfZeroAndOneDoesNotDraw();
    void randomIndexOfTwoGivesBothValues();
    void randomIndexCombinesTwoDraws();
    void randomDrawRange();
    void seedingRepeatsTheDraws();
    void rateAfterAnswers();
    void rateText_data();
    void rateText();
    void rateTextOutOfRange();

    void nextNivletNeverRepeats_data();
    void nextNivletNeverRepeats();
    void nextNivletWithOneNivlet();
    void nextNivletWithRepeatedIds_data();
    void nextNivletWithRepeatedIds();
    void nextNivletPrefersLowRates();
    void pendingNivletComesFirst();
    void pendingNivletOtherThanTheLast();
    void emptyActiveListGivesNull();
    void emptiedActiveListKeepsLastAsked();
    void reloadClearsPendingAndKeepsLastAsked();
    void randomActiveNivletLeavesTheState();
    void openResetsTheState();
};

void TestSelection::expectedProbabilitiesMatchTheTable()
{
    auto check = [](int n, int position, double value) {
        return std::abs(expectedProbabilities(n).at(position) - value) < 1e-12;
    };
    QVERIFY(check(1, 0, 1.0));
    QVERIFY(check(2, 0, 0.5) && check(2, 1, 0.5));
    QVERIFY(check(3, 0, 0.5) && check(3, 1, 0.25) && check(3, 2, 0.25));
    QVERIFY(check(4, 0, 0.5) && check(4, 1, 1.0 / 6) && check(4, 3, 1.0 / 6));
    QVERIFY(check(6, 0, 0.5) && check(6, 5, 0.1));
    QVERIFY(check(7, 0, 1.0 / 3) && check(7, 2, 1.0 / 6) && check(7, 3, 1.0 / 12) &&
            check(7, 6, 1.0 / 12));
    QVERIFY(check(14, 0, 1.0 / 3) && check(14, 1, 1.0 / 6) && check(14, 3, 1.0 / 33) &&
            check(14, 13, 1.0 / 33));
    QVERIFY(check(15, 0, 0.25) && check(15, 2, 0.125) && check(15, 3, 1.0 / 16) &&
            check(15, 6, 1.0 / 16) && check(15, 7, 1.0 / 32) && check(15, 14, 1.0 / 32));
    QVERIFY(check(100, 0, 1.0 / 6) && check(100, 2, 1.0 / 12) && check(100, 6, 1.0 / 24) &&
            check(100, 14, 1.0 / 48) && check(100, 15, 1.0 / 96) && check(100, 30, 1.0 / 96) &&
            check(100, 31, 1.0 / 414) && check(100, 99, 1.0 / 414));
    for (int n = 1; n <= 200; ++n) {
        double sum = 0.0;
        for (double p : expectedProbabilities(n))
            sum += p;
        QVERIFY(std::abs(sum - 1.0) < 1e-9);
    }
}

void TestSelection::pickFollowsTheBands_data()
{
    QTest::addColumn<int>("size");
    for (int n : {1, 2, 3, 4, 7, 14, 15, 100})
        QTest::newRow(qPrintable(QString::number(n))) << n;
}

void TestSelection::pickFollowsTheBands()
{
    QFETCH(int, size);
    RankSelector selector;
    selector.reset(size);
    seedRandom(1000u + static_cast<unsigned int>(size));
    const int draws = 200000;
    std::vector<int> counts(size, 0);
    for (int i = 0; i < draws; ++i) {
        const int position = selector.pick();
        QVERIFY(position >= 0 && position < size);
        ++counts[position];
    }
    const std::vector<double> expected = expectedProbabilities(size);
    for (int position = 0; position < size; ++position) {
        const double p = expected[position];
        const double mean = draws * p;
        // Six standard deviations of the binomial count, and at least one draw.
        const double tolerance = std::max(1.0, 6.0 * std::sqrt(draws * p * (1.0 - p)));
        QVERIFY2(std::abs(counts[position] - mean) <= tolerance,
                 qPrintable(QStringLiteral("position %1: %2 draws, %3 expected")
                                .arg(position)
                                .arg(counts[position])
                                .arg(mean)));
    }
}

void TestSelection::bandCountForEverySize()
{
    for (int n = 0; n <= 200; ++n) {
        RankSelector selector;
        selector.reset(n);
        const int expected = n <= 2 ? 1 : static_cast<int>(std::floor(std::log2(n + 1.0)));
        QVERIFY2(selector.bandCount == expected, qPrintable(QString::number(n)));
        QCOMPARE(selector.bandCount, expectedBands(n));
    }
    RankSelector selector;
    for (auto [n, k] : {std::pair{3, 2},
                        {6, 2},
                        {7, 3},
                        {14, 3},
                        {15, 4},
                        {30, 4},
                        {31, 5},
                        {100, 6},
                        {1000000, 19}}) {
        selector.reset(n);
        QCOMPARE(selector.bandCount, k);
    }
}

void TestSelection::resetSetsTheSize()
{
    RankSelector selector;
    QCOMPARE(selector.size, 0);
    QCOMPARE(selector.bandCount, 1);
    selector.reset(40);
    QCOMPARE(selector.size, 40);
    selector.reset(0);
    QCOMPARE(selector.size, 0);
    QCOMPARE(selector.bandCount, 1);
}

void TestSelection::randomIndexOfZeroAndOneDoesNotDraw()
{
    seedRandom(99);
    QCOMPARE(randomIndex(0), 0);
    QCOMPARE(randomIndex(1), 0);
    QCOMPARE(randomIndex(-5), 0);
    const int first = randomDraw();
    seedRandom(99);
    QCOMPARE(first, randomDraw());

    RankSelector selector;
    selector.reset(1);
    seedRandom(7);
    for (int i = 0; i < 20; ++i)
        QCOMPARE(selector.pick(), 0);
    const int afterPicks = randomDraw();
    seedRandom(7);
    QCOMPARE(afterPicks, randomDraw());
}

void TestSelection::randomIndexOfTwoGivesBothValues()
{
    seedRandom(12345);
    int counts[2] = {0, 0};
    for (int i = 0; i < 2000; ++i) {
        const int v = randomIndex(2);
        QVERIFY(v == 0 || v == 1);
        ++counts[v];
    }
    QVERIFY(counts[0] > 800);
    QVERIFY(counts[1] > 800);
}

void TestSelection::randomIndexCombinesTwoDraws()
{
    for (int n : {2, 3, 10, 1000, 32768, 1 << 20, std::numeric_limits<int>::max()}) {
        seedRandom(static_cast<unsigned int>(n));
        const int v = randomIndex(n);
        const int next = randomDraw();
        seedRandom(static_cast<unsigned int>(n));
        const qint64 high = randomDraw();
        const qint64 low = randomDraw();
        QCOMPARE(qint64(v), (high * 32768 + low) % n);
        QCOMPARE(next, randomDraw());
    }
}

void TestSelection::randomDrawRange()
{
    seedRandom(1);
    int lowest = 32767;
    int highest = 0;
    for (int i = 0; i < 100000; ++i) {
        const int v = randomDraw();
        QVERIFY(v >= 0 && v <= 32767);
        lowest = std::min(lowest, v);
        highest = std::max(highest, v);
    }
    QVERIFY(lowest < 50);
    QVERIFY(highest > 32717);
}

void TestSelection::seedingRepeatsTheDraws()
{
    seedRandom(4242);
    QList<int> first;
    for (int i = 0; i < 50; ++i)
        first.append(randomIndex(1000));
    seedRandom(4242);
    QList<int> second;
    for (int i = 0; i < 50; ++i)
        second.append(randomIndex(1000));
    QCOMPARE(first, second);
    seedRandom(4243);
    QList<int> other;
    for (int i = 0; i < 50; ++i)
        other.append(randomIndex(1000));
    QVERIFY(first != other);
}

void TestSelection::rateAfterAnswers()
{
    QCOMPARE(knRateAfterCorrect(0.0), 0.5);
    QCOMPARE(knRateAfterCorrect(0.5), 0.75);
    QCOMPARE(knRateAfterIncorrect(0.75), 0.375);
    QCOMPARE(knRateAfterIncorrect(0.0), 0.0);
    QCOMPARE(knRateAfterIncorrect(0.8), 0.4);
    double rate = 0.0;
    const double sequence[] = {0.5, 0.75, 0.875, 0.9375};
    for (double expected : sequence) {
        rate = knRateAfterCorrect(rate);
        QCOMPARE(rate, expected);
    }
    // No clamping: values outside the range move by the same rules.
    QCOMPARE(knRateAfterCorrect(3.0), 2.0);
    QCOMPARE(knRateAfterIncorrect(-1.0), -0.5);
    rate = 1.0;
    for (int i = 0; i < 2000; ++i) {
        rate = i % 3 ? knRateAfterCorrect(rate) : knRateAfterIncorrect(rate);
        QVERIFY(rate >= 0.0 && rate <= 1.0);
    }
}

void TestSelection::rateText_data()
{
    QTest::addColumn<double>("rate");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0.0 << QStringLiteral("0%");
    QTest::newRow("0.125") << 0.125 << QStringLiteral("13%");
    QTest::newRow("0.375") << 0.375 << QStringLiteral("38%");
    QTest::newRow("0.5") << 0.5 << QStringLiteral("50%");
    QTest::newRow("0.875") << 0.875 << QStringLiteral("88%");
    QTest::newRow("1") << 1.0 << QStringLiteral("100%");
    QTest::newRow("0.004") << 0.004 << QStringLiteral("0%");
    QTest::newRow("0.005") << 0.005 << QStringLiteral("1%");
    QTest::newRow("0.0625") << 0.0625 << QStringLiteral("6%");
    QTest::newRow("0.9375") << 0.9375 << QStringLiteral("94%");
    QTest::newRow("0.994") << 0.994 << QStringLiteral("99%");
    QTest::newRow("0.999") << 0.999 << QStringLiteral("100%");
}

void TestSelection::rateText()
{
    QFETCH(double, rate);
    QFETCH(QString, text);
    QCOMPARE(knRateText(rate), text);
}

void TestSelection::rateTextOutOfRange()
{
    QCOMPARE(knRateText(std::numeric_limits<double>::quiet_NaN()), QStringLiteral("0%"));
    QCOMPARE(knRateText(7.5), QStringLiteral("100%"));
    QCOMPARE(knRateText(1.0000001), QStringLiteral("100%"));
    QCOMPARE(knRateText(-0.3), QStringLiteral("0%"));
    QCOMPARE(knRateText(std::numeric_limits<double>::infinity()), QStringLiteral("100%"));
    QCOMPARE(knRateText(-std::numeric_limits<double>::infinity()), QStringLiteral("0%"));
    QCOMPARE(saneKnRate(std::numeric_limits<double>::quiet_NaN()), 0.0);
    QCOMPARE(saneKnRate(7.5), 1.0);
    QCOMPARE(saneKnRate(-2.0), 0.0);
    QCOMPARE(saneKnRate(0.25), 0.25);
}

void TestSelection::nextNivletNeverRepeats_data()
{
    QTest::addColumn<int>("count");
    QTest::newRow("2") << 2;
    QTest::newRow("3") << 3;
    QTest::newRow("8") << 8;
}

void TestSelection::nextNivletNeverRepeats()
{
    QFETCH(int, count);
    TestSupport::WorkDir work;
    QVERIFY(TestSupport::createDatabase(work.path(), nivletRows(count)));
    NivletCore core;
    QVERIFY(core.open());
    QCOMPARE(core.activeList()->nivlets().size(), count);
    seedRandom(31);
    QSet<qint64> seen;
    qint64 previous = -1;
    for (int i = 0; i < 3000; ++i) {
        Nivlet *n = core.nextNivlet();
        QVERIFY(n);
        QVERIFY(core.activeList()->nivlets().contains(n));
        QVERIFY(n->id != previous);
        QCOMPARE(core.lastAskedId(), n->id);
        QVERIFY(!core.pendingNivlet());
        previous = n->id;
        seen.insert(n->id);
    }
    QCOMPARE(seen.size(), count);
}

void TestSelection::nextNivletWithOneNivlet()
{
    TestSupport::WorkDir work;
    QVERIFY(TestSupport::createDatabase(work.path(), nivletRows(1)));
    NivletCore core;
    QVERIFY(core.open());
    seedRandom(2);
    QCOMPARE(core.activeList()->nivlets().size(), 1);
    Nivlet *only = core.activeList()->nivlets().at(0);
    for (int i = 0; i < 20; ++i) {
        QCOMPARE(core.nextNivlet(), only);
        QCOMPARE(core.lastAskedId(), only->id);
    }
}

void TestSelection::nextNivletWithRepeatedIds_data()
{
    QTest::addColumn<QString>("rows");
    QTest::addColumn<QList<qint64>>("ids");
    QTest::newRow("one id twice") << QStringLiteral("(7, 0.1), (7, 0.2)") << QList<qint64>{7};
    QTest::newRow("two null ids") << QStringLiteral("(NULL, 0.1), (NULL, 0.2)") << QList<qint64>{0};
    QTest::newRow("a third id") << QStringLiteral("(7, 0.1), (7, 0.2), (7, 0.3), (8, 0.9)")
                                << QList<qint64>{7, 8};
}

// A hand-made file whose id is an ordinary column may repeat an id, so
// "another id than the last" may not exist at all.
void TestSelection::nextNivletWithRepeatedIds()
{
    QFETCH(QString, rows);
    QFETCH(QList<qint64>, ids);
    TestSupport::WorkDir work;
    QVERIFY(TestSupport::createDatabase(
        work.path(),
        QStringLiteral("DROP TABLE nivlet;"
                       "CREATE TABLE nivlet (id INTEGER, active INTEGER, kn_rate REAL, "
                       "book_id INTEGER, question TEXT, answer TEXT);"
                       "INSERT INTO book (id, name, active) VALUES (1, 'Words', 1);"
                       "INSERT INTO nivlet (id, kn_rate, active, book_id, question, answer) "
                       "SELECT column1, column2, 1, 1, 'q', 'a' FROM (VALUES %1);")
            .arg(rows)));
    NivletCore core;
    QVERIFY(core.open());
    QVERIFY(core.activeList()->nivlets().size() >= 2);
    seedRandom(5);
    std::atomic<bool> returned = false;
    // A draw that never ends would hang the test; it ends it with a message.
    std::thread watchdog([&returned] {
        for (int i = 0; i < 500 && !returned; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (!returned)
            qFatal("nextNivlet did not return within 10 s");
    });
    QList<qint64> asked;
    for (int i = 0; i < 200; ++i) {
        Nivlet *n = core.nextNivlet();
        if (!n)
            break;
        asked << n->id;
    }
    returned = true;
    watchdog.join();
    QCOMPARE(asked.size(), 200);
    for (int i = 1; i < asked.size(); ++i) {
        QVERIFY(ids.contains(asked.at(i)));
        // Where another id exists it still comes next.
        if (ids.size() > 1)
            QVERIFY(asked.at(i) != asked.at(i - 1));
    }
}

void TestSelection::nextNivletPrefersLowRates()
{
    TestSupport::WorkDir work;
    QVERIFY(TestSupport::createDatabase(
        work.path(), QStringLiteral("INSERT INTO book (id, name, active) VALUES (1, 'B', 1);"
                                    "INSERT INTO nivlet (id, kn_rate, book_id, question, answer) "
                                    "VALUES (1, 0.9, 1, 'q', 'a'), (2, 0.1, 1, 'q', 'a'), "
                                    "(3, 0.5, 1, 'q', 'a');")));
    NivletCore core;
    QVERIFY(core.open());
    QCOMPARE(core.activeList()->nivlets().at(0)->id, qint64(2));
    QCOMPARE(core.activeList()->nivlets().at(1)->id, qint64(3));
    QCOMPARE(core.activeList()->nivlets().at(2)->id, qint64(1));
    seedRandom(8);
    const int draws = 20000;
    int lowest = 0;
    for (int i = 0; i < draws; ++i) {
        NivletCoreTestAccess::setLastAskedId(core, -1);
        if (core.nextNivlet()->id == 2)
            ++lowest;
    }
    QVERIFY2(std::abs(lowest - draws / 2) < 6 * std::sqrt(draws * 0.25),
             qPrintable(QString::number(lowest)));
}

void TestSelection::pendingNivletComesFirst()
{
    TestSupport::WorkDir work;
    QVERIFY(TestSupport::createDatabase(work.path(), nivletRows(4)));
    NivletCore core;
    QVERIFY(core.open());
    seedRandom(5);
    for (int i = 0; i < 50; ++i) {
        Nivlet *asked = core.nextNivlet();
        core.setPendingNivlet(asked);
        QCOMPARE(core.pendingNivlet(), asked);
        QCOMPARE(core.nextNivlet(), asked);
        QCOMPARE(core.lastAskedId(), asked->id);
        QVERIFY(!core.pendingNivlet());
        QVERIFY(core.nextNivlet() != asked);
    }
}

void TestSelection::pendingNivletOtherThanTheLast()
{
    TestSupport::WorkDir work;
    QVERIFY(TestSupport::createDatabase(work.path(), nivletRows(5)));
    NivletCore core;
    QVERIFY(core.open());
    seedRandom(6);
    Nivlet *asked = core.nextNivlet();
    Nivlet *other =
        core.activeList()->nivlets().at(core.activeList()->nivlets().at(0) == asked ? 1 : 0);
    core.setPendingNivlet(other);
    QCOMPARE(core.nextNivlet(), other);
    QCOMPARE(core.lastAskedId(), other->id);
}

void TestSelection::emptyActiveListGivesNull()
{
    TestSupport::WorkDir work;
    QVERIFY(TestSupport::createDatabase(work.path(), nivletRows(3, "0")));
    NivletCore core;
    QVERIFY(core.open());
    QVERIFY(core.activeList()->nivlets().isEmpty());
    seedRandom(9);
    QVERIFY(!core.nextNivlet());
    QCOMPARE(core.lastAskedId(), qint64(-1));
    QVERIFY(!core.pendingNivlet());
    QVERIFY(!core.nextNivlet());
    QCOMPARE(core.lastAskedId(), qint64(-1));
    const int afterCalls = randomDraw();
    seedRandom(9);
    QCOMPARE(afterCalls, randomDraw());
}

void TestSelection::emptiedActiveListKeepsLastAsked()
{
    TestSupport::WorkDir work;
    QVERIFY(TestSupport::createDatabase(work.path(), nivletRows(3)));
    NivletCore core;
    QVERIFY(core.open());
    seedRandom(10);
    const qint64 asked = core.nextNivlet()->id;
    QVERIFY(TestSupport::execSql(work.file(QStringLiteral("nivlets")),
                                 QStringLiteral("UPDATE nivlet SET active = 0;")));
    QVERIFY(core.reloadActiveNivlets());
    QVERIFY(core.activeList()->nivlets().isEmpty());
    QVERIFY(!core.nextNivlet());
    QCOMPARE(core.lastAskedId(), asked);
}

void TestSelection::reloadClearsPendingAndKeepsLastAsked()
{
    TestSupport::WorkDir work;
    QVERIFY(TestSupport::createDatabase(work.path(), nivletRows(2)));
    NivletCore core;
    QVERIFY(core.open());
    seedRandom(11);
    Nivlet *asked = core.nextNivlet();
    const qint64 askedId = asked->id;
    core.setPendingNivlet(asked);
    QVERIFY(core.reloadActiveNivlets());
    QVERIFY(!core.pendingNivlet());
    QCOMPARE(core.lastAskedId(), askedId);
    for (int i = 0; i < 20; ++i) {
        Nivlet *n = core.nextNivlet();
        QVERIFY(n);
        if (i == 0)
            QVERIFY(n->id != askedId);
    }
}

void TestSelection::randomActiveNivletLeavesTheState()
{
    TestSupport::WorkDir work;
    QVERIFY(TestSupport::createDatabase(work.path(), nivletRows(6)));
    NivletCore core;
    QVERIFY(core.open());
    seedRandom(12);
    Nivlet *asked = core.nextNivlet();
    Nivlet *pending = core.activeList()->nivlets().at(3);
    core.setPendingNivlet(pending);
    for (int i = 0; i < 100; ++i)
        QVERIFY(core.activeList()->nivlets().contains(core.randomActiveNivlet()));
    QCOMPARE(core.lastAskedId(), asked->id);
    QCOMPARE(core.pendingNivlet(), pending);
}

void TestSelection::openResetsTheState()
{
    TestSupport::WorkDir work;
    QVERIFY(TestSupport::createDatabase(work.path(), nivletRows(7)));
    NivletCore core;
    QCOMPARE(core.lastAskedId(), qint64(-1));
    QVERIFY(!core.pendingNivlet());
    QVERIFY(core.open());
    QCOMPARE(core.lastAskedId(), qint64(-1));
    QVERIFY(!core.pendingNivlet());
    QCOMPARE(core.activeList()->selector().size, 7);
    QCOMPARE(core.activeList()->selector().bandCount, 3);
    for (int i = 1; i < core.activeList()->nivlets().size(); ++i)
        QVERIFY(core.activeList()->nivlets().at(i - 1)->knRate <=
                core.activeList()->nivlets().at(i)->knRate);
}

QTEST_MAIN(TestSelection)
#include "tst_selection.moc"
