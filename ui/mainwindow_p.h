// What the main window's source files share among themselves; not part of
// its interface.
#pragma once

#include <QByteArray>
#include <QString>
#include <algorithm>
#include <cstring>

// Copies at most max Latin-1 characters of text into a zero-filled buffer.
inline void CopyLatin1(char* dst, size_t size, const QString& text, size_t max)
{
    std::memset(dst, 0, size);
    const QByteArray b = text.toLatin1();
    const size_t n = std::min<size_t>({static_cast<size_t>(b.size()), max, size - 1});
    std::memcpy(dst, b.constData(), n);
}
