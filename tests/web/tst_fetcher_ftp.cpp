// The fetcher over ftp, against a local anonymous FTP server.
#include "web/fetcher.h"

#include "resources/messages.h"
#include "support/fakehost.h"

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

namespace {

// The Python that has the FTP server module: the system's first, then whatever PATH offers.
QString pythonWithFtpServer()
{
    for (const QString& candidate :
        { u"/usr/bin/python3"_s, QStandardPaths::findExecutable(u"python3"_s) }) {
        if (candidate.isEmpty() || !QFile::exists(candidate))
            continue;
        QProcess probe;
        probe.start(candidate, { u"-c"_s, u"import pyftpdlib"_s });
        if (probe.waitForFinished(20000) && probe.exitStatus() == QProcess::NormalExit
            && probe.exitCode() == 0)
            return candidate;
    }
    return {};
}

} // namespace

void tst_FetcherFtp::initTestCase()
{
    const QString python = pythonWithFtpServer();
    if (python.isEmpty())
        QSKIP("no python3 with pyftpdlib (Debian package python3-pyftpdlib) to serve ftp");
    QVERIFY(m_dir.isValid());
    QFile file(m_dir.filePath(u"pic.jpg"_s));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QByteArray body(70001, Qt::Uninitialized);
    for (qsizetype i = 0; i < body.size(); ++i)
        body[i] = char(i * 7 + i / 251);
    file.write(body);
    file.close();

    m_server.setProcessChannelMode(QProcess::MergedChannels);
    m_server.start(python,
        { u"-m"_s, u"pyftpdlib"_s, u"-i"_s, u"127.0.0.1"_s, u"-p"_s, u"0"_s, u"-d"_s,
            m_dir.path() });
    QVERIFY(m_server.waitForStarted(20000));
    const QRegularExpression started(u"starting FTP server on 127\\.0\\.0\\.1:(\\d+)"_s);
    QString output;
    QDeadlineTimer deadline(20000);
    while (!started.match(output).hasMatch()
        && m_server.waitForReadyRead(int(deadline.remainingTime())))
        output += QString::fromUtf8(m_server.readAll());
    const QRegularExpressionMatch match = started.match(output);
    QVERIFY2(match.hasMatch(), qPrintable(output));
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
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("size");
    QTest::newRow("a file arrives exactly") << u"pic.jpg"_s << int(FetchOutcome::Complete) << 70001;
    QTest::newRow("a missing file ends empty without retrying")
        << u"missing.jpg"_s << int(FetchOutcome::Incomplete) << 0;
}

void tst_FetcherFtp::readsFiles()
{
    QFETCH(QString, name);
    QFETCH(int, outcome);
    QFETCH(int, size);
    FakeHost host;
    host.info = Msg::loadingPage;
    QByteArray data;
    QElapsedTimer clock;
    clock.start();

    QCOMPARE(int(Get_UrlData(host, m_root + name, data)), outcome);
    QCOMPARE(data.size(), size);
    if (size > 0) {
        QFile file(m_dir.filePath(name));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(data == file.readAll());
    }
    QCOMPARE(host.info, Msg::loadingPage + u'(' + QString::number(size) + Msg::bytesDone);
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
}

QTEST_GUILESS_MAIN(tst_FetcherFtp)
#include "tst_fetcher_ftp.moc"
