#ifndef NIVLET_H
#define NIVLET_H

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

struct Book;

struct Nivlet
{
    Nivlet(qint64 nivletId, bool isActive, double rate, Book *inBook, const QString &questionText,
           const QString &answerText);
    // For a loader that has parsed the answer text already.
    Nivlet(qint64 nivletId, bool isActive, double rate, Book *inBook, QString questionText,
           QString answerText, QStringList answers);

    // The answer text holds one possible answer a line; "#" starts a comment.
    static void parseAnswers(const QString &text, QStringList &answers);
    static bool hasPossibleAnswers(const QString &text);
    // Blanks simplified, lower case, Unicode NFC: the same text typed in
    // another Unicode form (an accent as a combining mark) compares equal.
    static QString normalized(const QString &text);

    bool isCorrectAnswer(const QString &typed) const;
    // Null when the answer text gave no entry at all.
    const QString *pickAnswer() const;

    qint64 id;
    bool active;
    double knRate;
    Book *book;
    QString question;
    QString answer;
    QStringList possibleAnswers;
};

// Records read for a caller, owned by whoever holds the list.
using NivletRecords = std::vector<std::unique_ptr<Nivlet>>;

#endif
