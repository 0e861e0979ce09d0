// The validity test of addresses.
#include "platform/validurl.h"

namespace {

bool isSchemeChar(QChar c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9')
        || c == u'+' || c == u'-' || c == u'.';
}

bool isAsciiLetter(QChar c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }

} // namespace

bool isValidUrl(const QString& text)
{
    const qsizetype colon = text.indexOf(u':');
    // A one-letter scheme is a drive letter, not an address.
    if (colon < 2 || !isAsciiLetter(text.at(0)))
        return false;
    for (qsizetype i = 1; i < colon; ++i) {
        if (!isSchemeChar(text.at(i)))
            return false;
    }
    for (QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return false;
    }
    return true;
}

bool isFetchedAddress(const QString& text)
{
    if (!isValidUrl(text))
        return false;
    const qsizetype separator = text.indexOf(u"://");
    const QString scheme = text.left(separator).toLower();
    return separator > 0 && (scheme == u"http" || scheme == u"https" || scheme == u"ftp")
        && separator + 3 < text.size() && text.at(separator + 3) != u'/';
}
