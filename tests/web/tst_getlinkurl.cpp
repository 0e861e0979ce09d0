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
    void findsPathAndRoot_data();
    void findsPathAndRoot();
    void listsPrefixesAndParentSteps();
};

void tst_GetLinkUrl::resolvesLinks_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("expected"); // empty: the link is refused
    const auto row
        = [](const char* name, const char* page, const char* link, const char* expected) {
              QTest::newRow(name) << QString::fromUtf8(page) << QString::fromUtf8(link)
                                  << QString::fromUtf8(expected);
          };
    const char* page = "http://host/a/b/page.htm";
    row("a bare name lands in the page's folder", page, "pic.jpg", "http://host/a/b/pic.jpg");
    row("a relative folder stays below the page", page, "img/pic.jpg",
        "http://host/a/b/img/pic.jpg");
    row("dot-slash is the page's folder", page, "./img/pic.jpg", "http://host/a/b/img/pic.jpg");
    row("a leading slash starts at the root", page, "/img/pic.jpg", "http://host/img/pic.jpg");
    row("a scheme-relative link gets http", page, "//other/img/pic.jpg",
        "http://other/img/pic.jpg");
    row("an absolute link in capitals comes back as written", page, "HTTP://other/pic.jpg",
        "HTTP://other/pic.jpg");
    row("an https link comes back as written", page, "https://other/pic.jpg",
        "https://other/pic.jpg");
    row("an ftp link in mixed case comes back as written", page, "Ftp://o/pic.jpg",
        "Ftp://o/pic.jpg");
    row("a fragment stays on the page address", page, "#top", "http://host/a/b/page.htm#top");
    row("a lone dot is the page's folder", page, ".", "http://host/a/b/");
    row("two dots climb one folder", page, "..", "http://host/a/");
    row("one step up", page, "../pic.jpg", "http://host/a/pic.jpg");
    row("two steps up", page, "../../pic.jpg", "http://host/pic.jpg");
    row("two bare steps end at the root", page, "../..", "http://host/");
    row("only leading steps are taken off", page, "../x/../pic.jpg", "http://host/a/x/../pic.jpg");
    row("dots glued to a name are no step", page, "..pic.jpg", "http://host/a/b/..pic.jpg");
    row("three steps climb into the scheme", page, "../../../pic.jpg", "http://pic.jpg");
    row("a climb past every prefix fails", page, "../../../../../pic.jpg", "");
    row("a dot-name that is no step fails", page, ".hidden/pic.jpg", "");
    row("an empty link is the page's folder", page, "", "http://host/a/b/");
    row("another scheme is taken as a relative name", page, "mailto:x@y",
        "http://host/a/b/mailto:x@y");
    row("a control character makes the address invalid", page, "pic\x01.jpg", "");
    row("a fragment of a folder address fails", "http://host/a/b/", "#top", "");
    row("a host without a slash has its own folder", "http://host", "pic.jpg",
        "http://host/pic.jpg");
    row("a last segment counts as a file name", "http://host/dir", "pic.jpg",
        "http://host/pic.jpg");
    row("a slash inside the query counts", "http://host/a/?q=x/y", "pic.jpg",
        "http://host/a/?q=x/pic.jpg");
    row("a page without a scheme resolves nothing", "host/page.htm", "pic.jpg", "");
    row("a root link on an https page keeps its host", "https://host/x/p.htm", "/i.jpg",
        "https://host/i.jpg");
    row("a root link keeps the port", "http://127.0.0.1:8080/a/p.htm", "/i.jpg",
        "http://127.0.0.1:8080/i.jpg");
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

void tst_GetLinkUrl::findsPathAndRoot_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("path"); // empty: Get_UrlPath fails
    QTest::addColumn<QString>("root"); // empty: Get_UrlRoot fails
    QTest::newRow("a page deep in folders")
        << u"http://host/a/b/p.htm"_s << u"http://host/a/b/"_s << u"http://host/"_s;
    QTest::newRow("a host with two slashes only")
        << u"http://host"_s << u"http://host/"_s << u"http://host/"_s;
    QTest::newRow("https ends its root after the host")
        << u"https://host/x"_s << u"https://host/"_s << u"https://host/"_s;
    QTest::newRow("ftp roots like http")
        << u"ftp://h/pub/a.jpg"_s << u"ftp://h/pub/"_s << u"ftp://h/"_s;
    QTest::newRow("the bare prefix has no root") << u"http://"_s << u"http:///"_s << QString();
    QTest::newRow("no scheme has neither") << u"host/a/page.htm"_s << QString() << QString();
}

void tst_GetLinkUrl::findsPathAndRoot()
{
    QFETCH(QString, address);
    QFETCH(QString, path);
    QFETCH(QString, root);
    QString gotPath = u"stale"_s;
    QString gotRoot = u"stale"_s;
    QCOMPARE(Get_UrlPath(address, gotPath), !path.isEmpty());
    QCOMPARE(gotPath, path);
    QCOMPARE(Get_UrlRoot(address, gotRoot), !root.isEmpty());
    QCOMPARE(gotRoot, root);
}

void tst_GetLinkUrl::listsPrefixesAndParentSteps()
{
    // Prefixes are appended, longest first; an address without "/" adds nothing.
    QStringList dirs { u"kept"_s };
    Get_UrlDirs(u"http://host/"_s, dirs);
    Get_UrlDirs(u"index.htm"_s, dirs);
    QCOMPARE(dirs, (QStringList { u"kept"_s, u"http://host/"_s, u"http://"_s, u"http:/"_s }));

    const QList<std::tuple<QString, int, QString>> steps {
        { u"x.."_s, 0, u"x.."_s }, // the slash added to a trailing pair does not survive
        { u".."_s, 1, QString() },
        { u"../.."_s, 2, QString() },
        { u"../a/../b"_s, 1, u"a/../b"_s },
        { u"..pic.jpg"_s, 0, u"..pic.jpg"_s },
    };
    for (const auto& [link, count, rest] : steps) {
        QString got;
        QCOMPARE(Cut_ParentDirs(link, got), count);
        QCOMPARE(got, rest);
    }
}

QTEST_GUILESS_MAIN(tst_GetLinkUrl)
#include "tst_getlinkurl.moc"
