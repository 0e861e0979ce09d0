// The download loop against a scripted server on 127.0.0.1: what is written, where each row is
// filed, how Skip, Cancel and write failures end an entry or the run, the program killed in the
// middle of an image, and addresses that try to write outside the folder of the run.
#include "resources/messages.h"
#include "store/downloadengine.h"
#include "support/fakehost.h"
#include "support/loopbackserver.h"
#include "support/messageanswerer.h"
#include "support/testfiles.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <optional>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using Conversation = LoopbackServer::Conversation;

namespace {

constexpr char childJob[] = "PIXHOUND_TEST_DOWNLOAD_JOB";

// A small image, or one of 24 MB, more than the socket buffers hold, at "/big...".
QByteArray imageAt(const QString& path)
{
    return jpegBytes(path.startsWith(u"/big") ? 24 << 20 : 512, qHash(path));
}

// One download run: the folder it fills, the server, the window and its message boxes. Entries
// are paths on the server, each answering imageAt(path) unless told otherwise; "path>name" gives
// the entry another file name.
struct Run
{
    Run() { QDir().mkpath(folder()); }
    QString folder() const { return dir.path() + u"/run/"_s; }
    void add(const QString& entry)
    {
        const QString path = entry.section(u'>', 0, 0);
        const QString name
            = entry.contains(u'>') ? entry.section(u'>', 1) : path.mid(path.lastIndexOf(u'/') + 1);
        server.serve(path, imageAt(path));
        host.state.udtDownload.append({ server.url(path), name });
        if (!pathOf.contains(name))
            pathOf.insert(name, path);
    }
    QMap<QString, QString> pathOf; // the first entry's path of each file name

    QTemporaryDir dir;
    LoopbackServer server;
    FakeHost host; // its connections close before the server stops
    MessageAnswerer answerer;
};

enum class Event {
    None,
    Skip, // while the answer given trickles in, and again in the yield after the first refusal
    Cancel, // while the answer given trickles in
    Overlap, // the held answer is released once the next entry is asked for
    Box, // a box stays open until the whole answer given has gone out, then is answered No
    DiskFull, // writes past 1 KB fail
};

// Lists are written "a|b|c"; an empty text is the empty list; a request ending in "?" may be
// made ahead or not. The run is finished exactly when the completion box is the box shown.
struct Scenario
{
    QString entries, done, already, denied, requested, box;
    Event event = Event::None;
    QMap<QString, QByteArray> existing; // in the folder before the run; "<dir>": a folder
    QMap<QString, Conversation> answers; // instead of the image
};

QStringList items(const QString& list) { return list.isEmpty() ? QStringList() : list.split(u'|'); }

} // namespace

Q_DECLARE_METATYPE(Scenario)

class tst_DownloadEngine : public QObject
{
    Q_OBJECT
private slots:
    void runs_data();
    void runs();
    void killedWhileWritingLeavesNoPartialImage();
};

void tst_DownloadEngine::runs_data()
{
    QTest::addColumn<Scenario>("s");
    const auto row = [](const char* name, const QByteArray& entries, const QByteArray& done,
                         const QByteArray& already, const QByteArray& denied,
                         const QByteArray& requested, const QString& box = Msg::downloadComplete,
                         Event event = Event::None, const QMap<QString, QByteArray>& existing = {},
                         const QMap<QString, Conversation>& answers = {}) {
        QTest::newRow(name) << Scenario { QString::fromUtf8(entries), QString::fromUtf8(done),
            QString::fromUtf8(already), QString::fromUtf8(denied), QString::fromUtf8(requested),
            box, event, existing, answers };
    };
    const QByteArray megabyte = jpegBytes(1 << 20, 4);
    const Conversation trickle { { LoopbackServer::head(200, "Content-Length: 1048576") },
        { megabyte.first(64), 2, 16384 } };
    const auto endless = [&](const QByteArray& length) {
        return Conversation { { LoopbackServer::head(200, "Content-Length: " + length) },
            { megabyte, 0, -1 } };
    };
    row("answers that are no JPEG are refused", "/404.jpg|/empty.jpg|/ff.jpg|/d8ff.jpg|/ok.jpg",
        "ok.jpg", "", "404.jpg|empty.jpg|ff.jpg|d8ff.jpg",
        "/404.jpg|/empty.jpg|/ff.jpg|/d8ff.jpg|/ok.jpg", Msg::downloadComplete, Event::None, {},
        { { u"/404.jpg"_s, LoopbackServer::reply("404", 404) },
            { u"/empty.jpg"_s, LoopbackServer::reply({}) },
            { u"/ff.jpg"_s, LoopbackServer::reply("\xFF") },
            { u"/d8ff.jpg"_s, LoopbackServer::reply("\xD8\xFF") } });
    // A file with content is never fetched again, even one this run has just written; names that
    // would leave the folder or that no file system holds are refused unfetched; have.jpg and
    // d2/twice.jpg come up while empty.jpg is fetched: neither is fetched ahead.
    const QByteArray tooLong = QString(250, u'長').toUtf8() + ".jpg";
    row("entries are filed before any fetch by their name and the disk",
        "/empty.jpg|/have.jpg|/d1/twice.jpg|/d2/twice.jpg|/a/..|/dir/|/b/.|/c/e.jpg>../e.jpg|/"
        "l.jpg>"
            + tooLong,
        "empty.jpg|twice.jpg", "have.jpg|twice.jpg", "..||.|../e.jpg|" + tooLong,
        "/empty.jpg|/d1/twice.jpg", Msg::downloadComplete, Event::None,
        { { u"have.jpg"_s, "not even a jpeg" }, { u"empty.jpg"_s, "" } });
    row("Skip refuses the entry under way and the next one before its fetch",
        "/a.jpg|/slow.jpg|/b.jpg|/c.jpg", "a.jpg|c.jpg", "", "slow.jpg|b.jpg",
        "/a.jpg|/slow.jpg|/b.jpg?|/c.jpg", Msg::downloadComplete, Event::Skip, {},
        { { u"/slow.jpg"_s, trickle } });
    row("Cancel during a fetch writes nothing and ends the run", "/big.jpg|/after.jpg", "", "", "",
        "/big.jpg|/after.jpg?", {}, Event::Cancel, {}, { { u"/big.jpg"_s, trickle } });
    row("the next entries are fetched ahead, yet filed in list order", "/a.jpg|/b.jpg",
        "a.jpg|b.jpg", "", "", "/a.jpg|/b.jpg", Msg::downloadComplete, Event::Overlap, {},
        { { u"/a.jpg"_s, LoopbackServer::reply(imageAt(u"/a.jpg"_s), 200, {}, true) } });
    row("an image that claims 300 MB is refused unread", "/x.jpg|/ok.jpg", "ok.jpg", "", "x.jpg",
        "/x.jpg|/ok.jpg", Msg::downloadComplete, Event::None, {},
        { { u"/x.jpg"_s, endless("314572800") } });
    // A write failure stops the run; nothing partly written is left, under any name.
    const char* three = "/first.jpg|/second.jpg|/third.jpg";
    row("a disk that fills up part-way through an image", three, "first.jpg", "", "",
        "/first.jpg|/second.jpg|/third.jpg?", u"61:ディスクの空き容量が不足しています。"_s,
        Event::DiskFull, {}, { { u"/second.jpg"_s, LoopbackServer::reply(jpegBytes(4096)) } });
    row("names that look like a climb are written inside the folder",
        "/1.jpg>..jpg|/2.jpg>%2e%2e%2fv.jpg|/3.jpg>..%2F..%2Fv.jpg|/4.jpg>..\\..\\v.jpg|/"
        "5.jpg>a\\..\\..\\v.jpg",
        "..jpg|%2e%2e%2fv.jpg|..%2F..%2Fv.jpg|..\\..\\v.jpg|a\\..\\..\\v.jpg", "", "",
        "/1.jpg|/2.jpg|/3.jpg|/4.jpg|/5.jpg");
    row("a folder under the image's name", three, "first.jpg", "", "",
        "/first.jpg|/second.jpg|/third.jpg?", Msg::diskNotWritable, Event::None,
        { { u"second.jpg"_s, "<dir>" } });
    row("a transfer moves on while a box is open", "/big.jpg", "big.jpg", "", "", "/big.jpg",
        Msg::downloadComplete, Event::Box, {},
        { { u"/big.jpg"_s, LoopbackServer::reply(imageAt(u"/big.jpg"_s)) } });
    row("an empty list does nothing", "", "", "", "", "", {});
}

void tst_DownloadEngine::runs()
{
    QFETCH(Scenario, s);
    Run run;
    for (auto it = s.existing.cbegin(); it != s.existing.cend(); ++it)
        QVERIFY(it.value() == "<dir>" ? QDir().mkdir(run.folder() + it.key())
                                      : writeFileBytes(run.folder() + it.key(), it.value()));
    for (const QString& entry : items(s.entries))
        run.add(entry);
    for (auto it = s.answers.cbegin(); it != s.answers.cend(); ++it)
        run.server.answer(it.key(), it.value());
    FakeHost& host = run.host;
    // The entry whose answer is given, while it is the one under way and has been asked for.
    const QString slow = s.answers.isEmpty() ? QString() : s.answers.firstKey();
    const auto slowUnderWay = [&] {
        return host.selectedDownloadRow == items(s.entries).indexOf(slow)
            && run.server.requestCount(slow) == 1;
    };
    int presses = 0;
    qsizetype requestsAtCancel = -1;
    QElapsedTimer clock;
    clock.start();
    host.onYield = [&](int) {
        if (s.event == Event::Cancel && presses == 0 && slowUnderWay()) {
            ++presses;
            host.pressCancel();
            requestsAtCancel = run.server.requests().size();
        } else if (s.event == Event::Skip
            && ((presses == 0 && slowUnderWay()) || (presses == 1 && host.rows[2].size() == 1))) {
            ++presses;
            host.state.blnSkip = true;
        } else if (s.event == Event::Overlap && presses == 0
            && (run.server.requestCount(items(s.entries).value(1)) == 1
                || clock.elapsed() > 10000)) {
            presses = run.server.requestCount(items(s.entries).value(1)) == 1 ? 1 : -1;
            run.server.release();
        } else if (s.event == Event::Box && run.answerer.boxes.isEmpty()
            && run.server.requestCount(slow) == 1) {
            showMessageBox({ Msg::cancelQuestion, MessageIcon::Question, MessageButtons::YesNo,
                MessageAnswer::No, Msg::titleCancelConfirm });
        }
    };
    // A transfer moves on while the box is open: the server sends all of a big image only if the
    // program reads on.
    run.answerer.onBox = [&](const MessageBoxRequest&) {
        if (s.event == Event::Box)
            QTRY_VERIFY_WITH_TIMEOUT(run.server.bytesSent() > (24 << 20), 30000);
    };
    bool finished = false;
    {
        std::optional<FileSizeLimit> limit;
        if (s.event == Event::DiskFull)
            limit.emplace(1024);
        finished = Download_ByInet(host, run.folder());
    }

    QCOMPARE(finished, s.box == Msg::downloadComplete);
    QCOMPARE(host.rows[int(ResultList::Done)], items(s.done));
    QCOMPARE(host.rows[int(ResultList::Already)], items(s.already));
    QCOMPARE(host.rows[int(ResultList::Denied)], items(s.denied));
    QStringList files = items(s.done) + s.existing.keys();
    files.sort();
    files.removeDuplicates();
    QCOMPARE(folderEntries(run.folder()), files);
    QCOMPARE(folderEntries(run.dir.path()), QStringList { u"run"_s }); // nothing beside the folder
    for (const QString& name : files) { // each image whole, each file found there left alone
        const bool fetched = items(s.done).contains(name);
        if (fetched || s.existing.value(name) != "<dir>")
            QCOMPARE(readFileBytes(run.folder() + name),
                fetched ? imageAt(run.pathOf.value(name)) : s.existing.value(name));
    }
    QStringList requested, expected;
    for (const RecordedRequest& request : run.server.requests())
        requested.append(request.path);
    for (const QString& path : items(s.requested)) {
        if (!path.endsWith(u'?') || requested.contains(path.chopped(1)))
            expected.append(path.endsWith(u'?') ? path.chopped(1) : path);
    }
    requested.sort();
    expected.sort();
    QCOMPARE(requested, expected);
    if (s.event == Event::Cancel) // nothing more is asked for after Cancel
        QCOMPARE(run.server.requests().size(), requestsAtCancel);
    if (s.event == Event::Skip || s.event == Event::Cancel) // given up at once, not run to its end
        QTRY_VERIFY(run.server.clientLeft());
    if (s.event == Event::Overlap)
        QCOMPARE(presses, 1);
    QCOMPARE(run.answerer.boxes.size(), (s.box.isEmpty() ? 0 : 1) + (s.event == Event::Box));
    if (!s.box.isEmpty())
        QCOMPARE(run.answerer.last().text, s.box);
    if (!s.entries.isEmpty())
        QVERIFY(host.isIdle());
    if (s.event == Event::Cancel)
        QCOMPARE(host.info, Msg::interrupted);
}

void tst_DownloadEngine::killedWhileWritingLeavesNoPartialImage()
{
    Run run;
    const QByteArray image = jpegBytes(128 << 20, 5);
    run.server.serve(u"/big.jpg"_s, image);
    const int watch = ::inotify_init1(IN_CLOEXEC);
    QVERIFY(
        ::inotify_add_watch(watch, QFile::encodeName(run.folder()).constData(), IN_CREATE) >= 0);

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(
        QString::fromLatin1(childJob), run.server.url(u"/big.jpg"_s) + u'\n' + run.folder());
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY(child.waitForStarted());
    // The temporary file appears as the write begins; the kill follows at once.
    pollfd ready { watch, POLLIN, 0 };
    QVERIFY2(::poll(&ready, 1, 30000) == 1, "the child never began to write");
    ::kill(pid_t(child.processId()), SIGKILL);
    QVERIFY(child.waitForFinished());
    ::close(watch);

    QVERIFY2(!folderEntries(run.folder()).contains(u"big.jpg"_s)
            || readFileBytes(run.folder() + u"big.jpg"_s) == image,
        "a partial image stands under the final name");
    // The next run finds no image under the name and fetches it again; it sweeps what the killed
    // write left, but not the temporary file of a writer still running.
    const QString running = u".pixhound-"_s + QString::number(::getpid()) + u"-0.part"_s;
    QVERIFY(writeFileBytes(run.folder() + running, "x"));
    run.host.state.udtDownload = { { run.server.url(u"/big.jpg"_s), u"big.jpg"_s } };
    QVERIFY(Download_ByInet(run.host, run.folder()));
    QCOMPARE(readFileBytes(run.folder() + u"big.jpg"_s), image);
    QCOMPARE(folderEntries(run.folder()), (QStringList { running, u"big.jpg"_s }));
}

// Started by killedWhileWritingLeavesNoPartialImage: downloads one image into a folder, in a
// process of its own that the test kills on the way.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (const QByteArray job = qgetenv(childJob); !job.isEmpty()) {
        const QList<QByteArray> parts = job.split('\n');
        FakeHost host;
        MessageAnswerer answerer;
        host.state.udtDownload = { { QString::fromUtf8(parts.value(0)), u"big.jpg"_s } };
        return Download_ByInet(host, QString::fromUtf8(parts.value(1))) ? 0 : 1;
    }
    tst_DownloadEngine test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_downloadengine.moc"
