#include "guiutil.h"

#include <QFont>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QTest>
#include <QWidget>

#include <algorithm>
#include <memory>

class TestGuiUtil : public QObject
{
    Q_OBJECT

private slots:
    void fixWidthHoldsWhenTheWindowIsResized();
    void fixWidthLeavesTheHeight();
    void buttonKeepsAWidthItsTextFits();
    void buttonWidensForALongText();
    void buttonWidensForALargerFont();
    void buttonWidthCountsTheIcon();
    void buttonHelpersFixTheWidth();
    void iconButtonTakesItsIconFromTheResources();
    void namedNamesAndKeepsTheType();
    void addLabeledWidgetPlacesCaptionAndWidget();
    void addLabeledWidgetKeepsTheWidgetType();
    void enlargeFontKeepsBold();
    void enlargeFontKeepsNormal();
    void enlargeFontMapsWeights_data();
    void enlargeFontMapsWeights();
    void enlargeFontDropsOtherAttributes();
    void enlargeFontOnPixelSizedFont();
    void colorToHex_data();
    void colorToHex();
    void colorToHexReplacesEveryLowestPlaceholder();
    void coloredLabelPlain();
    void coloredLabelBold();
    void coloredLabelKeepsMarkupInText();
    void coloredLabelTextTakesPartInLaterReplacement();
    void coloredLabelWithBackgroundSetsOnlyTheBackground();
};

void TestGuiUtil::fixWidthHoldsWhenTheWindowIsResized()
{
    QWidget window;
    auto *row = new QHBoxLayout(&window);
    auto *button = new QPushButton(QStringLiteral("&Button"));
    GuiUtil::fixWidth(button, 100);
    row->addWidget(button);
    row->addWidget(new QLineEdit);
    QCOMPARE(button->minimumWidth(), 100);
    QCOMPARE(button->maximumWidth(), 100);
    window.resize(800, 200);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_COMPARE(button->width(), 100);
    window.resize(300, 200);
    QTRY_COMPARE(window.width(), 300);
    QCOMPARE(button->width(), 100);
    window.resize(1200, 600);
    QTRY_COMPARE(window.width(), 1200);
    QCOMPARE(button->width(), 100);
}

void TestGuiUtil::fixWidthLeavesTheHeight()
{
    QPushButton button(QStringLiteral("Wide"));
    const int minimumHeight = button.minimumHeight();
    const int maximumHeight = button.maximumHeight();
    GuiUtil::fixWidth(&button, 170);
    QCOMPARE(button.minimumWidth(), 170);
    QCOMPARE(button.maximumWidth(), 170);
    QCOMPARE(button.minimumHeight(), minimumHeight);
    QCOMPARE(button.maximumHeight(), maximumHeight);
    QCOMPARE(button.maximumHeight(), QWIDGETSIZE_MAX);
}

namespace {
QIcon icon16()
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::darkGreen);
    return QIcon(pixmap);
}

int textWidth(const QPushButton &button)
{
    return button.fontMetrics().size(Qt::TextShowMnemonic, button.text()).width();
}

// What a button needs around its text: its size hint less the text, read
// where the text is long enough that the style's smallest width plays no part.
int margins(const QFont &font)
{
    QPushButton wide(QStringLiteral("A text far wider than any smallest width"));
    wide.setFont(font);
    return wide.sizeHint().width() - textWidth(wide);
}
} // namespace

void TestGuiUtil::buttonKeepsAWidthItsTextFits()
{
    QPushButton button(QStringLiteral("&Ok"));
    // The style alone would make it wider than asked.
    QVERIFY2(button.sizeHint().width() > 50,
             qPrintable(QString::number(button.sizeHint().width())));
    QVERIFY(textWidth(button) + margins(button.font()) <= 50);
    GuiUtil::fixButtonWidth(&button, 50);
    QCOMPARE(button.minimumWidth(), 50);
    QCOMPARE(button.maximumWidth(), 50);
    QCOMPARE(GuiUtil::neededButtonWidth(&button), textWidth(button) + margins(button.font()));
}

void TestGuiUtil::buttonWidensForALongText()
{
    QPushButton button(QStringLiteral("I really don't know, tell me please!"));
    GuiUtil::fixButtonWidth(&button, 50);
    const int needed = textWidth(button) + margins(button.font());
    QVERIFY(needed > 80);
    QCOMPARE(button.minimumWidth(), needed);
    QCOMPARE(button.maximumWidth(), needed);
    QCOMPARE(needed, button.sizeHint().width());
}

void TestGuiUtil::buttonWidensForALargerFont()
{
    QPushButton button(QStringLiteral("&Ok"));
    QFont font = button.font();
    font.setPointSize(font.pointSize() * 3);
    button.setFont(font);
    GuiUtil::fixButtonWidth(&button, 50);
    const int needed = textWidth(button) + margins(font);
    QVERIFY2(needed > 50, qPrintable(QString::number(needed)));
    QCOMPARE(button.minimumWidth(), needed);
    QCOMPARE(button.maximumWidth(), needed);
}

void TestGuiUtil::buttonWidthCountsTheIcon()
{
    QPushButton plain(QStringLiteral("E&xit"));
    QPushButton withIcon(icon16(), QStringLiteral("E&xit"));
    const int plainWidth = GuiUtil::neededButtonWidth(&plain);
    QCOMPARE(plainWidth, textWidth(plain) + margins(plain.font()));
    // The push button's own gap of 4 pixels stands between icon and text.
    QCOMPARE(GuiUtil::neededButtonWidth(&withIcon), plainWidth + withIcon.iconSize().width() + 4);
    GuiUtil::fixButtonWidth(&withIcon, 100);
    QCOMPARE(withIcon.minimumWidth(), 100);
    QCOMPARE(withIcon.maximumWidth(), 100);
}

// The one way every window makes its buttons: the given width, or the width
// the text needs when it is longer.
void TestGuiUtil::buttonHelpersFixTheWidth()
{
    const std::unique_ptr<QPushButton> ok(GuiUtil::button("&Ok", 50));
    QCOMPARE(ok->text(), QStringLiteral("&Ok"));
    QVERIFY(ok->icon().isNull());
    QCOMPARE(ok->minimumWidth(), 50);
    QCOMPARE(ok->maximumWidth(), 50);
    const std::unique_ptr<QPushButton> plea(
        GuiUtil::button("I really don't know, tell me please!", 50));
    const int needed = textWidth(*plea) + margins(plea->font());
    QCOMPARE(plea->minimumWidth(), needed);
    QCOMPARE(plea->maximumWidth(), needed);

    const std::unique_ptr<QPushButton> reset(
        GuiUtil::iconButton(":/asterisk_orange.png", "&Reset", 75));
    QCOMPARE(reset->text(), QStringLiteral("&Reset"));
    QCOMPARE(reset->minimumWidth(), std::max(75, GuiUtil::neededButtonWidth(reset.get())));
    QCOMPARE(reset->maximumWidth(), reset->minimumWidth());
    const std::unique_ptr<QPushButton> wide(
        GuiUtil::iconButton(":/hand_point.png", "Hey, my answer is good!...", 50));
    QCOMPARE(wide->minimumWidth(),
             textWidth(*wide) + margins(wide->font()) + wide->iconSize().width() + 4);
    QCOMPARE(wide->maximumWidth(), wide->minimumWidth());
}

void TestGuiUtil::iconButtonTakesItsIconFromTheResources()
{
    const std::unique_ptr<QPushButton> button(
        GuiUtil::iconButton(":/accept.png", "&Check it!", 110));
    QVERIFY(!button->icon().pixmap(16, 16).isNull());
    QCOMPARE(button->icon().pixmap(16, 16).toImage(),
             QIcon(QStringLiteral(":/accept.png")).pixmap(16, 16).toImage());
}

void TestGuiUtil::namedNamesAndKeepsTheType()
{
    QWidget window;
    QLineEdit *edit = GuiUtil::named(new QLineEdit(&window), "questionEdit");
    QCOMPARE(edit->objectName(), QStringLiteral("questionEdit"));
    QCOMPARE(window.findChild<QLineEdit *>(QStringLiteral("questionEdit")), edit);
}

void TestGuiUtil::addLabeledWidgetPlacesCaptionAndWidget()
{
    QWidget window;
    auto *grid = new QGridLayout(&window);
    auto *edit = new QLineEdit;
    QWidget *returned = GuiUtil::addLabeledWidget(grid, edit,
                                                  "Gr\xc3\xb6\xc3\x9f"
                                                  "e:",
                                                  1, 0, 4);
    QCOMPARE(returned, edit);

    QLayoutItem *captionItem = grid->itemAtPosition(1, 0);
    QVERIFY(captionItem);
    auto *caption = qobject_cast<QLabel *>(captionItem->widget());
    QVERIFY(caption);
    QCOMPARE(caption->text(), QStringLiteral("Größe:"));
    QCOMPARE(captionItem->alignment(), Qt::Alignment(Qt::AlignRight));
    QCOMPARE(caption->parentWidget(), &window);

    const int index = grid->indexOf(edit);
    QVERIFY(index >= 0);
    int row = -1;
    int column = -1;
    int rowSpan = -1;
    int columnSpan = -1;
    grid->getItemPosition(index, &row, &column, &rowSpan, &columnSpan);
    QCOMPARE(row, 1);
    QCOMPARE(column, 1);
    QCOMPARE(rowSpan, 1);
    QCOMPARE(columnSpan, 4);
    QCOMPARE(grid->itemAt(index)->alignment(), Qt::Alignment());
    for (int c = 1; c <= 4; ++c)
        QCOMPARE(grid->itemAtPosition(1, c)->widget(), edit);
    QVERIFY(!grid->itemAtPosition(1, 5));
    QCOMPARE(grid->count(), 2);
}

void TestGuiUtil::addLabeledWidgetKeepsTheWidgetType()
{
    QWidget window;
    auto *grid = new QGridLayout(&window);
    QLabel *label =
        GuiUtil::addLabeledWidget(grid, new QLabel(QStringLiteral("x")), "Book:", 0, 2, 1);
    QCOMPARE(label->text(), QStringLiteral("x"));
    QCOMPARE(grid->itemAtPosition(0, 3)->widget(), label);
    auto *caption = qobject_cast<QLabel *>(grid->itemAtPosition(0, 2)->widget());
    QVERIFY(caption);
    QCOMPARE(caption->text(), QStringLiteral("Book:"));
}

void TestGuiUtil::enlargeFontKeepsBold()
{
    QLabel label(QStringLiteral("x"));
    QFont font = label.font();
    font.setPointSize(8);
    font.setWeight(QFont::Bold);
    label.setFont(font);
    const QString family = label.font().family();
    GuiUtil::enlargeFont(&label, 3);
    QCOMPARE(label.font().pointSize(), 11);
    QCOMPARE(label.font().weight(), int(QFont::Bold));
    QCOMPARE(label.font().family(), family);
    QVERIFY(!label.font().italic());
}

void TestGuiUtil::enlargeFontKeepsNormal()
{
    QLabel label(QStringLiteral("x"));
    QFont font = label.font();
    font.setPointSize(9);
    font.setWeight(QFont::Normal);
    label.setFont(font);
    GuiUtil::enlargeFont(&label, 3);
    QCOMPARE(label.font().pointSize(), 12);
    QCOMPARE(label.font().weight(), int(QFont::Normal));
}

void TestGuiUtil::enlargeFontMapsWeights_data()
{
    QTest::addColumn<int>("weight");
    QTest::addColumn<int>("expected");
    QTest::newRow("thin") << int(QFont::Thin) << int(QFont::Normal);
    QTest::newRow("light") << int(QFont::Light) << int(QFont::Normal);
    QTest::newRow("normal") << int(QFont::Normal) << int(QFont::Normal);
    QTest::newRow("medium") << int(QFont::Medium) << int(QFont::Bold);
    QTest::newRow("demibold") << int(QFont::DemiBold) << int(QFont::Bold);
    QTest::newRow("bold") << int(QFont::Bold) << int(QFont::Bold);
    QTest::newRow("black") << int(QFont::Black) << int(QFont::Bold);
}

void TestGuiUtil::enlargeFontMapsWeights()
{
    QFETCH(int, weight);
    QFETCH(int, expected);
    QLabel label(QStringLiteral("x"));
    QFont font = label.font();
    font.setPointSize(10);
    font.setWeight(static_cast<QFont::Weight>(weight));
    label.setFont(font);
    GuiUtil::enlargeFont(&label, 1);
    QCOMPARE(label.font().weight(), expected);
    QCOMPARE(label.font().pointSize(), 11);
}

void TestGuiUtil::enlargeFontDropsOtherAttributes()
{
    QLabel label(QStringLiteral("x"));
    QFont font = label.font();
    font.setPointSize(10);
    font.setItalic(true);
    font.setUnderline(true);
    font.setStrikeOut(true);
    font.setStretch(QFont::Condensed);
    label.setFont(font);
    GuiUtil::enlargeFont(&label, 2);
    QCOMPARE(label.font().pointSize(), 12);
    QVERIFY(!label.font().italic());
    QVERIFY(!label.font().underline());
    QVERIFY(!label.font().strikeOut());
    QCOMPARE(label.font().stretch(), int(QFont::AnyStretch));
}

void TestGuiUtil::enlargeFontOnPixelSizedFont()
{
    QLabel label(QStringLiteral("x"));
    QFont font = label.font();
    font.setPixelSize(10);
    font.setWeight(QFont::Bold);
    label.setFont(font);
    QCOMPARE(label.font().pointSize(), -1);
    GuiUtil::enlargeFont(&label, 3);
    QCOMPARE(label.font().pixelSize(), 13);
    QCOMPARE(label.font().weight(), int(QFont::Bold));
}

void TestGuiUtil::colorToHex_data()
{
    QTest::addColumn<QColor>("color");
    QTest::addColumn<QString>("expected");
    QTest::newRow("black") << QColor(0, 0, 0) << QStringLiteral("000000");
    QTest::newRow("white") << QColor(255, 255, 255) << QStringLiteral("ffffff");
    QTest::newRow("orange") << QColor(255, 128, 0) << QStringLiteral("ff8000");
    QTest::newRow("one digit components") << QColor(1, 2, 15) << QStringLiteral("01020f");
    QTest::newRow("letters only lower case") << QColor(171, 205, 239) << QStringLiteral("abcdef");
    QTest::newRow("alpha ignored") << QColor(16, 32, 48, 7) << QStringLiteral("102030");
}

void TestGuiUtil::colorToHex()
{
    QFETCH(QColor, color);
    QFETCH(QString, expected);
    QCOMPARE(GuiUtil::colorToHex(QStringLiteral("%1%2%3"), color), expected);
    QCOMPARE(GuiUtil::colorToHex(QStringLiteral("#%1-%2-%3;"), color),
             QStringLiteral("#%1-%2-%3;")
                 .arg(expected.mid(0, 2), expected.mid(2, 2), expected.mid(4, 2)));
}

void TestGuiUtil::colorToHexReplacesEveryLowestPlaceholder()
{
    const QColor orange(255, 128, 0);
    QCOMPARE(GuiUtil::colorToHex(QStringLiteral("%1/%1 %2 %3"), orange),
             QStringLiteral("ff/ff 80 00"));
    QCOMPARE(GuiUtil::colorToHex(QStringLiteral("%7<%3>%5"), orange), QStringLiteral("00<ff>80"));
    QCOMPARE(GuiUtil::colorToHex(QStringLiteral("%1%2%3%4"), orange), QStringLiteral("ff8000%4"));
}

void TestGuiUtil::coloredLabelPlain()
{
    QLabel *label = GuiUtil::coloredLabel(QStringLiteral("42"), QColor(255, 0, 0), false);
    QVERIFY(label);
    QCOMPARE(label->text(), QStringLiteral("<font color=\"#ff0000\">42</font>"));
    QVERIFY(!label->text().contains(QStringLiteral("<b>")));
    QVERIFY(!label->text().contains(QStringLiteral("</b>")));
    QVERIFY(!label->parent());
    QCOMPARE(label->textFormat(), Qt::AutoText);
    QCOMPARE(label->windowFlags(), QLabel().windowFlags());
    delete label;
}

void TestGuiUtil::coloredLabelBold()
{
    QLabel *label = GuiUtil::coloredLabel(QStringLiteral("Score"), QColor(0, 128, 10), true);
    QCOMPARE(label->text(), QStringLiteral("<b><font color=\"#00800a\">Score</font></b>"));
    QVERIFY(!label->parent());
    delete label;
}

void TestGuiUtil::coloredLabelKeepsMarkupInText()
{
    QLabel *label = GuiUtil::coloredLabel(QStringLiteral("a <i>b</i> &amp; c"), Qt::black, false);
    QCOMPARE(label->text(), QStringLiteral("<font color=\"#000000\">a <i>b</i> &amp; c</font>"));
    delete label;
}

void TestGuiUtil::coloredLabelTextTakesPartInLaterReplacement()
{
    QLabel *label = GuiUtil::coloredLabel(QStringLiteral("50%1"), QColor(0, 0, 255), true);
    QCOMPARE(label->text(), QStringLiteral("<b><font color=\"#0000ff\">50</b></font>%6"));
    delete label;
}

void TestGuiUtil::coloredLabelWithBackgroundSetsOnlyTheBackground()
{
    QLabel *label = GuiUtil::coloredLabelWithBackground(QStringLiteral("7"), QColor(255, 255, 255),
                                                        true, QColor(16, 32, 48));
    QCOMPARE(label->styleSheet(), QStringLiteral("background-color: #102030"));
    QCOMPARE(label->text(), QStringLiteral("<b><font color=\"#ffffff\">7</font></b>"));
    QVERIFY(!label->parent());
    delete label;

    label = GuiUtil::coloredLabelWithBackground(QStringLiteral("x"), QColor(1, 2, 3), false,
                                                QColor(0, 0, 0));
    QCOMPARE(label->styleSheet(), QStringLiteral("background-color: #000000"));
    QCOMPARE(label->text(), QStringLiteral("<font color=\"#010203\">x</font>"));
    delete label;
}

QTEST_MAIN(TestGuiUtil)
#include "tst_guiutil.moc"
