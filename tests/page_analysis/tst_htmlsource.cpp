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
    QTest::addColumn<QByteArray>("written"); // after the time stamp; or the start of the error box
    const QString page = u"http://host/a/p.htm"_s;
    QTest::newRow("one crlf anywhere makes every piece end in crlf, inner lf kept")
        << page << QByteArray("<html>\n<p>\r\n</html>")
        << QByteArray("\r\nhttp://host/a/p.htm is\r\n\r\n<html>\n<p>\r\n</html>\r\n");
    QTest::newRow("lf only") << page << QByteArray("<html>\n</html>\n")
                             << QByteArray("\nhttp://host/a/p.htm is\n\n<html>\n</html>\n\n");
    QTest::newRow("a lone cr is no pair")
        << page << QByteArray("<html>\r</html>")
        << QByteArray("\nhttp://host/a/p.htm is\n\n<html>\r</html>\n");
    QTest::newRow("an empty page")
        << page << QByteArray() << QByteArray("\nhttp://host/a/p.htm is\n\n\n");
    QTest::newRow("page bytes unchanged whatever their encoding, the address in code page 932")
        << u"http://host/画像/€.htm"_s
        << QByteArray("<p>\xE7\x94\xBB \xF0\x9F\x98\x80 \x89\xe6</p>")
        << QByteArray("\nhttp://host/\x89\xe6\x91\x9c/%E2%82%AC.htm is\n\n<p>\xE7\x94\xBB "
                      "\xF0\x9F\x98\x80 \x89\xe6</p>\n");
    QTest::newRow("HTMLSource.txt is a folder: path/file access error")
        << page << QByteArray("<html>") << QByteArray("75:");
    QTest::newRow("the program's folder has gone: path not found")
        << page << QByteArray("<html>") << QByteArray("76:");
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
    if (written == "75:")
        QVERIFY(QDir().mkdir(path));
    else
        QVERIFY(writeFileBytes(path, QByteArray(100000, 'o')));
    const QString programFolder = folder.path() + (written == "76:" ? u"gone/"_s : QString());
    setProgramFolder(programFolder);
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);

    QCOMPARE(Write_HTMLSource(host, page, source), !fails);
    const QDateTime after = QDateTime::currentDateTime();
    QCOMPARE(host.state.strHTMLSourceFile, programFolder + Msg::sourceFileName);
    // Nothing half-written is left behind, and nothing beside the file.
    QCOMPARE(folderEntries(folder.path()), QStringList { Msg::sourceFileName });
    QCOMPARE(answerer.boxes.size(), fails ? 1 : 0);
    if (fails) {
        QCOMPARE(host.info, Msg::listCannotBeCreated);
        QCOMPARE(answerer.last().icon, MessageIcon::Critical);
        QVERIFY2(answerer.last().text.startsWith(QString::fromLatin1(written)),
            qPrintable(answerer.last().text));
        return;
    }
    const QByteArray file = readFileBytes(path);
    const QByteArray head("The following HTML Source on ");
    const QByteArray stamp = file.mid(head.size(), 19);
    const QDateTime when
        = QDateTime::fromString(QString::fromLatin1(stamp), u"yyyy/MM/dd HH:mm:ss"_s);
    QVERIFY2(when >= before && when <= after, stamp.constData());
    QCOMPARE(file, head + stamp + written);
}

QTEST_GUILESS_MAIN(tst_HtmlSource)
#include "tst_htmlsource.moc"
