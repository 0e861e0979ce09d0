// The page fetcher against a real HTTP server on 127.0.0.1: what arrives, what is sent, and how
// Cancel, broken connections and unreachable servers end a fetch.
#include "web/fetcher.h"

#include "resources/messages.h"
#include "support/fakehost.h"
#include "support/loopbackserver.h"

#include <QElapsedTimer>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;
using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

namespace {

// Bytes that tell any shift or loss apart, NUL bytes included.
QByteArray bodyOf(qsizetype size)
{
    QByteArray body(size, Qt::Uninitialized);
    quint32 x = 2463534242u + quint32(size);
    for (char& c : body) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = char(x);
    }
    return body;
}

QString progress(qint64 count)
{
    return Msg::loadingPage + u'(' + QString::number(count) + Msg::bytesDone;
}

// A loopback port that never serves: refusing, closing each connection unanswered (counting
// them), or with its queue full so that a new connection hangs like a vanished host.
class DeadPort
{
public:
    enum Kind { Refuses, ClosesAtOnce, NeverAnswers };
    explicit DeadPort(Kind kind)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
        if (kind != Refuses)
            ::listen(m_fd, kind == NeverAnswers ? 0 : 64);
        for (int i = 0; kind == NeverAnswers && i < 3; ++i) {
            m_fillers.append(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
            ::connect(m_fillers.last(), reinterpret_cast<sockaddr*>(&address), sizeof address);
        }
        if (kind == ClosesAtOnce) {
            m_thread = std::thread([this] {
                for (int client; (client = ::accept(m_fd, nullptr, nullptr)) >= 0; ++accepted)
                    ::close(client);
            });
        }
    }
    ~DeadPort()
    {
        ::shutdown(m_fd, SHUT_RDWR);
        if (m_thread.joinable())
            m_thread.join();
        for (const int fd : std::as_const(m_fillers))
            ::close(fd);
        ::close(m_fd);
    }
    QString url() const { return u"http://127.0.0.1:"_s + QString::number(port) + u"/p.htm"_s; }

    int port = 0;
    std::atomic<int> accepted { 0 };

private:
    int m_fd = -1;
    QList<int> m_fillers;
    std::thread m_thread;
};

} // namespace

class tst_Fetcher : public QObject
{
    Q_OBJECT
private slots:
    void bodiesArriveExactly_data();
    void bodiesArriveExactly();
    void sendsTheProgramsRequest();
    void putsAddressesOnTheWireAsBrowsersDo_data();
    void putsAddressesOnTheWireAsBrowsersDo();
    void followsRedirects_data();
    void followsRedirects();
    void progressCountsUpAndEndsOnTheTotal();
    void stopsAtOnceWhenTheHandlesClose_data();
    void stopsAtOnceWhenTheHandlesClose();
    void brokenTransferIsIncomplete();
    void respectsTheSizeLimit_data();
    void respectsTheSizeLimit();
    void reusesTheConnection();
    void unreachableServerEndsEmpty_data();
    void unreachableServerEndsEmpty();
    void reachesAServerThatComesUpLate();
    void noRootDoesNothing();
    void cutsTheFragment();

private:
    static FetchOutcome fetch(
        FakeHost& host, const QString& url, QByteArray& data, qint64 maxBytes = pageBodyLimit)
    {
        host.info = Msg::loadingPage;
        return Get_UrlData(host, url, data, maxBytes);
    }
};

void tst_Fetcher::bodiesArriveExactly_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("status");
    QTest::newRow("a few bytes") << 5 << 200;
    QTest::newRow("an exact multiple of the old read size") << 2369 * 13 << 200;
    QTest::newRow("the size where the old buffer first grew") << 30398 << 200;
    QTest::newRow("just past the initial buffer") << 32768 << 200;
    QTest::newRow("several megabytes") << 3 * 1024 * 1024 + 7 << 200;
    QTest::newRow("an empty body gives an empty buffer") << 0 << 200;
    QTest::newRow("a 404 page is data like any other") << 1234 << 404;
}

void tst_Fetcher::bodiesArriveExactly()
{
    QFETCH(int, size);
    QFETCH(int, status);
    LoopbackServer server;
    const QByteArray body = bodyOf(size);
    server.serve("/page.htm", body, status);
    server.start();
    FakeHost host;
    QByteArray data("left over from an earlier call");

    QCOMPARE(fetch(host, server.url(u"/page.htm"_s), data), FetchOutcome::Complete);
    QCOMPARE(data.size(), body.size());
    QVERIFY(data == body);
    QCOMPARE(host.info, progress(size));
    QCOMPARE(host.state.hUrl, nullptr);
    QCOMPARE(host.state.hInternet, nullptr);
}

void tst_Fetcher::sendsTheProgramsRequest()
{
    LoopbackServer server;
    server.server().Get(R"(/.*)", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("ok", "text/plain");
    });
    server.start();
    FakeHost host;
    QByteArray data;
    QCOMPARE(fetch(host, server.url(u"/a/b/写真 1.jpg?c=黒"_s), data), FetchOutcome::Complete);

    QCOMPARE(server.requests().size(), 1);
    const RecordedRequest request = server.requests().first();
    QCOMPARE(request.method, u"GET"_s);
    QCOMPARE(request.target, u"/a/b/%E5%86%99%E7%9C%9F%201.jpg?c=%E9%BB%92"_s);
    QCOMPARE(request.path, u"/a/b/写真 1.jpg"_s);
    QCOMPARE(
        request.headers.value(u"user-agent"_s), u"Mozilla/4.0 (compatible; MSIE 5.0; Win32)"_s);
    QCOMPARE(request.headers.value(u"referer"_s), server.url(u"/"_s));
    // Nothing may come from a cache on the way, and nothing is asked conditionally.
    QCOMPARE(request.headers.value(u"cache-control"_s), u"no-cache"_s);
    QCOMPARE(request.headers.value(u"pragma"_s), u"no-cache"_s);
    QVERIFY(!request.headers.contains(u"if-modified-since"_s));
    QVERIFY(!request.headers.contains(u"cookie"_s));
}

void tst_Fetcher::putsAddressesOnTheWireAsBrowsersDo_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("a space and Japanese in the path are encoded as UTF-8")
        << u"http://h/画像 1.jpg"_s << QByteArray("http://h/%E7%94%BB%E5%83%8F%201.jpg");
    QTest::newRow("escapes already there are left alone")
        << u"http://h/a%20b.jpg"_s << QByteArray("http://h/a%20b.jpg");
    QTest::newRow("reserved characters stay as written")
        << u"http://h/a?b=c&d=e;f=[x]#top"_s << QByteArray("http://h/a?b=c&d=e;f=[x]#top");
    QTest::newRow("a line break cannot split the request")
        << u"http://h/a\r\nHost: evil"_s << QByteArray("http://h/a%0D%0AHost:%20evil");
    QTest::newRow("a Japanese host goes out in its name-server form")
        << u"http://日本.jp:8080/画.jpg"_s << QByteArray("http://xn--wgv71a.jp:8080/%E7%94%BB.jpg");
}

void tst_Fetcher::putsAddressesOnTheWireAsBrowsersDo()
{
    QFETCH(QString, url);
    QFETCH(QByteArray, wire);
    QCOMPARE(wireAddress(url), wire);
}

void tst_Fetcher::followsRedirects_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("a chain of redirects is followed")
        << u"/r1"_s << int(FetchOutcome::Complete) << QByteArray("the page");
    QTest::newRow("a redirect loop ends with nothing")
        << u"/loop"_s << int(FetchOutcome::Incomplete) << QByteArray();
    QTest::newRow("a redirect to a local file is not followed")
        << u"/to-file"_s << int(FetchOutcome::Incomplete) << QByteArray();
}

void tst_Fetcher::followsRedirects()
{
    QFETCH(QString, path);
    QFETCH(int, outcome);
    QFETCH(QByteArray, body);
    LoopbackServer server;
    const auto redirect = [](const char* to, int status = 302) -> Handler {
        return [to, status](
                   const httplib::Request&, httplib::Response& r) { r.set_redirect(to, status); };
    };
    server.server().Get("/r1", redirect("/r2")).Get("/r2", redirect("/r3", 301));
    server.server()
        .Get("/loop", redirect("/loop"))
        .Get("/to-file", redirect("file:///etc/hostname"));
    server.serve("/r3", "the page");
    server.start();
    FakeHost host;
    QByteArray data;

    QCOMPARE(int(fetch(host, server.url(path), data)), outcome);
    QCOMPARE(data, body);
    QVERIFY(server.requests().size() <= 21); // the first request and at most twenty redirects
}

void tst_Fetcher::progressCountsUpAndEndsOnTheTotal()
{
    LoopbackServer server;
    server.server().Get("/slow", [](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider(
            "text/plain", [](size_t offset, httplib::DataSink& sink) {
                if (offset >= 4000) {
                    sink.done();
                    return true;
                }
                std::this_thread::sleep_for(10ms);
                return sink.write(QByteArray(100, 'x').constData(), 100);
            });
    });
    server.start();
    FakeHost host;
    QByteArray data;
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(fetch(host, server.url(u"/slow"_s), data), FetchOutcome::Complete);
    const qint64 elapsed = clock.elapsed();

    QCOMPARE(host.info, progress(4000));
    qint64 last = -1;
    for (const QString& shown : std::as_const(host.infoHistory)) {
        QVERIFY2(shown.startsWith(Msg::loadingPage + u'(') && shown.endsWith(Msg::bytesDone),
            qPrintable(shown));
        const qint64 count
            = shown.sliced(Msg::loadingPage.size() + 1).chopped(Msg::bytesDone.size()).toLongLong();
        QVERIFY(count >= last);
        last = count;
    }
    // Repainted now and then while it counts up, not for every piece that arrives.
    QVERIFY(host.infoHistory.size() >= 2);
    QVERIFY2(host.infoHistory.size() <= elapsed / 50 + 2,
        qPrintable(QString::number(host.infoHistory.size())));
}

void tst_Fetcher::stopsAtOnceWhenTheHandlesClose_data()
{
    QTest::addColumn<bool>("viaCancel");
    QTest::newRow("Cancel pressed during a slow body") << true;
    QTest::newRow("the window closed during a slow body") << false;
}

void tst_Fetcher::stopsAtOnceWhenTheHandlesClose()
{
    QFETCH(bool, viaCancel);
    LoopbackServer server;
    std::atomic<bool> clientGone { false };
    server.server().Get("/trickle", [&](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider("text/plain", [&](size_t, httplib::DataSink& sink) {
            std::this_thread::sleep_for(5ms);
            clientGone = !sink.write("0123456789", 10);
            return !clientGone;
        });
    });
    server.start();
    FakeHost host;
    int stoppedAt = -1;
    host.onYield = [&](int yield) {
        if (stoppedAt < 0 && host.info.endsWith(Msg::bytesDone)) {
            stoppedAt = yield;
            viaCancel ? host.pressCancel() : closeFetchHandles(host.state);
        }
    };
    QByteArray data;

    QCOMPARE(fetch(host, server.url(u"/trickle"_s), data), FetchOutcome::Cancelled);
    QVERIFY(stoppedAt > 0);
    QCOMPARE(host.yields, stoppedAt);
    QCOMPARE(host.state.hUrl, nullptr);
    QCOMPARE(host.state.hInternet, nullptr);
    QVERIFY(!data.isEmpty());
    QVERIFY(QByteArray("0123456789").repeated(data.size() / 10 + 1).startsWith(data));
    if (viaCancel)
        QCOMPARE(host.info, Msg::interrupted); // the Cancel handler's status stays
    QTRY_VERIFY_WITH_TIMEOUT(clientGone, 10000); // the connection really is closed
    closeFetchHandles(host.state); // a second close finds nothing to close
}

void tst_Fetcher::brokenTransferIsIncomplete()
{
    LoopbackServer server;
    const QByteArray body = bodyOf(100000);
    server.server().Get("/cut", [&](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(size_t(body.size()), "image/jpeg",
            [&](size_t offset, size_t length, httplib::DataSink& sink) {
                if (offset >= 40000)
                    return false; // drop the connection part-way
                return sink.write(
                    body.constData() + offset, std::min<size_t>(length, 40000 - offset));
            });
    });
    server.start();
    FakeHost host;
    QByteArray data;

    QCOMPARE(fetch(host, server.url(u"/cut"_s), data), FetchOutcome::Incomplete);
    QVERIFY(data.size() <= 40000 && body.startsWith(data));
    QCOMPARE(host.info, progress(data.size()));
}

void tst_Fetcher::respectsTheSizeLimit_data()
{
    QTest::addColumn<bool>("announced");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("kept");
    QTest::newRow("an announced length over the limit is refused unread")
        << true << 500000 << int(FetchOutcome::TooLarge) << 0;
    QTest::newRow("an unannounced body is cut at the limit")
        << false << 500000 << int(FetchOutcome::TooLarge) << 1000;
    QTest::newRow("a body of exactly the limit is complete")
        << true << 1000 << int(FetchOutcome::Complete) << 1000;
    QTest::newRow("an unannounced body of exactly the limit is complete")
        << false << 1000 << int(FetchOutcome::Complete) << 1000;
}

void tst_Fetcher::respectsTheSizeLimit()
{
    QFETCH(bool, announced);
    QFETCH(int, size);
    QFETCH(int, outcome);
    QFETCH(int, kept);
    LoopbackServer server;
    const QByteArray body = bodyOf(size);
    server.serve("/announced", body);
    server.server().Get("/chunked", [&](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider(
            "image/jpeg", [&](size_t offset, httplib::DataSink& sink) {
                if (offset >= size_t(body.size()))
                    sink.done();
                return offset >= size_t(body.size())
                    || sink.write(body.constData() + offset,
                        std::min<size_t>(700, size_t(body.size()) - offset));
            });
    });
    server.start();
    FakeHost host;
    QByteArray data;

    QCOMPARE(int(fetch(host, server.url(announced ? u"/announced"_s : u"/chunked"_s), data, 1000)),
        outcome);
    QCOMPARE(data.size(), kept);
    QVERIFY(body.startsWith(data));
}

void tst_Fetcher::reusesTheConnection()
{
    LoopbackServer server;
    QList<int> ports;
    std::mutex mutex;
    server.server().Get(
        R"(/p\d\.htm)", [&](const httplib::Request& request, httplib::Response& response) {
            std::lock_guard lock(mutex);
            ports.append(request.remote_port);
            response.set_content("page", "text/html");
        });
    server.start();
    FakeHost host;
    QByteArray data;
    QCOMPARE(fetch(host, server.url(u"/p1.htm"_s), data), FetchOutcome::Complete);
    QCOMPARE(fetch(host, server.url(u"/p2.htm"_s), data), FetchOutcome::Complete);
    std::lock_guard lock(mutex);
    QCOMPARE(ports.size(), 2);
    QCOMPARE(ports.at(1), ports.at(0));
}

void tst_Fetcher::unreachableServerEndsEmpty_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("stopAfterMs"); // -1: never
    QTest::addColumn<bool>("closeWindow"); // stop by closing the window instead of Cancel
    QTest::addColumn<int>("leastMs");
    QTest::addColumn<int>("mostMs");
    QTest::newRow("a refused port gives up after the fresh session")
        << int(DeadPort::Refuses) << -1 << false << 6000 << 10000;
    QTest::newRow("a server that hangs up gives up likewise")
        << int(DeadPort::ClosesAtOnce) << -1 << false << 6000 << 10000;
    QTest::newRow("a host that never answers gives up too")
        << int(DeadPort::NeverAnswers) << -1 << false << 10000 << 20000;
    QTest::newRow("Cancel ends the connect retries")
        << int(DeadPort::Refuses) << 300 << false << 0 << 0;
    QTest::newRow("Cancel ends a connect attempt under way")
        << int(DeadPort::NeverAnswers) << 1000 << false << 0 << 0;
    QTest::newRow("closing the window ends the pause before the fresh session")
        << int(DeadPort::Refuses) << 5600 << true << 0 << 0;
}

void tst_Fetcher::unreachableServerEndsEmpty()
{
    QFETCH(int, kind);
    QFETCH(int, stopAfterMs);
    QFETCH(bool, closeWindow);
    QFETCH(int, leastMs);
    QFETCH(int, mostMs);
    DeadPort port { DeadPort::Kind(kind) };
    FakeHost host;
    QElapsedTimer clock;
    clock.start();
    int stoppedAt = -1;
    bool requestWasOpen = false;
    host.onYield = [&](int yield) {
        if (stopAfterMs >= 0 && stoppedAt < 0 && clock.elapsed() >= stopAfterMs) {
            stoppedAt = yield;
            requestWasOpen = host.state.hUrl != nullptr;
            closeWindow ? closeFetchHandles(host.state) : host.pressCancel();
        }
    };
    QByteArray data("stale");
    const FetchOutcome outcome = fetch(host, port.url(), data);
    const qint64 elapsed = clock.elapsed();

    QVERIFY(data.isEmpty());
    QCOMPARE(host.state.hUrl, nullptr);
    QCOMPARE(host.state.hInternet, nullptr);
    if (stopAfterMs >= 0) {
        QCOMPARE(outcome, FetchOutcome::Cancelled);
        QCOMPARE(host.yields, stoppedAt);
        QCOMPARE(host.info, closeWindow ? Msg::loadingPage : Msg::interrupted);
        QCOMPARE(requestWasOpen, kind == DeadPort::NeverAnswers);
        return;
    }
    QCOMPARE(outcome, FetchOutcome::NoConnection);
    QCOMPARE(host.info, progress(0));
    QVERIFY2(elapsed >= leastMs && elapsed < mostMs, qPrintable(QString::number(elapsed)));
    // One attempt every quarter second for five seconds, then one with a fresh session.
    if (kind == DeadPort::ClosesAtOnce)
        QVERIFY2(
            port.accepted >= 10 && port.accepted <= 30, qPrintable(QString::number(port.accepted)));
}

void tst_Fetcher::reachesAServerThatComesUpLate()
{
    const int port = DeadPort(DeadPort::Refuses).port;
    httplib::Server late;
    late.Get("/p.htm",
        [](const httplib::Request&, httplib::Response& r) { r.set_content("late", "text/html"); });
    std::thread thread;
    FakeHost host;
    QElapsedTimer clock;
    clock.start();
    host.onYield = [&](int) {
        if (!thread.joinable() && clock.elapsed() > 1000 && late.bind_to_port("127.0.0.1", port))
            thread = std::thread([&] { late.listen_after_bind(); });
    };
    QByteArray data;
    const FetchOutcome outcome
        = fetch(host, u"http://127.0.0.1:"_s + QString::number(port) + u"/p.htm"_s, data);
    if (thread.joinable()) {
        late.stop();
        thread.join();
    }
    QCOMPARE(outcome, FetchOutcome::Complete);
    QCOMPARE(data, QByteArray("late"));
}

void tst_Fetcher::noRootDoesNothing()
{
    FakeHost host;
    host.info = u"before"_s;
    QByteArray data("kept");
    QCOMPARE(Get_UrlData(host, u"host/page.htm"_s, data), FetchOutcome::NoRoot);
    QCOMPARE(data, QByteArray("kept"));
    QCOMPARE(host.info, u"before"_s);
    QCOMPARE(host.yields, 0);
}

void tst_Fetcher::cutsTheFragment()
{
    QCOMPARE(Cut_URLTail(u"http://h/a.htm?x=1"_s), u"http://h/a.htm?x=1"_s);
    QCOMPARE(Cut_URLTail(u"http://h/a#b#c"_s), u"http://h/a"_s); // only the first "#" counts
    QCOMPARE(Cut_URLTail(u"#top"_s), QString());
}

QTEST_GUILESS_MAIN(tst_Fetcher)
#include "tst_fetcher.moc"
