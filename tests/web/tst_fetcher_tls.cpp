// The fetcher over https: a site is trusted only when its certificate leads to a trusted
// authority and names the host.
#include "web/fetcher.h"

#include "resources/messages.h"
#include "support/fakehost.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <httplib.h>

#include <thread>

using namespace Qt::StringLiterals;

class tst_FetcherTls : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void trustsOnlyACertifiedSite_data();
    void trustsOnlyACertifiedSite();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<httplib::SSLServer> m_server;
    std::thread m_thread;
    int m_port = 0;
    QList<QString> m_referers;
    std::mutex m_mutex;
};

// A certificate authority of the test's own and a server certificate for 127.0.0.1 signed by it.
static const char makeCertificates[] = R"(set -e
key="-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
openssl req -x509 $key -keyout ca.key -out ca.pem -days 2 -subj "/CN=Loopback Test Authority" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign
openssl req $key -keyout server.key -out server.csr -subj /CN=127.0.0.1
printf 'subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n' > ext
openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem \
    -days 2 -extfile ext
)";

void tst_FetcherTls::initTestCase()
{
    if (QStandardPaths::findExecutable(u"openssl"_s).isEmpty())
        QSKIP("the openssl command is needed to make a test certificate authority");
    QVERIFY(m_dir.isValid());
    QProcess shell;
    shell.setWorkingDirectory(m_dir.path());
    shell.setProcessChannelMode(QProcess::MergedChannels);
    shell.start(u"sh"_s, { u"-c"_s, QString::fromLatin1(makeCertificates) });
    QVERIFY(shell.waitForFinished(60000));
    QVERIFY2(shell.exitCode() == 0, shell.readAll().constData());

    m_server = std::make_unique<httplib::SSLServer>(
        m_dir.filePath(u"server.pem"_s).toLocal8Bit().constData(),
        m_dir.filePath(u"server.key"_s).toLocal8Bit().constData());
    QVERIFY(m_server->is_valid());
    m_server->Get(
        "/a/pic.jpg", [this](const httplib::Request& request, httplib::Response& response) {
            std::lock_guard lock(m_mutex);
            m_referers.append(QString::fromStdString(request.get_header_value("Referer")));
            response.set_content("\xFF\xD8 over tls", "image/jpeg");
        });
    m_port = m_server->bind_to_any_port("127.0.0.1");
    QVERIFY(m_port > 0);
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    QTRY_VERIFY(m_server->is_running());
}

void tst_FetcherTls::cleanupTestCase()
{
    if (m_thread.joinable()) {
        m_server->stop();
        m_thread.join();
    }
    qunsetenv("SSL_CERT_FILE");
}

void tst_FetcherTls::trustsOnlyACertifiedSite_data()
{
    QTest::addColumn<bool>("trustAuthority");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("outcome");
    QTest::newRow("a site certified by a trusted authority is read")
        << true << u"127.0.0.1"_s << int(FetchOutcome::Complete);
    QTest::newRow("a site certified by an unknown authority is refused")
        << false << u"127.0.0.1"_s << int(FetchOutcome::NoConnection);
    QTest::newRow("a certificate for another name is refused")
        << true << u"localhost"_s << int(FetchOutcome::NoConnection);
}

void tst_FetcherTls::trustsOnlyACertifiedSite()
{
    QFETCH(bool, trustAuthority);
    QFETCH(QString, host);
    QFETCH(int, outcome);
    if (trustAuthority)
        qputenv("SSL_CERT_FILE", QFile::encodeName(m_dir.filePath(u"ca.pem"_s)));
    else
        qunsetenv("SSL_CERT_FILE");
    {
        std::lock_guard lock(m_mutex);
        m_referers.clear();
    }
    const QString root = u"https://"_s + host + u':' + QString::number(m_port) + u'/';
    FakeHost window;
    window.info = Msg::loadingPage;
    QByteArray data;
    QElapsedTimer clock;
    clock.start();

    QCOMPARE(int(Get_UrlData(window, root + u"a/pic.jpg"_s, data)), outcome);
    std::lock_guard lock(m_mutex);
    if (outcome == int(FetchOutcome::Complete)) {
        QCOMPARE(data, QByteArray("\xFF\xD8 over tls"));
        QCOMPARE(m_referers, QList<QString> { root });
    } else {
        QVERIFY(data.isEmpty());
        QVERIFY(m_referers.isEmpty());
        // A refused certificate is refused again on every attempt: no point in retrying.
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    }
}

QTEST_GUILESS_MAIN(tst_FetcherTls)
#include "tst_fetcher_tls.moc"
