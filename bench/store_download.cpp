// The download loop on loopback: N images of K kilobytes fetched by Download_ByInet into an empty
// folder, then the same list once more over the filled folder (every file already present).
// Prints the time of each pass and the peak resident memory of the downloading process; the
// server runs in a child process so that its buffers are not counted.
//
// Usage: store_download [images] [kilobytes]
#include "store/downloadengine.h"
#include "support/fakehost.h"
#include "web/connectioncache.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <httplib.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

long peakKb()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Serves the same image body under every path until killed; writes its port to the pipe.
[[noreturn]] void serve(int portPipe, std::size_t bytes)
{
    std::string body(bytes, '\x5A');
    body[0] = '\xFF';
    body[1] = '\xD8';
    httplib::Server server;
    // Otherwise an answer's last bytes can wait for the client's delayed ACK (Nagle).
    server.set_tcp_nodelay(true);
    server.Get(".*", [&body](const httplib::Request&, httplib::Response& response) {
        response.set_content(body, "image/jpeg");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    if (::write(portPipe, &port, sizeof port) != sizeof port)
        _exit(1);
    server.listen_after_bind();
    _exit(0);
}

} // namespace

int main(int argc, char** argv)
{
    const int images = argc > 1 ? std::atoi(argv[1]) : 2000;
    const int kilobytes = argc > 2 ? std::atoi(argv[2]) : 100;

    int fds[2];
    if (::pipe(fds) != 0)
        return 1;
    const pid_t server = ::fork();
    if (server == 0)
        serve(fds[1], std::size_t(kilobytes) * 1024);
    int port = 0;
    if (::read(fds[0], &port, sizeof port) != sizeof port)
        return 1;

    QCoreApplication app(argc, argv);
    initialiseCurlOnce();
    FakeHost host;
    const QString base = QStringLiteral("http://127.0.0.1:") + QString::number(port) + u"/gallery/";
    for (int i = 0; i < images; ++i) {
        const QString name = QString::number(i) + u".jpg";
        host.state.udtDownload.append({ base + name, name });
    }
    QTemporaryDir folder;
    const QString path = folder.path() + u'/';
    std::printf("images %d of %d KB, peak before the run %ld KB\n", images, kilobytes, peakKb());

    QElapsedTimer timer;
    timer.start();
    const bool finished = Download_ByInet(host, path);
    const qint64 runMs = timer.restart();
    std::printf(
        "run: %s in %lld ms (%.1f images/s), done %lld, refused %lld, yields %lld, peak %ld KB\n",
        finished ? "finished" : "stopped", static_cast<long long>(runMs),
        images * 1000.0 / qMax<qint64>(runMs, 1), static_cast<long long>(host.rows[0].size()),
        static_cast<long long>(host.rows[2].size()), static_cast<long long>(host.yields), peakKb());

    Download_ByInet(host, path);
    std::printf("again (all present): %lld ms, already %lld, peak %ld KB\n",
        static_cast<long long>(timer.elapsed()), static_cast<long long>(host.rows[1].size()),
        peakKb());

    ::kill(server, SIGTERM);
    ::waitpid(server, nullptr, 0);
    return finished ? 0 : 1;
}
