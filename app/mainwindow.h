#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include "desktopactivity.h"
#include "elapsedclock.h"

#include <QDateTime>
#include <QMainWindow>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>

#include <memory>

class BookComboBox;
class NivletCore;
class NivletTableView;
class NivletsTableModel;
class QAction;
class QCheckBox;
class QCloseEvent;
class QDialog;
class QItemSelection;
class QLabel;
class QLayout;
class QLineEdit;
class QPushButton;
class QVBoxLayout;
class X11Desktop;

// The program's frame: owns the store, the search panel with its result
// table, the command buttons and the tray icon. Closing the window only hides
// it; the program ends through the application's quit().
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    MainWindow();
    ~MainWindow() override;

    bool init();
    bool createTrayIcon();

    void updateButtons();
    void updateTotalCount();
    void refreshAfterChange();
    int selectedRow() const;
    void runChallenge(bool automatic);
    void openNivletEditor(qint64 nivletId, const QString &appendedAnswers);
    // The time source of the automatic challenge; the system's steady clock
    // unless another is given. The window does not own it.
    void setClock(const MonotonicClock *clock);
    // What a due automatic challenge waits for: a pause in the user's
    // typing and the end of another program's full screen. Where the desktop
    // cannot tell (null), it does not wait. The window does not own them.
    void setIdleTime(const IdleTime *idle);
    void setFullScreenTest(const FullScreenTest *test);
    // The clock a pause is set and shown by; the window does not own it.
    void setWallClock(const WallClock *clock);

    // A pause holds back the automatic challenges only, and lasts until the
    // program ends at the latest.
    void pauseAutoChallenges(const QDateTime &until);
    void pauseAutoChallengesFor(int minutes);
    void pauseAutoChallengesUntilTomorrow();
    void resumeAutoChallenges();
    bool autoChallengesPaused() const;
    QDateTime autoChallengesPausedUntil() const { return pausedUntil; }
    // The first 04:00 after now, in the time zone of now.
    static QDateTime nextMorning(const QDateTime &now);
    void updateTrayToolTip();

    // After the options could not be read, the next attempt waits this long,
    // so that a lasting failure brings one box a minute, not one every tick.
    static constexpr qint64 optionsRetryDelay = 60 * 1000;
    static constexpr int tickInterval = 2000;
    // A due automatic challenge comes up once the keyboard and mouse have
    // rested this long, or after the longer wait however busy the user is.
    static constexpr qint64 typingPause = 3000;
    static constexpr qint64 typingWaitLimit = 2 * 60 * 1000;

public slots:
    void challenge();
    void puzzle();
    void manageBooks();
    void options();
    void about();
    void progress();
    void search();
    void reset();
    void nivletsSelectionChanged(const QItemSelection &selected, const QItemSelection &deselected);
    void newNivlet();
    void editNivlet();
    void deleteNivlets();
    void onTick();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void iconActivated(QSystemTrayIcon::ActivationReason reason);

private:
    friend class MainWindowTestAccess;

    void buildCentralWidget();
    QLayout *buildCommandRow();
    void addSearchPanel(QVBoxLayout *mainLayout);
    QWidget *buildResultTable();
    QLayout *buildListRow();
    QLayout *buildTotalRow();
    void dropResult();
    bool autoChallengeMayStart();
    int runWithoutFocus(QDialog *dialog);
    void endPauseIfOver();

    NivletCore *core;
    NivletsTableModel *nivletsModel;
    QLineEdit *questionEdit;
    BookComboBox *bookComboBox;
    QCheckBox *onlyActiveCheckBox;
    QPushButton *searchButton;
    QLabel *resultLabel;
    NivletTableView *nivletTableView;
    QPushButton *newButton;
    QPushButton *editButton;
    QPushButton *deleteButton;
    QLabel *totalCountLabel;
    QAction *resumeAction;
    QSystemTrayIcon *trayIcon;
    QTimer tickTimer;
    ElapsedClock lastAutoChallenge;
    // Cleared while a command runs: its dialogs run nested event loops.
    bool autoChallengeAllowed;
    // Running since the last failed read of the options.
    ElapsedClock optionsFailure;

    std::unique_ptr<X11Desktop> x11Desktop;
    const IdleTime *idleTime;
    const FullScreenTest *fullScreenTest;
    const WallClock *wallClock;
    // Running while a due automatic challenge waits for the user to pause.
    ElapsedClock dueSince;
    // Invalid while not paused.
    QDateTime pausedUntil;
    // The challenge that came up without the focus, while it is open.
    QPointer<QDialog> unaskedChallenge;
};

#endif
