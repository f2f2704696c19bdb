#ifndef PROGRESSWINDOW_H
#define PROGRESSWINDOW_H

#include "progressreport.h"

#include <QColor>
#include <QDialog>

class AnswerHistory;
class NivletCore;
class QChart;
class QChartView;
class QComboBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QTabWidget;
class WallClock;

// What the user has learnt: the active cards of each book by how well they
// are known now, the answers of each day over a chosen period, and how the
// number of known cards grew over it, for all books or one. Each picture can
// be saved as PNG, and the numbers of the days as CSV.
//
// The charts take their background and text from the window's palette; the
// colours of the bars and lines stand out by at least 3:1 against a light
// and a dark background alike, and the counts on the bars are black, which
// reads at more than 4.5:1 on each of them.
class ProgressWindow : public QDialog
{
    Q_OBJECT

public:
    ProgressWindow(QWidget *parent, NivletCore *store, AnswerHistory *history,
                   const WallClock *clock);

    // Reads the cards and the log for the first view; false, reported,
    // when they could not be read, and the window is not to be shown.
    bool setupUi();

    enum Page { NowPage = 0, DaysPage = 1, GrowthPage = 2 };
    // The lengths of the periods to choose, in days.
    static const int periods[3];

    // The picture of the page shown, and the numbers of the days shown;
    // false, reported, when the file could not be written.
    bool savePicture(const QString &file);
    bool saveNumbers(const QString &file);

    const ProgressReport &report() const { return progress; }

    static QColor bandColor(int band);
    static QColor rightColor();
    static QColor wrongColor();
    static QColor cheatedColor();
    static QColor lineColor();

private slots:
    void choiceChanged();
    void pageChanged(int page);
    void askPicture();
    void askNumbers();

private:
    QWidget *buildChoiceRow();
    QWidget *buildPage(QChartView *&view, QLabel *&summary, const char *name,
                       const char *accessibleName, bool scrolled);
    QLayout *buildButtonRow();
    void showNow();
    void showDays();
    void showGrowth();
    QChart *newChart(QChartView *view) const;
    QString askFile(const QString &title, const QString &filter, const QString &suggested);

    ProgressReport progress;
    QTabWidget *tabs;
    QComboBox *periodBox;
    QComboBox *bookBox;
    QChartView *nowView;
    QChartView *daysView;
    QChartView *growthView;
    QScrollArea *nowArea;
    QLabel *nowSummary;
    QLabel *daysSummary;
    QLabel *growthSummary;
    QPushButton *pictureButton;
    QPushButton *numbersButton;
};

#endif
