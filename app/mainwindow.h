#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include "elapsedclock.h"

#include <QMainWindow>
#include <QSystemTrayIcon>
#include <QTimer>

class BookComboBox;
class NivletCore;
class NivletTableView;
class NivletsTableModel;
class QAction;
class QCheckBox;
class QCloseEvent;
class QItemSelection;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

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

    // After the options could not be read, the next attempt waits this long,
    // so that a lasting failure brings one box a minute, not one every tick.
    static constexpr qint64 optionsRetryDelay = 60 * 1000;
    static constexpr int tickInterval = 2000;

    NivletCore *core;
    NivletsTableModel *nivletsModel;
    QPushButton *challengeButton;
    QPushButton *puzzleButton;
    QPushButton *booksButton;
    QPushButton *optionsButton;
    QPushButton *aboutButton;
    QPushButton *exitButton;
    QLineEdit *questionEdit;
    BookComboBox *bookComboBox;
    QCheckBox *onlyActiveCheckBox;
    QPushButton *searchButton;
    QPushButton *resetButton;
    QLabel *resultLabel;
    NivletTableView *nivletTableView;
    QPushButton *newButton;
    QPushButton *editButton;
    QPushButton *deleteButton;
    QLabel *totalCountLabel;
    QAction *restoreAction;
    QAction *quitAction;
    QMenu *trayIconMenu;
    QSystemTrayIcon *trayIcon;
    QTimer tickTimer;
    ElapsedClock lastAutoChallenge;
    // Cleared while a command runs: its dialogs run nested event loops.
    bool autoChallengeAllowed;
    // Running since the last failed read of the options.
    ElapsedClock optionsFailure;

public slots:
    void challenge();
    void puzzle();
    void manageBooks();
    void options();
    void about();
    void search();
    void reset();
    void nivletsSelectionChanged(const QItemSelection &selected, const QItemSelection &deselected);
    void newNivlet();
    void editNivlet();
    void deleteNivlets();
    void onTick();

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    void iconActivated(QSystemTrayIcon::ActivationReason reason);

private:
    void buildCentralWidget();
    void dropResult();
};

#endif
