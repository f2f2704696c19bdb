// The checks every window must pass, run over the list of window makers: the
// contrast of its texts under a light and a dark palette, texts that fit at
// the default font and at 14 points (and, run again by CTest with
// QT_SCALE_FACTOR set, at 1.5 and 2), accelerators, Escape, the tab order and
// what a screen reader reads. A crossword played with the keys alone and the
// main window's and tray menu's commands by keyboard follow.
#include "cwpuzzle.h"
#include "cwpuzzledialog.h"
#include "cwpuzzleparamsdialog.h"
#include "cwpuzzlewidget.h"
#include "cwquestiondialog.h"
#include "mainwindow.h"
#include "mainwindowtestaccess.h"
#include "testsupport.h"
#include "windowchecks.h"
#include "windowmakers.h"

#include <QAccessible>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFont>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

using TestSupport::child;

namespace {
// The default font of a user who wants larger text.
constexpr int largeFontPoints = 14;

bool isDark(const QString &palette)
{
    return palette == QLatin1String("dark");
}

// A key as the keyboard gives it, for any letter an answer may hold.
void typeKey(QWidget *widget, QChar c)
{
    if (c.unicode() < 0x80)
        QTest::keyClick(widget, c.toLatin1());
    else
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

// Where the keys go once the window has taken the keyboard, as a window
// manager would give it (the test's X server has none).
QWidget *keyboardOf(QWidget *window)
{
    if (QApplication::activeWindow() != window) {
        window->activateWindow();
        if (!QTest::qWaitFor([window] { return QApplication::activeWindow() == window; }))
            return window;
    }
    QWidget *focus = QApplication::focusWidget();
    return focus && focus->window() == window ? focus : window;
}

// Acts on the next modal window of type T once it is up, from a timer that
// looks every few milliseconds: a button pressed by its accelerator opens its
// window only a moment later, and a wait for it that holds the event loop
// would find it opened within that wait, out of reach until it closed.
template <typename T> void whenUp(const std::function<void(T *)> &act)
{
    auto *poll = new QTimer(qApp);
    auto *since = new QElapsedTimer;
    since->start();
    QObject::connect(poll, &QTimer::timeout, poll, [poll, since, act] {
        auto *window = qobject_cast<T *>(QApplication::activeModalWidget());
        const bool up = window && window->isVisible();
        if (!up && since->elapsed() < 10000)
            return;
        poll->stop();
        poll->deleteLater();
        delete since;
        if (up)
            act(window);
    });
    poll->start(20);
}

QWidget *focused()
{
    return keyboardOf(QApplication::activeModalWidget() ? QApplication::activeModalWidget()
                                                        : QApplication::activeWindow());
}
} // namespace

class TestWindows : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void contrast_data();
    void contrast();
    void fits_data();
    void fits();
    void sharpPictures_data();
    void sharpPictures();
    void accelerators_data();
    void accelerators();
    void escapeCloses_data();
    void escapeCloses();
    void tabOrder_data();
    void tabOrder();
    void screenReaderNames_data();
    void screenReaderNames();

    void darkerPaletteIsQt6ctsOwn();
    void crosswordByKeysAlone();
    void mainWindowByKeys();
    void trayMenuByKeys();
    void trayIconInEverySize();

private:
    void windowRows();
    // Builds the window of the row's maker, shows it and hands it to check.
    void onShownWindow(const std::function<void(QWidget *)> &check);

    QPalette lightPalette;
    QPalette darkPalette;
    QFont defaultFont;
};

void TestWindows::initTestCase()
{
    QVERIFY2(QSystemTrayIcon::isSystemTrayAvailable(),
             "the main window needs a system tray: run under the test command's X server");
    lightPalette = QApplication::palette();
    defaultFont = QApplication::font();
    QVERIFY2(WindowChecks::schemePalette(WindowChecks::darkerSchemePath(), &darkPalette),
             "qt6ct's darker scheme is missing: install qt6ct");
}

void TestWindows::cleanup()
{
    while (QWidget *modal = QApplication::activeModalWidget()) {
        modal->close();
        QTest::qWait(10);
    }
    QApplication::setPalette(lightPalette);
    QApplication::setFont(defaultFont);
}

void TestWindows::windowRows()
{
    QTest::addColumn<int>("maker");
    for (int i = 0; i < windowMakers().size(); ++i)
        QTest::newRow(qPrintable(windowMakers().at(i).name)) << i;
}

void TestWindows::onShownWindow(const std::function<void(QWidget *)> &check)
{
    QFETCH(int, maker);
    WindowFixture fixture;
    QVERIFY(fixture.isValid());
    const std::unique_ptr<QWidget> window = windowMakers().at(maker).make(fixture);
    QVERIFY(window);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    // Layouts settle and a grown window takes its size.
    QTest::qWait(50);
    check(window.get());
}

void TestWindows::contrast_data()
{
    QTest::addColumn<int>("maker");
    QTest::addColumn<QString>("palette");
    for (const char *palette : {"light", "dark"}) {
        for (int i = 0; i < windowMakers().size(); ++i)
            QTest::addRow("%s, %s", qPrintable(windowMakers().at(i).name), palette)
                << i << QString::fromLatin1(palette);
    }
}

void TestWindows::contrast()
{
    QFETCH(QString, palette);
    QApplication::setPalette(isDark(palette) ? darkPalette : lightPalette);
    onShownWindow([](QWidget *window) {
        const QStringList faults = WindowChecks::lowContrast(window);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
    });
}

void TestWindows::fits_data()
{
    QTest::addColumn<int>("maker");
    QTest::addColumn<int>("points");
    for (const int points : {0, largeFontPoints}) {
        for (int i = 0; i < windowMakers().size(); ++i)
            QTest::addRow("%s, %s", qPrintable(windowMakers().at(i).name),
                          points ? "14 points" : "default font")
                << i << points;
    }
}

void TestWindows::fits()
{
    QFETCH(int, points);
    if (points) {
        QFont large = defaultFont;
        large.setPointSize(points);
        QApplication::setFont(large);
    }
    onShownWindow([](QWidget *window) {
        QStringList faults = WindowChecks::cutOff(window);
        faults << WindowChecks::overlapping(window);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
    });
}

void TestWindows::sharpPictures_data()
{
    windowRows();
}

// On a screen of twice the density (run by CTest at QT_SCALE_FACTOR 2) the
// header pictures and the button icons are drawn from pictures of twice the
// pixels, not enlarged.
void TestWindows::sharpPictures()
{
    onShownWindow([](QWidget *window) {
        const qreal density = window->devicePixelRatioF();
        QStringList faults;
        for (const QLabel *label : window->findChildren<QLabel *>()) {
            const QPixmap picture = label->pixmap();
            if (!picture.isNull() && picture.devicePixelRatio() < density)
                faults << WindowChecks::describe(label);
        }
        for (const QPushButton *button : window->findChildren<QPushButton *>()) {
            if (button->icon().isNull())
                continue;
            const QPixmap icon = button->icon().pixmap(button->iconSize(), density);
            if (icon.width() < button->iconSize().width() * density)
                faults << WindowChecks::describe(button);
        }
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
    });
}

void TestWindows::accelerators_data()
{
    windowRows();
}

void TestWindows::accelerators()
{
    onShownWindow([](QWidget *window) {
        const QStringList faults = WindowChecks::duplicateAccelerators(window);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
    });
}

void TestWindows::escapeCloses_data()
{
    windowRows();
}

// Escape closes the window as its Cancel or Close button would: a dialog
// ends rejected, a message box as its one button ends it.
void TestWindows::escapeCloses()
{
    QFETCH(int, maker);
    if (!windowMakers().at(maker).escapeCloses)
        QSKIP("no dialog, or one that takes no input");
    WindowFixture fixture;
    QVERIFY(fixture.isValid());
    const std::unique_ptr<QWidget> window = windowMakers().at(maker).make(fixture);
    auto *dialog = qobject_cast<QDialog *>(window.get());
    QVERIFY(dialog);
    const int result = TestSupport::runModal(dialog, [&] {
        QWidget *target = focused() ? focused() : dialog;
        QTest::keyClick(target, Qt::Key_Escape);
    });
    QVERIFY(!dialog->isVisible());
    if (auto *box = qobject_cast<QMessageBox *>(dialog))
        QCOMPARE(box->buttons(), QList<QAbstractButton *>({box->clickedButton()}));
    else
        QCOMPARE(result, int(QDialog::Rejected));
}

void TestWindows::tabOrder_data()
{
    windowRows();
}

void TestWindows::tabOrder()
{
    onShownWindow([](QWidget *window) {
        const QStringList faults = WindowChecks::tabOrderAgainstLayout(window);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
    });
}

void TestWindows::screenReaderNames_data()
{
    windowRows();
}

void TestWindows::screenReaderNames()
{
    onShownWindow([](QWidget *window) {
        const QStringList faults = WindowChecks::unnamedForScreenReaders(window);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
    });
}

// The dark palette of the checks is qt6ct's own: run by CTest a second time
// with qt6ct as the platform theme and its darker scheme chosen, the
// toolkit's palette is the same.
void TestWindows::darkerPaletteIsQt6ctsOwn()
{
    if (qEnvironmentVariable("QT_QPA_PLATFORMTHEME") != QLatin1String("qt6ct"))
        QSKIP("run with QT_QPA_PLATFORMTHEME=qt6ct (tst_windows_qt6ct)");
    const QPalette theme = QApplication::palette();
    for (const QPalette::ColorGroup group :
         {QPalette::Active, QPalette::Disabled, QPalette::Inactive}) {
        for (int role = 0; role < QPalette::NColorRoles; ++role) {
            const auto colorRole = QPalette::ColorRole(role);
            QVERIFY2(
                theme.color(group, colorRole) == darkPalette.color(group, colorRole),
                qPrintable(QStringLiteral("group %1, role %2: %3 against %4")
                               .arg(group)
                               .arg(role)
                               .arg(theme.color(group, colorRole).name(QColor::HexArgb),
                                    darkPalette.color(group, colorRole).name(QColor::HexArgb))));
        }
    }
}

// From the main window's accelerator to the results, every step a key: the
// size typed in, the words typed, one clue asked and given up with the
// keyboard, the check, and Escape to close.
void TestWindows::crosswordByKeysAlone()
{
    WindowFixture fixture;
    QVERIFY(fixture.isValid());
    MainWindow window;
    QVERIFY(window.init());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));

    bool sized = false;
    bool solved = false;
    bool asked = false;
    int entries = 0;
    int correct = -1;
    int cheated = -1;
    int incorrect = -1;
    whenUp<CWPuzzleParamsDialog>([&](CWPuzzleParamsDialog *params) {
        QTest::keyClicks(focused(), QStringLiteral("12"));
        QTest::keyClick(focused(), Qt::Key_Tab);
        QTest::keyClicks(focused(), QStringLiteral("12"));
        sized = true;
        whenUp<CWPuzzleDialog>([&](CWPuzzleDialog *dialog) {
            auto *grid = qobject_cast<CWPuzzleWidget *>(focused());
            QVERIFY2(grid, "the grid takes the keyboard first");
            QVERIFY(grid->cursorX() >= 0);
            entries = int(grid->puzzle()->entries.size());
            QVERIFY(entries >= 2);
            // Page Down goes through the words in reading order; the first
            // is given up through its clue, the others typed.
            for (int i = 0; i < entries; ++i) {
                const CWEntry *word = grid->entryAtCursor();
                QVERIFY(word);
                QCOMPARE(grid->cursorX(), word->x);
                QCOMPARE(grid->cursorY(), word->y);
                if (i == 0) {
                    whenUp<CWQuestionDialog>([&](CWQuestionDialog *clue) {
                        QCOMPARE(clue->nivlet(), word->nivlet);
                        // Ok first, then the button that gives the word away.
                        QTest::keyClick(focused(), Qt::Key_Tab);
                        QCOMPARE(focused(), child<QPushButton>(clue, "cheatButton"));
                        QTest::keyClick(focused(), Qt::Key_Space);
                        asked = true;
                    });
                    QTest::keyClick(focused(), Qt::Key_F2);
                    QVERIFY(asked);
                    QCOMPARE(focused(), grid);
                } else {
                    for (const QChar c : word->answer)
                        typeKey(focused(), c);
                }
                QTest::keyClick(focused(), Qt::Key_PageDown);
            }
            // Return presses the default button, Check!.
            QTest::keyClick(focused(), Qt::Key_Return);
            QVERIFY(grid->isChecked());
            correct = grid->correctCount();
            cheated = grid->cheatedCount();
            incorrect = grid->incorrectCount();
            solved = true;
            QTest::keyClick(focused(), Qt::Key_Escape);
            QVERIFY(!dialog->isVisible());
        });
        QTest::keyClick(focused(), Qt::Key_Return);
        QVERIFY(!params->isVisible());
    });
    // The accelerator clicks the button a moment later, as a click shows.
    QTest::keyClick(&window, Qt::Key_P, Qt::AltModifier);
    QTRY_VERIFY_WITH_TIMEOUT(solved, 20000);
    QVERIFY(sized);
    QCOMPARE(cheated, 1);
    QCOMPARE(incorrect, 0);
    QCOMPARE(correct, entries - 1);
}

// Every command button of the main window is on the Tab chain and works with
// the space key.
void TestWindows::mainWindowByKeys()
{
    WindowFixture fixture;
    QVERIFY(fixture.isValid());
    MainWindow window;
    QVERIFY(window.init());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QList<QWidget *> chain;
    for (QWidget *w = window.nextInFocusChain(); w != &window; w = w->nextInFocusChain()) {
        if (w->focusPolicy() & Qt::TabFocus)
            chain.append(w);
    }
    for (QPushButton *button : window.findChildren<QPushButton *>()) {
        if (button->isVisible())
            QVERIFY2(chain.contains(button), qPrintable(WindowChecks::describe(button)));
    }
    bool aboutCame = false;
    TestSupport::whenModal<QDialog>([&](QDialog *about) {
        aboutCame = about->windowTitle() == QLatin1String("About nivlets");
        QTest::keyClick(focused(), Qt::Key_Escape);
    });
    QPushButton *about = child<QPushButton>(&window, "aboutButton");
    about->setFocus();
    QTest::keyClick(about, Qt::Key_Space);
    QVERIFY(aboutCame);
}

// The tray menu opens on the panel's keyboard; in it the arrows and Return
// reach every entry, the submenu of pauses as well.
void TestWindows::trayMenuByKeys()
{
    WindowFixture fixture;
    QVERIFY(fixture.isValid());
    MainWindow window;
    QVERIFY(window.init());
    const MainWindowTestAccess ui(&window);
    QMenu *menu = ui.trayIconMenu();
    menu->popup(QPoint(100, 100));
    QVERIFY(QTest::qWaitForWindowExposed(menu));
    QTest::keyClick(menu, Qt::Key_Down);
    QCOMPARE(menu->activeAction()->text(), QStringLiteral("Show the nivlets window"));
    QTest::keyClick(menu, Qt::Key_Return);
    QTRY_VERIFY(window.isVisible());

    menu->popup(QPoint(100, 100));
    QVERIFY(QTest::qWaitForWindowExposed(menu));
    QTest::keyClick(menu, Qt::Key_Down);
    QTest::keyClick(menu, Qt::Key_Down);
    QCOMPARE(menu->activeAction()->text(), QStringLiteral("Progress..."));
    QTest::keyClick(menu, Qt::Key_Down);
    QCOMPARE(menu->activeAction()->menu(), ui.pauseMenu());
    QTest::keyClick(menu, Qt::Key_Right);
    // The submenu opens on its first entry.
    QTRY_VERIFY(ui.pauseMenu()->isVisible());
    QCOMPARE(ui.pauseMenu()->activeAction()->text(), QStringLiteral("30 minutes"));
    QTest::keyClick(ui.pauseMenu(), Qt::Key_Return);
    QTRY_VERIFY(window.autoChallengesPaused());

    // Resume now stands below the pauses, Exit last.
    menu->popup(QPoint(100, 100));
    QVERIFY(QTest::qWaitForWindowExposed(menu));
    for (int i = 0; i < 4; ++i)
        QTest::keyClick(menu, Qt::Key_Down);
    QCOMPARE(menu->activeAction(), ui.resumeAction());
    QTest::keyClick(menu, Qt::Key_Return);
    QTRY_VERIFY(!window.autoChallengesPaused());

    menu->popup(QPoint(100, 100));
    QVERIFY(QTest::qWaitForWindowExposed(menu));
    QTest::keyClick(menu, Qt::Key_Up);
    QCOMPARE(menu->activeAction()->text(), QStringLiteral("Exit nivlets"));
    menu->hide();
}

// A panel of 22 to 32 pixels, or one at twice the density, picks a picture
// of its own size instead of an enlarged 16-pixel one.
void TestWindows::trayIconInEverySize()
{
    WindowFixture fixture;
    QVERIFY(fixture.isValid());
    MainWindow window;
    QVERIFY(window.init());
    const QList<QSize> sizes = MainWindowTestAccess(&window).trayIcon()->icon().availableSizes();
    for (const int side : {16, 22, 24, 32, 48, 64, 128, 256})
        QVERIFY2(sizes.contains(QSize(side, side)), qPrintable(QString::number(side)));
}

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
