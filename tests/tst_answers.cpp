#include "knrate.h"
#include "nivlet.h"

#include <QTest>

#include <cmath>

namespace {
QStringList parsed(const QString &text)
{
    QStringList answers;
    Nivlet::parseAnswers(text, answers);
    return answers;
}

Nivlet nivletWith(const QString &answer)
{
    return Nivlet(1, true, 0.0, nullptr, QStringLiteral("Question?"), answer);
}
} // namespace

class TestAnswers : public QObject
{
    Q_OBJECT

private slots:
    void workedExample();
    void parseAnswers_data();
    void parseAnswers();
    void parseEmptiesTheOutputFirst();
    void onlyCommentsAndBlanks();
    void constructorParsesAndKeepsRawText();
    void typedAnswers_data();
    void typedAnswers();
    void entriesInNfc();
    void emptyTypedAnswerNeverCorrect();
    void pickAnswerPointsIntoTheList();
    void pickAnswerDuplicatesDoubleTheChance();
    void pickAnswerDrawsThroughRandomIndex();
    void pickAnswerWithOneEntryDoesNotDraw();
    void pickAnswerWithoutEntriesGivesNull();
};

void TestAnswers::workedExample()
{
    const QString text = QStringLiteral("  PARIS #capital\n"
                                        "Paris\n"
                                        "# any text here\n"
                                        "\n"
                                        "Le   Havre\n"
                                        "   ");
    const QStringList expected{QStringLiteral("paris"), QStringLiteral("paris"),
                               QStringLiteral("le havre")};
    QCOMPARE(parsed(text), expected);
    QVERIFY(Nivlet::hasPossibleAnswers(text));
}

void TestAnswers::parseAnswers_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("empty text") << QString() << QStringList();
    QTest::newRow("one word") << QStringLiteral("Rome") << QStringList{QStringLiteral("rome")};
    QTest::newRow("last line without line feed")
        << QStringLiteral("one\ntwo") << QStringList{QStringLiteral("one"), QStringLiteral("two")};
    QTest::newRow("last line with line feed")
        << QStringLiteral("one\ntwo\n")
        << QStringList{QStringLiteral("one"), QStringLiteral("two")};
    QTest::newRow("CR LF") << QStringLiteral("One\r\nTwo Words\r\n\r\nthree")
                           << QStringList{QStringLiteral("one"), QStringLiteral("two words"),
                                          QStringLiteral("three")};
    QTest::newRow("tabs") << QStringLiteral("\tder\t\tHund \t\nkatze\t#x")
                          << QStringList{QStringLiteral("der hund"), QStringLiteral("katze")};
    QTest::newRow("hash in first column")
        << QStringLiteral("#Paris\nRome") << QStringList{QStringLiteral("rome")};
    QTest::newRow("hash after the answer")
        << QStringLiteral("Rome   # the capital") << QStringList{QStringLiteral("rome")};
    QTest::newRow("later hashes belong to the comment")
        << QStringLiteral("a # b # c\nd") << QStringList{QStringLiteral("a"), QStringLiteral("d")};
    QTest::newRow("comment ends at the line feed")
        << QStringLiteral("x #c\ny") << QStringList{QStringLiteral("x"), QStringLiteral("y")};
    QTest::newRow("hash with no blank")
        << QStringLiteral("a#b") << QStringList{QStringLiteral("a")};
    QTest::newRow("duplicates stay")
        << QStringLiteral("Word\nword\n WORD ")
        << QStringList{QStringLiteral("word"), QStringLiteral("word"), QStringLiteral("word")};
    QTest::newRow("inner blanks simplified")
        << QStringLiteral("  New   York  City ") << QStringList{QStringLiteral("new york city")};
    QTest::newRow("unicode lower case")
        << QStringLiteral("ÄPFEL\nΣΟΦΊΑ")
        << QStringList{QStringLiteral("äpfel"), QStringLiteral("σοφία")};
    QTest::newRow("only line feeds") << QStringLiteral("\n\n\n") << QStringList();
    QTest::newRow("punctuation kept")
        << QStringLiteral("It's, well.") << QStringList{QStringLiteral("it's, well.")};
}

void TestAnswers::parseAnswers()
{
    QFETCH(QString, text);
    QFETCH(QStringList, expected);
    QCOMPARE(parsed(text), expected);
    QCOMPARE(Nivlet::hasPossibleAnswers(text), !expected.isEmpty());
}

void TestAnswers::parseEmptiesTheOutputFirst()
{
    QStringList answers{QStringLiteral("stale"), QStringLiteral("old")};
    Nivlet::parseAnswers(QStringLiteral("new"), answers);
    QCOMPARE(answers, QStringList{QStringLiteral("new")});
    Nivlet::parseAnswers(QStringLiteral("# nothing"), answers);
    QVERIFY(answers.isEmpty());
}

void TestAnswers::onlyCommentsAndBlanks()
{
    const QString text = QStringLiteral("# one\n   \n\t\n  # two\r\n\n#");
    QVERIFY(parsed(text).isEmpty());
    QVERIFY(!Nivlet::hasPossibleAnswers(text));
    QVERIFY(!Nivlet::hasPossibleAnswers(QString()));
}

void TestAnswers::constructorParsesAndKeepsRawText()
{
    const QString raw = QStringLiteral("  PARIS #capital\r\nLe   Havre");
    const Nivlet n = nivletWith(raw);
    QCOMPARE(n.answer, raw);
    QCOMPARE(n.possibleAnswers, (QStringList{QStringLiteral("paris"), QStringLiteral("le havre")}));
}

void TestAnswers::typedAnswers_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("correct");

    const QString paris = QStringLiteral("  PARIS #capital\nLe   Havre\n# Lyon");
    QTest::newRow("exact") << paris << QStringLiteral("paris") << true;
    QTest::newRow("capitals") << paris << QStringLiteral("PARIS") << true;
    QTest::newRow("mixed case") << paris << QStringLiteral("pArIs") << true;
    QTest::newRow("leading and trailing blanks") << paris << QStringLiteral("   Paris  ") << true;
    QTest::newRow("inner blanks") << paris << QStringLiteral("LE     havre") << true;
    QTest::newRow("tab and line feed") << paris << QStringLiteral("\tle\nhavre\t") << true;
    QTest::newRow("second entry only as written") << paris << QStringLiteral("lehavre") << false;
    QTest::newRow("partial") << paris << QStringLiteral("pari") << false;
    QTest::newRow("longer") << paris << QStringLiteral("paris!") << false;
    QTest::newRow("commented out entry") << paris << QStringLiteral("Lyon") << false;
    QTest::newRow("comment typed along") << paris << QStringLiteral("paris #capital") << false;
    QTest::newRow("typed hash") << QStringLiteral("a#b") << QStringLiteral("a#b") << false;
    QTest::newRow("typed hash alone") << paris << QStringLiteral("#") << false;
    QTest::newRow("part before the hash") << QStringLiteral("a#b") << QStringLiteral("A") << true;
    QTest::newRow("no accent folding") << QStringLiteral("café") << QStringLiteral("cafe") << false;
    QTest::newRow("accent with case") << QStringLiteral("café") << QStringLiteral("CAFÉ") << true;

    // The same text in another Unicode form: é as one code point (U+00E9)
    // or as e followed by the combining acute accent (U+0301).
    const QString composed = QStringLiteral("caf\u00e9");
    const QString decomposed = QStringLiteral("cafe\u0301");
    QTest::newRow("stored composed, typed decomposed") << composed << decomposed << true;
    QTest::newRow("stored decomposed, typed composed") << decomposed << composed << true;
    QTest::newRow("both decomposed") << decomposed << decomposed << true;
    QTest::newRow("decomposed capital typed") << composed << QStringLiteral("CAFE\u0301") << true;
    QTest::newRow("decomposed, still no accent folding")
        << decomposed << QStringLiteral("cafe") << false;
    QTest::newRow("a mark on another letter") << composed << QStringLiteral("caf\u00e8") << false;
    QTest::newRow("two marks in either order")
        << QStringLiteral("\u1ec7") << QStringLiteral("e\u0302\u0323") << true;
    QTest::newRow("Angstrom sign") << QStringLiteral("\u00e5") << QStringLiteral("\u212b") << true;
}

void TestAnswers::typedAnswers()
{
    QFETCH(QString, answer);
    QFETCH(QString, typed);
    QFETCH(bool, correct);
    QCOMPARE(nivletWith(answer).isCorrectAnswer(typed), correct);
}

void TestAnswers::entriesInNfc()
{
    // An answer list typed or imported in decomposed form.
    const QString text =
        QStringLiteral("Cafe\u0301 # coffee\n  Cre\u0300me  bru\u0302le\u0301e\nnaive");
    const QStringList expected{QStringLiteral("caf\u00e9"),
                               QStringLiteral("cr\u00e8me br\u00fbl\u00e9e"),
                               QStringLiteral("naive")};
    QCOMPARE(parsed(text), expected);
    const Nivlet n = nivletWith(text);
    QCOMPARE(n.possibleAnswers, expected);
    QCOMPARE(n.answer, text);
    QVERIFY(n.isCorrectAnswer(QStringLiteral("CR\u00c8ME BR\u00dbL\u00c9E")));
    QVERIFY(n.isCorrectAnswer(QStringLiteral("cre\u0300me bru\u0302le\u0301e")));
    QVERIFY(!n.isCorrectAnswer(QStringLiteral("naïve")));
    QCOMPARE(Nivlet::normalized(QStringLiteral(" E\u0301t\u00c9 ")),
             QStringLiteral("\u00e9t\u00e9"));
}

void TestAnswers::emptyTypedAnswerNeverCorrect()
{
    const QStringList texts{QString(), QStringLiteral("\n  \n# x"), QStringLiteral("paris"),
                            QStringLiteral("a\n\nb")};
    for (const QString &text : texts) {
        const Nivlet n = nivletWith(text);
        QVERIFY(!n.isCorrectAnswer(QString()));
        QVERIFY(!n.isCorrectAnswer(QStringLiteral("")));
        QVERIFY(!n.isCorrectAnswer(QStringLiteral("   ")));
        QVERIFY(!n.isCorrectAnswer(QStringLiteral("\t\r\n")));
    }
}

void TestAnswers::pickAnswerPointsIntoTheList()
{
    const Nivlet n = nivletWith(QStringLiteral("One\nTwo\nThree"));
    seedRandom(3);
    for (int i = 0; i < 100; ++i) {
        const QString *picked = n.pickAnswer();
        QVERIFY(picked);
        const qsizetype index = n.possibleAnswers.indexOf(*picked);
        QVERIFY(index >= 0);
        QCOMPARE(picked, &n.possibleAnswers.at(index));
    }
}

void TestAnswers::pickAnswerDuplicatesDoubleTheChance()
{
    const Nivlet n = nivletWith(QStringLiteral("Twice\nonce\n  twice  # again"));
    QCOMPARE(n.possibleAnswers.size(), 3);
    seedRandom(20240601);
    const int draws = 90000;
    int twice = 0;
    int once = 0;
    for (int i = 0; i < draws; ++i) {
        const QString *picked = n.pickAnswer();
        QVERIFY(picked);
        if (*picked == QLatin1String("twice"))
            ++twice;
        else if (*picked == QLatin1String("once"))
            ++once;
        else
            QFAIL("an answer outside the list");
    }
    // Five standard deviations of the binomial count.
    const double p = 2.0 / 3.0;
    const double tolerance = 5.0 * std::sqrt(draws * p * (1.0 - p));
    QVERIFY2(std::abs(twice - draws * p) < tolerance, qPrintable(QString::number(twice)));
    QVERIFY2(std::abs(once - draws * (1.0 - p)) < tolerance, qPrintable(QString::number(once)));
}

void TestAnswers::pickAnswerDrawsThroughRandomIndex()
{
    const Nivlet n = nivletWith(QStringLiteral("a\nb\nc\nd\ne"));
    for (unsigned int seed = 1; seed <= 50; ++seed) {
        seedRandom(seed);
        const QString *picked = n.pickAnswer();
        const int afterPick = randomDraw();
        seedRandom(seed);
        const int high = randomDraw();
        const int low = randomDraw();
        QCOMPARE(*picked, n.possibleAnswers.at((high * 32768 + low) % 5));
        QCOMPARE(afterPick, randomDraw());
    }
}

void TestAnswers::pickAnswerWithOneEntryDoesNotDraw()
{
    const Nivlet n = nivletWith(QStringLiteral("# comment\n  Only One \n\n"));
    QCOMPARE(n.possibleAnswers.size(), 1);
    seedRandom(77);
    for (int i = 0; i < 10; ++i) {
        const QString *picked = n.pickAnswer();
        QVERIFY(picked);
        QCOMPARE(*picked, QStringLiteral("only one"));
        QCOMPARE(picked, &n.possibleAnswers.at(0));
    }
    const int afterPicks = randomDraw();
    seedRandom(77);
    QCOMPARE(afterPicks, randomDraw());
}

void TestAnswers::pickAnswerWithoutEntriesGivesNull()
{
    seedRandom(5);
    QVERIFY(!nivletWith(QString()).pickAnswer());
    QVERIFY(!nivletWith(QStringLiteral("# only a comment\n   ")).pickAnswer());
    const int afterPicks = randomDraw();
    seedRandom(5);
    QCOMPARE(afterPicks, randomDraw());
}

QTEST_MAIN(TestAnswers)
#include "tst_answers.moc"
