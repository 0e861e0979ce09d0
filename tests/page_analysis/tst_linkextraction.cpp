// Building the download list from live pages: one page's links, the crawl below the given page,
// cancel, and what the server sees.
#include "page_analysis/linkextraction.h"

#include "platform/codepage.h"
#include "platform/pathrules.h"
#include "resources/messages.h"
#include "store/fetchahead.h"
#include "support/fakehost.h"
#include "support/loopbackserver.h"
#include "support/messageanswerer.h"
#include "support/tempprogramfolder.h"
#include "support/testfiles.h"
#include "web/fetcher.h"

#include <QElapsedTimer>
#include <QTest>

#include <map>

using namespace Qt::StringLiterals;

namespace {

constexpr int chainLength = 100000;

// Pages the test writes ("=> path" redirects there); anything else answers 404. /chain/N.html is
// made on request and links to N + 1.
class Site
{
public:
    Site()
    {
        server.server().Get(".*", [this](const httplib::Request& request, httplib::Response& r) {
            const QString path = QString::fromStdString(request.path);
            // /wait/a.htm is answered only once /wait/b.htm has been asked for: the two overlap,
            // or it waits long.
            for (int i = 0; path == u"/wait/a.htm"_s && !overlapped && i < 10000; ++i) {
                overlapped = server.requestCount(u"/wait/b.htm"_s) == 1;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            // With holdForImage, /early/last.htm waits in the same way for /early/first.jpg.
            for (int i = 0; path == u"/early/last.htm"_s && holdForImage && i < 10000; ++i) {
                heldUntilImage = server.requestCount(u"/early/first.jpg"_s) == 1;
                if (heldUntilImage)
                    break;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            if (path.startsWith(u"/chain/"_s)) {
                const int n = path.sliced(7).chopped(5).toInt();
                r.set_content(n < chainLength ? "<a href=\"" + std::to_string(n + 1) + ".html\">"
                                              : std::string("<img src=\"end.jpg\">"),
                    "text/html");
                return;
            }
            std::lock_guard lock(m_mutex);
            const auto page = m_pages.find(path);
            if (page != m_pages.end() && page->second.startsWith("=> ")) {
                r.set_redirect(page->second.sliced(3).toStdString());
                return;
            }
            r.status = page == m_pages.end() ? 404 : 200;
            r.set_content(
                page == m_pages.end() ? "<p>none" : page->second.toStdString(), "text/html");
        });
        server.start();
    }
    void put(const QString& path, const QByteArray& body)
    {
        std::lock_guard lock(m_mutex);
        m_pages[path] = body;
    }
    // Paths on this server as addresses; anything else as given.
    QStringList urls(const QStringList& paths) const
    {
        QStringList urls;
        for (const QString& path : paths)
            urls.append(path.startsWith(u'/') ? server.url(path) : path);
        return urls;
    }

    std::atomic<bool> overlapped { false };
    std::atomic<bool> holdForImage { false };
    std::atomic<bool> heldUntilImage { false };

private:
    std::mutex m_mutex;
    std::map<QString, QByteArray> m_pages;

public:
    LoopbackServer server; // last, so that it stops before the pages go
};

// Starts a crawl the way a run does for the embedded-images source.
void crawl(FakeHost& host, const QString& typed)
{
    host.typed = typed;
    host.embedded = true;
    host.state.strPageList.append(Cut_URLTail(typed));
    Get_PageLinks(host, Cut_URLTail(typed));
}

const QByteArray onePage
    = "<a href=\"dup.jpg\"><A HREF=\"dup.jpg\"><img src=\"embedded.jpg\">"
      "<a href=\"../up.jpeg\"><a href=\"https://other/x.jpg\"><a href=\"../../../../x.jpg\">";
const QByteArray qPage = "<img src=\"q1.jpg\"><a href=\"deep/d.htm\"><a href=\"../Q.HTM\">";
const QByteArray treePage
    = "<IMG SRC=\"p1.jpg\">\r\n<a href=\"gone.htm\"><a href=\"sub/q.html\"><a href=\"../r.html\">"
      "<a href=\"http://other.invalid/a/s.htm\"><a href=\"q.htm#top\"><A HREF=\"Q.HTM\">"
      "<a href=\"p.htm\"><img src=\"p2.jpg\">";

} // namespace

class tst_LinkExtraction : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init()
    {
        m_site.server.clearRequests();
        m_folder.emplace();
    }
    void collectsTheImagesAPageLinksTo();
    void crawlsDepthFirstBelowTheGivenPage_data();
    void crawlsDepthFirstBelowTheGivenPage();
    void cancelEndsTheWholeCrawl_data();
    void cancelEndsTheWholeCrawl();
    void japanesePagesGiveTheAddressesTheyMean();
    void pagesAheadOverlapYetAreReadInTheirOrder();
    void crawlsALongChainWithoutExhaustingTheStack();
    void imagesFetchedWhileTheCrawlRuns_data();
    void imagesFetchedWhileTheCrawlRuns();
    void linksResolveWhereThePageWasServed_data();
    void linksResolveWhereThePageWasServed();

private:
    Site m_site;
    MessageAnswerer m_answerer;
    std::optional<TempProgramFolder> m_folder; // a fresh one for each test
    QByteArray sourceFile() const { return readFileBytes(m_folder->file(Msg::sourceFileName)); }
};

void tst_LinkExtraction::initTestCase()
{
    m_site.put(u"/one/p.htm"_s, onePage);
    m_site.put(u"/a/p.htm"_s, treePage);
    m_site.put(u"/a/sub/q.html"_s, qPage);
    m_site.put(u"/a/sub/deep/d.htm"_s,
        "<img src=\"d1.jpg\"><a href=\"../q.html\"><a href=\"../../p.htm\">");
    m_site.put(u"/a/Q.HTM"_s, "<img src=\"Q1.jpg\">");
    m_site.put(u"/a/r.html"_s, "<img src=\"never.jpg\">");
    m_site.put(u"/c/p.htm"_s, "<img src=\"p.jpg\"><a href=\"q.htm\"><a href=\"r.htm\">");
    m_site.put(u"/c/q.htm"_s, "<img src=\"q.jpg\"><a href=\"deeper.htm\">");
    m_site.put(u"/r/photos"_s, "=> /r/photos/");
    m_site.put(u"/r/photos/"_s, "<img src=\"a.jpg\"><a href=\"b.htm\">");
    m_site.put(u"/r/photos/b.htm"_s, "<img src=\"b.jpg\">");
    m_site.put(u"/r/old.htm"_s, "=> /r/new/index.htm");
    m_site.put(u"/r/new/index.htm"_s,
        "<img src=\"a.jpg\"><a href=\"sub/b.htm\"><a href=\"index.htm\"><a href=\"alias.htm\">"
        "<a href=\"out.htm\">");
    m_site.put(u"/r/new/sub/b.htm"_s, "<img src=\"b.jpg\">");
    m_site.put(u"/r/new/alias.htm"_s, "=> /r/new/index.htm");
    m_site.put(u"/r/new/out.htm"_s, "=> /r/p.htm");
    m_site.put(u"/r/p.htm"_s, "<img src=\"above.jpg\">");
    m_site.put(u"/wait/p.htm"_s, "<a href=\"a.htm\"><a href=\"b.htm\">");
    m_site.put(u"/wait/a.htm"_s, "<img src=\"a.jpg\"><a href=\"b.htm\">");
    m_site.put(u"/wait/b.htm"_s, "<img src=\"b.jpg\">");
    m_site.put(u"/early/p.htm"_s, "<img src=\"first.jpg\"><a href=\"last.htm\">");
    m_site.put(u"/early/last.htm"_s, "<img src=\"last.jpg\">");
}

void tst_LinkExtraction::collectsTheImagesAPageLinksTo()
{
    FakeHost host;
    host.typed = m_site.server.url(u"/one/p.htm"_s);

    QVERIFY(Make_PageList(host, host.typed, hrefPattern));

    // Not de-duplicated; a link that climbs above the host is dropped; embedded images are no
    // links.
    QCOMPARE(host.downloadUrls(),
        m_site.urls(
            { u"/one/dup.jpg"_s, u"/one/dup.jpg"_s, u"/up.jpeg"_s, u"https://other/x.jpg"_s }));
    QCOMPARE(
        host.downloadRows, (QStringList { u"dup.jpg"_s, u"dup.jpg"_s, u"up.jpeg"_s, u"x.jpg"_s }));
    QCOMPARE(host.controlsHistory, QList<bool> { false });
    QCOMPARE(m_site.server.targets(), QStringList { u"/one/p.htm"_s });
    QVERIFY(sourceFile().endsWith(QByteArray("\n\n" + onePage + "\n")));
}

void tst_LinkExtraction::crawlsDepthFirstBelowTheGivenPage_data()
{
    QTest::addColumn<QString>("typedSuffix");
    QTest::addColumn<bool>("skipGivenPage");
    QTest::addColumn<int>("firstImage");
    QTest::newRow("the given page's images first, then each followed page's, depth first")
        << QString() << false << 0;
    QTest::newRow("the skip box leaves out the given page's own images") << QString() << true << 2;
    QTest::newRow("a typed fragment defeats the skip box") << u"#top"_s << true << 0;
}

void tst_LinkExtraction::crawlsDepthFirstBelowTheGivenPage()
{
    QFETCH(QString, typedSuffix);
    QFETCH(bool, skipGivenPage);
    QFETCH(int, firstImage);
    FakeHost host;
    host.skipGivenPage = skipGivenPage;

    crawl(host, m_site.server.url(u"/a/p.htm"_s) + typedSuffix);

    const QStringList images { u"/a/p1.jpg"_s, u"/a/p2.jpg"_s, u"/a/sub/q1.jpg"_s,
        u"/a/sub/deep/d1.jpg"_s, u"/a/Q1.jpg"_s };
    QCOMPARE(host.downloadUrls(), m_site.urls(images.mid(firstImage)));
    QCOMPARE(host.downloadRows.size(), images.size() - firstImage); // each row added once
    // Never above the folder, never another host, never a page twice, never a value that ends in
    // a fragment; a 404 page is read like any other. Each page is requested once.
    const QStringList pages { u"/a/p.htm"_s, u"/a/gone.htm"_s, u"/a/sub/q.html"_s,
        u"/a/sub/deep/d.htm"_s, u"/a/Q.HTM"_s };
    QCOMPARE(host.state.strPageList.addresses(), m_site.urls(pages));
    QStringList targets = m_site.server.targets(), sortedPages = pages;
    targets.sort();
    sortedPages.sort();
    QCOMPARE(targets, sortedPages); // fetched ahead, in any order

    // The given page's list is made behind the status its second reading would have left.
    const qsizetype firstList = host.infoHistory.indexOf(Msg::creatingList);
    const QString loaded = Msg::loadingPage + u'('
        + QString::number(firstImage ? QByteArray("<p>none").size() : treePage.size())
        + Msg::bytesDone;
    QCOMPARE(host.infoHistory.mid(firstList - 2, 2), QStringList({ Msg::loadingPage, loaded }));
    QCOMPARE(host.info, Msg::analysingPage);
    // Pages that add no image, even to a list still empty, leave the window busy.
    QVERIFY(!host.controlsHistory.contains(true));
    QVERIFY(sourceFile().endsWith(QByteArray("\r\n\r\n" + treePage + "\r\n")));
}

void tst_LinkExtraction::cancelEndsTheWholeCrawl_data()
{
    QTest::addColumn<QString>("pressedDuring");
    QTest::addColumn<int>("images");
    QTest::addColumn<int>("interruptions");
    QTest::newRow("the link scan of a followed page: each level unwound reports it")
        << Msg::analysingPage << 2 << 3;
    QTest::newRow("the image scan of a followed page: its images stop there")
        << Msg::creatingList << 1 << 2;
}

void tst_LinkExtraction::cancelEndsTheWholeCrawl()
{
    QFETCH(QString, pressedDuring);
    QFETCH(int, images);
    QFETCH(int, interruptions);
    FakeHost host;
    host.onYield = [&](int) {
        if (!host.state.blnCancel && host.state.strPageList.lngPageMax() == 1
            && host.info == pressedDuring)
            host.pressCancel();
    };

    crawl(host, m_site.server.url(u"/c/p.htm"_s));

    QCOMPARE(host.downloadUrls(), m_site.urls({ u"/c/p.jpg"_s, u"/c/q.jpg"_s }).mid(0, images));
    QCOMPARE(host.info, Msg::interrupted);
    QCOMPARE(host.infoHistory.count(Msg::interrupted), interruptions);
    QVERIFY(host.isIdle());
    QStringList targets = m_site.server.targets();
    targets.removeAll(u"/c/r.htm"_s); // maybe fetched ahead
    QCOMPARE(targets, (QStringList { u"/c/p.htm"_s, u"/c/q.htm"_s }));
}

void tst_LinkExtraction::japanesePagesGiveTheAddressesTheyMean()
{
    // Which encoding a page is read in is the page text's own test; here the crawl must use it
    // for images and links alike, and send a followed page's name as UTF-8.
    const QByteArray page = encodeCp932(u"<img src=\"画像.jpg\"><a href=\"次.html\">次へ</a>"_s);
    FakeHost host;
    m_site.put(u"/j/p.htm"_s, page);
    m_site.put(u"/j/次.html"_s, encodeCp932(u"<img src=\"写真.jpg\">"_s));

    crawl(host, m_site.server.url(u"/j/p.htm"_s));

    QCOMPARE(host.downloadUrls(), m_site.urls({ u"/j/画像.jpg"_s, u"/j/写真.jpg"_s }));
    QCOMPARE(m_site.server.targets(), (QStringList { u"/j/p.htm"_s, u"/j/%E6%AC%A1.html"_s }));
    QVERIFY(sourceFile().endsWith(QByteArray("\n\n" + page + "\n")));
}

void tst_LinkExtraction::pagesAheadOverlapYetAreReadInTheirOrder()
{
    FakeHost host;
    crawl(host, m_site.server.url(u"/wait/p.htm"_s));

    QVERIFY(m_site.overlapped);
    QCOMPARE(host.downloadUrls(), m_site.urls({ u"/wait/a.jpg"_s, u"/wait/b.jpg"_s }));
    QCOMPARE(host.state.strPageList.addresses(),
        m_site.urls({ u"/wait/p.htm"_s, u"/wait/a.htm"_s, u"/wait/b.htm"_s }));
    QCOMPARE(m_site.server.requests().size(), 3); // b.htm, reached twice, is fetched once
}

void tst_LinkExtraction::imagesFetchedWhileTheCrawlRuns_data()
{
    QTest::addColumn<bool>("hooked");
    QTest::newRow("look-ahead hooked: before the last page is answered") << true;
    QTest::newRow("no hook (a list-only run): never") << false;
}

void tst_LinkExtraction::imagesFetchedWhileTheCrawlRuns()
{
    QFETCH(bool, hooked);
    FakeHost host;
    FetchAhead early(host.state, u"/nonexistent-folder/"_s, PathConventions::forHost());
    if (hooked)
        host.state.listGrew = [&early] { early.fillEarly(); };
    m_site.holdForImage = hooked;
    m_site.heldUntilImage = false;
    crawl(host, m_site.server.url(u"/early/p.htm"_s));

    QCOMPARE(m_site.heldUntilImage, hooked);
    QCOMPARE(host.downloadUrls(), m_site.urls({ u"/early/first.jpg"_s, u"/early/last.jpg"_s }));
    QCOMPARE(m_site.server.requestCount(u"/early/first.jpg"_s), hooked ? 1 : 0);
}

void tst_LinkExtraction::crawlsALongChainWithoutExhaustingTheStack()
{
    FakeHost host;
    // The recording host would otherwise keep every status of the whole crawl.
    host.onYield = [&](int) {
        if (host.infoHistory.size() > 1000)
            host.infoHistory.clear(), host.controlsHistory.clear(), host.captionHistory.clear();
    };
    QElapsedTimer timer;
    timer.start();

    crawl(host, m_site.server.url(u"/chain/0.html"_s));

    qInfo("%d chained pages crawled in %lld ms", chainLength + 1, timer.elapsed());
    QCOMPARE(host.state.strPageList.lngPageMax(), chainLength);
    QCOMPARE(host.downloadUrls(), m_site.urls({ u"/chain/end.jpg"_s }));
    QCOMPARE(m_site.server.requests().size(), chainLength + 1);
}

void tst_LinkExtraction::linksResolveWhereThePageWasServed_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("images");
    QTest::addColumn<QStringList>("pages"); // every address taken as read, in order
    QTest::newRow("a folder redirected to its form with a slash")
        << u"/r/photos"_s << QStringList { u"/r/photos/a.jpg"_s, u"/r/photos/b.jpg"_s }
        << QStringList { u"/r/photos"_s, u"/r/photos/"_s, u"/r/photos/b.htm"_s };
    QTest::newRow("the address served counts as read; a redirect never leads above the folder")
        << u"/r/old.htm"_s << QStringList { u"/r/new/a.jpg"_s, u"/r/new/sub/b.jpg"_s }
        << QStringList { u"/r/old.htm"_s, u"/r/new/index.htm"_s, u"/r/new/sub/b.htm"_s,
               u"/r/new/alias.htm"_s, u"/r/new/out.htm"_s };
}

void tst_LinkExtraction::linksResolveWhereThePageWasServed()
{
    QFETCH(QString, typed);
    QFETCH(QStringList, images);
    QFETCH(QStringList, pages);
    FakeHost host;

    crawl(host, m_site.server.url(typed));

    QCOMPARE(host.downloadUrls(), m_site.urls(images));
    QCOMPARE(host.state.strPageList.addresses(), m_site.urls(pages));
}

QTEST_GUILESS_MAIN(tst_LinkExtraction)
#include "tst_linkextraction.moc"
