#ifndef STRINGPOOL_H
#define STRINGPOOL_H

#include <QString>
#include <QStringView>

// Builds many short strings inside a few large blocks. Loading the active
// list would otherwise allocate, and at the next reload free, every
// question, answer and possible answer on its own.
//
// Each string handed out holds a reference to its block through Qt's
// implicit sharing, as any copy of a string does: a string kept after the
// pool moved on (or after its record was deleted) keeps its block alive,
// and changing it detaches it like any shared string. Every string is
// followed by a NUL in its block, as Qt's own strings are.
class StringPool
{
public:
    static constexpr qsizetype blockLength = 32 * 1024;

    // Room for a string of up to `length` characters: write them there,
    // then take() the part written.
    char16_t *reserve(qsizetype length);
    QString take(qsizetype length);

    // The same string as QString::fromUtf8; `ascii` tells whether the bytes
    // were all ASCII, so that nothing needed decoding.
    QString fromUtf8(const char *utf8, qsizetype size, bool *ascii = nullptr);
    QString copy(QStringView text);

    // Stops filling the current block; the strings keep it alive.
    void release();

private:
    QString block;
    char16_t *next = nullptr;
    char16_t *end = nullptr;
};

#endif
