// A stand-in for the main window for core tests.
#include "support/fakehost.h"

#include "web/connectioncache.h"
#include "web/fetcher.h"

#include <QCoreApplication>
#include <QTimer>

FakeHost::FakeHost()
{
    initialiseCurlOnce();
    state.connections = std::make_shared<ConnectionCache>();
}

void FakeHost::yield()
{
    ++yields;
    QCoreApplication::processEvents();
    if (onYield)
        onYield(yields);
}

void FakeHost::waitForEvents()
{
    QTimer::singleShot(10, [] {});
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    ++yields;
    if (onYield)
        onYield(yields);
}

void FakeHost::showInfo(const QString& text)
{
    info = text;
    infoHistory.append(text);
}

void FakeHost::setCaption(const QString& text)
{
    caption = text;
    captionHistory.append(text);
}

void FakeHost::setFileCounter(const QString& text)
{
    fileCounter = text;
    fileCounterHistory.append(text);
}

void FakeHost::appendDownloadRows(const QStringList& fileNames)
{
    downloadRows += fileNames;
    ++downloadRowAppends;
}

QStringList& FakeHost::rows(ResultList list)
{
    return list == ResultList::Done   ? doneRows
        : list == ResultList::Already ? alreadyRows
                                      : deniedRows;
}

void FakeHost::appendResultRow(ResultList list, const QString& fileName)
{
    rows(list).append(fileName);
}

void FakeHost::selectLastResultRow(ResultList list)
{
    qsizetype& selected = list == ResultList::Done ? selectedDone
        : list == ResultList::Already              ? selectedAlready
                                                   : selectedDenied;
    selected = rows(list).size() - 1;
}

void FakeHost::pressCancel()
{
    closeFetchHandles(state);
    state.blnCancel = true;
    showInfo(QStringLiteral("処理を中断しました"));
    setCaption(QStringLiteral("Pixhound"));
    setControls(true);
}

QStringList FakeHost::downloadUrls() const
{
    QStringList urls;
    for (const DownloadItem& item : state.udtDownload)
        urls.append(item.URL);
    return urls;
}
