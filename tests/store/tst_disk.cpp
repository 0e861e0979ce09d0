// The disk under a run: full, its folder taken away, images refused for their size, the program
// killed in the middle of an image, and addresses that try to write elsewhere. Nothing partial ever
// stands under an image's final name, every failure shows the engine's own message, and nothing is
// written outside the folder of the run and the program's folder.
#include "page_analysis/linkextraction.h"
#include "platform/programfolder.h"
#include "resources/messages.h"
#include "store/downloadengine.h"
#include "store/downloadlist.h"
#include "support/fakehost.h"
#include "support/loopbackserver.h"
#include "support/messageanswerer.h"
#include "support/testfiles.h"
#include "web/fetcher.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <unistd.h>

#include <atomic>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

constexpr char childJob[] = "PIXHOUND_TEST_DOWNLOAD_JOB";
constexpr qsizetype megabyte = 1024 * 1024;

// Every file and folder under root, hidden ones too, by relative path, with a digest of its bytes.
QMap<QString, QByteArray> snapshot(const QString& root)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(root).relativeFilePath(path),
            QCryptographicHash::hash(readFileBytes(path), QCryptographicHash::Sha1).toHex());
    }
    return files;
}

// A tmpfs of the given size at path for the life of the object.
class SmallDisk
{
public:
    SmallDisk(const QString& path, qint64 bytes)
        : m_path(QFile::encodeName(path))
    {
        const QByteArray options = "size=" + QByteArray::number(bytes);
        m_mounted = ::mount("tmpfs", m_path.constData(), "tmpfs", 0, options.constData()) == 0;
        m_error = errno;
    }
    ~SmallDisk()
    {
        if (m_mounted)
            ::umount2(m_path.constData(), MNT_DETACH);
    }
    bool mounted() const { return m_mounted; }
    QString skipReason() const
    {
        return u"a small tmpfs cannot be mounted here ("_s
            + QString::fromLocal8Bit(strerror(m_error))
            + u"); the file-size limit in the other store tests stands in for a full disk"_s;
    }

private:
    QByteArray m_path;
    bool m_mounted = false;
    int m_error = 0;
};

} // namespace

class tst_Disk : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void imageWriteFailuresStopTheRunAndLeaveNothing_data();
    void imageWriteFailuresStopTheRunAndLeaveNothing();
    void fullDiskKeepsTheOldListAndSource_data();
    void fullDiskKeepsTheOldListAndSource();
    void refusedImagesAreNeverWritten_data();
    void refusedImagesAreNeverWritten();
    void killedMidImageLeavesNoPartialImage_data();
    void killedMidImageLeavesNoPartialImage();
    void nothingIsWrittenOutsideTheTwoFolders();

private:
    QString folder() const { return m_dir->path() + u"/run/"_s; }
    void add(const QString& path, const QString& fileName = QString())
    {
        m_host->state.udtDownload.append({ m_server->url(path),
            fileName.isNull() ? path.mid(path.lastIndexOf(u'/') + 1) : fileName });
    }

    std::optional<QTemporaryDir> m_dir;
    std::optional<LoopbackServer> m_server;
    std::optional<FakeHost> m_host;
    std::optional<MessageAnswerer> m_answerer;
};

void tst_Disk::init()
{
    m_dir.emplace();
    QVERIFY(QDir().mkpath(folder()));
    m_server.emplace();
    m_host.emplace();
    m_answerer.emplace();
}

void tst_Disk::cleanup()
{
    setProgramFolder(QString());
    m_answerer.reset();
    m_host.reset();
    m_server.reset();
    m_dir.reset();
}

void tst_Disk::imageWriteFailuresStopTheRunAndLeaveNothing_data()
{
    QTest::addColumn<bool>("diskFills"); // otherwise the folder is replaced by a file mid-run
    QTest::addColumn<QString>("message");
    QTest::newRow("a disk that fills up") << true << u"61:ディスクの空き容量が不足しています。"_s;
    QTest::newRow("the folder replaced by a file mid-run") << false << Msg::folderInvalid;
}

void tst_Disk::imageWriteFailuresStopTheRunAndLeaveNothing()
{
    QFETCH(bool, diskFills);
    QFETCH(QString, message);
    std::optional<SmallDisk> disk;
    if (diskFills && !disk.emplace(folder(), 256 * 1024).mounted())
        QSKIP(qPrintable(disk->skipReason()));
    m_server->serve("/1.jpg", jpegBytes(1000, 1), 200, "image/jpeg");
    m_server->serve("/2.jpg", jpegBytes(400 * 1024, 2), 200, "image/jpeg");
    m_server->serve("/3.jpg", jpegBytes(1000, 3), 200, "image/jpeg");
    m_server->start();
    for (const QString& path : { u"/1.jpg"_s, u"/2.jpg"_s, u"/3.jpg"_s })
        add(path);
    const QString asFile = folder().chopped(1);
    m_host->onYield = [&](int) {
        if (!diskFills && m_host->doneRows.size() == 1 && QFileInfo(folder()).isDir()) {
            QDir(folder()).removeRecursively();
            writeFileBytes(asFile, "in the folder's place");
        }
    };

    QVERIFY(!Download_ByInet(*m_host, folder()));
    QCOMPARE(m_answerer->boxes.size(), 1);
    QCOMPARE(m_answerer->last().title, Msg::titleError);
    QCOMPARE(m_answerer->last().text, message);
    QCOMPARE(m_host->info, Msg::cannotDownload);
    QVERIFY(m_host->isIdle());
    if (diskFills)
        QCOMPARE(folderEntries(folder()), QStringList { u"1.jpg"_s });
    else
        QCOMPARE(readFileBytes(asFile), QByteArray("in the folder's place"));
}

void tst_Disk::fullDiskKeepsTheOldListAndSource_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("a list that does not fit") << Msg::listFileName;
    QTest::newRow("a page source that does not fit") << Msg::sourceFileName;
}

void tst_Disk::fullDiskKeepsTheOldListAndSource()
{
    QFETCH(QString, file);
    SmallDisk disk(folder(), 256 * 1024);
    if (!disk.mounted())
        QSKIP(qPrintable(disk.skipReason()));
    setProgramFolder(folder());
    const QByteArray old = "old content\r\n";
    QVERIFY(writeFileBytes(folder() + file, old));
    m_server->serve("/p.htm", "<a href=\"a.jpg\">" + noiseBytes(400 * 1024, 4));
    m_server->start();
    m_host->typed = m_server->url(u"/p.htm"_s);

    if (file == Msg::listFileName) {
        for (int i = 0; i < 20000; ++i)
            m_host->state.udtDownload.append({ u"http://server/gallery/%1.jpg"_s.arg(i), {} });
        QVERIFY(!Write_DownloadList(*m_host));
    } else {
        // The list is made all the same; only the source is missing.
        QVERIFY(Make_PageList(*m_host, m_host->typed, hrefPattern));
        QCOMPARE(m_host->downloadRows, QStringList { u"a.jpg"_s });
    }
    QCOMPARE(m_answerer->boxes.size(), 1);
    QCOMPARE(m_answerer->last().text, u"61:ディスクの空き容量が不足しています。"_s);
    QVERIFY(m_host->infoHistory.contains(Msg::listCannotBeCreated));
    QCOMPARE(folderEntries(folder()), QStringList { file });
    QCOMPARE(readFileBytes(folder() + file), old);
}

void tst_Disk::refusedImagesAreNeverWritten_data()
{
    QTest::addColumn<qint64>("announced"); // -1: no length, an endless body
    QTest::addColumn<qint64>("cutAt"); // the connection drops once this much has gone out
    QTest::addColumn<QString>("status");
    QTest::newRow("an image that claims 300 MB is refused unread")
        << 300 * megabyte << 300 * megabyte << u"x.jpg"_s + Msg::imageTooLarge;
    QTest::newRow("an endless image is cut at 256 MB and refused")
        << qint64(-1) << imageBodyLimit + 10 * megabyte << u"x.jpg"_s + Msg::imageTooLarge;
    QTest::newRow("an image whose connection drops part-way is refused")
        << 5 * megabyte << megabyte << u"x.jpg"_s + Msg::imageIncomplete;
}

void tst_Disk::refusedImagesAreNeverWritten()
{
    QFETCH(qint64, announced);
    QFETCH(qint64, cutAt);
    QFETCH(QString, status);
    const QByteArray block = jpegBytes(megabyte, 4);
    m_server->server().Get("/x.jpg", [&](const httplib::Request&, httplib::Response& response) {
        const auto provide = [&](size_t offset, httplib::DataSink& sink) {
            const qint64 piece = qMin<qint64>(block.size(), cutAt - qint64(offset));
            return piece > 0 && sink.write(block.constData(), size_t(piece));
        };
        if (announced < 0)
            response.set_chunked_content_provider("image/jpeg", provide);
        else
            response.set_content_provider(size_t(announced), "image/jpeg",
                [provide](size_t offset, size_t, httplib::DataSink& sink) {
                    return provide(offset, sink);
                });
    });
    m_server->serve("/ok.jpg", block, 200, "image/jpeg");
    m_server->start();
    const auto stopServer = qScopeGuard([&] {
        m_host->state.connections.reset(); // the server need not wait for them to idle out
        m_server->stop();
    });
    add(u"/x.jpg"_s);
    add(u"/ok.jpg"_s);

    QVERIFY(Download_ByInet(*m_host, folder()));
    QCOMPARE(m_host->deniedRows, QStringList { u"x.jpg"_s });
    QCOMPARE(m_host->doneRows, QStringList { u"ok.jpg"_s });
    QCOMPARE(folderEntries(folder()), QStringList { u"ok.jpg"_s });
    // The refusal says why, and stays until the next entry's status replaces it.
    const qsizetype next = m_host->infoHistory.indexOf(u"ok.jpg"_s + Msg::downloading);
    QCOMPARE(m_host->infoHistory.value(next - 1), status);
}

void tst_Disk::killedMidImageLeavesNoPartialImage_data()
{
    QTest::addColumn<bool>("whileWriting"); // otherwise while the image arrives
    QTest::newRow("killed while the image arrives") << false;
    QTest::newRow("killed while the image is being written") << true;
}

void tst_Disk::killedMidImageLeavesNoPartialImage()
{
    QFETCH(bool, whileWriting);
    const QByteArray image = jpegBytes(128 * megabyte, 5);
    std::atomic<bool> halfSent { false };
    std::atomic<bool> release { whileWriting };
    m_server->server().Get("/big.jpg", [&](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(size_t(image.size()), "image/jpeg",
            [&](size_t offset, size_t length, httplib::DataSink& sink) {
                if (qsizetype(offset) >= image.size() / 2 && !release) {
                    halfSent = true;
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    return true;
                }
                return sink.write(image.constData() + offset, qMin<size_t>(length, megabyte));
            });
    });
    m_server->start();
    // The server's handlers use the locals above: they must be done before the locals go.
    const auto stopServer = qScopeGuard([&] {
        release = true;
        m_host->state.connections.reset(); // the server need not wait for them to idle out
        m_server->stop();
    });
    const int watch = ::inotify_init1(IN_CLOEXEC);
    QVERIFY(::inotify_add_watch(watch, QFile::encodeName(folder()).constData(), IN_CREATE) >= 0);

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(
        QString::fromLatin1(childJob), m_server->url(u"/big.jpg"_s) + u'\n' + folder());
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY(child.waitForStarted());
    if (whileWriting) {
        // The temporary file appears as the write begins; the kill follows at once.
        pollfd ready { watch, POLLIN, 0 };
        QVERIFY2(::poll(&ready, 1, 30000) == 1, "the child never began to write");
        ::kill(pid_t(child.processId()), SIGKILL);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(halfSent, 30000);
        child.kill();
    }
    QVERIFY(child.waitForFinished());
    ::close(watch);
    release = true;

    const QString final = folder() + u"big.jpg"_s;
    const QStringList left = folderEntries(folder());
    QVERIFY2(!left.contains(u"big.jpg"_s) || readFileBytes(final) == image,
        "a partial image stands under the final name");
    if (!whileWriting)
        QCOMPARE(left, QStringList());
    qInfo() << "left in the folder after the kill:" << left;

    // The next run finds no image under the name and fetches it again; it sweeps what the killed
    // write left, but not the temporary file of a writer still running.
    const QString running = u".pixhound-"_s + QString::number(::getpid()) + u"-0.part"_s;
    QVERIFY(writeFileBytes(folder() + running, "x"));
    add(u"/big.jpg"_s);
    QVERIFY(Download_ByInet(*m_host, folder()));
    QCOMPARE(readFileBytes(final), image);
    QCOMPARE(folderEntries(folder()), (QStringList { running, u"big.jpg"_s }));
}

void tst_Disk::nothingIsWrittenOutsideTheTwoFolders()
{
    const QString root = m_dir->path() + u'/';
    QVERIFY(QDir().mkpath(root + u"prog"_s));
    setProgramFolder(root + u"prog/"_s);
    QVERIFY(writeFileBytes(root + u"victim.jpg"_s, "keep me"));
    QVERIFY(writeFileBytes(root + u"prog/victim.jpg"_s, "keep me too"));
    const QStringList names { u"..jpg"_s, u"...jpg"_s, u"%2e%2e%2fvictim.jpg"_s,
        u"..%2F..%2Fvictim.jpg"_s, u"..\\..\\victim.jpg"_s, u"a\\..\\..\\prog\\victim.jpg"_s,
        QString(251, u'n') + u".jpg"_s };
    QByteArray page;
    for (const QString& name : names)
        page += "<a href=\"" + name.toUtf8() + "\">";
    page += "<a href=\"" + QString(100, u'長').toUtf8() + ".jpg\">";
    m_server->serve("/p/index.htm", page);
    m_server->server().Get("/p/.*", [](const httplib::Request&, httplib::Response& response) {
        response.set_content(jpegBytes(100, 6).toStdString(), "image/jpeg");
    });
    m_server->start();
    const QMap<QString, QByteArray> before = snapshot(root);
    m_host->typed = m_server->url(u"/p/index.htm"_s);

    QVERIFY(Make_PageList(*m_host, m_host->typed, hrefPattern));
    QVERIFY(Write_DownloadList(*m_host));
    QVERIFY(Download_ByInet(*m_host, folder()));

    // Every name but the one the file system cannot hold is written, each inside the folder; that
    // one is refused and the run goes on.
    QCOMPARE(m_host->doneRows, names);
    QCOMPARE(m_host->deniedRows, QStringList { QString(100, u'長') + u".jpg"_s });
    QMap<QString, QByteArray> expected = before;
    expected.insert(u"prog/"_s + Msg::listFileName, {});
    expected.insert(u"prog/"_s + Msg::sourceFileName, {});
    for (const QString& name : names)
        expected.insert(u"run/"_s + name, {});
    const QMap<QString, QByteArray> after = snapshot(root);
    QCOMPARE(after.keys(), expected.keys());
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        QCOMPARE(after.value(it.key()), it.value());
}

// Started by killedMidImageLeavesNoPartialImage: downloads one image into a folder, in a process
// of its own that the test kills on the way.
int downloadAsChild(int argc, char** argv, const QByteArray& job)
{
    QCoreApplication app(argc, argv);
    const QList<QByteArray> parts = job.split('\n');
    FakeHost host;
    MessageAnswerer answerer;
    host.state.udtDownload = { { QString::fromUtf8(parts.value(0)), u"big.jpg"_s } };
    return Download_ByInet(host, QString::fromUtf8(parts.value(1))) ? 0 : 1;
}

int main(int argc, char** argv)
{
    if (const QByteArray job = qgetenv(childJob); !job.isEmpty())
        return downloadAsChild(argc, argv, job);
    QCoreApplication app(argc, argv);
    tst_Disk test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_disk.moc"
