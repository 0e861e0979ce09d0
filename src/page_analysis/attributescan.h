// The scan of a page text for one attribute pattern such as src=" and the values that follow it.
#pragma once

#include "platform/nameendings.h"

#include <QElapsedTimer>
#include <QString>

class RunHost;

// Where pattern next occurs in text at or after from, comparing each ASCII capital of text as its
// lower-case letter (so the pattern must be written in lower case) and every other character
// exactly; -1 when it does not. Only start positions before the last character count.
qsizetype findPattern(QStringView text, QStringView pattern, qsizetype from);

// Walks the text position by position: wherever the pattern starts, the value is the text from
// after the pattern up to the next double quote; a pattern with no quote after it gives nothing.
// The scan goes on right after the pattern's start, not after its value, so values may overlap.
// It yields to the host at its start and then at least every 10 ms of work, and stops at once when
// blnCancel is set (also when it is found set on entry). Without a host it never yields: for texts
// small enough to be scanned at once.
class AttributeScan
{
public:
    AttributeScan(const QString& text, const QString& pattern);

    enum class Step { Value, End, Cancelled };

    // The next value in document order (Value), or the end of the text (End), or Cancelled.
    Step next(RunHost& host, QString& value) { return next(&host, value); }
    Step next(RunHost* host, QString& value);

private:
    bool yieldAndTestCancel(RunHost* host);

    QString m_text;
    QString m_pattern;
    qsizetype m_position = 0;
    bool m_started = false;
    QElapsedTimer m_sinceYield;
};
