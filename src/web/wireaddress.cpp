// Addresses as a browser puts them on the wire.
#include "web/fetcher.h"

#include <QUrl>

#include <array>

namespace {

void appendEncoded(QByteArray& out, QStringView text)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    for (const char c : text.toUtf8()) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F) {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 0x0F];
        } else {
            out += c;
        }
    }
}

bool isAscii(QStringView text)
{
    for (const QChar c : text) {
        if (c.unicode() >= 0x80)
            return false;
    }
    return true;
}

// The host name in the form name servers know (IDNA), as a browser sends it; the user name,
// password and port around it stay as written.
bool appendHost(QByteArray& out, QStringView authority)
{
    const qsizetype at = authority.lastIndexOf(u'@');
    const QStringView userInfo = authority.left(at + 1);
    QStringView hostPort = authority.mid(at + 1);
    QStringView port;
    const qsizetype colon = hostPort.lastIndexOf(u':');
    if (colon >= 0 && !hostPort.startsWith(u'[')) {
        port = hostPort.mid(colon);
        hostPort = hostPort.left(colon);
    }
    if (isAscii(hostPort))
        return false;
    const QByteArray ace = QUrl::toAce(hostPort.toString());
    if (ace.isEmpty())
        return false;
    appendEncoded(out, userInfo);
    out += ace;
    appendEncoded(out, port);
    return true;
}

} // namespace

QByteArray serverOfWire(const QByteArray& wireUrl)
{
    const qsizetype scheme = wireUrl.indexOf("://");
    if (scheme < 0)
        return wireUrl;
    qsizetype end = scheme + 3;
    while (end < wireUrl.size() && !QByteArrayView("/?#").contains(wireUrl.at(end)))
        ++end;
    return wireUrl.left(end);
}

namespace {

QByteArray wireForm(const QString& url)
{
    QByteArray out;
    out.reserve(url.size() + 16);
    QStringView rest = url;
    const qsizetype colon = url.indexOf(u':');
    if (colon > 0 && rest.mid(colon + 1).startsWith(u"//")) {
        const qsizetype hostStart = colon + 3;
        qsizetype hostEnd = hostStart;
        while (hostEnd < url.size() && !QStringLiteral("/?#").contains(url.at(hostEnd)))
            ++hostEnd;
        appendEncoded(out, rest.left(hostStart));
        if (!appendHost(out, rest.mid(hostStart, hostEnd - hostStart)))
            appendEncoded(out, rest.mid(hostStart, hostEnd - hostStart));
        rest = rest.mid(hostEnd);
    }
    appendEncoded(out, rest);
    return out;
}

} // namespace

QByteArray wireAddress(const QString& url)
{
    // Starting a fetch ahead asks for its address several times over (its server's room, the
    // budget, the request) and for its root: the last two answers are kept.
    struct Kept
    {
        QString url;
        QByteArray wire;
    };
    thread_local std::array<Kept, 2> kept;
    thread_local std::size_t older = 0;
    for (const Kept& one : kept) {
        if (!one.wire.isEmpty() && one.url == url)
            return one.wire;
    }
    Kept& replaced = kept[older];
    older = 1 - older;
    replaced = { url, wireForm(url) };
    return replaced.wire;
}
