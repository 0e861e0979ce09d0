// Micro-benchmark: filling and updating the main window's list boxes for 100,000 entries,
// offscreen: the file names and lstDownload (Get_FileList), the window's share of each entry of the
// download loop, and the real download loop over files that are all present already. Asserts
// nothing.
//
// Usage: bench_lists [SCRATCH_FOLDER [ENTRIES]]
#include "main_window/frmmain.h"

#include "platform/messagebox.h"
#include "platform/programfolder.h"
#include "resources/messages.h"
#include "run/runstate.h"
#include "store/downloadengine.h"
#include "store/localpaths.h"
#include "web/connectioncache.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int defaultEntryCount = 100000;
// A phase that takes longer than this is stopped and reported as far as it got.
constexpr qint64 phaseLimitMs = 30000;

double elapsedMs(const QElapsedTimer& timer) { return timer.nsecsElapsed() / 1e6; }

void clearResultLists(QWidget& window)
{
    for (const char* name : { "lstDownloadDone", "lstDownloadAlready", "lstDownloadDenied" }) {
        if (auto* list = window.findChild<QListWidget*>(QLatin1String(name)))
            list->clear();
    }
}

int rowCount(QWidget& window, const char* name)
{
    auto* list = window.findChild<QListWidget*>(QLatin1String(name));
    return list ? list->count() : -1;
}

// One byte in every file, so that the loop files each entry as already present.
bool makePresentFiles(const QString& folder, const QList<DownloadItem>& items)
{
    for (const DownloadItem& item : items) {
        const QByteArray path = QFile::encodeName(folder + item.FileName);
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ::write(fd, "x", 1) != 1) {
            std::fprintf(stderr, "bench_lists: cannot write %s\n", path.constData());
            if (fd >= 0)
                ::close(fd);
            return false;
        }
        ::close(fd);
    }
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    initialiseCurlOnce();
    QTemporaryDir ownScratch;
    const QString scratch = argc > 1 ? QString::fromLocal8Bit(argv[1]) : ownScratch.path();
    const int entryCount = argc > 2 ? std::max(1, std::atoi(argv[2])) : defaultEntryCount;
    setProgramFolder(scratch);
    QStringList boxes;
    installMessageBoxPresenter([&](const MessageBoxRequest& request) {
        boxes.append(request.title + QLatin1Char(':') + request.text);
        return request.defaultButton;
    });

    frmMain window;
    window.show();
    QCoreApplication::processEvents();
    RunHost& host = window;
    RunState& state = host.runState();

    state.udtDownload.clear();
    for (int i = 0; i < entryCount; ++i) {
        state.udtDownload.append(
            DownloadItem { QStringLiteral("http://127.0.0.1:9/gallery/sec%1/photo_%2.jpg")
                               .arg(i % 10)
                               .arg(i, 6, 10, QLatin1Char('0')),
                QString() });
    }
    host.Set_Controls(false);

    QElapsedTimer timer;
    timer.start();
    const bool named = Get_FileList(host);
    QCoreApplication::processEvents();
    const double fillMs = elapsedMs(timer);

    std::printf("%d entries, window shown offscreen:\n", entryCount);
    std::printf("  Get_FileList (names and lstDownload)             %8.1f ms  (%d rows)\n", fillMs,
        rowCount(window, "lstDownload"));
    std::fflush(stdout);

    // The loop lets the event loop run at every entry; so does this, or posted events pile up.
    timer.restart();
    int reached = 0;
    for (int i = 0; i < entryCount && timer.elapsed() < phaseLimitMs; ++i, ++reached) {
        host.yield();
        const QString& name = state.udtDownload.at(i).FileName;
        host.setSkipEnabled(true);
        host.setCaption(QString::number(i + 1) + QLatin1Char('/') + QString::number(entryCount)
            + Msg::captionSuffix);
        host.setFileCounter(
            QString::number(i) + QLatin1Char('/') + QString::number(entryCount) + Msg::filesSuffix);
        host.selectDownloadRow(i);
        host.Show_Info(name + Msg::downloading);
        host.appendResultRow(ResultList::Done, name);
        host.Show_Info(name + Msg::downloaded);
        host.selectLastResultRow(ResultList::Done);
    }
    // A run ends with the controls idle, which shows every row filed.
    host.Set_Controls(true);
    QCoreApplication::processEvents();
    const double windowMs = elapsedMs(timer);
    std::printf("  the window's share of every entry of the loop    %8.1f ms  (%d rows done%s)\n",
        windowMs, rowCount(window, "lstDownloadDone"),
        reached < entryCount ? ", stopped at the time limit" : "");
    std::fflush(stdout);

    clearResultLists(window);
    const QString folder = QDir(scratch).filePath(QStringLiteral("present")) + QLatin1Char('/');
    QDir().mkpath(folder);
    if (!named || !makePresentFiles(folder, state.udtDownload))
        return 1;
    state.blnCancel = state.blnSkip = false;
    host.Set_Controls(false);
    // Past the time limit the loop is stopped the way Cancel stops it.
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] { state.blnCancel = true; });
    watchdog.start(phaseLimitMs);
    timer.restart();
    const bool finished = Download_ByInet(host, folder);
    const double loopMs = elapsedMs(timer);
    watchdog.stop();
    const int filed = rowCount(window, "lstDownloadAlready");

    std::printf(
        "  Download_ByInet, every file already present      %8.1f ms  (%d rows already, %s)\n",
        loopMs, filed,
        finished              ? "completed"
            : state.blnCancel ? "stopped at the time limit"
                              : "did not complete");
    if (filed > 0 && filed < entryCount) {
        std::printf("  filling and updating in all (first + third line)  not reached: %d of %d "
                    "entries in %.0f ms, at least %.0f ms for all at that rate\n",
            filed, entryCount, loopMs, fillMs + loopMs * entryCount / filed);
    } else {
        std::printf(
            "  filling and updating in all (first + third line) %8.1f ms\n", fillMs + loopMs);
    }
    for (const QString& box : boxes)
        std::printf("  message box %s\n",
            qUtf8Printable(QString(box).replace(Msg::crlf, QLatin1String(" / "))));
    return 0;
}
