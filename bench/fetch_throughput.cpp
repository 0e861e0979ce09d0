// Fetches one large body from a loopback server with Get_UrlData and with the curl command line,
// several rounds each, and prints the throughput of both and their ratio.
#include "support/fakehost.h"
#include "web/connectioncache.h"
#include "web/fetcher.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <httplib.h>

#include <algorithm>
#include <cstdio>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const qint64 megabytes = args.size() > 1 ? args.at(1).toLongLong() : 50;
    const int rounds = args.size() > 2 ? args.at(2).toInt() : 7;
    const qint64 size = megabytes * 1024 * 1024;

    std::string body(size_t(size), '\0');
    for (size_t i = 0; i < body.size(); ++i)
        body[i] = char((i * 2654435761u) >> 13);

    httplib::Server server;
    // Otherwise an answer's last bytes can wait for the client's delayed ACK (Nagle).
    server.set_tcp_nodelay(true);
    // Served straight from the one buffer, so that the server costs both clients the same.
    server.Get("/big.bin", [&](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(body.size(), "application/octet-stream",
            [&](size_t offset, size_t length, httplib::DataSink& sink) {
                return sink.write(body.data() + offset, length);
            });
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    std::thread thread([&] { server.listen_after_bind(); });
    while (!server.is_running())
        std::this_thread::yield();
    const QString url = u"http://127.0.0.1:"_s + QString::number(port) + u"/big.bin"_s;

    initialiseCurlOnce();
    std::vector<double> ours;
    std::vector<double> theirs;
    for (int round = 0; round <= rounds; ++round) {
        // A fresh window each round: a new connection, as curl makes one.
        FakeHost host;
        QByteArray data;
        QElapsedTimer clock;
        clock.start();
        const FetchOutcome outcome
            = Get_UrlData(host, url, data, qint64(512) * 1024 * 1024).outcome;
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        if (outcome != FetchOutcome::Complete || data.size() != size) {
            std::fprintf(stderr, "fetch failed: outcome %d, %lld bytes\n", int(outcome),
                static_cast<long long>(data.size()));
            return 1;
        }

        QProcess curl;
        curl.start(u"curl"_s,
            { u"-s"_s, u"--noproxy"_s, u"*"_s, u"-o"_s, u"/dev/null"_s, u"-w"_s, u"%{time_total}"_s,
                url });
        if (!curl.waitForFinished(120000) || curl.exitCode() != 0) {
            std::fprintf(stderr, "curl failed\n");
            return 1;
        }
        const double curlSeconds = QString::fromUtf8(curl.readAllStandardOutput()).toDouble();
        if (round == 0)
            continue; // warm-up: page cache, allocator, first connection
        ours.push_back(seconds);
        theirs.push_back(curlSeconds);
    }
    server.stop();
    thread.join();

    const double mb = double(size) / (1024.0 * 1024.0);
    const double oursRate = mb / median(ours);
    const double theirRate = mb / median(theirs);
    std::printf("body %lld MB, %d rounds (medians)\n", static_cast<long long>(megabytes), rounds);
    std::printf("Get_UrlData       %8.1f MB/s\n", oursRate);
    std::printf("curl -o /dev/null %8.1f MB/s\n", theirRate);
    std::printf("ratio             %8.2f\n", oursRate / theirRate);
    return 0;
}
