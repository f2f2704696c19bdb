#ifndef GUIUTIL_H
#define GUIUTIL_H

#include <QColor>
#include <QObject>
#include <QString>

class QGridLayout;
class QLabel;
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
    static void enlargeFont(QWidget *widget, int points);
    static QString colorToHex(const QString &format, const QColor &color);
    static QLabel *coloredLabel(const QString &text, const QColor &color, bool bold);
    static QLabel *coloredLabelWithBackground(const QString &text, const QColor &color, bool bold,
                                              const QColor &background);

private:
    static void placeLabeled(QGridLayout *grid, QWidget *widget, const char *caption, int row,
                             int column, int span);
};

#endif
