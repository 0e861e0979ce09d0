// HTMLSource.txt: byte for byte, and what the user sees when it cannot be written.
#include "page_analysis/htmlsource.h"

#include "platform/programfolder.h"
#include "resources/messages.h"
#include "support/fakehost.h"
#include "support/messageanswerer.h"
#include "support/tempprogramfolder.h"
#include "support/testfiles.h"

#include <QDateTime>
#include <QDir>
#include <QTest>

using namespace Qt::StringLiterals;

class tst_HtmlSource : public QObject
{
    Q_OBJECT
private slots:
    void replacesTheFile_data();
    void replacesTheFile();
};

void tst_HtmlSource::replacesTheFile_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QByteArray>("written"); // after the time stamp; or how the error box begins
    const QString p = u"http://host/p.htm"_s;
    QTest::newRow("one crlf anywhere makes every piece end in crlf, inner lf kept")
        << p << QByteArray("<a>\n<b>\r\n")
        << QByteArray("\r\nhttp://host/p.htm is\r\n\r\n<a>\n<b>\r\n\r\n");
    QTest::newRow("lf only, a lone cr is no pair")
        << p << QByteArray("<a>\r<b>\n") << QByteArray("\nhttp://host/p.htm is\n\n<a>\r<b>\n\n");
    QTest::newRow("page bytes unchanged whatever their encoding, the address in code page 932")
        << u"http://host/画/€.htm"_s << QByteArray("\xE7\x94\xBB \xF0\x9F\x98\x80 \x89\xe6")
        << QByteArray("\nhttp://host/\x89\xe6/%E2%82%AC.htm is\n\n\xE7\x94\xBB \xF0\x9F\x98\x80 "
                      "\x89\xe6\n");
    QTest::newRow("HTMLSource.txt is a folder") << p << QByteArray("<a>") << QByteArray("75:");
    QTest::newRow("the program's folder has gone") << p << QByteArray("<a>") << QByteArray("76:");
}

void tst_HtmlSource::replacesTheFile()
{
    QFETCH(QString, page);
    QFETCH(QByteArray, source);
    QFETCH(QByteArray, written);
    TempProgramFolder folder;
    MessageAnswerer answerer;
    FakeHost host;
    const QString path = folder.file(Msg::sourceFileName);
    const bool fails = !written.startsWith('\n') && !written.startsWith('\r');
    QVERIFY(written == "75:" ? QDir().mkdir(path) : writeFileBytes(path, QByteArray(100000, 'o')));
    const QString programFolder = folder.path() + (written == "76:" ? u"gone/"_s : QString());
    setProgramFolder(programFolder);
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);

    QCOMPARE(Write_HTMLSource(host, page, source), !fails);
    QCOMPARE(host.state.strHTMLSourceFile, programFolder + Msg::sourceFileName);
    // Nothing half-written is left behind, and nothing beside the file.
    QCOMPARE(folderEntries(folder.path()), QStringList { Msg::sourceFileName });
    QCOMPARE(answerer.boxes.size(), fails ? 1 : 0);
    if (fails) {
        QVERIFY(answerer.last().text.startsWith(QString::fromLatin1(written)));
        return;
    }
    const QByteArray file = readFileBytes(path), head("The following HTML Source on ");
    const QByteArray stamp = file.mid(head.size(), 19);
    const QDateTime when
        = QDateTime::fromString(QString::fromLatin1(stamp), u"yyyy/MM/dd HH:mm:ss"_s);
    QVERIFY2(when >= before && when <= QDateTime::currentDateTime(), stamp.constData());
    QCOMPARE(file, head + stamp + written);
}

QTEST_GUILESS_MAIN(tst_HtmlSource)
#include "tst_htmlsource.moc"
