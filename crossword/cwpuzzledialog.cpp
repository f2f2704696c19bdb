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
QLabel *countLabel(QLabel *label)
{
    GuiUtil::enlargeFont(label, 3);
    return label;
}
} // namespace

CWPuzzleDialog::CWPuzzleDialog(QWidget *parent, CWPuzzle *puzzle, NivletCore *core)
    : QDialog(parent), widget(nullptr), mainLayout(nullptr), buttonLayout(nullptr),
      checkButton(nullptr), closeButton(nullptr)
{
    const QSize size(24 * puzzle->width + 26, 24 * puzzle->height + 56);
    resize(size);
    setMinimumSize(size);
    setMaximumSize(size);
    setWindowTitle(QStringLiteral("nivlets - Puzzle"));

    mainLayout = new QVBoxLayout;
    widget = new CWPuzzleWidget(puzzle, core);
    mainLayout->addWidget(widget, 1);

    buttonLayout = new QHBoxLayout;
    buttonLayout->setAlignment(Qt::AlignLeft);
    checkButton = new QPushButton(QStringLiteral("Check!"));
    checkButton->setDefault(true);
    GuiUtil::fixButtonWidth(checkButton, 60);
    buttonLayout->addWidget(checkButton);
    connect(checkButton, &QPushButton::clicked, this, &CWPuzzleDialog::check);
    closeButton = new QPushButton(QStringLiteral("Close"));
    GuiUtil::fixButtonWidth(closeButton, 60);
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
