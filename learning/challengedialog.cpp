#include "challengedialog.h"

#include "guiutil.h"
#include "knrate.h"
#include "nivlet.h"
#include "nivletcore.h"

#include <QCloseEvent>
#include <QColor>
#include <QFont>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTextEdit>

#include <utility>

ChallengeDialog::ChallengeDialog(QWidget *parent, NivletCore *store, std::shared_ptr<Nivlet> record)
    : QuestionDialogBase(parent, record.get(), ":/challengeheader.png"), core(store),
      answered(false), chosen(0), answerLabel(nullptr), answerEdit(nullptr),
      correctAnswersEdit(nullptr), checkButton(nullptr), laterButton(nullptr), nextButton(nullptr),
      closeButton(nullptr), correctionButton(nullptr), held(std::move(record))
{
    resize(440, 360);
    setWindowTitle(QStringLiteral("nivlets - Challenge"));

    answerLabel =
        GuiUtil::named(new QLabel(QStringLiteral("Type your answer here:")), "answerLabel");
    addRow(answerLabel);
    answerEdit = GuiUtil::named(new QLineEdit, "answerEdit");
    answerLabel->setBuddy(answerEdit);
    connect(answerEdit, &QLineEdit::textChanged, this, &ChallengeDialog::answerChanged);
    addRow(answerEdit);

    checkButton =
        GuiUtil::named(GuiUtil::iconButton(":/accept.png", "&Check it!", 110), "checkButton");
    checkButton->setDefault(true);
    buttonRow()->addWidget(checkButton);
    connect(checkButton, &QPushButton::clicked, this, &ChallengeDialog::check);
    laterButton =
        GuiUtil::named(GuiUtil::iconButton(":/alarm.png", "&Later please!", 110), "laterButton");
    buttonRow()->addWidget(laterButton);
    connect(laterButton, &QPushButton::clicked, this, &ChallengeDialog::later);

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
    Nivlet *asked = nivlet();
    const bool correct = asked->isCorrectAnswer(answerEdit->text());
    const double rate =
        correct ? knRateAfterCorrect(asked->knRate) : knRateAfterIncorrect(asked->knRate);
    core->recordAnswer(
        {asked, correct ? AnswerHistory::Verdict::Right : AnswerHistory::Verdict::Wrong, rate},
        timed ? AnswerHistory::Source::AutomaticChallenge : AnswerHistory::Source::Challenge);
    asked->knRate = rate;
    showKnRate(rate);

    // The check button's click is still being delivered while this runs, so
    // the buttons may only vanish now and be destroyed once control is back
    // in the event loop.
    for (QPushButton *button : {checkButton, laterButton}) {
        buttonRow()->removeWidget(button);
        button->hide();
        button->deleteLater();
    }
    checkButton = nullptr;
    laterButton = nullptr;

    nextButton = GuiUtil::named(GuiUtil::iconButton(":/arrow_right.png", "&Next challenge!", 110),
                                "nextButton");
    buttonRow()->addWidget(nextButton);
    connect(nextButton, &QPushButton::clicked, this, &ChallengeDialog::next);
    closeButton = GuiUtil::named(GuiUtil::iconButton(":/door.png", "&Close", 110), "closeButton");
    buttonRow()->addWidget(closeButton);
    connect(closeButton, &QPushButton::clicked, this, &ChallengeDialog::onClose);

    auto *verdictRow = new QHBoxLayout;
    // Green and red as HTML names them, in the shade of each that reads on
    // the window's background: red falls short even on a light palette.
    QLabel *verdict = GuiUtil::named(
        correct
            ? GuiUtil::readableColoredLabel(QStringLiteral("Correct!"), QColor(0, 128, 0), false)
            : GuiUtil::readableColoredLabel(QStringLiteral("Incorrect!"), QColor(255, 0, 0), false),
        "verdictLabel");
    verdict->setTextFormat(Qt::RichText);
    QFont font = verdict->font();
    font.setPointSize(font.pointSize() + 3);
    font.setWeight(QFont::Bold);
    verdict->setFont(font);
    verdictRow->addWidget(verdict);
    if (!correct) {
        correctionButton = GuiUtil::named(
            GuiUtil::iconButton(":/hand_point.png", "Hey, my answer is good!...", 170),
            "correctionButton");
        verdictRow->addWidget(correctionButton);
        connect(correctionButton, &QPushButton::clicked, this, &ChallengeDialog::correction);
    }
    verdictRow->addStretch(1);
    addRow(verdictRow);

    answerLabel->setText(QStringLiteral("Your answer:"));
    answerEdit->setReadOnly(true);

    auto *answersCaption = new QLabel(QStringLiteral("Correct answers:"));
    addRow(answersCaption);
    correctAnswersEdit = GuiUtil::named(readOnlyBox(asked->answer), "correctAnswersEdit");
    answersCaption->setBuddy(correctAnswersEdit);
    addRow(correctAnswersEdit);

    // The new buttons joined the focus chain in the order they were made;
    // Tab follows the window from top to bottom instead.
    QWidget *previous = answerEdit;
    for (QWidget *next :
         {static_cast<QWidget *>(correctionButton), static_cast<QWidget *>(nextButton),
          static_cast<QWidget *>(closeButton)}) {
        if (next) {
            setTabOrder(previous, next);
            previous = next;
        }
    }

    answered = true;
}

void ChallengeDialog::later()
{
    core->setPendingNivlet(nivlet());
    reject();
}

void ChallengeDialog::answerChanged(const QString &text)
{
    Q_UNUSED(text);
}

void ChallengeDialog::next()
{
    chosen = 1;
    accept();
}

void ChallengeDialog::onClose()
{
    reject();
}

void ChallengeDialog::correction()
{
    chosen = 2;
    accept();
}

void ChallengeDialog::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && !answered)
        core->setPendingNivlet(nivlet());
    QDialog::keyPressEvent(event);
}

void ChallengeDialog::closeEvent(QCloseEvent *event)
{
    if (!answered)
        core->setPendingNivlet(nivlet());
    // The base would call reject(); the run must end rejected by the close alone.
    event->accept();
}
