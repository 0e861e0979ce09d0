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

// The list of an earlier run, which every read replaces.
void fillWithEarlierRun(RunState& state)
{
    state.udtDownload = { { u"http://old/1.jpg"_s, u"1.jpg"_s } };
    state.strPageList.append(u"http://old/1.jpg"_s);
}

enum class Blocker { None, ReadOnlyFile, FullDisk };

} // namespace

class tst_DownloadList : public QObject
{
    Q_OBJECT
private slots:
    void writesTheListWholeOrNotAtAll_data();
    void writesTheListWholeOrNotAtAll();
    void readingJpgLists_data();
    void readingJpgLists();
};

void tst_DownloadList::writesTheListWholeOrNotAtAll_data()
{
    QTest::addColumn<QStringList>("urls");
    QTest::addColumn<Blocker>("blocker");
    QTest::addColumn<QByteArray>("bytes"); // the new file; the old one stays when a box is shown
    QTest::addColumn<QString>("box"); // after the list's path when it starts with "が"
    const QStringList two { u"http://s/a.jpg"_s, u"http://s/b.jpeg"_s };
    QTest::newRow("every address ends in CR LF, the last one too")
        << two << Blocker::None << QByteArray("http://s/a.jpg\r\nhttp://s/b.jpeg\r\n") << QString();
    QTest::newRow("japanese in code page 932, a character it lacks percent-encoded")
        << QStringList { u"http://s/写真€.jpg"_s, u"http://s/c.jpg"_s } << Blocker::None
        << QByteArray("http://s/\x8e\xca\x90\x5e%E2%82%AC.jpg\r\nhttp://s/c.jpg\r\n") << QString();
    const QString notWritable = Msg::cannotBeWritten + Msg::crlf + Msg::checkNotBeingEdited;
    QTest::newRow("a read-only file is left as it is")
        << two << Blocker::ReadOnlyFile << QByteArray() << notWritable;
    QTest::newRow("a disk that fills up")
        << two << Blocker::FullDisk << QByteArray() << u"61:ディスクの空き容量が不足しています。"_s;
}

void tst_DownloadList::writesTheListWholeOrNotAtAll()
{
    QFETCH(QStringList, urls);
    QFETCH(Blocker, blocker);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, box);
    TempProgramFolder folder;
    MessageAnswerer answerer;
    FakeHost host;
    for (int i = 0; i < 100 && blocker != Blocker::None; ++i)
        urls.append(u"http://server/gallery/%1.jpg"_s.arg(i));
    for (const QString& url : urls)
        host.state.udtDownload.append({ url, u"name"_s });
    const QString path = folder.file(Msg::listFileName);
    const QByteArray old("an older and longer list\r\n");
    QVERIFY(writeFileBytes(path, old));
    Unprivileged::setMode(path, blocker != Blocker::ReadOnlyFile);
    bool written = true;
    {
        std::optional<Unprivileged> user;
        std::optional<FileSizeLimit> limit;
        if (blocker == Blocker::FullDisk)
            limit.emplace(1000);
        if (blocker == Blocker::ReadOnlyFile) {
            user.emplace();
            if (!user->active())
                QSKIP("permissions cannot be made to apply here");
        }
        written = Write_DownloadList(host);
    }
    QCOMPARE(written, box.isEmpty());
    QCOMPARE(host.state.strDownloadListFile, path);
    QCOMPARE(host.info, written ? Msg::listCreated : Msg::listCannotBeCreated);
    QCOMPARE(answerer.boxes.size(), written ? 0 : 1);
    if (!written)
        QCOMPARE(answerer.last().text, box.startsWith(u'が') ? path + box : box);
    QCOMPARE(readFileBytes(path), written ? bytes : old);
    QCOMPARE(folderEntries(folder.path()), QStringList { Msg::listFileName });
    if (!written)
        return;
    // What was written reads back, the lacking character as its escape.
    fillWithEarlierRun(host.state);
    QVERIFY(readImageList(host, path));
    urls.replaceInStrings(u"€"_s, u"%E2%82%AC"_s);
    QCOMPARE(host.downloadUrls(), urls);
    QCOMPARE(host.state.strPageList.addresses(), urls);
}

void tst_DownloadList::readingJpgLists_data()
{
    QTest::addColumn<QByteArray>("content"); // "<missing>", "<folder>", "<300 MB>": no text
    QTest::addColumn<QStringList>("accepted");
    QTest::addColumn<QString>("title"); // of the box that refuses the list; empty when accepted
    QTest::addColumn<QString>("text"); // how that box begins, "<path>" standing for the list's path
    const auto accept = [](const char* name, const QByteArray& content, const QStringList& urls) {
        QTest::newRow(name) << content << urls << QString() << QString();
    };
    const auto refuse = [](const char* name, const QByteArray& content, const QString& reason,
                            int line, const QString& shown = {}) {
        QTest::newRow(name) << content << QStringList() << Msg::titleUrlError
                            << reason + u"\r\n<path>\r\n\r\n"_s + Msg::lineLabel
                + QString::number(line) + Msg::crlf + shown;
    };
    const auto fail = [](const char* name, const QByteArray& content, const QString& title,
                          const QString& text) {
        QTest::newRow(name) << content << QStringList() << title << text;
    };
    accept("CR LF, a lone CR and a lone LF each end a line",
        "http://s/1.jpg\r\nhttp://s/2.jpg\rhttp://s/3.jpg\nhttp://s/4.jpg",
        { u"http://s/1.jpg"_s, u"http://s/2.jpg"_s, u"http://s/3.jpg"_s, u"http://s/4.jpg"_s });
    accept("blank lines skipped, upper case and spaces around accepted, no dot needed",
        "\r\n   \r\n  http://s/A.JPG  \r\nhttp://s/B.JpEg\r\nhttp://s/photojpg\r\n\r\n",
        { u"http://s/A.JPG"_s, u"http://s/B.JpEg"_s, u"http://s/photojpg"_s });
    accept("a fragment before the ending is cut from the stored address", "http://s/a.htm#b.jpg",
        { u"http://s/a.htm"_s });
    accept("utf-8 with a byte-order mark", "\xEF\xBB\xBFhttp://s/\xE5\x86\x99.jpg",
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

void tst_DownloadList::readingJpgLists()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, accepted);
    QFETCH(QString, title);
    QFETCH(QString, text);
    TempProgramFolder folder;
    MessageAnswerer answerer;
    FakeHost host;
    const QString path = folder.file(u"list.txt"_s);
    if (content == "<folder>")
        QVERIFY(QDir().mkpath(path));
    else if (content == "<300 MB>")
        QVERIFY(writeFileBytes(path, {})
            && ::truncate(QFile::encodeName(path).constData(), 300 << 20) == 0);
    else if (content != "<missing>")
        QVERIFY(writeFileBytes(path, content));
    fillWithEarlierRun(host.state);

    QCOMPARE(readImageList(host, path), title.isEmpty());
    QCOMPARE(host.downloadUrls(), accepted);
    QCOMPARE(host.state.strPageList.addresses(), accepted);
    QCOMPARE(answerer.boxes.size(), title.isEmpty() ? 0 : 1);
    if (!title.isEmpty()) {
        QCOMPARE(answerer.last().title, title);
        QCOMPARE(answerer.last().icon, MessageIcon::Critical);
        QVERIFY2(answerer.last().text.startsWith(text.replace(u"<path>"_s, path)),
            qPrintable(answerer.last().text.left(300)));
    }
}

QTEST_GUILESS_MAIN(tst_DownloadList)
#include "tst_downloadlist.moc"
