// User data (book names, questions, answers) is shown as the user typed it,
// never as markup, in every window the program has.

#include "challengedialog.h"
#include "challengedialogtestaccess.h"
#include "cwquestiondialog.h"
#include "log.h"
#include "mainwindow.h"
#include "nivlet.h"
#include "nivletcore.h"
#include "testsupport.h"

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTest>
#include <QTextEdit>

#include <memory>

using TestSupport::child;

namespace {

const QString bookName = QStringLiteral("<b>C++</b> & <i>Qt</i>");
const QString question = QStringLiteral("<h1>Big?</h1> <img src=\"x\"> &amp; <br> a<sub>2</sub>");
const QString answer = QStringLiteral("<u>under</u> &lt;\n<a href=\"x\">link</a> # <s>note</s>");

QString quoted(const QString &text)
{
    return QStringLiteral("'") + QString(text).replace(QLatin1Char('\''), QStringLiteral("''")) +
           QStringLiteral("'");
}

QString hostileRows()
{
    return QStringLiteral("INSERT INTO book (id, name, active) VALUES (1, %1, 1);"
                          "INSERT INTO nivlet (id, active, kn_rate, book_id, question, answer) "
                          "VALUES (1, 1, 0.5, 1, %2, %3);")
        .arg(quoted(bookName), quoted(question), quoted(answer));
}

// The label's text as drawn on a white ground, without any background of
// its own or of its window.
QImage look(QLabel *label)
{
    QImage image(label->size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    label->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

// What a label looks like when it shows its text literally: a plain-text
// label of the same size, font and alignment.
QImage literalLook(const QLabel *label)
{
    QLabel reference;
    reference.setTextFormat(Qt::PlainText);
    reference.setText(label->text());
    reference.setFont(label->font());
    reference.setAlignment(label->alignment());
    reference.setWordWrap(label->wordWrap());
    reference.setMargin(label->margin());
    reference.setIndent(label->indent());
    reference.setPalette(label->palette());
    reference.setContentsMargins(label->contentsMargins());
    reference.resize(label->size());
    return look(&reference);
}

} // namespace

class TestPlainText : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void challengeAsking();
    void challengeAnswered();
    void crosswordClue();
    void mainWindow();
    void errorBox();

private:
    void verifyLiteral(QWidget *window);

    std::unique_ptr<TestSupport::WorkDir> work;
    std::unique_ptr<NivletCore> core;
    int labelsSeen = 0;
};

void TestPlainText::init()
{
    work = std::make_unique<TestSupport::WorkDir>();
    QVERIFY(TestSupport::createDatabase(work->path(), hostileRows()));
    core = std::make_unique<NivletCore>();
    QVERIFY(core->open());
    QCOMPARE(core->activeNivletCount(), 1);
    QCOMPARE(core->activeList()->nivlets().first()->book->name, bookName);
    labelsSeen = 0;
}

void TestPlainText::cleanup()
{
    while (QWidget *modal = QApplication::activeModalWidget()) {
        modal->close();
        QTest::qWait(10);
    }
    core.reset();
    work.reset();
}

// Every label, text box and tool tip of the window that holds user data
// must show it character for character.
void TestPlainText::verifyLiteral(QWidget *window)
{
    QVERIFY(QTest::qWaitForWindowExposed(window));
    const QStringList hostile = {bookName, question, answer};
    const auto holdsUserData = [&](const QString &text) {
        for (const QString &h : hostile) {
            for (const QString &line : h.split(QLatin1Char('\n'))) {
                if (text.contains(line))
                    return true;
            }
        }
        return false;
    };
    const QList<QWidget *> widgets = window->findChildren<QWidget *>();
    for (QWidget *w : widgets) {
        if (!w->isVisible())
            continue;
        if (auto *label = qobject_cast<QLabel *>(w); label && holdsUserData(label->text())) {
            ++labelsSeen;
            QVERIFY2(label->textFormat() == Qt::PlainText, qPrintable(label->text()));
            QCOMPARE(look(label), literalLook(label));
        }
        if (auto *edit = qobject_cast<QTextEdit *>(w)) {
            const QString shown = edit->toPlainText();
            QVERIFY2(shown.isEmpty() || hostile.contains(shown), qPrintable(shown));
        }
        if (auto *edit = qobject_cast<QPlainTextEdit *>(w)) {
            const QString shown = edit->toPlainText();
            QVERIFY2(shown.isEmpty() || hostile.contains(shown), qPrintable(shown));
        }
        // A tool tip is rich text whenever it looks like it.
        if (holdsUserData(w->toolTip()))
            QVERIFY2(!Qt::mightBeRichText(w->toolTip()), qPrintable(w->toolTip()));
    }
}

void TestPlainText::challengeAsking()
{
    const std::shared_ptr<const ActiveList> list = core->activeList();
    ChallengeDialog dialog(nullptr, core.get(), list->hold(list->at(0)));
    dialog.show();
    verifyLiteral(&dialog);
    QCOMPARE(labelsSeen, 1);
    QCOMPARE(child<QLabel>(&dialog, "bookLabel")->text(), bookName);
    QCOMPARE(child<QTextEdit>(&dialog, "questionEdit")->toPlainText(), question);
}

void TestPlainText::challengeAnswered()
{
    const std::shared_ptr<const ActiveList> list = core->activeList();
    ChallengeDialog dialog(nullptr, core.get(), list->hold(list->at(0)));
    dialog.show();
    QTest::keyClicks(child<QLineEdit>(&dialog, "answerEdit"), bookName);
    dialog.check();
    QVERIFY(ChallengeDialogTestAccess::answered(&dialog));
    verifyLiteral(&dialog);
    QCOMPARE(labelsSeen, 1);
    QCOMPARE(child<QLineEdit>(&dialog, "answerEdit")->text(), bookName);
    QCOMPARE(child<QTextEdit>(&dialog, "correctAnswersEdit")->toPlainText(), answer);
}

void TestPlainText::crosswordClue()
{
    CWQuestionDialog dialog(nullptr, core->activeList()->nivlets().first());
    dialog.show();
    verifyLiteral(&dialog);
    QCOMPARE(labelsSeen, 1);
    QCOMPARE(child<QTextEdit>(&dialog, "questionEdit")->toPlainText(), question);
}

// The main window with the store of hostile rows loaded.
void TestPlainText::mainWindow()
{
    core.reset();
    MainWindow window;
    QVERIFY(window.init());
    window.show();
    verifyLiteral(&window);
}

void TestPlainText::errorBox()
{
    TestSupport::BoxCatcher boxes;
    bool checked = false;
    boxes.whileShown = [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        QVERIFY(box);
        verifyLiteral(box);
        checked = true;
    };
    logError(bookName, true);
    QCOMPARE(boxes.texts, QStringList{bookName});
    QVERIFY(checked);
    QCOMPARE(labelsSeen, 1);
}

QTEST_MAIN(TestPlainText)
#include "tst_plaintext.moc"
