#ifndef CWPUZZLEWIDGET_H
#define CWPUZZLEWIDGET_H

#include <QColor>
#include <QFont>
#include <QList>
#include <QWidget>

#include <vector>

class NivletCore;
class QPainter;
struct CWEntry;
struct CWPuzzle;
struct Nivlet;

struct CWPuzzleCell
{
    enum Kind { BlackCell = 0, LetterCell = 1 };

    int kind = BlackCell;
    CWEntry *acrossEntry = nullptr;
    CWEntry *downEntry = nullptr;
    QChar solution;
    QChar typed;
    bool revealed = false;
};

// Shows a crossword as an arrow-word grid of 24-pixel cells and lets the user
// solve it: a click on a letter cell places the typing cursor, a click on a
// word's marker asks its question, and the check scores every word and moves
// the knowledge rates through the store. Everything works from the keyboard
// as well, and a screen reader is told the cell under the cursor.
class CWPuzzleWidget : public QWidget
{
    Q_OBJECT

public:
    enum CursorDirection { CursorRight = 0, CursorUp = 1, CursorLeft = 2, CursorDown = 3 };

    // The grid's colours, as the puzzle is meant to look. Where one of them
    // does not read on the cell it is drawn on, a shade of it is drawn
    // (drawnColor).
    struct Colors
    {
        QColor letterBackground;
        QColor revealedBackground;
        QColor cursorColor;
        QColor gridColor;
        QColor blackBackground;
        QColor typedColor;
        QColor correctColor;
        QColor wrongColor;
        QColor markerColor;
        QColor hoveredMarkerColor;
    };

    CWPuzzleWidget(CWPuzzle *puzzle, NivletCore *core);
    ~CWPuzzleWidget() override;

    // The grid with its last lines.
    QSize sizeHint() const override;
    void checkAll();
    bool isLetterCell(int x, int y) const;
    void setCursor(int x, int y);
    void reveal(CWEntry *entry);
    const CWPuzzleCell &cell(int x, int y) const { return cells[index(x, y)]; }
    static QString clueText(const Nivlet *nivlet);

    NivletCore *core() const { return store; }
    CWPuzzle *puzzle() const { return shown; }
    int columnCount() const { return columns; }
    int rowCount() const { return rows; }
    // -1, -1 while there is no cursor.
    int cursorX() const { return atX; }
    int cursorY() const { return atY; }
    int cursorDirection() const { return direction; }
    // The word whose marker is under the mouse, or null.
    CWEntry *hoveredEntry() const { return hovered; }
    bool isChecked() const { return checked; }
    int correctCount() const { return correct; }
    int incorrectCount() const { return incorrect; }
    int cheatedCount() const { return cheated; }
    const Colors &colors() const { return colorSet; }
    const QFont &letterFont() const { return letters; }

    // The side of a cell: 24 pixels, more where the user's font is larger
    // than the letters, which then grow to its size.
    int cellSize() const { return side; }
    // The colour as it is drawn on the background: itself where it reads
    // there, else its nearest shade that does.
    static QColor drawnColor(const QColor &color, const QColor &background);
    // The word through the cursor cell, in the cursor's direction where
    // there is one that way; null without a cursor.
    CWEntry *entryAtCursor() const;
    // What a screen reader says of the cursor cell: where it is, what it
    // holds and the clue of its word.
    QString cursorDescription() const;
    static QString keyHelp();

protected:
    bool event(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    int index(int x, int y) const { return x + y * columns; }
    CWPuzzleCell &cellAt(int x, int y) { return cells[index(x, y)]; }
    // A length given for a 24-pixel cell, in pixels of the cell drawn.
    int scaled(int length) const;
    void fitCellSize();
    void detectHover(const QPointF &position, const QPointF &globalPosition);
    void ask(CWEntry *entry);
    void type(QChar c);
    void erase();
    void moveToWord(int step);
    QList<CWEntry *> wordsInReadingOrder() const;
    bool checkEntry(const CWEntry *entry);
    void paintCell(QPainter &painter, int x, int y);
    // Repaints and tells a screen reader that the cursor cell has changed.
    void cursorChanged();

    NivletCore *store;
    CWPuzzle *shown;
    int columns;
    int rows;
    std::vector<CWPuzzleCell> cells;
    int atX;
    int atY;
    int direction;
    CWEntry *hovered;
    bool checked;
    int correct;
    int incorrect;
    int cheated;
    Colors colorSet;
    QFont letters;
    int side;
};

#endif
