#include "nivlet.h"

#include "knrate.h"

#include <algorithm>

Nivlet::Nivlet(qint64 nivletId, bool isActive, double rate, Book *inBook,
               const QString &questionText, const QString &answerText)
    : id(nivletId), active(isActive), knRate(rate), book(inBook), question(questionText),
      answer(answerText)
{
    parseAnswers(answerText, possibleAnswers);
}

Nivlet::Nivlet(qint64 nivletId, bool isActive, double rate, Book *inBook, QString questionText,
               QString answerText, QStringList answers)
    : id(nivletId), active(isActive), knRate(rate), book(inBook), question(std::move(questionText)),
      answer(std::move(answerText)), possibleAnswers(std::move(answers))
{
}

QString Nivlet::normalized(const QString &text)
{
    QString result = text.simplified().toLower();
    // Nothing below U+0300 decomposes or combines, so such text (ASCII,
    // Latin-1 and the other European letters) is in NFC already.
    if (std::all_of(result.cbegin(), result.cend(), [](QChar c) { return c.unicode() < 0x300; }))
        return result;
    // Lower-casing can leave a letter and its mark apart, so NFC comes last.
    return result.normalized(QString::NormalizationForm_C);
}

void Nivlet::parseAnswers(const QString &text, QStringList &answers)
{
    answers.clear();
    const qsizetype length = text.length();
    qsizetype start = 0;
    qsizetype end = 0;
    bool inComment = false;
    for (qsizetype i = 0; i <= length; ++i) {
        const QChar c = i < length ? text.at(i) : QLatin1Char('\n');
        if (c == QLatin1Char('\n')) {
            if (!inComment)
                end = i;
            if (end > start) {
                const QString entry = normalized(text.mid(start, end - start));
                if (!entry.isEmpty())
                    answers.append(entry);
            }
            inComment = false;
            start = i + 1;
        } else if (c == QLatin1Char('#') && !inComment) {
            inComment = true;
            end = i;
        }
    }
}

bool Nivlet::hasPossibleAnswers(const QString &text)
{
    QStringList answers;
    parseAnswers(text, answers);
    return !answers.isEmpty();
}

bool Nivlet::isCorrectAnswer(const QString &typed) const
{
    return possibleAnswers.contains(normalized(typed));
}

const QString *Nivlet::pickAnswer() const
{
    const qsizetype count = possibleAnswers.size();
    if (count == 0)
        return nullptr;
    const int position = count == 1 ? 0 : randomIndex(static_cast<int>(count));
    return &possibleAnswers.at(position);
}
