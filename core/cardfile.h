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

// The card file: UTF-8 text, header lines beginning with "#" ("#separator:",
// "#html:", "#columns:", "#deck column:"), then one nivlet a line. Fields are
// quoted the CSV way when they hold the separator, a quote, a line feed or a
// carriage return, or begin with "#" (a line beginning with "#" would be taken
// for a header or a comment by other flash-card programs). Files without a
// header are plain two-column tables: question and answer, separated by a
// tab, a comma or a semicolon.
class CardReader
{
public:
    // 0 detects the separator: the header's, else a tab, a comma or a
    // semicolon, whichever the first line holds.
    explicit CardReader(char separator = 0);

    // Reads the whole file; on failure nothing is kept and error() names the
    // line and the reason.
    bool read(const QByteArray &data);

    const std::vector<Card> &cards() const { return result; }
    bool hasBookColumn() const { return bookColumn >= 0; }
    bool hasRateColumn() const { return rateColumn >= 0; }
    int errorLine() const { return failedLine; }
    QString errorText() const { return failure; }

    // The separator named in a header or on the command line ("tab",
    // "comma", "semicolon", "pipe", "space", "colon" or one character); 0
    // when the name means nothing.
    static char separatorNamed(const QByteArray &name);

private:
    bool fail(int line, const QString &text);
    bool readHeader(const QByteArray &data, qsizetype &pos, int &line);
    bool applyColumns(const QByteArray &names, int line);
    bool readRecord(const QByteArray &data, qsizetype &pos, int &line,
                    std::vector<QByteArray> &fields);
    bool makeCard(const std::vector<QByteArray> &fields, int line);

    char separator;
    bool columnsNamed = false;
    int columnCount = 2;
    int questionColumn = 0;
    int answerColumn = 1;
    int bookColumn = -1;
    int activeColumn = -1;
    int rateColumn = -1;
    int bookActiveColumn = -1;
    std::vector<Card> result;
    int failedLine = 0;
    QString failure;
};

// Writes card files that CardReader and common flash-card programs read.
class CardWriter
{
public:
    static void writeHeader(QByteArray &out);
    static void writeCard(QByteArray &out, const char *question, int questionSize,
                          const char *answer, int answerSize, const char *book, int bookSize,
                          bool active, double rate, bool bookActive);
    static void writeField(QByteArray &out, const char *text, int size);
};

// The line (from 1) of the first byte that is not valid UTF-8, or 0 when the
// whole text is valid.
int firstInvalidUtf8Line(const QByteArray &data);

#endif
