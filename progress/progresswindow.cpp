#include "progresswindow.h"

#include "log.h"

#include <QApplication>
#include <QBarCategoryAxis>
#include <QBarSet>
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHorizontalStackedBarSeries>
#include <QLabel>
#include <QLegend>
#include <QLineSeries>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QScrollArea>
#include <QStackedBarSeries>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

const int ProgressWindow::periods[3] = {30, 90, 365};

namespace {
const char *const bandNames[Progress::bandCount] = {"below 25 %", "25 to 50 %", "50 to 75 %",
                                                    "75 % and more"};

QString percent(double share)
{
    return QStringLiteral("%1 %").arg(static_cast<int>(std::lround(share * 100.0)));
}

// An axis of whole numbers from 0 to a round number above the largest.
QValueAxis *countAxis(int largest, const QPalette &palette, const QFont &font)
{
    auto *axis = new QValueAxis;
    axis->setRange(0, largest + std::max(1, largest / 10));
    axis->setLabelFormat(QStringLiteral("%d"));
    axis->applyNiceNumbers();
    // Nice numbers may give fractions of a card for small counts.
    const int top = static_cast<int>(std::ceil(axis->max()));
    axis->setRange(0, top);
    axis->setTickCount(std::min(top, 5) + 1);
    axis->setLabelsColor(palette.color(QPalette::Text));
    axis->setLabelsFont(font);
    axis->setGridLineColor(palette.color(QPalette::Mid));
    axis->setLinePenColor(palette.color(QPalette::Mid));
    return axis;
}

// The days of a period along the bottom, labelled at every week for a month,
// and at each month's first day for longer periods.
QCategoryAxis *dayAxis(const Progress::Period &period, const QPalette &palette, const QFont &font)
{
    auto *axis = new QCategoryAxis;
    axis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    axis->setStartValue(-0.5);
    axis->setRange(-0.5, period.days() - 0.5);
    const bool weekly = period.days() <= 31;
    for (int day = 0; day < period.days(); ++day) {
        const QDate date = period.date(day);
        const bool mark = weekly ? (period.days() - 1 - day) % 7 == 0 : date.day() == 1;
        if (mark)
            axis->append(QLocale().toString(date, weekly ? QStringLiteral("d MMM")
                                                         : QStringLiteral("MMM yyyy")),
                         day);
    }
    axis->setLabelsColor(palette.color(QPalette::Text));
    axis->setLabelsFont(font);
    axis->setGridLineColor(palette.color(QPalette::Mid));
    axis->setLinePenColor(palette.color(QPalette::Mid));
    return axis;
}

QBarSet *barSet(const QString &name, const QColor &color)
{
    auto *set = new QBarSet(name);
    set->setColor(color);
    set->setBorderColor(color);
    set->setLabelColor(Qt::black);
    return set;
}
} // namespace

QColor ProgressWindow::bandColor(int band)
{
    static const QColor colors[Progress::bandCount] = {
        QColor(0xe0, 0x70, 0x3f), QColor(0xc0, 0x8a, 0x1e), QColor(0x3d, 0x8f, 0xd1),
        QColor(0x2e, 0x9e, 0x4f)};
    return colors[qBound(0, band, Progress::bandCount - 1)];
}

QColor ProgressWindow::rightColor()
{
    return bandColor(3);
}

QColor ProgressWindow::wrongColor()
{
    return bandColor(0);
}

QColor ProgressWindow::cheatedColor()
{
    return QColor(0x90, 0x90, 0x90);
}

QColor ProgressWindow::lineColor()
{
    return bandColor(2);
}

ProgressWindow::ProgressWindow(QWidget *parent, NivletCore *store, AnswerHistory *history,
                               const WallClock *clock)
    : QDialog(parent), progress(*store, *history, *clock), tabs(nullptr), periodBox(nullptr),
      bookBox(nullptr), nowView(nullptr), daysView(nullptr), growthView(nullptr), nowArea(nullptr),
      nowSummary(nullptr), daysSummary(nullptr), growthSummary(nullptr), pictureButton(nullptr),
      numbersButton(nullptr)
{
    setWindowTitle(QStringLiteral("nivlets - Progress"));
}

bool ProgressWindow::setupUi()
{
    if (!progress.load() || !progress.show(periods[0], 0))
        return false;

    auto *mainLayout = new QVBoxLayout;
    mainLayout->addWidget(buildChoiceRow());
    tabs = new QTabWidget;
    tabs->setObjectName(QStringLiteral("progressTabs"));
    tabs->setAccessibleName(QStringLiteral("Progress"));
    tabs->addTab(buildPage(nowView, nowSummary, "now", "Active cards by knowledge rate", true),
                 QStringLiteral("&Now"));
    tabs->addTab(buildPage(daysView, daysSummary, "days", "Answers per day", false),
                 QStringLiteral("&Day by day"));
    tabs->addTab(buildPage(growthView, growthSummary, "growth", "Known cards per day", false),
                 QStringLiteral("&Growth"));
    mainLayout->addWidget(tabs, 1);
    mainLayout->addLayout(buildButtonRow());
    setLayout(mainLayout);
    connect(tabs, &QTabWidget::currentChanged, this, &ProgressWindow::pageChanged);

    showNow();
    showDays();
    showGrowth();
    pageChanged(tabs->currentIndex());

    // Room for the charts in lines and characters of the font, so that a
    // larger font or scale gets a larger window; never more than the screen.
    const QFontMetrics metrics = fontMetrics();
    QSize wanted(metrics.averageCharWidth() * 110, metrics.lineSpacing() * 36);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        wanted = wanted.boundedTo(screen->availableSize() * 0.9);
    resize(wanted.expandedTo(minimumSizeHint()));
    return true;
}

QWidget *ProgressWindow::buildChoiceRow()
{
    auto *row = new QWidget;
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);

    periodBox = new QComboBox;
    periodBox->setObjectName(QStringLiteral("periodBox"));
    periodBox->setAccessibleName(QStringLiteral("Period"));
    periodBox->addItem(QStringLiteral("30 days"));
    periodBox->addItem(QStringLiteral("90 days"));
    periodBox->addItem(QStringLiteral("a year"));
    auto *periodLabel = new QLabel(QStringLiteral("Show the &last:"));
    periodLabel->setBuddy(periodBox);

    bookBox = new QComboBox;
    bookBox->setObjectName(QStringLiteral("bookBox"));
    bookBox->setAccessibleName(QStringLiteral("Book"));
    // Book names are the user's text, which a combo box shows as it stands.
    for (const ProgressReport::Choice &choice : progress.choices())
        bookBox->addItem(choice.name);
    bookBox->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    auto *bookLabel = new QLabel(QStringLiteral("&Book:"));
    bookLabel->setBuddy(bookBox);

    layout->addWidget(periodLabel);
    layout->addWidget(periodBox);
    layout->addSpacing(fontMetrics().averageCharWidth() * 2);
    layout->addWidget(bookLabel);
    layout->addWidget(bookBox, 1);
    connect(periodBox, &QComboBox::currentIndexChanged, this, &ProgressWindow::choiceChanged);
    connect(bookBox, &QComboBox::currentIndexChanged, this, &ProgressWindow::choiceChanged);
    return row;
}

QWidget *ProgressWindow::buildPage(QChartView *&view, QLabel *&summary, const char *name,
                                   const char *accessibleName, bool scrolled)
{
    auto *page = new QWidget;
    page->setObjectName(QString::fromLatin1(name) + QStringLiteral("Page"));
    auto *layout = new QVBoxLayout(page);
    summary = new QLabel;
    summary->setObjectName(QString::fromLatin1(name) + QStringLiteral("Summary"));
    summary->setTextFormat(Qt::PlainText);
    summary->setWordWrap(true);
    layout->addWidget(summary);
    view = new QChartView;
    view->setObjectName(QString::fromLatin1(name) + QStringLiteral("Chart"));
    view->setAccessibleName(QString::fromUtf8(accessibleName));
    view->setRenderHint(QPainter::Antialiasing);
    view->setBackgroundBrush(palette().color(QPalette::Base));
    view->setFrameShape(QFrame::NoFrame);
    // The chart of every book may be taller than the window: it scrolls,
    // each bar keeping room for its name.
    if (scrolled) {
        nowArea = new QScrollArea;
        nowArea->setObjectName(QStringLiteral("nowArea"));
        nowArea->setAccessibleName(QString::fromUtf8(accessibleName));
        nowArea->setWidgetResizable(true);
        nowArea->setWidget(view);
        layout->addWidget(nowArea, 1);
    } else {
        layout->addWidget(view, 1);
    }
    return page;
}

QLayout *ProgressWindow::buildButtonRow()
{
    auto *row = new QHBoxLayout;
    pictureButton = new QPushButton(QStringLiteral("Save &picture..."));
    pictureButton->setObjectName(QStringLiteral("pictureButton"));
    connect(pictureButton, &QPushButton::clicked, this, &ProgressWindow::askPicture);
    numbersButton = new QPushButton(QStringLiteral("Save as CS&V..."));
    numbersButton->setObjectName(QStringLiteral("numbersButton"));
    connect(numbersButton, &QPushButton::clicked, this, &ProgressWindow::askNumbers);
    auto *closeButton = new QPushButton(QStringLiteral("&Close"));
    closeButton->setObjectName(QStringLiteral("closeButton"));
    closeButton->setDefault(true);
    connect(closeButton, &QPushButton::clicked, this, &ProgressWindow::reject);
    row->addWidget(pictureButton);
    row->addWidget(numbersButton);
    row->addStretch(1);
    row->addWidget(closeButton);
    return row;
}

QChart *ProgressWindow::newChart(QChartView *view) const
{
    auto *chart = new QChart;
    const QPalette colors = palette();
    chart->setBackgroundBrush(colors.color(QPalette::Base));
    chart->setBackgroundRoundness(0);
    chart->setMargins(QMargins());
    chart->legend()->setLabelColor(colors.color(QPalette::Text));
    chart->legend()->setFont(font());
    chart->legend()->setAlignment(Qt::AlignBottom);
    QChart *old = view->chart();
    view->setChart(chart);
    // The view does not own a chart it lets go of.
    delete old;
    return chart;
}

void ProgressWindow::showNow()
{
    const QList<ProgressReport::Shelf> &shelves = progress.shelves();
    QChart *chart = newChart(nowView);
    auto *series = new QHorizontalStackedBarSeries;
    QStringList names;
    int largest = 0;
    // Bars go from the bottom up: the last shelf first, so that all books
    // stand on top.
    for (qsizetype i = shelves.size() - 1; i >= 0; --i) {
        const ProgressReport::Shelf &shelf = shelves.at(i);
        names.append(QStringLiteral("%1 (%2)").arg(shelf.name, percent(shelf.bands.averageRate())));
        largest = std::max(largest, shelf.bands.total());
    }
    for (int band = 0; band < Progress::bandCount; ++band) {
        QBarSet *set = barSet(QString::fromUtf8(bandNames[band]), bandColor(band));
        for (qsizetype i = shelves.size() - 1; i >= 0; --i)
            set->append(shelves.at(i).bands.count(band));
        series->append(set);
    }
    series->setLabelsVisible(true);
    series->setLabelsPosition(QAbstractBarSeries::LabelsCenter);
    series->setLabelsFormat(QStringLiteral("@value"));
    chart->addSeries(series);
    auto *books = new QBarCategoryAxis;
    books->append(names);
    books->setLabelsColor(palette().color(QPalette::Text));
    books->setLabelsFont(font());
    books->setGridLineVisible(false);
    // The whole name, however long: the chart gives the axis the room.
    books->setTruncateLabels(false);
    chart->addAxis(books, Qt::AlignLeft);
    series->attachAxis(books);
    QValueAxis *counts = countAxis(largest, palette(), font());
    chart->addAxis(counts, Qt::AlignBottom);
    series->attachAxis(counts);

    // Two lines of text a bar, and room for the axis and the legend.
    const int line = fontMetrics().lineSpacing();
    nowView->setMinimumHeight(line * (2 * static_cast<int>(shelves.size()) + 6));

    const Progress::Bands &all = shelves.first().bands;
    nowSummary->setText(
        QStringLiteral("%1 active cards, average knowledge rate %2. Each bar counts the cards of a "
                       "book by their knowledge rate; its average follows the name.")
            .arg(all.total())
            .arg(percent(all.averageRate())));
}

void ProgressWindow::showDays()
{
    const Progress::Period &period = progress.period();
    const Progress::DayByDay &answers = progress.answers();
    QChart *chart = newChart(daysView);
    auto *series = new QStackedBarSeries;
    QBarSet *right = barSet(QStringLiteral("right"), rightColor());
    QBarSet *wrong = barSet(QStringLiteral("wrong"), wrongColor());
    QBarSet *cheated = barSet(QStringLiteral("shown (cheated)"), cheatedColor());
    auto *share = new QLineSeries;
    share->setName(QStringLiteral("share right (right axis)"));
    share->setColor(lineColor());
    share->setPointsVisible(period.days() <= 31);
    int largest = 0;
    for (int day = 0; day < answers.days.size(); ++day) {
        const Progress::DayCount &count = answers.days.at(day);
        right->append(count.right);
        wrong->append(count.wrong);
        cheated->append(count.cheated);
        largest = std::max(largest, count.total());
        if (count.total() > 0)
            share->append(day, 100.0 * count.right / count.total());
    }
    series->append(right);
    series->append(wrong);
    series->append(cheated);
    series->setBarWidth(0.8);
    chart->addSeries(series);
    chart->addSeries(share);
    QCategoryAxis *days = dayAxis(period, palette(), font());
    chart->addAxis(days, Qt::AlignBottom);
    series->attachAxis(days);
    share->attachAxis(days);
    QValueAxis *counts = countAxis(largest, palette(), font());
    chart->addAxis(counts, Qt::AlignLeft);
    series->attachAxis(counts);
    auto *shares = new QValueAxis;
    shares->setRange(0, 100);
    shares->setTickCount(6);
    shares->setLabelFormat(QStringLiteral("%d %"));
    shares->setLabelsColor(palette().color(QPalette::Text));
    shares->setLabelsFont(font());
    shares->setGridLineVisible(false);
    shares->setLinePenColor(palette().color(QPalette::Mid));
    chart->addAxis(shares, Qt::AlignRight);
    share->attachAxis(shares);

    const QString shareText = answers.answers > 0
                                  ? QStringLiteral(", %1 of them right")
                                        .arg(percent(double(answers.right) / answers.answers))
                                  : QString();
    daysSummary->setText(QStringLiteral("Today: %1 answers. Days in a row with answers: %2. %3 "
                                        "answers in the last %4 days%5.")
                             .arg(answers.today)
                             .arg(answers.streak)
                             .arg(answers.answers)
                             .arg(period.days())
                             .arg(shareText));
}

void ProgressWindow::showGrowth()
{
    const Progress::Period &period = progress.period();
    const QList<int> &known = progress.known();
    QChart *chart = newChart(growthView);
    auto *line = new QLineSeries;
    line->setName(QStringLiteral("cards known (75 % or more) at the end of the day"));
    QPen pen(lineColor());
    pen.setWidthF(std::max(2.0, fontMetrics().lineWidth() * 2.0));
    line->setPen(pen);
    line->setPointsVisible(period.days() <= 31);
    int largest = 0;
    for (int day = 0; day < known.size(); ++day) {
        line->append(day, known.at(day));
        largest = std::max(largest, known.at(day));
    }
    chart->addSeries(line);
    QCategoryAxis *days = dayAxis(period, palette(), font());
    chart->addAxis(days, Qt::AlignBottom);
    line->attachAxis(days);
    // The last day's label stands on the plot's right edge; half of it
    // would stand outside.
    chart->setMargins(
        QMargins(0, 0, fontMetrics().horizontalAdvance(QStringLiteral("00 Mmm")) / 2, 0));
    QValueAxis *counts = countAxis(largest, palette(), font());
    chart->addAxis(counts, Qt::AlignLeft);
    line->attachAxis(counts);

    const int first = known.isEmpty() ? 0 : known.first();
    const int last = known.isEmpty() ? 0 : known.last();
    const ProgressReport::Choice &choice = progress.choices().at(progress.choice());
    growthSummary->setText(
        choice.deleted
            ? QStringLiteral("Known cards of the deleted book at the end of each day, as the "
                             "answers given in it tell: %1 on the first day shown.")
                  .arg(first)
            : QStringLiteral("Known now: %1 of %2 active cards; %3 at the end of the first day "
                             "shown.")
                  .arg(last)
                  .arg(progress.cardCount())
                  .arg(first));
}

void ProgressWindow::choiceChanged()
{
    const int days = periods[qBound(0, periodBox->currentIndex(), 2)];
    if (!progress.show(days, std::max(0, bookBox->currentIndex())))
        return;
    showDays();
    showGrowth();
}

void ProgressWindow::pageChanged(int page)
{
    // The period and the book choose what the other two pages show.
    periodBox->setEnabled(page != NowPage);
    bookBox->setEnabled(page != NowPage);
    numbersButton->setEnabled(page != NowPage);
}

bool ProgressWindow::savePicture(const QString &file)
{
    QChartView *const views[] = {nowView, daysView, growthView};
    const QPixmap picture = views[tabs->currentIndex()]->grab();
    if (picture.save(file, "PNG"))
        return true;
    logError(
        QStringLiteral("Could not save the picture as %1.").arg(QDir::toNativeSeparators(file)),
        true);
    return false;
}

bool ProgressWindow::saveNumbers(const QString &file)
{
    QSaveFile out(file);
    if (out.open(QIODevice::WriteOnly | QIODevice::Text) &&
        out.write(progress.csv().toUtf8()) >= 0 && out.commit())
        return true;
    logError(QStringLiteral("Could not save the numbers as %1: %2")
                 .arg(QDir::toNativeSeparators(file), out.errorString()),
             true);
    return false;
}

QString ProgressWindow::askFile(const QString &title, const QString &filter,
                                const QString &suggested)
{
    QFileDialog dialog(this, title, QDir::home().filePath(suggested), filter);
    dialog.setObjectName(QStringLiteral("saveDialog"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QFileInfo(suggested).suffix());
    // The toolkit's own dialog, the same on every desktop.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().first();
}

void ProgressWindow::askPicture()
{
    static const char *const pages[] = {"now", "days", "growth"};
    const QString file = askFile(
        QStringLiteral("Save picture"), QStringLiteral("PNG pictures (*.png)"),
        QStringLiteral("nivlets-%1-%2.png")
            .arg(QString::fromLatin1(pages[tabs->currentIndex()]),
                 progress.period().date(progress.period().days() - 1).toString(Qt::ISODate)));
    if (!file.isEmpty())
        savePicture(file);
}

void ProgressWindow::askNumbers()
{
    const QString file = askFile(
        QStringLiteral("Save the numbers of the days"), QStringLiteral("CSV files (*.csv)"),
        QStringLiteral("nivlets-days-%1.csv")
            .arg(progress.period().date(progress.period().days() - 1).toString(Qt::ISODate)));
    if (!file.isEmpty())
        saveNumbers(file);
}
