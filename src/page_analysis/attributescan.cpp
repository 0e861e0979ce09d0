// The scan of a page text for one attribute pattern.
#include "page_analysis/attributescan.h"

#include "run/runhost.h"
#include "run/runstate.h"

namespace {

// How much text is examined between two looks at the clock: small enough that a yield is never
// late by more than a fraction of a millisecond, large enough that the clock costs nothing.
constexpr qsizetype clockStride = 16 * 1024;
constexpr qint64 yieldIntervalMs = 10;
} // namespace

qsizetype findPattern(QStringView text, QStringView pattern, qsizetype from)
{
    if (pattern.isEmpty())
        return -1;
    const char16_t* data = text.utf16();
    const char16_t first = pattern.at(0).unicode();
    // A match must fit in the text and start before its last character.
    const qsizetype lastStart = qMin(text.size() - pattern.size(), text.size() - 2);
    for (qsizetype i = qMax<qsizetype>(from, 0); i <= lastStart; ++i) {
        if (asciiLower(data[i]) != first)
            continue;
        qsizetype k = 1;
        while (k < pattern.size() && asciiLower(data[i + k]) == pattern.at(k).unicode())
            ++k;
        if (k == pattern.size())
            return i;
    }
    return -1;
}

AttributeScan::AttributeScan(const QString& text, const QString& pattern)
    : m_text(text)
    , m_pattern(pattern)
{ }

bool AttributeScan::yieldAndTestCancel(RunHost* host)
{
    if (!host)
        return false;
    host->yield();
    m_sinceYield.start();
    return host->runState().blnCancel;
}

AttributeScan::Step AttributeScan::next(RunHost* host, QString& value)
{
    // A page followed from the last value may have been cancelled while this scan waited.
    if (host && host->runState().blnCancel)
        return Step::Cancelled;
    // A text of fewer than two characters has no position to examine, and so no yield.
    if (m_text.size() < 2)
        return Step::End;
    if (!m_started) {
        m_started = true;
        if (yieldAndTestCancel(host))
            return Step::Cancelled;
    }

    while (true) {
        if (host && m_sinceYield.elapsed() >= yieldIntervalMs && yieldAndTestCancel(host))
            return Step::Cancelled;
        const qsizetype strideEnd = qMin(m_position + clockStride, m_text.size());
        const QStringView window
            = QStringView(m_text).first(qMin(strideEnd + m_pattern.size(), m_text.size()));
        const qsizetype found = findPattern(window, m_pattern, m_position);
        if (found < 0 || found >= strideEnd) {
            m_position = strideEnd;
            if (m_position >= m_text.size() - 1)
                return Step::End;
            continue;
        }
        m_position = found + 1;
        const qsizetype valueStart = found + m_pattern.size();
        const qsizetype quote = m_text.indexOf(u'"', valueStart);
        if (quote < 0)
            continue;
        value = m_text.sliced(valueStart, quote - valueStart);
        return Step::Value;
    }
}
