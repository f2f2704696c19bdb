#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include <QMainWindow>
#include <QSystemTrayIcon>

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
    void openNivletEditor(qint64 nivletId, const QString &appendedAnswers);

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
    // Cleared while a command runs: its dialogs run nested event loops.
    bool autoChallengeAllowed;

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

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    void iconActivated(QSystemTrayIcon::ActivationReason reason);

private:
    void buildCentralWidget();
    void dropResult();
};

#endif
