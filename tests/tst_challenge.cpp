#include "book.h"
#include "challengedialog.h"
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
    QCOMPARE(dialog.core, core.get());
    QCOMPARE(dialog.nivlet, nivlet);
    QVERIFY(!dialog.answered);
    QCOMPARE(dialog.outcome, 0);
    QVERIFY(!dialog.correctAnswersEdit);
    QVERIFY(!dialog.nextButton);
    QVERIFY(!dialog.closeButton);
    QVERIFY(!dialog.correctionButton);

    QVBoxLayout *main = dialog.mainLayout;
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
    QCOMPARE(grid->itemAtPosition(0, 1)->widget(), dialog.bookLabel);
    QCOMPARE(dialog.bookLabel->text(), QStringLiteral("Geography"));
    auto *rateCaption = qobject_cast<QLabel *>(grid->itemAtPosition(1, 0)->widget());
    QVERIFY(rateCaption);
    QCOMPARE(rateCaption->text(), QStringLiteral("Knowledge rate:"));
    QCOMPARE(grid->itemAtPosition(1, 1)->widget(), dialog.knRateLabel);
    QCOMPARE(dialog.knRateLabel->text(), QStringLiteral("50%"));

    QSpacerItem *spacing = main->itemAt(2)->spacerItem();
    QVERIFY(spacing);
    QCOMPARE(spacing->sizeHint().height(), 10);

    auto *questionCaption = qobject_cast<QLabel *>(main->itemAt(3)->widget());
    QVERIFY(questionCaption);
    QCOMPARE(questionCaption->text(), QStringLiteral("Question:"));
    QCOMPARE(main->itemAt(4)->widget(), dialog.questionEdit);
    QCOMPARE(dialog.questionEdit->toPlainText(),
             QStringLiteral("Which city is the capital of France?"));
    QVERIFY(dialog.questionEdit->isReadOnly());
    QVERIFY(!dialog.questionEdit->isEnabled());
    QVERIFY(dialog.questionEdit->tabChangesFocus());
    QCOMPARE(textColorAt(dialog.questionEdit, 1), QColor(0, 0, 0, 255));

    QCOMPARE(main->itemAt(5)->widget(), dialog.answerLabel);
    QCOMPARE(dialog.answerLabel->text(), QStringLiteral("Type your answer here:"));
    QCOMPARE(main->itemAt(6)->widget(), dialog.answerEdit);
    QVERIFY(!dialog.answerEdit->isReadOnly());
    QVERIFY(dialog.answerEdit->text().isEmpty());

    QCOMPARE(main->itemAt(7)->layout(), dialog.buttonLayout);
    QCOMPARE(dialog.buttonLayout->alignment(), Qt::Alignment(Qt::AlignLeft));
    QCOMPARE(dialog.buttonLayout->count(), 2);
    QCOMPARE(dialog.buttonLayout->itemAt(0)->widget(), dialog.checkButton);
    QCOMPARE(dialog.buttonLayout->itemAt(1)->widget(), dialog.laterButton);
    QCOMPARE(dialog.checkButton->text(), QStringLiteral("&Check it!"));
    QVERIFY(dialog.checkButton->isDefault());
    QVERIFY(!dialog.checkButton->icon().isNull());
    QVERIFY(hasFixedWidth(dialog.checkButton, 110));
    QCOMPARE(dialog.laterButton->text(), QStringLiteral("&Later please!"));
    QVERIFY(!dialog.laterButton->isDefault());
    QVERIFY(!dialog.laterButton->icon().isNull());
    QVERIFY(hasFixedWidth(dialog.laterButton, 110));
}

void TestChallenge::checkAnsweredLayout(ChallengeDialog &dialog, bool correct)
{
    QVBoxLayout *main = dialog.mainLayout;
    QCOMPARE(main->count(), 11);
    QCOMPARE(main->itemAt(5)->widget(), dialog.answerLabel);
    QCOMPARE(dialog.answerLabel->text(), QStringLiteral("Your answer:"));
    QCOMPARE(main->itemAt(6)->widget(), dialog.answerEdit);
    QVERIFY(dialog.answerEdit->isReadOnly());

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
        QVERIFY(!dialog.correctionButton);
    } else {
        QCOMPARE(row->count(), 3);
        QVERIFY(dialog.correctionButton);
        QCOMPARE(row->itemAt(1)->widget(), dialog.correctionButton);
        QCOMPARE(dialog.correctionButton->text(), QStringLiteral("Hey, my answer is good!..."));
        QVERIFY(!dialog.correctionButton->icon().isNull());
        QVERIFY(hasFixedWidth(dialog.correctionButton, 170));
        QTRY_VERIFY(dialog.correctionButton->isVisible());
    }
    QSpacerItem *stretch = row->itemAt(row->count() - 1)->spacerItem();
    QVERIFY(stretch);
    QCOMPARE(row->stretch(row->count() - 1), 1);

    auto *caption = qobject_cast<QLabel *>(main->itemAt(8)->widget());
    QVERIFY(caption);
    QCOMPARE(caption->text(), QStringLiteral("Correct answers:"));
    QCOMPARE(main->itemAt(9)->widget(), dialog.correctAnswersEdit);
    QCOMPARE(dialog.correctAnswersEdit->toPlainText(), dialog.nivlet->answer);
    QVERIFY(dialog.correctAnswersEdit->isReadOnly());
    QVERIFY(!dialog.correctAnswersEdit->isEnabled());
    QCOMPARE(textColorAt(dialog.correctAnswersEdit, 1), QColor(0, 0, 0, 255));

    QCOMPARE(main->itemAt(10)->layout(), dialog.buttonLayout);
    QCOMPARE(dialog.buttonLayout->count(), 2);
    QCOMPARE(dialog.buttonLayout->itemAt(0)->widget(), dialog.nextButton);
    QCOMPARE(dialog.buttonLayout->itemAt(1)->widget(), dialog.closeButton);
    QCOMPARE(dialog.nextButton->text(), QStringLiteral("&Next challenge!"));
    QCOMPARE(dialog.closeButton->text(), QStringLiteral("&Close"));
    for (QPushButton *button : {dialog.nextButton, dialog.closeButton}) {
        QVERIFY(hasFixedWidth(button, 110));
        QVERIFY(!button->icon().isNull());
        QTRY_VERIFY(button->isVisible());
    }
    QVERIFY(!dialog.checkButton);
    QVERIFY(!dialog.laterButton);
    QVERIFY(dialog.answered);
}

void TestChallenge::correctAnswerInCapitalsWithBlanks()
{
    Nivlet *nivlet = record(1);
    ChallengeDialog dialog(nullptr, core.get(), held(nivlet));
    const int result = runModal(&dialog, [&] {
        QTest::keyClicks(dialog.answerEdit, QStringLiteral("   LUTETIA    "));
        QCOMPARE(dialog.knRateLabel->text(), QStringLiteral("50%"));
        QPointer<QPushButton> oldCheck = dialog.checkButton;
        QPointer<QPushButton> oldLater = dialog.laterButton;
        QTest::mouseClick(dialog.checkButton, Qt::LeftButton);

        QVERIFY(dialog.answered);
        QCOMPARE(dialog.knRateLabel->text(), QStringLiteral("75%"));
        QCOMPARE(nivlet->knRate, 0.75);
        QCOMPARE(storedRate(1), 0.75);
        QVERIFY(core->activeListStale());
        QCOMPARE(dialog.answerEdit->text(), QStringLiteral("   LUTETIA    "));
        checkAnsweredLayout(dialog, true);
        // The old buttons vanish at once and are destroyed afterwards.
        QVERIFY(!oldCheck || (oldCheck->isHidden() && dialog.buttonLayout->indexOf(oldCheck) < 0));
        QVERIFY(!oldLater || (oldLater->isHidden() && dialog.buttonLayout->indexOf(oldLater) < 0));
        QTRY_VERIFY(oldCheck.isNull());
        QTRY_VERIFY(oldLater.isNull());

        QTest::mouseClick(dialog.closeButton, Qt::LeftButton);
    });
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(dialog.outcome, 0);
    QVERIFY(!core->pendingNivlet());
    QCOMPARE(storedRate(1), 0.75);
    QCOMPARE(storedRate(2), 0.25);
}

void TestChallenge::returnKeyChecks()
{
    Nivlet *nivlet = record(2);
    ChallengeDialog dialog(nullptr, core.get(), held(nivlet));
    const int result = runModal(&dialog, [&] {
        dialog.answerEdit->setFocus();
        QTest::keyClicks(dialog.answerEdit, QStringLiteral("le havre"));
        QTest::keyClick(dialog.answerEdit, Qt::Key_Return);
        QVERIFY(dialog.answered);
        checkAnsweredLayout(dialog, true);
        QCOMPARE(dialog.knRateLabel->text(), QStringLiteral("63%"));
        QCOMPARE(storedRate(2), 0.625);
        QTest::keyClick(dialog.answerEdit, Qt::Key_Return);
        dialog.check();
        QCOMPARE(dialog.knRateLabel->text(), QStringLiteral("63%"));
        QCOMPARE(storedRate(2), 0.625);
        checkAnsweredLayout(dialog, true);
        QTest::keyClick(dialog.answerEdit, Qt::Key_Escape);
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
        QTest::keyClicks(dialog.answerEdit, typed);
        QVERIFY(dialog.checkButton->isEnabled());
        QTest::mouseClick(dialog.checkButton, Qt::LeftButton);
        QCOMPARE(dialog.knRateLabel->text(), QStringLiteral("25%"));
        QCOMPARE(nivlet->knRate, 0.25);
        QCOMPARE(storedRate(1), 0.25);
        checkAnsweredLayout(dialog, false);
        QTest::mouseClick(dialog.closeButton, Qt::LeftButton);
    });
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(dialog.outcome, 0);
    QVERIFY(!core->pendingNivlet());
}

void TestChallenge::escapeBeforeCheck()
{
    Nivlet *nivlet = core->nextNivlet();
    QVERIFY(nivlet);
    const double rate = nivlet->knRate;
    ChallengeDialog dialog(nullptr, core.get(), held(nivlet));
    const int result = runModal(&dialog, [&] {
        QTest::keyClicks(dialog.answerEdit, QStringLiteral("something"));
        QTest::keyClick(dialog.answerEdit, Qt::Key_Escape);
    });
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(dialog.outcome, 0);
    QVERIFY(!dialog.answered);
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
        QTest::keyClicks(dialog.answerEdit, QStringLiteral("Loire"));
        QTest::mouseClick(dialog.checkButton, Qt::LeftButton);
        QCOMPARE(dialog.knRateLabel->text(), QStringLiteral("38%"));
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
        QTest::keyClicks(dialog.answerEdit, QStringLiteral(" Harfleur  "));
        QTest::mouseClick(dialog.checkButton, Qt::LeftButton);
        checkAnsweredLayout(dialog, false);
        QCOMPARE(dialog.knRateLabel->text(), QStringLiteral("13%"));
        QTest::mouseClick(dialog.correctionButton, Qt::LeftButton);
    });
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(dialog.outcome, 2);
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
        QTest::keyClicks(dialog.answerEdit, nivlet->possibleAnswers.at(0).toUpper());
        QTest::mouseClick(dialog.checkButton, Qt::LeftButton);
        checkAnsweredLayout(dialog, true);
        QTest::mouseClick(dialog.nextButton, Qt::LeftButton);
    });
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(dialog.outcome, 1);
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
        QTest::keyClicks(dialog.answerEdit, QStringLiteral("paris"));
        QTest::mouseClick(dialog.laterButton, Qt::LeftButton);
    });
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(rejected.count(), 1);
    QCOMPARE(dialog.outcome, 0);
    QVERIFY(!dialog.answered);
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
        QTest::mouseClick(dialog.checkButton, Qt::LeftButton);
        QVERIFY(dialog.close());
    });
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(dialog.outcome, 0);
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
        QTest::keyClicks(dialog.answerEdit, QStringLiteral("seine"));
        {
            TestSupport::LockingConnection lock;
            QVERIFY(lock.locked);
            QTest::mouseClick(dialog.checkButton, Qt::LeftButton);
        }
        QCOMPARE(boxes.titles, QStringList{QStringLiteral("Error")});
        QVERIFY2(boxes.texts.value(0).startsWith(
                     QStringLiteral("Could not set knowledge-rate for nivlet. error code: 5 ")),
                 qPrintable(boxes.texts.value(0)));
        QVERIFY(dialog.answered);
        checkAnsweredLayout(dialog, true);
        QCOMPARE(dialog.knRateLabel->text(), QStringLiteral("88%"));
        QTest::mouseClick(dialog.closeButton, Qt::LeftButton);
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
    QCOMPARE(dialog.bookLabel->textFormat(), Qt::PlainText);
    QCOMPARE(dialog.bookLabel->text(), QStringLiteral("<b>Geo</b>graphy"));
    QCOMPARE(dialog.questionEdit->toPlainText(), nivlet->question);
    dialog.check();
    QCOMPARE(dialog.correctAnswersEdit->toPlainText(), QStringLiteral("<b>Seine</b>"));
}

void TestChallenge::nivletWithoutBook()
{
    const std::shared_ptr<Nivlet> lost(core->getNivlet(4));
    QVERIFY(lost);
    QVERIFY(!lost->book);
    ChallengeDialog dialog(nullptr, core.get(), lost);
    QVERIFY(dialog.bookLabel->text().isEmpty());
    QCOMPARE(dialog.knRateLabel->text(), QStringLiteral("0%"));
    const int result = runModal(&dialog, [&] {
        QTest::keyClicks(dialog.answerEdit, QStringLiteral("LOST"));
        QTest::mouseClick(dialog.checkButton, Qt::LeftButton);
        checkAnsweredLayout(dialog, true);
        QCOMPARE(dialog.knRateLabel->text(), QStringLiteral("50%"));
        QTest::mouseClick(dialog.nextButton, Qt::LeftButton);
    });
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(dialog.outcome, 1);
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
        QTest::mouseClick(dialog->laterButton, Qt::LeftButton);
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
        QTest::keyClicks(dialog.answerEdit, QStringLiteral("paris"));
        if (way == 0) {
            dialog.checkButton->setFocus();
            QTest::keyClick(dialog.checkButton, Qt::Key_Space);
        } else {
            QTest::keyClick(dialog.answerEdit, Qt::Key_C, Qt::AltModifier);
        }
        QTRY_VERIFY(dialog.answered);
        checkAnsweredLayout(dialog, true);
        if (way == 0) {
            dialog.closeButton->setFocus();
            QTest::keyClick(dialog.closeButton, Qt::Key_Space);
        } else {
            QTest::keyClick(dialog.answerEdit, Qt::Key_N, Qt::AltModifier);
        }
        QTRY_VERIFY(!dialog.isVisible());
    });
    QCOMPARE(result, int(way == 0 ? QDialog::Rejected : QDialog::Accepted));
    QCOMPARE(dialog.outcome, way == 0 ? 0 : 1);
    QCOMPARE(storedRate(1), 0.75);
}

QTEST_MAIN(TestChallenge)
#include "tst_challenge.moc"
