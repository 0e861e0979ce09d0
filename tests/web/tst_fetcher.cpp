// The fetcher against scripted servers on 127.0.0.1: what arrives and what is sent, servers that
// lie, flood, stall or misdirect, servers that cannot be reached, Cancel, and https; and the
// absolute addresses the program builds from the links of a page.
#include "web/connectioncache.h"
#include "web/fetcher.h"
#include "web/getlinkurl.h"
#include "web/transfer.h"
#include "web/transferpool.h"

#include "resources/messages.h"
#include "support/fakehost.h"
#include "support/loopbackserver.h"
#include "support/testfiles.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using Conversation = LoopbackServer::Conversation;

namespace {

FetchResult fetch(FakeHost& host, const QString& url, QByteArray& data, qint64 maxBytes)
{
    host.info = Msg::loadingPage;
    return Get_UrlData(host, url, data, maxBytes);
}

// Answers that end when the server hangs up.
Conversation once(const QByteArray& bytes) { return { { bytes } }; }
Conversation redirect(const QByteArray& to, int status = 302)
{
    return LoopbackServer::reply({}, status, "Location: " + to);
}

// How https is served: with a certificate for 127.0.0.1 that an authority of the test's own
// signed, trusted or not.
enum class Tls { None, Trusted, Untrusted };

// One fetch: what is asked for, how the server answers, what comes back. In addresses, %1 stands
// for the server's port and %2 for a port where nobody listens.
struct Exchange
{
    QString asked = u"http://127.0.0.1:%1/p"_s;
    Conversation answer {}; // at /p; /r2, /whole and /loop are always there
    QString location {}; // not null: /p redirects there instead
    Tls tls = Tls::None;
    qint64 limit = pageBodyLimit;
    int stopAfterMs = -1; // -1: never; otherwise once the request is there
    bool closeWindow = false; // how to stop: closing the window, or Cancel
    FetchOutcome outcome = FetchOutcome::Complete;
    QByteArray data {}; // what the fetch leaves in the buffer
    QString text {}; // the failure text; null: not judged
    QString ended {}; // the address served from; null: the one asked for
};

const QByteArray block = jpegBytes(1024 * 1024, 7); // a whole number of blocks fills each limit
const QByteArray unsized = LoopbackServer::head(200, "Connection: close");
const QByteArray leftOver = "left over from an earlier call";

} // namespace

Q_DECLARE_METATYPE(Exchange)
Q_DECLARE_METATYPE(TransferPool::Reserve)

class tst_Fetcher : public QObject
{
    Q_OBJECT
private slots:
    void conversations_data();
    void conversations();
    void sendsTheProgramsRequestOnOneConnection();
    void fetchesAheadShareTheConnections_data();
    void fetchesAheadShareTheConnections();
    void resolvesLinks_data();
    void resolvesLinks();
};

void tst_Fetcher::conversations_data()
{
    QTest::addColumn<Exchange>("x");
    using enum FetchOutcome;
    const QString local = u"127.0.0.1"_s, dead = u"http://127.0.0.1:%2/p"_s;
    const QByteArray noise = noiseBytes(500000), ok = "HTTP/1.1 200 OK\r\n";
    const Conversation trickle { { LoopbackServer::head(200, "Content-Length: 100000") },
        { "0123456789", 5, -1 } };
    const Conversation image = LoopbackServer::reply("\xFF\xD8 over tls");
    // clang-format off
    QTest::newRow("several megabytes") << Exchange { .answer = LoopbackServer::reply(
        block.repeated(3) + "tail"), .data = block.repeated(3) + "tail" };
    const QByteArray page = "<img src=\"a.jpg\">" + QByteArray(5000, ' ');
    QTest::newRow("a compressed answer arrives decoded") << Exchange { .answer = LoopbackServer::reply(
        qCompress(page).sliced(4), 200, "Content-Encoding: deflate"), .data = page };
    QTest::newRow("a 404 page is data like any other, but named") << Exchange {
        .answer = LoopbackServer::reply("not found", 404), .data = "not found",
        .text = Msg::httpError(local, 404) };
    QTest::newRow("an announced length over the limit is refused unread") << Exchange {
        .answer = LoopbackServer::reply(noise), .limit = 1000, .outcome = TooLarge };
    QTest::newRow("an unannounced body is cut at the limit") << Exchange {
        .answer = once(unsized + noise), .limit = 1000, .outcome = TooLarge,
        .data = noise.first(1000) };
    QTest::newRow("an endless page is read up to 64 MB and no further") << Exchange {
        .answer = { { unsized }, { block, 0, -1 } }, .outcome = TooLarge,
        .data = block.repeated(64), .text = Msg::pageTooLarge(64) };
    QTest::newRow("a body of exactly the limit is complete") << Exchange {
        .answer = LoopbackServer::reply(noise.first(1000)), .limit = 1000,
        .data = noise.first(1000) };
    QTest::newRow("a chain of redirects is followed to its end") << Exchange {
        .location = u"/r2"_s, .data = "whole", .ended = u"http://127.0.0.1:%1/whole"_s };
    QTest::newRow("a redirect loop ends with nothing") << Exchange { .location = u"/loop"_s,
        .outcome = NoConnection, .text = Msg::redirectLoop(local),
        .ended = u"http://127.0.0.1:%1/loop"_s };
    QTest::newRow("a redirect to a port where nobody listens") << Exchange { .location = dead,
        .outcome = NoConnection, .text = Msg::connectionRefused(local), .ended = dead };
    QTest::newRow("a length longer than the body, then the connection closes") << Exchange {
        .answer = once(ok + "Content-Length: 900\r\n\r\nhello"), .outcome = Incomplete,
        .data = "hello", .text = Msg::connectionLost(local) };
    QTest::newRow("a connection reset before the answer") << Exchange {
        .answer = { { {}, 0, 1, false, false, true } }, .outcome = NoConnection,
        .text = Msg::connectionLost(local) };
    // A server that took the connection is not asked again; one that nobody runs is tried for
    // five seconds, then once more with a fresh session.
    QTest::newRow("a server that hangs up unanswered is asked once") << Exchange {
        .answer = once({}), .outcome = NoConnection, .text = Msg::noAnswer(local) };
    QTest::newRow("a port where nobody listens") << Exchange { .asked = dead,
        .outcome = NoConnection, .text = Msg::connectionRefused(local) };
    QTest::newRow("a body that stops coming") << Exchange {
        .answer = { { ok + "Content-Length: 9\r\n\r\nx" }, { {}, 10000, -1 } },
        .outcome = Incomplete, .data = "x", .text = Msg::noAnswer(local) };
    QTest::newRow("Cancel during a slow body") << Exchange { .answer = trickle,
        .stopAfterMs = 200, .outcome = Cancelled };
    QTest::newRow("Cancel ends the connect retries") << Exchange { .asked = dead,
        .stopAfterMs = 300, .outcome = Cancelled };
    QTest::newRow("closing the window ends the pause before the fresh session") << Exchange {
        .asked = dead, .stopAfterMs = 5600, .closeWindow = true, .outcome = Cancelled };
    // A refused certificate is refused again on every attempt: it is not tried again.
    QTest::newRow("a site certified by a trusted authority is read") << Exchange {
        .asked = u"https://127.0.0.1:%1/p"_s, .answer = image, .tls = Tls::Trusted,
        .data = "\xFF\xD8 over tls", .text = u""_s };
    QTest::newRow("a site certified by an unknown authority is refused") << Exchange {
        .asked = u"https://127.0.0.1:%1/p"_s, .answer = image, .tls = Tls::Untrusted,
        .outcome = NoConnection, .text = Msg::certificateRefused(local) };
    QTest::newRow("a certificate for another name is refused") << Exchange {
        .asked = u"https://localhost:%1/p"_s, .answer = image, .tls = Tls::Trusted,
        .outcome = NoConnection, .text = Msg::certificateRefused(u"localhost"_s) };
    // Nothing at all is begun for an address without a root.
    QTest::newRow("an address without a scheme") << Exchange { .asked = u"host/page.htm"_s,
        .outcome = NoRoot, .data = leftOver };
    QTest::newRow("a scheme without a host") << Exchange { .asked = u"http://"_s,
        .outcome = NoRoot, .data = leftOver };
    QTest::newRow("a host that no name server knows") << Exchange {
        .asked = u"http://pixhound.invalid/p.htm"_s, .outcome = NoConnection,
        .text = Msg::hostNotFound(u"pixhound.invalid"_s) };
    // Other schemes are never fetched, named directly or reached by a redirect; those that could
    // reach a server would reach this one.
    for (const QString& target : { u"FILE:///etc/hostname"_s, u"file:/etc/hostname"_s,
             u"dict://127.0.0.1:%1/d:x.jpg"_s, u"gopher://127.0.0.1:%1/1x.jpg"_s,
             u"ldap://127.0.0.1:%1/o=x.jpg"_s }) {
        const bool file = target.startsWith(u"file"_s, Qt::CaseInsensitive);
        QTest::addRow("%s, named directly", qPrintable(target)) << Exchange { .asked = target,
            .outcome = NoConnection };
        QTest::addRow("%s, reached by a redirect", qPrintable(target)) << Exchange {
            .location = target, .outcome = NoConnection,
            .text = Msg::redirectScheme(target.section(u':', 0, 0).toLower()),
            .ended = file ? u"file:///etc/hostname"_s : target };
    }
    // clang-format on
}

void tst_Fetcher::conversations()
{
    QFETCH(Exchange, x);
    QTemporaryDir dir;
    if (x.tls != Tls::None) {
        QCOMPARE(QProcess::execute(u"sh"_s, { u"-c"_s, u"cd '"_s + dir.path() + uR"(' && set -e
k="-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
openssl req -x509 $k -keyout ca.key -out ca.pem -days 2 -subj /CN=Test-Authority \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign
openssl req $k -keyout server.key -out server.csr -subj /CN=127.0.0.1
printf 'subjectAltName=IP:127.0.0.1\nextendedKeyUsage=serverAuth\n' > ext
openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem \
    -days 2 -extfile ext)"_s }),
            0);
    }
    if (x.tls == Tls::Trusted)
        qputenv("SSL_CERT_FILE", QFile::encodeName(dir.filePath(u"ca.pem"_s)));
    LoopbackServer server(x.tls == Tls::None ? QString() : dir.filePath(u"server.pem"_s),
        dir.filePath(u"server.key"_s));
    server.answer(u"/r2"_s, redirect("/whole", 301));
    server.serve(u"/whole"_s, "whole");
    server.answer(u"/loop"_s, redirect("/loop"));
    const QString dead = QString::number(LoopbackServer().port());
    const auto address = [&](QString text) {
        return text.replace(u"%1"_s, QString::number(server.port())).replace(u"%2"_s, dead);
    };
    if (!x.location.isNull())
        x.answer = redirect(address(x.location).toUtf8());
    server.answer(u"/p"_s, x.answer);
    FakeHost host;
    host.state.fetchStallSeconds = 1;
    QElapsedTimer clock;
    int stoppedAt = -1;
    host.onYield = [&](int yield) {
        if (x.stopAfterMs < 0 || (!x.answer.isEmpty() && server.requests().isEmpty()))
            return;
        if (!clock.isValid())
            clock.start();
        if (stoppedAt < 0 && clock.elapsed() >= x.stopAfterMs) {
            stoppedAt = yield;
            x.closeWindow ? stopTransfers(host.state) : host.pressCancel();
        }
    };
    QByteArray got = leftOver;

    const FetchResult result = fetch(host, address(x.asked), got, x.limit);
    qunsetenv("SSL_CERT_FILE");
    QCOMPARE(result.outcome, x.outcome);
    QCOMPARE(host.state.hUrl, nullptr);
    QCOMPARE(host.state.hInternet, nullptr);
    if (x.outcome == FetchOutcome::Cancelled) {
        // Back right after the yield that stopped it, the connection closed behind it.
        QCOMPARE(host.yields, stoppedAt);
        if (!x.closeWindow)
            QCOMPARE(host.info, Msg::interrupted); // the Cancel handler's status stays
        if (!x.answer.isEmpty())
            QTRY_VERIFY_WITH_TIMEOUT(server.clientLeft(), 10000);
        return stopTransfers(host.state); // a second close finds nothing to close
    }
    QCOMPARE(got.size(), x.data.size());
    QVERIFY(got == x.data);
    if (x.outcome == FetchOutcome::NoRoot)
        QCOMPARE(std::tuple(host.info, host.yields), std::tuple(Msg::loadingPage, 0));
    else
        QCOMPARE(
            host.info, Msg::loadingPage + u'(' + QString::number(x.data.size()) + Msg::bytesDone);
    if (!x.text.isNull())
        QCOMPARE(result.failureText, x.text);
    QCOMPARE(result.finalUrl, address(x.ended.isNull() ? x.asked : x.ended));
    // A server that answered, however badly, is not asked again; redirects stay bounded.
    QCOMPARE(server.connections(), x.answer.isEmpty() ? 0 : 1);
    QVERIFY(server.requests().size() <= 21);
}

void tst_Fetcher::sendsTheProgramsRequestOnOneConnection()
{
    LoopbackServer server;
    server.serve(u"/b.htm"_s, "ok");
    // Were the connection used again after an answer with more bytes than it announced, the
    // next fetch would take the forged answer behind them for its own.
    Conversation forged = LoopbackServer::reply("first");
    forged.first().bytes += LoopbackServer::reply("forged").first().bytes;
    server.answer(u"/a.htm"_s, forged);
    FakeHost host;
    QByteArray data;
    // The address served is the one asked for, exactly as written.
    const QString written = server.url(u"/a/b/写真 1.jpg?c=黒"_s);
    QCOMPARE(fetch(host, written, data, pageBodyLimit).finalUrl, written);
    // A user name and password may go to the server, but never into the Referer.
    const QString withPassword = server.url(u"/p2.htm"_s).replace(u"//"_s, u"//u:pw@"_s);
    QCOMPARE(fetch(host, withPassword, data, pageBodyLimit).outcome, FetchOutcome::Complete);

    QCOMPARE(server.requests().first().target, u"/a/b/%E5%86%99%E7%9C%9F%201.jpg?c=%E9%BB%92"_s);
    QCOMPARE(server.connections(), 1);
    QCOMPARE(
        fetch(host, server.url(u"/a.htm"_s), data, pageBodyLimit).outcome, FetchOutcome::Complete);
    QCOMPARE(
        fetch(host, server.url(u"/b.htm"_s), data, pageBodyLimit).outcome, FetchOutcome::Complete);
    QCOMPARE(data, QByteArray("ok"));
    for (const RecordedRequest& request : server.requests()) {
        // Nothing may come from a cache on the way, and nothing is asked conditionally.
        QCOMPARE(request.headers.value(u"user-agent"_s), QString::fromLatin1(pixhoundUserAgent));
        QCOMPARE(request.headers.value(u"referer"_s), server.url(u"/"_s));
        QCOMPARE(request.headers.value(u"cache-control"_s) + request.headers.value(u"pragma"_s),
            u"no-cacheno-cache"_s);
        QVERIFY(!request.headers.contains(u"if-modified-since"_s));
    }
    // Escapes already there and reserved characters stay as written; a line break cannot split
    // the request; a Japanese host goes out in its name-server form.
    QCOMPARE(
        wireAddress(u"http://h/a%20b?c&d;[x]#top"_s), QByteArray("http://h/a%20b?c&d;[x]#top"));
    QCOMPARE(wireAddress(u"http://h/a\r\nHost: x"_s), QByteArray("http://h/a%0D%0AHost:%20x"));
    QCOMPARE(
        wireAddress(u"http://日本.jp/画.jpg"_s), QByteArray("http://xn--wgv71a.jp/%E7%94%BB.jpg"));
    // Only the first "#" begins the fragment that a request leaves out.
    QCOMPARE(Cut_URLTail(u"http://h/a.htm?x=1"_s), u"http://h/a.htm?x=1"_s);
    QCOMPARE(Cut_URLTail(u"http://h/a#b#c"_s), u"http://h/a"_s);
}

void tst_Fetcher::fetchesAheadShareTheConnections_data()
{
    QTest::addColumn<TransferPool::Reserve>("use");
    QTest::newRow("kept back, the sixth connection takes the turn at once")
        << TransferPool::Reserve::Kept;
    QTest::newRow("lent to urgent fetches, a page takes it and the turn comes after")
        << TransferPool::Reserve::LentToUrgent;
    QTest::newRow("lent, the turn waits for a fetch ahead to end") << TransferPool::Reserve::Lent;
}

// Fetches ahead hold five of a server's six connections, or all six while the sixth is lent;
// the rest wait in the pool, an urgent one (/p.htm) before the others, and one closed while it
// waits is never sent. /a1 ends after a pause, the other /a* once released; /t is read at its turn.
void tst_Fetcher::fetchesAheadShareTheConnections()
{
    QFETCH(TransferPool::Reserve, use);
    const bool lent = use == TransferPool::Reserve::Lent;
    LoopbackServer server;
    const int running = lent ? 6 : 5;
    Conversation pausing = LoopbackServer::reply(block);
    pausing.first().pauseMs = 300;
    server.answer(u"/a1.jpg"_s, pausing);
    for (int n = 2; n <= running; ++n)
        server.serve(u"/a%1.jpg"_s.arg(n), block, true);
    for (const QString& path :
        { u"/w1.jpg"_s, u"/w2.jpg"_s, u"/p.htm"_s, u"/c.jpg"_s, u"/t.jpg"_s })
        server.serve(path, "body");
    FakeHost host;
    TransferPool& pool = runConnections(host.state)->pool();
    pool.lendReserve(use);
    std::map<QString, std::unique_ptr<PooledFetch>> fetches;
    const auto start = [&](const QString& path, bool ahead, bool urgent = false) {
        fetches[path]
            = startFetch(host.state, server.url(path), imageBodyLimit, {}, {}, ahead, urgent);
    };
    const auto finished = [&](const QString& path) { return fetches[path]->isFinished(); };
    for (int n = 1; n <= running; ++n)
        start(u"/a%1.jpg"_s.arg(n), true);
    QTRY_COMPARE(server.requests().size(), running); // all of them under way
    start(u"/w1.jpg"_s, true);
    start(u"/w2.jpg"_s, true);
    start(u"/p.htm"_s, true, true);
    start(u"/c.jpg"_s, true);
    fetches[u"/c.jpg"_s]->close();
    start(u"/t.jpg"_s, false);
    if (lent)
        QTRY_VERIFY(finished(u"/t.jpg"_s) || finished(u"/p.htm"_s));
    else
        QTRY_VERIFY(finished(u"/t.jpg"_s) && finished(u"/p.htm"_s));
    server.release();
    QTRY_VERIFY(std::all_of(fetches.begin(), fetches.end(),
        [](const auto& fetch) { return fetch.second->isFinished(); }));

    QStringList order;
    for (const RecordedRequest& request : server.requests())
        order.append(request.path);
    for (const auto& [path, fetch] : fetches) {
        QCOMPARE(fetch->outcome(),
            path == u"/c.jpg"_s ? FetchOutcome::Cancelled : FetchOutcome::Complete);
        QCOMPARE(order.count(path), path == u"/c.jpg"_s ? 0 : 1);
    }
    // Kept back, the connection takes the turn before anything that waits, and the urgent fetch
    // the first connection to come free; lent to urgent fetches, the page takes it at once and
    // the turn takes it back after the page; lent, the turn goes only once a fetch ahead has ended.
    const qsizetype turn = order.indexOf(u"/t.jpg"_s);
    const qsizetype page = order.indexOf(u"/p.htm"_s);
    if (use == TransferPool::Reserve::Kept)
        QVERIFY(turn == running && page == running + 1);
    else if (use == TransferPool::Reserve::LentToUrgent)
        QVERIFY(page == running && turn == running + 1);
    else
        QVERIFY(turn >= running);
    QVERIFY(server.connections() <= int(TransferPool::hostConnections));
}

void tst_Fetcher::resolvesLinks_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("expected"); // empty: the link is refused
    const char* p = "http://host/a/b/page.htm";
    // A row of three texts, the last one empty when the link is refused.
    const auto row
        = [](const char* name, const char* page, const char* link, const char* expected) {
              QTest::newRow(name) << QString::fromUtf8(page) << QString::fromUtf8(link)
                                  << QString::fromUtf8(expected);
          };
    row("a bare name lands in the page's folder", p, "pic.jpg", "http://host/a/b/pic.jpg");
    row("dot-slash is the page's folder", p, "./img/pic.jpg", "http://host/a/b/img/pic.jpg");
    row("a leading slash starts at the root", p, "/img/pic.jpg", "http://host/img/pic.jpg");
    row("a scheme-relative link keeps http", p, "//other/img/pic.jpg", "http://other/img/pic.jpg");
    row("an absolute link in capitals comes back as written", p, "HTTP://other/pic.jpg",
        "HTTP://other/pic.jpg");
    row("a fragment stays on the page address", p, "#top", "http://host/a/b/page.htm#top");
    row("a lone dot is the page's folder", p, ".", "http://host/a/b/");
    row("two dots climb one folder", p, "..", "http://host/a/");
    row("two bare steps end at the root", p, "../..", "http://host/");
    row("only leading steps are taken off", p, "../x/../pic.jpg", "http://host/a/x/../pic.jpg");
    row("dots glued to a name are no step", p, "..pic.jpg", "http://host/a/b/..pic.jpg");
    row("a climb past the root stays at the root", p, "../../../pic.jpg", "http://host/pic.jpg");
    row("a climb far past the root stays at the root", p, "../../../../../pic.jpg",
        "http://host/pic.jpg");
    row("a dot-name that is no step fails", p, ".hidden/pic.jpg", "");
    row("an empty link is the page's folder", p, "", "http://host/a/b/");
    row("another scheme is taken as a relative name", p, "mailto:x@y",
        "http://host/a/b/mailto:x@y");
    row("a control character makes the address invalid", p, "pic\x01.jpg", "");
    row("a fragment of a folder address fails", "http://host/a/b/", "#top", "");
    row("a host without a slash has its own folder", "http://host", "p.jpg", "http://host/p.jpg");
    row("a last segment counts as a file name", "http://host/dir", "p.jpg", "http://host/p.jpg");
    row("a slash inside the query counts", "http://host/a/?q=x/y", "pic.jpg",
        "http://host/a/?q=x/pic.jpg");
    row("a page without a scheme resolves nothing", "host/page.htm", "pic.jpg", "");
    row("a root link on an https page keeps its host", "https://host/x/p.htm", "/i.jpg",
        "https://host/i.jpg");
    row("a scheme-relative link on an https page stays https", "https://h/p.htm", "//cdn/x.jpg",
        "https://cdn/x.jpg");
    row("a root link keeps the port", "http://127.0.0.1:8080/a/p.htm", "/i.jpg",
        "http://127.0.0.1:8080/i.jpg");
    // A followed link can make a page address of megabytes; its links climb from there.
    const QString deep = u"http://h/"_s + u"d/"_s.repeated(500000);
    QTest::newRow("a deep climb to the host")
        << deep + u"p.htm"_s << u"../"_s.repeated(500000) + u"x.jpg"_s << u"http://h/x.jpg"_s;
    QTest::newRow("a deep climb past the root")
        << deep + u"p.htm"_s << u"../"_s.repeated(500003) + u"x.jpg"_s << u"http://h/x.jpg"_s;
}

void tst_Fetcher::resolvesLinks()
{
    QFETCH(QString, page);
    QFETCH(QString, link);
    QFETCH(QString, expected);
    QString result = u"stale from the previous link"_s;
    QCOMPARE(Get_LinkAbsURL(page, link, result), !expected.isEmpty());
    QCOMPARE(result, expected);
}

QTEST_GUILESS_MAIN(tst_Fetcher)
#include "tst_fetcher.moc"
