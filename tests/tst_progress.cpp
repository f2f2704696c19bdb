// The progress window on a real store and its answer log: the bars count
// what the store's active list holds, the period and book choices show their
// days, the picture and the numbers are saved (through the window's own
// file dialog too), and the window reads well under a light and a dark
// palette, with nothing cut and every accelerator its own.

#include "answerhistory.h"
#include "nivletcore.h"
#include "progresswindow.h"
#include "testsupport.h"

#include <QAbstractButton>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QFileDialog>
#include <QHorizontalStackedBarSeries>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPushButton>
#include <QStackedBarSeries>
#include <QTabWidget>
#include <QTest>
#include <QValueAxis>

using namespace TestSupport;
using Verdict = AnswerHistory::Verdict;
using Source = AnswerHistory::Source;

namespace {

const char cardsSql[] = R"(
INSERT INTO book (id, name, active) VALUES (1, 'Latin', 1), (2, 'Greek', 0), (3, 'Birds', 1);
INSERT INTO nivlet (id, active, kn_rate, book_id, question, answer) VALUES
    (1, 1, 0.1, 1, 'q1', 'a'), (2, 1, 0.3, 1, 'q2', 'a'), (3, 1, 0.6, 1, 'q3', 'a'),
    (4, 1, 0.8, 1, 'q4', 'a'), (5, 1, 0.9, 1, 'q5', 'a'), (6, 0, 0.9, 1, 'q6', 'a'),
    (7, 1, 0.9, 2, 'q7', 'a'), (8, 1, 0.0, 3, 'q8', 'a'), (9, 1, 0.75, 3, 'q9', 'a');
)";

double contrast(const QColor &a, const QColor &b)
{
    auto luminance = [](const QColor &c) {
        auto channel = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    const double x = luminance(a) + 0.05;
    const double y = luminance(b) + 0.05;
    return std::max(x, y) / std::min(x, y);
}

QPalette darkPalette()
{
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(0x2b, 0x2b, 0x2b));
    dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
    dark.setColor(QPalette::Text, QColor(0xe8, 0xe8, 0xe8));
    dark.setColor(QPalette::WindowText, QColor(0xe8, 0xe8, 0xe8));
    dark.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3a));
    dark.setColor(QPalette::ButtonText, QColor(0xe8, 0xe8, 0xe8));
    return dark;
}

// The store's active cards of one band, of all books or one.
int storeCount(const NivletCore &store, int band, const QString &book = QString())
{
    int count = 0;
    for (const Nivlet *nivlet : store.activeList()->nivlets()) {
        if (Progress::bandOf(nivlet->knRate) == band &&
            (book.isEmpty() || (nivlet->book && nivlet->book->name == book)))
            ++count;
    }
    return count;
}

} // namespace

class TstProgress : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void barsCountTheStoresCards();
    void periodAndBookChoices();
    void aDeletedBookUnderItsLastName();
    void savesPictureAndNumbers();
    void savesThroughItsFileDialog();
    void escapeCloses();
    void acceleratorsAreUnique();
    void readsUnderLightAndDarkPalettes();

private:
    std::unique_ptr<WorkDir> work;
    std::unique_ptr<NivletCore> store;
    std::unique_ptr<AnswerHistory> history;
    ManualWallClock clock;
};

void TstProgress::init()
{
    work = std::make_unique<WorkDir>();
    store = openStore(QString::fromLatin1(cardsSql));
    QVERIFY(store);
    history = std::make_unique<AnswerHistory>(&clock);
    auto give = [this](const QDate &date, qint64 nivlet, qint64 book, Verdict verdict,
                       double before, double after) {
        clock.set(date, QTime(10, 0));
        const QString name = book == 1 ? QStringLiteral("Latin") : QStringLiteral("Birds");
        history->record({nivlet, book, name, verdict, Source::Challenge, before, after});
    };
    give(QDate(2026, 6, 28), 5, 1, Verdict::Right, 0.8, 0.9);
    give(QDate(2026, 6, 29), 4, 1, Verdict::Right, 0.6, 0.8);
    give(QDate(2026, 6, 29), 8, 3, Verdict::Wrong, 0.0, 0.0);
    give(QDate(2026, 6, 30), 3, 1, Verdict::Wrong, 0.75, 0.6);
    QVERIFY(history->flush());
    clock.set(QDate(2026, 6, 30), QTime(21, 0));
}

void TstProgress::cleanup()
{
    history.reset();
    store.reset();
    work.reset();
}

void TstProgress::barsCountTheStoresCards()
{
    ProgressWindow window(nullptr, store.get(), history.get(), &clock);
    QVERIFY(window.setupUi());
    auto *view = window.findChild<QChartView *>(QStringLiteral("nowChart"));
    QVERIFY(view);
    auto *series = qobject_cast<QHorizontalStackedBarSeries *>(view->chart()->series().value(0));
    QVERIFY(series);
    QCOMPARE(series->barSets().size(), 4);
    // From the bottom: Birds, Latin, then all books on top; the switched-off
    // Greek has no active cards.
    const QStringList books = {QStringLiteral("Birds"), QStringLiteral("Latin"), QString()};
    for (int band = 0; band < 4; ++band) {
        const QBarSet *set = series->barSets().at(band);
        QCOMPARE(set->count(), 3);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(int(set->at(i)), storeCount(*store, band, books.at(i)));
    }
    QCOMPARE(int(series->barSets().at(3)->at(2)), 3);
    QCOMPARE(int(series->barSets().at(0)->at(2)), 2);
    const auto *names = window.findChild<QChartView *>(QStringLiteral("nowChart"))
                            ->chart()
                            ->axes(Qt::Vertical)
                            .value(0);
    QVERIFY(names);
    QVERIFY(!names->labelsTruncated());
    QCOMPARE(window.report().shelves().at(1).name, QStringLiteral("Latin"));
    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("nowSummary"))->text().left(45),
             QStringLiteral("7 active cards, average knowledge rate 49 %. "));
}

void TstProgress::periodAndBookChoices()
{
    ProgressWindow window(nullptr, store.get(), history.get(), &clock);
    QVERIFY(window.setupUi());
    auto *period = window.findChild<QComboBox *>(QStringLiteral("periodBox"));
    auto *book = window.findChild<QComboBox *>(QStringLiteral("bookBox"));
    QCOMPARE(period->count(), 3);
    QCOMPARE(book->count(), 4);
    QCOMPARE(book->itemText(1), QStringLiteral("Latin"));
    QCOMPARE(book->itemText(2), QStringLiteral("Greek"));
    auto *days = window.findChild<QChartView *>(QStringLiteral("daysChart"));
    auto bars = [days] {
        return qobject_cast<QStackedBarSeries *>(days->chart()->series().value(0));
    };
    QCOMPARE(window.report().period().days(), 30);
    QCOMPARE(bars()->barSets().at(0)->count(), 30);
    QCOMPARE(window.report().answers().answers, 4);
    QCOMPARE(window.report().answers().streak, 3);

    period->setCurrentIndex(2);
    QCOMPARE(window.report().period().days(), 365);
    QCOMPARE(bars()->barSets().at(0)->count(), 365);
    QCOMPARE(window.report().period().date(364), QDate(2026, 6, 30));

    book->setCurrentIndex(1);
    QCOMPARE(window.report().answers().answers, 3);
    // Right on 28 and 29 June, wrong today.
    QCOMPARE(bars()->barSets().at(0)->at(362), 1.0);
    QCOMPARE(bars()->barSets().at(1)->at(364), 1.0);
    auto *growth = window.findChild<QChartView *>(QStringLiteral("growthChart"));
    auto *line = qobject_cast<QLineSeries *>(growth->chart()->series().value(0));
    QVERIFY(line);
    QCOMPARE(line->count(), 365);
    // Latin: 0.8 and 0.9 known now; card 4 at 0.6 before 29 June, card 3
    // known until today.
    QCOMPARE(line->at(364).y(), 2.0);
    QCOMPARE(line->at(363).y(), 3.0);
    QCOMPARE(line->at(361).y(), 2.0);
    QCOMPARE(window.report().cardCount(), 5);

    // A book without answers shows none, and its cards as they are.
    book->setCurrentIndex(2);
    QCOMPARE(window.report().answers().answers, 0);
    QCOMPARE(window.report().cardCount(), 0);
    book->setCurrentIndex(3);
    QCOMPARE(window.report().answers().answers, 1);
    // Each choice draws a new chart.
    line = qobject_cast<QLineSeries *>(growth->chart()->series().value(0));
    QCOMPARE(line->at(364).y(), 1.0);
}

void TstProgress::aDeletedBookUnderItsLastName()
{
    history->bookRenamed(3, QStringLiteral("Birds of Europe"));
    clock.set(QDate(2026, 6, 30), QTime(11, 0));
    history->bookDeleted(3, {8, 9});
    QVERIFY(history->flush());
    QVERIFY(store->deleteBook(store->findBook(3)));
    ProgressWindow window(nullptr, store.get(), history.get(), &clock);
    QVERIFY(window.setupUi());
    auto *book = window.findChild<QComboBox *>(QStringLiteral("bookBox"));
    QCOMPARE(book->count(), 4);
    QCOMPARE(book->itemText(3), QStringLiteral("Birds of Europe (deleted)"));
    book->setCurrentIndex(3);
    QCOMPARE(window.report().answers().answers, 1);
    QCOMPARE(window.report().answers().days.at(28).wrong, 1);
    // The deleted book had no known card, and has no cards after today.
    QCOMPARE(window.report().known().last(), 0);
}

void TstProgress::savesPictureAndNumbers()
{
    ProgressWindow window(nullptr, store.get(), history.get(), &clock);
    QVERIFY(window.setupUi());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.findChild<QTabWidget *>(QStringLiteral("progressTabs"))->setCurrentIndex(1);
    const QString picture = work->file(QStringLiteral("days.png"));
    QVERIFY(window.savePicture(picture));
    const QImage image(picture);
    QVERIFY(!image.isNull());
    QCOMPARE(image.size(), window.findChild<QChartView *>(QStringLiteral("daysChart"))->size() *
                               window.devicePixelRatio());

    window.findChild<QComboBox *>(QStringLiteral("bookBox"))->setCurrentIndex(1);
    const QString numbers = work->file(QStringLiteral("days.csv"));
    QVERIFY(window.saveNumbers(numbers));
    const QStringList lines = readFile(numbers).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 31);
    QCOMPARE(lines.first(),
             QStringLiteral("date,right,wrong,cheated,answers,share right (%),known"));
    QCOMPARE(lines.at(1), QStringLiteral("2026-06-01,0,0,0,0,,2"));
    QCOMPARE(lines.at(28), QStringLiteral("2026-06-28,1,0,0,1,100.0,2"));
    QCOMPARE(lines.at(29), QStringLiteral("2026-06-29,1,0,0,1,100.0,3"));
    QCOMPARE(lines.at(30), QStringLiteral("2026-06-30,0,1,0,1,0.0,2"));

    BoxCatcher boxes;
    QVERIFY(!window.saveNumbers(work->file(QStringLiteral("no/such/folder/days.csv"))));
    QCOMPARE(boxes.texts.size(), 1);
    QVERIFY(boxes.texts.first().startsWith(QStringLiteral("Could not save the numbers as ")));
}

void TstProgress::savesThroughItsFileDialog()
{
    ProgressWindow window(nullptr, store.get(), history.get(), &clock);
    QVERIFY(window.setupUi());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QString file = work->file(QStringLiteral("chosen.png"));
    bool seen = false;
    whenModal<QDialog>([&](QDialog *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        QVERIFY(dialog);
        seen = true;
        QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptSave);
        auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        QVERIFY(name);
        QVERIFY(name->text().startsWith(QStringLiteral("nivlets-now-2026-06-30")));
        name->setText(file);
        QTest::keyClick(name, Qt::Key_Return);
    });
    window.findChild<QPushButton *>(QStringLiteral("pictureButton"))->click();
    QVERIFY(seen);
    QVERIFY(!QImage(file).isNull());
}

void TstProgress::escapeCloses()
{
    ProgressWindow window(nullptr, store.get(), history.get(), &clock);
    QVERIFY(window.setupUi());
    const int result = runModal(&window, [&] { QTest::keyClick(&window, Qt::Key_Escape); });
    QCOMPARE(result, int(QDialog::Rejected));
}

void TstProgress::acceleratorsAreUnique()
{
    ProgressWindow window(nullptr, store.get(), history.get(), &clock);
    QVERIFY(window.setupUi());
    QStringList texts;
    auto *tabs = window.findChild<QTabWidget *>(QStringLiteral("progressTabs"));
    for (int i = 0; i < tabs->count(); ++i)
        texts << tabs->tabText(i);
    for (const QAbstractButton *button : window.findChildren<QAbstractButton *>())
        texts << button->text();
    for (const QLabel *label : window.findChildren<QLabel *>()) {
        if (label->buddy()) {
            texts << label->text();
            QVERIFY(!label->buddy()->accessibleName().isEmpty());
        }
    }
    QList<QChar> keys;
    for (const QString &text : std::as_const(texts)) {
        const qsizetype at = text.indexOf(QLatin1Char('&'));
        if (at < 0 || at + 1 >= text.size())
            continue;
        const QChar key = text.at(at + 1).toLower();
        QVERIFY2(!keys.contains(key), qPrintable(text));
        keys << key;
    }
    QCOMPARE(keys.size(), 8);
    for (const char *chart : {"nowChart", "daysChart", "growthChart"})
        QVERIFY(!window.findChild<QChartView *>(QString::fromLatin1(chart))
                     ->accessibleName()
                     .isEmpty());
}

void TstProgress::readsUnderLightAndDarkPalettes()
{
    const QPalette light = QApplication::palette();
    for (const QPalette &palette : {light, darkPalette()}) {
        QApplication::setPalette(palette);
        ProgressWindow window(nullptr, store.get(), history.get(), &clock);
        QVERIFY(window.setupUi());
        const QColor background = palette.color(QPalette::Base);
        for (const char *name : {"nowChart", "daysChart", "growthChart"}) {
            QChart *chart = window.findChild<QChartView *>(QString::fromLatin1(name))->chart();
            QCOMPARE(chart->backgroundBrush().color(), background);
            for (const QAbstractAxis *axis : chart->axes())
                QVERIFY(contrast(axis->labelsColor(), background) >= 4.5);
            QVERIFY(contrast(chart->legend()->labelColor(), background) >= 4.5);
        }
        QList<QColor> marks = {ProgressWindow::rightColor(), ProgressWindow::wrongColor(),
                               ProgressWindow::cheatedColor(), ProgressWindow::lineColor()};
        for (int band = 0; band < 4; ++band)
            marks << ProgressWindow::bandColor(band);
        for (const QColor &mark : std::as_const(marks)) {
            QVERIFY2(contrast(mark, background) >= 3.0, qPrintable(mark.name()));
            // The counts written on the bars.
            QVERIFY(contrast(mark, Qt::black) >= 4.5);
        }
    }
    QApplication::setPalette(light);
}

QTEST_MAIN(TstProgress)
#include "tst_progress.moc"
