// Building the download list from live pages: how a page is decoded and scanned, one page's links
// or images, the crawl below the given page and its follow rules, Cancel, and pages built to hurt
// the scan and the crawl; and HTMLSource.txt, the page kept byte for byte.
#include "page_analysis/htmlsource.h"
#include "page_analysis/linkextraction.h"

#include "platform/codepage.h"
#include "platform/programfolder.h"
#include "resources/messages.h"
#include "store/fetchahead.h"
#include "support/fakehost.h"
#include "support/loopbackserver.h"
#include "support/messageanswerer.h"
#include "support/tempprogramfolder.h"
#include "support/testfiles.h"
#include "web/fetcher.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTest>
#include <QUrl>

#include <optional>

using namespace Qt::StringLiterals;

namespace {

enum class Method { Links, Images, Crawl }; // Make_PageList with href or src, or Get_PageLinks

constexpr int chainLength = 100000;

} // namespace

class tst_LinkExtraction : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void buildsTheList_data();
    void buildsTheList();
    void replacesTheFile_data();
    void replacesTheFile();

private:
    LoopbackServer m_site;
    // A cancelled row's requests already on their way may reach the server during the next row.
    QString m_cancelledFolder;
    MessageAnswerer m_answerer;
};

void tst_LinkExtraction::initTestCase()
{
    // The site: a page per line of site.txt, its path, a space and its text ("=> path": a
    // redirect there; under /m/ an HTML page unless "~type " says otherwise, "_" for a blank); the
    // Japanese pages in code page 932.
    QFile site(QFINDTESTDATA("page_analysis/site.txt"));
    QVERIFY(site.open(QIODevice::ReadOnly));
    for (const QByteArray& line : site.readAll().split('\n')) {
        const QString path = QString::fromUtf8(line.left(line.indexOf(' ')));
        const QByteArray text = line.mid(line.indexOf(' ') + 1);
        const qsizetype typeEnd = text.indexOf(' ');
        if (text.startsWith("=> "))
            m_site.answer(path, LoopbackServer::reply({}, 302, "Location: " + text.sliced(3)));
        else if (path.startsWith(u"/m/"))
            m_site.answer(path,
                text.startsWith('~') ? LoopbackServer::reply(text.sliced(typeEnd + 1), 200,
                    "Content-Type: " + text.first(typeEnd).sliced(1).replace('_', ' '))
                                     : LoopbackServer::reply(text, 200, "Content-Type: text/html"));
        else if (!path.isEmpty())
            m_site.serve(path, text);
    }
    m_site.serve(
        u"/j/p.htm"_s, encodeCp932(u"<img src=\"画像.jpg\"><a href=\"次.html\">次へ</a>"_s));
    m_site.serve(u"/j/次.html"_s, encodeCp932(u"<img src=\"写真.jpg\">"_s));
    for (int n = 0; n < chainLength; ++n)
        m_site.serve(
            u"/chain/%1.html"_s.arg(n), "<a href=\"" + QByteArray::number(n + 1) + ".html\">");
    m_site.serve(u"/chain/%1.html"_s.arg(chainLength), "<img src=\"end.jpg\">");
    // Held until b.htm is asked for: the crawl must fetch ahead for the two to overlap.
    m_site.serve(u"/wait/a.htm"_s, "<img src=\"a.jpg\"><a href=\"b.htm\">", true);
    // Held until b1.htm is asked for, which only b.htm links to: its links must be fetched ahead.
    m_site.serve(u"/deep/a.htm"_s, "<img src=\"a.jpg\">", true);
    // Held until h.htm, the eighth link, is asked for: pages fetched ahead and waiting to be read
    // must not keep the crawl from fetching the next ones.
    m_site.serve(u"/many/a.htm"_s, "<img src=\"a.jpg\">", true);
    // Held until first.jpg is asked for, which only the look-ahead does while the crawl runs.
    m_site.serve(u"/early/p.htm"_s, "<img src=\"first.jpg\"><a href=\"last.htm\">");
    m_site.serve(u"/early/last.htm"_s, "<img src=\"last.jpg\">", true);
    m_site.answer(u"/endless.htm"_s,
        { { LoopbackServer::head(200, "Connection: close") + "<img src=\"e.jpg\">" },
            { QByteArray(1024 * 1024, 'f'), 0, -1 } });
}

void tst_LinkExtraction::buildsTheList_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("page"); // served at the typed path first, unless null
    QTest::addColumn<Method>("method");
    QTest::addColumn<bool>("skipGivenPage");
    QTest::addColumn<QString>("cancelDuring"); // the status in which the second page gets Cancel
    QTest::addColumn<QStringList>("images"); // paths on the site, or whole addresses
    QTest::addColumn<QStringList>("pages"); // the pages taken into the run, in order
    QTest::addColumn<QStringList>("requests"); // the paths requested; empty: the pages
    QTest::addColumn<bool>("modern"); // chkModernPages ticked
    const auto row = [](const char* name, const QString& typed, const QByteArray& page,
                         Method method, const QStringList& images, const QStringList& pages,
                         bool skip = false, const QString& cancelDuring = {},
                         const QStringList& requests = {}, bool modern = false) {
        QTest::newRow(name) << typed << page << method << skip << cancelDuring << images << pages
                            << (requests.isEmpty() ? pages : requests) << modern;
    };
    // One page read for its images (or links), at a path of its own.
    int pageNumber = 0;
    const auto images = [&](const char* name, const QByteArray& page, const QStringList& found,
                            bool modern = false, Method method = Method::Images) {
        const QString path = u"/h/%1.htm"_s.arg(++pageNumber);
        QStringList addresses;
        for (const QString& image : found)
            addresses.append(u"/h/"_s + image);
        row(name, path, page, method, addresses, { path }, false, {}, {}, modern);
    };
    using enum Method;
    row("links are taken as found, a climb above the host kept at the root, embedded images left "
        "out",
        u"/one/p.htm"_s, {}, Links,
        { u"/one/dup.jpg"_s, u"/one/dup.jpg"_s, u"/up.jpeg"_s, u"https://other/x.jpg"_s,
            u"/x.jpg"_s },
        { u"/one/p.htm"_s });
    // Never above the folder, never another host, never a page twice, never a value that ends in
    // a fragment; a 404 page is read like any other.
    const QStringList tree { u"/a/p.htm"_s, u"/a/gone.htm"_s, u"/a/sub/q.html"_s,
        u"/a/sub/deep/d.htm"_s, u"/a/Q.HTM"_s };
    const QStringList treeImages { u"/a/p1.jpg"_s, u"/a/p2.jpg"_s, u"/a/sub/q1.jpg"_s,
        u"/a/sub/deep/d1.jpg"_s, u"/a/Q1.jpg"_s };
    row("the crawl takes the given page's images, then each followed page's, depth first",
        u"/a/p.htm"_s, {}, Crawl, treeImages, tree);
    row("the skip box leaves out the given page's own images", u"/a/p.htm"_s, {}, Crawl,
        treeImages.mid(2), tree, true);
    row("a typed fragment defeats the skip box", u"/a/p.htm#top"_s, {}, Crawl, treeImages, tree,
        true);
    row("Cancel in the link scan of a followed page ends the whole crawl", u"/k/p.htm"_s, {}, Crawl,
        { u"/k/p.jpg"_s, u"/k/q.jpg"_s }, { u"/k/p.htm"_s, u"/k/q.htm"_s }, false,
        Msg::analysingPage);
    row("Cancel in the image scan of a followed page stops its images there", u"/k/p.htm"_s, {},
        Crawl, { u"/k/p.jpg"_s }, { u"/k/p.htm"_s, u"/k/q.htm"_s }, false, Msg::creatingList);
    const QStringList cycle { u"/c/p.htm"_s, u"/c/a.htm"_s, u"/c/sub/b.htm"_s };
    row("pages that link in a cycle are each read once", u"/c/p.htm"_s,
        "<a href=\"a.htm\"><a href=\"./p.htm\"><a href=\"a.htm#top\">", Crawl, {}, cycle);
    row("dot segments never lead above the given page's folder", u"/c/p.htm"_s,
        "<a href=\"sub/../../top.htm\"><a href=\"sub/./../../c2/x.htm\">", Crawl, {},
        { u"/c/p.htm"_s });
    QByteArray flood;
    for (int i = 0; i < 100000; ++i)
        flood += "<a href=\"../o/" + QByteArray::number(i) + ".htm\"><a href=\"same.htm\">";
    row("100,000 links on one page, all outside or the same page", u"/c/p.htm"_s, flood, Crawl, {},
        { u"/c/p.htm"_s, u"/c/same.htm"_s });
    // How a page is decoded is the page text's test; the crawl must use it for images and links.
    row("a Japanese page gives the addresses it means", u"/j/p.htm"_s, {}, Crawl,
        { u"/j/画像.jpg"_s, u"/j/写真.jpg"_s }, { u"/j/p.htm"_s, u"/j/次.html"_s });
    // Links are read where the page was served; a redirect never leads above the folder.
    row("a folder redirected to its form with a slash", u"/r/photos"_s, {}, Crawl,
        { u"/r/photos/a.jpg"_s, u"/r/photos/b.jpg"_s },
        { u"/r/photos"_s, u"/r/photos/"_s, u"/r/photos/b.htm"_s });
    row("the address served counts as read", u"/r/old.htm"_s, {}, Crawl,
        { u"/r/new/a.jpg"_s, u"/r/new/sub/b.jpg"_s },
        { u"/r/old.htm"_s, u"/r/new/index.htm"_s, u"/r/new/sub/b.htm"_s, u"/r/new/alias.htm"_s,
            u"/r/new/out.htm"_s },
        false, {},
        { u"/r/old.htm"_s, u"/r/new/index.htm"_s, u"/r/new/sub/b.htm"_s, u"/r/new/alias.htm"_s,
            u"/r/new/index.htm"_s, u"/r/new/out.htm"_s, u"/r/p.htm"_s });
    row("pages fetched ahead overlap yet are read in their order", u"/wait/p.htm"_s, {}, Crawl,
        { u"/wait/a.jpg"_s, u"/wait/b.jpg"_s },
        { u"/wait/p.htm"_s, u"/wait/a.htm"_s, u"/wait/b.htm"_s });
    // A page redirected above its folder is not read, so its links are not fetched ahead either.
    row("a page fetched ahead has its own links fetched before its turn", u"/deep/p.htm"_s, {},
        Crawl, { u"/deep/a.jpg"_s, u"/deep/b1.jpg"_s },
        { u"/deep/p.htm"_s, u"/deep/a.htm"_s, u"/deep/b.htm"_s, u"/deep/b1.htm"_s,
            u"/deep/r.htm"_s },
        false, {},
        { u"/deep/p.htm"_s, u"/deep/a.htm"_s, u"/deep/b.htm"_s, u"/deep/b1.htm"_s, u"/deep/r.htm"_s,
            u"/r/far.htm"_s });
    row("pages fetched ahead and not yet read leave their connections to the next ones",
        u"/many/p.htm"_s, {}, Crawl, { u"/many/a.jpg"_s, u"/many/h.jpg"_s },
        { u"/many/p.htm"_s, u"/many/a.htm"_s, u"/many/b.htm"_s, u"/many/c.htm"_s, u"/many/d.htm"_s,
            u"/many/e.htm"_s, u"/many/f.htm"_s, u"/many/g.htm"_s, u"/many/h.htm"_s });
    row("hooked to the look-ahead, the crawl has images fetched before its last page is read",
        u"/early/p.htm"_s, {}, Crawl, { u"/early/first.jpg"_s, u"/early/last.jpg"_s },
        { u"/early/p.htm"_s, u"/early/last.htm"_s }, false, {},
        { u"/early/p.htm"_s, u"/early/first.jpg"_s, u"/early/last.htm"_s });
    QStringList chain;
    for (int n = 0; n <= chainLength; ++n)
        chain.append(u"/chain/%1.html"_s.arg(n));
    row("a chain of 100,000 pages does not exhaust the stack", u"/chain/0.html"_s, {}, Crawl,
        { u"/chain/end.jpg"_s }, chain);
    // The page's encoding: a mark, then a meta charset in the first 1024 bytes, then the bytes.
    const QByteArray sjis("\x89\xe6\x91\x9c.jpg\">"), utf8 = u"画像.jpg\">"_s.toUtf8();
    const QByteArray meta
        = "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=Shift_JIS\">";
    QByteArray utf16("\xFE\xFF", 2);
    for (const QChar c : u"<img src=\"画像.jpg\">"_s)
        utf16 += char(c.unicode() >> 8), utf16 += char(c.unicode() & 0xFF);
    images("a UTF-8 mark decides even against a Shift_JIS meta",
        "\xEF\xBB\xBF" + meta + "<img src=\"" + utf8, { u"画像.jpg"_s });
    images("UTF-16 by its mark", utf16, { u"画像.jpg"_s });
    images("Shift_JIS named in an http-equiv meta", meta + "<img src=\"" + sjis, { u"画像.jpg"_s });
    images("a Shift_JIS meta wins over bytes that are also valid UTF-8",
        "<meta charset=sjis><img src=\"\xC3\xA9.jpg\">", { u"ﾃｩ.jpg"_s });
    images("a meta past the first 1024 bytes is not read",
        QByteArray(1100, ' ') + meta + "<img src=\"" + utf8, { u"画像.jpg"_s });
    // The scan: a double-quoted value right after the pattern, wherever the pattern stands.
    images("single quotes, blanks around the equals sign and bare values are not recognised",
        "<img src='a.jpg'><img src = \"b.jpg\"><img src=c.jpg>", {});
    images("found at the end of data-src, in comments and in scripts",
        "<img data-src=\"b.jpg\"><!-- src=\"c.jpg\" --><script>i.src=\"e.jpg\"</script>",
        { u"b.jpg"_s, u"c.jpg"_s, u"e.jpg"_s });
    images("the scan does not jump over a value, so values overlap", "src=\"src=\"a.jpg\"",
        { u"a.jpg"_s });
    images("non-ASCII letters are not folded into the pattern",
        u"ſrc=\"a.jpg\" ｓｒｃ=\"b.jpg\" Src=\"画.jpg\""_s.toUtf8(), { u"画.jpg"_s });
    images("NUL bytes neither end the page nor reach an address",
        QByteArrayLiteral("\0\0<img src=\"a.jpg\">\0<img src=\"b\0.jpg\">\0"), { u"a.jpg"_s });
    images("a value of 10 MB that never closes gives nothing",
        "<img src=\"" + QByteArray(10 << 20, 'v') + ".jpg>", {});
    row("an endless page is read to 64 MB and scanned as far as it came", u"/endless.htm"_s, {},
        Images, { u"/e.jpg"_s }, { u"/endless.htm"_s });

    // Ticked: pages parsed as browsers parse them, one entry per image, its largest JPEG.
    images("the widest w rendition, else the densest x, a comma inside an address kept",
        "<img src=\"s.jpg\" srcset=\"m.jpg 800w, l.jpg 1600w, xl.webp 2400w\">"
        "<img src=a1.jpg srcset=\"a2.jpg 2x, a3.jpg 3x,a4.jpg 1x\">"
        "<img srcset=\"c/w_400,h_3/k.jpg 400w, c/w_900,h_6/k.jpg 900w\">",
        { u"l.jpg"_s, u"a3.jpg"_s, u"c/w_900,h_6/k.jpg"_s }, true);
    images("a picture's webp source never counts, its jpeg source even without the ending",
        "<picture><source type=\"image/webp\" srcset=\"p.webp 800w, p-1600.jpg 1600w\">"
        "<source type=\"image/jpeg\" srcset=\"img?id=7&amp;w=1200 1200w, p-600.jpg 600w\">"
        "<img src=\"p-400.jpg\"></picture>",
        { u"img?id=7&w=1200"_s }, true);
    images("lazy addresses win over a placeholder, a noscript twin or a repeat adds nothing",
        "<img src=\"data:image/jpeg;base64,R0l.jpg\" data-src=\"z-4.jpg\" "
        "data-srcset=\"z-4.jpg 400w, z-20.jpg 2000w\"><noscript><img src=\"z-12.jpg\"></noscript>"
        "<img src=blank.gif data-original='o.jpg'><img src=\"o.jpg\"><img data-lazy-src=\"y.jpg\">",
        { u"z-20.jpg"_s, u"o.jpg"_s, u"y.jpg"_s }, true);
    images("a thumbnail that links to a JPEG stands for it, one linking to a page does not",
        "<a href=\"full/1.jpg\"><img src=\"t/1.jpg\" srcset=\"t/1x2.jpg 2x\"></a>"
        "<a href=\"p.htm\"><img src=\"t/2.jpg\"></a>",
        { u"full/1.jpg"_s, u"t/2.jpg"_s }, true);
    images("any quotes, references decoded, base honoured, comments and scripts no markup",
        "<base href=\"/h/pics/\"><img src='q1.jpg'><img src=q2.jpg><img src = \" a&amp;b.jpg\">"
        "<!-- <img src=\"c.jpg\"> --><script>x='<img src=\"s.jpg\">'</script>",
        { u"pics/q1.jpg"_s, u"pics/q2.jpg"_s, u"pics/a&b.jpg"_s }, true);
    images("a JPEG with a query keeps it, a query ending in jpg is no JPEG",
        "<img src=\"photo.jpg?w=800#x\"><img src=\"photo.png?x.jpg\">", { u"photo.jpg?w=800"_s },
        true);
    images("a page nested too deeply to parse in time is read by the old rules",
        "<img src=\"a.jpg\">" + QByteArray("<div>").repeated(60000) + "<img src='b.jpg'>",
        { u"a.jpg"_s }, true);
    images("the link source lists each JPEG link once, whatever its quotes",
        "<a href='big.jpg?s=l'>b</a><a href=big.jpg?s=l>b</a><a href=x.htm><img src=e.jpg></a>",
        { u"big.jpg?s=l"_s }, true, Links);
    const QStringList folders { u"/m/f/"_s, u"/m/f/blog/first-post/"_s, u"/m/f/pic/"_s,
        u"/m/f/feed"_s, u"/m/f/x.xhtml"_s, u"/m/f/about"_s, u"/m/f/go/"_s };
    // A folder redirected to its index.html is the same page, not one read already.
    row("folder links are followed, only what the server calls HTML is read", u"/m/f/"_s, {}, Crawl,
        { u"/m/f/f.jpg"_s, u"/m/f/blog/first-post/b-2.jpg"_s, u"/m/f/x.jpg"_s, u"/m/f/a.jpg"_s,
            u"/m/f/go/g.jpg"_s },
        folders, false, {}, folders + QStringList { u"/m/f/go/index.html"_s }, true);
    row("a folder and its index.html are one page", u"/m/s/index.html"_s, {}, Crawl,
        { u"/m/s/i.jpg"_s, u"/m/s/s.jpg"_s }, { u"/m/s/index.html"_s, u"/m/s/sub"_s }, false, {},
        {}, true);
    row("Cancel in the parse of a followed page ends the whole crawl", u"/m/f/"_s, {}, Crawl,
        { u"/m/f/f.jpg"_s, u"/m/f/blog/first-post/b-2.jpg"_s }, folders.first(2), false,
        Msg::analysingPage, {}, true);
}

void tst_LinkExtraction::buildsTheList()
{
    QFETCH(QString, typed);
    QFETCH(QByteArray, page);
    QFETCH(Method, method);
    QFETCH(bool, skipGivenPage);
    QFETCH(QString, cancelDuring);
    QFETCH(QStringList, images);
    QFETCH(QStringList, pages);
    QFETCH(QStringList, requests);
    QFETCH(bool, modern);
    if (!page.isNull())
        m_site.serve(Cut_URLTail(typed), page);
    const qsizetype earlier = m_site.requests().size();
    TempProgramFolder folder;
    // Every run keeps the given page's source once: a file that cannot be written shows one box.
    QVERIFY(QDir().mkdir(folder.file(Msg::sourceFileName)));
    m_answerer.boxes.clear();
    FakeHost host;
    host.typed = m_site.url(typed);
    host.skipGivenPage = skipGivenPage;
    host.modern = modern;
    // Unhooked, as in every other row, a crawl asks for no image at all.
    std::optional<FetchAhead> early;
    if (typed.startsWith(u"/early/"_s)) {
        // The run's folder is not there yet: the bodies wait in the program's folder.
        early.emplace(host.state, folder.file(u"not/made/yet/"_s), PathConventions::forHost());
        host.state.listGrew = [&early] { early->fillEarly(); };
    }
    m_site.release(false);
    // Only this row's request releases its held answer: the other's was made rows ago.
    const QString releasedBy = typed.startsWith(u"/wait/"_s) ? u"/wait/b.htm"_s
        : typed.startsWith(u"/deep/"_s)                      ? u"/deep/b1.htm"_s
        : typed.startsWith(u"/many/"_s)                      ? u"/many/h.htm"_s
                                                             : u"/early/first.jpg"_s;
    host.onYield = [&](int) {
        if (m_site.requestCount(releasedBy))
            m_site.release();
        if (!cancelDuring.isEmpty() && !host.state.blnCancel
            && host.state.strPageList.lngPageMax() == 1 && host.info == cancelDuring)
            host.pressCancel();
    };

    if (method == Method::Crawl) {
        host.embedded = true;
        host.state.strPageList.append(Cut_URLTail(host.typed));
        Get_PageLinks(host, Cut_URLTail(host.typed));
    } else {
        QVERIFY(
            Make_PageList(host, host.typed, method == Method::Links ? hrefPattern : srcPattern));
    }

    for (QString& image : images)
        image = image.startsWith(u'/') ? m_site.url(image) : image;
    QCOMPARE(host.downloadUrls(), images);
    QCOMPARE(host.downloadRows.size(), images.size()); // each row added once
    for (const DownloadItem& item : std::as_const(host.state.udtDownload))
        QCOMPARE(item.FileName,
            modern ? QUrl(item.URL).fileName() : item.URL.sliced(item.URL.lastIndexOf(u'/') + 1));
    QStringList requested;
    for (const RecordedRequest& request : m_site.requests().sliced(earlier))
        if (((cancelDuring.isEmpty() && !early) || requests.contains(request.path)) // some ahead
            && (requests.contains(request.path) || m_cancelledFolder.isEmpty()
                || !request.path.startsWith(m_cancelledFolder)))
            requested.append(request.path);
    // What a cancel or the end of the row abandoned may still reach the server in the next row.
    m_cancelledFolder
        = cancelDuring.isEmpty() && !early ? QString() : typed.left(typed.lastIndexOf(u'/') + 1);
    requested.sort(); // pages are fetched ahead, in any order, but each as often as it is read
    requests.sort();
    QCOMPARE(requested, requests);
    if (method == Method::Crawl && cancelDuring.isEmpty())
        QVERIFY(!host.controlsHistory.contains(true)); // a crawl stays busy, found images or not
    if (method == Method::Crawl) {
        // Each page is taken into the run under the address the server was asked for.
        for (QString& path : pages)
            path = m_site.url(path);
        QCOMPARE(host.state.strPageList.addresses(), pages);
    }
    // The counter tells how far the list has come: the pages read and the images found.
    if (cancelDuring.isEmpty() && !(skipGivenPage && method != Method::Crawl))
        QCOMPARE(host.fileCounter,
            Msg::listProgress(host.state.strPageList.addresses().size(), images.size()));
    if (!cancelDuring.isEmpty()) {
        QCOMPARE(host.info, Msg::interrupted);
        QVERIFY(host.isIdle());
    }
    QCOMPARE(m_answerer.boxes.size(), 1);
    QVERIFY(m_answerer.last().text.startsWith(u"75:"_s));
    // The bodies fetched early leave with the run that never decided them.
    early.reset();
    QCOMPARE(QDir(folder.path()).entryList({ u".pixhound-*"_s }, QDir::Files | QDir::Hidden),
        QStringList());
}

void tst_LinkExtraction::replacesTheFile_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QByteArray>("written"); // after the time stamp; or how the error box begins
    const QString p = u"http://host/p.htm"_s;
    QTest::newRow("one crlf anywhere makes every piece end in crlf, inner lf kept")
        << p << QByteArray("<a>\n<b>\r\n")
        << QByteArray("\r\nhttp://host/p.htm is\r\n\r\n<a>\n<b>\r\n\r\n");
    QTest::newRow("lf only, a lone cr is no pair")
        << p << QByteArray("<a>\r<b>\n") << QByteArray("\nhttp://host/p.htm is\n\n<a>\r<b>\n\n");
    QTest::newRow("page bytes unchanged whatever their encoding, the address in code page 932")
        << u"http://host/画/€.htm"_s << QByteArray("\xE7\x94\xBB \xF0\x9F\x98\x80 \x89\xe6")
        << QByteArray("\nhttp://host/\x89\xe6/%E2%82%AC.htm is\n\n\xE7\x94\xBB \xF0\x9F\x98\x80 "
                      "\x89\xe6\n");
    QTest::newRow("HTMLSource.txt is a folder") << p << QByteArray("<a>") << QByteArray("75:");
    QTest::newRow("the program's folder has gone") << p << QByteArray("<a>") << QByteArray("76:");
}

void tst_LinkExtraction::replacesTheFile()
{
    QFETCH(QString, page);
    QFETCH(QByteArray, source);
    QFETCH(QByteArray, written);
    TempProgramFolder folder;
    MessageAnswerer answerer;
    FakeHost host;
    const QString path = folder.file(Msg::sourceFileName);
    const bool fails = !written.startsWith('\n') && !written.startsWith('\r');
    QVERIFY(written == "75:" ? QDir().mkdir(path) : writeFileBytes(path, QByteArray(100000, 'o')));
    const QString programFolder = folder.path() + (written == "76:" ? u"gone/"_s : QString());
    setProgramFolder(programFolder);
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);

    QCOMPARE(Write_HTMLSource(host, page, source), !fails);
    QCOMPARE(host.state.strHTMLSourceFile, programFolder + Msg::sourceFileName);
    // Nothing half-written is left behind, and nothing beside the file.
    QCOMPARE(folderEntries(folder.path()), QStringList { Msg::sourceFileName });
    QCOMPARE(answerer.boxes.size(), fails ? 1 : 0);
    if (fails) {
        QVERIFY(answerer.last().text.startsWith(QString::fromLatin1(written)));
        return;
    }
    const QByteArray file = readFileBytes(path), head("The following HTML Source on ");
    const QByteArray stamp = file.mid(head.size(), 19);
    const QDateTime when
        = QDateTime::fromString(QString::fromLatin1(stamp), u"yyyy/MM/dd HH:mm:ss"_s);
    QVERIFY2(when >= before && when <= QDateTime::currentDateTime(), stamp.constData());
    QCOMPARE(file, head + stamp + written);
}

QTEST_GUILESS_MAIN(tst_LinkExtraction)
#include "tst_linkextraction.moc"
