#include "stringpool.h"

#include <algorithm>

char16_t *StringPool::reserve(qsizetype length)
{
    if (end - next < length + 1) {
        const qsizetype capacity = std::max(blockLength, length + 1);
        block = QString(capacity, Qt::Uninitialized);
        // The only moment the block is written through the string itself:
        // it is not shared yet, so data() does not detach.
        next = reinterpret_cast<char16_t *>(block.data());
        end = next + capacity;
    }
    return next;
}

QString StringPool::take(qsizetype length)
{
    next[length] = u'\0';
    QString::DataPointer shared = block.data_ptr();
    shared.setBegin(next);
    shared.size = length;
    next += length + 1;
    return QString(std::move(shared));
}

QString StringPool::fromUtf8(const char *utf8, qsizetype size, bool *ascii)
{
    if (size == 0) {
        if (ascii)
            *ascii = true;
        return QString::fromUtf8(utf8, 0);
    }
    // Widening while looking for a high bit costs one pass over the bytes,
    // which the compiler vectorises; only text beyond ASCII is decoded by Qt.
    char16_t *out = reserve(size);
    unsigned char seen = 0;
    for (qsizetype i = 0; i < size; ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        seen |= c;
        out[i] = c;
    }
    const bool plain = seen < 0x80;
    if (ascii)
        *ascii = plain;
    if (plain)
        return take(size);
    return copy(QString::fromUtf8(utf8, size));
}

QString StringPool::copy(QStringView text)
{
    char16_t *out = reserve(text.size());
    std::copy(text.utf16(), text.utf16() + text.size(), out);
    return take(text.size());
}

void StringPool::release()
{
    block = QString();
    next = nullptr;
    end = nullptr;
}
