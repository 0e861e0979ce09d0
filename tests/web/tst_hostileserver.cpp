// The page fetcher against servers that lie, flood, stall or misdirect: every fetch ends with a
// plain outcome inside the body limits, and what only the user can end, Cancel ends at once.
#include "web/fetcher.h"

#include "resources/messages.h"
#include "support/fakehost.h"
#include "support/loopbackserver.h"

#include <QElapsedTimer>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// A listener on 127.0.0.1 that answers every connection with whatever bytes its script writes,
// HTTP or not, each connection on a thread of its own.
class RawServer
{
public:
    using Script = std::function<void(RawServer& server, int client)>;

    explicit RawServer(Script script)
        : m_script(std::move(script))
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
        ::listen(m_listener, 16);
        m_acceptor = std::thread([this] {
            for (int client;
                 (client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
                ++connections;
                std::lock_guard lock(m_mutex);
                m_clients.push_back(client);
                m_threads.emplace_back([this, client] { m_script(*this, client); });
            }
        });
    }
    ~RawServer()
    {
        stopping = true;
        ::shutdown(m_listener, SHUT_RDWR);
        m_acceptor.join();
        std::lock_guard lock(m_mutex);
        for (const int client : m_clients)
            ::shutdown(client, SHUT_RDWR);
        for (std::thread& thread : m_threads)
            thread.join();
        for (const int client : m_clients)
            ::close(client);
        ::close(m_listener);
    }

    QString url(const QString& path = u"/p.htm"_s) const
    {
        return u"http://127.0.0.1:"_s + QString::number(port) + path;
    }

    // Reads one request head; false when the client went away first.
    static bool readRequest(int client)
    {
        QByteArray head;
        char buffer[4096];
        while (!head.contains("\r\n\r\n")) {
            const ssize_t got = ::recv(client, buffer, sizeof buffer, 0);
            if (got <= 0)
                return false;
            head.append(buffer, got);
        }
        return true;
    }
    static bool send(int client, const QByteArray& bytes)
    {
        return ::send(client, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL)
            == bytes.size();
    }
    // Waits ms milliseconds; false as soon as the client hangs up (or the server stops).
    bool pause(int client, int ms)
    {
        for (int waited = 0; waited < ms && !stopping; waited += 10) {
            pollfd watch { client, POLLIN | POLLRDHUP, 0 };
            if (::poll(&watch, 1, 10) > 0) {
                char byte;
                if (::recv(client, &byte, 1, MSG_PEEK | MSG_DONTWAIT) <= 0) {
                    clientGone = true;
                    return false;
                }
            }
        }
        return !stopping;
    }

    int port = 0;
    std::atomic<int> connections { 0 };
    std::atomic<bool> requestSeen { false };
    std::atomic<bool> clientGone { false };
    std::atomic<bool> stopping { false };

private:
    Script m_script;
    int m_listener = -1;
    std::thread m_acceptor;
    std::mutex m_mutex;
    std::vector<int> m_clients;
    std::vector<std::thread> m_threads;
};

// Answers every request with the same bytes and closes the connection.
RawServer::Script answerWith(const QByteArray& bytes)
{
    return [bytes](RawServer&, int client) {
        if (RawServer::readRequest(client))
            RawServer::send(client, bytes);
        ::shutdown(client, SHUT_WR);
    };
}

// One megabyte that starts with the JPEG marker, so that an image body made of it would pass.
const QByteArray block = QByteArray("\xFF\xD8", 2) + QByteArray(1024 * 1024 - 2, 'j');

FetchOutcome fetch(FakeHost& host, const QString& url, QByteArray& data, qint64 maxBytes)
{
    host.info = Msg::loadingPage;
    return Get_UrlData(host, url, data, maxBytes).outcome;
}

long peakMegabytes()
{
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

} // namespace

class tst_HostileServer : public QObject
{
    Q_OBJECT
private slots:
    void bodiesStopAtTheirLimit_data();
    void bodiesStopAtTheirLimit();
    void brokenAnswersEndWithoutRetrying_data();
    void brokenAnswersEndWithoutRetrying();
    void bytesBeyondTheLengthNeverReachTheNextAnswer();
    void nonWebAddressesAreNeverFetched_data();
    void nonWebAddressesAreNeverFetched();
    void cancelEndsWhatOnlyTheUserCanEnd_data();
    void cancelEndsWhatOnlyTheUserCanEnd();
    void failuresSayWhatFailed_data();
    void failuresSayWhatFailed();
};

void tst_HostileServer::bodiesStopAtTheirLimit_data()
{
    QTest::addColumn<qint64>("announced"); // -1: an endless body with no length
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<qint64>("kept");
    QTest::newRow("an endless page is read up to 64 MB and no further")
        << qint64(-1) << pageBodyLimit << pageBodyLimit;
    QTest::newRow("an endless image is cut at 256 MB")
        << qint64(-1) << imageBodyLimit << imageBodyLimit;
    QTest::newRow("an image that claims 10 GB is refused unread")
        << qint64(10) * 1024 * 1024 * 1024 << imageBodyLimit << qint64(0);
    QTest::newRow("a page one byte over its limit is refused unread")
        << pageBodyLimit + 1 << pageBodyLimit << qint64(0);
}

void tst_HostileServer::bodiesStopAtTheirLimit()
{
    QFETCH(qint64, announced);
    QFETCH(qint64, limit);
    QFETCH(qint64, kept);
    std::atomic<qint64> sent { 0 };
    LoopbackServer server;
    server.server().Get("/big", [&](const httplib::Request&, httplib::Response& response) {
        const auto provide = [&](size_t, httplib::DataSink& sink) {
            sent += block.size();
            return sink.write(block.constData(), size_t(block.size()));
        };
        if (announced < 0)
            response.set_chunked_content_provider("image/jpeg", provide);
        else
            response.set_content_provider(size_t(announced), "image/jpeg",
                [provide](size_t offset, size_t, httplib::DataSink& sink) {
                    return provide(offset, sink);
                });
    });
    server.start();
    FakeHost host;
    QByteArray data;
    QElapsedTimer clock;
    clock.start();

    QCOMPARE(fetch(host, server.url(u"/big"_s), data, limit), FetchOutcome::TooLarge);
    qInfo("%lld MB received in %lld ms; peak memory so far %ld MB", qint64(data.size()) >> 20,
        clock.elapsed(), peakMegabytes());
    QCOMPARE(data.size(), kept);
    if (kept > 0) {
        // Neither shifted nor lost: the limit is a whole number of blocks.
        QVERIFY(data.startsWith(block));
        QVERIFY(data.endsWith(block));
    }
    QCOMPARE(host.info, Msg::loadingPage + u'(' + QString::number(kept) + Msg::bytesDone);
    // The connection is dropped, not drained: the server stops well short of what it offered.
    server.stop();
    QVERIFY2(sent < kept + 64 * block.size(), qPrintable(QString::number(sent)));
}

void tst_HostileServer::brokenAnswersEndWithoutRetrying_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<FetchOutcome>("outcome");
    QTest::addColumn<QByteArray>("kept");
    const QByteArray ok = "HTTP/1.1 200 OK\r\n";
    QTest::newRow("garbage and NUL bytes instead of HTTP")
        << QByteArrayLiteral("\0\x01\xFF garbage\r\n\r\n\0\0body") << FetchOutcome::NoConnection
        << QByteArray();
    QTest::newRow("a length that is no number")
        << ok + "Content-Length: lots\r\n\r\nhello" << FetchOutcome::Incomplete << QByteArray();
    QTest::newRow("a NUL byte inside a header")
        << ok + QByteArrayLiteral("X-A: a\0b\r\nContent-Length: 5\r\n\r\nhello")
        << FetchOutcome::Incomplete << QByteArray();
    QTest::newRow("a header line of two megabytes")
        << ok + "X-Long: " + QByteArray(2 * 1024 * 1024, 'h') + "\r\n\r\nhello"
        << FetchOutcome::Incomplete << QByteArray();
    QTest::newRow("a flood of headers")
        << ok + QByteArray("X-Flood: 0123456789012345678901234567890123456789\r\n").repeated(20000)
        << FetchOutcome::Incomplete << QByteArray();
    QTest::newRow("a length longer than the body, then the connection closes") << ok
            + "Content-Length: 900\r\n\r\nhello" << FetchOutcome::Incomplete << QByteArray("hello");
    QTest::newRow("a chunk size that is no number")
        << ok + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\nzz\r\nworld\r\n0\r\n\r\n"
        << FetchOutcome::Incomplete << QByteArray("hello");
    QTest::newRow("a chunk that claims terabytes, then the connection closes")
        << ok + "Transfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFF\r\nhello"
        << FetchOutcome::Incomplete << QByteArray("hello");
}

void tst_HostileServer::brokenAnswersEndWithoutRetrying()
{
    QFETCH(QByteArray, answer);
    QFETCH(FetchOutcome, outcome);
    QFETCH(QByteArray, kept);
    RawServer server(answerWith(answer));
    FakeHost host;
    QByteArray data;

    QCOMPARE(fetch(host, server.url(), data, 1000), outcome);
    QVERIFY2(kept.startsWith(data), data.left(100).constData());
    // The server was reached: hammering it again for the connect window would gain nothing.
    QCOMPARE(server.connections.load(), 1);
    QCOMPARE(host.info, Msg::loadingPage + u'(' + QString::number(data.size()) + Msg::bytesDone);
}

void tst_HostileServer::bytesBeyondTheLengthNeverReachTheNextAnswer()
{
    // The first answer carries a forged second answer behind its announced length; were the
    // connection used again, the next fetch would take the forgery for its own answer.
    RawServer server([](RawServer& self, int client) {
        bool first = self.connections == 1;
        while (RawServer::readRequest(client)) {
            RawServer::send(client,
                first ? QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nfirst"
                                   "HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nforged")
                      : QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nsecond"));
            first = false;
        }
    });
    FakeHost host;
    QByteArray data;

    QCOMPARE(fetch(host, server.url(u"/a.htm"_s), data, pageBodyLimit), FetchOutcome::Complete);
    QCOMPARE(data, QByteArray("first"));
    QCOMPARE(fetch(host, server.url(u"/b.htm"_s), data, pageBodyLimit), FetchOutcome::Complete);
    QCOMPARE(data, QByteArray("second"));
}

void tst_HostileServer::nonWebAddressesAreNeverFetched_data()
{
    QTest::addColumn<QString>("target"); // %1: a port that counts whoever connects to it
    QTest::addColumn<bool>("redirected");
    const QList<std::pair<const char*, QString>> targets {
        { "a local file named in capitals", u"FILE:///etc/hostname"_s },
        { "a file address without slashes", u"file:/etc/hostname"_s },
        { "a dictionary server", u"dict://127.0.0.1:%1/d:x.jpg"_s },
        { "a gopher server", u"gopher://127.0.0.1:%1/1x.jpg"_s },
        { "a telnet session", u"telnet://127.0.0.1:%1/x.jpg"_s },
        { "a mail server", u"smtp://127.0.0.1:%1/x.jpg"_s },
        { "a directory server", u"ldap://127.0.0.1:%1/o=x.jpg"_s },
        { "a message queue", u"mqtt://127.0.0.1:%1/x.jpg"_s },
    };
    for (const auto& [name, target] : targets) {
        QTest::addRow("%s, named directly", name) << target << false;
        QTest::addRow("%s, reached by a redirect", name) << target << true;
    }
}

void tst_HostileServer::nonWebAddressesAreNeverFetched()
{
    QFETCH(QString, target);
    QFETCH(bool, redirected);
    RawServer elsewhere(answerWith("220 hello\r\n"));
    const QString address = QString(target).replace(u"%1"_s, QString::number(elsewhere.port));
    RawServer server(answerWith(
        "HTTP/1.1 302 Found\r\nLocation: " + address.toUtf8() + "\r\nContent-Length: 0\r\n\r\n"));
    FakeHost host;
    QByteArray data;

    const FetchOutcome outcome
        = fetch(host, redirected ? server.url() : address, data, pageBodyLimit);
    QVERIFY(outcome != FetchOutcome::Complete);
    QVERIFY(data.isEmpty());
    QCOMPARE(elsewhere.connections.load(), 0);
    QCOMPARE(server.connections.load(), redirected ? 1 : 0);
}

void tst_HostileServer::cancelEndsWhatOnlyTheUserCanEnd_data()
{
    QTest::addColumn<QByteArray>("head"); // sent at once
    QTest::addColumn<QByteArray>("drip"); // then one of these every ten seconds
    QTest::addColumn<QString>("pressWhen"); // the status line that shows the fetch under way
    const QString counted = Msg::loadingPage + u"(1"_s + Msg::bytesDone;
    QTest::newRow("a body trickling one byte every ten seconds")
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nx") << QByteArray("x")
        << counted;
    QTest::newRow("a server that takes the request and never answers")
        << QByteArray() << QByteArray() << QString();
    QTest::newRow("a header every ten seconds, never the body")
        << QByteArray("HTTP/1.1 200 OK\r\n") << QByteArray("X-Wait: 1\r\n") << QString();
}

void tst_HostileServer::cancelEndsWhatOnlyTheUserCanEnd()
{
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, drip);
    QFETCH(QString, pressWhen);
    RawServer server([&](RawServer& self, int client) {
        if (!RawServer::readRequest(client))
            return;
        self.requestSeen = true;
        RawServer::send(client, head);
        while (self.pause(client, 10000))
            RawServer::send(client, drip);
    });
    FakeHost host;
    int pressedAt = -1;
    host.onYield = [&](int yield) {
        if (pressedAt < 0 && server.requestSeen
            && (pressWhen.isEmpty() || host.info == pressWhen)) {
            pressedAt = yield;
            host.pressCancel();
        }
    };
    QByteArray data;

    QCOMPARE(fetch(host, server.url(), data, pageBodyLimit), FetchOutcome::Cancelled);
    QVERIFY(pressedAt > 0);
    // Back right after the yield in which Cancel was pressed, the connection closed behind it.
    QCOMPARE(host.yields, pressedAt);
    QCOMPARE(host.state.hUrl, nullptr);
    QCOMPARE(host.state.hInternet, nullptr);
    QCOMPARE(host.info, Msg::interrupted);
    QTRY_VERIFY_WITH_TIMEOUT(server.clientGone, 5000);
}

void tst_HostileServer::failuresSayWhatFailed_data()
{
    QTest::addColumn<QString>("address"); // a path on the server, or a whole address
    QTest::addColumn<QByteArrayList>(
        "answers"); // for each connection; then it waits for the hang-up
    QTest::addColumn<FetchOutcome>("outcome");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("finalPath"); // empty: the address exactly as it was asked for
    QTest::addColumn<int>("connections");
    const QString local = u"127.0.0.1"_s;
    const QByteArray ok = "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 2\r\n\r\nok";
    QTest::newRow("a page that is found keeps its address as written")
        << u"/写真 1.htm"_s << QByteArrayList { ok } << FetchOutcome::Complete << QString()
        << QString() << 1;
    QTest::newRow("a redirect ends at its target")
        << u"/p.htm"_s
        << QByteArrayList { "HTTP/1.1 302 Found\r\nLocation: /q.htm\r\nConnection: close\r\n"
                            "Content-Length: 0\r\n\r\n",
               ok }
        << FetchOutcome::Complete << QString() << u"/q.htm"_s << 2;
    QTest::newRow("an error page is kept but named")
        << u"/p.htm"_s << QByteArrayList { "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n" }
        << FetchOutcome::Complete << Msg::httpError(local, 404) << QString() << 1;
    QTest::newRow("a host that no name server knows")
        << u"http://pixhound.invalid/p.htm"_s << QByteArrayList() << FetchOutcome::NoConnection
        << Msg::hostNotFound(u"pixhound.invalid"_s) << QString() << 0;
    QTest::newRow("a port where nobody listens")
        << u"http://127.0.0.1:1/p.htm"_s << QByteArrayList() << FetchOutcome::NoConnection
        << Msg::connectionRefused(local) << QString() << 0;
    QTest::newRow("a server that takes the request and stays silent is asked once")
        << u"/p.htm"_s << QByteArrayList { QByteArray() } << FetchOutcome::NoConnection
        << Msg::noAnswer(local) << QString() << 1;
    QTest::newRow("a body that stops coming")
        << u"/p.htm"_s << QByteArrayList { "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nx" }
        << FetchOutcome::Incomplete << Msg::noAnswer(local) << QString() << 1;
}

void tst_HostileServer::failuresSayWhatFailed()
{
    QFETCH(QString, address);
    QFETCH(QByteArrayList, answers);
    QFETCH(FetchOutcome, outcome);
    QFETCH(QString, text);
    QFETCH(QString, finalPath);
    QFETCH(int, connections);
    RawServer server([&](RawServer& self, int client) {
        if (RawServer::readRequest(client))
            RawServer::send(client, answers.value(self.connections - 1));
        while (self.pause(client, 10000)) { }
    });
    if (address.startsWith(u'/'))
        address = server.url(address);
    FakeHost host;
    host.state.fetchStallSeconds = 1;
    QByteArray data;

    const FetchResult result = Get_UrlData(host, address, data);
    QCOMPARE(result.outcome, outcome);
    QCOMPARE(result.failureText, text);
    QCOMPARE(result.finalUrl, finalPath.isEmpty() ? address : server.url(finalPath));
    QCOMPARE(server.connections.load(), connections);
}

QTEST_GUILESS_MAIN(tst_HostileServer)
#include "tst_hostileserver.moc"
