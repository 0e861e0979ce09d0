// The page address the window starts with.
#include "main_window/startaddress.h"

#include "resources/messages.h"

namespace {
bool beginsWith(const QString& text, QLatin1StringView scheme)
{
    return text.size() >= scheme.size() && text.first(scheme.size()).toLower() == scheme;
}
} // namespace

QString startAddress(const QString& clipboardText)
{
    QString address = QStringLiteral("http://");
    // Pages are mostly served over https today, so such an address is taken like an http one.
    if (beginsWith(clipboardText, QLatin1StringView("ftp://"))
        || beginsWith(clipboardText, QLatin1StringView("http://"))
        || beginsWith(clipboardText, QLatin1StringView("https://")))
        address = clipboardText;
    if (address.endsWith(Msg::crlf))
        address.chop(Msg::crlf.size());
    return address;
}
