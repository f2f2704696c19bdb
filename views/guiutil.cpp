#include "guiutil.h"

#include <QFont>
#include <QGridLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QWidget>

#include <algorithm>

void GuiUtil::placeLabeled(QGridLayout *grid, QWidget *widget, const char *caption, int row,
                           int column, int span)
{
    auto *label = new QLabel(QString::fromUtf8(caption));
    grid->addWidget(label, row, column, 1, 1, Qt::AlignRight);
    grid->addWidget(widget, row, column + 1, 1, span);
}

void GuiUtil::fixWidth(QWidget *widget, int width)
{
    widget->setMinimumWidth(width);
    widget->setMaximumWidth(width);
}

void GuiUtil::fixButtonWidth(QPushButton *button, int width)
{
    fixWidth(button, std::max(width, neededButtonWidth(button)));
}

QPushButton *GuiUtil::button(const char *text, int width)
{
    auto *made = new QPushButton(QString::fromUtf8(text));
    fixButtonWidth(made, width);
    return made;
}

QPushButton *GuiUtil::iconButton(const char *icon, const char *text, int width)
{
    auto *made = new QPushButton(QIcon(QString::fromLatin1(icon)), QString::fromUtf8(text));
    fixButtonWidth(made, width);
    return made;
}

int GuiUtil::neededButtonWidth(QPushButton *button)
{
    // Measured as the button measures its own size hint, from its icon, its
    // text and the style's margins, but without the smallest width the style
    // gives every button with a text (80 pixels in Fusion): that minimum is
    // what the given widths are below on purpose.
    button->ensurePolished();
    QStyleOptionButton option;
    option.initFrom(button);
    option.features = QStyleOptionButton::None;
    if (button->isFlat())
        option.features |= QStyleOptionButton::Flat;
    if (button->autoDefault())
        option.features |= QStyleOptionButton::AutoDefaultButton;
    if (button->isDefault())
        option.features |= QStyleOptionButton::DefaultButton;
    option.icon = button->icon();
    option.iconSize = button->iconSize();
    int width = 0;
    int height = 0;
    if (!option.icon.isNull()) {
        // The gap between icon and text is the push button's own.
        width += option.iconSize.width() + 4;
        height = option.iconSize.height();
    }
    const QSize text = button->fontMetrics().size(Qt::TextShowMnemonic, button->text());
    width += text.width();
    height = std::max(height, text.height());
    option.rect.setSize(QSize(width, height));
    // The style keeps its minimum for buttons with a text only.
    return button->style()
        ->sizeFromContents(QStyle::CT_PushButton, &option, QSize(width, height), button)
        .width();
}

void GuiUtil::enlargeFont(QWidget *widget, int points)
{
    const QFont old = widget->font();
    const int weight = old.weight() > QFont::Normal ? QFont::Bold : QFont::Normal;
    if (old.pointSize() > 0) {
        widget->setFont(QFont(old.family(), old.pointSize() + points, weight, false));
        return;
    }
    // A pixel-sized font has no point size to raise; its pixel size grows instead.
    QFont font(old.family(), -1, weight, false);
    font.setPixelSize(old.pixelSize() + points);
    widget->setFont(font);
}

QString GuiUtil::colorToHex(const QString &format, const QColor &color)
{
    const QLatin1Char zero('0');
    return format.arg(color.red(), 2, 16, zero)
        .arg(color.green(), 2, 16, zero)
        .arg(color.blue(), 2, 16, zero);
}

QLabel *GuiUtil::coloredLabel(const QString &text, const QColor &color, bool bold)
{
    const QString open = bold ? QStringLiteral("<b>") : QString();
    const QString close = bold ? QStringLiteral("</b>") : QString();
    const QString withColor =
        colorToHex(QStringLiteral("%1<font color=\"#%2%3%4\">%5</font>%6").arg(open), color);
    return new QLabel(withColor.arg(text).arg(close));
}

QLabel *GuiUtil::coloredLabelWithBackground(const QString &text, const QColor &color, bool bold,
                                            const QColor &background)
{
    QLabel *label = coloredLabel(text, color, bold);
    label->setStyleSheet(colorToHex(QStringLiteral("background-color: #%1%2%3"), background));
    return label;
}
