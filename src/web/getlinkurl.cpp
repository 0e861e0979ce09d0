// Turns the links found in a page into absolute addresses, by the program's own rules.
#include "web/getlinkurl.h"

#include "platform/validurl.h"

#include <array>

using namespace Qt::StringLiterals;

namespace {

// Links that start with one of these are already absolute.
const std::array<QLatin1StringView, 3> absolutePrefixes { "http://"_L1, "https://"_L1,
    "ftp://"_L1 };

// A directory or root is only trusted when a page inside it would be a valid address.
bool isValidFolder(const QString& folder) { return isValidUrl(folder + u"index.htm"_s); }

bool accept(const QString& candidate, QString& result)
{
    if (!isValidUrl(candidate))
        return false;
    result = candidate;
    return true;
}

// Where the search for the "/" that ends the root begins (0-based). Behind the "://" of a
// scheme, so that "https://host/x" has its own host as root; an address without one keeps the
// program's old rule of starting after a seven-character prefix.
qsizetype hostStart(const QString& s)
{
    const qsizetype colon = s.indexOf(u':');
    if (colon > 0 && QStringView(s).mid(colon + 1).startsWith(u"//"))
        return colon + 3;
    return 7;
}

} // namespace

bool Get_UrlRoot(const QString& address, QString& root)
{
    root.clear();
    QString s = address;
    if (!s.endsWith(u'/'))
        s += u'/';
    const qsizetype slash = s.indexOf(u'/', hostStart(s));
    if (slash < 0)
        return false;
    const QString candidate = s.left(slash + 1);
    if (!isValidFolder(candidate))
        return false;
    root = candidate;
    return true;
}

bool Get_UrlPath(const QString& address, QString& path)
{
    path.clear();
    const qsizetype slashes = address.count(u'/');
    if (slashes < 2)
        return false;
    const QString candidate
        = slashes == 2 ? address + u'/' : address.left(address.lastIndexOf(u'/') + 1);
    if (!isValidFolder(candidate))
        return false;
    path = candidate;
    return true;
}

int Cut_ParentDirs(const QString& link, QString& rest)
{
    // ".." alone, or at the end of a run of steps, is one more step up.
    const QString s = link.endsWith(u"..") ? link + u'/' : link;
    int count = 0;
    qsizetype offset = 0;
    while (QStringView(s).mid(offset).startsWith(u"../")) {
        offset += 3;
        ++count;
    }
    rest = count == 0 ? link : s.mid(offset);
    return count;
}

bool Get_LinkAbsURL(const QString& page, const QString& link, QString& result)
{
    result.clear();
    QString path;
    QString root;
    if (!isValidUrl(page) || !Get_UrlPath(page, path) || !Get_UrlRoot(page, root))
        return false;

    for (const QLatin1StringView prefix : absolutePrefixes) {
        if (link.startsWith(prefix, Qt::CaseInsensitive)) {
            result = link;
            return true;
        }
    }

    const QChar first = link.isEmpty() ? QChar() : link.at(0);
    if (first != u'/' && first != u'.' && first != u'#')
        return accept(path + link, result);
    if (link.startsWith(u"./"))
        return accept(path + link.mid(2), result);
    // A scheme-relative link is read with the page's own scheme, as a browser reads it.
    if (link.startsWith(u"//"))
        return accept(page.left(page.indexOf(u':') + 1) + link, result);
    if (first == u'/')
        return accept(root + link.mid(1), result);
    if (first == u'#') {
        // A fragment of a folder address names no page to stay on.
        if (page.endsWith(u'/'))
            return false;
        return accept(page + link, result);
    }
    if (link == u".")
        return accept(path, result);
    if (link.startsWith(u"..")) {
        QString rest;
        const int count = Cut_ParentDirs(link, rest);
        // The prefix count steps up is found directly: listing every prefix would cost the
        // square of the address's length, gigabytes for an address a hostile site made megabytes
        // long. A climb past the root stays at the root, as browsers resolve it.
        const qsizetype rootSlash = root.size() - 1;
        qsizetype slash = page.size();
        for (int step = 0; step <= count && slash > rootSlash; ++step)
            slash = page.lastIndexOf(u'/', slash - 1);
        return accept(slash > rootSlash ? page.left(slash + 1) + rest : root + rest, result);
    }
    return false;
}
