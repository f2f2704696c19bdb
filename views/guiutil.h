#ifndef GUIUTIL_H
#define GUIUTIL_H

#include <QColor>
#include <QObject>
#include <QString>

class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

// The common look of every window built in code: captions right-aligned in
// front of their fields, fixed widths, colours as six hexadecimal digits.
class GuiUtil : public QObject
{
    Q_OBJECT

public:
    // Returns the widget with its own type, so that a caller can keep it in a
    // member in the same statement.
    template <typename W>
    static W *addLabeledWidget(QGridLayout *grid, W *widget, const char *caption, int row,
                               int column, int span)
    {
        placeLabeled(grid, widget, caption, row, column, span);
        return widget;
    }

    // Names a window's part for whoever looks it up among the window's
    // children; returns it with its own type, as addLabeledWidget does.
    template <typename T> static T *named(T *object, const char *name)
    {
        object->setObjectName(QString::fromLatin1(name));
        return object;
    }

    static void fixWidth(QWidget *widget, int width);
    // The given width, or more when the button's own text and icon need it.
    static void fixButtonWidth(QPushButton *button, int width);
    // A button of a fixed width as fixButtonWidth gives it; the icon is a
    // resource path.
    static QPushButton *button(const char *text, int width);
    static QPushButton *iconButton(const char *icon, const char *text, int width);
    static int neededButtonWidth(QPushButton *button);
    // The given width, or more when the field's font needs it to show the
    // longest text it is meant for whole, with its frame.
    static void fixFieldWidth(QLineEdit *field, int width, const QString &longest);
    static int neededFieldWidth(QLineEdit *field, const QString &text);
    // A label showing a header picture of the resources at the pixel density
    // of the screen: <name>@2x.png where the screen asks for it. A screen
    // reader reads what the picture shows.
    static QLabel *headerLabel(const char *resource);
    static void enlargeFont(QWidget *widget, int points);
    static QString colorToHex(const QString &format, const QColor &color);
    static QLabel *coloredLabel(const QString &text, const QColor &color, bool bold);
    static QLabel *coloredLabelWithBackground(const QString &text, const QColor &color, bool bold,
                                              const QColor &background);
    // The same in the colour's nearest shade that can be read on the
    // background the label stands on: the window's, or the one given.
    static QLabel *readableColoredLabel(const QString &text, const QColor &color, bool bold);
    static QLabel *readableColoredLabelWithBackground(const QString &text, const QColor &color,
                                                      bool bold, const QColor &background);

    // What text needs against its background to be read (WCAG's level AA).
    static constexpr double minimumContrast = 4.5;
    // WCAG's contrast ratio of two colours, from 1 (the same) to 21 (black and white).
    static double contrastRatio(const QColor &a, const QColor &b);
    // The colour itself where it reaches the ratio against the background,
    // else the shade of its hue nearest to it that does: darker on a light
    // background, lighter on a dark one.
    static QColor readableColor(const QColor &color, const QColor &background,
                                double ratio = minimumContrast);

private:
    static QString coloredText(const QString &text, const QColor &color, bool bold);
    static void placeLabeled(QGridLayout *grid, QWidget *widget, const char *caption, int row,
                             int column, int span);
};

#endif
