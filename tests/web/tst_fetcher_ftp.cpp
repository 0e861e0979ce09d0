// The fetcher over ftp, against a local anonymous FTP server.
#include "web/fetcher.h"

#include "resources/messages.h"
#include "support/fakehost.h"
#include "support/testfiles.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

class tst_FetcherFtp : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void readsFiles_data();
    void readsFiles();

private:
    QTemporaryDir m_dir;
    QProcess m_server;
    QString m_root;
};

void tst_FetcherFtp::initTestCase()
{
    QVERIFY(writeFileBytes(m_dir.filePath(u"pic.jpg"_s), noiseBytes(70001)));
    // The system's Python first: one found on PATH may lack the server module.
    const QRegularExpression started(u"starting FTP server on 127\\.0\\.0\\.1:(\\d+)"_s);
    QString output;
    for (const QString& python :
        { u"/usr/bin/python3"_s, QStandardPaths::findExecutable(u"python3"_s) }) {
        m_server.setProcessChannelMode(QProcess::MergedChannels);
        m_server.start(python,
            { u"-m"_s, u"pyftpdlib"_s, u"-i"_s, u"127.0.0.1"_s, u"-p"_s, u"0"_s, u"-d"_s,
                m_dir.path() });
        QDeadlineTimer deadline(20000);
        while (!started.match(output).hasMatch()
            && m_server.waitForReadyRead(int(deadline.remainingTime())))
            output += QString::fromUtf8(m_server.readAll());
        if (started.match(output).hasMatch())
            break;
        cleanupTestCase();
    }
    const QRegularExpressionMatch match = started.match(output);
    if (!match.hasMatch())
        QSKIP("no python3 with pyftpdlib (Debian package python3-pyftpdlib) to serve ftp");
    m_root = u"ftp://127.0.0.1:"_s + match.captured(1) + u'/';
}

void tst_FetcherFtp::cleanupTestCase()
{
    if (m_server.state() != QProcess::NotRunning) {
        m_server.kill();
        m_server.waitForFinished(10000);
    }
}

void tst_FetcherFtp::readsFiles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<FetchOutcome>("outcome");
    QTest::addColumn<int>("size");
    QTest::newRow("a file arrives exactly") << u"pic.jpg"_s << FetchOutcome::Complete << 70001;
    QTest::newRow("a missing file ends empty without retrying")
        << u"missing.jpg"_s << FetchOutcome::Incomplete << 0;
}

void tst_FetcherFtp::readsFiles()
{
    QFETCH(QString, name);
    QFETCH(FetchOutcome, outcome);
    QFETCH(int, size);
    FakeHost host;
    host.info = Msg::loadingPage;
    QByteArray data;
    QElapsedTimer clock;
    clock.start();

    QCOMPARE(Get_UrlData(host, m_root + name, data).outcome, outcome);
    QVERIFY(data == (size ? noiseBytes(size) : QByteArray()));
    QCOMPARE(host.info, Msg::loadingPage + u'(' + QString::number(size) + Msg::bytesDone);
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
}

QTEST_GUILESS_MAIN(tst_FetcherFtp)
#include "tst_fetcher_ftp.moc"
