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
    QTest::addColumn<QByteArray>("addressLine");
    QTest::addColumn<QByteArray>("lineEnd");
    QTest::addColumn<QString>("error"); // the start of the error box; empty when written
    const QString page = u"http://host/a/p.htm"_s;
    const QByteArray line("http://host/a/p.htm is");
    QTest::newRow("one crlf anywhere makes every piece end in crlf, inner lf kept")
        << page << QByteArray("<html>\n<p>\r\n</html>") << line << QByteArray("\r\n") << QString();
    QTest::newRow("lf only") << page << QByteArray("<html>\n</html>\n") << line << QByteArray("\n")
                             << QString();
    QTest::newRow("a lone cr is no pair")
        << page << QByteArray("<html>\r</html>") << line << QByteArray("\n") << QString();
    QTest::newRow("an empty page") << page << QByteArray() << line << QByteArray("\n") << QString();
    QTest::newRow("page bytes unchanged whatever their encoding, the address in code page 932")
        << u"http://host/画像/€.htm"_s
        << QByteArray("<p>\xE7\x94\xBB \xF0\x9F\x98\x80 \x89\xe6</p>")
        << QByteArray("http://host/\x89\xe6\x91\x9c/%E2%82%AC.htm is") << QByteArray("\n")
        << QString();
    QTest::newRow("HTMLSource.txt is a folder: path/file access error")
        << page << QByteArray("<html>") << line << QByteArray("\n") << u"75:"_s;
    QTest::newRow("the program's folder has gone: path not found")
        << page << QByteArray("<html>") << line << QByteArray("\n") << u"76:"_s;
}

void tst_HtmlSource::replacesTheFile()
{
    QFETCH(QString, page);
    QFETCH(QByteArray, source);
    QFETCH(QByteArray, addressLine);
    QFETCH(QByteArray, lineEnd);
    QFETCH(QString, error);
    TempProgramFolder folder;
    MessageAnswerer answerer;
    FakeHost host;
    const QString path = folder.file(Msg::sourceFileName);
    if (error == u"75:"_s)
        QVERIFY(QDir().mkdir(path));
    else
        QVERIFY(writeFileBytes(path, QByteArray(100000, 'o')));
    const QString programFolder = folder.path() + (error == u"76:"_s ? u"gone/"_s : QString());
    setProgramFolder(programFolder);
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);

    QCOMPARE(Write_HTMLSource(host, page, source), error.isEmpty());
    const QDateTime after = QDateTime::currentDateTime();
    QCOMPARE(host.state.strHTMLSourceFile, programFolder + Msg::sourceFileName);
    // Nothing half-written is left behind, and nothing beside the file.
    QCOMPARE(folderEntries(folder.path()), QStringList { Msg::sourceFileName });
    if (!error.isEmpty()) {
        QCOMPARE(host.info, Msg::listCannotBeCreated);
        QCOMPARE(answerer.boxes.size(), 1);
        QCOMPARE(answerer.last().title, Msg::titleError);
        QCOMPARE(answerer.last().icon, MessageIcon::Critical);
        QVERIFY2(answerer.last().text.startsWith(error), qPrintable(answerer.last().text));
        return;
    }
    QVERIFY(answerer.boxes.isEmpty());
    const QByteArray written = readFileBytes(path);
    const QByteArray head("The following HTML Source on ");
    const QByteArray stamp = written.mid(head.size(), 19);
    const QDateTime when
        = QDateTime::fromString(QString::fromLatin1(stamp), u"yyyy/MM/dd HH:mm:ss"_s);
    QVERIFY2(when >= before && when <= after, stamp.constData());
    QCOMPARE(written, head + stamp + lineEnd + addressLine + lineEnd + lineEnd + source + lineEnd);
}

QTEST_GUILESS_MAIN(tst_HtmlSource)
#include "tst_htmlsource.moc"
