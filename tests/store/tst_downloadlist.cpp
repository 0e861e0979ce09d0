// DownloadList.txt written from the run's list, a JPG list read into it, and the open dialog's
// memory.
#include "resources/messages.h"
#include "store/downloadlist.h"
#include "support/fakehost.h"
#include "support/messageanswerer.h"
#include "support/tempprogramfolder.h"
#include "writeblockers.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTest>

#include <optional>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

QStringList urlsOf(const RunState& state)
{
    QStringList urls;
    for (const DownloadItem& item : state.udtDownload)
        urls.append(item.URL);
    return urls;
}

// The list of an earlier run, which every read replaces.
void fillWithEarlierRun(RunState& state)
{
    state.udtDownload = { { u"http://old/1.jpg"_s, u"1.jpg"_s } };
    state.strPageList.append(u"http://old/1.jpg"_s);
}

QStringList entriesOf(const QString& path)
{
    return QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace

class tst_DownloadList : public QObject
{
    Q_OBJECT
private slots:
    void listFileBytes_data();
    void listFileBytes();
    void readingJpgLists_data();
    void readingJpgLists();
    void unreadableListFiles();
    void failedWriteKeepsTheOldList_data();
    void failedWriteKeepsTheOldList();
    void hugeListsAreReadOrRefused();
    void dialogRemembersTheLastChoice();
};

void tst_DownloadList::listFileBytes_data()
{
    QTest::addColumn<QStringList>("urls");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("every address ends in CR LF, the last one too")
        << QStringList { u"http://s/a.jpg"_s, u"http://s/b.jpeg"_s }
        << QByteArray("http://s/a.jpg\r\nhttp://s/b.jpeg\r\n");
    QTest::newRow("an empty list writes an empty file") << QStringList {} << QByteArray();
    QTest::newRow("japanese in code page 932, a character it lacks percent-encoded")
        << QStringList { u"http://s/写真€.jpg"_s, u"http://s/c.jpg"_s }
        << QByteArray("http://s/\x8e\xca\x90\x5e%E2%82%AC.jpg\r\nhttp://s/c.jpg\r\n");
}

void tst_DownloadList::listFileBytes()
{
    QFETCH(QStringList, urls);
    QFETCH(QByteArray, bytes);
    TempProgramFolder folder;
    FakeHost host;
    for (const QString& url : urls)
        host.state.udtDownload.append({ url, u"name"_s });
    writeBytes(folder.file(Msg::listFileName), "an older and longer list\r\n");

    QVERIFY(Write_DownloadList(host));
    QCOMPARE(host.state.strDownloadListFile, folder.file(Msg::listFileName));
    QCOMPARE(readAll(host.state.strDownloadListFile), bytes);
    QCOMPARE(host.info, Msg::listCreated);
    QCOMPARE(entriesOf(folder.path()), QStringList { Msg::listFileName });

    // What was written reads back, the lacking character as its escape.
    fillWithEarlierRun(host.state);
    QVERIFY(readImageList(host, host.state.strDownloadListFile));
    urls.replaceInStrings(u"€"_s, u"%E2%82%AC"_s);
    QCOMPARE(urlsOf(host.state), urls);
    QCOMPARE(host.state.strPageList.addresses(), urls);
}

void tst_DownloadList::readingJpgLists_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("accepted");
    QTest::addColumn<QString>("rejection"); // empty when the list is accepted: reason, line, text

    const QString invalid = Msg::listInvalidUrl + u"|"_s;
    const QString notJpeg = Msg::listNotJpeg + u"|"_s;
    QTest::newRow("CR LF, a lone CR and a lone LF each end a line")
        << QByteArray("http://s/1.jpg\r\nhttp://s/2.jpg\rhttp://s/3.jpg\nhttp://s/4.jpg")
        << QStringList { u"http://s/1.jpg"_s, u"http://s/2.jpg"_s, u"http://s/3.jpg"_s,
               u"http://s/4.jpg"_s }
        << QString();
    QTest::newRow("blank lines skipped, upper case and spaces around accepted, no dot needed")
        << QByteArray(
               "\r\n   \r\n  http://s/A.JPG  \r\nhttp://s/B.JpEg\r\nhttp://s/photojpg\r\n\r\n")
        << QStringList { u"http://s/A.JPG"_s, u"http://s/B.JpEg"_s, u"http://s/photojpg"_s }
        << QString();
    QTest::newRow("a fragment before the ending is cut from the stored address")
        << QByteArray("http://s/a.htm#b.jpg") << QStringList { u"http://s/a.htm"_s } << QString();
    QTest::newRow("an empty file is an empty list") << QByteArray() << QStringList {} << QString();
    QTest::newRow("utf-8 with a byte-order mark")
        << QByteArray("\xEF\xBB\xBFhttp://s/\xE5\x86\x99.jpg")
        << QStringList { u"http://s/写.jpg"_s } << QString();

    QTest::newRow("a query after the ending is no jpeg")
        << QByteArray("http://s/1.jpg\r\nhttp://s/2.jpg?w=1\r\n") << QStringList {}
        << notJpeg + u"2|http://s/2.jpg?w=1"_s;
    QTest::newRow("a fragment after the ending is no jpeg either") << QByteArray(
        "http://s/1.jpg#top") << QStringList {} << notJpeg + u"1|http://s/1.jpg#top"_s;
    QTest::newRow("line numbers count blank lines and every line-end form")
        << QByteArray("http://s/1.jpg\n\rhttp://s/2.jpg\r\n\n  s/5.jpg ") << QStringList {}
        << invalid + u"5|s/5.jpg"_s;
    QTest::newRow("a tab is not stripped") << QByteArray("\thttp://s/1.jpg\r\n") << QStringList {}
                                           << invalid + u"1|\thttp://s/1.jpg"_s;
    QTest::newRow("a NUL byte makes the address invalid") << QByteArray(
        "http://s/1\0.jpg", 15) << QStringList {} << invalid + u"1|http://s/1\0.jpg"_s;
    QTest::newRow("binary garbage is refused at its first line")
        << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) << QStringList {} << invalid + u"1|"_s;
}

void tst_DownloadList::readingJpgLists()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, accepted);
    QFETCH(QString, rejection);
    TempProgramFolder folder;
    MessageAnswerer answerer;
    FakeHost host;
    const QString path = folder.file(u"list.txt"_s);
    writeBytes(path, content);
    fillWithEarlierRun(host.state);

    QCOMPARE(readImageList(host, path), rejection.isEmpty());
    QCOMPARE(urlsOf(host.state), accepted);
    QCOMPARE(host.state.strPageList.addresses(), accepted);
    if (rejection.isEmpty()) {
        QVERIFY(answerer.boxes.isEmpty());
        return;
    }
    QCOMPARE(answerer.boxes.size(), 1);
    QCOMPARE(answerer.last().title, Msg::titleUrlError);
    QCOMPARE(answerer.last().icon, MessageIcon::Critical);
    const QStringList expected = rejection.split(u'|');
    QStringList lines = answerer.last().text.split(Msg::crlf);
    if (expected.at(2).isEmpty())
        lines[4].clear();
    QCOMPARE(lines,
        (QStringList {
            expected.at(0), path, QString(), Msg::lineLabel + expected.at(1), expected.at(2) }));
}

void tst_DownloadList::unreadableListFiles()
{
    TempProgramFolder folder;
    MessageAnswerer answerer;
    FakeHost host;
    fillWithEarlierRun(host.state);
    QVERIFY(!readImageList(host, folder.file(u"nothing.txt"_s)));
    QCOMPARE(answerer.last().title, Msg::titleFileError);
    QCOMPARE(answerer.last().text, Msg::fileNotFound);
    QCOMPARE(host.state.lngDownloadMax(), -1);
    QCOMPARE(host.state.strPageList.lngPageMax(), -1);

    // A folder or a named pipe (which would wait for a writer forever) is no list.
    QVERIFY(QDir().mkpath(folder.file(u"folder.txt"_s)));
    QCOMPARE(::mkfifo(QFile::encodeName(folder.file(u"pipe.txt"_s)).constData(), 0666), 0);
    for (const QString& name : { u"folder.txt"_s, u"pipe.txt"_s }) {
        QVERIFY(!readImageList(host, folder.file(name)));
        QCOMPARE(answerer.last().title, Msg::titleReadImgListError);
        QCOMPARE(answerer.last().text, u"75:パス名が無効です。"_s);
    }
}

enum class Blocker { ReadOnlyFile, ReadOnlyFolder, FullDisk, MissingFolder };

void tst_DownloadList::failedWriteKeepsTheOldList_data()
{
    const QString notWritable
        = u"が書き込みできません\r\nファイルが編集中でないか確認してください"_s;
    QTest::addColumn<Blocker>("blocker");
    QTest::addColumn<QString>("message"); // after the path when it starts with "が"
    QTest::newRow("read-only file") << Blocker::ReadOnlyFile << notWritable;
    QTest::newRow("read-only folder") << Blocker::ReadOnlyFolder << notWritable;
    QTest::newRow("a disk that fills up")
        << Blocker::FullDisk << u"61:ディスクの空き容量が不足しています。"_s;
    QTest::newRow("a missing program folder")
        << Blocker::MissingFolder << u"76:パスが見つかりません。"_s;
}

void tst_DownloadList::failedWriteKeepsTheOldList()
{
    QFETCH(Blocker, blocker);
    QFETCH(QString, message);
    MessageAnswerer answerer;
    FakeHost host;
    for (int i = 0; i < 100; ++i)
        host.state.udtDownload.append(
            { u"http://server/gallery/"_s + QString::number(i) + u".jpg"_s, {} });
    TempProgramFolder folder;
    const QString path = folder.file(Msg::listFileName);
    const QByteArray old("http://s/old.jpg\r\n");
    writeBytes(path, old);
    Unprivileged::setMode(folder.path(), blocker != Blocker::ReadOnlyFolder);
    Unprivileged::setMode(path, blocker != Blocker::ReadOnlyFile);
    bool written = true;
    {
        std::optional<Unprivileged> user;
        std::optional<FileSizeLimit> limit;
        if (blocker == Blocker::FullDisk)
            limit.emplace(1000);
        if (blocker == Blocker::MissingFolder)
            QVERIFY(QDir(folder.path()).removeRecursively());
        if (blocker == Blocker::ReadOnlyFile || blocker == Blocker::ReadOnlyFolder) {
            user.emplace();
            if (!user->active())
                QSKIP("permissions cannot be made to apply here");
        }
        written = Write_DownloadList(host);
    }
    Unprivileged::setMode(folder.path(), true);
    QVERIFY(!written);
    QCOMPARE(host.state.strDownloadListFile, path);
    QCOMPARE(host.info, Msg::listCannotBeCreated);
    QCOMPARE(answerer.boxes.size(), 1);
    QCOMPARE(answerer.last().title, Msg::titleError);
    QCOMPARE(answerer.last().icon, MessageIcon::Critical);
    QCOMPARE(answerer.last().text, message.startsWith(u'が') ? path + message : message);
    if (blocker != Blocker::MissingFolder) {
        QCOMPARE(readAll(path), old);
        QCOMPARE(entriesOf(folder.path()), QStringList { Msg::listFileName });
    }
}

void tst_DownloadList::hugeListsAreReadOrRefused()
{
    TempProgramFolder folder;
    MessageAnswerer answerer;
    FakeHost host;
    constexpr int count = 1000000;
    host.state.udtDownload.reserve(count);
    for (int i = 0; i < count; ++i)
        host.state.udtDownload.append(
            { u"http://server/gallery/"_s + QString::number(i) + u".jpg"_s, {} });
    QElapsedTimer timer;
    timer.start();
    QVERIFY(Write_DownloadList(host));
    const qint64 writeMs = timer.restart();
    QVERIFY(readImageList(host, host.state.strDownloadListFile));
    qDebug() << count << "addresses written in" << writeMs << "ms, read in" << timer.elapsed()
             << "ms";
    QCOMPARE(host.state.udtDownload.size(), count);
    QCOMPARE(host.state.udtDownload.last().URL, u"http://server/gallery/999999.jpg"_s);

    const QByteArray longAddress = "http://s/" + QByteArray(10 * 1024 * 1024, 'a') + ".jpg";
    writeBytes(folder.file(u"long.txt"_s), longAddress);
    QVERIFY(readImageList(host, folder.file(u"long.txt"_s)));
    QCOMPARE(host.state.udtDownload.first().URL.size(), longAddress.size());
    // Refused, it is shown shortened so that the box stays usable.
    writeBytes(folder.file(u"long.txt"_s), longAddress + ".txt");
    QVERIFY(!readImageList(host, folder.file(u"long.txt"_s)));
    QVERIFY(answerer.last().text.startsWith(Msg::listNotJpeg));
    QVERIFY(answerer.last().text.size() < 2000);
}

void tst_DownloadList::dialogRemembersTheLastChoice()
{
    TempProgramFolder folder;
    ListDialogMemory memory;
    memory.prepare();
    QCOMPARE(memory.strLastListDir + memory.strLastListFile, folder.file(Msg::listFileName));
    QCOMPARE(memory.lngLastFilterIndex, 1);
    memory.remember(u"/lists/a.csv"_s, u"a.csv"_s);
    memory.prepare();
    QCOMPARE(memory.strLastListDir + memory.strLastListFile, u"/lists/a.csv"_s);
    QCOMPARE(memory.lngLastFilterIndex, 2);
    memory.remember(u"/other/b.TXT"_s, u"b.TXT"_s);
    QCOMPARE(memory.lngLastFilterIndex, 1);
}

QTEST_GUILESS_MAIN(tst_DownloadList)
#include "tst_downloadlist.moc"
