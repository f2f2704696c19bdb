#include "cwpuzzledialog.h"

#include "cwpuzzle.h"
#include "cwpuzzlewidget.h"
#include "guiutil.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {
// Room around the grid for the dialog's margins and for the button row below it.
const QSize frame(25, 55);

QLabel *countLabel(QLabel *label)
{
    GuiUtil::enlargeFont(label, 3);
    return label;
}
} // namespace

CWPuzzleDialog::CWPuzzleDialog(QWidget *parent, CWPuzzle *puzzle, NivletCore *core)
    : QDialog(parent), widget(GuiUtil::named(new CWPuzzleWidget(puzzle, core), "puzzleWidget")),
      mainLayout(new QVBoxLayout), checkButton(nullptr)
{
    const QSize size = widget->sizeHint() + frame;
    resize(size);
    setMinimumSize(size);
    setMaximumSize(size);
    setWindowTitle(QStringLiteral("nivlets - Puzzle"));

    mainLayout->addWidget(widget, 1);

    auto *buttonLayout = GuiUtil::named(new QHBoxLayout, "buttonRow");
    buttonLayout->setAlignment(Qt::AlignLeft);
    checkButton = GuiUtil::named(GuiUtil::button("Check!", 60), "checkButton");
    checkButton->setDefault(true);
    buttonLayout->addWidget(checkButton);
    connect(checkButton, &QPushButton::clicked, this, &CWPuzzleDialog::check);
    QPushButton *closeButton = GuiUtil::named(GuiUtil::button("Close", 60), "closeButton");
    buttonLayout->addWidget(closeButton);
    connect(closeButton, &QPushButton::clicked, this, &CWPuzzleDialog::reject);
    mainLayout->addLayout(buttonLayout);
    setLayout(mainLayout);
}

void CWPuzzleDialog::check()
{
    // The slot is public; a second check would count and move every rate again.
    if (widget->checked)
        return;
    checkButton->setEnabled(false);
    widget->checkAll();

    const QString number = QStringLiteral("%1");
    auto *results = new QHBoxLayout;
    results->setContentsMargins(2, 2, 2, 2);
    results->addWidget(new QLabel(QStringLiteral("Correct:")));
    results->addWidget(countLabel(
        GuiUtil::coloredLabel(number.arg(widget->correctCount), widget->correctColor, true)));
    results->addSpacing(10);
    results->addWidget(new QLabel(QStringLiteral("Incorrect:")));
    results->addWidget(countLabel(
        GuiUtil::coloredLabel(number.arg(widget->incorrectCount), widget->wrongColor, true)));
    results->addSpacing(10);
    results->addWidget(new QLabel(QStringLiteral("Cheated:")));
    results->addWidget(countLabel(GuiUtil::coloredLabelWithBackground(
        number.arg(widget->cheatedCount), widget->correctColor, true, widget->revealedBackground)));
    results->addStretch(1);
    mainLayout->insertLayout(1, results);

    // The dialog's size leaves room for the grid and the buttons only; the
    // results row must not take its room from the grid's last row, nor cut
    // its own texts off in a narrow puzzle. A layout counts only widgets
    // that are shown, and a visible dialog shows new ones only later.
    for (int i = 0; i < results->count(); ++i) {
        if (QWidget *label = results->itemAt(i)->widget())
            label->show();
    }
    const QSize row = results->sizeHint();
    const QMargins margins = mainLayout->contentsMargins();
    const QSize grown(std::max(size().width(), margins.left() + row.width() + margins.right()),
                      size().height() + row.height() + mainLayout->spacing());
    setMinimumSize(grown);
    setMaximumSize(grown);
    resize(grown);
}
