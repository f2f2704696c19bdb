#include "book.h"
#include "challengedialog.h"
#include "desktopactivity.h"
#include "editnivletdialog.h"
#include "elapsedclock.h"
#include "knrate.h"
#include "mainwindow.h"
#include "mainwindowtestaccess.h"
#include "nivlet.h"
#include "nivletcore.h"
#include "nivletstablemodel.h"
#include "nivlettableview.h"
#include "testsupport.h"

#include <QApplication>
#include <QHash>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTextEdit>
#include <QTimeZone>

#include <sqlite3.h>

#include <functional>
#include <memory>

using TestSupport::child;

namespace {
// Three active nivlets in an active book; the options switch automatic
// challenges on with the shortest interval, one minute.
const char rows[] = "INSERT INTO book (id, name, active) VALUES (1, 'Rivers', 1);\n"
                    "INSERT INTO nivlet (id, active, kn_rate, book_id, question, answer) VALUES\n"
                    " (1, 1, 0.5, 1, 'Longest river?', 'Nile'),\n"
                    " (2, 1, 0.25, 1, 'River through Vienna?', 'Danube\nDonau'),\n"
                    " (3, 1, 0.75, 1, 'River through Paris?', 'Seine');\n"
                    "UPDATE options SET auto_ch = 1, auto_ch_interval = 60;\n";
constexpr qint64 interval = 60 * 1000;

// Time that passes only when the test says so.
class ManualClock : public MonotonicClock
{
public:
    qint64 msecs() const override { return now; }
    void advance(qint64 ms) { now += ms; }
    qint64 now = 1000000;
};

// The calendar's time, set and moved by hand, in a zone with daylight-saving
// time.
class ManualWallClock : public WallClock
{
public:
    QDateTime now() const override { return QDateTime::fromMSecsSinceEpoch(utc, zone); }
    void set(const QDateTime &time) { utc = time.toMSecsSinceEpoch(); }
    void advance(qint64 ms) { utc += ms; }
    const QTimeZone zone{QByteArrayLiteral("Europe/Berlin")};
    qint64 utc = QDateTime(QDate(2024, 6, 12), QTime(14, 0), zone).toMSecsSinceEpoch();
};

// A desktop whose user types, and whose other program goes full screen, when
// the test says so. Untouched, the keyboard has been idle for a long time.
class ManualDesktop : public IdleTime, public FullScreenTest
{
public:
    explicit ManualDesktop(const ManualClock *source) : clock(source) {}
    std::optional<qint64> msecs() const override
    {
        if (!readable)
            return std::nullopt;
        return clock->msecs() - lastInput;
    }
    bool otherWindowFullScreen() const override { return fullScreen; }
    void type() { lastInput = clock->msecs(); }

    const ManualClock *clock;
    qint64 lastInput = 0;
    bool readable = true;
    bool fullScreen = false;
};

// Watches for challenge dialogs: each one that comes up is counted and handed
// to the action, which by default closes it unanswered. Editors that come up
// go to their own action; both run from the same poll, so that neither waits
// inside the other's event loop.
class ChallengeWatcher : public QObject
{
public:
    ChallengeWatcher()
    {
        timer.setInterval(5);
        connect(&timer, &QTimer::timeout, this, &ChallengeWatcher::poll);
        timer.start();
    }
    std::function<void(ChallengeDialog *)> action = [](ChallengeDialog *d) { d->reject(); };
    std::function<void(EditNivletDialog *)> editorAction = [](EditNivletDialog *d) { d->reject(); };
    QList<qint64> asked;
    int editors = 0;
    QList<bool> windowVisible;
    QList<bool> windowMinimized;
    // Whether each challenge came up modal, which takes the keyboard, or
    // without activating.
    QList<bool> modal;
    QList<bool> withoutActivating;
    MainWindow *window = nullptr;

private:
    void poll()
    {
        if (auto *editor = qobject_cast<EditNivletDialog *>(QApplication::activeModalWidget())) {
            if (editor->isVisible() && editor != lastEditor) {
                lastEditor = editor;
                ++editors;
                editorAction(editor);
            }
            return;
        }
        ChallengeDialog *dialog = shownChallenge();
        if (!dialog || dialog == last)
            return;
        last = dialog;
        asked << dialog->nivlet()->id;
        modal << (QApplication::activeModalWidget() == dialog);
        withoutActivating << dialog->testAttribute(Qt::WA_ShowWithoutActivating);
        if (window) {
            windowVisible << window->isVisible();
            windowMinimized << window->isMinimized();
        }
        action(dialog);
    }
    static ChallengeDialog *shownChallenge()
    {
        if (auto *modalOne = qobject_cast<ChallengeDialog *>(QApplication::activeModalWidget()))
            return modalOne->isVisible() ? modalOne : nullptr;
        const QWidgetList windows = QApplication::topLevelWidgets();
        for (QWidget *window : windows) {
            auto *dialog = qobject_cast<ChallengeDialog *>(window);
            if (dialog && dialog->isVisible())
                return dialog;
        }
        return nullptr;
    }
    QTimer timer;
    // Guarded, so that a new dialog built where the last one was freed counts as new.
    QPointer<ChallengeDialog> last;
    EditNivletDialog *lastEditor = nullptr;
};

int logLines()
{
    return int(TestSupport::readFile(QStringLiteral("nivlets.log")).count(QLatin1Char('\n')));
}

// The right answer of each nivlet of the rows above.
QString answerOf(qint64 id)
{
    switch (id) {
    case 1:
        return QStringLiteral("nile");
    case 2:
        return QStringLiteral("  DANUBE ");
    default:
        return QStringLiteral("Seine");
    }
}
} // namespace

class TestAutoChallenge : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void timerRunsFromStartUp();
    void theTimerItselfStartsAChallenge();
    void notAtExactlyTheInterval();
    void manualChallengeKeepsTheClock();
    void longSeriesThenNextAtFirstTick();
    void switchedOnAfterTheIntervalPassed();
    void savedIntervalTakesEffectAtTheNextTick();
    void dueWhileACommandRuns_data();
    void dueWhileACommandRuns();
    void timerWithoutActiveNivletShowsNothing();
    void buttonWithoutActiveNivletReports();
    void persistingOptionsFailure();
    void seriesOnARealStore();
    void correctionOpensTheEditor();
    void correctionOfAVanishedNivlet_data();
    void correctionOfAVanishedNivlet();
    void laterPleaseAsksTheSameFirst();
    void fromTheTrayShowsMinimised();

    void unaskedComesWithoutTheFocus();
    void unaskedHoldsTheMainWindow();
    void waitsForAPauseInTyping();
    void typingWaitEndsAfterTwoMinutes();
    void noIdleTimeComesAtOnce_data();
    void noIdleTimeComesAtOnce();
    void waitsWhileFullScreen();
    void afterFullScreenWaitsForAPause();
    void trayMenuOffersThePause();
    void pauseChoices_data();
    void pauseChoices();
    void afterThePauseTheIntervalRuleHolds();
    void resumeEndsThePause();
    void pauseLeavesTheButton();
    void toolTipTexts();

private:
    MainWindowTestAccess ui() const { return MainWindowTestAccess(window.get()); }
    bool openWindow();
    void passTime(qint64 ms);
    QAction *trayAction(const QString &text) const;

    std::unique_ptr<TestSupport::WorkDir> work;
    std::unique_ptr<TestSupport::BoxCatcher> boxes;
    std::unique_ptr<ManualClock> clock;
    std::unique_ptr<ManualWallClock> wallClock;
    std::unique_ptr<ManualDesktop> desktop;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<ChallengeWatcher> watcher;
};

void TestAutoChallenge::initTestCase()
{
    QVERIFY2(QSystemTrayIcon::isSystemTrayAvailable(),
             "the main window needs a system tray: run under the test command's X server");
}

void TestAutoChallenge::init()
{
    work = std::make_unique<TestSupport::WorkDir>();
    QVERIFY(work->isValid());
    QVERIFY(TestSupport::createDatabase(work->path(), QString::fromUtf8(rows)));
    seedRandom(5);
    QVERIFY(openWindow());
}

bool TestAutoChallenge::openWindow()
{
    watcher.reset();
    window.reset();
    boxes = std::make_unique<TestSupport::BoxCatcher>();
    clock = std::make_unique<ManualClock>();
    wallClock = std::make_unique<ManualWallClock>();
    desktop = std::make_unique<ManualDesktop>(clock.get());
    window = std::make_unique<MainWindow>();
    window->setClock(clock.get());
    window->setWallClock(wallClock.get());
    window->setIdleTime(desktop.get());
    window->setFullScreenTest(desktop.get());
    if (!window->init())
        return false;
    // The ticks come from the test, at the times it chooses.
    ui().tickTimer().stop();
    ui().core()->setBusyTimeout(50);
    window->show();
    watcher = std::make_unique<ChallengeWatcher>();
    watcher->window = window.get();
    return QTest::qWaitForWindowExposed(window.get());
}

void TestAutoChallenge::cleanup()
{
    watcher.reset();
    while (QWidget *modal = QApplication::activeModalWidget()) {
        modal->close();
        QTest::qWait(10);
    }
    window.reset();
    desktop.reset();
    wallClock.reset();
    clock.reset();
    boxes.reset();
    work.reset();
}

void TestAutoChallenge::timerRunsFromStartUp()
{
    MainWindow fresh;
    QVERIFY(!MainWindowTestAccess(&fresh).tickTimer().isActive());
    QVERIFY(!MainWindowTestAccess(&fresh).lastAutoChallenge().isValid());
    QVERIFY(!MainWindowTestAccess(&fresh).autoChallengeAllowed());
    QVERIFY(fresh.init());
    QVERIFY(MainWindowTestAccess(&fresh).tickTimer().isActive());
    QCOMPARE(MainWindowTestAccess(&fresh).tickTimer().interval(), 2000);
    QVERIFY(!MainWindowTestAccess(&fresh).tickTimer().isSingleShot());
    QVERIFY(MainWindowTestAccess(&fresh).lastAutoChallenge().isValid());
    QVERIFY(MainWindowTestAccess(&fresh).autoChallengeAllowed());
    QVERIFY(MainWindowTestAccess(&fresh).lastAutoChallenge().elapsed() < 1000);
}

void TestAutoChallenge::theTimerItselfStartsAChallenge()
{
    clock->advance(interval + 1);
    ui().tickTimer().start();
    QTRY_COMPARE_WITH_TIMEOUT(watcher->asked.size(), 1, 5000);
    QTRY_VERIFY(ui().autoChallengeAllowed());
    QCOMPARE(ui().lastAutoChallenge().elapsed(), 0);
}

void TestAutoChallenge::notAtExactlyTheInterval()
{
    clock->advance(interval);
    window->onTick();
    QCOMPARE(watcher->asked.size(), 0);
    clock->advance(1);
    window->onTick();
    QCOMPARE(watcher->asked.size(), 1);
    QVERIFY(ui().autoChallengeAllowed());
    // The clock restarted when the challenge started.
    QCOMPARE(ui().lastAutoChallenge().elapsed(), 0);
    clock->advance(interval);
    window->onTick();
    QCOMPARE(watcher->asked.size(), 1);
    QVERIFY(boxes->texts.isEmpty());
}

void TestAutoChallenge::manualChallengeKeepsTheClock()
{
    clock->advance(interval / 2);
    QTest::mouseClick(ui().button("challengeButton"), Qt::LeftButton);
    QCOMPARE(watcher->asked.size(), 1);
    QCOMPARE(ui().lastAutoChallenge().elapsed(), interval / 2);
    clock->advance(interval / 2 + 1);
    window->onTick();
    QCOMPARE(watcher->asked.size(), 2);
}

void TestAutoChallenge::longSeriesThenNextAtFirstTick()
{
    int answered = 0;
    watcher->action = [&](ChallengeDialog *dialog) {
        // Each question takes the user well over the interval.
        clock->advance(3 * interval);
        window->onTick();
        if (++answered < 4) {
            child<QLineEdit>(dialog, "answerEdit")->setText(answerOf(dialog->nivlet()->id));
            dialog->check();
            dialog->next();
        } else {
            dialog->reject();
        }
    };
    clock->advance(interval + 1);
    window->onTick();
    QCOMPARE(watcher->asked.size(), 4);
    QCOMPARE(ui().lastAutoChallenge().elapsed(), 4 * 3 * interval);
    QVERIFY(ui().autoChallengeAllowed());
    watcher->action = [](ChallengeDialog *d) { d->reject(); };
    window->onTick();
    QCOMPARE(watcher->asked.size(), 5);
}

void TestAutoChallenge::switchedOnAfterTheIntervalPassed()
{
    Options off = *ui().core()->options();
    off.autoCh = false;
    QVERIFY(ui().core()->setOptions(off));
    clock->advance(5 * interval);
    window->onTick();
    QCOMPARE(watcher->asked.size(), 0);
    Options on = off;
    on.autoCh = true;
    QVERIFY(ui().core()->setOptions(on));
    window->onTick();
    QCOMPARE(watcher->asked.size(), 1);
}

void TestAutoChallenge::savedIntervalTakesEffectAtTheNextTick()
{
    Options longer = *ui().core()->options();
    longer.autoChInterval = 10 * 60;
    QVERIFY(ui().core()->setOptions(longer));
    clock->advance(interval + 1);
    window->onTick();
    QCOMPARE(watcher->asked.size(), 0);
    clock->advance(9 * interval);
    window->onTick();
    QCOMPARE(watcher->asked.size(), 1);
}

void TestAutoChallenge::dueWhileACommandRuns_data()
{
    QTest::addColumn<QString>("command");
    QTest::newRow("new nivlet") << QStringLiteral("new");
    QTest::newRow("edit nivlet") << QStringLiteral("edit");
    QTest::newRow("delete question") << QStringLiteral("delete");
    QTest::newRow("manual challenge") << QStringLiteral("challenge");
    QTest::newRow("puzzle size") << QStringLiteral("puzzle");
    QTest::newRow("books") << QStringLiteral("books");
    QTest::newRow("options") << QStringLiteral("options");
    QTest::newRow("about") << QStringLiteral("about");
}

void TestAutoChallenge::dueWhileACommandRuns()
{
    QFETCH(QString, command);
    window->search();
    ui().nivletTableView()->selectionModel()->select(
        ui().nivletsModel()->index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    int ticksInside = 0;
    const auto tickInside = [&] {
        clock->advance(interval + 1);
        for (int i = 0; i < 3; ++i) {
            window->onTick();
            ++ticksInside;
        }
    };
    QPushButton *button = nullptr;
    const QHash<QString, QPushButton *> dialogCommands{
        {QStringLiteral("puzzle"), ui().button("puzzleButton")},
        {QStringLiteral("books"), ui().button("booksButton")},
        {QStringLiteral("options"), ui().button("optionsButton")},
        {QStringLiteral("about"), ui().button("aboutButton")}};
    if (command == QLatin1String("new") || command == QLatin1String("edit")) {
        button =
            command == QLatin1String("new") ? ui().button("newButton") : ui().button("editButton");
        watcher->editorAction = [&](EditNivletDialog *editor) {
            tickInside();
            editor->reject();
        };
    } else if (command == QLatin1String("delete")) {
        button = ui().button("deleteButton");
        TestSupport::onModal<QMessageBox>([&](QMessageBox *box) {
            tickInside();
            box->done(QMessageBox::No);
        });
    } else if (command == QLatin1String("challenge")) {
        button = ui().button("challengeButton");
        watcher->action = [&](ChallengeDialog *dialog) {
            tickInside();
            dialog->reject();
        };
    } else {
        button = dialogCommands.value(command);
        TestSupport::onModal<QDialog>([&](QDialog *dialog) {
            tickInside();
            dialog->reject();
        });
    }
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(ticksInside, 3);
    const int manual = command == QLatin1String("challenge") ? 1 : 0;
    QCOMPARE(watcher->asked.size(), manual);
    QVERIFY(ui().autoChallengeAllowed());
    watcher->action = [](ChallengeDialog *d) { d->reject(); };
    window->onTick();
    QCOMPARE(watcher->asked.size(), manual + 1);
    QVERIFY(boxes->texts.isEmpty());
}

void TestAutoChallenge::timerWithoutActiveNivletShowsNothing()
{
    QVERIFY(ui().core()->editBook(ui().core()->book(0), QStringLiteral("Rivers"), false));
    clock->advance(interval + 1);
    window->onTick();
    QTest::qWait(30);
    QCOMPARE(watcher->asked.size(), 0);
    QVERIFY(boxes->texts.isEmpty());
    QCOMPARE(logLines(), 0);
    QVERIFY(ui().autoChallengeAllowed());
    QVERIFY(window->isVisible());
    // Silent, and the next attempt waits for the next interval.
    QCOMPARE(ui().lastAutoChallenge().elapsed(), 0);
}

void TestAutoChallenge::buttonWithoutActiveNivletReports()
{
    QVERIFY(TestSupport::execSql(work->file(QStringLiteral("nivlets")),
                                 QStringLiteral("UPDATE nivlet SET active = 0;")));
    QVERIFY(openWindow());
    QTest::mouseClick(ui().button("challengeButton"), Qt::LeftButton);
    QTRY_COMPARE(boxes->texts.size(), 1);
    QCOMPARE(boxes->titles, QStringList{QStringLiteral("Error")});
    QCOMPARE(boxes->texts, QStringList{QStringLiteral("There is no nivlet to ask.")});
    QCOMPARE(TestSupport::readFile(QStringLiteral("nivlets.log")),
             QStringLiteral("Error: There is no nivlet to ask.\n"));
    QCOMPARE(watcher->asked.size(), 0);
    QVERIFY(ui().autoChallengeAllowed());
}

void TestAutoChallenge::persistingOptionsFailure()
{
    auto lock = std::make_unique<TestSupport::LockingConnection>();
    QVERIFY(lock->locked);
    clock->advance(interval + 1);
    int nestedBoxes = 0;
    bool guardWhileShown = true;
    boxes->whileShown = [&] {
        // Ticks keep arriving while the box is open; they must add nothing.
        guardWhileShown = ui().autoChallengeAllowed();
        QWidget *box = QApplication::activeModalWidget();
        for (int i = 0; i < 5; ++i) {
            clock->advance(5000);
            window->onTick();
            if (QApplication::activeModalWidget() != box)
                ++nestedBoxes;
        }
    };
    window->onTick();
    QCOMPARE(boxes->texts.size(), 1);
    QVERIFY2(boxes->texts.first().startsWith(
                 QStringLiteral("Could not get options from database. error code: 5")),
             qPrintable(boxes->texts.first()));
    QCOMPARE(nestedBoxes, 0);
    QVERIFY(!guardWhileShown);
    QCOMPARE(logLines(), 1);
    QCOMPARE(watcher->asked.size(), 0);
    QVERIFY(ui().autoChallengeAllowed());

    // Ticks within a minute after the box closed ask nothing.
    boxes->whileShown = nullptr;
    for (int i = 0; i < 29; ++i) {
        clock->advance(2000);
        window->onTick();
    }
    QCOMPARE(boxes->texts.size(), 1);
    QCOMPARE(logLines(), 1);
    // The next box comes a minute after the last one closed.
    clock->advance(2001);
    window->onTick();
    QCOMPARE(boxes->texts.size(), 2);
    QCOMPARE(logLines(), 2);

    // Once the file can be read again, the challenge that is long due starts.
    lock.reset();
    clock->advance(MainWindow::optionsRetryDelay + 1);
    window->onTick();
    QCOMPARE(boxes->texts.size(), 2);
    QCOMPARE(watcher->asked.size(), 1);
    QVERIFY(!ui().optionsFailure().isValid());
}

void TestAutoChallenge::seriesOnARealStore()
{
    window->search();
    QCOMPARE(ui().nivletsModel()->rowCount(), 3);
    QList<double> rateAfter;
    QList<QString> shownRate;
    int round = 0;
    watcher->action = [&](ChallengeDialog *dialog) {
        const qint64 id = dialog->nivlet()->id;
        const double before = dialog->nivlet()->knRate;
        // The first answer is right, the second wrong.
        QTest::keyClicks(child<QLineEdit>(dialog, "answerEdit"),
                         round == 0 ? answerOf(id) : QStringLiteral("Amazon"));
        QTest::mouseClick(child<QPushButton>(dialog, "checkButton"), Qt::LeftButton);
        rateAfter << TestSupport::storedRate(id);
        QCOMPARE(rateAfter.last(), round == 0 ? before * 0.5 + 0.5 : before * 0.5);
        QTest::mouseClick(round == 0 ? child<QPushButton>(dialog, "nextButton")
                                     : child<QPushButton>(dialog, "closeButton"),
                          Qt::LeftButton);
        ++round;
    };
    QTest::mouseClick(ui().button("challengeButton"), Qt::LeftButton);
    QCOMPARE(watcher->asked.size(), 2);
    QVERIFY(watcher->asked.at(0) != watcher->asked.at(1));
    QCOMPARE(rateAfter.size(), 2);
    // The shown search has been repeated: it lists the rates just written.
    for (int row = 0; row < ui().nivletsModel()->rowCount(); ++row) {
        const Nivlet *n = ui().nivletsModel()->nivletAt(row);
        QCOMPARE(n->knRate, TestSupport::storedRate(n->id));
    }
    QCOMPARE(ui().nivletsModel()->rowCount(), 3);
    QVERIFY(ui().autoChallengeAllowed());
}

void TestAutoChallenge::correctionOpensTheEditor()
{
    window->search();
    qint64 asked = -1;
    QString oldAnswer;
    watcher->action = [&](ChallengeDialog *dialog) {
        asked = dialog->nivlet()->id;
        oldAnswer = dialog->nivlet()->answer;
        QTest::keyClicks(child<QLineEdit>(dialog, "answerEdit"), QStringLiteral("Big River"));
        QTest::mouseClick(child<QPushButton>(dialog, "checkButton"), Qt::LeftButton);
        QVERIFY(dialog->findChild<QPushButton *>(QStringLiteral("correctionButton")));
        QTest::mouseClick(child<QPushButton>(dialog, "correctionButton"), Qt::LeftButton);
    };
    QString shown;
    QString rate;
    watcher->editorAction = [&](EditNivletDialog *editor) {
        shown = child<QTextEdit>(editor, "answersEdit")->toPlainText();
        rate = child<QLabel>(editor, "knRateLabel")->text();
        QTest::mouseClick(child<QPushButton>(editor, "okButton"), Qt::LeftButton);
    };
    QTest::mouseClick(ui().button("challengeButton"), Qt::LeftButton);
    QCOMPARE(watcher->asked.size(), 1);
    QCOMPARE(watcher->editors, 1);
    QCOMPARE(shown, oldAnswer + QStringLiteral("\nBig River"));
    // The editor shows the rate the wrong answer left.
    QCOMPARE(rate, knRateText(TestSupport::storedRate(asked)));
    std::unique_ptr<Nivlet> saved(ui().core()->getNivlet(asked));
    QCOMPARE(saved->answer, oldAnswer + QStringLiteral("\nBig River"));
    QVERIFY(saved->isCorrectAnswer(QStringLiteral("big river")));
    // The series ended with the editor: no second challenge.
    QVERIFY(ui().autoChallengeAllowed());
}

void TestAutoChallenge::correctionOfAVanishedNivlet_data()
{
    QTest::addColumn<bool>("locked");
    QTest::newRow("row deleted") << false;
    QTest::newRow("file locked") << true;
}

void TestAutoChallenge::correctionOfAVanishedNivlet()
{
    QFETCH(bool, locked);
    window->search();
    std::unique_ptr<TestSupport::LockingConnection> lock;
    watcher->action = [&](ChallengeDialog *dialog) {
        QTest::keyClicks(child<QLineEdit>(dialog, "answerEdit"), QStringLiteral("wrong"));
        QTest::mouseClick(child<QPushButton>(dialog, "checkButton"), Qt::LeftButton);
        const QString sql =
            QStringLiteral("DELETE FROM nivlet WHERE id = %1;").arg(dialog->nivlet()->id);
        if (locked) {
            lock = std::make_unique<TestSupport::LockingConnection>();
            QVERIFY(lock->locked);
        } else {
            QVERIFY(TestSupport::execSql(QStringLiteral("nivlets"), sql));
        }
        QTest::mouseClick(child<QPushButton>(dialog, "correctionButton"), Qt::LeftButton);
    };
    QTest::mouseClick(ui().button("challengeButton"), Qt::LeftButton);
    QTest::qWait(30);
    QCOMPARE(watcher->asked.size(), 1);
    QCOMPARE(watcher->editors, 0);
    QVERIFY(!QApplication::activeModalWidget());
    QVERIFY(ui().autoChallengeAllowed());
    if (locked) {
        // The search after the answer and the editor's read both meet the lock.
        QVERIFY(!boxes->texts.isEmpty());
        QVERIFY2(boxes->texts.last().startsWith(
                     QStringLiteral("Could not get nivlet from database. error code: 5")),
                 qPrintable(boxes->texts.join(QLatin1Char('|'))));
    } else {
        QVERIFY(boxes->texts.isEmpty());
    }
}

void TestAutoChallenge::laterPleaseAsksTheSameFirst()
{
    qint64 first = -1;
    watcher->action = [&](ChallengeDialog *dialog) {
        first = dialog->nivlet()->id;
        QTest::mouseClick(child<QPushButton>(dialog, "laterButton"), Qt::LeftButton);
    };
    QTest::mouseClick(ui().button("challengeButton"), Qt::LeftButton);
    QCOMPARE(watcher->asked.size(), 1);
    watcher->action = [](ChallengeDialog *d) { d->reject(); };
    QTest::mouseClick(ui().button("challengeButton"), Qt::LeftButton);
    QCOMPARE(watcher->asked.size(), 2);
    QCOMPARE(watcher->asked.at(1), first);
}

void TestAutoChallenge::fromTheTrayShowsMinimised()
{
    window->hide();
    QTRY_VERIFY(!window->isVisible());
    clock->advance(interval + 1);
    window->onTick();
    QCOMPARE(watcher->asked.size(), 1);
    QCOMPARE(watcher->windowVisible, QList<bool>{true});
    QCOMPARE(watcher->windowMinimized, QList<bool>{true});
    QVERIFY(!window->isVisible());
    QVERIFY(ui().trayIcon()->isVisible());
    QVERIFY(ui().autoChallengeAllowed());

    // A visible window stays visible.
    window->showNormal();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    clock->advance(interval + 1);
    window->onTick();
    QCOMPARE(watcher->asked.size(), 2);
    QCOMPARE(watcher->windowMinimized.last(), false);
    QVERIFY(window->isVisible());
}

void TestAutoChallenge::passTime(qint64 ms)
{
    clock->advance(ms);
    wallClock->advance(ms);
}

QAction *TestAutoChallenge::trayAction(const QString &text) const
{
    QList<QAction *> actions = ui().trayIconMenu()->actions();
    actions += ui().pauseMenu()->actions();
    for (QAction *action : std::as_const(actions)) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

void TestAutoChallenge::unaskedComesWithoutTheFocus()
{
    QList<bool> inAnswerField;
    watcher->action = [&](ChallengeDialog *dialog) {
        inAnswerField << (dialog->focusWidget() == child<QLineEdit>(dialog, "answerEdit"));
        // The second automatic challenge is answered, and the next one asked for.
        if (watcher->asked.size() == 3) {
            child<QLineEdit>(dialog, "answerEdit")->setText(answerOf(dialog->nivlet()->id));
            dialog->check();
            dialog->next();
        } else {
            dialog->reject();
        }
    };
    clock->advance(interval + 1);
    window->onTick();
    QTest::mouseClick(ui().button("challengeButton"), Qt::LeftButton);
    clock->advance(interval + 1);
    window->onTick();
    QCOMPARE(watcher->asked.size(), 4);
    // Automatic, by the button, automatic, then asked for from the last one.
    QCOMPARE(watcher->modal, (QList<bool>{false, true, false, true}));
    QCOMPARE(watcher->withoutActivating, (QList<bool>{true, false, true, false}));
    QCOMPARE(inAnswerField, (QList<bool>{true, true, true, true}));
    QVERIFY(ui().autoChallengeAllowed());
}

void TestAutoChallenge::unaskedHoldsTheMainWindow()
{
    int nested = 0;
    QString typedMeanwhile;
    watcher->action = [&](ChallengeDialog *dialog) {
        if (watcher->asked.size() > 1) {
            ++nested;
            dialog->reject();
            return;
        }
        // As a modal challenge would, this one keeps the main window's
        // commands from starting inside it. The clicks come from a timer of
        // their own, so that the watcher can see a challenge they start.
        QTimer::singleShot(0, dialog, [&, dialog] {
            QTest::mouseClick(ui().button("challengeButton"), Qt::LeftButton);
            QTest::mouseClick(ui().button("newButton"), Qt::LeftButton);
            QTest::keyClicks(ui().questionEdit(), QStringLiteral("Longest"));
            typedMeanwhile = ui().questionEdit()->text();
            dialog->reject();
        });
    };
    clock->advance(interval + 1);
    window->onTick();
    QCOMPARE(watcher->asked.size(), 1);
    QCOMPARE(nested, 0);
    QCOMPARE(watcher->editors, 0);
    QCOMPARE(typedMeanwhile, QString());
    // Once it is closed, the window takes input again.
    QTest::keyClicks(ui().questionEdit(), QStringLiteral("Longest"));
    QCOMPARE(ui().questionEdit()->text(), QStringLiteral("Longest"));
    QVERIFY(ui().autoChallengeAllowed());
}

void TestAutoChallenge::waitsForAPauseInTyping()
{
    clock->advance(interval + 1);
    for (int i = 0; i < 30; ++i) {
        desktop->type();
        clock->advance(2000);
        window->onTick();
    }
    QCOMPARE(watcher->asked.size(), 0);
    desktop->type();
    clock->advance(MainWindow::typingPause - 1);
    window->onTick();
    QCOMPARE(watcher->asked.size(), 0);
    clock->advance(1);
    window->onTick();
    QCOMPARE(watcher->asked.size(), 1);
    QCOMPARE(watcher->modal, QList<bool>{false});
    QCOMPARE(ui().lastAutoChallenge().elapsed(), 0);
}

void TestAutoChallenge::typingWaitEndsAfterTwoMinutes()
{
    clock->advance(interval + 1);
    desktop->type();
    // The wait starts with this tick.
    window->onTick();
    const qint64 ticks = MainWindow::typingWaitLimit / MainWindow::tickInterval;
    for (qint64 i = 1; i < ticks; ++i) {
        clock->advance(1000);
        desktop->type();
        clock->advance(1000);
        window->onTick();
    }
    QCOMPARE(watcher->asked.size(), 0);
    clock->advance(1000);
    desktop->type();
    clock->advance(1000);
    window->onTick();
    QCOMPARE(watcher->asked.size(), 1);
    QCOMPARE(watcher->withoutActivating, QList<bool>{true});
}

void TestAutoChallenge::noIdleTimeComesAtOnce_data()
{
    QTest::addColumn<bool>("reader");
    QTest::newRow("no reader (Wayland)") << false;
    QTest::newRow("a reader without an answer") << true;
}

void TestAutoChallenge::noIdleTimeComesAtOnce()
{
    QFETCH(bool, reader);
    if (reader)
        desktop->readable = false;
    else
        window->setIdleTime(nullptr);
    clock->advance(interval + 1);
    desktop->type();
    window->onTick();
    QCOMPARE(watcher->asked.size(), 1);
    QCOMPARE(watcher->modal, QList<bool>{false});
    QCOMPARE(watcher->withoutActivating, QList<bool>{true});
}

void TestAutoChallenge::waitsWhileFullScreen()
{
    desktop->fullScreen = true;
    clock->advance(interval + 1);
    for (int i = 0; i < 300; ++i) {
        clock->advance(2000);
        window->onTick();
    }
    QCOMPARE(watcher->asked.size(), 0);
    desktop->fullScreen = false;
    window->onTick();
    QCOMPARE(watcher->asked.size(), 1);
    QCOMPARE(watcher->withoutActivating, QList<bool>{true});
    // Without another program's full screen the reader is not even asked.
    window->setFullScreenTest(nullptr);
    clock->advance(interval + 1);
    window->onTick();
    QCOMPARE(watcher->asked.size(), 2);
}

void TestAutoChallenge::afterFullScreenWaitsForAPause()
{
    desktop->fullScreen = true;
    clock->advance(interval + 1);
    // Five minutes of typing in full screen do not count towards the wait.
    for (int i = 0; i < 150; ++i) {
        desktop->type();
        clock->advance(2000);
        window->onTick();
    }
    desktop->fullScreen = false;
    desktop->type();
    window->onTick();
    const qint64 ticks = MainWindow::typingWaitLimit / MainWindow::tickInterval;
    for (qint64 i = 1; i < ticks; ++i) {
        clock->advance(1000);
        desktop->type();
        clock->advance(1000);
        window->onTick();
    }
    QCOMPARE(watcher->asked.size(), 0);
    clock->advance(2000);
    window->onTick();
    QCOMPARE(watcher->asked.size(), 1);
}

void TestAutoChallenge::trayMenuOffersThePause()
{
    QStringList entries;
    for (const QAction *action : ui().trayIconMenu()->actions())
        entries << action->text();
    QCOMPARE(entries, (QStringList{QStringLiteral("Show the nivlets window"), QString(),
                                   QStringLiteral("Progress..."),
                                   QStringLiteral("Pause automatic challenges"),
                                   QStringLiteral("Resume automatic challenges"), QString(),
                                   QStringLiteral("Exit nivlets")}));
    QCOMPARE(ui().trayIconMenu()->actions().at(3)->menu(), ui().pauseMenu());
    QStringList choices;
    for (const QAction *action : ui().pauseMenu()->actions())
        choices << action->text();
    QCOMPARE(choices, (QStringList{QStringLiteral("30 minutes"), QStringLiteral("1 hour"),
                                   QStringLiteral("4 hours"), QStringLiteral("Until tomorrow")}));
    // "Resume" is offered only while paused.
    QVERIFY(!ui().resumeAction()->isVisible());
    trayAction(QStringLiteral("1 hour"))->trigger();
    QVERIFY(ui().resumeAction()->isVisible());
    QVERIFY(window->autoChallengesPaused());
}

void TestAutoChallenge::pauseChoices_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QString>("until");
    QTest::addColumn<qint64>("lasts");
    const qint64 minute = 60 * 1000;
    const qint64 hour = 60 * minute;
    // The start as an instant with its offset from UTC; the rest in the
    // local time of Europe/Berlin.
    QTest::newRow("30 minutes") << "2024-06-12T14:00+02:00"
                                << "30 minutes"
                                << "2024-06-12 14:30" << 30 * minute;
    QTest::newRow("1 hour") << "2024-06-12T14:00+02:00"
                            << "1 hour"
                            << "2024-06-12 15:00" << hour;
    QTest::newRow("4 hours") << "2024-06-12T14:00+02:00"
                             << "4 hours"
                             << "2024-06-12 18:00" << 4 * hour;
    QTest::newRow("until tomorrow") << "2024-06-12T14:17+02:00"
                                    << "Until tomorrow"
                                    << "2024-06-13 04:00" << 13 * hour + 43 * minute;
    QTest::newRow("30 minutes across midnight") << "2024-06-12T23:45+02:00"
                                                << "30 minutes"
                                                << "2024-06-13 00:15" << 30 * minute;
    QTest::newRow("until tomorrow after midnight") << "2024-06-13T00:30+02:00"
                                                   << "Until tomorrow"
                                                   << "2024-06-13 04:00" << 3 * hour + 30 * minute;
    QTest::newRow("until tomorrow at four") << "2024-06-13T04:00+02:00"
                                            << "Until tomorrow"
                                            << "2024-06-14 04:00" << 24 * hour;
    // Europe/Berlin moves from 02:00 to 03:00 on 31 March 2024 and back from
    // 03:00 to 02:00 on 27 October 2024.
    QTest::newRow("until tomorrow into summer time") << "2024-03-30T22:00+01:00"
                                                     << "Until tomorrow"
                                                     << "2024-03-31 04:00" << 5 * hour;
    QTest::newRow("until tomorrow into winter time") << "2024-10-26T22:00+02:00"
                                                     << "Until tomorrow"
                                                     << "2024-10-27 04:00" << 7 * hour;
    QTest::newRow("1 hour into summer time") << "2024-03-31T01:30+01:00"
                                             << "1 hour"
                                             << "2024-03-31 03:30" << hour;
    // From the first 02:30 to the second.
    QTest::newRow("1 hour into winter time") << "2024-10-27T02:30+02:00"
                                             << "1 hour"
                                             << "2024-10-27 02:30" << hour;
}

void TestAutoChallenge::pauseChoices()
{
    QFETCH(QString, start);
    QFETCH(QString, choice);
    QFETCH(QString, until);
    QFETCH(qint64, lasts);
    const QString format = QStringLiteral("yyyy-MM-dd HH:mm");
    QVERIFY2(wallClock->zone.isValid(), "the time zone data (tzdata) is missing");
    const QDateTime startTime = QDateTime::fromString(start, Qt::ISODate);
    QVERIFY(startTime.isValid());
    wallClock->set(startTime);
    // A challenge is long due; only the pause holds it.
    clock->advance(10 * interval);
    window->onTick();
    QCOMPARE(watcher->asked.size(), 1);

    clock->advance(10 * interval);
    trayAction(choice)->trigger();
    const QDateTime pausedUntil = window->autoChallengesPausedUntil();
    QCOMPARE(pausedUntil.toString(format), until);
    QCOMPARE(pausedUntil.toMSecsSinceEpoch() - wallClock->now().toMSecsSinceEpoch(), lasts);
    const QString tip = QStringLiteral("Paused until ") + until.mid(11);
    QCOMPARE(ui().trayIcon()->toolTip(), tip);

    passTime(lasts - 1);
    window->onTick();
    QCOMPARE(watcher->asked.size(), 1);
    QVERIFY(window->autoChallengesPaused());
    QCOMPARE(ui().trayIcon()->toolTip(), tip);
    passTime(1);
    window->onTick();
    QCOMPARE(watcher->asked.size(), 2);
    QVERIFY(!window->autoChallengesPaused());
    QVERIFY(!ui().resumeAction()->isVisible());
    QVERIFY(ui().trayIcon()->toolTip().startsWith(QStringLiteral("Next challenge in about ")));
}

void TestAutoChallenge::afterThePauseTheIntervalRuleHolds()
{
    Options hourly = *ui().core()->options();
    hourly.autoChInterval = 60 * 60;
    QVERIFY(ui().core()->setOptions(hourly));
    const qint64 minute = 60 * 1000;
    passTime(60 * minute + 1);
    window->onTick();
    QCOMPARE(watcher->asked.size(), 1);
    passTime(10 * minute);
    trayAction(QStringLiteral("30 minutes"))->trigger();
    passTime(30 * minute);
    window->onTick();
    // The pause is over, and the next challenge is due an hour after the last.
    QVERIFY(!window->autoChallengesPaused());
    QCOMPARE(watcher->asked.size(), 1);
    QCOMPARE(ui().trayIcon()->toolTip(), QStringLiteral("Next challenge in about 20 minutes"));
    passTime(20 * minute);
    window->onTick();
    QCOMPARE(watcher->asked.size(), 1);
    passTime(1);
    window->onTick();
    QCOMPARE(watcher->asked.size(), 2);
}

void TestAutoChallenge::resumeEndsThePause()
{
    clock->advance(interval + 1);
    trayAction(QStringLiteral("4 hours"))->trigger();
    window->onTick();
    QCOMPARE(watcher->asked.size(), 0);
    ui().resumeAction()->trigger();
    QVERIFY(!window->autoChallengesPaused());
    QVERIFY(!window->autoChallengesPausedUntil().isValid());
    QVERIFY(!ui().resumeAction()->isVisible());
    QCOMPARE(ui().trayIcon()->toolTip(), QStringLiteral("Next challenge in about 1 minute"));
    window->onTick();
    QCOMPARE(watcher->asked.size(), 1);
}

void TestAutoChallenge::pauseLeavesTheButton()
{
    trayAction(QStringLiteral("Until tomorrow"))->trigger();
    const QDateTime until = window->autoChallengesPausedUntil();
    clock->advance(interval / 2);
    QTest::mouseClick(ui().button("challengeButton"), Qt::LeftButton);
    QCOMPARE(watcher->asked.size(), 1);
    QCOMPARE(watcher->modal, QList<bool>{true});
    QVERIFY(window->autoChallengesPaused());
    QCOMPARE(window->autoChallengesPausedUntil(), until);
    QCOMPARE(ui().lastAutoChallenge().elapsed(), interval / 2);
    clock->advance(interval);
    window->onTick();
    QCOMPARE(watcher->asked.size(), 1);
}

void TestAutoChallenge::toolTipTexts()
{
    // Until the first tick has read the options.
    QCOMPARE(ui().trayIcon()->toolTip(), QStringLiteral("nivlets"));
    Options options = *ui().core()->options();
    options.autoChInterval = 10 * 60;
    QVERIFY(ui().core()->setOptions(options));
    window->onTick();
    QCOMPARE(ui().trayIcon()->toolTip(), QStringLiteral("Next challenge in about 10 minutes"));
    clock->advance(30 * 1000);
    window->onTick();
    QCOMPARE(ui().trayIcon()->toolTip(), QStringLiteral("Next challenge in about 10 minutes"));
    clock->advance(8 * 60 * 1000);
    window->onTick();
    QCOMPARE(ui().trayIcon()->toolTip(), QStringLiteral("Next challenge in about 2 minutes"));
    clock->advance(60 * 1000);
    window->onTick();
    QCOMPARE(ui().trayIcon()->toolTip(), QStringLiteral("Next challenge in about 1 minute"));

    trayAction(QStringLiteral("1 hour"))->trigger();
    QCOMPARE(ui().trayIcon()->toolTip(), QStringLiteral("Paused until 15:00"));
    options.autoCh = false;
    QVERIFY(ui().core()->setOptions(options));
    window->onTick();
    QCOMPARE(ui().trayIcon()->toolTip(), QStringLiteral("Automatic challenges are off"));
    options.autoCh = true;
    QVERIFY(ui().core()->setOptions(options));
    window->onTick();
    QCOMPARE(ui().trayIcon()->toolTip(), QStringLiteral("Paused until 15:00"));
    ui().resumeAction()->trigger();
    QCOMPARE(ui().trayIcon()->toolTip(), QStringLiteral("Next challenge in about 1 minute"));
    // A command's dialog does not stop the tool tip from moving on.
    options.autoChInterval = 20 * 60;
    QVERIFY(ui().core()->setOptions(options));
    ui().setAutoChallengeAllowed(false);
    window->onTick();
    ui().setAutoChallengeAllowed(true);
    QCOMPARE(ui().trayIcon()->toolTip(), QStringLiteral("Next challenge in about 11 minutes"));
    QCOMPARE(watcher->asked.size(), 0);
}

QTEST_MAIN(TestAutoChallenge)
#include "tst_autochallenge.moc"
