// DownloadList.txt written from the run's list, JPG lists read into it (by hand-edited, broken or
// hostile files too), and the open dialog's memory.
#include "resources/messages.h"
#include "store/downloadlist.h"
#include "store/localpaths.h"
#include "store/pathnames.h"
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
    void pageFolderNames_data();
    void pageFolderNames();
    void fileListNamesEveryEntryInOneFill();
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

void tst_DownloadList::pageFolderNames_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("name");
    const auto row = [](const char* name, const QString& address, const QString& folder) {
        QTest::newRow(name) << address << folder;
    };
    row("separators become underscores", u"http://server/photos/top.html"_s,
        u"server_photos_top.html"_s);
    row("port, query and semicolon go, equals and dots stay",
        u"http://server:8080/a/b.cgi?id=3;x=4"_s, u"server_8080_a_b.cgi_id=3_x=4"_s);
    row("ftp loses its scheme", u"ftp://server/pub/"_s, u"server_pub_"_s);
    row("an upper-case scheme is not cut", u"HTTP://SERVER/A.HTM"_s, u"HTTP___SERVER_A.HTM"_s);
    row("http text later in the address still cuts seven characters",
        u"https://server/?u=http://x/"_s, u"_server__u=http___x_"_s);
    row("backslash, comma, star, quote, angle brackets and bar are replaced",
        u"http://a\\b,c*d\"e<f>g|h"_s, u"a_b_c_d_e_f_g_h"_s);
    row("nothing left still names a folder of its own", u"http://"_s, u"_"_s);
    row("two dots never name the parent", u"http://.."_s, u"__"_s);
}

void tst_DownloadList::pageFolderNames()
{
    QFETCH(QString, address);
    QFETCH(QString, name);
    QCOMPARE(pageFolderPath(u"/data/"_s, address, PathConventions::forLinux()),
        u"/data/"_s + name + u'/');
    QCOMPARE(pageFolderPath(u"C:\\D\\"_s, address, PathConventions::forWindows()),
        u"C:\\D\\"_s + name + u'\\');
}

void tst_DownloadList::fileListNamesEveryEntryInOneFill()
{
    FakeHost host;
    host.state.udtDownload = { { u"http://server/a/b/c.jpg"_s, {} },
        { u"http://other/x/c.jpg"_s, {} }, { u"http://s/x/%E5%86%99.jpg?size=2"_s, {} },
        { u"http://server/dir/"_s, {} }, { u"c.jpg"_s, {} } };
    QVERIFY(Get_FileList(host));
    const QStringList names { u"c.jpg"_s, u"c.jpg"_s, u"%E5%86%99.jpg?size=2"_s, QString(),
        QString() };
    QCOMPARE(host.downloadRows, names);
    QCOMPARE(host.downloadRowAppends, 1);
    QCOMPARE(host.state.udtDownload.at(2).FileName, names.at(2));
    // 255 fit: bytes of the local encoding on Linux, UTF-16 units on Windows; a backslash or a
    // colon leaves the folder only on Windows.
    using enum FileNameRefusal;
    const PathConventions onLinux = PathConventions::forLinux(),
                          onWindows = PathConventions::forWindows();
    for (const PathConventions& at : { onLinux, onWindows }) {
        QCOMPARE(fileNameRefusal(QString(251, u'a') + u".jpg"_s, at), None);
        QCOMPARE(fileNameRefusal(QString(252, u'a') + u".jpg"_s, at), TooLong);
        QCOMPARE(fileNameRefusal(u"../a.jpg"_s, at), Unsafe);
    }
    QCOMPARE(fileNameRefusal(QString(100, u'長'), onLinux), TooLong);
    QCOMPARE(fileNameRefusal(QString(100, u'長'), onWindows), None);
    QCOMPARE(fileNameRefusal(u"a\\b:c.jpg"_s, onLinux), None);
    QCOMPARE(fileNameRefusal(u"a\\b:c.jpg"_s, onWindows), Unsafe);
}

QTEST_GUILESS_MAIN(tst_DownloadList)
#include "tst_downloadlist.moc"
