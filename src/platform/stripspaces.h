// Stripping the spaces around a typed entry or a list line.
#pragma once

#include <QStringView>

// The text without its leading and trailing spaces (U+0020 only: tabs and ideographic spaces are
// part of the text).
inline QStringView stripSpaces(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == u' ')
        ++begin;
    while (end > begin && text.at(end - 1) == u' ')
        --end;
    return text.sliced(begin, end - begin);
}
