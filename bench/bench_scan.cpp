// Micro-benchmark: reading one 10 MB page from a local server (fetch, decode, attribute scans,
// list building), timed routine by routine. Prints its figures; asserts nothing.
#include "support/fakehost.h"

#include "page_analysis/linkextraction.h"
#include "platform/codepage.h"
#include "platform/programfolder.h"
#include "web/fetcher.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <httplib.h>

#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

namespace {

constexpr qsizetype pageBytes = 10 * 1024 * 1024;

// Gallery markup: one embedded preview and one link to its full-size picture every 150 bytes or so.
QByteArray densePage()
{
    QByteArray page = "<HTML><HEAD><TITLE>dense</TITLE></HEAD><BODY>\r\n";
    page.reserve(pageBytes + 256);
    for (int n = 0; page.size() < pageBytes; ++n) {
        const QByteArray number = QByteArray::number(n).rightJustified(6, '0');
        page += "<div class=\"photo\"><a href=\"full/p" + number + ".jpg\"><img src=\"preview/p"
            + number + "_m.jpg\" alt=\"photo\" width=\"240\"></a></div>\r\n";
    }
    return page + "</BODY></HTML>\r\n";
}

// Japanese prose in code page 932 with an image and a link about every 2 KB: a long article.
QByteArray textPage()
{
    const QString prose = QStringLiteral("春の光が差し込む湖のほとりで撮影した一枚です。朝霧が晴れ"
                                         "るまでの短い時間、水面に映る山並みと"
                                         "桜並木がひとつの絵のように重なりました。撮影地までは駅か"
                                         "ら歩いて四十分ほどですが、途中の坂道から"
                                         "の眺めも見事です。");
    const QByteArray paragraph = "<p>" + encodeCp932(prose) + "</p>\r\n";
    QByteArray page = "<HTML><HEAD><META http-equiv=\"Content-Type\" content=\"text/html; "
                      "charset=Shift_JIS\"></HEAD><BODY>\r\n";
    page.reserve(pageBytes + 4096);
    for (int n = 0; page.size() < pageBytes; ++n) {
        for (int k = 0; k < 7; ++k)
            page += paragraph;
        const QByteArray number = QByteArray::number(n);
        page += "<img src=\"img/t" + number + ".jpg\"><a href=\"img/t" + number
            + ".jpg\">link</a>\r\n";
    }
    return page + "</BODY></HTML>\r\n";
}

struct Timing
{
    double ms = 0;
    qint64 yields = 0;
    qint64 infoUpdates = 0;
    qsizetype entries = 0;
};

void resetRun(FakeHost& host, const QString& page)
{
    RunState& state = host.state;
    state.blnCancel = state.blnSkip = false;
    state.udtDownload.clear();
    state.strPageList.clear();
    state.strPageList.append(page);
}

template <typename Work> Timing measure(FakeHost& host, const QString& page, Work work)
{
    resetRun(host, page);
    const qint64 yields = host.yields;
    const qint64 infos = host.infoUpdates;
    QElapsedTimer timer;
    timer.start();
    work();
    Timing t;
    t.ms = timer.nsecsElapsed() / 1e6;
    t.yields = host.yields - yields;
    t.infoUpdates = host.infoUpdates - infos;
    t.entries = host.state.udtDownload.size();
    return t;
}

// The best of a few runs: the figure least disturbed by whatever else the machine is doing.
template <typename Work> Timing best(FakeHost& host, const QString& page, Work work)
{
    Timing first = measure(host, page, work);
    if (first.ms > 5000)
        return first;
    for (int i = 0; i < 2; ++i) {
        const Timing again = measure(host, page, work);
        if (again.ms < first.ms)
            first = again;
    }
    return first;
}

void report(
    const char* name, qsizetype bytes, const Timing& fetch, const Timing& list, const Timing& crawl)
{
    std::printf("%s page, %.1f MB:\n", name, bytes / 1048576.0);
    std::printf(
        "  Get_UrlData (fetch only)          %9.1f ms  %9lld yields  %7lld status updates\n",
        fetch.ms, static_cast<long long>(fetch.yields), static_cast<long long>(fetch.infoUpdates));
    std::printf("  Make_DownloadList (src)           %9.1f ms  %9lld yields  %7lld entries"
                "   (scan and list: %.1f ms)\n",
        list.ms, static_cast<long long>(list.yields), static_cast<long long>(list.entries),
        list.ms - fetch.ms);
    std::printf("  Get_PageLinks (whole given page)  %9.1f ms  %9lld yields  %7lld entries\n",
        crawl.ms, static_cast<long long>(crawl.yields), static_cast<long long>(crawl.entries));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir ownScratch;
    const QString scratch = argc > 1 ? QString::fromLocal8Bit(argv[1]) : ownScratch.path();
    setProgramFolder(scratch);

    const QByteArray dense = densePage();
    const QByteArray text = textPage();
    httplib::Server server;
    // Otherwise an answer's last bytes can wait for the client's delayed ACK (Nagle).
    server.set_tcp_nodelay(true);
    server.Get("/dense.html", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(dense.constData(), dense.size(), "text/html");
    });
    server.Get("/text.html", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(text.constData(), text.size(), "text/html");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    if (port <= 0) {
        std::fprintf(stderr, "bench_scan: cannot listen on 127.0.0.1\n");
        return 1;
    }
    std::thread serving([&] { server.listen_after_bind(); });

    FakeHost host;
    const struct
    {
        const char* name;
        const char* path;
        qsizetype bytes;
    } pages[] = { { "Link-dense gallery", "/dense.html", dense.size() },
        { "Japanese text", "/text.html", text.size() } };
    for (const auto& p : pages) {
        const QString url
            = QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(QLatin1String(p.path));
        host.typed = url;
        QByteArray data;
        const Timing fetch = best(host, url, [&] { Get_UrlData(host, url, data); });
        const Timing list = best(host, url, [&] { Make_DownloadList(host, url, srcPattern); });
        const Timing crawl = best(host, url, [&] { Get_PageLinks(host, url); });
        report(p.name, p.bytes, fetch, list, crawl);
    }

    server.stop();
    serving.join();
    return 0;
}
