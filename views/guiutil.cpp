#include "guiutil.h"

#include <QFont>
#include <QGridLayout>
#include <QIcon>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionFrame>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace {
// WCAG's relative luminance: the sRGB components made linear and weighed as
// the eye sees them.
double luminance(const QColor &color)
{
    const auto linear = [](double c) {
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(color.redF()) + 0.7152 * linear(color.greenF()) +
           0.0722 * linear(color.blueF());
}
} // namespace

void GuiUtil::placeLabeled(QGridLayout *grid, QWidget *widget, const char *caption, int row,
                           int column, int span)
{
    auto *label = new QLabel(QString::fromUtf8(caption));
    // A screen reader names the field after its caption.
    label->setBuddy(widget);
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

void GuiUtil::fixFieldWidth(QLineEdit *field, int width, const QString &longest)
{
    fixWidth(field, std::max(width, neededFieldWidth(field, longest)));
}

int GuiUtil::neededFieldWidth(QLineEdit *field, const QString &text)
{
    // As the field measures its own size hint: the text, the field's inner
    // margins of 2 pixels a side and room for the cursor behind the last
    // character, then the style's frame around them.
    field->ensurePolished();
    const QMargins margins = field->textMargins();
    const QFontMetrics metrics = field->fontMetrics();
    const int width =
        metrics.horizontalAdvance(text) + 2 * 2 + 1 + margins.left() + margins.right();
    const int height = metrics.height() + margins.top() + margins.bottom();
    QStyleOptionFrame option;
    option.initFrom(field);
    option.rect = field->contentsRect();
    option.lineWidth = field->hasFrame() ? field->style()->pixelMetric(QStyle::PM_DefaultFrameWidth,
                                                                       &option, field)
                                         : 0;
    option.midLineWidth = 0;
    option.state |= QStyle::State_Sunken;
    option.features = QStyleOptionFrame::None;
    return field->style()
        ->sizeFromContents(QStyle::CT_LineEdit, &option, QSize(width, height), field)
        .width();
}

QLabel *GuiUtil::headerLabel(const char *resource)
{
    const QString path = QString::fromLatin1(resource);
    auto *label = new QLabel;
    label->setAccessibleName(QStringLiteral("nivlets: learn what you know least"));
    // The icon takes the @2x file beside the picture when the screen's pixel
    // density asks for it, and hands the picture at its own size otherwise.
    label->setPixmap(QIcon(path).pixmap(QImageReader(path).size(), label->devicePixelRatioF()));
    return label;
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

QString GuiUtil::coloredText(const QString &text, const QColor &color, bool bold)
{
    const QString open = bold ? QStringLiteral("<b>") : QString();
    const QString close = bold ? QStringLiteral("</b>") : QString();
    const QString withColor =
        colorToHex(QStringLiteral("%1<font color=\"#%2%3%4\">%5</font>%6").arg(open), color);
    return withColor.arg(text).arg(close);
}

QLabel *GuiUtil::coloredLabel(const QString &text, const QColor &color, bool bold)
{
    return new QLabel(coloredText(text, color, bold));
}

QLabel *GuiUtil::coloredLabelWithBackground(const QString &text, const QColor &color, bool bold,
                                            const QColor &background)
{
    QLabel *label = coloredLabel(text, color, bold);
    label->setStyleSheet(colorToHex(QStringLiteral("background-color: #%1%2%3"), background));
    return label;
}

QLabel *GuiUtil::readableColoredLabel(const QString &text, const QColor &color, bool bold)
{
    auto *label = new QLabel;
    // A label fills no background of its own: the window's shows through.
    const QColor background = label->palette().color(QPalette::Window);
    label->setText(coloredText(text, readableColor(color, background), bold));
    return label;
}

QLabel *GuiUtil::readableColoredLabelWithBackground(const QString &text, const QColor &color,
                                                    bool bold, const QColor &background)
{
    return coloredLabelWithBackground(text, readableColor(color, background), bold, background);
}

double GuiUtil::contrastRatio(const QColor &a, const QColor &b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor GuiUtil::readableColor(const QColor &color, const QColor &background, double ratio)
{
    if (contrastRatio(color, background) >= ratio)
        return color;
    // Along the lightness of the colour's hue and saturation, towards black
    // and towards white, the first shade that reaches the ratio; of the two
    // the nearer one. Black or white reaches 4.58:1 on any background.
    const int hue = color.hslHue();
    const int saturation = color.hslSaturation();
    const int lightness = color.lightness();
    QColor nearest;
    int distance = 256;
    for (const int step : {-1, 1}) {
        for (int l = lightness + step; l >= 0 && l <= 255; l += step) {
            // In whole 8-bit components, as it is drawn and compared.
            const QColor shade(QColor::fromHsl(hue, saturation, l).rgb());
            if (contrastRatio(shade, background) >= ratio) {
                if (std::abs(l - lightness) < distance) {
                    distance = std::abs(l - lightness);
                    nearest = shade;
                }
                break;
            }
        }
    }
    if (nearest.isValid())
        return nearest;
    return contrastRatio(Qt::black, background) > contrastRatio(Qt::white, background)
               ? QColor(Qt::black)
               : QColor(Qt::white);
}
