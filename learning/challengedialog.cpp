#include "challengedialog.h"

#include "guiutil.h"
#include "knrate.h"
#include "nivlet.h"
#include "nivletcore.h"

#include <QCloseEvent>
#include <QColor>
#include <QFont>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QTextEdit>
#include <QVBoxLayout>

#include <utility>

namespace {
QPushButton *makeButton(const char *icon, const char *text, int width)
{
    auto *button = new QPushButton(QIcon(QString::fromLatin1(icon)), QString::fromUtf8(text));
    GuiUtil::fixButtonWidth(button, width);
    return button;
}
} // namespace

ChallengeDialog::ChallengeDialog(QWidget *parent, NivletCore *store, std::shared_ptr<Nivlet> record)
    : QuestionDialogBase(parent, record.get()), core(store), answered(false), outcome(0),
      answerLabel(nullptr), answerEdit(nullptr), correctAnswersEdit(nullptr), checkButton(nullptr),
      laterButton(nullptr), nextButton(nullptr), closeButton(nullptr), correctionButton(nullptr),
      buttonLayout(nullptr), held(std::move(record))
{
    resize(440, 360);
    setWindowTitle(QStringLiteral("nivlets - Challenge"));

    mainLayout = new QVBoxLayout;
    auto *header = new QLabel;
    header->setPixmap(QPixmap(QStringLiteral(":/challengeheader.png")));
    header->setMargin(1);
    mainLayout->addWidget(header);

    buildQuestionSection();

    answerLabel = new QLabel(QStringLiteral("Type your answer here:"));
    mainLayout->addWidget(answerLabel);
    answerEdit = new QLineEdit;
    connect(answerEdit, &QLineEdit::textChanged, this, &ChallengeDialog::answerChanged);
    mainLayout->addWidget(answerEdit);

    buttonLayout = new QHBoxLayout;
    buttonLayout->setAlignment(Qt::AlignLeft);
    checkButton = makeButton(":/accept.png", "&Check it!", 110);
    checkButton->setDefault(true);
    buttonLayout->addWidget(checkButton);
    connect(checkButton, &QPushButton::clicked, this, &ChallengeDialog::check);
    laterButton = makeButton(":/alarm.png", "&Later please!", 110);
    buttonLayout->addWidget(laterButton);
    connect(laterButton, &QPushButton::clicked, this, &ChallengeDialog::later);

    mainLayout->addLayout(buttonLayout);
    setLayout(mainLayout);
    // Wherever the window is clicked to give it the keyboard, typing goes here;
    // a dialog shown without the focus does not choose by itself.
    answerEdit->setFocus();
}

QString ChallengeDialog::answerText() const
{
    return answerEdit->text();
}

void ChallengeDialog::check()
{
    // The slot is public; a second call must not move the rate again.
    if (answered)
        return;
    const bool correct = nivlet->isCorrectAnswer(answerEdit->text());
    const double rate =
        correct ? knRateAfterCorrect(nivlet->knRate) : knRateAfterIncorrect(nivlet->knRate);
    core->setKnowledgeRate(nivlet->id, rate);
    nivlet->knRate = rate;
    showKnRate(rate);

    // The check button's click is still being delivered while this runs, so
    // the buttons may only vanish now and be destroyed once control is back
    // in the event loop.
    for (QPushButton *button : {checkButton, laterButton}) {
        buttonLayout->removeWidget(button);
        button->hide();
        button->deleteLater();
    }
    checkButton = nullptr;
    laterButton = nullptr;

    nextButton = makeButton(":/arrow_right.png", "&Next challenge!", 110);
    buttonLayout->addWidget(nextButton);
    connect(nextButton, &QPushButton::clicked, this, &ChallengeDialog::next);
    closeButton = makeButton(":/door.png", "&Close", 110);
    buttonLayout->addWidget(closeButton);
    connect(closeButton, &QPushButton::clicked, this, &ChallengeDialog::onClose);

    auto *verdictRow = new QHBoxLayout;
    auto *verdict = new QLabel(correct ? QStringLiteral("<font color=green>Correct!</font>")
                                       : QStringLiteral("<font color=red>Incorrect!</font>"));
    verdict->setTextFormat(Qt::RichText);
    QFont font = verdict->font();
    font.setPointSize(font.pointSize() + 3);
    font.setWeight(QFont::Bold);
    verdict->setFont(font);
    verdictRow->addWidget(verdict);
    if (!correct) {
        correctionButton = makeButton(":/hand_point.png", "Hey, my answer is good!...", 170);
        verdictRow->addWidget(correctionButton);
        connect(correctionButton, &QPushButton::clicked, this, &ChallengeDialog::correction);
    }
    verdictRow->addStretch(1);
    mainLayout->insertLayout(7, verdictRow);

    answerLabel->setText(QStringLiteral("Your answer:"));
    answerEdit->setReadOnly(true);

    mainLayout->insertWidget(8, new QLabel(QStringLiteral("Correct answers:")));
    correctAnswersEdit = new QTextEdit;
    correctAnswersEdit->setReadOnly(true);
    correctAnswersEdit->setEnabled(false);
    correctAnswersEdit->setTextColor(QColor(0, 0, 0, 255));
    correctAnswersEdit->setPlainText(nivlet->answer);
    mainLayout->insertWidget(9, correctAnswersEdit);

    answered = true;
}

void ChallengeDialog::later()
{
    core->setPendingNivlet(nivlet);
    reject();
}

void ChallengeDialog::answerChanged(const QString &text)
{
    Q_UNUSED(text);
}

void ChallengeDialog::next()
{
    outcome = 1;
    accept();
}

void ChallengeDialog::onClose()
{
    reject();
}

void ChallengeDialog::correction()
{
    outcome = 2;
    accept();
}

void ChallengeDialog::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && !answered)
        core->setPendingNivlet(nivlet);
    QDialog::keyPressEvent(event);
}

void ChallengeDialog::closeEvent(QCloseEvent *event)
{
    if (!answered)
        core->setPendingNivlet(nivlet);
    // The base would call reject(); the run must end rejected by the close alone.
    event->accept();
}
