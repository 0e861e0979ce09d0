// The download loop against a real HTTP server on 127.0.0.1: what is written, where each row is
// filed, what the window shows, and how Skip, Cancel and write failures end an entry or the run.
#include "resources/messages.h"
#include "store/downloadengine.h"
#include "support/fakehost.h"
#include "support/loopbackserver.h"
#include "support/messageanswerer.h"
#include "support/testfiles.h"
#include "writeblockers.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

// One download run: the folder it fills, the server, the window and its message boxes.
struct Run
{
    Run() { QDir().mkpath(folder()); }
    // The members go in reverse: the window's connections close before the server stops, and
    // the gate outlives both.
    ~Run() { gateOpen = true; }
    QString folder() const { return dir.path() + u"/run/"_s; }
    void serveJpeg(const std::string& path, const QByteArray& body)
    {
        server.serve(path, body, 200, "image/jpeg");
    }
    // The answer trickles until the test opens the gate, so that a button can be pressed while
    // the fetch is under way; clientGone tells that the program dropped the connection first.
    void serveGated(const std::string& path, const QByteArray& body)
    {
        server.server().Get(path, [this, body](const httplib::Request&, httplib::Response& r) {
            r.set_chunked_content_provider("image/jpeg", [this, body](size_t at, auto& sink) {
                const size_t left = size_t(body.size()) - at;
                if (left == 0)
                    return sink.done(), true;
                if (!gateOpen)
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                clientGone = !sink.write(body.constData() + at, gateOpen ? left : 64);
                return !clientGone;
            });
        });
    }
    void add(const QString& path, const QString& fileName = QString())
    {
        host.state.udtDownload.append({ server.url(path),
            fileName.isNull() ? path.mid(path.lastIndexOf(u'/') + 1) : fileName });
    }
    bool download() { return Download_ByInet(host, folder()); }

    std::atomic<bool> gateOpen { false }, clientGone { false };
    QTemporaryDir dir;
    LoopbackServer server;
    FakeHost host;
    MessageAnswerer answerer;
};

enum class WriteFailure { DiskFull, FolderUnderTheName };

} // namespace

class tst_DownloadEngine : public QObject
{
    Q_OBJECT
private slots:
    void imagesAreWrittenWholeAndTheRunCompletes();
    void answersThatAreNoJpegAreRefused_data();
    void answersThatAreNoJpegAreRefused();
    void entriesAreFiledBeforeAnyFetchByTheirNameAndTheDisk();
    void skipDuringAndBeforeAFetch();
    void cancelDuringAFetchWritesNothing();
    void fetchesAheadOverlapYetFileInListOrder();
    void aTransferMovesWhileAMessageBoxIsOpen();
    void writeFailuresStopTheRun_data();
    void writeFailuresStopTheRun();
    void emptyListAndTheFileTest();
};

void tst_DownloadEngine::imagesAreWrittenWholeAndTheRunCompletes()
{
    Run run;
    const QList<QByteArray> images { jpegBytes(10, 1), jpegBytes(3 * 1024 * 1024 + 7, 2),
        jpegBytes(100 * 1024, 3) };
    run.serveJpeg("/img/a.jpg", images[0]);
    run.serveJpeg("/img/b.jpg", images[1]);
    run.serveJpeg("/c.jpeg", images[2]);
    run.server.start();
    for (const QString& path : { u"/img/a.jpg"_s, u"/img/b.jpg"_s, u"/c.jpeg"_s })
        run.add(path);
    FakeHost& host = run.host;
    // The box comes after the captions and before the window goes idle.
    QStringList atBox;
    run.answerer.onBox = [&](const MessageBoxRequest&) {
        atBox = { host.caption, host.fileCounter, host.isIdle() ? u"idle"_s : u"busy"_s };
    };

    QVERIFY(run.download());
    const QStringList names { u"a.jpg"_s, u"b.jpg"_s, u"c.jpeg"_s };
    QCOMPARE(folderEntries(run.folder()), names);
    for (int i = 0; i < 3; ++i)
        QVERIFY(readFileBytes(run.folder() + names[i]) == images[i]);
    QCOMPARE(host.doneRows, names);
    QCOMPARE(host.selectedDone, 2);
    QVERIFY(host.infoHistory.contains(u"b.jpgをダウンロード中..."_s));
    QVERIFY(host.infoHistory.contains(u"b.jpgをダウンロードしました"_s));
    QCOMPARE(host.fileCounterHistory,
        (QStringList { u"0/3Files"_s, u"1/3Files"_s, u"2/3Files"_s, u"3/3Files"_s }));
    QCOMPARE(host.captionHistory,
        (QStringList {
            u"1/3 - Pixhound"_s, u"2/3 - Pixhound"_s, u"3/3 - Pixhound"_s, Msg::captionDone }));
    QCOMPARE(run.answerer.boxes.size(), 1);
    QCOMPARE(run.answerer.last().title, Msg::titleDownloadComplete);
    QCOMPARE(run.answerer.last().text, Msg::downloadComplete);
    QCOMPARE(run.answerer.last().icon, MessageIcon::Information);
    QCOMPARE(atBox, (QStringList { Msg::captionDone, u"3/3Files"_s, u"busy"_s }));
    QCOMPARE(host.activations, 1);
    QCOMPARE(host.info, QString());
    QVERIFY(host.isIdle());
}

void tst_DownloadEngine::answersThatAreNoJpegAreRefused_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::newRow("an HTML error page") << QByteArray("<html><body>Not Found</body></html>") << 404;
    QTest::newRow("an empty answer") << QByteArray() << 200;
    QTest::newRow("a single FF byte") << QByteArray("\xFF") << 200;
    QTest::newRow("the start-of-image bytes the wrong way round") << QByteArray("\xD8\xFF") << 200;
}

void tst_DownloadEngine::answersThatAreNoJpegAreRefused()
{
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    Run run;
    run.server.serve("/x.jpg", body, status);
    run.serveJpeg("/ok.jpg", jpegBytes(64, 6));
    run.server.start();
    run.add(u"/x.jpg"_s);
    run.add(u"/ok.jpg"_s);

    QVERIFY(run.download());
    QCOMPARE(run.host.deniedRows, QStringList { u"x.jpg"_s });
    QCOMPARE(run.host.selectedDenied, 0);
    QCOMPARE(run.host.doneRows, QStringList { u"ok.jpg"_s });
    QCOMPARE(folderEntries(run.folder()), QStringList { u"ok.jpg"_s });
    // The refused file leaves the fetch's last progress text on the status line.
    const qsizetype next = run.host.infoHistory.indexOf(u"ok.jpgをダウンロード中..."_s);
    QVERIFY(run.host.infoHistory.at(next - 1).startsWith(u"x.jpgをダウンロード中...("_s));
}

void tst_DownloadEngine::entriesAreFiledBeforeAnyFetchByTheirNameAndTheDisk()
{
    Run run;
    run.server.server().Get(".*", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(jpegBytes(256, 7).toStdString(), "image/jpeg");
    });
    run.server.start();
    QVERIFY(writeFileBytes(run.folder() + u"have.jpg"_s, "not even a jpeg"));
    QVERIFY(writeFileBytes(run.folder() + u"empty.jpg"_s, QByteArray()));
    // have.jpg and d2/twice.jpg come up while empty.jpg is fetched: neither is fetched ahead.
    for (const QString& path : { u"/empty.jpg"_s, u"/have.jpg"_s, u"/d1/twice.jpg"_s,
             u"/d2/twice.jpg"_s, u"/a/.."_s, u"/dir/"_s, u"/b/."_s })
        run.add(path);
    run.add(u"/c/escape.jpg"_s, u"../escape.jpg"_s);
    const QString tooLong = QString(250, u'長') + u".jpg"_s;
    run.add(u"/c/long.jpg"_s, tooLong);

    QVERIFY(run.download());
    // A file with content is never fetched again, even one this run has just written; names that
    // would leave the folder or that no file system holds are refused unfetched, saying why.
    QCOMPARE(run.host.alreadyRows, (QStringList { u"have.jpg"_s, u"twice.jpg"_s }));
    QCOMPARE(run.host.selectedAlready, 1);
    QCOMPARE(run.host.doneRows, (QStringList { u"empty.jpg"_s, u"twice.jpg"_s }));
    QCOMPARE(run.host.deniedRows,
        (QStringList { u".."_s, QString(), u"."_s, u"../escape.jpg"_s, tooLong }));
    QVERIFY(run.host.infoHistory.contains(tooLong + Msg::nameTooLong));
    QStringList targets = run.server.targets();
    targets.sort();
    QCOMPARE(targets, (QStringList { u"/d1/twice.jpg"_s, u"/empty.jpg"_s }));
    QCOMPARE(readFileBytes(run.folder() + u"have.jpg"_s), QByteArray("not even a jpeg"));
    QCOMPARE(readFileBytes(run.folder() + u"empty.jpg"_s), jpegBytes(256, 7));
    QCOMPARE(folderEntries(run.dir.path()), QStringList { u"run"_s });
    QCOMPARE(folderEntries(run.folder()),
        (QStringList { u"empty.jpg"_s, u"have.jpg"_s, u"twice.jpg"_s }));
    QCOMPARE(run.host.fileCounter, u"9/9Files"_s);
}

void tst_DownloadEngine::skipDuringAndBeforeAFetch()
{
    Run run;
    for (const char* path : { "/a.jpg", "/b.jpg", "/c.jpg" })
        run.serveJpeg(path, jpegBytes(512, 8));
    run.serveGated("/slow.jpg", jpegBytes(1 << 20, 9));
    run.server.start();
    for (const QString& path : { u"/a.jpg"_s, u"/slow.jpg"_s, u"/b.jpg"_s, u"/c.jpg"_s })
        run.add(path);
    FakeHost& host = run.host;
    // Skip while slow.jpg is under way, then again in the yield that starts b.jpg (the first one
    // after slow.jpg was filed).
    int presses = 0;
    host.onYield = [&](int) {
        const bool duringSlow = presses == 0 && host.selectedDownloadRow == 1
            && run.server.requestCount(u"/slow.jpg"_s) == 1;
        if (duringSlow || (presses == 1 && host.deniedRows.size() == 1)) {
            ++presses;
            host.state.blnSkip = true;
            host.setCaption(Msg::appName);
        }
    };

    QVERIFY(run.download());
    QCOMPARE(presses, 2);
    QCOMPARE(host.deniedRows, (QStringList { u"slow.jpg"_s, u"b.jpg"_s }));
    QCOMPARE(host.selectedDenied, -1);
    QVERIFY(host.infoHistory.contains(u"slow.jpgをスキップしました"_s));
    QVERIFY(host.infoHistory.contains(u"b.jpgをスキップしました"_s));
    QTRY_VERIFY(run.clientGone); // given up at once, not run to its end
    QCOMPARE(host.doneRows, (QStringList { u"a.jpg"_s, u"c.jpg"_s }));
    QCOMPARE(folderEntries(run.folder()), (QStringList { u"a.jpg"_s, u"c.jpg"_s }));
    QVERIFY(host.captionHistory.contains(u"4/4 - Pixhound"_s));
}

void tst_DownloadEngine::cancelDuringAFetchWritesNothing()
{
    Run run;
    run.serveGated("/big.jpg", jpegBytes(1024 * 1024, 11));
    run.serveJpeg("/after.jpg", jpegBytes(512, 12));
    run.server.start();
    run.add(u"/big.jpg"_s);
    run.add(u"/after.jpg"_s);
    qsizetype requestsAtCancel = -1;
    run.host.onYield = [&](int) {
        if (!run.host.state.blnCancel && run.server.requestCount(u"/big.jpg"_s) == 1
            && run.server.requestCount(u"/after.jpg"_s) == 1) {
            run.host.pressCancel();
            requestsAtCancel = run.server.requests().size();
        }
    };

    QVERIFY(!run.download());
    QVERIFY(run.host.state.blnCancel);
    QCOMPARE(folderEntries(run.folder()), QStringList {});
    QVERIFY(run.host.doneRows.isEmpty() && run.host.deniedRows.isEmpty());
    QCOMPARE(run.server.requests().size(), requestsAtCancel);
    QTRY_VERIFY(run.clientGone);
    QVERIFY(run.answerer.boxes.isEmpty());
    QCOMPARE(run.host.info, Msg::interrupted);
}

void tst_DownloadEngine::fetchesAheadOverlapYetFileInListOrder()
{
    // a.jpg is answered only once b.jpg has been asked for: the two overlap, or a.jpg waits long.
    std::atomic<bool> overlapped { false };
    Run run;
    run.server.server().Get("/a.jpg", [&](const httplib::Request&, httplib::Response& r) {
        for (int i = 0; i < 10000 && !overlapped; ++i) {
            overlapped = run.server.requestCount(u"/b.jpg"_s) == 1;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        r.set_content(jpegBytes(100, 1).toStdString(), "image/jpeg");
    });
    run.serveJpeg("/b.jpg", jpegBytes(200, 2));
    run.server.start();
    run.add(u"/a.jpg"_s);
    run.add(u"/b.jpg"_s);

    QVERIFY(run.download());
    QVERIFY(overlapped);
    QCOMPARE(run.host.doneRows, (QStringList { u"a.jpg"_s, u"b.jpg"_s }));
    // b.jpg, fetched ahead, is decided at its turn with the texts of any fetch.
    QCOMPARE(run.host.infoHistory.sliced(run.host.infoHistory.size() - 4),
        (QStringList { u"b.jpgをダウンロード中..."_s, u"b.jpgをダウンロード中...(200Bytes完了)"_s,
            u"b.jpgをダウンロードしました"_s, QString() }));
}

void tst_DownloadEngine::aTransferMovesWhileAMessageBoxIsOpen()
{
    // More than the socket buffers hold: the server sends it all only if the program reads on.
    const QByteArray image = jpegBytes(24 * 1024 * 1024, 3);
    std::atomic<bool> sentAll { false };
    Run run;
    run.server.server().Get("/big.jpg", [&](const httplib::Request&, httplib::Response& r) {
        r.set_content_provider(
            size_t(image.size()), "image/jpeg",
            [&](size_t at, size_t length, httplib::DataSink& sink) {
                return sink.write(image.constData() + at, std::min<size_t>(length, 65536));
            },
            [&](bool success) { sentAll = success; });
    });
    run.server.start();
    run.add(u"/big.jpg"_s);
    // The Cancel question stays open until the whole body has gone out, then is answered No.
    run.host.onYield = [&](int) {
        if (run.answerer.boxes.isEmpty() && run.server.requestCount(u"/big.jpg"_s) == 1)
            showMessageBox({ Msg::cancelQuestion, MessageIcon::Question, MessageButtons::YesNo,
                MessageAnswer::No, Msg::titleCancelConfirm });
    };
    run.answerer.onBox = [&](const MessageBoxRequest& box) {
        if (box.title == Msg::titleCancelConfirm)
            QTRY_VERIFY_WITH_TIMEOUT(sentAll, 30000);
    };

    QVERIFY(run.download());
    QVERIFY(sentAll);
    QVERIFY(readFileBytes(run.folder() + u"big.jpg"_s) == image);
}

void tst_DownloadEngine::writeFailuresStopTheRun_data()
{
    // A folder taken away or made read-only in the middle of a run is the disk test's.
    QTest::addColumn<WriteFailure>("failure");
    QTest::addColumn<QString>("message");
    QTest::newRow("a disk that fills up part-way through an image")
        << WriteFailure::DiskFull << u"61:ディスクの空き容量が不足しています。"_s;
    QTest::newRow("a folder under the image's name")
        << WriteFailure::FolderUnderTheName << Msg::diskNotWritable;
}

void tst_DownloadEngine::writeFailuresStopTheRun()
{
    QFETCH(WriteFailure, failure);
    QFETCH(QString, message);
    Run run;
    run.serveJpeg("/first.jpg", jpegBytes(512, 13));
    run.serveJpeg("/second.jpg", jpegBytes(4096, 14));
    run.serveJpeg("/third.jpg", jpegBytes(512, 15));
    run.server.start();
    run.add(u"/first.jpg"_s);
    run.add(u"/second.jpg"_s);
    run.add(u"/third.jpg"_s);
    if (failure == WriteFailure::FolderUnderTheName)
        QVERIFY(QDir().mkpath(run.folder() + u"second.jpg"_s));
    bool finished = true;
    {
        std::optional<FileSizeLimit> limit;
        if (failure == WriteFailure::DiskFull)
            limit.emplace(1024);
        finished = run.download();
    }

    QVERIFY(!finished);
    QCOMPARE(run.answerer.boxes.size(), 1);
    QCOMPARE(run.answerer.last().title, Msg::titleError);
    QCOMPARE(run.answerer.last().icon, MessageIcon::Critical);
    QCOMPARE(run.answerer.last().text, message);
    QCOMPARE(run.host.caption, Msg::appName);
    QCOMPARE(run.host.info, Msg::cannotDownload);
    QVERIFY(run.host.isIdle());
    QCOMPARE(run.host.doneRows, QStringList { u"first.jpg"_s });
    // Nothing partly written is left, under the final name or any other.
    QStringList expected { u"first.jpg"_s };
    if (failure == WriteFailure::FolderUnderTheName)
        expected.append(u"second.jpg"_s);
    QCOMPARE(folderEntries(run.folder()), expected);
}

void tst_DownloadEngine::emptyListAndTheFileTest()
{
    Run run;
    QVERIFY(!run.download());
    QVERIFY(run.answerer.boxes.isEmpty() && run.host.captionHistory.isEmpty()
        && run.host.controlsHistory.isEmpty());

    const QString one = run.folder() + u"one.jpg"_s;
    QVERIFY(writeFileBytes(one, "x"));
    QVERIFY(!Is_NoFile(one));
    QVERIFY(Is_NoFile(run.folder() + u"missing.jpg"_s));
    QVERIFY(Is_NoFile(run.folder()));
    // A NUL would cut the name short on its way to the system and so name another file.
    QVERIFY(Is_NoFile(one + QChar(0) + u"x"_s));
}

QTEST_GUILESS_MAIN(tst_DownloadEngine)
#include "tst_downloadengine.moc"
