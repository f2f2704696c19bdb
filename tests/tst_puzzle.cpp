#include "book.h"
#include "cwpuzzle.h"
#include "cwpuzzledialog.h"
#include "cwpuzzleparamsdialog.h"
#include "cwpuzzlewidget.h"
#include "cwquestiondialog.h"
#include "knrate.h"
#include "nivlet.h"
#include "nivletcore.h"
#include "testsupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QSpacerItem>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QTextEdit>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>

using TestSupport::child;
using TestSupport::LockingConnection;
using TestSupport::runModal;
using TestSupport::storedRate;

namespace {
const char question40[] = "Which city was the capital of the Romans";
const char question41[] = "Which city was the capital of the Romans?";

QString sampleRows()
{
    return QStringLiteral(
               "INSERT INTO book (id, name, active) VALUES (1, '<i>Capitals</i> &amp;', 1);\n"
               "INSERT INTO nivlet (id, active, kn_rate, book_id, question, answer) VALUES\n"
               " (1, 1, 0.5, 1, 'Capital of France?', 'Paris'),\n"
               " (2, 1, 0.25, 1, '%1', 'Rome'),\n"
               " (3, 1, 0.75, 1, '%2', 'Oslo # Norway');\n")
        .arg(QString::fromLatin1(question40), QString::fromLatin1(question41));
}

// Arms an action on the next modal window that comes up; the action must
// close it. The window is remembered so that the test can tell one came.
class ModalWatcher
{
public:
    explicit ModalWatcher(const std::function<void(QWidget *)> &act, int timeout = 2000)
    {
        QTimer::singleShot(0, [this, act, timeout] {
            if (!QTest::qWaitFor([] { return QApplication::activeModalWidget(); }, timeout))
                return;
            seen = QApplication::activeModalWidget();
            came = true;
            title = seen->windowTitle();
            act(seen);
            if (seen && seen->isVisible())
                seen->close();
        });
    }
    QPointer<QWidget> seen;
    QString title;
    bool came = false;
};

QPoint cellCentre(int x, int y)
{
    return QPoint(24 * x + 12, 24 * y + 12);
}

void sendMouse(QWidget *widget, QEvent::Type type, const QPoint &at)
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, at, widget->mapToGlobal(at), button,
                      type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

void press(QWidget *widget, const QPoint &at)
{
    sendMouse(widget, QEvent::MouseButtonPress, at);
    sendMouse(widget, QEvent::MouseButtonRelease, at);
}

void moveTo(QWidget *widget, const QPoint &at)
{
    sendMouse(widget, QEvent::MouseMove, at);
}

bool sendText(QWidget *widget, int key, const QString &text)
{
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(widget, &event);
    return event.isAccepted();
}

QString typedRow(const CWPuzzleWidget &w, int y)
{
    QString row;
    for (int x = 0; x < w.width; ++x) {
        const CWPuzzleCell &c = w.cell(x, y);
        row += c.kind == CWPuzzleCell::BlackCell ? QLatin1Char('#')
               : c.typed == QLatin1Char(' ')     ? QLatin1Char('_')
                                                 : c.typed;
    }
    return row;
}

// How many pixels of the cell's square have exactly the colour.
int pixelsOf(const QImage &image, int x, int y, const QColor &color)
{
    int count = 0;
    for (int py = 24 * y + 1; py < 24 * y + 24; ++py) {
        for (int px = 24 * x + 1; px < 24 * x + 24; ++px) {
            if (image.pixelColor(px, py) == color)
                ++count;
        }
    }
    return count;
}

QString plainOfTip(const QString &tip)
{
    QTextDocument document;
    document.setHtml(tip);
    return document.toPlainText().replace(QChar::Nbsp, QLatin1Char(' '));
}
} // namespace

class TestPuzzle : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void buildsCellsAndState();
    void cursorDirectionRules();
    void clickPlacesCursor();
    void arrowsTurnThenMove();
    void typingAdvancesAndStops();
    void keysThatTypeNothing();
    void controlKeysReachTheDialog();
    void backspace();
    void revealedCells();
    void blankAnswerStartsRight();
    void hoverAndTooltips();
    void clueLength();
    void clueIsPlainText();
    void clicksOutsideMarkers();
    void questionDialog();
    void givingUpRevealsTheWord();
    void questionDialogWithoutBook();
    void painting();
    void checkCountsAndRates();
    void checkWithoutRateChanges();
    void checkWithFailingRateWrites();
    void lastingLockIsWaitedForOnce();
    void aMissingRowFailsAlone();
    void afterTheCheck();
    void sizeDialog();
    void sizeValidation_data();
    void sizeValidation();
    void puzzleDialogSizes_data();
    void puzzleDialogSizes();
    void widgetAsksForItsGrid_data();
    void widgetAsksForItsGrid();
    void checkOnceWithResultsRow();
    void checkOfAnUntouchedPuzzle();

private:
    Nivlet *record(qint64 id) const;
    void setPuzzleAffectsRates(bool on);
    // Reveals paris and types the rest of rome, whose "r" came with paris, in
    // the case given; oslo stays empty. Then checks the puzzle.
    void revealParisTypeRomeAndCheck(const QString &ome);

    QTemporaryDir templateDir;
    std::unique_ptr<TestSupport::WorkDir> work;
    std::unique_ptr<NivletCore> core;
    std::unique_ptr<CWPuzzle> puzzle;
    std::unique_ptr<CWPuzzleWidget> widget;
};

// Every test starts from a copy of one file: building it statement by
// statement waits for the disk each time.
void TestPuzzle::initTestCase()
{
    QVERIFY(templateDir.isValid());
    QVERIFY(TestSupport::createDatabase(templateDir.path(), sampleRows()));
}

void TestPuzzle::init()
{
    work = std::make_unique<TestSupport::WorkDir>();
    QVERIFY(work->isValid());
    QVERIFY(QFile::copy(templateDir.filePath(QStringLiteral("nivlets")),
                        work->file(QStringLiteral("nivlets"))));
    core = std::make_unique<NivletCore>();
    QVERIFY(core->open());
    QCOMPARE(core->activeNivletCount(), 3);
    // paris across row 5, rome down from its "r", oslo across from rome's "o".
    puzzle = std::make_unique<CWPuzzle>(10, 10);
    puzzle->entries.append(new CWEntry(record(1), QStringLiteral("paris"), 0, 1, 5));
    puzzle->entries.append(new CWEntry(record(2), QStringLiteral("rome"), 1, 3, 5));
    puzzle->entries.append(new CWEntry(record(3), QStringLiteral("oslo"), 0, 3, 6));
    widget = std::make_unique<CWPuzzleWidget>(puzzle.get(), core.get());
    widget->resize(241, 241);
}

void TestPuzzle::cleanup()
{
    for (int i = 0; i < 10 && QApplication::activeModalWidget(); ++i) {
        QApplication::activeModalWidget()->close();
        QTest::qWait(10);
    }
    QToolTip::hideText();
    widget.reset();
    puzzle.reset();
    core.reset();
    work.reset();
}

Nivlet *TestPuzzle::record(qint64 id) const
{
    for (Nivlet *n : core->activeList()->nivlets()) {
        if (n->id == id)
            return n;
    }
    return nullptr;
}

void TestPuzzle::setPuzzleAffectsRates(bool on)
{
    QVERIFY(TestSupport::execSql(
        work->file(QStringLiteral("nivlets")),
        QStringLiteral("UPDATE options SET puzzle_affects_rates = %1").arg(on ? 1 : 0)));
    NivletCoreTestAccess::forgetOptions(*core);
}

void TestPuzzle::revealParisTypeRomeAndCheck(const QString &ome)
{
    CWPuzzleWidget &w = *widget;
    w.reveal(puzzle->entries.at(0));
    w.setCursor(3, 6);
    QTest::keyClick(&w, Qt::Key_Down);
    QTest::keyClicks(&w, ome);
    w.checkAll();
}

void TestPuzzle::buildsCellsAndState()
{
    CWPuzzleWidget &w = *widget;
    QCOMPARE(w.core, core.get());
    QCOMPARE(w.puzzle, puzzle.get());
    QCOMPARE(w.width, 10);
    QCOMPARE(w.height, 10);
    QCOMPARE(w.cursorX, -1);
    QCOMPARE(w.cursorY, -1);
    QCOMPARE(w.cursorDirection, int(CWPuzzleWidget::CursorRight));
    QVERIFY(!w.hoveredEntry);
    QVERIFY(!w.checked);
    QCOMPARE(w.correctCount + w.incorrectCount + w.cheatedCount, 0);
    QCOMPARE(w.focusPolicy(), Qt::StrongFocus);
    QVERIFY(w.hasMouseTracking());
    QVERIFY(!w.parentWidget());

    QCOMPARE(typedRow(w, 5), QStringLiteral("#_____####"));
    QCOMPARE(typedRow(w, 6), QStringLiteral("###____###"));
    QCOMPARE(typedRow(w, 8), QStringLiteral("###_######"));
    QCOMPARE(typedRow(w, 9), QStringLiteral("##########"));
    QCOMPARE(w.cell(3, 5).solution, QLatin1Char('r'));
    QCOMPARE(w.cell(3, 6).solution, QLatin1Char('o'));
    QCOMPARE(w.cell(6, 6).solution, QLatin1Char('o'));
    QCOMPARE(w.cell(0, 5).acrossEntry, puzzle->entries.at(0));
    QCOMPARE(w.cell(3, 4).downEntry, puzzle->entries.at(1));
    QCOMPARE(w.cell(2, 6).acrossEntry, puzzle->entries.at(2));
    int markers = 0;
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 10; ++x) {
            const CWPuzzleCell &c = w.cell(x, y);
            markers += (c.acrossEntry ? 1 : 0) + (c.downEntry ? 1 : 0);
            QVERIFY(!c.revealed);
            if (c.kind == CWPuzzleCell::BlackCell)
                QVERIFY(c.solution.isNull() && c.typed.isNull());
        }
    }
    QCOMPARE(markers, 3);

    QCOMPARE(w.letterBackground, QColor(255, 255, 255));
    QCOMPARE(w.revealedBackground, QColor(205, 205, 205));
    QCOMPARE(w.cursorColor, QColor(0, 166, 237));
    QCOMPARE(w.gridColor, QColor(128, 128, 128));
    QCOMPARE(w.blackBackground, QColor(0, 0, 0));
    QCOMPARE(w.typedColor, QColor(64, 64, 64));
    QCOMPARE(w.correctColor, QColor(32, 180, 32));
    QCOMPARE(w.wrongColor, QColor(180, 32, 32));
    QCOMPARE(w.markerColor, QColor(0, 166, 237));
    QCOMPARE(w.hoveredMarkerColor, QColor(200, 120, 50));
    QCOMPARE(w.letterFont.family(), QStringLiteral("Verdana"));
    QCOMPARE(w.letterFont.pixelSize(), 15);
    QCOMPARE(w.letterFont.weight(), QFont::Bold);
}

void TestPuzzle::cursorDirectionRules()
{
    CWPuzzleWidget &w = *widget;
    const struct
    {
        int x, y, direction;
    } cases[] = {
        {1, 5, CWPuzzleWidget::CursorRight}, // a neighbour to the right
        {3, 7, CWPuzzleWidget::CursorDown},  // below before above
        {5, 5, CWPuzzleWidget::CursorDown},  // nothing right, something below
        {6, 6, CWPuzzleWidget::CursorLeft},  // only to the left
        {3, 8, CWPuzzleWidget::CursorUp},    // only above
    };
    for (const auto &c : cases) {
        w.setCursor(c.x, c.y);
        QCOMPARE(w.cursorX, c.x);
        QCOMPARE(w.cursorY, c.y);
        QCOMPARE(w.cursorDirection, c.direction);
    }
    // A letter cell with no letter cell beside it.
    CWPuzzle single(10, 10);
    single.entries.append(new CWEntry(record(1), QStringLiteral("x"), 1, 4, 4));
    CWPuzzleWidget lone(&single, core.get());
    lone.cursorDirection = CWPuzzleWidget::CursorUp;
    lone.setCursor(4, 4);
    QCOMPARE(lone.cursorDirection, int(CWPuzzleWidget::CursorRight));
}

void TestPuzzle::clickPlacesCursor()
{
    CWPuzzleWidget &w = *widget;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    press(&w, QPoint(24 * 5 + 1, 24 * 5 + 23));
    QCOMPARE(w.cursorX, 5);
    QCOMPARE(w.cursorY, 5);
    QCOMPARE(w.cursorDirection, int(CWPuzzleWidget::CursorDown));
    QTest::keyClick(&w, Qt::Key_Left);
    QCOMPARE(w.cursorDirection, int(CWPuzzleWidget::CursorLeft));
    // Clicking the cursor cell again keeps the direction the user chose.
    press(&w, cellCentre(5, 5));
    QCOMPARE(w.cursorDirection, int(CWPuzzleWidget::CursorLeft));
    press(&w, cellCentre(4, 6));
    QCOMPARE(w.cursorX, 4);
    QCOMPARE(w.cursorY, 6);
    QCOMPARE(w.cursorDirection, int(CWPuzzleWidget::CursorRight));
    // Beyond the grid and on a black cell without markers nothing changes.
    press(&w, QPoint(240, 100));
    press(&w, QPoint(100, 240));
    press(&w, cellCentre(8, 8));
    QCOMPARE(w.cursorX, 4);
    QCOMPARE(w.cursorY, 6);
}

void TestPuzzle::arrowsTurnThenMove()
{
    CWPuzzleWidget &w = *widget;
    w.setCursor(3, 5);
    QCOMPARE(w.cursorDirection, int(CWPuzzleWidget::CursorRight));
    QTest::keyClick(&w, Qt::Key_Down);
    QCOMPARE(w.cursorDirection, int(CWPuzzleWidget::CursorDown));
    QCOMPARE(w.cursorY, 5);
    QTest::keyClick(&w, Qt::Key_Down);
    QCOMPARE(w.cursorY, 6);
    QTest::keyClick(&w, Qt::Key_Down);
    QTest::keyClick(&w, Qt::Key_Down);
    QCOMPARE(w.cursorY, 8);
    // Only onto letter cells.
    QTest::keyClick(&w, Qt::Key_Down);
    QCOMPARE(w.cursorY, 8);
    QTest::keyClick(&w, Qt::Key_Right);
    QCOMPARE(w.cursorDirection, int(CWPuzzleWidget::CursorRight));
    QTest::keyClick(&w, Qt::Key_Right);
    QCOMPARE(w.cursorX, 3);
    QTest::keyClick(&w, Qt::Key_Up);
    QTest::keyClick(&w, Qt::Key_Up);
    QTest::keyClick(&w, Qt::Key_Up);
    QCOMPARE(w.cursorY, 6);
    QTest::keyClick(&w, Qt::Key_Left);
    QCOMPARE(w.cursorX, 3);
    QTest::keyClick(&w, Qt::Key_Left);
    QCOMPARE(w.cursorX, 3);
    QCOMPARE(w.cursorDirection, int(CWPuzzleWidget::CursorLeft));
    // Arrow keys are the widget's own and never reach the dialog.
    QVERIFY(sendText(&w, Qt::Key_Right, QString()));
    // Without a cursor keys pass by.
    CWPuzzleWidget fresh(puzzle.get(), core.get());
    QVERIFY(!sendText(&fresh, Qt::Key_Right, QString()));
    QVERIFY(!sendText(&fresh, Qt::Key_A, QStringLiteral("a")));
    QCOMPARE(typedRow(fresh, 5), QStringLiteral("#_____####"));
}

void TestPuzzle::typingAdvancesAndStops()
{
    CWPuzzleWidget &w = *widget;
    w.setCursor(1, 5);
    QTest::keyClicks(&w, QStringLiteral("PaRiSX"));
    QCOMPARE(typedRow(w, 5), QStringLiteral("#parix####"));
    QCOMPARE(w.cursorX, 5);
    QCOMPARE(w.cursorY, 5);
    // Typing does not jump to another word: down from rome's "r" it goes on.
    w.setCursor(3, 5);
    QTest::keyClick(&w, Qt::Key_Down);
    QTest::keyClicks(&w, QStringLiteral("rome"));
    QCOMPARE(w.cell(3, 8).typed, QLatin1Char('e'));
    QCOMPARE(w.cursorY, 8);
    // A blank is a letter like any other.
    QTest::keyClick(&w, Qt::Key_Space);
    QCOMPARE(w.cell(3, 8).typed, QLatin1Char(' '));
    QVERIFY(!w.checked);
}

void TestPuzzle::keysThatTypeNothing()
{
    CWPuzzleWidget &w = *widget;
    w.setCursor(1, 5);
    QVERIFY(!sendText(&w, Qt::Key_A, QStringLiteral("ab")));
    QVERIFY(!sendText(&w, Qt::Key_Shift, QString()));
    for (const auto &[key, text] : {std::pair<int, const char *>{Qt::Key_Tab, "\t"},
                                    {Qt::Key_Return, "\r"},
                                    {Qt::Key_Enter, "\n"},
                                    {Qt::Key_Escape, "\x1b"},
                                    {Qt::Key_Delete, "\x7f"},
                                    {Qt::Key_unknown, "\x01"}}) {
        QVERIFY(!sendText(&w, key, QString::fromLatin1(text)));
        QCOMPARE(typedRow(w, 5), QStringLiteral("#_____####"));
        QCOMPARE(w.cursorX, 1);
    }
    QTest::keyClick(&w, Qt::Key_Tab);
    QTest::keyClick(&w, Qt::Key_Delete);
    QCOMPARE(typedRow(w, 5), QStringLiteral("#_____####"));
    QCOMPARE(w.cursorX, 1);
    // The one-character text of any other key is typed, then left to the dialog too.
    QVERIFY(!sendText(&w, Qt::Key_unknown, QStringLiteral("\u00c4")));
    QCOMPARE(typedRow(w, 5), QStringLiteral("#\u00e4____####"));
}

void TestPuzzle::controlKeysReachTheDialog()
{
    CWPuzzleDialog dialog(nullptr, puzzle.get(), core.get());
    const int result = runModal(&dialog, [&] {
        child<CWPuzzleWidget>(&dialog, "puzzleWidget")->setCursor(1, 5);
        child<CWPuzzleWidget>(&dialog, "puzzleWidget")->setFocus();
        QTest::keyClicks(child<CWPuzzleWidget>(&dialog, "puzzleWidget"), QStringLiteral("pa"));
        QTest::keyClick(child<CWPuzzleWidget>(&dialog, "puzzleWidget"), Qt::Key_Escape);
    });
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(typedRow(*child<CWPuzzleWidget>(&dialog, "puzzleWidget"), 5),
             QStringLiteral("#pa___####"));
    QVERIFY(!child<CWPuzzleWidget>(&dialog, "puzzleWidget")->checked);
    QCOMPARE(storedRate(1), 0.5);
}

void TestPuzzle::backspace()
{
    CWPuzzleWidget &w = *widget;
    w.setCursor(1, 5);
    QTest::keyClicks(&w, QStringLiteral("pa"));
    QCOMPARE(w.cursorX, 3);
    // On an empty cell: back one cell, clearing it.
    QTest::keyClick(&w, Qt::Key_Backspace);
    QCOMPARE(w.cursorX, 2);
    QCOMPARE(typedRow(w, 5), QStringLiteral("#p____####"));
    QTest::keyClicks(&w, QStringLiteral("aris"));
    QCOMPARE(typedRow(w, 5), QStringLiteral("#paris####"));
    QCOMPARE(w.cursorX, 5);
    // On a letter: cleared where it stands.
    QTest::keyClick(&w, Qt::Key_Backspace);
    QCOMPARE(typedRow(w, 5), QStringLiteral("#pari_####"));
    QCOMPARE(w.cursorX, 5);
    QTest::keyClick(&w, Qt::Key_Backspace);
    QCOMPARE(typedRow(w, 5), QStringLiteral("#par__####"));
    QCOMPARE(w.cursorX, 4);
    // Against the cursor's direction, and never off the letters.
    QTest::keyClick(&w, Qt::Key_Backspace);
    QTest::keyClick(&w, Qt::Key_Backspace);
    QTest::keyClick(&w, Qt::Key_Backspace);
    QTest::keyClick(&w, Qt::Key_Backspace);
    QCOMPARE(typedRow(w, 5), QStringLiteral("#_____####"));
    QCOMPARE(w.cursorX, 1);
    QVERIFY(sendText(&w, Qt::Key_Backspace, QStringLiteral("\b")));
    QCOMPARE(w.cursorX, 1);

    w.reveal(puzzle->entries.at(1));
    w.setCursor(3, 6);
    QTest::keyClick(&w, Qt::Key_Down);
    QTest::keyClick(&w, Qt::Key_Backspace);
    QCOMPARE(w.cursorY, 5);
    QCOMPARE(w.cell(3, 6).typed, QLatin1Char('o'));
    QCOMPARE(w.cell(3, 5).typed, QLatin1Char('r'));
    QTest::keyClick(&w, Qt::Key_Backspace);
    QCOMPARE(w.cell(3, 5).typed, QLatin1Char('r'));
    QCOMPARE(w.cursorY, 5);
}

void TestPuzzle::revealedCells()
{
    CWPuzzleWidget &w = *widget;
    CWEntry *rome = puzzle->entries.at(1);
    w.reveal(rome);
    QVERIFY(rome->cheated);
    for (int i = 0; i < 4; ++i) {
        const CWPuzzleCell &c = w.cell(3, 5 + i);
        QVERIFY(c.revealed);
        QCOMPARE(c.typed, c.solution);
    }
    QVERIFY(!w.cell(2, 5).revealed);
    w.setCursor(1, 5);
    QTest::keyClicks(&w, QStringLiteral("pa"));
    // A different letter on a revealed cell: nothing at all.
    QTest::keyClick(&w, Qt::Key_X);
    QCOMPARE(w.cell(3, 5).typed, QLatin1Char('r'));
    QCOMPARE(w.cursorX, 3);
    // The revealed letter itself moves on.
    QTest::keyClick(&w, Qt::Key_R);
    QCOMPARE(w.cursorX, 4);
    QTest::keyClicks(&w, QStringLiteral("is"));
    QCOMPARE(typedRow(w, 5), QStringLiteral("#paris####"));
}

void TestPuzzle::blankAnswerStartsRight()
{
    setPuzzleAffectsRates(false);
    CWPuzzle spaced(10, 10);
    spaced.entries.append(new CWEntry(record(1), QStringLiteral("le havre"), 0, 1, 2));
    spaced.entries.append(new CWEntry(record(2), QStringLiteral("a b"), 1, 3, 1));
    CWPuzzleWidget w(&spaced, core.get());
    QCOMPARE(w.cell(3, 2).solution, QLatin1Char(' '));
    QCOMPARE(w.cell(3, 2).typed, QLatin1Char(' '));
    w.setCursor(1, 2);
    QTest::keyClicks(&w, QStringLiteral("le"));
    QCOMPARE(w.cursorX, 3);
    QTest::keyClick(&w, Qt::Key_Right);
    QTest::keyClicks(&w, QStringLiteral("havre"));
    w.setCursor(3, 1);
    QCOMPARE(w.cursorDirection, int(CWPuzzleWidget::CursorDown));
    QTest::keyClick(&w, Qt::Key_A);
    QCOMPARE(w.cursorY, 2);
    QTest::keyClick(&w, Qt::Key_Down);
    QTest::keyClick(&w, Qt::Key_B);
    QCOMPARE(typedRow(w, 2), QStringLiteral("#le_havre#"));
    w.checkAll();
    QCOMPARE(w.correctCount, 2);
    QCOMPARE(w.incorrectCount, 0);
}

void TestPuzzle::hoverAndTooltips()
{
    CWPuzzleWidget &w = *widget;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    CWEntry *paris = puzzle->entries.at(0);
    CWEntry *rome = puzzle->entries.at(1);
    const QString parisTip = Qt::convertFromPlainText(QStringLiteral("Capital of France?"));

    // The across marker area of the cell (0, 5): 14..22 by 4..10.
    moveTo(&w, QPoint(13, 120 + 7));
    QVERIFY(!w.hoveredEntry);
    moveTo(&w, QPoint(14, 120 + 4));
    QCOMPARE(w.hoveredEntry, paris);
    QTRY_VERIFY(QToolTip::isVisible());
    QCOMPARE(QToolTip::text(), parisTip);
    QCOMPARE(plainOfTip(QToolTip::text()), QStringLiteral("Capital of France?"));

    // Within the same marker the tip is not shown again.
    QToolTip::hideText();
    QTRY_VERIFY(!QToolTip::isVisible());
    moveTo(&w, QPoint(22, 120 + 10));
    QCOMPARE(w.hoveredEntry, paris);
    QTest::qWait(50);
    QVERIFY(!QToolTip::isVisible());

    // From one marker to another the tip is replaced.
    moveTo(&w, QPoint(72 + 4, 96 + 22));
    QCOMPARE(w.hoveredEntry, rome);
    QTRY_COMPARE(QToolTip::text(), Qt::convertFromPlainText(QString::fromLatin1(question40)));
    QVERIFY(QToolTip::isVisible());

    // Off the marker, still in its cell: the tip goes.
    moveTo(&w, QPoint(72 + 11, 96 + 22));
    QVERIFY(!w.hoveredEntry);
    QTRY_VERIFY(!QToolTip::isVisible());
    moveTo(&w, QPoint(72 + 10, 96 + 14));
    QCOMPARE(w.hoveredEntry, rome);
    moveTo(&w, QPoint(72 + 10, 96 + 13));
    QVERIFY(!w.hoveredEntry);
    // The down marker area of a cell with only an across entry is no marker.
    moveTo(&w, QPoint(6, 120 + 18));
    QVERIFY(!w.hoveredEntry);
    // Letter cells and the space beyond the grid have no markers.
    moveTo(&w, QPoint(14 + 24, 120 + 4));
    QVERIFY(!w.hoveredEntry);
    moveTo(&w, QPoint(240, 10));
    QVERIFY(!w.hoveredEntry);
}

void TestPuzzle::clueLength()
{
    QCOMPARE(CWPuzzleWidget::clueText(record(1)), QStringLiteral("Capital of France?"));
    QCOMPARE(CWPuzzleWidget::clueText(record(2)), QString::fromLatin1(question40));
    QCOMPARE(CWPuzzleWidget::clueText(record(3)),
             QString::fromLatin1(question41).left(37) + QStringLiteral("..."));
    QCOMPARE(CWPuzzleWidget::clueText(record(3)).length(), 40);

    CWPuzzleWidget &w = *widget;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    moveTo(&w, QPoint(48 + 18, 144 + 7));
    QCOMPARE(w.hoveredEntry, puzzle->entries.at(2));
    QTRY_VERIFY(QToolTip::isVisible());
    QCOMPARE(plainOfTip(QToolTip::text()),
             QStringLiteral("Which city was the capital of the Rom..."));
}

void TestPuzzle::clueIsPlainText()
{
    const QString question =
        QStringLiteral("<b>Bold</b> <img src=\"missing.png\"> &amp; a  b\nnext line");
    Nivlet marked(77, true, 0.0, core->books().at(0), question, QStringLiteral("ab"));
    CWPuzzle small(10, 10);
    small.entries.append(new CWEntry(&marked, QStringLiteral("ab"), 0, 1, 1));
    CWPuzzleWidget w(&small, core.get());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    moveTo(&w, QPoint(18, 24 + 7));
    QTRY_VERIFY(QToolTip::isVisible());
    const QString clue = question.left(37) + QStringLiteral("...");
    QCOMPARE(plainOfTip(QToolTip::text()), clue);
    QVERIFY(!QToolTip::text().contains(QStringLiteral("<b>")));
    QVERIFY(!QToolTip::text().contains(QStringLiteral("<img")));

    ModalWatcher watcher([&](QWidget *modal) {
        auto *dialog = qobject_cast<CWQuestionDialog *>(modal);
        QVERIFY(dialog);
        QCOMPARE(child<QTextEdit>(dialog, "questionEdit")->toPlainText(), question);
        QCOMPARE(child<QLabel>(dialog, "bookLabel")->text(),
                 QStringLiteral("<i>Capitals</i> &amp;"));
        QCOMPARE(child<QLabel>(dialog, "bookLabel")->textFormat(), Qt::PlainText);
        dialog->reject();
    });
    press(&w, QPoint(18, 24 + 7));
    QVERIFY(watcher.came);
}

void TestPuzzle::clicksOutsideMarkers()
{
    CWPuzzleWidget &w = *widget;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    ModalWatcher watcher([](QWidget *) {}, 50);
    // Black cells beside the marker areas, and the across area of the cell
    // that only has a down entry.
    for (const QPoint &at : {QPoint(12, 120 + 7), QPoint(18, 120 + 12), QPoint(23, 120 + 7),
                             QPoint(72 + 18, 96 + 7), QPoint(72 + 7, 96 + 12), QPoint(5, 5)}) {
        press(&w, at);
        QVERIFY(!w.hoveredEntry);
    }
    QTest::qWait(100);
    QVERIFY(!watcher.came);
    QCOMPARE(w.cursorX, -1);
    for (const CWEntry *e : puzzle->entries)
        QVERIFY(!e->cheated);
}

void TestPuzzle::questionDialog()
{
    CWPuzzleWidget &w = *widget;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    moveTo(&w, QPoint(72 + 7, 96 + 18));
    QCOMPARE(w.hoveredEntry, puzzle->entries.at(1));
    bool checkedLayout = false;
    ModalWatcher watcher([&](QWidget *modal) {
        auto *dialog = qobject_cast<CWQuestionDialog *>(modal);
        QVERIFY(dialog);
        QCOMPARE(dialog->parentWidget(), &w);
        QCOMPARE(dialog->nivlet(), record(2));
        QCOMPARE(dialog->size(), QSize(440, 260));
        QVERIFY(!dialog->cheated());
        QVBoxLayout *main = qobject_cast<QVBoxLayout *>(dialog->layout());
        QCOMPARE(dialog->layout(), main);
        QCOMPARE(main->count(), 5);
        auto *grid = qobject_cast<QGridLayout *>(main->itemAt(0)->layout());
        QVERIFY(grid);
        QCOMPARE(grid->itemAtPosition(0, 1)->widget(), child<QLabel>(dialog, "bookLabel"));
        QCOMPARE(child<QLabel>(dialog, "knRateLabel")->text(), QStringLiteral("25%"));
        QCOMPARE(main->itemAt(3)->widget(), child<QTextEdit>(dialog, "questionEdit"));
        QCOMPARE(child<QTextEdit>(dialog, "questionEdit")->toPlainText(),
                 QString::fromLatin1(question40));
        QVERIFY(child<QTextEdit>(dialog, "questionEdit")->isReadOnly());
        auto *buttons = qobject_cast<QHBoxLayout *>(main->itemAt(4)->layout());
        QVERIFY(buttons);
        QCOMPARE(buttons->alignment(), Qt::Alignment(Qt::AlignLeft));
        QCOMPARE(buttons->itemAt(0)->widget(), child<QPushButton>(dialog, "okButton"));
        QCOMPARE(buttons->itemAt(1)->widget(), child<QPushButton>(dialog, "cheatButton"));
        QCOMPARE(child<QPushButton>(dialog, "okButton")->text(), QStringLiteral("Ok"));
        QVERIFY(child<QPushButton>(dialog, "okButton")->isDefault());
        QCOMPARE(child<QPushButton>(dialog, "okButton")->minimumWidth(), 60);
        QCOMPARE(child<QPushButton>(dialog, "okButton")->maximumWidth(), 60);
        QCOMPARE(child<QPushButton>(dialog, "cheatButton")->text(),
                 QStringLiteral("I really don't know, tell me please!"));
        const int cheatWidth =
            std::max(200, child<QPushButton>(dialog, "cheatButton")->sizeHint().width());
        QCOMPARE(child<QPushButton>(dialog, "cheatButton")->minimumWidth(), cheatWidth);
        QCOMPARE(child<QPushButton>(dialog, "cheatButton")->maximumWidth(), cheatWidth);
        checkedLayout = true;
        QTest::mouseClick(child<QPushButton>(dialog, "okButton"), Qt::LeftButton);
    });
    press(&w, QPoint(72 + 7, 96 + 18));
    QVERIFY(watcher.came);
    QVERIFY(!QApplication::activeModalWidget());
    QCOMPARE(watcher.title, QStringLiteral("Cross Word Puzzle Question"));
    QVERIFY(checkedLayout);
    // "Ok" reveals nothing; the hovered marker was let go for the question.
    QVERIFY(!w.hoveredEntry);
    QVERIFY(!puzzle->entries.at(1)->cheated);
    QVERIFY(!w.cell(3, 6).revealed);

    // Closing the window reveals nothing either.
    ModalWatcher closer([](QWidget *modal) { modal->close(); });
    press(&w, QPoint(72 + 7, 96 + 18));
    QVERIFY(closer.came);
    QVERIFY(!QApplication::activeModalWidget());
    QVERIFY(!puzzle->entries.at(1)->cheated);
}

void TestPuzzle::givingUpRevealsTheWord()
{
    CWPuzzleWidget &w = *widget;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    ModalWatcher watcher([](QWidget *modal) {
        auto *dialog = qobject_cast<CWQuestionDialog *>(modal);
        QVERIFY(dialog);
        QTest::mouseClick(child<QPushButton>(dialog, "cheatButton"), Qt::LeftButton);
        QVERIFY(dialog->cheated());
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
    });
    press(&w, QPoint(48 + 18, 144 + 7));
    QVERIFY(watcher.came);
    QVERIFY(!QApplication::activeModalWidget());
    QVERIFY(puzzle->entries.at(2)->cheated);
    QCOMPARE(typedRow(w, 6), QStringLiteral("###oslo###"));
    for (int x = 3; x <= 6; ++x)
        QVERIFY(w.cell(x, 6).revealed);
    QVERIFY(!w.cell(3, 5).revealed);
}

void TestPuzzle::questionDialogWithoutBook()
{
    Nivlet lost(50, true, 0.125, nullptr, QStringLiteral("A question of a lost book"),
                QStringLiteral("lost"));
    CWQuestionDialog dialog(nullptr, &lost);
    QVERIFY(child<QLabel>(&dialog, "bookLabel")->text().isEmpty());
    QCOMPARE(child<QLabel>(&dialog, "knRateLabel")->text(), QStringLiteral("13%"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Cross Word Puzzle Question"));
    const int result = runModal(&dialog, [&] { dialog.cheat(); });
    QCOMPARE(result, int(QDialog::Accepted));
    QVERIFY(dialog.cheated());
}

void TestPuzzle::painting()
{
    setPuzzleAffectsRates(false);
    CWPuzzleWidget &w = *widget;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.reveal(puzzle->entries.at(1));
    w.setCursor(1, 5);
    QTest::keyClicks(&w, QStringLiteral("pxr"));
    moveTo(&w, QPoint(48 + 18, 144 + 7));
    QCOMPARE(w.hoveredEntry, puzzle->entries.at(2));

    QImage image = w.grab().toImage();
    QCOMPARE(image.pixelColor(24 * 8 + 5, 24 * 8 + 5), w.blackBackground);
    QCOMPARE(image.pixelColor(24 * 5 + 2, 24 * 6 + 22), w.letterBackground);
    QCOMPARE(image.pixelColor(24 * 3 + 2, 24 * 7 + 2), w.revealedBackground);
    // Markers: across right in the cell, down at its bottom; the hovered one.
    QCOMPARE(image.pixelColor(13, 120 + 3), w.markerColor);
    QCOMPARE(image.pixelColor(22, 120 + 10), w.markerColor);
    QCOMPARE(image.pixelColor(12, 120 + 6), w.blackBackground);
    QCOMPARE(image.pixelColor(22, 120 + 12), w.blackBackground);
    QCOMPARE(image.pixelColor(72 + 3, 96 + 13), w.markerColor);
    QCOMPARE(image.pixelColor(72 + 10, 96 + 22), w.markerColor);
    QCOMPARE(image.pixelColor(72 + 12, 96 + 18), w.blackBackground);
    QCOMPARE(image.pixelColor(48 + 18, 144 + 7), w.hoveredMarkerColor);
    QCOMPARE(pixelsOf(image, 2, 6, w.hoveredMarkerColor), 80);
    QCOMPARE(pixelsOf(image, 0, 5, w.markerColor), 80);
    // The cursor waits right on the fourth letter of paris.
    QCOMPARE(image.pixelColor(24 * 4 + 9, 24 * 5 + 12), w.cursorColor);
    QCOMPARE(image.pixelColor(24 * 4 + 20, 24 * 5 + 12), w.letterBackground);
    // Typed letters in grey, revealed ones in green; blanks show nothing.
    QVERIFY(pixelsOf(image, 1, 5, w.typedColor) > 5);
    QVERIFY(pixelsOf(image, 2, 5, w.typedColor) > 5);
    QCOMPARE(pixelsOf(image, 3, 5, w.typedColor), 0);
    QVERIFY(pixelsOf(image, 3, 5, w.correctColor) > 5);
    QVERIFY(pixelsOf(image, 3, 8, w.correctColor) > 5);
    // A blank shows nothing: all white but the edge the grid lines blend into.
    QCOMPARE(pixelsOf(image, 5, 5, w.letterBackground), 22 * 22);
    // The letter stands in the middle of its cell.
    int left = 24, right = 0;
    for (int py = 24 * 5 + 1; py < 24 * 5 + 24; ++py) {
        for (int px = 24 + 1; px < 48; ++px) {
            if (image.pixelColor(px, py) == w.typedColor) {
                left = std::min(left, px - 24);
                right = std::max(right, px - 24);
            }
        }
    }
    QVERIFY2(std::abs((left + right) - 24) <= 3,
             qPrintable(QStringLiteral("%1 %2").arg(left).arg(right)));
    // Grid lines between the cells.
    QCOMPARE(image.pixelColor(24 * 5, 24 * 5 + 12).red(),
             image.pixelColor(24 * 5, 24 * 5 + 12).blue());
    QVERIFY(image.pixelColor(24 * 5, 24 * 5 + 12) != w.letterBackground);

    moveTo(&w, QPoint(48 + 12, 144 + 12));
    w.checkAll();
    image = w.grab().toImage();
    QCOMPARE(image.pixelColor(48 + 18, 144 + 7), w.markerColor);
    // After the check: solution letters, green where right, red where not.
    QVERIFY(pixelsOf(image, 1, 5, w.correctColor) > 5);
    QCOMPARE(pixelsOf(image, 1, 5, w.typedColor), 0);
    QVERIFY(pixelsOf(image, 2, 5, w.wrongColor) > 5);
    QVERIFY(pixelsOf(image, 3, 5, w.correctColor) > 5);
    QVERIFY(pixelsOf(image, 4, 5, w.wrongColor) > 5);
    QVERIFY(pixelsOf(image, 5, 5, w.wrongColor) > 5);
    QVERIFY(pixelsOf(image, 6, 6, w.wrongColor) > 5);

    // Typing after the check shows the checked colours at once.
    w.setCursor(2, 5);
    QTest::keyClick(&w, Qt::Key_A);
    image = w.grab().toImage();
    QVERIFY(pixelsOf(image, 2, 5, w.correctColor) > 5);
    QCOMPARE(pixelsOf(image, 2, 5, w.wrongColor), 0);
}

void TestPuzzle::checkCountsAndRates()
{
    const CWPuzzleWidget &w = *widget;
    revealParisTypeRomeAndCheck(QStringLiteral("OME"));
    QVERIFY(w.checked);
    QCOMPARE(w.correctCount, 1);
    QCOMPARE(w.incorrectCount, 1);
    QCOMPARE(w.cheatedCount, 1);
    QCOMPARE(record(1)->knRate, 0.25);
    QCOMPARE(record(2)->knRate, 0.625);
    QCOMPARE(record(3)->knRate, 0.375);
    QCOMPARE(storedRate(1), 0.25);
    QCOMPARE(storedRate(2), 0.625);
    QCOMPARE(storedRate(3), 0.375);
    QVERIFY(core->activeListStale());
}

void TestPuzzle::checkWithoutRateChanges()
{
    setPuzzleAffectsRates(false);
    const CWPuzzleWidget &w = *widget;
    revealParisTypeRomeAndCheck(QStringLiteral("ome"));
    QCOMPARE(w.correctCount, 1);
    QCOMPARE(w.incorrectCount, 1);
    QCOMPARE(w.cheatedCount, 1);
    QCOMPARE(record(1)->knRate, 0.5);
    QCOMPARE(record(2)->knRate, 0.25);
    QCOMPARE(record(3)->knRate, 0.75);
    QCOMPARE(storedRate(1), 0.5);
    QCOMPARE(storedRate(2), 0.25);
    QCOMPARE(storedRate(3), 0.75);
    QVERIFY(!core->activeListStale());
}

void TestPuzzle::checkWithFailingRateWrites()
{
    CWPuzzleWidget &w = *widget;
    QVERIFY(core->options());
    core->setBusyTimeout(50);
    TestSupport::BoxCatcher boxes;
    {
        LockingConnection lock;
        QVERIFY(lock.locked);
        w.checkAll();
    }
    QCOMPARE(w.incorrectCount, 3);
    QCOMPARE(boxes.texts.size(), 1);
    QCOMPARE(boxes.titles, QStringList{QStringLiteral("Error")});
    QCOMPARE(boxes.texts.first(), QStringLiteral("Could not save 3 of 3 knowledge rates. error "
                                                 "code: 5 error message: database is locked"));
    QCOMPARE(record(1)->knRate, 0.25);
    QCOMPARE(record(3)->knRate, 0.375);
    QCOMPARE(storedRate(1), 0.5);
    QCOMPARE(storedRate(3), 0.75);
}

void TestPuzzle::lastingLockIsWaitedForOnce()
{
    CWPuzzleWidget &w = *widget;
    QVERIFY(core->options());
    const int wait = 700;
    core->setBusyTimeout(wait);
    TestSupport::BoxCatcher boxes;
    LockingConnection lock;
    QVERIFY(lock.locked);
    QElapsedTimer clock;
    clock.start();
    w.checkAll();
    const qint64 checkTook = clock.elapsed();
    QCOMPARE(boxes.texts.size(), 1);
    QVERIFY2(checkTook >= wait && checkTook < 2 * wait, qPrintable(QString::number(checkTook)));
    // A later change waits for the lock as long as ever.
    QCOMPARE(core->busyTimeout(), wait);
    boxes.clear();
    clock.restart();
    QVERIFY(!core->setKnowledgeRate(1, 0.5));
    QVERIFY2(clock.elapsed() >= wait, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(boxes.texts.size(), 1);
}

void TestPuzzle::aMissingRowFailsAlone()
{
    CWPuzzleWidget &w = *widget;
    QVERIFY(core->options());
    core->setBusyTimeout(50);
    TestSupport::BoxCatcher boxes;
    // The second rate finds its row gone; the others are still written.
    QVERIFY(TestSupport::execSql(work->file(QStringLiteral("nivlets")),
                                 QStringLiteral("DELETE FROM nivlet WHERE id = 2")));
    w.checkAll();
    QCOMPARE(boxes.texts.size(), 1);
    QVERIFY2(boxes.texts.first().startsWith(
                 QStringLiteral("Could not save 1 of 3 knowledge rates. error code: 12 ")),
             qPrintable(boxes.texts.first()));
    QCOMPARE(storedRate(1), 0.25);
    QCOMPARE(storedRate(3), 0.375);
}

void TestPuzzle::afterTheCheck()
{
    CWPuzzleWidget &w = *widget;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.checkAll();
    QCOMPARE(w.incorrectCount, 3);
    QCOMPARE(storedRate(2), 0.125);
    // The question shows the rate the check wrote; giving up changes no count.
    ModalWatcher watcher([](QWidget *modal) {
        auto *dialog = qobject_cast<CWQuestionDialog *>(modal);
        QVERIFY(dialog);
        QCOMPARE(child<QLabel>(dialog, "knRateLabel")->text(), QStringLiteral("13%"));
        dialog->cheat();
    });
    press(&w, QPoint(72 + 7, 96 + 18));
    QVERIFY(watcher.came);
    QVERIFY(!QApplication::activeModalWidget());
    QVERIFY(w.cell(3, 7).revealed);
    QCOMPARE(w.incorrectCount, 3);
    QCOMPARE(w.cheatedCount, 0);
    QCOMPARE(w.correctCount, 0);
    QCOMPARE(storedRate(2), 0.125);
    QCOMPARE(record(2)->knRate, 0.125);
    w.setCursor(1, 5);
    QTest::keyClicks(&w, QStringLiteral("paris"));
    QCOMPARE(typedRow(w, 5), QStringLiteral("#paris####"));
    QCOMPARE(w.correctCount, 0);
    QCOMPARE(storedRate(1), 0.25);
}

void TestPuzzle::sizeDialog()
{
    QWidget parent;
    CWPuzzleParamsDialog dialog(&parent);
    QCOMPARE(dialog.parentWidget(), &parent);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("nivlets - Create puzzle"));
    QCOMPARE(dialog.maximumWidth(), 170);
    auto *main = qobject_cast<QVBoxLayout *>(dialog.layout());
    QVERIFY(main);
    auto *grid = qobject_cast<QGridLayout *>(main->itemAt(0)->layout());
    QVERIFY(grid);
    QCOMPARE(grid->columnStretch(1), 1);
    QCOMPARE(grid->horizontalSpacing(), 6);
    QCOMPARE(grid->verticalSpacing(), 6);
    auto *widthCaption = qobject_cast<QLabel *>(grid->itemAtPosition(0, 0)->widget());
    QVERIFY(widthCaption);
    QCOMPARE(widthCaption->text(), QStringLiteral("Width (10-24):"));
    QCOMPARE(grid->itemAtPosition(0, 0)->alignment(), Qt::Alignment(Qt::AlignRight));
    QCOMPARE(grid->itemAtPosition(0, 1)->widget(), child<QLineEdit>(&dialog, "widthEdit"));
    auto *heightCaption = qobject_cast<QLabel *>(grid->itemAtPosition(1, 0)->widget());
    QVERIFY(heightCaption);
    QCOMPARE(heightCaption->text(), QStringLiteral("Height (10-24):"));
    QCOMPARE(grid->itemAtPosition(1, 1)->widget(), child<QLineEdit>(&dialog, "heightEdit"));
    QVERIFY(child<QLineEdit>(&dialog, "widthEdit")->text().isEmpty());
    QVERIFY(child<QLineEdit>(&dialog, "heightEdit")->text().isEmpty());
    auto *buttons = qobject_cast<QHBoxLayout *>(main->itemAt(1)->layout());
    QVERIFY(buttons);
    QCOMPARE(buttons->count(), 3);
    QCOMPARE(buttons->itemAt(0)->widget(), child<QPushButton>(&dialog, "okButton"));
    QCOMPARE(buttons->itemAt(1)->widget(), child<QPushButton>(&dialog, "cancelButton"));
    QVERIFY(buttons->itemAt(2)->spacerItem());
    QCOMPARE(child<QPushButton>(&dialog, "okButton")->text(), QStringLiteral("Ok"));
    QCOMPARE(child<QPushButton>(&dialog, "cancelButton")->text(), QStringLiteral("Cancel"));
    QVERIFY(child<QPushButton>(&dialog, "okButton")->isDefault());
    for (QPushButton *b :
         {child<QPushButton>(&dialog, "okButton"), child<QPushButton>(&dialog, "cancelButton")}) {
        QCOMPARE(b->minimumWidth(), 60);
        QCOMPARE(b->maximumWidth(), 60);
    }

    TestSupport::BoxCatcher boxes;
    const int result = runModal(&dialog, [&] {
        QTest::keyClicks(child<QLineEdit>(&dialog, "widthEdit"), QStringLiteral("12"));
        QTest::mouseClick(child<QPushButton>(&dialog, "cancelButton"), Qt::LeftButton);
    });
    QCOMPARE(result, int(QDialog::Rejected));
    QVERIFY(boxes.texts.isEmpty());
}

void TestPuzzle::sizeValidation_data()
{
    QTest::addColumn<QString>("width");
    QTest::addColumn<QString>("height");
    QTest::addColumn<QString>("message");
    const QString badWidth = QStringLiteral("Invalid width.");
    const QString badHeight = QStringLiteral("Invalid height.");
    QTest::newRow("width 9") << "9"
                             << "10" << badWidth;
    QTest::newRow("width 25") << "25"
                              << "10" << badWidth;
    QTest::newRow("width empty") << ""
                                 << "10" << badWidth;
    QTest::newRow("width not a number") << "ten"
                                        << "10" << badWidth;
    QTest::newRow("width in hex") << "0x10"
                                  << "10" << badWidth;
    QTest::newRow("both wrong") << "abc"
                                << "99" << badWidth;
    QTest::newRow("height 9") << "10"
                              << "9" << badHeight;
    QTest::newRow("height empty") << "24"
                                  << "" << badHeight;
    QTest::newRow("height 25") << "24"
                               << "25" << badHeight;
    QTest::newRow("10 by 24") << "10"
                              << "24" << QString();
    QTest::newRow("24 by 10") << "24"
                              << "10" << QString();
    QTest::newRow("17 by 13") << "17"
                              << "13" << QString();
}

void TestPuzzle::sizeValidation()
{
    QFETCH(QString, width);
    QFETCH(QString, height);
    QFETCH(QString, message);
    CWPuzzleParamsDialog dialog(nullptr);
    TestSupport::BoxCatcher boxes;
    const int result = runModal(&dialog, [&] {
        QTest::keyClicks(child<QLineEdit>(&dialog, "widthEdit"), width);
        QTest::keyClicks(child<QLineEdit>(&dialog, "heightEdit"), height);
        QTest::mouseClick(child<QPushButton>(&dialog, "okButton"), Qt::LeftButton);
        if (message.isEmpty())
            return;
        QTRY_COMPARE(boxes.texts, QStringList({message}));
        QCOMPARE(boxes.titles, QStringList({QStringLiteral("Error")}));
        // The dialog stays open with the user's input.
        QVERIFY(dialog.isVisible());
        QCOMPARE(child<QLineEdit>(&dialog, "widthEdit")->text(), width);
        QCOMPARE(child<QLineEdit>(&dialog, "heightEdit")->text(), height);
        QTest::mouseClick(child<QPushButton>(&dialog, "cancelButton"), Qt::LeftButton);
    });
    if (message.isEmpty()) {
        QCOMPARE(result, int(QDialog::Accepted));
        QCOMPARE(dialog.puzzleWidth(), width.toInt());
        QCOMPARE(dialog.puzzleHeight(), height.toInt());
        QVERIFY(boxes.texts.isEmpty());
    } else {
        QCOMPARE(result, int(QDialog::Rejected));
    }
}

void TestPuzzle::puzzleDialogSizes_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<QSize>("size");
    QTest::newRow("10 x 10") << 10 << 10 << QSize(266, 296);
    QTest::newRow("24 x 24") << 24 << 24 << QSize(602, 632);
    QTest::newRow("10 x 24") << 10 << 24 << QSize(266, 632);
}

void TestPuzzle::widgetAsksForItsGrid_data()
{
    puzzleDialogSizes_data();
}

// The grid with its last lines is what the widget asks for; the dialog's
// fixed size is that and the room around it.
void TestPuzzle::widgetAsksForItsGrid()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(QSize, size);
    CWPuzzle sized(width, height);
    CWPuzzleWidget grid(&sized, core.get());
    QCOMPARE(grid.sizeHint(), QSize(24 * width + 1, 24 * height + 1));
    QCOMPARE(grid.sizeHint() + QSize(25, 55), size);
    CWPuzzleDialog dialog(nullptr, &sized, core.get());
    QCOMPARE(child<CWPuzzleWidget>(&dialog, "puzzleWidget")->sizeHint(), grid.sizeHint());
}

void TestPuzzle::puzzleDialogSizes()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(QSize, size);
    CWPuzzle sized(width, height);
    sized.entries.append(new CWEntry(record(1), QStringLiteral("paris"), 0, 1, height / 2));
    sized.entries.append(new CWEntry(record(2), QStringLiteral("rome"), 1, 3, height / 2));
    QWidget parent;
    CWPuzzleDialog dialog(&parent, &sized, core.get());
    QCOMPARE(dialog.parentWidget(), &parent);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("nivlets - Puzzle"));
    QCOMPARE(dialog.size(), size);
    QCOMPARE(dialog.minimumSize(), size);
    QCOMPARE(dialog.maximumSize(), size);
    const CWPuzzleWidget *grid = child<CWPuzzleWidget>(&dialog, "puzzleWidget");
    const QLayout *main = dialog.layout();
    QCOMPARE(grid->puzzle, &sized);
    QCOMPARE(grid->core, core.get());
    const int result = runModal(&dialog, [&] {
        dialog.resize(size + QSize(50, 50));
        QCOMPARE(dialog.size(), size);
        // The whole grid is on screen, in checks as before.
        QVERIFY(grid->geometry().width() >= 24 * width + 1);
        QVERIFY(grid->geometry().height() >= 24 * height + 1);
        dialog.check();
        QTRY_VERIFY(grid->geometry().height() >= 24 * height + 1);
        // No text of the results row is cut off; the dialog grows only as
        // wide as the row needs.
        auto *row = qobject_cast<QHBoxLayout *>(main->itemAt(1)->layout());
        QVERIFY(row);
        for (int i = 0; i < row->count(); ++i) {
            if (QWidget *label = row->itemAt(i)->widget()) {
                QTRY_VERIFY(label->isVisible());
                QVERIFY2(label->width() >= label->sizeHint().width(),
                         qPrintable(QStringLiteral("%1 gets %2 of %3 pixels")
                                        .arg(qobject_cast<QLabel *>(label)->text())
                                        .arg(label->width())
                                        .arg(label->sizeHint().width())));
            }
        }
        const int rowWidth = main->contentsMargins().left() + row->sizeHint().width() +
                             main->contentsMargins().right();
        QCOMPARE(dialog.width(), std::max(size.width(), rowWidth));
        QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
        QVERIFY(main->itemAt(1)->geometry().bottom() <
                child<QPushButton>(&dialog, "checkButton")->geometry().top());
        QTest::mouseClick(child<QPushButton>(&dialog, "closeButton"), Qt::LeftButton);
    });
    QCOMPARE(result, int(QDialog::Rejected));
}

void TestPuzzle::checkOnceWithResultsRow()
{
    CWPuzzleDialog dialog(nullptr, puzzle.get(), core.get());
    QVBoxLayout *main = qobject_cast<QVBoxLayout *>(dialog.layout());
    QCOMPARE(dialog.layout(), main);
    QCOMPARE(main->count(), 2);
    QCOMPARE(main->itemAt(0)->widget(), child<CWPuzzleWidget>(&dialog, "puzzleWidget"));
    QCOMPARE(main->stretch(0), 1);
    QCOMPARE(main->itemAt(1)->layout(), child<QHBoxLayout>(&dialog, "buttonRow"));
    QCOMPARE(child<QHBoxLayout>(&dialog, "buttonRow")->alignment(), Qt::Alignment(Qt::AlignLeft));
    QCOMPARE(child<QHBoxLayout>(&dialog, "buttonRow")->itemAt(0)->widget(),
             child<QPushButton>(&dialog, "checkButton"));
    QCOMPARE(child<QHBoxLayout>(&dialog, "buttonRow")->itemAt(1)->widget(),
             child<QPushButton>(&dialog, "closeButton"));
    QCOMPARE(child<QPushButton>(&dialog, "checkButton")->text(), QStringLiteral("Check!"));
    QCOMPARE(child<QPushButton>(&dialog, "closeButton")->text(), QStringLiteral("Close"));
    QVERIFY(child<QPushButton>(&dialog, "checkButton")->isDefault());
    for (QPushButton *b :
         {child<QPushButton>(&dialog, "checkButton"), child<QPushButton>(&dialog, "closeButton")}) {
        QCOMPARE(b->minimumWidth(), 60);
        QCOMPARE(b->maximumWidth(), 60);
    }

    const int result = runModal(&dialog, [&] {
        CWPuzzleWidget *w = child<CWPuzzleWidget>(&dialog, "puzzleWidget");
        w->reveal(puzzle->entries.at(2));
        w->setCursor(1, 5);
        QTest::keyClicks(w, QStringLiteral("paris"));
        QTest::mouseClick(child<QPushButton>(&dialog, "checkButton"), Qt::LeftButton);
        QVERIFY(!child<QPushButton>(&dialog, "checkButton")->isEnabled());
        QVERIFY(w->checked);
        QTest::mouseClick(child<QPushButton>(&dialog, "checkButton"), Qt::LeftButton);
        dialog.check();
        QCOMPARE(w->correctCount, 1);
        QCOMPARE(w->incorrectCount, 1);
        QCOMPARE(w->cheatedCount, 1);
        QCOMPARE(storedRate(1), 0.75);
        QCOMPARE(storedRate(2), 0.125);
        QCOMPARE(storedRate(3), 0.375);

        QCOMPARE(main->count(), 3);
        auto *row = qobject_cast<QHBoxLayout *>(main->itemAt(1)->layout());
        QVERIFY(row);
        QCOMPARE(row->contentsMargins(), QMargins(2, 2, 2, 2));
        QCOMPARE(row->count(), 9);
        const QStringList captions = {QStringLiteral("Correct:"), QStringLiteral("Incorrect:"),
                                      QStringLiteral("Cheated:")};
        const QList<QColor> colours = {w->correctColor, w->wrongColor, w->correctColor};
        const int counts[] = {w->correctCount, w->incorrectCount, w->cheatedCount};
        int sum = 0;
        for (int i = 0; i < 3; ++i) {
            auto *caption = qobject_cast<QLabel *>(row->itemAt(3 * i)->widget());
            QVERIFY(caption);
            QCOMPARE(caption->text(), captions.at(i));
            auto *number = qobject_cast<QLabel *>(row->itemAt(3 * i + 1)->widget());
            QVERIFY(number);
            QCOMPARE(number->text(), QStringLiteral("<b><font color=\"#%1\">%2</font></b>")
                                         .arg(colours.at(i).name().mid(1))
                                         .arg(counts[i]));
            QCOMPARE(number->font().pointSize(), QLabel().font().pointSize() + 3);
            QCOMPARE(number->font().weight(), QLabel().font().weight());
            QTRY_VERIFY(number->isVisible());
            sum += QTextDocumentFragment::fromHtml(number->text()).toPlainText().toInt();
            if (i < 2) {
                QSpacerItem *gap = row->itemAt(3 * i + 2)->spacerItem();
                QVERIFY(gap);
                QCOMPARE(gap->sizeHint().width(), 10);
            }
        }
        QCOMPARE(sum, int(puzzle->entries.size()));
        auto *cheated = qobject_cast<QLabel *>(row->itemAt(7)->widget());
        QCOMPARE(cheated->styleSheet(), QStringLiteral("background-color: #cdcdcd"));
        QCOMPARE(row->stretch(8), 1);
        QTest::mouseClick(child<QPushButton>(&dialog, "closeButton"), Qt::LeftButton);
    });
    QCOMPARE(result, int(QDialog::Rejected));
}

void TestPuzzle::checkOfAnUntouchedPuzzle()
{
    CWPuzzleDialog dialog(nullptr, puzzle.get(), core.get());
    const int result = runModal(&dialog, [&] {
        QTest::mouseClick(child<QPushButton>(&dialog, "checkButton"), Qt::LeftButton);
        auto *row = qobject_cast<QHBoxLayout *>(dialog.layout()->itemAt(1)->layout());
        QVERIFY(row);
        QCOMPARE(qobject_cast<QLabel *>(row->itemAt(1)->widget())->text(),
                 QStringLiteral("<b><font color=\"#20b420\">0</font></b>"));
        QCOMPARE(qobject_cast<QLabel *>(row->itemAt(4)->widget())->text(),
                 QStringLiteral("<b><font color=\"#b42020\">3</font></b>"));
        QCOMPARE(qobject_cast<QLabel *>(row->itemAt(7)->widget())->text(),
                 QStringLiteral("<b><font color=\"#20b420\">0</font></b>"));
        dialog.close();
    });
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(storedRate(1), 0.25);
    QCOMPARE(storedRate(2), 0.125);
    QCOMPARE(storedRate(3), 0.375);
}

QTEST_MAIN(TestPuzzle)
#include "tst_puzzle.moc"
