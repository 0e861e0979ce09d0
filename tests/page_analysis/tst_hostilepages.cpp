// Pages built to hurt the link scan and the crawl: garbage, NUL bytes, huge values and pages,
// floods of patterns and links, cycles and dot segments. Each gives what it holds, in bounded
// time, and the crawl still reads no page twice and nothing above the given page's folder.
#include "page_analysis/linkextraction.h"

#include "resources/messages.h"
#include "support/fakehost.h"
#include "support/loopbackserver.h"
#include "support/messageanswerer.h"
#include "support/tempprogramfolder.h"
#include "support/testfiles.h"
#include "web/fetcher.h"
#include "web/getlinkurl.h"

#include <QElapsedTimer>
#include <QTest>

#include <map>
#include <mutex>

using namespace Qt::StringLiterals;

namespace {

enum class Page {
    NulBytes,
    NoiseDeclaredUtf8,
    BrokenShiftJis,
    HugeValue,
    HugeUnclosedValue,
    MillionPatterns,
    ManyImages,
    FiftyMegabytes,
    Endless,
};

constexpr qsizetype megabyte = 1024 * 1024;

QByteArray pageOf(Page kind)
{
    switch (kind) {
    case Page::NulBytes:
        return QByteArrayLiteral("\0\0<img src=\"a.jpg\">\0<img src=\"b\0.jpg\">\0");
    case Page::NoiseDeclaredUtf8:
        return "<meta charset=\"utf-8\">" + noiseBytes(100000, 3).replace('"', '\'')
            + "<img src=\"c.jpg\">" + noiseBytes(100000, 4).replace('"', '\'');
    case Page::BrokenShiftJis:
        return "\x81\x81\xFF\xFE\x82\r\n<img src=\"d.jpg\">\r\n\xE0";
    case Page::HugeValue:
        return "<img src=\"" + QByteArray(10 * megabyte, 'v') + ".jpg\">";
    case Page::HugeUnclosedValue:
        return "<img src=\"" + QByteArray(10 * megabyte, 'v') + ".jpg>";
    case Page::MillionPatterns:
        return QByteArray("src=\"").repeated(1000000) + "x.jpg\"";
    case Page::ManyImages: {
        QByteArray page;
        for (int i = 0; i < 100000; ++i)
            page += "<img src=\"i" + QByteArray::number(i) + ".jpg\">";
        return page;
    }
    case Page::FiftyMegabytes:
        return QByteArray(50 * megabyte, ' ') + "<img src=\"end.jpg\">";
    case Page::Endless:
        break;
    }
    return {};
}

// Pages by path; anything else answers 404. /endless.htm never ends: a link first, then filler.
class Site
{
public:
    Site()
    {
        server.server().Get("/endless.htm", [](const httplib::Request&, httplib::Response& r) {
            r.set_chunked_content_provider("text/html", [](size_t offset, httplib::DataSink& sink) {
                static const QByteArray filler(megabyte, 'f');
                const QByteArray piece = offset == 0 ? "<img src=\"e.jpg\">" : filler;
                return sink.write(piece.constData(), size_t(piece.size()));
            });
        });
        server.server().Get(".*", [this](const httplib::Request& request, httplib::Response& r) {
            std::lock_guard lock(m_mutex);
            const auto page = m_pages.find(request.path);
            r.status = page == m_pages.end() ? 404 : 200;
            r.set_content(page == m_pages.end() ? std::string("none") : page->second, "text/html");
        });
        server.start();
    }
    void put(const QString& path, const QByteArray& body)
    {
        std::lock_guard lock(m_mutex);
        m_pages[path.toStdString()] = body.toStdString();
    }

    LoopbackServer server;

private:
    std::mutex m_mutex;
    std::map<std::string, std::string> m_pages;
};

} // namespace

class tst_HostilePages : public QObject
{
    Q_OBJECT
private slots:
    void pagesGiveWhatTheyHold_data();
    void pagesGiveWhatTheyHold();
    void crawlReadsEachPageOnceAndStaysBelow_data();
    void crawlReadsEachPageOnceAndStaysBelow();
    void deepPageAddressesResolveInOnePass_data();
    void deepPageAddressesResolveInOnePass();

private:
    Site m_site;
    MessageAnswerer m_answerer;
};

void tst_HostilePages::pagesGiveWhatTheyHold_data()
{
    QTest::addColumn<Page>("page");
    QTest::addColumn<QStringList>("first"); // the file names of the first entries
    QTest::addColumn<int>("count");
    QTest::newRow("NUL bytes neither end the page nor reach an address")
        << Page::NulBytes << QStringList { u"a.jpg"_s } << 1;
    QTest::newRow("binary noise in a page declared UTF-8")
        << Page::NoiseDeclaredUtf8 << QStringList { u"c.jpg"_s } << 1;
    QTest::newRow("bytes that are no Shift_JIS around a link")
        << Page::BrokenShiftJis << QStringList { u"d.jpg"_s } << 1;
    QTest::newRow("a value of 10 MB is taken whole")
        << Page::HugeValue << QStringList { QString(10 * megabyte, u'v') + u".jpg"_s } << 1;
    QTest::newRow("a value of 10 MB that never closes gives nothing")
        << Page::HugeUnclosedValue << QStringList {} << 0;
    QTest::newRow("a million src patterns back to back")
        << Page::MillionPatterns << QStringList { u"x.jpg"_s } << 1;
    QTest::newRow("100,000 images on one page")
        << Page::ManyImages << QStringList { u"i0.jpg"_s, u"i1.jpg"_s } << 100000;
    QTest::newRow("a page of 50 MB with its one image at the very end")
        << Page::FiftyMegabytes << QStringList { u"end.jpg"_s } << 1;
    QTest::newRow("an endless page is read to 64 MB and scanned as far as it came")
        << Page::Endless << QStringList { u"e.jpg"_s } << 1;
}

void tst_HostilePages::pagesGiveWhatTheyHold()
{
    QFETCH(Page, page);
    QFETCH(QStringList, first);
    QFETCH(int, count);
    TempProgramFolder folder;
    FakeHost host;
    QString path = u"/endless.htm"_s;
    qint64 size = pageBodyLimit;
    if (page != Page::Endless) {
        path = u"/p/"_s + QString::number(int(page)) + u".htm"_s;
        const QByteArray bytes = pageOf(page);
        size = bytes.size();
        m_site.put(path, bytes);
    }
    host.typed = m_site.server.url(path);
    QElapsedTimer clock;
    clock.start();

    QVERIFY(Make_PageList(host, host.typed, srcPattern));
    qInfo("page read and scanned in %lld ms", clock.elapsed());
    QCOMPARE(host.state.udtDownload.size(), count);
    QCOMPARE(host.downloadRows.mid(0, first.size()), first);
    if (count > 0)
        QCOMPARE(host.state.udtDownload.last().FileName,
            page == Page::ManyImages ? u"i99999.jpg"_s : first.last());
    if (page == Page::Endless)
        QVERIFY(host.infoHistory.contains(
            Msg::loadingPage + u'(' + QString::number(pageBodyLimit) + Msg::bytesDone));
    // The whole page went to HTMLSource.txt, as far as it came.
    QVERIFY(QFileInfo(folder.file(Msg::sourceFileName)).size() > size);
}

void tst_HostilePages::crawlReadsEachPageOnceAndStaysBelow_data()
{
    QTest::addColumn<QByteArray>("start"); // /c/p.htm
    QTest::addColumn<QStringList>("read"); // the requests, in order
    QByteArray flood;
    for (int i = 0; i < 100000; ++i)
        flood += "<a href=\"../o/" + QByteArray::number(i) + ".htm\"><a href=\"same.htm\">";
    QTest::newRow("pages that link in a cycle are each read once")
        << QByteArray("<a href=\"a.htm\"><a href=\"./p.htm\"><a href=\"a.htm#top\">")
        << QStringList { u"/c/p.htm"_s, u"/c/a.htm"_s, u"/c/sub/b.htm"_s };
    QTest::newRow("a detour through a folder and back is the page already read")
        << QByteArray("<a href=\"x/../p.htm\"><a href=\"x/../a.htm\"><a href=\"a.htm\">")
        << QStringList { u"/c/p.htm"_s, u"/c/a.htm"_s, u"/c/sub/b.htm"_s };
    QTest::newRow("dot segments never lead above the given page's folder")
        << QByteArray("<a href=\"sub/../../top.htm\"><a href=\"sub/./../../c2/x.htm\">")
        << QStringList { u"/c/p.htm"_s };
    QTest::newRow("100,000 links on one page, all outside or the same page")
        << flood << QStringList { u"/c/p.htm"_s, u"/c/same.htm"_s };
}

void tst_HostilePages::crawlReadsEachPageOnceAndStaysBelow()
{
    QFETCH(QByteArray, start);
    QFETCH(QStringList, read);
    TempProgramFolder folder;
    m_site.put(u"/c/p.htm"_s, start);
    // a.htm and b.htm send the crawl round the cycle again, in every spelling.
    m_site.put(u"/c/a.htm"_s, "<a href=\"sub/b.htm\"><a href=\"p.htm\"><a href=\"./a.htm\">");
    m_site.put(u"/c/sub/b.htm"_s,
        "<a href=\"../a.htm\"><a href=\"x/../b.htm\"><a href=\"../sub/b.htm\"><a href=\"b.htm\">");
    m_site.put(u"/c/same.htm"_s, "<a href=\"same.htm\">");
    m_site.put(u"/top.htm"_s, "<a href=\"c/p.htm\">");
    m_site.put(u"/c2/x.htm"_s, "");
    m_site.server.clearRequests();
    FakeHost host;
    host.typed = m_site.server.url(u"/c/p.htm"_s);
    host.embedded = true;
    host.state.strPageList.append(host.typed);
    // A crawl that went round and round would never end by itself.
    host.onYield = [&](int) {
        if (!host.state.blnCancel && m_site.server.requests().size() > 50)
            host.pressCancel();
    };

    Get_PageLinks(host, host.typed);

    QCOMPARE(m_site.server.targets(), read);
    // Each page is taken into the run under the address the server was asked for.
    QStringList addresses;
    for (const QString& path : read)
        addresses.append(m_site.server.url(path));
    QCOMPARE(host.state.strPageList.addresses(), addresses);
    QVERIFY(host.state.udtDownload.isEmpty());
}

void tst_HostilePages::deepPageAddressesResolveInOnePass_data()
{
    // A followed link can make a page address of megabytes; its links climb from there.
    QTest::addColumn<int>("steps");
    QTest::addColumn<QString>("expected"); // empty: the link leaves the site
    const QString deep = u"http://h/"_s + u"d/"_s.repeated(500000);
    QTest::newRow("one step up") << 1 << deep.chopped(2) + u"x.jpg"_s;
    QTest::newRow("every folder but the host") << 500000 << u"http://h/x.jpg"_s;
    QTest::newRow("past every prefix") << 500003 << QString();
}

void tst_HostilePages::deepPageAddressesResolveInOnePass()
{
    QFETCH(int, steps);
    QFETCH(QString, expected);
    const QString page = u"http://h/"_s + u"d/"_s.repeated(500000) + u"p.htm"_s;
    QString result;
    QCOMPARE(Get_LinkAbsURL(page, u"../"_s.repeated(steps) + u"x.jpg"_s, result),
        !expected.isEmpty());
    QCOMPARE(result, expected);
}

QTEST_GUILESS_MAIN(tst_HostilePages)
#include "tst_hostilepages.moc"
