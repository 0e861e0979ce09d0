// Link resolution: the absolute addresses the program builds from the links of a page.
#include "web/getlinkurl.h"

#include <QTest>

using namespace Qt::StringLiterals;

class tst_GetLinkUrl : public QObject
{
    Q_OBJECT
private slots:
    void resolvesLinks_data();
    void resolvesLinks();
};

namespace {

// A row of three texts, the last one empty when the link is refused.
void row(const char* name, const char* page, const char* link, const char* expected)
{
    QTest::newRow(name) << QString::fromUtf8(page) << QString::fromUtf8(link)
                        << QString::fromUtf8(expected);
}

} // namespace

void tst_GetLinkUrl::resolvesLinks_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("expected"); // empty: the link is refused
    const char* p = "http://host/a/b/page.htm";
    row("a bare name lands in the page's folder", p, "pic.jpg", "http://host/a/b/pic.jpg");
    row("dot-slash is the page's folder", p, "./img/pic.jpg", "http://host/a/b/img/pic.jpg");
    row("a leading slash starts at the root", p, "/img/pic.jpg", "http://host/img/pic.jpg");
    row("a scheme-relative link keeps http", p, "//other/img/pic.jpg", "http://other/img/pic.jpg");
    row("an absolute link in capitals comes back as written", p, "HTTP://other/pic.jpg",
        "HTTP://other/pic.jpg");
    row("a fragment stays on the page address", p, "#top", "http://host/a/b/page.htm#top");
    row("a lone dot is the page's folder", p, ".", "http://host/a/b/");
    row("two dots climb one folder", p, "..", "http://host/a/");
    row("two bare steps end at the root", p, "../..", "http://host/");
    row("only leading steps are taken off", p, "../x/../pic.jpg", "http://host/a/x/../pic.jpg");
    row("dots glued to a name are no step", p, "..pic.jpg", "http://host/a/b/..pic.jpg");
    row("three steps climb into the scheme", p, "../../../pic.jpg", "http://pic.jpg");
    row("a climb past every prefix fails", p, "../../../../../pic.jpg", "");
    row("a dot-name that is no step fails", p, ".hidden/pic.jpg", "");
    row("an empty link is the page's folder", p, "", "http://host/a/b/");
    row("another scheme is taken as a relative name", p, "mailto:x@y",
        "http://host/a/b/mailto:x@y");
    row("a control character makes the address invalid", p, "pic\x01.jpg", "");
    row("a fragment of a folder address fails", "http://host/a/b/", "#top", "");
    row("a host without a slash has its own folder", "http://host", "p.jpg", "http://host/p.jpg");
    row("a last segment counts as a file name", "http://host/dir", "p.jpg", "http://host/p.jpg");
    row("a slash inside the query counts", "http://host/a/?q=x/y", "pic.jpg",
        "http://host/a/?q=x/pic.jpg");
    row("a page without a scheme resolves nothing", "host/page.htm", "pic.jpg", "");
    row("a root link on an https page keeps its host", "https://host/x/p.htm", "/i.jpg",
        "https://host/i.jpg");
    row("a scheme-relative link on an https page stays https", "https://h/p.htm", "//cdn/x.jpg",
        "https://cdn/x.jpg");
    row("a root link keeps the port", "http://127.0.0.1:8080/a/p.htm", "/i.jpg",
        "http://127.0.0.1:8080/i.jpg");
    // A followed link can make a page address of megabytes; its links climb from there.
    const QString deep = u"http://h/"_s + u"d/"_s.repeated(500000);
    QTest::newRow("a deep climb to the host")
        << deep + u"p.htm"_s << u"../"_s.repeated(500000) + u"x.jpg"_s << u"http://h/x.jpg"_s;
    QTest::newRow("a deep climb past every prefix")
        << deep + u"p.htm"_s << u"../"_s.repeated(500003) + u"x.jpg"_s << QString();
}

void tst_GetLinkUrl::resolvesLinks()
{
    QFETCH(QString, page);
    QFETCH(QString, link);
    QFETCH(QString, expected);
    QString result = u"stale from the previous link"_s;
    QCOMPARE(Get_LinkAbsURL(page, link, result), !expected.isEmpty());
    QCOMPARE(result, expected);
}

QTEST_GUILESS_MAIN(tst_GetLinkUrl)
#include "tst_getlinkurl.moc"
