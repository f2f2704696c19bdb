#include "cardfile.h"

#include "nivlet.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>

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

} // namespace

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

CardReader::CardReader(char separator) : separator(separator) {}

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
    int deckColumn = -1;
    while (pos < data.size() && data.at(pos) == '#') {
        qsizetype end = data.indexOf('\n', pos);
        if (end < 0)
            end = data.size();
        QByteArray text = data.mid(pos + 1, end - pos - 1);
        if (text.endsWith('\r'))
            text.chop(1);
        pos = end + 1;
        const qsizetype colon = text.indexOf(':');
        if (colon >= 0) {
            const QByteArray key = lowerTrimmed(text.left(colon));
            const QByteArray value = text.mid(colon + 1);
            if (key == "separator") {
                separator = separatorNamed(value);
                if (!separator)
                    return fail(
                        line,
                        QStringLiteral("unknown separator \"%1\"").arg(QString::fromUtf8(value)));
            } else if (key == "columns") {
                columns = value;
                columnsLine = line;
            } else if (key == "deck column") {
                bool ok = false;
                deckColumn = value.trimmed().toInt(&ok) - 1;
                if (!ok || deckColumn < 0)
                    return fail(line, QStringLiteral("the deck column must be a number from 1"));
            }
        }
        ++line;
    }
    if (!separator)
        separator = columns.contains('\t') ? '\t' : columns.contains(',') ? ',' : 0;
    if (!columns.isEmpty() && !applyColumns(columns, columnsLine))
        return false;
    if (bookColumn < 0 && deckColumn >= 0) {
        bookColumn = deckColumn;
        columnCount = qMax(columnCount, deckColumn + 1);
    }
    return true;
}

bool CardReader::applyColumns(const QByteArray &names, int line)
{
    questionColumn = answerColumn = -1;
    const QList<QByteArray> list = names.split(separator ? separator : '\t');
    for (int i = 0; i < list.size(); ++i) {
        const QByteArray name = lowerTrimmed(list.at(i));
        if (name == "question" || name == "front")
            questionColumn = i;
        else if (name == "answer" || name == "back")
            answerColumn = i;
        else if (name == "book" || name == "deck")
            bookColumn = i;
        else if (name == "active")
            activeColumn = i;
        else if (name == "rate")
            rateColumn = i;
        else if (name == "book active")
            bookActiveColumn = i;
    }
    if (questionColumn < 0 || answerColumn < 0)
        return fail(line, QStringLiteral("the columns must name a question and an answer"));
    columnsNamed = true;
    columnCount = static_cast<int>(list.size());
    return true;
}

bool CardReader::readRecord(const QByteArray &data, qsizetype &pos, int &line,
                            std::vector<QByteArray> &fields)
{
    fields.clear();
    const char *p = data.constData();
    const qsizetype size = data.size();
    for (;;) {
        if (pos < size && p[pos] == '"') {
            const int quoteLine = line;
            QByteArray field;
            ++pos;
            for (;;) {
                const void *found = std::memchr(p + pos, '"', static_cast<size_t>(size - pos));
                if (!found)
                    return fail(quoteLine, QStringLiteral("a quote that is never closed"));
                const qsizetype quote = static_cast<const char *>(found) - p;
                field.append(p + pos, quote - pos);
                for (qsizetype k = pos; k < quote; ++k)
                    line += p[k] == '\n';
                pos = quote + 1;
                if (pos < size && p[pos] == '"') {
                    field.append('"');
                    ++pos;
                    continue;
                }
                break;
            }
            fields.push_back(field);
            if (pos < size && p[pos] == '\r' && pos + 1 < size && p[pos + 1] == '\n')
                ++pos;
            if (pos < size && p[pos] != separator && p[pos] != '\n')
                return fail(line, QStringLiteral("text after a closing quote (a quote inside a "
                                                 "quoted field must be doubled)"));
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

bool CardReader::makeCard(const std::vector<QByteArray> &fields, int line)
{
    const int count = static_cast<int>(fields.size());
    if (count < columnCount || (columnsNamed && count > columnCount)) {
        return fail(
            line, QStringLiteral("%1 field(s) where %2 are expected").arg(count).arg(columnCount));
    }
    Card card;
    card.line = line;
    card.question = fields[questionColumn];
    card.answer = fields[answerColumn];
    if (QString::fromUtf8(card.question).simplified().isEmpty())
        return fail(line, QStringLiteral("empty question"));
    if (!Nivlet::hasPossibleAnswers(QString::fromUtf8(card.answer)))
        return fail(line, QStringLiteral("no possible answer (only blanks or comments)"));
    if (bookColumn >= 0)
        card.book = fields[bookColumn];
    if (activeColumn >= 0 && !parseFlag(fields[activeColumn], card.active))
        return fail(line, QStringLiteral("the active flag must be 1 or 0"));
    if (rateColumn >= 0) {
        if (!parseRate(fields[rateColumn], card.rate))
            return fail(line, QStringLiteral("the rate must be a number from 0 to 1"));
        card.hasRate = true;
    }
    if (bookActiveColumn >= 0 && !parseFlag(fields[bookActiveColumn], card.bookActive))
        return fail(line, QStringLiteral("the book's active flag must be 1 or 0"));
    result.push_back(std::move(card));
    return true;
}

void CardWriter::writeHeader(QByteArray &out)
{
    out += "#separator:tab\n"
           "#html:false\n"
           "#deck column:3\n"
           "#columns:question\tanswer\tbook\tactive\trate\tbook active\n";
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
    out += active ? "\t1\t" : "\t0\t";
    // The shortest text that reads back as the very same double.
    char number[32];
    const auto converted = std::to_chars(number, number + sizeof number, rate);
    out.append(number, converted.ptr - number);
    out += bookActive ? "\t1\n" : "\t0\n";
}
