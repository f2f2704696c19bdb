#ifndef MAINWINDOWTESTACCESS_H
#define MAINWINDOWTESTACCESS_H

#include "bookcombobox.h"
#include "mainwindow.h"
#include "nivletcore.h"
#include "nivletstablemodel.h"
#include "nivlettableview.h"
#include "testsupport.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSystemTrayIcon>

// The main window as its tests reach it: its parts by their object names,
// the shown result through the table's model, the store it owns among its
// children, and through friendship only what nothing else shows: the guard
// of the automatic challenge and its clocks.
class MainWindowTestAccess
{
public:
    explicit MainWindowTestAccess(MainWindow *mainWindow) : window(mainWindow) {}

    QPushButton *button(const char *name) const
    {
        return TestSupport::child<QPushButton>(window, name);
    }
    QLineEdit *questionEdit() const
    {
        return TestSupport::child<QLineEdit>(window, "questionEdit");
    }
    BookComboBox *bookComboBox() const
    {
        return TestSupport::child<BookComboBox>(window, "bookComboBox");
    }
    QCheckBox *onlyActiveCheckBox() const
    {
        return TestSupport::child<QCheckBox>(window, "onlyActiveCheckBox");
    }
    QLabel *resultLabel() const { return TestSupport::child<QLabel>(window, "resultLabel"); }
    QLabel *totalCountLabel() const
    {
        return TestSupport::child<QLabel>(window, "totalCountLabel");
    }
    NivletTableView *nivletTableView() const
    {
        return TestSupport::child<NivletTableView>(window, "nivletTableView");
    }
    NivletsTableModel *nivletsModel() const
    {
        return qobject_cast<NivletsTableModel *>(nivletTableView()->model());
    }
    NivletCore *core() const { return window->findChild<NivletCore *>(); }
    QSystemTrayIcon *trayIcon() const
    {
        return TestSupport::child<QSystemTrayIcon>(window, "trayIcon");
    }
    QMenu *trayIconMenu() const { return TestSupport::child<QMenu>(window, "trayIconMenu"); }
    QMenu *pauseMenu() const { return TestSupport::child<QMenu>(window, "pauseMenu"); }
    QAction *resumeAction() const { return TestSupport::child<QAction>(window, "resumeAction"); }

    bool autoChallengeAllowed() const { return window->autoChallengeAllowed; }
    void setAutoChallengeAllowed(bool allowed) const { window->autoChallengeAllowed = allowed; }
    QTimer &tickTimer() const { return window->tickTimer; }
    const ElapsedClock &lastAutoChallenge() const { return window->lastAutoChallenge; }
    const ElapsedClock &optionsFailure() const { return window->optionsFailure; }

private:
    MainWindow *window;
};

#endif
