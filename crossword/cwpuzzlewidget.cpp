#include "cwpuzzlewidget.h"

#include "cwpuzzle.h"
#include "cwquestiondialog.h"
#include "guiutil.h"
#include "knrate.h"
#include "nivlet.h"
#include "nivletcore.h"
#include "options.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QFocusEvent>
#include <QFontInfo>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>
#include <QTextDocument>
#include <QToolTip>

#include <algorithm>

namespace {
// The cell and the letter the grid is drawn for; both grow together.
const int partCell = 24;
const int partLetter = 15;
const int clueLength = 40;
const QChar blank(QLatin1Char(' '));

// The step of one cell in a cursor direction: right, up, left, down.
const int stepX[] = {1, 0, -1, 0};
const int stepY[] = {0, -1, 0, 1};

const QPoint cursorCorners[4][3] = {
    {QPoint(6, 20), QPoint(18, 12), QPoint(6, 4)},
    {QPoint(4, 18), QPoint(20, 18), QPoint(12, 6)},
    {QPoint(18, 20), QPoint(18, 4), QPoint(6, 12)},
    {QPoint(4, 6), QPoint(12, 18), QPoint(20, 6)},
};

bool runsAcross(int direction)
{
    return direction == CWPuzzleWidget::CursorRight || direction == CWPuzzleWidget::CursorLeft;
}

bool contains(const CWEntry *entry, int x, int y)
{
    if (entry->direction == CWEntry::Horizontal)
        return y == entry->y && x >= entry->x && x < entry->x + entry->answer.length();
    return x == entry->x && y >= entry->y && y < entry->y + entry->answer.length();
}

QString spoken(QChar letter)
{
    return letter == blank ? QStringLiteral("a blank") : QString(letter);
}

// What a screen reader reads of the grid: its name, the cursor cell as its
// description, which changes as the cursor goes, and the keys as its help.
class AccessiblePuzzle : public QAccessibleWidget
{
public:
    explicit AccessiblePuzzle(QWidget *widget) : QAccessibleWidget(widget, QAccessible::Canvas) {}

    QString text(QAccessible::Text kind) const override
    {
        const auto *grid = static_cast<const CWPuzzleWidget *>(widget());
        switch (kind) {
        case QAccessible::Name:
            return grid->accessibleName().isEmpty() ? QStringLiteral("Crossword")
                                                    : grid->accessibleName();
        case QAccessible::Description:
            return grid->cursorDescription();
        case QAccessible::Help:
            return CWPuzzleWidget::keyHelp();
        default:
            return QAccessibleWidget::text(kind);
        }
    }
};

QAccessibleInterface *accessiblePuzzle(const QString &className, QObject *object)
{
    if (className == QLatin1String("CWPuzzleWidget") && object && object->isWidgetType())
        return new AccessiblePuzzle(static_cast<QWidget *>(object));
    return nullptr;
}
} // namespace

CWPuzzleWidget::CWPuzzleWidget(CWPuzzle *puzzle, NivletCore *core)
    : QWidget(nullptr), store(core), shown(puzzle), columns(puzzle->width), rows(puzzle->height),
      cells(static_cast<size_t>(puzzle->width * puzzle->height)), atX(-1), atY(-1),
      direction(CursorRight), hovered(nullptr), checked(false), correct(0), incorrect(0),
      cheated(0), colorSet{QColor(255, 255, 255), QColor(205, 205, 205), QColor(0, 166, 237),
                           QColor(128, 128, 128), QColor(0, 0, 0),       QColor(64, 64, 64),
                           QColor(32, 180, 32),   QColor(180, 32, 32),   QColor(0, 166, 237),
                           QColor(200, 120, 50)},
      letters(QStringLiteral("Verdana")), side(partCell)
{
    static const bool accessible = [] {
        QAccessible::installFactory(accessiblePuzzle);
        return true;
    }();
    Q_UNUSED(accessible);

    letters.setPixelSize(partLetter);
    letters.setWeight(QFont::Bold);

    for (CWEntry *entry : puzzle->entries) {
        const int dx = entry->direction == CWEntry::Horizontal ? 1 : 0;
        const int dy = 1 - dx;
        CWPuzzleCell &front = cellAt(entry->x - dx, entry->y - dy);
        if (entry->direction == CWEntry::Horizontal)
            front.acrossEntry = entry;
        else
            front.downEntry = entry;
        for (int i = 0; i < entry->answer.length(); ++i) {
            CWPuzzleCell &c = cellAt(entry->x + dx * i, entry->y + dy * i);
            c.kind = CWPuzzleCell::LetterCell;
            c.typed = blank;
            c.solution = entry->answer.at(i);
        }
    }

    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    fitCellSize();
}

CWPuzzleWidget::~CWPuzzleWidget() = default;

QString CWPuzzleWidget::clueText(const Nivlet *nivlet)
{
    if (nivlet->question.length() > clueLength)
        return QStringLiteral("%1...").arg(nivlet->question.left(clueLength - 3));
    return nivlet->question;
}

QString CWPuzzleWidget::keyHelp()
{
    return QStringLiteral("Type the letters of the words.\n"
                          "Arrow keys: turn the cursor, then move it.\n"
                          "Page Down, Page Up: the next, the previous word.\n"
                          "F2: the clue of the word at the cursor.\n"
                          "Backspace: clear a letter.");
}

QColor CWPuzzleWidget::drawnColor(const QColor &color, const QColor &background)
{
    return GuiUtil::readableColor(color, background);
}

QSize CWPuzzleWidget::sizeHint() const
{
    return QSize(side * columns + 1, side * rows + 1);
}

int CWPuzzleWidget::scaled(int length) const
{
    return (length * side + partCell / 2) / partCell;
}

// Letters smaller than the user's text would be hard to read for whoever
// chose a large font.
void CWPuzzleWidget::fitCellSize()
{
    const int letter = std::max(partLetter, QFontInfo(font()).pixelSize());
    side = (partCell * letter + partLetter / 2) / partLetter;
}

bool CWPuzzleWidget::isLetterCell(int x, int y) const
{
    return x >= 0 && x < columns && y >= 0 && y < rows &&
           cell(x, y).kind == CWPuzzleCell::LetterCell;
}

void CWPuzzleWidget::setCursor(int x, int y)
{
    atX = x;
    atY = y;
    if (isLetterCell(x + 1, y))
        direction = CursorRight;
    else if (isLetterCell(x, y + 1))
        direction = CursorDown;
    else if (isLetterCell(x - 1, y))
        direction = CursorLeft;
    else if (isLetterCell(x, y - 1))
        direction = CursorUp;
    else
        direction = CursorRight;
    cursorChanged();
}

CWEntry *CWPuzzleWidget::entryAtCursor() const
{
    if (atX < 0 || atY < 0)
        return nullptr;
    CWEntry *other = nullptr;
    for (CWEntry *entry : shown->entries) {
        if (!contains(entry, atX, atY))
            continue;
        if ((entry->direction == CWEntry::Horizontal) == runsAcross(direction))
            return entry;
        other = entry;
    }
    return other;
}

QString CWPuzzleWidget::cursorDescription() const
{
    if (atX < 0 || atY < 0)
        return QStringLiteral("No cell chosen.");
    const CWPuzzleCell &c = cell(atX, atY);
    QString letter;
    if (checked) {
        letter = QStringLiteral("%1, %2").arg(spoken(c.solution), c.typed == c.solution
                                                                      ? QStringLiteral("right")
                                                                      : QStringLiteral("wrong"));
    } else {
        letter = c.typed == blank ? QStringLiteral("empty") : spoken(c.typed);
        if (c.revealed)
            letter += QStringLiteral(", revealed");
    }
    QString text = QStringLiteral("Row %1, column %2: %3.").arg(atY + 1).arg(atX + 1).arg(letter);
    if (const CWEntry *entry = entryAtCursor()) {
        text += QStringLiteral(" %1: %2").arg(entry->direction == CWEntry::Horizontal
                                                  ? QStringLiteral("Across")
                                                  : QStringLiteral("Down"),
                                              entry->nivlet->question);
    }
    return text;
}

void CWPuzzleWidget::cursorChanged()
{
    update();
    QAccessibleEvent event(this, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&event);
}

bool CWPuzzleWidget::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip) {
        // Over a marker its clue is shown as the mouse comes; over the
        // letters, how to solve the puzzle with the keys.
        const auto *help = static_cast<QHelpEvent *>(event);
        const QPoint at = help->pos();
        if (at.x() >= 0 && at.y() >= 0 && isLetterCell(at.x() / side, at.y() / side))
            QToolTip::showText(help->globalPos(), keyHelp(), this);
        return true;
    }
    return QWidget::event(event);
}

void CWPuzzleWidget::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        fitCellSize();
        updateGeometry();
        update();
    }
}

// Coming by the keyboard, the cursor waits at the first word; a click
// places it itself.
void CWPuzzleWidget::focusInEvent(QFocusEvent *event)
{
    QWidget::focusInEvent(event);
    if (atX >= 0 || event->reason() == Qt::MouseFocusReason ||
        event->reason() == Qt::PopupFocusReason)
        return;
    moveToWord(1);
}

void CWPuzzleWidget::mousePressEvent(QMouseEvent *event)
{
    const QPointF position = event->position();
    if (position.x() < 0 || position.y() < 0)
        return;
    const int x = int(position.x()) / side;
    const int y = int(position.y()) / side;
    if (x >= columns || y >= rows)
        return;
    if (cell(x, y).kind == CWPuzzleCell::LetterCell) {
        if (x != atX || y != atY)
            setCursor(x, y);
        return;
    }
    detectHover(position, event->globalPosition());
    if (CWEntry *entry = hovered) {
        hovered = nullptr;
        update();
        ask(entry);
    }
}

void CWPuzzleWidget::mouseMoveEvent(QMouseEvent *event)
{
    detectHover(event->position(), event->globalPosition());
}

void CWPuzzleWidget::detectHover(const QPointF &position, const QPointF &globalPosition)
{
    CWEntry *old = hovered;
    hovered = nullptr;
    if (position.x() >= 0 && position.y() >= 0) {
        const int px = int(position.x());
        const int py = int(position.y());
        const int x = px / side;
        const int y = py / side;
        if (x < columns && y < rows && cell(x, y).kind == CWPuzzleCell::BlackCell) {
            const int inX = px - x * side;
            const int inY = py - y * side;
            const auto within = [this](int at, int from, int to) {
                return at >= scaled(from) && at <= scaled(to);
            };
            if (within(inX, 14, 22) && within(inY, 4, 10))
                hovered = cell(x, y).acrossEntry;
            if (within(inX, 4, 10) && within(inY, 14, 22))
                hovered = cell(x, y).downEntry;
        }
    }
    if (hovered == old)
        return;
    const QPoint global = globalPosition.toPoint();
    if (!hovered) {
        QToolTip::showText(global, QString());
    } else {
        // Questions are the user's text, never markup: the tip shows them as typed.
        QToolTip::showText(global, Qt::convertFromPlainText(clueText(hovered->nivlet)), this);
    }
    update();
}

void CWPuzzleWidget::ask(CWEntry *entry)
{
    CWQuestionDialog dialog(this, entry->nivlet);
    dialog.exec();
    if (dialog.cheated())
        reveal(entry);
}

void CWPuzzleWidget::reveal(CWEntry *entry)
{
    entry->cheated = true;
    const int dx = entry->direction == CWEntry::Horizontal ? 1 : 0;
    const int dy = 1 - dx;
    for (int i = 0; i < entry->answer.length(); ++i) {
        CWPuzzleCell &c = cellAt(entry->x + dx * i, entry->y + dy * i);
        c.revealed = true;
        c.typed = c.solution;
    }
    cursorChanged();
}

QList<CWEntry *> CWPuzzleWidget::wordsInReadingOrder() const
{
    QList<CWEntry *> words = shown->entries;
    std::stable_sort(words.begin(), words.end(), [](const CWEntry *a, const CWEntry *b) {
        return a->y != b->y ? a->y < b->y : a->x < b->x;
    });
    return words;
}

// To the first letter of the next word (or the previous one), in its
// direction: words that touch no other cannot be reached with the arrows.
void CWPuzzleWidget::moveToWord(int step)
{
    const QList<CWEntry *> words = wordsInReadingOrder();
    if (words.isEmpty())
        return;
    const qsizetype count = words.size();
    qsizetype at = words.indexOf(entryAtCursor());
    at = at < 0 ? (step > 0 ? 0 : count - 1) : (at + step + count) % count;
    const CWEntry *word = words.at(at);
    atX = word->x;
    atY = word->y;
    direction = word->direction == CWEntry::Horizontal ? CursorRight : CursorDown;
    cursorChanged();
}

void CWPuzzleWidget::keyPressEvent(QKeyEvent *event)
{
    if (atX < 0 || atY < 0) {
        QWidget::keyPressEvent(event);
        return;
    }
    int turn = -1;
    switch (event->key()) {
    case Qt::Key_Right:
        turn = CursorRight;
        break;
    case Qt::Key_Up:
        turn = CursorUp;
        break;
    case Qt::Key_Left:
        turn = CursorLeft;
        break;
    case Qt::Key_Down:
        turn = CursorDown;
        break;
    case Qt::Key_Backspace:
        erase();
        event->accept();
        return;
    case Qt::Key_PageDown:
    case Qt::Key_PageUp:
        moveToWord(event->key() == Qt::Key_PageDown ? 1 : -1);
        event->accept();
        return;
    case Qt::Key_F2:
        if (CWEntry *entry = entryAtCursor())
            ask(entry);
        event->accept();
        return;
    default:
        break;
    }
    if (turn >= 0) {
        if (direction != turn) {
            direction = turn;
            cursorChanged();
        } else if (isLetterCell(atX + stepX[turn], atY + stepY[turn])) {
            atX += stepX[turn];
            atY += stepY[turn];
            cursorChanged();
        }
        event->accept();
        return;
    }
    const QString text = event->text().toLower();
    // Keys such as Return, Tab, Escape and Delete carry a control character
    // as text; typed into a cell it could never be right nor be seen.
    if (text.length() == 1 && text.at(0).isPrint()) {
        type(text.at(0));
        event->accept();
    }
    QWidget::keyPressEvent(event);
}

void CWPuzzleWidget::type(QChar c)
{
    CWPuzzleCell &current = cellAt(atX, atY);
    if (!current.revealed)
        current.typed = c;
    if (current.typed != c)
        return;
    const int nextX = atX + stepX[direction];
    const int nextY = atY + stepY[direction];
    if (isLetterCell(nextX, nextY)) {
        atX = nextX;
        atY = nextY;
    }
    cursorChanged();
}

// As in other crossword programs: a letter under the cursor is cleared where
// it stands; on an empty cell the cursor steps back and clears the letter
// there. Revealed letters stay.
void CWPuzzleWidget::erase()
{
    CWPuzzleCell &current = cellAt(atX, atY);
    if (!current.revealed && current.typed != blank) {
        current.typed = blank;
        cursorChanged();
        return;
    }
    const int backX = atX - stepX[direction];
    const int backY = atY - stepY[direction];
    if (!isLetterCell(backX, backY))
        return;
    atX = backX;
    atY = backY;
    CWPuzzleCell &previous = cellAt(atX, atY);
    if (!previous.revealed)
        previous.typed = blank;
    cursorChanged();
}

void CWPuzzleWidget::checkAll()
{
    checked = true;
    const Options *options = store->options();
    const bool moveRates = options && options->puzzleAffectsRates;
    // Every entry is judged and recorded; its rate moves only with the
    // option set.
    QList<NivletCore::JudgedAnswer> answers;
    for (const CWEntry *entry : shown->entries) {
        const bool right = checkEntry(entry);
        Nivlet *nivlet = entry->nivlet;
        const double rate = !moveRates ? nivlet->knRate
                            : right    ? knRateAfterCorrect(nivlet->knRate)
                                       : knRateAfterIncorrect(nivlet->knRate);
        const AnswerHistory::Verdict verdict = entry->cheated ? AnswerHistory::Verdict::Cheated
                                               : right        ? AnswerHistory::Verdict::Right
                                                              : AnswerHistory::Verdict::Wrong;
        answers.append({nivlet, verdict, rate});
    }
    // One box for all entries: under a lasting lock a box for each would
    // keep the user clicking through dozens of them.
    if (!answers.isEmpty())
        store->recordAnswers(answers, AnswerHistory::Source::Crossword, moveRates);
    for (const NivletCore::JudgedAnswer &answer : std::as_const(answers))
        answer.nivlet->knRate = answer.rate;
    cursorChanged();
}

bool CWPuzzleWidget::checkEntry(const CWEntry *entry)
{
    bool right = false;
    if (entry->cheated) {
        ++cheated;
    } else {
        const int dx = entry->direction == CWEntry::Horizontal ? 1 : 0;
        const int dy = 1 - dx;
        right = true;
        for (int i = 0; i < entry->answer.length() && right; ++i) {
            const CWPuzzleCell &c = cell(entry->x + dx * i, entry->y + dy * i);
            right = c.typed == c.solution;
        }
        if (right)
            ++correct;
        else
            ++incorrect;
    }
    return right;
}

void CWPuzzleWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    // Qt 6 has no separate high-quality hint: its antialiasing is that one.
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    QFont font = letters;
    font.setPixelSize(scaled(letters.pixelSize()));
    painter.setFont(font);
    for (int y = 0; y < rows; ++y) {
        for (int x = 0; x < columns; ++x)
            paintCell(painter, x, y);
    }
    painter.setPen(colorSet.gridColor);
    for (int i = 0; i <= rows; ++i)
        painter.drawLine(0, side * i, side * columns, side * i);
    for (int i = 0; i <= columns; ++i)
        painter.drawLine(side * i, 0, side * i, side * rows);
}

void CWPuzzleWidget::paintCell(QPainter &painter, int x, int y)
{
    const int left = side * x;
    const int top = side * y;
    const CWPuzzleCell &c = cell(x, y);
    const bool letter = c.kind == CWPuzzleCell::LetterCell;
    const QColor &background =
        !letter ? colorSet.blackBackground
                : (c.revealed ? colorSet.revealedBackground : colorSet.letterBackground);
    painter.fillRect(left + 1, top + 1, side - 1, side - 1, background);
    // A rectangle given for a 24-pixel cell, in this cell.
    const auto rect = [&](int rx, int ry, int width, int height) {
        return QRect(left + scaled(rx), top + scaled(ry), scaled(rx + width) - scaled(rx),
                     scaled(ry + height) - scaled(ry));
    };

    if (x == atX && y == atY) {
        const QColor cursor = drawnColor(colorSet.cursorColor, background);
        painter.setPen(cursor);
        painter.setBrush(cursor);
        QPolygon corners;
        for (const QPoint &corner : cursorCorners[direction])
            corners << QPoint(left + scaled(corner.x()), top + scaled(corner.y()));
        painter.drawPolygon(corners);
    }

    if (!letter) {
        if (c.acrossEntry)
            painter.fillRect(rect(13, 3, 10, 8),
                             drawnColor(c.acrossEntry == hovered ? colorSet.hoveredMarkerColor
                                                                 : colorSet.markerColor,
                                        background));
        if (c.downEntry)
            painter.fillRect(rect(3, 13, 8, 10),
                             drawnColor(c.downEntry == hovered ? colorSet.hoveredMarkerColor
                                                               : colorSet.markerColor,
                                        background));
        return;
    }

    QChar letterShown;
    QColor color;
    if (!checked) {
        letterShown = c.typed;
        color = c.revealed ? colorSet.correctColor : colorSet.typedColor;
    } else {
        letterShown = c.solution;
        color = c.typed != c.solution ? colorSet.wrongColor : colorSet.correctColor;
    }
    if (letterShown == blank)
        return;
    const QString text(letterShown);
    const int advance = painter.fontMetrics().horizontalAdvance(text);
    painter.setPen(drawnColor(color, background));
    painter.drawText(left + scaled(12) - advance / 2, top + scaled(17), text);
}
