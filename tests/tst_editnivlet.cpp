#include "book.h"
#include "bookcombobox.h"
#include "editnivletdialog.h"
#include "guiutil.h"
#include "nivlet.h"
#include "nivletcore.h"
#include "testsupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpacerItem>
#include <QTest>
#include <QTextEdit>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

using TestSupport::child;

namespace {
// Book 1 is switched off, so the first active book is the second one.
const char rows[] =
    "INSERT INTO book (id, name, active) VALUES (1, 'Dormant', 0), (2, 'Rivers', 1),"
    " (3, 'Mountains', 1);\n"
    "INSERT INTO nivlet (id, active, kn_rate, book_id, question, answer) VALUES\n"
    " (1, 1, 0.3, 2, 'Longest river?', 'Nile'),\n"
    " (2, 0, 0.8, 3, 'Highest mountain?', 'Everest\n'),\n"
    " (3, 1, 0.5, 99, 'Whose book is gone?', 'nobody''s');\n";

struct Row
{
    bool found = false;
    bool active = false;
    double rate = -1.0;
    qint64 bookId = -1;
    QString question;
    QString answer;
};

// Read through a connection of its own, as any other program would see the file.
Row readRow(qint64 id)
{
    Row row;
    const TestSupport::ReadConnection connection;
    SqlStatement stmt = connection.query(QStringLiteral(
        "SELECT active, kn_rate, book_id, question, answer FROM nivlet WHERE id = ?"));
    if (!stmt)
        return row;
    stmt.bindInt64(1, id);
    if (stmt.next()) {
        row.found = true;
        row.active = stmt.columnBool(0);
        row.rate = stmt.columnDouble(1);
        row.bookId = stmt.columnInt64(2);
        row.question = QString::fromUtf8(stmt.columnUtf8(3));
        row.answer = QString::fromUtf8(stmt.columnUtf8(4));
    }
    return row;
}

// -1 when the file cannot be read.
int nivletCount()
{
    bool ok = false;
    const int count =
        TestSupport::rows(QStringLiteral("SELECT COUNT(*) FROM nivlet")).value(0).toInt(&ok);
    return ok ? count : -1;
}

// The given width, or the width the button's text and icon need when the
// desktop font is larger; never the style's smallest width for any button.
bool hasFixedWidth(QPushButton *button, int width)
{
    const int expected = std::max(width, GuiUtil::neededButtonWidth(button));
    return button->minimumWidth() == expected && button->maximumWidth() == expected;
}
} // namespace

class TestEditNivlet : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void buildsTheNewNivletWindow();
    void newNivletIsSaved();
    void textsAreStoredAsTyped();
    void markupStaysText();
    void refusals_data();
    void refusals();
    void bothEmptyShowsOnlyTheQuestionMessage();
    void focusRule_data();
    void focusRule();
    void preselectedBook_data();
    void preselectedBook();
    void newNivletWithoutAnyBook();
    void editShowsTheNivlet();
    void editKeepsTheRate();
    void cancelWritesNothing();
    void correctionPath_data();
    void correctionPath();
    void missingNivletIsNotShown();
    void unreadableNivletIsReported();
    void nivletWithMissingBook();
    void failingWriteKeepsTheInput_data();
    void failingWriteKeepsTheInput();

private:
    std::unique_ptr<TestSupport::WorkDir> work;
    std::unique_ptr<NivletCore> core;
    std::unique_ptr<TestSupport::BoxCatcher> boxes;
};

void TestEditNivlet::init()
{
    work = std::make_unique<TestSupport::WorkDir>();
    QVERIFY(work->isValid());
    QVERIFY(TestSupport::createDatabase(work->path(), QString::fromUtf8(rows)));
    core = std::make_unique<NivletCore>();
    QVERIFY(core->open());
    // The locks these tests take are held on purpose; waiting for them would only slow the run.
    core->setBusyTimeout(50);
    boxes = std::make_unique<TestSupport::BoxCatcher>();
}

void TestEditNivlet::cleanup()
{
    while (QWidget *modal = QApplication::activeModalWidget()) {
        modal->close();
        QTest::qWait(10);
    }
    boxes.reset();
    core.reset();
    work.reset();
}

void TestEditNivlet::buildsTheNewNivletWindow()
{
    EditNivletDialog dialog(nullptr, core.get(), -1, QString());
    QVERIFY(!dialog.findChild<BookComboBox *>(QStringLiteral("bookCombo")));
    QVERIFY(dialog.setupUi(nullptr, QString(), false));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("New nivlet"));
    QCOMPARE(dialog.size(), QSize(440, 440));

    auto *main = qobject_cast<QVBoxLayout *>(dialog.layout());
    QVERIFY(main);
    QCOMPARE(main->count(), 8);
    auto *grid = qobject_cast<QGridLayout *>(main->itemAt(0)->layout());
    QVERIFY(grid);
    QCOMPARE(grid->columnStretch(1), 1);
    QCOMPARE(grid->horizontalSpacing(), 6);
    QCOMPARE(grid->verticalSpacing(), 6);
    const auto caption = [&](int row) {
        auto *label = qobject_cast<QLabel *>(grid->itemAtPosition(row, 0)->widget());
        return label ? label->text() : QString();
    };
    QCOMPARE(caption(0), QStringLiteral("Book:"));
    QCOMPARE(grid->itemAtPosition(0, 1)->widget(), child<BookComboBox>(&dialog, "bookCombo"));
    QVERIFY(!child<BookComboBox>(&dialog, "bookCombo")->hasAllBooksEntry());
    QVERIFY(child<BookComboBox>(&dialog, "bookCombo")->isEnabled());
    QCOMPARE(child<BookComboBox>(&dialog, "bookCombo")->count(), 3);
    QVERIFY(!grid->itemAtPosition(1, 0));
    QCOMPARE(grid->itemAtPosition(1, 1)->widget(), child<QCheckBox>(&dialog, "activeCheck"));
    QCOMPARE(child<QCheckBox>(&dialog, "activeCheck")->text(), QStringLiteral("Active"));
    QVERIFY(child<QCheckBox>(&dialog, "activeCheck")->isChecked());
    QCOMPARE(caption(2), QStringLiteral("Knowledge rate:"));
    QCOMPARE(grid->itemAtPosition(2, 1)->widget(), child<QLabel>(&dialog, "knRateLabel"));
    QCOMPARE(child<QLabel>(&dialog, "knRateLabel")->text(), QStringLiteral("0%"));

    QCOMPARE(main->itemAt(1)->spacerItem()->sizeHint().height(), 10);
    QCOMPARE(qobject_cast<QLabel *>(main->itemAt(2)->widget())->text(),
             QStringLiteral("Question:"));
    QCOMPARE(main->itemAt(3)->widget(), child<QTextEdit>(&dialog, "questionEdit"));
    QVERIFY(child<QTextEdit>(&dialog, "questionEdit")->tabChangesFocus());
    QVERIFY(!child<QTextEdit>(&dialog, "questionEdit")->acceptRichText());
    QCOMPARE(main->itemAt(4)->spacerItem()->sizeHint().height(), 5);
    QCOMPARE(qobject_cast<QLabel *>(main->itemAt(5)->widget())->text(),
             QStringLiteral("Possible answers (one in each line):"));
    QCOMPARE(main->itemAt(6)->widget(), child<QTextEdit>(&dialog, "answersEdit"));
    QVERIFY(child<QTextEdit>(&dialog, "answersEdit")->tabChangesFocus());
    QVERIFY(!child<QTextEdit>(&dialog, "answersEdit")->acceptRichText());
    QVERIFY(child<QTextEdit>(&dialog, "answersEdit")->toPlainText().isEmpty());

    auto *buttons = qobject_cast<QHBoxLayout *>(main->itemAt(7)->layout());
    QVERIFY(buttons);
    QCOMPARE(buttons->alignment(), Qt::Alignment(Qt::AlignLeft));
    QCOMPARE(buttons->itemAt(0)->widget(), child<QPushButton>(&dialog, "okButton"));
    QCOMPARE(buttons->itemAt(1)->widget(), child<QPushButton>(&dialog, "cancelButton"));
    QCOMPARE(child<QPushButton>(&dialog, "okButton")->text(), QStringLiteral("&Ok"));
    QVERIFY(child<QPushButton>(&dialog, "okButton")->isDefault());
    QVERIFY(hasFixedWidth(child<QPushButton>(&dialog, "okButton"), 50));
    QCOMPARE(child<QPushButton>(&dialog, "cancelButton")->text(), QStringLiteral("&Cancel"));
    QVERIFY(!child<QPushButton>(&dialog, "cancelButton")->isDefault());
    QVERIFY(hasFixedWidth(child<QPushButton>(&dialog, "cancelButton"), 50));
    // Both texts fit in the test's font, so the style's smallest width of a
    // button with a text (80 pixels) must not show.
    for (QPushButton *button :
         {child<QPushButton>(&dialog, "okButton"), child<QPushButton>(&dialog, "cancelButton")}) {
        QVERIFY(GuiUtil::neededButtonWidth(button) <= 50);
        QCOMPARE(button->width(), 50);
    }
}

void TestEditNivlet::newNivletIsSaved()
{
    const int before = nivletCount();
    const int bookCount = core->book(2)->nivletCount;
    EditNivletDialog dialog(nullptr, core.get(), -1, QString());
    QVERIFY(dialog.setupUi(core->book(2), QStringLiteral("Highest mountain in Africa?"), false));
    const int result = TestSupport::runModal(&dialog, [&] {
        child<QTextEdit>(&dialog, "answersEdit")
            ->setPlainText(QStringLiteral("Kilimanjaro\nKibo # its summit"));
        child<QCheckBox>(&dialog, "activeCheck")->setChecked(false);
        QTest::mouseClick(child<QPushButton>(&dialog, "okButton"), Qt::LeftButton);
    });
    QCOMPARE(result, int(QDialog::Accepted));
    QVERIFY(boxes->texts.isEmpty());
    QCOMPARE(nivletCount(), before + 1);
    QCOMPARE(core->book(2)->nivletCount, bookCount + 1);
    QVERIFY(core->activeListStale());
    const Row row = readRow(4);
    QVERIFY(row.found);
    QCOMPARE(row.question, QStringLiteral("Highest mountain in Africa?"));
    QCOMPARE(row.answer, QStringLiteral("Kilimanjaro\nKibo # its summit"));
    QCOMPARE(row.bookId, 3);
    QVERIFY(!row.active);
}

void TestEditNivlet::textsAreStoredAsTyped()
{
    EditNivletDialog dialog(nullptr, core.get(), -1, QString());
    QVERIFY(dialog.setupUi(nullptr, QString(), true));
    const QString question = QStringLiteral("  Spaced\tquestion \n");
    const QString answer = QStringLiteral("\n  Answer  \n");
    const int result = TestSupport::runModal(&dialog, [&] {
        child<QTextEdit>(&dialog, "questionEdit")->setPlainText(question);
        child<QTextEdit>(&dialog, "answersEdit")->setPlainText(answer);
        QTest::keyClick(child<QPushButton>(&dialog, "okButton"), Qt::Key_Space);
    });
    QCOMPARE(result, int(QDialog::Accepted));
    const Row row = readRow(4);
    QCOMPARE(row.question, question);
    QCOMPARE(row.answer, answer);
    QCOMPARE(row.bookId, 2);
}

void TestEditNivlet::markupStaysText()
{
    const QString question = QStringLiteral("<b>x</b> <img src=\"/nonexistent.png\">");
    const QString answer = QStringLiteral("<i>y</i>\n&amp;");
    QVERIFY(core->editNivlet(1, question, answer, true));
    EditNivletDialog dialog(nullptr, core.get(), 1, QString());
    QVERIFY(dialog.setupUi(nullptr, QString(), false));
    QCOMPARE(child<QTextEdit>(&dialog, "questionEdit")->toPlainText(), question);
    QCOMPARE(child<QTextEdit>(&dialog, "answersEdit")->toPlainText(), answer);
    // No image may have been made of the tag.
    QVERIFY(!child<QTextEdit>(&dialog, "questionEdit")->toHtml().contains(QStringLiteral("<img")));
    const int result = TestSupport::runModal(&dialog, [&] {
        QTest::mouseClick(child<QPushButton>(&dialog, "okButton"), Qt::LeftButton);
    });
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(readRow(1).question, question);
    QCOMPARE(readRow(1).answer, answer);
}

void TestEditNivlet::refusals_data()
{
    QTest::addColumn<QString>("question");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("message");
    const QString noQuestion = QStringLiteral("The question must be provided.");
    const QString noAnswer = QStringLiteral("At least one possible answer must be provided.");
    QTest::newRow("blank question")
        << QStringLiteral(" \n\t \n ") << QStringLiteral("a") << noQuestion;
    QTest::newRow("empty question") << QString() << QStringLiteral("a") << noQuestion;
    QTest::newRow("comments only")
        << QStringLiteral("q") << QStringLiteral("# one\n  #two\n\n") << noAnswer;
    QTest::newRow("blank answers") << QStringLiteral("q") << QStringLiteral(" \n \n") << noAnswer;
    QTest::newRow("empty answers") << QStringLiteral("q") << QString() << noAnswer;
}

void TestEditNivlet::refusals()
{
    QFETCH(QString, question);
    QFETCH(QString, answer);
    QFETCH(QString, message);
    const int before = nivletCount();
    EditNivletDialog dialog(nullptr, core.get(), -1, QString());
    QVERIFY(dialog.setupUi(nullptr, QString(), true));
    bool stayedOpen = false;
    const int result = TestSupport::runModal(&dialog, [&] {
        child<QTextEdit>(&dialog, "questionEdit")->setPlainText(question);
        child<QTextEdit>(&dialog, "answersEdit")->setPlainText(answer);
        QTest::mouseClick(child<QPushButton>(&dialog, "okButton"), Qt::LeftButton);
        QTRY_COMPARE(boxes->texts.size(), 1);
        stayedOpen = dialog.isVisible() && QApplication::activeModalWidget() == &dialog;
    });
    QCOMPARE(result, -1);
    QVERIFY(stayedOpen);
    QCOMPARE(boxes->titles, QStringList{QStringLiteral("Error")});
    QCOMPARE(boxes->texts, QStringList{message});
    QCOMPARE(child<QTextEdit>(&dialog, "questionEdit")->toPlainText(), question);
    QCOMPARE(child<QTextEdit>(&dialog, "answersEdit")->toPlainText(), answer);
    QCOMPARE(nivletCount(), before);
    QVERIFY(TestSupport::readFile(QStringLiteral("nivlets.log")).isEmpty() ||
            TestSupport::readFile(QStringLiteral("nivlets.log")).contains(message));
}

void TestEditNivlet::bothEmptyShowsOnlyTheQuestionMessage()
{
    EditNivletDialog dialog(nullptr, core.get(), 1, QString());
    QVERIFY(dialog.setupUi(nullptr, QString(), false));
    child<QTextEdit>(&dialog, "questionEdit")->clear();
    child<QTextEdit>(&dialog, "answersEdit")->clear();
    dialog.onOk();
    QCOMPARE(boxes->texts, QStringList{QStringLiteral("The question must be provided.")});
    QCOMPARE(dialog.result(), 0);
    QCOMPARE(readRow(1).question, QStringLiteral("Longest river?"));
}

void TestEditNivlet::focusRule_data()
{
    QTest::addColumn<QString>("question");
    QTest::addColumn<bool>("inAnswers");
    QTest::newRow("question prefilled") << QStringLiteral("Capital") << true;
    QTest::newRow("no question") << QString() << false;
}

void TestEditNivlet::focusRule()
{
    QFETCH(QString, question);
    QFETCH(bool, inAnswers);
    EditNivletDialog dialog(nullptr, core.get(), -1, QString());
    QVERIFY(dialog.setupUi(nullptr, question, false));
    QWidget *focused = nullptr;
    TestSupport::runModal(&dialog, [&] {
        QTRY_VERIFY(QApplication::focusWidget());
        focused = QApplication::focusWidget();
    });
    QCOMPARE(focused, inAnswers
                          ? static_cast<QWidget *>(child<QTextEdit>(&dialog, "answersEdit"))
                          : static_cast<QWidget *>(child<QTextEdit>(&dialog, "questionEdit")));
    QCOMPARE(child<QTextEdit>(&dialog, "questionEdit")->toPlainText(), question);
}

void TestEditNivlet::preselectedBook_data()
{
    QTest::addColumn<int>("given");
    QTest::addColumn<bool>("preferActive");
    QTest::addColumn<int>("selected");
    QTest::newRow("given book") << 2 << true << 2;
    QTest::newRow("given inactive book") << 0 << true << 0;
    QTest::newRow("none, prefer active") << -1 << true << 1;
    QTest::newRow("none, no preference") << -1 << false << 0;
}

void TestEditNivlet::preselectedBook()
{
    QFETCH(int, given);
    QFETCH(bool, preferActive);
    QFETCH(int, selected);
    EditNivletDialog dialog(nullptr, core.get(), -1, QString());
    QVERIFY(dialog.setupUi(given < 0 ? nullptr : core->book(given), QString(), preferActive));
    QCOMPARE(child<BookComboBox>(&dialog, "bookCombo")->currentIndex(), selected);
    QCOMPARE(child<BookComboBox>(&dialog, "bookCombo")->currentBook(), core->book(selected));
}

void TestEditNivlet::newNivletWithoutAnyBook()
{
    QVERIFY(TestSupport::createDatabase(work->path()));
    core = std::make_unique<NivletCore>();
    QVERIFY(core->open());
    EditNivletDialog dialog(nullptr, core.get(), -1, QString());
    QVERIFY(dialog.setupUi(nullptr, QStringLiteral("q"), true));
    QCOMPARE(child<BookComboBox>(&dialog, "bookCombo")->currentIndex(), -1);
    child<QTextEdit>(&dialog, "answersEdit")->setPlainText(QStringLiteral("a"));
    dialog.onOk();
    QCOMPARE(boxes->texts, QStringList{QStringLiteral("A nivlet must belong to a book.")});
    QCOMPARE(dialog.result(), 0);
    QCOMPARE(nivletCount(), 0);
}

void TestEditNivlet::editShowsTheNivlet()
{
    EditNivletDialog dialog(nullptr, core.get(), 2, QString());
    QVERIFY(dialog.setupUi(core->book(0), QStringLiteral("ignored"), true));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Edit nivlet"));
    QCOMPARE(child<BookComboBox>(&dialog, "bookCombo")->currentBook(), core->book(2));
    QVERIFY(!child<BookComboBox>(&dialog, "bookCombo")->isEnabled());
    QVERIFY(!child<QCheckBox>(&dialog, "activeCheck")->isChecked());
    QCOMPARE(child<QLabel>(&dialog, "knRateLabel")->text(), QStringLiteral("80%"));
    QCOMPARE(child<QTextEdit>(&dialog, "questionEdit")->toPlainText(),
             QStringLiteral("Highest mountain?"));
    QCOMPARE(child<QTextEdit>(&dialog, "answersEdit")->toPlainText(), QStringLiteral("Everest\n"));
}

void TestEditNivlet::editKeepsTheRate()
{
    EditNivletDialog dialog(nullptr, core.get(), 1, QString());
    QVERIFY(dialog.setupUi(nullptr, QString(), false));
    QCOMPARE(child<QLabel>(&dialog, "knRateLabel")->text(), QStringLiteral("30%"));
    const int result = TestSupport::runModal(&dialog, [&] {
        child<QTextEdit>(&dialog, "questionEdit")
            ->setPlainText(QStringLiteral("Longest river on Earth?"));
        child<QTextEdit>(&dialog, "answersEdit")
            ->setPlainText(QStringLiteral("Nile\nAmazon # by some counts"));
        child<QCheckBox>(&dialog, "activeCheck")->setChecked(false);
        QTest::mouseClick(child<QPushButton>(&dialog, "okButton"), Qt::LeftButton);
    });
    QCOMPARE(result, int(QDialog::Accepted));
    const Row row = readRow(1);
    QCOMPARE(row.question, QStringLiteral("Longest river on Earth?"));
    QCOMPARE(row.answer, QStringLiteral("Nile\nAmazon # by some counts"));
    QVERIFY(!row.active);
    QCOMPARE(row.rate, 0.3);
    QCOMPARE(row.bookId, 2);
}

void TestEditNivlet::cancelWritesNothing()
{
    EditNivletDialog dialog(nullptr, core.get(), 1, QString());
    QVERIFY(dialog.setupUi(nullptr, QString(), false));
    const int result = TestSupport::runModal(&dialog, [&] {
        child<QTextEdit>(&dialog, "questionEdit")->setPlainText(QStringLiteral("changed"));
        QTest::mouseClick(child<QPushButton>(&dialog, "cancelButton"), Qt::LeftButton);
    });
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(readRow(1).question, QStringLiteral("Longest river?"));
    QVERIFY(!core->activeListStale());
}

void TestEditNivlet::correctionPath_data()
{
    QTest::addColumn<qint64>("id");
    QTest::addColumn<QString>("shown");
    QTest::newRow("no line feed at the end") << qint64(1) << QStringLiteral("Nile\nnil");
    QTest::newRow("line feed at the end") << qint64(2) << QStringLiteral("Everest\n\nnil");
}

void TestEditNivlet::correctionPath()
{
    QFETCH(qint64, id);
    QFETCH(QString, shown);
    EditNivletDialog dialog(nullptr, core.get(), id, QStringLiteral("\nnil"));
    QVERIFY(dialog.setupUi(nullptr, QString(), false));
    QCOMPARE(child<QTextEdit>(&dialog, "answersEdit")->toPlainText(), shown);
    const int result = TestSupport::runModal(&dialog, [&] {
        QTest::mouseClick(child<QPushButton>(&dialog, "okButton"), Qt::LeftButton);
    });
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(readRow(id).answer, shown);
    // The empty line between old and new text yields no entry.
    QStringList answers;
    Nivlet::parseAnswers(shown, answers);
    QCOMPARE(answers.last(), QStringLiteral("nil"));
    QVERIFY(!answers.contains(QString()));
}

void TestEditNivlet::missingNivletIsNotShown()
{
    EditNivletDialog dialog(nullptr, core.get(), 4242, QStringLiteral("\nx"));
    QVERIFY(!dialog.setupUi(nullptr, QString(), false));
    QVERIFY(!dialog.findChild<BookComboBox *>(QStringLiteral("bookCombo")));
    QTest::qWait(50);
    QVERIFY(boxes->texts.isEmpty());
}

void TestEditNivlet::unreadableNivletIsReported()
{
    TestSupport::LockingConnection lock;
    QVERIFY(lock.locked);
    EditNivletDialog dialog(nullptr, core.get(), 1, QString());
    QVERIFY(!dialog.setupUi(nullptr, QString(), false));
    QVERIFY(!dialog.findChild<BookComboBox *>(QStringLiteral("bookCombo")));
    QTRY_COMPARE(boxes->texts.size(), 1);
    QVERIFY2(boxes->texts.first().startsWith(
                 QStringLiteral("Could not get nivlet from database. error code: 5")),
             qPrintable(boxes->texts.first()));
}

void TestEditNivlet::nivletWithMissingBook()
{
    EditNivletDialog dialog(nullptr, core.get(), 3, QString());
    QVERIFY(dialog.setupUi(nullptr, QString(), true));
    QCOMPARE(child<BookComboBox>(&dialog, "bookCombo")->currentIndex(), -1);
    QCOMPARE(child<BookComboBox>(&dialog, "bookCombo")->currentBook(), nullptr);
    QVERIFY(!child<BookComboBox>(&dialog, "bookCombo")->isEnabled());
    const int result = TestSupport::runModal(&dialog, [&] {
        child<QTextEdit>(&dialog, "answersEdit")->setPlainText(QStringLiteral("nobody"));
        QTest::mouseClick(child<QPushButton>(&dialog, "okButton"), Qt::LeftButton);
    });
    QCOMPARE(result, int(QDialog::Accepted));
    QVERIFY(boxes->texts.isEmpty());
    QCOMPARE(readRow(3).answer, QStringLiteral("nobody"));
    QCOMPARE(readRow(3).bookId, 99);
}

void TestEditNivlet::failingWriteKeepsTheInput_data()
{
    QTest::addColumn<qint64>("id");
    QTest::addColumn<QString>("failure");
    QTest::newRow("edit") << qint64(1) << QStringLiteral("Could not edit nivlet. error code: 5");
    QTest::newRow("new") << qint64(-1) << QStringLiteral("Could not add nivlet. error code: 5");
}

void TestEditNivlet::failingWriteKeepsTheInput()
{
    QFETCH(qint64, id);
    QFETCH(QString, failure);
    EditNivletDialog dialog(nullptr, core.get(), id, QString());
    QVERIFY(dialog.setupUi(core->findBook(2), QString(), false));
    const int countBefore = nivletCount();
    std::unique_ptr<TestSupport::LockingConnection> lock;
    bool stayedOpen = false;
    QString questionKept;
    QString answersKept;
    const int result = TestSupport::runModal(&dialog, [&] {
        lock = std::make_unique<TestSupport::LockingConnection>();
        QVERIFY(lock->locked);
        child<QTextEdit>(&dialog, "questionEdit")->setPlainText(QStringLiteral("Typed question"));
        child<QTextEdit>(&dialog, "answersEdit")->setPlainText(QStringLiteral("typed\nanswers"));
        QTest::mouseClick(child<QPushButton>(&dialog, "okButton"), Qt::LeftButton);
        stayedOpen = dialog.isVisible();
        questionKept = child<QTextEdit>(&dialog, "questionEdit")->toPlainText();
        answersKept = child<QTextEdit>(&dialog, "answersEdit")->toPlainText();
        // Once the other program lets go, the same input is saved with a second click.
        lock.reset();
        QTest::mouseClick(child<QPushButton>(&dialog, "okButton"), Qt::LeftButton);
    });
    QVERIFY(stayedOpen);
    QCOMPARE(questionKept, QStringLiteral("Typed question"));
    QCOMPARE(answersKept, QStringLiteral("typed\nanswers"));
    QCOMPARE(boxes->texts.size(), 1);
    QVERIFY2(boxes->texts.first().startsWith(failure), qPrintable(boxes->texts.first()));
    QCOMPARE(result, int(QDialog::Accepted));
    if (id == -1) {
        QCOMPARE(nivletCount(), countBefore + 1);
        QCOMPARE(TestSupport::rows(QStringLiteral("SELECT answer FROM nivlet WHERE question = "
                                                  "'Typed question' AND book_id = 2")),
                 QStringList{QStringLiteral("typed\nanswers")});
    } else {
        QCOMPARE(readRow(1).question, QStringLiteral("Typed question"));
        QCOMPARE(readRow(1).answer, QStringLiteral("typed\nanswers"));
    }
}

QTEST_MAIN(TestEditNivlet)
#include "tst_editnivlet.moc"
