// The fetcher over https: a site is trusted only when its certificate leads to a trusted
// authority and names the host.
#include "web/fetcher.h"

#include "resources/messages.h"
#include "support/fakehost.h"
#include "support/loopbackserver.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

using namespace Qt::StringLiterals;

class tst_FetcherTls : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase() { qunsetenv("SSL_CERT_FILE"); }
    void trustsOnlyACertifiedSite_data();
    void trustsOnlyACertifiedSite();

private:
    QTemporaryDir m_dir;
    std::optional<LoopbackServer> m_server;
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
    QProcess shell;
    shell.setWorkingDirectory(m_dir.path());
    shell.setProcessChannelMode(QProcess::MergedChannels);
    shell.start(u"sh"_s, { u"-c"_s, QString::fromLatin1(makeCertificates) });
    QVERIFY(shell.waitForFinished(60000));
    QVERIFY2(shell.exitCode() == 0, shell.readAll().constData());
    m_server.emplace(m_dir.filePath(u"server.pem"_s), m_dir.filePath(u"server.key"_s));
    QVERIFY(m_server->isValid());
    m_server->serve("/a/pic.jpg", "\xFF\xD8 over tls", 200, "image/jpeg");
    m_server->start();
}

void tst_FetcherTls::trustsOnlyACertifiedSite_data()
{
    QTest::addColumn<bool>("trustAuthority");
    QTest::addColumn<QString>("host");
    QTest::addColumn<FetchOutcome>("outcome");
    QTest::addColumn<QString>("text");
    QTest::newRow("a site certified by a trusted authority is read")
        << true << u"127.0.0.1"_s << FetchOutcome::Complete << QString();
    QTest::newRow("a site certified by an unknown authority is refused")
        << false << u"127.0.0.1"_s << FetchOutcome::NoConnection
        << Msg::certificateRefused(u"127.0.0.1"_s);
    QTest::newRow("a certificate for another name is refused")
        << true << u"localhost"_s << FetchOutcome::NoConnection
        << Msg::certificateRefused(u"localhost"_s);
}

void tst_FetcherTls::trustsOnlyACertifiedSite()
{
    QFETCH(bool, trustAuthority);
    QFETCH(QString, host);
    QFETCH(FetchOutcome, outcome);
    QFETCH(QString, text);
    if (trustAuthority)
        qputenv("SSL_CERT_FILE", QFile::encodeName(m_dir.filePath(u"ca.pem"_s)));
    else
        qunsetenv("SSL_CERT_FILE");
    m_server->clearRequests();
    const QString root = u"https://"_s + host + u':' + QString::number(m_server->port()) + u'/';
    FakeHost window;
    window.info = Msg::loadingPage;
    QByteArray data;
    QElapsedTimer clock;
    clock.start();

    const FetchResult result = Get_UrlData(window, root + u"a/pic.jpg"_s, data);
    QCOMPARE(result.outcome, outcome);
    QCOMPARE(result.failureText, text);
    const QList<RecordedRequest> requests = m_server->requests();
    if (outcome == FetchOutcome::Complete) {
        QCOMPARE(data, QByteArray("\xFF\xD8 over tls"));
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests.first().headers.value(u"referer"_s), root);
    } else {
        QVERIFY(data.isEmpty());
        QVERIFY(requests.isEmpty());
        // A refused certificate is refused again on every attempt: no point in retrying.
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    }
}

QTEST_GUILESS_MAIN(tst_FetcherTls)
#include "tst_fetcher_tls.moc"
