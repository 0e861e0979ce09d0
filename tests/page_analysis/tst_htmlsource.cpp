// HTMLSource.txt: byte for byte, and what the user sees when it cannot be written.
#include "page_analysis/htmlsource.h"

#include "platform/programfolder.h"
#include "resources/messages.h"
#include "support/fakehost.h"
#include "support/messageanswerer.h"
#include "support/tempprogramfolder.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTest>

class tst_HtmlSource : public QObject
{
    Q_OBJECT
private slots:
    void replacesTheFile_data();
    void replacesTheFile();
    void reportsAFailedWrite_data();
    void reportsAFailedWrite();
};

void tst_HtmlSource::replacesTheFile_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QByteArray>("addressLine");
    QTest::addColumn<QByteArray>("lineEnd");
    const QString page = QStringLiteral("http://host/a/p.htm");
    const QByteArray line("http://host/a/p.htm is");
    QTest::newRow("one crlf anywhere makes every piece end in crlf, inner lf kept")
        << page << QByteArray("<html>\n<p>\r\n</html>") << line << QByteArray("\r\n");
    QTest::newRow("lf only") << page << QByteArray("<html>\n</html>\n") << line << QByteArray("\n");
    QTest::newRow("a lone cr is no pair")
        << page << QByteArray("<html>\r</html>") << line << QByteArray("\n");
    QTest::newRow("an empty page") << page << QByteArray() << line << QByteArray("\n");
    QTest::newRow("page bytes unchanged whatever their encoding, the address in code page 932")
        << QStringLiteral("http://host/画像/€.htm")
        << QByteArray("<p>\xE7\x94\xBB \xF0\x9F\x98\x80 \x89\xe6</p>")
        << QByteArray("http://host/\x89\xe6\x91\x9c/%E2%82%AC.htm is") << QByteArray("\n");
}

void tst_HtmlSource::replacesTheFile()
{
    QFETCH(QString, page);
    QFETCH(QByteArray, source);
    QFETCH(QByteArray, addressLine);
    QFETCH(QByteArray, lineEnd);
    TempProgramFolder folder;
    MessageAnswerer answerer;
    FakeHost host;
    QFile file(folder.file(QStringLiteral("HTMLSource.txt")));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(100000, 'o')) == 100000);
    file.close();

    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    QVERIFY(Write_HTMLSource(host, page, source));
    const QDateTime after = QDateTime::currentDateTime();

    QCOMPARE(host.state.strHTMLSourceFile, file.fileName());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray written = file.readAll();
    const QByteArray head("The following HTML Source on ");
    const QByteArray stamp = written.mid(head.size(), 19);
    const QDateTime when
        = QDateTime::fromString(QString::fromLatin1(stamp), QStringLiteral("yyyy/MM/dd HH:mm:ss"));
    QVERIFY2(when >= before && when <= after, stamp.constData());
    QCOMPARE(written, head + stamp + lineEnd + addressLine + lineEnd + lineEnd + source + lineEnd);
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files),
        QStringList { QStringLiteral("HTMLSource.txt") });
    QVERIFY(answerer.boxes.isEmpty());
}

void tst_HtmlSource::reportsAFailedWrite_data()
{
    QTest::addColumn<QString>("programFolder");
    QTest::addColumn<QString>("number");
    QTest::newRow("HTMLSource.txt is a folder: path/file access error")
        << QString() << QStringLiteral("75:");
    QTest::newRow("the program's folder has gone: path not found")
        << QStringLiteral("gone/") << QStringLiteral("76:");
}

void tst_HtmlSource::reportsAFailedWrite()
{
    QFETCH(QString, programFolder);
    QFETCH(QString, number);
    TempProgramFolder folder;
    MessageAnswerer answerer;
    FakeHost host;
    QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("HTMLSource.txt")));
    setProgramFolder(folder.path() + programFolder);

    QVERIFY(!Write_HTMLSource(host, QStringLiteral("http://host/p.htm"), QByteArray("<html>")));

    QCOMPARE(host.state.strHTMLSourceFile,
        folder.path() + programFolder + QStringLiteral("HTMLSource.txt"));
    QCOMPARE(host.info, Msg::listCannotBeCreated);
    QCOMPARE(answerer.boxes.size(), 1);
    QCOMPARE(answerer.last().title, QStringLiteral("エラー"));
    QCOMPARE(answerer.last().icon, MessageIcon::Critical);
    QVERIFY2(answerer.last().text.startsWith(number), qPrintable(answerer.last().text));
    // Nothing half-written is left behind.
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList());
}

QTEST_GUILESS_MAIN(tst_HtmlSource)
#include "tst_htmlsource.moc"
