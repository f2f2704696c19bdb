#include "cwpuzzlewidget.h"

#include "cwpuzzle.h"
#include "cwquestiondialog.h"
#include "knrate.h"
#include "nivlet.h"
#include "nivletcore.h"
#include "options.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>
#include <QTextDocument>
#include <QToolTip>

namespace {
const int cellSize = 24;
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
} // namespace

CWPuzzleWidget::CWPuzzleWidget(CWPuzzle *shown, NivletCore *store)
    : QWidget(nullptr), core(store), puzzle(shown), width(shown->width), height(shown->height),
      cells(new CWPuzzleCell[shown->width * shown->height]), cursorX(-1), cursorY(-1),
      cursorDirection(CursorRight), hoveredEntry(nullptr), checked(false), correctCount(0),
      incorrectCount(0), cheatedCount(0), letterBackground(255, 255, 255),
      revealedBackground(205, 205, 205), cursorColor(0, 166, 237), gridColor(128, 128, 128),
      blackBackground(0, 0, 0), typedColor(64, 64, 64), correctColor(32, 180, 32),
      wrongColor(180, 32, 32), markerColor(0, 166, 237), hoveredMarkerColor(200, 120, 50),
      letterFont(QStringLiteral("Verdana"))
{
    letterFont.setPixelSize(15);
    letterFont.setWeight(QFont::Bold);

    for (CWEntry *entry : puzzle->entries) {
        const int dx = entry->direction == CWEntry::Horizontal ? 1 : 0;
        const int dy = 1 - dx;
        CWPuzzleCell &front = cell(entry->x - dx, entry->y - dy);
        if (entry->direction == CWEntry::Horizontal)
            front.acrossEntry = entry;
        else
            front.downEntry = entry;
        for (int i = 0; i < entry->answer.length(); ++i) {
            CWPuzzleCell &c = cell(entry->x + dx * i, entry->y + dy * i);
            c.kind = CWPuzzleCell::LetterCell;
            c.typed = blank;
            c.solution = entry->answer.at(i);
        }
    }

    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
}

CWPuzzleWidget::~CWPuzzleWidget()
{
    delete[] cells;
}

QString CWPuzzleWidget::clueText(const Nivlet *nivlet)
{
    if (nivlet->question.length() > clueLength)
        return QStringLiteral("%1...").arg(nivlet->question.left(clueLength - 3));
    return nivlet->question;
}

QSize CWPuzzleWidget::sizeHint() const
{
    return QSize(cellSize * width + 1, cellSize * height + 1);
}

bool CWPuzzleWidget::isLetterCell(int x, int y) const
{
    return x >= 0 && x < width && y >= 0 && y < height &&
           cell(x, y).kind == CWPuzzleCell::LetterCell;
}

void CWPuzzleWidget::setCursor(int x, int y)
{
    cursorX = x;
    cursorY = y;
    if (isLetterCell(x + 1, y))
        cursorDirection = CursorRight;
    else if (isLetterCell(x, y + 1))
        cursorDirection = CursorDown;
    else if (isLetterCell(x - 1, y))
        cursorDirection = CursorLeft;
    else if (isLetterCell(x, y - 1))
        cursorDirection = CursorUp;
    else
        cursorDirection = CursorRight;
    update();
}

void CWPuzzleWidget::mousePressEvent(QMouseEvent *event)
{
    const QPointF position = event->position();
    if (position.x() < 0 || position.y() < 0)
        return;
    const int x = int(position.x()) / cellSize;
    const int y = int(position.y()) / cellSize;
    if (x >= width || y >= height)
        return;
    if (cell(x, y).kind == CWPuzzleCell::LetterCell) {
        if (x != cursorX || y != cursorY)
            setCursor(x, y);
        return;
    }
    detectHover(position, event->globalPosition());
    if (CWEntry *entry = hoveredEntry) {
        hoveredEntry = nullptr;
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
    CWEntry *old = hoveredEntry;
    hoveredEntry = nullptr;
    if (position.x() >= 0 && position.y() >= 0) {
        const int px = int(position.x());
        const int py = int(position.y());
        const int x = px / cellSize;
        const int y = py / cellSize;
        if (x < width && y < height && cell(x, y).kind == CWPuzzleCell::BlackCell) {
            const int inX = px - x * cellSize;
            const int inY = py - y * cellSize;
            if (inX >= 14 && inX <= 22 && inY >= 4 && inY <= 10)
                hoveredEntry = cell(x, y).acrossEntry;
            if (inX >= 4 && inX <= 10 && inY >= 14 && inY <= 22)
                hoveredEntry = cell(x, y).downEntry;
        }
    }
    if (hoveredEntry == old)
        return;
    const QPoint global = globalPosition.toPoint();
    if (!hoveredEntry) {
        QToolTip::showText(global, QString());
    } else {
        // Questions are the user's text, never markup: the tip shows them as typed.
        QToolTip::showText(global, Qt::convertFromPlainText(clueText(hoveredEntry->nivlet)), this);
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
        CWPuzzleCell &c = cell(entry->x + dx * i, entry->y + dy * i);
        c.revealed = true;
        c.typed = c.solution;
    }
    update();
}

void CWPuzzleWidget::keyPressEvent(QKeyEvent *event)
{
    if (cursorX < 0 || cursorY < 0) {
        QWidget::keyPressEvent(event);
        return;
    }
    int direction = -1;
    switch (event->key()) {
    case Qt::Key_Right:
        direction = CursorRight;
        break;
    case Qt::Key_Up:
        direction = CursorUp;
        break;
    case Qt::Key_Left:
        direction = CursorLeft;
        break;
    case Qt::Key_Down:
        direction = CursorDown;
        break;
    case Qt::Key_Backspace:
        erase();
        event->accept();
        return;
    default:
        break;
    }
    if (direction >= 0) {
        if (cursorDirection != direction) {
            cursorDirection = direction;
            update();
        } else if (isLetterCell(cursorX + stepX[direction], cursorY + stepY[direction])) {
            cursorX += stepX[direction];
            cursorY += stepY[direction];
            update();
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
    CWPuzzleCell &current = cell(cursorX, cursorY);
    if (!current.revealed)
        current.typed = c;
    if (current.typed != c)
        return;
    const int nextX = cursorX + stepX[cursorDirection];
    const int nextY = cursorY + stepY[cursorDirection];
    if (isLetterCell(nextX, nextY)) {
        cursorX = nextX;
        cursorY = nextY;
    }
    update();
}

// As in other crossword programs: a letter under the cursor is cleared where
// it stands; on an empty cell the cursor steps back and clears the letter
// there. Revealed letters stay.
void CWPuzzleWidget::erase()
{
    CWPuzzleCell &current = cell(cursorX, cursorY);
    if (!current.revealed && current.typed != blank) {
        current.typed = blank;
        update();
        return;
    }
    const int backX = cursorX - stepX[cursorDirection];
    const int backY = cursorY - stepY[cursorDirection];
    if (!isLetterCell(backX, backY))
        return;
    cursorX = backX;
    cursorY = backY;
    CWPuzzleCell &previous = cell(cursorX, cursorY);
    if (!previous.revealed)
        previous.typed = blank;
    update();
}

void CWPuzzleWidget::checkAll()
{
    checked = true;
    const Options *options = core->options();
    const bool moveRates = options && options->puzzleAffectsRates;
    QList<NivletCore::RateChange> changes;
    for (const CWEntry *entry : puzzle->entries) {
        const bool right = checkEntry(entry);
        if (!moveRates)
            continue;
        Nivlet *nivlet = entry->nivlet;
        const double rate =
            right ? knRateAfterCorrect(nivlet->knRate) : knRateAfterIncorrect(nivlet->knRate);
        changes.append({nivlet->id, rate});
        nivlet->knRate = rate;
    }
    // One box for all entries: under a lasting lock a box for each would
    // keep the user clicking through dozens of them.
    if (!changes.isEmpty())
        core->setKnowledgeRates(changes);
    update();
}

bool CWPuzzleWidget::checkEntry(const CWEntry *entry)
{
    bool right = false;
    if (entry->cheated) {
        ++cheatedCount;
    } else {
        const int dx = entry->direction == CWEntry::Horizontal ? 1 : 0;
        const int dy = 1 - dx;
        right = true;
        for (int i = 0; i < entry->answer.length() && right; ++i) {
            const CWPuzzleCell &c = cell(entry->x + dx * i, entry->y + dy * i);
            right = c.typed == c.solution;
        }
        if (right)
            ++correctCount;
        else
            ++incorrectCount;
    }
    return right;
}

void CWPuzzleWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    // Qt 6 has no separate high-quality hint: its antialiasing is that one.
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    painter.setFont(letterFont);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            paintCell(painter, x, y);
    }
    painter.setPen(gridColor);
    for (int i = 0; i <= height; ++i)
        painter.drawLine(0, cellSize * i, cellSize * width, cellSize * i);
    for (int i = 0; i <= width; ++i)
        painter.drawLine(cellSize * i, 0, cellSize * i, cellSize * height);
}

void CWPuzzleWidget::paintCell(QPainter &painter, int x, int y)
{
    const int left = cellSize * x;
    const int top = cellSize * y;
    const CWPuzzleCell &c = cell(x, y);
    const bool letter = c.kind == CWPuzzleCell::LetterCell;
    const QColor &background =
        !letter ? blackBackground : (c.revealed ? revealedBackground : letterBackground);
    painter.fillRect(left + 1, top + 1, 23, 23, background);

    if (x == cursorX && y == cursorY) {
        painter.setPen(cursorColor);
        painter.setBrush(cursorColor);
        painter.drawPolygon(
            QPolygon({cursorCorners[cursorDirection][0], cursorCorners[cursorDirection][1],
                      cursorCorners[cursorDirection][2]})
                .translated(left, top));
    }

    if (!letter) {
        if (c.acrossEntry)
            painter.fillRect(left + 13, top + 3, 10, 8,
                             c.acrossEntry == hoveredEntry ? hoveredMarkerColor : markerColor);
        if (c.downEntry)
            painter.fillRect(left + 3, top + 13, 8, 10,
                             c.downEntry == hoveredEntry ? hoveredMarkerColor : markerColor);
        return;
    }

    QChar shown;
    QColor color;
    if (!checked) {
        shown = c.typed;
        color = c.revealed ? correctColor : typedColor;
    } else {
        shown = c.solution;
        color = c.typed != c.solution ? wrongColor : correctColor;
    }
    if (shown == blank)
        return;
    const QString text(shown);
    painter.setPen(color);
    const int advance = painter.fontMetrics().horizontalAdvance(text);
    painter.drawText(left + 12 - advance / 2, top + 17, text);
}
