// The one stand-in for the main window outside the window layer.
#include "support/fakehost.h"

#include "web/connectioncache.h"
#include "web/fetcher.h"

#include "run/cancelrun.h"

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
        onYield(int(yields));
}

void FakeHost::Show_Info(const QString& text)
{
    info = text;
    ++infoUpdates;
    infoShown.insert(text);
}

void FakeHost::waitForEvents()
{
    QTimer::singleShot(10, [] {});
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    yield();
}

void FakeHost::appendDownloadRows(const QStringList& fileNames)
{
    downloadRows += fileNames;
    ++downloadRowAppends;
}

void FakeHost::appendResultRow(ResultList list, const QString& fileName)
{
    rows[int(list)].append(fileName);
}

void FakeHost::pressCancel() { Cancel_Run(*this); }

QStringList FakeHost::downloadUrls() const
{
    QStringList urls;
    for (const DownloadItem& item : state.udtDownload)
        urls.append(item.URL);
    return urls;
}
