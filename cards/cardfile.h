#ifndef CARDFILE_H
#define CARDFILE_H

#include <QByteArray>
#include <QString>

#include <vector>

// One nivlet as a card file holds it. The texts stay UTF-8 bytes from the
// file to the database and back, so nothing is changed on the way.
struct Card
{
    QByteArray question;
    QByteArray answer;
    QByteArray book;
    bool active = true;
    bool hasRate = false;
    double rate = 0.0;
    bool bookActive = true;
    int line = 0;
};

enum class CardFormat {
    // Header lines beginning with "#" as Anki's text import reads them, then
    // one nivlet a line with its fields quoted the CSV way. Files without a
    // header are plain tables: question and answer.
    Anki,
    // Mnemosyne's "Tab-separated text files": a question and an answer a
    // line, no quoting, "<br>" for a line end.
    Mnemosyne,
};

// The card file in Anki's layout: UTF-8 text, header lines beginning with "#"
// ("#separator:", "#html:", "#columns:", "#deck column:", "#tags column:"
// and the others of Anki), then one nivlet a line. Fields are quoted the CSV
// way when they hold the separator, a quote, a line feed or a carriage
// return, or begin with "#" (Anki takes a line beginning with "#" for a
// comment). Files without a header are plain two-column tables: question and
// answer, separated by a tab, a comma or a semicolon.
class CardReader
{
public:
    // 0 detects the separator: the header's, else a tab, a comma or a
    // semicolon, whichever the first line holds.
    explicit CardReader(char fieldSeparator = 0, CardFormat fileFormat = CardFormat::Anki);

    // Reads the whole file; on failure nothing is kept and error() names the
    // line and the reason.
    bool read(const QByteArray &data);

    const std::vector<Card> &cards() const { return result; }
    bool hasBookColumn() const { return bookColumn >= 0 || !fixedBook.isNull(); }
    bool hasRateColumn() const { return rateColumn >= 0; }
    int errorLine() const { return failedLine; }
    QString errorText() const { return failure; }

    // The separator named in a header or on the command line ("tab",
    // "comma", "semicolon", "pipe", "space", "colon" or one character); 0
    // when the name means nothing.
    static char separatorNamed(const QByteArray &name);

private:
    struct MetaColumns;

    bool fail(int line, const QString &text);
    bool readHeader(const QByteArray &data, qsizetype &pos, int &line);
    bool readMetaColumn(const QByteArray &key, const QByteArray &value, int line,
                        MetaColumns &meta);
    bool mapColumns(const QByteArray &names, int namesLine, const MetaColumns &meta);
    bool readRecord(const QByteArray &data, qsizetype &pos, int &line,
                    std::vector<QByteArray> &fields);
    bool readMnemosyne(const QByteArray &data, qsizetype pos);
    bool makeCard(std::vector<QByteArray> &fields, int line);

    char separator;
    CardFormat format;
    bool html = false;
    bool columnsNamed = false;
    int columnCount = 2;
    int questionColumn = 0;
    int answerColumn = 1;
    int bookColumn = -1;
    int activeColumn = -1;
    int rateColumn = -1;
    int bookActiveColumn = -1;
    QByteArray fixedBook;
    std::vector<Card> result;
    int failedLine = 0;
    QString failure;
};

// Writes card files that CardReader, Anki and Mnemosyne read.
class CardWriter
{
public:
    // Anki's layout. Anki's importer matches the "#columns:" names exactly
    // against the note type's fields: "Front" and "Back" are those of its
    // "Basic" types, and a column named after no field is left alone. The
    // deck and tags columns are its meta columns; the tags column is always
    // empty, or Anki would take the first unmatched column after the fields
    // for the tags.
    static void writeHeader(QByteArray &out);
    static void writeCard(QByteArray &out, const char *question, int questionSize,
                          const char *answer, int answerSize, const char *book, int bookSize,
                          bool active, double rate, bool bookActive);
    static void writeField(QByteArray &out, const char *text, int size);

    // Mnemosyne's layout: what its import reads back into the very text,
    // except that a tab becomes a space, as in Mnemosyne's own export, and
    // the trailing blanks of the answer go.
    static void writeMnemosyneCard(QByteArray &out, const char *question, int questionSize,
                                   const char *answer, int answerSize);
};

// The line (from 1) of the first byte that is not valid UTF-8, or 0 when the
// whole text is valid.
int firstInvalidUtf8Line(const QByteArray &data);

// The text of an HTML field as a browser shows it: "<br>" and the ends of
// blocks ("<div>", "<p>", "<li>") are line ends, entities are decoded, other
// tags dropped, and runs of blanks are one space.
QByteArray plainTextOfHtml(const QByteArray &html);

#endif
