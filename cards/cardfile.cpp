#include "cardfile.h"

#include "nivlet.h"

#include <libxml/HTMLparser.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>

namespace {

bool isContinuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

QByteArray lowerTrimmed(const QByteArray &text)
{
    return text.trimmed().toLower();
}

bool parseFlag(const QByteArray &field, bool &value)
{
    if (field == "1") {
        value = true;
        return true;
    }
    if (field == "0") {
        value = false;
        return true;
    }
    return false;
}

bool parseRate(const QByteArray &field, double &value)
{
    const char *first = field.constData();
    const char *last = first + field.size();
    const auto [end, error] = std::from_chars(first, last, value);
    return error == std::errc() && end == last && std::isfinite(value) && value >= 0.0 &&
           value <= 1.0;
}

// A header line as a message shows it: a long one would bury the message.
QString shownLine(const QByteArray &text)
{
    constexpr int longest = 60;
    const QString line = QString::fromUtf8(text);
    return line.size() <= longest ? line : line.left(longest) + QStringLiteral("...");
}

// A quote opens a quoted field only where a closing quote followed by the
// separator or the line end completes it. Otherwise it is text: Mnemosyne
// and many hand-made files have no quoting, and a question may well begin
// with a quoted word ("Carpe diem" means ...).
bool readQuotedField(const char *p, qsizetype size, char separator, qsizetype &pos, int &line,
                     QByteArray &field)
{
    QByteArray text;
    qsizetype at = pos + 1;
    for (;;) {
        const void *found = std::memchr(p + at, '"', static_cast<size_t>(size - at));
        if (!found)
            return false;
        const qsizetype quote = static_cast<const char *>(found) - p;
        text.append(p + at, quote - at);
        at = quote + 1;
        if (at < size && p[at] == '"') {
            text.append('"');
            ++at;
            continue;
        }
        break;
    }
    qsizetype next = at;
    if (next + 1 < size && p[next] == '\r' && p[next + 1] == '\n')
        ++next;
    if (next < size && p[next] != separator && p[next] != '\n')
        return false;
    line += static_cast<int>(std::count(p + pos, p + at, '\n'));
    pos = next;
    field = std::move(text);
    return true;
}

// Python's str.rstrip(), which Mnemosyne's import applies to every line: the
// ASCII blanks and separators and Unicode's spaces.
QByteArray withoutTrailingBlanks(const QByteArray &text)
{
    if (text.isEmpty())
        return text;
    const auto last = static_cast<unsigned char>(text.back());
    if (last > ' ' && last < 0x80)
        return text;
    QString line = QString::fromUtf8(text);
    qsizetype end = line.size();
    while (end > 0 && (line.at(end - 1).isSpace() ||
                       (line.at(end - 1).unicode() >= 0x1C && line.at(end - 1).unicode() <= 0x1F)))
        --end;
    line.truncate(end);
    return line.toUtf8();
}

// Mnemosyne's export writes its texts as they are, so they are read as they
// are; "&&#35;" is the escape of nivlets' own export for "&#", which
// Mnemosyne's import would read as the start of a character reference.
QByteArray withoutReferenceEscapes(const QByteArray &text)
{
    if (!text.contains("&&#35;"))
        return text;
    QByteArray out = text;
    return out.replace("&&#35;", "&#");
}

// "<br>", "<br/>" and "<br />" in any letter case: Mnemosyne's line ends.
QByteArray withLineEndsForBreaks(const QByteArray &text)
{
    if (!text.contains('<'))
        return text;
    QByteArray out;
    out.reserve(text.size());
    const qsizetype size = text.size();
    qsizetype i = 0;
    while (i < size) {
        if (text.at(i) == '<' && i + 2 < size && (text.at(i + 1) | 0x20) == 'b' &&
            (text.at(i + 2) | 0x20) == 'r') {
            qsizetype k = i + 3;
            while (k < size && text.at(k) == ' ')
                ++k;
            if (k < size && text.at(k) == '/')
                ++k;
            if (k < size && text.at(k) == '>') {
                out += '\n';
                i = k + 1;
                continue;
            }
        }
        out += text.at(i++);
    }
    return out;
}

// The text of an HTML field, gathered from the parser's events.
class HtmlText
{
public:
    void lineEnd()
    {
        if (hidden)
            return;
        // A line of its own when it follows the end of a block ("<div><br></div>").
        if (pendingBreak && !gathered.endsWith('\n'))
            gathered += '\n';
        gathered += '\n';
        pendingBreak = pendingSpace = false;
    }
    void blockEdge()
    {
        if (!gathered.isEmpty())
            pendingBreak = true;
        pendingSpace = false;
    }
    void hide(bool on) { hidden = on ? hidden + 1 : qMax(0, hidden - 1); }
    void append(const char *text, int size)
    {
        if (hidden)
            return;
        for (int i = 0; i < size; ++i) {
            const char c = text[i];
            // Blanks of the source are one space between words, as on screen.
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f') {
                if (!pendingBreak && !gathered.isEmpty() && !gathered.endsWith('\n'))
                    pendingSpace = true;
                continue;
            }
            if (pendingBreak && !gathered.endsWith('\n'))
                gathered += '\n';
            if (pendingSpace)
                gathered += ' ';
            pendingBreak = pendingSpace = false;
            // A no-break space reads as the space the user would type.
            if (c == '\xC2' && i + 1 < size && text[i + 1] == '\xA0') {
                gathered += ' ';
                ++i;
                continue;
            }
            gathered += c;
        }
    }
    QByteArray text()
    {
        while (gathered.endsWith('\n'))
            gathered.chop(1);
        return gathered;
    }

private:
    QByteArray gathered;
    bool pendingBreak = false;
    bool pendingSpace = false;
    int hidden = 0;
};

bool isTag(const xmlChar *name, const char *tag)
{
    return std::strcmp(reinterpret_cast<const char *>(name), tag) == 0;
}

bool isBlock(const xmlChar *name)
{
    static const char *const blocks[] = {"div", "p",  "li", "ul", "ol", "tr", "table", "blockquote",
                                         "h1",  "h2", "h3", "h4", "h5", "h6", "hr"};
    return std::any_of(std::begin(blocks), std::end(blocks),
                       [name](const char *tag) { return isTag(name, tag); });
}

bool isHidden(const xmlChar *name)
{
    return isTag(name, "head") || isTag(name, "title");
}

void onStartElement(void *context, const xmlChar *name, const xmlChar **)
{
    auto *text = static_cast<HtmlText *>(context);
    if (isTag(name, "br"))
        text->lineEnd();
    else if (isBlock(name))
        text->blockEdge();
    else if (isHidden(name))
        text->hide(true);
}

void onEndElement(void *context, const xmlChar *name)
{
    auto *text = static_cast<HtmlText *>(context);
    if (isBlock(name))
        text->blockEdge();
    else if (isHidden(name))
        text->hide(false);
}

void onCharacters(void *context, const xmlChar *characters, int size)
{
    static_cast<HtmlText *>(context)->append(reinterpret_cast<const char *>(characters), size);
}

// Scripts and style sheets come as blocks of their own: nothing to show.
void onScript(void *, const xmlChar *, int) {}

struct HtmlContextFree
{
    void operator()(htmlParserCtxtPtr context) const { htmlFreeParserCtxt(context); }
};

} // namespace

QByteArray plainTextOfHtml(const QByteArray &html)
{
    htmlSAXHandler sax{};
    sax.startElement = onStartElement;
    sax.endElement = onEndElement;
    sax.characters = onCharacters;
    // The blanks the parser deems ignorable separate words too ("<b>a</b> <i>b</i>").
    sax.ignorableWhitespace = onCharacters;
    sax.cdataBlock = onScript;
    HtmlText text;
    const std::unique_ptr<htmlParserCtxt, HtmlContextFree> context(
        htmlCreatePushParserCtxt(&sax, &text, nullptr, 0, nullptr, XML_CHAR_ENCODING_UTF8));
    if (!context)
        return html;
    // Broken markup is read as well as a browser reads it; nothing to report.
    htmlCtxtUseOptions(context.get(), HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING |
                                          HTML_PARSE_IGNORE_ENC);
    // A field is the inside of a body: without one of its own, the parser
    // drops the text after an end tag that comes first ("</div>text").
    static const char body[] = "<body>";
    htmlParseChunk(context.get(), body, sizeof body - 1, 0);
    htmlParseChunk(context.get(), html.constData(), static_cast<int>(html.size()), 1);
    return text.text();
}

int firstInvalidUtf8Line(const QByteArray &data)
{
    const auto *p = reinterpret_cast<const unsigned char *>(data.constData());
    const qsizetype size = data.size();
    int line = 1;
    qsizetype i = 0;
    while (i < size) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            if (c == '\n')
                ++line;
            ++i;
            continue;
        }
        int length = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            // No overlong forms and no UTF-16 surrogates.
            if (c == 0xE0)
                low = 0xA0;
            else if (c == 0xED)
                high = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0)
                low = 0x90;
            else if (c == 0xF4)
                high = 0x8F;
        } else {
            return line;
        }
        if (i + length > size || p[i + 1] < low || p[i + 1] > high)
            return line;
        for (int k = 2; k < length; ++k) {
            if (!isContinuation(p[i + k]))
                return line;
        }
        i += length;
    }
    return 0;
}

// Anki's columns that hold no field of a note, from 0; -1 for none.
struct CardReader::MetaColumns
{
    static constexpr int count = 4;
    static constexpr std::array<const char *, count> names = {"deck column", "tags column",
                                                              "guid column", "notetype column"};
    std::array<int, count> column{-1, -1, -1, -1};
    std::array<int, count> line{};

    int deck() const { return column[0]; }
    int deckLine() const { return line[0]; }
    bool holds(int c) const { return std::find(column.begin(), column.end(), c) != column.end(); }
    const char *nameOf(int c) const
    {
        const auto found = std::find(column.begin(), column.end(), c);
        return names[static_cast<size_t>(found - column.begin())];
    }
};

CardReader::CardReader(char fieldSeparator, CardFormat fileFormat)
    : separator(fieldSeparator), format(fileFormat)
{
}

char CardReader::separatorNamed(const QByteArray &name)
{
    const QByteArray n = lowerTrimmed(name);
    if (n == "tab" || n == "\t")
        return '\t';
    if (n == "comma" || n == ",")
        return ',';
    if (n == "semicolon" || n == ";")
        return ';';
    if (n == "pipe" || n == "|")
        return '|';
    if (n == "space" || name == " ")
        return ' ';
    if (n == "colon" || n == ":")
        return ':';
    return 0;
}

bool CardReader::fail(int line, const QString &text)
{
    result.clear();
    failedLine = line;
    failure = text;
    return false;
}

bool CardReader::read(const QByteArray &data)
{
    result.clear();
    failedLine = 0;
    failure.clear();

    if (const int bad = firstInvalidUtf8Line(data))
        return fail(bad, QStringLiteral("the text is not valid UTF-8"));

    qsizetype pos = data.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    if (format == CardFormat::Mnemosyne)
        return readMnemosyne(data, pos);
    int line = 1;
    if (!readHeader(data, pos, line))
        return false;

    if (!separator) {
        const qsizetype end = data.indexOf('\n', pos);
        const QByteArray first = data.mid(pos, end < 0 ? -1 : end - pos);
        separator = first.contains('\t')  ? '\t'
                    : first.contains(',') ? ','
                    : first.contains(';') ? ';'
                                          : '\t';
    }

    std::vector<QByteArray> fields;
    const qsizetype size = data.size();
    while (pos < size) {
        if (data.at(pos) == '\n') {
            ++pos;
            ++line;
            continue;
        }
        if (data.at(pos) == '\r' && pos + 1 < size && data.at(pos + 1) == '\n') {
            pos += 2;
            ++line;
            continue;
        }
        if (data.at(pos) == '#')
            return fail(line, QStringLiteral("a line beginning with \"#\" after the header lines "
                                             "(a question beginning with \"#\" must be quoted)"));
        const int recordLine = line;
        if (!readRecord(data, pos, line, fields))
            return false;
        if (!makeCard(fields, recordLine))
            return false;
    }
    if (result.empty())
        return fail(line, QStringLiteral("the file holds no nivlets"));
    return true;
}

bool CardReader::readHeader(const QByteArray &data, qsizetype &pos, int &line)
{
    QByteArray columns;
    int columnsLine = 0;
    MetaColumns meta;
    while (pos < data.size() && data.at(pos) == '#') {
        qsizetype end = data.indexOf('\n', pos);
        if (end < 0)
            end = data.size();
        QByteArray text = data.mid(pos, end - pos);
        if (text.endsWith('\r'))
            text.chop(1);
        pos = end + 1;
        const qsizetype colon = text.indexOf(':');
        // A line without a colon is a comment, for Anki as here.
        if (colon < 0) {
            ++line;
            continue;
        }
        const QByteArray key = lowerTrimmed(text.mid(1, colon - 1));
        const QByteArray value = text.mid(colon + 1);
        if (key == "separator") {
            separator = separatorNamed(value);
            if (!separator)
                return fail(
                    line, QStringLiteral("unknown separator \"%1\"").arg(QString::fromUtf8(value)));
        } else if (key == "html") {
            const QByteArray flag = lowerTrimmed(value);
            if (flag != "true" && flag != "false")
                return fail(line, QStringLiteral("the html header must be true or false"));
            html = flag == "true";
        } else if (key == "columns") {
            columns = value;
            columnsLine = line;
        } else if (std::find_if(MetaColumns::names.begin(), MetaColumns::names.end(),
                                [&key](const char *name) { return key == name; }) !=
                   MetaColumns::names.end()) {
            if (!readMetaColumn(key, value, line, meta))
                return false;
        } else if (key == "deck") {
            fixedBook = value.trimmed();
            if (fixedBook.isEmpty())
                return fail(line, QStringLiteral("the deck header names no deck"));
        } else if (key != "notetype" && key != "tags" && key != "match scope" &&
                   key != "if matches") {
            // Anki's note type, its tags for every note and what it does with
            // notes it has already are nothing a nivlet holds; anything else
            // might change how the lines read.
            return fail(line, QStringLiteral("unknown header \"%1\"").arg(shownLine(text)));
        }
        ++line;
    }
    if (!separator)
        separator = columns.contains('\t') ? '\t' : columns.contains(',') ? ',' : 0;
    return mapColumns(columns, columnsLine, meta);
}

bool CardReader::readMetaColumn(const QByteArray &key, const QByteArray &value, int line,
                                MetaColumns &meta)
{
    const QString name = QString::fromUtf8(key);
    bool ok = false;
    const int column = value.trimmed().toInt(&ok) - 1;
    if (!ok || column < 0)
        return fail(line, QStringLiteral("the %1 must be a number from 1").arg(name));
    const auto index =
        static_cast<size_t>(std::find(MetaColumns::names.begin(), MetaColumns::names.end(), key) -
                            MetaColumns::names.begin());
    if (meta.holds(column) && meta.column[index] != column)
        return fail(line, QStringLiteral("column %1 is the %2 already")
                              .arg(column + 1)
                              .arg(QLatin1String(meta.nameOf(column))));
    meta.column[index] = column;
    meta.line[index] = line;
    return true;
}

bool CardReader::mapColumns(const QByteArray &names, int namesLine, const MetaColumns &meta)
{
    questionColumn = answerColumn = -1;
    std::vector<bool> named;
    if (!names.isEmpty()) {
        const QList<QByteArray> list = names.split(separator ? separator : '\t');
        columnsNamed = true;
        columnCount = static_cast<int>(list.size());
        named.assign(list.size(), false);
        for (int i = 0; i < columnCount; ++i) {
            const QByteArray name = lowerTrimmed(list.at(i));
            int *target = nullptr;
            if (name == "question" || name == "front")
                target = &questionColumn;
            else if (name == "answer" || name == "back")
                target = &answerColumn;
            else if (name == "book" || name == "deck")
                target = &bookColumn;
            else if (name == "active")
                target = &activeColumn;
            else if (name == "rate")
                target = &rateColumn;
            else if (name == "book active")
                target = &bookActiveColumn;
            if (!target)
                continue;
            if (*target >= 0)
                return fail(namesLine, QStringLiteral("columns %1 and %2 are both \"%3\"")
                                           .arg(*target + 1)
                                           .arg(i + 1)
                                           .arg(QString::fromUtf8(list.at(i).trimmed())));
            const bool bookInDeck = target == &bookColumn && i == meta.deck();
            if (meta.holds(i) && !bookInDeck)
                return fail(namesLine, QStringLiteral("column %1 is \"%2\" and the %3")
                                           .arg(i + 1)
                                           .arg(QString::fromUtf8(list.at(i).trimmed()))
                                           .arg(QLatin1String(meta.nameOf(i))));
            *target = i;
            named[static_cast<size_t>(i)] = true;
        }
        if ((questionColumn < 0) != (answerColumn < 0))
            return fail(namesLine,
                        QStringLiteral("the columns must name a question and an answer"));
        if (bookColumn >= 0 && meta.deck() >= 0 && bookColumn != meta.deck())
            return fail(meta.deckLine(),
                        QStringLiteral("the deck column is not the column named \"book\" (%1)")
                            .arg(bookColumn + 1));
        if (meta.deck() >= columnCount)
            return fail(meta.deckLine(),
                        QStringLiteral("the deck column is not one of the %1 named columns")
                            .arg(columnCount));
    }
    // The first two columns that are no others, as Anki maps a note's fields
    // when the columns name none of them.
    if (questionColumn < 0) {
        auto free = [&](int c) {
            return !meta.holds(c) &&
                   (static_cast<size_t>(c) >= named.size() || !named[static_cast<size_t>(c)]);
        };
        int c = 0;
        while (!free(c))
            ++c;
        questionColumn = c++;
        while (!free(c))
            ++c;
        answerColumn = c;
        if (columnsNamed && answerColumn >= columnCount)
            return fail(namesLine, QStringLiteral("the columns leave none for a question and an "
                                                  "answer"));
    }
    if (bookColumn < 0)
        bookColumn = meta.deck();
    if (!columnsNamed)
        columnCount = qMax(qMax(questionColumn, answerColumn), bookColumn) + 1;
    return true;
}

bool CardReader::readRecord(const QByteArray &data, qsizetype &pos, int &line,
                            std::vector<QByteArray> &fields)
{
    fields.clear();
    const char *p = data.constData();
    const qsizetype size = data.size();
    QByteArray quoted;
    for (;;) {
        if (pos < size && p[pos] == '"' && readQuotedField(p, size, separator, pos, line, quoted)) {
            fields.push_back(std::move(quoted));
        } else {
            const qsizetype start = pos;
            while (pos < size && p[pos] != separator && p[pos] != '\n')
                ++pos;
            qsizetype end = pos;
            if (pos < size && p[pos] == '\n' && end > start && p[end - 1] == '\r')
                --end;
            fields.emplace_back(p + start, end - start);
        }
        if (pos >= size)
            return true;
        if (p[pos] == '\n') {
            ++pos;
            ++line;
            return true;
        }
        ++pos;
    }
}

bool CardReader::readMnemosyne(const QByteArray &data, qsizetype pos)
{
    columnsNamed = true;
    std::vector<QByteArray> fields;
    const qsizetype size = data.size();
    int line = 1;
    while (pos < size) {
        // Python's text files end a line at a line feed, a carriage return or both.
        qsizetype end = pos;
        while (end < size && data.at(end) != '\n' && data.at(end) != '\r')
            ++end;
        const QByteArray text = withoutTrailingBlanks(data.mid(pos, end - pos));
        pos = end + 1;
        if (end + 1 < size && data.at(end) == '\r' && data.at(end + 1) == '\n')
            ++pos;
        const int recordLine = line++;
        if (text.isEmpty())
            continue;
        fields.clear();
        for (const QByteArray &field : text.split('\t'))
            fields.push_back(withoutReferenceEscapes(withLineEndsForBreaks(field)));
        if (!makeCard(fields, recordLine))
            return false;
    }
    if (result.empty())
        return fail(line, QStringLiteral("the file holds no nivlets"));
    return true;
}

bool CardReader::makeCard(std::vector<QByteArray> &fields, int line)
{
    const int count = static_cast<int>(fields.size());
    if (count < columnCount || (columnsNamed && count > columnCount)) {
        return fail(
            line, QStringLiteral("%1 field(s) where %2 are expected").arg(count).arg(columnCount));
    }
    Card card;
    card.line = line;
    card.question = std::move(fields[static_cast<size_t>(questionColumn)]);
    card.answer = std::move(fields[static_cast<size_t>(answerColumn)]);
    if (html) {
        card.question = plainTextOfHtml(card.question);
        card.answer = plainTextOfHtml(card.answer);
    }
    if (QString::fromUtf8(card.question).simplified().isEmpty())
        return fail(line, QStringLiteral("empty question"));
    if (!Nivlet::hasPossibleAnswers(QString::fromUtf8(card.answer)))
        return fail(line, QStringLiteral("no possible answer (only blanks or comments)"));
    card.book = bookColumn >= 0 ? fields[static_cast<size_t>(bookColumn)] : fixedBook;
    if (activeColumn >= 0 && !parseFlag(fields[static_cast<size_t>(activeColumn)], card.active))
        return fail(line, QStringLiteral("the active flag must be 1 or 0"));
    if (rateColumn >= 0) {
        if (!parseRate(fields[static_cast<size_t>(rateColumn)], card.rate))
            return fail(line, QStringLiteral("the rate must be a number from 0 to 1"));
        card.hasRate = true;
    }
    if (bookActiveColumn >= 0 &&
        !parseFlag(fields[static_cast<size_t>(bookActiveColumn)], card.bookActive))
        return fail(line, QStringLiteral("the book's active flag must be 1 or 0"));
    result.push_back(std::move(card));
    return true;
}

void CardWriter::writeHeader(QByteArray &out)
{
    out += "#separator:tab\n"
           "#html:false\n"
           "#deck column:3\n"
           "#tags column:4\n"
           "#columns:Front\tBack\tbook\ttags\tactive\trate\tbook active\n";
}

void CardWriter::writeField(QByteArray &out, const char *text, int size)
{
    // Most fields need no quotes; one table lookup a byte finds out.
    static const auto special = [] {
        std::array<bool, 256> table{};
        for (const unsigned char c : {'\t', '\n', '\r', '"'})
            table[c] = true;
        return table;
    }();
    bool quote = size > 0 && text[0] == '#';
    for (int i = 0; i < size && !quote; ++i)
        quote = special[static_cast<unsigned char>(text[i])];
    if (!quote) {
        out.append(text, size);
        return;
    }
    out += '"';
    int start = 0;
    for (int i = 0; i < size; ++i) {
        if (text[i] == '"') {
            out.append(text + start, i - start + 1);
            out += '"';
            start = i + 1;
        }
    }
    out.append(text + start, size - start);
    out += '"';
}

void CardWriter::writeCard(QByteArray &out, const char *question, int questionSize,
                           const char *answer, int answerSize, const char *book, int bookSize,
                           bool active, double rate, bool bookActive)
{
    writeField(out, question, questionSize);
    out += '\t';
    writeField(out, answer, answerSize);
    out += '\t';
    writeField(out, book, bookSize);
    out += active ? "\t\t1\t" : "\t\t0\t";
    // The shortest text that reads back as the very same double.
    char number[32];
    const auto converted = std::to_chars(number, number + sizeof number, rate);
    out.append(number, converted.ptr - number);
    out += bookActive ? "\t1\n" : "\t0\n";
}

namespace {

void writeMnemosyneField(QByteArray &out, const char *text, int size)
{
    // Mnemosyne's import wants two fields on every line.
    if (size == 0) {
        out += "<br>";
        return;
    }
    int start = 0;
    for (int i = 0; i < size; ++i) {
        const char c = text[i];
        const bool reference = c == '&' && i + 1 < size && text[i + 1] == '#';
        if (c != '\n' && c != '\r' && c != '\t' && !reference)
            continue;
        out.append(text + start, i - start);
        if (c == '\t') {
            out += ' ';
        } else if (reference) {
            // Mnemosyne's import would read "&#...;" as a character (or stop
            // at one it cannot read); "&#35;" is the "#" that keeps it text.
            out += "&&#35;";
            ++i;
        } else {
            out += "<br>";
            if (c == '\r' && i + 1 < size && text[i + 1] == '\n')
                ++i;
        }
        start = i + 1;
    }
    out.append(text + start, size - start);
}

} // namespace

void CardWriter::writeMnemosyneCard(QByteArray &out, const char *question, int questionSize,
                                    const char *answer, int answerSize)
{
    writeMnemosyneField(out, question, questionSize);
    out += '\t';
    writeMnemosyneField(out, answer, answerSize);
    out += '\n';
}
