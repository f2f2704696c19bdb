#include "recordarena.h"

#include <QVarLengthArray>

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>
#include <utility>

namespace {
constexpr qsizetype minimumBlock = 1024;

// QChar::isSpace restricted to ASCII.
bool isAsciiSpace(unsigned char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}
} // namespace

RecordArena::~RecordArena()
{
    clear();
}

void RecordArena::reserve(qsizetype count)
{
    nextCapacity = count;
}

QString RecordArena::text(const char *utf8, qsizetype size, bool *ascii)
{
    if (!utf8) {
        if (ascii)
            *ascii = true;
        return QString();
    }
    return strings.fromUtf8(utf8, size, ascii);
}

Nivlet *RecordArena::add(qint64 id, bool active, double knRate, Book *book, const char *question,
                         qsizetype questionSize, const char *answer, qsizetype answerSize)
{
    if (blocks.empty() || blocks.back().used == blocks.back().capacity) {
        qsizetype total = 0;
        for (const Block &b : blocks)
            total += b.capacity;
        // Growing with what is there already keeps the number of blocks
        // logarithmic when the reserved count was too small.
        const qsizetype capacity = std::max({minimumBlock, nextCapacity, total});
        nextCapacity = 0;
        auto *records = static_cast<Nivlet *>(::operator new(sizeof(Nivlet) * capacity));
        blocks.push_back({records, 0, capacity});
    }
    QString questionText = text(question, questionSize, nullptr);
    bool ascii = false;
    QString answerText = text(answer, answerSize, &ascii);
    QStringList possibleAnswers;
    if (ascii)
        parseAsciiAnswers(answer, answerSize, answerText, possibleAnswers);
    else
        Nivlet::parseAnswers(answerText, possibleAnswers);
    Block &block = blocks.back();
    Nivlet *record =
        new (block.records + block.used) Nivlet(id, active, knRate, book, std::move(questionText),
                                                std::move(answerText), std::move(possibleAnswers));
    ++block.used;
    return record;
}

// What Nivlet::parseAnswers gives for a text of ASCII only. For ASCII the
// normalisation comes down to trimming, collapsing each run of blanks to one
// blank and mapping A-Z to a-z (the text is already in NFC), so the entries
// are written straight from the bytes into the pool, and an answer that is
// one entry already in normal form is shared instead of copied.
void RecordArena::parseAsciiAnswers(const char *utf8, qsizetype size, const QString &answer,
                                    QStringList &answers)
{
    if (size == 0)
        return;
    QVarLengthArray<std::pair<qsizetype, qsizetype>, 8> parts;
    qsizetype start = 0;
    for (;;) {
        const auto *lineFeed =
            static_cast<const char *>(std::memchr(utf8 + start, '\n', size - start));
        const qsizetype lineEnd = lineFeed ? lineFeed - utf8 : size;
        const auto *hash =
            static_cast<const char *>(std::memchr(utf8 + start, '#', lineEnd - start));
        qsizetype partStart = start;
        qsizetype partEnd = hash ? hash - utf8 : lineEnd;
        while (partStart < partEnd && isAsciiSpace(utf8[partStart]))
            ++partStart;
        while (partEnd > partStart && isAsciiSpace(utf8[partEnd - 1]))
            --partEnd;
        if (partEnd > partStart)
            parts.append({partStart, partEnd});
        if (!lineFeed)
            break;
        start = lineEnd + 1;
    }
    if (parts.isEmpty())
        return;
    answers.reserve(parts.size());
    for (const auto &[first, last] : parts) {
        char16_t *out = strings.reserve(last - first);
        qsizetype length = 0;
        bool changed = false;
        bool afterSpace = false;
        for (qsizetype i = first; i < last; ++i) {
            const auto c = static_cast<unsigned char>(utf8[i]);
            if (isAsciiSpace(c)) {
                changed = changed || c != ' ' || afterSpace;
                if (!afterSpace)
                    out[length++] = u' ';
                afterSpace = true;
            } else if (c >= 'A' && c <= 'Z') {
                changed = true;
                out[length++] = static_cast<char16_t>(c - 'A' + 'a');
                afterSpace = false;
            } else {
                out[length++] = c;
                afterSpace = false;
            }
        }
        if (!changed && first == 0 && last == size)
            answers.append(answer);
        else
            answers.append(strings.take(length));
    }
}

bool RecordArena::contains(const Nivlet *record) const
{
    // std::less orders pointers into different blocks too, where < would not.
    const std::less<const Nivlet *> before;
    return std::any_of(blocks.cbegin(), blocks.cend(), [&](const Block &b) {
        return !before(record, b.records) && before(record, b.records + b.used);
    });
}

void RecordArena::clear()
{
    for (const Block &block : blocks) {
        for (qsizetype i = 0; i < block.used; ++i)
            block.records[i].~Nivlet();
        ::operator delete(block.records);
    }
    blocks.clear();
    strings.release();
}
