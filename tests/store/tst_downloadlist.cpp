// DownloadList.txt written from the run's list, JPG lists read into it (by hand-edited, broken or
// hostile files too), and the open dialog's memory.
#include "resources/messages.h"
#include "store/downloadlist.h"
#include "support/fakehost.h"
#include "support/messageanswerer.h"
#include "support/tempprogramfolder.h"
#include "support/testfiles.h"

#include <QDir>
#include <QTest>

#include <optional>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// How the row's file comes about: the run's list written, or the row's bytes put there as they are.
enum class Source { Written, WrittenReadOnly, WrittenFullDisk, Given };

} // namespace

class tst_DownloadList : public QObject
{
    Q_OBJECT
private slots:
    void listFiles_data();
    void listFiles();
};

void tst_DownloadList::listFiles_data()
{
    QTest::addColumn<Source>("source");
    // Written: the run's list, read back the same. Given: the addresses the read accepts.
    QTest::addColumn<QStringList>("urls");
    // Written: the new file (the old one stays when a box is shown). Given: the file ("<missing>",
    // "<folder>", "<300 MB>": no text).
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("box"); // how the one box begins; "<path>": the list's path
    const auto read = [](const char* name, const QByteArray& content, const QStringList& urls) {
        QTest::newRow(name) << Source::Given << urls << content << QString();
    };
    const auto fail = [](const char* name, const QByteArray& content, const QString& title,
                          const QString& text, Source source = Source::Given) {
        QTest::newRow(name) << source << QStringList() << content
                            << expectBox(title, MessageIcon::Critical, text);
    };
    const auto refuse = [&](const char* name, const QByteArray& content, const QString& reason,
                            int line, const QString& shown = {}) {
        fail(name, content, Msg::titleUrlError,
            reason + u"\r\n<path>\r\n\r\n"_s + Msg::lineLabel + QString::number(line) + Msg::crlf
                + shown);
    };
    QTest::newRow("every address ends in CR LF, the last one too")
        << Source::Written << QStringList { u"http://s/a.jpg"_s, u"http://s/b.jpeg"_s }
        << QByteArray("http://s/a.jpg\r\nhttp://s/b.jpeg\r\n") << QString();
    QTest::newRow("japanese in code page 932, a character it lacks percent-encoded")
        << Source::Written << QStringList { u"http://s/写真€.jpg"_s, u"http://s/c.jpg"_s }
        << QByteArray("http://s/\x8e\xca\x90\x5e%E2%82%AC.jpg\r\nhttp://s/c.jpg\r\n") << QString();
    fail("a read-only file is left as it is", {}, Msg::titleError,
        u"<path>"_s + Msg::cannotBeWritten + Msg::crlf + Msg::checkNotBeingEdited,
        Source::WrittenReadOnly);
    fail("a disk that fills up", {}, Msg::titleError, u"61:ディスクの空き容量が不足しています。"_s,
        Source::WrittenFullDisk);
    read("CR LF, a lone CR and a lone LF each end a line",
        "http://s/1.jpg\r\nhttp://s/2.jpg\rhttp://s/3.jpg\nhttp://s/4.jpg",
        { u"http://s/1.jpg"_s, u"http://s/2.jpg"_s, u"http://s/3.jpg"_s, u"http://s/4.jpg"_s });
    read("blank lines skipped, upper case and spaces around accepted, no dot needed",
        "\r\n   \r\n  http://s/A.JPG  \r\nhttp://s/B.JpEg\r\nhttp://s/photojpg\r\n\r\n",
        { u"http://s/A.JPG"_s, u"http://s/B.JpEg"_s, u"http://s/photojpg"_s });
    read("a fragment before the ending is cut from the stored address", "http://s/a.htm#b.jpg",
        { u"http://s/a.htm"_s });
    read("utf-8 with a byte-order mark", "\xEF\xBB\xBFhttp://s/\xE5\x86\x99.jpg",
        { u"http://s/写.jpg"_s });
    refuse("line numbers count blank lines and every line-end form",
        "http://s/1.jpg\n\rhttp://s/2.jpg\r\n\n  s/5.jpg ", Msg::listInvalidUrl, 5, u"s/5.jpg"_s);
    refuse("a NUL byte makes the address invalid", QByteArray("http://s/1\0.jpg", 15),
        Msg::listInvalidUrl, 1, u"http://s/1\0.jpg"_s);
    // A byte that is no character becomes the substitute, a control character no address holds.
    refuse("bytes that are no Shift_JIS make the address invalid",
        "http://s/1.jpg\r\nhttp://s/\x81\x20\xFF.jpg", Msg::listInvalidUrl, 2);
    refuse("a million good addresses and one bad one leave nothing in the run",
        QByteArray("http://s/1.jpg\r\n").repeated(1000000) + "http://s/x.png", Msg::listNotJpeg,
        1000001);
    fail("a missing file", "<missing>", Msg::titleFileError, Msg::fileNotFound);
    fail("a folder is no list", "<folder>", Msg::titleReadImgListError, u"75:パス名が無効です。"_s);
    fail("a file larger than any list is refused unread", "<300 MB>", Msg::titleReadImgListError,
        u"7:メモリが不足しています。"_s);
}

void tst_DownloadList::listFiles()
{
    QFETCH(Source, source);
    QFETCH(QStringList, urls);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, box);
    TempProgramFolder folder;
    MessageAnswerer answerer;
    FakeHost host;
    const QString path = folder.file(Msg::listFileName);
    box.replace(u"<path>"_s, path);
    if (source != Source::Given) {
        for (int i = 0; i < 100 && source != Source::Written; ++i)
            urls.append(u"http://server/gallery/%1.jpg"_s.arg(i));
        for (const QString& url : urls)
            host.state.udtDownload.append({ url, u"name"_s });
        const QByteArray old("an older and longer list\r\n");
        QVERIFY(writeFileBytes(path, old));
        Unprivileged::setMode(path, source != Source::WrittenReadOnly);
        bool written = true;
        {
            std::optional<Unprivileged> user;
            std::optional<FileSizeLimit> limit;
            if (source == Source::WrittenFullDisk)
                limit.emplace(1000);
            if (source == Source::WrittenReadOnly && !user.emplace().active())
                QSKIP("permissions cannot be made to apply here");
            written = Write_DownloadList(host);
        }
        QCOMPARE(written, box.isEmpty());
        QCOMPARE(host.state.strDownloadListFile, path);
        QCOMPARE(host.info, written ? Msg::listCreated : Msg::listCannotBeCreated);
        QCOMPARE(readFileBytes(path), written ? bytes : old);
        QCOMPARE(folderEntries(folder.path()), QStringList { Msg::listFileName });
        // What was written reads back, the lacking character as its escape.
        urls.replaceInStrings(u"€"_s, u"%E2%82%AC"_s);
    } else if (bytes == "<folder>") {
        QVERIFY(QDir().mkpath(path));
    } else if (bytes == "<300 MB>") {
        QVERIFY(writeFileBytes(path, {})
            && ::truncate(QFile::encodeName(path).constData(), 300 << 20) == 0);
    } else if (bytes != "<missing>") {
        QVERIFY(writeFileBytes(path, bytes));
    }
    if (answerer.boxes.isEmpty()) {
        // The list of an earlier run, which every read replaces.
        host.state.udtDownload = { { u"http://old/1.jpg"_s, u"1.jpg"_s } };
        host.state.strPageList.append(u"http://old/1.jpg"_s);
        QCOMPARE(readImageList(host, path), box.isEmpty());
        QCOMPARE(host.downloadUrls(), urls);
        QCOMPARE(host.state.strPageList.addresses(), urls);
    }
    QCOMPARE(answerer.boxes.size(), box.isEmpty() ? 0 : 1);
    if (!box.isEmpty())
        QVERIFY2(answerer.shown().constFirst().startsWith(box),
            qPrintable(answerer.shown().constFirst().left(300)));
}

QTEST_GUILESS_MAIN(tst_DownloadList)
#include "tst_downloadlist.moc"
