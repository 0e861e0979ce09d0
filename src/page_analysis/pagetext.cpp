// Decoding the bytes of a fetched page.
#include "page_analysis/pagetext.h"

#include "platform/codepage.h"

#include <QByteArrayList>
#include <QStringDecoder>

#include <optional>

namespace {

constexpr qsizetype metaWindow = 1024;

bool isAsciiSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

QString decodeWith(QStringConverter::Encoding encoding, QByteArrayView bytes)
{
    QStringDecoder decoder(encoding, QStringConverter::Flag::Stateless);
    return decoder.decode(bytes);
}

std::optional<QString> decodeByMark(const QByteArray& bytes)
{
    const QByteArrayView view(bytes);
    // The UTF-32 marks first: FF FE 00 00 also begins like the UTF-16 little-endian mark.
    if (view.startsWith(QByteArrayView("\xFF\xFE\x00\x00", 4)))
        return decodeWith(QStringConverter::Utf32LE, view.sliced(4));
    if (view.startsWith(QByteArrayView("\x00\x00\xFE\xFF", 4)))
        return decodeWith(QStringConverter::Utf32BE, view.sliced(4));
    if (view.startsWith("\xEF\xBB\xBF"))
        return decodeWith(QStringConverter::Utf8, view.sliced(3));
    if (view.startsWith("\xFF\xFE"))
        return decodeWith(QStringConverter::Utf16LE, view.sliced(2));
    if (view.startsWith("\xFE\xFF"))
        return decodeWith(QStringConverter::Utf16BE, view.sliced(2));
    return std::nullopt;
}

std::optional<QString> decodeByLabel(const QByteArray& label, const QByteArray& bytes)
{
    static const QByteArrayList shiftJisNames { "shift_jis", "shift-jis", "sjis", "x-sjis",
        "windows-31j", "cp932", "ms932", "ms_kanji", "csshiftjis", "x-ms-cp932" };
    // A page that names a UTF-16 charset in its own ASCII-readable head cannot be UTF-16: browsers
    // read it as UTF-8, and so do we.
    static const QByteArrayList utf8Names { "utf-8", "utf8", "unicode-1-1-utf-8", "utf-16",
        "utf-16le", "utf-16be", "unicode" };
    if (shiftJisNames.contains(label))
        return decodeCp932(bytes);
    if (utf8Names.contains(label))
        return decodeWith(QStringConverter::Utf8, bytes);
    QStringDecoder decoder(label.constData(), QStringConverter::Flag::Stateless);
    if (!decoder.isValid())
        return std::nullopt;
    return decoder.decode(bytes);
}

} // namespace

QByteArray declaredCharset(const QByteArray& bytes)
{
    const QByteArray head = bytes.first(qMin(bytes.size(), metaWindow)).toLower();
    for (qsizetype meta = head.indexOf("<meta"); meta >= 0;
         meta = head.indexOf("<meta", meta + 1)) {
        qsizetype tagEnd = head.indexOf('>', meta);
        if (tagEnd < 0)
            tagEnd = head.size();
        static constexpr QByteArrayView charsetName("charset");
        qsizetype pos = head.indexOf(charsetName, meta);
        if (pos < 0 || pos >= tagEnd)
            continue;
        pos += charsetName.size();
        while (pos < tagEnd && isAsciiSpace(head.at(pos)))
            ++pos;
        if (pos >= tagEnd || head.at(pos) != '=')
            continue;
        ++pos;
        while (pos < tagEnd
            && (isAsciiSpace(head.at(pos)) || head.at(pos) == '"' || head.at(pos) == '\''))
            ++pos;
        qsizetype end = pos;
        while (end < tagEnd && !isAsciiSpace(head.at(end)) && head.at(end) != '"'
            && head.at(end) != '\'' && head.at(end) != ';' && head.at(end) != '/')
            ++end;
        if (end > pos)
            return head.sliced(pos, end - pos);
    }
    return {};
}

QString decodePageText(const QByteArray& bytes)
{
    if (auto text = decodeByMark(bytes))
        return *text;
    const QByteArray label = declaredCharset(bytes);
    if (!label.isEmpty()) {
        if (auto text = decodeByLabel(label, bytes))
            return *text;
    }
    return decodeUtf8OrCp932(bytes);
}
