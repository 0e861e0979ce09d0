// The page fetcher against a real HTTP server on 127.0.0.1: what arrives, what is sent, and how
// Cancel, broken connections and unreachable servers end a fetch.
#include "web/fetcher.h"

#include "resources/messages.h"
#include "support/fakehost.h"
#include "support/loopbackserver.h"
#include "support/testfiles.h"

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

QString progress(qint64 count)
{
    return Msg::loadingPage + u'(' + QString::number(count) + Msg::bytesDone;
}

FetchOutcome fetch(
    FakeHost& host, const QString& url, QByteArray& data, qint64 maxBytes = pageBodyLimit)
{
    host.info = Msg::loadingPage;
    return Get_UrlData(host, url, data, maxBytes).outcome;
}

// Sends body in pieces of at most piece bytes without announcing its length.
Handler pieces(const QByteArray& body, size_t piece)
{
    return [=](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider("image/jpeg", [=](size_t offset, auto& sink) {
            if (offset >= size_t(body.size()))
                return sink.done(), true;
            return sink.write(
                body.constData() + offset, std::min<size_t>(piece, size_t(body.size()) - offset));
        });
    };
}

// A loopback port that never serves: refusing, closing each connection unanswered (counting
// them), or with its queue full so that a new connection hangs like a vanished host.
class DeadPort
{
public:
    enum Kind { Refuses, ClosesAtOnce, NeverAnswers };
    explicit DeadPort(Kind kind)
    {
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const auto where = reinterpret_cast<sockaddr*>(&address);
        socklen_t length = sizeof address;
        ::bind(m_fd, where, length);
        ::getsockname(m_fd, where, &length);
        port = ntohs(address.sin_port);
        if (kind != Refuses)
            ::listen(m_fd, kind == NeverAnswers ? 0 : 64);
        for (int i = 0; kind == NeverAnswers && i < 3; ++i) {
            m_fillers.append(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
            ::connect(m_fillers.last(), where, length);
        }
        if (kind == ClosesAtOnce)
            m_thread = std::thread([this] {
                for (int client; (client = ::accept(m_fd, nullptr, nullptr)) >= 0; ++accepted)
                    ::close(client);
            });
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
    int m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
    QList<int> m_fillers;
    std::thread m_thread;
};

} // namespace

class tst_Fetcher : public QObject
{
    Q_OBJECT
private slots:
    void deliversWhatTheServerSent_data();
    void deliversWhatTheServerSent();
    void sendsTheProgramsRequestOnOneConnection();
    void putsAddressesOnTheWireAsBrowsersDo_data();
    void putsAddressesOnTheWireAsBrowsersDo();
    void countsUpThenStopsAtOnceWhenTheHandlesClose_data();
    void countsUpThenStopsAtOnceWhenTheHandlesClose();
    void unreachableServerEndsEmpty_data();
    void unreachableServerEndsEmpty();
    void reachesAServerThatComesUpLate();
    void noRootDoesNothingAndTheFragmentIsCut();
};

void tst_Fetcher::deliversWhatTheServerSent_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("limit"); // 0: the page limit
    QTest::addColumn<FetchOutcome>("outcome");
    QTest::addColumn<int>("kept");
    const auto row = [](const char* name, const char* path, int size, int status, int limit,
                         FetchOutcome outcome, int kept) {
        QTest::newRow(name) << QString::fromLatin1(path) << size << status << limit << outcome
                            << kept;
    };
    const FetchOutcome complete = FetchOutcome::Complete, tooLarge = FetchOutcome::TooLarge;
    row("a few bytes", "/whole", 5, 200, 0, complete, 5);
    row("an exact multiple of the old read size", "/whole", 2369 * 13, 200, 0, complete, 2369 * 13);
    row("the size where the old buffer first grew", "/whole", 30398, 200, 0, complete, 30398);
    row("just past the initial buffer", "/whole", 32768, 200, 0, complete, 32768);
    row("several megabytes", "/whole", 3145735, 200, 0, complete, 3145735);
    row("an empty body gives an empty buffer", "/whole", 0, 200, 0, complete, 0);
    row("a 404 page is data like any other", "/whole", 1234, 404, 0, complete, 1234);
    row("an announced length over the limit is refused unread", "/whole", 500000, 200, 1000,
        tooLarge, 0);
    row("an unannounced body is cut at the limit", "/chunked", 500000, 200, 1000, tooLarge, 1000);
    row("a body of exactly the limit is complete", "/whole", 1000, 200, 1000, complete, 1000);
    row("an unannounced body of exactly the limit is complete", "/chunked", 1000, 200, 1000,
        complete, 1000);
    row("a chain of redirects is followed", "/r1", 5000, 200, 0, complete, 5000);
    // Where a redirect may not lead is the hostile server's test.
    row("a redirect loop ends with nothing", "/loop", 5000, 200, 0, FetchOutcome::Incomplete, 0);
}

void tst_Fetcher::deliversWhatTheServerSent()
{
    QFETCH(QString, path);
    QFETCH(int, size);
    QFETCH(int, status);
    QFETCH(int, limit);
    QFETCH(FetchOutcome, outcome);
    QFETCH(int, kept);
    const QByteArray body = noiseBytes(size);
    LoopbackServer server;
    server.serve("/whole", body, status);
    const auto redirect = [](const char* to, int code) -> Handler {
        return [=](const httplib::Request&, httplib::Response& r) { r.set_redirect(to, code); };
    };
    server.server()
        .Get("/chunked", pieces(body, 700))
        .Get("/r1", redirect("/r2", 302))
        .Get("/r2", redirect("/whole", 301))
        .Get("/loop", redirect("/loop", 302));
    server.start();
    FakeHost host;
    QByteArray data("left over from an earlier call");

    QCOMPARE(fetch(host, server.url(path), data, limit ? limit : pageBodyLimit), outcome);
    QCOMPARE(data.size(), kept);
    QVERIFY(data == body.first(kept));
    QCOMPARE(host.info, progress(kept));
    QCOMPARE(host.state.hUrl, nullptr);
    QCOMPARE(host.state.hInternet, nullptr);
    QVERIFY(server.requests().size() <= 21); // the first request and at most twenty redirects
}

void tst_Fetcher::sendsTheProgramsRequestOnOneConnection()
{
    LoopbackServer server;
    server.server().Get(R"(/.*)",
        [](const httplib::Request&, httplib::Response& r) { r.set_content("ok", "text/plain"); });
    server.start();
    FakeHost host;
    QByteArray data;
    QCOMPARE(fetch(host, server.url(u"/a/b/写真 1.jpg?c=黒"_s), data), FetchOutcome::Complete);
    // A user name and password may go to the server, but never into the Referer.
    const QString withPassword = server.url(u"/p2.htm"_s).replace(u"//"_s, u"//u:pw@"_s);
    QCOMPARE(fetch(host, withPassword, data), FetchOutcome::Complete);

    const QList<RecordedRequest> requests = server.requests();
    QCOMPARE(server.targets(),
        (QStringList { u"/a/b/%E5%86%99%E7%9C%9F%201.jpg?c=%E9%BB%92"_s, u"/p2.htm"_s }));
    QCOMPARE(requests.first().path, u"/a/b/写真 1.jpg"_s);
    QCOMPARE(requests.at(1).remotePort, requests.at(0).remotePort);
    for (const RecordedRequest& request : requests) {
        QCOMPARE(request.method, u"GET"_s);
        QCOMPARE(
            request.headers.value(u"user-agent"_s), u"Mozilla/4.0 (compatible; MSIE 5.0; Win32)"_s);
        QCOMPARE(request.headers.value(u"referer"_s), server.url(u"/"_s));
        // Nothing may come from a cache on the way, and nothing is asked conditionally.
        QCOMPARE(request.headers.value(u"cache-control"_s), u"no-cache"_s);
        QCOMPARE(request.headers.value(u"pragma"_s), u"no-cache"_s);
        QVERIFY(!request.headers.contains(u"if-modified-since"_s));
        QVERIFY(!request.headers.contains(u"cookie"_s));
    }
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

void tst_Fetcher::countsUpThenStopsAtOnceWhenTheHandlesClose_data()
{
    QTest::addColumn<bool>("viaCancel");
    QTest::newRow("Cancel pressed during a slow body") << true;
    QTest::newRow("the window closed during a slow body") << false;
}

void tst_Fetcher::countsUpThenStopsAtOnceWhenTheHandlesClose()
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
    QElapsedTimer clock;
    clock.start();
    qint64 stoppedAfterMs = -1;
    int stoppedAt = -1;
    host.onYield = [&](int yield) {
        if (stoppedAt < 0 && host.infoHistory.size() == 3) {
            stoppedAt = yield;
            stoppedAfterMs = clock.elapsed();
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
    QCOMPARE(host.infoHistory.size(), viaCancel ? 4 : 3);
    if (viaCancel)
        QCOMPARE(host.info, Msg::interrupted); // the Cancel handler's status stays
    // The count goes up, repainted now and then (50 ms apart), not for every piece that arrives.
    qint64 last = 0;
    for (const QString& shown : host.infoHistory.first(3)) {
        QVERIFY2(shown.startsWith(Msg::loadingPage + u'(') && shown.endsWith(Msg::bytesDone),
            qPrintable(shown));
        const qint64 count
            = shown.sliced(Msg::loadingPage.size() + 1).chopped(Msg::bytesDone.size()).toLongLong();
        QVERIFY(count > last);
        last = count;
    }
    QVERIFY2(stoppedAfterMs >= 100, qPrintable(QString::number(stoppedAfterMs)));
    QTRY_VERIFY_WITH_TIMEOUT(clientGone, 10000); // the connection really is closed
    closeFetchHandles(host.state); // a second close finds nothing to close
}

void tst_Fetcher::unreachableServerEndsEmpty_data()
{
    QTest::addColumn<DeadPort::Kind>("kind");
    QTest::addColumn<int>("stopAfterMs"); // -1: never
    QTest::addColumn<bool>("closeWindow"); // stop by closing the window instead of Cancel
    QTest::addColumn<int>("leastMs");
    QTest::addColumn<int>("mostMs");
    QTest::newRow("a server that hangs up at once is asked once")
        << DeadPort::ClosesAtOnce << -1 << false << 0 << 5000;
    QTest::newRow("a host that never answers gives up too")
        << DeadPort::NeverAnswers << -1 << false << 10000 << 20000;
    QTest::newRow("Cancel ends the connect retries") << DeadPort::Refuses << 300 << false << 0 << 0;
    QTest::newRow("Cancel ends a connect attempt under way")
        << DeadPort::NeverAnswers << 1000 << false << 0 << 0;
    QTest::newRow("closing the window ends the pause before the fresh session")
        << DeadPort::Refuses << 5600 << true << 0 << 0;
}

void tst_Fetcher::unreachableServerEndsEmpty()
{
    QFETCH(DeadPort::Kind, kind);
    QFETCH(int, stopAfterMs);
    QFETCH(bool, closeWindow);
    QFETCH(int, leastMs);
    QFETCH(int, mostMs);
    DeadPort port { kind };
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
    // It took the request: asking again would only double the wait on it.
    if (kind == DeadPort::ClosesAtOnce)
        QTRY_COMPARE(port.accepted.load(), 1);
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

void tst_Fetcher::noRootDoesNothingAndTheFragmentIsCut()
{
    FakeHost host;
    host.info = u"before"_s;
    QByteArray data("kept");
    QCOMPARE(Get_UrlData(host, u"host/page.htm"_s, data).outcome, FetchOutcome::NoRoot);
    QCOMPARE(data, QByteArray("kept"));
    QCOMPARE(host.info, u"before"_s);
    QCOMPARE(host.yields, 0);
    // Only the first "#" counts.
    QCOMPARE(Cut_URLTail(u"http://h/a.htm?x=1"_s), u"http://h/a.htm?x=1"_s);
    QCOMPARE(Cut_URLTail(u"http://h/a#b#c"_s), u"http://h/a"_s);
    QCOMPARE(Cut_URLTail(u"#top"_s), QString());
}

QTEST_GUILESS_MAIN(tst_Fetcher)
#include "tst_fetcher.moc"
