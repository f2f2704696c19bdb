#include "mainwindow.h"

#include "aboutdialog.h"
#include "bookcombobox.h"
#include "booksdialog.h"
#include "challengedialog.h"
#include "cwpuzzle.h"
#include "cwpuzzlecreator.h"
#include "cwpuzzledialog.h"
#include "cwpuzzleparamsdialog.h"
#include "editnivletdialog.h"
#include "guiutil.h"
#include "log.h"
#include "nivletcore.h"
#include "nivletstablemodel.h"
#include "nivlettableview.h"
#include "optionsdialog.h"
#include "programicon.h"
#include "progresswindow.h"
#include "x11desktop.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QEventLoop>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>

namespace {
constexpr int windowWidth = 620;
constexpr int windowHeight = 570;

// The toolkit's quit() first asks every visible window to close and gives up
// when one refuses; the main window refuses by hiding to the tray, so a shown
// window would keep the program running. exit() ends the loop without asking.
void endProgram()
{
    QCoreApplication::exit(0);
}

QLabel *header()
{
    auto *picture = GuiUtil::headerLabel(":/mainheader.png");
    picture->setMargin(1);
    return picture;
}

// Every button of the window's rows takes an equal share of its row.
QPushButton *addButton(QHBoxLayout *row, const char *name, const char *icon, const char *text,
                       int width)
{
    QPushButton *button = GuiUtil::named(GuiUtil::iconButton(icon, text, width), name);
    row->addWidget(button, 1);
    return button;
}
} // namespace

MainWindow::MainWindow()
    : core(nullptr), nivletsModel(nullptr), questionEdit(nullptr), bookComboBox(nullptr),
      onlyActiveCheckBox(nullptr), searchButton(nullptr), resultLabel(nullptr),
      nivletTableView(nullptr), newButton(nullptr), editButton(nullptr), deleteButton(nullptr),
      totalCountLabel(nullptr), resumeAction(nullptr), trayIcon(nullptr),
      autoChallengeAllowed(false), x11Desktop(X11Desktop::open()), idleTime(x11Desktop.get()),
      fullScreenTest(x11Desktop.get()), wallClock(WallClock::system())
{
}

MainWindow::~MainWindow()
{
    delete core;
    core = nullptr;
    closeLog();
}

bool MainWindow::init()
{
    openLog();
    core = new NivletCore(this);
    core->setWallClock(wallClock);
    if (!core->open())
        return false;
    // Records of a shown result may refer to a book that has just gone.
    connect(core, &NivletCore::booksChanged, this, &MainWindow::dropResult);
    // Once the event loop runs, so that the window comes up first; the copy
    // goes on in steps while the program works.
    QTimer::singleShot(0, core, [this] { core->backupAtStartup(); });

    resize(windowWidth, windowHeight);
    buildCentralWidget();
    // With the style's margins the header and the command row need a few
    // pixels more than 620. Left to the first show, that growth would make
    // the toolkit map a window meant to start minimised in its normal state.
    resize(size().expandedTo(minimumSizeHint()));

    // The whole desktop, not the work area: task bars do not shift the window.
    const QRect desktop = QGuiApplication::primaryScreen()->virtualGeometry();
    move((desktop.width() - windowWidth) / 2, (desktop.height() - windowHeight) / 2);

    if (!createTrayIcon())
        return false;
    reset();
    autoChallengeAllowed = true;
    lastAutoChallenge.start();
    connect(&tickTimer, &QTimer::timeout, this, &MainWindow::onTick);
    tickTimer.start(tickInterval);
    return true;
}

void MainWindow::setClock(const MonotonicClock *clock)
{
    lastAutoChallenge.setSource(clock);
    optionsFailure.setSource(clock);
    dueSince.setSource(clock);
}

void MainWindow::setIdleTime(const IdleTime *idle)
{
    idleTime = idle;
}

void MainWindow::setFullScreenTest(const FullScreenTest *test)
{
    fullScreenTest = test;
}

void MainWindow::setWallClock(const WallClock *clock)
{
    wallClock = clock;
    if (core)
        core->setWallClock(clock);
}

void MainWindow::buildCentralWidget()
{
    auto *mainLayout = new QVBoxLayout;
    mainLayout->addWidget(header(), 0);
    mainLayout->addLayout(buildCommandRow(), 0);
    mainLayout->addSpacing(5);
    addSearchPanel(mainLayout);
    mainLayout->addWidget(buildResultTable(), 0);
    mainLayout->addLayout(buildListRow(), 0);
    mainLayout->addLayout(buildTotalRow(), 0);
    updateTotalCount();

    auto *central = new QWidget;
    central->setLayout(mainLayout);
    setCentralWidget(central);
}

QLayout *MainWindow::buildCommandRow()
{
    auto *row = new QHBoxLayout;
    connect(addButton(row, "challengeButton", ":/trophy.png", "&Challenge!...", 100),
            &QPushButton::clicked, this, &MainWindow::challenge);
    connect(addButton(row, "puzzleButton", ":/calendar_edit.png", "&Puzzle...", 100),
            &QPushButton::clicked, this, &MainWindow::puzzle);
    connect(addButton(row, "booksButton", ":/book.png", "Books...", 100), &QPushButton::clicked,
            this, &MainWindow::manageBooks);
    connect(addButton(row, "optionsButton", ":/cog.png", "Options...", 100), &QPushButton::clicked,
            this, &MainWindow::options);
    connect(addButton(row, "aboutButton", ":/exclamation.png", "About...", 100),
            &QPushButton::clicked, this, &MainWindow::about);
    connect(addButton(row, "exitButton", ":/door.png", "E&xit", 100), &QPushButton::clicked, qApp,
            endProgram);
    row->addStretch(1);
    return row;
}

// The question's start, the book and the active switch, the search and reset
// buttons, and the line that counts what a search found.
void MainWindow::addSearchPanel(QVBoxLayout *mainLayout)
{
    auto *grid = new QGridLayout;
    grid->setColumnStretch(4, 1);
    questionEdit = GuiUtil::named(
        GuiUtil::addLabeledWidget(grid, new QLineEdit, " Question (begins as):", 0, 0, 4),
        "questionEdit");
    bookComboBox = GuiUtil::named(
        GuiUtil::addLabeledWidget(grid, new BookComboBox(core, true), "Book:", 1, 0, 4),
        "bookComboBox");
    onlyActiveCheckBox = GuiUtil::named(
        new QCheckBox(QStringLiteral("Only active nivlets in active books")), "onlyActiveCheckBox");
    grid->addWidget(onlyActiveCheckBox, 2, 1, 1, 4);
    mainLayout->addLayout(grid, 0);

    auto *searchRow = new QHBoxLayout;
    searchButton = addButton(searchRow, "searchButton", ":/magnifier.png", "&Search nivlets", 130);
    connect(searchButton, &QPushButton::clicked, this, &MainWindow::search);
    connect(addButton(searchRow, "resetButton", ":/asterisk_orange.png", "&Reset", 75),
            &QPushButton::clicked, this, &MainWindow::reset);
    searchRow->addStretch(1);
    mainLayout->addLayout(searchRow, 0);

    resultLabel = GuiUtil::named(new QLabel, "resultLabel");
    // Only the numbers are marked up; the text holds no user data.
    resultLabel->setTextFormat(Qt::RichText);
    resultLabel->setMargin(2);
    mainLayout->addWidget(resultLabel, 0);
    resultLabel->hide();
}

QWidget *MainWindow::buildResultTable()
{
    nivletTableView = GuiUtil::named(new NivletTableView, "nivletTableView");
    nivletTableView->setAccessibleName(QStringLiteral("Nivlets found"));
    nivletTableView->verticalHeader()->hide();
    nivletTableView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    nivletTableView->setSelectionBehavior(QAbstractItemView::SelectRows);
    nivletsModel = new NivletsTableModel(this);
    nivletTableView->setModel(nivletsModel);
    connect(nivletTableView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &MainWindow::nivletsSelectionChanged);
    nivletTableView->addColumn(70, 2.0);
    nivletTableView->addColumn(120, 4.0);
    nivletTableView->addColumn(60, 1.0);
    nivletTableView->addColumn(50, 1.0);
    nivletTableView->addColumn(80, 3.0);
    return nivletTableView;
}

QLayout *MainWindow::buildListRow()
{
    auto *row = new QHBoxLayout;
    newButton = addButton(row, "newButton", ":/add.png", "&New nivlet...", 130);
    connect(newButton, &QPushButton::clicked, this, &MainWindow::newNivlet);
    editButton = addButton(row, "editButton", ":/pencil.png", "Edit nivlet...", 130);
    connect(editButton, &QPushButton::clicked, this, &MainWindow::editNivlet);
    deleteButton = addButton(row, "deleteButton", ":/bin_closed.png", "Delete nivlet(s)", 130);
    connect(deleteButton, &QPushButton::clicked, this, &MainWindow::deleteNivlets);
    row->addStretch(1);
    return row;
}

QLayout *MainWindow::buildTotalRow()
{
    auto *row = new QHBoxLayout;
    row->setContentsMargins(2, 0, 2, 0);
    row->addWidget(new QLabel(QStringLiteral("Total number of nivlets:")), 0);
    totalCountLabel = GuiUtil::named(new QLabel, "totalCountLabel");
    totalCountLabel->setTextFormat(Qt::RichText);
    row->addWidget(totalCountLabel, 0);
    row->addStretch(1);
    QPushButton *progressButton = GuiUtil::named(
        GuiUtil::iconButton(":/chart.png", "Pro&gress...", 100), "progressButton");
    row->addWidget(progressButton, 0);
    connect(progressButton, &QPushButton::clicked, this, &MainWindow::progress);
    return row;
}

bool MainWindow::createTrayIcon()
{
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        logError("System tray is not available on this operating system, cannot continue.", true);
        return false;
    }

    auto *trayIconMenu = GuiUtil::named(new QMenu(this), "trayIconMenu");

    auto *restoreAction = new QAction(QStringLiteral("Show the nivlets window"), this);
    QFont restoreFont = restoreAction->font();
    restoreFont.setWeight(QFont::Bold);
    restoreAction->setFont(restoreFont);
    trayIconMenu->addAction(restoreAction);
    connect(restoreAction, &QAction::triggered, this, &MainWindow::showNormal);

    trayIconMenu->addSeparator();

    QAction *progressAction =
        GuiUtil::named(trayIconMenu->addAction(QStringLiteral("Progress...")), "progressAction");
    connect(progressAction, &QAction::triggered, this, &MainWindow::progress);

    QMenu *pauseMenu = GuiUtil::named(
        trayIconMenu->addMenu(QStringLiteral("Pause automatic challenges")), "pauseMenu");
    const std::pair<const char *, int> pauses[] = {
        {"30 minutes", 30}, {"1 hour", 60}, {"4 hours", 4 * 60}};
    for (const auto &[text, minutes] : pauses) {
        connect(pauseMenu->addAction(QString::fromUtf8(text)), &QAction::triggered, this,
                [this, minutes = minutes] { pauseAutoChallengesFor(minutes); });
    }
    connect(pauseMenu->addAction(QStringLiteral("Until tomorrow")), &QAction::triggered, this,
            &MainWindow::pauseAutoChallengesUntilTomorrow);
    resumeAction = GuiUtil::named(
        trayIconMenu->addAction(QStringLiteral("Resume automatic challenges")), "resumeAction");
    resumeAction->setVisible(false);
    connect(resumeAction, &QAction::triggered, this, &MainWindow::resumeAutoChallenges);

    trayIconMenu->addSeparator();

    auto *quitAction = new QAction(QStringLiteral("Exit nivlets"), this);
    trayIconMenu->addAction(quitAction);
    connect(quitAction, &QAction::triggered, qApp, endProgram);

    trayIcon = GuiUtil::named(new QSystemTrayIcon(programIcon(), this), "trayIcon");
    trayIcon->setContextMenu(trayIconMenu);
    trayIcon->setToolTip(QStringLiteral("nivlets"));
    connect(trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::iconActivated);
    trayIcon->setVisible(true);
    return true;
}

void MainWindow::iconActivated(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::DoubleClick:
    case QSystemTrayIcon::Trigger:
        // A window buried under others comes to the front as well.
        showNormal();
        raise();
        activateWindow();
        break;
    case QSystemTrayIcon::Unknown:
    case QSystemTrayIcon::Context:
    case QSystemTrayIcon::MiddleClick:
        break;
    }
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // Hidden with no tray to bring it back, the program would run on unseen.
    // It does not end by itself when its last window closes (a box shown
    // from the tray must not end it), so without a tray it quits here.
    if (!trayIcon || !trayIcon->isVisible() || !QSystemTrayIcon::isSystemTrayAvailable()) {
        QMainWindow::closeEvent(event);
        QCoreApplication::quit();
        return;
    }
    trayIcon->showMessage(
        QStringLiteral("nivlets is still running!"),
        QStringLiteral("To terminate nivlets, choose 'Exit nivlets' in the right-click menu of the "
                       "system-tray icon."),
        QSystemTrayIcon::Information, 8000);
    hide();
    event->ignore();
}

void MainWindow::challenge()
{
    runChallenge(false);
}

void MainWindow::manageBooks()
{
    autoChallengeAllowed = false;
    {
        BooksDialog dialog(this, core);
        dialog.setupUi();
        dialog.exec();
        // Books may have been renamed, switched off or deleted with their
        // nivlets, whatever the dialog's result.
        reset();
    }
    autoChallengeAllowed = true;
}

void MainWindow::options()
{
    autoChallengeAllowed = false;
    {
        // The dialog saves through the store; the timer reads the options
        // at its next tick, so nothing is restarted here.
        OptionsDialog dialog(this, core);
        if (dialog.loadOptions())
            dialog.exec();
    }
    autoChallengeAllowed = true;
}

void MainWindow::about()
{
    autoChallengeAllowed = false;
    {
        AboutDialog dialog(this);
        dialog.exec();
    }
    autoChallengeAllowed = true;
}

void MainWindow::progress()
{
    autoChallengeAllowed = false;
    {
        ProgressWindow window(this, core, core->history(), wallClock);
        if (window.setupUi())
            window.exec();
    }
    autoChallengeAllowed = true;
}

void MainWindow::puzzle()
{
    autoChallengeAllowed = false;
    CWPuzzleParamsDialog params(this);
    if (params.exec() == QDialog::Accepted) {
        // A failed reload has been reported and left the active list empty;
        // the creator would only add that there are not enough nivlets.
        if (!core->activeListStale() || core->reloadActiveNivlets()) {
            CWPuzzleCreator creator;
            if (const std::unique_ptr<CWPuzzle> crossword =
                    creator.create(core, params.puzzleWidth(), params.puzzleHeight())) {
                {
                    CWPuzzleDialog dialog(this, crossword.get(), core);
                    dialog.exec();
                }
                refreshAfterChange();
            }
        }
    }
    autoChallengeAllowed = true;
}

void MainWindow::search()
{
    const bool wasAllowed = autoChallengeAllowed;
    autoChallengeAllowed = false;
    searchButton->setEnabled(false);

    const bool onlyActive = onlyActiveCheckBox->isChecked();
    Book *book = bookComboBox->currentBook();
    std::unique_ptr<NivletRecords> result = core->search(questionEdit->text(), book, onlyActive);
    const bool found = result != nullptr;
    const int n = found ? static_cast<int>(result->size()) : 0;
    nivletsModel->setNivlets(std::move(result));

    searchButton->setEnabled(true);
    if (n < NivletCore::searchLimit)
        resultLabel->setText(QStringLiteral("<b>%1</b> nivlet(s) found.").arg(n));
    else
        resultLabel->setText(
            QStringLiteral(
                "At least <b>%1</b> nivlets found, displaying only the first <b>%1</b>...")
                .arg(NivletCore::searchLimit));
    // A failure has been reported in its box already; no count stands for it.
    resultLabel->setVisible(found);
    updateButtons();
    if (wasAllowed)
        autoChallengeAllowed = true;
}

void MainWindow::reset()
{
    bookComboBox->refresh();
    questionEdit->setText(QString());
    onlyActiveCheckBox->setChecked(true);
    nivletsModel->setNivlets(nullptr);
    resultLabel->hide();
    updateButtons();
    updateTotalCount();
}

void MainWindow::dropResult()
{
    nivletsModel->setNivlets(nullptr);
    resultLabel->hide();
    updateButtons();
}

void MainWindow::nivletsSelectionChanged(const QItemSelection &selected,
                                         const QItemSelection &deselected)
{
    Q_UNUSED(selected);
    Q_UNUSED(deselected);
    updateButtons();
}

void MainWindow::updateButtons()
{
    newButton->setEnabled(core->bookCount() > 0);
    const qsizetype selected = nivletTableView->selectionModel()->selectedRows(0).size();
    editButton->setEnabled(selected == 1);
    deleteButton->setEnabled(selected >= 1);
}

void MainWindow::updateTotalCount()
{
    totalCountLabel->setText(QStringLiteral("<b>%1</b>").arg(core->totalNivletCount()));
}

void MainWindow::refreshAfterChange()
{
    if (nivletsModel->hasNivlets())
        search();
    updateTotalCount();
}

int MainWindow::selectedRow() const
{
    const QModelIndexList rows = nivletTableView->selectionModel()->selectedRows(0);
    return rows.isEmpty() ? -1 : rows.first().row();
}

void MainWindow::runChallenge(bool automatic)
{
    autoChallengeAllowed = false;
    const bool wasHidden = !isVisible();
    if (wasHidden)
        showMinimized();
    // Only the first challenge of a series the timer starts comes unasked;
    // the user has asked for each later one, which takes the keyboard as a
    // challenge from the button does.
    bool unasked = automatic;

    for (;;) {
        // A failed reload has been reported; the list it left empty would
        // only add a second, wrong box saying that there is nothing to ask.
        if (core->activeListStale() && !core->reloadActiveNivlets())
            break;
        Nivlet *nivlet = core->nextNivlet();
        if (!nivlet) {
            if (!automatic)
                logError("There is no nivlet to ask.", true);
            break;
        }
        setVisible(true);
        if (!unasked) {
            raise();
            activateWindow();
        }

        const auto dialog =
            std::make_unique<ChallengeDialog>(this, core, core->activeList()->hold(nivlet));
        dialog->setAutomatic(automatic);
        const bool accepted =
            (unasked ? runWithoutFocus(dialog.get()) : dialog->exec()) == QDialog::Accepted;
        unasked = false;
        const qint64 id = nivlet->id;
        refreshAfterChange();
        const int followUp = accepted ? dialog->outcome() : 0;
        if (followUp == 2)
            openNivletEditor(id, QLatin1Char('\n') + dialog->answerText());
        if (followUp != 1)
            break;
    }

    if (wasHidden)
        hide();
    autoChallengeAllowed = true;
}

void MainWindow::onTick()
{
    // The tool tip moves on while a command runs, too.
    endPauseIfOver();
    updateTrayToolTip();
    if (!autoChallengeAllowed)
        return;
    if (optionsFailure.isValid() && optionsFailure.elapsed() < optionsRetryDelay)
        return;
    // A failed read shows its box in a nested event loop, where further ticks
    // arrive: they must find the guard cleared, or each would add a box.
    autoChallengeAllowed = false;
    const Options *options = core->options();
    autoChallengeAllowed = true;
    if (!options) {
        optionsFailure.start();
        return;
    }
    optionsFailure.invalidate();
    updateTrayToolTip();
    if (!options->autoCh || autoChallengesPaused() ||
        lastAutoChallenge.elapsed() <= qint64(options->autoChInterval) * 1000) {
        dueSince.invalidate();
        return;
    }
    if (!autoChallengeMayStart())
        return;
    dueSince.invalidate();
    lastAutoChallenge.start();
    runChallenge(true);
}

// A due challenge stays out of a presentation, a film or a game, and does not
// come up under the hands of someone typing; someone who never stops is asked
// all the same, after a while.
bool MainWindow::autoChallengeMayStart()
{
    if (fullScreenTest && fullScreenTest->otherWindowFullScreen()) {
        dueSince.invalidate();
        return false;
    }
    if (!dueSince.isValid())
        dueSince.start();
    const std::optional<qint64> idle = idleTime ? idleTime->msecs() : std::nullopt;
    return !idle || *idle >= typingPause || dueSince.elapsed() >= typingWaitLimit;
}

// The dialog comes up over the other windows and leaves the keyboard where it
// is, until the user clicks it or switches to it. A modal run would ask the
// window manager to activate it, so the main window's input is held back here
// instead, as a modal run would.
int MainWindow::runWithoutFocus(QDialog *dialog)
{
    dialog->setAttribute(Qt::WA_ShowWithoutActivating);
    unaskedChallenge = dialog;
    qApp->installEventFilter(this);
    dialog->show();
    QEventLoop loop;
    connect(dialog->windowHandle(), &QWindow::visibleChanged, &loop, [&loop](bool visible) {
        if (!visible)
            loop.quit();
    });
    if (dialog->isVisible())
        loop.exec();
    qApp->removeEventFilter(this);
    unaskedChallenge = nullptr;
    return dialog->result();
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (unaskedChallenge && watched->isWidgetType() &&
        static_cast<QWidget *>(watched)->window() == this) {
        // Switching to the blocked window hands the keyboard to the challenge.
        if (watched == this && event->type() == QEvent::WindowActivate) {
            unaskedChallenge->raise();
            unaskedChallenge->activateWindow();
        }
        if (event->isInputEvent() || event->type() == QEvent::Shortcut)
            return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

bool MainWindow::autoChallengesPaused() const
{
    return pausedUntil.isValid() && wallClock->now() < pausedUntil;
}

void MainWindow::pauseAutoChallenges(const QDateTime &until)
{
    pausedUntil = until;
    resumeAction->setVisible(true);
    updateTrayToolTip();
}

void MainWindow::pauseAutoChallengesFor(int minutes)
{
    pauseAutoChallenges(wallClock->now().addSecs(qint64(minutes) * 60));
}

void MainWindow::pauseAutoChallengesUntilTomorrow()
{
    pauseAutoChallenges(nextMorning(wallClock->now()));
}

void MainWindow::resumeAutoChallenges()
{
    pausedUntil = QDateTime();
    resumeAction->setVisible(false);
    updateTrayToolTip();
}

void MainWindow::endPauseIfOver()
{
    if (pausedUntil.isValid() && !autoChallengesPaused())
        resumeAutoChallenges();
}

QDateTime MainWindow::nextMorning(const QDateTime &now)
{
    // Set on a copy, the time stays in the zone of now; adding a day keeps
    // 04:00 across a change to or from daylight-saving time.
    QDateTime morning = now;
    morning.setTime(QTime(4, 0));
    if (morning <= now)
        morning = morning.addDays(1);
    return morning;
}

void MainWindow::updateTrayToolTip()
{
    // The options as last read; reading them here could bring up a box.
    const Options *options = core ? core->cachedOptions() : nullptr;
    if (!trayIcon || !options)
        return;
    QString text;
    if (!options->autoCh) {
        text = QStringLiteral("Automatic challenges are off");
    } else if (autoChallengesPaused()) {
        text = QStringLiteral("Paused until %1").arg(pausedUntil.toString(QStringLiteral("HH:mm")));
    } else {
        const qint64 left = qint64(options->autoChInterval) * 1000 - lastAutoChallenge.elapsed();
        const qint64 minutes = std::max<qint64>(1, (left + 59999) / 60000);
        text = minutes == 1 ? QStringLiteral("Next challenge in about 1 minute")
                            : QStringLiteral("Next challenge in about %1 minutes").arg(minutes);
    }
    if (trayIcon->toolTip() != text)
        trayIcon->setToolTip(text);
}

void MainWindow::openNivletEditor(qint64 nivletId, const QString &appendedAnswers)
{
    EditNivletDialog dialog(this, core, nivletId, appendedAnswers);
    if (dialog.setupUi(nullptr, QString(), false) && dialog.exec() == QDialog::Accepted)
        refreshAfterChange();
}

void MainWindow::newNivlet()
{
    autoChallengeAllowed = false;
    {
        EditNivletDialog dialog(this, core, -1, QString());
        if (dialog.setupUi(bookComboBox->currentBook(), questionEdit->text(),
                           onlyActiveCheckBox->isChecked()) &&
            dialog.exec() == QDialog::Accepted)
            refreshAfterChange();
    }
    autoChallengeAllowed = true;
}

void MainWindow::editNivlet()
{
    autoChallengeAllowed = false;
    const int row = selectedRow();
    if (row != -1)
        openNivletEditor(nivletsModel->nivletAt(row)->id, QString());
    autoChallengeAllowed = true;
}

void MainWindow::deleteNivlets()
{
    autoChallengeAllowed = false;
    const QModelIndexList rows = nivletTableView->selectionModel()->selectedRows(0);
    if (!rows.isEmpty()) {
        QMessageBox box;
        box.setWindowTitle(QStringLiteral("Delete nivlet(s)"));
        box.setTextFormat(Qt::PlainText);
        if (rows.size() == 1)
            box.setText(QStringLiteral("Are you sure you want to delete nivlet #%1?")
                            .arg(nivletsModel->nivletAt(rows.first().row())->id));
        else
            box.setText(QStringLiteral("Are you sure you want to delete the selected nivlets?"));
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        if (box.exec() == QMessageBox::Yes) {
            QList<Nivlet *> doomed;
            for (const QModelIndex &index : rows)
                doomed.append(nivletsModel->nivletAt(index.row()));
            core->deleteNivlets(doomed);
            refreshAfterChange();
        }
    }
    autoChallengeAllowed = true;
}
