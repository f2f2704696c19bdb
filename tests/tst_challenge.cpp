#include "book.h"
#include "challengedialog.h"
#include "challengedialogtestaccess.h"
#include "guiutil.h"
#include "knrate.h"
#include "nivlet.h"
#include "nivletcore.h"
#include "testsupport.h"

#include <QApplication>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpacerItem>
#include <QTest>
#include <QTextCursor>
#include <QTextEdit>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

using TestSupport::child;
using TestSupport::runModal;
using TestSupport::storedRate;

namespace {
const char sampleRows[] =
    "INSERT INTO book (id, name, active) VALUES (1, 'Geography', 1);\n"
    "INSERT INTO nivlet (id, active, kn_rate, book_id, question, answer) VALUES\n"
    " (1, 1, 0.5, 1, 'Which city is the capital of France?', '  Paris # the capital\n"
    "Lutetia # its old name\n\n# not Lyon'),\n"
    " (2, 1, 0.25, 1, 'Which port lies at the mouth of the Seine?\nName the city.',"
    " 'Le   Havre'),\n"
    " (3, 1, 0.75, 1, 'Which river flows through Paris?', 'Seine'),\n"
    " (4, 1, 0.0, 77, 'A question of a lost book', 'lost');\n";

// The given width, or the width the button's text and icon need when the
// desktop font is larger; never the style's smallest width for any button.
bool hasFixedWidth(QPushButton *button, int width)
{
    const int expected = std::max(width, GuiUtil::neededButtonWidth(button));
    return button->minimumWidth() == expected && button->maximumWidth() == expected;
}

// A dialog on the question base that fills both of its places out of order.
class PlacesDialog : public QuestionDialogBase
{
public:
    explicit PlacesDialog(Nivlet *nivlet) : QuestionDialogBase(nullptr, nivlet, nullptr)
    {
        buttonRow()->addWidget(new QPushButton(QStringLiteral("First button")));
        addRow(new QLabel(QStringLiteral("First row")));
        buttonRow()->addWidget(new QPushButton(QStringLiteral("Second button")));
        addRow(new QHBoxLayout);
    }

    void addLaterRow() { addRow(new QLabel(QStringLiteral("Later row"))); }
};

// The parts of a challenge by their names, as they are when it is built:
// null where the dialog has none, or none yet.
struct ChallengeParts
{
    explicit ChallengeParts(const ChallengeDialog &dialog)
        : bookLabel(find<QLabel>(dialog, "bookLabel")),
          knRateLabel(find<QLabel>(dialog, "knRateLabel")),
          questionEdit(find<QTextEdit>(dialog, "questionEdit")),
          answerLabel(find<QLabel>(dialog, "answerLabel")),
          answerEdit(find<QLineEdit>(dialog, "answerEdit")),
          correctAnswersEdit(find<QTextEdit>(dialog, "correctAnswersEdit")),
          buttons(find<QHBoxLayout>(dialog, "buttonRow")),
          checkButton(find<QPushButton>(dialog, "checkButton")),
          laterButton(find<QPushButton>(dialog, "laterButton")),
          nextButton(find<QPushButton>(dialog, "nextButton")),
          closeButton(find<QPushButton>(dialog, "closeButton"))
    {
    }

    template <typename T> static T *find(const ChallengeDialog &dialog, const char *name)
    {
        return dialog.findChild<T *>(QString::fromLatin1(name));
    }

    QLabel *bookLabel;
    QLabel *knRateLabel;
    QTextEdit *questionEdit;
    QLabel *answerLabel;
    QLineEdit *answerEdit;
    QTextEdit *correctAnswersEdit;
    QHBoxLayout *buttons;
    QPushButton *checkButton;
    QPushButton *laterButton;
    QPushButton *nextButton;
    QPushButton *closeButton;
};

QColor textColorAt(QTextEdit *edit, int position)
{
    QTextCursor cursor(edit->document());
    cursor.setPosition(position);
    return cursor.charFormat().foreground().color();
}
} // namespace

class TestChallenge : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void buildsTheAskingWindow();
    void correctAnswerInCapitalsWithBlanks();
    void returnKeyChecks();
    void blankAnswerIsIncorrect_data();
    void blankAnswerIsIncorrect();
    void escapeBeforeCheck();
    void escapeAfterCheck();
    void correctionAfterIncorrectAnswer();
    void nextChallengeAfterCorrectAnswer();
    void laterPlease();
    void closingBeforeCheck();
    void closingAfterCheck();
    void failingRateWriteKeepsTheNewRate();
    void nivletWithoutBook();
    void userTextIsPlain();
    void runsModallyOverItsParent();
    void checkByKeyboard_data();
    void checkByKeyboard();
    void baseKeepsTheButtonRowLast();

private:
    Nivlet *record(qint64 id) const;
    // The record with its list, as the main window hands it to the dialog.
    std::shared_ptr<Nivlet> held(Nivlet *nivlet) const;
    void checkAnsweredLayout(ChallengeDialog &dialog, bool correct);

    std::unique_ptr<TestSupport::WorkDir> work;
    std::unique_ptr<NivletCore> core;
};

void TestChallenge::init()
{
    work = std::make_unique<TestSupport::WorkDir>();
    QVERIFY(work->isValid());
    QVERIFY(TestSupport::createDatabase(work->path(), QString::fromUtf8(sampleRows)));
    core = std::make_unique<NivletCore>();
    QVERIFY(core->open());
    seedRandom(17);
    QCOMPARE(core->activeList()->nivlets().size(), 3);
}

void TestChallenge::cleanup()
{
    while (QWidget *modal = QApplication::activeModalWidget()) {
        modal->close();
        QTest::qWait(10);
    }
    core.reset();
    work.reset();
}

Nivlet *TestChallenge::record(qint64 id) const
{
    for (Nivlet *n : core->activeList()->nivlets()) {
        if (n->id == id)
            return n;
    }
    return nullptr;
}

std::shared_ptr<Nivlet> TestChallenge::held(Nivlet *nivlet) const
{
    return core->activeList()->hold(nivlet);
}

void TestChallenge::buildsTheAskingWindow()
{
    Nivlet *nivlet = record(1);
    ChallengeDialog dialog(nullptr, core.get(), held(nivlet));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("nivlets - Challenge"));
    QCOMPARE(dialog.size(), QSize(440, 360));
    QCOMPARE(ChallengeDialogTestAccess::core(&dialog), core.get());
    QCOMPARE(dialog.nivlet(), nivlet);
    QVERIFY(!ChallengeDialogTestAccess::answered(&dialog));
    QCOMPARE(dialog.outcome(), 0);
    QVERIFY(!dialog.findChild<QTextEdit *>(QStringLiteral("correctAnswersEdit")));
    QVERIFY(!dialog.findChild<QPushButton *>(QStringLiteral("nextButton")));
    QVERIFY(!dialog.findChild<QPushButton *>(QStringLiteral("closeButton")));
    QVERIFY(!dialog.findChild<QPushButton *>(QStringLiteral("correctionButton")));

    QVBoxLayout *main = qobject_cast<QVBoxLayout *>(dialog.layout());
    const ChallengeParts parts(dialog);
    QCOMPARE(dialog.layout(), main);
    QCOMPARE(main->count(), 8);

    auto *header = qobject_cast<QLabel *>(main->itemAt(0)->widget());
    QVERIFY(header);
    QCOMPARE(header->margin(), 1);
    QVERIFY(!header->pixmap().isNull());

    auto *grid = qobject_cast<QGridLayout *>(main->itemAt(1)->layout());
    QVERIFY(grid);
    QCOMPARE(grid->columnStretch(1), 1);
    QCOMPARE(grid->horizontalSpacing(), 6);
    QCOMPARE(grid->verticalSpacing(), 6);
    auto *bookCaption = qobject_cast<QLabel *>(grid->itemAtPosition(0, 0)->widget());
    QVERIFY(bookCaption);
    QCOMPARE(bookCaption->text(), QStringLiteral("Book:"));
    QCOMPARE(grid->itemAtPosition(0, 0)->alignment(), Qt::Alignment(Qt::AlignRight));
    QCOMPARE(grid->itemAtPosition(0, 1)->widget(), parts.bookLabel);
    QCOMPARE(parts.bookLabel->text(), QStringLiteral("Geography"));
    auto *rateCaption = qobject_cast<QLabel *>(grid->itemAtPosition(1, 0)->widget());
    QVERIFY(rateCaption);
    QCOMPARE(rateCaption->text(), QStringLiteral("Knowledge rate:"));
    QCOMPARE(grid->itemAtPosition(1, 1)->widget(), parts.knRateLabel);
    QCOMPARE(parts.knRateLabel->text(), QStringLiteral("50%"));

    QSpacerItem *spacing = main->itemAt(2)->spacerItem();
    QVERIFY(spacing);
    QCOMPARE(spacing->sizeHint().height(), 10);

    auto *questionCaption = qobject_cast<QLabel *>(main->itemAt(3)->widget());
    QVERIFY(questionCaption);
    QCOMPARE(questionCaption->text(), QStringLiteral("Question:"));
    QCOMPARE(main->itemAt(4)->widget(), parts.questionEdit);
    QCOMPARE(parts.questionEdit->toPlainText(),
             QStringLiteral("Which city is the capital of France?"));
    QVERIFY(parts.questionEdit->isReadOnly());
    QVERIFY(!parts.questionEdit->isEnabled());
    QVERIFY(parts.questionEdit->tabChangesFocus());
    QCOMPARE(textColorAt(parts.questionEdit, 1), QColor(0, 0, 0, 255));

    QCOMPARE(main->itemAt(5)->widget(), parts.answerLabel);
    QCOMPARE(parts.answerLabel->text(), QStringLiteral("Type your answer here:"));
    QCOMPARE(main->itemAt(6)->widget(), parts.answerEdit);
    QVERIFY(!parts.answerEdit->isReadOnly());
    QVERIFY(parts.answerEdit->text().isEmpty());

    QCOMPARE(main->itemAt(7)->layout(), parts.buttons);
    QCOMPARE(parts.buttons->alignment(), Qt::Alignment(Qt::AlignLeft));
    QCOMPARE(parts.buttons->count(), 2);
    QCOMPARE(parts.buttons->itemAt(0)->widget(), parts.checkButton);
    QCOMPARE(parts.buttons->itemAt(1)->widget(), parts.laterButton);
    QCOMPARE(parts.checkButton->text(), QStringLiteral("&Check it!"));
    QVERIFY(parts.checkButton->isDefault());
    QVERIFY(!parts.checkButton->icon().isNull());
    QVERIFY(hasFixedWidth(parts.checkButton, 110));
    QCOMPARE(parts.laterButton->text(), QStringLiteral("&Later please!"));
    QVERIFY(!parts.laterButton->isDefault());
    QVERIFY(!parts.laterButton->icon().isNull());
    QVERIFY(hasFixedWidth(parts.laterButton, 110));
}

void TestChallenge::checkAnsweredLayout(ChallengeDialog &dialog, bool correct)
{
    QVBoxLayout *main = qobject_cast<QVBoxLayout *>(dialog.layout());
    const ChallengeParts parts(dialog);
    QCOMPARE(main->count(), 11);
    QCOMPARE(main->itemAt(5)->widget(), parts.answerLabel);
    QCOMPARE(parts.answerLabel->text(), QStringLiteral("Your answer:"));
    QCOMPARE(main->itemAt(6)->widget(), parts.answerEdit);
    QVERIFY(parts.answerEdit->isReadOnly());

    auto *row = qobject_cast<QHBoxLayout *>(main->itemAt(7)->layout());
    QVERIFY(row);
    auto *verdict = qobject_cast<QLabel *>(row->itemAt(0)->widget());
    QVERIFY(verdict);
    QCOMPARE(verdict->text(), correct ? QStringLiteral("<font color=green>Correct!</font>")
                                      : QStringLiteral("<font color=red>Incorrect!</font>"));
    QCOMPARE(verdict->textFormat(), Qt::RichText);
    QCOMPARE(verdict->font().weight(), int(QFont::Bold));
    QCOMPARE(verdict->font().pointSize(), QLabel().font().pointSize() + 3);
    if (correct) {
        QCOMPARE(row->count(), 2);
        QVERIFY(!dialog.findChild<QPushButton *>(QStringLiteral("correctionButton")));
    } else {
        QCOMPARE(row->count(), 3);
        auto *correction = dialog.findChild<QPushButton *>(QStringLiteral("correctionButton"));
        QVERIFY(correction);
        QCOMPARE(row->itemAt(1)->widget(), correction);
        QCOMPARE(correction->text(), QStringLiteral("Hey, my answer is good!..."));
        QVERIFY(!correction->icon().isNull());
        QVERIFY(hasFixedWidth(correction, 170));
        QTRY_VERIFY(correction->isVisible());
    }
    QSpacerItem *stretch = row->itemAt(row->count() - 1)->spacerItem();
    QVERIFY(stretch);
    QCOMPARE(row->stretch(row->count() - 1), 1);

    auto *caption = qobject_cast<QLabel *>(main->itemAt(8)->widget());
    QVERIFY(caption);
    QCOMPARE(caption->text(), QStringLiteral("Correct answers:"));
    QCOMPARE(main->itemAt(9)->widget(), parts.correctAnswersEdit);
    QCOMPARE(parts.correctAnswersEdit->toPlainText(), dialog.nivlet()->answer);
    QVERIFY(parts.correctAnswersEdit->isReadOnly());
    QVERIFY(!parts.correctAnswersEdit->isEnabled());
    QCOMPARE(textColorAt(parts.correctAnswersEdit, 1), QColor(0, 0, 0, 255));

    QCOMPARE(main->itemAt(10)->layout(), parts.buttons);
    QCOMPARE(parts.buttons->count(), 2);
    QCOMPARE(parts.buttons->itemAt(0)->widget(), parts.nextButton);
    QCOMPARE(parts.buttons->itemAt(1)->widget(), parts.closeButton);
    QCOMPARE(parts.nextButton->text(), QStringLiteral("&Next challenge!"));
    QCOMPARE(parts.closeButton->text(), QStringLiteral("&Close"));
    for (QPushButton *button : {parts.nextButton, parts.closeButton}) {
        QVERIFY(hasFixedWidth(button, 110));
        QVERIFY(!button->icon().isNull());
        QTRY_VERIFY(button->isVisible());
    }
    QVERIFY(!ChallengeDialogTestAccess::checkButton(&dialog));
    QVERIFY(!ChallengeDialogTestAccess::laterButton(&dialog));
    QVERIFY(ChallengeDialogTestAccess::answered(&dialog));
}

void TestChallenge::correctAnswerInCapitalsWithBlanks()
{
    Nivlet *nivlet = record(1);
    ChallengeDialog dialog(nullptr, core.get(), held(nivlet));
    const int result = runModal(&dialog, [&] {
        QTest::keyClicks(child<QLineEdit>(&dialog, "answerEdit"), QStringLiteral("   LUTETIA    "));
        QCOMPARE(child<QLabel>(&dialog, "knRateLabel")->text(), QStringLiteral("50%"));
        QPointer<QPushButton> oldCheck = child<QPushButton>(&dialog, "checkButton");
        QPointer<QPushButton> oldLater = child<QPushButton>(&dialog, "laterButton");
        QTest::mouseClick(child<QPushButton>(&dialog, "checkButton"), Qt::LeftButton);

        QVERIFY(ChallengeDialogTestAccess::answered(&dialog));
        QCOMPARE(child<QLabel>(&dialog, "knRateLabel")->text(), QStringLiteral("75%"));
        QCOMPARE(nivlet->knRate, 0.75);
        QCOMPARE(storedRate(1), 0.75);
        QVERIFY(core->activeListStale());
        QCOMPARE(child<QLineEdit>(&dialog, "answerEdit")->text(), QStringLiteral("   LUTETIA    "));
        checkAnsweredLayout(dialog, true);
        // The old buttons vanish at once and are destroyed afterwards.
        QVERIFY(!oldCheck || (oldCheck->isHidden() &&
                              child<QHBoxLayout>(&dialog, "buttonRow")->indexOf(oldCheck) < 0));
        QVERIFY(!oldLater || (oldLater->isHidden() &&
                              child<QHBoxLayout>(&dialog, "buttonRow")->indexOf(oldLater) < 0));
        QTRY_VERIFY(oldCheck.isNull());
        QTRY_VERIFY(oldLater.isNull());

        QTest::mouseClick(child<QPushButton>(&dialog, "closeButton"), Qt::LeftButton);
    });
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(dialog.outcome(), 0);
    QVERIFY(!core->pendingNivlet());
    QCOMPARE(storedRate(1), 0.75);
    QCOMPARE(storedRate(2), 0.25);
}

void TestChallenge::returnKeyChecks()
{
    Nivlet *nivlet = record(2);
    ChallengeDialog dialog(nullptr, core.get(), held(nivlet));
    const int result = runModal(&dialog, [&] {
        child<QLineEdit>(&dialog, "answerEdit")->setFocus();
        QTest::keyClicks(child<QLineEdit>(&dialog, "answerEdit"), QStringLiteral("le havre"));
        QTest::keyClick(child<QLineEdit>(&dialog, "answerEdit"), Qt::Key_Return);
        QVERIFY(ChallengeDialogTestAccess::answered(&dialog));
        checkAnsweredLayout(dialog, true);
        QCOMPARE(child<QLabel>(&dialog, "knRateLabel")->text(), QStringLiteral("63%"));
        QCOMPARE(storedRate(2), 0.625);
        QTest::keyClick(child<QLineEdit>(&dialog, "answerEdit"), Qt::Key_Return);
        dialog.check();
        QCOMPARE(child<QLabel>(&dialog, "knRateLabel")->text(), QStringLiteral("63%"));
        QCOMPARE(storedRate(2), 0.625);
        checkAnsweredLayout(dialog, true);
        QTest::keyClick(child<QLineEdit>(&dialog, "answerEdit"), Qt::Key_Escape);
    });
    QCOMPARE(result, int(QDialog::Rejected));
    QVERIFY(!core->pendingNivlet());
}

void TestChallenge::blankAnswerIsIncorrect_data()
{
    QTest::addColumn<QString>("typed");
    QTest::newRow("empty") << QString();
    QTest::newRow("blanks") << QStringLiteral("   \t ");
}

void TestChallenge::blankAnswerIsIncorrect()
{
    QFETCH(QString, typed);
    Nivlet *nivlet = record(1);
    ChallengeDialog dialog(nullptr, core.get(), held(nivlet));
    const int result = runModal(&dialog, [&] {
        QTest::keyClicks(child<QLineEdit>(&dialog, "answerEdit"), typed);
        QVERIFY(child<QPushButton>(&dialog, "checkButton")->isEnabled());
        QTest::mouseClick(child<QPushButton>(&dialog, "checkButton"), Qt::LeftButton);
        QCOMPARE(child<QLabel>(&dialog, "knRateLabel")->text(), QStringLiteral("25%"));
        QCOMPARE(nivlet->knRate, 0.25);
        QCOMPARE(storedRate(1), 0.25);
        checkAnsweredLayout(dialog, false);
        QTest::mouseClick(child<QPushButton>(&dialog, "closeButton"), Qt::LeftButton);
    });
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(dialog.outcome(), 0);
    QVERIFY(!core->pendingNivlet());
}

void TestChallenge::escapeBeforeCheck()
{
    Nivlet *nivlet = core->nextNivlet();
    QVERIFY(nivlet);
    const double rate = nivlet->knRate;
    ChallengeDialog dialog(nullptr, core.get(), held(nivlet));
    const int result = runModal(&dialog, [&] {
        QTest::keyClicks(child<QLineEdit>(&dialog, "answerEdit"), QStringLiteral("something"));
        QTest::keyClick(child<QLineEdit>(&dialog, "answerEdit"), Qt::Key_Escape);
    });
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(dialog.outcome(), 0);
    QVERIFY(!ChallengeDialogTestAccess::answered(&dialog));
    QCOMPARE(core->pendingNivlet(), nivlet);
    QCOMPARE(storedRate(nivlet->id), rate);
    QCOMPARE(nivlet->knRate, rate);
    QCOMPARE(core->nextNivlet(), nivlet);
}

void TestChallenge::escapeAfterCheck()
{
    Nivlet *nivlet = record(3);
    ChallengeDialog dialog(nullptr, core.get(), held(nivlet));
    const int result = runModal(&dialog, [&] {
        QTest::keyClicks(child<QLineEdit>(&dialog, "answerEdit"), QStringLiteral("Loire"));
        QTest::mouseClick(child<QPushButton>(&dialog, "checkButton"), Qt::LeftButton);
        QCOMPARE(child<QLabel>(&dialog, "knRateLabel")->text(), QStringLiteral("38%"));
        QTest::keyClick(&dialog, Qt::Key_Escape);
    });
    QCOMPARE(result, int(QDialog::Rejected));
    QVERIFY(!core->pendingNivlet());
    QCOMPARE(storedRate(3), 0.375);
}

void TestChallenge::correctionAfterIncorrectAnswer()
{
    Nivlet *nivlet = record(2);
    ChallengeDialog dialog(nullptr, core.get(), held(nivlet));
    const int result = runModal(&dialog, [&] {
        QTest::keyClicks(child<QLineEdit>(&dialog, "answerEdit"), QStringLiteral(" Harfleur  "));
        QTest::mouseClick(child<QPushButton>(&dialog, "checkButton"), Qt::LeftButton);
        checkAnsweredLayout(dialog, false);
        QCOMPARE(child<QLabel>(&dialog, "knRateLabel")->text(), QStringLiteral("13%"));
        QTest::mouseClick(child<QPushButton>(&dialog, "correctionButton"), Qt::LeftButton);
    });
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(dialog.outcome(), 2);
    QCOMPARE(dialog.answerText(), QStringLiteral(" Harfleur  "));
    QCOMPARE(nivlet->knRate, 0.125);
    QCOMPARE(storedRate(2), 0.125);
    QVERIFY(!core->pendingNivlet());
}

void TestChallenge::nextChallengeAfterCorrectAnswer()
{
    Nivlet *nivlet = core->nextNivlet();
    QVERIFY(nivlet);
    const qint64 id = nivlet->id;
    const double rate = nivlet->knRate;
    ChallengeDialog dialog(nullptr, core.get(), held(nivlet));
    const int result = runModal(&dialog, [&] {
        QTest::keyClicks(child<QLineEdit>(&dialog, "answerEdit"),
                         nivlet->possibleAnswers.at(0).toUpper());
        QTest::mouseClick(child<QPushButton>(&dialog, "checkButton"), Qt::LeftButton);
        checkAnsweredLayout(dialog, true);
        QTest::mouseClick(child<QPushButton>(&dialog, "nextButton"), Qt::LeftButton);
    });
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(dialog.outcome(), 1);
    QVERIFY(!core->pendingNivlet());
    QCOMPARE(storedRate(id), rate * 0.5 + 0.5);

    QVERIFY(core->activeListStale());
    QVERIFY(core->reloadActiveNivlets());
    for (int i = 0; i < 10; ++i) {
        Nivlet *next = core->nextNivlet();
        QVERIFY(next);
        if (i == 0)
            QVERIFY(next->id != id);
    }
}

void TestChallenge::laterPlease()
{
    Nivlet *nivlet = record(1);
    ChallengeDialog dialog(nullptr, core.get(), held(nivlet));
    QSignalSpy rejected(&dialog, &QDialog::rejected);
    const int result = runModal(&dialog, [&] {
        QTest::keyClicks(child<QLineEdit>(&dialog, "answerEdit"), QStringLiteral("paris"));
        QTest::mouseClick(child<QPushButton>(&dialog, "laterButton"), Qt::LeftButton);
    });
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(rejected.count(), 1);
    QCOMPARE(dialog.outcome(), 0);
    QVERIFY(!ChallengeDialogTestAccess::answered(&dialog));
    QCOMPARE(core->pendingNivlet(), nivlet);
    QCOMPARE(storedRate(1), 0.5);
    QCOMPARE(nivlet->knRate, 0.5);
    QCOMPARE(core->nextNivlet(), nivlet);
    QCOMPARE(core->lastAskedId(), qint64(1));
}

void TestChallenge::closingBeforeCheck()
{
    Nivlet *nivlet = record(2);
    ChallengeDialog dialog(nullptr, core.get(), held(nivlet));
    QSignalSpy rejected(&dialog, &QDialog::rejected);
    QSignalSpy finished(&dialog, &QDialog::finished);
    const int result = runModal(&dialog, [&] { QVERIFY(dialog.close()); });
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(rejected.count(), 0);
    QCOMPARE(finished.count(), 0);
    QVERIFY(dialog.isHidden());
    QCOMPARE(core->pendingNivlet(), nivlet);
    QCOMPARE(storedRate(2), 0.25);
}

void TestChallenge::closingAfterCheck()
{
    Nivlet *nivlet = record(2);
    ChallengeDialog dialog(nullptr, core.get(), held(nivlet));
    const int result = runModal(&dialog, [&] {
        QTest::mouseClick(child<QPushButton>(&dialog, "checkButton"), Qt::LeftButton);
        QVERIFY(dialog.close());
    });
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(dialog.outcome(), 0);
    QVERIFY(!core->pendingNivlet());
    QCOMPARE(storedRate(2), 0.125);
}

void TestChallenge::failingRateWriteKeepsTheNewRate()
{
    Nivlet *nivlet = record(3);
    // The lock lasts; waiting the user's few seconds for it would prove nothing.
    core->setBusyTimeout(50);
    ChallengeDialog dialog(nullptr, core.get(), held(nivlet));
    TestSupport::BoxCatcher boxes;
    const int result = runModal(&dialog, [&] {
        QTest::keyClicks(child<QLineEdit>(&dialog, "answerEdit"), QStringLiteral("seine"));
        {
            TestSupport::LockingConnection lock;
            QVERIFY(lock.locked);
            QTest::mouseClick(child<QPushButton>(&dialog, "checkButton"), Qt::LeftButton);
        }
        QCOMPARE(boxes.titles, QStringList{QStringLiteral("Error")});
        QVERIFY2(boxes.texts.value(0).startsWith(
                     QStringLiteral("Could not set knowledge-rate for nivlet. error code: 5 ")),
                 qPrintable(boxes.texts.value(0)));
        QVERIFY(ChallengeDialogTestAccess::answered(&dialog));
        checkAnsweredLayout(dialog, true);
        QCOMPARE(child<QLabel>(&dialog, "knRateLabel")->text(), QStringLiteral("88%"));
        QTest::mouseClick(child<QPushButton>(&dialog, "closeButton"), Qt::LeftButton);
    });
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(nivlet->knRate, 0.875);
    QCOMPARE(storedRate(3), 0.75);
}

void TestChallenge::userTextIsPlain()
{
    QVERIFY(core->editBook(core->book(0), QStringLiteral("<b>Geo</b>graphy"), true));
    Nivlet *nivlet = record(3);
    nivlet->question = QStringLiteral("<img src=\"x.png\"> <i>river</i>?");
    nivlet->answer = QStringLiteral("<b>Seine</b>");
    ChallengeDialog dialog(nullptr, core.get(), held(nivlet));
    QCOMPARE(child<QLabel>(&dialog, "bookLabel")->textFormat(), Qt::PlainText);
    QCOMPARE(child<QLabel>(&dialog, "bookLabel")->text(), QStringLiteral("<b>Geo</b>graphy"));
    QCOMPARE(child<QTextEdit>(&dialog, "questionEdit")->toPlainText(), nivlet->question);
    dialog.check();
    QCOMPARE(child<QTextEdit>(&dialog, "correctAnswersEdit")->toPlainText(),
             QStringLiteral("<b>Seine</b>"));
}

void TestChallenge::nivletWithoutBook()
{
    const std::shared_ptr<Nivlet> lost(core->getNivlet(4));
    QVERIFY(lost);
    QVERIFY(!lost->book);
    ChallengeDialog dialog(nullptr, core.get(), lost);
    QVERIFY(child<QLabel>(&dialog, "bookLabel")->text().isEmpty());
    QCOMPARE(child<QLabel>(&dialog, "knRateLabel")->text(), QStringLiteral("0%"));
    const int result = runModal(&dialog, [&] {
        QTest::keyClicks(child<QLineEdit>(&dialog, "answerEdit"), QStringLiteral("LOST"));
        QTest::mouseClick(child<QPushButton>(&dialog, "checkButton"), Qt::LeftButton);
        checkAnsweredLayout(dialog, true);
        QCOMPARE(child<QLabel>(&dialog, "knRateLabel")->text(), QStringLiteral("50%"));
        QTest::mouseClick(child<QPushButton>(&dialog, "nextButton"), Qt::LeftButton);
    });
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(dialog.outcome(), 1);
    QCOMPARE(storedRate(4), 0.5);
}

void TestChallenge::runsModallyOverItsParent()
{
    QWidget parent;
    parent.resize(600, 500);
    parent.show();
    QVERIFY(QTest::qWaitForWindowExposed(&parent));
    Nivlet *nivlet = record(1);
    auto *dialog = new ChallengeDialog(&parent, core.get(), held(nivlet));
    QCOMPARE(dialog->parentWidget(), &parent);
    QVERIFY(dialog->isWindow());
    bool modal = false;
    const int result = runModal(dialog, [&] {
        modal = dialog->isModal() && QApplication::activeModalWidget() == dialog;
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        QTest::mouseClick(child<QPushButton>(dialog, "laterButton"), Qt::LeftButton);
    });
    QVERIFY(modal);
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(core->pendingNivlet(), nivlet);
    delete dialog;
}

void TestChallenge::checkByKeyboard_data()
{
    QTest::addColumn<int>("way");
    QTest::newRow("space on the button") << 0;
    QTest::newRow("accelerator") << 1;
}

void TestChallenge::checkByKeyboard()
{
    QFETCH(int, way);
    Nivlet *nivlet = record(1);
    ChallengeDialog dialog(nullptr, core.get(), held(nivlet));
    const int result = runModal(&dialog, [&] {
        dialog.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QTest::keyClicks(child<QLineEdit>(&dialog, "answerEdit"), QStringLiteral("paris"));
        if (way == 0) {
            child<QPushButton>(&dialog, "checkButton")->setFocus();
            QTest::keyClick(child<QPushButton>(&dialog, "checkButton"), Qt::Key_Space);
        } else {
            QTest::keyClick(child<QLineEdit>(&dialog, "answerEdit"), Qt::Key_C, Qt::AltModifier);
        }
        QTRY_VERIFY(ChallengeDialogTestAccess::answered(&dialog));
        checkAnsweredLayout(dialog, true);
        if (way == 0) {
            child<QPushButton>(&dialog, "closeButton")->setFocus();
            QTest::keyClick(child<QPushButton>(&dialog, "closeButton"), Qt::Key_Space);
        } else {
            QTest::keyClick(child<QLineEdit>(&dialog, "answerEdit"), Qt::Key_N, Qt::AltModifier);
        }
        QTRY_VERIFY(!dialog.isVisible());
    });
    QCOMPARE(result, int(way == 0 ? QDialog::Rejected : QDialog::Accepted));
    QCOMPARE(dialog.outcome(), way == 0 ? 0 : 1);
    QCOMPARE(storedRate(1), 0.75);
}

// The rows a dialog adds come below the question in the order added, also
// after it is shown, and the buttons stay in the last row.
void TestChallenge::baseKeepsTheButtonRowLast()
{
    PlacesDialog dialog(record(2));
    const QLayout *main = dialog.layout();
    QCOMPARE(main->count(), 7);
    QVERIFY(qobject_cast<QGridLayout *>(main->itemAt(0)->layout()));
    QCOMPARE(main->itemAt(3)->widget(), child<QTextEdit>(&dialog, "questionEdit"));
    QCOMPARE(qobject_cast<QLabel *>(main->itemAt(4)->widget())->text(),
             QStringLiteral("First row"));
    QVERIFY(qobject_cast<QHBoxLayout *>(main->itemAt(5)->layout()));
    auto *buttons = child<QHBoxLayout>(&dialog, "buttonRow");
    QCOMPARE(main->itemAt(6)->layout(), buttons);
    QCOMPARE(buttons->alignment(), Qt::Alignment(Qt::AlignLeft));
    QCOMPARE(buttons->count(), 2);
    QCOMPARE(qobject_cast<QPushButton *>(buttons->itemAt(1)->widget())->text(),
             QStringLiteral("Second button"));

    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    dialog.addLaterRow();
    QCOMPARE(main->count(), 8);
    QCOMPARE(qobject_cast<QLabel *>(main->itemAt(6)->widget())->text(),
             QStringLiteral("Later row"));
    QCOMPARE(main->itemAt(7)->layout(), buttons);
}

QTEST_MAIN(TestChallenge)
#include "tst_challenge.moc"
