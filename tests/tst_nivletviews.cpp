#include "book.h"
#include "bookcombobox.h"
#include "knrate.h"
#include "nivlet.h"
#include "nivletcore.h"
#include "nivletstablemodel.h"
#include "nivlettableview.h"
#include "testsupport.h"

#include <QAbstractItemModelTester>
#include <QFont>
#include <QFontMetrics>
#include <QHeaderView>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <new>
#include <utility>

namespace {
// The records a test made and that are not freed yet: the global operator
// delete below takes each freed address out, so a test sees the model free
// what it owns without the records needing anything of their own.
// A fixed array, since the hook must not allocate or free itself.
struct Tracked
{
    void *records[16] = {};
    int size() const
    {
        int n = 0;
        for (void *p : records)
            n += p != nullptr;
        return n;
    }
};
Tracked trackedRecords;
Tracked *alive = &trackedRecords;

Nivlet *counted(qint64 id, bool active, double rate, Book *book, const QString &question)
{
    auto *n = new Nivlet(id, active, rate, book, question, QStringLiteral("answer"));
    for (void *&slot : alive->records) {
        if (!slot) {
            slot = n;
            break;
        }
    }
    return n;
}

std::unique_ptr<NivletRecords> records(std::initializer_list<Nivlet *> list)
{
    auto result = std::make_unique<NivletRecords>();
    for (Nivlet *n : list)
        result->emplace_back(n);
    return result;
}
} // namespace

void *operator new(std::size_t size)
{
    if (void *p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

void operator delete(void *p) noexcept
{
    for (void *&slot : trackedRecords.records) {
        if (slot == p)
            slot = nullptr;
    }
    std::free(p);
}

void operator delete(void *p, std::size_t) noexcept
{
    operator delete(p);
}

namespace {
const char threeBooks[] = "INSERT INTO book (id, name, active) VALUES (1, 'Alpha', 1), "
                          "(2, 'Beta', 0), (3, 'Gamma', 1);\n";

// Minimum widths 70, 120, 60, 50 and 80 with weights 2, 4, 1, 1 and 3.
void addWorkedExampleColumns(NivletTableView &view)
{
    for (auto [width, weight] : {std::pair{70, 2.0}, {120, 4.0}, {60, 1.0}, {50, 1.0}, {80, 3.0}})
        view.addColumn(width, weight);
}
} // namespace

class TestNivletViews : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void newModelIsEmpty();
    void modelThroughSeveralResults();
    void displayTexts();
    void otherRolesAndIndexesAreEmpty();
    void headers();
    void bookMissingShowsEmptyName();
    void modelDestroysItsRecords();

    void fitColumns_data();
    void fitColumns();
    void fitColumnsOnResize();
    void fitColumnsSingleColumn();
    void fitColumnsWithoutSpecs();
    void rowsHoldOneLine();

    void comboWithoutBooks_data();
    void comboWithoutBooks();
    void comboWithOneBook();
    void comboWithSeveralBooks();
    void comboBooksOfTheSameName();
    void comboBookNotInTheStore();
    void comboAfterTheStoreLostABook();

private:
    std::unique_ptr<TestSupport::WorkDir> work;
    std::unique_ptr<NivletCore> core;
    bool openStore(const char *sql);
};

void TestNivletViews::init()
{
    work = std::make_unique<TestSupport::WorkDir>();
    QVERIFY(work->isValid());
}

void TestNivletViews::cleanup()
{
    core.reset();
    work.reset();
    QCOMPARE(alive->size(), 0);
}

bool TestNivletViews::openStore(const char *sql)
{
    core = TestSupport::openStore(QString::fromUtf8(sql));
    return core != nullptr;
}

void TestNivletViews::newModelIsEmpty()
{
    NivletsTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(model.columnCount(), 5);
    QVERIFY(!model.hasNivlets());
}

void TestNivletViews::modelThroughSeveralResults()
{
    Book book(1, QStringLiteral("Alpha"), true);
    NivletsTableModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);

    auto three = records({});
    for (int i = 1; i <= 3; ++i)
        three->emplace_back(counted(i, true, 0.1 * i, &book, QStringLiteral("Q%1").arg(i)));
    model.setNivlets(std::move(three));
    QCOMPARE(model.rowCount(), 3);
    QCOMPARE(alive->size(), 3);
    QCOMPARE(resets.count(), 1);

    model.setNivlets(records({}));
    QCOMPARE(model.rowCount(), 0);
    QVERIFY(model.hasNivlets());
    QCOMPARE(alive->size(), 0);

    model.setNivlets(records({counted(9, false, 0.0, &book, QStringLiteral("x"))}));
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(model.nivletAt(0)->id, 9);

    model.setNivlets(nullptr);
    QCOMPARE(model.rowCount(), 0);
    QVERIFY(!model.hasNivlets());
    QCOMPARE(alive->size(), 0);
    model.setNivlets(nullptr);
    QCOMPARE(resets.count(), 5);
}

void TestNivletViews::displayTexts()
{
    Book book(4, QStringLiteral("<b>Bold</b> book"), true);
    NivletsTableModel model;
    model.setNivlets(
        records({counted(1234567890123LL, true, 0.125, &book, QStringLiteral("<i>q</i>")),
                 counted(2, false, 0.994, &book, QStringLiteral("second"))}));
    const auto text = [&](int row, int column) {
        return model.data(model.index(row, column)).toString();
    };
    QCOMPARE(text(0, 0), QStringLiteral("1234567890123"));
    QCOMPARE(text(0, 1), QStringLiteral("<i>q</i>"));
    QCOMPARE(text(0, 2), knRateText(0.125));
    QCOMPARE(text(0, 2), QStringLiteral("13%"));
    QCOMPARE(text(0, 3), QStringLiteral("yes"));
    QCOMPARE(text(0, 4), QStringLiteral("<b>Bold</b> book"));
    QCOMPARE(text(1, 2), QStringLiteral("99%"));
    QCOMPARE(text(1, 3), QStringLiteral("no"));
}

void TestNivletViews::otherRolesAndIndexesAreEmpty()
{
    Book book(1, QStringLiteral("Alpha"), true);
    NivletsTableModel model;
    model.setNivlets(records({counted(1, true, 0.5, &book, QStringLiteral("q"))}));
    for (int role : {int(Qt::EditRole), int(Qt::ToolTipRole), int(Qt::ForegroundRole),
                     int(Qt::FontRole), int(Qt::TextAlignmentRole), int(Qt::CheckStateRole)})
        QVERIFY(!model.data(model.index(0, 1), role).isValid());
    QVERIFY(!model.data(QModelIndex()).isValid());
    QVERIFY(!model.data(model.index(1, 0)).isValid());
    QVERIFY(!model.data(model.index(0, 5)).isValid());
    QCOMPARE(model.flags(model.index(0, 1)) & Qt::ItemIsEditable, Qt::ItemFlags());
}

void TestNivletViews::headers()
{
    NivletsTableModel model;
    const QStringList expected{QStringLiteral("Nivlet Id"), QStringLiteral("Question"),
                               QStringLiteral("Kn. Rate"), QStringLiteral("Active"),
                               QStringLiteral("Book")};
    for (int i = 0; i < 5; ++i)
        QCOMPARE(model.headerData(i, Qt::Horizontal).toString(), expected.at(i));
    QVERIFY(!model.headerData(5, Qt::Horizontal).isValid());
    QVERIFY(!model.headerData(0, Qt::Horizontal, Qt::ToolTipRole).isValid());
    QCOMPARE(model.headerData(0, Qt::Vertical).toInt(), 1);
    QCOMPARE(model.headerData(6, Qt::Vertical).toInt(), 7);
}

void TestNivletViews::bookMissingShowsEmptyName()
{
    NivletsTableModel model;
    model.setNivlets(records({counted(5, true, 0.0, nullptr, QStringLiteral("lost"))}));
    QCOMPARE(model.data(model.index(0, 4)).toString(), QString());
    QCOMPARE(model.data(model.index(0, 1)).toString(), QStringLiteral("lost"));
    NivletTableView view;
    view.setModel(&model);
    view.resize(400, 200);
    // Painting the row must not reach for the missing book.
    QVERIFY(!view.grab().isNull());
}

void TestNivletViews::modelDestroysItsRecords()
{
    {
        NivletsTableModel model;
        model.setNivlets(records({counted(1, true, 0.0, nullptr, QString()),
                                  counted(2, true, 0.0, nullptr, QString())}));
        QCOMPARE(alive->size(), 2);
    }
    QCOMPARE(alive->size(), 0);
}

void TestNivletViews::fitColumns_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<QList<int>>("expected");
    QTest::newRow("worked example") << 619 << 300 << QList<int>{110, 200, 80, 70, 140};
    // No spare width: the last column gets everything available, not a remainder.
    QTest::newRow("narrower than minimum") << 300 << 200 << QList<int>{70, 120, 60, 50, 281};
}

void TestNivletViews::fitColumns()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(QList<int>, expected);
    NivletsTableModel model;
    NivletTableView view;
    view.setModel(&model);
    addWorkedExampleColumns(view);
    view.setGeometry(0, 0, width, height);
    view.fitColumns();
    // A column never gets less than its header needs to be read whole.
    for (int i = 0; i < expected.size(); ++i)
        QCOMPARE(view.columnWidth(i),
                 std::max(expected.at(i), view.horizontalHeader()->sectionSizeHint(i)));
}

void TestNivletViews::fitColumnsOnResize()
{
    NivletsTableModel model;
    NivletTableView view;
    view.setModel(&model);
    addWorkedExampleColumns(view);
    view.resize(619, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QTRY_COMPARE(view.columnWidth(4), 140);
    QCOMPARE(view.columnWidth(0), 110);
    // 819 wide: available 800, spare 420; 420 * 2 / 11 = 76.36, 420 * 4 / 11 = 152.7 ...
    view.resize(819, 300);
    QTRY_COMPARE(view.columnWidth(0), 146);
    QCOMPARE(view.columnWidth(1), 272);
    QCOMPARE(view.columnWidth(2), 98);
    QCOMPARE(view.columnWidth(3), 88);
    QCOMPARE(view.columnWidth(4), 800 - 146 - 272 - 98 - 88);
}

void TestNivletViews::fitColumnsSingleColumn()
{
    NivletsTableModel model;
    NivletTableView view;
    view.setModel(&model);
    view.addColumn(50, 1.0);
    view.setGeometry(0, 0, 400, 200);
    view.fitColumns();
    QCOMPARE(view.columnWidth(0), 381);
}

void TestNivletViews::fitColumnsWithoutSpecs()
{
    NivletsTableModel model;
    NivletTableView view;
    view.setModel(&model);
    const QList<int> before{view.columnWidth(0), view.columnWidth(4)};
    view.setGeometry(0, 0, 400, 200);
    view.fitColumns();
    QCOMPARE((QList<int>{view.columnWidth(0), view.columnWidth(4)}), before);
}

void TestNivletViews::rowsHoldOneLine()
{
    Book book(1, QStringLiteral("Capitals"), true);
    const QString longQuestion =
        QStringLiteral("Which city was the capital of the Romans before the empire split in two?");
    NivletsTableModel model;
    model.setNivlets(
        records({counted(1, true, 0.0, &book, longQuestion),
                 counted(2, true, 0.0, &book, QStringLiteral("First line\nsecond line")),
                 counted(3, true, 0.0, &book, QStringLiteral("Short"))}));
    NivletTableView view;
    view.setModel(&model);
    addWorkedExampleColumns(view);
    view.resize(619, 300);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QTRY_COMPARE(view.columnWidth(1), 200);
    // The question does not fit its column: it is cut off at its end, on one line.
    QVERIFY(view.fontMetrics().horizontalAdvance(longQuestion) > view.columnWidth(1));
    QVERIFY(!view.wordWrap());
    QCOMPARE(view.textElideMode(), Qt::ElideRight);
    const QFontMetrics metrics = view.fontMetrics();
    for (int row = 0; row < 3; ++row) {
        QCOMPARE(view.rowHeight(row), view.rowHeight(2));
        QVERIFY2(view.rowHeight(row) >= metrics.height() &&
                     view.rowHeight(row) < 2 * metrics.lineSpacing(),
                 qPrintable(QStringLiteral("row %1 is %2 pixels high, a line %3")
                                .arg(row)
                                .arg(view.rowHeight(row))
                                .arg(metrics.lineSpacing())));
    }
    // A larger font gives higher rows, still of one line.
    QFont larger = view.font();
    larger.setPointSize(larger.pointSize() * 2);
    view.setFont(larger);
    const QFontMetrics largerMetrics(larger);
    QVERIFY(view.rowHeight(0) >= largerMetrics.height());
    QVERIFY(view.rowHeight(0) < 2 * largerMetrics.lineSpacing());
}

void TestNivletViews::comboWithoutBooks_data()
{
    QTest::addColumn<bool>("withAllBooks");
    QTest::newRow("with all books") << true;
    QTest::newRow("without") << false;
}

void TestNivletViews::comboWithoutBooks()
{
    QFETCH(bool, withAllBooks);
    QVERIFY(openStore(""));
    BookComboBox box(core.get(), withAllBooks);
    QCOMPARE(box.count(), withAllBooks ? 1 : 0);
    QCOMPARE(box.currentIndex(), withAllBooks ? 0 : -1);
    if (withAllBooks)
        QCOMPARE(box.itemText(0), QStringLiteral("*All books*"));
    QCOMPARE(box.currentBook(), nullptr);
    QCOMPARE(box.indexOfBook(nullptr), -1);
}

void TestNivletViews::comboWithOneBook()
{
    QVERIFY(openStore("INSERT INTO book (id, name, active) VALUES (7, 'Only', 0);"));
    BookComboBox all(core.get(), true);
    QCOMPARE(all.count(), 2);
    QCOMPARE(all.currentBook(), nullptr);
    all.setCurrentIndex(1);
    QCOMPARE(all.currentBook(), core->book(0));

    BookComboBox plain(core.get(), false);
    QCOMPARE(plain.count(), 1);
    QCOMPARE(plain.itemText(0), QStringLiteral("Only"));
    // The toolkit makes the first entry current once it is added.
    QCOMPARE(plain.currentBook(), core->book(0));
    plain.setCurrentBook(nullptr);
    QCOMPARE(plain.currentIndex(), -1);
    QCOMPARE(plain.currentBook(), nullptr);
}

void TestNivletViews::comboWithSeveralBooks()
{
    QVERIFY(openStore(threeBooks));
    BookComboBox box(core.get(), true);
    QCOMPARE(box.count(), 4);
    const QStringList texts{QStringLiteral("*All books*"), QStringLiteral("Alpha"),
                            QStringLiteral("Beta"), QStringLiteral("Gamma")};
    for (int i = 0; i < 4; ++i)
        QCOMPARE(box.itemText(i), texts.at(i));
    QCOMPARE(box.currentBook(), nullptr);
    box.setCurrentIndex(2);
    QCOMPARE(box.currentBook(), core->book(1));
    QCOMPARE(box.currentBook()->name, QStringLiteral("Beta"));
    box.setCurrentBook(core->book(2));
    QCOMPARE(box.currentIndex(), 3);
    QCOMPARE(box.indexOfBook(core->book(2)), 2);
    box.setCurrentBook(nullptr);
    QCOMPARE(box.currentIndex(), 0);

    // A refresh after a change of the store rebuilds the entries and selects all books.
    box.setCurrentIndex(3);
    QVERIFY(core->editBook(core->book(0), QStringLiteral("Aleph"), true));
    box.refresh();
    QCOMPARE(box.itemText(1), QStringLiteral("Aleph"));
    QCOMPARE(box.currentIndex(), 0);

    BookComboBox plain(core.get(), false);
    QCOMPARE(plain.count(), 3);
    plain.setCurrentBook(core->book(1));
    QCOMPARE(plain.currentIndex(), 1);
    QCOMPARE(plain.currentBook(), core->book(1));
}

void TestNivletViews::comboBooksOfTheSameName()
{
    QVERIFY(openStore("INSERT INTO book (id, name, active) VALUES (1, 'Twin', 1), "
                      "(2, 'Twin', 1);"));
    BookComboBox box(core.get(), true);
    QCOMPARE(box.count(), 3);
    QCOMPARE(box.itemText(1), box.itemText(2));
    box.setCurrentIndex(1);
    QCOMPARE(box.currentBook()->id, 1);
    box.setCurrentIndex(2);
    QCOMPARE(box.currentBook()->id, 2);
    box.setCurrentBook(core->book(0));
    QCOMPARE(box.currentIndex(), 1);
    box.setCurrentBook(core->book(1));
    QCOMPARE(box.currentIndex(), 2);
}

void TestNivletViews::comboBookNotInTheStore()
{
    QVERIFY(openStore(threeBooks));
    // Same id and name as a book of the store, yet another record.
    Book stranger(1, QStringLiteral("Alpha"), true);
    BookComboBox all(core.get(), true);
    all.setCurrentIndex(2);
    QCOMPARE(all.indexOfBook(&stranger), -1);
    all.setCurrentBook(&stranger);
    QCOMPARE(all.currentIndex(), 0);
    QCOMPARE(all.currentBook(), nullptr);

    BookComboBox plain(core.get(), false);
    plain.setCurrentBook(&stranger);
    QCOMPARE(plain.currentIndex(), -1);
    QCOMPARE(plain.currentBook(), nullptr);
}

void TestNivletViews::comboAfterTheStoreLostABook()
{
    QVERIFY(openStore(threeBooks));
    BookComboBox box(core.get(), true);
    box.setCurrentIndex(3);
    QVERIFY(core->deleteBook(core->book(2)));
    // The entry is stale until the owner refreshes; it must not reach past the list.
    QCOMPARE(box.currentBook(), nullptr);
    box.refresh();
    QCOMPARE(box.count(), 3);
}

QTEST_MAIN(TestNivletViews)
#include "tst_nivletviews.moc"
