#ifndef CWPUZZLEWIDGET_H
#define CWPUZZLEWIDGET_H

#include <QColor>
#include <QFont>
#include <QWidget>

class NivletCore;
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
// the knowledge rates through the store.
class CWPuzzleWidget : public QWidget
{
    Q_OBJECT

public:
    enum CursorDirection { CursorRight = 0, CursorUp = 1, CursorLeft = 2, CursorDown = 3 };

    CWPuzzleWidget(CWPuzzle *shown, NivletCore *store);
    ~CWPuzzleWidget() override;

    // The grid with its last lines.
    QSize sizeHint() const override;
    void checkAll();
    bool isLetterCell(int x, int y) const;
    void setCursor(int x, int y);
    void reveal(CWEntry *entry);
    CWPuzzleCell &cell(int x, int y) const { return cells[x + y * width]; }
    static QString clueText(const Nivlet *nivlet);

    NivletCore *core;
    CWPuzzle *puzzle;
    int width;
    int height;
    CWPuzzleCell *cells;
    int cursorX;
    int cursorY;
    int cursorDirection;
    CWEntry *hoveredEntry;
    bool checked;
    int correctCount;
    int incorrectCount;
    int cheatedCount;

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
    QFont letterFont;

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void detectHover(const QPointF &position, const QPointF &globalPosition);
    void ask(CWEntry *entry);
    void type(QChar c);
    void erase();
    bool checkEntry(const CWEntry *entry);
    void paintCell(QPainter &painter, int x, int y);
};

#endif
