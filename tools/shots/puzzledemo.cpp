// A developer's way to look at the crossword without the main window, on the
// "nivlets" file of the working directory (the check writes rates into it).
//
//   nivlets_puzzledemo                     asks for the size, then shows the puzzle
//   nivlets_puzzledemo --screenshots DIR   solves part of a 12 x 12 puzzle by
//                                          itself and saves DIR/puzzle-solving.png,
//                                          puzzle-question.png, puzzle-checked.png
//                                          and puzzle-size.png
#include "cwpuzzle.h"
#include "cwpuzzlecreator.h"
#include "cwpuzzledialog.h"
#include "cwpuzzleparamsdialog.h"
#include "cwpuzzlewidget.h"
#include "cwquestiondialog.h"
#include "errorboxpresenter.h"
#include "knrate.h"
#include "log.h"
#include "nivlet.h"
#include "nivletcore.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPixmap>
#include <QScreen>
#include <QTextStream>
#include <QTimer>

#include <memory>

namespace {
void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void typeText(QWidget *widget, const QString &text)
{
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
    }
}

void click(QWidget *widget, const QPoint &at)
{
    QMouseEvent press(QEvent::MouseButtonPress, at, widget->mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
}

void hover(QWidget *widget, const QPoint &at)
{
    QMouseEvent move(QEvent::MouseMove, at, widget->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                     Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
}

// The dialog with its frame and whatever lies on top of it, such as a tooltip.
bool saveScreen(QWidget *dialog, const QString &file)
{
    const QRect frame = dialog->frameGeometry();
    const QPixmap shot =
        dialog->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    return shot.save(file);
}

QPoint letterCell(const CWEntry *entry, int i)
{
    const int dx = entry->direction == CWEntry::Horizontal ? 1 : 0;
    return QPoint(24 * (entry->x + dx * i) + 12, 24 * (entry->y + (1 - dx) * i) + 12);
}

QPoint marker(const CWEntry *entry)
{
    if (entry->direction == CWEntry::Horizontal)
        return QPoint(24 * (entry->x - 1) + 18, 24 * entry->y + 7);
    return QPoint(24 * entry->x + 7, 24 * (entry->y - 1) + 18);
}

int screenshots(NivletCore &core, const QString &dir)
{
    // A fixed seed gives the same puzzle on the delivered sample file each time.
    seedRandom(4);
    CWPuzzleCreator creator;
    std::unique_ptr<CWPuzzle> puzzle(creator.create(&core, 12, 12));
    if (!puzzle || puzzle->entries.size() < 4)
        return 1;
    CWPuzzleDialog dialog(nullptr, puzzle.get(), &core);
    dialog.move(40, 40);
    dialog.show();
    wait(300);
    CWPuzzleWidget *widget = dialog.findChild<CWPuzzleWidget *>();
    widget->setFocus();

    // The first word typed right, the second given away, the third typed with
    // one wrong letter and left unfinished, the cursor waiting in the fourth.
    const QList<CWEntry *> &entries = puzzle->entries;
    click(widget, letterCell(entries.at(0), 0));
    typeText(widget, entries.at(0)->answer);
    widget->reveal(entries.at(1));
    const QString third = entries.at(2)->answer;
    click(widget, letterCell(entries.at(2), 0));
    typeText(widget, QStringLiteral("x") + third.mid(1, third.length() - 2));
    // The cursor on an empty cell, so that it hides no letter.
    for (int i = 3; i < entries.size(); ++i) {
        const QPoint at = letterCell(entries.at(i), 0);
        if (widget->cell(at.x() / 24, at.y() / 24).typed == QLatin1Char(' ')) {
            click(widget, at);
            break;
        }
    }
    // The lowest marker, so that its tooltip covers none of the typed letters.
    const CWEntry *lowest = entries.at(4);
    for (const CWEntry *e : entries) {
        if (marker(e).y() > marker(lowest).y())
            lowest = e;
    }
    hover(widget, marker(lowest));
    wait(500);
    if (!saveScreen(&dialog, QDir(dir).filePath(QStringLiteral("puzzle-solving.png"))))
        return 1;

    hover(widget, QPoint(1, 1));
    {
        CWQuestionDialog question(&dialog, lowest->nivlet);
        question.move(60, 120);
        question.show();
        wait(300);
        if (!saveScreen(&question, QDir(dir).filePath(QStringLiteral("puzzle-question.png"))))
            return 1;
    }
    dialog.check();
    wait(300);
    if (!saveScreen(&dialog, QDir(dir).filePath(QStringLiteral("puzzle-checked.png"))))
        return 1;
    dialog.hide();

    CWPuzzleParamsDialog params(nullptr);
    params.findChild<QLineEdit *>(QStringLiteral("widthEdit"))->setText(QStringLiteral("12"));
    params.findChild<QLineEdit *>(QStringLiteral("heightEdit"))->setText(QStringLiteral("12"));
    params.move(40, 40);
    params.show();
    wait(300);
    return saveScreen(&params, QDir(dir).filePath(QStringLiteral("puzzle-size.png"))) ? 0 : 1;
}

int interactive(NivletCore &core)
{
    CWPuzzleParamsDialog params(nullptr);
    if (params.exec() != QDialog::Accepted)
        return 0;
    CWPuzzleCreator creator;
    std::unique_ptr<CWPuzzle> puzzle(
        creator.create(&core, params.puzzleWidth(), params.puzzleHeight()));
    if (!puzzle)
        return 1;
    CWPuzzleDialog dialog(nullptr, puzzle.get(), &core);
    dialog.exec();
    const CWPuzzleWidget *widget = dialog.findChild<CWPuzzleWidget *>();
    QTextStream(stdout) << puzzle->entries.size() << " entries; correct " << widget->correctCount
                        << ", incorrect " << widget->incorrectCount << ", cheated "
                        << widget->cheatedCount << "\n";
    return 0;
}
} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    installErrorBoxPresenter();
    openLog();
    int status = 1;
    {
        NivletCore core;
        if (core.open()) {
            const QStringList args = app.arguments();
            const int at = args.indexOf(QStringLiteral("--screenshots"));
            status = at > 0 && at + 1 < args.size() ? screenshots(core, args.at(at + 1))
                                                    : interactive(core);
        }
    }
    closeLog();
    return status;
}
