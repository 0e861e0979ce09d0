// Building the download list from live pages: one page's links, the crawl below the given page,
// cancel, and what the server sees.
#include "page_analysis/linkextraction.h"

#include "platform/codepage.h"
#include "resources/messages.h"
#include "support/fakehost.h"
#include "support/loopbackserver.h"
#include "support/messageanswerer.h"
#include "support/tempprogramfolder.h"
#include "web/fetcher.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <map>
#include <regex>

namespace {

constexpr int chainLength = 100000;

// Pages the test writes; anything else answers 404. /chain/N.html is made on request and links
// to N + 1.
class Site
{
public:
    Site()
    {
        server.server().Get(
            ".*", [this](const httplib::Request& request, httplib::Response& response) {
                static const std::regex chain(R"(/chain/(\d+)\.html)");
                std::smatch match;
                if (std::regex_match(request.path, match, chain)) {
                    const int n = std::stoi(match[1]);
                    response.set_content(n < chainLength
                            ? "<a href=\"" + std::to_string(n + 1) + ".html\">"
                            : std::string("<img src=\"end.jpg\">"),
                        "text/html");
                    return;
                }
                std::lock_guard lock(m_mutex);
                const auto page = m_pages.find(request.path);
                response.status = page == m_pages.end() ? 404 : 200;
                response.set_content(
                    page == m_pages.end() ? std::string("<p>none") : page->second.toStdString(),
                    "text/html");
            });
        // Headers and body go out in two writes: without this every page waits for a delayed ACK.
        server.server().set_tcp_nodelay(true);
        server.start();
    }
    void put(const QString& path, const QByteArray& body)
    {
        std::lock_guard lock(m_mutex);
        m_pages[path.toStdString()] = body;
    }
    QStringList urls(const QStringList& paths) const
    {
        QStringList urls;
        for (const QString& path : paths)
            urls.append(path.startsWith(u'/') ? server.url(path) : path);
        return urls;
    }
    QStringList targets() const
    {
        QStringList targets;
        for (const RecordedRequest& request : server.requests())
            targets.append(request.target);
        return targets;
    }

    LoopbackServer server;

private:
    std::mutex m_mutex;
    std::map<std::string, QByteArray> m_pages;
};

// Starts a crawl the way a run does for the embedded-images source.
void crawl(FakeHost& host, const QString& typed)
{
    host.typed = typed;
    host.embedded = true;
    host.state.strPageList.append(Cut_URLTail(typed));
    Get_PageLinks(host, Cut_URLTail(typed));
}

QStringList urlsOf(const FakeHost& host)
{
    QStringList urls;
    for (const DownloadItem& item : host.state.udtDownload)
        urls.append(item.URL);
    return urls;
}

QByteArray sourceFile(const TempProgramFolder& folder)
{
    QFile file(folder.file(Msg::sourceFileName));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const QByteArray onePage
    = "<a href=\"dup.jpg\"><A HREF=\"dup.jpg\"><img src=\"embedded.jpg\">"
      "<a href=\"../up.jpeg\"><a href=\"https://other/x.jpg\"><a href=\"../../../../x.jpg\">";
const QByteArray qPage = "<img src=\"q1.jpg\"><a href=\"deep/d.htm\"><a href=\"../Q.HTM\">";
const QByteArray treePage
    = "<IMG SRC=\"p1.jpg\">\r\n<a href=\"sub/q.html\"><a href=\"../r.html\">"
      "<a href=\"http://other.invalid/a/s.htm\"><a href=\"q.htm#top\"><A HREF=\"Q.HTM\">"
      "<a href=\"p.htm\"><a href=\"gone.htm\"><img src=\"p2.jpg\">";

} // namespace

class tst_LinkExtraction : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void collectsTheImagesAPageLinksTo();
    void crawlsDepthFirstBelowTheGivenPage_data();
    void crawlsDepthFirstBelowTheGivenPage();
    void cancelEndsTheWholeCrawl_data();
    void cancelEndsTheWholeCrawl();
    void japanesePagesGiveTheAddressesTheyMean_data();
    void japanesePagesGiveTheAddressesTheyMean();
    void crawlsALongChainWithoutExhaustingTheStack();

private:
    Site m_site;
    MessageAnswerer m_answerer;
};

void tst_LinkExtraction::initTestCase()
{
    m_site.put(QStringLiteral("/one/p.htm"), onePage);
    m_site.put(QStringLiteral("/a/p.htm"), treePage);
    m_site.put(QStringLiteral("/a/sub/q.html"), qPage);
    m_site.put(QStringLiteral("/a/sub/deep/d.htm"),
        "<img src=\"d1.jpg\"><a href=\"../q.html\"><a href=\"../../p.htm\">");
    m_site.put(QStringLiteral("/a/Q.HTM"), "<img src=\"Q1.jpg\">");
    m_site.put(QStringLiteral("/a/r.html"), "<img src=\"never.jpg\">");
    m_site.put(
        QStringLiteral("/c/p.htm"), "<img src=\"p.jpg\"><a href=\"q.htm\"><a href=\"r.htm\">");
    m_site.put(QStringLiteral("/c/q.htm"), "<img src=\"q.jpg\"><a href=\"deeper.htm\">");
}

void tst_LinkExtraction::collectsTheImagesAPageLinksTo()
{
    TempProgramFolder folder;
    FakeHost host;
    host.typed = m_site.server.url(QStringLiteral("/one/p.htm"));
    m_site.server.clearRequests();

    QVERIFY(Make_PageList(host, host.typed, hrefPattern));

    // Not de-duplicated; a link that climbs above the host is dropped; embedded images are no
    // links.
    QCOMPARE(urlsOf(host),
        m_site.urls({ QStringLiteral("/one/dup.jpg"), QStringLiteral("/one/dup.jpg"),
            QStringLiteral("/up.jpeg"), QStringLiteral("https://other/x.jpg") }));
    QCOMPARE(host.downloadRows,
        QStringList({ QStringLiteral("dup.jpg"), QStringLiteral("dup.jpg"),
            QStringLiteral("up.jpeg"), QStringLiteral("x.jpg") }));
    QCOMPARE(host.controlsHistory, QList<bool> { false });
    QCOMPARE(m_site.targets(), QStringList { QStringLiteral("/one/p.htm") });
    QVERIFY(sourceFile(folder).endsWith(QByteArray("\n\n" + onePage + "\n")));
}

void tst_LinkExtraction::crawlsDepthFirstBelowTheGivenPage_data()
{
    QTest::addColumn<QString>("typedSuffix");
    QTest::addColumn<bool>("skipGivenPage");
    QTest::addColumn<int>("firstImage");
    QTest::newRow("the given page's images first, then each followed page's, depth first")
        << QString() << false << 0;
    QTest::newRow("the skip box leaves out the given page's own images") << QString() << true << 2;
    QTest::newRow("a typed fragment defeats the skip box") << QStringLiteral("#top") << true << 0;
}

void tst_LinkExtraction::crawlsDepthFirstBelowTheGivenPage()
{
    QFETCH(QString, typedSuffix);
    QFETCH(bool, skipGivenPage);
    QFETCH(int, firstImage);
    TempProgramFolder folder;
    FakeHost host;
    host.skipGivenPage = skipGivenPage;
    m_site.server.clearRequests();

    crawl(host, m_site.server.url(QStringLiteral("/a/p.htm")) + typedSuffix);

    const QStringList images { QStringLiteral("/a/p1.jpg"), QStringLiteral("/a/p2.jpg"),
        QStringLiteral("/a/sub/q1.jpg"), QStringLiteral("/a/sub/deep/d1.jpg"),
        QStringLiteral("/a/Q1.jpg") };
    QCOMPARE(urlsOf(host), m_site.urls(images.mid(firstImage)));
    // Never above the folder, never another host, never a page twice, never a value that ends in
    // a fragment; a 404 page is read like any other. Each page is requested once.
    const QStringList pages { QStringLiteral("/a/p.htm"), QStringLiteral("/a/sub/q.html"),
        QStringLiteral("/a/sub/deep/d.htm"), QStringLiteral("/a/Q.HTM"),
        QStringLiteral("/a/gone.htm") };
    QCOMPARE(host.state.strPageList.addresses(), m_site.urls(pages));
    QCOMPARE(m_site.targets(), pages);

    // The given page's list is made behind the status its second reading would have left.
    const qsizetype firstList = host.infoHistory.indexOf(Msg::creatingList);
    const QString loaded = Msg::loadingPage + u'('
        + QString::number(firstImage ? qPage.size() : treePage.size()) + Msg::bytesDone;
    QCOMPARE(host.infoHistory.mid(firstList - 2, 2), QStringList({ Msg::loadingPage, loaded }));
    QCOMPARE(host.info, Msg::analysingPage);
    QVERIFY(sourceFile(folder).endsWith(QByteArray("\r\n\r\n" + treePage + "\r\n")));
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
    TempProgramFolder folder;
    FakeHost host;
    m_site.server.clearRequests();
    host.onYield = [&](int) {
        if (!host.state.blnCancel && host.state.strPageList.lngPageMax() == 1
            && host.info == pressedDuring)
            host.pressCancel();
    };

    crawl(host, m_site.server.url(QStringLiteral("/c/p.htm")));

    QCOMPARE(urlsOf(host),
        m_site.urls({ QStringLiteral("/c/p.jpg"), QStringLiteral("/c/q.jpg") }).mid(0, images));
    QCOMPARE(host.info, Msg::interrupted);
    QCOMPARE(host.infoHistory.count(Msg::interrupted), interruptions);
    QVERIFY(host.isIdle());
    QCOMPARE(
        m_site.targets(), QStringList({ QStringLiteral("/c/p.htm"), QStringLiteral("/c/q.htm") }));
}

void tst_LinkExtraction::japanesePagesGiveTheAddressesTheyMean_data()
{
    QTest::addColumn<QByteArray>("page");
    const QString body = QStringLiteral("<img src=\"画像.jpg\"><a href=\"次.html\">次へ</a>");
    QTest::newRow("shift_jis named by a meta")
        << QByteArray("<meta charset=\"Shift_JIS\">" + encodeCp932(body));
    QTest::newRow("shift_jis without a meta") << encodeCp932(body);
    QTest::newRow("utf-8 without a meta") << body.toUtf8();
}

void tst_LinkExtraction::japanesePagesGiveTheAddressesTheyMean()
{
    QFETCH(QByteArray, page);
    TempProgramFolder folder;
    FakeHost host;
    m_site.put(QStringLiteral("/j/p.htm"), page);
    m_site.put(QStringLiteral("/j/次.html"), encodeCp932(QStringLiteral("<img src=\"写真.jpg\">")));
    m_site.server.clearRequests();

    crawl(host, m_site.server.url(QStringLiteral("/j/p.htm")));

    QCOMPARE(urlsOf(host),
        m_site.urls({ QStringLiteral("/j/画像.jpg"), QStringLiteral("/j/写真.jpg") }));
    QCOMPARE(m_site.targets(),
        QStringList({ QStringLiteral("/j/p.htm"), QStringLiteral("/j/%E6%AC%A1.html") }));
    QVERIFY(sourceFile(folder).endsWith(QByteArray("\n\n" + page + "\n")));
}

void tst_LinkExtraction::crawlsALongChainWithoutExhaustingTheStack()
{
    TempProgramFolder folder;
    FakeHost host;
    // The recording host would otherwise keep every status of the whole crawl.
    host.onYield = [&](int) {
        if (host.infoHistory.size() > 1000)
            host.infoHistory.clear(), host.controlsHistory.clear(), host.captionHistory.clear();
    };
    m_site.server.clearRequests();
    QElapsedTimer timer;
    timer.start();

    crawl(host, m_site.server.url(QStringLiteral("/chain/0.html")));

    qInfo("%d chained pages crawled in %lld ms", chainLength + 1, timer.elapsed());
    QCOMPARE(host.state.strPageList.lngPageMax(), chainLength);
    QCOMPARE(urlsOf(host), m_site.urls({ QStringLiteral("/chain/end.jpg") }));
    QCOMPARE(m_site.server.requests().size(), chainLength + 1);
}

QTEST_GUILESS_MAIN(tst_LinkExtraction)
#include "tst_linkextraction.moc"
