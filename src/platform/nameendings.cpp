// What an address is taken for by its ending.
#include "platform/nameendings.h"

bool endsWithAsciiNoCase(QStringView text, QLatin1StringView suffix)
{
    if (text.size() < suffix.size())
        return false;
    const QStringView tail = text.last(suffix.size());
    for (qsizetype i = 0; i < suffix.size(); ++i) {
        if (asciiLower(tail.at(i).unicode()) != char16_t(uchar(suffix.at(i).toLatin1())))
            return false;
    }
    return true;
}

bool isImageValue(QStringView value)
{
    return endsWithAsciiNoCase(value, QLatin1StringView("jpg"))
        || endsWithAsciiNoCase(value, QLatin1StringView("jpeg"));
}

bool isPageValue(QStringView value)
{
    return endsWithAsciiNoCase(value, QLatin1StringView("htm"))
        || endsWithAsciiNoCase(value, QLatin1StringView("html"));
}

QStringView pathPart(QStringView address)
{
    for (qsizetype i = 0; i < address.size(); ++i) {
        if (address.at(i) == u'?' || address.at(i) == u'#')
            return address.first(i);
    }
    return address;
}

bool isJpegPath(QStringView address)
{
    const QStringView path = pathPart(address);
    return endsWithAsciiNoCase(path, QLatin1StringView(".jpg"))
        || endsWithAsciiNoCase(path, QLatin1StringView(".jpeg"));
}

bool isPagePath(QStringView address)
{
    const QStringView path = pathPart(address);
    const QStringView last = path.sliced(path.lastIndexOf(u'/') + 1);
    if (!last.contains(u'.'))
        return true;
    for (const char* ending : { ".htm", ".html", ".xhtml", ".php", ".asp", ".aspx" }) {
        if (endsWithAsciiNoCase(last, QLatin1StringView(ending)))
            return true;
    }
    return false;
}
