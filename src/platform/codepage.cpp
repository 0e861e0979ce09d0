// Text in code page 932.
#include "platform/codepage.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <optional>

namespace {

// The code page holds the ASCII characters as they are, but for three control characters that the
// converter exchanges (0x1A, 0x1C and 0x7F): text of the others needs no converter. Pages and
// lists are mostly such text, and the converter costs several times a plain copy.
constexpr bool asItIs(char16_t c) { return c < 0x7F && c != 0x1A && c != 0x1C; }

bool plainText(QStringView text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return asItIs(c.unicode()); });
}

bool plainText(const QByteArray& bytes)
{
    return std::all_of(
        bytes.begin(), bytes.end(), [](char c) { return asItIs(static_cast<unsigned char>(c)); });
}

} // namespace

QString decodeCp932(const QByteArray& bytes)
{
    if (plainText(bytes))
        return QString::fromLatin1(bytes);
    QStringDecoder decoder("CP932", QStringConverter::Flag::Stateless);
    if (!decoder.isValid())
        return QString::fromLatin1(bytes);
    // The converter swallows a lead byte left alone at the very end; a line feed after it makes
    // it come out as a substitute character like any other invalid byte.
    QString text = decoder.decode(bytes + '\n');
    text.chop(1);
    return text;
}

QByteArray encodeCp932(const QString& text)
{
    if (plainText(text))
        return text.toLatin1();
    QStringEncoder encoder("CP932", QStringConverter::Flag::Stateless);
    if (!encoder.isValid())
        return text.toUtf8();
    // Most text is ASCII or plain Japanese: try it whole before going character by character.
    QByteArray whole = encoder.encode(text);
    if (!encoder.hasError())
        return whole;

    QByteArray out;
    out.reserve(whole.size());
    // An encoder that met an unmappable character stays in error: only then is a new one made.
    std::optional<QStringEncoder> single;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype length = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString piece = text.mid(i, length);
        if (!single || single->hasError())
            single.emplace("CP932", QStringConverter::Flag::Stateless);
        const QByteArray encoded = single->encode(piece);
        if (single->hasError())
            out += piece.toUtf8().toPercentEncoding();
        else
            out += encoded;
        i += length - 1;
    }
    return out;
}

QString decodeUtf8OrCp932(const QByteArray& bytes)
{
    static const QByteArray bom("\xEF\xBB\xBF");
    if (bytes.startsWith(bom))
        return QString::fromUtf8(bytes.mid(bom.size()));
    // One pass both tests and decodes: a large text is not read twice.
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return decodeCp932(bytes);
}
