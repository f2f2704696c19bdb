// Hostile text: quotes, SQL, markup, right-to-left and combining characters,
// emoji, NUL and a megabyte answer through every way into and out of the
// store; LIKE's wildcards in a search; and markup in an error box, which must
// show as plain text.

#include "faultharness.h"
#include "log.h"
#include "nivletcore.h"

#include <QApplication>
#include <QLabel>
#include <QMap>
#include <QMessageBox>
#include <QSet>
#include <QTest>
#include <QTimer>

#include <sqlite3.h>

#include <memory>

using namespace FaultHarness;
using namespace TestSupport;

namespace {

// SQLite's LIKE as the search uses it: "%" any run, "_" one character, ASCII
// letters without case, and the text taken up to a NUL character.
bool likeMatches(const QList<uint> &p, int pi, const QList<uint> &t, int ti)
{
    auto fold = [](uint c) { return c < 128 && c >= 'A' && c <= 'Z' ? c + 32 : c; };
    while (pi < p.size()) {
        if (p[pi] == '%') {
            for (int k = ti; k <= t.size(); ++k) {
                if (likeMatches(p, pi + 1, t, k))
                    return true;
            }
            return false;
        }
        if (ti >= t.size())
            return false;
        if (p[pi] != '_' && fold(p[pi]) != fold(t[ti]))
            return false;
        ++pi;
        ++ti;
    }
    return ti == t.size();
}

bool likeMatches(const QString &pattern, const QString &text)
{
    auto cut = [](const QString &s) {
        const qsizetype nul = s.indexOf(QChar(0));
        return (nul < 0 ? s : s.left(nul)).toUcs4();
    };
    return likeMatches(cut(pattern), 0, cut(text), 0);
}

QStringList hostileTexts()
{
    return {
        QStringLiteral("It's \"quoted\" and 'single'"),
        QStringLiteral("100% sure_thing"),
        QStringLiteral("'); DROP TABLE nivlet; --"),
        QStringLiteral("\"; DELETE FROM book WHERE 1; --"),
        QStringLiteral("<b>bold</b> <script>alert('x')</script> &amp; &lt;"),
        QString::fromUtf8("שלום עולם \u202Eevil\u202C ما هذا"),
        QString::fromUtf8("e\u0301 a\u0308 n\u0303 combining"),
        QString::fromUtf8("emoji 😀 👍🏽 👩‍💻"),
        QStringLiteral("line one\nline two"),
        QStringLiteral("nul") + QChar(0) + QStringLiteral("after"),
        QStringLiteral("back\\slash [a-z] *star ?q ^c $d {b} |p (x) .dot +plus"),
        QStringLiteral("  blanks around  "),
        QStringLiteral("%1 %2 %L1 %n"),
    };
}

QString megabyteAnswer()
{
    QString text;
    for (int i = 0; text.toUtf8().size() < (1 << 20); i += 1000) {
        QString chunk;
        for (int j = i; j < i + 1000; ++j)
            chunk += QStringLiteral("line %1 äöü 😀\n").arg(j);
        text += chunk;
    }
    return text;
}

// Records what each box showed and in which text format it showed it.
class FormatCatcher : public QObject
{
public:
    FormatCatcher()
    {
        timer.setInterval(10);
        connect(&timer, &QTimer::timeout, this, &FormatCatcher::poll);
        timer.start();
    }

    QStringList texts;
    QList<Qt::TextFormat> boxFormats;
    QList<Qt::TextFormat> labelFormats;

private:
    void poll()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        texts.append(box->text());
        boxFormats.append(box->textFormat());
        Qt::TextFormat shown = Qt::AutoText;
        const QList<QLabel *> labels = box->findChildren<QLabel *>();
        for (const QLabel *label : labels) {
            if (label->text() == box->text())
                shown = label->textFormat();
        }
        labelFormats.append(shown);
        box->done(QMessageBox::Ok);
    }

    QTimer timer;
};

} // namespace

class TstTextFaults : public FaultTest
{
    Q_OBJECT

private slots:
    void hostileTextRoundTrip();
    void searchWildcards();
    void htmlInErrorBoxIsPlainText();
};

void TstTextFaults::hostileTextRoundTrip()
{
    WorkDir work;
    QVERIFY(createDatabase(work.path(),
                           QStringLiteral("INSERT INTO book (id, name, active) VALUES (1, 'Plain', "
                                          "1);")));
    const QString file = work.file(QStringLiteral("nivlets"));
    const QStringList texts = hostileTexts();
    const QString big = megabyteAnswer();
    QVERIFY(big.toUtf8().size() >= (1 << 20));
    QMap<QString, QString> answers;
    for (const QString &t : texts)
        answers.insert(t, t + QStringLiteral("\n# ") + t + QStringLiteral("\n") + t);
    answers.insert(QStringLiteral("big answer"), big);

    auto checkStore = [&](NivletCore &store) {
        QVERIFY(store.reloadActiveNivlets());
        QCOMPARE(store.activeNivletCount(), int(answers.size()));
        QMap<QString, qint64> ids;
        for (const Nivlet *n : std::as_const(store.activeList()->nivlets())) {
            QVERIFY2(answers.contains(n->question), qPrintable(n->question));
            QCOMPARE(n->answer, answers.value(n->question));
            ids.insert(n->question, n->id);
        }
        QCOMPARE(ids.size(), answers.size());
        for (auto it = ids.cbegin(); it != ids.cend(); ++it) {
            std::unique_ptr<Nivlet> read(store.getNivlet(it.value()));
            QVERIFY(read);
            QCOMPARE(read->question, it.key());
            QCOMPARE(read->answer, answers.value(it.key()));

            std::unique_ptr<QList<Nivlet *>> found(store.search(it.key(), nullptr, false));
            QVERIFY(found);
            QSet<qint64> foundIds;
            for (const Nivlet *n : std::as_const(*found)) {
                foundIds.insert(n->id);
                QCOMPARE(n->answer, answers.value(n->question));
            }
            qDeleteAll(*found);
            QSet<qint64> expected;
            for (auto other = ids.cbegin(); other != ids.cend(); ++other) {
                if (likeMatches(it.key() + QLatin1Char('%'), other.key()))
                    expected.insert(other.value());
            }
            QVERIFY(expected.contains(it.value()));
            QCOMPARE(foundIds, expected);
        }
        QStringList names;
        for (const Book *b : std::as_const(store.books()))
            names << b->name;
        QCOMPARE(names, QStringList{QStringLiteral("Plain")} + texts);
        for (const QString &t : texts) {
            QVERIFY(store.findBookByName(t));
            QCOMPARE(store.findBookByName(t)->name, t);
        }
    };

    BoxCatcher boxes;
    {
        NivletCore store;
        QVERIFY(store.open());
        Book *plain = store.findBook(1);
        for (auto it = answers.cbegin(); it != answers.cend(); ++it)
            QVERIFY(store.addNivlet(plain, it.key(), it.value(), true));
        for (const QString &t : texts)
            QVERIFY(store.addBook(t, true));
        CHECKED(checkStore(store));
    }
    {
        Plain plain(file, true);
        QCOMPARE(plain.value(QStringLiteral("SELECT count(*) FROM nivlet")),
                 QString::number(answers.size()));
        QCOMPARE(plain.value(QStringLiteral("SELECT count(*) FROM book")),
                 QString::number(texts.size() + 1));
        SqlStatement stmt(plain.db, "SELECT question, answer FROM nivlet");
        QVERIFY(stmt.isPrepared());
        int rows = 0;
        while (stmt.next()) {
            const QByteArray question(static_cast<const char *>(stmt.columnBlob(0)),
                                      stmt.columnBytes(0));
            const QByteArray answer(static_cast<const char *>(stmt.columnBlob(1)),
                                    stmt.columnBytes(1));
            const QString q = QString::fromUtf8(question);
            QVERIFY(answers.contains(q));
            QCOMPARE(question, q.toUtf8());
            QCOMPARE(answer, answers.value(q).toUtf8());
            QCOMPARE(stmt.columnType(0), SQLITE_TEXT);
            ++rows;
        }
        QCOMPARE(rows, int(answers.size()));
    }
    {
        NivletCore reopened;
        QVERIFY(reopened.open());
        CHECKED(checkStore(reopened));
    }
    QVERIFY(boxes.texts.isEmpty());
}

void TstTextFaults::searchWildcards()
{
    WorkDir work;
    const QStringList questions = {
        QStringLiteral("abc"),        QStringLiteral("ABC"),          QStringLiteral("a_c"),
        QStringLiteral("a%c"),        QStringLiteral("axc"),          QStringLiteral("ac"),
        QStringLiteral("a[b]c"),      QStringLiteral("a*c"),          QStringLiteral("a\\c"),
        QStringLiteral("a?c"),        QStringLiteral("'quote"),       QStringLiteral("\"double"),
        QStringLiteral("xyz"),        QStringLiteral("%lead"),        QStringLiteral("_lead"),
        QString::fromUtf8("é-small"), QString::fromUtf8("É-capital"), QStringLiteral("a.c")};
    QString sql = QStringLiteral("INSERT INTO book (id, name, active) VALUES (1, 'B', 1);");
    for (const QString &q : questions) {
        QString quoted = q;
        quoted.replace(QLatin1Char('\''), QStringLiteral("''"));
        sql += QStringLiteral("INSERT INTO nivlet (active, kn_rate, book_id, question, answer) "
                              "VALUES (1, 0.1, 1, '%1', 'x');")
                   .arg(quoted);
    }
    QVERIFY(createDatabase(work.path(), sql));
    NivletCore store;
    QVERIFY(store.open());
    BoxCatcher boxes;
    auto found = [&](const QString &text) {
        QStringList result;
        std::unique_ptr<QList<Nivlet *>> list(store.search(text, nullptr, false));
        if (!list)
            return QStringList{QStringLiteral("failed")};
        for (const Nivlet *n : std::as_const(*list))
            result << n->question;
        qDeleteAll(*list);
        result.sort();
        return result;
    };
    auto sorted = [](QStringList list) {
        list.sort();
        return list;
    };
    QCOMPARE(found(QStringLiteral("a_c")),
             sorted({QStringLiteral("abc"), QStringLiteral("ABC"), QStringLiteral("a_c"),
                     QStringLiteral("a%c"), QStringLiteral("axc"), QStringLiteral("a*c"),
                     QStringLiteral("a\\c"), QStringLiteral("a?c"), QStringLiteral("a.c")}));
    QCOMPARE(found(QStringLiteral("a%c")).size(), 11);
    QCOMPARE(found(QStringLiteral("%")), sorted(questions));
    QCOMPARE(found(QStringLiteral("_")), sorted(questions));
    QCOMPARE(found(QStringLiteral("ab")), sorted({QStringLiteral("abc"), QStringLiteral("ABC")}));
    QCOMPARE(found(QStringLiteral("a[b]")), QStringList{QStringLiteral("a[b]c")});
    QCOMPARE(found(QStringLiteral("a[")), QStringList{QStringLiteral("a[b]c")});
    QCOMPARE(found(QStringLiteral("a*")), QStringList{QStringLiteral("a*c")});
    QCOMPARE(found(QStringLiteral("a\\")), QStringList{QStringLiteral("a\\c")});
    QCOMPARE(found(QStringLiteral("a?")), QStringList{QStringLiteral("a?c")});
    QCOMPARE(found(QStringLiteral("a.")), QStringList{QStringLiteral("a.c")});
    QCOMPARE(found(QStringLiteral("'")), QStringList{QStringLiteral("'quote")});
    QCOMPARE(found(QStringLiteral("\"")), QStringList{QStringLiteral("\"double")});
    QCOMPARE(found(QStringLiteral("' OR '1'='1")), QStringList());
    QCOMPARE(found(QString::fromUtf8("é")), QStringList{QString::fromUtf8("é-small")});
    QCOMPARE(found(QStringLiteral("XY")), QStringList{QStringLiteral("xyz")});
    for (const QString &q : questions) {
        QStringList expected;
        for (const QString &other : questions) {
            if (likeMatches(q + QLatin1Char('%'), other))
                expected << other;
        }
        QCOMPARE(found(q), sorted(expected));
    }
    QVERIFY(boxes.texts.isEmpty());
}

void TstTextFaults::htmlInErrorBoxIsPlainText()
{
    WorkDir work;
    const QString markup = QStringLiteral("<b>not</b> <i>allowed</i> &amp; <br>%1 <a "
                                          "href=\"x\">link</a>");
    QString quoted = markup;
    quoted.replace(QLatin1Char('\''), QStringLiteral("''"));
    QVERIFY(createDatabase(work.path(),
                           QString::fromLatin1(fixtureSql) +
                               QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON nivlet "
                                              "BEGIN SELECT RAISE(ABORT, '%1'); END;")
                                   .arg(quoted)));
    openLog();
    NivletCore store;
    QVERIFY(store.open());
    const QString expected =
        report(QStringLiteral("Could not add nivlet."), SQLITE_CONSTRAINT, markup);
    FormatCatcher boxes;
    QVERIFY(!store.addNivlet(store.findBook(1), QStringLiteral("<h1>q</h1>"), QStringLiteral("a"),
                             true));
    QCOMPARE(boxes.texts, QStringList{expected});
    QCOMPARE(boxes.boxFormats, QList<Qt::TextFormat>{Qt::PlainText});
    QCOMPARE(boxes.labelFormats, QList<Qt::TextFormat>{Qt::PlainText});
    QCOMPARE(logText(), QStringLiteral("Error: ") + expected + QLatin1Char('\n'));
    QCOMPARE(store.findBook(1)->nivletCount, 3);
}

NIVLETS_FAULT_TEST_MAIN(TstTextFaults)

#include "tst_faults_text.moc"
