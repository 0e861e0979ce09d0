// The store: the download loop against a scripted server on 127.0.0.1 (what is written, where each
// row is filed, how Skip, Cancel and write failures end an entry or the run, the program killed in
// the middle of an image, addresses that try to write outside the folder of the run); list files
// written and read, by hand-edited, broken or hostile files too; the page folder's name and the
// file names of the list's entries, on Linux and on Windows.
#include "platform/programfolder.h"
#include "resources/messages.h"
#include "store/downloadengine.h"
#include "store/downloadlist.h"
#include "store/localpaths.h"
#include "store/pathnames.h"
#include "support/fakehost.h"
#include "support/loopbackserver.h"
#include "support/messageanswerer.h"
#include "support/tempprogramfolder.h"
#include "support/testfiles.h"
#include "web/connectioncache.h"
#include "web/fetchesahead.h"
#include "web/transferpool.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <optional>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
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
    TempProgramFolder programFolder;
    LoopbackServer server;
    FakeHost host; // its connections close before the server stops
    MessageAnswerer answerer;
};

enum class Event {
    None,
    Skip, // while the answer given trickles in, and again in the yield after the first refusal
    Cancel, // while the answer given trickles in
    CancelUnwritable, // the same, DownloadList.txt cannot be written: its box is open a while
    Overlap, // the held answer is released once the last entry's body is whole on disk, unnamed
    Box, // a box stays open until the whole answer given has gone out, then is answered No
    DiskFull, // writes past 1 KB fail; the held answer is released once a write ahead has failed
};

// Lists are written "a|b|c"; an empty text is the empty list; a request ending in "?" may be
// made ahead or not. The run is finished exactly when the completion box is the box shown.
struct Scenario
{
    QString entries, done, already, denied, requested, box;
    Event event = Event::None;
    QMap<QString, QByteArray> existing; // in the folder before the run; "<dir>": a folder
    QMap<QString, Conversation> answers; // instead of the image
    QStringList said {}; // status texts shown on the way
};

QStringList items(const QString& list) { return list.isEmpty() ? QStringList() : list.split(u'|'); }

// How the row's file comes about: the run's list written, or the row's bytes put there as they are.
enum class Source { Written, WrittenReadOnly, WrittenFullDisk, Given };

} // namespace

Q_DECLARE_METATYPE(Scenario)

class tst_DownloadEngine : public QObject
{
    Q_OBJECT
private slots:
    void runs_data();
    void runs();
    void largeBodiesNeverStopTheRun_data();
    void largeBodiesNeverStopTheRun();
    void killedWhileWritingLeavesNoPartialImage();
    void listFiles_data();
    void listFiles();
    void listAtClosing_data();
    void listAtClosing();
    void pageFolderNames_data();
    void pageFolderNames();
    void fileListNamesEveryEntryInOneFill();
};

void tst_DownloadEngine::runs_data()
{
    QTest::addColumn<Scenario>("s");
    const auto row
        = [](const char* name, const QByteArray& entries, const QByteArray& done,
              const QByteArray& already, const QByteArray& denied, const QByteArray& requested,
              const QString& box = Msg::downloadComplete, Event event = Event::None,
              const QMap<QString, QByteArray>& existing = {},
              const QMap<QString, Conversation>& answers = {}, const QStringList& said = {}) {
              QTest::newRow(name) << Scenario { QString::fromUtf8(entries), QString::fromUtf8(done),
                  QString::fromUtf8(already), QString::fromUtf8(denied),
                  QString::fromUtf8(requested), box, event, existing, answers, said };
          };
    const QByteArray megabyte = jpegBytes(1 << 20, 4);
    const Conversation trickle { { LoopbackServer::head(200, "Content-Length: 1048576") },
        { megabyte.first(64), 2, 16384 } };
    const auto endless = [&](const QByteArray& length) {
        return Conversation { { LoopbackServer::head(200, "Content-Length: " + length) },
            { megabyte, 0, -1 } };
    };
    // Each failure the status line can name is named.
    const QByteArray dead = "http://127.0.0.1:" + QByteArray::number(LoopbackServer().port()) + "/";
    const QString local = u"127.0.0.1"_s;
    row("answers that are no JPEG are refused",
        "/404.jpg|/empty.jpg|/ff.jpg|/d8ff.jpg|/gone.jpg|/ok.jpg", "ok.jpg", "",
        "404.jpg|empty.jpg|ff.jpg|d8ff.jpg|gone.jpg",
        "/404.jpg|/empty.jpg|/ff.jpg|/d8ff.jpg|/gone.jpg|/ok.jpg", Msg::downloadComplete,
        Event::None, {},
        { { u"/404.jpg"_s, LoopbackServer::reply("404", 404) },
            { u"/empty.jpg"_s, LoopbackServer::reply({}) },
            { u"/ff.jpg"_s, LoopbackServer::reply("\xFF") },
            { u"/d8ff.jpg"_s, LoopbackServer::reply("\xD8\xFF") },
            { u"/gone.jpg"_s, LoopbackServer::reply({}, 302, "Location: " + dead) } },
        { Msg::imageFailed(u"404.jpg"_s, Msg::httpError(local, 404)),
            Msg::imageFailed(u"gone.jpg"_s, Msg::connectionRefused(local)) });
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
    // The fetches ahead, held by the server, end at Cancel; their refill must start nothing.
    QMap<QString, Conversation> heldAhead { { u"/a.jpg"_s, trickle } };
    QByteArray heldList = "/a.jpg", maybeAsked = "/a.jpg";
    for (char name = 'b'; name <= 't'; ++name) {
        const QString path = u"/"_s + QLatin1Char(name) + u".jpg"_s;
        heldAhead.insert(path, LoopbackServer::reply(imageAt(path), 200, {}, true));
        heldList += "|" + path.toLatin1();
        maybeAsked += "|" + path.toLatin1() + "?";
    }
    row("Cancel with a list that cannot be written starts nothing while its box is open", heldList,
        "", "", "", maybeAsked, u"76:パスが見つかりません。"_s, Event::CancelUnwritable, {},
        heldAhead);
    row("the next entries are fetched ahead, yet filed in list order", "/a.jpg|/b.jpg",
        "a.jpg|b.jpg", "", "", "/a.jpg|/b.jpg", Msg::downloadComplete, Event::Overlap, {},
        { { u"/a.jpg"_s, LoopbackServer::reply(imageAt(u"/a.jpg"_s), 200, {}, true) } });
    // Sixteen fetches ahead end while the first entry waits: the seventeenth starts at once. The
    // bodies that have ended wait on disk without holding their files open (the limit is 64).
    QByteArray many = "/a.jpg";
    for (int n = 1; n < 200; ++n)
        many += "|/" + QByteArray::number(n).rightJustified(3, '0') + ".jpg";
    row("fetches ahead that have ended leave their places and files to the entries after them",
        many, QByteArray(many).replace("/", ""), "", "", many, Msg::downloadComplete,
        Event::Overlap, {},
        { { u"/a.jpg"_s, LoopbackServer::reply(imageAt(u"/a.jpg"_s), 200, {}, true) } });
    row("an image that claims 300 MB is refused unread", "/x.jpg|/ok.jpg", "ok.jpg", "", "x.jpg",
        "/x.jpg|/ok.jpg", Msg::downloadComplete, Event::None, {},
        { { u"/x.jpg"_s, endless("314572800") } });
    // A write failure stops the run; nothing partly written is left, under any name.
    const char* three = "/first.jpg|/second.jpg|/third.jpg";
    row("a disk that fills up part-way through an image streamed ahead", three, "first.jpg", "", "",
        "/first.jpg|/second.jpg|/third.jpg?", u"61:ディスクの空き容量が不足しています。"_s,
        Event::DiskFull, {},
        { { u"/first.jpg"_s, LoopbackServer::reply(imageAt(u"/first.jpg"_s), 200, {}, true) },
            { u"/second.jpg"_s, LoopbackServer::reply(jpegBytes(4096)) } });
    row("names that look like a climb are written inside the folder",
        "/1.jpg>..jpg|/2.jpg>%2e%2e%2fv.jpg|/3.jpg>..%2F..%2Fv.jpg|/4.jpg>..\\..\\v.jpg|/"
        "5.jpg>a\\..\\..\\v.jpg",
        "..jpg|%2e%2e%2fv.jpg|..%2F..%2Fv.jpg|..\\..\\v.jpg|a\\..\\..\\v.jpg", "", "",
        "/1.jpg|/2.jpg|/3.jpg|/4.jpg|/5.jpg");
    row("a folder under the image's name is refused unfetched", three, "first.jpg|third.jpg", "",
        "second.jpg", "/first.jpg|/third.jpg", Msg::downloadComplete, Event::None,
        { { u"second.jpg"_s, "<dir>" } }, {}, { u"second.jpg"_s + Msg::nameIsFolder });
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
    // The bodies streaming into the folder, each under a temporary name.
    const auto temporaries = [&] {
        QList<QByteArray> bodies;
        for (const QString& name : folderEntries(run.folder()))
            if (name.startsWith(u".pixhound-"_s))
                bodies.append(readFileBytes(run.folder() + name));
        return bodies;
    };
    const auto slowUnderWay = [&] {
        return host.selectedDownloadRow == items(s.entries).indexOf(slow)
            && run.server.requestCount(slow) == 1 && !temporaries().isEmpty();
    };
    const QString last = items(s.entries).value(items(s.entries).size() - 1);
    const auto lastAheadOnDisk = [&] {
        return temporaries().contains(imageAt(last)) && !QFile::exists(run.folder() + last.mid(1));
    };
    const auto writeAheadFailed
        = [&] { return temporaries().contains(jpegBytes(4096).first(1024)); };
    QStringList doneAtBox {};
    int presses = 0;
    qint64 startsAtCancel = -1;
    TransferPool& pool = host.state.connections->pool();
    QElapsedTimer clock;
    clock.start();
    host.onYield = [&](int) {
        if ((s.event == Event::Cancel || s.event == Event::CancelUnwritable) && presses == 0
            && slowUnderWay()) {
            ++presses;
            startsAtCancel = pool.startedRequests();
            if (s.event == Event::CancelUnwritable)
                setProgramFolder(run.dir.path() + u"/missing/"_s);
            host.pressCancel();
        } else if (s.event == Event::Skip
            && ((presses == 0 && slowUnderWay()) || (presses == 1 && host.rows[2].size() == 1))) {
            ++presses;
            host.state.blnSkip = true;
        } else if ((s.event == Event::Overlap || s.event == Event::DiskFull) && presses == 0) {
            // Entries wait for their turn while later bodies are already on disk; a write ahead
            // that failed shows nothing before its turn.
            const bool ready = s.event == Event::Overlap ? lastAheadOnDisk()
                                                         : writeAheadFailed()
                    && run.answerer.boxes.isEmpty() && host.rows[int(ResultList::Done)].isEmpty();
            if (ready || clock.elapsed() > 10000) {
                presses = ready ? 1 : -1;
                run.server.release();
            }
        } else if (s.event == Event::Box && run.answerer.boxes.isEmpty()
            && run.server.requestCount(slow) == 1) {
            showMessageBox({ Msg::cancelQuestion, MessageIcon::Question, MessageButtons::YesNo,
                MessageAnswer::No, Msg::titleCancelConfirm });
        }
    };
    // A transfer moves on while the box is open: the server sends all of a big image only if the
    // program reads on.
    // ... and its byte count goes on moving on the status line.
    qint64 countsWhileBoxOpen = 0;
    run.answerer.onBox = [&](const MessageBoxRequest& box) {
        const qint64 before = host.infoUpdates;
        if (s.event == Event::Box && box.title == Msg::titleCancelConfirm) {
            QTRY_VERIFY_WITH_TIMEOUT(
                run.server.bytesSent() > (24 << 20) && host.infoUpdates > before, 30000);
            countsWhileBoxOpen = host.infoUpdates - before;
        }
        if (s.event == Event::CancelUnwritable) // the fetches closed by Cancel end in here
            QTest::qWait(50);
        doneAtBox = host.rows[int(ResultList::Done)];
    };
    bool finished = false;
    {
        std::optional<FileSizeLimit> limit;
        if (s.event == Event::DiskFull)
            limit.emplace(1024);
        const OpenFileLimit openFiles(64);
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
    const bool cancelled = s.event == Event::Cancel || s.event == Event::CancelUnwritable;
    if (cancelled) // nothing more is asked for after Cancel
        QCOMPARE(pool.startedRequests(), startsAtCancel);
    QVERIFY(run.server.requests().size() <= pool.startedRequests());
    if (s.event == Event::Skip || cancelled) // given up at once, not run to its end
        QTRY_VERIFY(run.server.clientLeft());
    if (s.event == Event::Overlap || s.event == Event::DiskFull)
        QCOMPARE(presses, 1);
    if (s.event == Event::DiskFull) // told at the failed entry's turn, after the one before it
        QCOMPARE(doneAtBox, items(s.done));
    if (s.event == Event::Box)
        QVERIFY(countsWhileBoxOpen > 0);
    QCOMPARE(run.answerer.boxes.size(), (s.box.isEmpty() ? 0 : 1) + (s.event == Event::Box));
    if (finished) // the counts follow the first line
        QCOMPARE(run.answerer.last().text,
            s.box + Msg::crlf
                + Msg::downloadCounts(items(s.done).size(), items(s.already).size(),
                    items(s.denied).size(), items(s.entries).size()));
    else if (!s.box.isEmpty()) // a failed list write names its file after the error
        QVERIFY2(run.answerer.last().text.startsWith(s.box), qPrintable(run.answerer.last().text));
    for (const QString& text : s.said)
        QVERIFY2(host.infoShown.contains(text), qPrintable(text));
    if (!s.entries.isEmpty())
        QVERIFY(host.isIdle());
    if (cancelled)
        QCOMPARE(host.info, Msg::interrupted);
}

void tst_DownloadEngine::largeBodiesNeverStopTheRun_data()
{
    QTest::addColumn<QList<int>>("sizes");
    QTest::addColumn<bool>("jpeg");
    const QList<int> fourMegabytes(60, 4'000'000);
    QList<int> mixed; // every size from 1.5 to 8 MB, out of order
    for (int i = 0; i < 60; ++i)
        mixed.append(1'500'000 + (i * 7 % 60) * 110'000);
    QTest::newRow("60 images of 4 MB") << fourMegabytes << true;
    QTest::newRow("60 images of 6 MB") << QList<int>(60, 6'000'000) << true;
    QTest::newRow("60 images of 1.5 to 8 MB in mixed order") << mixed << true;
    QTest::newRow("60 bodies of 4 MB that are no JPEG") << fourMegabytes << false;
}

// Bodies fetched ahead that fill the budget must never keep the entry whose turn it is from its
// connection: the run ends, every image whole, none asked for more than once at a time.
void tst_DownloadEngine::largeBodiesNeverStopTheRun()
{
    QFETCH(QList<int>, sizes);
    QFETCH(bool, jpeg);
    Run run;
    // Small enough for the bodies ahead to fill it many times over.
    const qint64 fileLimit = AheadShare::budget;
    runAheadShare(run.host.state)->setFileLimit(fileLimit);
    QStringList names;
    QList<QByteArray> bodies;
    for (int i = 0; i < sizes.size(); ++i) {
        names.append(u"j%1.jpg"_s.arg(i, 2, 10, QChar(u'0')));
        bodies.append(
            jpeg ? jpegBytes(sizes.at(i), i) : QByteArray("<html>").leftJustified(sizes.at(i)));
        run.server.serve(u'/' + names.last(), bodies.last());
        run.host.state.udtDownload.append({ run.server.url(u'/' + names.last()), names.last() });
    }
    // A run that stops for good fails here instead of at the suite's time limit.
    QTimer stuck;
    stuck.setSingleShot(true);
    QObject::connect(&stuck, &QTimer::timeout, [&] { run.host.pressCancel(); });
    stuck.start(180'000);
    QVERIFY2(Download_ByInet(run.host, run.folder()), "the run stopped before its end");
    QCOMPARE(run.answerer.shown(),
        QStringList { expectBox(Msg::titleDownloadComplete, MessageIcon::Information,
            Msg::downloadComplete + Msg::crlf
                + Msg::downloadCounts(jpeg ? 60 : 0, 0, jpeg ? 0 : 60, 60)) });
    QCOMPARE(run.host.rows[int(jpeg ? ResultList::Done : ResultList::Denied)], names);
    QCOMPARE(folderEntries(run.folder()), jpeg ? names : QStringList());
    for (int i = 0; jpeg && i < names.size(); ++i)
        QVERIFY2(
            readFileBytes(run.folder() + names.at(i)) == bodies.at(i), qPrintable(names.at(i)));
    QCOMPARE(run.server.requests().size(), run.host.state.connections->pool().startedRequests());
    const qint64 peak = runAheadShare(run.host.state)->peakFileBytes();
    QVERIFY2(peak > 0 && peak <= fileLimit, qPrintable(QString::number(peak)));
    for (const QString& name : names)
        QVERIFY2(
            run.server.requestCount(u'/' + name) >= 1 && run.server.requestCount(u'/' + name) <= 2,
            qPrintable(name));
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

void tst_DownloadEngine::listFiles_data()
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
    QTest::newRow("japanese in code page 932, backslash and tilde as ASCII, € percent-encoded")
        << Source::Written << QStringList { u"http://s/写真\\~€.jpg"_s, u"http://s/c.jpg"_s }
        << QByteArray("http://s/\x8e\xca\x90\x5e\\~%E2%82%AC.jpg\r\nhttp://s/c.jpg\r\n")
        << QString();
    QTest::newRow("an emoji percent-encoded whole, and the wave dash beside kana")
        << Source::Written << QStringList { u"http://s/\U0001F600\u301C\u3042.jpg"_s }
        << QByteArray("http://s/%F0%9F%98%80%E3%80%9C\x82\xa0.jpg\r\n") << QString();
    fail("a read-only file is left as it is", {}, Msg::titleError,
        u"<path>"_s + Msg::cannotBeWritten + Msg::crlf + Msg::checkNotBeingEdited,
        Source::WrittenReadOnly);
    fail("a disk that fills up", {}, Msg::titleError,
        u"61:ディスクの空き容量が不足しています。\r\n<path>"_s, Source::WrittenFullDisk);
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
    read("utf-8 without a mark where it is valid", "http://s/\xE7\x94\xBB.jpg",
        { u"http://s/画.jpg"_s });
    refuse("line numbers count blank lines and every line-end form",
        "http://s/1.jpg\n\rhttp://s/2.jpg\r\n\n  s/5.jpg ", Msg::listInvalidUrl, 5, u"s/5.jpg"_s);
    refuse("a NUL byte makes the address invalid", QByteArray("http://s/1\0.jpg", 15),
        Msg::listInvalidUrl, 1, u"http://s/1\0.jpg"_s);
    // A byte that is no character becomes the substitute, a control character no address holds;
    // it never swallows its neighbours.
    refuse("bytes that are no Shift_JIS make the address invalid",
        "http://s/1.jpg\r\nhttp://s/a\xFFz\x81 .jpg", Msg::listInvalidUrl, 2,
        u"http://s/a\x1Az\x1A .jpg"_s);
    refuse("a million good addresses and one bad one leave nothing in the run",
        QByteArray("http://s/1.jpg\r\n").repeated(1000000) + "http://s/x.png", Msg::listNotJpeg,
        1000001);
    fail("a missing file", "<missing>", Msg::titleFileError, Msg::fileNotFound);
    fail("a folder is no list", "<folder>", Msg::titleReadImgListError, u"75:パス名が無効です。"_s);
    fail("a file larger than any list is refused unread", "<300 MB>", Msg::titleReadImgListError,
        u"7:メモリが不足しています。"_s);
}

void tst_DownloadEngine::listFiles()
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
        // What was written reads back, the characters the code page lacks as their escapes.
        urls.replaceInStrings(u"€"_s, u"%E2%82%AC"_s)
            .replaceInStrings(u"\U0001F600\u301C"_s, u"%F0%9F%98%80%E3%80%9C"_s);
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

// What closing the window does to the list file the run wrote: the file is the user's once they
// have changed it, and a file that holds the list already is not written again (it keeps its
// inode, as no rewrite through a temporary file does).
enum class AfterWrite { Nothing, Edited, Removed, ListGrew };

void tst_DownloadEngine::listAtClosing_data()
{
    QTest::addColumn<AfterWrite>("after");
    QTest::addColumn<QByteArray>("expected"); // the file once the window has closed
    QTest::addColumn<bool>("sameFile");
    const QByteArray a("http://s/a.jpg\r\n");
    QTest::newRow("a file that holds the list stays as it is") << AfterWrite::Nothing << a << true;
    QTest::newRow("a list the user edited stays as edited")
        << AfterWrite::Edited << QByteArray("http://s/b.jpg\r\n") << true;
    QTest::newRow("a list file that is gone is written again") << AfterWrite::Removed << a << false;
    QTest::newRow("a list that grew since is written")
        << AfterWrite::ListGrew << a + "http://s/c.jpg\r\n"
        << false;
}

void tst_DownloadEngine::listAtClosing()
{
    QFETCH(AfterWrite, after);
    QFETCH(QByteArray, expected);
    QFETCH(bool, sameFile);
    TempProgramFolder folder;
    MessageAnswerer answerer;
    FakeHost host;
    const QString path = folder.file(Msg::listFileName);
    host.state.udtDownload = { { u"http://s/a.jpg"_s, u"a.jpg"_s } };
    QVERIFY(Write_DownloadList(host));
    if (after == AfterWrite::Edited)
        QVERIFY(writeFileBytes(path, "http://s/b.jpg\r\n"));
    if (after == AfterWrite::Removed)
        QVERIFY(QFile::remove(path));
    if (after == AfterWrite::ListGrew)
        host.state.udtDownload.append({ u"http://s/c.jpg"_s, u"c.jpg"_s });
    const auto inodeOf = [&] {
        struct stat status
        {
        };
        return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_ino : 0;
    };
    const auto before = inodeOf();

    QCOMPARE(writeListAtClose(host), after != AfterWrite::Edited);
    QCOMPARE(readFileBytes(path), expected);
    QCOMPARE(inodeOf() == before, sameFile);
    QCOMPARE(folderEntries(folder.path()), QStringList { Msg::listFileName });
    QVERIFY(answerer.boxes.isEmpty());
}

void tst_DownloadEngine::pageFolderNames_data()
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
    // A later run on the same address must find the same folder.
    row("a name too long for the disk keeps its start and a hash of the whole",
        u"http://server/"_s + QString(300, u'a'),
        u"server_"_s + QString(239, u'a') + u"~56134a04"_s);
}

void tst_DownloadEngine::pageFolderNames()
{
    QFETCH(QString, address);
    QFETCH(QString, name);
    QCOMPARE(pageFolderPath(u"/data/"_s, address, PathConventions::forLinux()),
        u"/data/"_s + name + u'/');
    QCOMPARE(pageFolderPath(u"C:\\D\\"_s, address, PathConventions::forWindows()),
        u"C:\\D\\"_s + name + u'\\');
}

void tst_DownloadEngine::fileListNamesEveryEntryInOneFill()
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
    // A long page folder of three-byte characters fits in 255 bytes on Linux, 255 units on Windows.
    const QString longPage = u"http://s/"_s + QString(200, u'長');
    const QString onLinuxName = pageFolderPath({}, longPage, onLinux).chopped(1);
    QCOMPARE(fileNameRefusal(onLinuxName, onLinux), None);
    QCOMPARE(QFile::encodeName(onLinuxName).size(), 2 + 81 * 3 + 9);
    QCOMPARE(pageFolderPath({}, longPage, onWindows), u"s_"_s + QString(200, u'長') + u'\\');
    QCOMPARE(fileNameRefusal(u"a\\b:c.jpg"_s, onLinux), None);
    QCOMPARE(fileNameRefusal(u"a\\b:c.jpg"_s, onWindows), Unsafe);
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
