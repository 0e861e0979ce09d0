// Micro-benchmark: the time a crawl spends updating the file names and lstDownload after each page.
// The real window (offscreen) crawls 1,000 pages of 20 images each from a loopback server with
// Get_PageLinks; the window's list updates are timed as they happen, and the same growth of the
// list is then replayed through Get_FileList on a bare host, without the network, for the time its
// file names take. Prints its figures and the target; asserts nothing.
//
// Usage: bench_crawl_lists [SCRATCH_FOLDER [PAGES [IMAGES_PER_PAGE]]]
#include "support/fakehost.h"

#include "main_window/frmmain.h"

#include "page_analysis/linkextraction.h"
#include "platform/messagebox.h"
#include "platform/programfolder.h"
#include "store/localpaths.h"
#include "web/connectioncache.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>

#include <httplib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

constexpr double targetMs = 1000;

// The window with a stopwatch around its list updates.
class TimedWindow : public frmMain
{
public:
    void appendDownloadRows(const QStringList& fileNames) override
    {
        QElapsedTimer timer;
        timer.start();
        frmMain::appendDownloadRows(fileNames);
        windowNs += timer.nsecsElapsed();
        sizes.push_back((sizes.empty() ? 0 : sizes.back()) + fileNames.size());
    }

    qint64 windowNs = 0;
    std::vector<qsizetype> sizes; // the list's length at each update
};

QByteArray pageName(int page) { return "p" + QByteArray::number(page).rightJustified(4, '0'); }

// Page 0 is the start page and links to every other page; each page embeds its own images.
QByteArray pageMarkup(int page, int pages, int imagesPerPage)
{
    QByteArray html = "<HTML><HEAD><TITLE>" + pageName(page) + "</TITLE></HEAD><BODY>\r\n";
    for (int i = 0; i < imagesPerPage; ++i) {
        html += "<div class=\"photo\"><img src=\"img/" + pageName(page) + "_"
            + QByteArray::number(i).rightJustified(2, '0')
            + ".jpg\" width=\"240\"><p>photo</p></div>\r\n";
    }
    if (page == 0) {
        for (int k = 1; k < pages; ++k)
            html += "<a href=\"" + pageName(k) + ".html\">" + pageName(k) + "</a>\r\n";
    } else {
        html += "<a href=\"index.html\">index</a>\r\n";
    }
    return html + "</BODY></HTML>\r\n";
}

double ms(qint64 ns) { return ns / 1e6; }

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    initialiseCurlOnce();
    QTemporaryDir ownScratch;
    setProgramFolder(argc > 1 ? QString::fromLocal8Bit(argv[1]) : ownScratch.path());
    const int pages = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1000;
    const int imagesPerPage = argc > 3 ? std::max(0, std::atoi(argv[3])) : 20;
    QStringList boxes;
    installMessageBoxPresenter([&](const MessageBoxRequest& request) {
        boxes.append(request.title + QLatin1Char(':') + request.text);
        return request.defaultButton;
    });

    std::vector<QByteArray> site;
    for (int page = 0; page < pages; ++page)
        site.push_back(pageMarkup(page, pages, imagesPerPage));
    httplib::Server server;
    // Without it the answer's headers and body wait on each other (Nagle and delayed ACKs), and
    // every page costs tens of milliseconds that no client could save.
    server.set_tcp_nodelay(true);
    server.Get(R"(/site/(index|p\d{4})\.html)",
        [&](const httplib::Request& request, httplib::Response& response) {
            const std::string name = request.matches[1].str();
            const int page = name == "index" ? 0 : std::atoi(name.c_str() + 1);
            if (page >= pages) {
                response.status = 404;
                return;
            }
            response.set_content(site[page].constData(), site[page].size(), "text/html");
        });
    const int port = server.bind_to_any_port("127.0.0.1");
    if (port <= 0) {
        std::fprintf(stderr, "bench_crawl_lists: cannot listen on 127.0.0.1\n");
        return 1;
    }
    std::thread serving([&] { server.listen_after_bind(); });
    const QString start = QStringLiteral("http://127.0.0.1:%1/site/index.html").arg(port);

    TimedWindow window;
    window.show();
    auto* address = window.findChild<QLineEdit*>(QStringLiteral("txtURL"));
    auto* embedded = window.findChild<QAbstractButton*>(QStringLiteral("optLinkJpg(1)"));
    if (!address || !embedded) {
        std::fprintf(stderr, "bench_crawl_lists: the window lacks txtURL or optLinkJpg(1)\n");
        server.stop();
        serving.join();
        return 2;
    }
    embedded->click();
    address->setText(start);
    QCoreApplication::processEvents();
    RunState& state = window.runState();
    state.udtDownload.clear();
    state.strPageList.clear();
    state.strPageList.append(start);

    QElapsedTimer crawlTimer;
    crawlTimer.start();
    Get_PageLinks(window, start);
    QCoreApplication::processEvents();
    const qint64 crawlNs = crawlTimer.nsecsElapsed();
    server.stop();
    serving.join();
    const QList<DownloadItem> found = state.udtDownload;

    // The same growth, list update after list update, through Get_FileList on a host without a
    // window: the time of the file names. Best of three, the figure least disturbed by the rest
    // of the machine.
    qint64 namesNs = -1;
    for (int round = 0; round < 3; ++round) {
        FakeHost bare;
        QList<DownloadItem>& list = bare.state.udtDownload;
        qint64 ns = 0;
        for (const qsizetype size : window.sizes) {
            const qsizetype named = list.size();
            for (qsizetype i = named; i < size && i < found.size(); ++i)
                list.append(DownloadItem { found.at(i).URL, QString() });
            QElapsedTimer timer;
            timer.start();
            Get_FileList(bare, named);
            ns += timer.nsecsElapsed();
        }
        namesNs = namesNs < 0 ? ns : std::min(namesNs, ns);
    }

    std::printf("Crawl of %d pages with %d images each (the real window, offscreen, loopback):\n",
        pages, imagesPerPage);
    std::printf("  Get_PageLinks in all                          %9.1f ms  (%lld pages read, "
                "%lld entries)\n",
        ms(crawlNs), static_cast<long long>(state.strPageList.addresses().size()),
        static_cast<long long>(found.size()));
    std::printf("  the window's list updates during the crawl    %9.1f ms  (%zu updates)\n",
        ms(window.windowNs), window.sizes.size());
    std::printf("  Get_FileList replayed without the window      %9.1f ms  (%zu updates)\n",
        ms(namesNs), window.sizes.size());
    const double listMs = ms(window.windowNs + namesNs);
    if (window.sizes.empty()) {
        std::printf(
            "  list updates: not measured (the window's appendDownloadRows was never called; "
            "time the crawl's new list update here)\n");
    } else {
        std::printf(
            "  time in list updates (window + names)         %9.1f ms, target < %.0f ms: %s\n",
            listMs, targetMs, listMs < targetMs ? "MET" : "NOT MET");
    }
    for (const QString& box : boxes)
        std::printf("  message box %s\n", qUtf8Printable(box));
    return 0;
}
