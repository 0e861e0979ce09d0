// The download loop against a real HTTP server on 127.0.0.1: what is written, where each row is
// filed, what the window shows, and how Skip, Cancel and write failures end an entry or the run.
#include "resources/messages.h"
#include "store/downloadengine.h"
#include "support/fakehost.h"
#include "support/loopbackserver.h"
#include "support/messageanswerer.h"
#include "writeblockers.h"

#include <QDir>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

QByteArray jpeg(qsizetype size, quint32 seed)
{
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (char& byte : data)
        byte = char(generator.bounded(256));
    return data.replace(0, 2, "\xFF\xD8");
}

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

QStringList entriesOf(const QString& folder)
{
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

class tst_DownloadEngine : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void imagesAreWrittenWholeAndTheRunCompletes();
    void answersThatAreNoWholeJpegAreRefused_data();
    void answersThatAreNoWholeJpegAreRefused();
    void filesWithContentAreNotFetchedAgain();
    void skipDuringAndBeforeAFetch();
    void cancelDuringAFetchWritesNothing();
    void writeFailuresStopTheRun_data();
    void writeFailuresStopTheRun();
    void namesThatWouldLeaveTheFolderAreRefused();
    void localTests();

private:
    void serveJpeg(const std::string& path, const QByteArray& body)
    {
        m_server->serve(path, body, 200, "image/jpeg");
    }
    // The response at path waits until the test opens the gate, so that a button can be pressed
    // while the fetch is under way.
    void serveGated(const std::string& path, const QByteArray& body);
    void addEntry(const QString& path, const QString& fileName = QString());
    QString folder() const { return m_dir->path() + u"/run/"_s; }

    std::optional<QTemporaryDir> m_dir;
    std::optional<LoopbackServer> m_server;
    std::optional<FakeHost> m_host;
    std::optional<MessageAnswerer> m_answerer;
    std::atomic<bool> m_gateOpen { false };
};

void tst_DownloadEngine::init()
{
    m_dir.emplace();
    QVERIFY(QDir().mkpath(folder()));
    m_server.emplace();
    m_host.emplace();
    m_answerer.emplace();
    m_gateOpen = false;
}

void tst_DownloadEngine::cleanup()
{
    m_gateOpen = true;
    m_answerer.reset();
    m_host.reset();
    m_server.reset();
    Unprivileged::setMode(folder(), true);
    m_dir.reset();
}

void tst_DownloadEngine::serveGated(const std::string& path, const QByteArray& body)
{
    m_server->server().Get(
        path, [this, body](const httplib::Request&, httplib::Response& response) {
            for (int i = 0; i < 10000 && !m_gateOpen; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            response.set_content(body.toStdString(), "image/jpeg");
        });
}

void tst_DownloadEngine::addEntry(const QString& path, const QString& fileName)
{
    m_host->state.udtDownload.append({ m_server->url(path),
        fileName.isNull() ? path.mid(path.lastIndexOf(u'/') + 1) : fileName });
}

void tst_DownloadEngine::imagesAreWrittenWholeAndTheRunCompletes()
{
    const QList<QByteArray> images { jpeg(10, 1), jpeg(3 * 1024 * 1024 + 7, 2),
        jpeg(100 * 1024, 3) };
    serveJpeg("/img/a.jpg", images[0]);
    serveJpeg("/img/b.jpg", images[1]);
    serveJpeg("/c.jpeg", images[2]);
    m_server->start();
    addEntry(u"/img/a.jpg"_s);
    addEntry(u"/img/b.jpg"_s);
    addEntry(u"/c.jpeg"_s);
    // The box comes after the captions and before the window goes idle.
    QStringList atBox;
    m_answerer->onBox = [&](const MessageBoxRequest&) {
        atBox = { m_host->caption, m_host->fileCounter, m_host->isIdle() ? u"idle"_s : u"busy"_s };
    };

    QVERIFY(Download_ByInet(*m_host, folder()));
    const QStringList names { u"a.jpg"_s, u"b.jpg"_s, u"c.jpeg"_s };
    QCOMPARE(entriesOf(folder()), names);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(readAll(folder() + names[i]), images[i]);
    QCOMPARE(m_host->doneRows, names);
    QCOMPARE(m_host->selectedDone, 2);
    QVERIFY(m_host->infoHistory.contains(u"b.jpgをダウンロード中..."_s));
    QVERIFY(m_host->infoHistory.contains(u"b.jpgをダウンロードしました"_s));
    QCOMPARE(m_host->fileCounterHistory,
        (QStringList { u"0/3Files"_s, u"1/3Files"_s, u"2/3Files"_s, u"3/3Files"_s }));
    QCOMPARE(m_host->captionHistory,
        (QStringList {
            u"1/3 - Pixhound"_s, u"2/3 - Pixhound"_s, u"3/3 - Pixhound"_s, Msg::captionDone }));
    QCOMPARE(m_answerer->boxes.size(), 1);
    QCOMPARE(m_answerer->last().title, Msg::titleDownloadComplete);
    QCOMPARE(m_answerer->last().text, Msg::downloadComplete);
    QCOMPARE(m_answerer->last().icon, MessageIcon::Information);
    QCOMPARE(atBox, (QStringList { Msg::captionDone, u"3/3Files"_s, u"busy"_s }));
    QCOMPARE(m_host->activations, 1);
    QCOMPARE(m_host->info, QString());
    QVERIFY(m_host->isIdle());
}

void tst_DownloadEngine::answersThatAreNoWholeJpegAreRefused_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::newRow("an HTML error page") << QByteArray("<html><body>Not Found</body></html>") << 404;
    QTest::newRow("an empty answer") << QByteArray() << 200;
    QTest::newRow("a single FF byte") << QByteArray("\xFF") << 200;
    QTest::newRow("a connection dropped in the middle of a jpeg") << jpeg(100000, 5) << 0;
}

void tst_DownloadEngine::answersThatAreNoWholeJpegAreRefused()
{
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    if (status == 0) {
        // Announces twice the bytes it sends, then closes the connection.
        const std::string half = body.toStdString();
        m_server->server().Get(
            "/x.jpg", [half](const httplib::Request&, httplib::Response& response) {
                response.set_content_provider(half.size() * 2, "image/jpeg",
                    [half](size_t offset, size_t, httplib::DataSink& sink) {
                        return offset == 0 && sink.write(half.data(), half.size());
                    });
            });
    } else {
        m_server->serve("/x.jpg", body, status);
    }
    serveJpeg("/ok.jpg", jpeg(64, 6));
    m_server->start();
    addEntry(u"/x.jpg"_s);
    addEntry(u"/ok.jpg"_s);

    QVERIFY(Download_ByInet(*m_host, folder()));
    QCOMPARE(m_host->deniedRows, QStringList { u"x.jpg"_s });
    QCOMPARE(m_host->selectedDenied, 0);
    QCOMPARE(m_host->doneRows, QStringList { u"ok.jpg"_s });
    QCOMPARE(entriesOf(folder()), QStringList { u"ok.jpg"_s });
    // The refused file leaves the fetch's last progress text on the status line.
    const qsizetype next = m_host->infoHistory.indexOf(u"ok.jpgをダウンロード中..."_s);
    QVERIFY(m_host->infoHistory.at(next - 1).startsWith(u"x.jpgをダウンロード中...("_s));
}

void tst_DownloadEngine::filesWithContentAreNotFetchedAgain()
{
    for (const char* path : { "/have.jpg", "/empty.jpg", "/d1/twice.jpg", "/d2/twice.jpg" })
        serveJpeg(path, jpeg(256, 7));
    m_server->start();
    writeBytes(folder() + u"have.jpg"_s, "not even a jpeg");
    writeBytes(folder() + u"empty.jpg"_s, QByteArray());
    for (const QString& path :
        { u"/have.jpg"_s, u"/empty.jpg"_s, u"/d1/twice.jpg"_s, u"/d2/twice.jpg"_s })
        addEntry(path);

    QVERIFY(Download_ByInet(*m_host, folder()));
    QCOMPARE(m_host->alreadyRows, (QStringList { u"have.jpg"_s, u"twice.jpg"_s }));
    QCOMPARE(m_host->selectedAlready, 1);
    QCOMPARE(m_host->doneRows, (QStringList { u"empty.jpg"_s, u"twice.jpg"_s }));
    QCOMPARE(m_server->requests().size(), 2);
    QCOMPARE(m_server->requestCount(u"/d1/twice.jpg"_s), 1);
    QCOMPARE(readAll(folder() + u"have.jpg"_s), QByteArray("not even a jpeg"));
    QCOMPARE(readAll(folder() + u"empty.jpg"_s), jpeg(256, 7));
    QCOMPARE(m_host->fileCounter, u"4/4Files"_s);
}

void tst_DownloadEngine::skipDuringAndBeforeAFetch()
{
    for (const char* path : { "/a.jpg", "/b.jpg", "/c.jpg" })
        serveJpeg(path, jpeg(512, 8));
    serveGated("/slow.jpg", jpeg(2048, 9));
    m_server->start();
    for (const QString& path : { u"/a.jpg"_s, u"/slow.jpg"_s, u"/b.jpg"_s, u"/c.jpg"_s })
        addEntry(path);
    // Skip while slow.jpg is under way, then again in the yield that starts b.jpg (the first one
    // after slow.jpg was filed).
    int presses = 0;
    m_host->onYield = [&](int) {
        const bool duringSlow = presses == 0 && m_server->requestCount(u"/slow.jpg"_s) == 1;
        const bool beforeB = presses == 1 && m_host->deniedRows.size() == 1;
        if (duringSlow || beforeB) {
            ++presses;
            m_host->state.blnSkip = true;
            m_host->setCaption(Msg::appName);
            m_gateOpen = true;
        }
    };

    QVERIFY(Download_ByInet(*m_host, folder()));
    QCOMPARE(presses, 2);
    QCOMPARE(m_host->deniedRows, (QStringList { u"slow.jpg"_s, u"b.jpg"_s }));
    QCOMPARE(m_host->selectedDenied, -1);
    QVERIFY(m_host->infoHistory.contains(u"slow.jpgをスキップしました"_s));
    QVERIFY(m_host->infoHistory.contains(u"b.jpgをスキップしました"_s));
    QCOMPARE(m_server->requestCount(u"/b.jpg"_s), 0);
    QCOMPARE(m_host->doneRows, (QStringList { u"a.jpg"_s, u"c.jpg"_s }));
    QCOMPARE(entriesOf(folder()), (QStringList { u"a.jpg"_s, u"c.jpg"_s }));
    QVERIFY(m_host->captionHistory.contains(u"4/4 - Pixhound"_s));
}

void tst_DownloadEngine::cancelDuringAFetchWritesNothing()
{
    serveGated("/big.jpg", jpeg(1024 * 1024, 11));
    serveJpeg("/after.jpg", jpeg(512, 12));
    m_server->start();
    addEntry(u"/big.jpg"_s);
    addEntry(u"/after.jpg"_s);
    m_host->onYield = [&](int) {
        if (!m_host->state.blnCancel && m_server->requestCount(u"/big.jpg"_s) == 1) {
            m_host->pressCancel();
            m_gateOpen = true;
        }
    };

    QVERIFY(!Download_ByInet(*m_host, folder()));
    QVERIFY(m_host->state.blnCancel);
    QCOMPARE(entriesOf(folder()), QStringList {});
    QVERIFY(m_host->doneRows.isEmpty() && m_host->deniedRows.isEmpty());
    QCOMPARE(m_server->requestCount(u"/after.jpg"_s), 0);
    QVERIFY(m_answerer->boxes.isEmpty());
    QCOMPARE(m_host->info, Msg::interrupted);
}

enum class WriteFailure {
    FolderRemoved,
    ReadOnlyFolder,
    DiskFull,
    NameTooLong,
    FolderUnderTheName
};

void tst_DownloadEngine::writeFailuresStopTheRun_data()
{
    QTest::addColumn<WriteFailure>("failure");
    QTest::addColumn<QString>("message");
    QTest::newRow("the folder removed mid-run")
        << WriteFailure::FolderRemoved << Msg::folderInvalid;
    QTest::newRow("a read-only folder") << WriteFailure::ReadOnlyFolder << Msg::diskNotWritable;
    QTest::newRow("a disk that fills up part-way through an image")
        << WriteFailure::DiskFull << u"61:ディスクの空き容量が不足しています。"_s;
    QTest::newRow("a name longer than the file system takes")
        << WriteFailure::NameTooLong << u"52:ファイル名または番号が不正です。"_s;
    QTest::newRow("a folder under the image's name")
        << WriteFailure::FolderUnderTheName << Msg::diskNotWritable;
}

void tst_DownloadEngine::writeFailuresStopTheRun()
{
    QFETCH(WriteFailure, failure);
    QFETCH(QString, message);
    serveJpeg("/first.jpg", jpeg(512, 13));
    serveJpeg("/second.jpg", jpeg(4096, 14));
    serveJpeg("/third.jpg", jpeg(512, 15));
    m_server->start();
    addEntry(u"/first.jpg"_s);
    addEntry(u"/second.jpg"_s,
        failure == WriteFailure::NameTooLong ? QString(250, u'長') + u".jpg"_s : QString());
    addEntry(u"/third.jpg"_s);
    if (failure == WriteFailure::FolderRemoved) {
        m_host->onYield = [&](int) {
            if (m_host->doneRows.size() == 1)
                QDir(folder()).removeRecursively();
        };
    }
    if (failure == WriteFailure::FolderUnderTheName)
        QVERIFY(QDir().mkpath(folder() + u"second.jpg"_s));

    bool finished = true;
    {
        std::optional<Unprivileged> user;
        std::optional<FileSizeLimit> limit;
        if (failure == WriteFailure::DiskFull)
            limit.emplace(1024);
        if (failure == WriteFailure::ReadOnlyFolder) {
            writeBytes(folder() + u"first.jpg"_s, "present");
            Unprivileged::setMode(m_dir->path(), true);
            Unprivileged::setMode(folder(), false);
            user.emplace();
            if (!user->active())
                QSKIP("permissions cannot be made to apply here");
        }
        finished = Download_ByInet(*m_host, folder());
    }
    QVERIFY(!finished);
    QCOMPARE(m_answerer->boxes.size(), 1);
    QCOMPARE(m_answerer->last().title, Msg::titleError);
    QCOMPARE(m_answerer->last().icon, MessageIcon::Critical);
    QCOMPARE(m_answerer->last().text, message);
    QCOMPARE(m_host->caption, Msg::appName);
    QCOMPARE(m_host->info, Msg::cannotDownload);
    QVERIFY(m_host->isIdle());
    QCOMPARE(m_server->requestCount(u"/second.jpg"_s), 1);
    QCOMPARE(m_server->requestCount(u"/third.jpg"_s), 0);
    QCOMPARE(m_host->doneRows.size() + m_host->alreadyRows.size(), 1);
    // Nothing partly written is left, under the final name or any other.
    if (failure != WriteFailure::FolderRemoved) {
        QStringList expected { u"first.jpg"_s };
        if (failure == WriteFailure::FolderUnderTheName)
            expected.append(u"second.jpg"_s);
        QCOMPARE(entriesOf(folder()), expected);
    }
}

void tst_DownloadEngine::namesThatWouldLeaveTheFolderAreRefused()
{
    m_server->server().Get(".*", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(jpeg(300, 16).toStdString(), "image/jpeg");
    });
    m_server->start();
    addEntry(u"/a/.."_s);
    addEntry(u"/dir/"_s);
    addEntry(u"/b/."_s);
    addEntry(u"/c/escape.jpg"_s, u"../escape.jpg"_s);
    addEntry(u"/fine.jpg"_s);

    QVERIFY(Download_ByInet(*m_host, folder()));
    QCOMPARE(m_host->deniedRows, (QStringList { u".."_s, QString(), u"."_s, u"../escape.jpg"_s }));
    QCOMPARE(m_host->doneRows, QStringList { u"fine.jpg"_s });
    QCOMPARE(m_server->requests().size(), 1);
    QCOMPARE(entriesOf(m_dir->path()), QStringList { u"run"_s });
    QCOMPARE(entriesOf(folder()), QStringList { u"fine.jpg"_s });
}

void tst_DownloadEngine::localTests()
{
    QVERIFY(!Download_ByInet(*m_host, folder()));
    QVERIFY(m_answerer->boxes.isEmpty() && m_host->captionHistory.isEmpty()
        && m_host->controlsHistory.isEmpty());

    writeBytes(folder() + u"one.jpg"_s, "x");
    writeBytes(folder() + u"empty.jpg"_s, QByteArray());
    QVERIFY(QDir().mkpath(folder() + u"dir.jpg"_s));
    QVERIFY(Is_NoFile(folder() + u"missing.jpg"_s));
    QVERIFY(Is_NoFile(folder() + u"empty.jpg"_s));
    QVERIFY(Is_NoFile(folder() + u"dir.jpg"_s));
    QVERIFY(!Is_NoFile(folder() + u"one.jpg"_s));
    // A NUL would cut the name short on its way to the system and so name another file.
    QVERIFY(Is_NoFile(folder() + u"one.jpg"_s + QChar(0) + u"x"_s));

    QVERIFY(!Is_JpegData(QByteArray()));
    QVERIFY(!Is_JpegData(QByteArray("\xFF")));
    QVERIFY(!Is_JpegData(QByteArray("\xD8\xFF")));
    QVERIFY(Is_JpegData(QByteArray("\xFF\xD8")));
}

QTEST_GUILESS_MAIN(tst_DownloadEngine)
#include "tst_downloadengine.moc"
